// The backup of both database files before the setup changes them.
#pragma once

#include <string>

#include "setup/file_ops.h"
#include "setup/registry_store.h"
#include "timezone/clock.h"

namespace qv::setup {

// The local date and time of `clock` as "yyyymmdd-hhmmss", in the process's
// time zone (TZ, else /etc/localtime).
std::string BackupStamp(const timezone::Clock& clock);

// Copies <StorageDir>/db/qv_main.mdb and qv_security.mdb into the new
// directory <StorageDir>/db/BACK<stamp>, the storage directory read from the
// registry (read again before each copy), each with the rollback journal
// beside it (<name>-journal) when there is one, so that a copy taken after a
// crash opens as the last committed state. Every part is tried whatever
// happened before, and a part that fails is skipped without a word: a
// missing product key makes the paths begin "1: No Key" and nothing is
// copied.
void BackUpDatabases(RegistryStore& registry, FileOps& files, const timezone::Clock& clock);

}  // namespace qv::setup

// The backup of both database files before the setup changes them.
#pragma once

#include <string>

#include "db/database.h"
#include "setup/file_ops.h"
#include "setup/registry_store.h"
#include "timezone/clock.h"

namespace qv::setup {

// The local date and time of `clock` as "yyyymmdd-hhmmss", in the process's
// time zone (TZ, else /etc/localtime).
std::string BackupStamp(const timezone::Clock& clock);

// Backs up both databases into the new directory <StorageDir>/db/BACK<stamp>,
// the storage directory read from the registry (read again before each
// part). A database in a file is copied from <StorageDir>/db/qv_main.mdb or
// qv_security.mdb, with the rollback journal beside it (<name>-journal) when
// there is one, so that a copy taken after a crash opens as the last
// committed state. A database on a server has no file to copy: its data
// source's dump goes into qv_main.dump or qv_security.dump instead. Every
// part is tried whatever happened before, and a part that fails is skipped
// without a box: a missing product key makes the paths begin "1: No Key"
// and nothing is copied; a dump that cannot be made is said on standard
// error.
void BackUpDatabases(RegistryStore& registry, FileOps& files, db::Connector& connector,
                     const timezone::Clock& clock);

}  // namespace qv::setup

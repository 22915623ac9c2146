// The backup of both databases before the setup changes them.
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
// part), as qv_main and qv_security (Connector::BackUp adds the extension:
// a database in a file is copied from <StorageDir>/db/qv_main.mdb or
// qv_security.mdb, one on a server is dumped). Every part is tried whatever
// happened before, and a part that fails is skipped without a box and said
// on the connector's diagnostics: a missing product key makes the paths
// begin "1: No Key" and nothing is copied.
void BackUpDatabases(RegistryStore& registry, FileOps& files, db::Connector& connector,
                     const timezone::Clock& clock);

}  // namespace qv::setup

// The database interface on an SQLite database file. Only the engine
// (sqlite_engine.cc) calls this; everything else sees db::Connection.
#pragma once

#include "db/sqlite/engine_only.h"

#include <memory>
#include <string>

#include "db/database.h"

namespace qv::db::sqlite {

// Opens the existing database file `path` (never creates one). Statements
// wait up to `busyTimeoutMs` for a lock that another process holds, then
// fail with "database is locked". Raises DbError naming the file when the
// open fails.
std::unique_ptr<Connection> OpenConnection(const std::string& path, int busyTimeoutMs);

}  // namespace qv::db::sqlite

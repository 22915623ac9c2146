// The one place where engine failures become DbError: the number is SQLite's
// primary result code, the description its message, with context (a file
// name, a table) appended where that helps the reader of a message box.
#pragma once

#include "db/sqlite/engine_only.h"

#include <cstdint>
#include <string>

#include "db/db_error.h"

struct sqlite3;

namespace qv::db::sqlite {

// Builds the error for result code `rc` of the last call on `db` (which may
// be null when the open itself failed). `context` is appended as
// "<message>: <context>" when not empty.
DbError EngineError(sqlite3* db, int rc, const std::string& context = "");

// A failure that the backend detects itself, numbered like a generic engine
// error (SQLITE_ERROR).
DbError BackendError(const std::string& description);

// Raises EngineError unless `rc` is SQLITE_OK.
void Check(sqlite3* db, int rc, const std::string& context = "");

}  // namespace qv::db::sqlite

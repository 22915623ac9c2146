// Database files made whole: a new one from a script (db/create_databases.h)
// and a copy of one through SQLite, for a backup.
#pragma once

#include "db/sqlite/engine_only.h"

#include <string>

namespace qv::db::sqlite {

// Creates the database file `path` and runs `script` (engine-native SQL,
// several statements) in it, in one transaction. Raises DbError when the file
// already exists or the script fails; nothing is left behind on failure.
void CreateDatabaseFile(const std::string& path, const std::string& script);

// Copies the database file `from` into the new file `to` through SQLite's
// online backup, from one read snapshot: what a write-ahead log beside
// `from` holds is in the copy, which is whole on its own. The copy keeps
// `from`'s mode and journal mode and is written as WriteNewFile writes;
// `from` is only read. Returns an empty string when the copy is in place,
// else why not.
std::string CopyDatabaseFile(const std::string& from, const std::string& to);

}  // namespace qv::db::sqlite

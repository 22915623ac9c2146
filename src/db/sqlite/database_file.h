// Database files made whole: a new one from a script (db/create_databases.h)
// and a copy of one through SQLite, for a backup.
#pragma once

#include "db/sqlite/engine_only.h"

#include <string>
#include <vector>

#include "base/diagnostics.h"

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

// Checks the backup copy `copy` without writing it: a whole database file
// (its size the size its header gives) that passes SQLite's integrity check,
// opened read-only as immutable. A copy with "<copy>-journal" beside it is
// checked as it opens, the journal rolled back, on a scratch copy. Raises
// DbError saying what is wrong.
void VerifyDatabaseCopy(const std::string& copy);

// The processes other than this one that have `file` or its -journal, -wal
// or -shm open, one line each. A process whose open files this one may not
// look at is said on `diagnostics`, once.
std::vector<std::string> ProcessesUsing(const std::string& file, const Diagnostics& diagnostics);

// Replaces the database file `file` with the verified backup copy `copy`:
// `file` is opened once through SQLite first (a hot journal rolled back, a
// log checkpointed), so that nothing left of the old file can ever be
// applied to the new one; the copy (its journal rolled back when it has one)
// is written whole as "<file>.restore" with the owner and mode of `file`,
// flushed, renamed over `file`, and the folder flushed. Killed midway,
// `file` is the old database or the restored one. Raises DbError.
void RestoreDatabaseFile(const std::string& copy, const std::string& file);

}  // namespace qv::db::sqlite

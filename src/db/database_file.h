// Creating a database file: the one place where a database comes into being,
// by the installation-layout command or as a backup copy; an open never
// creates one.
#pragma once

#include <string>

namespace qv::db {

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

}  // namespace qv::db

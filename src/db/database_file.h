// Creating a database file: the one place where a database comes into being.
// Only the installation-layout command uses it; an open never creates one.
#pragma once

#include <string>

namespace qv::db {

// Creates the database file `path` and runs `script` (engine-native SQL,
// several statements) in it, in one transaction. Raises DbError when the file
// already exists or the script fails; nothing is left behind on failure.
void CreateDatabaseFile(const std::string& path, const std::string& script);

}  // namespace qv::db

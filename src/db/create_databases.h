// Creating databases: the one place where a database comes into being, for
// the installation-layout command and the tests; an open never creates one.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace qv::db {

// Creates the database file `path` and runs `script` (the embedded engine's
// SQL, several statements) in it, in one transaction. Raises DbError when
// the file already exists or the script fails; nothing is left behind on
// failure.
void CreateDatabaseFile(const std::string& path, const std::string& script);

// Where a server is and who logs in to create or drop databases. An empty
// field falls back to libpq's own defaults (PGHOST, PGPORT, PGUSER,
// PGPASSWORD, ~/.pgpass, PGSSLMODE, the local socket).
struct ServerLogin {
  std::string host;  // host name, address or socket folder
  std::string port;
  std::string user;
  std::string password;
  std::string sslmode;
};

// Creates each named database (ENCODING 'UTF8', TEMPLATE template0) and runs
// its script (server SQL, several statements) in it, in one transaction.
// Refuses, creating nothing, when any of the names exists already; on any
// failure drops what it created. Returns the login as the connection used
// it: host, port and user filled in from libpq's defaults where they were
// empty. Raises DbError with the server's message, or naming the package to
// install when the server engine is not installed.
ServerLogin CreateServerDatabases(
    const ServerLogin& server,
    const std::vector<std::pair<std::string, std::string>>& namesAndScripts);

// Drops the named databases where they exist, closing other sessions on
// them. Raises DbError when the server cannot be reached or refuses.
void DropServerDatabases(const ServerLogin& server, const std::vector<std::string>& names);

}  // namespace qv::db

// Creating databases on a PostgreSQL server: the one place where a server
// database comes into being. Only the installation-layout command (and the
// tests, through it) uses it; an open never creates a database.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace qv::db {

// Where a server is and who logs in. An empty field falls back to libpq's
// own defaults (PGHOST, PGPORT, PGUSER, PGPASSWORD, ~/.pgpass, PGSSLMODE, the
// local socket).
struct ServerAddress {
  std::string host;  // host name, address or socket folder
  std::string port;
  std::string user;
  std::string password;
  std::string sslmode;
};

// Creates each named database (ENCODING 'UTF8', TEMPLATE template0) and runs
// its script (server SQL, several statements) in it, in one transaction.
// Refuses, creating nothing, when any of the names exists already; on any
// failure drops what it created. Returns the address as the connection
// used it: host, port and user filled in from libpq's defaults where they
// were empty. Raises DbError with the server's message.
ServerAddress CreateServerDatabases(
    const ServerAddress& server,
    const std::vector<std::pair<std::string, std::string>>& namesAndScripts);

// Drops the named databases where they exist, closing other sessions on
// them. Raises DbError when the server cannot be reached or refuses.
void DropServerDatabases(const ServerAddress& server, const std::vector<std::string>& names);

}  // namespace qv::db

// The database interface on a PostgreSQL server, through libpq. Only the
// data-source lookup calls this; everything else sees db::Connection.
#pragma once

#include <memory>

#include "db/database.h"
#include "db/postgres/pg_session.h"

namespace qv::db::postgres {

// Connects to `address` (never creates a database). A statement waits up
// to `busyTimeoutMs` for a lock that another session holds, then fails.
// Raises DbError with the server's message when the open fails.
std::unique_ptr<Connection> OpenConnection(const ServerAddress& address, int busyTimeoutMs);

}  // namespace qv::db::postgres

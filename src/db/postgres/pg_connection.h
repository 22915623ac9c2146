// The database interface on a PostgreSQL server, through libpq. Only the
// engine (pg_engine.cc) calls this; everything else sees db::Connection.
#pragma once

#include "db/postgres/engine_only.h"

#include <memory>

#include "base/diagnostics.h"
#include "db/database.h"
#include "db/postgres/pg_session.h"

namespace qv::db::postgres {

// Connects to `address` (never creates a database). A statement waits up
// to `busyTimeoutMs` for a lock that another session holds, then fails;
// what the run must learn although nothing failed goes to `diagnostics`.
// Raises DbError with the server's message when the open fails.
std::unique_ptr<Connection> OpenConnection(const ServerAddress& address, int busyTimeoutMs,
                                           const Diagnostics& diagnostics);

}  // namespace qv::db::postgres

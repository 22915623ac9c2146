// The one place where server failures become DbError.
//
// Numbers: every failure the server reports for a statement carries
// kErrServer (the access layer's number for a failed command) and the
// description "<server message> (SQLSTATE <code>)"; a connection that cannot
// be opened carries kErrUnspecified, with the server's message. Conversions and
// the row sets' own failures keep the classic numbers of db_error.h.
#pragma once

#include "db/postgres/engine_only.h"

#include <libpq-fe.h>

#include <cstdint>
#include <string>

#include "db/db_error.h"

namespace qv::db::postgres {

inline constexpr int32_t kErrServer = -2147217900;

// The error of a failed result (`result` may be null when the connection
// itself failed; then the connection's message is used).
DbError ServerError(PGconn* conn, const PGresult* result);

// The SQLSTATE of a failed result; empty when there is none.
std::string SqlState(const PGresult* result);

// A failure that the backend detects itself, numbered like a server error.
DbError BackendError(const std::string& description);

}  // namespace qv::db::postgres

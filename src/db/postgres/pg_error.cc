#include "db/postgres/pg_error.h"

namespace qv::db::postgres {
namespace {

// libpq's messages end with a line break; a description is one line.
std::string OneLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  for (char& c : text) {
    if (c == '\n') c = ' ';
  }
  return text;
}

}  // namespace

std::string SqlState(const PGresult* result) {
  const char* state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  return state != nullptr ? state : "";
}

DbError ServerError(PGconn* conn, const PGresult* result) {
  const char* primary =
      result != nullptr ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  std::string message = OneLine(primary != nullptr ? primary : PQerrorMessage(conn));
  if (message.empty()) message = "the server connection failed";
  std::string state = SqlState(result);
  if (!state.empty()) message += " (SQLSTATE " + state + ")";
  return DbError(kErrServer, message);
}

DbError BackendError(const std::string& description) {
  return DbError(kErrServer, description);
}

}  // namespace qv::db::postgres

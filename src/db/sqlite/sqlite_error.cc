#include "db/sqlite/sqlite_error.h"

#include <sqlite3.h>

namespace qv::db::sqlite {

DbError EngineError(sqlite3* db, int rc, const std::string& context) {
  int primary = rc & 0xff;
  // The connection's message belongs to the call that failed only when its
  // code agrees; otherwise fall back to the generic text of the code.
  std::string message = (db != nullptr && (sqlite3_errcode(db) & 0xff) == primary)
                            ? sqlite3_errmsg(db)
                            : sqlite3_errstr(primary);
  if (!context.empty()) message += ": " + context;
  return DbError(primary, message);
}

DbError BackendError(const std::string& description) {
  return DbError(SQLITE_ERROR, description);
}

void Check(sqlite3* db, int rc, const std::string& context) {
  if (rc != SQLITE_OK) throw EngineError(db, rc, context);
}

}  // namespace qv::db::sqlite

#include "db/sqlite/session.h"

#include <sqlite3.h>

#include <exception>
#include <new>

#include "db/sqlite/conversion.h"
#include "db/sqlite/sqlite_error.h"
#include "db/sqlite/statement.h"

namespace qv::db::sqlite {

void Session::Closer::operator()(sqlite3* db) const {
  sqlite3_close_v2(db);
}

std::shared_ptr<Session> Session::Open(const std::string& path, int busyTimeoutMs) {
  auto session = std::make_shared<Session>(Token{});
  // A name starting with "file:" would be read as a URI where the library
  // was built to accept them everywhere.
  std::string name = path.compare(0, 5, "file:") == 0 ? "./" + path : path;
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(name.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  session->db_.reset(raw);  // the handle exists even when the open failed
  if (rc != SQLITE_OK) throw EngineError(raw, rc, path);
  sqlite3* db = session->db_.get();
  sqlite3_busy_timeout(db, busyTimeoutMs);
  Check(db,
        sqlite3_create_function_v2(db, "qv_convert", 3, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                   session.get(), &Session::Convert, nullptr, nullptr, nullptr),
        path);
  // The engine reads the file lazily; read it now so that a file that is
  // not a database, or is locked, fails the open rather than a later call.
  try {
    Statement probe(db, "SELECT count(*) FROM sqlite_schema");
    probe.Run();
  } catch (const DbError& e) {
    throw DbError(e.number(), e.description() + ": " + path);
  }
  return session;
}

Session::~Session() {
  Close();
}

sqlite3* Session::db() const {
  if (!db_) throw ObjectClosed();
  return db_.get();
}

void Session::Exec(const std::string& sql) {
  sqlite3* handle = db();
  int rc = sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) throw EngineError(handle, rc);
}

void Session::Begin() {
  db();
  if (transactionOpen_) throw BackendError("cannot start a transaction within a transaction");
  transactionOpen_ = true;
  transactionBegun_ = false;
}

void Session::BeforeWrite() {
  sqlite3* handle = db();
  if (!transactionOpen_) return;
  if (transactionBegun_) {
    if (sqlite3_get_autocommit(handle)) {
      throw BackendError("the transaction was rolled back by the engine after an earlier error");
    }
    return;
  }
  Exec("BEGIN");
  transactionBegun_ = true;
}

void Session::Commit() {
  sqlite3* handle = db();
  if (!transactionOpen_) throw BackendError("cannot commit - no transaction is active");
  if (transactionBegun_) {
    if (sqlite3_get_autocommit(handle)) {
      transactionOpen_ = transactionBegun_ = false;
      throw BackendError("cannot commit - the transaction was rolled back after an earlier error");
    }
    Exec("COMMIT");  // on failure the transaction stays open for a rollback
  }
  transactionOpen_ = transactionBegun_ = false;
}

void Session::Rollback() {
  sqlite3* handle = db();
  if (!transactionOpen_) throw BackendError("cannot rollback - no transaction is active");
  if (transactionBegun_ && !sqlite3_get_autocommit(handle)) Exec("ROLLBACK");
  transactionOpen_ = transactionBegun_ = false;
}

void Session::Close() noexcept {
  if (!db_) return;
  if (!sqlite3_get_autocommit(db_.get())) {
    sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
  }
  db_.reset();
  transactionOpen_ = transactionBegun_ = false;
}

std::optional<DbError> Session::TakeConversionError() {
  std::optional<DbError> error;
  error.swap(conversionError_);
  return error;
}

// qv_convert(value, declared type of its column, declared type of the target):
// the value as a field of the first column reads, assigned to the second.
void Session::Convert(sqlite3_context* context, int /*argc*/, sqlite3_value** argv) {
  auto* session = static_cast<Session*>(sqlite3_user_data(context));
  try {
    auto kind = [](sqlite3_value* type) {
      const unsigned char* text = sqlite3_value_text(type);
      return KindOfDeclaredType(text != nullptr ? reinterpret_cast<const char*>(text) : "");
    };
    SetResult(context,
              ConvertForColumn(ReadStored(ToValue(argv[0]), kind(argv[1])), kind(argv[2])));
  } catch (const DbError& e) {
    session->conversionError_ = e;
    sqlite3_result_error(context, e.description().c_str(), -1);
  } catch (const std::bad_alloc&) {
    sqlite3_result_error_nomem(context);
  } catch (const std::exception& e) {
    sqlite3_result_error(context, e.what(), -1);
  }
}

Savepoint::Savepoint(Session& session)
    : session_(session), name_("qv_step_" + std::to_string(++session.savepoints_)) {
  session_.BeforeWrite();
  session_.Exec("SAVEPOINT " + name_);
}

Savepoint::~Savepoint() {
  if (done_ || !session_.db_) return;
  sqlite3* db = session_.db_.get();
  sqlite3_exec(db, ("ROLLBACK TO " + name_).c_str(), nullptr, nullptr, nullptr);
  sqlite3_exec(db, ("RELEASE " + name_).c_str(), nullptr, nullptr, nullptr);
  // Outside BeginTrans the savepoint was the whole transaction.
  if (!session_.transactionBegun_ && !sqlite3_get_autocommit(db)) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

void Savepoint::Release() {
  session_.Exec("RELEASE " + name_);
  done_ = true;
}

}  // namespace qv::db::sqlite

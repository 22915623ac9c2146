#include "db/postgres/pg_session.h"

#include <cstdio>

#include "db/postgres/pg_error.h"

namespace qv::db::postgres {
namespace {

// The server's notices ("... does not exist, skipping") are no failures and
// no diagnostics of this program: libpq would print them on standard error.
void IgnoreNotice(void* /*arg*/, const char* /*message*/) {}

std::string ParamText(const Value& value) {
  if (value.kind() == Value::Kind::kReal) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.17g", value.AsReal());
    return buffer;
  }
  return value.AsText();
}

}  // namespace

std::shared_ptr<Session> Session::Open(const ServerAddress& address, int busyTimeoutMs) {
  // Every value points into `address` or a string that outlives the call.
  std::vector<const char*> keys, values;
  auto add = [&](const char* key, const char* value) {
    keys.push_back(key);
    values.push_back(value);
  };
  auto addGiven = [&](const char* key, const std::optional<std::string>& value) {
    if (value) add(key, value->c_str());
  };
  const std::string options =
      "-c DateStyle=ISO -c lock_timeout=" + std::to_string(busyTimeoutMs > 0 ? busyTimeoutMs : 1);
  addGiven("host", address.host);
  addGiven("port", address.port);
  add("dbname", address.database.c_str());
  addGiven("user", address.user);
  addGiven("password", address.password);
  addGiven("sslmode", address.sslMode);
  add("client_encoding", "UTF8");
  add("options", options.c_str());
  add("application_name", "qvsetup");
  // A server that does not answer fails the open rather than hang it.
  add("connect_timeout", "10");
  keys.push_back(nullptr);
  values.push_back(nullptr);

  auto session = std::make_shared<Session>(Token{});
  // expand_dbname = 0: a database name is never read as connection options.
  session->conn_.reset(PQconnectdbParams(keys.data(), values.data(), 0));
  PGconn* conn = session->conn_.get();
  if (conn == nullptr) throw DbError(kErrConnect, "out of memory while connecting");
  if (PQstatus(conn) != CONNECTION_OK) {
    DbError e = ServerError(conn, nullptr);
    throw DbError(kErrConnect, e.description());
  }
  PQsetNoticeProcessor(conn, IgnoreNotice, nullptr);
  const char* encoding = PQparameterStatus(conn, "server_encoding");
  std::string serverEncoding = encoding != nullptr ? encoding : "";
  if (serverEncoding != "UTF8") {
    throw DbError(kErrConnect, "the database " + address.database + " has the encoding " +
                                   serverEncoding +
                                   ", which cannot hold every text; it must be UTF8");
  }
  return session;
}

PGconn* Session::conn() const {
  if (!conn_) throw ObjectClosed();
  return conn_.get();
}

Result Session::Exec(const std::string& sql, const std::vector<Value>& params) {
  PGconn* handle = conn();
  std::vector<std::string> texts;
  std::vector<const char*> pointers;
  texts.reserve(params.size());
  for (const Value& value : params) {
    texts.push_back(value.IsNull() ? std::string() : ParamText(value));
    pointers.push_back(value.IsNull() ? nullptr : texts.back().c_str());
  }
  Result result(PQexecParams(handle, sql.c_str(), static_cast<int>(params.size()), nullptr,
                             pointers.data(), nullptr, nullptr, 0));
  ExecStatusType status =
      result.get() != nullptr ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    throw ServerError(handle, result.get());
  }
  return result;
}

void Session::Begin() {
  conn();
  if (transactionOpen_) throw BackendError("cannot start a transaction within a transaction");
  transactionOpen_ = true;
  transactionBegun_ = false;
}

void Session::BeforeWrite() {
  conn();
  if (!transactionOpen_ || transactionBegun_) return;
  Exec("BEGIN");
  transactionBegun_ = true;
}

void Session::Commit() {
  conn();
  if (!transactionOpen_) throw BackendError("cannot commit - no transaction is active");
  if (transactionBegun_) {
    // The server answers the COMMIT of an aborted transaction with a
    // rollback, not an error; every statement runs under a savepoint, so
    // this is only a guard.
    if (PQtransactionStatus(conn()) == PQTRANS_INERROR) {
      throw BackendError("cannot commit - the transaction was rolled back after an earlier error");
    }
    Exec("COMMIT");
  }
  transactionOpen_ = transactionBegun_ = false;
}

void Session::Rollback() {
  conn();
  if (!transactionOpen_) throw BackendError("cannot rollback - no transaction is active");
  if (transactionBegun_) Exec("ROLLBACK");
  transactionOpen_ = transactionBegun_ = false;
}

void Session::Close() noexcept {
  conn_.reset();  // the server rolls back what was not committed
  transactionOpen_ = transactionBegun_ = false;
}

Savepoint::Savepoint(Session& session) : session_(session) {
  session_.BeforeWrite();
  if (session_.transactionBegun_) {
    name_ = "qv_step_" + std::to_string(++session_.savepoints_);
    session_.Exec("SAVEPOINT " + name_);
  } else {
    session_.Exec("BEGIN");
  }
}

Savepoint::~Savepoint() {
  if (done_ || !session_.conn_) return;
  PGconn* conn = session_.conn_.get();
  auto run = [conn](const std::string& sql) { PQclear(PQexec(conn, sql.c_str())); };
  if (name_.empty()) {
    run("ROLLBACK");
  } else {
    run("ROLLBACK TO SAVEPOINT " + name_);
    run("RELEASE SAVEPOINT " + name_);
  }
}

void Savepoint::Release() {
  session_.Exec(name_.empty() ? "COMMIT" : "RELEASE SAVEPOINT " + name_);
  done_ = true;
}

}  // namespace qv::db::postgres

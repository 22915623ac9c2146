#include "db/postgres/pg_session.h"

#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <iterator>

#include "db/names.h"
#include "db/postgres/pg_error.h"

namespace qv::db::postgres {
namespace {

// The server's notices ("... does not exist, skipping") are no failures and
// no diagnostics of this program: libpq would print them on standard error.
void IgnoreNotice(void* /*arg*/, const char* /*message*/) {}

// Statements that read or change rows, and the savepoints around them,
// leave the tables and columns as they were.
bool MayChangeSchema(const std::string& sql) {
  size_t begin = sql.find_first_not_of(" \t\r\n(");
  if (begin == std::string::npos) return false;
  size_t end = sql.find_first_of(" \t\r\n(", begin);
  const std::string word = sql.substr(begin, end == std::string::npos ? end : end - begin);
  for (const char* keeps : {"SELECT", "INSERT", "UPDATE", "DELETE", "WITH", "VALUES", "SAVEPOINT",
                            "RELEASE", "BEGIN", "COMMIT", "DECLARE", "FETCH", "CLOSE"}) {
    if (EqualsNoCase(word, keeps)) return false;
  }
  return true;
}

bool Succeeded(const Result& result) {
  ExecStatusType status = PQresultStatus(result.get());
  return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

std::string ParamText(const Value& value) {
  if (value.kind() == Value::Kind::kReal) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.17g", value.AsReal());
    return buffer;
  }
  return value.AsText();
}

// Clean connections that closed sessions left, newest last, each with the
// address and settings it was opened with.
constexpr size_t kMaxIdleConnections = 4;
std::deque<std::pair<std::string, ConnHandle>>& IdleConnections() {
  static std::deque<std::pair<std::string, ConnHandle>> idle;
  return idle;
}

std::string PoolKey(const std::vector<const char*>& keys, const std::vector<const char*>& values) {
  std::string key;
  for (size_t i = 0; keys[i] != nullptr; ++i) {
    key.append(keys[i]).push_back('\0');
    key.append(values[i]).push_back('\0');
  }
  return key;
}

// An idle connection is usable when the server has not closed it meanwhile
// (shut down, restarted, the database dropped): reading what arrived while
// it was idle finds that out without a round trip. A server that ends a
// session sends its reason and then closes the socket; one read may take
// only the reason, so reading goes on while the socket has something.
bool StillUsable(PGconn* conn) {
  if (PQstatus(conn) != CONNECTION_OK || PQpipelineStatus(conn) != PQ_PIPELINE_OFF) return false;
  pollfd socket{PQsocket(conn), POLLIN, 0};
  for (int reads = 0; reads < 8 && ::poll(&socket, 1, 0) > 0; ++reads) {
    if (PQconsumeInput(conn) == 0 || PQstatus(conn) != CONNECTION_OK) return false;
  }
  return PQtransactionStatus(conn) == PQTRANS_IDLE && PQisBusy(conn) == 0;
}

// The answer to the DISCARD ALL sent when the connection was put aside;
// false when the reset failed or the connection broke meanwhile.
bool ResetAnswered(PGconn* conn) {
  bool reset = false;
  while (PGresult* next = PQgetResult(conn)) {
    reset = PQresultStatus(next) == PGRES_COMMAND_OK;
    PQclear(next);
  }
  return reset;
}

ConnHandle TakeIdle(const std::string& key) {
  auto& idle = IdleConnections();
  for (auto it = idle.end(); it != idle.begin();) {
    --it;
    if (it->first != key) continue;
    ConnHandle conn = std::move(it->second);
    idle.erase(it);
    if (ResetAnswered(conn.get()) && StillUsable(conn.get())) return conn;
  }
  return nullptr;
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
  session->poolKey_ = PoolKey(keys, values);
  session->conn_ = TakeIdle(session->poolKey_);
  if (session->conn_) return session;
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

// Parameters as the text libpq sends; null as a null pointer.
class ParamTexts {
 public:
  explicit ParamTexts(const std::vector<Value>& params) {
    texts_.reserve(params.size());
    for (const Value& value : params) {
      texts_.push_back(value.IsNull() ? std::string() : ParamText(value));
      pointers_.push_back(value.IsNull() ? nullptr : texts_.back().c_str());
    }
  }
  int count() const { return static_cast<int>(pointers_.size()); }
  const char* const* values() const { return pointers_.data(); }

 private:
  std::vector<std::string> texts_;
  std::vector<const char*> pointers_;
};

Result Session::Exec(const std::string& sql, const std::vector<Value>& params) {
  PGconn* handle = conn();
  if (MayChangeSchema(sql)) ForgetCatalog();
  ParamTexts texts(params);
  Result result(PQexecParams(handle, sql.c_str(), texts.count(), nullptr, texts.values(), nullptr,
                             nullptr, 0));
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
  ForgetCatalog();
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
  // A connection with a transaction begun is dropped: the server rolls back
  // what was not committed. DISCARD ALL resets what a statement may have
  // set for the session (settings, cursors, locks) before it is reused; its
  // answer is read when the connection is taken again, so that no routine
  // waits for it.
  if (conn_ && !transactionBegun_ && !poolKey_.empty() && StillUsable(conn_.get()) &&
      PQsendQuery(conn_.get(), "DISCARD ALL") != 0) {
    auto& idle = IdleConnections();
    if (idle.size() == kMaxIdleConnections) idle.pop_front();
    idle.emplace_back(poolKey_, std::move(conn_));
  }
  conn_.reset();
  transactionOpen_ = transactionBegun_ = false;
}

std::vector<Result> Session::Pipeline(const std::vector<Statement>& statements) {
  PGconn* handle = conn();
  // The statements go out together and their answers come back in order:
  // one round trip where each would need its own. After a failure the
  // server skips the rest up to the sync. A long list goes in pieces, so
  // that neither side holds more than a piece's answers at a time.
  constexpr size_t kPiece = 64;
  std::vector<Result> answers;  // the result of each statement
  bool failed = false;
  for (size_t from = 0; !failed && from < statements.size(); from += kPiece) {
    const size_t to = std::min(statements.size(), from + kPiece);
    bool sent = PQenterPipelineMode(handle) != 0;
    for (size_t i = from; sent && i < to; ++i) {
      if (MayChangeSchema(statements[i].sql)) ForgetCatalog();
      ParamTexts texts(statements[i].params);
      sent = PQsendQueryParams(handle, statements[i].sql.c_str(), texts.count(), nullptr,
                               texts.values(), nullptr, nullptr, 0) != 0;
    }
    sent = sent && PQpipelineSync(handle) != 0;
    bool synced = false;
    for (size_t ends = from; sent && ends <= to && PQstatus(handle) == CONNECTION_OK;) {
      PGresult* next = PQgetResult(handle);
      if (next == nullptr) {  // the end of one statement's results
        ++ends;
        continue;
      }
      if (PQresultStatus(next) == PGRES_PIPELINE_SYNC) {
        PQclear(next);
        synced = true;
        break;
      }
      answers.emplace_back(next);
      failed = failed || !Succeeded(answers.back());
    }
    if (!synced || answers.size() != to || PQexitPipelineMode(handle) == 0) {
      // The connection broke or the protocol went astray: it cannot be used again.
      DbError error = ServerError(handle, nullptr);
      Close();
      throw error;
    }
  }
  return answers;
}

Result Session::ExecInTransaction(const std::string& sql, const std::vector<Value>& params) {
  if (!transactionOpen_) throw BackendError("no transaction is active");
  Savepoint savepoint(*this, {{sql, params}}, Savepoint::kReleased);
  return std::move(savepoint.answers()[0]);
}

Savepoint::Savepoint(Session& session, const std::vector<Statement>& first, bool released)
    : session_(session) {
  PGconn* handle = session_.conn();
  // Inside an open BeginTrans the server's transaction begins here if it
  // has not yet; outside one the savepoint is a transaction of its own.
  std::vector<Statement> statements;
  const bool begins = !session_.transactionOpen_ || !session_.transactionBegun_;
  if (begins) statements.push_back({"BEGIN", {}});
  if (session_.transactionOpen_) {
    name_ = session_.NewSavepointName();
    statements.push_back({"SAVEPOINT " + name_, {}});
  }
  const size_t opened = statements.size();
  statements.insert(statements.end(), first.begin(), first.end());
  if (released) statements.push_back({ReleaseStatement(), {}});
  std::vector<Result> answers = session_.Pipeline(statements);
  size_t failed = 0;
  while (failed < answers.size() && Succeeded(answers[failed])) ++failed;
  if (begins && session_.transactionOpen_ && failed > 0) session_.transactionBegun_ = true;
  if (failed < statements.size()) {
    DbError error = ServerError(handle, failed < answers.size() ? answers[failed].get() : nullptr);
    if (failed >= opened) {
      Undo();
    } else if (begins && failed > 0) {
      // The savepoint itself failed in a transaction that holds nothing else.
      PQclear(PQexec(handle, "ROLLBACK"));
      session_.transactionBegun_ = false;
    }
    done_ = true;
    throw error;
  }
  answers_.assign(std::make_move_iterator(answers.begin() + opened),
                  std::make_move_iterator(answers.begin() + opened + first.size()));
  done_ = released;
}

Savepoint::~Savepoint() {
  if (!done_) Undo();
}

void Savepoint::Undo() noexcept {
  if (!session_.conn_) return;
  PGconn* conn = session_.conn_.get();
  auto run = [conn](const std::string& sql) { PQclear(PQexec(conn, sql.c_str())); };
  session_.ForgetCatalog();
  if (name_.empty()) {
    run("ROLLBACK");
  } else {
    run("ROLLBACK TO SAVEPOINT " + name_);
    run("RELEASE SAVEPOINT " + name_);
  }
}

std::string Savepoint::ReleaseStatement() const {
  return name_.empty() ? "COMMIT" : "RELEASE SAVEPOINT " + name_;
}

void Savepoint::Release() {
  session_.Exec(ReleaseStatement());
  done_ = true;
}

}  // namespace qv::db::postgres

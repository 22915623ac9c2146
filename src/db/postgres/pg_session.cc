#include "db/postgres/pg_session.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <iterator>
#include <utility>

#include "base/names.h"
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

// What every statement of a run relies on, set by a statement after
// connecting: a connection pooler refuses settings given as startup
// options, and keeps these for the client whichever server connection
// serves it (lock_timeout aside, which is how a run tells the pooler's mode).
std::string SettingsStatement(int busyTimeoutMs) {
  std::string sql =
      "SELECT set_config('DateStyle', 'ISO', false),"
      " set_config('standard_conforming_strings', 'on', false), set_config('lock_timeout', '";
  if (busyTimeoutMs != Session::kWaitForever) {
    return sql + std::to_string(busyTimeoutMs > 0 ? busyTimeoutMs : 1) + "', false)";
  }
  // idle_session_timeout is known from PostgreSQL 14 on.
  return sql +
         "0', false), set_config('statement_timeout', '0', false),"
         " set_config('idle_in_transaction_session_timeout', '0', false),"
         " CASE WHEN current_setting('idle_session_timeout', true) IS NOT NULL"
         " THEN set_config('idle_session_timeout', '0', false) END";
}

// Clean connections that closed sessions left or that were opened ahead,
// newest last, each with the address and settings it was opened with.
struct IdleConnection {
  std::string key;
  ConnHandle conn;
  bool resetSent;  // its SendReset is still to be answered
};
constexpr size_t kMaxIdleConnections = 4;
std::deque<IdleConnection>& IdleConnections() {
  static std::deque<IdleConnection> idle;
  return idle;
}

void KeepIdle(IdleConnection idle) {
  auto& connections = IdleConnections();
  if (connections.size() == kMaxIdleConnections) connections.pop_front();
  connections.push_back(std::move(idle));
}

std::string PoolKey(const std::vector<std::pair<std::string, std::string>>& parameters,
                    int busyTimeoutMs) {
  std::string key = std::to_string(busyTimeoutMs);
  for (const auto& [name, value] : parameters) {
    key.push_back('\0');
    key.append(name).push_back('\0');
    key.append(value);
  }
  return key;
}

// A connection is usable when the server has not closed it meanwhile (an
// idle timeout, a terminated backend, a restart): reading what arrived
// while it was idle finds that out without a round trip. A server that
// ends a session sends its reason and then closes the socket; one read may
// take only the reason, so reading goes on while the socket has something.
bool StillUsable(PGconn* conn) {
  if (PQstatus(conn) != CONNECTION_OK || PQpipelineStatus(conn) != PQ_PIPELINE_OFF) return false;
  pollfd socket{PQsocket(conn), POLLIN, 0};
  for (int reads = 0; reads < 8 && ::poll(&socket, 1, 0) > 0; ++reads) {
    if (PQconsumeInput(conn) == 0 || PQstatus(conn) != CONNECTION_OK) return false;
  }
  return PQtransactionStatus(conn) == PQTRANS_IDLE && PQisBusy(conn) == 0;
}

// Resets a connection put aside for reuse: DISCARD ALL undoes what a
// statement may have set for the session (settings, cursors, locks), which
// cannot run in a transaction, so it has a sync of its own, and the run's
// settings follow it. Sent without waiting; the answers are read when the
// connection is taken again, so that no routine waits for them.
bool SendReset(PGconn* conn, const std::string& settings) {
  auto send = [conn](const std::string& sql) {
    return PQsendQueryParams(conn, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0) != 0 &&
           PQpipelineSync(conn) != 0;
  };
  return PQenterPipelineMode(conn) != 0 && send("DISCARD ALL") && send(settings);
}

// The answers to SendReset; false when the reset failed or the connection
// broke meanwhile.
bool ResetAnswered(PGconn* conn) {
  bool reset = true;
  int syncs = 0;
  for (bool ended = false; syncs < 2 && PQstatus(conn) == CONNECTION_OK;) {
    PGresult* next = PQgetResult(conn);
    if (next == nullptr) {
      if (ended) break;  // two ends in a row: nothing more is coming
      ended = true;
      continue;
    }
    ended = false;
    const ExecStatusType status = PQresultStatus(next);
    PQclear(next);
    if (status == PGRES_PIPELINE_SYNC) {
      ++syncs;
    } else if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      reset = false;
    }
  }
  return reset && syncs == 2 && PQexitPipelineMode(conn) != 0;
}

// The newest idle connection with `key` that is still usable; the others
// of that key are dropped on the way.
ConnHandle TakeIdle(const std::string& key) {
  auto& idle = IdleConnections();
  for (size_t i = idle.size(); i > 0; --i) {
    if (idle[i - 1].key != key) continue;
    IdleConnection taken = std::move(idle[i - 1]);
    idle.erase(idle.begin() + static_cast<std::ptrdiff_t>(i - 1));
    PGconn* conn = taken.conn.get();
    if ((!taken.resetSent || ResetAnswered(conn)) && StillUsable(conn))
      return std::move(taken.conn);
  }
  return nullptr;
}

using Parameters = std::vector<std::pair<std::string, std::string>>;

// One connection being made: its parameters, and its handle or why it failed.
struct Connecting {
  Parameters parameters;
  std::string database, settings;
  ConnHandle conn;
  std::string failure;  // empty while it goes well
};

// The seconds libpq would wait for a server that does not answer.
int ConnectTimeout(const Parameters& parameters) {
  int seconds = 0;
  for (const auto& [name, value] : parameters) {
    if (name == "connect_timeout") seconds = std::atoi(value.c_str());
  }
  return seconds > 0 ? std::max(seconds, 2) : 0;
}

// Makes every connection of `all` at once, from this thread: each one's
// next message goes out as soon as its answer is in, so the servers work on
// all of them together (a server process and an authentication exchange
// each), while this process's calls come in the same order in every run.
// Then sets the run's settings on each.
void ConnectTogether(std::vector<Connecting>& all) {
  using Clock = std::chrono::steady_clock;
  std::vector<PostgresPollingStatusType> state(all.size(), PGRES_POLLING_FAILED);
  std::vector<Clock::time_point> deadline(all.size());
  for (size_t i = 0; i < all.size(); ++i) {
    std::vector<const char*> keys, values;
    for (const auto& [name, value] : all[i].parameters) {
      keys.push_back(name.c_str());
      values.push_back(value.c_str());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    all[i].conn.reset(PQconnectStartParams(keys.data(), values.data(), 0));
    if (!all[i].conn) {
      all[i].failure = "out of memory while connecting";
    } else if (PQstatus(all[i].conn.get()) != CONNECTION_BAD) {
      state[i] = PGRES_POLLING_WRITING;
    }
    const int timeout = ConnectTimeout(all[i].parameters);
    deadline[i] =
        timeout > 0 ? Clock::now() + std::chrono::seconds(timeout) : Clock::time_point::max();
  }
  for (bool waiting = true; waiting;) {
    waiting = false;
    for (size_t i = 0; i < all.size(); ++i) {
      if (state[i] != PGRES_POLLING_READING && state[i] != PGRES_POLLING_WRITING) continue;
      PGconn* conn = all[i].conn.get();
      pollfd socket{PQsocket(conn),
                    static_cast<short>(state[i] == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
      int ready = -1;
      while (ready < 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline[i] - Clock::now());
        const int ms = deadline[i] == Clock::time_point::max()
                           ? -1
                           : static_cast<int>(std::max<long long>(left.count(), 0));
        ready = ::poll(&socket, 1, ms);
        if (ready < 0 && errno != EINTR) break;
      }
      if (ready == 0) {
        state[i] = PGRES_POLLING_FAILED;
        all[i].failure = "timeout expired while connecting";
        continue;
      }
      state[i] = PQconnectPoll(conn);
      waiting = waiting || state[i] == PGRES_POLLING_READING || state[i] == PGRES_POLLING_WRITING;
    }
  }
  for (Connecting& c : all) {  // the settings go out together too
    if (!c.failure.empty() || !c.conn) continue;
    PGconn* conn = c.conn.get();
    if (PQstatus(conn) != CONNECTION_OK) {
      c.failure = ServerError(conn, nullptr).description();
      continue;
    }
    PQsetNoticeProcessor(conn, IgnoreNotice, nullptr);
    const char* encoding = PQparameterStatus(conn, "server_encoding");
    const std::string serverEncoding = encoding != nullptr ? encoding : "";
    if (serverEncoding != "UTF8") {
      c.failure = "the database " + c.database + " has the encoding " + serverEncoding +
                  ", which cannot hold every text; it must be UTF8";
    } else if (PQsendQuery(conn, c.settings.c_str()) == 0) {
      c.failure = ServerError(conn, nullptr).description();
    }
  }
  for (Connecting& c : all) {
    if (!c.failure.empty() || !c.conn) continue;
    bool set = false;
    while (PGresult* answer = PQgetResult(c.conn.get())) {
      Result result(answer);
      set = PQresultStatus(answer) == PGRES_TUPLES_OK;
      if (!set) c.failure = ServerError(c.conn.get(), answer).description();
    }
    if (!set && c.failure.empty()) c.failure = ServerError(c.conn.get(), nullptr).description();
  }
}

const HeldRunLock*& HeldLock() {
  static const HeldRunLock* held = nullptr;
  return held;
}

// The catalog answers kept for the run, by database (Session::CatalogCache).
std::map<std::string, Session::CatalogCache>& RunCatalogs() {
  static std::map<std::string, Session::CatalogCache> catalogs;
  return catalogs;
}

// Begins every transaction that may write while this process holds a run
// lock: it takes the step key shared, then checks that the run lock is
// still this run's, and fails with the reason when it is not, so that
// nothing of the transaction stays. On another server the check cannot see
// the lock, and only the step key is taken.
Statement TurnCheck(const HeldRunLock& held) {
  const std::string lost = "this run does not hold its run lock (advisory lock " +
                           std::to_string(kRunLockKey) + "): the step is undone";
  if (held.pid.empty()) return {"SELECT CAST(CAST($1 AS text) AS integer)", {Value(lost)}};
  return {std::string("SELECT CAST(CASE WHEN ") + kServerStart +
              " <> $2 OR EXISTS (SELECT 1 FROM pg_locks l WHERE " + RunLockHeld() +
              " AND l.pid = $1::integer) THEN '1' ELSE $3 END AS integer)"
              " FROM (SELECT pg_advisory_xact_lock_shared(" +
              std::to_string(kStepLockKey) + ") OFFSET 0) AS turn",
          {Value(held.pid), Value(held.serverStart), Value(lost)}};
}

}  // namespace

std::vector<int> IdleBackendPids() {
  std::vector<int> pids;
  for (const IdleConnection& idle : IdleConnections())
    pids.push_back(PQbackendPID(idle.conn.get()));
  return pids;
}

std::string RunLockHeld() {
  return "l.locktype = 'advisory' AND l.granted AND l.objsubid = 1 AND l.classid::bigint = " +
         std::to_string(kRunLockKey >> 32) +
         " AND l.objid::bigint = " + std::to_string(kRunLockKey & 0xFFFFFFFFLL);
}

void SetHeldRunLock(const HeldRunLock* held) {
  HeldLock() = held;
}

std::vector<std::pair<std::string, std::string>> ConnectParameters(const ServerAddress& address) {
  std::vector<std::pair<std::string, std::string>> parameters;
  auto addGiven = [&](const char* key, const std::optional<std::string>& value) {
    if (value) parameters.emplace_back(key, *value);
  };
  // A server that does not answer fails the open rather than hang it.
  parameters.emplace_back("connect_timeout", "10");
  parameters.emplace_back("application_name", "qvsetup");
  addGiven("host", address.host);
  addGiven("port", address.port);
  addGiven("user", address.user);
  addGiven("password", address.password);
  addGiven("sslmode", address.sslMode);
  if (address.options && address.options->find_first_not_of(" \t") != std::string::npos) {
    char* error = nullptr;
    std::unique_ptr<PQconninfoOption, void (*)(PQconninfoOption*)> given(
        PQconninfoParse(address.options->c_str(), &error), PQconninfoFree);
    if (!given) {
      std::string why = error != nullptr ? error : "out of memory";
      PQfreemem(error);
      while (!why.empty() && why.back() == '\n') why.pop_back();
      throw DbError(kErrUnspecified, "the further libpq parameters (pqopt) cannot be read: " + why);
    }
    for (const PQconninfoOption* o = given.get(); o->keyword != nullptr; ++o) {
      if (o->val != nullptr) parameters.emplace_back(o->keyword, o->val);
    }
  }
  // Last, so that nothing above overrides them: a database name is never
  // read as connection options (expand_dbname is off), every text is UTF8,
  // and a member that accepts no writes (a hot standby) is never used.
  parameters.emplace_back("dbname", address.database);
  parameters.emplace_back("client_encoding", "UTF8");
  parameters.emplace_back("target_session_attrs", "read-write");
  return parameters;
}

std::shared_ptr<Session> Session::Open(const ServerAddress& address, int busyTimeoutMs,
                                       const std::vector<ServerAddress>& alsoOpen,
                                       int alsoBusyTimeoutMs) {
  std::vector<Connecting> all;
  std::vector<std::string> keys;
  auto add = [&](const ServerAddress& a, int busy) {
    Parameters parameters = ConnectParameters(a);
    keys.push_back(PoolKey(parameters, busy));
    all.push_back({std::move(parameters), a.database, SettingsStatement(busy), nullptr, ""});
  };
  add(address, busyTimeoutMs);
  auto session = std::make_shared<Session>(Token{});
  session->poolKey_ = keys[0];
  session->settings_ = all[0].settings;
  session->address_ = address;
  session->conn_ = TakeIdle(session->poolKey_);
  if (session->conn_) return session;
  for (const ServerAddress& other : alsoOpen) {
    try {
      add(other, alsoBusyTimeoutMs);
    } catch (const DbError&) {
      // Its own open says why.
    }
  }
  ConnectTogether(all);
  for (size_t i = 1; i < all.size(); ++i) {
    if (all[i].failure.empty()) KeepIdle({keys[i], std::move(all[i].conn), false});
  }
  if (!all[0].failure.empty()) throw DbError(kErrUnspecified, all[0].failure);
  session->conn_ = std::move(all[0].conn);
  return session;
}

bool Session::StillConnected() {
  if (conn_ && !StillUsable(conn_.get())) conn_.reset();
  return conn_ != nullptr;
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
  // Inside the server's transaction a failing statement would abort all of
  // it; within a Savepoint the failure undoes that savepoint instead.
  if (transactionBegun_ && openSavepoints_ == 0) return Write(sql, params);
  return Send(sql, params);
}

Result Session::Send(const std::string& sql, const std::vector<Value>& params) {
  PGconn* handle = conn();
  if (MayChangeSchema(sql)) SchemaMayChange();
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
  transactionOpen_ = true;
  transactionBegun_ = false;
  ForgetCatalog();
}

Session::CatalogCache* Session::catalogCache() {
  if (!schemaChanged_ && HeldLock() != nullptr && !HeldLock()->pid.empty() && !poolKey_.empty()) {
    CatalogCache& kept = RunCatalogs()[poolKey_];
    kept.keptForRun = true;
    return &kept;
  }
  return transactionOpen_ ? &catalog_ : nullptr;
}

void Session::SchemaMayChange() {
  ForgetCatalog();
  RunCatalogs().clear();
  if (transactionOpen_ || openSavepoints_ > 0) schemaChanged_ = true;
}

void Session::TransactionEnded() {
  ForgetCatalog();
  // Answers that another session took meanwhile saw the schema before the change.
  if (schemaChanged_) RunCatalogs().clear();
  schemaChanged_ = false;
}

void Session::Commit() {
  conn();
  if (transactionBegun_) Send("COMMIT");  // on failure it stays open
  transactionOpen_ = transactionBegun_ = false;
  TransactionEnded();
  for (auto& done : std::exchange(afterCommit_, {})) done();
}

// The server answers the COMMIT of an aborted transaction with a rollback,
// not an error; every statement runs under a savepoint, so this is only a
// guard.
bool Session::TransactionLost() {
  return transactionBegun_ && PQtransactionStatus(conn()) == PQTRANS_INERROR;
}

void Session::AfterCommit(std::function<void()> done) {
  if (transactionOpen_) {
    afterCommit_.push_back(std::move(done));
  } else {
    done();
  }
}

void Session::Rollback() {
  conn();
  afterCommit_.clear();
  if (transactionBegun_) Send("ROLLBACK");
  transactionOpen_ = transactionBegun_ = false;
  TransactionEnded();
}

void Session::Close() noexcept {
  // A connection with a transaction begun is dropped: the server rolls back
  // what was not committed.
  if (conn_ && !transactionBegun_ && !poolKey_.empty() && StillUsable(conn_.get()) &&
      SendReset(conn_.get(), settings_)) {
    KeepIdle({poolKey_, std::move(conn_), true});
  }
  conn_.reset();
  afterCommit_.clear();
  transactionOpen_ = transactionBegun_ = false;
  TransactionEnded();
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
      if (MayChangeSchema(statements[i].sql)) SchemaMayChange();
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

Result Session::Write(const std::string& sql, const std::vector<Value>& params) {
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
  if (begins && HeldLock() != nullptr) statements.push_back(TurnCheck(*HeldLock()));
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
  if (!done_) ++session_.openSavepoints_;
  if (released && name_.empty()) session_.TransactionEnded();
}

Savepoint::~Savepoint() {
  if (!done_) Finish(), Undo();
}

void Savepoint::Finish() noexcept {
  done_ = true;
  --session_.openSavepoints_;
}

void Savepoint::Undo() noexcept {
  if (!session_.conn_) return;
  PGconn* conn = session_.conn_.get();
  auto run = [conn](const std::string& sql) { PQclear(PQexec(conn, sql.c_str())); };
  session_.ForgetCatalog();
  if (name_.empty()) {
    run("ROLLBACK");
    session_.TransactionEnded();
  } else {
    run("ROLLBACK TO SAVEPOINT " + name_);
    run("RELEASE SAVEPOINT " + name_);
  }
}

std::string Savepoint::ReleaseStatement() const {
  return name_.empty() ? "COMMIT" : "RELEASE SAVEPOINT " + name_;
}

void Savepoint::Release() {
  session_.Send(ReleaseStatement());
  Finish();
  if (name_.empty()) session_.TransactionEnded();
}

}  // namespace qv::db::postgres

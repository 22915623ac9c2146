// An open server connection: the libpq handle, the transaction that
// BeginTrans opened, and the savepoints that make one operation
// all-or-nothing. A connection and the row sets opened on it share one
// session; after Close every use of it raises "object closed".
//
// BeginTrans starts the server's transaction lazily, at the first statement
// that may write: until then reads run on their own and hold no lock, so a
// second connection can change what this one only looked at.
#pragma once

#include "db/postgres/engine_only.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "db/postgres/pg_result.h"
#include "db/rowset_base.h"

namespace qv::db::postgres {

// Where the server and the database are. An absent key falls back to
// libpq's own defaults (PGHOST, PGPORT, PGUSER, PGPASSWORD, ~/.pgpass, the
// local socket). `host` and `port` may list the members of a replicated
// cluster, comma-separated, as libpq takes them; `options` carries further
// libpq parameters ("key=value" pairs separated by blanks, libpq's quoting).
struct ServerAddress {
  std::optional<std::string> host;
  std::optional<std::string> port;
  std::string database;
  std::optional<std::string> user;
  std::optional<std::string> password;
  std::optional<std::string> sslMode;
  std::optional<std::string> options;
};

// The libpq parameters of `address` in the order they apply: libpq's
// defaults for what is absent, then the data source's keys, then its
// further parameters, then what every session of the run needs (UTF8, a
// member that accepts writes). Raises kErrUnspecified when `options` cannot be
// read.
std::vector<std::pair<std::string, std::string>> ConnectParameters(const ServerAddress& address);

// A statement and its parameters ($1, $2, ...), sent as text.
struct Statement {
  std::string sql;
  std::vector<Value> params;
};

class Session {
 public:
  // Connects to the first member of `address` that accepts writes and sets,
  // with statements (a connection pooler refuses startup options), what the
  // run's statements rely on: client_encoding UTF8, DateStyle ISO,
  // standard_conforming_strings on and lock_timeout `busyTimeoutMs` (at
  // least 1 ms: the server reads 0 as "wait forever"). The role's other
  // settings stay. Raises kErrUnspecified with the server's message when the
  // server cannot be reached, refuses the login, has no such database or
  // accepts no writes, and when the database cannot hold every text (its
  // encoding is not UTF8).
  // kWaitForever: no timeout at all, of the role's or the database's
  // either (statement, lock, idle and idle-in-transaction), for a session
  // that waits as long as another run runs and sits idle as long as this
  // one does.
  //
  // Connections to `alsoOpen` are made at the same time (with the timeout
  // `alsoBusyTimeoutMs`) and kept for their next Open: a run's first
  // opens of its databases then cost one handshake's time together (a
  // server process and an authentication exchange each) rather than one
  // after another. One that fails is left to that Open, which says why.
  static std::shared_ptr<Session> Open(const ServerAddress& address, int busyTimeoutMs,
                                       const std::vector<ServerAddress>& alsoOpen = {},
                                       int alsoBusyTimeoutMs = 0);
  static constexpr int kWaitForever = -1;

  struct Token {};  // only Open makes sessions
  explicit Session(Token) {}
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool isOpen() const { return conn_ != nullptr; }
  const ServerAddress& address() const { return address_; }
  // Whether the server still has the connection: what arrived while it was
  // idle is read without a round trip. A closed one is closed here too.
  bool StillConnected();
  PGconn* conn() const;  // raises "object closed" after Close

  // Runs one statement through the extended protocol, which refuses a
  // second statement; `params` are sent as text ($1, $2, ...). Raises the
  // server's error. Inside the server's transaction every statement, reads
  // included, runs under a savepoint of its own in the same round trip, so
  // that a failure undoes only that statement and reports its own reason.
  Result Exec(const std::string& sql, const std::vector<Value>& params = {});
  // Runs a statement that may write, all-or-nothing in one round trip:
  // within an open BeginTrans under a savepoint of its own (the first such
  // statement begins the server's transaction), outside one in a
  // transaction of its own. A failure undoes only this statement, as the
  // desktop engine does.
  Result Write(const std::string& sql, const std::vector<Value>& params = {});

  // The engine's side of BeginTrans, CommitTrans and RollbackTrans; the
  // connection refuses them first where no transaction may begin or end
  // (connection_base.h). A failed Commit leaves the transaction open.
  void Begin();
  void Commit();
  void Rollback();
  // Whether the server has aborted the transaction, so that its commit
  // would be a rollback.
  bool TransactionLost();
  // Runs `done` once what was written so far is committed: at once outside
  // a BeginTrans, else after its commit; never when it is rolled back.
  void AfterCommit(std::function<void()> done);
  bool inTransaction() const { return transactionOpen_; }
  bool transactionBegun() const { return transactionBegun_; }

  // Rolls back what is not committed and disconnects. Never raises. A
  // connection left clean (no transaction begun, no session state) is kept
  // for the next Open of the same address in this process: a run opens a
  // connection per routine, and each new one costs the server a process and
  // an authentication exchange.
  void Close() noexcept;
  // For a session that holds state of its own (the run lock): Close ends
  // its connection rather than keep it.
  void KeepOutOfPool() { poolKey_.clear(); }

  // What the catalog said of the tables. While this process holds the run
  // lock no other run changes the schema, so the answers serve the whole
  // run, shared by the sessions of one database (keptForRun): a run opens
  // nearly every table once, and one query answers them all. They are
  // forgotten whenever a statement of this process may change the schema
  // and when a transaction that did so ends; a session with such a change
  // not yet committed keeps answers of its own. Without the lock, the
  // answers serve one BeginTrans: the same table is opened again and again
  // in one transaction. Null when nothing may be kept.
  struct CatalogCache {
    std::map<std::string, std::optional<std::string>> tables;  // by name as asked
    std::map<std::string, std::vector<ColumnInfo>> columns;
    bool keptForRun = false;
    // Every table that statements reach is in `columns`; by its name
    // folded to lower case, the one FindTable finds.
    bool complete = false;
    std::map<std::string, std::string> byFoldedName;
  };
  CatalogCache* catalogCache();

 private:
  friend class Savepoint;
  // Runs one statement as it is, outside any savepoint.
  Result Send(const std::string& sql, const std::vector<Value>& params = {});
  void ForgetCatalog() { catalog_ = CatalogCache(); }
  // After a statement that may change the schema, and when a transaction ends.
  void SchemaMayChange();
  void TransactionEnded();
  std::string NewSavepointName() { return "qv_step_" + std::to_string(++savepoints_); }
  // Runs `statements` in one round trip (a long list in a few); the answer
  // of each, failures included. After a failure the rest are skipped, and
  // their answers may be missing. Raises only when the connection fails,
  // and closes it then.
  std::vector<Result> Pipeline(const std::vector<Statement>& statements);
  ConnHandle conn_;
  ServerAddress address_;
  std::vector<std::function<void()>> afterCommit_;
  std::string poolKey_;   // empty: never reused
  std::string settings_;  // the statement that sets what the run relies on
  CatalogCache catalog_;
  bool schemaChanged_ = false;     // by a transaction not yet ended
  bool transactionOpen_ = false;   // BeginTrans called, not yet ended
  bool transactionBegun_ = false;  // the server's BEGIN has run
  int savepoints_ = 0;
  int openSavepoints_ = 0;  // Savepoint objects alive on this session
};

// The server processes of the connections this process keeps idle for its
// next opens: its own, though no session uses them now.
std::vector<int> IdleBackendPids();

// The run lock that this process holds (pg_advisory_lock.h), as the
// transactions that may write check it: the server process that holds the
// advisory lock, and the start of that server (kServerStart); both empty
// while the run has not taken it.
struct HeldRunLock {
  std::string pid;
  std::string serverStart;
};
inline constexpr char kServerStart[] = "extract(epoch FROM pg_postmaster_start_time())::text";
// Set while the lock is held; null when none is.
void SetHeldRunLock(const HeldRunLock* held);

// The advisory lock keys ("QVSETUP" and "QVSTEP" in ASCII): fixed, so that
// runs of every version and every machine meet on them. Every transaction
// that may write holds the step key shared while a run lock is held; a run
// that takes the run lock takes the step key once exclusively in each
// database, so a step still open in a run that lost its lock ends first.
inline constexpr long long kRunLockKey = 0x51565345545550LL;
inline constexpr long long kStepLockKey = 0x515653544550LL;

// The condition on pg_locks l that finds a run lock granted (a
// pg_advisory_lock(bigint) shows as the key's high and low 32 bits with
// objsubid 1).
std::string RunLockHeld();

// Makes one operation all-or-nothing: inside an open transaction a
// savepoint, outside one a transaction of its own. Undone at the end of the
// scope unless released. A statement that fails inside the server's
// transaction aborts all of it; rolling back to the savepoint undoes only
// the failed statement, as the desktop engine does.
class Savepoint {
 public:
  explicit Savepoint(Session& session) : Savepoint(session, {}) {}
  // Runs `first` in the same round trip as the savepoint's start, their
  // answers kept in answers(). The first of them to fail raises its error,
  // with the savepoint undone. kReleased sends the release in that round
  // trip too, for statements that need no check before it.
  static constexpr bool kReleased = true;
  Savepoint(Session& session, const std::vector<Statement>& first, bool released = false);
  Savepoint(const Savepoint&) = delete;
  Savepoint& operator=(const Savepoint&) = delete;
  ~Savepoint();
  std::vector<Result>& answers() { return answers_; }
  void Release();

 private:
  void Undo() noexcept;
  void Finish() noexcept;  // no longer open: released or undone
  std::string ReleaseStatement() const;
  Session& session_;
  std::string name_;  // empty: the savepoint is a transaction of its own
  std::vector<Result> answers_;
  bool done_ = false;
};

}  // namespace qv::db::postgres

// An open database file: the engine handle, the transaction that BeginTrans
// opened, and the savepoints that make one operation all-or-nothing. A
// connection and the row sets opened on it share one session; after Close
// every use of it raises "object closed".
//
// BeginTrans starts the engine's transaction at the first statement that
// follows it, and takes the database's write lock there (BEGIN EXCLUSIVE,
// waiting up to the busy timeout): a database in use by another process
// makes that statement fail, never the commit, so a step that reports
// success has saved its work. A BeginTrans that no statement follows takes
// no lock, so a second connection can commit meanwhile (a migration step
// lists views before its transaction and drops each on another connection).
#pragma once

#include "db/sqlite/engine_only.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/db_error.h"
#include "db/sqlite/schema.h"

struct sqlite3;
struct sqlite3_context;
struct sqlite3_value;

namespace qv::db::sqlite {

class Statement;

// The oldest engine that runs the views the setup creates (RIGHT JOIN).
inline constexpr int kOldestEngineVersion = 3039000;

// Raises, naming both versions, when the engine `versionNumber` (as
// sqlite3_libversion_number gives it) is older than kOldestEngineVersion: a
// binary that meets an older library at run time fails every open rather
// than report success over views it could not create.
void CheckEngineVersion(int versionNumber, const std::string& versionText);

class Session {
 public:
  // Opens an existing database file for reading and writing; never creates
  // one. Raises the engine's error, naming the file, when the file cannot be
  // opened, is not a database or stays locked past `busyTimeoutMs`.
  static std::shared_ptr<Session> Open(const std::string& path, int busyTimeoutMs);

  struct Token {};  // only Open makes sessions
  explicit Session(Token);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session();

  bool isOpen() const { return db_ != nullptr; }
  sqlite3* db() const;  // raises "object closed" after Close

  // Runs statements of the backend's own that return no rows.
  void Exec(const std::string& sql);

  // The engine's side of BeginTrans, CommitTrans and RollbackTrans; the
  // connection refuses them first where no transaction may begin or end
  // (connection_base.h). A failed Commit leaves the transaction open.
  void Begin();
  void Commit();
  void Rollback();
  bool inTransaction() const { return transactionOpen_; }
  // Whether the engine has rolled back the transaction already: after some
  // failures (a full disk, an I/O error) it ends the transaction itself.
  bool TransactionLost();
  // Called before every statement: starts the engine transaction of an open
  // BeginTrans with the write lock, or raises when the engine has already
  // abandoned it.
  void BeforeStatement();
  // Called before a statement that may write: a transaction that never
  // wrote ends without a commit, so that it leaves the file as it was.
  void BeforeWrite();

  // Rolls back what is not committed and closes the file. Never raises.
  void Close() noexcept;

  // The columns of table `table` (matched without regard to case; empty for
  // a missing table), read from the schema once per schema version: a row
  // set reads them at every Requery, and reading them costs far more than
  // the one-row check of the version.
  const std::vector<ColumnInfo>& Columns(const std::string& table);

  // The conversion failure of the last failing qv_convert call, taken once.
  std::optional<DbError> TakeConversionError();

 private:
  friend class Savepoint;
  struct Closer {
    void operator()(sqlite3* db) const;
  };
  static void Convert(sqlite3_context* context, int argc, sqlite3_value** argv);

  std::unique_ptr<sqlite3, Closer> db_;
  // The file the handle was opened on, for handing it to the next open of
  // the same file (see Close); an empty path is never handed on.
  std::string path_;
  unsigned long long device_ = 0;
  unsigned long long inode_ = 0;
  bool transactionOpen_ = false;        // BeginTrans called, not yet ended
  bool transactionBegun_ = false;       // the engine's BEGIN has run
  bool transactionWrote_ = false;       // a statement that may write has run in it
  std::optional<DbError> lockFailure_;  // why the open transaction could not begin
  int savepoints_ = 0;
  std::optional<DbError> conversionError_;
  // Columns by lower-case table name, valid for schema version
  // columnsVersion_; emptied whenever a transaction or savepoint ends, since
  // a rollback can take the version back to a number that a later change
  // reuses.
  std::map<std::string, std::vector<ColumnInfo>> columns_;
  int64_t columnsVersion_ = -1;
  std::unique_ptr<Statement> schemaVersion_;
  void ForgetColumns();
  void ForgetTransaction();  // no transaction open any more
};

// Makes one operation all-or-nothing inside whatever transaction is open:
// undone at the end of the scope unless released.
class Savepoint {
 public:
  explicit Savepoint(Session& session);
  Savepoint(const Savepoint&) = delete;
  Savepoint& operator=(const Savepoint&) = delete;
  ~Savepoint();
  void Release();

 private:
  Session& session_;
  std::string name_;
  bool done_ = false;
};

}  // namespace qv::db::sqlite

// The database interface that every database routine of the setup calls: a
// connection with one transaction at a time, statement execution, an error
// list, the two schema queries, and row sets with batch-optimistic updates.
//
// Every failing operation raises DbError. Objects are created by the routine
// that uses them and released before it returns; a row set must not outlive
// the connection it was opened on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/diagnostics.h"
#include "db/db_error.h"
#include "db/value.h"

namespace qv::db {

enum class CursorType { kForwardOnly = 0, kKeyset = 1, kStatic = 3 };
enum class LockType { kReadOnly = 1, kBatchOptimistic = 4 };
enum class TableKind { kTable, kView };

// An entry of a connection's error list: something the engine reported for
// the last operation without failing it.
struct ErrorEntry {
  int32_t number = 0;
  std::string description;
};

// A row set over a whole table (opened by Connection::OpenTable) or over the
// rows of a query (returned by Connection::Execute, read-only).
//
// Rows are in key order. Batch-optimistic editing: AddNew appends a pending
// row and makes it current; SetField assigns with the column's conversion
// (and raises when the value does not convert); Update keeps the current
// row's edits pending; UpdateBatch sends every pending row and edit to the
// database inside the connection's transaction; CancelBatch discards them.
// Requery reads the rows again, so MoveLast then stands on the row with the
// highest key, which is the row just added for a counter key.
class Recordset {
 public:
  virtual ~Recordset() = default;

  virtual void AddNew() = 0;
  virtual void SetField(const std::string& name, const Value& value) = 0;
  virtual Value Field(const std::string& name) const = 0;
  virtual void Update() = 0;
  virtual void UpdateBatch() = 0;
  virtual void CancelBatch() = 0;
  virtual void Requery() = 0;
  virtual void MoveFirst() = 0;
  virtual void MoveNext() = 0;
  virtual void MoveLast() = 0;
  virtual bool Eof() const = 0;
  virtual int64_t RecordCount() const = 0;
  virtual void Close() = 0;
};

class Connection {
 public:
  virtual ~Connection() = default;

  virtual void BeginTrans() = 0;
  virtual void CommitTrans() = 0;
  virtual void RollbackTrans() = 0;

  // Runs exactly one statement, written in the desktop engine's dialect.
  // Text after the first statement is an error, never a second statement.
  // A query returns its rows; any other statement returns nullptr.
  virtual std::unique_ptr<Recordset> Execute(const std::string& statement) = 0;

  // What the engine reported for the last operation without failing it.
  virtual const std::vector<ErrorEntry>& Errors() const = 0;

  // Schema queries: names of base tables or views, in the engine's order;
  // names of a table's columns, optionally only the one named `column`.
  // Names match without regard to letter case; results keep the stored case.
  virtual std::vector<std::string> TableNames(TableKind kind) = 0;
  virtual std::vector<std::string> ColumnNames(const std::string& table,
                                               const std::string& column = "") = 0;

  // Opens a whole table (a bare table name) as an updatable row set.
  virtual std::unique_ptr<Recordset> OpenTable(const std::string& table, CursorType cursor,
                                               LockType lock) = 0;

  // Assigns, in every row of `table`, the value of column `from` to column
  // `to` with the conversions of Recordset::SetField, in time linear in the
  // rows and without holding the table in memory. Raises the conversion
  // error, and changes nothing, when any value does not convert.
  virtual void CopyColumn(const std::string& table, const std::string& from,
                          const std::string& to) = 0;

  virtual void Close() = 0;
};

// A hold that keeps runs on one database apart, released when destroyed.
class RunLock {
 public:
  virtual ~RunLock() = default;
  // Called before each step: takes the lock again when it was lost (the
  // server closed the session that held it) or could not be taken yet,
  // waiting for any run that holds it meanwhile. Raises RunRefused as
  // Connector::HoldRunLock does.
  virtual void KeepHeld() {}
};

// Raised where a run must not go on at all, because runs could not take
// turns: the reason has been said on the connector's diagnostics.
class RunRefused : public DbError {
 public:
  using DbError::DbError;
};

// Opens connections, and does what a run needs of a data source besides a
// connection: a backup and a lock. The default connector looks data sources
// up in the odbc.ini files; tests and fault injection wrap or replace it. A
// connector that does not override the data-source operations keeps every
// database in a file.
class Connector {
 public:
  explicit Connector(const Diagnostics& diagnostics) : diagnostics_(diagnostics) {}
  virtual ~Connector() = default;

  // Where the routines that work through this connector say what the
  // administrator must learn although no box says it.
  const Diagnostics& diagnostics() const { return diagnostics_; }

  // `connectionString` is a bare data-source name or "key=value;" pairs.
  // Raises DbError when the connection cannot be opened.
  virtual std::unique_ptr<Connection> Open(const std::string& connectionString,
                                           const std::string& user,
                                           const std::string& password) = 0;

  // Backs up the database of `dataSource` under the new name `to` plus the
  // engine's extension, before a run changes it: a database in a file as a
  // copy of `file` (the installation's database file) with whatever SQLite
  // needs beside it to open the copy whole, "<to>.mdb"; one on a server as
  // a dump, "<to>.dump". The backup is complete and flushed to disk before
  // it takes its name, and never replaces anything. Returns false, having
  // said why on diagnostics() and left nothing at `to`, when none was made.
  virtual bool BackUp(const std::string& dataSource, const std::string& file,
                      const std::string& to);

  // Checks the backup that BackUp made of `dataSource` as `from` (the name
  // it was given, without the extension) before anything is restored from
  // it: there, of this data source's engine, and complete and readable to
  // its last byte. Reads only. Raises DbError saying what is wrong.
  virtual void VerifyBackup(const std::string& dataSource, const std::string& from);

  // Who else uses the database of `dataSource` (`file` for one in a file):
  // a line naming each (a process, a server session). What could not be
  // looked at is said on diagnostics(). This process and runs waiting for
  // the run lock it holds are left out. Raises DbError when it cannot look.
  virtual std::vector<std::string> OtherUsers(const std::string& dataSource,
                                              const std::string& file);

  // Replaces the database of `dataSource` (`file` for one in a file) with
  // what the backup `from` holds, whole or not at all: killed midway, the
  // database is the old one or the restored one, never a mixture. The
  // caller holds the run lock, has verified the backup and found no other
  // users. Raises DbError with the reason.
  virtual void Restore(const std::string& dataSource, const std::string& file,
                       const std::string& from);

  // Waits until no other run, from this machine or another, holds the run
  // lock of the database of `dataSource`, and takes it until the result is
  // destroyed or the process ends; the databases of `guarded` are written
  // under it too. A wait is said once on diagnostics(), naming who holds
  // the lock. Null for a database in a file: a lock file beside it does
  // that. Raises DbError when the data source cannot be looked up, and
  // RunRefused when runs cannot take turns through the connection.
  virtual std::unique_ptr<RunLock> HoldRunLock(const std::string& dataSource,
                                               const std::vector<std::string>& guarded = {});

  // Called once when a run ends: says on diagnostics() what the run leaves
  // for the administrator to do by hand.
  virtual void RunEnded() {}

 private:
  const Diagnostics& diagnostics_;
};

inline constexpr int kDefaultBusyTimeoutMs = 5000;

// The connector of a real run: data sources from $ODBCINI, ~/.odbc.ini or
// /etc/odbc.ini (odbc_ini.h), looked up at each Open; statements wait 5 s
// for a lock held elsewhere.
std::unique_ptr<Connector> MakeDataSourceConnector(const Diagnostics& diagnostics);

// A connector that reads `odbcIniPath` (as if $ODBCINI named it, without a
// system file) at each Open and lets statements wait `busyTimeoutMs` for a
// lock held elsewhere.
std::unique_ptr<Connector> MakeDataSourceConnector(const std::string& odbcIniPath,
                                                   int busyTimeoutMs,
                                                   const Diagnostics& diagnostics);

}  // namespace qv::db

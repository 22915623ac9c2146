// The database interface that every database routine of the setup calls: a
// connection with one transaction at a time, statement execution, an error
// list, the two schema queries, and row sets with batch-optimistic updates.
// An engine implements it by deriving its connection from ConnectionBase or
// SessionConnection (connection_base.h) and its row sets from RowSetBase
// (rowset_base.h), which keep the rules below that need no engine; conversions
// are in conversion.h, the dialect translation in dialect.h.
//
// Every failing operation raises DbError: the engine's number and message
// for what the engine refuses (the same number for every failed statement
// of one engine), the classic numbers of db_error.h for the rest. A failing
// operation changes nothing (but see a transaction that the engine
// abandons, below). Objects are created by
// the routine that uses them and released before it returns; a row set must
// not outlive the connection it was opened on. Names of tables, columns and
// views match without regard to case, and results keep the stored case.
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
// The one lock type the design uses (4). Row sets of queries are read-only
// whatever is asked; no caller opens a table read-only.
enum class LockType { kBatchOptimistic = 4 };
enum class TableKind { kTable, kView };

// An entry of a connection's error list (Connection::Errors).
struct ErrorEntry {
  int32_t number = 0;
  std::string description;
};

// A row set over a whole table (opened by Connection::OpenTable) or over the
// rows of a query (returned by Connection::Execute, read-only: AddNew,
// SetField, Update and UpdateBatch raise 3251).
//
// Rows are in key order. Batch-optimistic editing: AddNew appends a pending
// row and makes it current; SetField assigns at once with the column's
// conversion (below) and keeps the value pending; Update keeps the current
// row's edits pending; UpdateBatch sends every pending row and edit to the
// database, all or nothing, inside the connection's transaction when one is
// open (else in a transaction of its own), and reads the keys of added rows
// back; CancelBatch discards what is pending. Requery reads the rows again,
// so MoveLast then stands on the row with the highest key, which is the row
// just added for a counter key. A row changed since it was read is found
// again by its key; one deleted meanwhile fails the batch (-2147217864).
//
// SetField converts by the column's declared type (ConvertForColumn):
// text into an integer column becomes the number it spells, else raises 13
// "Type mismatch"; a number outside the column's range raises 6 "Overflow";
// date-time text (such as "1999/3/5 14:7:9") or a date into a DATETIME,
// DATE or TIMESTAMP column is stored as "YYYY-MM-DD HH:MM:SS", other text
// raises 13; a yes/no column (BIT, YESNO, BOOLEAN) stores 1 or 0; null stays
// null. Field reads a date-time column back as a date.
//
// Errors: a name the row set lacks raises 3265; Field, SetField, Update and
// MoveNext with no current row raise 3021; everything after Close, or after
// the connection's Close, raises 3704.
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

// A connection to one database, with at most one transaction open.
//
// Transactions. BeginTrans itself holds nothing and takes no lock. The
// engine's transaction begins at a statement after it, at the latest at the
// first statement that may write (Execute, UpdateBatch, CopyColumn), and
// from there until it ends holds the write locks of what it changes: a
// database or row in use elsewhere makes that statement fail after the busy
// timeout, never hang, and never the commit. Engines may differ in when it
// begins and in how much it locks. The embedded engine begins at the first
// call after BeginTrans that reads the database (TableNames, ColumnNames and
// OpenTable included) and takes the whole database's write lock there: no
// other connection writes it (nor, with the rollback journal, reads it)
// until the transaction ends, and when the lock cannot be had that call and
// every later one of the transaction fail. The server begins at the first
// statement that may write; the reads before it run on their own and see
// what other connections commit meanwhile. Outside a transaction every
// statement commits on its own.
//
// Inside a transaction a failing statement undoes only itself and the
// transaction goes on. The embedded engine abandons the whole transaction
// after a few failures (a full disk, an I/O error); every later statement
// of it then fails, and so does the commit.
//
// Every operation first raises 3704 "object closed" once Close has run. The
// transaction calls raise the engine's number for a failed statement with
// these texts, and change nothing, where the transaction may not begin or
// end:
//   "cannot start a transaction within a transaction"
//   "cannot commit - no transaction is active"
//   "cannot commit - the transaction was rolled back after an earlier error"
//   "cannot rollback - no transaction is active"
class Connection {
 public:
  // Destroying an open connection closes it (Close).
  virtual ~Connection() = default;

  virtual void BeginTrans() = 0;
  // Makes everything since BeginTrans durable and ends the transaction. A
  // commit that raises has saved nothing (only a server connection that
  // breaks during the commit leaves its outcome unknown) and leaves the
  // transaction open: RollbackTrans or Close then discards it. So does the
  // refusal of a transaction that the engine abandoned.
  virtual void CommitTrans() = 0;
  // Undoes everything since BeginTrans, schema changes included, and ends
  // the transaction. Raises only the engine's error when the rollback itself
  // fails (a broken server connection); nothing of the transaction is then
  // committed either.
  virtual void RollbackTrans() = 0;

  // Runs exactly one statement, written in the desktop engine's dialect
  // (translated as dialect.h says). Before anything runs it refuses, in this
  // order: anything but blanks, semicolons and comments after the first
  // statement (3142 "Characters found after end of SQL statement.", never a
  // second statement); text with no statement ("the statement is empty");
  // a transaction-control statement (BEGIN, COMMIT, ROLLBACK, SAVEPOINT ...:
  // "transactions are begun and ended by BeginTrans, CommitTrans and
  // RollbackTrans, not by statements"); the last two with the engine's
  // number for a failed statement. CREATE VIEW fails when the view does not
  // compile against the tables; ALTER TABLE ... DROP COLUMN is not blocked
  // by views that read the column (design section 5; on the server such a
  // view is replaced by a stand-in that fails when used). A query returns
  // its rows as a read-only row set; any other statement returns nullptr.
  virtual std::unique_ptr<Recordset> Execute(const std::string& statement) = 0;

  // What the engine reported for the last operation without failing it;
  // ExecuteSQL rolls a statement back when this is not empty. Always empty
  // on both engines, and an engine on ConnectionBase cannot fill it: SQLite
  // reports nothing on an operation but its failure, and a server's NOTICE or
  // WARNING ("... does not exist, skipping") is information, never an
  // error: it must not fail a statement nor appear here. The list stays in
  // the interface because the design's ExecuteSQL reads it.
  virtual const std::vector<ErrorEntry>& Errors() const = 0;

  // Schema queries: names of base tables or views, in the engine's order;
  // names of a table's columns, optionally only the one named `column`
  // (empty for a missing table or column).
  virtual std::vector<std::string> TableNames(TableKind kind) = 0;
  virtual std::vector<std::string> ColumnNames(const std::string& table,
                                               const std::string& column = "") = 0;

  // Opens a whole table (a bare table name) as an updatable row set; the
  // cursor types behave alike. Raises the engine's error for a missing table.
  virtual std::unique_ptr<Recordset> OpenTable(const std::string& table, CursorType cursor,
                                               LockType lock) = 0;

  // Assigns, in every row of `table`, the value of column `from` to column
  // `to` with the conversions of Recordset::SetField, in time linear in the
  // rows and without holding the table in memory. Raises the conversion
  // error (naming the value and its row), and changes nothing, when any
  // value does not convert; 3265 for a missing column.
  virtual void CopyColumn(const std::string& table, const std::string& from,
                          const std::string& to) = 0;

  // Rolls back whatever the open transaction holds and closes. Every later
  // call on the connection or its row sets raises 3704, Close included.
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

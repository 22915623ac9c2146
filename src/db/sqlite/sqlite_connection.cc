#include "db/sqlite/sqlite_connection.h"

#include <optional>
#include <string>
#include <vector>

#include "db/dialect.h"
#include "db/sqlite/rowset.h"
#include "db/sqlite/schema.h"
#include "db/sqlite/session.h"
#include "db/sqlite/sqlite_error.h"
#include "db/sqlite/statement.h"
#include "db/sqlite/table_recordset.h"

namespace qv::db::sqlite {
namespace {

class SqliteConnection : public Connection {
 public:
  explicit SqliteConnection(std::shared_ptr<Session> session) : session_(std::move(session)) {}
  ~SqliteConnection() override { session_->Close(); }

  void BeginTrans() override {
    Start();
    session_->Begin();
  }
  void CommitTrans() override {
    Start();
    session_->Commit();
  }
  void RollbackTrans() override {
    Start();
    session_->Rollback();
  }

  std::unique_ptr<Recordset> Execute(const std::string& statement) override;

  const std::vector<ErrorEntry>& Errors() const override { return errors_; }

  std::vector<std::string> TableNames(TableKind kind) override {
    return ObjectNames(StartStatement(), kind);
  }

  std::vector<std::string> ColumnNames(const std::string& table,
                                       const std::string& column) override {
    StartStatement();
    return ColumnNamesOf(session_->Columns(table), column);
  }

  std::unique_ptr<Recordset> OpenTable(const std::string& table, CursorType /*cursor*/,
                                       LockType lock) override {
    // Static, keyset and forward-only cursors behave alike over rows held in memory.
    std::optional<std::string> stored = FindTable(StartStatement(), table);
    if (!stored) throw BackendError("no such table: " + table);
    return std::make_unique<TableRecordset>(session_, *stored, lock);
  }

  void CopyColumn(const std::string& table, const std::string& from,
                  const std::string& to) override;

  void Close() override {
    Start();
    session_->Close();
  }

 private:
  // Every operation starts here: the engine handle, and an error list that
  // only ever reports on the operation at hand.
  sqlite3* Start() {
    errors_.clear();
    return session_->db();
  }
  // Every statement starts here: inside BeginTrans it first takes the
  // database's write lock.
  sqlite3* StartStatement() {
    sqlite3* db = Start();
    session_->BeforeStatement();
    return db;
  }
  void CreateView(Statement& create, const std::string& view, const std::string& schema);
  void AlterKeepingViews(const std::string& sql);

  std::shared_ptr<Session> session_;
  std::vector<ErrorEntry> errors_;
};

std::unique_ptr<Recordset> SqliteConnection::Execute(const std::string& statement) {
  sqlite3* db = StartStatement();
  Translation translated = TranslateDialect(statement, EngineSchema(db));
  if (translated.kind == StatementKind::kTransactionControl) {
    throw BackendError(
        "transactions are begun and ended by BeginTrans, CommitTrans and "
        "RollbackTrans, not by statements");
  }
  Statement stmt(db, translated.sql);
  if (stmt.empty()) throw BackendError("the statement is empty");
  // One statement only: whatever follows it is refused before anything runs.
  if (!OnlyBlanksAndComments(stmt.tail())) {
    throw DbError(kErrCharactersAfterStatement, "Characters found after end of SQL statement.");
  }
  if (!stmt.readOnly()) session_->BeforeWrite();
  switch (translated.kind) {
    case StatementKind::kCreateView:
      CreateView(stmt, translated.target, translated.targetSchema);
      return nullptr;
    case StatementKind::kAlterTableColumns:
      AlterKeepingViews(translated.sql);
      return nullptr;
    default:
      break;
  }
  if (stmt.ColumnCount() > 0)
    return std::make_unique<QueryRecordset>(session_, stmt, translated.sql);
  stmt.Run();
  return nullptr;
}

// A view is a saved query: it must compile against the tables as they are
// now, which the engine itself checks only when the view is used. Listing
// its columns resolves every name in it, as a query would, without the
// query planning that a query over a view of several joins costs.
void SqliteConnection::CreateView(Statement& create, const std::string& view,
                                  const std::string& schema) {
  Savepoint savepoint(*session_);
  create.Run();
  // A failing compile raises here, and the savepoint takes the view away.
  Statement check(session_->db(),
                  "PRAGMA " + (schema.empty() ? "" : schema + ".") + "table_info(" + view + ")");
  check.Run();
  savepoint.Release();
}

// The engine refuses to add or drop a column while a view that uses it, or
// any view that no longer compiles, exists. Saved queries do not block a
// schema change, so the views are kept as text across it: dropped (which
// takes their INSTEAD OF triggers with them), the change made, and views and
// triggers re-created from their stored text, all in one savepoint. A view
// that used a dropped column stays broken until it is re-created.
void SqliteConnection::AlterKeepingViews(const std::string& sql) {
  sqlite3* db = session_->db();
  Savepoint savepoint(*session_);
  std::vector<StoredView> views = StoredViews(db);
  for (const StoredView& view : views) {
    if (!view.isTrigger) session_->Exec("DROP VIEW " + QuoteName(view.name));
  }
  Statement(db, sql).Run();
  for (const StoredView& view : views) session_->Exec(view.sql);
  savepoint.Release();
}

void SqliteConnection::CopyColumn(const std::string& table, const std::string& from,
                                  const std::string& to) {
  sqlite3* db = StartStatement();
  std::optional<std::string> stored = FindTable(db, table);
  if (!stored) throw BackendError("no such table: " + table);
  const std::vector<ColumnInfo> columns = session_->Columns(*stored);
  const ColumnInfo& source = columns[ColumnIndex(columns, from)];
  const ColumnInfo& target = columns[ColumnIndex(columns, to)];
  // One statement through the same conversion as SetField: linear in the
  // rows, nothing held in memory, and a failing value stops it unchanged.
  const std::string key = RowKeyName(columns, "rowid");  // names a failing value's row
  Statement update(db, "UPDATE " + QuoteName(*stored) + " SET " + QuoteName(target.name) +
                           " = qv_convert(" + QuoteName(source.name) + ", ?1, ?2, " +
                           QuoteName(key) + ", ?3)");
  update.Bind(1, Value(source.declaredType));
  update.Bind(2, Value(target.declaredType));
  update.Bind(3, Value(key));
  Savepoint savepoint(*session_);
  session_->TakeConversionError();
  try {
    update.Run();
  } catch (const DbError&) {
    if (std::optional<DbError> conversion = session_->TakeConversionError()) throw *conversion;
    throw;
  }
  savepoint.Release();
}

}  // namespace

std::unique_ptr<Connection> OpenConnection(const std::string& path, int busyTimeoutMs) {
  return std::make_unique<SqliteConnection>(Session::Open(path, busyTimeoutMs));
}

}  // namespace qv::db::sqlite

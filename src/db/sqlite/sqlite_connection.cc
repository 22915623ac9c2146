#include "db/sqlite/sqlite_connection.h"

#include <optional>
#include <string>
#include <vector>

#include "db/connection_base.h"
#include "db/dialect.h"
#include "db/sqlite/schema.h"
#include "db/sqlite/session.h"
#include "db/sqlite/sqlite_error.h"
#include "db/sqlite/sqlite_rowsets.h"
#include "db/sqlite/statement.h"
#include "db/sqlite/table_recordset.h"

namespace qv::db::sqlite {
namespace {

class SqliteConnection : public SessionConnection<Session> {
 public:
  using SessionConnection::SessionConnection;

  std::vector<std::string> TableNames(TableKind kind) override {
    StartStatement();
    return ObjectNames(session_->db(), kind);
  }

  std::vector<std::string> ColumnNames(const std::string& table,
                                       const std::string& column) override {
    StartStatement();
    return ColumnNamesOf(session_->Columns(table), column);
  }

  std::unique_ptr<Recordset> OpenTable(const std::string& table, CursorType /*cursor*/,
                                       LockType /*lock*/) override {
    // Static, keyset and forward-only cursors behave alike over rows held in memory.
    StartStatement();
    return std::make_unique<TableRecordset>(session_, StoredName(table));
  }

 private:
  class Prepared;

  // Inside BeginTrans the first statement takes the database's write lock.
  void BeforeStatement() override { session_->BeforeStatement(); }
  DbError Refusal(const std::string& description) const override {
    return BackendError(description);
  }

  std::unique_ptr<PreparedStatement> Prepare(const std::string& statement) override;

  StoredTable FindStoredTable(const std::string& table) override {
    std::string stored = StoredName(table);
    return {stored, session_->Columns(stored)};
  }
  void CopyValues(const StoredTable& table, const ColumnInfo& source,
                  const ColumnInfo& target) override;

  std::string StoredName(const std::string& table) {
    std::optional<std::string> stored = FindTable(session_->db(), table);
    if (!stored) throw BackendError("no such table: " + table);
    return *stored;
  }
  void CreateView(Statement& create, const std::string& view, const std::string& schema);
  void AlterKeepingViews(const std::string& sql);
};

// The engine compiles the first statement of the translated text, and tells
// where it ends.
class SqliteConnection::Prepared : public PreparedStatement {
 public:
  Prepared(SqliteConnection& connection, Translation translation)
      : PreparedStatement(std::move(translation)),
        connection_(connection),
        stmt_(connection.session_->db(), translated.sql) {
    empty = stmt_.empty();
    rest = stmt_.tail();
  }

  std::unique_ptr<Recordset> Run() override {
    if (!stmt_.readOnly()) connection_.session_->BeforeWrite();
    switch (translated.kind) {
      case StatementKind::kCreateView:
        connection_.CreateView(stmt_, translated.target, translated.targetSchema);
        return nullptr;
      case StatementKind::kAlterTableColumns:
        connection_.AlterKeepingViews(translated.sql);
        return nullptr;
      default:
        break;
    }
    if (stmt_.ColumnCount() > 0)
      return std::make_unique<QueryRecordset>(connection_.session_, stmt_, translated.sql);
    stmt_.Run();
    return nullptr;
  }

 private:
  SqliteConnection& connection_;
  Statement stmt_;  // on the text of `translated`, as `rest` is
};

std::unique_ptr<ConnectionBase::PreparedStatement> SqliteConnection::Prepare(
    const std::string& statement) {
  sqlite3* db = session_->db();
  return std::make_unique<Prepared>(*this, TranslateDialect(statement, EngineSchema(db)));
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

void SqliteConnection::CopyValues(const StoredTable& table, const ColumnInfo& source,
                                  const ColumnInfo& target) {
  sqlite3* db = session_->db();
  const std::vector<ColumnInfo>& columns = table.columns;
  // One statement through the same conversion as SetField: linear in the
  // rows, nothing held in memory, and a failing value stops it unchanged.
  const std::string key = RowKeyName(columns, "rowid");  // names a failing value's row
  Statement update(db, "UPDATE " + QuoteName(table.name) + " SET " + QuoteName(target.name) +
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

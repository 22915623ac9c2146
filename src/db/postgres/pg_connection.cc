#include "db/postgres/pg_connection.h"

#include <optional>
#include <string>
#include <vector>

#include "base/names.h"
#include "db/connection_base.h"
#include "db/postgres/pg_dialect.h"
#include "db/postgres/pg_error.h"
#include "db/postgres/pg_recordset.h"
#include "db/postgres/pg_schema.h"
#include "db/postgres/pg_stand_ins.h"

namespace qv::db::postgres {
namespace {

// Rows fetched and written back at a time by CopyColumn.
constexpr int kCopyBatch = 500;

// Statements that only read run outside a transaction that has not written
// yet, and run again on Requery.
bool OnlyReads(std::string_view sql) {
  std::vector<Token> tokens = Tokenize(sql);
  TokenReader r(sql, tokens);
  bool query = false;
  for (const char* word : {"SELECT", "VALUES", "TABLE", "SHOW"}) query = query || r.IsWord(0, word);
  // SELECT ... INTO makes a table.
  for (size_t n = 1; query && n < r.size(); ++n) query = !r.IsWord(n, "INTO");
  return query;
}

// The length of the first statement of `sql`, up to its semicolon.
size_t FirstStatementLength(std::string_view sql) {
  for (const Token& t : Tokenize(sql)) {
    if (t.kind == TokenKind::kSymbol && sql[t.begin] == ';') return t.begin;
  }
  return sql.size();
}

class ServerConnection : public SessionConnection<Session> {
 public:
  ServerConnection(std::shared_ptr<Session> session, const Diagnostics& diagnostics)
      : SessionConnection(std::move(session)), diagnostics_(diagnostics) {}

  std::vector<std::string> TableNames(TableKind kind) override {
    StartStatement();
    return ObjectNames(*session_, kind);
  }

  std::vector<std::string> ColumnNames(const std::string& table,
                                       const std::string& column) override {
    StartStatement();
    return ColumnNamesOf(TableColumns(*session_, table), column);
  }

  std::unique_ptr<Recordset> OpenTable(const std::string& table, CursorType /*cursor*/,
                                       LockType /*lock*/) override {
    // Static, keyset and forward-only cursors behave alike over rows held in memory.
    StartStatement();
    StoredTable found = FindStoredTable(table);
    return std::make_unique<TableRecordset>(session_, found.name, std::move(found.columns));
  }

 private:
  class Prepared;

  DbError Refusal(const std::string& description) const override {
    return BackendError(description);
  }

  std::unique_ptr<PreparedStatement> Prepare(const std::string& statement) override;

  StoredTable FindStoredTable(const std::string& table) override {
    std::optional<FoundTable> found = FindTable(*session_, table);
    if (!found) throw BackendError("relation \"" + table + "\" does not exist");
    return {std::move(found->name), std::move(found->columns)};
  }
  void CopyValues(const StoredTable& table, const ColumnInfo& source,
                  const ColumnInfo& target) override;

  void AlterDroppingViews(const std::string& sql, const std::string& table);

  const Diagnostics& diagnostics_;
};

// The first statement, up to its semicolon, translated; nothing is sent
// until it runs.
class ServerConnection::Prepared : public PreparedStatement {
 public:
  Prepared(ServerConnection& connection, Translation translation)
      : PreparedStatement(std::move(translation)), connection_(connection) {}

  std::unique_ptr<Recordset> Run() override {
    if (translated.kind == StatementKind::kAlterTableColumns) {
      connection_.AlterDroppingViews(translated.sql, translated.target);
      return nullptr;
    }
    // Reads run on their own until the transaction has written.
    Session& session = *connection_.session_;
    bool reads = OnlyReads(translated.sql);
    Result result = reads ? session.Exec(translated.sql) : session.Write(translated.sql);
    if (!result.returnsRows()) return nullptr;
    return std::make_unique<QueryRecordset>(connection_.session_, result, translated.sql, reads);
  }

 private:
  ServerConnection& connection_;
};

std::unique_ptr<ConnectionBase::PreparedStatement> ServerConnection::Prepare(
    const std::string& statement) {
  const size_t length = FirstStatementLength(statement);
  const std::string first = statement.substr(0, length);
  const std::string_view rest = std::string_view(statement).substr(length);
  const bool empty = OnlyBlanksAndComments(first);
  // Text that is refused anyway is not translated: that could read the catalog.
  std::unique_ptr<Prepared> prepared = std::make_unique<Prepared>(
      *this, empty || !OnlyBlanksAndComments(rest)
                 ? Translation()
                 : TranslateDialect(first, ServerSchema(*session_), ServerDialect()));
  prepared->empty = empty;
  prepared->rest = rest;
  return prepared;
}

// The server refuses to drop a column that a view reads. A saved query
// would not block the change, so such views, and the views that read them,
// are dropped with it in one step, and each is named with its definition on
// the run's diagnostics when the run ends, for an administrator to write again. Views that do not
// read the column are not touched. An index on the column blocks the drop,
// as on the embedded engine: the server would drop the index silently.
void ServerConnection::AlterDroppingViews(const std::string& sql, const std::string& table) {
  Session& session = *session_;
  std::optional<FoundTable> found = FindTable(session, table);
  std::vector<DependentView> dropped;
  Savepoint savepoint(session);
  if (found) {
    const std::vector<ColumnInfo>& columns = found->columns;
    for (const std::string& written : DroppedColumns(sql)) {
      std::string column = written;
      for (const ColumnInfo& info : columns) {
        if (EqualsNoCase(info.name, written)) column = info.name;
      }
      if (std::optional<std::string> index = IndexOnColumn(session, found->name, column)) {
        throw BackendError("cannot drop column " + column + " of table " + found->name +
                           " because index " + *index + " depends on it");
      }
      for (DependentView& view : ViewsReadingColumn(session, found->name, column)) {
        if (!view.readsColumn.empty())
          session.Exec("DROP VIEW IF EXISTS " + QuoteName(view.name) + " CASCADE");
        dropped.push_back(std::move(view));
      }
    }
  }
  ExecAlterTable(session, sql, found ? found->name : "", diagnostics_);
  // On the desktop engine such a view outlives the change as a saved query
  // that fails when used, until a later step drops and replaces it. The
  // server cannot keep a view that reads a missing column, so a view of the
  // same name takes its place, and using it fails with the reason; a later
  // DROP TABLE of it succeeds, in this run or the next, as it does on files.
  auto why = [&](const DependentView& view) {
    return view.readsColumn.empty()
               ? "depended on view " + view.dependsOn
               : "read column " + view.readsColumn + " of table " + found->name;
  };
  for (const DependentView& view : dropped) {
    std::string reason =
        "view " + view.name + " " + why(view) + ", which was dropped: create the view again";
    std::string literal;
    for (char c : reason) literal += c == '\'' ? "''" : std::string(1, c);
    session.Exec("CREATE VIEW " + QuoteName(view.name) + " AS SELECT CAST(CAST('" + literal +
                 "' AS text) AS integer) AS " + kStandInColumn);
  }
  savepoint.Release();
  // Named when the run ends, if still stand-ins then: a later step may
  // create the view again, and a transaction rolled back leaves none.
  std::vector<StandIn> standIns;
  for (const DependentView& view : dropped) {
    standIns.push_back(StandIn{view.name, why(view), view.definition});
  }
  if (!standIns.empty()) {
    session.AfterCommit(
        [address = session.address(), standIns] { RememberStandIns(address, standIns); });
  }
}

void ServerConnection::CopyValues(const StoredTable& table, const ColumnInfo& source,
                                  const ColumnInfo& target) {
  Session& session = *session_;
  const std::string& stored = table.name;
  const std::vector<ColumnInfo>& columns = table.columns;
  // Between columns of one type the conversion is the identity (into a
  // yes/no column a value becomes 1 or 0), which the server applies to every
  // row in one statement, as fast as the server itself can copy. So it is
  // between yes/no and smallint, both smallint to the server: a database
  // laid out from the design's types alone has plain smallint yes/no columns.
  const ColumnKind kind = source.kind;
  auto smallint = [](ColumnKind k) { return k == ColumnKind::kInt16 || k == ColumnKind::kYesNo; };
  if ((target.kind == kind && target.declaredType == source.declaredType &&
       (kind == ColumnKind::kInt32 || kind == ColumnKind::kInt64 || kind == ColumnKind::kText)) ||
      (smallint(kind) && smallint(target.kind))) {
    const std::string value = QuoteName(source.name);
    Savepoint savepoint(session);
    session.Exec("UPDATE " + QuoteName(stored) + " SET " + QuoteName(target.name) + " = " +
                 (target.kind == ColumnKind::kYesNo
                      ? "CASE WHEN " + value + " <> 0 THEN 1 WHEN " + value + " = 0 THEN 0 END"
                      : value));
    savepoint.Release();
    return;
  }
  // Otherwise a walk with a server-side cursor through the conversions of SetField:
  // linear in the rows, a batch at a time in memory, and a value that does
  // not convert raises its error with nothing changed. The cursor reads the
  // table as it was when declared, so rows written back are not read again.
  const std::string key = RowKeyName(columns, "ctid");  // names a failing value's row
  Savepoint savepoint(session);
  session.Exec("DECLARE qv_copy NO SCROLL CURSOR FOR SELECT ctid::text, " + QuoteName(source.name) +
               ", " + QuoteName(key) + " FROM " + QuoteName(stored));
  for (;;) {
    Result batch = session.Exec("FETCH " + std::to_string(kCopyBatch) + " FROM qv_copy");
    if (batch.rows() == 0) break;
    std::vector<Value> params;
    std::string rows;
    for (int r = 0; r < batch.rows(); ++r) {
      params.push_back(Value(batch.Text(r, 0)));
      const Value value = batch.Get(r, 1);
      try {
        params.push_back(ConvertForColumn(ReadStored(value, source.kind), target.kind));
      } catch (const DbError& e) {
        throw ConversionFailureAt(e, value, key, batch.Get(r, 2));
      }
      std::string n = std::to_string(params.size() - 1);
      rows += (r == 0 ? "($" : ", ($") + n + "::tid, $" + std::to_string(params.size()) + "::text)";
    }
    session.Exec("UPDATE " + QuoteName(stored) + " AS t SET " + QuoteName(target.name) +
                     " = v.value::" + target.declaredType + " FROM (VALUES " + rows +
                     ") AS v(id, value) WHERE t.ctid = v.id",
                 params);
  }
  session.Exec("CLOSE qv_copy");
  savepoint.Release();
}

}  // namespace

std::unique_ptr<Connection> OpenConnection(const ServerAddress& address, int busyTimeoutMs,
                                           const Diagnostics& diagnostics) {
  return std::make_unique<ServerConnection>(Session::Open(address, busyTimeoutMs), diagnostics);
}

}  // namespace qv::db::postgres

#include "db/sqlite/table_recordset.h"

#include <sqlite3.h>

#include <algorithm>

#include "db/dialect.h"
#include "db/sqlite/sqlite_error.h"
#include "db/sqlite/statement.h"

namespace qv::db::sqlite {

TableRecordset::TableRecordset(std::shared_ptr<Session> session, std::string table)
    : SessionRowSet(std::move(session)), table_(std::move(table)) {
  Read();
}

std::string TableRecordset::ColumnList() const {
  std::string list;
  for (const ColumnInfo& column : columns_) {
    if (!list.empty()) list += ", ";
    list += QuoteName(column.name);
  }
  return list;
}

Statement& TableRecordset::Prepared(const std::string& sql) {
  std::unique_ptr<Statement>& stmt = statements_[sql];
  if (stmt == nullptr) {
    stmt = std::make_unique<Statement>(session_->db(), sql);
  } else {
    stmt->Reset();
  }
  return *stmt;
}

namespace {

// Resets a kept statement when its use ends, so that it holds no read lock
// and no bound value between uses.
class ResetWhenDone {
 public:
  explicit ResetWhenDone(Statement& stmt) : stmt_(stmt) {}
  ResetWhenDone(const ResetWhenDone&) = delete;
  ResetWhenDone& operator=(const ResetWhenDone&) = delete;
  ~ResetWhenDone() { stmt_.Reset(); }

 private:
  Statement& stmt_;
};

}  // namespace

void TableRecordset::Read() {
  std::vector<ColumnInfo> columns = session_->Columns(table_);
  if (columns.empty()) throw BackendError("no such table: " + table_);
  columns_ = std::move(columns);

  const std::string order = KeyOrder(columns_, "rowid");

  Statement& stmt = Prepared("SELECT rowid, " + ColumnList() + " FROM " + QuoteName(table_) +
                             " ORDER BY " + order);
  ResetWhenDone done(stmt);
  std::vector<Row> rows;
  while (stmt.Step()) {
    Row row;
    row.rowid = stmt.Column(0).AsInteger();
    for (size_t i = 0; i < columns_.size(); ++i)
      row.values.push_back(stmt.Column(static_cast<int>(i) + 1));
    rows.push_back(std::move(row));
  }
  rows_ = std::move(rows);
  current_ = 0;
}

int64_t TableRecordset::Send(const Row& row) {
  sqlite3* db = session_->db();
  std::vector<size_t> assigned;
  for (size_t i = 0; i < row.edits.size(); ++i) {
    if (row.edits[i]) assigned.push_back(i);
  }
  std::string sql = WriteStatement(table_, columns_, row, "?");
  if (!row.isNew) sql += " WHERE rowid = ?" + std::to_string(assigned.size() + 1);
  Statement& stmt = Prepared(sql);
  ResetWhenDone done(stmt);
  int parameter = 1;
  for (size_t i : assigned) stmt.Bind(parameter++, *row.edits[i]);
  if (!row.isNew) stmt.Bind(parameter, Value(row.rowid));
  stmt.Run();
  if (row.isNew) return sqlite3_last_insert_rowid(db);
  if (sqlite3_changes(db) == 0) {
    throw DbError(kErrRowNotFoundForUpdate,
                  "Row cannot be located for updating. Some values may have been changed since "
                  "it was last read.");
  }
  return row.rowid;
}

std::vector<Value> TableRecordset::ReadRow(int64_t rowid) {
  Statement& stmt =
      Prepared("SELECT " + ColumnList() + " FROM " + QuoteName(table_) + " WHERE rowid = ?");
  ResetWhenDone done(stmt);
  stmt.Bind(1, Value(rowid));
  std::vector<Value> values;
  if (!stmt.Step()) return std::vector<Value>(columns_.size());
  for (size_t i = 0; i < columns_.size(); ++i) values.push_back(stmt.Column(static_cast<int>(i)));
  return values;
}

void TableRecordset::UpdateBatch() {
  CheckOpen();
  if (!HasPending()) return;
  CheckOpen();
  // Everything is sent and read back inside one savepoint; the rows change
  // in memory only once the whole batch is in the database.
  struct Sent {
    size_t row;
    int64_t rowid;
    std::vector<Value> values;
  };
  std::vector<Sent> sent;
  Savepoint savepoint(*session_);
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].isNew || !rows_[i].edits.empty()) sent.push_back(Sent{i, Send(rows_[i]), {}});
  }
  // Read back what the database made of the rows: counters, defaults,
  // the representation it stored.
  for (Sent& s : sent) s.values = ReadRow(s.rowid);
  savepoint.Release();
  for (Sent& s : sent) {
    Row& row = rows_[s.row];
    row.rowid = s.rowid;
    row.isNew = false;
    row.values = std::move(s.values);
    row.edits.clear();
  }
}

void TableRecordset::Close() {
  statements_.clear();
  RowSetBase::Close();
}

}  // namespace qv::db::sqlite

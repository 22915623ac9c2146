#include "db/postgres/pg_recordset.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "db/dialect.h"
#include "db/postgres/pg_error.h"
#include "db/postgres/pg_schema.h"

namespace qv::db::postgres {
namespace {

// Result type numbers of the date-time types (pg_type.oid).
constexpr Oid kDate = 1082, kTimestamp = 1114, kTimestampTz = 1184;

}  // namespace

int64_t AddressNumber(const std::string& ctid) {
  unsigned long long block = 0, item = 0;
  std::sscanf(ctid.c_str(), "(%llu,%llu)", &block, &item);
  return static_cast<int64_t>((block << 16) | item);
}

std::string AddressText(int64_t number) {
  return "(" + std::to_string(static_cast<uint64_t>(number) >> 16) + "," +
         std::to_string(number & 0xffff) + ")";
}

QueryRecordset::QueryRecordset(std::shared_ptr<Session> session, const Result& result,
                               std::string sql, bool rerunnable)
    : SessionRowSet(std::move(session), rerunnable), sql_(std::move(sql)) {
  for (int i = 0; i < result.columns(); ++i) {
    Oid type = result.ColumnType(i);
    bool date = type == kDate || type == kTimestamp || type == kTimestampTz;
    columns_.push_back(
        ColumnInfo{result.ColumnName(i), "", date ? ColumnKind::kDate : ColumnKind::kAny, 0});
  }
  Read(result);
}

void QueryRecordset::Read(const Result& result) {
  rows_.clear();
  for (int r = 0; r < result.rows(); ++r) {
    Row row;
    for (int i = 0; i < result.columns(); ++i) row.values.push_back(result.Get(r, i));
    rows_.push_back(std::move(row));
  }
  current_ = 0;
}

void QueryRecordset::Rerun() {
  Read(session_->Exec(sql_));
}

TableRecordset::TableRecordset(std::shared_ptr<Session> session, std::string table,
                               std::vector<ColumnInfo> columns)
    : SessionRowSet(std::move(session)), table_(std::move(table)) {
  ReadRows(std::move(columns));
}

std::string TableRecordset::ColumnList() const {
  std::string list = "ctid::text";
  for (const ColumnInfo& column : columns_) list += ", " + QuoteName(column.name);
  return list;
}

namespace {

// The row of `result` at `r`: its address (column 0) and values.
Row ReadRow(const Result& result, int r) {
  Row row;
  row.rowid = AddressNumber(result.Text(r, 0));
  for (int i = 1; i < result.columns(); ++i) row.values.push_back(result.Get(r, i));
  return row;
}

}  // namespace

void TableRecordset::Read() {
  ReadRows(TableColumns(*session_, table_));
}

void TableRecordset::ReadRows(std::vector<ColumnInfo> columns) {
  if (columns.empty()) throw BackendError("relation \"" + table_ + "\" does not exist");
  columns_ = std::move(columns);
  const std::string order = KeyOrder(columns_, "ctid");

  Result result = session_->Exec("SELECT " + ColumnList() + " FROM " + QuoteName(table_) +
                                 " ORDER BY " + order);
  std::vector<Row> rows;
  for (int r = 0; r < result.rows(); ++r) rows.push_back(ReadRow(result, r));
  rows_ = std::move(rows);
  current_ = 0;
}

void TableRecordset::AddStatements(const Row& row, std::vector<Statement>& statements) const {
  std::vector<size_t> assigned;
  std::vector<Value> params;
  for (size_t i = 0; i < row.edits.size(); ++i) {
    if (row.edits[i]) {
      assigned.push_back(i);
      params.push_back(*row.edits[i]);
    }
  }
  std::string sql = WriteStatement(table_, columns_, row, "$");
  if (!row.isNew) {
    // A row is found again by its key as read: its physical address changes
    // with every update, its own statements in this transaction included.
    // Only a table without a key falls back to the address.
    std::string where;
    for (size_t i = 0; i < columns_.size(); ++i) {
      if (columns_[i].keyPosition == 0) continue;
      params.push_back(row.values[i]);
      where += (where.empty() ? "" : " AND ") + QuoteName(columns_[i].name) + " = $" +
               std::to_string(params.size());
    }
    if (where.empty()) {
      params.push_back(Value(AddressText(row.rowid)));
      where = "ctid = $" + std::to_string(params.size()) + "::tid";
    }
    sql += " WHERE " + where;
  }
  statements.push_back({sql + " RETURNING " + ColumnList(), std::move(params)});
  // A counter whose key was given by hand moves past it, so that the next
  // row added never takes a key in use (as SQLite's AUTOINCREMENT does).
  for (size_t i : assigned) {
    if (!row.isNew || columns_[i].keyPosition == 0) continue;
    statements.push_back({"SELECT setval(s, greatest((SELECT max(" + QuoteName(columns_[i].name) +
                              ") FROM " + QuoteName(table_) +
                              "), pg_sequence_last_value(s::regclass))) "
                              "FROM pg_get_serial_sequence($1, $2) s WHERE s IS NOT NULL",
                          {Value(QuoteName(table_)), Value(columns_[i].name)}});
  }
}

void TableRecordset::UpdateBatch() {
  CheckOpen();
  if (!HasPending()) return;
  CheckOpen();
  // Every pending row goes out with the savepoint in one round trip; the
  // rows change in memory only once the whole batch is in the database.
  std::vector<Statement> statements;
  std::vector<std::pair<size_t, size_t>> sentAt;  // a row and its statement
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (!rows_[i].isNew && rows_[i].edits.empty()) continue;
    sentAt.emplace_back(i, statements.size());
    AddStatements(rows_[i], statements);
  }
  Savepoint savepoint(*session_, statements);
  std::vector<std::pair<size_t, Row>> sent;
  for (auto [index, at] : sentAt) {
    const Result& stored = savepoint.answers()[at];
    if (stored.rows() == 0) {
      throw DbError(kErrRowNotFoundForUpdate,
                    "Row cannot be located for updating. Some values may have been changed "
                    "since it was last read.");
    }
    sent.emplace_back(index, ReadRow(stored, 0));
  }
  savepoint.Release();
  for (auto& [index, row] : sent) rows_[index] = std::move(row);
}

}  // namespace qv::db::postgres

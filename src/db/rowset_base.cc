#include "db/rowset_base.h"

#include <algorithm>

#include "base/names.h"
#include "db/dialect.h"

namespace qv::db {

DbError ItemNotFound() {
  return DbError(kErrItemNotFound,
                 "Item cannot be found in the collection corresponding to the requested name or "
                 "ordinal.");
}

size_t ColumnIndex(const std::vector<ColumnInfo>& columns, const std::string& name) {
  for (size_t i = 0; i < columns.size(); ++i) {
    if (EqualsNoCase(columns[i].name, name)) return i;
  }
  throw ItemNotFound();
}

DbError NotUpdatable() {
  return DbError(kErrNotUpdatable,
                 "Current Recordset does not support updating. This may be a limitation of the "
                 "provider, or of the selected locktype.");
}

void RowSetBase::CheckOpen() const {
  if (closed_ || !ConnectionOpen()) throw ObjectClosed();
}

const Row& RowSetBase::CurrentRow() const {
  CheckOpen();
  if (current_ >= rows_.size()) {
    throw DbError(kErrNoCurrentRecord,
                  "Either BOF or EOF is True, or the current record has been deleted. Requested "
                  "operation requires a current record.");
  }
  return rows_[current_];
}

Row& RowSetBase::CurrentRow() {
  return const_cast<Row&>(static_cast<const RowSetBase*>(this)->CurrentRow());
}

Value RowSetBase::Field(const std::string& name) const {
  CheckOpen();
  size_t column = ColumnIndex(columns_, name);
  const Row& row = CurrentRow();
  bool edited = column < row.edits.size() && row.edits[column];
  return ReadStored(edited ? *row.edits[column] : row.values[column], columns_[column].kind);
}

void RowSetBase::MoveFirst() {
  CheckOpen();
  current_ = 0;
}

void RowSetBase::MoveNext() {
  CurrentRow();  // moving on from EOF has no current record to leave
  ++current_;
}

void RowSetBase::MoveLast() {
  CheckOpen();
  current_ = rows_.empty() ? 0 : rows_.size() - 1;
}

bool RowSetBase::Eof() const {
  CheckOpen();
  return current_ >= rows_.size();
}

int64_t RowSetBase::RecordCount() const {
  CheckOpen();
  return static_cast<int64_t>(rows_.size());
}

void RowSetBase::Close() {
  CheckOpen();
  closed_ = true;
  rows_.clear();
}

std::string RowKeyName(const std::vector<ColumnInfo>& columns, const std::string& fallback) {
  const ColumnInfo* key = nullptr;
  for (const ColumnInfo& column : columns) {
    if (column.keyPosition == 0) continue;
    if (key != nullptr) return fallback;  // a key of several columns
    key = &column;
  }
  return key != nullptr ? key->name : fallback;
}

void QueryRowSet::AddNew() {
  CheckOpen();
  throw NotUpdatable();
}

void QueryRowSet::SetField(const std::string&, const Value&) {
  CheckOpen();
  throw NotUpdatable();
}

void QueryRowSet::Update() {
  CheckOpen();
  throw NotUpdatable();
}

void QueryRowSet::UpdateBatch() {
  CheckOpen();
  throw NotUpdatable();
}

void QueryRowSet::CancelBatch() {
  CheckOpen();  // nothing is ever pending
}

void QueryRowSet::Requery() {
  CheckOpen();
  if (!rerunnable_) throw NotUpdatable();
  Rerun();
}

void TableRowSet::AddNew() {
  CheckOpen();
  Row row;
  row.isNew = true;
  row.values.resize(columns_.size());
  rows_.push_back(std::move(row));
  current_ = rows_.size() - 1;
}

void TableRowSet::SetField(const std::string& name, const Value& value) {
  CheckOpen();
  size_t column = ColumnIndex(columns_, name);
  Row& row = CurrentRow();
  Value converted = ConvertForColumn(value, columns_[column].kind);  // raises before any change
  if (row.edits.empty()) row.edits.resize(columns_.size());
  row.edits[column] = std::move(converted);
}

void TableRowSet::Update() {
  CheckOpen();
  CurrentRow();  // the edits stay pending until UpdateBatch
}

bool TableRowSet::HasPending() const {
  return std::any_of(rows_.begin(), rows_.end(),
                     [](const Row& row) { return row.isNew || !row.edits.empty(); });
}

void TableRowSet::CancelBatch() {
  CheckOpen();
  // Added rows always follow the rows read from the table.
  rows_.erase(std::remove_if(rows_.begin(), rows_.end(), [](const Row& row) { return row.isNew; }),
              rows_.end());
  for (Row& row : rows_) row.edits.clear();
  current_ = std::min(current_, rows_.size());
}

void TableRowSet::Requery() {
  CheckOpen();
  Read();
}

std::vector<std::string> ColumnNamesOf(const std::vector<ColumnInfo>& columns,
                                       const std::string& only) {
  std::vector<std::string> names;
  for (const ColumnInfo& info : columns) {
    if (only.empty() || EqualsNoCase(info.name, only)) names.push_back(info.name);
  }
  return names;
}

std::string WriteStatement(const std::string& table, const std::vector<ColumnInfo>& columns,
                           const Row& row, const char* mark) {
  std::string names, marks, sets;
  int number = 0;
  for (size_t i = 0; i < row.edits.size(); ++i) {
    if (!row.edits[i]) continue;
    const std::string separator = number == 0 ? "" : ", ";
    const std::string parameter = mark + std::to_string(++number);
    names += separator + QuoteName(columns[i].name);
    marks += separator + parameter;
    sets += separator + QuoteName(columns[i].name) + " = " + parameter;
  }
  if (!row.isNew) return "UPDATE " + QuoteName(table) + " SET " + sets;
  if (number == 0) return "INSERT INTO " + QuoteName(table) + " DEFAULT VALUES";
  return "INSERT INTO " + QuoteName(table) + " (" + names + ") VALUES (" + marks + ")";
}

std::string KeyOrder(const std::vector<ColumnInfo>& columns, const std::string& fallback) {
  std::vector<const ColumnInfo*> key;
  for (const ColumnInfo& column : columns) {
    if (column.keyPosition > 0) key.push_back(&column);
  }
  std::sort(key.begin(), key.end(), [](const ColumnInfo* a, const ColumnInfo* b) {
    return a->keyPosition < b->keyPosition;
  });
  std::string order;
  for (const ColumnInfo* column : key)
    order += (order.empty() ? "" : ", ") + QuoteName(column->name);
  return order.empty() ? fallback : order;
}

}  // namespace qv::db

#include "db/rowset.h"

#include "db/names.h"

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

}  // namespace qv::db

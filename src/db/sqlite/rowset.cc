#include "db/sqlite/rowset.h"

#include "db/sqlite/sqlite_error.h"
#include "db/sqlite/statement.h"

namespace qv::db::sqlite {

DbError NotUpdatable() {
  return DbError(kErrNotUpdatable,
                 "Current Recordset does not support updating. This may be a limitation of the "
                 "provider, or of the selected locktype.");
}

void RowSetBase::CheckOpen() const {
  if (closed_ || !session_->isOpen()) throw ObjectClosed();
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

QueryRecordset::QueryRecordset(std::shared_ptr<Session> session, Statement& stmt, std::string sql)
    : RowSetBase(std::move(session)), sql_(std::move(sql)), rerunnable_(stmt.readOnly()) {
  for (int i = 0; i < stmt.ColumnCount(); ++i) {
    std::string type = stmt.DeclaredType(i);
    columns_.push_back(ColumnInfo{stmt.ColumnName(i), type, KindOfDeclaredType(type), 0});
  }
  Read(stmt);
}

void QueryRecordset::Read(Statement& stmt) {
  rows_.clear();
  while (stmt.Step()) {
    Row row;
    for (int i = 0; i < stmt.ColumnCount(); ++i) row.values.push_back(stmt.Column(i));
    rows_.push_back(std::move(row));
  }
  current_ = 0;
}

void QueryRecordset::AddNew() {
  CheckOpen();
  throw NotUpdatable();
}

void QueryRecordset::SetField(const std::string&, const Value&) {
  CheckOpen();
  throw NotUpdatable();
}

void QueryRecordset::Update() {
  CheckOpen();
  throw NotUpdatable();
}

void QueryRecordset::UpdateBatch() {
  CheckOpen();
  throw NotUpdatable();
}

void QueryRecordset::CancelBatch() {
  CheckOpen();  // nothing is ever pending
}

void QueryRecordset::Requery() {
  CheckOpen();
  if (!rerunnable_) throw NotUpdatable();
  Statement stmt(session_->db(), sql_);
  Read(stmt);
}

}  // namespace qv::db::sqlite

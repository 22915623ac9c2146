// Row sets held in memory, for every engine: the columns, the rows with
// their pending edits, the position, moves, field reads and close. An
// engine's row sets add how rows are read and sent.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "db/conversion.h"
#include "db/database.h"
#include "db/db_error.h"

namespace qv::db {

struct ColumnInfo {
  std::string name;
  std::string declaredType;
  ColumnKind kind;
  int keyPosition;  // 1-based position in the primary key, 0 when not part of it
};

// Index of the column named `name` (without regard to case); raises "Item
// cannot be found in the collection..." (3265) when there is none.
// The name of the table's one-column primary key, else `fallback` (the
// engine's own row address): what a diagnostic names a row by.
std::string RowKeyName(const std::vector<ColumnInfo>& columns, const std::string& fallback);

// The primary key's columns in key order, quoted and joined for ORDER BY,
// else `fallback` (the engine's own row address).
std::string KeyOrder(const std::vector<ColumnInfo>& columns, const std::string& fallback);

size_t ColumnIndex(const std::vector<ColumnInfo>& columns, const std::string& name);
// The names of `columns`, or only of the one named `only` (without regard
// to case) when it is not empty.
std::vector<std::string> ColumnNamesOf(const std::vector<ColumnInfo>& columns,
                                       const std::string& only);
DbError ItemNotFound();

struct Row {
  int64_t rowid = 0;                        // the engine's handle on the stored row
  bool isNew = false;                       // added, not yet sent
  std::vector<Value> values;                // as read from the database
  std::vector<std::optional<Value>> edits;  // assigned, not yet sent; empty when none
};

// The statement that sends `row`'s assigned columns: for a new row an
// INSERT of those only (so that defaults and counters apply), else the
// start of an UPDATE setting them, to which the engine adds its WHERE. The
// parameters are numbered from 1 in column order, each written `mark` and
// its number.
std::string WriteStatement(const std::string& table, const std::vector<ColumnInfo>& columns,
                           const Row& row, const char* mark);

class RowSetBase : public Recordset {
 public:
  Value Field(const std::string& name) const override;
  void MoveFirst() override;
  void MoveNext() override;
  void MoveLast() override;
  bool Eof() const override;
  int64_t RecordCount() const override;
  void Close() override;

 protected:
  // Whether the connection the row set was opened on is still open.
  virtual bool ConnectionOpen() const = 0;
  // Raises "object closed" when this row set or its connection is closed.
  void CheckOpen() const;
  // The current row; raises "no current record" (3021) at EOF.
  Row& CurrentRow();
  const Row& CurrentRow() const;

  std::vector<ColumnInfo> columns_;
  std::vector<Row> rows_;
  size_t current_ = 0;  // rows_.size() stands for EOF
  bool closed_ = false;
};

// The error of a change to a row set that cannot be changed.
DbError NotUpdatable();

// A row set of this file on an engine's session, which tells whether the
// connection is still open.
template <typename Base, typename Session>
class SessionRowSet : public Base {
 protected:
  template <typename... BaseArgs>
  explicit SessionRowSet(std::shared_ptr<Session> session, BaseArgs&&... args)
      : Base(std::forward<BaseArgs>(args)...), session_(std::move(session)) {}
  bool ConnectionOpen() const override { return session_->isOpen(); }

  std::shared_ptr<Session> session_;
};

// The rows of a query, read once when it ran; any change raises. Requery
// runs the query again (the engine's Rerun) when it only reads.
class QueryRowSet : public RowSetBase {
 public:
  void AddNew() override;
  void SetField(const std::string& name, const Value& value) override;
  void Update() override;
  void UpdateBatch() override;
  void CancelBatch() override;
  void Requery() override;

 protected:
  explicit QueryRowSet(bool rerunnable) : rerunnable_(rerunnable) {}
  virtual void Rerun() = 0;

 private:
  bool rerunnable_;
};

// A whole table with batch-optimistic editing: AddNew appends a pending row,
// SetField converts at once and keeps the value pending, CancelBatch drops
// what is pending. The engine reads the rows (Read, again on Requery) and
// sends what is pending (UpdateBatch).
class TableRowSet : public RowSetBase {
 public:
  void AddNew() override;
  void SetField(const std::string& name, const Value& value) override;
  void Update() override;
  void CancelBatch() override;
  void Requery() override;

 protected:
  TableRowSet() = default;
  virtual void Read() = 0;
  bool HasPending() const;
};

}  // namespace qv::db

// Row sets held in memory: the common part (position, moves, field reads,
// close) and the read-only row set of a query.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/database.h"
#include "db/sqlite/schema.h"
#include "db/sqlite/session.h"

namespace qv::db::sqlite {

class Statement;

struct Row {
  int64_t rowid = 0;
  bool isNew = false;                       // added, not yet sent
  std::vector<Value> values;                // as read from the database
  std::vector<std::optional<Value>> edits;  // assigned, not yet sent; empty when none
};

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
  explicit RowSetBase(std::shared_ptr<Session> session) : session_(std::move(session)) {}

  // Raises "object closed" when this row set or its connection is closed.
  void CheckOpen() const;
  // The current row; raises "no current record" (3021) at EOF.
  Row& CurrentRow();
  const Row& CurrentRow() const;

  std::shared_ptr<Session> session_;
  std::vector<ColumnInfo> columns_;
  std::vector<Row> rows_;
  size_t current_ = 0;  // rows_.size() stands for EOF
  bool closed_ = false;
};

// The rows of a query, read once when it ran; any change raises.
class QueryRecordset : public RowSetBase {
 public:
  // Reads every row of the prepared statement `stmt`. `sql` runs again on
  // Requery when the statement only reads.
  QueryRecordset(std::shared_ptr<Session> session, Statement& stmt, std::string sql);

  void AddNew() override;
  void SetField(const std::string& name, const Value& value) override;
  void Update() override;
  void UpdateBatch() override;
  void CancelBatch() override;
  void Requery() override;

 private:
  void Read(Statement& stmt);
  std::string sql_;
  bool rerunnable_;
};

DbError NotUpdatable();

}  // namespace qv::db::sqlite

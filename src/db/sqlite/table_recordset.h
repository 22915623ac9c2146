// A whole table as an updatable row set with batch-optimistic editing.
//
// The rows are read once, in key order (the primary key, else the rowid),
// and kept in memory: the tables this tool opens are small. AddNew appends
// a pending row; SetField converts at once and keeps the value pending;
// UpdateBatch sends every pending insert and edit as one all-or-nothing
// step inside the connection's transaction, and on failure leaves them
// pending; CancelBatch drops them; Requery reads the table again.
#pragma once

#include "db/sqlite/engine_only.h"

#include <map>
#include <memory>
#include <string>

#include "db/sqlite/sqlite_rowsets.h"

namespace qv::db::sqlite {

class TableRecordset : public SessionRowSet<TableRowSet> {
 public:
  // `table` is the stored name of a base table.
  TableRecordset(std::shared_ptr<Session> session, std::string table);

  void UpdateBatch() override;
  void Close() override;

 private:
  void Read() override;
  // Sends one pending row; returns its rowid.
  int64_t Send(const Row& row);
  std::vector<Value> ReadRow(int64_t rowid);
  std::string ColumnList() const;
  // The statement for `sql`, prepared on first use and kept for the life of
  // the row set: a batch sends and reads back its rows through a handful of
  // statement texts, which need compiling only once.
  Statement& Prepared(const std::string& sql);

  std::string table_;
  std::map<std::string, std::unique_ptr<Statement>> statements_;
};

}  // namespace qv::db::sqlite

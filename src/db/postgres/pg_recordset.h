// The row sets of the server engine, held in memory (db/rowset_base.h): the
// read-only rows of a query, and a whole table with batch-optimistic
// editing.
//
// A table's rows are read once, in key order (the primary key, else the
// physical order), and each keeps its physical address (ctid) to be found
// again: a row changed by someone else since it was read is no longer
// there, and its update fails as "Row cannot be located for updating".
// UpdateBatch sends every pending insert and edit as one all-or-nothing
// step inside the connection's transaction, and reads back what the server
// stored (counters, defaults); on failure everything stays pending.
#pragma once

#include "db/postgres/engine_only.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "db/postgres/pg_session.h"
#include "db/rowset_base.h"

namespace qv::db::postgres {

template <typename Base>
using SessionRowSet = db::SessionRowSet<Base, Session>;

// The rows of a query, read once when it ran; any change raises.
class QueryRecordset : public SessionRowSet<QueryRowSet> {
 public:
  // `sql` runs again on Requery when `rerunnable` (the query only reads).
  QueryRecordset(std::shared_ptr<Session> session, const Result& result, std::string sql,
                 bool rerunnable);

 private:
  void Rerun() override;
  void Read(const Result& result);
  std::string sql_;
};

class TableRecordset : public SessionRowSet<TableRowSet> {
 public:
  // `table` is the stored name of a base table, `columns` its columns as
  // the catalog gave them.
  TableRecordset(std::shared_ptr<Session> session, std::string table,
                 std::vector<ColumnInfo> columns);

  void UpdateBatch() override;

 private:
  void Read() override;
  // Reads the rows with `columns`, the table's as the catalog gave them.
  void ReadRows(std::vector<ColumnInfo> columns);
  // The statements that send one pending row; the first returns the row
  // as stored, with its address.
  void AddStatements(const Row& row, std::vector<Statement>& statements) const;
  std::string ColumnList() const;

  std::string table_;
};

// A row's physical address (ctid, "(block,item)") as a number, and back.
int64_t AddressNumber(const std::string& ctid);
std::string AddressText(int64_t number);

}  // namespace qv::db::postgres

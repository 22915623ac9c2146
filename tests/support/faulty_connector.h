// A connector for fault injection: it wraps a real connector and counts every
// operation on the connections and row sets it opens, and can make exactly
// the Nth of them fail with a DbError instead of reaching the database.
//
// Use it to prove that a routine is all-or-nothing: run once in count-only
// mode to learn how many operations the routine performs, then, for every N
// from 1 to that count, run on a fresh database with the Nth operation
// failing and check what is left.
//
//   FaultyConnector counter(real);               // count only
//   Module::InsertSampleData({counter, clock, box}, args);
//   for (int64_t n = 1; n <= counter.count(); ++n) {
//     FaultyConnector faulty(realOnFreshCopy, n);
//     ... run, then check the database ...
//   }
//
// Counted, one each: Connector::Open; on a connection BeginTrans,
// CommitTrans, RollbackTrans, Execute, TableNames, ColumnNames, OpenTable,
// CopyColumn, Close; on a row set (from OpenTable or a query) AddNew,
// SetField, Field, Update, UpdateBatch, CancelBatch, Requery, MoveFirst,
// MoveNext, MoveLast, Eof, RecordCount, Close. Not counted: Errors() (it
// reports, it cannot fail) and destruction.
//
// A failing operation throws before it reaches the wrapped object, so that
// object is left as it was. Every operation after the failing one passes
// through. Connections and row sets share the count with the connector that
// handed them out, so they may outlive it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/database.h"

namespace qv::testing {

// clang-format off
enum class DbOp {
  kOpen, kBeginTrans, kCommitTrans, kRollbackTrans, kExecute, kTableNames, kColumnNames,
  kOpenTable, kCopyColumn, kCloseConnection, kAddNew, kSetField, kField, kUpdate, kUpdateBatch,
  kCancelBatch, kRequery, kMoveFirst, kMoveNext, kMoveLast, kEof, kRecordCount, kCloseRecordset
};
// clang-format on

const char* DbOpName(DbOp op);

// One counted operation: its kind and what it named (a table, a field, a
// statement), for messages.
struct DbOpRecord {
  DbOp op;
  std::string detail;
};

class FaultyConnector : public db::Connector {
 public:
  // The number and description the failing operation raises.
  static constexpr int32_t kInjectedErrorNumber = 3146;
  static constexpr const char* kInjectedErrorDescription = "ODBC--call failed (injected).";

  // `failAt` counts from 1; 0 only counts. `inner` must outlive every
  // connection opened through this connector.
  explicit FaultyConnector(db::Connector& inner, int64_t failAt = 0);

  std::unique_ptr<db::Connection> Open(const std::string& connectionString, const std::string& user,
                                       const std::string& password) override;

  // Operations seen so far, the failing one included.
  int64_t count() const;
  // Every operation seen so far, in order; entry i is operation i + 1.
  const std::vector<DbOpRecord>& log() const;
  // Whether the failing operation was reached.
  bool injected() const;
  // Position (from 1) of the first operation of kind `op`, 0 when none.
  int64_t PositionOf(DbOp op) const;
  // "17 SetField Company.Email", for assertion messages.
  std::string Describe(int64_t position) const;

  struct State;  // shared with the wrappers

 private:
  db::Connector& inner_;
  std::shared_ptr<State> state_;
};

}  // namespace qv::testing

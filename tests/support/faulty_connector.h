// A connector for fault injection: it wraps a real connector, counts every
// operation on the connections and row sets it opens (all of DbOp; not
// Errors() or destruction), and can make exactly the Nth of them throw a
// DbError before it reaches the wrapped object. To prove a routine
// all-or-nothing: count its operations once, then for every N run it on a
// fresh database with the Nth failing and check what is left. Connections
// and row sets share the count with their connector, so may outlive it.
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

// One counted operation and what it named (a table, a field, a statement).
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

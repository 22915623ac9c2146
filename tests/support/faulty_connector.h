// Wraps a real connector, counts every operation (DbOp) on what it opens,
// and makes exactly the Nth throw a DbError before it reaches the real one:
// to prove a routine all-or-nothing, fail each N in turn on a fresh database.
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

// One counted operation and what it named (a table, a field, a statement).
struct DbOpRecord {
  DbOp op;
  std::string detail;
};

class FaultyConnector : public db::Connector {
 public:
  static constexpr int32_t kInjectedErrorNumber = 3146;
  static constexpr const char* kInjectedErrorDescription = "ODBC--call failed (injected).";

  // `failAt` counts from 1; 0 only counts. `inner` outlives what is opened.
  explicit FaultyConnector(db::Connector& inner, int64_t failAt = 0);

  std::unique_ptr<db::Connection> Open(const std::string& connectionString, const std::string& user,
                                       const std::string& password) override;

  // Operations seen so far, the failing one included; entry i is operation i + 1.
  int64_t count() const { return static_cast<int64_t>(state_->log.size()); }
  const std::vector<DbOpRecord>& log() const { return state_->log; }
  bool injected() const { return state_->injected; }
  // Position (from 1) of the first operation of kind `op`, 0 when none.
  int64_t PositionOf(DbOp op) const;
  // "17 SetField Company.Email", for assertion messages.
  std::string Describe(int64_t position) const;

  struct State {  // shared with the wrappers, which may outlive the connector
    int64_t failAt = 0;
    bool injected = false;
    std::vector<DbOpRecord> log;
    void Hit(DbOp op, std::string detail);  // throws when it is the one to fail
  };

 private:
  db::Connector& inner_;
  std::shared_ptr<State> state_;
};

}  // namespace qv::testing

// A connector for tests that wraps a real one, logs what the migration steps
// ask of the database, and makes chosen operations fail on command, so that
// every all-or-nothing path can be exercised against a real database.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "db/database.h"
#include "db/db_error.h"

namespace qv::migration::testing {

class RecordingConnector : public db::Connector {
 public:
  explicit RecordingConnector(db::Connector& inner) : inner_(inner) {}

  // Execute of exactly this text raises instead of reaching the engine.
  void FailStatement(const std::string& statement) { failStatements_.insert(statement); }
  // The schema query for this kind of object raises.
  void FailTableNames(db::TableKind kind) { failTableNames_.insert(kind); }
  // The column list of this table (exact name) raises.
  void FailColumnNames(const std::string& table) { failColumnNames_.insert(table); }
  // The Nth Open (counted from 1) raises.
  void FailOpen(int nth) { failOpens_.insert(nth); }
  // BeginTrans raises on every connection.
  void FailBeginTrans() { failBeginTrans_ = true; }

  std::unique_ptr<db::Connection> Open(const std::string& connectionString, const std::string& user,
                                       const std::string& password) override;

  // Every statement text handed to Execute, failed ones included, in order.
  const std::vector<std::string>& statements() const { return statements_; }
  // Statements, opens, transaction ends and schema queries, each line
  // prefixed by the number of the connection ("2: DROP TABLE x").
  const std::vector<std::string>& events() const { return events_; }
  int opens() const { return opens_; }

 private:
  friend class RecordingConnection;

  db::Connector& inner_;
  std::set<std::string> failStatements_;
  std::set<db::TableKind> failTableNames_;
  std::set<std::string> failColumnNames_;
  std::set<int> failOpens_;
  bool failBeginTrans_ = false;
  std::vector<std::string> statements_;
  std::vector<std::string> events_;
  int opens_ = 0;
};

// The failure raised by an injected fault.
db::DbError InjectedFailure();

}  // namespace qv::migration::testing

#include "support/faulty_connector.h"

#include <algorithm>
#include <utility>

#include "db/db_error.h"

namespace qv::testing {

void FaultyConnector::State::Hit(DbOp op, std::string detail) {
  log.push_back({op, std::move(detail)});
  if (failAt != 0 && static_cast<int64_t>(log.size()) == failAt) {
    injected = true;
    throw db::DbError(kInjectedErrorNumber, kInjectedErrorDescription);
  }
}

namespace {

using State = FaultyConnector::State;

class FaultyRecordset : public db::Recordset {
 public:
  FaultyRecordset(std::unique_ptr<db::Recordset> inner, std::shared_ptr<State> state,
                  std::string table)
      : inner_(std::move(inner)), state_(std::move(state)), table_(std::move(table)) {}

  void AddNew() override { In(DbOp::kAddNew)->AddNew(); }
  void SetField(const std::string& name, const db::Value& value) override {
    In(DbOp::kSetField, name)->SetField(name, value);
  }
  db::Value Field(const std::string& name) const override {
    return In(DbOp::kField, name)->Field(name);
  }
  void Update() override { In(DbOp::kUpdate)->Update(); }
  void UpdateBatch() override { In(DbOp::kUpdateBatch)->UpdateBatch(); }
  void CancelBatch() override { In(DbOp::kCancelBatch)->CancelBatch(); }
  void Requery() override { In(DbOp::kRequery)->Requery(); }
  void MoveFirst() override { In(DbOp::kMoveFirst)->MoveFirst(); }
  void MoveNext() override { In(DbOp::kMoveNext)->MoveNext(); }
  void MoveLast() override { In(DbOp::kMoveLast)->MoveLast(); }
  bool Eof() const override { return In(DbOp::kEof)->Eof(); }
  int64_t RecordCount() const override { return In(DbOp::kRecordCount)->RecordCount(); }
  void Close() override { In(DbOp::kCloseRecordset)->Close(); }

 private:
  db::Recordset* In(DbOp op, const std::string& field = "") const {
    state_->Hit(op, field.empty() ? table_ : table_ + "." + field);
    return inner_.get();
  }
  std::unique_ptr<db::Recordset> inner_;
  std::shared_ptr<State> state_;
  std::string table_;
};

std::unique_ptr<db::Recordset> Wrap(std::unique_ptr<db::Recordset> rs,
                                    const std::shared_ptr<State>& state, std::string source) {
  if (!rs) return nullptr;
  return std::make_unique<FaultyRecordset>(std::move(rs), state, std::move(source));
}

class FaultyConnection : public db::Connection {
 public:
  FaultyConnection(std::unique_ptr<db::Connection> inner, std::shared_ptr<State> state)
      : inner_(std::move(inner)), state_(std::move(state)) {}

  void BeginTrans() override { In(DbOp::kBeginTrans)->BeginTrans(); }
  void CommitTrans() override { In(DbOp::kCommitTrans)->CommitTrans(); }
  void RollbackTrans() override { In(DbOp::kRollbackTrans)->RollbackTrans(); }
  std::unique_ptr<db::Recordset> Execute(const std::string& statement) override {
    return Wrap(In(DbOp::kExecute, statement)->Execute(statement), state_, "(query)");
  }
  const std::vector<db::ErrorEntry>& Errors() const override { return inner_->Errors(); }
  std::vector<std::string> TableNames(db::TableKind kind) override {
    return In(DbOp::kTableNames)->TableNames(kind);
  }
  std::vector<std::string> ColumnNames(const std::string& table,
                                       const std::string& column) override {
    return In(DbOp::kColumnNames, table)->ColumnNames(table, column);
  }
  std::unique_ptr<db::Recordset> OpenTable(const std::string& table, db::CursorType cursor,
                                           db::LockType lock) override {
    return Wrap(In(DbOp::kOpenTable, table)->OpenTable(table, cursor, lock), state_, table);
  }
  void CopyColumn(const std::string& table, const std::string& from,
                  const std::string& to) override {
    In(DbOp::kCopyColumn, table + "." + from + "->" + to)->CopyColumn(table, from, to);
  }
  void Close() override { In(DbOp::kCloseConnection)->Close(); }

 private:
  db::Connection* In(DbOp op, std::string detail = "") {
    state_->Hit(op, std::move(detail));
    return inner_.get();
  }
  std::unique_ptr<db::Connection> inner_;
  std::shared_ptr<State> state_;
};

const char* DbOpName(DbOp op) {
  static const char* const kNames[] = {
      "Open",        "BeginTrans",  "CommitTrans",    "RollbackTrans", "Execute",
      "TableNames",  "ColumnNames", "OpenTable",      "CopyColumn",    "Connection.Close",
      "AddNew",      "SetField",    "Field",          "Update",        "UpdateBatch",
      "CancelBatch", "Requery",     "MoveFirst",      "MoveNext",      "MoveLast",
      "Eof",         "RecordCount", "Recordset.Close"};
  static_assert(sizeof kNames / sizeof kNames[0] == static_cast<size_t>(DbOp::kCloseRecordset) + 1);
  return kNames[static_cast<size_t>(op)];
}

}  // namespace

FaultyConnector::FaultyConnector(db::Connector& inner, int64_t failAt)
    : Connector(inner.diagnostics()), inner_(inner), state_(std::make_shared<State>()) {
  state_->failAt = failAt;
}

std::unique_ptr<db::Connection> FaultyConnector::Open(const std::string& connectionString,
                                                      const std::string& user,
                                                      const std::string& password) {
  state_->Hit(DbOp::kOpen, connectionString);
  return std::make_unique<FaultyConnection>(inner_.Open(connectionString, user, password), state_);
}

int64_t FaultyConnector::PositionOf(DbOp op) const {
  const auto& log = state_->log;
  const auto at = std::find_if(log.begin(), log.end(), [op](const auto& r) { return r.op == op; });
  return at == log.end() ? 0 : at - log.begin() + 1;
}

std::string FaultyConnector::Describe(int64_t position) const {
  if (position < 1 || position > count()) return std::to_string(position) + " (none)";
  const DbOpRecord& record = state_->log[static_cast<size_t>(position) - 1];
  std::string text = std::to_string(position) + " " + DbOpName(record.op);
  return record.detail.empty() ? text : text + " " + record.detail;
}

}  // namespace qv::testing

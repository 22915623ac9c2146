#include "support/faulty_connector.h"

#include <utility>

#include "db/db_error.h"

namespace qv::testing {

struct FaultyConnector::State {
  int64_t failAt = 0;
  bool injected = false;
  std::vector<DbOpRecord> log;

  // Counts one operation and throws when it is the one to fail.
  void Hit(DbOp op, std::string detail) {
    log.push_back({op, std::move(detail)});
    if (failAt != 0 && static_cast<int64_t>(log.size()) == failAt) {
      injected = true;
      throw db::DbError(kInjectedErrorNumber, kInjectedErrorDescription);
    }
  }
};

namespace {

using State = FaultyConnector::State;

class FaultyRecordset : public db::Recordset {
 public:
  FaultyRecordset(std::unique_ptr<db::Recordset> inner, std::shared_ptr<State> state,
                  std::string table)
      : inner_(std::move(inner)), state_(std::move(state)), table_(std::move(table)) {}

  void AddNew() override {
    state_->Hit(DbOp::kAddNew, table_);
    inner_->AddNew();
  }
  void SetField(const std::string& name, const db::Value& value) override {
    state_->Hit(DbOp::kSetField, table_ + "." + name);
    inner_->SetField(name, value);
  }
  db::Value Field(const std::string& name) const override {
    state_->Hit(DbOp::kField, table_ + "." + name);
    return inner_->Field(name);
  }
  void Update() override {
    state_->Hit(DbOp::kUpdate, table_);
    inner_->Update();
  }
  void UpdateBatch() override {
    state_->Hit(DbOp::kUpdateBatch, table_);
    inner_->UpdateBatch();
  }
  void CancelBatch() override {
    state_->Hit(DbOp::kCancelBatch, table_);
    inner_->CancelBatch();
  }
  void Requery() override {
    state_->Hit(DbOp::kRequery, table_);
    inner_->Requery();
  }
  void MoveFirst() override {
    state_->Hit(DbOp::kMoveFirst, table_);
    inner_->MoveFirst();
  }
  void MoveNext() override {
    state_->Hit(DbOp::kMoveNext, table_);
    inner_->MoveNext();
  }
  void MoveLast() override {
    state_->Hit(DbOp::kMoveLast, table_);
    inner_->MoveLast();
  }
  bool Eof() const override {
    state_->Hit(DbOp::kEof, table_);
    return inner_->Eof();
  }
  int64_t RecordCount() const override {
    state_->Hit(DbOp::kRecordCount, table_);
    return inner_->RecordCount();
  }
  void Close() override {
    state_->Hit(DbOp::kCloseRecordset, table_);
    inner_->Close();
  }

 private:
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

  void BeginTrans() override {
    state_->Hit(DbOp::kBeginTrans, "");
    inner_->BeginTrans();
  }
  void CommitTrans() override {
    state_->Hit(DbOp::kCommitTrans, "");
    inner_->CommitTrans();
  }
  void RollbackTrans() override {
    state_->Hit(DbOp::kRollbackTrans, "");
    inner_->RollbackTrans();
  }
  std::unique_ptr<db::Recordset> Execute(const std::string& statement) override {
    state_->Hit(DbOp::kExecute, statement);
    return Wrap(inner_->Execute(statement), state_, "(query)");
  }
  const std::vector<db::ErrorEntry>& Errors() const override { return inner_->Errors(); }
  std::vector<std::string> TableNames(db::TableKind kind) override {
    state_->Hit(DbOp::kTableNames, "");
    return inner_->TableNames(kind);
  }
  std::vector<std::string> ColumnNames(const std::string& table,
                                       const std::string& column) override {
    state_->Hit(DbOp::kColumnNames, table);
    return inner_->ColumnNames(table, column);
  }
  std::unique_ptr<db::Recordset> OpenTable(const std::string& table, db::CursorType cursor,
                                           db::LockType lock) override {
    state_->Hit(DbOp::kOpenTable, table);
    return Wrap(inner_->OpenTable(table, cursor, lock), state_, table);
  }
  void CopyColumn(const std::string& table, const std::string& from,
                  const std::string& to) override {
    state_->Hit(DbOp::kCopyColumn, table + "." + from + "->" + to);
    inner_->CopyColumn(table, from, to);
  }
  void Close() override {
    state_->Hit(DbOp::kCloseConnection, "");
    inner_->Close();
  }

 private:
  std::unique_ptr<db::Connection> inner_;
  std::shared_ptr<State> state_;
};

}  // namespace

const char* DbOpName(DbOp op) {
  switch (op) {
    case DbOp::kOpen:
      return "Open";
    case DbOp::kBeginTrans:
      return "BeginTrans";
    case DbOp::kCommitTrans:
      return "CommitTrans";
    case DbOp::kRollbackTrans:
      return "RollbackTrans";
    case DbOp::kExecute:
      return "Execute";
    case DbOp::kTableNames:
      return "TableNames";
    case DbOp::kColumnNames:
      return "ColumnNames";
    case DbOp::kOpenTable:
      return "OpenTable";
    case DbOp::kCopyColumn:
      return "CopyColumn";
    case DbOp::kCloseConnection:
      return "Connection.Close";
    case DbOp::kAddNew:
      return "AddNew";
    case DbOp::kSetField:
      return "SetField";
    case DbOp::kField:
      return "Field";
    case DbOp::kUpdate:
      return "Update";
    case DbOp::kUpdateBatch:
      return "UpdateBatch";
    case DbOp::kCancelBatch:
      return "CancelBatch";
    case DbOp::kRequery:
      return "Requery";
    case DbOp::kMoveFirst:
      return "MoveFirst";
    case DbOp::kMoveNext:
      return "MoveNext";
    case DbOp::kMoveLast:
      return "MoveLast";
    case DbOp::kEof:
      return "Eof";
    case DbOp::kRecordCount:
      return "RecordCount";
    case DbOp::kCloseRecordset:
      return "Recordset.Close";
  }
  return "?";
}

FaultyConnector::FaultyConnector(db::Connector& inner, int64_t failAt)
    : inner_(inner), state_(std::make_shared<State>()) {
  state_->failAt = failAt;
}

std::unique_ptr<db::Connection> FaultyConnector::Open(const std::string& connectionString,
                                                      const std::string& user,
                                                      const std::string& password) {
  state_->Hit(DbOp::kOpen, connectionString);
  return std::make_unique<FaultyConnection>(inner_.Open(connectionString, user, password), state_);
}

int64_t FaultyConnector::count() const {
  return static_cast<int64_t>(state_->log.size());
}

const std::vector<DbOpRecord>& FaultyConnector::log() const {
  return state_->log;
}

bool FaultyConnector::injected() const {
  return state_->injected;
}

int64_t FaultyConnector::PositionOf(DbOp op) const {
  for (size_t i = 0; i < state_->log.size(); ++i) {
    if (state_->log[i].op == op) return static_cast<int64_t>(i) + 1;
  }
  return 0;
}

std::string FaultyConnector::Describe(int64_t position) const {
  if (position < 1 || position > count()) return std::to_string(position) + " (none)";
  const DbOpRecord& record = state_->log[static_cast<size_t>(position) - 1];
  std::string text = std::to_string(position) + " " + DbOpName(record.op);
  if (!record.detail.empty()) text += " " + record.detail;
  return text;
}

}  // namespace qv::testing

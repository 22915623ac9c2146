#include "migration/recording_connector.h"

#include "db/db_error.h"

namespace qv::migration::testing {

db::DbError InjectedFailure() {
  return db::DbError(-2147467259, "Injected failure");
}

class RecordingConnection : public db::Connection {
 public:
  RecordingConnection(RecordingConnector& owner, int number, std::unique_ptr<db::Connection> inner)
      : owner_(owner), prefix_(std::to_string(number) + ": "), inner_(std::move(inner)) {}

  void BeginTrans() override {
    Log("BeginTrans");
    if (owner_.failBeginTrans_) throw InjectedFailure();
    inner_->BeginTrans();
  }
  void CommitTrans() override {
    Log("CommitTrans");
    inner_->CommitTrans();
  }
  void RollbackTrans() override {
    Log("RollbackTrans");
    inner_->RollbackTrans();
  }

  std::unique_ptr<db::Recordset> Execute(const std::string& statement) override {
    owner_.statements_.push_back(statement);
    Log(statement);
    if (owner_.failStatements_.count(statement) != 0) throw InjectedFailure();
    return inner_->Execute(statement);
  }

  const std::vector<db::ErrorEntry>& Errors() const override { return inner_->Errors(); }

  std::vector<std::string> TableNames(db::TableKind kind) override {
    Log(kind == db::TableKind::kView ? "TableNames(VIEW)" : "TableNames(TABLE)");
    if (owner_.failTableNames_.count(kind) != 0) throw InjectedFailure();
    return inner_->TableNames(kind);
  }

  std::vector<std::string> ColumnNames(const std::string& table,
                                       const std::string& column) override {
    Log("ColumnNames(" + table + ")");
    if (owner_.failColumnNames_.count(table) != 0) throw InjectedFailure();
    return inner_->ColumnNames(table, column);
  }

  std::unique_ptr<db::Recordset> OpenTable(const std::string& table, db::CursorType cursor,
                                           db::LockType lock) override {
    Log("OpenTable(" + table + ")");
    return inner_->OpenTable(table, cursor, lock);
  }

  void CopyColumn(const std::string& table, const std::string& from,
                  const std::string& to) override {
    Log("CopyColumn(" + table + ", " + from + ", " + to + ")");
    inner_->CopyColumn(table, from, to);
  }

  void Close() override {
    Log("Close");
    inner_->Close();
  }

 private:
  void Log(const std::string& what) { owner_.events_.push_back(prefix_ + what); }

  RecordingConnector& owner_;
  std::string prefix_;
  std::unique_ptr<db::Connection> inner_;
};

std::unique_ptr<db::Connection> RecordingConnector::Open(const std::string& connectionString,
                                                         const std::string& user,
                                                         const std::string& password) {
  int number = ++opens_;
  events_.push_back(std::to_string(number) + ": Open " + connectionString);
  if (failOpens_.count(number) != 0) throw InjectedFailure();
  return std::make_unique<RecordingConnection>(*this, number,
                                               inner_.Open(connectionString, user, password));
}

}  // namespace qv::migration::testing

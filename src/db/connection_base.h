// What every engine's connection shares: the checks that open Execute and
// CopyColumn, the transaction rules with their error texts, the error list
// (always empty, see Connection::Errors) and Close. An engine adds small
// hooks: how a statement is read and run, how a transaction begins and
// ends; as RowSetBase does for row sets. SessionConnection supplies the
// transaction and close hooks from an engine's session object.
//
// Knows no engine: an engine's connection derives from it, never the other
// way round.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/database.h"
#include "db/db_error.h"
#include "db/dialect.h"
#include "db/rowset_base.h"

namespace qv::db {

class ConnectionBase : public Connection {
 public:
  // Each raises "object closed" (kErrObjectClosed) after Close, then the
  // engine's refusal (Refusal) with the texts database.h names.
  void BeginTrans() final;
  void CommitTrans() final;
  void RollbackTrans() final;
  std::unique_ptr<Recordset> Execute(const std::string& statement) final;
  const std::vector<ErrorEntry>& Errors() const final;
  void CopyColumn(const std::string& table, const std::string& from, const std::string& to) final;
  void Close() final;

 protected:
  // Execute's text as an engine has read it, not yet run.
  class PreparedStatement {
   public:
    explicit PreparedStatement(Translation translation) : translated(std::move(translation)) {}
    PreparedStatement(const PreparedStatement&) = delete;
    PreparedStatement& operator=(const PreparedStatement&) = delete;
    virtual ~PreparedStatement() = default;
    // Runs the statement; the return value of Execute.
    virtual std::unique_ptr<Recordset> Run() = 0;

    Translation translated;  // the first statement, in the engine's dialect
    bool empty = false;      // the text holds no statement at all
    std::string_view rest;   // what follows the first statement, unread
  };

  // A table as stored, with its columns.
  struct StoredTable {
    std::string name;
    std::vector<ColumnInfo> columns;
  };

  // Starts every operation: raises "object closed" once Close has run.
  virtual void CheckOpen() = 0;
  // Starts every statement, after CheckOpen: what the engine does before a
  // statement inside BeginTrans (the embedded engine takes the write lock
  // there). Raises why the statement cannot run.
  virtual void BeforeStatement() {}
  // CheckOpen, then BeforeStatement.
  void StartStatement();

  // The error of a failure the engine detects itself, numbered as its own
  // failed statements are.
  virtual DbError Refusal(const std::string& description) const = 0;

  // Whether BeginTrans has run and no CommitTrans or RollbackTrans has ended it.
  virtual bool InTransaction() const = 0;
  // Whether the engine has rolled back the open transaction by itself (after
  // a failure it could not undo alone), so that nothing is left to commit.
  virtual bool TransactionLost() = 0;
  // The engine's side of BeginTrans, CommitTrans and RollbackTrans, called
  // only where the transaction may begin or end; each raises the engine's
  // error, and the transaction stays open when the commit or the rollback
  // raises.
  virtual void BeginTransaction() = 0;
  virtual void CommitTransaction() = 0;
  virtual void RollbackTransaction() = 0;

  // Reads the first statement of `statement` and translates it, running
  // nothing; `rest` may point into `statement`. Raises the engine's error
  // for text it cannot read.
  virtual std::unique_ptr<PreparedStatement> Prepare(const std::string& statement) = 0;

  // The table named `table` (without regard to case); raises the engine's
  // error when there is none.
  virtual StoredTable FindStoredTable(const std::string& table) = 0;
  // CopyColumn on the columns `source` and `target` of `table`.
  virtual void CopyValues(const StoredTable& table, const ColumnInfo& source,
                          const ColumnInfo& target) = 0;

  // Rolls back what is not committed and closes; never raises.
  virtual void CloseSession() noexcept = 0;
};

// A connection on an engine's session, which the row sets opened on it
// share and which keeps the transaction: its isOpen, inTransaction,
// TransactionLost, Begin, Commit, Rollback and Close (never raising) are the
// hooks above. Destroying the connection closes the session.
template <typename Session>
class SessionConnection : public ConnectionBase {
 public:
  explicit SessionConnection(std::shared_ptr<Session> session) : session_(std::move(session)) {}
  ~SessionConnection() override { session_->Close(); }

 protected:
  void CheckOpen() override {
    if (!session_->isOpen()) throw ObjectClosed();
  }
  bool InTransaction() const override { return session_->inTransaction(); }
  bool TransactionLost() override { return session_->TransactionLost(); }
  void BeginTransaction() override { session_->Begin(); }
  void CommitTransaction() override { session_->Commit(); }
  void RollbackTransaction() override { session_->Rollback(); }
  void CloseSession() noexcept override { session_->Close(); }

  std::shared_ptr<Session> session_;
};

}  // namespace qv::db

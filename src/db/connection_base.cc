#include "db/connection_base.h"

namespace qv::db {

void ConnectionBase::StartStatement() {
  CheckOpen();
  BeforeStatement();
}

void ConnectionBase::BeginTrans() {
  CheckOpen();
  if (InTransaction()) throw Refusal("cannot start a transaction within a transaction");
  BeginTransaction();
}

void ConnectionBase::CommitTrans() {
  CheckOpen();
  if (!InTransaction()) throw Refusal("cannot commit - no transaction is active");
  if (TransactionLost()) {
    throw Refusal("cannot commit - the transaction was rolled back after an earlier error");
  }
  CommitTransaction();
}

void ConnectionBase::RollbackTrans() {
  CheckOpen();
  if (!InTransaction()) throw Refusal("cannot rollback - no transaction is active");
  RollbackTransaction();
}

std::unique_ptr<Recordset> ConnectionBase::Execute(const std::string& statement) {
  StartStatement();
  std::unique_ptr<PreparedStatement> prepared = Prepare(statement);
  // One statement only: whatever follows it is refused before anything runs.
  if (!OnlyBlanksAndComments(prepared->rest)) {
    throw DbError(kErrCharactersAfterStatement, "Characters found after end of SQL statement.");
  }
  if (prepared->empty) throw Refusal("the statement is empty");
  if (prepared->translated.kind == StatementKind::kTransactionControl) {
    throw Refusal(
        "transactions are begun and ended by BeginTrans, CommitTrans and "
        "RollbackTrans, not by statements");
  }
  return prepared->Run();
}

const std::vector<ErrorEntry>& ConnectionBase::Errors() const {
  // No engine reports anything without failing the operation (database.h).
  static const std::vector<ErrorEntry> kNone;
  return kNone;
}

void ConnectionBase::CopyColumn(const std::string& table, const std::string& from,
                                const std::string& to) {
  StartStatement();
  const StoredTable stored = FindStoredTable(table);
  const std::vector<ColumnInfo>& columns = stored.columns;
  CopyValues(stored, columns[ColumnIndex(columns, from)], columns[ColumnIndex(columns, to)]);
}

void ConnectionBase::Close() {
  CheckOpen();
  CloseSession();
}

}  // namespace qv::db

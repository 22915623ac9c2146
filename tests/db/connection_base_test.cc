// What ConnectionBase keeps for every engine, on an engine of the test's own
// that only records what reaches it.
#include "db/connection_base.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "db_test_util.h"

namespace qv::db {
namespace {

constexpr int32_t kRefused = 77;  // the test engine's number for a failed statement

class RecordingConnection : public ConnectionBase {
 public:
  std::vector<std::string> TableNames(TableKind) override { return {}; }
  std::vector<std::string> ColumnNames(const std::string&, const std::string&) override {
    return {};
  }
  std::unique_ptr<Recordset> OpenTable(const std::string&, CursorType, LockType) override {
    return nullptr;
  }

  std::vector<std::string> calls;  // the hooks reached, in order
  bool open = true;
  bool inTransaction = false;
  bool lost = false;

 private:
  class Prepared : public PreparedStatement {
   public:
    Prepared(RecordingConnection& c, Translation t) : PreparedStatement(std::move(t)), c_(c) {}
    std::unique_ptr<Recordset> Run() override {
      c_.calls.push_back("run " + translated.sql);
      return nullptr;
    }

   private:
    RecordingConnection& c_;
  };

  void CheckOpen() override {
    if (!open) throw ObjectClosed();
  }
  void BeforeStatement() override { calls.push_back("statement"); }
  DbError Refusal(const std::string& description) const override {
    return DbError(kRefused, description);
  }
  bool InTransaction() const override { return inTransaction; }
  bool TransactionLost() override { return lost; }
  void BeginTransaction() override {
    calls.push_back("begin");
    inTransaction = true;
  }
  void CommitTransaction() override {
    calls.push_back("commit");
    inTransaction = false;
  }
  void RollbackTransaction() override {
    calls.push_back("rollback");
    inTransaction = false;
  }
  std::unique_ptr<PreparedStatement> Prepare(const std::string& statement) override {
    // The first statement ends at the first semicolon; its first word tells its kind.
    const size_t end = std::min(statement.find(';'), statement.size());
    Translation t;
    t.sql = statement.substr(0, end);
    if (t.sql.rfind("COMMIT", 0) == 0) t.kind = StatementKind::kTransactionControl;
    auto prepared = std::make_unique<Prepared>(*this, std::move(t));
    prepared->empty = OnlyBlanksAndComments(prepared->translated.sql);
    prepared->rest = std::string_view(statement).substr(end);
    return prepared;
  }
  StoredTable FindStoredTable(const std::string& table) override {
    if (table != "T") throw Refusal("no such table: " + table);
    return {"T", {{"A", "INTEGER", ColumnKind::kInt64, 1}, {"B", "TEXT", ColumnKind::kText, 0}}};
  }
  void CopyValues(const StoredTable& table, const ColumnInfo& source,
                  const ColumnInfo& target) override {
    calls.push_back("copy " + table.name + "." + source.name + " to " + target.name);
  }
  void CloseSession() noexcept override {
    calls.push_back("close");
    open = false;
  }
};

TEST(ConnectionBaseTest, RefusesBeforeTheEngineAndInOneOrder) {
  RecordingConnection c;
  const std::tuple<std::string, int32_t, std::string> cases[] = {
      {"COMMIT; DELETE FROM T", kErrCharactersAfterStatement,
       "Characters found after end of SQL statement."},
      {" ;", kRefused, "the statement is empty"},
      {"COMMIT", kRefused, "transactions are begun and ended by BeginTrans"},
  };
  for (const auto& [sql, number, text] : cases) EXPECT_DB_ERROR(c.Execute(sql), number, text);
  EXPECT_EQ(c.Execute("DELETE FROM T; -- done"), nullptr);
  EXPECT_EQ(c.calls, (std::vector<std::string>{"statement", "statement", "statement", "statement",
                                               "run DELETE FROM T"}));
}

TEST(ConnectionBaseTest, KeepsTheTransactionRulesWithTheirTexts) {
  RecordingConnection c;
  EXPECT_DB_ERROR(c.CommitTrans(), kRefused, "cannot commit - no transaction is active");
  EXPECT_DB_ERROR(c.RollbackTrans(), kRefused, "cannot rollback - no transaction is active");
  c.BeginTrans();
  EXPECT_DB_ERROR(c.BeginTrans(), kRefused, "cannot start a transaction within a transaction");
  c.lost = true;
  EXPECT_DB_ERROR(c.CommitTrans(), kRefused,
                  "cannot commit - the transaction was rolled back after an earlier error");
  c.RollbackTrans();  // what a refused commit leaves open
  EXPECT_EQ(c.calls, (std::vector<std::string>{"begin", "rollback"}));
  EXPECT_TRUE(c.Errors().empty());
}

TEST(ConnectionBaseTest, CopyColumnFindsBothColumnsFirstAndCloseEndsEverything) {
  RecordingConnection c;
  EXPECT_DB_ERROR(c.CopyColumn("U", "a", "b"), kRefused, "no such table: U");
  EXPECT_DB_ERROR(c.CopyColumn("T", "a", "c"), kErrItemNotFound, "Item cannot be found");
  c.CopyColumn("T", "b", "a");
  c.Close();
  EXPECT_DB_ERROR(c.Close(), kErrObjectClosed, "");
  EXPECT_DB_ERROR(c.Execute("SELECT 1"), kErrObjectClosed, "");
  EXPECT_DB_ERROR(c.BeginTrans(), kErrObjectClosed, "");
  EXPECT_EQ(c.calls, (std::vector<std::string>{"statement", "statement", "statement",
                                               "copy T.B to A", "close"}));
}

}  // namespace
}  // namespace qv::db

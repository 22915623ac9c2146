#include "db/module_sql.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "db/data_source.h"
#include "db/db_error.h"
#include "db_test_util.h"
#include "support/faulty_connector.h"
#include "support/installation.h"
#include "support/scoped_temp_dir.h"

namespace qv::db {
namespace {

using qv::testing::DbOp;
using qv::testing::Exec;
using qv::testing::FaultyConnector;
using qv::testing::QueryValue;

class ModuleSqlTest : public ::testing::Test {
 protected:
  bool Execute(const std::string& dataSource, const std::string& statement,
               const std::string& password = "quillmark") {
    return ExecuteSQL(*connector_, "admin", password, message_, dataSource, statement);
  }
  bool Execute(Connector& connector, const std::string& statement) {
    return ExecuteSQL(connector, "admin", "quillmark", message_, "qv_main", statement);
  }
  bool IsEmpty(const std::string& table, const std::string& key = "EventID") {
    return TableIsEmpty(*connector_, "admin", "quillmark", table, key);
  }

  qv::testing::ScopedTempDir dir_;
  qv::testing::Installation inst_ = qv::testing::Installation::LayOut(dir_.path());
  std::unique_ptr<Connector> connector_ = MakeDataSourceConnector(inst_.odbcIni().string(), 0);
  std::string message_ = "earlier text";
};

// "<number> :<description>", as an error raised by the database layer reads.
const std::regex kRaisedMessage("-?[0-9]+ :[^ ].*");

TEST_F(ModuleSqlTest, ExecuteSqlTurnsEveryFailureIntoTheMessage) {
  FaultyConnector counting(*connector_);
  EXPECT_FALSE(Execute(counting, ""));
  EXPECT_EQ(message_, "Invalid Table Name or SQL statement");
  message_.clear();
  EXPECT_FALSE(ExecuteSQL(counting, "admin", "quillmark", message_, "", "UPDATE T SET A = 1"));
  EXPECT_EQ(message_, "Invalid Table Name or SQL statement");
  EXPECT_EQ(counting.count(), 0);  // nothing opened

  EXPECT_FALSE(Execute("qv_main", "UPDATE NoSuchTable SET X = 1"));
  EXPECT_TRUE(std::regex_match(message_, kRaisedMessage)) << message_;
  EXPECT_NE(message_.find("NoSuchTable"), std::string::npos) << message_;
  EXPECT_FALSE(Execute("qv_main", "UPDATE Install SET InstallFlag = 1", "wrong"));
  EXPECT_EQ(message_.rfind(std::to_string(kErrDataSource) + " :", 0), 0u) << message_;
  // A second statement is never run, and the first is not committed.
  EXPECT_FALSE(Execute("qv_security", "UPDATE Install SET InstallFlag = 1; DROP TABLE Users"));
  EXPECT_TRUE(std::regex_match(message_, kRaisedMessage)) << message_;
  EXPECT_EQ(QueryValue(inst_.securityDb(),
                       "SELECT count(*) || max(InstallFlag) FROM Install "
                       "WHERE EXISTS (SELECT * FROM Users)"),
            "10");
}

TEST_F(ModuleSqlTest, ExecuteSqlCommitsAllOrNothing) {
  const std::string update = "UPDATE Company SET CompanyName = 'y' WHERE CompanyID = 1";
  const std::string name = "SELECT CompanyName FROM Company WHERE CompanyID = 1";
  FaultyConnector counting(*connector_);
  ASSERT_TRUE(Execute(counting, update));
  EXPECT_EQ(QueryValue(inst_.mainDb(), name), "y");
  EXPECT_EQ(message_, "earlier text");
  // Learn where the commit comes, then make each operation up to it fail.
  const int64_t commit = counting.PositionOf(DbOp::kCommitTrans);
  ASSERT_GT(commit, 0);
  for (int64_t n = 1; n <= commit; ++n) {
    Exec(inst_.mainDb(), "UPDATE Company SET CompanyName = 'before' WHERE CompanyID = 1");
    FaultyConnector faulty(*connector_, n);
    EXPECT_FALSE(Execute(faulty, update)) << counting.Describe(n);
    EXPECT_EQ(message_, std::to_string(FaultyConnector::kInjectedErrorNumber) + " :" +
                            FaultyConnector::kInjectedErrorDescription);
    EXPECT_EQ(QueryValue(inst_.mainDb(), name), "before") << counting.Describe(n);
  }
}

// A connection whose statement leaves entries in the error list, a branch
// the engine itself has no way into.
struct ReportingConnection : Connection {
  explicit ReportingConnection(std::vector<std::string>& l) : log(l) {}
  void BeginTrans() override { log.push_back("begin"); }
  void CommitTrans() override { log.push_back("commit"); }
  void RollbackTrans() override { log.push_back("rollback"); }
  std::unique_ptr<Recordset> Execute(const std::string& statement) override {
    log.push_back(statement);
    return nullptr;
  }
  const std::vector<ErrorEntry>& Errors() const override { return entries; }
  std::vector<std::string> TableNames(TableKind) override { return {}; }
  std::vector<std::string> ColumnNames(const std::string&, const std::string&) override {
    return {};
  }
  std::unique_ptr<Recordset> OpenTable(const std::string&, CursorType, LockType) override {
    return nullptr;
  }
  void CopyColumn(const std::string&, const std::string&, const std::string&) override {}
  void Close() override { log.push_back("close"); }
  std::vector<ErrorEntry> entries = {{3022, "The changes were not successful."},
                                     {-2147217887, "Multiple-step operation generated errors."}};
  std::vector<std::string>& log;
};

TEST(ExecuteSqlErrorListTest, LastEntryIsKeptAndTheTransactionRolledBack) {
  struct : Connector {
    std::unique_ptr<Connection> Open(const std::string& cs, const std::string&,
                                     const std::string&) override {
      log.push_back(cs);
      return std::make_unique<ReportingConnection>(log);
    }
    std::vector<std::string> log;
  } connector;
  std::string message = "earlier";
  EXPECT_FALSE(ExecuteSQL(connector, "u", "p", message, "qv_main", "UPDATE T SET A = 1"));
  EXPECT_EQ(message, "Error Number: -2147217887Multiple-step operation generated errors.\r\n");
  EXPECT_EQ(connector.log, (std::vector<std::string>{"qv_main", "begin", "UPDATE T SET A = 1",
                                                     "rollback", "close"}));
}

TEST_F(ModuleSqlTest, TableIsEmptyComparesTheLargestKeyWithTheThreshold) {
  EXPECT_TRUE(IsEmpty("ScheduleEvent"));
  Exec(inst_.mainDb(), "INSERT INTO ScheduleEvent (EventID) VALUES (1)");
  EXPECT_FALSE(IsEmpty("ScheduleEvent"));
  ASSERT_EQ(QueryValue(inst_.mainDb(), "SELECT max(CompanyID) FROM Company"), "3");
  EXPECT_TRUE(IsEmpty("COMPANY", "CompanyID"));
  EXPECT_TRUE(IsEmpty("company", "companyid"));
  Exec(inst_.mainDb(), "INSERT INTO Company (CompanyID, CompanyName) VALUES (4, 'New')");
  EXPECT_FALSE(IsEmpty("cOmPaNy", "CompanyID"));
  Exec(inst_.mainDb(), "DELETE FROM Company");
  EXPECT_TRUE(IsEmpty("Company", "CompanyID"));

  FaultyConnector counting(*connector_);
  EXPECT_TRUE(TableIsEmpty(counting, "admin", "quillmark", "DocEvent", "EventID"));
  ASSERT_GE(counting.log().size(), 2u);
  EXPECT_EQ(counting.log()[0].detail, "qv_main");
  EXPECT_EQ(counting.log()[1].detail, "SELECT Max(EventID) as MaxPrimary FROM DocEvent");
  EXPECT_EQ(counting.PositionOf(DbOp::kBeginTrans), 0) << "no transaction";
}

TEST_F(ModuleSqlTest, TableIsEmptyRaisesWhatGoesWrong) {
  EXPECT_DB_ERROR(TableIsEmpty(*connector_, "admin", "wrong", "Company", "CompanyID"),
                  kErrDataSource, "wrong user name or password");
  EXPECT_THROW(IsEmpty("NoSuchTable"), DbError);
  EXPECT_THROW(IsEmpty("ScheduleEvent", "NoSuchColumn"), DbError);
}

}  // namespace
}  // namespace qv::db

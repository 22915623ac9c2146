#include "db/module_sql.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "db/data_source.h"
#include "db/db_error.h"
#include "support/faulty_connector.h"
#include "support/installation.h"
#include "support/scoped_temp_dir.h"

namespace qv::db {
namespace {

using qv::testing::DbOp;
using qv::testing::Exec;
using qv::testing::FaultyConnector;
using qv::testing::Installation;
using qv::testing::QueryValue;

class ModuleSqlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    installation_ = std::make_unique<Installation>(Installation::LayOut(dir_.path()));
    connector_ = MakeDataSourceConnector(installation_->odbcIni().string(), 0);
  }

  bool Execute(Connector& connector, const std::string& dataSource, const std::string& statement,
               const std::string& password = "quillmark") {
    return ExecuteSQL(connector, "admin", password, stepMessage_, dataSource, statement);
  }
  bool Execute(const std::string& dataSource, const std::string& statement) {
    return Execute(*connector_, dataSource, statement);
  }
  bool IsEmpty(const std::string& table, const std::string& key) {
    return TableIsEmpty(*connector_, "admin", "quillmark", table, key);
  }
  std::string Main(const std::string& sql) { return QueryValue(installation_->mainDb(), sql); }
  std::string Security(const std::string& sql) {
    return QueryValue(installation_->securityDb(), sql);
  }

  qv::testing::ScopedTempDir dir_;
  std::unique_ptr<Installation> installation_;
  std::unique_ptr<Connector> connector_;
  std::string stepMessage_ = "earlier text";
};

// "<number> :<description>", as an error raised by the database layer reads.
const std::regex kRaisedMessage("-?[0-9]+ :[^ ].*");

TEST_F(ModuleSqlTest, ExecuteSqlCommitsAndLeavesTheMessageAlone) {
  ASSERT_TRUE(Execute("qv_security", "UPDATE Install SET InstallFlag = 1"));
  EXPECT_EQ(Security("SELECT InstallFlag FROM Install"), "1");
  EXPECT_EQ(stepMessage_, "earlier text");
  ASSERT_TRUE(Execute("qv_main", "UPDATE Company SET CompanyName = 'Artisan''s Guild'  WHERE CompanyID = 1"));
  EXPECT_EQ(Main("SELECT CompanyName FROM Company WHERE CompanyID = 1"), "Artisan's Guild");
}

TEST_F(ModuleSqlTest, ExecuteSqlRefusesEmptyTextsWithoutOpeningAnything) {
  FaultyConnector counting(*connector_);
  EXPECT_FALSE(Execute(counting, "qv_main", ""));
  EXPECT_EQ(stepMessage_, "Invalid Table Name or SQL statement");
  stepMessage_.clear();
  EXPECT_FALSE(Execute(counting, "", "UPDATE Install SET InstallFlag = 1"));
  EXPECT_EQ(stepMessage_, "Invalid Table Name or SQL statement");
  EXPECT_EQ(counting.count(), 0);
}

TEST_F(ModuleSqlTest, ExecuteSqlTurnsARejectedStatementIntoNumberAndDescription) {
  EXPECT_FALSE(Execute("qv_main", "UPDATE NoSuchTable SET X = 1"));
  EXPECT_TRUE(std::regex_match(stepMessage_, kRaisedMessage)) << stepMessage_;
  EXPECT_NE(stepMessage_.find("NoSuchTable"), std::string::npos) << stepMessage_;
}

TEST_F(ModuleSqlTest, ExecuteSqlReportsAFailedOpen) {
  EXPECT_FALSE(Execute(*connector_, "qv_main", "UPDATE Install SET InstallFlag = 1", "wrong"));
  EXPECT_EQ(stepMessage_.rfind(std::to_string(kErrDataSource) + " :", 0), 0u) << stepMessage_;
  EXPECT_FALSE(Execute("qv_nowhere", "UPDATE Install SET InstallFlag = 1"));
  EXPECT_TRUE(std::regex_match(stepMessage_, kRaisedMessage)) << stepMessage_;
}

TEST_F(ModuleSqlTest, ExecuteSqlNeverRunsASecondStatement) {
  EXPECT_FALSE(Execute("qv_security", "UPDATE Install SET InstallFlag = 1; DROP TABLE Users"));
  EXPECT_TRUE(std::regex_match(stepMessage_, kRaisedMessage)) << stepMessage_;
  EXPECT_EQ(Security("SELECT count(*) FROM sqlite_master WHERE name = 'Users'"), "1");
  EXPECT_EQ(Security("SELECT count(*) FROM Install WHERE InstallFlag = 1"), "0");
}

TEST_F(ModuleSqlTest, ExecuteSqlCommitsNothingWhenAnyLaterStepFails) {
  // Learn where the commit comes, then make exactly that operation fail.
  FaultyConnector counting(*connector_);
  ASSERT_TRUE(Execute(counting, "qv_main", "UPDATE Company SET CompanyName = 'x' WHERE CompanyID = 1"));
  const int64_t commit = counting.PositionOf(DbOp::kCommitTrans);
  ASSERT_GT(commit, 0);
  for (int64_t n = 1; n <= commit; ++n) {
    Exec(installation_->mainDb(), "UPDATE Company SET CompanyName = 'before' WHERE CompanyID = 1");
    FaultyConnector faulty(*connector_, n);
    EXPECT_FALSE(Execute(faulty, "qv_main", "UPDATE Company SET CompanyName = 'y' WHERE CompanyID = 1"))
        << counting.Describe(n);
    EXPECT_EQ(stepMessage_, std::to_string(FaultyConnector::kInjectedErrorNumber) + " :" +
                                FaultyConnector::kInjectedErrorDescription);
    EXPECT_EQ(Main("SELECT CompanyName FROM Company WHERE CompanyID = 1"), "before")
        << counting.Describe(n);
  }
}

// A connection whose statement leaves entries in the error list, to reach the
// branch the engine itself has no way into.
class ReportingConnection : public Connection {
 public:
  ReportingConnection(std::vector<ErrorEntry> entries, std::vector<std::string>& log)
      : entries_(std::move(entries)), log_(log) {}
  void BeginTrans() override { log_.push_back("begin"); }
  void CommitTrans() override { log_.push_back("commit"); }
  void RollbackTrans() override { log_.push_back("rollback"); }
  std::unique_ptr<Recordset> Execute(const std::string& statement) override {
    log_.push_back("execute " + statement);
    return nullptr;
  }
  const std::vector<ErrorEntry>& Errors() const override { return entries_; }
  std::vector<std::string> TableNames(TableKind) override { return {}; }
  std::vector<std::string> ColumnNames(const std::string&, const std::string&) override {
    return {};
  }
  std::unique_ptr<Recordset> OpenTable(const std::string&, CursorType, LockType) override {
    throw DbError(3251, "not supported");
  }
  void CopyColumn(const std::string&, const std::string&, const std::string&) override {}
  void Close() override { log_.push_back("close"); }

 private:
  std::vector<ErrorEntry> entries_;
  std::vector<std::string>& log_;
};

class ReportingConnector : public Connector {
 public:
  explicit ReportingConnector(std::vector<ErrorEntry> entries) : entries_(std::move(entries)) {}
  std::unique_ptr<Connection> Open(const std::string& cs, const std::string&,
                                   const std::string&) override {
    log.push_back("open " + cs);
    return std::make_unique<ReportingConnection>(entries_, log);
  }
  std::vector<std::string> log;

 private:
  std::vector<ErrorEntry> entries_;
};

TEST(ExecuteSqlErrorListTest, LastEntryIsKeptAndTheTransactionRolledBack) {
  ReportingConnector connector({{3022, "The changes were not successful."},
                                {-2147217887, "Multiple-step operation generated errors."}});
  std::string message = "earlier";
  EXPECT_FALSE(ExecuteSQL(connector, "u", "p", message, "qv_main", "UPDATE T SET A = 1"));
  EXPECT_EQ(message, "Error Number: -2147217887Multiple-step operation generated errors.\r\n");
  EXPECT_EQ(connector.log, (std::vector<std::string>{"open qv_main", "begin",
                                                     "execute UPDATE T SET A = 1", "rollback",
                                                     "close"}));
}

TEST_F(ModuleSqlTest, TableIsEmptyOnEventTables) {
  EXPECT_TRUE(IsEmpty("ScheduleEvent", "EventID"));
  Exec(installation_->mainDb(), "INSERT INTO ScheduleEvent (EventID) VALUES (1)");
  EXPECT_FALSE(IsEmpty("ScheduleEvent", "EventID"));
}

TEST_F(ModuleSqlTest, TableIsEmptyIgnoresTheFirstThreeCompaniesInAnyCase) {
  ASSERT_EQ(Main("SELECT max(CompanyID) FROM Company"), "3");
  EXPECT_TRUE(IsEmpty("Company", "CompanyID"));
  EXPECT_TRUE(IsEmpty("COMPANY", "CompanyID"));
  EXPECT_TRUE(IsEmpty("company", "companyid"));
  Exec(installation_->mainDb(), "INSERT INTO Company (CompanyID, CompanyName) VALUES (4, 'New')");
  EXPECT_FALSE(IsEmpty("Company", "CompanyID"));
  EXPECT_FALSE(IsEmpty("cOmPaNy", "CompanyID"));
  Exec(installation_->mainDb(), "DELETE FROM Company");
  EXPECT_TRUE(IsEmpty("Company", "CompanyID"));
}

TEST_F(ModuleSqlTest, TableIsEmptyAsksTheMainDatabaseForTheLargestKey) {
  FaultyConnector counting(*connector_);
  EXPECT_TRUE(TableIsEmpty(counting, "admin", "quillmark", "DocEvent", "EventID"));
  ASSERT_GE(counting.log().size(), 2u);
  EXPECT_EQ(counting.log()[0].detail, "qv_main");
  EXPECT_EQ(counting.log()[1].detail, "SELECT Max(EventID) as MaxPrimary FROM DocEvent");
  EXPECT_EQ(counting.PositionOf(DbOp::kBeginTrans), 0) << "no transaction";
}

TEST_F(ModuleSqlTest, TableIsEmptyRaisesWhatGoesWrong) {
  try {
    TableIsEmpty(*connector_, "admin", "wrong", "Company", "CompanyID");
    ADD_FAILURE() << "a wrong password must raise";
  } catch (const DbError& e) {
    EXPECT_EQ(e.number(), kErrDataSource);
  }
  EXPECT_THROW(IsEmpty("NoSuchTable", "EventID"), DbError);
  EXPECT_THROW(IsEmpty("ScheduleEvent", "NoSuchColumn"), DbError);
}

}  // namespace
}  // namespace qv::db

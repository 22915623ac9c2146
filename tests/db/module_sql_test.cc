#include "db/module_sql.h"

#include <gtest/gtest.h>

#include <regex>

#include "db/data_source.h"
#include "db_test_util.h"
#include "support/faulty_connector.h"

namespace qv::db {
namespace {

using qv::testing::DbOp;
using qv::testing::FaultyConnector;
using qv::testing::Installation;

class ModuleSqlTest : public ::testing::TestWithParam<qv::testing::Engine> {
 protected:
  void SetUp() override {
    QV_SKIP_UNTESTED_ENGINE(GetParam());
    inst_ = std::make_unique<Installation>(
        Installation::LayOut(dir_.path(), Installation::Kind::kFresh, "Guild", GetParam()));
    connector_ = MakeDataSourceConnector(inst_->odbcIni().string(), 0);
  }
  bool Execute(Connector& connector, const std::string& statement,
               const std::string& dataSource = "qv_main",
               const std::string& password = "quillmark") {
    return ExecuteSQL(connector, "admin", password, message_, dataSource, statement);
  }
  std::string Main(const std::string& sql) {
    return qv::testing::QueryValue(inst_->mainDatabase(), sql);
  }

  qv::testing::ScopedTempDir dir_;
  std::unique_ptr<Installation> inst_;
  std::unique_ptr<Connector> connector_;
  std::string message_ = "earlier text";
};
INSTANTIATE_TEST_SUITE_P(Engines, ModuleSqlTest, ::testing::ValuesIn(qv::testing::kEngines),
                         qv::testing::EngineName);

TEST_P(ModuleSqlTest, ExecuteSqlTurnsEveryFailureIntoTheMessageAndCommitsAllOrNothing) {
  FaultyConnector counting(*connector_);
  EXPECT_FALSE(Execute(counting, ""));
  EXPECT_EQ(message_, "Invalid Table Name or SQL statement");
  EXPECT_FALSE(Execute(counting, "UPDATE T SET A = 1", ""));
  EXPECT_EQ(counting.count(), 0);  // nothing opened
  // "<number> :<description>", as an error raised by the database layer reads.
  const std::regex raised("-?[0-9]+ :[^ ].*");
  EXPECT_FALSE(Execute(*connector_, "UPDATE NoSuchTable SET X = 1"));
  EXPECT_TRUE(std::regex_match(message_, raised) &&
              LowerAscii(message_).find("nosuchtable") != std::string::npos)
      << message_;
  EXPECT_FALSE(Execute(*connector_, "UPDATE Install SET InstallFlag = 1", "qv_main", "wrong"));
  EXPECT_EQ(message_.rfind(std::to_string(kErrDataSource) + " :", 0), 0u) << message_;
  // A second statement is never run, and the first is not committed.
  EXPECT_FALSE(
      Execute(*connector_, "UPDATE Install SET InstallFlag = 1; DROP TABLE Users", "qv_security"));
  EXPECT_TRUE(std::regex_match(message_, raised)) << message_;
  EXPECT_EQ(qv::testing::QueryValue(inst_->securityDatabase(),
                                    "SELECT max(InstallFlag) + 10 * count(*) FROM Install "
                                    "WHERE EXISTS (SELECT * FROM Users)"),
            "10");

  const std::string update = "UPDATE Company SET CompanyName = 'y' WHERE CompanyID = 1";
  const std::string name = "SELECT CompanyName FROM Company WHERE CompanyID = 1";
  message_ = "earlier text";
  ASSERT_TRUE(Execute(counting, update));
  EXPECT_EQ(Main(name) + message_, "yearlier text");
  // Learn where the commit comes, then make each operation up to it fail.
  const int64_t commit = counting.PositionOf(DbOp::kCommitTrans);
  ASSERT_GT(commit, 0);
  for (int64_t n = 1; n <= commit; ++n) {
    qv::testing::Exec(inst_->mainDatabase(),
                      "UPDATE Company SET CompanyName = 'before' WHERE CompanyID = 1");
    FaultyConnector faulty(*connector_, n);
    EXPECT_FALSE(Execute(faulty, update)) << counting.Describe(n);
    EXPECT_EQ(message_, std::to_string(FaultyConnector::kInjectedErrorNumber) + " :" +
                            FaultyConnector::kInjectedErrorDescription);
    EXPECT_EQ(Main(name), "before") << counting.Describe(n);
  }
}

TEST_P(ModuleSqlTest, TableIsEmptyComparesTheLargestKeyWithTheThreshold) {
  auto isEmpty = [&](const std::string& table, const std::string& key) {
    return TableIsEmpty(*connector_, "admin", "quillmark", table, key);
  };
  EXPECT_TRUE(isEmpty("ScheduleEvent", "EventID"));
  qv::testing::Exec(inst_->mainDatabase(), "INSERT INTO ScheduleEvent (EventID) VALUES (1)");
  EXPECT_FALSE(isEmpty("ScheduleEvent", "EventID"));
  ASSERT_EQ(Main("SELECT max(CompanyID) FROM Company"), "3");
  EXPECT_TRUE(isEmpty("COMPANY", "companyid"));  // the rows a fresh installation holds
  qv::testing::Exec(inst_->mainDatabase(),
                    "INSERT INTO Company (CompanyID, CompanyName) VALUES (4, 'New')");
  EXPECT_FALSE(isEmpty("cOmPaNy", "CompanyID"));
  EXPECT_DB_ERROR(TableIsEmpty(*connector_, "admin", "wrong", "Company", "CompanyID"),
                  kErrDataSource, "wrong user name or password");
  EXPECT_THROW(isEmpty("NoSuchTable", "EventID"), DbError);
  EXPECT_THROW(isEmpty("ScheduleEvent", "NoSuchColumn"), DbError);
}

}  // namespace
}  // namespace qv::db

#include "db/module_sql.h"

#include <gtest/gtest.h>

#include <regex>

#include "db/data_source.h"
#include "db_test_util.h"
#include "support/faulty_connector.h"

namespace qv::db {
namespace {

using qv::testing::FaultyConnector;
using qv::testing::Installation;

class ModuleSqlTest : public ::testing::TestWithParam<qv::testing::Engine> {};
INSTANTIATE_TEST_SUITE_P(Engines, ModuleSqlTest, ::testing::ValuesIn(qv::testing::kEngines),
                         qv::testing::EngineName);

TEST_P(ModuleSqlTest, ExecuteSqlReportsEveryFailureAndCommitsAllOrNothing) {
  QV_SKIP_UNTESTED_ENGINE(GetParam());
  qv::testing::ScopedTempDir dir;
  const Installation inst =
      Installation::LayOut(dir.path(), Installation::Kind::kFresh, "Guild", GetParam());
  auto connector = MakeDataSourceConnector(inst.odbcIni().string(), 0);
  FaultyConnector counting(*connector);
  std::string message;
  auto run = [&](Connector& with, const std::string& sql, const std::string& dataSource,
                 const std::string& password) {
    return ExecuteSQL(with, "admin", password, message, dataSource, sql);
  };
  // The statement and data source, the message (its start, or a pattern).
  const std::tuple<std::string, std::string, std::string, std::string> cases[] = {
      {"", "qv_main", "quillmark", "Invalid Table Name or SQL statement"},
      {"UPDATE T SET A = 1", "", "quillmark", "Invalid Table Name or SQL statement"},
      {"UPDATE NoSuchTable SET X = 1", "qv_main", "quillmark",
       "-?[0-9]+ :.*(nosuchtable|NoSuchTable).*"},
      {"UPDATE Install SET InstallFlag = 1", "qv_main", "wrong",
       std::to_string(kErrDataSource) + " :.*"},
      // A second statement is never run, and the first is not committed.
      {"UPDATE Install SET InstallFlag = 1; DROP TABLE Users", "qv_security", "quillmark",
       "-?[0-9]+ :[^ ].*"}};
  for (const auto& [sql, dataSource, password, pattern] : cases) {
    EXPECT_FALSE(
        run(sql.empty() || dataSource.empty() ? counting : *connector, sql, dataSource, password));
    EXPECT_TRUE(std::regex_match(message, std::regex(pattern))) << message;
  }
  EXPECT_EQ(counting.count(), 0);  // nothing opened
  EXPECT_EQ(qv::testing::QueryValue(inst.securityDatabase(),
                                    "SELECT max(InstallFlag) + 10 * count(*) FROM Install "
                                    "WHERE EXISTS (SELECT * FROM Users)"),
            "10");

  const std::string update = "UPDATE Company SET CompanyName = 'y' WHERE CompanyID = 1";
  const std::string name = "SELECT CompanyName FROM Company WHERE CompanyID = 1";
  message = "earlier";
  ASSERT_TRUE(run(counting, update, "qv_main", "quillmark"));
  EXPECT_EQ(qv::testing::QueryValue(inst.mainDatabase(), name) + message, "yearlier");
  // Each operation up to the commit fails in turn: nothing is kept.
  const int64_t commit = counting.PositionOf(qv::testing::DbOp::kCommitTrans);
  ASSERT_GT(commit, 0);
  for (int64_t n = 1; n <= commit; ++n) {
    qv::testing::Exec(inst.mainDatabase(),
                      "UPDATE Company SET CompanyName = 'x' WHERE CompanyID = 1");
    FaultyConnector faulty(*connector, n);
    EXPECT_FALSE(run(faulty, update, "qv_main", "quillmark")) << counting.Describe(n);
    EXPECT_EQ(message, std::to_string(FaultyConnector::kInjectedErrorNumber) + " :" +
                           FaultyConnector::kInjectedErrorDescription);
    EXPECT_EQ(qv::testing::QueryValue(inst.mainDatabase(), name), "x") << counting.Describe(n);
  }
}

}  // namespace
}  // namespace qv::db

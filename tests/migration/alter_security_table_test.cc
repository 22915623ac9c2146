// The security database alteration: one hand-built security database per
// case, then a fault sweep over an older installation.
#include <gtest/gtest.h>

#include "migration/migration.h"
#include "migration/migration_harness.h"

namespace qv::migration::testing {
namespace {

const char kSecurityFailed[] =
    "There was an error occured.\r\nduring setup security table. Couldn't complete the task.";

struct SecurityCase {
  const char* columns;  // of Users besides UserID and Name, before the step
  const char* prefs;    // GlobalPref rows
  const char* users;    // Users rows
  const char* update;   // sent after the two ALTERs and the SELECT; none: nothing sent
  bool succeeds;        // a failed step leaves Users as it was
  Rows after;           // Users
};
// clang-format off
const SecurityCase kCases[] = {
  {"", "('dd.mm.yyyy', 'HH:nn'), ('x', 'y')", "(1, 'a'), (2, 'b')",  // the first row serves all
   "UPDATE Users SET DateFormat='dd.mm.yyyy', TimeFormat='HH:nn'", true, {"1|a|dd.mm.yyyy|HH:nn", "2|b|dd.mm.yyyy|HH:nn"}},
  {"", "", "(1, 'a')", "UPDATE Users SET DateFormat='yyyy/mm/dd', TimeFormat='hh:mm tt'", true, {"1|a|yyyy/mm/dd|hh:mm tt"}},
  {"", "('d', 't')", "", "UPDATE Users SET DateFormat='d', TimeFormat='t'", true, {}},
  {", dateformat TEXT(50), TimeFormat TEXT(50)", "('d', 't')", "(1, 'a', 'own', NULL)", nullptr, true, {"1|a|own|(null)"}},
  {", TimeFormat TEXT(50)", "('d', 't')", "(1, 'a', NULL)", "UPDATE Users SET DateFormat='d', TimeFormat='t'", false, {"1|a|(null)"}},
  {"", "('yyyy/mm/dd', NULL)", "(1, 'a')", "UPDATE Users SET DateFormat='yyyy/mm/dd', TimeFormat=''", false, {"1|a"}},
  {"", "('dd''mm', 'hh')", "(1, 'a')", "UPDATE Users SET DateFormat='dd'mm', TimeFormat='hh'", false, {"1|a"}},
};
// clang-format on

class AlterSecurityTableTest : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override { QV_SKIP_UNTESTED_ENGINE(GetParam()); }
};

TEST_P(AlterSecurityTableTest, AddsAndFillsTheFormatsOrLeavesUsersAsItWas) {
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.columns) + " / " + c.prefs + " / " + c.users);
    Site site(Kind::kFresh, GetParam());
    site.Rebuild(
        site.security(),
        "CREATE TABLE GlobalPref (DateFormat TEXT(50), TimeFormat TEXT(50));"
        "CREATE TABLE Users (UserID INTEGER PRIMARY KEY, Name TEXT(9)" +
            std::string(c.columns) + ");" +
            (*c.prefs ? "INSERT INTO GlobalPref VALUES " + std::string(c.prefs) + ";" : "") +
            (*c.users ? "INSERT INTO Users VALUES " + std::string(c.users) + ";" : ""));
    FaultyConnector log(site.connector());
    std::string message = kEarlierMessage;
    EXPECT_EQ(AlterSecurityTable(log, message), c.succeeds);
    EXPECT_EQ(message, c.succeeds ? kEarlierMessage : kSecurityFailed);
    EXPECT_EQ(Select(site.security(), "SELECT * FROM Users ORDER BY 1"), c.after);
    const Rows all = {"ALTER TABLE Users ADD COLUMN DateFormat TEXT(50) NULL",
                      "ALTER TABLE Users ADD COLUMN TimeFormat TEXT(50) NULL",
                      "SELECT DateFormat, TimeFormat FROM GlobalPref", c.update ? c.update : ""};
    EXPECT_EQ(Statements(log), c.update ? all : Rows{});
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, AlterSecurityTableTest,
                         ::testing::ValuesIn(qv::testing::kEngines), qv::testing::EngineName);

// Whichever operation fails, Users is fully altered or as it was, a failure
// says so, and a failing statement stops none of the others. Failures of the
// closing of the preferences, of the commit and of the final close are ignored.
using AlterSecurityTableFaultTest = AlterSecurityTableTest;

TEST_P(AlterSecurityTableFaultTest, EveryFailureRollsBackAndEveryStatementIsTried) {
  Site site(Kind::kOld, GetParam());
  const Rows untouched = Snapshot(site.security());
  Rows altered;
  Sweep(site, AlterSecurityTable, [&](const FaultRun& run) {
    const Rows now = Snapshot(site.security());
    if (run.n == 0) altered = now;
    const bool ignored = run.n == 0 || run.op == DbOp::kCloseRecordset ||
                         run.op == DbOp::kCommitTrans || run.op == DbOp::kCloseConnection;
    EXPECT_EQ(run.result, ignored);
    EXPECT_EQ(run.message, ignored ? kEarlierMessage : kSecurityFailed);
    EXPECT_EQ(now, ignored && run.op != DbOp::kCommitTrans ? altered : untouched);
    const bool early = run.n != 0 && (run.op == DbOp::kOpen || run.op == DbOp::kBeginTrans ||
                                      run.op == DbOp::kColumnNames);
    EXPECT_EQ(Statements(run.log).size(), early ? 0u : 4u);
  });
  EXPECT_NE(altered, untouched);
}

INSTANTIATE_TEST_SUITE_P(Engines, AlterSecurityTableFaultTest,
                         ::testing::ValuesIn(qv::testing::kEngines), qv::testing::EngineName);

}  // namespace
}  // namespace qv::migration::testing

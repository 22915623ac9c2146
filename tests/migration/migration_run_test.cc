// The four steps in the order a setup run calls them, on an older
// installation, twice.
#include <gtest/gtest.h>

#include "db/names.h"
#include "migration/migration.h"
#include "migration/migration_harness.h"

namespace qv::migration::testing {
namespace {

// The step message after each step, marked when the step returned false.
Rows RunFourSteps(db::Connector& connector) {
  Rows messages;
  std::string message;
  for (Step step : {AlterTables, DropViews, AlterSecurityTable, AlterViews}) {
    const bool result = step(connector, message);
    messages.push_back((result ? "" : "failed: ") + message);
  }
  return messages;
}

class MigrationRunTest : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override { QV_SKIP_UNTESTED_ENGINE(GetParam()); }
};

TEST_P(MigrationRunTest, BringsAnOlderInstallationUpToDateAndASecondRunChangesNothing) {
  Site site(Kind::kOld, GetParam());
  const Rows values = Data(site.main(), true);
  const Rows allCompleted(4, "The task completed.");
  EXPECT_EQ(RunFourSteps(site.connector()), allCompleted);
  EXPECT_EQ(Data(site.main(), true), values);
  for (const std::string& table : Tables(site.main())) {
    for (const std::string& column : qv::testing::ColumnsOf(site.main(), table))
      EXPECT_FALSE(db::EqualsNoCase(column, "Public") || db::EqualsNoCase(column, "Confirm"))
          << table << "." << column;
  }
  for (const std::string& object : Snapshot(site.main()))  // the PublicID indexes are gone
    EXPECT_EQ(db::LowerAscii(object).find("publicid"), std::string::npos) << object;
  // The current views, and no others.
  EXPECT_EQ(Views(site.main()), Views(Site(Kind::kFresh, GetParam()).main()));
  EXPECT_EQ(Select(site.security(), "SELECT DISTINCT DateFormat, TimeFormat FROM Users"),
            Rows{"mm/dd/yyyy|HH:mm"});  // every user has the installation's formats

  const Rows main = Snapshot(site.main());
  const Rows security = Snapshot(site.security());
  FaultyConnector log(site.connector());
  EXPECT_EQ(RunFourSteps(log), allCompleted);
  EXPECT_EQ(Statements(log).size(), 30u);  // the fifteen views' drop and create, nothing else
  EXPECT_EQ(Snapshot(site.main()), main);
  EXPECT_EQ(Snapshot(site.security()), security);
}

INSTANTIATE_TEST_SUITE_P(Engines, MigrationRunTest, ::testing::ValuesIn(qv::testing::kEngines),
                         qv::testing::EngineName);

}  // namespace
}  // namespace qv::migration::testing

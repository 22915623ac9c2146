// The four steps in the order a setup run calls them, on an older
// installation, twice.
#include <gtest/gtest.h>

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

TEST(MigrationRunTest, BringsAnOlderInstallationUpToDateAndASecondRunChangesNothing) {
  Site site(Kind::kOld);
  const Rows values = Data(site.main(), true);
  const Rows allCompleted(4, "The task completed.");
  EXPECT_EQ(RunFourSteps(site.connector()), allCompleted);
  EXPECT_EQ(Data(site.main(), true), values);
  EXPECT_EQ(Select(site.main(),
                   "SELECT m.name FROM sqlite_schema m, pragma_table_info(m.name) p WHERE "
                   "m.type = 'table' AND lower(p.name) IN ('public', 'confirm') "
                   "UNION SELECT name FROM sqlite_schema WHERE name LIKE '%PublicID'"),
            Rows{});
  EXPECT_EQ(Views(site.main()), Views(Site().main()));  // the current views, and no others
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

}  // namespace
}  // namespace qv::migration::testing

// The view re-creation on installations laid out for the test.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "db/data_source.h"
#include "db/data_sources.h"
#include "migration/migration.h"
#include "migration/recording_connector.h"
#include "migration/scratch_sources.h"
#include "migration/view_definitions.h"
#include "support/faulty_connector.h"
#include "support/installation.h"
#include "support/scoped_temp_dir.h"

namespace qv::migration::testing {
namespace {

using qv::testing::Installation;

const char kViewsFailed[] = "An error occured while creating a view";
const char kEarlierMessage[] = "left by an earlier step";

// Every view of the main database, stored name -> stored definition, read
// directly from the file.
std::map<std::string, std::string> StoredViews(const Installation& installation) {
  std::map<std::string, std::string> views;
  for (const auto& row : qv::testing::Query(
           installation.mainDb(), "SELECT name, sql FROM sqlite_schema WHERE type = 'view'")) {
    views[row[0]] = row[1];
  }
  return views;
}

class AlterViewsTest : public ::testing::Test {
 protected:
  explicit AlterViewsTest(Installation::Kind kind = Installation::Kind::kFresh)
      : installation_(Installation::LayOut(dir_.path(), kind)),
        connector_(db::MakeDataSourceConnector(installation_.odbcIni().string(), 0)),
        recorder_(*connector_) {}

  void Prepare(const std::string& script) { qv::testing::Exec(installation_.mainDb(), script); }

  qv::testing::ScopedTempDir dir_;
  Installation installation_;
  std::unique_ptr<db::Connector> connector_;
  RecordingConnector recorder_;
  std::string message_ = kEarlierMessage;
};

TEST_F(AlterViewsTest, RecreatesTheFifteenViewsAndEachOneAnswers) {
  // An older definition, to see that it is replaced.
  Prepare("DROP VIEW ProjectList; CREATE VIEW ProjectList AS SELECT 1 AS Marker;");

  EXPECT_TRUE(AlterViews(recorder_, message_));
  EXPECT_EQ(message_, kEarlierMessage);

  std::vector<std::string> views = MainViews(*connector_);
  EXPECT_EQ(views.size(), kCurrentViewCount);
  std::unique_ptr<db::Connection> connection = connector_->Open(db::kMainConnectionString, "", "");
  for (const ViewDefinition& view : kCurrentViews) {
    SCOPED_TRACE(view.name);
    EXPECT_EQ(StoredViews(installation_).count(view.name), 1u);  // stored as created
    EXPECT_NO_THROW(connection->Execute(std::string("SELECT * FROM ") + view.name)->Close());
  }
  connection->Close();
  EXPECT_FALSE(ContainsName(MainColumns(*connector_, "ProjectList"), "Marker"));
  EXPECT_TRUE(ContainsName(MainColumns(*connector_, "ProjectList"), "MemberVisible"));
}

TEST_F(AlterViewsTest, SendsThirtyStatementsDropBeforeCreate) {
  ASSERT_TRUE(AlterViews(recorder_, message_));

  const std::vector<std::string>& statements = recorder_.statements();
  ASSERT_EQ(statements.size(), 2 * kCurrentViewCount);
  for (std::size_t i = 0; i < kCurrentViewCount; ++i) {
    EXPECT_EQ(statements[2 * i], kCurrentViews[i].dropStatement);
    EXPECT_EQ(statements[2 * i + 1], kCurrentViews[i].createStatement);
  }
  EXPECT_EQ(statements[4], "DROP TABLE ScheduleOwnerShip");
}

TEST_F(AlterViewsTest, SecondRunGivesTheSameViews) {
  ASSERT_TRUE(AlterViews(*connector_, message_));
  std::map<std::string, std::string> first = StoredViews(installation_);

  EXPECT_TRUE(AlterViews(*connector_, message_));
  EXPECT_EQ(StoredViews(installation_), first);
}

TEST_F(AlterViewsTest, MissingViewFailsAfterTryingEveryStatementAndChangesNothing) {
  Prepare(
      "DROP VIEW DocEventDuplicate;"
      "DROP VIEW ScheduleEngine; CREATE VIEW ScheduleEngine AS SELECT 1 AS Marker;");
  std::map<std::string, std::string> before = StoredViews(installation_);

  EXPECT_FALSE(AlterViews(recorder_, message_));
  EXPECT_EQ(message_, kViewsFailed);
  EXPECT_EQ(recorder_.statements().size(), 2 * kCurrentViewCount);
  EXPECT_EQ(StoredViews(installation_), before);
}

TEST_F(AlterViewsTest, MissingSourceTableFailsAndChangesNothing) {
  Prepare("DROP TABLE ResourceType;");
  std::map<std::string, std::string> before = StoredViews(installation_);

  EXPECT_FALSE(AlterViews(*connector_, message_));
  EXPECT_EQ(message_, kViewsFailed);
  EXPECT_EQ(StoredViews(installation_), before);
}

TEST_F(AlterViewsTest, ScheduleOwnershipStoredInAnotherCaseIsReplaced) {
  Prepare("DROP VIEW ScheduleOwnership; CREATE VIEW scheduleOWNERSHIP AS SELECT 1 AS Marker;");

  EXPECT_TRUE(AlterViews(*connector_, message_));
  std::map<std::string, std::string> views = StoredViews(installation_);
  EXPECT_EQ(views.count("scheduleOWNERSHIP"), 0u);
  EXPECT_EQ(views.count("ScheduleOwnership"), 1u);
}

TEST_F(AlterViewsTest, OtherViewsAreLeftAlone) {
  Prepare("CREATE VIEW CompanyNames AS SELECT CompanyName FROM Company;");
  std::string before = StoredViews(installation_).at("CompanyNames");

  EXPECT_TRUE(AlterViews(*connector_, message_));
  EXPECT_EQ(StoredViews(installation_).at("CompanyNames"), before);
}

class AlterViewsOlderInstallationTest : public AlterViewsTest {
 protected:
  AlterViewsOlderInstallationTest() : AlterViewsTest(Installation::Kind::kOld) {}
};

TEST_F(AlterViewsOlderInstallationTest, TablesNotYetAlteredMakeTheStepFail) {
  // ScheduleEvent has no Shared yet: the views over it cannot be created.
  std::map<std::string, std::string> before = StoredViews(installation_);

  EXPECT_FALSE(AlterViews(*connector_, message_));
  EXPECT_EQ(message_, kViewsFailed);
  EXPECT_EQ(StoredViews(installation_), before);
}

// Whichever single operation fails, the views are either all re-created or
// all as they were; a failed step says so. Only a failed commit, which the
// step ignores, leaves them as they were with the step reporting success.
TEST(AlterViewsFaultTest, EveryFailingOperationLeavesAllOrNothing) {
  auto layOut = [](const qv::testing::ScopedTempDir& dir) {
    Installation installation = Installation::LayOut(dir.path());
    qv::testing::Exec(
        installation.mainDb(),
        "DROP VIEW ForumListAdmin; CREATE VIEW ForumListAdmin AS SELECT 1 AS Marker;");
    return installation;
  };

  int64_t operations = 0;
  std::map<std::string, std::string> recreated;
  {
    qv::testing::ScopedTempDir dir;
    Installation installation = layOut(dir);
    auto real = db::MakeDataSourceConnector(installation.odbcIni().string(), 0);
    qv::testing::FaultyConnector counter(*real);
    std::string message;
    ASSERT_TRUE(AlterViews(counter, message));
    operations = counter.count();
    recreated = StoredViews(installation);
  }
  ASSERT_GT(operations, static_cast<int64_t>(2 * kCurrentViewCount));

  for (int64_t n = 1; n <= operations; ++n) {
    qv::testing::ScopedTempDir dir;
    Installation installation = layOut(dir);
    std::map<std::string, std::string> before = StoredViews(installation);
    auto real = db::MakeDataSourceConnector(installation.odbcIni().string(), 0);
    qv::testing::FaultyConnector faulty(*real, n);
    std::string message = kEarlierMessage;

    bool result = AlterViews(faulty, message);
    std::string failed = faulty.Describe(n);
    SCOPED_TRACE(failed);
    std::map<std::string, std::string> after = StoredViews(installation);
    if (!result) {
      EXPECT_EQ(message, kViewsFailed);
      EXPECT_EQ(after, before);
    } else if (faulty.log()[n - 1].op == qv::testing::DbOp::kCommitTrans) {
      EXPECT_EQ(message, kEarlierMessage);
      EXPECT_EQ(after, before);
    } else {
      EXPECT_EQ(message, kEarlierMessage);
      EXPECT_EQ(after, recreated);
    }
  }
}

}  // namespace
}  // namespace qv::migration::testing

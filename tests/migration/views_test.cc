// The two view steps: removal of the seven obsolete views, and re-creation of
// the fifteen current ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "db/data_sources.h"
#include "db/names.h"
#include "migration/migration.h"
#include "migration/migration_harness.h"
#include "support/held_reader.h"

namespace qv::migration::testing {
namespace {

// A main database holding the seven obsolete views, one stored in lower case,
// and two views that are not obsolete.
const char kObsoleteViews[] = R"sql(
CREATE VIEW NoticeAnnounce AS SELECT 1 AS A; CREATE VIEW WorkTrakerList AS SELECT 1 AS A;
CREATE VIEW DocumentFoldersListSearch AS SELECT 1 AS A;
CREATE VIEW DocumentFolderListAdmin AS SELECT 1 AS A;
CREATE VIEW DocumentFolderListAdminPersonal AS SELECT 1 AS A;
CREATE VIEW documentlist AS SELECT 1 AS A; CREATE VIEW DocumentHistory AS SELECT 1 AS A;
CREATE VIEW WorkTrackerList AS SELECT 1 AS A; CREATE VIEW DocumentFolderList AS SELECT 1 AS A;
)sql";

std::string DropFailed(const std::string& view) {
  return "There was an error occured.\r\nduring dropping " + view +
         "\r\n Couldn't complete the task.";
}

Rows Plus(Rows names, const Rows& more) {
  names.insert(names.end(), more.begin(), more.end());
  std::sort(names.begin(), names.end());
  return names;
}

// `names` as the engine stores them (the server folds unquoted names to
// lower case), sorted.
Rows Stored(Engine engine, Rows names) {
  for (std::string& name : names) {
    if (engine == Engine::kPostgres) name = db::LowerAscii(name);
  }
  return Plus(names, {});
}

class ViewsTest : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override { QV_SKIP_UNTESTED_ENGINE(GetParam()); }
};
using DropViewsTest = ViewsTest;
using AlterViewsTest = ViewsTest;
using DropViewsFaultTest = ViewsTest;
using AlterViewsFaultTest = ViewsTest;

TEST_P(DropViewsTest, DropsTheSevenUnderTheirStoredNamesAndNothingElse) {
  const Engine engine = GetParam();
  Site site(Kind::kFresh, engine);
  site.Rebuild(site.main(), kObsoleteViews);
  std::string message = kEarlierMessage;
  // While another connection reads the file, every drop fails at once: all
  // are tried, the message names the last one, the step succeeds. Files
  // only: a reader on the server does not block dropping a view.
  if (engine == Engine::kSqlite) {
    qv::testing::HeldReader reader(site.main().file());
    FaultyConnector blocked(site.connector());
    EXPECT_TRUE(DropViews(blocked, message));
    const Rows tried = Statements(blocked);
    EXPECT_EQ(tried.size(), 7u);
    EXPECT_EQ(message, DropFailed(tried.back().substr(11)));  // after "DROP TABLE "
  }
  message = kEarlierMessage;
  FaultyConnector log(site.connector());
  EXPECT_TRUE(DropViews(log, message));
  EXPECT_EQ(message, kEarlierMessage);
  EXPECT_EQ(Views(site.main()), Stored(engine, {"DocumentFolderList", "WorkTrackerList"}));
  // The list is read before the step's transaction begins, so that no read
  // lock of the step stands in the way of the drops' commits.
  EXPECT_LT(log.PositionOf(DbOp::kTableNames), log.PositionOf(DbOp::kBeginTrans));
  Rows dropped;
  for (const std::string& statement : Statements(log)) dropped.push_back(statement.substr(11));
  EXPECT_EQ(Plus(dropped, {}),
            Stored(engine, {"DocumentFolderListAdmin", "DocumentFolderListAdminPersonal",
                            "DocumentFoldersListSearch", "DocumentHistory", "NoticeAnnounce",
                            "WorkTrakerList", "documentlist"}));
  EXPECT_EQ(Statements(log).at(0).substr(0, 11), "DROP TABLE ");

  // Again, with a base table named like an obsolete view: nothing to drop.
  site.Exec("CREATE TABLE DocumentList (ID INTEGER); INSERT INTO DocumentList VALUES (1);");
  FaultyConnector again(site.connector());
  EXPECT_TRUE(DropViews(again, message));
  EXPECT_EQ(Statements(again), Rows{});
  EXPECT_EQ(Select(site.main(), "SELECT ID FROM DocumentList"), Rows{"1"});
}

// A drop that fails keeps its view alone and names it in the message, the
// step still succeeding; only a list that cannot be read fails the step.
TEST_P(DropViewsFaultTest, AFailedDropKeepsOnlyItsView) {
  Site site(Kind::kFresh, GetParam());
  site.Rebuild(site.main(), kObsoleteViews);
  Rows dropped;
  Sweep(site, DropViews, [&](const FaultRun& run) {
    if (run.n == 0) dropped = Views(site.main());
    if (run.op == DbOp::kTableNames) {
      EXPECT_FALSE(run.result);
      EXPECT_EQ(Statements(run.log), Rows{});
    }
    if (run.op != DbOp::kExecute) return;
    const std::string view = run.log.log()[run.n - 1].detail.substr(11);
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.message, DropFailed(view));
    EXPECT_EQ(Views(site.main()), Plus(dropped, {view}));
  });
}

const char kViewsFailed[] = "An error occured while creating a view";

TEST_P(AlterViewsTest, RecreatesTheFifteenViewsExactlyAsDefined) {
  Site site(Kind::kFresh, GetParam());
  const Rows current = Views(site.main());
  site.Exec(
      "DROP VIEW ProjectList; CREATE VIEW ProjectList AS SELECT 1 AS Marker;"
      "DROP VIEW ScheduleOwnership; CREATE VIEW scheduleOWNERSHIP AS SELECT 1 AS Marker;"
      "CREATE VIEW CompanyNames AS SELECT CompanyName FROM Company;");
  FaultyConnector log(site.connector());
  std::string message = kEarlierMessage;
  EXPECT_TRUE(AlterViews(log, message));
  EXPECT_EQ(message, kEarlierMessage);

  // The thirty statements, joined by line feeds, have the length and the
  // FNV-1a hash of the defining texts (computed from them once): any changed
  // byte shows.
  const Rows statements = Statements(log);
  ASSERT_EQ(statements.size(), 30u);
  EXPECT_EQ(statements[4], "DROP TABLE ScheduleOwnerShip");
  std::string joined = statements[0];
  for (std::size_t i = 1; i < statements.size(); ++i) joined += "\n" + statements[i];
  uint64_t hash = 0xcbf29ce484222325u;
  for (unsigned char c : joined) hash = (hash ^ c) * 0x100000001b3u;
  EXPECT_EQ(joined.size(), 10537u);
  EXPECT_EQ(hash, 0x6f97526df54375c6u);

  EXPECT_EQ(Views(site.main()), Plus(current, Stored(GetParam(), {"CompanyNames"})));
  auto connection = site.connector().Open(db::kMainConnectionString, "", "");
  for (const std::string& view : current) {
    EXPECT_NO_THROW(connection->Execute("SELECT * FROM " + view)->Close()) << view;
  }
  connection->Close();
}

// One statement failing among the thirty: all are still tried, nothing stays.
TEST_P(AlterViewsTest, AFailingStatementRollsEveryViewBack) {
  const Engine engine = GetParam();
  // The server refuses to drop a table that views read: those go with it.
  const std::string cascade = engine == Engine::kPostgres ? " CASCADE" : "";
  const std::pair<Kind, std::string> cases[] = {
      {Kind::kFresh, "DROP VIEW DocEventDuplicate;"},             // a view missing
      {Kind::kFresh, "DROP TABLE ResourceType" + cascade + ";"},  // a source table missing
      {Kind::kOld, ""},                                           // tables not yet altered
  };
  for (const auto& [kind, prepare] : cases) {
    SCOPED_TRACE(prepare);
    Site site(kind, engine);
    if (!prepare.empty()) site.Exec(prepare);
    const Rows before = Snapshot(site.main());
    FaultyConnector log(site.connector());
    std::string message = kEarlierMessage;
    EXPECT_FALSE(AlterViews(log, message));
    EXPECT_EQ(message, kViewsFailed);
    EXPECT_EQ(Statements(log).size(), 30u);
    EXPECT_EQ(Snapshot(site.main()), before);
  }
}

// Whichever operation fails, the views are all re-created or all as they
// were; only a failing commit, which the step ignores, leaves them as they
// were with the step reporting success.
TEST_P(AlterViewsFaultTest, EveryFailingOperationLeavesAllOrNothing) {
  Site site(Kind::kFresh, GetParam());
  site.Exec("DROP VIEW ForumListAdmin; CREATE VIEW ForumListAdmin AS SELECT 1 AS Marker;");
  const Rows before = Snapshot(site.main());
  Rows recreated;
  Sweep(site, AlterViews, [&](const FaultRun& run) {
    const Rows now = Snapshot(site.main());
    if (run.n == 0) recreated = now;
    const bool ignored =
        run.n == 0 || run.op == DbOp::kCommitTrans || run.op == DbOp::kCloseConnection;
    EXPECT_EQ(run.result, ignored);
    EXPECT_EQ(run.message, ignored ? kEarlierMessage : kViewsFailed);
    EXPECT_EQ(now, ignored && run.op != DbOp::kCommitTrans ? recreated : before);
  });
  EXPECT_NE(recreated, before);
}

INSTANTIATE_TEST_SUITE_P(Engines, DropViewsFaultTest, ::testing::ValuesIn(qv::testing::kEngines),
                         qv::testing::EngineName);
INSTANTIATE_TEST_SUITE_P(Engines, AlterViewsFaultTest, ::testing::ValuesIn(qv::testing::kEngines),
                         qv::testing::EngineName);
INSTANTIATE_TEST_SUITE_P(Engines, DropViewsTest, ::testing::ValuesIn(qv::testing::kEngines),
                         qv::testing::EngineName);
INSTANTIATE_TEST_SUITE_P(Engines, AlterViewsTest, ::testing::ValuesIn(qv::testing::kEngines),
                         qv::testing::EngineName);

}  // namespace
}  // namespace qv::migration::testing

// The shared frame of the sample-data modules: language choice,
// continue-on-error bookkeeping, a walk that must end, and a transaction
// that cannot begin.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "db/db_error.h"
#include "sample_data/frame.h"
#include "sample_data/module_fixture.h"
#include "support/faulty_connector.h"

namespace qv::sample_data {
namespace {

using qv::testing::DbOp;

TEST(FrameTextTest, OnlyExactOneOrTwoPickATextSet) {
  const Text text{"Staff", "スタッフ"};
  EXPECT_EQ(Pick(PickLanguage("1"), text), "Staff");
  EXPECT_EQ(Pick(PickLanguage("2"), text), "スタッフ");
  for (const char* other : {"", " 1", "1 ", "01", "02", "2 ", "3", "12", "１", "e"}) {
    EXPECT_EQ(PickLanguage(other), Language::kNeither) << "'" << other << "'";
  }
  EXPECT_EQ(Pick(Language::kNeither, text), "");
}

class FrameRunTest : public ModuleFixture {
 protected:
  ModuleEnv Env(db::Connector& connector) {
    return ModuleEnv{connector, clock_, [this](const std::string& box) { boxes_.push_back(box); }};
  }
  const SampleArgs args_{"1", "qv_main", "admin", "quillmark", "1"};
};

TEST_F(FrameRunTest, PendingErrorKeepsTheLastFailureThroughLaterSuccesses) {
  const ModuleEnv env = Env(*connector_);
  ModuleRun run(env, args_);
  EXPECT_EQ(run.pending().number, 0);
  EXPECT_FALSE(run.Try([] { throw db::DbError(3265, "Item not found"); }));
  EXPECT_FALSE(run.Try([] { throw std::runtime_error("not from the database"); }));
  EXPECT_NE(run.pending().number, 0);
  EXPECT_EQ(run.pending().description, "not from the database");
  EXPECT_FALSE(run.Try([] { throw db::DbError::Overflow(); }));
  EXPECT_TRUE(run.Try([] {}));
  EXPECT_EQ(run.pending().number, db::kErrOverflow);
  EXPECT_EQ(run.pending().description, "Overflow");
}

TEST_F(FrameRunTest, RefusedConnectionFailsEveryStepAndEndsTheWalk) {
  qv::testing::FaultyConnector refusing(*connector_, 1);  // operation 1 is Open
  const ModuleEnv env = Env(refusing);
  ModuleRun run(env, args_);
  run.Begin();
  RowSet& rows = run.Open("BusinessType");
  EXPECT_FALSE(rows.open());
  int visits = 0;
  run.Walk(rows, [&](db::Recordset&) { return ++visits > 0; });
  EXPECT_EQ(visits, 0);
  run.AddRecord(rows, {{"BizTypeName", "Supplier"}});
  run.Execute("UPDATE Groups SET Visible = 1");
  EXPECT_EQ(run.pending().number, db::kErrObjectClosed);
  EXPECT_FALSE(run.Finish(FailureBox::kNumberDescription));
  EXPECT_EQ(boxes_.size(), 1u);
}

TEST_F(FrameRunTest, WalkEndsAtOnceWhenItsEndTestOrMoveFails) {
  // Operations: Open, BeginTrans, OpenTable, MoveFirst, Eof, MoveNext.
  for (const auto& [failAt, op, visits] :
       {std::tuple{5, DbOp::kEof, 0}, std::tuple{6, DbOp::kMoveNext, 1}}) {
    qv::testing::FaultyConnector faulty(*connector_, failAt);
    const ModuleEnv env = Env(faulty);
    ModuleRun run(env, args_);
    run.Begin();
    int visited = 0;
    run.Walk(run.Open("BusinessType"), [&](db::Recordset&) { return ++visited > 0; });
    EXPECT_EQ(faulty.log().at(failAt - 1).op, op);
    EXPECT_EQ(visited, visits) << DbOpName(op);
  }
}

TEST_F(FrameRunTest, TransactionThatCannotBeginWritesNothing) {
  // Operation 2 is BeginTrans. Without the transaction every row sent would
  // stay, whatever the finish decides.
  qv::testing::FaultyConnector faulty(*connector_, 2);
  const ModuleEnv env = Env(faulty);
  ModuleRun run(env, args_);
  run.Begin();
  ASSERT_EQ(faulty.log().at(1).op, DbOp::kBeginTrans);
  run.AddRecord(run.Open("ToDoEvent"), {{"EventTypeID", 7}, {"Title", "t"}, {"StationID", "1"}});
  run.Execute("UPDATE Groups SET GroupName = 'changed'");
  EXPECT_FALSE(run.Finish(FailureBox::kNone));
  EXPECT_EQ(Flat("SELECT (SELECT count(*) FROM ToDoEvent), GroupName FROM Groups"), "0|Everyone");
}

}  // namespace
}  // namespace qv::sample_data

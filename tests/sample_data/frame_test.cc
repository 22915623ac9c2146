// The shared frame of the sample-data modules: language choice, line joins,
// continue-on-error bookkeeping, walks that must end, and the finish.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/db_error.h"
#include "sample_data/frame.h"
#include "sample_data/module_fixture.h"
#include "support/faulty_connector.h"

namespace qv::sample_data {
namespace {

// A data source that refuses every connection, as a wrong password would.
class RefusingConnector : public db::Connector {
 public:
  std::unique_ptr<db::Connection> Open(const std::string&, const std::string&,
                                       const std::string&) override {
    ++opens;
    throw db::DbError(-2147467259, "wrong user name or password");
  }
  int opens = 0;
};

class ModuleRunTest : public ::testing::Test {
 protected:
  RefusingConnector connector_;
  timezone::FixedClock clock_{1700000000};
  std::vector<std::string> boxes_;
  ModuleEnv env_{connector_, clock_, [this](const std::string& text) { boxes_.push_back(text); }};
  SampleArgs args_{"1", "qv_main", "admin", "quillmark", "1"};
};

TEST(PickLanguageTest, OnlyExactOneOrTwoChooseATextSet) {
  EXPECT_EQ(PickLanguage("1"), Language::kEnglish);
  EXPECT_EQ(PickLanguage("2"), Language::kJapanese);
  for (const char* other : {"", " 1", "1 ", "01", "02", "2 ", "3", "12", "１", "e"}) {
    EXPECT_EQ(PickLanguage(other), Language::kNeither) << "'" << other << "'";
  }
}

TEST(PickLanguageTest, NeitherLanguageTakesEmptyTexts) {
  const Text text{"Staff", "スタッフ"};
  EXPECT_EQ(Pick(Language::kEnglish, text), "Staff");
  EXPECT_EQ(Pick(Language::kJapanese, text), "スタッフ");
  EXPECT_EQ(Pick(Language::kNeither, text), "");
}

TEST(JoinLinesTest, SeparatesWithCrLfAndLeavesNoneAfterTheLast) {
  EXPECT_EQ(JoinLines({"Agenda", "- Scheduling", "at 1201 meeting room"}),
            "Agenda\r\n- Scheduling\r\nat 1201 meeting room");
  EXPECT_EQ(JoinLines({"one line"}), "one line");
  EXPECT_EQ(JoinLines({"a", ""}), "a\r\n");
  EXPECT_EQ(JoinLines({"trailing blank "}), "trailing blank ");
  EXPECT_EQ(JoinLines({}), "");
}

TEST_F(ModuleRunTest, PendingErrorKeepsTheLastFailureThroughLaterSuccesses) {
  ModuleRun run(env_, args_);
  EXPECT_EQ(run.pending().number, 0);

  EXPECT_FALSE(run.Try([] { throw db::DbError(3265, "Item not found"); }));
  EXPECT_FALSE(run.Try([] { throw db::DbError::Overflow(); }));
  bool ran = false;
  EXPECT_TRUE(run.Try([&] { ran = true; }));

  EXPECT_TRUE(ran);
  EXPECT_EQ(run.pending().number, db::kErrOverflow);
  EXPECT_EQ(run.pending().description, "Overflow");
}

TEST_F(ModuleRunTest, FailureOutsideTheDatabaseLayerBecomesPendingToo) {
  ModuleRun run(env_, args_);
  EXPECT_FALSE(run.Try([] { throw std::runtime_error("bad_alloc of a kind"); }));
  EXPECT_NE(run.pending().number, 0);
  EXPECT_EQ(run.pending().description, "bad_alloc of a kind");
}

TEST_F(ModuleRunTest, RefusedConnectionFailsEveryStepAndEndsTheWalk) {
  ModuleRun run(env_, args_);
  run.Begin();
  EXPECT_EQ(connector_.opens, 1);
  EXPECT_NE(run.pending().number, 0);

  RowSet& rows = run.Open("BusinessType");
  EXPECT_FALSE(rows.open());
  int visits = 0;
  run.Walk(rows, [&](db::Recordset&) {
    ++visits;
    return true;
  });
  EXPECT_EQ(visits, 0);

  run.AddRecord(rows, {{"BizTypeName", "Supplier"}});
  run.Execute("UPDATE Groups SET Visible = 1");
  EXPECT_EQ(run.pending().number, db::kErrObjectClosed);
  EXPECT_FALSE(run.Finish(FailureBox::kNone));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(ModuleRunTest, FailureBoxShowsNumberAndDescriptionInTheModulesForm) {
  {
    ModuleRun run(env_, args_);
    run.Try([] { throw db::DbError::SubscriptOutOfRange(); });
    EXPECT_FALSE(run.Finish(FailureBox::kNumberDescription));
  }
  {
    ModuleRun run(env_, args_);
    run.Try([] { throw db::DbError::TypeMismatch(); });
    EXPECT_FALSE(run.Finish(FailureBox::kNumberColonDescription));
  }
  {
    ModuleRun run(env_, args_);
    run.Try([] { throw db::DbError::TypeMismatch(); });
    EXPECT_FALSE(run.Finish(FailureBox::kNone));
  }
  EXPECT_EQ(boxes_, (std::vector<std::string>{"9Subscript out of range", "13 : Type mismatch"}));
}

TEST_F(ModuleRunTest, CreationTimeIsTheGmtTextOfTheClock) {
  clock_.Set(946717507);  // 2000-01-01 09:05:07 GMT
  ModuleRun run(env_, args_);
  EXPECT_EQ(run.now(), "2000/1/1 9:5:7");
}

// The frame against a real database, with operations failing on command.
class ModuleRunOnDatabaseTest : public ModuleFixture {
 protected:
  ModuleEnv Env(db::Connector& connector) {
    return ModuleEnv{connector, clock_, [this](const std::string& box) { boxes_.push_back(box); }};
  }
  const SampleArgs args_{"1", "qv_main", "admin", "quillmark", "1"};
  const std::vector<FieldValue> todo_{{"EventTypeID", 7}, {"Title", "t"}, {"StationID", "1"}};
};

TEST_F(ModuleRunOnDatabaseTest, FinishSendsPendingRowsAndCommits) {
  const ModuleEnv env = Env(*connector_);
  ModuleRun run(env, args_);
  run.Begin();
  RowSet& todos = run.Open("ToDoEvent");
  run.AddRecord(todos, todo_, /*send=*/false);
  run.AddRecord(todos, todo_, /*send=*/false);
  EXPECT_TRUE(run.Finish(FailureBox::kNumberDescription));
  EXPECT_EQ(Count("ToDoEvent"), "2");
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(ModuleRunOnDatabaseTest, TransactionThatCannotBeginWritesNothing) {
  // Operation 2 is BeginTrans. Without the transaction every row sent would
  // stay, whatever the finish decides.
  qv::testing::FaultyConnector faulty(*connector_, 2);
  const ModuleEnv env = Env(faulty);
  ModuleRun run(env, args_);
  run.Begin();
  ASSERT_EQ(faulty.log().at(1).op, qv::testing::DbOp::kBeginTrans);
  RowSet& todos = run.Open("ToDoEvent");
  run.AddRecord(todos, todo_);
  run.Execute("UPDATE Groups SET GroupName = 'changed'");
  EXPECT_FALSE(run.Finish(FailureBox::kNone));
  EXPECT_EQ(Count("ToDoEvent"), "0");
  EXPECT_EQ(Value("SELECT GroupName FROM Groups"), "Everyone");
}

TEST_F(ModuleRunOnDatabaseTest, WalkVisitsEveryRowOnceAndEnds) {
  const ModuleEnv env = Env(*connector_);
  ModuleRun run(env, args_);
  run.Begin();
  RowSet& types = run.Open("BusinessType");
  std::vector<int64_t> seen;
  run.Walk(types, [&](db::Recordset& row) {
    seen.push_back(row.Field("BizTypeID").AsInteger());
    return true;
  });
  EXPECT_EQ(seen, (std::vector<int64_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(run.pending().number, 0);
}

TEST_F(ModuleRunOnDatabaseTest, WalkEndsWhenItsEndTestOrMoveFails) {
  for (const qv::testing::DbOp failing : {qv::testing::DbOp::kEof, qv::testing::DbOp::kMoveNext}) {
    // Let the second of the failing kind fail: the walk has visited one or
    // two rows by then and must stop there.
    int64_t position = 0;
    {
      qv::testing::FaultyConnector counter(*connector_);
      const ModuleEnv env = Env(counter);
      ModuleRun run(env, args_);
      run.Begin();
      run.Walk(run.Open("BusinessType"), [](db::Recordset&) { return true; });
      int seen = 0;
      for (int64_t n = 1; n <= counter.count() && position == 0; ++n) {
        if (counter.log()[n - 1].op == failing && ++seen == 2) position = n;
      }
    }
    ASSERT_GT(position, 0);
    qv::testing::FaultyConnector faulty(*connector_, position);
    const ModuleEnv env = Env(faulty);
    ModuleRun run(env, args_);
    run.Begin();
    int visits = 0;
    run.Walk(run.Open("BusinessType"), [&](db::Recordset&) {
      ++visits;
      return true;
    });
    EXPECT_EQ(visits, failing == qv::testing::DbOp::kEof ? 1 : 2) << DbOpName(failing);
    EXPECT_EQ(run.pending().number, qv::testing::FaultyConnector::kInjectedErrorNumber);
  }
}

}  // namespace
}  // namespace qv::sample_data

// The schedule sample data: a meeting and a reminder on the local day after
// the run, each with five members; which times move to GMT; the failure box;
// all-or-nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "sample_data/module_fixture.h"

namespace qv::sample_data {
namespace {

using qv::testing::DbOp;

class ScheduleTest : public ModuleFixture {
 protected:
  Rows Events() const {
    return Query(
        "SELECT EventTypeID, IsReminder, CreateDate, StartDate, EndDate, Title, Body, ContactID, "
        "EmailNotification, Confirmation, EventConfirmed, WhenToNotify, Shared, Visible, "
        "StationID FROM ScheduleEvent ORDER BY EventID");
  }
  Rows Members() const {
    return Query("SELECT EventID, MemberID FROM ScheduleMembership ORDER BY rowid");
  }
  Rows Times() const {
    return Query("SELECT StartDate, EndDate FROM ScheduleEvent ORDER BY EventID");
  }
};

TEST_F(ScheduleTest, EnglishMeetingAndReminderForTomorrow) {
  ASSERT_TRUE(Run(Schedule::InsertSampleData, "1"));
  // Tokyo's tomorrow is 7 March; 14:00 and 15:30 there are 05:00 and 06:30
  // GMT, while the reminder keeps its local noon.
  const std::string null = qv::testing::kNullText;
  EXPECT_EQ(Events(), (Rows{
                          {"1", "0", kRunGmt, "2024-03-07 05:00:00", "2024-03-07 06:30:00",
                           "Production Meeting",
                           "Agenda\r\n- Package Design with the new coporate color\r\n- Manual "
                           "cover design\r\n- Scheduling\r\nat 1201 meeting room",
                           "1", "1", "1", "0", "-1", "1", "1", "1"},
                          {"1", "1", kRunGmt, "2024-03-07 12:00:00", null, "New Web Site Online",
                           "Our new web site is now online.\r\nEnglish and Japanese versions "
                           "using new corporate colors and logos.",
                           "1", "1", "0", "0", "-1", "1", "1", "1"},
                      }));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(ScheduleTest, EachEntryGetsMembersOneToFiveUnderItsOwnKey) {
  Exec(
      "DELETE FROM Contact WHERE ContactID > 2;"
      "DELETE FROM sqlite_sequence WHERE name = 'ScheduleEvent';"
      "INSERT INTO sqlite_sequence (name, seq) VALUES ('ScheduleEvent', 20)");
  ASSERT_TRUE(Run(Schedule::InsertSampleData, "1"));
  EXPECT_EQ(Query("SELECT EventID, IsReminder FROM ScheduleEvent ORDER BY EventID"),
            (Rows{{"21", "0"}, {"22", "1"}}));
  EXPECT_EQ(Members(), (Rows{{"21", "1"},
                             {"21", "2"},
                             {"21", "3"},
                             {"21", "4"},
                             {"21", "5"},
                             {"22", "1"},
                             {"22", "2"},
                             {"22", "3"},
                             {"22", "4"},
                             {"22", "5"}}));
}

TEST_F(ScheduleTest, JapaneseTextsKeepHalfWidthStopsAndTrailingBlank) {
  ASSERT_TRUE(Run(Schedule::InsertSampleData, "2", "3"));
  EXPECT_EQ(Query("SELECT Title, Body, StationID FROM ScheduleEvent ORDER BY EventID"),
            (Rows{{"プロダクションミーティング",
                   "本日の議題\r\n- 新コーポレイトカラーでのパッケージデザイン\r\n- "
                   "マニュアルの表紙デザイン\r\n- 上記2項目のスケジュール調整\r\n"
                   "会議室1201で行います｡時間厳守でお集まりください｡ ",
                   "3"},
                  {"ニューウェブサイトオープン",
                   "新しいウェブサイトがオープンします。\r\n英語と日本語バージョンで、"
                   "新しい会社のカラーとロゴが採用されています。",
                   "3"}}));
}

TEST_F(ScheduleTest, TomorrowIsTheLocalCalendarDay) {
  clock_.Set(1709650799);  // 2024-03-05 23:59:59 in Tokyo
  ASSERT_TRUE(Run(Schedule::InsertSampleData, "1"));
  EXPECT_EQ(Times(), (Rows{{"2024-03-06 05:00:00", "2024-03-06 06:30:00"},
                           {"2024-03-06 12:00:00", qv::testing::kNullText}}));

  Exec("DELETE FROM ScheduleEvent; DELETE FROM ScheduleMembership");
  clock_.Set(1709650800);  // one second later: 6 March in Tokyo, still 5 March in GMT
  ASSERT_TRUE(Run(Schedule::InsertSampleData, "1"));
  EXPECT_EQ(Times(), (Rows{{"2024-03-07 05:00:00", "2024-03-07 06:30:00"},
                           {"2024-03-07 12:00:00", qv::testing::kNullText}}));
}

TEST_F(ScheduleTest, WithoutOffsetTheMeetingKeepsItsLocalTimes) {
  setenv("TZ", "UTC", 1);
  tzset();
  ASSERT_TRUE(Run(Schedule::InsertSampleData, "1"));
  // In GMT the run is on 5 March.
  EXPECT_EQ(Times(), (Rows{{"2024-03-06 14:00:00", "2024-03-06 15:30:00"},
                           {"2024-03-06 12:00:00", qv::testing::kNullText}}));
}

TEST_F(ScheduleTest, LanguageOtherThanOneOrTwoWritesEntriesWithEmptyTexts) {
  ASSERT_TRUE(Run(Schedule::InsertSampleData, "01"));
  EXPECT_EQ(Query("SELECT Title, Body FROM ScheduleEvent"), (Rows{{"", ""}, {"", ""}}));
  EXPECT_EQ(Count("ScheduleMembership"), "10");
}

TEST_F(ScheduleTest, FailureShowsNumberFollowedAtOnceByDescription) {
  EXPECT_FALSE(Run(Schedule::InsertSampleData, "1", "x"));
  EXPECT_EQ(boxes_, (std::vector<std::string>{"13Type mismatch"}));
  EXPECT_EQ(Count("ScheduleEvent"), "0");
  EXPECT_EQ(Count("ScheduleMembership"), "0");
}

TEST_F(ScheduleTest, EntryKeyBeyondSixteenBitsRollsBackWithOverflow) {
  Exec(
      "DELETE FROM sqlite_sequence WHERE name = 'ScheduleEvent';"
      "INSERT INTO sqlite_sequence (name, seq) VALUES ('ScheduleEvent', 40000)");
  EXPECT_FALSE(Run(Schedule::InsertSampleData, "1"));
  EXPECT_EQ(boxes_, (std::vector<std::string>{"6Overflow"}));
  EXPECT_EQ(Count("ScheduleEvent"), "0");
  EXPECT_EQ(Count("ScheduleMembership"), "0");
}

TEST_F(ScheduleTest, EveryFailingOperationLeavesTheDatabaseAsItWas) {
  const auto ops = ExpectAllOrNothing(Schedule::InsertSampleData, "2", "ScheduleEvent", "EventID",
                                      0, /*boxesOnFailure=*/1);
  // The membership rows stay pending until the finish sends them: sending
  // the reminder does not.
  auto isMembership = [](const qv::testing::DbOpRecord& r) {
    return r.detail.rfind("ScheduleMembership", 0) == 0;
  };
  auto firstSend = std::find_if(ops.begin(), ops.end(), [&](const auto& r) {
    return r.op == DbOp::kUpdateBatch && isMembership(r);
  });
  auto lastAdd = std::find_if(ops.rbegin(), ops.rend(), [&](const auto& r) {
    return r.op == DbOp::kAddNew && isMembership(r);
  });
  ASSERT_NE(firstSend, ops.end());
  ASSERT_NE(lastAdd, ops.rend());
  EXPECT_GT(firstSend - ops.begin(), ops.rend() - lastAdd - 1);
}

}  // namespace
}  // namespace qv::sample_data

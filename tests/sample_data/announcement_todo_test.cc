// The announcement and to-do sample data: two company-wide announcements at
// the GMT time of the run, six to-dos for each of five contacts at local
// noon, both languages, one batch each, all-or-nothing.
#include <gtest/gtest.h>

#include <string>

#include "sample_data/module_fixture.h"

namespace qv::sample_data {
namespace {

using qv::testing::DbOp;

class AnnouncementTest : public ModuleFixture {
 protected:
  Rows Announcements() const {
    return Query(
        "SELECT EventTypeID, Int1, ContactID, Title, Body, Bit1, StartDate, CreateDate, GroupID, "
        "Visible, StationID FROM AnnounceEvent ORDER BY EventID");
  }
};

TEST_F(AnnouncementTest, EnglishWelcomeEndsWithTheMakersAddress) {
  ASSERT_TRUE(Run(Announcement::InsertSampleData, "1"));
  EXPECT_EQ(Announcements(),
            (Rows{{"7", "2", "1", "Welcome to Quorvia!",
                   "Thank you for installing Quorvia.  Please make sure to read the readme file "
                   "that is included with the installation files for the latest release notes. "
                   "For information and updates for Quorvia please visit us at "
                   "http://www.tavolent.example",
                   "1", kRunGmt, kRunGmt, "1", "1", "1"},
                  {"7", "2", "1", "Company wide meeting",
                   "Next week, our monthly company meeting will be held on Thursday. All "
                   "employees must attend",
                   "1", kRunGmt, kRunGmt, "1", "1", "1"}}));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(AnnouncementTest, JapaneseWelcomeNamesTheSameAddress) {
  ASSERT_TRUE(Run(Announcement::InsertSampleData, "2", "5"));
  EXPECT_EQ(
      Query("SELECT Title, Body, StationID FROM AnnounceEvent ORDER BY EventID"),
      (Rows{{"クオルヴィアへようこそ",
             "クオルヴィアをインストールして頂きありがどうございます。readme "
             "ファイルを必ずお読み下さい。最新のリリースノートとインストールの注意事項が"
             "記載されています。クオルヴィアの情報、更新は http://www.tavolent.example "
             "をご覧ください。",
             "5"},
            {"全体会議", "来週の火曜日月例全体会議を行います。全員出席するようお願いいたします。",
             "5"}}));
}

TEST_F(AnnouncementTest, LanguageOtherThanOneOrTwoWritesEmptyTexts) {
  ASSERT_TRUE(Run(Announcement::InsertSampleData, " 1"));
  EXPECT_EQ(Query("SELECT Title, Body FROM AnnounceEvent"), (Rows{{"", ""}, {"", ""}}));
}

TEST_F(AnnouncementTest, StationThatIsNotANumberRollsBack) {
  EXPECT_FALSE(Run(Announcement::InsertSampleData, "1", "x"));
  EXPECT_EQ(Count("AnnounceEvent"), "0");
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(AnnouncementTest, EveryFailingOperationLeavesTheDatabaseAsItWas) {
  const auto ops =
      ExpectAllOrNothing(Announcement::InsertSampleData, "1", "AnnounceEvent", "EventID");
  // Both rows go in one batch at the end.
  int sends = 0;
  for (const auto& record : ops) sends += record.op == DbOp::kUpdateBatch;
  EXPECT_EQ(sends, 1);
}

class ToDoTest : public ModuleFixture {};

TEST_F(ToDoTest, FiveOwnersGetTheSixTitlesTitleByTitle) {
  ASSERT_TRUE(Run(ToDo::InsertSampleData, "1"));
  const Rows rows = Query(
      "SELECT EventTypeID, Int1, ContactID, Title, StartDate, CreateDate, StationID "
      "FROM ToDoEvent ORDER BY EventID");
  ASSERT_EQ(rows.size(), 30u);
  const char* titles[] = {"Complete report for sales meeting",
                          "Research competitors product",
                          "Order more stationary",
                          "Call Corwin about the staff luncheon",
                          "Create labels for project binders",
                          "Purchase pens, copier paper"};
  for (size_t i = 0; i < rows.size(); ++i) {
    // Local noon of the run date in Tokyo (6 March), not moved to GMT.
    EXPECT_EQ(rows[i],
              (std::vector<std::string>{"7", "1", std::to_string(i % 5 + 1), titles[i / 5],
                                        "2024-03-06 12:00:00", "2024-03-06 12:00:00", "1"}))
        << "row " << i;
  }
  EXPECT_EQ(Query("SELECT count(*) FROM ToDoEvent WHERE Body IS NULL AND Visible IS NULL AND "
                  "GroupID IS NULL"),
            (Rows{{"30"}}));
}

TEST_F(ToDoTest, JapaneseTitlesAndFewerContactsStillMakeThirtyRows) {
  Exec("DELETE FROM Contact WHERE ContactID > 1");
  ASSERT_TRUE(Run(ToDo::InsertSampleData, "2", "9"));
  EXPECT_EQ(Query("SELECT Title, count(*), Min(ContactID), Max(ContactID), Min(StationID) "
                  "FROM ToDoEvent GROUP BY Title ORDER BY Min(EventID)"),
            (Rows{{"セールス会議のリポート", "5", "1", "5", "9"},
                  {"競合社製品のリサーチ", "5", "1", "5", "9"},
                  {"事務用品の追加注文", "5", "1", "5", "9"},
                  {"社員昼食会の打ち合わせ準備", "5", "1", "5", "9"},
                  {"プロジェクトバインダーのラベル作成", "5", "1", "5", "9"},
                  {"ペンとコピー用紙の注文", "5", "1", "5", "9"}}));
}

TEST_F(ToDoTest, LanguageOtherThanOneOrTwoWritesEmptyTitles) {
  ASSERT_TRUE(Run(ToDo::InsertSampleData, "3"));
  EXPECT_EQ(Query("SELECT DISTINCT Title FROM ToDoEvent"), (Rows{{""}}));
  EXPECT_EQ(Count("ToDoEvent"), "30");
}

TEST_F(ToDoTest, StationThatIsNotANumberRollsBack) {
  EXPECT_FALSE(Run(ToDo::InsertSampleData, "1", "x"));
  EXPECT_EQ(Count("ToDoEvent"), "0");
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(ToDoTest, EveryFailingOperationLeavesTheDatabaseAsItWas) {
  const auto ops = ExpectAllOrNothing(ToDo::InsertSampleData, "2", "ToDoEvent", "EventID");
  int sends = 0;
  for (const auto& record : ops) sends += record.op == DbOp::kUpdateBatch;
  EXPECT_EQ(sends, 1);
}

}  // namespace
}  // namespace qv::sample_data

// The document sample data: a folder that is its own parent and a readme
// record inside it, in both languages; the 16-bit folder key; all-or-nothing.
#include <gtest/gtest.h>

#include <string>

#include "sample_data/module_fixture.h"

namespace qv::sample_data {
namespace {

class DocumentTest : public ModuleFixture {
 protected:
  // The next folder gets key `last` + 1.
  void SetDocEventCounter(int last) const {
    Exec(
        "DELETE FROM sqlite_sequence WHERE name = 'DocEvent';"
        "INSERT INTO sqlite_sequence (name, seq) VALUES ('DocEvent', " +
        std::to_string(last) + ")");
  }
  Rows Docs() const {
    return Query(
        "SELECT EventID, GroupID, CompanyID, ContactID, ParentID, CreateDate, Title, Body, "
        "Visible, Custom1, Custom2, Custom3, Custom4, Int2, Int3, Bit2, StationID "
        "FROM DocEvent ORDER BY EventID");
  }
};

TEST_F(DocumentTest, EnglishFolderHoldsTheReadMeRecord) {
  ASSERT_TRUE(Run(Document::InsertSampleData, "1"));
  const std::string null = qv::testing::kNullText;
  EXPECT_EQ(Docs(), (Rows{
                        {"1", "1", "1", "1", "1", kRunGmt, "Quorvia", "Quorvia Document Folder",
                         "1", null, null, null, null, null, null, null, "1"},
                        {"2", null, "1", "1", "1", kRunGmt, "ReadMe",
                         "Please take a moment to read through this read me file", "1", "1",
                         "1\\readme.txt", "readme.txt", "txt", "6080", "2", "1", "1"},
                    }));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(DocumentTest, JapaneseTextsAndStationReachTheRows) {
  ASSERT_TRUE(Run(Document::InsertSampleData, "2", "12"));
  EXPECT_EQ(Query("SELECT Title, Body, StationID FROM DocEvent ORDER BY EventID"),
            (Rows{{"クオルヴィア", "クオルヴィアドキュメントフォルダー", "12"},
                  {"ReadMe", "まずはじめにお読みください", "12"}}));
}

TEST_F(DocumentTest, LinksFollowTheKeysTheDatabaseAssigns) {
  // The folder gets the largest key a 16-bit integer holds; the document's
  // own key is held as read and may go beyond it.
  SetDocEventCounter(32766);
  ASSERT_TRUE(Run(Document::InsertSampleData, "1"));
  EXPECT_EQ(Query("SELECT EventID, ParentID, Int3, Custom2 FROM DocEvent ORDER BY EventID"),
            (Rows{{"32767", "32767", qv::testing::kNullText, qv::testing::kNullText},
                  {"32768", "32767", "32768", "32767\\readme.txt"}}));
}

TEST_F(DocumentTest, FolderKeyBeyondSixteenBitsRollsBack) {
  SetDocEventCounter(40000);
  EXPECT_FALSE(Run(Document::InsertSampleData, "1"));
  EXPECT_EQ(Count("DocEvent"), "0");
  EXPECT_EQ(Value("SELECT seq FROM sqlite_sequence WHERE name = 'DocEvent'"), "40000");
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(DocumentTest, LanguageOtherThanOneOrTwoWritesEmptyTexts) {
  for (const char* language : {"3", " 1", "01"}) {
    Exec("DELETE FROM DocEvent");
    ASSERT_TRUE(Run(Document::InsertSampleData, language)) << language;
    EXPECT_EQ(Query("SELECT Title, Body FROM DocEvent ORDER BY EventID"),
              (Rows{{"", ""}, {"", ""}}))
        << language;
  }
}

TEST_F(DocumentTest, StationThatIsNotANumberRollsBack) {
  EXPECT_FALSE(Run(Document::InsertSampleData, "1", "x"));
  EXPECT_EQ(Count("DocEvent"), "0");
}

TEST_F(DocumentTest, EveryFailingOperationLeavesTheDatabaseAsItWas) {
  ExpectAllOrNothing(Document::InsertSampleData, "2", "DocEvent", "EventID");
}

}  // namespace
}  // namespace qv::sample_data

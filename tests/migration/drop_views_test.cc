// Obsolete view removal on small hand-built main databases.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "migration/migration.h"
#include "migration/recording_connector.h"
#include "migration/scratch_sources.h"

namespace qv::migration::testing {
namespace {

using Names = std::vector<std::string>;

std::string DropFailedText(const std::string& view) {
  return "There was an error occured.\r\nduring dropping " + view +
         "\r\n Couldn't complete the task.";
}

// All seven obsolete views, one stored in lower case, beside views and a
// table that must stay.
const char kOlderMainScript[] = R"sql(
CREATE TABLE DocEvent (EventID INTEGER PRIMARY KEY, Title TEXT(50));
INSERT INTO DocEvent VALUES (1, 'folder');
CREATE VIEW NoticeAnnounce AS SELECT EventID FROM DocEvent;
CREATE VIEW WorkTrakerList AS SELECT EventID FROM DocEvent;
CREATE VIEW DocumentFoldersListSearch AS SELECT EventID FROM DocEvent;
CREATE VIEW DocumentFolderListAdmin AS SELECT EventID FROM DocEvent;
CREATE VIEW DocumentFolderListAdminPersonal AS SELECT EventID FROM DocEvent;
CREATE VIEW documentlist AS SELECT EventID FROM DocEvent;
CREATE VIEW DocumentHistory AS SELECT EventID FROM DocEvent;
CREATE VIEW WorkTrackerList AS SELECT EventID FROM DocEvent;
CREATE VIEW DocumentFolderList AS SELECT Title FROM DocEvent;
)sql";

const char kSecurityScript[] = "CREATE TABLE Users (UserID INTEGER PRIMARY KEY);";

class DropViewsTest : public ::testing::Test {
 protected:
  explicit DropViewsTest(const char* mainScript = kOlderMainScript)
      : sources_(mainScript, kSecurityScript) {}

  Names Sorted(Names names) {
    std::sort(names.begin(), names.end());
    return names;
  }
  Names Views() { return Sorted(MainViews(sources_.connector())); }

  ScratchSources sources_;
  RecordingConnector recorder_{sources_.connector()};
  std::string message_ = "left by an earlier step";
};

TEST_F(DropViewsTest, DropsTheSevenObsoleteViewsAndKeepsTheOthers) {
  // The connector fails at once on a lock conflict: a drop that had to wait
  // for the step's own connection would fail here.
  EXPECT_TRUE(DropViews(recorder_, message_));
  EXPECT_EQ(message_, "left by an earlier step");

  EXPECT_EQ(Views(), (Names{"DocumentFolderList", "WorkTrackerList"}));
  EXPECT_EQ(
      Sorted(recorder_.statements()),
      (Names{"DROP TABLE DocumentFolderListAdmin", "DROP TABLE DocumentFolderListAdminPersonal",
             "DROP TABLE DocumentFoldersListSearch", "DROP TABLE DocumentHistory",
             "DROP TABLE NoticeAnnounce", "DROP TABLE WorkTrakerList", "DROP TABLE documentlist"}));
}

TEST_F(DropViewsTest, EachDropIsCommittedOnAConnectionOfItsOwn) {
  ASSERT_TRUE(DropViews(recorder_, message_));

  const Names& events = recorder_.events();
  int drops = 0;
  for (std::size_t i = 0; i < events.size(); ++i) {
    const std::string& event = events[i];
    std::string::size_type colon = event.find(": DROP TABLE ");
    if (colon == std::string::npos) continue;
    ++drops;
    const std::string connection = event.substr(0, colon);
    EXPECT_NE(connection, "1");
    EXPECT_NE(std::find(events.begin() + i, events.end(), connection + ": CommitTrans"),
              events.end())
        << event;
  }
  EXPECT_EQ(drops, 7);
  EXPECT_EQ(recorder_.opens(), 8);
  EXPECT_EQ(events.back(), "1: Close");
}

TEST_F(DropViewsTest, FailedDropNamesTheViewAndTheOthersAreStillDropped) {
  recorder_.FailStatement("DROP TABLE NoticeAnnounce");

  EXPECT_TRUE(DropViews(recorder_, message_));
  EXPECT_EQ(message_, DropFailedText("NoticeAnnounce"));
  EXPECT_EQ(Views(), (Names{"DocumentFolderList", "NoticeAnnounce", "WorkTrackerList"}));
}

TEST_F(DropViewsTest, SeveralFailedDropsLeaveTheLastOneInTheMessage) {
  recorder_.FailStatement("DROP TABLE NoticeAnnounce");
  recorder_.FailStatement("DROP TABLE documentlist");

  EXPECT_TRUE(DropViews(recorder_, message_));
  Names order;
  for (const std::string& statement : recorder_.statements()) {
    if (statement == "DROP TABLE NoticeAnnounce") order.push_back("NoticeAnnounce");
    if (statement == "DROP TABLE documentlist") order.push_back("documentlist");
  }
  ASSERT_EQ(order.size(), 2u);
  EXPECT_EQ(message_, DropFailedText(order.back()));
}

TEST_F(DropViewsTest, UnreadableViewListFailsWithoutDropping) {
  recorder_.FailTableNames(db::TableKind::kView);

  EXPECT_FALSE(DropViews(recorder_, message_));
  EXPECT_EQ(message_, "left by an earlier step");
  EXPECT_TRUE(recorder_.statements().empty());
  EXPECT_EQ(Views().size(), 9u);
}

TEST_F(DropViewsTest, SecondRunSendsNoStatement) {
  ASSERT_TRUE(DropViews(sources_.connector(), message_));

  EXPECT_TRUE(DropViews(recorder_, message_));
  EXPECT_TRUE(recorder_.statements().empty());
  EXPECT_EQ(recorder_.opens(), 1);
  EXPECT_EQ(message_, "left by an earlier step");
}

TEST_F(DropViewsTest, DropViewOfAMissingViewFailsWithItsText) {
  EXPECT_FALSE(DropView(sources_.connector(), "NoSuchView", message_));
  EXPECT_EQ(message_, DropFailedText("NoSuchView"));
}

const char kBaseTableScript[] = R"sql(
CREATE TABLE DocumentList (ID INTEGER PRIMARY KEY, Title TEXT(50));
INSERT INTO DocumentList VALUES (1, 'kept');
CREATE VIEW WorkTrackerList AS SELECT Title FROM DocumentList;
)sql";

class DropViewsBaseTableTest : public DropViewsTest {
 protected:
  DropViewsBaseTableTest() : DropViewsTest(kBaseTableScript) {}
};

TEST_F(DropViewsBaseTableTest, BaseTableNamedLikeAnObsoleteViewIsKept) {
  EXPECT_TRUE(DropViews(recorder_, message_));
  EXPECT_EQ(message_, "left by an earlier step");
  EXPECT_TRUE(recorder_.statements().empty());
  EXPECT_EQ(MainSelect(sources_.connector(), "DocumentList", {"ID", "Title"}), (Names{"1|'kept'"}));
  EXPECT_EQ(Views(), (Names{"WorkTrackerList"}));
}

}  // namespace
}  // namespace qv::migration::testing

// The forum sample data on a fresh installation: how heads, replies, polls,
// members, unread markers and votes link up, the texts of both languages,
// the creation dates, and all-or-nothing on every failure.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/data_source.h"
#include "sample_data/modules.h"
#include "support/faulty_connector.h"
#include "support/installation.h"
#include "support/scoped_temp_dir.h"

namespace qv::sample_data {
namespace {

using qv::testing::FaultyConnector;
using qv::testing::Installation;
using Rows = std::vector<std::vector<std::string>>;

// Authors of the twelve rows, in the order they are added.
const int kAuthors[] = {3, 5, 2, 3, 3, 4, 1, 2, 1, 1, 3, 1};

std::time_t GmtInstant(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return timegm(&tm);
}

class ForumTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) savedTz_ = tz;
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    installation_ = Installation::LayOut(dir_.path());
    connector_ = db::MakeDataSourceConnector(installation_->odbcIni().string());
  }

  void TearDown() override {
    if (savedTz_) {
      setenv("TZ", savedTz_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

  bool Run(const std::string& language, db::Connector& connector) {
    const ModuleEnv env{connector, clock_,
                        [this](const std::string& box) { boxes_.push_back(box); }};
    return Forum::InsertSampleData(env, {language, "qv_main", "admin", "quillmark", "7"});
  }
  bool Run(const std::string& language) { return Run(language, *connector_); }

  Rows Query(const std::string& sql) const {
    return qv::testing::Query(installation_->mainDb(), sql);
  }
  std::string Value(const std::string& sql) const {
    return qv::testing::QueryValue(installation_->mainDb(), sql);
  }
  std::string Count(const std::string& table) const {
    return Value("SELECT count(*) FROM " + table);
  }
  std::vector<std::string> Column(const std::string& sql) const {
    std::vector<std::string> values;
    for (const auto& row : Query(sql)) values.push_back(row.at(0));
    return values;
  }
  void ExpectForumEmpty() const {
    for (const char* table :
         {"ForumEvent", "ForumEventMembership", "ForumNewFlag", "ForumVoting"}) {
      EXPECT_EQ(Count(table), "0") << table;
    }
  }

  qv::testing::ScopedTempDir dir_;
  std::optional<Installation> installation_;
  std::unique_ptr<db::Connector> connector_;
  timezone::FixedClock clock_{GmtInstant(2024, 3, 1, 0, 30, 0)};
  std::vector<std::string> boxes_;

 private:
  std::optional<std::string> savedTz_;
};

TEST_F(ForumTest, ThreadsLinkHeadsRepliesPollsMembersMarkersAndVotes) {
  ASSERT_TRUE(Run("1"));
  EXPECT_TRUE(boxes_.empty());

  const Rows events = Query(
      "SELECT EventID, EventTypeID, CompanyID, ContactID, ParentID, Visible, Bit1, Bit2, Bit3, "
      "Int1, Int2, Int3, StationID FROM ForumEvent ORDER BY EventID");
  ASSERT_EQ(events.size(), 12u);
  std::vector<long> key;
  for (const auto& row : events) key.push_back(std::stol(row[0]));
  const long h1 = key[0], h2 = key[2], h3 = key[8];
  const std::string null = qv::testing::kNullText;
  const auto head = [&](long k, int author) {
    return std::vector<std::string>{std::to_string(k),
                                    "6",
                                    "1",
                                    std::to_string(author),
                                    std::to_string(k),
                                    "1",
                                    "1",
                                    "1",
                                    null,
                                    null,
                                    null,
                                    null,
                                    "7"};
  };
  const auto reply = [&](long k, long h, int author, int bit2) {
    return std::vector<std::string>{std::to_string(k),
                                    "6",
                                    null,
                                    std::to_string(author),
                                    std::to_string(h),
                                    "1",
                                    "1",
                                    std::to_string(bit2),
                                    null,
                                    std::to_string(h + 1),
                                    null,
                                    null,
                                    "7"};
  };
  const auto poll = [&](long k, long h, int author, int answers) {
    return std::vector<std::string>{std::to_string(k),
                                    "6",
                                    null,
                                    std::to_string(author),
                                    std::to_string(h),
                                    "1",
                                    "1",
                                    "1",
                                    "1",
                                    std::to_string(k),
                                    std::to_string(answers),
                                    std::to_string(answers),
                                    "7"};
  };
  EXPECT_EQ(events, (Rows{
                        head(h1, 3),
                        reply(key[1], h1, 5, 0),
                        head(h2, 2),
                        reply(key[3], h2, 3, 0),
                        reply(key[4], h2, 3, 0),
                        reply(key[5], h2, 4, 0),
                        reply(key[6], h2, 1, 0),
                        poll(key[7], h2, 2, 1),
                        head(h3, 1),
                        reply(key[9], h3, 1, 1),
                        reply(key[10], h3, 3, 0),
                        poll(key[11], h3, 1, 0),
                    }));

  // Five members per thread, its author the leader.
  Rows members;
  for (auto [h, author] : {std::pair{h1, 3}, {h2, 2}, {h3, 1}}) {
    for (int c = 1; c <= 5; ++c) {
      members.push_back({std::to_string(h), std::to_string(c), c == author ? "1" : "0", "1"});
    }
  }
  EXPECT_EQ(Query("SELECT ParentID, ContactID, LeaderFlag, Visible FROM ForumEventMembership "
                  "ORDER BY rowid"),
            members);

  // Four unread markers per reply and poll, none for its author; heads none.
  Rows markers;
  for (size_t i = 0; i < key.size(); ++i) {
    if (i == 0 || i == 2 || i == 8) continue;
    for (int c = 1; c <= 5; ++c) {
      if (c != kAuthors[i]) markers.push_back({std::to_string(key[i]), std::to_string(c)});
    }
  }
  EXPECT_EQ(Query("SELECT EventID, ContactID FROM ForumNewFlag ORDER BY rowid"), markers);

  // An open vote for every contact on each poll.
  Rows votes;
  for (long p : {key[7], key[11]}) {
    for (int c = 1; c <= 5; ++c) votes.push_back({std::to_string(p), std::to_string(c), "0"});
  }
  EXPECT_EQ(Query("SELECT EventID, ContactID, VotingStatus FROM ForumVoting ORDER BY rowid"),
            votes);
}

TEST_F(ForumTest, EnglishTextsReachTheDatabaseByteForByte) {
  ASSERT_TRUE(Run("1"));
  const Rows texts = Query("SELECT Title, Body FROM ForumEvent ORDER BY EventID");
  ASSERT_EQ(texts.size(), 12u);
  EXPECT_EQ(texts[0], (std::vector<std::string>{
                          "Company Catalog",
                          "We are looking for suggestions for the cover of our summer product "
                          "catalog.\r\nPlease post your ideas within this forum."}));
  EXPECT_EQ(texts[2][1],
            "In the next month we will be deciding where to go this summer for our annual company "
            "retreat. \r\nPlease post your thoughts here on which location would best suit our "
            "needs.\r\nThanks, administrator ");
  EXPECT_EQ(texts[3], (std::vector<std::string>{"Should we go to Las Vegas?", ""}));
  EXPECT_EQ(texts[5][1], "Atlantic City is not as fun as Vegas. ");
  EXPECT_EQ(texts[7],
            (std::vector<std::string>{"Las Vegas or Atlantic City",
                                      "Where should we go for our annual training retreat?"}));
  EXPECT_EQ(texts[11], (std::vector<std::string>{"Voting on Quorvia", ""}));
  EXPECT_EQ(
      Column("SELECT Title FROM ForumEvent ORDER BY EventID"),
      (std::vector<std::string>{
          "Company Catalog", "Cover Idea", "Company Training Session", "Should we go to Las Vegas?",
          "Maybe we could stay at the Luxor in Vegas?", "Maybe we could stay at the Mirage?",
          "I like to stay at the Pellham hotel in Atlantic City", "Las Vegas or Atlantic City",
          "Quorvia Discussion Forum", "Quorvia Suggestions",
          "The private folder in contact management is quite useful!", "Voting on Quorvia"}));
  EXPECT_EQ(Query("SELECT Custom1, Custom2 FROM ForumEvent WHERE Bit3 = 1 ORDER BY EventID"),
            (Rows{{"Las Vegas", "Atlantic City"}, {"Use Quorvia 1.0", "Try a Java based system"}}));
}

TEST_F(ForumTest, JapaneseTextsReachTheDatabaseByteForByte) {
  ASSERT_TRUE(Run("2"));
  const Rows texts = Query("SELECT Title, Body FROM ForumEvent ORDER BY EventID");
  ASSERT_EQ(texts.size(), 12u);
  EXPECT_EQ(texts[0], (std::vector<std::string>{
                          "カタログ",
                          "最新プロダクトカタログのカバーへの意見をお待ちしております。このフォーラ"
                          "ムへアイデアをお送り下さい。"}));
  EXPECT_EQ(texts[2], (std::vector<std::string>{
                          "社内トレーニングセッション",
                          "毎年恒例の社員研修旅行の目的地を今月中に決定したいと思います。\r\n研修の"
                          "目的地としての皆さんの希望を取りたいと思いますので、このフォーラムにいき"
                          "たいところをポストしてください。\r\n社員研修旅行幹事より"}));
  EXPECT_EQ(texts[3], (std::vector<std::string>{"ラスベガスへ行きましょう", ""}));
  EXPECT_EQ(texts[5], (std::vector<std::string>{"ペラムホテルよりもミラージュホテルがいいですね",
                                                "アトランタはあまり面白そうではないです "}));
  EXPECT_EQ(texts[8][0], "クオルヴィア1.0");
  EXPECT_EQ(texts[11], (std::vector<std::string>{"クオルヴィア vs Java", ""}));
  EXPECT_EQ(Query("SELECT Custom1, Custom2 FROM ForumEvent WHERE Bit3 = 1 ORDER BY EventID"),
            (Rows{{"ラスベガス", "アトランタ"},
                  {"クオルヴィア 1.0を使う", "Java ベースのアプリケーションを使う"}}));
}

TEST_F(ForumTest, OtherLanguageWritesEveryRowWithEmptyTexts) {
  ASSERT_TRUE(Run("3"));
  EXPECT_EQ(Count("ForumEvent"), "12");
  EXPECT_EQ(Value("SELECT count(*) FROM ForumEvent WHERE Title = '' AND Body = ''"), "12");
  EXPECT_EQ(Query("SELECT Custom1, Custom2 FROM ForumEvent WHERE Bit3 = 1"),
            (Rows{{"", ""}, {"", ""}}));
  EXPECT_EQ(Count("ForumNewFlag"), "36");
  EXPECT_EQ(Count("ForumVoting"), "10");
}

TEST_F(ForumTest, DatesAreTheCreationTimeOrWholeDaysBeforeIt) {
  // 1 March of a leap year, 00:30 GMT: one and two days back cross into February.
  ASSERT_TRUE(Run("1"));
  const std::string now = "2024-03-01 00:30:00";
  const std::string dayBefore = "2024-02-29 00:30:00";
  const std::string twoDaysBefore = "2024-02-28 00:30:00";
  const std::string none = qv::testing::kNullText;
  EXPECT_EQ(Query("SELECT StartDate, CreateDate FROM ForumEvent ORDER BY EventID"),
            (Rows{{now, now},
                  {now, now},
                  {now, now},
                  {dayBefore, dayBefore},
                  {now, now},
                  {now, now},
                  {now, now},
                  {none, now},
                  {now, twoDaysBefore},
                  {now, dayBefore},
                  {now, now},
                  {none, now}}));
}

TEST_F(ForumTest, FirstReplyMarkersNameHeadPlusOneEvenWhenItsKeyDiffers) {
  // A key taken and given up right after the first head pushes the first
  // reply one key further; its markers still name the key after the head.
  qv::testing::Exec(installation_->mainDb(),
                    "CREATE TRIGGER TakeAKey AFTER INSERT ON ForumEvent "
                    "WHEN NEW.Title = 'Company Catalog' BEGIN "
                    "INSERT INTO ForumEvent (Title) VALUES ('gap'); "
                    "DELETE FROM ForumEvent WHERE Title = 'gap'; END;");
  ASSERT_TRUE(Run("1"));
  const long h1 =
      std::stol(Value("SELECT EventID FROM ForumEvent WHERE Title = 'Company Catalog'"));
  const long reply = std::stol(Value("SELECT EventID FROM ForumEvent WHERE Title = 'Cover Idea'"));
  ASSERT_EQ(reply, h1 + 2);
  EXPECT_EQ(Value("SELECT count(*) FROM ForumNewFlag WHERE EventID = " + std::to_string(h1 + 1)),
            "4");
  EXPECT_EQ(Value("SELECT count(*) FROM ForumNewFlag WHERE EventID = " + std::to_string(reply)),
            "0");
}

TEST_F(ForumTest, VotesWaitForTheClosingSend) {
  FaultyConnector recorder(*connector_);
  ASSERT_TRUE(Run("1", recorder));
  const int64_t commit = recorder.PositionOf(qv::testing::DbOp::kCommitTrans);
  int64_t lastEventWork = 0;
  std::vector<int64_t> voteSends;
  for (size_t i = 0; i < recorder.log().size(); ++i) {
    const auto& op = recorder.log()[i];
    if (op.op == qv::testing::DbOp::kExecute) lastEventWork = static_cast<int64_t>(i + 1);
    if (op.op == qv::testing::DbOp::kUpdateBatch && op.detail == "ForumVoting") {
      voteSends.push_back(static_cast<int64_t>(i + 1));
    }
  }
  ASSERT_EQ(voteSends.size(), 1u);
  EXPECT_GT(voteSends[0], lastEventWork);
  EXPECT_LT(voteSends[0], commit);
}

TEST_F(ForumTest, PollKeyAbove32767RollsEverythingBackWithoutABox) {
  // Heads are read as they are; the first poll's key, 32768, is read as a
  // 16-bit number and overflows.
  qv::testing::Exec(installation_->mainDb(),
                    "DELETE FROM sqlite_sequence WHERE name = 'ForumEvent'; "
                    "INSERT INTO sqlite_sequence (name, seq) VALUES ('ForumEvent', 32760);");
  EXPECT_FALSE(Run("1"));
  EXPECT_TRUE(boxes_.empty());
  ExpectForumEmpty();
}

TEST_F(ForumTest, EveryFailingOperationLeavesTheForumEmpty) {
  int64_t operations = 0;
  {
    qv::testing::ScopedTempDir countDir;
    const Installation counting = Installation::LayOut(countDir.path());
    auto countingConnector = db::MakeDataSourceConnector(counting.odbcIni().string());
    FaultyConnector counter(*countingConnector);
    ASSERT_TRUE(Run("2", counter));
    operations = counter.PositionOf(qv::testing::DbOp::kCommitTrans);
    ASSERT_GT(operations, 0);
  }
  // Every run below must roll back, so one database serves them all.
  for (int64_t n = 1; n <= operations; ++n) {
    FaultyConnector faulty(*connector_, n);
    const bool committed = Run("2", faulty);
    ASSERT_TRUE(faulty.injected()) << faulty.Describe(n);
    ASSERT_FALSE(committed) << faulty.Describe(n);
    ExpectForumEmpty();
    if (HasFailure()) FAIL() << faulty.Describe(n);
  }
  EXPECT_TRUE(boxes_.empty());
}

}  // namespace
}  // namespace qv::sample_data

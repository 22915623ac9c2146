// The resource sample data on a fresh installation: two resources, one
// booking of each for the same meeting tomorrow (local times stored in GMT),
// owner rows that wait for the closing send, the failure box, and
// all-or-nothing on every failure.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "db/data_source.h"
#include "sample_data/modules.h"
#include "support/faulty_connector.h"
#include "support/installation.h"
#include "support/scoped_temp_dir.h"

namespace qv::sample_data {
namespace {

using qv::testing::DbOp;
using qv::testing::FaultyConnector;
using qv::testing::Installation;
using Row = std::vector<std::string>;
using Rows = std::vector<Row>;

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

class ResourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) savedTz_ = tz;
    UseZone("Asia/Tokyo");
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

  static void UseZone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }

  bool Run(const std::string& language, db::Connector& connector) {
    const ModuleEnv env{connector, clock_,
                        [this](const std::string& box) { boxes_.push_back(box); }};
    return Resource::InsertSampleData(env, {language, "qv_main", "admin", "quillmark", "7"});
  }
  bool Run(const std::string& language) { return Run(language, *connector_); }

  Rows Query(const std::string& sql) const {
    return qv::testing::Query(installation_->mainDb(), sql);
  }
  std::string Value(const std::string& sql) const {
    return qv::testing::QueryValue(installation_->mainDb(), sql);
  }
  void ExpectNoResourceRows() const {
    for (const char* table : {"Resource", "ResourceEvent", "ResourceEventMembership"}) {
      EXPECT_EQ(Value(std::string("SELECT count(*) FROM ") + table), "0") << table;
    }
  }
  Rows BookingTimes() const {
    return Query("SELECT StartDate, EndDate FROM ResourceEvent ORDER BY EventID");
  }

  qv::testing::ScopedTempDir dir_;
  std::optional<Installation> installation_;
  std::unique_ptr<db::Connector> connector_;
  // Noon in Tokyo.
  timezone::FixedClock clock_{GmtInstant(2024, 6, 15, 3, 0, 0)};
  std::vector<std::string> boxes_;

 private:
  std::optional<std::string> savedTz_;
};

TEST_F(ResourceTest, BooksBothResourcesForTheSameMeetingWithOneOwnerEach) {
  ASSERT_TRUE(Run("1"));
  EXPECT_TRUE(boxes_.empty());

  EXPECT_EQ(Query("SELECT ResourceTypeID, CompanyID, ResourceName, Description FROM Resource "
                  "ORDER BY ResourceID"),
            (Rows{{"2", "1", "Meeting Room 5001", "The largest meeting room in the main building"},
                  {"1", "1", "Over Head Projector", "600X800 pixel SVGA projector (15kg)"}}));
  const Rows resources = Query("SELECT ResourceID FROM Resource ORDER BY ResourceID");

  const Rows bookings = Query(
      "SELECT EventID, EventTypeID, CreateDate, StartDate, EndDate, Title, Body, "
      "ResourceID, Visible, StationID FROM ResourceEvent ORDER BY EventID");
  ASSERT_EQ(bookings.size(), 2u);
  const std::string title = "Corporate wide marketing strategy meeting";
  const std::string body = "Our sales and marketing strategy for the next fiscal year";
  // Tokyo is nine hours ahead: 10:00 and 15:30 tomorrow are 01:00 and 06:30 GMT.
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(bookings[i], (Row{bookings[i][0], "8", "2024-06-15 03:00:00", "2024-06-16 01:00:00",
                                "2024-06-16 06:30:00", title, body, resources[i][0], "1", "7"}));
  }

  EXPECT_EQ(Query("SELECT EventID, OwnerID FROM ResourceEventMembership ORDER BY rowid"),
            (Rows{{bookings[0][0], "5"}, {bookings[1][0], "5"}}));
}

TEST_F(ResourceTest, JapaneseTextsReachTheDatabaseByteForByte) {
  ASSERT_TRUE(Run("2"));
  EXPECT_EQ(Query("SELECT ResourceName, Description FROM Resource ORDER BY ResourceID"),
            (Rows{{"会議室 5001", "本社２５階大会議室"},
                  {"プロジェクター", "600X800 SVGA プロジェクタ (15kg)"}}));
  const Row meeting{"来年度全社営業企画会議",
                    "来年度の販売戦略と販売目標について本社、ならびに各支店での営業計画の立案"};
  EXPECT_EQ(Query("SELECT Title, Body FROM ResourceEvent ORDER BY EventID"),
            (Rows{meeting, meeting}));
}

TEST_F(ResourceTest, OtherLanguageWritesEmptyTexts) {
  ASSERT_TRUE(Run("01"));
  EXPECT_EQ(Query("SELECT ResourceName, Description FROM Resource"), (Rows{{"", ""}, {"", ""}}));
  EXPECT_EQ(Query("SELECT Title, Body FROM ResourceEvent"), (Rows{{"", ""}, {"", ""}}));
  EXPECT_EQ(Value("SELECT count(*) FROM ResourceEventMembership"), "2");
}

TEST_F(ResourceTest, LateOnTheLastDayOfAMonthBooksTheFirstOfTheNext) {
  // 23:30 on 31 January in Tokyo.
  clock_.Set(GmtInstant(2024, 1, 31, 14, 30, 0));
  ASSERT_TRUE(Run("1"));
  const Row times{"2024-02-01 01:00:00", "2024-02-01 06:30:00"};
  EXPECT_EQ(BookingTimes(), (Rows{times, times}));
}

TEST_F(ResourceTest, TomorrowIsTheLocalDateEvenWhenGmtIsAlreadyAhead) {
  // 23:30 on 30 June in New York (daylight time, four hours behind) is
  // already 1 July in GMT; tomorrow is still 1 July.
  UseZone("America/New_York");
  clock_.Set(GmtInstant(2024, 7, 1, 3, 30, 0));
  ASSERT_TRUE(Run("1"));
  const Row times{"2024-07-01 14:00:00", "2024-07-01 19:30:00"};
  EXPECT_EQ(BookingTimes(), (Rows{times, times}));
}

TEST_F(ResourceTest, OwnerRowsWaitForTheClosingSend) {
  FaultyConnector recorder(*connector_);
  ASSERT_TRUE(Run("1", recorder));
  const auto& log = recorder.log();
  int64_t lastKeyRead = 0;
  std::vector<int64_t> ownerSends;
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i].op == DbOp::kField) lastKeyRead = static_cast<int64_t>(i + 1);
    if (log[i].op == DbOp::kUpdateBatch && log[i].detail == "ResourceEventMemberShip") {
      ownerSends.push_back(static_cast<int64_t>(i + 1));
    }
  }
  ASSERT_EQ(ownerSends.size(), 1u);
  EXPECT_GT(ownerSends[0], lastKeyRead);
  EXPECT_LT(ownerSends[0], recorder.PositionOf(DbOp::kCommitTrans));
}

TEST_F(ResourceTest, SecondResourceKeyAbove32767RollsBackAndShowsTheBox) {
  // The first resource gets 32767, the second 32768: only the second is read
  // as a 16-bit number.
  qv::testing::Exec(installation_->mainDb(),
                    "DELETE FROM sqlite_sequence WHERE name = 'Resource'; "
                    "INSERT INTO sqlite_sequence (name, seq) VALUES ('Resource', 32766);");
  EXPECT_FALSE(Run("1"));
  EXPECT_EQ(boxes_, (std::vector<std::string>{"6Overflow"}));
  ExpectNoResourceRows();
}

TEST_F(ResourceTest, EveryFailingOperationLeavesNoResourceRows) {
  int64_t operations = 0;
  {
    qv::testing::ScopedTempDir countDir;
    const Installation counting = Installation::LayOut(countDir.path());
    auto countingConnector = db::MakeDataSourceConnector(counting.odbcIni().string());
    FaultyConnector counter(*countingConnector);
    ASSERT_TRUE(Run("2", counter));
    operations = counter.PositionOf(DbOp::kCommitTrans);
    ASSERT_GT(operations, 0);
  }
  // The number runs straight into the description.
  const std::regex box("-?[0-9]+[^0-9 ].*");
  // Every run below must roll back, so one database serves them all.
  for (int64_t n = 1; n <= operations; ++n) {
    boxes_.clear();
    FaultyConnector faulty(*connector_, n);
    const bool committed = Run("2", faulty);
    ASSERT_TRUE(faulty.injected()) << faulty.Describe(n);
    ASSERT_FALSE(committed) << faulty.Describe(n);
    ASSERT_EQ(boxes_.size(), 1u) << faulty.Describe(n);
    EXPECT_TRUE(std::regex_match(boxes_[0], box)) << boxes_[0] << " after " << faulty.Describe(n);
    ExpectNoResourceRows();
    if (HasFailure()) FAIL() << faulty.Describe(n);
  }
  // A refused commit is the last failure: its own number and description.
  EXPECT_EQ(boxes_,
            (std::vector<std::string>{std::to_string(FaultyConnector::kInjectedErrorNumber) +
                                      FaultyConnector::kInjectedErrorDescription}));
}

}  // namespace
}  // namespace qv::sample_data

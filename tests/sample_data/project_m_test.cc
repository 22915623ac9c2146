// The project sample data on a fresh installation: renamed templates, the
// "System Sales" template, three projects with members, tasks, messages that
// book hours and unread markers, the customer lookup, the noon-based dates,
// the failure box, and all-or-nothing on every failure.
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

std::string S(long value) {
  return std::to_string(value);
}

class ProjectMTest : public ::testing::Test {
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

  ModuleEnv Env(db::Connector& connector) {
    return ModuleEnv{connector, clock_, [this](const std::string& box) { boxes_.push_back(box); }};
  }
  SampleArgs Args(const std::string& language) const {
    return {language, "qv_main", "admin", "quillmark", "7"};
  }
  bool Run(const std::string& language, db::Connector& connector) {
    return ProjectM::InsertSampleData(Env(connector), Args(language));
  }
  bool Run(const std::string& language) { return Run(language, *connector_); }

  Rows Query(const std::string& sql) const {
    return qv::testing::Query(installation_->mainDb(), sql);
  }
  std::string Value(const std::string& sql) const {
    return qv::testing::QueryValue(installation_->mainDb(), sql);
  }
  std::vector<long> Keys(const std::string& sql) const {
    std::vector<long> keys;
    for (const auto& row : Query(sql)) keys.push_back(std::stol(row.at(0)));
    return keys;
  }
  void Exec(const std::string& sql) const { qv::testing::Exec(installation_->mainDb(), sql); }

  // The rows the module updates in place, and the tables it only adds to.
  Rows Templates() const {
    Rows rows = Query("SELECT * FROM ProjectTaskMasterType ORDER BY 1");
    for (auto& row : Query("SELECT * FROM ProjectTaskMaster ORDER BY 1")) rows.push_back(row);
    return rows;
  }
  void ExpectNoProjectRows() const {
    for (const char* table :
         {"ProjectEvent", "ProjectEventMembership", "ProjectNewFlag", "ProjectTask"}) {
      EXPECT_EQ(Value(std::string("SELECT count(*) FROM ") + table), "0") << table;
    }
  }
  std::string ProjectThreeCompany() const {
    return Value(
        "SELECT CompanyID FROM ProjectEvent WHERE MessageTypeID = 9 "
        "ORDER BY EventID DESC LIMIT 1");
  }

  qv::testing::ScopedTempDir dir_;
  std::optional<Installation> installation_;
  std::unique_ptr<db::Connector> connector_;
  // 20:00 GMT on 31 March is 05:00 on 1 April in Tokyo: the local date counts.
  timezone::FixedClock clock_{GmtInstant(2024, 3, 31, 20, 0, 0)};
  std::vector<std::string> boxes_;

 private:
  std::optional<std::string> savedTz_;
};

struct Booking {
  int author;
  int task;  // the project's n-th task
  int hours;
};

TEST_F(ProjectMTest, ProjectsLinkMembersTasksMessagesAndMarkers) {
  ASSERT_TRUE(Run("1"));
  EXPECT_TRUE(boxes_.empty());

  const std::vector<long> projects =
      Keys("SELECT EventID FROM ProjectEvent WHERE MessageTypeID = 9 ORDER BY EventID");
  ASSERT_EQ(projects.size(), 3u);
  const std::string now = "2024-03-31 20:00:00";
  const std::string noon = "2024-04-01 12:00:00";
  const std::string weekLater = "2024-04-08 12:00:00";
  EXPECT_EQ(
      Query("SELECT EventTypeID, CompanyID, ContactID, ParentID, CreateDate, StartDate, "
            "EndDate, TimeTrack, Visible, Bit1, Bit2, Int1, Int2, StationID "
            "FROM ProjectEvent WHERE MessageTypeID = 9 ORDER BY EventID"),
      (Rows{
          {"3", "1", "2", S(projects[0]), now, noon, weekLater, "20", "1", "1", "1", "0", "2", "7"},
          {"3", "1", "3", S(projects[1]), now, noon, weekLater, "6", "1", "1", "1", "0", "2", "7"},
          {"3", "0", "2", S(projects[2]), now, noon, weekLater, "50", "1", "1", "0", "0", "3",
           "7"}}));

  // Five members each; project 3 is owned by contact 2 but led by contact 3.
  Rows members;
  const int leaders[] = {2, 3, 3};
  for (int p = 0; p < 3; ++p) {
    for (int c = 1; c <= 5; ++c)
      members.push_back({S(projects[p]), S(c), c == leaders[p] ? "1" : "0"});
  }
  EXPECT_EQ(
      Query("SELECT ParentID, ContactID, LeaderFlag FROM ProjectEventMembership ORDER BY rowid"),
      members);

  // Template tasks added: the ten "System Sales" ones, then those of projects 1 and 2.
  const std::vector<long> masters = Keys(
      "SELECT ProjectTaskMasterID FROM ProjectTaskMaster WHERE ProjectTaskMasterID > 6 "
      "ORDER BY 1");
  ASSERT_EQ(masters.size(), 17u);
  EXPECT_EQ(Query("SELECT ProjectTaskMasterTypeID, ProjectTaskMasterName, ExpectedPersonHours, "
                  "Visible FROM ProjectTaskMaster WHERE ProjectTaskMasterID > 16 ORDER BY "
                  "ProjectTaskMasterID"),
            (Rows{{"0", "Catalog", "(null)", "(null)"},
                  {"0", "Proof Reading", "(null)", "(null)"},
                  {"0", "Publish", "(null)", "(null)"},
                  {"0", "Configure ASL", "(null)", "(null)"},
                  {"0", "Send feedback to Tavolent", "(null)", "(null)"},
                  {"0", "Purchase Quorvia 1.0", "(null)", "(null)"},
                  {"0", "Install Quorvia 1.0", "(null)", "(null)"}}));

  // Tasks: assignee 6 - i in projects 1 and 2, i / 3 + 2 in project 3; each
  // on its template task; hours raised exactly by the messages booked on it.
  const auto day = [](int n) {
    return "2024-04-" + std::string(n + 1 < 10 ? "0" : "") + S(n + 1) + " 12:00:00";
  };
  Rows tasks;
  const int p1Days[][2] = {{0, 4}, {4, 5}, {5, 7}};
  const int p1Hours[] = {10, 3, 7};
  const int p1Spent[] = {5, 0, 0};
  for (int i = 1; i <= 3; ++i) {
    tasks.push_back({S(masters[9 + i]), S(projects[0]), S(6 - i), S(p1Hours[i - 1]),
                     day(p1Days[i - 1][0]), day(p1Days[i - 1][1]), S(p1Spent[i - 1])});
  }
  const int p2Days[][2] = {{0, 2}, {2, 3}, {3, 4}, {7, 7}};
  const int p2Hours[] = {1, 2, 2, 1};
  const int p2Spent[] = {2, 2, 1, 0};
  for (int i = 1; i <= 4; ++i) {
    tasks.push_back({S(masters[12 + i]), S(projects[1]), S(6 - i), S(p2Hours[i - 1]),
                     day(p2Days[i - 1][0]), day(p2Days[i - 1][1]), S(p2Spent[i - 1])});
  }
  const int p3Spent[] = {5, 2, 1, 0, 0, 0, 0, 0, 0, 0};
  for (int i = 1; i <= 10; ++i) {
    tasks.push_back({S(masters[i - 1]), S(projects[2]), S(i / 3 + 2), "5", day(i - 1), day(i),
                     S(p3Spent[i - 1])});
  }
  EXPECT_EQ(Query("SELECT ProjectTaskMasterID, ParentID, ContactID, ExpectedPersonHours, "
                  "StartDate, EndDate, SpentHoursTotal FROM ProjectTask ORDER BY ProjectTaskID"),
            tasks);
  const std::vector<long> taskKeys = Keys("SELECT ProjectTaskID FROM ProjectTask ORDER BY 1");
  ASSERT_EQ(taskKeys.size(), 17u);

  // Messages: on their project, booking hours on the project's n-th task.
  const int firstTask[] = {0, 3, 7};
  const std::vector<std::pair<int, Booking>> bookings = {
      {0, {5, 1, 5}}, {1, {5, 1, 2}}, {1, {4, 2, 2}}, {1, {3, 3, 1}},
      {2, {5, 1, 5}}, {2, {4, 2, 2}}, {2, {3, 3, 1}}};
  const int bit2[] = {0, 0, 0, 1, 0, 0, 1};
  Rows messages;
  Rows markers;
  const std::vector<long> messageKeys =
      Keys("SELECT EventID FROM ProjectEvent WHERE MessageTypeID = 1 ORDER BY EventID");
  ASSERT_EQ(messageKeys.size(), bookings.size());
  for (size_t m = 0; m < bookings.size(); ++m) {
    const auto& [p, b] = bookings[m];
    messages.push_back({"3", "(null)", S(b.author), now, S(projects[p]), "(null)", "(null)", "1",
                        S(b.hours), "1", S(bit2[m]), S(taskKeys[firstTask[p] + b.task - 1]), "7"});
    for (int c = 1; c <= 5; ++c) {
      if (c != b.author) markers.push_back({S(messageKeys[m]), S(c)});
    }
  }
  EXPECT_EQ(Query("SELECT EventTypeID, CompanyID, ContactID, CreateDate, ParentID, StartDate, "
                  "EndDate, Visible, TimeTrack, Bit1, Bit2, Int1, StationID FROM ProjectEvent "
                  "WHERE MessageTypeID = 1 ORDER BY EventID"),
            messages);
  EXPECT_EQ(Query("SELECT EventID, ContactID FROM ProjectNewFlag ORDER BY rowid"), markers);
}

TEST_F(ProjectMTest, EnglishTextsReachTheDatabaseByteForByte) {
  ASSERT_TRUE(Run("1"));
  EXPECT_EQ(Query("SELECT * FROM ProjectTaskMasterType ORDER BY 1"),
            (Rows{{"1", "General", "Project Template"},
                  {"2", "Custom", "Custom Project Template"},
                  {"3", "System Sales", "System Sales Project Template"}}));
  EXPECT_EQ(Query("SELECT * FROM ProjectTaskMaster WHERE ProjectTaskMasterID <= 6 ORDER BY 1"),
            (Rows{{"1", "1", "Contact Customer", "8", "0", "1", "1"},
                  {"2", "1", "Prepare Estimate/Proposal", "8", "1", "2", "1"},
                  {"3", "1", "Signed Contract", "8", "2", "3", "1"},
                  {"4", "1", "Production", "8", "3", "4", "1"},
                  {"5", "1", "Bug Fix/Corrections", "8", "4", "5", "1"},
                  {"6", "1", "Signed Release", "8", "5", "6", "1"}}));
  EXPECT_EQ(Query("SELECT * FROM ProjectTaskMaster WHERE ProjectTaskMasterTypeID = 3 ORDER BY 1"),
            (Rows{{"7", "3", "Contacted Customer", "5", "0", "1", "1"},
                  {"8", "3", "Research Request", "5", "1", "2", "1"},
                  {"9", "3", "Send Quotation", "5", "2", "3", "1"},
                  {"10", "3", "Follow up with Customer", "5", "3", "4", "1"},
                  {"11", "3", "Receive payment", "5", "4", "5", "1"},
                  {"12", "3", "Receive confirmation (signature from customer)", "5", "5", "6", "1"},
                  {"13", "3", "Have PO approved", "5", "6", "7", "1"},
                  {"14", "3", "Order equipment", "5", "7", "8", "1"},
                  {"15", "3", "Receive Equipment", "5", "8", "9", "1"},
                  {"16", "3", "Deliver Equipment (customer signature)", "5", "9", "10", "1"}}));
  const Rows texts = Query("SELECT Title, Body FROM ProjectEvent ORDER BY EventID");
  ASSERT_EQ(texts.size(), 10u);
  EXPECT_EQ(texts[2], (Row{"Quorvia Beta Test",
                           "Usability and functionality test of Quorvia beta version "}));
  EXPECT_EQ(texts[7], (Row{"Contacted Customer Prospect",
                           "- researched customer\r\n- prepared proposal draft # 1\r\n- "
                           "contacted customer"}));
  EXPECT_EQ(texts[8][0], "Consulted with Client (Hal Brennick the Purchasing Manager)");
}

TEST_F(ProjectMTest, JapaneseTextsReachTheDatabaseByteForByte) {
  ASSERT_TRUE(Run("2"));
  EXPECT_EQ(Query("SELECT ProjectTaskMasterTypeName, Description FROM ProjectTaskMasterType "
                  "ORDER BY ProjectTaskMasterTypeID"),
            (Rows{{"一般", "プロジェクトテンプレート"},
                  {"カスタム", "カスタムプロジェクトテンプレート"},
                  {"システムセールス", "システムセールステンプレート"}}));
  std::vector<std::string> names;
  for (const auto& row :
       Query("SELECT ProjectTaskMasterName FROM ProjectTaskMaster ORDER BY ProjectTaskMasterID")) {
    names.push_back(row[0]);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"顧客折衝",
                                             "提案・見積",
                                             "契約終結",
                                             "生産",
                                             "バグフィックス",
                                             "リリース",
                                             "顧客折衝",
                                             "リサーチ",
                                             "見積",
                                             "フォローアップ",
                                             "支払",
                                             "支払確認",
                                             "購買契約書",
                                             "注文",
                                             "納品",
                                             "納品確認",
                                             "デザイン作成",
                                             "誤字チェック",
                                             "印刷",
                                             "ASLの設定",
                                             "Tavolentへフィードバック",
                                             "Quorvia 1.0の購入",
                                             "Quorvia 1.0のインストール"}));
  const Rows texts = Query("SELECT Title, Body FROM ProjectEvent ORDER BY EventID");
  ASSERT_EQ(texts.size(), 10u);
  EXPECT_EQ(texts[0], (Row{"製品カタログ作成",
                           "新製品のカタログ作成。タスクの進捗状況は必ずこに登録すること！"}));
  EXPECT_EQ(texts[6], (Row{"イントラネットシステム販売", ""}));
  EXPECT_EQ(texts[8], (Row{"クライアントへのコンサルティング",
                           "- 購買担当者へのコンサルティング\r\n- 機能解説の資料作成\r\n- "
                           "ユーザニーズの把握\r\n- 大まかなプロジェクトアウトラインの作成"}));
  EXPECT_EQ(texts[9], (Row{"提案書の作成",
                           "- １２ページの提案書の作成\r\n- クライアントのオフィスへ郵送済み"}));
}

TEST_F(ProjectMTest, CustomerCompanyComesFromTheContactSampleData) {
  ASSERT_TRUE(Contact::InsertSampleData(Env(*connector_), Args("1")));
  const std::string customer =
      Value("SELECT CompanyID FROM Company WHERE CompanyName = 'Geo Satellite Systems Inc'");
  ASSERT_TRUE(Run("1"));
  EXPECT_EQ(ProjectThreeCompany(), customer);
  EXPECT_NE(customer, "0");
}

TEST_F(ProjectMTest, JapaneseCustomerIsFoundOnlyByItsExactName) {
  Exec(
      "INSERT INTO Company (CompanyID, CompanyName) VALUES "
      "(10, NULL), (11, 'ジオ サテライト システム株式会社 '), (12, "
      "'ジオ　サテライト　システム株式会社'), "
      "(13, 'Geo Satellite Systems Inc'), (14, 'ジオ サテライト システム株式会社'), "
      "(15, 'ジオ サテライト システム株式会社')");
  ASSERT_TRUE(Run("2"));
  EXPECT_EQ(ProjectThreeCompany(), "14");
}

TEST_F(ProjectMTest, MissingCustomerOrOtherLanguageGivesCompanyZero) {
  ASSERT_TRUE(Run("1"));
  EXPECT_EQ(ProjectThreeCompany(), "0");

  // Without a language there is no name to match, not even an empty one.
  Exec("DELETE FROM ProjectEvent; INSERT INTO Company (CompanyID, CompanyName) VALUES (20, '')");
  ASSERT_TRUE(Run("3"));
  EXPECT_EQ(ProjectThreeCompany(), "0");
}

TEST_F(ProjectMTest, OtherLanguageOverwritesTemplateNamesWithEmptyTexts) {
  ASSERT_TRUE(Run("0"));
  EXPECT_EQ(Value("SELECT count(*) FROM ProjectTaskMasterType WHERE ProjectTaskMasterTypeName = '' "
                  "AND Description = ''"),
            "3");
  EXPECT_EQ(Value("SELECT count(*) FROM ProjectTaskMaster WHERE ProjectTaskMasterName = ''"), "23");
  EXPECT_EQ(Value("SELECT count(*) FROM ProjectEvent WHERE Title = '' AND Body = ''"), "10");
}

TEST_F(ProjectMTest, MissingTemplateRowsAreRenamedSilently) {
  Exec("DELETE FROM ProjectTaskMasterType; DELETE FROM ProjectTaskMaster;");
  ASSERT_TRUE(Run("1"));
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(Value("SELECT count(*) FROM ProjectTaskMasterType"), "0");
  EXPECT_EQ(Value("SELECT count(*) FROM ProjectTaskMaster"), "17");
  EXPECT_EQ(Value("SELECT count(*) FROM ProjectTask"), "17");
}

TEST_F(ProjectMTest, KeysAbove32767ReadAs16BitRollBackAndShowTheBox) {
  const Rows before = Templates();

  // The "System Sales" template's last task would get key 32770.
  Exec(
      "DELETE FROM sqlite_sequence WHERE name = 'ProjectTaskMaster'; "
      "INSERT INTO sqlite_sequence (name, seq) VALUES ('ProjectTaskMaster', 32760);");
  EXPECT_FALSE(Run("1"));
  EXPECT_EQ(boxes_, (std::vector<std::string>{"6 : Overflow"}));
  ExpectNoProjectRows();
  EXPECT_EQ(Templates(), before);
  EXPECT_EQ(Value("SELECT seq FROM sqlite_sequence WHERE name = 'ProjectTaskMaster'"), "32760");

  // The customer's key is read the same way.
  Exec(
      "DELETE FROM sqlite_sequence WHERE name = 'ProjectTaskMaster'; "
      "INSERT INTO Company (CompanyID, CompanyName) VALUES (40000, 'Geo Satellite Systems Inc')");
  boxes_.clear();
  EXPECT_FALSE(Run("1"));
  EXPECT_EQ(boxes_, (std::vector<std::string>{"6 : Overflow"}));
  ExpectNoProjectRows();
  EXPECT_EQ(Templates(), before);
}

TEST_F(ProjectMTest, EveryFailingOperationLeavesProjectsAndTemplatesUnchanged) {
  int64_t operations = 0;
  {
    qv::testing::ScopedTempDir countDir;
    const Installation counting = Installation::LayOut(countDir.path());
    auto countingConnector = db::MakeDataSourceConnector(counting.odbcIni().string());
    FaultyConnector counter(*countingConnector);
    ASSERT_TRUE(Run("1", counter));
    operations = counter.PositionOf(DbOp::kCommitTrans);
    ASSERT_GT(operations, 0);
  }
  const Rows before = Templates();
  const std::regex box("-?[0-9]+ : .+");
  // Every run below must roll back, so one database serves them all.
  for (int64_t n = 1; n <= operations; ++n) {
    boxes_.clear();
    FaultyConnector faulty(*connector_, n);
    const bool committed = Run("1", faulty);
    ASSERT_TRUE(faulty.injected()) << faulty.Describe(n);
    ASSERT_FALSE(committed) << faulty.Describe(n);
    ASSERT_EQ(boxes_.size(), 1u) << faulty.Describe(n);
    ASSERT_TRUE(std::regex_match(boxes_[0], box)) << boxes_[0] << " after " << faulty.Describe(n);
    ExpectNoProjectRows();
    ASSERT_EQ(Templates(), before) << faulty.Describe(n);
    if (HasFailure()) FAIL() << faulty.Describe(n);
  }
  // A refused commit is the last failure: its own number and description.
  EXPECT_EQ(boxes_,
            (std::vector<std::string>{std::to_string(FaultyConnector::kInjectedErrorNumber) +
                                      " : " + FaultyConnector::kInjectedErrorDescription}));
}

}  // namespace
}  // namespace qv::sample_data

// What the forum, project and resource modules write, in English, in
// Japanese and in a language that is neither: threads, projects and
// bookings, how their rows link, the dates, and texts byte for byte.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "db/data_source.h"
#include "sample_data/module_fixture.h"

namespace qv::sample_data {
namespace {

// clang-format off
const std::vector<ModuleRecords> kSharedWork = {
    {"Forum", Forum::InsertSampleData, NextKeyAfter("ForumEvent", 100),
     /*otherLanguageCommits=*/true,
     // Heads 101, 103 and 109 are their own parents; replies name head + 1
     // in Int1; polls (Bit3) name themselves.
     {{"SELECT DISTINCT EventTypeID, Visible, Bit1, StationID FROM ForumEvent", "6|1|1|7"},
      {"SELECT EventID, ContactID, ParentID, CompanyID, Bit2, Bit3, Int1, Int2, Int3 "
       "FROM ForumEvent",
       "101|3|101|1|1|-|-|-|-\n102|5|101|-|0|-|102|-|-\n103|2|103|1|1|-|-|-|-\n"
       "104|3|103|-|0|-|104|-|-\n105|3|103|-|0|-|104|-|-\n106|4|103|-|0|-|104|-|-\n"
       "107|1|103|-|0|-|104|-|-\n108|2|103|-|1|1|108|1|1\n109|1|109|1|1|-|-|-|-\n"
       "110|1|109|-|1|-|110|-|-\n111|3|109|-|0|-|110|-|-\n112|1|109|-|1|1|112|0|0"},
      // Hours before the run of each row's StartDate/CreateDate.
      {"SELECT group_concat(ifnull((strftime('%s', '2024-03-05 20:30:15') - "
       "strftime('%s', StartDate)) / 3600, '-') || '/' || ((strftime('%s', '2024-03-05 20:30:15') "
       "- strftime('%s', CreateDate)) / 3600), ' ') FROM ForumEvent",
       "0/0 0/0 0/0 24/24 0/0 0/0 0/0 -/0 0/48 0/24 0/0 -/0"},
      {"SELECT ParentID, group_concat(ContactID || ':' || LeaderFlag, ' ') "
       "FROM ForumEventMembership WHERE Visible = 1 GROUP BY ParentID",
       "101|1:0 2:0 3:1 4:0 5:0\n103|1:0 2:1 3:0 4:0 5:0\n109|1:1 2:0 3:0 4:0 5:0"},
      // Unread markers for every contact but the author; none for heads.
      {"SELECT EventID, group_concat(ContactID, '') FROM ForumNewFlag GROUP BY EventID",
       "102|1234\n104|1245\n105|1245\n106|1235\n107|2345\n108|1345\n110|2345\n111|1245\n112|2345"},
      {"SELECT EventID, group_concat(ContactID || ':' || VotingStatus, ' ') FROM ForumVoting "
       "GROUP BY EventID",
       "108|1:0 2:0 3:0 4:0 5:0\n112|1:0 2:0 3:0 4:0 5:0"},
      {"SELECT Title, Body FROM ForumEvent WHERE EventID IN (101, 103, 106)",
       "Company Catalog|We are looking for suggestions for the cover of our summer product "
       "catalog.\r\nPlease post your ideas within this forum.\n"
       "Company Training Session|In the next month we will be deciding where to go this summer "
       "for our annual company retreat. \r\nPlease post your thoughts here on which location "
       "would best suit our needs.\r\nThanks, administrator \n"
       "Maybe we could stay at the Mirage?|Atlantic City is not as fun as Vegas. ",
       "カタログ|最新プロダクトカタログのカバーへの意見をお待ちしております。このフォーラムへ"
       "アイデアをお送り下さい。\n"
       "社内トレーニングセッション|毎年恒例の社員研修旅行の目的地を今月中に決定したいと思います。"
       "\r\n研修の目的地としての皆さんの希望を取りたいと思いますので、このフォーラムにいきたい"
       "ところをポストしてください。\r\n社員研修旅行幹事より\n"
       "ペラムホテルよりもミラージュホテルがいいですね|アトランタはあまり面白そうではないです "},
      {"SELECT Title, Body, Custom1, Custom2 FROM ForumEvent WHERE Bit3 = 1",
       "Las Vegas or Atlantic City|Where should we go for our annual training retreat?|"
       "Las Vegas|Atlantic City\nVoting on Quorvia||Use Quorvia 1.0|Try a Java based system",
       "アトランタかラスベガスか？|社員研修旅行はどちらがいいですか？|ラスベガス|アトランタ\n"
       "クオルヴィア vs Java||クオルヴィア 1.0を使う|Java ベースのアプリケーションを使う",
       "|||\n|||"},
      {"SELECT count(*) FROM ForumEvent WHERE Title || Body = ''", "0", nullptr, "12"}}},

    {"ProjectM", ProjectM::InsertSampleData,
     // A missing template task (renamed silently), and customers whose names
     // only nearly match before the ones of each language.
     NextKeyAfter("ProjectEvent", 100) + NextKeyAfter("ProjectTask", 200) +
         "DELETE FROM ProjectTaskMaster WHERE ProjectTaskMasterID = 6;"
         "INSERT INTO Company (CompanyID, CompanyName) VALUES (9, NULL), "
         "(10, 'Geo Satellite Systems Inc '), (11, 'ジオ サテライト システム株式会社 '), "
         "(12, 'ジオ　サテライト　システム株式会社'), (13, 'Geo Satellite Systems Inc'), "
         "(14, 'ジオ サテライト システム株式会社'), (15, 'Geo Satellite Systems Inc'), "
         "(16, 'ジオ サテライト システム株式会社'), (20, '')",
     /*otherLanguageCommits=*/true,
     {{"SELECT DISTINCT EventTypeID, CreateDate, StartDate, EndDate, Visible, Bit1, Int1, "
       "StationID FROM ProjectEvent WHERE MessageTypeID = 9",
       "3|2024-03-05 20:30:15|2024-03-06 12:00:00|2024-03-13 12:00:00|1|1|0|7"},
      {"SELECT EventID, ParentID, CompanyID, ContactID, TimeTrack, Bit2, Int2 FROM ProjectEvent "
       "WHERE MessageTypeID = 9",
       "101|101|1|2|20|1|2\n103|103|1|3|6|1|2\n107|107|13|2|50|0|3",
       "101|101|1|2|20|1|2\n103|103|1|3|6|1|2\n107|107|14|2|50|0|3",
       "101|101|1|2|20|1|2\n103|103|1|3|6|1|2\n107|107|0|2|50|0|3"},
      {"SELECT ParentID, group_concat(ContactID || ':' || LeaderFlag, ' ') "
       "FROM ProjectEventMembership GROUP BY ParentID",
       "101|1:0 2:1 3:0 4:0 5:0\n103|1:0 2:0 3:1 4:0 5:0\n107|1:0 2:0 3:1 4:0 5:0"},
      {"SELECT group_concat(ProjectTaskMasterID || ':' || DaysToStart || '-' || DaysToEnd, ' '), "
       "group_concat(DISTINCT ExpectedPersonHours || '/' || Visible) FROM ProjectTaskMaster "
       "WHERE ProjectTaskMasterTypeID = 3",
       "7:0-1 8:1-2 9:2-3 10:3-4 11:4-5 12:5-6 13:6-7 14:7-8 15:8-9 16:9-10|5/1"},
      // Assignee, expected hours, days of March, and hours booked by messages.
      {"SELECT ProjectTaskID, ProjectTaskMasterID, ParentID, ContactID, ExpectedPersonHours, "
       "strftime('%d', StartDate) || '-' || strftime('%d', EndDate), SpentHoursTotal "
       "FROM ProjectTask",
       "201|17|101|5|10|06-10|5\n202|18|101|4|3|10-11|0\n203|19|101|3|7|11-13|0\n"
       "204|20|103|5|1|06-08|2\n205|21|103|4|2|08-09|2\n206|22|103|3|2|09-10|1\n"
       "207|23|103|2|1|13-13|0\n208|7|107|2|5|06-07|5\n209|8|107|2|5|07-08|2\n"
       "210|9|107|3|5|08-09|1\n211|10|107|3|5|09-10|0\n212|11|107|3|5|10-11|0\n"
       "213|12|107|4|5|11-12|0\n214|13|107|4|5|12-13|0\n215|14|107|4|5|13-14|0\n"
       "216|15|107|5|5|14-15|0\n217|16|107|5|5|15-16|0"},
      {"SELECT DISTINCT time(StartDate), time(EndDate), strftime('%Y-%m', StartDate) "
       "FROM ProjectTask",
       "12:00:00|12:00:00|2024-03"},
      {"SELECT EventID, ParentID, ContactID, TimeTrack, Bit2, Int1 FROM ProjectEvent "
       "WHERE MessageTypeID = 1",
       "102|101|5|5|0|201\n104|103|5|2|0|204\n105|103|4|2|0|205\n106|103|3|1|1|206\n"
       "108|107|5|5|0|208\n109|107|4|2|0|209\n110|107|3|1|1|210"},
      {"SELECT DISTINCT EventTypeID, CompanyID, CreateDate, StartDate, EndDate, Visible, Bit1, "
       "StationID FROM ProjectEvent WHERE MessageTypeID = 1",
       "3|-|2024-03-05 20:30:15|-|-|1|1|7"},
      {"SELECT EventID, group_concat(ContactID, '') FROM ProjectNewFlag GROUP BY EventID",
       "102|1234\n104|1234\n105|1235\n106|1245\n108|1234\n109|1235\n110|1245"},
      {"SELECT * FROM ProjectTaskMasterType",
       "1|General|Project Template\n2|Custom|Custom Project Template\n"
       "3|System Sales|System Sales Project Template",
       "1|一般|プロジェクトテンプレート\n2|カスタム|カスタムプロジェクトテンプレート\n"
       "3|システムセールス|システムセールステンプレート",
       "1||\n2||\n3||"},
      {"SELECT group_concat(ProjectTaskMasterName, ';') FROM ProjectTaskMaster",
       "Contact Customer;Prepare Estimate/Proposal;Signed Contract;Production;"
       "Bug Fix/Corrections;Contacted Customer;Research Request;Send Quotation;"
       "Follow up with Customer;Receive payment;Receive confirmation (signature from customer);"
       "Have PO approved;Order equipment;Receive Equipment;"
       "Deliver Equipment (customer signature);Catalog;Proof Reading;Publish;Configure ASL;"
       "Send feedback to Tavolent;Purchase Quorvia 1.0;Install Quorvia 1.0",
       "顧客折衝;提案・見積;契約終結;生産;バグフィックス;顧客折衝;リサーチ;見積;フォローアップ;"
       "支払;支払確認;購買契約書;注文;納品;納品確認;デザイン作成;誤字チェック;印刷;ASLの設定;"
       "Tavolentへフィードバック;Quorvia 1.0の購入;Quorvia 1.0のインストール",
       ";;;;;;;;;;;;;;;;;;;;;"},
      {"SELECT Title, Body FROM ProjectEvent WHERE EventID IN (101, 102, 103, 107, 109, 110)",
       "Product Catalog|Create the new catalog for our widget product line. Post all work "
       "progress regarding this project here !\n"
       "Completed the skeleton.|Skeleton has been completed.I am working on the graphic design "
       "details.\n"
       "Quorvia Beta Test|Usability and functionality test of Quorvia beta version \n"
       "Intranet System Proposal|\n"
       "Consulted with Client (Hal Brennick the Purchasing Manager)|- consulted client\r\n"
       "- prepared feature list\r\n- user requirements\r\n- rough project outline\n"
       "Prepare Proposal|- prepared 12 page proposal\r\n- couriered it to clients office",
       "製品カタログ作成|新製品のカタログ作成。タスクの進捗状況は必ずこに登録すること！\n"
       "全体デザイン作成|全体デザイン完了。引き続き、各ページデザインを作成。\n"
       "クオルヴィアベータテスト|ユーザインターフェースと機能の評価\n"
       "イントラネットシステム販売|\n"
       "クライアントへのコンサルティング|- 購買担当者へのコンサルティング\r\n"
       "- 機能解説の資料作成\r\n- ユーザニーズの把握\r\n- 大まかなプロジェクトアウトラインの作成\n"
       "提案書の作成|- １２ページの提案書の作成\r\n- クライアントのオフィスへ郵送済み"},
      {"SELECT count(*) FROM ProjectEvent WHERE Title || Body = ''", "0", nullptr, "10"}}},

    {"Resource", Resource::InsertSampleData,
     NextKeyAfter("Resource", 10) + NextKeyAfter("ResourceEvent", 20),
     /*otherLanguageCommits=*/true,
     {{"SELECT ResourceID, ResourceTypeID, CompanyID, ResourceName, Description FROM Resource",
       "11|2|1|Meeting Room 5001|The largest meeting room in the main building\n"
       "12|1|1|Over Head Projector|600X800 pixel SVGA projector (15kg)",
       "11|2|1|会議室 5001|本社２５階大会議室\n12|1|1|プロジェクター|600X800 SVGA プロジェクタ (15kg)",
       "11|2|1||\n12|1|1||"},
      {"SELECT EventID, ResourceID FROM ResourceEvent", "21|11\n22|12"},
      // Tomorrow, 7 March, 10:00 to 15:30 in Tokyo, stored in GMT.
      {"SELECT DISTINCT EventTypeID, CreateDate, StartDate, EndDate, Visible, StationID "
       "FROM ResourceEvent",
       "8|2024-03-05 20:30:15|2024-03-07 01:00:00|2024-03-07 06:30:00|1|7"},
      {"SELECT DISTINCT Title, Body FROM ResourceEvent",
       "Corporate wide marketing strategy meeting|"
       "Our sales and marketing strategy for the next fiscal year",
       "来年度全社営業企画会議|来年度の販売戦略と販売目標について本社、ならびに各支店での営業計画の立案",
       "|"},
      {"SELECT EventID, OwnerID FROM ResourceEventMembership", "21|5\n22|5"}}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(SharedWork, RecordsTest,
                         ::testing::Combine(::testing::ValuesIn(kSharedWork),
                                            ::testing::Values("1", "2", " 1")),
                         RecordsName);

class SharedWorkDatesAndKeysTest : public ModuleFixture {};

TEST_F(SharedWorkDatesAndKeysTest, FirstForumReplyMarkersNameHeadPlusOne) {
  // A key taken and given up right after the first head pushes the first
  // reply one key further; its markers still name the key after the head.
  Exec(
      "CREATE TRIGGER TakeAKey AFTER INSERT ON ForumEvent WHEN NEW.Title = 'Company Catalog' "
      "BEGIN INSERT INTO ForumEvent (Title) VALUES ('gap'); "
      "DELETE FROM ForumEvent WHERE Title = 'gap'; END;");
  ASSERT_TRUE(Run(Forum::InsertSampleData, "1"));
  EXPECT_EQ(Flat("SELECT EventID, Int1 FROM ForumEvent WHERE ParentID = 1 AND EventID > 1"), "3|2");
  EXPECT_EQ(Flat("SELECT EventID, count(*) FROM ForumNewFlag WHERE EventID < 4 GROUP BY 1"), "2|4");
}

TEST_F(SharedWorkDatesAndKeysTest, BookingsLateOnTheLastDayOfAMonthAreOnTheFirstOfTheNext) {
  clock_.Set(1706711400);  // 2024-01-31 23:30 in Tokyo
  ASSERT_TRUE(Run(Resource::InsertSampleData, "1"));
  EXPECT_EQ(Flat("SELECT StartDate, EndDate FROM ResourceEvent"),
            "2024-02-01 01:00:00|2024-02-01 06:30:00\n2024-02-01 01:00:00|2024-02-01 06:30:00");
}

// A clock an hour later at every reading.
class HourlyClock : public timezone::Clock {
 public:
  explicit HourlyClock(std::time_t first) : next_(first) {}
  std::time_t Now() const override { return (next_ += 3600) - 3600; }

 private:
  mutable std::time_t next_;
};

TEST_F(SharedWorkDatesAndKeysTest, AModuleRunningAcrossMidnightDatesEveryRecordByItsFirstReading) {
  constexpr std::time_t kBeforeMidnight = 1706711400;  // 2024-01-31 23:30 in Tokyo
  const std::pair<const char*, InsertFn> modules[] = {{"Schedule", Schedule::InsertSampleData},
                                                      {"ProjectM", ProjectM::InsertSampleData},
                                                      {"Resource", Resource::InsertSampleData}};
  for (const auto& [name, insert] : modules) {
    SCOPED_TRACE(name);
    const timezone::FixedClock fixed(kBeforeMidnight);
    const HourlyClock moving(kBeforeMidnight);
    std::string dumps[2];
    for (int i = 0; i < 2; ++i) {
      installation_ = qv::testing::Installation::LayOut(dir_.path() / (name + std::to_string(i)));
      connector_ = db::MakeDataSourceConnector(installation_->odbcIni().string());
      const timezone::Clock& clock = i == 0 ? static_cast<const timezone::Clock&>(fixed) : moving;
      const ModuleEnv env{*connector_, clock,
                          [this](const std::string& b) { boxes_.push_back(b); }};
      ASSERT_TRUE(insert(env, {"1", "qv_main", "admin", "quillmark", "1"}));
      dumps[i] = Dump();
    }
    EXPECT_EQ(dumps[1], dumps[0]);
  }
}

}  // namespace
}  // namespace qv::sample_data

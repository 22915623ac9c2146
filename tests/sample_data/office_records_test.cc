// What the contact, schedule, announcement, to-do and document modules write,
// in English, in Japanese and in a language that is neither: every row,
// how the rows link, the dates, and texts byte for byte.
#include <gtest/gtest.h>

#include <vector>

#include "sample_data/module_fixture.h"

namespace qv::sample_data {
namespace {

// clang-format off
const std::vector<ModuleRecords> kOffice = {
    {"Contact", Contact::InsertSampleData,
     // A group that existed before, business types stored out of key order,
     // company keys beyond 16 bits (the contacts link to them as read).
     "INSERT INTO Groups (GroupName, Visible, StationID) VALUES ('Sales', 0, 1);"
     "DELETE FROM BusinessType WHERE BizTypeID IN (2, 5);"
     "INSERT INTO BusinessType (BizTypeID, BizTypeName, Description, StationID) "
     "VALUES (5, 'x', 'x', 1), (2, 'y', 'y', 1);" +
         NextKeyAfter("Company", 40000),
     /*otherLanguageCommits=*/false,
     {{"SELECT (SELECT count(*) FROM Company), (SELECT count(*) FROM Contact)", "5|9"},
      {"SELECT CompanyID, CompanyName, BizTypeID, Address1, Address2, City, Province, Country, "
       "PostalCode, Phone1, Phone2, Fax, Email, Web, OwnerID, StaffID, Furigana, Visible, "
       "StationID, AddressDisplay, SAddressDisplay FROM Company WHERE CompanyID > 3",
       "40001|Geo Satellite Systems Inc|1|3200 Industrial Way||Chicago|Illinois|United States|"
       "45102|555-555-5555|555-555-6655|555-555-6565|info@geosatellite.example|"
       "http://www.geosatellite.example|1|1|Geo Satellite Systems Inc|1|7|1|1\n"
       "40002|Unity Corporation|2|#2800, 1900 Park Avenue South||New York|New York|"
       "United States|52001|212-555-1234|212-555-1221|212-555-4444|info@unitycorp.example|"
       "http://www.unitycorp.example|1|1|Unity Corporation|1|7|1|1",
       "40001|ジオ サテライト システム株式会社|1|吉祥寺 2-9-1|第2中央ビル24階|武蔵野市|東京|日本|"
       "111-1111|0482-55-5555|0482-55-6655|0482-555-6565|info@geosatellite.example.jp|"
       "http://www.geosatellite.example.jp|1|1|じおさてらいとしすてむ|1|7|2|2\n"
       "40002|株式会社ユニティ|2|赤坂 3-350|赤坂パークヒル37階|港区|東京都|日本|110-0001|"
       "03-3555-1234|03-3555-1221|03-3555-4444|info@unity.example.jp|http://www.unity.example.jp|"
       "1|1|ゆにてぃ|1|7|2|2"},
      {"SELECT CompanyID, Salutation, FirstName, LastName, Sex, Title, Department, Division, "
       "Address1, Address2, City, Province, Country, PostalCode, WorkPhone, HomePhone, Fax, Cell, "
       "Email, OwnerID, AddressDisplay, HAddressDisplay, NameDisplay, FullName, FirstKana, "
       "LastKana, Visible, StationID FROM Contact WHERE ContactID = 8",
       "40002|Ms.|Karen|Finch|1|Director of Marketing|Public Relations|Marketing & Sales|"
       "#2800, 1900 Park Avenue South||New York|New York|United States|52001|212-555-1234|"
       "212-555-7275|212-555-4444|212-555-1919|kfinch@unitycorp.example|1|1|1|1|Karen Finch|"
       "Karen|Finch|1|7",
       // The contact writes the street without the blank its company has.
       "40002||美咲|中川|1|マーケティングリーダー|第2営業課|法人部|赤坂3-350|赤坂パークヒル37階|"
       "港区|東京都|日本|110-0001|03-3555-1234|03-5991-4321|03-3555-1221|030-3555-4444|"
       "mnakagawa@unity.example.jp|1|2|2|2|中川美咲|みさき|なかがわ|1|7"},
      {"SELECT CompanyID, Salutation, FullName, FirstKana, LastKana FROM Contact "
       "WHERE ContactID > 5",
       "40001|Mr.|Martin Bergen|Martin|Bergen\n40001|Mr.|Rafael Van Der Meer|Rafael|Van Der Meer\n"
       "40002|Ms.|Karen Finch|Karen|Finch\n40002|Mr.|Martin Whitfield|Martin|Whitfield",
       "40001||大森健一|けんいち|おおもり\n40001||藤沢修平|しゅうへい|ふじさわ\n"
       "40002||中川美咲|みさき|なかがわ\n40002||西村浩|ひろし|にしむら"},
      {"SELECT BizTypeID, BizTypeName, Description FROM BusinessType ORDER BY BizTypeID",
       "1|Supplier|Provide company with products or services\n"
       "2|Customer|Company our organization supplies\n"
       "3|Supplier and Customer|Both Supplier and Customer\n4|Client|\n"
       "5|Associates|Company Associates\n6|Other|Other",
       "1|供給元|製品やサービスの提供元\n2|販売先|製品やサービスの販売先\n"
       "3|供給元・販売先|製品やサービスの提供元兼販売先\n4|クライアント|\n5|関連会社|関連会社\n"
       "6|その他|その他"},
      {"SELECT GroupName, Visible, StationID FROM Groups", "Staff|1|7\nStaff|1|7",
       "スタッフ|1|7\nスタッフ|1|7"},
      {"SELECT DISTINCT StationID FROM Company UNION ALL SELECT DISTINCT StationID FROM Contact "
       "UNION ALL SELECT DISTINCT StationID FROM BusinessType",
       "7\n7\n7"}}},

    {"Schedule", Schedule::InsertSampleData,
     // Members are 1 to 5 whatever the contacts; entries get keys 21 and 22.
     "DELETE FROM Contact WHERE ContactID > 2;" + NextKeyAfter("ScheduleEvent", 20),
     /*otherLanguageCommits=*/true,
     // Tomorrow in Tokyo is 7 March: the meeting's 14:00 and 15:30 are
     // stored in GMT, the reminder keeps its local noon.
     {{"SELECT EventID, EventTypeID, IsReminder, CreateDate, StartDate, EndDate, ContactID, "
       "EmailNotification, Confirmation, EventConfirmed, WhenToNotify, Shared, Visible, StationID "
       "FROM ScheduleEvent",
       "21|1|0|2024-03-05 20:30:15|2024-03-07 05:00:00|2024-03-07 06:30:00|1|1|1|0|-1|1|1|7\n"
       "22|1|1|2024-03-05 20:30:15|2024-03-07 12:00:00|-|1|1|0|0|-1|1|1|7"},
      {"SELECT EventID, group_concat(MemberID) FROM ScheduleMembership GROUP BY EventID",
       "21|1,2,3,4,5\n22|1,2,3,4,5"},
      {"SELECT Title, Body FROM ScheduleEvent",
       "Production Meeting|Agenda\r\n- Package Design with the new coporate color\r\n"
       "- Manual cover design\r\n- Scheduling\r\nat 1201 meeting room\n"
       "New Web Site Online|Our new web site is now online.\r\n"
       "English and Japanese versions using new corporate colors and logos.",
       "プロダクションミーティング|本日の議題\r\n- 新コーポレイトカラーでのパッケージデザイン\r\n"
       "- マニュアルの表紙デザイン\r\n- 上記2項目のスケジュール調整\r\n"
       "会議室1201で行います｡時間厳守でお集まりください｡ \n"
       "ニューウェブサイトオープン|新しいウェブサイトがオープンします。\r\n"
       "英語と日本語バージョンで、新しい会社のカラーとロゴが採用されています。",
       "|\n|"}}},

    {"Announcement", Announcement::InsertSampleData, "", /*otherLanguageCommits=*/true,
     {{"SELECT EventTypeID, Int1, ContactID, Bit1, StartDate, CreateDate, GroupID, Visible, "
       "StationID FROM AnnounceEvent",
       "7|2|1|1|2024-03-05 20:30:15|2024-03-05 20:30:15|1|1|7\n"
       "7|2|1|1|2024-03-05 20:30:15|2024-03-05 20:30:15|1|1|7"},
      {"SELECT Title, Body FROM AnnounceEvent",
       "Welcome to Quorvia!|Thank you for installing Quorvia.  Please make sure to read the "
       "readme file that is included with the installation files for the latest release notes. "
       "For information and updates for Quorvia please visit us at http://www.tavolent.example\n"
       "Company wide meeting|Next week, our monthly company meeting will be held on Thursday. "
       "All employees must attend",
       "クオルヴィアへようこそ|クオルヴィアをインストールして頂きありがどうございます。readme "
       "ファイルを必ずお読み下さい。最新のリリースノートとインストールの注意事項が記載されています。"
       "クオルヴィアの情報、更新は http://www.tavolent.example をご覧ください。\n"
       "全体会議|来週の火曜日月例全体会議を行います。全員出席するようお願いいたします。",
       "|\n|"}}},

    {"ToDo", ToDo::InsertSampleData, "DELETE FROM Contact WHERE ContactID > 1",
     /*otherLanguageCommits=*/true,
     // Title by title, owners 1 to 5 whatever the contacts, at the local
     // noon of the run day in Tokyo (6 March), not moved to GMT.
     {{"SELECT group_concat(ContactID, '') FROM ToDoEvent", "123451234512345123451234512345"},
      {"SELECT DISTINCT EventTypeID, Int1, StartDate, CreateDate, Body, Visible, GroupID, "
       "StationID FROM ToDoEvent",
       "7|1|2024-03-06 12:00:00|2024-03-06 12:00:00|-|-|-|7"},
      {"SELECT Title, Min(EventID), Max(EventID) FROM ToDoEvent GROUP BY Title ORDER BY 2",
       "Complete report for sales meeting|1|5\nResearch competitors product|6|10\n"
       "Order more stationary|11|15\nCall Corwin about the staff luncheon|16|20\n"
       "Create labels for project binders|21|25\nPurchase pens, copier paper|26|30",
       "セールス会議のリポート|1|5\n競合社製品のリサーチ|6|10\n事務用品の追加注文|11|15\n"
       "社員昼食会の打ち合わせ準備|16|20\nプロジェクトバインダーのラベル作成|21|25\n"
       "ペンとコピー用紙の注文|26|30",
       "|1|30"}}},

    {"Document", Document::InsertSampleData,
     // The folder gets the largest 16-bit key; the document's own key is
     // held as read and goes beyond it.
     NextKeyAfter("DocEvent", 32766), /*otherLanguageCommits=*/true,
     {{"SELECT EventID, GroupID, CompanyID, ContactID, ParentID, CreateDate, Visible, Custom1, "
       "Custom2, Custom3, Custom4, Int2, Int3, Bit2, StationID FROM DocEvent",
       "32767|1|1|1|32767|2024-03-05 20:30:15|1|-|-|-|-|-|-|-|7\n"
       "32768|-|1|1|32767|2024-03-05 20:30:15|1|1|32767\\readme.txt|readme.txt|txt|6080|32768|1|7"},
      {"SELECT Title, Body FROM DocEvent",
       "Quorvia|Quorvia Document Folder\n"
       "ReadMe|Please take a moment to read through this read me file",
       "クオルヴィア|クオルヴィアドキュメントフォルダー\nReadMe|まずはじめにお読みください",
       "|\n|"}}},
};
// clang-format on

TEST_P(RecordsTest, WritesItsRecords) {
  ExpectRecords(std::get<0>(GetParam()), std::get<1>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Office, RecordsTest,
                         ::testing::Combine(::testing::ValuesIn(kOffice),
                                            ::testing::Values("1", "2", " 1")),
                         RecordsName);

}  // namespace
}  // namespace qv::sample_data

// The eight sample-data modules in Tokyo at a fixed instant: what each writes
// in each language, and that each is all-or-nothing whatever fails.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "db/odbc_ini.h"
#include "sample_data/frame.h"
#include "sample_data/modules.h"
#include "support/faulty_connector.h"
#include "support/installation.h"
#include "support/scoped_temp_dir.h"
#include "timezone/clock.h"

namespace qv::sample_data {
namespace {

using qv::testing::DbOp;
using qv::testing::FaultyConnector;
using InsertFn = bool (*)(const ModuleEnv&, const SampleArgs&);

std::string NextKeyAfter(const std::string& table, int last) {
  return "DELETE FROM sqlite_sequence WHERE name = '" + table +
         "'; INSERT INTO sqlite_sequence (name, seq) VALUES ('" + table + "', " +
         std::to_string(last) + ");";
}

// Each title's start and its body's length.
std::string Texts(const std::string& from) {
  return "SELECT group_concat(substr(Title, 1, 6) || '/' || length(Body), ' ') FROM " + from;
}

// Rows by language: `ja` null, as `en`; `other` null, as `en` if `ja` is null, else unchecked.
struct Check {
  std::string sql;
  const char* en;
  const char* ja = nullptr;
  const char* other = nullptr;
};

struct Module {
  const char* name;
  InsertFn insert;
  const char* boxSeparator;  // between number and description of its failure box; null: no box
  std::string prep;          // before the records are written with station "7"
  bool otherLanguageCommits;
  std::vector<Check> checks;
  // Test listings name the module rather than print its bytes.
  friend void PrintTo(const Module& module, std::ostream* os) { *os << module.name; }
};

// clang-format off
const std::vector<Module> kModules = {
    {"Contact", Contact::InsertSampleData, nullptr,
     // A group that existed before, business types stored out of key order,
     // company keys beyond 16 bits (the contacts link to them as read).
     "INSERT INTO Groups (GroupName, Visible, StationID) VALUES ('Sales', 0, 1);"
     "DELETE FROM BusinessType WHERE BizTypeID IN (2, 5);"
     "INSERT INTO BusinessType (BizTypeID, BizTypeName, Description, StationID) "
     "VALUES (5, 'x', 'x', 1), (2, 'y', 'y', 1);" + NextKeyAfter("Company", 40000),
     false,
     {{"SELECT (SELECT count(*) FROM Company), (SELECT count(*) FROM Contact)", "5|9"},
      {"SELECT CompanyID, CompanyName, BizTypeID, City, Phone1, Furigana, AddressDisplay, "
       "StationID FROM Company WHERE CompanyID > 3",
       "40001|Geo Satellite Systems Inc|1|Chicago|555-555-5555|Geo Satellite Systems Inc|1|7\n"
       "40002|Unity Corporation|2|New York|212-555-1234|Unity Corporation|1|7",
       "40001|ジオ サテライト システム株式会社|1|武蔵野市|0482-55-5555|じおさてらいとしすてむ|2|7\n"
       "40002|株式会社ユニティ|2|港区|03-3555-1234|ゆにてぃ|2|7"},
      {"SELECT CompanyID, Salutation, FullName, FirstKana, LastKana FROM Contact "
       "WHERE ContactID > 5",
       "40001|Mr.|Martin Bergen|Martin|Bergen\n40001|Mr.|Rafael Van Der Meer|Rafael|Van Der Meer\n"
       "40002|Ms.|Karen Finch|Karen|Finch\n40002|Mr.|Martin Whitfield|Martin|Whitfield",
       "40001||大森健一|けんいち|おおもり\n40001||藤沢修平|しゅうへい|ふじさわ\n"
       "40002||中川美咲|みさき|なかがわ\n40002||西村浩|ひろし|にしむら"},
      {"SELECT group_concat(BizTypeName, ',') FROM (SELECT * FROM BusinessType ORDER BY BizTypeID)",
       "Supplier,Customer,Supplier and Customer,Client,Associates,Other",
       "供給元,販売先,供給元・販売先,クライアント,関連会社,その他"},
      {"SELECT GroupName, Visible, StationID FROM Groups", "Staff|1|7\nStaff|1|7",
       "スタッフ|1|7\nスタッフ|1|7"}}},

    {"Schedule", Schedule::InsertSampleData, "",
     // Members are 1 to 5 whatever the contacts; entries get keys 21 and 22.
     "DELETE FROM Contact WHERE ContactID > 2;" + NextKeyAfter("ScheduleEvent", 20), true,
     // Tomorrow in Tokyo is 7 March: the meeting's 14:00 and 15:30 are
     // stored in GMT, the reminder keeps its local noon.
     {{"SELECT EventID, EventTypeID, IsReminder, CreateDate, StartDate, EndDate, ContactID, "
       "EmailNotification, Confirmation, EventConfirmed, WhenToNotify, Shared, Visible, StationID "
       "FROM ScheduleEvent",
       "21|1|0|2024-03-05 20:30:15|2024-03-07 05:00:00|2024-03-07 06:30:00|1|1|1|0|-1|1|1|7\n"
       "22|1|1|2024-03-05 20:30:15|2024-03-07 12:00:00|-|1|1|0|0|-1|1|1|7"},
      {"SELECT EventID, group_concat(MemberID) FROM ScheduleMembership GROUP BY EventID",
       "21|1,2,3,4,5\n22|1,2,3,4,5"},
      {Texts("ScheduleEvent"), "Produc/111 New We/100", "プロダクショ/94 ニューウェブ/55",
       "/0 /0"}}},

    {"Announcement", Announcement::InsertSampleData, nullptr, "", true,
     {{"SELECT DISTINCT EventTypeID, Int1, ContactID, Bit1, StartDate, CreateDate, GroupID, "
       "Visible, StationID FROM AnnounceEvent",
       "7|2|1|1|2024-03-05 20:30:15|2024-03-05 20:30:15|1|1|7"},
      {Texts("AnnounceEvent"), "Welcom/237 Compan/90", "クオルヴィア/131 全体会議/35", "/0 /0"}}},

    {"ToDo", ToDo::InsertSampleData, nullptr, "DELETE FROM Contact WHERE ContactID > 1",
     true,
     // Title by title, owners 1 to 5 whatever the contacts, at the local
     // noon of the run day in Tokyo (6 March), not moved to GMT.
     {{"SELECT group_concat(ContactID, '') FROM ToDoEvent", "123451234512345123451234512345"},
      {"SELECT DISTINCT EventTypeID, Int1, StartDate, CreateDate, Body, Visible, GroupID, "
       "StationID FROM ToDoEvent", "7|1|2024-03-06 12:00:00|2024-03-06 12:00:00|-|-|-|7"},
      {"SELECT count(DISTINCT Title), count(*) FROM ToDoEvent WHERE Title <> ''", "6|30", nullptr,
       "0|0"}}},

    {"Forum", Forum::InsertSampleData, nullptr, NextKeyAfter("ForumEvent", 100),
     true,
     // Heads 101, 103 and 109 are their own parents; replies name head + 1
     // in Int1; polls (Bit3) name themselves.
     {{"SELECT DISTINCT EventTypeID, Visible, Bit1, StationID FROM ForumEvent", "6|1|1|7"},
      {"SELECT EventID, ContactID, ParentID, CompanyID, Bit2, Bit3, Int1, Int2, Int3 "
       "FROM ForumEvent",
       "101|3|101|1|1|-|-|-|-\n102|5|101|-|0|-|102|-|-\n103|2|103|1|1|-|-|-|-\n"
       "104|3|103|-|0|-|104|-|-\n105|3|103|-|0|-|104|-|-\n106|4|103|-|0|-|104|-|-\n"
       "107|1|103|-|0|-|104|-|-\n108|2|103|-|1|1|108|1|1\n109|1|109|1|1|-|-|-|-\n"
       "110|1|109|-|1|-|110|-|-\n111|3|109|-|0|-|110|-|-\n112|1|109|-|1|1|112|0|0"},
      {"SELECT ParentID, group_concat(ContactID || ':' || LeaderFlag, ' ') "
       "FROM ForumEventMembership WHERE Visible = 1 GROUP BY ParentID",
       "101|1:0 2:0 3:1 4:0 5:0\n103|1:0 2:1 3:0 4:0 5:0\n109|1:1 2:0 3:0 4:0 5:0"},
      {"SELECT group_concat(EventID || ':' || ContactIDs, ' ') FROM (SELECT EventID, "
       "group_concat(ContactID, '') AS ContactIDs FROM ForumNewFlag GROUP BY EventID)",
       "102:1234 104:1245 105:1245 106:1235 107:2345 108:1345 110:2345 111:1245 112:2345"},
      {"SELECT EventID, group_concat(ContactID || ':' || VotingStatus, ' ') FROM ForumVoting "
       "GROUP BY EventID", "108|1:0 2:0 3:0 4:0 5:0\n112|1:0 2:0 3:0 4:0 5:0"},
      {"SELECT group_concat(Custom1 || '/' || Custom2, ', ') FROM ForumEvent WHERE Bit3 = 1",
       "Las Vegas/Atlantic City, Use Quorvia 1.0/Try a Java based system",
       "ラスベガス/アトランタ, クオルヴィア 1.0を使う/Java ベースのアプリケーションを使う", "/, /"},
      {"SELECT count(*) FROM ForumEvent WHERE Title || Body = ''", "0", nullptr, "12"}}},

    {"ProjectM", ProjectM::InsertSampleData, " : ",
     // A missing template task (renamed silently), and customers whose names
     // only nearly match before the ones of each language.
     NextKeyAfter("ProjectEvent", 100) + NextKeyAfter("ProjectTask", 200) +
         "DELETE FROM ProjectTaskMaster WHERE ProjectTaskMasterID = 6;"
         "INSERT INTO Company (CompanyID, CompanyName) VALUES (9, NULL), "
         "(10, 'Geo Satellite Systems Inc '), (11, 'ジオ サテライト システム株式会社 '), "
         "(12, 'ジオ　サテライト　システム株式会社'), (13, 'Geo Satellite Systems Inc'), "
         "(14, 'ジオ サテライト システム株式会社'), (15, 'Geo Satellite Systems Inc'), "
         "(16, 'ジオ サテライト システム株式会社'), (20, '')",
     true,
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
      {"SELECT ParentID, min(ProjectTaskID), group_concat(ProjectTaskMasterID || ':' || "
       "ContactID || ':' || ExpectedPersonHours || ':' || strftime('%d', StartDate) || '-' || "
       "strftime('%d', EndDate) || ':' || SpentHoursTotal, ' ') FROM ProjectTask GROUP BY 1",
       "101|201|17:5:10:06-10:5 18:4:3:10-11:0 19:3:7:11-13:0\n103|204|20:5:1:06-08:2 "
       "21:4:2:08-09:2 22:3:2:09-10:1 23:2:1:13-13:0\n107|208|7:2:5:06-07:5 8:2:5:07-08:2 "
       "9:3:5:08-09:1 10:3:5:09-10:0 11:3:5:10-11:0 12:4:5:11-12:0 13:4:5:12-13:0 14:4:5:13-14:0 "
       "15:5:5:14-15:0 16:5:5:15-16:0"},
      {"SELECT DISTINCT time(StartDate), time(EndDate), strftime('%Y-%m', StartDate) "
       "FROM ProjectTask", "12:00:00|12:00:00|2024-03"},
      {"SELECT EventID, ParentID, ContactID, TimeTrack, Bit2, Int1 FROM ProjectEvent "
       "WHERE MessageTypeID = 1",
       "102|101|5|5|0|201\n104|103|5|2|0|204\n105|103|4|2|0|205\n106|103|3|1|1|206\n"
       "108|107|5|5|0|208\n109|107|4|2|0|209\n110|107|3|1|1|210"},
      {"SELECT DISTINCT EventTypeID, CompanyID, CreateDate, StartDate, EndDate, Visible, Bit1, "
       "StationID FROM ProjectEvent WHERE MessageTypeID = 1", "3|-|2024-03-05 20:30:15|-|-|1|1|7"},
      {"SELECT group_concat(EventID || ':' || ContactIDs, ' ') FROM (SELECT EventID, "
       "group_concat(ContactID, '') AS ContactIDs FROM ProjectNewFlag GROUP BY EventID)",
       "102:1234 104:1234 105:1235 106:1245 108:1234 109:1235 110:1245"},
      {"SELECT count(*), substr(group_concat(ProjectTaskMasterName, ';'), 1, 12) FROM "
       "ProjectTaskMaster", "22|Contact Cust", "22|顧客折衝;提案・見積;契", "22|;;;;;;;;;;;;"},
      {"SELECT count(*) FROM ProjectEvent WHERE Title || Body = ''", "0", nullptr, "10"}}},

    {"Resource", Resource::InsertSampleData, "",
     NextKeyAfter("Resource", 10) + NextKeyAfter("ResourceEvent", 20), true,
     {{"SELECT ResourceID, ResourceTypeID, CompanyID, ResourceName, length(Description) FROM "
       "Resource", "11|2|1|Meeting Room 5001|45\n12|1|1|Over Head Projector|35",
       "11|2|1|会議室 5001|9\n12|1|1|プロジェクター|26", "11|2|1||0\n12|1|1||0"},
      {"SELECT EventID, ResourceID FROM ResourceEvent", "21|11\n22|12"},
      // Tomorrow, 7 March, 10:00 to 15:30 in Tokyo, stored in GMT.
      {"SELECT DISTINCT EventTypeID, CreateDate, StartDate, EndDate, Visible, StationID "
       "FROM ResourceEvent", "8|2024-03-05 20:30:15|2024-03-07 01:00:00|2024-03-07 06:30:00|1|7"},
      {Texts("ResourceEvent"), "Corpor/57 Corpor/57", "来年度全社営/36 来年度全社営/36", "/0 /0"},
      {"SELECT EventID, OwnerID FROM ResourceEventMembership", "21|5\n22|5"}}},

    {"Document", Document::InsertSampleData, nullptr,
     // The folder gets the largest 16-bit key; the document's own key is
     // held as read and goes beyond it.
     NextKeyAfter("DocEvent", 32766), true,
     {{"SELECT EventID, GroupID, CompanyID, ContactID, ParentID, CreateDate, Visible, Custom1, "
       "Custom2, Custom3, Custom4, Int2, Int3, Bit2, StationID FROM DocEvent",
       "32767|1|1|1|32767|2024-03-05 20:30:15|1|-|-|-|-|-|-|-|7\n"
       "32768|-|1|1|32767|2024-03-05 20:30:15|1|1|32767\\readme.txt|readme.txt|txt|6080|32768|1|7"},
      {Texts("DocEvent"), "Quorvi/23 ReadMe/54", "クオルヴィア/17 ReadMe/13", "/0 /0"}}},
};
// clang-format on

// A clock an hour later at every reading: a module dates every record by its
// first reading, so a later one shows.
class HourlyClock : public timezone::Clock {
 public:
  explicit HourlyClock(std::time_t first) : next_(first) {}
  std::time_t Now() const override { return (next_ += 3600) - 3600; }

 private:
  mutable std::time_t next_;
};

class ModuleTest : public ::testing::Test {
 protected:
  // 2024-03-05 20:30:15 GMT, already 6 March in Tokyo: the days differ.
  static constexpr std::time_t kRunInstant = 1709670615;

  void SetUp() override { LayOut("install"); }
  void LayOut(const std::string& folder) {
    installation_ = qv::testing::Installation::LayOut(dir_.path() / folder);
    connector_ = db::MakeDataSourceConnector(installation_->odbcIni().string(),
                                             db::kDefaultBusyTimeoutMs, StandardErrorDiagnostics());
  }
  bool Run(InsertFn module, const std::string& language, const std::string& station = "1",
           db::Connector* connector = nullptr) {
    const HourlyClock clock(kRunInstant);
    return module({connector ? *connector : *connector_, clock,
                   [this](const std::string& box) { boxes_.push_back(box); }},
                  {language, "qv_main", "admin", "quillmark", station});
  }
  void Exec(const std::string& sql) const { qv::testing::Exec(installation_->mainDb(), sql); }
  // The rows of `sql`: columns joined by "|", rows by "\n", null as "-".
  std::string Flat(const std::string& sql) const {
    std::string text;
    for (const auto& row : qv::testing::Query(installation_->mainDb(), sql)) {
      for (size_t i = 0; i < row.size(); ++i)
        text += (i ? "|" : "") + (row[i] == qv::testing::kNullText ? "-" : row[i]);
      text += "\n";
    }
    return text.empty() ? text : text.substr(0, text.size() - 1);
  }
  // Every table's rows, in two queries: the sweeps take one per operation.
  std::string Dump() const {
    std::string sql = "SELECT ''";
    for (const auto& table : qv::testing::Query(
             installation_->mainDb(),
             "SELECT m.name, group_concat('quote(\"' || p.name || '\")', \" || '|' || \") FROM "
             "sqlite_master m, pragma_table_info(m.name) p WHERE m.type = 'table' GROUP BY 1"))
      sql += " UNION ALL SELECT '" + table[0] + ":' || ifnull((SELECT group_concat(" + table[1] +
             ", char(10)) FROM (SELECT * FROM \"" + table[0] + "\" ORDER BY rowid)), '')";
    return Flat(sql);
  }

  std::vector<std::string> boxes_;
  qv::testing::ScopedTimeZone tz_{"Asia/Tokyo"};
  qv::testing::ScopedTempDir dir_;
  std::optional<qv::testing::Installation> installation_;
  std::unique_ptr<db::Connector> connector_;
};

class RecordsTest : public ModuleTest,
                    public ::testing::WithParamInterface<std::tuple<Module, std::string>> {};

TEST_P(RecordsTest, WritesItsRecords) {
  const auto& [module, language] = GetParam();
  if (!module.prep.empty()) Exec(module.prep);
  const bool other = language != "1" && language != "2";
  if (other && !module.otherLanguageCommits) {
    const std::string before = Dump();
    EXPECT_FALSE(Run(module.insert, language, "7"));
    EXPECT_EQ(Dump(), before);
    return;
  }
  ASSERT_TRUE(Run(module.insert, language, "7"));
  EXPECT_TRUE(boxes_.empty());
  for (const Check& check : module.checks) {
    const char* expected = language == "2" && check.ja ? check.ja : check.en;
    if (other) expected = check.other ? check.other : check.ja ? nullptr : check.en;
    if (!expected) continue;
    SCOPED_TRACE(check.sql);
    EXPECT_EQ(Flat(check.sql), expected);
  }
}

const char* const kLanguageNames[] = {"English", "Japanese", "OtherLanguage"};
INSTANTIATE_TEST_SUITE_P(Modules, RecordsTest,
                         ::testing::Combine(::testing::ValuesIn(kModules),
                                            ::testing::Values("1", "2", " 1")),
                         [](const auto& info) {
                           return std::get<0>(info.param).name +
                                  std::string(kLanguageNames[info.index % 3]);
                         });

class EveryModuleTest : public ModuleTest, public ::testing::WithParamInterface<Module> {};

// Up to the commit a failing operation fails the run, leaves the database as
// it was and shows the module's box; after it, the committed result stays.
TEST_P(EveryModuleTest, WhicheverOperationFailsAllOrNothing) {
  namespace fs = std::filesystem;
  const Module& module = GetParam();
  const fs::path mainDb = installation_->mainDb();
  const fs::path pristine = dir_.path() / "pristine.mdb";
  fs::copy_file(mainDb, pristine);
  const std::string before = Dump();
  FaultyConnector counter(*connector_);
  ASSERT_TRUE(Run(module.insert, "2", "1", &counter)) << "the counting run must commit";
  const std::string committed = Dump();
  const int64_t commitAt = counter.PositionOf(DbOp::kCommitTrans);
  ASSERT_GT(commitAt, 0);

  for (int64_t n = 1; n <= counter.count() && !HasFailure(); ++n) {
    fs::copy_file(pristine, mainDb, fs::copy_options::overwrite_existing);
    boxes_.clear();
    FaultyConnector faulty(*connector_, n);
    const bool result = Run(module.insert, "2", "1", &faulty);
    SCOPED_TRACE(counter.Describe(n));
    EXPECT_TRUE(faulty.injected());
    EXPECT_EQ(result, n > commitAt);
    EXPECT_EQ(Dump(), n > commitAt ? committed : before);
    if (n > commitAt) continue;
    EXPECT_EQ(boxes_.size(), module.boxSeparator ? 1u : 0u);
    if (n == commitAt && module.boxSeparator) {
      EXPECT_EQ(boxes_.at(0), std::to_string(FaultyConnector::kInjectedErrorNumber) +
                                  module.boxSeparator + FaultyConnector::kInjectedErrorDescription);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Modules, EveryModuleTest, ::testing::ValuesIn(kModules),
                         [](const auto& info) { return std::string(info.param.name); });

// A station that is not a number, or a business type past the known ones,
// fails the run and leaves the database as it was.
TEST_F(ModuleTest, ARefusedContactRunLeavesTheDatabaseAsItWas) {
  const std::string before = Dump();
  EXPECT_FALSE(Run(Contact::InsertSampleData, "1", "x"));
  EXPECT_EQ(Dump(), before);
  Exec("INSERT INTO BusinessType (BizTypeID, BizTypeName, StationID) VALUES (7, 'Seventh', 1)");
  const std::string seventh = Dump();
  EXPECT_FALSE(Run(Contact::InsertSampleData, "1"));
  EXPECT_EQ(Dump(), seventh);
}

}  // namespace
}  // namespace qv::sample_data

// The eight sample-data modules and their shared frame, on a fresh
// installation with the local zone pinned to Asia/Tokyo and the clock to a
// fixed instant: what each writes in English, in Japanese and in a language
// that is neither, and that each is all-or-nothing whatever fails.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "db/data_source.h"
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

// SQL that makes the next key of `table` `last` + 1.
std::string NextKeyAfter(const std::string& table, int last) {
  return "DELETE FROM sqlite_sequence WHERE name = '" + table +
         "'; INSERT INTO sqlite_sequence (name, seq) VALUES ('" + table + "', " +
         std::to_string(last) + ");";
}

// "#<bytes>:<FNV-1a hash>": the long sample texts are compared by the length
// and hash of their expected text, so any changed byte still shows.
std::string Digest(const std::string& text) {
  uint64_t hash = 0xcbf29ce484222325u;
  for (unsigned char c : text) hash = (hash ^ c) * 0x100000001b3u;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return "#" + std::to_string(text.size()) + ":" + hex;
}

// A query and its rows (see Flat) by language; one starting with '#' is a
// Digest. `ja` null: as `en`. `other`, for a language neither "1" nor "2",
// null: as `en` when `ja` is null, otherwise not checked.
struct Check {
  const char* sql;
  const char* en;
  const char* ja = nullptr;
  const char* other = nullptr;
};

struct Module {
  const char* name;
  InsertFn insert;
  const char* boxSeparator;  // between number and description of its failure box; null: no box
  const char* pendingTable;  // whose rows all go with the closing send, or null
  std::string prep;          // before the records are written with station "7"
  bool otherLanguageCommits;
  std::vector<Check> checks;
};
void PrintTo(const Module& module, std::ostream* os) {
  *os << module.name;
}

// clang-format off
const std::vector<Module> kModules = {
    {"Contact", Contact::InsertSampleData, nullptr, nullptr,
     // A group that existed before, business types stored out of key order,
     // company keys beyond 16 bits (the contacts link to them as read).
     "INSERT INTO Groups (GroupName, Visible, StationID) VALUES ('Sales', 0, 1);"
     "DELETE FROM BusinessType WHERE BizTypeID IN (2, 5);"
     "INSERT INTO BusinessType (BizTypeID, BizTypeName, Description, StationID) "
     "VALUES (5, 'x', 'x', 1), (2, 'y', 'y', 1);" + NextKeyAfter("Company", 40000),
     false,
     {{"SELECT (SELECT count(*) FROM Company), (SELECT count(*) FROM Contact)", "5|9"},
      {"SELECT CompanyID, CompanyName, BizTypeID, Address1, Address2, City, Province, Country, "
       "PostalCode, Phone1, Phone2, Fax, Email, Web, OwnerID, StaffID, Furigana, Visible, "
       "StationID, AddressDisplay, SAddressDisplay FROM Company WHERE CompanyID > 3",
       "#442:8a17326436a18383", "#499:5426b4f3b49379af"},
      {"SELECT CompanyID, Salutation, FirstName, LastName, Sex, Title, Department, Division, "
       "Address1, Address2, City, Province, Country, PostalCode, WorkPhone, HomePhone, Fax, Cell, "
       "Email, OwnerID, AddressDisplay, HAddressDisplay, NameDisplay, FullName, FirstKana, "
       "LastKana, Visible, StationID FROM Contact WHERE ContactID = 8",
       "#262:7b03da964e094e36", "#280:c1eaa25331f715de"},
      {"SELECT CompanyID, Salutation, FullName, FirstKana, LastKana FROM Contact "
       "WHERE ContactID > 5", "#165:851d36508c8b296e", "#177:c9b21337a2d92793"},
      {"SELECT BizTypeID, BizTypeName, Description FROM BusinessType ORDER BY BizTypeID",
       "#204:6df83af2e328214d", "#233:4e10577218ae3abc"},
      {"SELECT GroupName, Visible, StationID FROM Groups", "Staff|1|7\nStaff|1|7",
       "スタッフ|1|7\nスタッフ|1|7"},
      {"SELECT DISTINCT StationID FROM Company UNION ALL SELECT DISTINCT StationID FROM Contact "
       "UNION ALL SELECT DISTINCT StationID FROM BusinessType", "7\n7\n7"}}},

    {"Schedule", Schedule::InsertSampleData, "", "ScheduleMembership",
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
      {"SELECT Title, Body FROM ScheduleEvent", "#251:03d91e8ad94473a7", "#484:be3c833982465702",
       "|\n|"}}},

    {"Announcement", Announcement::InsertSampleData, nullptr, "AnnounceEvent", "", true,
     {{"SELECT DISTINCT EventTypeID, Int1, ContactID, Bit1, StartDate, CreateDate, GroupID, "
       "Visible, StationID FROM AnnounceEvent",
       "7|2|1|1|2024-03-05 20:30:15|2024-03-05 20:30:15|1|1|7"},
      {"SELECT Title, Body FROM AnnounceEvent", "#369:13d9d91d1e8dd9be", "#474:9c0fe4bade11fff8",
       "|\n|"}}},

    {"ToDo", ToDo::InsertSampleData, nullptr, "ToDoEvent", "DELETE FROM Contact WHERE ContactID > 1",
     true,
     // Title by title, owners 1 to 5 whatever the contacts, at the local
     // noon of the run day in Tokyo (6 March), not moved to GMT.
     {{"SELECT group_concat(ContactID, '') FROM ToDoEvent", "123451234512345123451234512345"},
      {"SELECT DISTINCT EventTypeID, Int1, StartDate, CreateDate, Body, Visible, GroupID, "
       "StationID FROM ToDoEvent", "7|1|2024-03-06 12:00:00|2024-03-06 12:00:00|-|-|-|7"},
      {"SELECT Title, Min(EventID), Max(EventID) FROM ToDoEvent GROUP BY Title ORDER BY 2",
       "#216:ba45c1664078667c", "#251:a38796cc15d93133", "|1|30"}}},

    {"Forum", Forum::InsertSampleData, nullptr, "ForumVoting", NextKeyAfter("ForumEvent", 100),
     true,
     // Heads 101, 103 and 109 are their own parents; replies name head + 1
     // in Int1; polls (Bit3) name themselves.
     {{"SELECT DISTINCT EventTypeID, Visible, Bit1, StationID FROM ForumEvent", "6|1|1|7"},
      {"SELECT EventID, ContactID, ParentID, CompanyID, Bit2, Bit3, Int1, Int2, Int3 "
       "FROM ForumEvent", "#281:7e29d4670df8d358"},
      // Hours before the run of each row's StartDate/CreateDate.
      {"SELECT group_concat(ifnull((strftime('%s', '2024-03-05 20:30:15') - "
       "strftime('%s', StartDate)) / 3600, '-') || '/' || ((strftime('%s', '2024-03-05 20:30:15') "
       "- strftime('%s', CreateDate)) / 3600), ' ') FROM ForumEvent",
       "0/0 0/0 0/0 24/24 0/0 0/0 0/0 -/0 0/48 0/24 0/0 -/0"},
      {"SELECT ParentID, group_concat(ContactID || ':' || LeaderFlag, ' ') "
       "FROM ForumEventMembership WHERE Visible = 1 GROUP BY ParentID", "#71:3ee520a777c3b813"},
      // Unread markers for every contact but the author; none for heads.
      {"SELECT EventID, group_concat(ContactID, '') FROM ForumNewFlag GROUP BY EventID",
       "#80:d3cca56c43d20b3a"},
      {"SELECT EventID, group_concat(ContactID || ':' || VotingStatus, ' ') FROM ForumVoting "
       "GROUP BY EventID", "108|1:0 2:0 3:0 4:0 5:0\n112|1:0 2:0 3:0 4:0 5:0"},
      {"SELECT Title, Body FROM ForumEvent WHERE EventID IN (101, 103, 106)",
       "#429:80d4ea69692329ba", "#625:7e7f2682cdd5f8ee"},
      {"SELECT Title, Body, Custom1, Custom2 FROM ForumEvent WHERE Bit3 = 1",
       "#161:1b9ea32a7e45ec66", "#234:7c5b43c959d65b01", "|||\n|||"},
      {"SELECT count(*) FROM ForumEvent WHERE Title || Body = ''", "0", nullptr, "12"}}},

    {"ProjectM", ProjectM::InsertSampleData, " : ", nullptr,
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
       "FROM ProjectEventMembership GROUP BY ParentID", "#71:d1b5c77a1225062d"},
      {"SELECT group_concat(ProjectTaskMasterID || ':' || DaysToStart || '-' || DaysToEnd, ' '), "
       "group_concat(DISTINCT ExpectedPersonHours || '/' || Visible) FROM ProjectTaskMaster "
       "WHERE ProjectTaskMasterTypeID = 3", "#71:f5a02b3c0b1da963"},
      // Assignee, expected hours, days of March, and hours booked by messages.
      {"SELECT ProjectTaskID, ProjectTaskMasterID, ParentID, ContactID, ExpectedPersonHours, "
       "strftime('%d', StartDate) || '-' || strftime('%d', EndDate), SpentHoursTotal "
       "FROM ProjectTask", "#388:11b548179ac7d8f6"},
      {"SELECT DISTINCT time(StartDate), time(EndDate), strftime('%Y-%m', StartDate) "
       "FROM ProjectTask", "12:00:00|12:00:00|2024-03"},
      {"SELECT EventID, ParentID, ContactID, TimeTrack, Bit2, Int1 FROM ProjectEvent "
       "WHERE MessageTypeID = 1", "#125:7828c4af55f6d64a"},
      {"SELECT DISTINCT EventTypeID, CompanyID, CreateDate, StartDate, EndDate, Visible, Bit1, "
       "StationID FROM ProjectEvent WHERE MessageTypeID = 1", "3|-|2024-03-05 20:30:15|-|-|1|1|7"},
      {"SELECT EventID, group_concat(ContactID, '') FROM ProjectNewFlag GROUP BY EventID",
       "#62:f178bb7a0fc738d5"},
      {"SELECT * FROM ProjectTaskMasterType", "#104:d9cea68355a15aee", "#179:22a643326a4b3e45",
       "1||\n2||\n3||"},
      {"SELECT group_concat(ProjectTaskMasterName, ';') FROM ProjectTaskMaster",
       "#428:aef2a6930c4338bf", "#333:22f84cc9490717f6", ";;;;;;;;;;;;;;;;;;;;;"},
      {"SELECT Title, Body FROM ProjectEvent WHERE EventID IN (101, 102, 103, 107, 109, 110)",
       "#547:7541b7cf69015c95", "#682:dd9e26efa3169831"},
      {"SELECT count(*) FROM ProjectEvent WHERE Title || Body = ''", "0", nullptr, "10"}}},

    {"Resource", Resource::InsertSampleData, "", "ResourceEventMemberShip",
     NextKeyAfter("Resource", 10) + NextKeyAfter("ResourceEvent", 20), true,
     {{"SELECT ResourceID, ResourceTypeID, CompanyID, ResourceName, Description FROM Resource",
       "#133:270036cb384a9f5f", "#117:0f19fbef628812d4", "11|2|1||\n12|1|1||"},
      {"SELECT EventID, ResourceID FROM ResourceEvent", "21|11\n22|12"},
      // Tomorrow, 7 March, 10:00 to 15:30 in Tokyo, stored in GMT.
      {"SELECT DISTINCT EventTypeID, CreateDate, StartDate, EndDate, Visible, StationID "
       "FROM ResourceEvent", "8|2024-03-05 20:30:15|2024-03-07 01:00:00|2024-03-07 06:30:00|1|7"},
      {"SELECT DISTINCT Title, Body FROM ResourceEvent", "#99:c4025f62d36cde6b",
       "#142:53dd62f68dfecb3f", "|"},
      {"SELECT EventID, OwnerID FROM ResourceEventMembership", "21|5\n22|5"}}},

    {"Document", Document::InsertSampleData, nullptr, nullptr,
     // The folder gets the largest 16-bit key; the document's own key is
     // held as read and goes beyond it.
     NextKeyAfter("DocEvent", 32766), true,
     {{"SELECT EventID, GroupID, CompanyID, ContactID, ParentID, CreateDate, Visible, Custom1, "
       "Custom2, Custom3, Custom4, Int2, Int3, Bit2, StationID FROM DocEvent",
       "32767|1|1|1|32767|2024-03-05 20:30:15|1|-|-|-|-|-|-|-|7\n"
       "32768|-|1|1|32767|2024-03-05 20:30:15|1|1|32767\\readme.txt|readme.txt|txt|6080|32768|1|7"},
      {"SELECT Title, Body FROM DocEvent", "#93:c4434a29e4bf3288", "#117:71fab341c3a1f795",
       "|\n|"}}},
};
// clang-format on

class ModuleTest : public ::testing::Test {
 protected:
  // 2024-03-05 20:30:15 GMT. In Tokyo (+9) it is already 6 March, 05:30:15:
  // the local calendar day and the GMT one differ.
  static constexpr std::time_t kRunInstant = 1709670615;

  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) savedTz_ = tz;
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    LayOut("install");
  }
  void TearDown() override {
    if (savedTz_) {
      setenv("TZ", savedTz_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  void LayOut(const std::string& folder) {
    installation_ = qv::testing::Installation::LayOut(dir_.path() / folder);
    connector_ = db::MakeDataSourceConnector(installation_->odbcIni().string());
  }
  ModuleEnv Env(db::Connector& connector, const timezone::Clock& clock) {
    return {connector, clock, [this](const std::string& box) { boxes_.push_back(box); }};
  }
  // Runs `module` against qv_main as "admin" / "quillmark", through the real
  // connector or through `connector`.
  bool Run(InsertFn module, const std::string& language, const std::string& station = "1",
           db::Connector* connector = nullptr) {
    return module(Env(connector ? *connector : *connector_, clock_),
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
  // Every table's rows, sqlite_sequence included.
  std::string Dump() const {
    std::string dump;
    for (const auto& table : qv::testing::Query(
             installation_->mainDb(), "SELECT name FROM sqlite_master WHERE type = 'table'"))
      dump += table[0] + ":\n" + Flat("SELECT * FROM \"" + table[0] + "\" ORDER BY rowid") + "\n";
    return dump;
  }

  timezone::FixedClock clock_{kRunInstant};
  std::vector<std::string> boxes_;
  qv::testing::ScopedTempDir dir_;
  std::optional<qv::testing::Installation> installation_;
  std::unique_ptr<db::Connector> connector_;

 private:
  std::optional<std::string> savedTz_;
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
    const std::string rows = Flat(check.sql);
    EXPECT_EQ(*expected == '#' ? Digest(rows) : rows, expected) << rows;
  }
}

INSTANTIATE_TEST_SUITE_P(Modules, RecordsTest,
                         ::testing::Combine(::testing::ValuesIn(kModules),
                                            ::testing::Values("1", "2", " 1")),
                         [](const auto& info) {
                           const std::string& language = std::get<1>(info.param);
                           return std::get<0>(info.param).name +
                                  std::string(language == "1"   ? "English"
                                              : language == "2" ? "Japanese"
                                                                : "OtherLanguage");
                         });

class EveryModuleTest : public ModuleTest, public ::testing::WithParamInterface<Module> {};

// Counts the module's operations in one run (it must commit), then runs it
// once per operation N on a fresh copy with operation N failing. Up to the
// commit every run returns false, leaves the whole database as it was and
// shows the module's box (for a refused commit: its number and description);
// a failure after the commit leaves the committed result. Rows left pending
// all go with the one closing send.
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
  if (!module.pendingTable) return;
  const auto& ops = counter.log();
  size_t lastAdd = 0;
  std::vector<size_t> sends;
  for (size_t i = 0; i < ops.size(); ++i) {
    if (ops[i].op == DbOp::kAddNew) lastAdd = i;
    if (ops[i].op == DbOp::kUpdateBatch && ops[i].detail == module.pendingTable) sends.push_back(i);
  }
  ASSERT_EQ(sends.size(), 1u);
  EXPECT_GT(sends[0], lastAdd);
}

TEST_P(EveryModuleTest, AStationThatIsNotANumberRollsBack) {
  const Module& module = GetParam();
  const std::string before = Dump();
  EXPECT_FALSE(Run(module.insert, "1", "x"));
  EXPECT_EQ(Dump(), before);
  using Boxes = std::vector<std::string>;
  EXPECT_EQ(boxes_, module.boxSeparator
                        ? Boxes{"13" + std::string(module.boxSeparator) + "Type mismatch"}
                        : Boxes{});
}

INSTANTIATE_TEST_SUITE_P(Modules, EveryModuleTest, ::testing::ValuesIn(kModules),
                         [](const auto& info) { return std::string(info.param.name); });

struct Rollback {
  const char* name;
  InsertFn insert;
  std::string prep;
  const char* box;  // "" for none
};

// Keys read as 16-bit integers: the folder, each schedule entry, the first
// poll (32768, after heads read as they are), the second resource (the first
// gets 32767), the last "System Sales" template task and the customer company.
// clang-format off
const std::vector<Rollback> kRollbacks = {
    {"ContactBusinessType7", Contact::InsertSampleData,
     "INSERT INTO BusinessType (BizTypeID, BizTypeName, StationID) VALUES (7, 'Seventh', 1)", ""},
    {"DocumentFolderKey", Document::InsertSampleData, NextKeyAfter("DocEvent", 40000), ""},
    {"ScheduleEntryKey", Schedule::InsertSampleData, NextKeyAfter("ScheduleEvent", 40000), "6Overflow"},
    {"ForumPollKey", Forum::InsertSampleData, NextKeyAfter("ForumEvent", 32760), ""},
    {"ResourceKey", Resource::InsertSampleData, NextKeyAfter("Resource", 32766), "6Overflow"},
    {"ProjectMTemplateKey", ProjectM::InsertSampleData, NextKeyAfter("ProjectTaskMaster", 32760),
     "6 : Overflow"},
    {"ProjectMCustomerKey", ProjectM::InsertSampleData,
     "INSERT INTO Company (CompanyID, CompanyName) VALUES (40000, 'Geo Satellite Systems Inc')",
     "6 : Overflow"},
};
// clang-format on

class RollbackTest : public ModuleTest, public ::testing::WithParamInterface<Rollback> {};

TEST_P(RollbackTest, LeavesTheDatabaseAsItWasAndShowsTheModulesBox) {
  const Rollback& rollback = GetParam();
  Exec(rollback.prep);
  const std::string before = Dump();
  EXPECT_FALSE(Run(rollback.insert, "1"));
  EXPECT_EQ(Dump(), before);
  EXPECT_EQ(boxes_,
            *rollback.box ? std::vector<std::string>{rollback.box} : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Cases, RollbackTest, ::testing::ValuesIn(kRollbacks),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FrameTextTest, OnlyExactOneOrTwoPickATextSet) {
  const Text text{"Staff", "スタッフ"};
  EXPECT_EQ(Pick(PickLanguage("1"), text), "Staff");
  EXPECT_EQ(Pick(PickLanguage("2"), text), "スタッフ");
  for (const char* other : {"", " 1", "1 ", "01", "02", "2 ", "3", "12", "１", "e"})
    EXPECT_EQ(PickLanguage(other), Language::kNeither) << "'" << other << "'";
  EXPECT_EQ(Pick(Language::kNeither, text), "");
}

const SampleArgs kArgs{"1", "qv_main", "admin", "quillmark", "1"};

TEST_F(ModuleTest, FirstForumReplyMarkersNameHeadPlusOne) {
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

// A clock an hour later at every reading.
class HourlyClock : public timezone::Clock {
 public:
  explicit HourlyClock(std::time_t first) : next_(first) {}
  std::time_t Now() const override { return (next_ += 3600) - 3600; }

 private:
  mutable std::time_t next_;
};

// Late on the last day of a month, "tomorrow" is the first of the next; a
// module running across midnight dates every record by its first reading.
TEST_F(ModuleTest, AModuleRunningAcrossMidnightDatesEveryRecordByItsFirstReading) {
  constexpr std::time_t kBeforeMidnight = 1706711400;  // 2024-01-31 23:30 in Tokyo
  int folder = 0;
  for (InsertFn insert :
       {Schedule::InsertSampleData, ProjectM::InsertSampleData, Resource::InsertSampleData}) {
    const timezone::FixedClock fixed(kBeforeMidnight);
    const HourlyClock moving(kBeforeMidnight);
    std::string dumps[2];
    for (int i = 0; i < 2; ++i) {
      LayOut(std::to_string(++folder));
      const ModuleEnv env =
          Env(*connector_, i == 0 ? static_cast<const timezone::Clock&>(fixed) : moving);
      ASSERT_TRUE(insert(env, kArgs));
      dumps[i] = Dump();
    }
    EXPECT_EQ(dumps[1], dumps[0]);
  }
  EXPECT_EQ(Flat("SELECT DISTINCT StartDate, EndDate FROM ResourceEvent"),
            "2024-02-01 01:00:00|2024-02-01 06:30:00");
}

}  // namespace
}  // namespace qv::sample_data

// The installations that the setup runs against: the laid-out files, the
// fresh and the older schema, and the test helpers built on them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "mkinstall/command.h"
#include "mkinstall/layout.h"
#include "support/installation.h"
#include "support/scoped_temp_dir.h"

namespace qv::testing {
namespace {

namespace fs = std::filesystem;
using Kind = Installation::Kind;

const char* const kServerViews[] = {
    "ScheduleEngine",     "ScheduleEngineDetail",   "ScheduleOwnership",
    "ResourceEngine",     "ResourceEngineDetail",   "ProjectMessageSearch",
    "ProjectAllTaskList", "ProjectEventDisplay",    "ProjectGeneralEventDisplay",
    "ProjectList",        "ProjectListAdmin",       "ProjectTaskList",
    "DocEventDuplicate",  "DocumentCheckedoutList", "ForumListAdmin"};

const char* const kEventTables[] = {"ScheduleEvent", "AnnounceEvent", "ToDoEvent", "ForumEvent",
                                    "ProjectEvent",  "ResourceEvent", "DocEvent"};

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Column name (lower case) -> declared type, as the engine stores them.
std::map<std::string, std::string> ColumnTypes(const fs::path& db, const std::string& table) {
  std::map<std::string, std::string> types;
  for (const auto& row : Query(db, "SELECT name, type FROM pragma_table_info('" + table + "')")) {
    types[Lower(row[0])] = row[1];
  }
  return types;
}

std::vector<std::string> Names(const fs::path& db, const std::string& type) {
  std::vector<std::string> names;
  for (const auto& row : Query(db, "SELECT name FROM sqlite_master WHERE type = '" + type +
                                       "' AND name NOT LIKE 'sqlite_%' ORDER BY name")) {
    names.push_back(row[0]);
  }
  return names;
}

class SchemaLayoutTest : public ::testing::Test {
 protected:
  Installation LayOut(Kind kind) { return Installation::LayOut(dir_.path() / "inst", kind); }

  ScopedTempDir dir_;
};

// Every table and column that the setup writes, reads or builds views on.
TEST_F(SchemaLayoutTest, FreshInstallationHasEveryColumnTheSetupTouches) {
  const Installation inst = LayOut(Kind::kFresh);
  const std::map<std::string, std::string> mainColumns = {
      {"Company",
       "CompanyID CompanyName BizTypeID Address1 Address2 City Province Country PostalCode Phone1 "
       "Phone2 Fax Email Web OwnerID StaffID Furigana Visible StationID AddressDisplay "
       "SAddressDisplay"},
      {"Contact",
       "ContactID CompanyID Salutation FirstName LastName Sex Title Department Division Address1 "
       "Address2 City Province Country PostalCode WorkPhone HomePhone Fax Cell Email OwnerID "
       "AddressDisplay HAddressDisplay NameDisplay FullName FirstKana LastKana Visible StationID "
       "Email2 Furigana"},
      {"BusinessType", "BizTypeID BizTypeName Description StationID"},
      {"Groups", "GroupName Visible StationID"},
      {"EmailAdmin", "DefaultSMTPServer DefaultPOPServer"},
      {"ScheduleEvent",
       "EventID EventTypeID IsReminder CreateDate StartDate EndDate Title Body ContactID "
       "EmailNotification Confirmation EventConfirmed WhenToNotify Shared Visible StationID"},
      {"ScheduleMembership", "EventID MemberID"},
      {"ScheduleEventMembership", "EventID MemberID IsRead IsConfirmed"},
      {"AnnounceEvent",
       "EventID EventTypeID Int1 ContactID Title Body Bit1 StartDate CreateDate GroupID Visible "
       "StationID"},
      {"ToDoEvent", "EventID EventTypeID Int1 ContactID Title StartDate CreateDate StationID"},
      {"ForumEvent",
       "EventID EventTypeID CompanyID ContactID ParentID StartDate CreateDate Title Body Visible "
       "Bit1 Bit2 Bit3 Int1 Int2 Int3 Custom1 Custom2 StationID EndDate"},
      {"ForumEventMembership", "ParentID ContactID LeaderFlag Visible"},
      {"ForumNewFlag", "EventID ContactID"},
      {"ForumVoting", "EventID ContactID VotingStatus"},
      {"ProjectEvent",
       "EventID EventTypeID MessageTypeID CompanyID ContactID ParentID CreateDate StartDate "
       "EndDate Title Body TimeTrack Visible Bit1 Bit2 Int1 Int2 StationID StartTime EndTime"},
      {"ProjectEventMembership", "ParentID ContactID LeaderFlag Visible"},
      {"ProjectNewFlag", "EventID ContactID"},
      {"ProjectTask",
       "ProjectTaskID ProjectTaskMasterID ParentID ContactID ExpectedPersonHours StartDate "
       "EndDate SpentHoursTotal Completed CompletedDate Visible"},
      {"ProjectTaskMaster",
       "ProjectTaskMasterID ProjectTaskMasterTypeID ProjectTaskMasterName ExpectedPersonHours "
       "DaysToStart DaysToEnd Visible"},
      {"ProjectTaskMasterType", "ProjectTaskMasterTypeID ProjectTaskMasterTypeName Description"},
      {"Resource", "ResourceID ResourceTypeID CompanyID ResourceName Description"},
      {"ResourceEvent",
       "EventID EventTypeID CreateDate StartDate EndDate Title Body ResourceID Visible StationID "
       "Confirmation EmailNotification EventConfirmed IsReminder"},
      {"ResourceEventMembership", "EventID OwnerID IsRead IsConfirmed"},
      {"ResourceType",
       "ResourceTypeID ResourceTypeEnglish ResourceTypeJapanese ResourceTypeFrench "
       "ResourceTypeGerman"},
      {"DocEvent",
       "EventID GroupID CompanyID ContactID ParentID CreateDate Title Body Visible Custom1 "
       "Custom2 Custom3 Custom4 Int2 Int3 Bit2 StationID Int1 Bit1 StartDate"},
  };
  const std::map<std::string, std::string> securityColumns = {
      {"GlobalPref", "MainDir StorageDir MainURL LanguageID GMTTimeOffset DateFormat TimeFormat"},
      {"Install", "InstallFlag"},
      {"Users", "DateFormat TimeFormat"},
  };
  for (const auto& [db, tables] : {std::make_pair(inst.mainDb(), mainColumns),
                                   std::make_pair(inst.securityDb(), securityColumns)}) {
    for (const auto& [table, columns] : tables) {
      const auto present = ColumnTypes(db, table);
      EXPECT_FALSE(present.empty()) << "no table " << table;
      std::istringstream names(columns);
      for (std::string column; names >> column;) {
        EXPECT_EQ(present.count(Lower(column)), 1u) << table << "." << column;
      }
    }
  }
}

// The database layer converts assigned values by the declared type.
TEST_F(SchemaLayoutTest, DeclaredTypesSelectTheConversionsTheSetupNeeds) {
  const Installation inst = LayOut(Kind::kFresh);
  // The columns the views compare with Yes and No, and the two columns that
  // an upgrade adds with the types it gives them.
  const std::pair<const char*, const char*> yesNo[] = {
      {"ProjectEvent", "visible"},       {"ProjectTask", "visible"},
      {"ProjectTask", "completed"},      {"ProjectEventMembership", "visible"},
      {"DocEvent", "visible"},           {"DocEvent", "bit1"},
      {"ScheduleEvent", "confirmation"}, {"ResourceEvent", "confirmation"}};
  for (const auto& [table, column] : yesNo) {
    EXPECT_EQ(ColumnTypes(inst.mainDb(), table).at(column), "BIT") << table << "." << column;
  }
  EXPECT_EQ(ColumnTypes(inst.mainDb(), "ScheduleEvent").at("shared"), "LONG");
  for (const std::string& table : Names(inst.mainDb(), "table")) {
    for (const auto& [column, type] : ColumnTypes(inst.mainDb(), table)) {
      EXPECT_FALSE(type.empty()) << table << "." << column << " has no declared type";
      if (column == "stationid") {
        EXPECT_EQ(type, "INTEGER") << table;
      }
      const size_t n = column.size();
      if (n > 4 &&
          (column.compare(n - 4, 4, "date") == 0 || column.compare(n - 4, 4, "time") == 0)) {
        EXPECT_EQ(type, "DATETIME") << table << "." << column;
      }
    }
  }
  EXPECT_EQ(ColumnTypes(inst.securityDb(), "Users").at("dateformat"), "TEXT(50)");

  // Counters are assigned by the engine and never reused.
  for (const char* table : kEventTables) {
    EXPECT_NE(QueryValue(inst.mainDb(),
                         std::string("SELECT sql FROM sqlite_master WHERE name = '") + table + "'")
                  .find("EventID INTEGER PRIMARY KEY AUTOINCREMENT"),
              std::string::npos)
        << table;
  }
  // Long texts keep their text even when it reads as a number.
  Exec(inst.mainDb(), "INSERT INTO ForumEvent (Title, Body) VALUES ('007', '0012')");
  EXPECT_EQ(Query(inst.mainDb(), "SELECT typeof(Title), Body FROM ForumEvent"),
            (std::vector<std::vector<std::string>>{{"text", "0012"}}));
}

TEST_F(SchemaLayoutTest, FreshInstallationHoldsTheRowsTheSetupRefersTo) {
  const Installation inst = LayOut(Kind::kFresh);
  const fs::path& main = inst.mainDb();
  const std::pair<const char*, const char*> keys[] = {
      {"SELECT group_concat(CompanyID) FROM Company", "1,2,3"},
      {"SELECT group_concat(ContactID) FROM Contact", "1,2,3,4,5"},
      {"SELECT group_concat(BizTypeID) FROM BusinessType", "1,2,3,4,5,6"},
      {"SELECT group_concat(ProjectTaskMasterID) FROM ProjectTaskMaster", "1,2,3,4,5,6"},
      {"SELECT group_concat(ProjectTaskMasterTypeID) FROM ProjectTaskMasterType", "1,2,3"},
      {"SELECT group_concat(ResourceTypeID) FROM ResourceType", "1,2"},
      {"SELECT count(*) FROM Groups", "1"},
      {"SELECT count(*) FROM EmailAdmin", "1"},
      {"SELECT count(*) FROM ResourceType WHERE ResourceTypeEnglish <> '' AND "
       "ResourceTypeJapanese <> '' AND ResourceTypeFrench <> '' AND ResourceTypeGerman <> ''",
       "2"},
  };
  for (const auto& [sql, expected] : keys) EXPECT_EQ(QueryValue(main, sql), expected) << sql;
  // Every area counts as empty for the sample data.
  for (const char* table : kEventTables) {
    EXPECT_EQ(QueryValue(main, std::string("SELECT count(*) FROM ") + table), "0") << table;
  }
  EXPECT_EQ(
      Query(inst.securityDb(),
            "SELECT MainDir, StorageDir, MainURL, LanguageID, GMTTimeOffset, DateFormat, "
            "TimeFormat FROM GlobalPref"),
      (std::vector<std::vector<std::string>>{{"", "", "", "1", "0", "yyyy/mm/dd", "hh:mm tt"}}));
  EXPECT_EQ(QueryValue(inst.securityDb(), "SELECT group_concat(InstallFlag) FROM Install"), "0");
  EXPECT_EQ(QueryValue(inst.securityDb(),
                       "SELECT count(*) FROM Users WHERE DateFormat IS NULL OR TimeFormat IS NULL"),
            "0");
  EXPECT_EQ(QueryValue(inst.securityDb(), "SELECT count(*) > 0 FROM Users"), "1");
}

TEST_F(SchemaLayoutTest, FreshInstallationHasExactlyTheFifteenServerViews) {
  const Installation inst = LayOut(Kind::kFresh);
  std::vector<std::string> expected(std::begin(kServerViews), std::end(kServerViews));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Names(inst.mainDb(), "view"), expected);
  for (const char* view : kServerViews) {
    EXPECT_NO_THROW(Query(inst.mainDb(), std::string("SELECT * FROM ") + view)) << view;
  }
  EXPECT_TRUE(Names(inst.securityDb(), "view").empty());
}

// The translated conditions (Yes as 1, the Visible tests, the self-parent
// test) select the rows the server expects, with the defaults of new rows.
TEST_F(SchemaLayoutTest, FreshViewsSelectVisibleRowsThroughTheirJoins) {
  const Installation inst = LayOut(Kind::kFresh);
  Exec(inst.mainDb(),
       "INSERT INTO ScheduleEvent (EventID, EventTypeID, ContactID, Title, Visible, Shared, "
       "  Confirmation) VALUES (1, 1, 1, 'shown', 1, 1, 1), (2, 1, 1, 'hidden', 0, 1, 1);"
       "INSERT INTO ScheduleEventMembership (EventID, MemberID) VALUES (1, 2), (2, 2);"
       "INSERT INTO ProjectEvent (EventID, EventTypeID, MessageTypeID, CompanyID, ParentID, "
       "  Title, Visible) VALUES (7, 3, 9, 1, 7, 'Catalog', 1);"
       "INSERT INTO ProjectTask (ProjectTaskMasterID, ParentID, ContactID) VALUES (1, 7, 2);"
       "INSERT INTO ForumEvent (EventID, EventTypeID, CompanyID, ParentID, Title) VALUES "
       "  (3, 6, 1, 3, 'head'), (4, 6, 1, 3, 'reply');");
  EXPECT_EQ(Query(inst.mainDb(), "SELECT Title, MemberID, Shared, IsRead FROM ScheduleEngine"),
            (std::vector<std::vector<std::string>>{{"shown", "2", "1", "0"}}));
  EXPECT_EQ(Query(inst.mainDb(), "SELECT Title, SpentHoursTotal FROM ProjectAllTaskList"),
            (std::vector<std::vector<std::string>>{{"Catalog", "0"}}));
  EXPECT_EQ(Query(inst.mainDb(), "SELECT Title, CompanyName FROM ProjectListAdmin"),
            (std::vector<std::vector<std::string>>{{"Catalog", "My Company"}}));
  EXPECT_EQ(Query(inst.mainDb(), "SELECT Title FROM ForumListAdmin"),
            (std::vector<std::vector<std::string>>{{"head"}}));
}

TEST_F(SchemaLayoutTest, OldInstallationHasPublicAndConfirmInsteadOfTheirSuccessors) {
  const Installation inst = LayOut(Kind::kOld);
  for (const char* table : kEventTables) {
    const auto columns = ColumnTypes(inst.mainDb(), table);
    const bool hasPublic = std::string(table) != "ResourceEvent";
    EXPECT_EQ(columns.count("public"), hasPublic ? 1u : 0u) << table;
    EXPECT_EQ(columns.count("shared"), 0u) << table;
    EXPECT_EQ(columns.count("confirmation"), 0u) << table;
  }
  EXPECT_EQ(ColumnTypes(inst.mainDb(), "ScheduleEvent").at("confirm"), "BIT");
  EXPECT_EQ(ColumnTypes(inst.mainDb(), "ResourceEvent").at("confirm"), "BIT");
  EXPECT_EQ(ColumnTypes(inst.mainDb(), "DocEvent").at("public"), "LONG");
}

TEST_F(SchemaLayoutTest, OldInstallationIndexesPublicOnlyWhereTheMigrationDropsAnIndex) {
  const Installation inst = LayOut(Kind::kOld);
  EXPECT_EQ(
      Query(inst.mainDb(),
            "SELECT m.name, m.tbl_name, i.name FROM sqlite_master m, "
            "pragma_index_info(m.name) i WHERE m.type = 'index' AND m.sql IS NOT NULL "
            "ORDER BY m.tbl_name"),
      (std::vector<std::vector<std::string>>{{"DocEvent_PublicID", "DocEvent", "Public"},
                                             {"ForumEvent_PublicID", "ForumEvent", "Public"},
                                             {"ProjectEvent_PublicID", "ProjectEvent", "Public"}}));
}

TEST_F(SchemaLayoutTest, OldInstallationHoldsEventsWithValuesToCarryOver) {
  const Installation inst = LayOut(Kind::kOld);
  const fs::path& main = inst.mainDb();
  EXPECT_EQ(QueryValue(main, "SELECT group_concat(Public || '/' || Confirm) FROM ScheduleEvent"),
            "1/1,0/0,2/1");
  EXPECT_EQ(
      QueryValue(
          main,
          "SELECT group_concat(Public) FROM (SELECT Public FROM ForumEvent ORDER BY EventID)"),
      "1,0");
  EXPECT_EQ(
      QueryValue(main,
                 "SELECT group_concat(Public) FROM (SELECT Public FROM DocEvent ORDER BY EventID)"),
      "1,0");
  for (const char* table : {"ProjectEvent", "ResourceEvent", "AnnounceEvent", "ToDoEvent"}) {
    EXPECT_EQ(QueryValue(main, std::string("SELECT count(*) FROM ") + table), "0") << table;
  }
  EXPECT_EQ(QueryValue(main, "SELECT max(CompanyID) FROM Company"), "3");
}

TEST_F(SchemaLayoutTest, OldInstallationHasObsoleteViewsAndOlderServerViews) {
  const Installation inst = LayOut(Kind::kOld);
  std::set<std::string> views;
  for (const std::string& name : Names(inst.mainDb(), "view")) views.insert(name);
  for (const char* obsolete :
       {"NoticeAnnounce", "WorkTrakerList", "documentlist", "DocumentHistory"}) {
    EXPECT_EQ(views.count(obsolete), 1u) << obsolete;
  }
  for (const char* view : kServerViews) {
    EXPECT_EQ(views.count(view), 1u) << view;
    EXPECT_NO_THROW(Query(inst.mainDb(), std::string("SELECT * FROM ") + view)) << view;
  }
  EXPECT_EQ(views.size(), 19u);
  EXPECT_NE(QueryValue(inst.mainDb(), "SELECT sql FROM sqlite_master WHERE name = 'ScheduleEngine'")
                .find("ScheduleEvent.Public"),
            std::string::npos);
  const auto users = ColumnTypes(inst.securityDb(), "Users");
  EXPECT_EQ(users.count("dateformat") + users.count("timeformat"), 0u);
  EXPECT_EQ(Query(inst.securityDb(), "SELECT DateFormat, TimeFormat FROM GlobalPref"),
            (std::vector<std::vector<std::string>>{{"mm/dd/yyyy", "HH:mm"}}));
}

// Upgrading an older installation must end in the fresh schema: the two
// differ only in the columns that the migration replaces or adds.
TEST_F(SchemaLayoutTest, OldSchemaDiffersFromFreshOnlyInTheMigratedColumns) {
  ScopedTempDir other;
  const Installation fresh = LayOut(Kind::kFresh);
  const Installation old = Installation::LayOut(other.path(), Kind::kOld);
  EXPECT_EQ(Names(old.mainDb(), "table"), Names(fresh.mainDb(), "table"));
  for (const std::string& table : Names(fresh.mainDb(), "table")) {
    auto migrated = ColumnTypes(old.mainDb(), table);
    for (const auto& [from, to, type] : {std::make_tuple("public", "shared", "LONG"),
                                         std::make_tuple("confirm", "confirmation", "BIT")}) {
      if (migrated.erase(from) == 1) migrated[to] = type;
    }
    EXPECT_EQ(migrated, ColumnTypes(fresh.mainDb(), table)) << table;
  }
  EXPECT_EQ(Names(old.securityDb(), "table"), Names(fresh.securityDb(), "table"));
  auto users = ColumnTypes(old.securityDb(), "Users");
  users["dateformat"] = users["timeformat"] = "TEXT(50)";
  EXPECT_EQ(users, ColumnTypes(fresh.securityDb(), "Users"));
}

TEST_F(SchemaLayoutTest, RegistryAndDataSourceFilesNameTheInstallation) {
  const Installation inst =
      Installation::LayOut(dir_.path() / "a \"b\"", Kind::kFresh, "Artisan's \"Guild\" \\ Co");
  const std::string dir = (dir_.path() / "a \"b\"").string();
  std::string escapedDir;  // the registry file's escapes
  for (char c : dir) {
    if (c == '"' || c == '\\') escapedDir += '\\';
    escapedDir += c;
  }
  EXPECT_EQ(inst.storageDir(), fs::path(dir));
  EXPECT_EQ(ReadFile(inst.registryFile()),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion]\n"
            "\"StorageDir\"=\"" +
                escapedDir +
                "\"\n"
                "\"CompanyName\"=\"Artisan's \\\"Guild\\\" \\\\ Co\"\n"
                "\"MainDir\"=\"" +
                escapedDir +
                "/program\"\n"
                "\"MainURL\"=\"http://localhost/quorvia/\"\n"
                "\"DefaultSMTPServer\"=\"smtp.example.com\"\n"
                "\"DefaultPOPServer\"=\"pop.example.com\"\n");
  EXPECT_EQ(ReadFile(inst.odbcIni()), "[qv_main]\nDriver   = SQLite3\nDatabase = " + dir +
                                          "/db/qv_main.mdb\n"
                                          "UID      = admin\nPWD      = quillmark\n\n"
                                          "[qv_security]\nDriver   = SQLite3\nDatabase = " +
                                          dir +
                                          "/db/qv_security.mdb\n"
                                          "UID      = admin\nPWD      = quillmark\n");
}

TEST_F(SchemaLayoutTest, ExistingInstallationIsNeverOverwritten) {
  const Installation inst = LayOut(Kind::kFresh);
  Exec(inst.mainDb(), "UPDATE Company SET CompanyName = 'kept' WHERE CompanyID = 1");
  const std::string registry = ReadFile(inst.registryFile());
  EXPECT_THROW(Installation::LayOut(inst.storageDir(), Kind::kOld, "Other"),
               mkinstall::LayoutError);
  EXPECT_EQ(QueryValue(inst.mainDb(), "SELECT CompanyName FROM Company WHERE CompanyID = 1"),
            "kept");
  EXPECT_EQ(ReadFile(inst.registryFile()), registry);

  // One file of an installation is enough to refuse, and nothing is added.
  const fs::path partial = dir_.path() / "partial";
  fs::create_directories(partial / "db");
  std::ofstream(partial / "db" / "qv_security.mdb") << "";
  EXPECT_THROW(Installation::LayOut(partial), mkinstall::LayoutError);
  EXPECT_FALSE(fs::exists(partial / "registry.reg"));
  EXPECT_FALSE(fs::exists(partial / "db" / "qv_main.mdb"));
}

TEST_F(SchemaLayoutTest, ValuesTheSetupCannotReadBackAreRefusedBeforeAnythingIsMade) {
  const fs::path target = dir_.path() / "new";
  mkinstall::LayoutSettings settings;
  settings.companyName = std::string(250, 'x');  // beyond the setup's 249-byte registry read
  EXPECT_THROW(mkinstall::LayOutInstallation(target, settings), mkinstall::LayoutError);
  settings.companyName = "two\nlines";
  EXPECT_THROW(mkinstall::LayOutInstallation(target, settings), mkinstall::LayoutError);
  EXPECT_THROW(mkinstall::LayOutInstallation(dir_.path() / std::string(240, 'd'), {}),
               mkinstall::LayoutError);
  EXPECT_THROW(mkinstall::LayOutInstallation(dir_.path() / "semi;colon", {}),
               mkinstall::LayoutError);
  EXPECT_FALSE(fs::exists(target));
  settings.companyName = std::string(249, 'x');
  EXPECT_NO_THROW(mkinstall::LayOutInstallation(target, settings));
}

class MkinstallCommandTest : public ::testing::Test {
 protected:
  int Run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return mkinstall::RunMkinstall(args, out_, err_);
  }

  ScopedTempDir dir_;
  std::ostringstream out_, err_;
};

TEST_F(MkinstallCommandTest, PrintsTheEnvironmentThatSelectsTheNewInstallation) {
  const std::string dir = dir_.str() + "/inst";
  ASSERT_EQ(Run({"--old", "--company", "Guild & Sons", dir}), 0) << err_.str();
  EXPECT_EQ(out_.str(),
            "QV_REGISTRY_FILE=" + dir + "/registry.reg\nODBCINI=" + dir + "/odbc.ini\n");
  EXPECT_EQ(err_.str(), "");
  EXPECT_NE(ReadFile(dir + "/registry.reg").find("\"CompanyName\"=\"Guild & Sons\"\n"),
            std::string::npos);
  EXPECT_EQ(ColumnTypes(dir + "/db/qv_main.mdb", "ScheduleEvent").count("public"), 1u);

  // A second layout in the same folder is refused.
  EXPECT_EQ(Run({dir}), 1);
  EXPECT_EQ(out_.str(), "");
  EXPECT_NE(err_.str().find("exists already"), std::string::npos) << err_.str();
}

TEST_F(MkinstallCommandTest, BadArgumentsShowTheUsageAndLayOutNothing) {
  const std::string dir = dir_.str() + "/inst";
  for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                               {"--company"},
                                               {"--bogus", dir},
                                               {dir, dir + "2"},
                                               {""},
                                               {"--old"}}) {
    EXPECT_EQ(Run(args), 2);
    EXPECT_NE(err_.str().find("usage: qv-mkinstall"), std::string::npos);
    EXPECT_EQ(out_.str(), "");
  }
  EXPECT_FALSE(fs::exists(dir));
  EXPECT_EQ(Run({"--help"}), 0);
  EXPECT_NE(out_.str().find("usage: qv-mkinstall"), std::string::npos);
}

TEST_F(MkinstallCommandTest, PathsThatNeedQuotingArePrintedForEval) {
  EXPECT_EQ(mkinstall::ShellWord("/srv/quorvia-1.0/db"), "/srv/quorvia-1.0/db");
  EXPECT_EQ(mkinstall::ShellWord("/tmp/my inst"), "'/tmp/my inst'");
  EXPECT_EQ(mkinstall::ShellWord("/tmp/it's"), "'/tmp/it'\\''s'");
  const std::string dir = dir_.str() + "/with space";
  ASSERT_EQ(Run({"--", dir}), 0) << err_.str();
  EXPECT_EQ(out_.str(),
            "QV_REGISTRY_FILE='" + dir + "/registry.reg'\nODBCINI='" + dir + "/odbc.ini'\n");
}

// The helpers other tests build on.
TEST_F(SchemaLayoutTest, ActivationPointsTheEnvironmentAtTheInstallationForItsScope) {
  const Installation inst = LayOut(Kind::kFresh);
  setenv("ODBCINI", "/before/odbc.ini", 1);
  unsetenv("QV_REGISTRY_FILE");
  {
    const auto active = inst.Activate();
    EXPECT_EQ(fs::path(std::getenv("QV_REGISTRY_FILE")), inst.registryFile());
    EXPECT_EQ(fs::path(std::getenv("ODBCINI")), inst.odbcIni());
  }
  EXPECT_EQ(std::string(std::getenv("ODBCINI")), "/before/odbc.ini");
  EXPECT_EQ(std::getenv("QV_REGISTRY_FILE"), nullptr);
  unsetenv("ODBCINI");
}

TEST_F(SchemaLayoutTest, QueryHelpersReportNullsAndRefuseWhatTheyCannotAnswer) {
  const Installation inst = LayOut(Kind::kFresh);
  EXPECT_EQ(Query(inst.mainDb(), "SELECT NULL, 1, 'x'"),
            (std::vector<std::vector<std::string>>{{kNullText, "1", "x"}}));
  EXPECT_THROW(QueryValue(inst.mainDb(), "SELECT 1 WHERE 0"), std::runtime_error);
  EXPECT_THROW(Query(inst.mainDb(), "SELECT 1; SELECT 2"), std::runtime_error);
  EXPECT_THROW(Query(inst.mainDb(), "SELECT nothing FROM nowhere"), std::runtime_error);
  EXPECT_THROW(Query(dir_.path() / "missing.mdb", "SELECT 1"), std::runtime_error);
  EXPECT_FALSE(fs::exists(dir_.path() / "missing.mdb"));
  EXPECT_EQ(ColumnsOf(inst.securityDb(), "Install"), std::vector<std::string>{"InstallFlag"});
}

}  // namespace
}  // namespace qv::testing

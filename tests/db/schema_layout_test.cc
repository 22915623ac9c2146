// The installations that the setup runs against, as qv-mkinstall lays them
// out: the fresh and the older schema, the files that name them, and the
// command itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "mkinstall/command.h"
#include "mkinstall/layout.h"
#include "mkinstall/server_schema.h"
#include "support/installation.h"
#include "support/scoped_temp_dir.h"

namespace qv::testing {
namespace {

namespace fs = std::filesystem;
using Kind = Installation::Kind;
using Rows = std::vector<std::vector<std::string>>;

const char* const kServerViews[] = {
    "DocEventDuplicate",  "DocumentCheckedoutList", "ForumListAdmin",
    "ProjectAllTaskList", "ProjectEventDisplay",    "ProjectGeneralEventDisplay",
    "ProjectList",        "ProjectListAdmin",       "ProjectMessageSearch",
    "ProjectTaskList",    "ResourceEngine",         "ResourceEngineDetail",
    "ScheduleEngine",     "ScheduleEngineDetail",   "ScheduleOwnership"};
const char* const kEventTables[] = {"ScheduleEvent", "AnnounceEvent", "ToDoEvent", "ForumEvent",
                                    "ProjectEvent",  "ResourceEvent", "DocEvent"};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Column name (lower case) -> declared type.
std::map<std::string, std::string> ColumnTypes(const fs::path& db, const std::string& table) {
  std::map<std::string, std::string> types;
  for (const auto& row :
       Query(db, "SELECT lower(name), type FROM pragma_table_info('" + table + "')"))
    types[row[0]] = row[1];
  return types;
}

std::vector<std::string> Names(const fs::path& db, const std::string& type) {
  std::vector<std::string> names;
  for (const auto& row : Query(db, "SELECT name FROM sqlite_master WHERE type = '" + type +
                                       "' AND name NOT LIKE 'sqlite_%' ORDER BY name"))
    names.push_back(row[0]);
  return names;
}

class SchemaLayoutTest : public ::testing::Test {
 protected:
  ScopedTempDir dir_;
  const Installation fresh_ = Installation::LayOut(dir_.path() / "fresh");
  const Installation old_ = Installation::LayOut(dir_.path() / "old", Kind::kOld);
};

TEST_F(SchemaLayoutTest, FreshInstallationHoldsTheRowsAndTheFifteenWorkingViews) {
  const std::pair<const char*, const char*> rows[] = {
      {"SELECT group_concat(CompanyID) FROM Company", "1,2,3"},
      {"SELECT group_concat(ContactID) FROM Contact", "1,2,3,4,5"},
      {"SELECT group_concat(BizTypeID) FROM BusinessType", "1,2,3,4,5,6"},
      {"SELECT group_concat(ProjectTaskMasterID) FROM ProjectTaskMaster", "1,2,3,4,5,6"},
      {"SELECT group_concat(ProjectTaskMasterTypeID) FROM ProjectTaskMasterType", "1,2,3"},
      {"SELECT count(*) FROM ResourceType WHERE ResourceTypeEnglish <> '' AND "
       "ResourceTypeJapanese <> '' AND ResourceTypeFrench <> '' AND ResourceTypeGerman <> ''",
       "2"},
      {"SELECT count(*) || count(*) FROM Groups, EmailAdmin", "11"}};
  for (const auto& [sql, expected] : rows) EXPECT_EQ(QueryValue(fresh_.mainDb(), sql), expected);
  for (const char* table : kEventTables)  // every area counts as empty for the sample data
    EXPECT_EQ(QueryValue(fresh_.mainDb(), std::string("SELECT count(*) FROM ") + table), "0");
  EXPECT_EQ(Query(fresh_.securityDb(),
                  "SELECT MainDir, StorageDir, MainURL, LanguageID, GMTTimeOffset, DateFormat, "
                  "TimeFormat, (SELECT group_concat(InstallFlag) FROM Install), (SELECT count(*) "
                  "FROM Users WHERE DateFormat IS NOT NULL AND TimeFormat IS NOT NULL) > 0 "
                  "FROM GlobalPref"),
            (Rows{{"", "", "", "1", "0", "yyyy/mm/dd", "hh:mm tt", "0", "1"}}));
  EXPECT_EQ(Names(fresh_.mainDb(), "view"),
            std::vector<std::string>(std::begin(kServerViews), std::end(kServerViews)));
  EXPECT_TRUE(Names(fresh_.securityDb(), "view").empty());
  for (const char* view : kServerViews)
    EXPECT_NO_THROW(Query(fresh_.mainDb(), std::string("SELECT * FROM ") + view)) << view;
}

TEST_F(SchemaLayoutTest, DeclaredTypesSelectTheConversionsTheSetupNeeds) {
  const fs::path& main = fresh_.mainDb();
  const std::pair<const char*, const char*> yesNo[] = {{"ProjectEvent", "visible"},
                                                       {"ProjectTask", "completed"},
                                                       {"ProjectEventMembership", "visible"},
                                                       {"DocEvent", "bit1"},
                                                       {"DocEvent", "visible"}};
  for (const auto& [table, column] : yesNo)
    EXPECT_EQ(ColumnTypes(main, table).at(column), "BIT") << table << "." << column;
  for (const std::string& table : Names(main, "table")) {
    for (const auto& [column, type] : ColumnTypes(main, table)) {
      EXPECT_FALSE(type.empty()) << table << "." << column;
      EXPECT_TRUE(column != "stationid" || type == "INTEGER") << table;
      const std::string tail = column.size() > 4 ? column.substr(column.size() - 4) : "";
      EXPECT_TRUE((tail != "date" && tail != "time") || type == "DATETIME")
          << table << "." << column;
    }
  }
  // Counters are assigned and never reused.
  EXPECT_EQ(QueryValue(main,
                       "SELECT count(*) FROM sqlite_master WHERE name LIKE '%Event' AND "
                       "sql LIKE '%EventID INTEGER PRIMARY KEY AUTOINCREMENT%'"),
            "7");
  Exec(main, "INSERT INTO ForumEvent (Title, Body) VALUES ('007', '0012')");
  EXPECT_EQ(Query(main, "SELECT typeof(Title), Body FROM ForumEvent"), (Rows{{"text", "0012"}}));
}

TEST_F(SchemaLayoutTest, OldInstallationHasOldColumnsIndexesEventsAndViews) {
  const fs::path &main = old_.mainDb(), &security = old_.securityDb();
  const std::tuple<const fs::path&, const char*, const char*> values[] = {
      {main,
       "SELECT group_concat(n) FROM (SELECT m.name || '.' || i.name AS n FROM sqlite_master m, "
       "pragma_index_info(m.name) i WHERE m.type = 'index' AND m.sql IS NOT NULL ORDER BY n)",
       "DocEvent_PublicID.Public,ForumEvent_PublicID.Public,ProjectEvent_PublicID.Public"},
      {main, "SELECT group_concat(Public || '/' || Confirm) FROM ScheduleEvent", "1/1,0/0,2/1"},
      {main,
       "SELECT group_concat(Public) FROM (SELECT EventID, Public FROM ForumEvent UNION ALL "
       "SELECT EventID + 1000, Public FROM DocEvent ORDER BY 1)",
       "1,0,1,0"},
      {main,
       "SELECT count(*) || '/' || sum(name IN ('NoticeAnnounce', 'WorkTrakerList', 'documentlist',"
       " 'DocumentHistory')) || '/' || sum(instr(sql, 'ScheduleEvent.Public') > 0) "
       "FROM sqlite_master WHERE type = 'view'",
       "19/4/3"},
      {security, "SELECT DateFormat || ' ' || TimeFormat FROM GlobalPref", "mm/dd/yyyy HH:mm"}};
  for (const auto& [db, sql, expected] : values) EXPECT_EQ(QueryValue(db, sql), expected) << sql;
  for (const char* view : kServerViews)
    EXPECT_NO_THROW(Query(main, std::string("SELECT * FROM ") + view)) << view;
}

// Upgrading must end in the fresh schema: the two differ only in the
// columns that the migration replaces (Public, Confirm) or adds.
TEST_F(SchemaLayoutTest, OldSchemaDiffersFromFreshOnlyInTheMigratedColumns) {
  EXPECT_EQ(Names(old_.mainDb(), "table"), Names(fresh_.mainDb(), "table"));
  EXPECT_EQ(Names(old_.securityDb(), "table"), Names(fresh_.securityDb(), "table"));
  for (const std::string& table : Names(fresh_.mainDb(), "table")) {
    auto migrated = ColumnTypes(old_.mainDb(), table);
    for (const auto& [from, to, type] :
         {std::tuple("public", "shared", "LONG"), std::tuple("confirm", "confirmation", "BIT")}) {
      if (migrated.erase(from) == 1) migrated[to] = type;
    }
    EXPECT_EQ(migrated, ColumnTypes(fresh_.mainDb(), table)) << table;
  }
  auto users = ColumnTypes(old_.securityDb(), "Users");
  EXPECT_EQ(users.count("dateformat") + users.count("timeformat"), 0u);
  users["dateformat"] = users["timeformat"] = "TEXT(50)";
  EXPECT_EQ(users, ColumnTypes(fresh_.securityDb(), "Users"));
}

// What a database holds, engine-neutral: every table and view (lower case)
// with its columns (lower case, with their types mapped to the server's
// names) and its rows, sorted, as text.
struct Content {
  std::map<std::string, std::vector<std::string>> columns;
  std::map<std::string, Rows> rows;
};

Content ContentOf(const DatabaseRef& db) {
  static const std::map<std::string, std::string> kServerType = {
      {"INTEGER", "integer"},
      {"SMALLINT", "smallint"},
      {"LONG", "integer"},
      {"BIT", "yesno"},
      {"DATETIME", "timestamp without time zone"},
      {"LONGTEXT", "text"},
      {"TEXT(50)", "character varying(50)"},
      {"TEXT(100)", "character varying(100)"},
      {"TEXT(255)", "character varying(255)"}};
  const bool server = db.engine() == Engine::kPostgres;
  // table, column, type, 1 for a view
  const Rows columns =
      server ? Query(db,
                     "SELECT c.table_name, c.column_name, coalesce(c.domain_name, c.data_type || "
                     "coalesce('(' || c.character_maximum_length || ')', '')), "
                     "(t.table_type = 'VIEW')::int FROM information_schema.columns c JOIN "
                     "information_schema.tables t USING (table_schema, table_name) WHERE "
                     "c.table_schema = current_schema() ORDER BY c.table_name, c.ordinal_position")
             : Query(db,
                     "SELECT lower(m.name), lower(c.name), c.type, m.type = 'view' FROM "
                     "sqlite_master m, pragma_table_info(m.name) c WHERE m.type IN ('table', "
                     "'view') AND m.name NOT LIKE 'sqlite_%' ORDER BY lower(m.name), c.cid");
  Content content;
  for (const auto& row : columns) {
    // A view's columns by name alone (the embedded engine numbers repeated
    // names: visible, visible:1).
    content.columns[row[0]].push_back(row[3] == "1" ? row[1].substr(0, row[1].find(':'))
                                      : server      ? row[1] + " " + row[2]
                                                    : row[1] + " " + kServerType.at(row[2]));
  }
  for (const auto& [table, names] : content.columns) {
    Rows rows = Query(db, "SELECT * FROM " + table);
    std::sort(rows.begin(), rows.end());
    content.rows[table] = rows;
  }
  return content;
}

// The server's schemas are translated from the embedded engine's: the same
// tables, columns, rows and views, with the server's types, and counters
// that continue after the rows' keys.
TEST_F(SchemaLayoutTest, ServerInstallationsHoldWhatFileInstallationsHold) {
  QV_SKIP_UNTESTED_ENGINE(Engine::kPostgres);
  for (const Kind kind : {Kind::kFresh, Kind::kOld}) {
    const Installation& files = kind == Kind::kOld ? old_ : fresh_;
    const Installation server =
        Installation::LayOut(dir_.path() / (kind == Kind::kOld ? "old-pg" : "fresh-pg"), kind,
                             "Guild", Engine::kPostgres);
    EXPECT_TRUE(server.mainDb().empty() && fs::is_directory(server.storageDir() / "db"));
    EXPECT_NE(ReadFile(server.odbcIni())
                  .find("[qv_security]\nDriver     = PostgreSQL Unicode\nServername = " +
                        server.securityDatabase().server().host +
                        "\nPort       = " + server.securityDatabase().server().port +
                        "\nDatabase   = " + server.securityDatabase().name() + "\n"),
              std::string::npos)
        << ReadFile(server.odbcIni());
    for (const auto& [embedded, onServer] :
         {std::pair(files.mainDatabase(), server.mainDatabase()),
          std::pair(files.securityDatabase(), server.securityDatabase())}) {
      const Content expected = ContentOf(embedded), actual = ContentOf(onServer);
      EXPECT_EQ(actual.columns, expected.columns) << onServer.name();
      EXPECT_EQ(actual.rows, expected.rows) << onServer.name();
    }
    EXPECT_EQ(QueryValue(server.mainDatabase(),
                         "SELECT string_agg(indexname, ',' ORDER BY indexname) FROM pg_indexes "
                         "WHERE schemaname = current_schema() AND indexname LIKE '%publicid'"),
              kind == Kind::kOld ? "docevent_publicid,forumevent_publicid,projectevent_publicid"
                                 : kNullText);
    Exec(server.mainDatabase(),
         "INSERT INTO Company (CompanyName) VALUES ('next'); INSERT INTO ForumEvent (Title) "
         "VALUES ('next')");
    Exec(server.securityDatabase(), "INSERT INTO Users (LoginName) VALUES ('next')");
    EXPECT_EQ(QueryValue(server.mainDatabase(),
                         "SELECT max(CompanyID) || '/' || (SELECT max(EventID) FROM ForumEvent) "
                         "FROM Company"),
              kind == Kind::kOld ? "4/3" : "4/1");
    EXPECT_EQ(QueryValue(server.securityDatabase(), "SELECT max(UserID) FROM Users"), "6");
  }
  // Databases of the same names are refused before anything is made.
  const Installation first =
      Installation::LayOut(dir_.path() / "first", Kind::kFresh, "Guild", Engine::kPostgres);
  mkinstall::LayoutSettings again;
  again.engine = Engine::kPostgres;
  again.prefix = first.mainDatabase().name().substr(0, first.mainDatabase().name().size() - 7);
  EXPECT_THROW(mkinstall::LayOutInstallation(dir_.path() / "again", again), mkinstall::LayoutError);
  EXPECT_FALSE(fs::exists(dir_.path() / "again"));
  EXPECT_EQ(QueryValue(first.mainDatabase(), "SELECT count(*) FROM Company"), "3");
}

// The registry file escapes quotes and backslashes as the setup reads them.
TEST_F(SchemaLayoutTest, RegistryAndDataSourceFilesNameTheInstallation) {
  const std::string dir = dir_.str() + "/a \"b\"";
  const Installation inst = Installation::LayOut(dir, Kind::kFresh, "Art's \"Guild\" \\ Co");
  const std::string registry = ReadFile(inst.registryFile()), odbcIni = ReadFile(inst.odbcIni());
  for (const std::string& line :
       {"\"StorageDir\"=\"" + dir_.str() + "/a \\\"b\\\"\"\n",
        std::string("\"CompanyName\"=\"Art's \\\"Guild\\\" \\\\ Co\"\n"),
        std::string("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion]\n")})
    EXPECT_NE(registry.find(line), std::string::npos) << line << registry;
  EXPECT_NE(odbcIni.find("[qv_security]\nDriver   = SQLite3\nDatabase = " + dir +
                         "/db/qv_security.mdb\nUID      = admin\nPWD      = quillmark\n"),
            std::string::npos)
      << odbcIni;
}

TEST_F(SchemaLayoutTest, ExistingOrUnreadableInstallationsAreRefusedAndNothingIsMade) {
  Exec(fresh_.mainDb(), "UPDATE Company SET CompanyName = 'kept' WHERE CompanyID = 1");
  const std::string registry = ReadFile(fresh_.registryFile());
  EXPECT_THROW(Installation::LayOut(fresh_.storageDir(), Kind::kOld, "Other"),
               mkinstall::LayoutError);
  EXPECT_EQ(QueryValue(fresh_.mainDb(), "SELECT CompanyName FROM Company WHERE CompanyID = 1"),
            "kept");
  EXPECT_EQ(ReadFile(fresh_.registryFile()), registry);
  const fs::path partial = dir_.path() / "partial";  // one file is enough to refuse
  fs::create_directories(partial / "db");
  std::ofstream(partial / "db" / "qv_security.mdb") << "";
  EXPECT_THROW(Installation::LayOut(partial), mkinstall::LayoutError);
  EXPECT_FALSE(fs::exists(partial / "registry.reg") || fs::exists(partial / "db" / "qv_main.mdb"));

  const fs::path target = dir_.path() / "new";
  mkinstall::LayoutSettings settings;
  for (const std::string& name : {std::string(250, 'x'), std::string("two\nlines")}) {
    settings.companyName = name;  // the setup reads 249 bytes of one line
    EXPECT_THROW(mkinstall::LayOutInstallation(target, settings), mkinstall::LayoutError);
  }
  for (const std::string& name : {std::string(240, 'd'), std::string("semi;colon")})
    EXPECT_THROW(mkinstall::LayOutInstallation(dir_.path() / name, {}), mkinstall::LayoutError);
  EXPECT_FALSE(fs::exists(target));
  settings.companyName = std::string(249, 'x');
  EXPECT_NO_THROW(mkinstall::LayOutInstallation(target, settings));
}

TEST(MkinstallCommandTest, PrintsTheEnvironmentForEvalOrTheUsage) {
  ScopedTempDir dir;
  std::ostringstream out, err;
  auto run = [&](const std::vector<std::string>& args) {
    out.str("");
    err.str("");
    return mkinstall::RunMkinstall(args, out, err);
  };
  const std::string inst = dir.str() + "/my inst";
  ASSERT_EQ(run({"--old", "--company", "Guild & Sons", "--", inst}), 0) << err.str();
  EXPECT_EQ(out.str(),
            "QV_REGISTRY_FILE='" + inst + "/registry.reg'\nODBCINI='" + inst + "/odbc.ini'\n");
  EXPECT_EQ(err.str(), "");
  EXPECT_NE(ReadFile(inst + "/registry.reg").find("\"CompanyName\"=\"Guild & Sons\"\n"),
            std::string::npos);
  EXPECT_EQ(ColumnTypes(inst + "/db/qv_main.mdb", "ScheduleEvent").count("public"), 1u);
  EXPECT_EQ(run({inst}), 1);
  EXPECT_NE(err.str().find("exists already"), std::string::npos) << err.str();
  for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                               {"--company"},
                                               {"--bogus", inst + "2"},
                                               {inst + "2", inst + "3"},
                                               {""},
                                               {"--old"},
                                               {"--engine", "oracle", inst + "2"},
                                               {"--prefix", "p_", inst + "2"},
                                               {"--engine=postgresql", "--port"}}) {
    EXPECT_EQ(run(args), 2);
    EXPECT_NE(err.str().find("usage: qv-mkinstall"), std::string::npos);
    EXPECT_EQ(out.str(), "");
  }
  EXPECT_EQ(run({"--engine=postgresql", "--prefix", "Upper-Case", inst + "2"}), 1);
  EXPECT_NE(err.str().find("prefix Upper-Case may hold only"), std::string::npos) << err.str();
  EXPECT_FALSE(fs::exists(inst + "2"));
  EXPECT_EQ(run({"--help"}), 0);
  EXPECT_NE(out.str().find("usage: qv-mkinstall"), std::string::npos);
  EXPECT_EQ(mkinstall::ShellWord("/srv/quorvia-1.0/db"), "/srv/quorvia-1.0/db");
  EXPECT_EQ(mkinstall::ShellWord("/tmp/it's"), "'/tmp/it'\\''s'");
}

// The server's scripts are translated from the embedded engine's: types in
// column definitions only, never inside literals, quoted names or comments.
TEST(ServerSchemaTranslationTest, WritesColumnTypesAndNamesInTheServersDialect) {
  const std::pair<const char*, const char*> cases[] = {
      {"CREATE TABLE T (ID INTEGER PRIMARY KEY AUTOINCREMENT, N TEXT(50) NULL, B BIT DEFAULT 0,\n"
       "  D DATETIME, L LONG, M LONGTEXT, S SMALLINT, X TEXT);",
       "CREATE TABLE T (ID integer GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, N varchar(50) "
       "NULL, B yesno DEFAULT 0,\n  D timestamp(0), L integer, M text, S smallint, X text);"},
      {"create table t (k integer primary key, -- BIT [b] stays\n \"Long\" long, PRIMARY KEY (k));",
       "create table t (k integer primary key, -- BIT [b] stays\n \"Long\" integer, PRIMARY KEY "
       "(k));"},
      {"INSERT INTO T (N) VALUES ('TEXT(5) BIT [x] it''s'), ('備品');",
       "INSERT INTO T (N) VALUES ('TEXT(5) BIT [x] it''s'), ('備品');"},
      {"CREATE VIEW V AS SELECT Bit, Text, [Int3] FROM [DocEvent] AS Tmp WHERE Long = 1;",
       "CREATE VIEW V AS SELECT Bit, Text, Int3 FROM DocEvent AS Tmp WHERE Long = 1;"},
      {"CREATE INDEX DocEvent_PublicID ON DocEvent(Public);",
       "CREATE INDEX DocEvent_PublicID ON DocEvent(Public);"}};
  for (const auto& [sqlite, server] : cases)
    EXPECT_EQ(mkinstall::TranslateStatements(sqlite), server);
  for (const char* untranslatable :
       {"CREATE TABLE T (X BLOB);", "CREATE TABLE T (X INTEGER AUTOINCREMENT);",
        "INSERT INTO T VALUES ('open);", "SELECT [open FROM T;"})
    EXPECT_THROW(mkinstall::TranslateStatements(untranslatable), mkinstall::SchemaTranslationError)
        << untranslatable;
}

}  // namespace
}  // namespace qv::testing

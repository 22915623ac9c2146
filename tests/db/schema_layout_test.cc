// The installations that the setup runs against, as qv-mkinstall lays them
// out: the schemas on both engines, the files that name them, the command.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "mkinstall/command.h"
#include "mkinstall/server_schema.h"
#include "support/installation.h"
#include "support/scoped_temp_dir.h"

namespace qv::testing {
namespace {

namespace fs = std::filesystem;
using Kind = Installation::Kind;
using Rows = std::vector<std::vector<std::string>>;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every table and view of a database, engine-neutral: lower-case names, its
// columns with the server's type names ("name type"; a view's by name) and
// its rows, sorted, as text.
std::map<std::string, std::pair<std::vector<std::string>, Rows>> ContentOf(const DatabaseRef& db) {
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
  const Rows columns =  // table, column, type, 1 for a view
      Query(db, server ? "SELECT c.table_name, c.column_name, coalesce(c.domain_name, c.data_type "
                         "|| coalesce('(' || c.character_maximum_length || ')', '')), "
                         "(t.table_type = 'VIEW')::int FROM information_schema.columns c JOIN "
                         "information_schema.tables t USING (table_schema, table_name) WHERE "
                         "c.table_schema = current_schema() ORDER BY 1, c.ordinal_position"
                       : "SELECT lower(m.name), lower(c.name), c.type, m.type = 'view' FROM "
                         "sqlite_master m, pragma_table_info(m.name) c WHERE m.type IN ('table', "
                         "'view') AND m.name NOT LIKE 'sqlite_%' ORDER BY 1, c.cid");
  std::map<std::string, std::pair<std::vector<std::string>, Rows>> content;
  for (const auto& row : columns) {
    // The embedded engine numbers a view's repeated names: visible, visible:1.
    content[row[0]].first.push_back(row[3] == "1" ? row[1].substr(0, row[1].find(':'))
                                    : server      ? row[1] + " " + row[2]
                                                  : row[1] + " " + kServerType.at(row[2]));
  }
  for (auto& [table, value] : content) {
    value.second = Query(db, "SELECT * FROM " + table);
    std::sort(value.second.begin(), value.second.end());
  }
  return content;
}

class SchemaLayoutTest : public ::testing::Test {
 protected:
  ScopedTempDir dir_;
  const Installation fresh_ = Installation::LayOut(dir_.path() / "fresh");
  const Installation old_ = Installation::LayOut(dir_.path() / "old", Kind::kOld);
};

// Upgrading must end in the fresh schema: the two differ only in the
// columns that the migration replaces (Public, Confirm) or adds.
TEST_F(SchemaLayoutTest, OldSchemaDiffersFromFreshOnlyInTheMigratedColumns) {
  for (const auto& [oldDb, freshDb] :
       {std::pair(old_.mainDatabase(), fresh_.mainDatabase()),
        std::pair(old_.securityDatabase(), fresh_.securityDatabase())}) {
    auto old = ContentOf(oldDb);
    for (auto [table, value] : ContentOf(freshDb)) {
      if (value.first[0].find(' ') == std::string::npos) continue;  // a view
      std::vector<std::string>& migrated = old.at(table).first;
      for (std::string& column : migrated) {
        if (column == "public integer") column = "shared integer";
        if (column == "confirm yesno") column = "confirmation yesno";
      }
      if (table == "users")
        migrated.insert(migrated.end(),
                        {"dateformat character varying(50)", "timeformat character varying(50)"});
      std::sort(migrated.begin(), migrated.end());
      std::sort(value.first.begin(), value.first.end());
      EXPECT_EQ(migrated, value.first) << table;
    }
  }
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
    EXPECT_NE(ReadFile(server.odbcIni())
                  .find("[qv_security]\nDriver     = PostgreSQL Unicode\nServername = " +
                        server.securityDatabase().server().host +
                        "\nPort       = " + server.securityDatabase().server().port +
                        "\nDatabase   = " + server.securityDatabase().name() + "\n"),
              std::string::npos)
        << ReadFile(server.odbcIni());
    EXPECT_EQ(ContentOf(server.mainDatabase()), ContentOf(files.mainDatabase()));
    EXPECT_EQ(ContentOf(server.securityDatabase()), ContentOf(files.securityDatabase()));
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
}

// The registry file escapes quotes and backslashes as the setup reads them;
// what exists already, or what the setup could not read, is refused.
TEST_F(SchemaLayoutTest, FilesNameTheInstallationAndNothingIsMadeWhenRefused) {
  const std::string dir = dir_.str() + "/a \"b\"";
  const Installation inst = Installation::LayOut(dir, Kind::kFresh, "Art's \"Guild\" \\ Co");
  const std::string registry = ReadFile(inst.registryFile());
  for (const std::string& line :
       {"\"StorageDir\"=\"" + dir_.str() + "/a \\\"b\\\"\"\n",
        std::string("\"CompanyName\"=\"Art's \\\"Guild\\\" \\\\ Co\"\n"),
        std::string("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion]\n")})
    EXPECT_NE(registry.find(line), std::string::npos) << line << registry;
  EXPECT_NE(ReadFile(inst.odbcIni())
                .find("[qv_security]\nDriver   = SQLite3\nDatabase = " + dir +
                      "/db/qv_security.mdb\nUID      = admin\nPWD      = quillmark\n"),
            std::string::npos);

  Exec(fresh_.mainDb(), "UPDATE Company SET CompanyName = 'kept' WHERE CompanyID = 1");
  EXPECT_THROW(Installation::LayOut(fresh_.storageDir(), Kind::kOld), mkinstall::LayoutError);
  EXPECT_EQ(QueryValue(fresh_.mainDb(), "SELECT CompanyName FROM Company WHERE CompanyID = 1"),
            "kept");
  const fs::path partial = dir_.path() / "partial";  // one file is enough to refuse
  fs::create_directories(partial / "db");
  std::ofstream(partial / "db" / "qv_security.mdb") << "";
  EXPECT_THROW(Installation::LayOut(partial), mkinstall::LayoutError);
  EXPECT_FALSE(fs::exists(partial / "registry.reg") || fs::exists(partial / "db" / "qv_main.mdb"));
  mkinstall::LayoutSettings settings;
  for (const std::string& name : {std::string(250, 'x'), std::string("two\nlines")}) {
    settings.companyName = name;  // the setup reads 249 bytes of one line
    EXPECT_THROW(mkinstall::LayOutInstallation(dir_.path() / "new", settings),
                 mkinstall::LayoutError);
  }
  for (const std::string& name : {std::string(240, 'd'), std::string("semi;colon")})
    EXPECT_THROW(mkinstall::LayOutInstallation(dir_.path() / name, {}), mkinstall::LayoutError);
  EXPECT_FALSE(fs::exists(dir_.path() / "new"));
}

TEST(MkinstallCommandTest, PrintsTheEnvironmentForEvalOrTheUsage) {
  ScopedTempDir dir;
  std::ostringstream out, err;
  const std::string inst = dir.str() + "/my inst";
  // Arguments, exit status, and a part of standard output or error.
  const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
      {{"--old", "--company", "Guild & Sons", "--", inst},
       0,
       "QV_REGISTRY_FILE='" + inst + "/registry.reg'\nODBCINI='" + inst + "/odbc.ini'\n"},
      {{inst}, 1, "exists already"},
      {{"--engine=postgresql", "--prefix", "Upper-Case", inst + "2"},
       1,
       "prefix Upper-Case may hold only"},
      {{"--help"}, 0, "usage: qv-mkinstall"},
      {{}, 2, "usage: qv-mkinstall"},
      {{"--company"}, 2, "usage: qv-mkinstall"},
      {{"--bogus", inst + "2"}, 2, "usage: qv-mkinstall"},
      {{inst + "2", inst + "3"}, 2, "usage: qv-mkinstall"},
      {{""}, 2, "usage: qv-mkinstall"},
      {{"--engine", "oracle", inst + "2"}, 2, "usage: qv-mkinstall"},
      {{"--prefix", "p_", inst + "2"}, 2, "usage: qv-mkinstall"},
      {{"--engine=postgresql", "--port"}, 2, "usage: qv-mkinstall"},
  };
  for (const auto& [args, status, text] : cases) {
    out.str("");
    err.str("");
    EXPECT_EQ(mkinstall::RunMkinstall(args, out, err), status) << err.str();
    EXPECT_NE((status == 0 ? out : err).str().find(text), std::string::npos)
        << out.str() << err.str();
    EXPECT_EQ((status == 0 ? err : out).str(), "");
  }
  EXPECT_NE(ReadFile(inst + "/registry.reg").find("\"CompanyName\"=\"Guild & Sons\"\n"),
            std::string::npos);
  const auto columns = ColumnsOf(inst + "/db/qv_main.mdb", "ScheduleEvent");
  EXPECT_NE(std::find(columns.begin(), columns.end(), "Public"), columns.end());  // --old
  EXPECT_FALSE(fs::exists(inst + "2"));
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
       "CREATE VIEW V AS SELECT Bit, Text, Int3 FROM DocEvent AS Tmp WHERE Long = 1;"}};
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

// The installations that the setup runs against, as qv-mkinstall lays them
// out: the schemas on both engines, the files that name them, the command.
#include <gtest/gtest.h>

#include <algorithm>
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

// The server's schemas are translated from the embedded engine's: the same
// tables, columns, rows and views, with the server's types, and counters
// that continue after the rows' keys.
TEST(SchemaLayoutTest, ServerInstallationsHoldWhatFileInstallationsHold) {
  QV_SKIP_UNTESTED_ENGINE(Engine::kPostgres);
  ScopedTempDir dir;
  for (const Kind kind : {Kind::kFresh, Kind::kOld}) {
    const std::string name = kind == Kind::kOld ? "old" : "fresh";
    const Installation files = Installation::LayOut(dir.path() / name, kind);
    const Installation server =
        Installation::LayOut(dir.path() / (name + "-pg"), kind, "Guild", Engine::kPostgres);
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

TEST(MkinstallCommandTest, PrintsTheEnvironmentForEvalOrTheUsage) {
  ScopedTempDir dir;
  const std::string inst = dir.str() + "/my inst", other = dir.str() + "/other";
  std::ostringstream out, err;
  EXPECT_EQ(mkinstall::RunMkinstall({"--old", "--company", "G & S", "--", inst}, out, err), 0);
  EXPECT_EQ(out.str() + err.str(),
            "QV_REGISTRY_FILE='" + inst + "/registry.reg'\nODBCINI='" + inst + "/odbc.ini'\n");
  const auto columns = ColumnsOf(inst + "/db/qv_main.mdb", "ScheduleEvent");
  EXPECT_NE(std::find(columns.begin(), columns.end(), "Public"), columns.end());  // --old
  // Exit status 1 for what cannot be made (nothing is), 2 with the usage for
  // what cannot be read.
  const std::pair<std::vector<std::string>, int> cases[] = {
      {{"--company", "Other", inst}, 1},
      {{"--engine=postgresql", "--prefix", "Upper-Case", other}, 1},
      {{"--company", std::string(250, 'x'), other}, 1},  // the setup reads 249 bytes
      {{"--company", "two\nlines", other}, 1},
      {{dir.str() + "/semi;colon"}, 1},
      {{"--help"}, 0},
      {{}, 2},
      {{"--company"}, 2},
      {{"--bogus", other}, 2},
      {{other, inst}, 2},
      {{"--engine", "oracle", other}, 2},
      {{"--prefix", "p_", other}, 2},
      {{"--engine=postgresql", "--port"}, 2}};
  for (const auto& [args, status] : cases) {
    out.str("");
    err.str("");
    EXPECT_EQ(mkinstall::RunMkinstall(args, out, err), status) << err.str();
    EXPECT_EQ((out.str() + err.str()).find("usage: qv-mkinstall") != std::string::npos, status != 1)
        << err.str();
  }
  EXPECT_FALSE(fs::exists(other) || fs::exists(dir.path() / "semi;colon"));
  EXPECT_EQ(QueryValue(inst + "/db/qv_main.mdb", "SELECT count(*) FROM ScheduleEvent"), "3");
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

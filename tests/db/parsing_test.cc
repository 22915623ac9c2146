// What the database layer parses (the SQL dialect, data-source files, connection strings, values
// for a declared type), and qv-mkinstall's command line and schema translation.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "db/conversion.h"
#include "db/dialect.h"
#include "db/odbc_ini.h"
#include "db/postgres/pg_dialect.h"
#include "db_test_util.h"
#include "mkinstall/command.h"
#include "mkinstall/server_schema.h"
#include "support/installation.h"
#include "support/scoped_temp_dir.h"

namespace qv::db {
namespace {

// Views and indexes given by hand: the translator is a pure function of them.
class FakeSchema : public SchemaLookup {
 public:
  bool IsView(const std::string& name) const override {
    return EqualsNoCase(name, "ScheduleOwnership");
  }
  std::vector<std::string> IndexesOf(const std::string& table) const override {
    if (EqualsNoCase(table, "Contact")) return {"PublicID", "Contact_Confirm"};
    if (EqualsNoCase(table, "Resource")) return {"Resource_PublicID"};
    return {};
  }
};

std::string Translate(const std::string& sql, bool server = false) {
  return server ? TranslateDialect(sql, FakeSchema(), postgres::ServerDialect()).sql
                : TranslateDialect(sql, FakeSchema()).sql;
}

TEST(DialectTest, TranslatesTokensAndLeavesLiteralsAndQuotedNamesAlone) {
  // The server's own rules come on top: names as it stores them, its types.
  const std::tuple<bool, const char*, const char*> cases[] = {
      {false, "SELECT * FROM T WHERE ((T.visible)=Yes) AND (T.Completed=no)",
       "SELECT * FROM T WHERE ((T.visible)=1) AND (T.Completed=0)"},
      {false, "SELECT 'Yes', \"No\", [Yes], `no`, T.Yes, No.x, a AS No /* Yes */ FROM T -- No",
       "SELECT 'Yes', \"No\", [Yes], `no`, T.Yes, No.x, a AS No /* Yes */ FROM T -- No"},
      {false, "SELECT 'it''s Yes', Yesterday, YES", "SELECT 'it''s Yes', Yesterday, 1"},
      {false, "SELECT DISTINCTROW D.Int3 From D", "SELECT DISTINCT D.Int3 From D"},
      {false, "DROP TABLE ScheduleOwnerShip", "DROP VIEW ScheduleOwnerShip"},
      {false, "DROP TABLE IF EXISTS scheduleownership", "DROP VIEW IF EXISTS scheduleownership"},
      {false, "DROP TABLE Contact", "DROP TABLE Contact"},
      // DROP INDEX N ON T: T's index named N, else named T_N.
      {false, "DROP INDEX publicid ON [contact]", "DROP INDEX \"PublicID\""},
      {false, "DROP INDEX PublicID ON RESOURCE", "DROP INDEX \"Resource_PublicID\""},
      {false, "DROP INDEX PublicID", "DROP INDEX PublicID"},  // the engine's own form
      {true, "SELECT [Event].[EventID], `Long Name`, \"Kept\" FROM [Event] WHERE [Yes] = Yes",
       "SELECT \"event\".\"eventid\", \"long name\", \"Kept\" FROM \"event\" WHERE \"yes\" = 1"},
      {true,
       "CREATE TABLE T (A LONG, B BIT, C TEXT, D MEMO, E DATETIME, F COUNTER, Text SHORT, "
       "G boolean)",
       "CREATE TABLE T (A integer, B yesno, C text, D text, E timestamp(0), F integer GENERATED "
       "BY DEFAULT AS IDENTITY, Text smallint, G yesno)"},
      {true, "SELECT Long, Text, Bit FROM T", "SELECT Long, Text, Bit FROM T"},
  };
  for (const auto& [server, in, out] : cases) EXPECT_EQ(Translate(in, server), out) << in;
  EXPECT_DB_ERROR(Translate("DROP INDEX X ON Resource", true), -2147217900, "no such index");
  EXPECT_DB_ERROR(Translate("DROP INDEX PublicID ON ToDoEvent"), 1, "ToDoEvent_PublicID");
  // Another table's index of that name is not taken.
  EXPECT_DB_ERROR(Translate("DROP INDEX Confirm ON Resource"), 1, "no such index");
}

// What unixODBC's own odbcinst shows of each data source is what the lookup
// reads; the driver's name, else its library, picks the engine.
TEST(OdbcIniTest, ReadsDataSourcesAndDriversAsUnixOdbcDoes) {
  // Name, its section in the user and in the system file, engine: Server, Embedded or none.
  const std::tuple<std::string, std::string, std::string, char> cases[] = {
      {"qv_main", ";c\n[qv_main]\nDriver = Pg\n #c\nPWD =  x ;y #z 'q\t \nDatabase=a=b\n", "", 'S'},
      {"Sys", "", "[sys]\nDriver = SQLite3\nDatabase = /s ; not a comment\n", 'E'},
      {"both", "[both]\nDriver=/usr/lib/odbc/psqlodbcw.so\nDatabase=u\n", "[both]\nUID=u\n", 'S'},
      {"other", "[other]\nDriver = /usr/lib/libmyodbc.so\nDatabase = o\n", "", '-'},
      {"none", "", "", '-'}};
  qv::testing::ScopedTempDir user, sys;
  std::ofstream(sys.str() + "/odbcinst.ini") << "[Pg]\nDriver = /usr/lib/psqlodbcw.so\n";
  ::setenv("ODBCINI", (user.str() + "/odbc.ini").c_str(), 1);
  ::setenv("ODBCSYSINI", sys.str().c_str(), 1);
  const OdbcFiles files = LocateOdbcFiles(std::getenv("ODBCINI"), nullptr, sys.str().c_str());
  for (const auto& [name, inUser, inSystem, engine] : cases) {
    std::ofstream(user.str() + "/odbc.ini", std::ios::app) << inUser;
    std::ofstream(sys.str() + "/odbc.ini", std::ios::app) << inSystem;
    std::string ours = "[" + name + "]\n";
    char chosen = '-';
    try {
      const FoundDataSource found = LookUpDataSource(files, name);
      for (const auto& [key, value] : found.section.entries) ours += key + "=" + value + "\n";
      chosen = EngineOfDataSource(files, found) == EngineKind::kServer ? 'S' : 'E';
    } catch (const DbError& e) {  // odbcinst's "not found" is this line on stdout
      if (std::strstr(e.what(), "not found"))
        ours = "odbcinst: SQLGetPrivateProfileString failed with .\n";
    }
    ASSERT_NE(std::system(("odbcinst -q -s -n " + name + " >" + user.str() + "/out").c_str()), -1);
    EXPECT_EQ(ours + chosen, qv::testing::ReadBytes(user.path() / "out") + engine);
  }
  ::unsetenv("ODBCINI");
  ::unsetenv("ODBCSYSINI");

  ConnectionString shortKeys = ParseConnectionString(" dsn = qv_security ; uid=u;PWD=;Extra=1");
  EXPECT_EQ(shortKeys.dataSource + *shortKeys.userId + "|" + *shortKeys.password, "qv_securityu|");
  EXPECT_FALSE(ParseConnectionString("qv_main").userId.has_value());
  EXPECT_DB_ERROR(ParseConnectionString(""), kErrUnspecified, "No data source");
  EXPECT_DB_ERROR(ParseConnectionString("Provider=MSDASQL;User ID=admin"), kErrUnspecified, "");
}

// Assignment by the column's declared type: one type for each rule of the
// kinds, and the bounds and words of each kind.
TEST(ConversionTest, AssignmentConvertsByDeclaredTypeOrFails) {
  // Value, declared type, value stored or, for 0, the error raised.
  const std::tuple<Value, const char*, Value, int32_t> cases[] = {
      {" -7 ", "LONG", -7, 0},
      {2.5, "INTEGER", 2, 0},  // half to even
      {32768, "short", {}, kErrOverflow},
      {"2147483648", "INT", {}, kErrOverflow},
      {256, "BYTE", {}, kErrOverflow},
      {"12abc", "BIGINT", {}, kErrTypeMismatch},
      {DateTime{}, "COUNTER", {}, kErrTypeMismatch},
      {DateTime{2024, 2, 29, 8, 0, 0}, "DATETIME", "2024-02-29 08:00:00", 0},
      {"2023/2/29", "date", {}, kErrTypeMismatch},
      {DateTime{2023, 13, 1}, "TIMESTAMP", {}, kErrTypeMismatch},
      {Value(), "DATETIME", Value(), 0},
      {0.0, "BIT", 0, 0},
      {"True", "YesNo", 1, 0},
      {"maybe", "BOOLEAN", {}, kErrTypeMismatch},
      {DateTime{2001, 1, 2}, "VARCHAR (255)", "2001-01-02 00:00:00", 0},
      {7, "MEMO", "7", 0},
      {"5", "CURRENCY", 5, 0},
      {"2.5", "DOUBLE", 2.5, 0},
      {"z", "GEOMETRY", "z", 0},
      {"z", "", "z", 0},
  };
  for (const auto& [in, type, out, error] : cases) {
    SCOPED_TRACE(std::string(type) + " " + (in.IsNull() ? "null" : in.AsText()));
    if (error != 0) {
      EXPECT_DB_ERROR(ConvertForColumn(in, KindOfDeclaredType(type)), error,
                      error == kErrOverflow ? "Overflow" : "Type mismatch");
    } else {
      EXPECT_EQ(ConvertForColumn(in, KindOfDeclaredType(type)), out);
    }
  }
  EXPECT_EQ(ReadStored(Value("garbage"), ColumnKind::kDate), Value("garbage"));
}

TEST(MkinstallCommandTest, PrintsTheEnvironmentForEvalOrTheUsage) {
  qv::testing::ScopedTempDir dir;
  const std::string inst = dir.str() + "/my inst", other = dir.str() + "/other";
  std::ostringstream out, err;
  const mode_t umask = ::umask(022);  // the usual one, which lets others read
  EXPECT_EQ(mkinstall::RunMkinstall({"--old", "--company", "G & S", "--", inst}, out, err), 0);
  ::umask(umask);
  struct stat st {};
  for (const char* made : {"", "/db", "/odbc.ini", "/db/qv_main.mdb", "/db/qv_security.mdb"})
    EXPECT_EQ(::stat((inst + made).c_str(), &st) == 0 ? st.st_mode & 07 : 07, 0u) << made;
  EXPECT_EQ(out.str() + err.str(),
            "QV_REGISTRY_FILE='" + inst + "/registry.reg'\nODBCINI='" + inst + "/odbc.ini'\n");
  const auto columns = qv::testing::ColumnsOf(inst + "/db/qv_main.mdb", "ScheduleEvent");
  EXPECT_NE(std::find(columns.begin(), columns.end(), "Public"), columns.end());  // --old
  // Exit status 1 for what cannot be made (nothing is), 2 with the usage for what cannot be read.
  const std::pair<std::vector<std::string>, int> cases[] = {
      {{"--company", "Other", inst}, 1},
      {{"--engine=postgresql", "--prefix", "Upper-Case", other}, 1},
      {{"--company", std::string(250, 'x'), other}, 1},  // the setup reads 249 bytes
      {{"--company", "two\nlines", other}, 1},
      {{dir.str() + "/semi;colon"}, 1},
      {{"--help"}, 0},
      {{}, 2},
      {{"--bogus", other}, 2},
      {{"--engine", "oracle", other}, 2},
      {{"--prefix", "p_", other}, 2}};
  for (const auto& [args, status] : cases) {
    out.str("");
    err.str("");
    EXPECT_EQ(mkinstall::RunMkinstall(args, out, err), status) << err.str();
    EXPECT_EQ((out.str() + err.str()).find("usage: qv-mkinstall") != std::string::npos, status != 1)
        << err.str();
  }
  EXPECT_FALSE(std::filesystem::exists(other) ||
               std::filesystem::exists(dir.path() / "semi;colon"));
  EXPECT_EQ(qv::testing::QueryValue(inst + "/db/qv_main.mdb", "SELECT count(*) FROM ScheduleEvent"),
            "3");
  EXPECT_EQ(mkinstall::ShellWord("/tmp/it's"), "'/tmp/it'\\''s'");
}

// The server's scripts are translated from the embedded engine's: types in
// column definitions only, never inside literals, quoted names or comments.
TEST(ServerSchemaTranslationTest, WritesColumnTypesAndNamesInTheServersDialect) {
  const std::pair<const char*, const char*> cases[] = {
      {"create table t (k integer primary key, -- BIT [b] stays\n \"Long\" byte, PRIMARY KEY (k));",
       "create table t (k integer primary key, -- BIT [b] stays\n \"Long\" smallint, PRIMARY KEY "
       "(k));"},
      {"INSERT INTO T (N) VALUES ('TEXT(5) BIT [x] it''s'), ('備品');",
       "INSERT INTO T (N) VALUES ('TEXT(5) BIT [x] it''s'), ('備品');"}};
  for (const auto& [in, out] : cases) EXPECT_EQ(mkinstall::TranslateStatements(in), out) << in;
  for (const char* untranslatable :
       {"CREATE TABLE T (X BLOB);", "CREATE TABLE T (X INTEGER AUTOINCREMENT);",
        "INSERT INTO T VALUES ('open);", "SELECT [open FROM T;"})
    EXPECT_THROW(mkinstall::TranslateStatements(untranslatable), mkinstall::SchemaTranslationError)
        << untranslatable;
}

}  // namespace
}  // namespace qv::db

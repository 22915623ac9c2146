// Installations as qv-mkinstall lays them out, and its command.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "mkinstall/command.h"
#include "mkinstall/server_schema.h"
#include "support/installation.h"
#include "support/scoped_temp_dir.h"

namespace qv::testing {
namespace {

namespace fs = std::filesystem;

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
      {"create table t (k integer primary key, -- BIT [b] stays\n \"Long\" long, PRIMARY KEY (k));",
       "create table t (k integer primary key, -- BIT [b] stays\n \"Long\" integer, PRIMARY KEY "
       "(k));"},
      {"INSERT INTO T (N) VALUES ('TEXT(5) BIT [x] it''s'), ('備品');",
       "INSERT INTO T (N) VALUES ('TEXT(5) BIT [x] it''s'), ('備品');"}};
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

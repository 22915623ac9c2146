#include "db/data_source.h"

#include <gtest/gtest.h>

#include <fstream>

#include "db_test_util.h"
#include "support/scoped_temp_dir.h"

namespace qv::db {
namespace {

using qv::db::testing::ExpectDbError;

TEST(OdbcIniTest, ReadsSectionsKeysAndValuesWithoutCommentsOrBlanks) {
  std::vector<OdbcSection> sections = ParseOdbcIni(
      "; header comment\r\n"
      "stray = before any section\n"
      "[ODBC Data Sources]\n"
      "qv_main = SQLite3\n"
      "  [ qv_main ]  \n"
      "Driver   = SQLite3\n"
      "Database = /var/lib/quorvia/db/qv_main.mdb\n"
      "# a comment line\n"
      "UID      = admin        ; optional\n"
      "PWD=quill;mark\t# trailing\n"
      "not a pair\n"
      "driver = second value loses\n");
  ASSERT_EQ(sections.size(), 2u);
  const OdbcSection* main = FindDataSource(sections, "QV_MAIN");
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(main->Get("DRIVER"), "SQLite3");
  EXPECT_EQ(main->Get("database"), "/var/lib/quorvia/db/qv_main.mdb");
  EXPECT_EQ(main->Get("uid"), "admin");
  EXPECT_EQ(main->Get("Pwd"), "quill;mark");  // a ';' inside a value is not a comment
  EXPECT_FALSE(main->Get("stray").has_value());
  EXPECT_EQ(FindDataSource(sections, "qv_security"), nullptr);
}

TEST(OdbcIniTest, LocatesTheFileByEnvironmentThenHomeThenSystem) {
  qv::testing::ScopedTempDir dir;
  std::string home = dir.str();
  std::string named = home + "/named.ini";
  std::string system = home + "/system.ini";
  std::ofstream(system) << "[x]\n";
  std::ofstream(named) << "[x]\n";
  EXPECT_EQ(LocateOdbcIni(named.c_str(), home.c_str(), system), named);
  EXPECT_EQ(LocateOdbcIni(nullptr, home.c_str(), system), system);  // no ~/.odbc.ini yet
  EXPECT_EQ(LocateOdbcIni("", home.c_str(), system), system);       // empty counts as unset
  std::ofstream(home + "/.odbc.ini") << "[x]\n";
  EXPECT_EQ(LocateOdbcIni(nullptr, home.c_str(), system), home + "/.odbc.ini");
  ExpectDbError([&] { LocateOdbcIni((home + "/gone.ini").c_str(), home.c_str(), system); },
                kErrDataSource, home + "/gone.ini");
  ExpectDbError([&] { LocateOdbcIni(nullptr, nullptr, home + "/none.ini"); }, kErrDataSource,
                home + "/none.ini");
}

TEST(ConnectionStringTest, BareNameOrKeyValuePairs) {
  ConnectionString bare = ParseConnectionString("qv_main");
  EXPECT_EQ(bare.dataSource, "qv_main");
  EXPECT_FALSE(bare.userId.has_value());

  ConnectionString full = ParseConnectionString(
      "Provider=MSDASQL;Data Source=qv_main;User ID=admin;Password=quillmark;");
  EXPECT_EQ(full.provider, "MSDASQL");
  EXPECT_EQ(full.dataSource, "qv_main");
  EXPECT_EQ(full.userId, "admin");
  EXPECT_EQ(full.password, "quillmark");

  ConnectionString shortKeys = ParseConnectionString(" dsn = qv_security ; uid=u;PWD=;Extra=1");
  EXPECT_EQ(shortKeys.dataSource, "qv_security");
  EXPECT_EQ(shortKeys.userId, "u");
  EXPECT_EQ(shortKeys.password, "");

  ExpectDbError([] { ParseConnectionString(""); }, kErrDataSource, "No data source");
  ExpectDbError([] { ParseConnectionString("Provider=MSDASQL;User ID=admin"); }, kErrDataSource);
}

}  // namespace
}  // namespace qv::db

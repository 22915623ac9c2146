#include "db/data_source.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "db_test_util.h"

namespace qv::db {
namespace {

using qv::db::testing::TestDb;

TEST(OdbcIniTest, ReadsSectionsKeysAndValuesWithoutCommentsOrBlanks) {
  std::vector<OdbcSection> sections = ParseOdbcIni(
      "; header comment\r\nstray = before any section\n[ODBC Data Sources]\nqv_main = SQLite3\n"
      "  [ qv_main ]  \nDriver   = SQLite3\n# a comment line\nUID      = admin        ; optional\n"
      "PWD=quill;mark\t# trailing\nnot a pair\ndriver = second value loses\n");
  ASSERT_EQ(sections.size(), 2u);
  const OdbcSection* main = FindDataSource(sections, "QV_MAIN");
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(main->Get("DRIVER"), "SQLite3");
  EXPECT_EQ(main->Get("uid"), "admin");
  EXPECT_EQ(main->Get("Pwd"), "quill;mark");  // a ';' inside a value is not a comment
  EXPECT_FALSE(main->Get("stray").has_value());
  EXPECT_EQ(FindDataSource(sections, "qv_security"), nullptr);

  ConnectionString full = ParseConnectionString(
      "Provider=MSDASQL;Data Source=qv_main;User ID=admin;Password=quillmark;");
  EXPECT_EQ(full.provider + full.dataSource + *full.userId + *full.password,
            "MSDASQLqv_mainadminquillmark");
  ConnectionString shortKeys = ParseConnectionString(" dsn = qv_security ; uid=u;PWD=;Extra=1");
  EXPECT_EQ(shortKeys.dataSource + *shortKeys.userId + "|" + *shortKeys.password, "qv_securityu|");
  EXPECT_FALSE(ParseConnectionString("qv_main").userId.has_value());
  EXPECT_DB_ERROR(ParseConnectionString(""), kErrDataSource, "No data source");
  EXPECT_DB_ERROR(ParseConnectionString("Provider=MSDASQL;User ID=admin"), kErrDataSource, "");
}

TEST(OdbcIniTest, LocatesTheFileByEnvironmentThenHomeThenSystem) {
  qv::testing::ScopedTempDir dir;
  const std::string home = dir.str(), named = home + "/named.ini", system = home + "/system.ini";
  std::ofstream(system) << "[x]\n";
  std::ofstream(named) << "[x]\n";
  EXPECT_EQ(LocateOdbcIni(named.c_str(), home.c_str(), system), named);
  EXPECT_EQ(LocateOdbcIni("", home.c_str(), system), system);  // empty counts as unset
  std::ofstream(home + "/.odbc.ini") << "[x]\n";
  EXPECT_EQ(LocateOdbcIni(nullptr, home.c_str(), system), home + "/.odbc.ini");
  EXPECT_DB_ERROR(LocateOdbcIni((home + "/gone.ini").c_str(), home.c_str(), system), kErrDataSource,
                  home + "/gone.ini");
  EXPECT_DB_ERROR(LocateOdbcIni(nullptr, nullptr, home + "/none.ini"), kErrDataSource,
                  home + "/none.ini");
  // Only regular files count: a FIFO would block the read for ever.
  const std::string fifo = home + "/fifo.ini";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_DB_ERROR(LocateOdbcIni(fifo.c_str(), home.c_str(), system), kErrDataSource,
                  fifo + " named by ODBCINI does not exist or is not a regular file");
  EXPECT_DB_ERROR(LocateOdbcIni(nullptr, nullptr, fifo), kErrDataSource, fifo);
  std::filesystem::remove(home + "/.odbc.ini");
  std::filesystem::create_directory(home + "/.odbc.ini");
  EXPECT_EQ(LocateOdbcIni(nullptr, home.c_str(), system), system);
}

class DataSourceConnectorTest : public ::testing::Test {
 protected:
  void WriteIni(const std::string& text) { std::ofstream(ini_) << text; }
  std::string Section(const std::string& extra = "") {
    return "[qv_main]\nDriver = SQLite3\nDatabase = " + db_.path() + "\n" + extra;
  }
  std::unique_ptr<Connection> Open(const std::string& cs, const std::string& user = "",
                                   const std::string& password = "") {
    return MakeDataSourceConnector(ini_, 0)->Open(cs, user, password);
  }

  TestDb db_{"CREATE TABLE T (ID INTEGER PRIMARY KEY, Name TEXT);"};
  std::string ini_ = db_.dir.str() + "/odbc.ini";
};

TEST_F(DataSourceConnectorTest, OpensTheNamedDatabaseOrFailsNamingDataSourceAndFile) {
  const std::string gone = db_.dir.str() + "/gone.mdb", text = db_.dir.str() + "/text.mdb";
  std::ofstream(text) << "just some text, long enough to be read as a database header.........";
  // The data-source file, the name opened, and the failure's number and text.
  const std::tuple<std::string, std::string, int32_t, std::string> cases[] = {
      {Section(), "qv_security", kErrDataSource,
       "Data source \"qv_security\" not found in " + ini_},
      {"[qv_main]\nDriver = SQLite3\n", "qv_main", kErrDataSource,
       "\"qv_main\" in " + ini_ + " has no Database"},
      {"[qv_main]\nDriver = Microsoft Access Driver (*.mdb)\nDatabase = " + db_.path(), "qv_main",
       kErrDataSource, "not supported"},
      {"[qv_main]\nDriver = sqlite\nDatabase = " + gone, "qv_main", SQLITE_CANTOPEN,
       gone + " of data source \"qv_main\""},
      {"[qv_main]\nDriver = SQLite3\nDatabase = " + text, "qv_main", SQLITE_NOTADB, text},
      {Section("UID = Admin ; comment\nPWD = quillmark\n"), "qv_main", kErrDataSource,
       "\"qv_main\": wrong user name or password"},
  };
  for (const auto& [ini, name, number, message] : cases) {
    WriteIni(ini);
    EXPECT_DB_ERROR(Open(name), number, message);
  }
  EXPECT_FALSE(std::filesystem::exists(gone));  // an open never creates a database
  WriteIni("[other]\nDriver = SQLite3\nDatabase = /nowhere\n" + Section());
  Open("QV_MAIN")->Execute("INSERT INTO T (Name) VALUES ('via data source')");
  EXPECT_EQ(db_.Query("SELECT Name FROM T"), "via data source");
  std::filesystem::remove(ini_);
  EXPECT_DB_ERROR(Open("qv_main"), kErrDataSource, ini_);
  // A FIFO in the file's place is refused at once, not waited on.
  ASSERT_EQ(::mkfifo(ini_.c_str(), 0600), 0);
  EXPECT_DB_ERROR(Open("qv_main"), kErrDataSource,
                  "The data-source file " + ini_ + " cannot be read");
}

TEST_F(DataSourceConnectorTest, CredentialsMustMatchWhenTheDataSourceHasThem) {
  WriteIni(Section("UID = Admin ; comment\nPWD = quillmark\n"));
  EXPECT_NE(Open("qv_main", "ADMIN", "quillmark"), nullptr);  // user name without regard to case
  EXPECT_NE(Open("Provider=MSDASQL;Data Source=qv_main;User ID=admin;Password=quillmark;"),
            nullptr);
  // The open call's own arguments win over the connection string's.
  EXPECT_DB_ERROR(
      Open("Data Source=qv_main;User ID=admin;Password=quillmark", "guest", "quillmark"),
      kErrDataSource, "\"qv_main\": wrong user name or password");
  EXPECT_DB_ERROR(Open("qv_main", "admin", "QUILLMARK"), kErrDataSource, "wrong user");
  WriteIni(Section());
  EXPECT_NE(Open("qv_main", "anyone", "anything"), nullptr);
  // The default connector reads ODBCINI at each open.
  const char* saved = getenv("ODBCINI");
  const std::string restore = saved != nullptr ? saved : "";
  auto connector = MakeDataSourceConnector();
  setenv("ODBCINI", ini_.c_str(), 1);
  EXPECT_NE(connector->Open("qv_main", "", ""), nullptr);
  setenv("ODBCINI", (ini_ + ".missing").c_str(), 1);
  EXPECT_DB_ERROR(connector->Open("qv_main", "", ""), kErrDataSource, ini_ + ".missing");
  saved != nullptr ? setenv("ODBCINI", restore.c_str(), 1) : unsetenv("ODBCINI");
}

}  // namespace
}  // namespace qv::db

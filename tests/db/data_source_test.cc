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

// Only regular files count: a FIFO would block the read for ever.
TEST(OdbcIniTest, LocatesTheFileByEnvironmentThenHomeThenSystem) {
  qv::testing::ScopedTempDir dir;
  const std::string home = dir.str(), system = home + "/system.ini", fifo = home + "/fifo.ini";
  std::ofstream(system) << "[x]\n";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(LocateOdbcIni(system.c_str(), home.c_str(), fifo), system);
  EXPECT_EQ(LocateOdbcIni("", home.c_str(), system), system);  // empty counts as unset
  std::ofstream(home + "/.odbc.ini") << "[x]\n";
  EXPECT_EQ(LocateOdbcIni(nullptr, home.c_str(), system), home + "/.odbc.ini");
  const std::string gone = home + "/gone.ini";
  const std::tuple<const char*, const char*, std::string> failures[] = {
      {fifo.c_str(), home.c_str(), system}, {nullptr, nullptr, fifo}, {gone.c_str(), "", system}};
  for (const auto& [named, inHome, systemFile] : failures)
    EXPECT_DB_ERROR(LocateOdbcIni(named, inHome, systemFile), kErrDataSource,
                    named ? std::string(named) : systemFile);
}

TEST(DataSourceConnectorTest, OpensTheNamedDatabaseOrFailsNamingDataSourceAndFile) {
  TestDb db("CREATE TABLE T (ID INTEGER PRIMARY KEY, Name TEXT);");
  const std::string dir = db.dir.str(), ini = dir + "/odbc.ini", gone = dir + "/gone.mdb",
                    text = dir + "/text.mdb";
  std::ofstream(text) << "just some text, long enough to be read as a database header.........";
  const std::string section = "[qv_main]\nDriver = SQLite3\nDatabase = " + db.path() + "\n",
                    withLogin = section + "UID = Admin ; comment\nPWD = quillmark\n";
  // The file, the name opened with user and password, and the failure's
  // number and text, 0 for an open that works.
  const std::tuple<std::string, std::string, std::string, std::string, int32_t, std::string>
      cases[] = {
          {"[other]\nDriver = SQLite3\nDatabase = /nowhere\n" + section, "QV_MAIN", "", "", 0, ""},
          {section, "qv_security", "", "", kErrDataSource,
           "Data source \"qv_security\" not found in " + ini},
          {"[qv_main]\nDriver = SQLite3\n", "qv_main", "", "", kErrDataSource,
           "\"qv_main\" in " + ini + " has no Database"},
          {"[qv_main]\nDriver = Microsoft Access Driver (*.mdb)\nDatabase = " + db.path(),
           "qv_main", "", "", kErrDataSource, "not supported"},
          {"[qv_main]\nDriver = sqlite\nDatabase = " + gone, "qv_main", "", "", SQLITE_CANTOPEN,
           gone + " of data source \"qv_main\""},
          {"[qv_main]\nDriver = SQLite3\nDatabase = " + text, "qv_main", "", "", SQLITE_NOTADB,
           text},
          // Credentials must match when the data source has them; the user
          // name without regard to case; the open's own arguments win.
          {withLogin, "qv_main", "ADMIN", "quillmark", 0, ""},
          {withLogin, "Provider=MSDASQL;Data Source=qv_main;User ID=admin;Password=quillmark;", "",
           "", 0, ""},
          {withLogin, "Data Source=qv_main;User ID=admin;Password=quillmark", "guest", "quillmark",
           kErrDataSource, "\"qv_main\": wrong user name or password"},
          {withLogin, "qv_main", "admin", "QUILLMARK", kErrDataSource, "wrong user"},
          {withLogin, "qv_main", "", "", kErrDataSource, "wrong user"},
          {section, "qv_main", "anyone", "anything", 0, ""},
      };
  for (const auto& [file, name, user, password, number, message] : cases) {
    std::ofstream(ini) << file;
    EXPECT_DB_ERROR(MakeDataSourceConnector(ini, 0)->Open(name, user, password), number, message);
  }
  EXPECT_FALSE(std::filesystem::exists(gone));  // an open never creates a database
  // The default connector reads ODBCINI at each open.
  std::ofstream(ini) << section;
  auto connector = MakeDataSourceConnector();
  const char* saved = getenv("ODBCINI");
  const std::string restore = saved != nullptr ? saved : "";
  setenv("ODBCINI", ini.c_str(), 1);
  connector->Open("qv_main", "", "")->Execute("INSERT INTO T (Name) VALUES ('via data source')");
  EXPECT_EQ(db.Query("SELECT Name FROM T"), "via data source");
  setenv("ODBCINI", (ini + ".missing").c_str(), 1);
  EXPECT_DB_ERROR(connector->Open("qv_main", "", ""), kErrDataSource, ini + ".missing");
  saved != nullptr ? setenv("ODBCINI", restore.c_str(), 1) : unsetenv("ODBCINI");
  std::filesystem::remove(ini);
  ASSERT_EQ(::mkfifo(ini.c_str(), 0600), 0);  // refused at once, not waited on
  EXPECT_DB_ERROR(MakeDataSourceConnector(ini, 0)->Open("qv_main", "", ""), kErrDataSource,
                  "The data-source file " + ini + " cannot be read");
}

}  // namespace
}  // namespace qv::db

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "db/data_source.h"
#include "db_test_util.h"

namespace qv::db {
namespace {

using qv::db::testing::ExpectDbError;
using qv::db::testing::TestDb;

class DataSourceConnectorTest : public ::testing::Test {
 protected:
  DataSourceConnectorTest()
      : db_("CREATE TABLE T (ID INTEGER PRIMARY KEY, Name TEXT);", "qv_main.mdb") {
    ini_ = db_.dir().str() + "/odbc.ini";
  }
  void WriteIni(const std::string& text) { std::ofstream(ini_) << text; }
  std::string Section(const std::string& extra = "") {
    return "[qv_main]\nDriver = SQLite3\nDatabase = " + db_.path() + "\n" + extra;
  }
  std::unique_ptr<Connection> Open(const std::string& cs, const std::string& user = "",
                                   const std::string& password = "") {
    return MakeDataSourceConnector(ini_, 0)->Open(cs, user, password);
  }

  TestDb db_;
  std::string ini_;
};

TEST_F(DataSourceConnectorTest, OpensTheDatabaseThatTheDataSourceNames) {
  WriteIni("[other]\nDriver = SQLite3\nDatabase = /nowhere\n" + Section());
  auto connection = Open("QV_MAIN");
  connection->Execute("INSERT INTO T (Name) VALUES ('via data source')");
  EXPECT_EQ(db_.Query("SELECT Name FROM T"), "via data source");
}

TEST_F(DataSourceConnectorTest, MissingPiecesFailNamingDataSourceAndFile) {
  WriteIni(Section());
  ExpectDbError([&] { Open("qv_security"); }, kErrDataSource,
                "Data source \"qv_security\" not found in " + ini_);
  WriteIni("[qv_main]\nDriver = SQLite3\n");
  ExpectDbError([&] { Open("qv_main"); }, kErrDataSource,
                "\"qv_main\" in " + ini_ + " has no Database");
  WriteIni("[qv_main]\nDriver = Microsoft Access Driver (*.mdb)\nDatabase = " + db_.path() + "\n");
  ExpectDbError([&] { Open("qv_main"); }, kErrDataSource, "not supported");
  std::string gone = db_.dir().str() + "/gone.mdb";
  WriteIni("[qv_main]\nDriver = sqlite\nDatabase = " + gone + "\n");
  ExpectDbError([&] { Open("qv_main"); }, SQLITE_CANTOPEN, gone + " of data source \"qv_main\"");
  EXPECT_FALSE(std::filesystem::exists(gone));  // an open never creates a database
  std::filesystem::remove(ini_);
  ExpectDbError([&] { Open("qv_main"); }, kErrDataSource, ini_);
}

TEST_F(DataSourceConnectorTest, FileThatIsNotADatabaseFailsTheOpen) {
  std::string text = db_.dir().str() + "/text.mdb";
  std::ofstream(text) << "just some text, long enough to be read as a database header.........";
  WriteIni("[qv_main]\nDriver = SQLite3\nDatabase = " + text + "\n");
  ExpectDbError([&] { Open("qv_main"); }, SQLITE_NOTADB, text);
}

TEST_F(DataSourceConnectorTest, CredentialsMustMatchWhenTheDataSourceHasThem) {
  WriteIni(Section("UID = Admin ; comment\nPWD = quillmark\n"));
  EXPECT_NE(Open("qv_main", "ADMIN", "quillmark"), nullptr);  // user name without regard to case
  EXPECT_NE(Open("Provider=MSDASQL;Data Source=qv_main;User ID=admin;Password=quillmark;"),
            nullptr);
  // The open call's own arguments win over the connection string's.
  ExpectDbError([&] { Open("Data Source=qv_main;User ID=admin;Password=quillmark", "guest", "x"); },
                kErrDataSource, "\"qv_main\": wrong user name or password");
  ExpectDbError([&] { Open("qv_main", "admin", "QUILLMARK"); }, kErrDataSource,
                "wrong user name or password");
  ExpectDbError([&] { Open("qv_main"); }, kErrDataSource, "wrong user name or password");
  WriteIni(Section());
  EXPECT_NE(Open("qv_main", "anyone", "anything"), nullptr);
}

TEST_F(DataSourceConnectorTest, DatabaseLockedElsewhereFailsAfterTheWait) {
  WriteIni(Section());
  auto holder = db_.Open();
  holder->BeginTrans();
  holder->Execute("INSERT INTO T (Name) VALUES ('pending')");  // takes the write lock
  auto connection = Open("qv_main");
  ExpectDbError([&] { connection->Execute("INSERT INTO T (Name) VALUES ('blocked')"); },
                SQLITE_BUSY, "database is locked");
  holder->RollbackTrans();
  connection->Execute("INSERT INTO T (Name) VALUES ('after')");
  EXPECT_EQ(db_.Query("SELECT group_concat(Name) FROM T"), "after");
}

TEST_F(DataSourceConnectorTest, DefaultConnectorReadsOdbciniAtEachOpen) {
  WriteIni(Section());
  const char* saved = getenv("ODBCINI");
  std::string restore = saved != nullptr ? saved : "";
  auto connector = MakeDataSourceConnector();
  setenv("ODBCINI", ini_.c_str(), 1);
  EXPECT_NE(connector->Open("qv_main", "", ""), nullptr);
  setenv("ODBCINI", (ini_ + ".missing").c_str(), 1);
  ExpectDbError([&] { connector->Open("qv_main", "", ""); }, kErrDataSource, ini_ + ".missing");
  if (saved != nullptr) {
    setenv("ODBCINI", restore.c_str(), 1);
  } else {
    unsetenv("ODBCINI");
  }
}

}  // namespace
}  // namespace qv::db

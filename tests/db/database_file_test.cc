#include "db/database_file.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>

#include "db_test_util.h"

namespace qv::db {
namespace {

using qv::db::testing::ExpectDbError;

TEST(DatabaseFileTest, CreatesTheFileWithTheScriptsSchemaAndRows) {
  qv::db::testing::TestDb db("CREATE TABLE A (X INTEGER); INSERT INTO A VALUES (1), (2);");
  EXPECT_EQ(db.Query("SELECT sum(X) FROM A"), "3");
  EXPECT_EQ(db.Query("PRAGMA journal_mode"), "delete");
}

TEST(DatabaseFileTest, RefusesAnExistingFileAndLeavesItAlone) {
  qv::testing::ScopedTempDir dir;
  std::string path = dir.str() + "/taken.mdb";
  std::ofstream(path) << "keep me";
  ExpectDbError([&] { CreateDatabaseFile(path, "CREATE TABLE A (X);"); }, SQLITE_CANTOPEN, path);
  std::ifstream in(path);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "keep me");
}

TEST(DatabaseFileTest, FailingScriptLeavesNothingBehind) {
  qv::testing::ScopedTempDir dir;
  std::string path = dir.str() + "/broken.mdb";
  ExpectDbError(
      [&] { CreateDatabaseFile(path, "CREATE TABLE A (X); INSERT INTO Missing VALUES (1);"); },
      SQLITE_ERROR, "no such table: Missing");
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_FALSE(std::filesystem::exists(path + "-journal"));
}

}  // namespace
}  // namespace qv::db

// Helpers of the database-layer tests: real database files in a temporary
// folder, a raw engine handle to check what was really stored, and an
// assertion on the number and text of a DbError.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <memory>
#include <string>

#include "db/database.h"
#include "db/database_file.h"
#include "db/db_error.h"
#include "db/sqlite/sqlite_connection.h"
#include "support/scoped_temp_dir.h"

namespace qv::db::testing {

// Runs `action` and checks that it raises DbError `number` whose
// description contains `text`.
inline void ExpectDbError(const std::function<void()>& action, int32_t number,
                          const std::string& text = "") {
  try {
    action();
    ADD_FAILURE() << "no DbError raised; expected " << number << " " << text;
  } catch (const DbError& e) {
    EXPECT_EQ(e.number(), number) << e.description();
    EXPECT_NE(e.description().find(text), std::string::npos) << e.description();
  }
}

// A database file made from `script` in a temporary folder, with its own
// raw handle for checks that bypass the layer under test.
class TestDb {
 public:
  explicit TestDb(const std::string& script, const std::string& name = "test.mdb")
      : path_((dir_.path() / name).string()) {
    CreateDatabaseFile(path_, script);
  }
  const std::string& path() const { return path_; }
  const qv::testing::ScopedTempDir& dir() const { return dir_; }

  std::unique_ptr<Connection> Open(int busyTimeoutMs = 0) const {
    return sqlite::OpenConnection(path_, busyTimeoutMs);
  }

  // The first column of the first row of `sql`, as text ("NULL" for null,
  // "" without rows), read on a connection of its own.
  std::string Query(const std::string& sql) const {
    sqlite3* raw = nullptr;
    sqlite3_open_v2(path_.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close_v2);
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(raw, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      return std::string("error: ") + sqlite3_errmsg(raw);
    }
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> owned(stmt, sqlite3_finalize);
    if (sqlite3_step(stmt) != SQLITE_ROW) return "";
    const unsigned char* text = sqlite3_column_text(stmt, 0);
    return text != nullptr ? reinterpret_cast<const char*>(text) : "NULL";
  }

 private:
  qv::testing::ScopedTempDir dir_;
  std::string path_;
};

}  // namespace qv::db::testing

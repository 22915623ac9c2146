// Helpers of the database-layer tests: a database file made from a script in
// a temporary folder, and an assertion on the number and text of a DbError.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "db/database_file.h"
#include "db/db_error.h"
#include "db/sqlite/sqlite_connection.h"
#include "support/installation.h"
#include "support/scoped_temp_dir.h"

namespace qv::db::testing {

// The DbError that `action` raises, if any.
inline std::optional<DbError> Raised(const std::function<void()>& action) {
  try {
    action();
  } catch (const DbError& e) {
    return e;
  }
  return std::nullopt;
}

// Checks that `action` raises DbError `number` whose description contains `text`.
inline void ExpectDbError(const std::function<void()>& action, int32_t number,
                          const std::string& text = "") {
  std::optional<DbError> e = Raised(action);
  ASSERT_TRUE(e.has_value()) << "no DbError raised; expected " << number << " " << text;
  EXPECT_EQ(e->number(), number) << e->description();
  EXPECT_NE(e->description().find(text), std::string::npos) << e->description();
}

// The same for a statement: EXPECT_DB_ERROR(c->Execute(sql), 3142, "Characters found").
#define EXPECT_DB_ERROR(statement, number, text) \
  ::qv::db::testing::ExpectDbError([&] { statement; }, number, text)

// A database file made from `script` (the engine's own SQL).
struct TestDb {
  explicit TestDb(const std::string& script, const std::string& name = "test.mdb")
      : path((dir.path() / name).string()) {
    CreateDatabaseFile(path, script);
  }
  std::unique_ptr<Connection> Open() const { return sqlite::OpenConnection(path, 0); }
  // The first value of `sql`, read past the layer under test.
  std::string Query(const std::string& sql) const { return qv::testing::QueryValue(path, sql); }

  qv::testing::ScopedTempDir dir;
  std::string path;
};

}  // namespace qv::db::testing

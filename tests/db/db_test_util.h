// Helpers of the database-layer tests: a database of either engine made from
// a script, what the cases expect that differs by engine, and an assertion
// on the number and text of a DbError.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/db_error.h"
#include "db/names.h"
#include "db/postgres/pg_connection.h"
#include "db/sqlite/sqlite_connection.h"
#include "support/installation.h"
#include "support/scoped_temp_dir.h"

namespace qv::db::testing {

using qv::testing::Engine;

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
                          const std::string& text) {
  std::optional<DbError> e = Raised(action);
  ASSERT_TRUE(e.has_value()) << "no DbError raised; expected " << number << " " << text;
  EXPECT_EQ(e->number(), number) << e->description();
  EXPECT_NE(e->description().find(text), std::string::npos) << e->description();
}

#define EXPECT_DB_ERROR(statement, number, text) \
  ::qv::db::testing::ExpectDbError([&] { statement; }, number, text)

// A database made from `script` (the engine's own SQL), with what the cases
// expect that differs by engine.
struct TestDb {
  TestDb(Engine engine, const std::string& script)
      : scratch(qv::testing::MakeScratchDatabase(engine, dir.path(), script)) {}
  explicit TestDb(const std::string& script) : TestDb(Engine::kSqlite, script) {}

  std::unique_ptr<Connection> Open(int busyTimeoutMs = 0) const {
    if (!server()) return sqlite::OpenConnection(path(), busyTimeoutMs);
    postgres::ServerAddress address;
    address.host = ref().server().host;
    address.port = ref().server().port;
    address.user = ref().server().user;
    address.database = ref().name();
    return postgres::OpenConnection(address, busyTimeoutMs);
  }
  // The first value of `sql`, read past the layer under test.
  std::string Query(const std::string& sql) const { return qv::testing::QueryValue(ref(), sql); }
  void Exec(const std::string& sql) const { qv::testing::Exec(ref(), sql); }

  const qv::testing::DatabaseRef& ref() const { return scratch.ref; }
  std::string path() const { return ref().file().string(); }
  bool server() const { return ref().engine() == Engine::kPostgres; }
  // The number of a failed statement.
  int32_t error() const { return server() ? -2147217900 : 1; }
  std::string Pick(const std::string& sqlite, const std::string& onServer) const {
    return server() ? onServer : sqlite;
  }
  // Names as the engine stores them when written unquoted.
  std::vector<std::string> Stored(std::vector<std::string> names) const {
    for (std::string& name : names) name = server() ? LowerAscii(name) : name;
    return names;
  }

  qv::testing::ScopedTempDir dir;
  qv::testing::ScratchDatabase scratch;
};

}  // namespace qv::db::testing

// A database of either engine made from a SQLite script, what the cases
// expect that differs by engine, and an assertion on a DbError.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "db/db_error.h"
#include "db/names.h"
#include "db/postgres/pg_connection.h"
#include "db/sqlite/sqlite_connection.h"
#include "support/held_reader.h"
#include "support/installation.h"

namespace qv::db::testing {

using qv::testing::Engine;

// The number of the DbError that `action` raises, 0 for none; its text in `text`.
inline int32_t Raised(const std::function<void()>& action, std::string* text = nullptr) {
  try {
    action();
  } catch (const DbError& e) {
    if (text) *text = e.description();
    return e.number();
  }
  return 0;
}

#define EXPECT_DB_ERROR(statement, number, text)                                         \
  do {                                                                                   \
    std::string raised;                                                                  \
    EXPECT_EQ(::qv::db::testing::Raised([&] { statement; }, &raised), number) << raised; \
    EXPECT_NE(raised.find(text), std::string::npos) << raised;                           \
  } while (false)

struct TestDb {
  TestDb(Engine engine, const std::string& script)
      : scratch(qv::testing::MakeScratchDatabase(engine, dir.path(), script)) {}
  explicit TestDb(const std::string& script) : TestDb(Engine::kSqlite, script) {}
  std::unique_ptr<Connection> Open() const {
    if (!server()) return sqlite::OpenConnection(path(), 0);
    postgres::ServerAddress address;
    address.host = ref().server().host;
    address.port = ref().server().port;
    address.user = ref().server().user;
    address.database = ref().name();
    return postgres::OpenConnection(address, 0);
  }
  std::string Query(const std::string& sql) const { return qv::testing::QueryValue(ref(), sql); }
  void Exec(const std::string& sql) const { qv::testing::Exec(ref(), sql); }
  const qv::testing::DatabaseRef& ref() const { return scratch.ref; }
  std::string path() const { return ref().file().string(); }
  bool server() const { return ref().engine() == Engine::kPostgres; }
  int32_t error() const { return server() ? -2147217900 : 1; }  // of a failed statement
  std::string Pick(const std::string& sqlite, const std::string& onServer) const {
    return server() ? onServer : sqlite;
  }
  std::string Stored(const std::string& name) const { return server() ? LowerAscii(name) : name; }

  qv::testing::ScopedTempDir dir;
  qv::testing::ScratchDatabase scratch;
};

}  // namespace qv::db::testing

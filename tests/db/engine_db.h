// Databases of either engine for the engine tests: an SQLite file in a
// temporary folder, or a scratch database on the PostgreSQL server that the
// PG* environment names (pg_virtualenv sets it), created with a unique name
// and dropped afterwards.
//
// With no server reachable the server cases fail, saying so; the
// environment QV_TEST_POSTGRES=off skips them instead.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "db/database.h"
#include "db/postgres/pg_session.h"
#include "support/scoped_temp_dir.h"

namespace qv::db::testing {

enum class Engine { kSqlite, kPostgres };

// What the engine tests expect that differs by engine.
struct EngineTraits {
  Engine engine;
  // The number of a failed statement.
  int32_t error;
  bool server() const { return engine == Engine::kPostgres; }
  // The one of two texts for this engine.
  std::string Pick(const std::string& sqlite, const std::string& server) const {
    return this->server() ? server : sqlite;
  }
  // A name as the engine stores it when written unquoted.
  std::string Stored(const std::string& name) const;
  std::vector<std::string> Stored(const std::vector<std::string>& names) const;
};
EngineTraits TraitsOf(Engine engine);
std::string EngineName(const ::testing::TestParamInfo<Engine>& info);

// A connection to the server's maintenance database from the PG*
// environment, for making and dropping scratch databases. Raises
// std::runtime_error with libpq's message when the server cannot be reached.
class ServerAdmin {
 public:
  ServerAdmin();
  ~ServerAdmin();
  // Runs `sql` (one or more statements); raises std::runtime_error.
  void Exec(const std::string& sql);
  // A database name no other test uses.
  static std::string UniqueName();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Skips the test when the server cases are switched off; fails it when no
// server is reachable. Returns false when the test cannot go on.
bool ServerAvailable();

// The server address of database `name`, the rest from the PG* environment.
postgres::ServerAddress ScratchAddress(const std::string& name);

// A database made from a script in the engine's own SQL. On the server the
// scratch database also holds the yes/no domain and two helpers that let
// assertions read the same on both engines: group_concat(value) and
// quote(value) as SQLite has them.
class EngineDb {
 public:
  EngineDb(Engine engine, const std::string& script);
  ~EngineDb();
  EngineDb(const EngineDb&) = delete;
  EngineDb& operator=(const EngineDb&) = delete;

  std::unique_ptr<Connection> Open(int busyTimeoutMs = 0) const;
  // The first value of `sql` as text ("" for null), read past the layer
  // under test.
  std::string Query(const std::string& sql) const;
  // Runs statements of the engine's own SQL past the layer under test.
  void Exec(const std::string& sql) const;
  // The stored definition of a table or view ("" when there is none), and
  // of the whole schema, for checking what changed.
  std::string Schema(const std::string& name) const;
  std::string WholeSchema() const;

  Engine engine() const { return engine_; }
  const std::string& name() const { return name_; }  // the file or database name

 private:
  Engine engine_;
  qv::testing::ScopedTempDir dir_;
  std::string name_;
};

}  // namespace qv::db::testing

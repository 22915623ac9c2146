#include "engine_db.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <stdexcept>

#include "db/database_file.h"
#include "db/names.h"
#include "db/postgres/pg_connection.h"
#include "db/sqlite/sqlite_connection.h"
#include "support/installation.h"

namespace qv::db::testing {
namespace {

// What every scratch database holds besides the test's own script.
const char kServerSetup[] = R"(
  CREATE DOMAIN yesno AS smallint;
  CREATE FUNCTION qv_concat(acc text, value anyelement) RETURNS text LANGUAGE sql IMMUTABLE AS
    $$ SELECT CASE WHEN value IS NULL THEN acc WHEN acc IS NULL THEN value::text
                   ELSE acc || ',' || value::text END $$;
  CREATE AGGREGATE group_concat(anyelement) (SFUNC = qv_concat, STYPE = text);
  CREATE FUNCTION quote(value anyelement) RETURNS text LANGUAGE sql IMMUTABLE AS
    $$ SELECT CASE WHEN value IS NULL THEN 'NULL'
                   WHEN pg_typeof(value) IN ('smallint'::regtype, 'integer'::regtype,
                        'bigint'::regtype, 'numeric'::regtype, 'double precision'::regtype,
                        'yesno'::regtype) THEN value::text
                   ELSE quote_literal(value::text) END $$;
)";

struct ConnFree {
  void operator()(PGconn* conn) const { PQfinish(conn); }
};
using Conn = std::unique_ptr<PGconn, ConnFree>;

// A connection from the PG* environment, to `database` when given.
Conn Connect(const std::string& database) {
  const char* keys[] = {"dbname", "options", "connect_timeout", nullptr};
  const char* fallback = std::getenv("PGDATABASE") != nullptr ? nullptr : "postgres";
  const char* values[] = {database.empty() ? fallback : database.c_str(), "-c DateStyle=ISO", "10",
                          nullptr};
  Conn conn(PQconnectdbParams(keys, values, 0));
  if (PQstatus(conn.get()) != CONNECTION_OK) {
    throw std::runtime_error(std::string("no PostgreSQL server reachable: ") +
                             PQerrorMessage(conn.get()));
  }
  PQsetNoticeProcessor(
      conn.get(), [](void*, const char*) {}, nullptr);
  return conn;
}

// Runs `sql` with the simple protocol (several statements allowed) and
// returns the first value of the last result.
std::string Run(PGconn* conn, const std::string& sql) {
  PGresult* result = PQexec(conn, sql.c_str());
  ExecStatusType status = PQresultStatus(result);
  std::string value = status == PGRES_TUPLES_OK && PQntuples(result) > 0 && PQnfields(result) > 0
                          ? PQgetvalue(result, 0, 0)
                          : "";
  PQclear(result);
  if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
    throw std::runtime_error(PQerrorMessage(conn) + (" in: " + sql));
  }
  return value;
}

}  // namespace

std::string EngineTraits::Stored(const std::string& name) const {
  return server() ? LowerAscii(name) : name;
}

std::vector<std::string> EngineTraits::Stored(const std::vector<std::string>& names) const {
  std::vector<std::string> stored;
  for (const std::string& name : names) stored.push_back(Stored(name));
  return stored;
}

EngineTraits TraitsOf(Engine engine) {
  return EngineTraits{engine, engine == Engine::kPostgres ? -2147217900 : 1};
}

std::string EngineName(const ::testing::TestParamInfo<Engine>& info) {
  return info.param == Engine::kPostgres ? "PostgreSQL" : "SQLite";
}

struct ServerAdmin::Impl {
  Conn conn;
};

ServerAdmin::ServerAdmin() : impl_(new Impl{Connect("")}) {}
ServerAdmin::~ServerAdmin() = default;

void ServerAdmin::Exec(const std::string& sql) {
  Run(impl_->conn.get(), sql);
}

std::string ServerAdmin::UniqueName() {
  static std::atomic<int> counter{0};
  return "qvtest_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
}

bool ServerAvailable() {
  const char* flag = std::getenv("QV_TEST_POSTGRES");
  if (flag != nullptr && std::string(flag) == "off") {
    [] { GTEST_SKIP() << "server cases switched off (QV_TEST_POSTGRES=off)"; }();
    return false;
  }
  try {
    ServerAdmin admin;
  } catch (const std::exception& e) {
    // A fatal failure: the test's body does not run.
    [&] {
      FAIL() << e.what()
             << " - run the tests under pg_virtualenv, or set QV_TEST_POSTGRES=off to skip the "
                "server cases";
    }();
    return false;
  }
  return true;
}

postgres::ServerAddress ScratchAddress(const std::string& name) {
  postgres::ServerAddress address;
  address.database = name;
  return address;
}

EngineDb::EngineDb(Engine engine, const std::string& script) : engine_(engine) {
  if (engine_ == Engine::kSqlite) {
    name_ = (dir_.path() / "test.mdb").string();
    CreateDatabaseFile(name_, script);
    return;
  }
  name_ = ServerAdmin::UniqueName();
  ServerAdmin().Exec("CREATE DATABASE " + name_ +
                     " ENCODING 'UTF8' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0");
  Exec(kServerSetup + script);
}

EngineDb::~EngineDb() {
  if (engine_ != Engine::kPostgres) return;
  try {
    ServerAdmin().Exec("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
  } catch (const std::exception& e) {
    ADD_FAILURE() << e.what();
  }
}

std::unique_ptr<Connection> EngineDb::Open(int busyTimeoutMs) const {
  if (engine_ == Engine::kSqlite) return sqlite::OpenConnection(name_, busyTimeoutMs);
  return postgres::OpenConnection(ScratchAddress(name_), busyTimeoutMs);
}

std::string EngineDb::Query(const std::string& sql) const {
  if (engine_ == Engine::kSqlite) return qv::testing::QueryValue(name_, sql);
  return Run(Connect(name_).get(), sql);
}

void EngineDb::Exec(const std::string& sql) const {
  if (engine_ == Engine::kSqlite) return qv::testing::Exec(name_, sql);
  Run(Connect(name_).get(), sql);
}

std::string EngineDb::Schema(const std::string& name) const {
  if (engine_ == Engine::kSqlite) {
    return Query("SELECT coalesce(max(sql), '') FROM sqlite_schema WHERE name = '" + name + "'");
  }
  return Query(
      "SELECT coalesce(max(CASE c.relkind WHEN 'v' THEN pg_get_viewdef(c.oid) "
      "ELSE c.relkind::text END), '') FROM pg_class c "
      "WHERE c.relnamespace = 'public'::regnamespace AND c.relname = lower('" +
      name + "')");
}

std::string EngineDb::WholeSchema() const {
  if (engine_ == Engine::kSqlite) {
    return Query("SELECT group_concat(type || name || sql, '|') FROM sqlite_schema");
  }
  return Query(
      "SELECT string_agg(c.relname::text || c.relkind::text || CASE c.relkind WHEN 'v' THEN "
      "pg_get_viewdef(c.oid) ELSE '' END || coalesce((SELECT string_agg(a.attname::text || "
      "format_type(a.atttypid, a.atttypmod), ',' ORDER BY a.attnum) FROM pg_attribute a "
      "WHERE a.attrelid = c.oid AND a.attnum > 0 AND NOT a.attisdropped), ''), '|' "
      "ORDER BY c.relname) FROM pg_class c WHERE c.relnamespace = 'public'::regnamespace");
}

}  // namespace qv::db::testing

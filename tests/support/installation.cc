#include "support/installation.h"

#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <stdexcept>

#include "db/create_databases.h"
#include "db/db_error.h"
#include "db/postgres/pg_result.h"
#include "mkinstall/layout.h"
#include "mkinstall/schema_scripts.h"
#include "mkinstall/server_schema.h"

namespace qv::testing {
namespace {

using Rows = std::vector<std::vector<std::string>>;

using ServerConnection = db::postgres::ConnHandle;
using ServerResult = db::postgres::Result;

// One connection per server database, kept: a login costs tens of
// milliseconds, and a sweep asks hundreds of questions.
std::map<std::string, ServerConnection>& OpenConnections() {
  static std::map<std::string, ServerConnection> connections;
  return connections;
}

std::string ConnectionKey(const db::ServerLogin& server, const std::string& name) {
  return server.host + "\n" + server.port + "\n" + server.user + "\n" + name;
}

ServerConnection NewConnection(const DatabaseRef& db) {
  // libpq leaves an empty value to the PG* environment.
  const db::ServerLogin& server = db.server();
  const char* keys[] = {"dbname",          "host", "port", "user", "password", "sslmode",
                        "client_encoding", nullptr};
  const std::string* given[] = {&db.name(),   &server.host,     &server.port,
                                &server.user, &server.password, &server.sslmode};
  const char* values[] = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, "UTF8", nullptr};
  for (size_t i = 0; i < 6; ++i) values[i] = given[i]->c_str();
  ServerConnection connection(PQconnectdbParams(keys, values, 0));
  if (PQstatus(connection.get()) != CONNECTION_OK) {
    throw std::runtime_error("cannot connect to " + db.name() + ": " +
                             PQerrorMessage(connection.get()));
  }
  PQsetNoticeProcessor(
      connection.get(), [](void*, const char*) {}, nullptr);
  return connection;
}

PGconn* ConnectTo(const DatabaseRef& db) {
  ServerConnection& open = OpenConnections()[ConnectionKey(db.server(), db.name())];
  if (!open || PQstatus(open.get()) != CONNECTION_OK) open = NewConnection(db);
  return open.get();
}

// Runs one or more statements; the result is the last one's.
ServerResult RunOnServer(PGconn* connection, const std::string& sql) {
  ServerResult result(PQexec(connection, sql.c_str()));
  const ExecStatusType status = PQresultStatus(result.get());
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    throw std::runtime_error(PQresultErrorMessage(result.get()) + (" in: " + sql));
  }
  return result;
}

Rows RowsOf(PGresult* result) {
  Rows rows;
  for (int r = 0; r < PQntuples(result); ++r) {
    std::vector<std::string>& row = rows.emplace_back();
    for (int c = 0; c < PQnfields(result); ++c)
      row.emplace_back(PQgetisnull(result, r, c) ? kNullText : PQgetvalue(result, r, c));
  }
  return rows;
}

// Unique on the server, even beside other test processes.
std::string UniquePrefix() {
  static std::atomic<unsigned> counter{0};
  static const unsigned salt = std::random_device()() % 0x10000;
  return "qvt" + std::to_string(getpid()) + "_" + std::to_string(salt) + "_" +
         std::to_string(counter++) + "_";
}

// The embedded engine's group_concat(x[, sep]), for the tests' queries only.
const char kServerGroupConcat[] = R"sql(
  CREATE FUNCTION qv_test_concat(done text, value anyelement, separator text) RETURNS text
    LANGUAGE sql IMMUTABLE AS $$ SELECT CASE WHEN value IS NULL THEN done
      WHEN done IS NULL THEN value::text ELSE done || separator || value::text END $$;
  CREATE FUNCTION qv_test_concat(done text, value anyelement) RETURNS text
    LANGUAGE sql IMMUTABLE AS $$ SELECT qv_test_concat(done, value, ',') $$;
  CREATE AGGREGATE group_concat(anyelement, text) (SFUNC = qv_test_concat, STYPE = text);
  CREATE AGGREGATE group_concat(anyelement) (SFUNC = qv_test_concat, STYPE = text);
)sql";

const bool kPlainYesNo = std::getenv("QV_TEST_PLAIN_YESNO") != nullptr;

std::string AsLaidOut(std::string script) {
  if (!kPlainYesNo) return script;
  const std::string domain = "CREATE DOMAIN yesno AS smallint;";
  script.erase(script.find(domain), domain.size());
  return std::regex_replace(script, std::regex("\\byesno\\b"), "smallint");
}

std::shared_ptr<void> DropLater(const db::ServerLogin& server, std::vector<std::string> names) {
  return std::shared_ptr<void>(nullptr, [server, names](void*) {
    for (const std::string& name : names) OpenConnections().erase(ConnectionKey(server, name));
    try {
      db::DropServerDatabases(server, names);
    } catch (const db::DbError&) {  // the throw-away cluster goes anyway
    }
  });
}

}  // namespace

std::string EngineName(const ::testing::TestParamInfo<Engine>& info) {
  return info.param == Engine::kPostgres ? "PostgreSQL" : "SQLite";
}

bool EngineTestsOff(Engine engine) {
  const char* setting = std::getenv("QV_TEST_POSTGRES");
  return engine == Engine::kPostgres && setting && std::string(setting) == "off";
}

DatabaseRef DatabaseRef::OnServer(const db::ServerLogin& server, const std::string& name) {
  DatabaseRef ref;
  ref.server_ = server;
  ref.name_ = name;
  return ref;
}

Installation Installation::LayOut(const std::filesystem::path& dir, Kind kind,
                                  const std::string& companyName, Engine engine) {
  mkinstall::LayoutSettings settings;
  settings.generation =
      kind == Kind::kOld ? mkinstall::SchemaGeneration::kOld : mkinstall::SchemaGeneration::kFresh;
  settings.companyName = companyName;
  settings.engine = engine;
  if (engine == Engine::kPostgres) {
    settings.prefix = UniquePrefix();
    // The data-source file carries the password, so that programs started
    // with a bare environment (no PGPASSWORD) reach the server as well.
    if (const char* password = std::getenv("PGPASSWORD")) settings.server.password = password;
  }
  // Without a server this throws "cannot connect": run under pg_virtualenv,
  // or set QV_TEST_POSTGRES=off to skip the server cases.
  const mkinstall::InstallationPaths paths = mkinstall::LayOutInstallation(dir, settings);
  Installation installation;
  installation.paths_ = paths;
  if (engine == Engine::kPostgres) {
    if (kPlainYesNo) {  // made again from the scripts as laid out
      const bool old = kind == Kind::kOld;
      db::DropServerDatabases(paths.server, {paths.mainDatabase, paths.securityDatabase});
      db::CreateServerDatabases(
          paths.server,
          {{paths.mainDatabase,
            AsLaidOut(old ? mkinstall::kMainOldPgSql : mkinstall::kMainFreshPgSql)},
           {paths.securityDatabase,
            AsLaidOut(old ? mkinstall::kSecurityOldPgSql : mkinstall::kSecurityFreshPgSql)}});
    }
    for (const std::string& name : {paths.mainDatabase, paths.securityDatabase})
      Exec(DatabaseRef::OnServer(paths.server, name), kServerGroupConcat);
    installation.main_ = DatabaseRef::OnServer(paths.server, paths.mainDatabase);
    installation.security_ = DatabaseRef::OnServer(paths.server, paths.securityDatabase);
    installation.serverDatabases_ =
        DropLater(paths.server, {paths.mainDatabase, paths.securityDatabase});
  } else {
    installation.main_ = paths.mainDb;
    installation.security_ = paths.securityDb;
  }
  return installation;
}

Rows Query(const DatabaseRef& ref, const std::string& sql) {
  if (ref.engine() == Engine::kPostgres) return RowsOf(RunOnServer(ConnectTo(ref), sql).get());
  sqlite3* raw = nullptr;  // an existing file only: never creates one
  const int rc = sqlite3_open_v2(ref.file().c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  const std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close);
  if (rc != SQLITE_OK) throw std::runtime_error("cannot open " + ref.file().string());
  sqlite3_busy_timeout(raw, 5000);
  Rows rows;
  auto collect = [](void* out, int n, char** values, char**) {
    std::vector<std::string>& row = static_cast<Rows*>(out)->emplace_back();
    for (int i = 0; i < n; ++i) row.emplace_back(values[i] ? values[i] : kNullText);
    return 0;
  };
  if (sqlite3_exec(db.get(), sql.c_str(), collect, &rows, nullptr) != SQLITE_OK) {
    throw std::runtime_error(sqlite3_errmsg(db.get()) + (" in: " + sql));
  }
  return rows;
}

void Disconnect(const DatabaseRef& db) {
  OpenConnections().erase(ConnectionKey(db.server(), db.name()));
}

std::string QueryValue(const DatabaseRef& db, const std::string& sql) {
  const auto rows = Query(db, sql);
  if (rows.empty() || rows[0].empty()) throw std::runtime_error("no value from: " + sql);
  return rows[0][0];
}

void Exec(const DatabaseRef& ref, const std::string& sql) {
  Query(ref, sql);
}

void CopyDatabase(const DatabaseRef& from, const DatabaseRef& to) {
  if (from.engine() == Engine::kSqlite) {
    std::filesystem::copy_file(from.file(), to.file(),
                               std::filesystem::copy_options::overwrite_existing);
    return;
  }
  OpenConnections().erase(ConnectionKey(from.server(), from.name()));
  OpenConnections().erase(ConnectionKey(to.server(), to.name()));
  db::DropServerDatabases(to.server(), {to.name()});
  // A template must have no session: end those the code under test keeps
  // idle for reuse (they notice when next taken).
  PGconn* admin = ConnectTo(DatabaseRef::OnServer(from.server(), "postgres"));
  RunOnServer(admin, "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" +
                         from.name() + "' AND pid <> pg_backend_pid()");
  RunOnServer(admin, "CREATE DATABASE \"" + to.name() + "\" TEMPLATE \"" + from.name() + "\"");
}

ScratchDatabase MakeScratchDatabase(Engine engine, const std::filesystem::path& dir,
                                    const std::string& script) {
  if (engine == Engine::kSqlite) {
    const std::filesystem::path file = dir / "test.mdb";
    db::CreateDatabaseFile(file.string(), script);
    return {file, nullptr};
  }
  const std::string name = UniquePrefix() + "db";
  const std::string serverScript =
      AsLaidOut(mkinstall::ServerSchemaScript(script)) + kServerGroupConcat;
  const db::ServerLogin server = db::CreateServerDatabases({}, {{name, serverScript}});
  return {DatabaseRef::OnServer(server, name), DropLater(server, {name})};
}

std::vector<std::string> ColumnsOf(const DatabaseRef& db, const std::string& table) {
  const std::string sql =
      db.engine() == Engine::kPostgres
          ? "SELECT column_name FROM information_schema.columns WHERE table_schema = "
            "current_schema() AND table_name = lower('" +
                table + "') ORDER BY ordinal_position"
          : "SELECT name FROM pragma_table_info('" + table + "')";
  std::vector<std::string> names;
  for (const auto& row : Query(db, sql)) names.push_back(row[0]);
  return names;
}

}  // namespace qv::testing

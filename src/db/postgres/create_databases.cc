#include "db/postgres/create_databases.h"

#include <libpq-fe.h>

#include <memory>

#include "db/db_error.h"
#include "db/postgres/pg_result.h"

namespace qv::db::postgres {
namespace {

// The number every failure here carries; the description says what failed.
constexpr int32_t kServerError = -2147467259;

using Connection = ConnHandle;

// libpq's messages run over several lines; a diagnostic is one line.
std::string Trimmed(const char* message) {
  std::string text;
  for (const char* c = message ? message : ""; *c; ++c) {
    const bool blank = *c == '\n' || *c == '\t' || *c == '\r' || *c == ' ';
    if (!blank) {
      text += *c;
    } else if (!text.empty() && text.back() != ' ') {
      text += ' ';
    }
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string ResultMessage(const PGresult* result, PGconn* connection) {
  std::string message = Trimmed(result ? PQresultErrorMessage(result) : nullptr);
  if (message.empty()) message = Trimmed(PQerrorMessage(connection));
  const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  return state ? message + " (SQLSTATE " + state + ")" : message;
}

Connection Connect(const ServerLogin& server, const std::string& database) {
  std::vector<const char*> keys, values;
  auto add = [&](const char* key, const std::string& value) {
    if (value.empty()) return;  // libpq's default applies
    keys.push_back(key);
    values.push_back(value.c_str());
  };
  add("host", server.host);
  add("port", server.port);
  add("user", server.user);
  add("password", server.password);
  add("sslmode", server.sslmode);
  add("dbname", database);
  const std::string encoding = "UTF8", application = "qv-mkinstall";
  add("client_encoding", encoding);
  add("fallback_application_name", application);
  keys.push_back(nullptr);
  values.push_back(nullptr);
  Connection connection(PQconnectdbParams(keys.data(), values.data(), 0));
  if (!connection) throw DbError(kServerError, "cannot connect to the server: out of memory");
  if (PQstatus(connection.get()) != CONNECTION_OK) {
    throw DbError(kServerError, "cannot connect to the database " + database +
                                    " on the server: " + Trimmed(PQerrorMessage(connection.get())));
  }
  // Notices (such as those of IF EXISTS) are no business of the caller.
  PQsetNoticeProcessor(
      connection.get(), [](void*, const char*) {}, nullptr);
  return connection;
}

// The server's maintenance database, where databases are created and dropped.
Connection ConnectForMaintenance(const ServerLogin& server) {
  try {
    return Connect(server, "postgres");
  } catch (const DbError& first) {
    try {
      return Connect(server, "template1");
    } catch (const DbError&) {
      throw first;
    }
  }
}

Result Run(PGconn* connection, const std::string& sql, const std::vector<std::string>& params,
           const std::string& what) {
  std::vector<const char*> values;
  for (const std::string& p : params) values.push_back(p.c_str());
  Result result(params.empty()
                    ? PQexec(connection, sql.c_str())
                    : PQexecParams(connection, sql.c_str(), static_cast<int>(params.size()),
                                   nullptr, values.data(), nullptr, nullptr, 0));
  const ExecStatusType status = result.get() ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    throw DbError(kServerError, what + ": " + ResultMessage(result.get(), connection));
  }
  return result;
}

std::string Identifier(PGconn* connection, const std::string& name) {
  std::unique_ptr<char, decltype(&PQfreemem)> quoted(
      PQescapeIdentifier(connection, name.c_str(), name.size()), PQfreemem);
  if (!quoted) throw DbError(kServerError, "cannot quote the name " + name);
  return quoted.get();
}

void Drop(PGconn* connection, const std::string& name) {
  Run(connection, "DROP DATABASE IF EXISTS " + Identifier(connection, name) + " WITH (FORCE)", {},
      "cannot drop the database " + name);
}

}  // namespace

ServerLogin CreateServerDatabases(
    const ServerLogin& server,
    const std::vector<std::pair<std::string, std::string>>& namesAndScripts) {
  Connection maintenance = ConnectForMaintenance(server);
  for (const auto& [name, script] : namesAndScripts) {
    const Result found = Run(maintenance.get(), "SELECT 1 FROM pg_database WHERE datname = $1",
                             {name}, "cannot look for the database " + name);
    if (found.rows() != 0) {
      throw DbError(kServerError, "the database " + name + " exists already on the server");
    }
  }
  ServerLogin used = server;
  used.host = PQhost(maintenance.get());
  used.port = PQport(maintenance.get());
  used.user = PQuser(maintenance.get());

  std::vector<std::string> created;
  try {
    for (const auto& [name, script] : namesAndScripts) {
      Run(maintenance.get(),
          "CREATE DATABASE " + Identifier(maintenance.get(), name) +
              " ENCODING 'UTF8' TEMPLATE template0",
          {}, "cannot create the database " + name);
      created.push_back(name);
      Connection database = Connect(server, name);
      Run(database.get(), script, {}, "cannot fill the database " + name);
    }
  } catch (...) {
    for (const std::string& name : created) {
      try {
        Drop(maintenance.get(), name);
      } catch (const DbError&) {  // the first failure is the one to report
      }
    }
    throw;
  }
  return used;
}

void DropServerDatabases(const ServerLogin& server, const std::vector<std::string>& names) {
  Connection maintenance = ConnectForMaintenance(server);
  for (const std::string& name : names) Drop(maintenance.get(), name);
}

}  // namespace qv::db::postgres

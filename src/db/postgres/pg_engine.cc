// The server engine as the connector sees it, and the entry of the module it
// is built into: a data source's keys are those of the PostgreSQL ODBC
// driver, a backup is a dump, and runs take turns through an advisory lock.
#include "base/diagnostics.h"
#include "db/db_error.h"
#include "db/engine.h"
#include "db/postgres/create_databases.h"
#include "db/postgres/pg_connection.h"
#include "db/postgres/pg_operations.h"
#include "db/postgres/pg_stand_ins.h"

#ifndef QV_VERSION
#error "QV_VERSION: the project version, which the loader checks"
#endif

namespace qv::db::postgres {
namespace {

// An absent key is left to libpq's defaults.
ServerAddress ServerAddressOf(const OdbcSection& section) {
  ServerAddress address;
  address.host = section.Get("Servername");
  address.port = section.Get("Port");
  address.database = section.Get("Database").value_or("");
  address.user = section.Get("Username");
  address.password = section.Get("Password");
  address.sslMode = section.Get("SSLmode");
  address.options = section.Get("pqopt");
  return address;
}

class ServerEngine : public Engine {
 public:
  explicit ServerEngine(const EngineHost& host) : host_(host) {}

  std::unique_ptr<Connection> Open(const OdbcSection& dataSource) override {
    return OpenConnection(ServerAddressOf(dataSource), host_.busyTimeoutMs, *host_.diagnostics);
  }

  void BackUp(const OdbcSection& dataSource, const std::string& /*file*/,
              const std::string& to) override {
    try {
      DumpDatabase(ServerAddressOf(dataSource), host_.busyTimeoutMs, to + ".dump");
    } catch (const DbError& e) {
      throw DbError(e.number(), "backup skipped: " + e.description() + " (data source \"" +
                                    dataSource.name + "\")");
    }
  }

  void VerifyBackup(const OdbcSection& /*dataSource*/, const std::string& from) override {
    VerifyDump(from + ".dump");
  }

  std::vector<std::string> OtherUsers(const OdbcSection& dataSource,
                                      const std::string& /*file*/) override {
    return SessionsUsing(ServerAddressOf(dataSource), host_.busyTimeoutMs);
  }

  void Restore(const OdbcSection& dataSource, const std::string& /*file*/,
               const std::string& from) override {
    RestoreDump(ServerAddressOf(dataSource), from + ".dump");
  }

  std::unique_ptr<RunLock> HoldRunLock(const OdbcSection& dataSource,
                                       const std::vector<OdbcSection>& guarded) override {
    std::vector<ServerAddress> others;
    for (const OdbcSection& section : guarded) others.push_back(ServerAddressOf(section));
    return postgres::HoldRunLock(ServerAddressOf(dataSource), others, host_.busyTimeoutMs,
                                 *host_.diagnostics);
  }

  void RunEnded() override { ReportStandIns(host_.busyTimeoutMs, *host_.diagnostics); }

 private:
  EngineHost host_;
};

std::unique_ptr<Engine> MakeServerEngine(const EngineHost& host) {
  return std::make_unique<ServerEngine>(host);
}

}  // namespace
}  // namespace qv::db::postgres

// The one name the module exports (its build hides every other).
extern "C" __attribute__((visibility("default"))) const qv::db::ServerEngineModule*
qv_server_engine_module() {
  static const qv::db::ServerEngineModule module{QV_VERSION, qv::db::postgres::MakeServerEngine,
                                                 qv::db::postgres::CreateServerDatabases,
                                                 qv::db::postgres::DropServerDatabases};
  return &module;
}

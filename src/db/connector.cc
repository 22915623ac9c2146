// The connector of a real run: a connection string names a data source, the
// data source names a driver and a database, and the driver decides the
// backend: the embedded SQLite engine on a database file, or a PostgreSQL
// server.
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <system_error>

#include "db/data_source.h"
#include "db/database.h"
#include "db/db_error.h"
#include "db/diagnostics.h"
#include "db/names.h"
#include "db/postgres/pg_connection.h"
#include "db/postgres/pg_operations.h"
#include "db/postgres/pg_stand_ins.h"
#include "db/sqlite/sqlite_connection.h"

namespace qv::db {
namespace {

// SQLite's code for a database file that cannot be opened.
constexpr int32_t kErrCannotOpen = 14;

// The server keys of the PostgreSQL ODBC driver; an absent key is left to
// libpq's defaults.
postgres::ServerAddress ServerAddressOf(const OdbcSection& section) {
  postgres::ServerAddress address;
  address.host = section.Get("Servername");
  address.port = section.Get("Port");
  address.database = section.Get("Database").value_or("");
  address.user = section.Get("Username");
  address.password = section.Get("Password");
  address.sslMode = section.Get("SSLmode");
  address.options = section.Get("pqopt");
  return address;
}

class DataSourceConnector : public Connector {
 public:
  DataSourceConnector(std::function<OdbcFiles()> locate, int busyTimeoutMs)
      : locate_(std::move(locate)), busyTimeoutMs_(busyTimeoutMs) {}

  std::unique_ptr<Connection> Open(const std::string& connectionString, const std::string& user,
                                   const std::string& password) override {
    try {
      return OpenDataSource(connectionString, user, password);
    } catch (const DbError& e) {
      // The boxes keep their fixed texts, often not the reason: the
      // administrator learns it here, once per data source and reason
      // however many routines fail on it. Only the data source's name is
      // said of the connection string, which may carry a password.
      std::string name;
      try {
        name = ParseConnectionString(connectionString).dataSource;
      } catch (const DbError&) {
      }
      const std::string& why = e.description();
      if (said_.insert(name + '\n' + why).second) {
        Diagnose(why.find('"' + name + '"') != std::string::npos
                     ? why
                     : "cannot open data source \"" + name + "\": " + why);
      }
      throw;
    }
  }

  std::unique_ptr<Connection> OpenDataSource(const std::string& connectionString,
                                             const std::string& user, const std::string& password) {
    ConnectionString parts = ParseConnectionString(connectionString);
    const std::string& name = parts.dataSource;
    const Found found = Find(name);
    const OdbcSection* section = &found.section;
    const bool embedded = !found.server, server = found.server;
    const std::string& database = found.database;

    // The open call's own arguments win; a full connection string may
    // carry them instead.
    std::string givenUser = !user.empty() ? user : parts.userId.value_or("");
    std::string givenPassword = !password.empty() ? password : parts.password.value_or("");
    std::optional<std::string> uid = section->Get("UID");
    std::optional<std::string> pwd = section->Get("PWD");
    if ((uid && LowerAscii(*uid) != LowerAscii(givenUser)) || (pwd && *pwd != givenPassword)) {
      Fail("Cannot open data source \"" + name + "\": wrong user name or password");
    }

    std::error_code error;
    if (embedded && !std::filesystem::exists(database, error)) {
      throw DbError(kErrCannotOpen, "Database file " + database + " of data source \"" + name +
                                        "\" does not exist");
    }
    try {
      if (server) return postgres::OpenConnection(ServerAddressOf(*section), busyTimeoutMs_);
      return sqlite::OpenConnection(database, busyTimeoutMs_);
    } catch (const DbError& e) {
      throw DbError(e.number(), e.description() + " (data source \"" + name + "\")");
    }
  }

  bool OnServer(const std::string& dataSource) override { return Find(dataSource).server; }

  void Dump(const std::string& dataSource, const std::string& path) override {
    const Found found = Find(dataSource);
    if (!found.server) return Connector::Dump(dataSource, path);
    try {
      postgres::DumpDatabase(ServerAddressOf(found.section), busyTimeoutMs_, path);
    } catch (const DbError& e) {
      throw DbError(e.number(), e.description() + " (data source \"" + dataSource + "\")");
    }
  }

  std::unique_ptr<RunLock> HoldRunLock(const std::string& dataSource,
                                       const std::vector<std::string>& guarded) override {
    const Found found = Find(dataSource);
    if (!found.server) return nullptr;
    std::vector<postgres::ServerAddress> others;
    for (const std::string& name : guarded) {
      try {
        const Found other = Find(name);
        if (other.server) others.push_back(ServerAddressOf(other.section));
      } catch (const DbError&) {
        // A data source that cannot be looked up cannot be written either.
      }
    }
    return postgres::HoldRunLock(ServerAddressOf(found.section), others, busyTimeoutMs_);
  }

  void RunEnded() override { postgres::ReportStandIns(busyTimeoutMs_); }

 private:
  // A data source as the file defines it, checked for a known driver and a
  // database.
  struct Found {
    OdbcSection section;
    bool server = false;
    std::string database;
  };

  Found Find(const std::string& name) const {
    const OdbcFiles files = locate_();
    FoundDataSource found = LookUpDataSource(files, name);
    const OdbcSection& section = found.section;
    const std::string& iniPath = found.file;

    std::string driver = section.Get("Driver").value_or("");
    if (driver.empty()) Fail("Data source \"" + name + "\" in " + iniPath + " names no Driver");
    // The name decides when it can; else the library it stands for, which
    // the drivers file is read for only then.
    std::optional<bool> server = ServerDriver(driver);
    std::string library;
    if (!server) {
      library = DriverLibrary(files.driversFile, driver);
      server = ServerDriver(library);
    }
    if (!server) {
      Fail("Data source \"" + name + "\" uses the driver \"" + driver + "\"" +
           (library != driver ? " (" + library + ")" : "") +
           ", which is not supported: only SQLite and PostgreSQL drivers are");
    }
    std::string database = section.Get("Database").value_or("");
    if (database.empty())
      Fail("Data source \"" + name + "\" in " + iniPath + " has no Database entry");
    return Found{std::move(found.section), *server, database};
  }

  // Whether a driver name or library is the server's (true) or the embedded
  // engine's (false); nullopt for any other.
  static std::optional<bool> ServerDriver(const std::string& driver) {
    const std::string lower = LowerAscii(driver);
    if (lower.find("sqlite") != std::string::npos) return false;
    if (lower.find("postgres") != std::string::npos || lower.find("psqlodbc") != std::string::npos)
      return true;
    return std::nullopt;
  }

  [[noreturn]] static void Fail(const std::string& description) {
    throw DbError(kErrDataSource, description);
  }

  std::function<OdbcFiles()> locate_;
  std::set<std::string> said_;  // data source and reason of each open failure said
  int busyTimeoutMs_;
};

}  // namespace

bool Connector::OnServer(const std::string& /*dataSource*/) {
  return false;
}

void Connector::Dump(const std::string& dataSource, const std::string& /*path*/) {
  throw DbError(kErrDataSource, "Data source \"" + dataSource +
                                    "\" keeps its database in a file: copy the file instead");
}

std::unique_ptr<RunLock> Connector::HoldRunLock(const std::string& /*dataSource*/,
                                                const std::vector<std::string>& /*guarded*/) {
  return nullptr;
}

std::unique_ptr<Connector> MakeDataSourceConnector() {
  return std::make_unique<DataSourceConnector>(
      [] {
        return LocateOdbcFiles(std::getenv("ODBCINI"), std::getenv("HOME"),
                               std::getenv("ODBCSYSINI"));
      },
      kDefaultBusyTimeoutMs);
}

std::unique_ptr<Connector> MakeDataSourceConnector(const std::string& odbcIniPath,
                                                   int busyTimeoutMs) {
  OdbcFiles files = LocateOdbcFiles(odbcIniPath.c_str(), nullptr, std::getenv("ODBCSYSINI"));
  files.systemFile.clear();
  return std::make_unique<DataSourceConnector>([files] { return files; }, busyTimeoutMs);
}

}  // namespace qv::db

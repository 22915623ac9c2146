// The connector of a real run: a connection string names a data source, the
// data source names a driver and a database, and the driver decides the
// backend: the embedded SQLite engine on a database file, or a PostgreSQL
// server.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <system_error>

#include "db/data_source.h"
#include "db/database.h"
#include "db/db_error.h"
#include "db/names.h"
#include "db/postgres/pg_connection.h"
#include "db/postgres/pg_operations.h"
#include "db/postgres/pg_stand_ins.h"
#include "db/sqlite/sqlite_connection.h"
#include "db/unique_fd.h"

namespace qv::db {
namespace {

// SQLite's code for a database file that cannot be opened.
constexpr int32_t kErrCannotOpen = 14;

// Reads the whole data-source file. Anything but a regular file is refused
// as unreadable: opening a FIFO for reading would wait for a writer forever,
// so the open does not block and the type is checked on the open descriptor
// (a check by name before the open could be raced).
std::string ReadFile(const std::string& path) {
  auto unreadable = [&path] {
    return DbError(kErrDataSource, "The data-source file " + path + " cannot be read");
  };
  UniqueFd owner(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  const int fd = owner.get();
  if (fd < 0) throw unreadable();
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) throw unreadable();
  std::string text;
  char buffer[16384];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw unreadable();
    if (n == 0) return text;
    text.append(buffer, static_cast<size_t>(n));
  }
}

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
  DataSourceConnector(std::function<std::string()> locate, int busyTimeoutMs)
      : locate_(std::move(locate)), busyTimeoutMs_(busyTimeoutMs) {}

  std::unique_ptr<Connection> Open(const std::string& connectionString, const std::string& user,
                                   const std::string& password) override {
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
    std::string iniPath = locate_();
    std::vector<OdbcSection> sections = ParseOdbcIni(ReadFile(iniPath));
    const OdbcSection* section = FindDataSource(sections, name);
    if (section == nullptr) Fail("Data source \"" + name + "\" not found in " + iniPath);

    std::string driver = section->Get("Driver").value_or("");
    if (driver.empty()) Fail("Data source \"" + name + "\" in " + iniPath + " names no Driver");
    const bool embedded = LowerAscii(driver).find("sqlite") != std::string::npos;
    const bool server = !embedded && LowerAscii(driver).find("postgres") != std::string::npos;
    if (!embedded && !server) {
      Fail("Data source \"" + name + "\" uses the driver \"" + driver +
           "\", which is not supported: only SQLite and PostgreSQL drivers are");
    }
    std::string database = section->Get("Database").value_or("");
    if (database.empty())
      Fail("Data source \"" + name + "\" in " + iniPath + " has no Database entry");
    return Found{*section, server, database};
  }

  [[noreturn]] static void Fail(const std::string& description) {
    throw DbError(kErrDataSource, description);
  }

  std::function<std::string()> locate_;
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
      [] { return LocateOdbcIni(std::getenv("ODBCINI"), std::getenv("HOME"), "/etc/odbc.ini"); },
      kDefaultBusyTimeoutMs);
}

std::unique_ptr<Connector> MakeDataSourceConnector(const std::string& odbcIniPath,
                                                   int busyTimeoutMs) {
  return std::make_unique<DataSourceConnector>([odbcIniPath] { return odbcIniPath; },
                                               busyTimeoutMs);
}

}  // namespace qv::db

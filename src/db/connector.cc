// The connector of a real run: a connection string names a data source, the
// data source names a driver and a database, and the driver decides the
// engine: the embedded one on a database file, or a PostgreSQL server
// through the server engine's module.
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <system_error>

#include "base/names.h"
#include "db/database.h"
#include "db/db_error.h"
#include "db/engine.h"
#include "db/odbc_ini.h"
#include "db/server_module.h"

namespace qv::db {
namespace {

class DataSourceConnector : public Connector {
 public:
  DataSourceConnector(std::function<OdbcFiles()> locate, int busyTimeoutMs,
                      const Diagnostics& diagnostics)
      : Connector(diagnostics),
        locate_(std::move(locate)),
        host_{&diagnostics, busyTimeoutMs},
        files_(MakeFileEngine(host_)) {}

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
        diagnostics().Say(why.find('"' + name + '"') != std::string::npos
                              ? why
                              : "cannot open data source \"" + name + "\": " + why);
      }
      throw;
    }
  }

  bool BackUp(const std::string& dataSource, const std::string& file,
              const std::string& to) override {
    // A data source that cannot be looked up is backed up as a file: its
    // copy is then tried and fails or succeeds as it always has.
    std::optional<Found> found;
    try {
      found = Find(dataSource);
    } catch (const DbError&) {
    }
    try {
      if (found) {
        EngineOf(*found).BackUp(found->section, file, to);
      } else {
        files_->BackUp(OdbcSection{dataSource, {}}, file, to);
      }
      return true;
    } catch (const DbError& e) {
      diagnostics().Say(e.description());
      return false;
    }
  }

  void VerifyBackup(const std::string& dataSource, const std::string& from) override {
    const Found found = Find(dataSource);
    // Each engine knows only its own kind of backup; one of the other kind
    // is named as such rather than missing.
    const std::string own = from + (found.server ? ".dump" : ".mdb");
    const std::string other = from + (found.server ? ".mdb" : ".dump");
    std::error_code error;
    if (!std::filesystem::exists(own, error) && std::filesystem::exists(other, error)) {
      Fail(other + " is a backup of " +
           (found.server ? "a database file, but data source \"" + dataSource +
                               "\" keeps its database on a server"
                         : "a server database, but data source \"" + dataSource +
                               "\" keeps its database in a file"));
    }
    EngineOf(found).VerifyBackup(found.section, from);
  }

  std::vector<std::string> OtherUsers(const std::string& dataSource,
                                      const std::string& file) override {
    const Found found = Find(dataSource);
    return EngineOf(found).OtherUsers(found.section, file);
  }

  void Restore(const std::string& dataSource, const std::string& file,
               const std::string& from) override {
    const Found found = Find(dataSource);
    EngineOf(found).Restore(found.section, file, from);
  }

  std::unique_ptr<RunLock> HoldRunLock(const std::string& dataSource,
                                       const std::vector<std::string>& guarded) override {
    const Found found = Find(dataSource);
    Engine& engine = EngineOf(found);
    std::vector<OdbcSection> others;
    for (const std::string& name : guarded) {
      try {
        Found other = Find(name);
        if (other.server == found.server) others.push_back(std::move(other.section));
      } catch (const DbError&) {
        // A data source that cannot be looked up cannot be written either.
      }
    }
    return engine.HoldRunLock(found.section, others);
  }

  void RunEnded() override {
    if (server_) server_->RunEnded();
  }

 private:
  // A data source as the file defines it, checked for a known driver and a
  // database.
  struct Found {
    OdbcSection section;
    bool server = false;
  };

  std::unique_ptr<Connection> OpenDataSource(const std::string& connectionString,
                                             const std::string& user, const std::string& password) {
    ConnectionString parts = ParseConnectionString(connectionString);
    const std::string& name = parts.dataSource;
    const Found found = Find(name);
    const OdbcSection& section = found.section;

    // The open call's own arguments win; a full connection string may
    // carry them instead.
    std::string givenUser = !user.empty() ? user : parts.userId.value_or("");
    std::string givenPassword = !password.empty() ? password : parts.password.value_or("");
    std::optional<std::string> uid = section.Get("UID");
    std::optional<std::string> pwd = section.Get("PWD");
    if ((uid && LowerAscii(*uid) != LowerAscii(givenUser)) || (pwd && *pwd != givenPassword)) {
      Fail("Cannot open data source \"" + name + "\": wrong user name or password");
    }
    Engine& engine = EngineOf(found);
    try {
      return engine.Open(section);
    } catch (const DbError& e) {
      if (e.description().find("data source \"" + name + '"') != std::string::npos) throw;
      throw DbError(e.number(), e.description() + " (data source \"" + name + "\")");
    }
  }

  // The engine of a data source; the server's is loaded at its first use.
  Engine& EngineOf(const Found& found) {
    if (!found.server) return *files_;
    if (!server_) {
      try {
        server_ = ServerModule().makeEngine(host_);
      } catch (const DbError& e) {
        throw DbError(e.number(), "data source \"" + found.section.name +
                                      "\" keeps its database on a server, but " + e.description());
      }
    }
    return *server_;
  }

  Found Find(const std::string& name) const {
    const OdbcFiles files = locate_();
    FoundDataSource found = LookUpDataSource(files, name);
    const bool server = EngineOfDataSource(files, found) == EngineKind::kServer;
    return Found{std::move(found.section), server};
  }

  [[noreturn]] static void Fail(const std::string& description) {
    throw DbError(kErrUnspecified, description);
  }

  std::function<OdbcFiles()> locate_;
  EngineHost host_;
  std::unique_ptr<Engine> files_;
  std::unique_ptr<Engine> server_;  // loaded at the first server data source
  std::set<std::string> said_;      // data source and reason of each open failure said
};

}  // namespace

bool Connector::BackUp(const std::string& dataSource, const std::string& file,
                       const std::string& to) {
  try {
    MakeFileEngine({&diagnostics_, kDefaultBusyTimeoutMs})
        ->BackUp(OdbcSection{dataSource, {}}, file, to);
    return true;
  } catch (const DbError& e) {
    diagnostics_.Say(e.description());
    return false;
  }
}

void Connector::VerifyBackup(const std::string& dataSource, const std::string& from) {
  MakeFileEngine({&diagnostics_, kDefaultBusyTimeoutMs})
      ->VerifyBackup(OdbcSection{dataSource, {}}, from);
}

std::vector<std::string> Connector::OtherUsers(const std::string& dataSource,
                                               const std::string& file) {
  return MakeFileEngine({&diagnostics_, kDefaultBusyTimeoutMs})
      ->OtherUsers(OdbcSection{dataSource, {}}, file);
}

void Connector::Restore(const std::string& dataSource, const std::string& file,
                        const std::string& from) {
  MakeFileEngine({&diagnostics_, kDefaultBusyTimeoutMs})
      ->Restore(OdbcSection{dataSource, {}}, file, from);
}

std::unique_ptr<RunLock> Connector::HoldRunLock(const std::string& /*dataSource*/,
                                                const std::vector<std::string>& /*guarded*/) {
  return nullptr;
}

std::unique_ptr<Connector> MakeDataSourceConnector(const Diagnostics& diagnostics) {
  return std::make_unique<DataSourceConnector>(
      [] {
        return LocateOdbcFiles(std::getenv("ODBCINI"), std::getenv("HOME"),
                               std::getenv("ODBCSYSINI"));
      },
      kDefaultBusyTimeoutMs, diagnostics);
}

std::unique_ptr<Connector> MakeDataSourceConnector(const std::string& odbcIniPath,
                                                   int busyTimeoutMs,
                                                   const Diagnostics& diagnostics) {
  OdbcFiles files = LocateOdbcFiles(odbcIniPath.c_str(), nullptr, std::getenv("ODBCSYSINI"));
  files.systemFile.clear();
  return std::make_unique<DataSourceConnector>([files] { return files; }, busyTimeoutMs,
                                               diagnostics);
}

}  // namespace qv::db

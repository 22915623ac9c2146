// The embedded engine as the connector sees it: a data source's Database is
// a file, a backup is a copy of the installation's file, and a lock file
// beside the databases (not this engine) keeps runs apart.
#include <filesystem>
#include <system_error>

#include "base/new_file.h"
#include "db/create_databases.h"
#include "db/db_error.h"
#include "db/engine.h"
#include "db/sqlite/database_file.h"
#include "db/sqlite/sqlite_connection.h"

namespace qv::db {
namespace {

// SQLite's code for a database file that cannot be opened.
constexpr int32_t kErrCannotOpen = 14;

class FileEngine : public Engine {
 public:
  explicit FileEngine(const EngineHost& host) : host_(host) {}

  std::unique_ptr<Connection> Open(const OdbcSection& dataSource) override {
    const std::string database = dataSource.Get("Database").value_or("");
    std::error_code error;
    if (!std::filesystem::exists(database, error)) {
      throw DbError(kErrCannotOpen, "Database file " + database + " of data source \"" +
                                        dataSource.name + "\" does not exist");
    }
    return sqlite::OpenConnection(database, host_.busyTimeoutMs);
  }

  // A rollback journal is there only when a run or the server died inside a
  // transaction: the database file may then hold half of that transaction,
  // and only with the journal does the copy open as the last committed
  // state. A missing journal is the normal case and goes unnoticed.
  //
  // A database that an application put into WAL mode keeps committed
  // changes in its log until a checkpoint: while the log is there, the copy
  // is made through SQLite from one snapshot, so that it holds them and
  // opens whole wherever it is put.
  void BackUp(const OdbcSection& /*dataSource*/, const std::string& file,
              const std::string& to) override {
    const std::string copy = to + ".mdb";
    std::error_code error;
    if (std::filesystem::exists(file + "-wal", error)) {
      const std::string failed = sqlite::CopyDatabaseFile(file, copy);
      if (!failed.empty())
        throw DbError(kErrCannotOpen, "backup of " + file + " not made: " + failed);
      return;
    }
    if (!CopyToNewFile(file, copy)) {
      throw DbError(kErrCannotOpen,
                    "backup of " + file + " not made: it cannot be copied to " + copy);
    }
    CopyToNewFile(file + "-journal", copy + "-journal");
  }

  void VerifyBackup(const OdbcSection& /*dataSource*/, const std::string& from) override {
    sqlite::VerifyDatabaseCopy(from + ".mdb");
  }

  std::vector<std::string> OtherUsers(const OdbcSection& /*dataSource*/,
                                      const std::string& file) override {
    return sqlite::ProcessesUsing(file, *host_.diagnostics);
  }

  // The installation's file, as the backup copied it, is what is replaced.
  void Restore(const OdbcSection& /*dataSource*/, const std::string& file,
               const std::string& from) override {
    sqlite::RestoreDatabaseFile(from + ".mdb", file);
  }

  std::unique_ptr<RunLock> HoldRunLock(const OdbcSection& /*dataSource*/,
                                       const std::vector<OdbcSection>& /*guarded*/) override {
    return nullptr;
  }

 private:
  EngineHost host_;
};

}  // namespace

std::unique_ptr<Engine> MakeFileEngine(const EngineHost& host) {
  return std::make_unique<FileEngine>(host);
}

void CreateDatabaseFile(const std::string& path, const std::string& script) {
  sqlite::CreateDatabaseFile(path, script);
}

}  // namespace qv::db

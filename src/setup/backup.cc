#include "setup/backup.h"

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "db/data_sources.h"
#include "db/database_file.h"
#include "db/db_error.h"
#include "db/diagnostics.h"
#include "setup/reg_op.h"

namespace qv::setup {

std::string BackupStamp(const timezone::Clock& clock) {
  const std::time_t now = clock.Now();
  ::tzset();  // localtime_r need not look at TZ again by itself
  std::tm local{};
  if (::localtime_r(&now, &local) == nullptr) return "";
  char text[32];
  const size_t n = std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return std::string(text, n);
}

namespace {

// Copies one database file and, when the copy was made, the rollback journal
// beside it. A journal is there only when a run or the server died inside a
// transaction: the database file may then hold half of that transaction, and
// only with the journal does the copy open as the last committed state. A
// missing journal is the normal case and goes unnoticed.
//
// A database that an application put into WAL mode keeps committed changes
// in its log until a checkpoint: while the log is there, the copy is made
// through SQLite from one snapshot, so that it holds them and opens whole
// wherever it is put.
void CopyDatabase(FileOps& files, const std::string& from, const std::string& to) {
  std::error_code error;
  if (std::filesystem::exists(from + "-wal", error)) {
    const std::string failed = db::CopyDatabaseFile(from, to);
    if (!failed.empty()) db::Diagnose("backup of " + from + " not made: " + failed);
    return;
  }
  if (!files.CopyFile(from, to)) {
    db::Diagnose("backup of " + from + " not made: it cannot be copied to " + to);
    return;
  }
  files.CopyFile(from + "-journal", to + "-journal");
}

// Sleeps until just past the system clock's next whole second: time(),
// which the clock reads, may lag the precise clock by a tick.
void WaitForNextSecond() {
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  struct timespec rest = {0, 1050000000L - now.tv_nsec};
  if (rest.tv_nsec >= 1000000000L) rest = {1, rest.tv_nsec - 1000000000L};
  while (::nanosleep(&rest, &rest) != 0 && errno == EINTR) {
  }
}

// Whether the data source keeps its database on a server. A data source
// that cannot be looked up counts as a file: its copy is then tried and
// fails or succeeds as it always has.
bool OnServer(db::Connector& connector, const char* dataSource) {
  try {
    return connector.OnServer(dataSource);
  } catch (const std::exception&) {
    return false;
  }
}

// The db layer's message names the data source.
void DumpDatabase(db::Connector& connector, const char* dataSource, const std::string& to) {
  try {
    connector.Dump(dataSource, to);
  } catch (const std::exception& e) {
    db::Diagnose(std::string("backup skipped: ") + e.what());
  }
}

}  // namespace

void BackUpDatabases(RegistryStore& registry, FileOps& files, db::Connector& connector,
                     const timezone::Clock& clock) {
  const std::string base = ReadSetting(registry, "StorageDir") + "/db/BACK";
  std::string stamp = BackupStamp(clock);
  // Every backup is kept: a folder of this second is an earlier backup, so
  // this one takes the next second. A clock that stands still (a fixed one)
  // would never give it: the backup is then skipped, and said to be.
  std::error_code error;
  while (!files.CreateDirectory(base + stamp)) {
    if (!std::filesystem::exists(std::filesystem::symlink_status(base + stamp, error))) {
      db::Diagnose("backup skipped: the folder " + base + stamp + " cannot be created");
      return;
    }
    WaitForNextSecond();
    const std::string next = BackupStamp(clock);
    if (next == stamp) {
      db::Diagnose("backup skipped: " + base + stamp + " exists already");
      return;
    }
    stamp = next;
  }
  const std::string backupDir = base + stamp;
  const std::pair<const char*, const char*> databases[] = {
      {db::kMainDataSource, "qv_main"}, {db::kSecurityDataSource, "qv_security"}};
  for (const auto& [dataSource, name] : databases) {
    const std::string storageDir = ReadSetting(registry, "StorageDir");
    if (OnServer(connector, dataSource)) {
      DumpDatabase(connector, dataSource, backupDir + "/" + name + ".dump");
    } else {
      CopyDatabase(files, storageDir + "/db/" + name + ".mdb", backupDir + "/" + name + ".mdb");
    }
  }
}

}  // namespace qv::setup

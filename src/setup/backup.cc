#include "setup/backup.h"

#include <ctime>

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
void CopyDatabase(FileOps& files, const std::string& from, const std::string& to) {
  if (files.CopyFile(from, to)) files.CopyFile(from + "-journal", to + "-journal");
}

}  // namespace

void BackUpDatabases(RegistryStore& registry, FileOps& files, const timezone::Clock& clock) {
  const std::string stamp = BackupStamp(clock);
  const std::string backupDir = ReadSetting(registry, "StorageDir") + "/db/BACK" + stamp;
  files.CreateDirectory(backupDir);
  CopyDatabase(files, ReadSetting(registry, "StorageDir") + "/db/qv_main.mdb",
               backupDir + "/qv_main.mdb");
  CopyDatabase(files, ReadSetting(registry, "StorageDir") + "/db/qv_security.mdb",
               backupDir + "/qv_security.mdb");
}

}  // namespace qv::setup

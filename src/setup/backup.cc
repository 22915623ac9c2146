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

void BackUpDatabases(RegistryStore& registry, FileOps& files, const timezone::Clock& clock) {
  const std::string stamp = BackupStamp(clock);
  const std::string backupDir = ReadSetting(registry, "StorageDir") + "/db/BACK" + stamp;
  files.CreateDirectory(backupDir);
  files.CopyFile(ReadSetting(registry, "StorageDir") + "/db/qv_main.mdb",
                 backupDir + "/qv_main.mdb");
  files.CopyFile(ReadSetting(registry, "StorageDir") + "/db/qv_security.mdb",
                 backupDir + "/qv_security.mdb");
}

}  // namespace qv::setup

#include "setup/backup.h"

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "db/data_sources.h"
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
      connector.diagnostics().Say("backup skipped: the folder " + base + stamp +
                                  " cannot be created");
      return;
    }
    WaitForNextSecond();
    const std::string next = BackupStamp(clock);
    if (next == stamp) {
      connector.diagnostics().Say("backup skipped: " + base + stamp + " exists already");
      return;
    }
    stamp = next;
  }
  const std::string backupDir = base + stamp;
  const std::pair<const char*, const char*> databases[] = {
      {db::kMainDataSource, "qv_main"}, {db::kSecurityDataSource, "qv_security"}};
  for (const auto& [dataSource, name] : databases) {
    const std::string storageDir = ReadSetting(registry, "StorageDir");
    connector.BackUp(dataSource, storageDir + "/db/" + name + ".mdb", backupDir + "/" + name);
  }
}

}  // namespace qv::setup

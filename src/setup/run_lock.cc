#include "setup/run_lock.h"

#include "db/data_sources.h"
#include "setup/reg_op.h"

namespace qv::setup {

std::string RunLockPath(RegistryStore& registry) {
  const std::string storageDir = ReadSetting(registry, "StorageDir");
  if (storageDir.empty() || storageDir.front() != '/') return "";
  return storageDir + "/db/" + kRunLockFileName;
}

std::unique_ptr<FileLock> LockInstallation(RegistryStore& registry, FileOps& files) {
  // A run that cannot lock still does all of its work, as it always has:
  // the lock only keeps runs apart, and a folder where no lock file can be
  // created is one where the steps fail too, with the messages that tell
  // the administrator why.
  try {
    const std::string path = RunLockPath(registry);
    if (path.empty()) return nullptr;
    return files.LockFile(path);
  } catch (...) {
    return nullptr;
  }
}

std::unique_ptr<db::RunLock> LockSharedDatabase(db::Connector& connector) {
  try {
    return connector.HoldRunLock(db::kMainDataSource);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace qv::setup

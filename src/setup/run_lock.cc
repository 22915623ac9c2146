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

SharedTurn LockSharedDatabase(db::Connector& connector) {
  SharedTurn turn;
  try {
    turn.lock = connector.HoldRunLock(db::kMainDataSource, {db::kSecurityDataSource});
  } catch (const db::RunRefused&) {
    turn.refused = true;
  } catch (...) {
  }
  return turn;
}

bool SharedTurn::Keep() {
  try {
    if (lock && !refused) lock->KeepHeld();
  } catch (const db::RunRefused&) {
    refused = true;
  } catch (...) {
    // The steps meet the same trouble and say so.
  }
  return !refused;
}

}  // namespace qv::setup

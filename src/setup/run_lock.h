// The run lock: two runs on one installation (an installer retried, two
// administrators at once) take turns, so that sample data is never inserted
// twice and migration steps never interleave.
#pragma once

#include <memory>
#include <string>

#include "db/database.h"
#include "setup/file_ops.h"
#include "setup/registry_store.h"

namespace qv::setup {

// The lock file, beside the databases in <StorageDir>/db. It is left in
// place after the run: removing it could let a third run lock a new file
// while a second still waits on the old one.
inline constexpr const char kRunLockFileName[] = "qvsetup.lock";

// <StorageDir>/db/qvsetup.lock with the storage directory read from the
// registry; empty when that directory is not an absolute path (the product
// key or the value missing, a relative path), which names no installation
// that other runs would find the same way.
std::string RunLockPath(RegistryStore& registry);

// Waits until no other run holds the installation's lock and takes it.
// Null when the run has to go on without it: no lock path, or a lock file
// that cannot be created (a missing or read-only db folder). Never raises.
std::unique_ptr<FileLock> LockInstallation(RegistryStore& registry, FileOps& files);

// Waits until no run on another machine that shares the main database holds
// its run lock, and takes it, guarding the security database with it. No
// lock when there is nothing to hold (a database in a file, kept apart by
// the lock file alone) or the data source cannot be looked up (the steps
// then fail with the messages that say why); refused when runs cannot take
// turns through the server connection. Never raises.
struct SharedTurn {
  std::unique_ptr<db::RunLock> lock;
  bool refused = false;
  // Before each step: takes the lock again if it was lost. False when the
  // run must end.
  bool Keep();
};
SharedTurn LockSharedDatabase(db::Connector& connector);

}  // namespace qv::setup

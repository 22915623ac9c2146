// The file operations of a run: create the backup folder, and lock a file so
// that two runs on one installation take turns.
#pragma once

#include <memory>
#include <string>

#include "base/diagnostics.h"

namespace qv::setup {

// An advisory lock, held until the object is destroyed. The system releases
// it as well when the process ends in any way, a crash included.
class FileLock {
 public:
  virtual ~FileLock() = default;
};

class FileOps {
 public:
  virtual ~FileOps() = default;
  // Creates one directory; its parent must exist. False when it could not be
  // created, including when something of that name exists already.
  virtual bool CreateDirectory(const std::string& path) = 0;
  // Takes an exclusive advisory lock on the file `path`, creating it (empty)
  // when missing but never its folder, and waits for as long as another
  // holder keeps it; a wait is announced with one diagnostic line naming the
  // file and, where it can be learned, the holding process. Null when the
  // file can be neither opened nor created,
  // is not a regular file, or cannot be locked. The file stays in place.
  virtual std::unique_ptr<FileLock> LockFile(const std::string& path) = 0;
};

// The real file system. Locks are flock(2) locks, which every run sees whichever user started it.
class PosixFileOps : public FileOps {
 public:
  // Says on `diagnostics` when a lock file cannot be made or a wait begins.
  explicit PosixFileOps(const Diagnostics& diagnostics) : diagnostics_(diagnostics) {}

  bool CreateDirectory(const std::string& path) override;
  std::unique_ptr<FileLock> LockFile(const std::string& path) override;

 private:
  const Diagnostics& diagnostics_;
};

}  // namespace qv::setup

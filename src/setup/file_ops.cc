#include "setup/file_ops.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "base/diagnostics.h"
#include "base/unique_fd.h"

namespace qv::setup {

namespace {

// Closing the descriptor releases the lock.
class FlockLock : public FileLock {
 public:
  explicit FlockLock(UniqueFd fd) : fd_(std::move(fd)) {}

 private:
  UniqueFd fd_;
};

// The process that holds an flock on the file `st` describes, as the
// kernel lists it in /proc/locks; empty when it cannot be learned (no
// /proc, a holder in another pid namespace). A file system that shows
// other device numbers there than stat does (an overlay) is matched by
// inode alone, when that names one holder.
std::string FlockHolder(const struct stat& st) {
  std::ifstream locks("/proc/locks");
  char device[32];
  std::snprintf(device, sizeof device, "%02x:%02x:", major(st.st_dev), minor(st.st_dev));
  const std::string inode = ":" + std::to_string(st.st_ino);
  std::vector<std::string> byInode;
  std::string line;
  while (std::getline(locks, line)) {
    // "1: FLOCK  ADVISORY  WRITE 1234 fd:01:5678 0 EOF"; a waiter's line has
    // "->" after the number.
    std::istringstream fields(line);
    std::string number, type, mode, access, pid, file;
    if (!(fields >> number >> type >> mode >> access >> pid >> file)) continue;
    if (type != "FLOCK" || file.size() <= inode.size() ||
        file.compare(file.size() - inode.size(), inode.size(), inode) != 0) {
      continue;
    }
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == "0") {
      continue;
    }
    if (file == device + std::to_string(st.st_ino)) return pid;
    byInode.push_back(pid);
  }
  return byInode.size() == 1 ? byInode.front() : "";
}

}  // namespace

bool PosixFileOps::CreateDirectory(const std::string& path) {
  return ::mkdir(path.c_str(), 0777) == 0;
}

std::unique_ptr<FileLock> PosixFileOps::LockFile(const std::string& path) {
  // Read-only is enough for flock, and lets a run of another user lock a
  // file that an earlier run created. O_NOFOLLOW: a link planted at `path`
  // must not make the run create a file elsewhere. O_NONBLOCK: a FIFO there
  // must not hang the open (flock waits all the same).
  // A run without the lock still does its work, but the administrator must
  // know that it could not take turns with another.
  auto cannot = [this, &path](const std::string& why) -> std::unique_ptr<FileLock> {
    diagnostics_.Say("the run lock file " + path + " cannot be made (" + why +
                     "): this run cannot take turns with another");
    return nullptr;
  };
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644));
  if (fd.get() < 0) return cannot(std::strerror(errno));
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return cannot("not a regular file");
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) return std::make_unique<FlockLock>(std::move(fd));
  if (errno == EWOULDBLOCK) {
    // A wait can be long, or endless when the other run hangs: the
    // administrator learns what the run waits for and on whom.
    const std::string holder = FlockHolder(st);
    diagnostics_.Say("waiting for the run lock " + path + ", held by " +
                     (holder.empty() ? "another run" : "process " + holder));
  }
  while (::flock(fd.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return cannot(std::strerror(errno));
  }
  return std::make_unique<FlockLock>(std::move(fd));
}

}  // namespace qv::setup

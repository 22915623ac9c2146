#include "setup/file_ops.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/sendfile.h>
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

#include "db/diagnostics.h"
#include "db/new_file.h"
#include "db/unique_fd.h"

namespace qv::setup {

using db::UniqueFd;

namespace {

// Copies `size` bytes from the start of `in` to `out`, trying the fastest
// way first: copy_file_range (which may share the blocks), then sendfile,
// then plain reads and writes. Each falls back only when it cannot be used
// for this pair of files, before it has moved any byte.
bool CopyBytes(int in, int out, off_t size) {
  off_t done = 0;
  bool kernelCopy = true;
  while (kernelCopy && done < size) {
    const ssize_t n =
        ::copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(size - done), 0);
    if (n > 0) {
      done += n;
    } else if (n == 0) {
      break;  // the file shrank while being copied: take what is there
    } else if (errno == EINTR) {
      continue;
    } else if (done == 0 && (errno == ENOSYS || errno == EXDEV || errno == EINVAL ||
                             errno == EOPNOTSUPP || errno == EPERM)) {
      kernelCopy = false;
    } else {
      return false;
    }
  }
  if (kernelCopy) return true;

  bool sendFile = true;
  while (sendFile && done < size) {
    const ssize_t n = ::sendfile(out, in, nullptr, static_cast<size_t>(size - done));
    if (n > 0) {
      done += n;
    } else if (n == 0) {
      break;
    } else if (errno == EINTR) {
      continue;
    } else if (done == 0 && (errno == EINVAL || errno == ENOSYS)) {
      sendFile = false;
    } else {
      return false;
    }
  }
  if (sendFile) return true;

  std::vector<char> buffer(1 << 20);
  while (true) {
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    ssize_t written = 0;
    while (written < n) {
      const ssize_t w = ::write(out, buffer.data() + written, static_cast<size_t>(n - written));
      if (w < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      written += w;
    }
  }
}

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

bool PosixFileOps::CopyFile(const std::string& from, const std::string& to) {
  UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (in.get() < 0) return false;
  struct stat st {};
  if (::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  // A run killed mid-copy must never leave a torn file that looks like a backup.
  auto fill = [&](int out) {
    return CopyBytes(in.get(), out, st.st_size) && ::fchmod(out, st.st_mode & 07777) == 0;
  };
  return db::WriteNewFile(to, fill).empty();
}

std::unique_ptr<FileLock> PosixFileOps::LockFile(const std::string& path) {
  // Read-only is enough for flock, and lets a run of another user lock a
  // file that an earlier run created. O_NOFOLLOW: a link planted at `path`
  // must not make the run create a file elsewhere. O_NONBLOCK: a FIFO there
  // must not hang the open (flock waits all the same).
  // A run without the lock still does its work, but the administrator must
  // know that it could not take turns with another.
  auto cannot = [&path](const std::string& why) -> std::unique_ptr<FileLock> {
    db::Diagnose("the run lock file " + path + " cannot be made (" + why +
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
    db::Diagnose("waiting for the run lock " + path + ", held by " +
                 (holder.empty() ? "another run" : "process " + holder));
  }
  while (::flock(fd.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return cannot(std::strerror(errno));
  }
  return std::make_unique<FlockLock>(std::move(fd));
}

}  // namespace qv::setup

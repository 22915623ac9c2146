#include "base/new_file.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/unique_fd.h"

namespace qv {

std::string WriteNewFile(const std::string& path, const std::function<bool(int fd)>& fill) {
  const std::string part = path + ".part";
  UniqueFd out(::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (out.get() < 0) return "cannot create " + part + ": " + std::strerror(errno);
  struct RemovePart {
    const std::string& part;
    ~RemovePart() { ::unlink(part.c_str()); }  // ours: created just now by O_EXCL
  } removePart{part};
  if (!fill(out.get())) return "cannot write " + part;
  if (::fsync(out.get()) != 0 || !out.Close()) {
    return "cannot write " + part + ": " + std::strerror(errno);
  }
  if (::link(part.c_str(), path.c_str()) != 0) {
    return "cannot name " + path + ": " + std::strerror(errno);
  }
  const std::string::size_type slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
  return "";
}

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

}  // namespace

bool CopyToNewFile(const std::string& from, const std::string& to) {
  UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (in.get() < 0) return false;
  struct stat st {};
  if (::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  // A run killed mid-copy must never leave a torn file that looks like a backup.
  auto fill = [&](int out) {
    return CopyBytes(in.get(), out, st.st_size) && ::fchmod(out, st.st_mode & 07777) == 0;
  };
  return WriteNewFile(to, fill).empty();
}

}  // namespace qv

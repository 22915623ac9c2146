#include "db/new_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "db/unique_fd.h"

namespace qv::db {

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

}  // namespace qv::db

// Helpers for the setup tests: kept boxes, a pinned zone, files, lock probes.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "setup/message_boxes.h"

namespace qv::testing {

class CapturingMessageBoxes : public setup::MessageBoxes {
 public:
  void Show(const std::string& text) override { shown.push_back(text); }
  std::vector<std::string> shown;
};

// Sets TZ for the scope; unset afterwards. Within it Use() moves to another
// zone.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* tz) { Use(tz); }
  ~ScopedTimeZone() {
    ::unsetenv("TZ");
    ::tzset();
  }
  static void Use(const char* tz) {
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
};

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path);
}

// Whether a lock on `path` could be taken through another open of it now,
// without waiting (a FIFO must not hang the probe): false while someone
// holds it, or when it cannot be opened.
inline bool FreeToLock(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return free;
}

}  // namespace qv::testing

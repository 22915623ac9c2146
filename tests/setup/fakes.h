// Helpers for the setup tests: kept boxes, a pinned zone, files.
#pragma once

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "setup/message_boxes.h"

namespace qv::testing {

class CapturingMessageBoxes : public setup::MessageBoxes {
 public:
  void Show(const std::string& text) override { shown.push_back(text); }
  std::vector<std::string> shown;
};

// Puts the process in zone `tz` (TZ is unset again when the scope ends).
inline void UseZone(const char* tz) {
  ::setenv("TZ", tz, 1);
  ::tzset();
}
struct ScopedTimeZone {
  explicit ScopedTimeZone(const char* tz) { UseZone(tz); }
  ~ScopedTimeZone() {
    ::unsetenv("TZ");
    ::tzset();
  }
};

// An empty text when the file cannot be read.
inline std::string ReadFileBytes(const std::string& path) {
  std::ostringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  return bytes.str();
}

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace qv::testing

// A temporary folder, removed with everything in it when the scope ends.
#pragma once

#include <filesystem>
#include <string>

struct sqlite3;

namespace qv::testing {

class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

// The whole of a file, empty when it cannot be read; a file written whole.
std::string ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::string& bytes);

// The process in time zone `tz` while it lives; TZ is unset after.
struct ScopedTimeZone {
  explicit ScopedTimeZone(const char* tz);
  ~ScopedTimeZone();
};

// A connection in a read transaction on a database file: its shared lock
// keeps every writer out until it goes. Throws when it cannot read.
class HeldReader {
 public:
  explicit HeldReader(const std::filesystem::path& dbFile);
  ~HeldReader();
  HeldReader(const HeldReader&) = delete;
  HeldReader& operator=(const HeldReader&) = delete;

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace qv::testing

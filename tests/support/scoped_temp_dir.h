// A temporary folder that is removed with everything in it when the scope
// ends, even when an assertion failed.
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

// Another connection that keeps reading a database file: its open read
// transaction holds the file's shared lock, which lets others read but keeps
// every writer from taking the write lock, until the reader goes away.
class HeldReader {
 public:
  // Throws std::runtime_error when the file cannot be opened and read.
  explicit HeldReader(const std::filesystem::path& dbFile);
  ~HeldReader();
  HeldReader(const HeldReader&) = delete;
  HeldReader& operator=(const HeldReader&) = delete;

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace qv::testing

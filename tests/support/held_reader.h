// Another connection that keeps reading a database file: its open read
// transaction holds the file's shared lock, which lets others read but keeps
// every writer from taking the write lock, until the reader goes away.
#pragma once

#include <filesystem>

struct sqlite3;

namespace qv::testing {

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

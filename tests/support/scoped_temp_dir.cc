#include "support/scoped_temp_dir.h"

#include <sqlite3.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace qv::testing {

ScopedTempDir::ScopedTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "qvsetup-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScopedTempDir::~ScopedTempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

ScopedTimeZone::ScopedTimeZone(const char* tz) {
  ::setenv("TZ", tz, 1);
  ::tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
  ::unsetenv("TZ");
  ::tzset();
}

HeldReader::HeldReader(const std::filesystem::path& dbFile) {
  if (sqlite3_open_v2(dbFile.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
      sqlite3_exec(db_, "BEGIN; SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr) !=
          SQLITE_OK) {
    const std::string why = sqlite3_errmsg(db_);
    sqlite3_close(db_);
    throw std::runtime_error("cannot hold a read on " + dbFile.string() + ": " + why);
  }
}

HeldReader::~HeldReader() {
  sqlite3_close(db_);  // ends the read transaction with it
}

}  // namespace qv::testing

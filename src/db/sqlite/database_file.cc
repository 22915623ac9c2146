// Creating a database file is the one place where SQLITE_OPEN_CREATE is used.
#include "db/database_file.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "db/db_error.h"
#include "db/sqlite/sqlite_error.h"

namespace qv::db {
namespace {

struct Closer {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};

void RemoveQuietly(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  std::filesystem::remove(path + "-journal", ignored);
}

void Exec(sqlite3* db, const std::string& sql, const std::string& path) {
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) throw sqlite::EngineError(db, rc, path);
}

}  // namespace

void CreateDatabaseFile(const std::string& path, const std::string& script) {
  // O_EXCL: an existing file is refused, even one that appears meanwhile.
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (fd < 0) {
    int err = errno;
    throw DbError(SQLITE_CANTOPEN,
                  "cannot create database file " + path + ": " + std::strerror(err));
  }
  ::close(fd);
  try {
    std::unique_ptr<sqlite3, Closer> db;
    sqlite3* raw = nullptr;
    // As in every open: a name starting with "file:" is a file name, not a URI.
    std::string name = path.compare(0, 5, "file:") == 0 ? "./" + path : path;
    int rc = sqlite3_open_v2(name.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    db.reset(raw);
    if (rc != SQLITE_OK) throw sqlite::EngineError(raw, rc, path);
    Exec(db.get(), "BEGIN", path);
    Exec(db.get(), script, path);
    Exec(db.get(), "COMMIT", path);
  } catch (...) {
    RemoveQuietly(path);
    throw;
  }
}

}  // namespace qv::db

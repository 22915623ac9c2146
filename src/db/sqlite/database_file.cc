// Creating a database file is the one place where SQLITE_OPEN_CREATE is used.
#include "db/sqlite/database_file.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "base/new_file.h"
#include "db/db_error.h"
#include "db/sqlite/sqlite_error.h"

namespace qv::db::sqlite {
namespace {

struct Closer {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};

void RemoveQuietly(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  std::filesystem::remove(path + "-journal", ignored);
}

// As in every open: a name starting with "file:" is a file name, not a URI.
std::string FileName(const std::string& path) {
  return path.compare(0, 5, "file:") == 0 ? "./" + path : path;
}

void Exec(sqlite3* db, const std::string& sql, const std::string& path) {
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) throw EngineError(db, rc, path);
}

}  // namespace

void CreateDatabaseFile(const std::string& path, const std::string& script) {
  // O_EXCL: an existing file is refused, even one that appears meanwhile.
  // Users' data is for the owner and the owner's group alone; SQLite gives
  // its journals the database's mode.
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0640);
  if (fd < 0) {
    int err = errno;
    throw DbError(SQLITE_CANTOPEN,
                  "cannot create database file " + path + ": " + std::strerror(err));
  }
  ::close(fd);
  try {
    std::unique_ptr<sqlite3, Closer> db;
    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2(FileName(path).c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    db.reset(raw);
    if (rc != SQLITE_OK) throw EngineError(raw, rc, path);
    Exec(db.get(), "BEGIN", path);
    Exec(db.get(), script, path);
    Exec(db.get(), "COMMIT", path);
  } catch (...) {
    RemoveQuietly(path);
    throw;
  }
}

std::string CopyDatabaseFile(const std::string& from, const std::string& to) {
  struct stat st {};
  if (::stat(from.c_str(), &st) != 0) return "cannot read " + from + ": " + std::strerror(errno);
  // Read-only: the copy neither checkpoints the log nor changes the journal
  // mode, and closing it leaves the log in place.
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(FileName(from).c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  std::unique_ptr<sqlite3, Closer> source(raw);
  if (rc != SQLITE_OK) return "cannot open " + from + ": " + sqlite3_errmsg(raw);
  sqlite3_busy_timeout(raw, 5000);
  std::string why;
  auto fill = [&](int fd) {
    if (::fchmod(fd, st.st_mode & 07777) != 0) return false;
    // The new file is written by a connection of its own: without a journal
    // (a torn copy is never named), and flushed by WriteNewFile.
    sqlite3* rawCopy = nullptr;
    rc = sqlite3_open_v2(FileName(to + ".part").c_str(), &rawCopy, SQLITE_OPEN_READWRITE, nullptr);
    std::unique_ptr<sqlite3, Closer> copy(rawCopy);
    if (rc == SQLITE_OK) {
      rc = sqlite3_exec(rawCopy, "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF", nullptr,
                        nullptr, nullptr);
    }
    sqlite3_backup* backup =
        rc == SQLITE_OK ? sqlite3_backup_init(rawCopy, "main", source.get(), "main") : nullptr;
    if (backup == nullptr) {
      why = sqlite3_errmsg(rawCopy);
      return false;
    }
    // All pages in one step: one read transaction, so one committed state.
    rc = sqlite3_backup_step(backup, -1);
    sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE) why = sqlite3_errstr(rc);
    return rc == SQLITE_DONE && sqlite3_close(copy.release()) == SQLITE_OK;
  };
  const std::string failed = WriteNewFile(to, fill);
  return failed.empty() || why.empty() ? failed : failed + ": " + why;
}

}  // namespace qv::db::sqlite

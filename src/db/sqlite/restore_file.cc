// Checking a backup copy and putting it in place of a database file.
#include <dirent.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "base/new_file.h"
#include "base/unique_fd.h"
#include "db/db_error.h"
#include "db/sqlite/database_file.h"
#include "db/sqlite/sqlite_error.h"

namespace qv::db::sqlite {
namespace {

namespace fs = std::filesystem;

struct Closer {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Handle = std::unique_ptr<sqlite3, Closer>;

[[noreturn]] void Fail(const std::string& why) {
  throw DbError(SQLITE_CANTOPEN, why);
}

std::string Errno(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

// A file name as a URI path: the characters that URIs give a meaning escaped.
std::string UriOf(const std::string& path) {
  std::string uri = "file:";
  for (char c : path) {
    if (c == '%' || c == '?' || c == '#') {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
      uri += hex;
    } else {
      uri += c;
    }
  }
  return uri;
}

Handle OpenFile(const std::string& name, int flags) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(name.c_str(), &raw, flags, nullptr);
  Handle db(raw);
  if (rc != SQLITE_OK) throw EngineError(raw, rc, name);
  return db;
}

// The rows of a statement's first column.
std::vector<std::string> Column(sqlite3* db, const std::string& sql, const std::string& path) {
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr);
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(raw, sqlite3_finalize);
  if (rc != SQLITE_OK) throw EngineError(db, rc, path);
  std::vector<std::string> rows;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(stmt.get(), 0);
    rows.emplace_back(text != nullptr ? reinterpret_cast<const char*>(text) : "");
  }
  if (rc != SQLITE_DONE) throw EngineError(db, rc, path);
  return rows;
}

// Its size against the size the header gives, so that a copy cut short at a
// page boundary is found although every page it still has is whole.
void CheckSize(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) Fail(Errno("cannot read " + path));
  unsigned char h[100];
  if (st.st_size < 100 || ::pread(fd.get(), h, sizeof h, 0) != 100 ||
      std::memcmp(h, "SQLite format 3", 16) != 0) {
    Fail(path + " is not a whole database file (" + std::to_string(st.st_size) + " bytes)");
  }
  auto word = [&](int at) {
    return (uint64_t{h[at]} << 24) | (uint64_t{h[at + 1]} << 16) | (uint64_t{h[at + 2]} << 8) |
           h[at + 3];
  };
  const uint64_t pageSize = h[16] == 0 && h[17] == 1 ? 65536 : (h[16] << 8) | h[17];
  const uint64_t pages = word(28);
  const bool countValid = pages != 0 && word(92) == word(24);
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  if (pageSize < 512 || size % pageSize != 0 || (countValid && pages * pageSize != size)) {
    Fail(path + " is cut short: it holds " + std::to_string(size) + " bytes" +
         (countValid ? " of " + std::to_string(pages * pageSize) : ""));
  }
}

void IntegrityCheck(sqlite3* db, const std::string& path) {
  const std::vector<std::string> found = Column(db, "PRAGMA integrity_check", path);
  if (found != std::vector<std::string>{"ok"}) {
    Fail(path + " fails the integrity check: " + (found.empty() ? "no answer" : found.front()));
  }
}

// Opens a database once so that SQLite settles it: a hot journal rolled
// back, a log checkpointed into the file and removed when it closes.
void Settle(const std::string& path) {
  Handle db =
      OpenFile(path.compare(0, 5, "file:") == 0 ? "./" + path : path, SQLITE_OPEN_READWRITE);
  Column(db.get(), "SELECT count(*) FROM sqlite_master", path);
  if (Column(db.get(), "PRAGMA journal_mode", path) == std::vector<std::string>{"wal"}) {
    Column(db.get(), "PRAGMA wal_checkpoint(TRUNCATE)", path);
  }
  if (sqlite3_close(db.release()) != SQLITE_OK) Fail("cannot close " + path);
}

void CopyBytes(const std::string& from, const std::string& to) {
  std::error_code error;
  // What a restore killed before left (the run lock keeps out any other
  // writer): the copy's unnamed scratch file would make CopyToNewFile fail.
  fs::remove(to + ".part", error);
  fs::remove(to, error);
  if (!CopyToNewFile(from, to)) Fail("cannot copy " + from + " to " + to);
}

void SyncFolder(const std::string& path) {
  UniqueFd dir(::open(fs::path(path).parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0 || ::fsync(dir.get()) != 0) Fail(Errno("cannot flush the folder of " + path));
}

// A folder of its own for scratch files, removed with them.
struct ScratchDir {
  ScratchDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/qv-restore-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) Fail(Errno("cannot make a scratch folder"));
    path = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  std::string path;
};

}  // namespace

void VerifyDatabaseCopy(const std::string& copy) {
  std::error_code error;
  if (!fs::is_regular_file(copy, error)) Fail(copy + " is missing");
  if (fs::exists(copy + "-journal", error)) {
    // Checked as it would be restored: the journal rolled back on a copy.
    ScratchDir scratch;
    const std::string file = scratch.path + "/check.mdb";
    CopyBytes(copy, file);
    CopyBytes(copy + "-journal", file + "-journal");
    Settle(file);
    CheckSize(file);
    IntegrityCheck(OpenFile(file, SQLITE_OPEN_READONLY).get(), copy);
    return;
  }
  CheckSize(copy);
  IntegrityCheck(
      OpenFile(UriOf(copy) + "?immutable=1", SQLITE_OPEN_READONLY | SQLITE_OPEN_URI).get(), copy);
}

std::vector<std::string> ProcessesUsing(const std::string& file, const Diagnostics& diagnostics) {
  std::error_code error;
  const fs::path base = fs::weakly_canonical(file, error);
  std::vector<std::string> names;
  for (const char* suffix : {"", "-journal", "-wal", "-shm"})
    names.push_back(base.string() + suffix);
  std::vector<std::string> users;
  int hidden = 0;
  const std::string self = std::to_string(::getpid());
  for (const fs::directory_entry& process : fs::directory_iterator("/proc", error)) {
    const std::string pid = process.path().filename();
    if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self) continue;
    std::error_code denied;
    fs::directory_iterator fds(process.path() / "fd", denied);
    if (denied) {
      hidden += denied.value() == EACCES || denied.value() == EPERM;
      continue;
    }
    for (const fs::directory_entry& fd : fds) {
      std::error_code gone;
      const std::string target = fs::read_symlink(fd.path(), gone);
      bool found = false;
      for (const std::string& name : names) found |= !gone && target == name;
      if (!found) continue;
      std::string command;
      if (FILE* comm = std::fopen((process.path() / "comm").c_str(), "re")) {
        char text[64] = "";
        if (std::fgets(text, sizeof text, comm) != nullptr) command = text;
        std::fclose(comm);
        while (!command.empty() && command.back() == '\n') command.pop_back();
      }
      users.push_back("process " + pid + " (" + command + ") has " + target + " open");
      break;
    }
  }
  if (hidden > 0) {
    diagnostics.Say("not run as root: the open files of " + std::to_string(hidden) +
                    " processes of other users were not looked at (" + file + ")");
  }
  return users;
}

void RestoreDatabaseFile(const std::string& copy, const std::string& file) {
  struct stat old {};
  const bool exists = ::stat(file.c_str(), &old) == 0;
  if (!exists && ::stat(copy.c_str(), &old) != 0) Fail(Errno("cannot read " + copy));
  if (exists) {
    try {
      Settle(file);
    } catch (const DbError& e) {
      // A file too damaged to open has nothing left to settle; one that is
      // busy must not be replaced under its user.
      if (e.number() == SQLITE_BUSY || e.number() == SQLITE_LOCKED) throw;
    }
  }
  std::error_code error;
  for (const char* suffix : {"-journal", "-wal", "-shm"}) fs::remove(file + suffix, error);

  const std::string part = file + ".restore";
  fs::remove(part + "-journal", error);
  CopyBytes(copy, part);
  if (fs::exists(copy + "-journal", error)) {
    CopyBytes(copy + "-journal", part + "-journal");
    Settle(part);
    if (fs::exists(part + "-journal", error))
      Fail("the journal of " + copy + " was not rolled back");
  }
  UniqueFd fd(::open(part.c_str(), O_RDWR | O_CLOEXEC));
  if (fd.get() < 0) Fail(Errno("cannot open " + part));
  struct stat now {};
  ::fstat(fd.get(), &now);
  if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
      ::fchown(fd.get(), old.st_uid, old.st_gid) != 0) {
    Fail(Errno("cannot give " + part + " the owner of " + file));
  }
  if (::fchmod(fd.get(), old.st_mode & 07777) != 0 || ::fsync(fd.get()) != 0 || !fd.Close()) {
    Fail(Errno("cannot write " + part));
  }
  if (::rename(part.c_str(), file.c_str()) != 0)
    Fail(Errno("cannot rename " + part + " to " + file));
  SyncFolder(file);
}

}  // namespace qv::db::sqlite

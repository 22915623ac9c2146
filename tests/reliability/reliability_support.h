// Helpers for whole runs under faults and hostile input: what a database
// holds (as facts that a clean run either changes or leaves), runs in this
// process with the real edges or as the built qvsetup program, and the
// privileged set-ups (mounts, file modes that bind root too, a lock held by
// another process).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "support/installation.h"

namespace qv::reliability {

namespace fs = std::filesystem;
using testing::Installation;

// What the databases of an installation hold, as "main rows ToDoEvent" ->
// "30", "main columns Company" -> "CompanyID,CompanyName,...", "main view
// ScheduleList" -> its SQL, and the four rows the install settings write
// ("security GlobalPref", "main EmailAdmin", "security Install", "main
// Company 1"). A database that cannot be read gives "<db> unreadable". The
// installation's folder reads as <storage>, so that installations in
// different folders compare.
using Facts = std::map<std::string, std::string>;
Facts FactsOf(const Installation& installation);

// One line per fact that differs ("key: expected -> actual"); empty when
// both hold the same.
std::vector<std::string> Differences(const Facts& expected, const Facts& actual);

// "ok" when PRAGMA integrity_check finds nothing wrong, else what it found.
std::string Integrity(const fs::path& dbFile);

// The faults of a run that wrote part of a transaction: every fact of
// `after` is as it was `before` the run or as a clean run (`clean`) left it,
// and the facts that one transaction changes moved together: the rows of one
// sample-data area, the columns of the main tables, the current views; the
// four install-settings statements committed in their order, never a later
// one without every earlier one. Returns one line per fault, none when the
// run wrote only whole steps.
std::vector<std::string> PartlyWritten(const Facts& before, const Facts& after, const Facts& clean);

// Runs `commandLine` in this process on `installation` with the real
// registry file, data sources (statements waiting `busyTimeoutMs` for a
// lock), file operations and the fixed clock below; returns the boxes shown.
inline constexpr std::time_t kRunTime = 1704196800;  // 2024-01-02 12:00 GMT
// The backup folder of such a run, in kTimeZone.
inline constexpr char kBackupFolder[] = "BACK20240102-210000";
std::vector<std::string> RunInProcess(const Installation& installation,
                                      const std::string& commandLine, int busyTimeoutMs = 25);

// The facts after a clean run of `commandLine` (in this process) on a fresh
// layout of `kind`, computed once per pair.
const Facts& CleanFacts(Installation::Kind kind, const std::string& commandLine);

// The built qvsetup program, started with `args` in `cwd`, its environment
// holding only QV_REGISTRY_FILE and ODBCINI of `installation`, HOME = `cwd`,
// TZ and PATH. Standard output and error go to files in `outputDir`. Killed
// and reaped if still running when destroyed.
class QvsetupProcess {
 public:
  QvsetupProcess(const std::vector<std::string>& args, const Installation& installation,
                 const fs::path& cwd, const fs::path& outputDir);
  ~QvsetupProcess();
  QvsetupProcess(const QvsetupProcess&) = delete;
  QvsetupProcess& operator=(const QvsetupProcess&) = delete;

  pid_t pid() const { return pid_; }
  // Whether it has ended (it stays to be waited for).
  bool Ended() const;

  struct Outcome {
    int waitStatus = -1;
    std::string out, err;
    bool ExitedWithZero() const;
  };
  Outcome Wait();

 private:
  pid_t pid_ = -1;
  fs::path outPath_, errPath_;
};

// Starts the program and waits for it.
QvsetupProcess::Outcome RunProgram(const std::vector<std::string>& args,
                                   const Installation& installation, const fs::path& cwd);

// The boxes of standard output: the text after each "[QvSetup]" line.
std::vector<std::string> BoxesOf(const std::string& out);

// The boxes one to a line, for assertion messages.
std::string Shown(const std::vector<std::string>& boxes);

// The whole file, empty when it cannot be read.
std::string ReadBytes(const fs::path& path);

// Every path below `dir`, relative to it; folders end in '/'.
std::set<std::string> Tree(const fs::path& dir);

// Whether the process `pid` waits for a flock lock on the file `path`.
bool WaitsForFlock(pid_t pid, const fs::path& path);

// A file system mounted for the scope and unmounted after. Needs root: the
// factories give null and say why when the mount cannot be made.
class ScopedMount {
 public:
  // A tmpfs of `bytes` at the existing folder `at`.
  static std::unique_ptr<ScopedMount> Tmpfs(const fs::path& at, uint64_t bytes, std::string* why);
  // `path` (a file or folder) mounted read-only over itself.
  static std::unique_ptr<ScopedMount> ReadOnlyBind(const fs::path& path, std::string* why);
  ~ScopedMount();
  ScopedMount(const ScopedMount&) = delete;
  ScopedMount& operator=(const ScopedMount&) = delete;

 private:
  explicit ScopedMount(fs::path at) : at_(std::move(at)) {}
  fs::path at_;
};

// For the scope, file modes bind this process even when it runs as root
// (CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH leave the effective set and
// come back after). `ok()` false, with `why()`, when that cannot be done.
class ScopedFileModesApply {
 public:
  ScopedFileModesApply();
  ~ScopedFileModesApply();
  ScopedFileModesApply(const ScopedFileModesApply&) = delete;
  ScopedFileModesApply& operator=(const ScopedFileModesApply&) = delete;
  bool ok() const { return why_.empty(); }
  const std::string& why() const { return why_; }

 private:
  bool dropped_ = false;
  std::string why_;
};

// Sets the mode of `path` for the scope.
class ScopedMode {
 public:
  ScopedMode(const fs::path& path, fs::perms mode);
  ~ScopedMode();
  ScopedMode(const ScopedMode&) = delete;
  ScopedMode& operator=(const ScopedMode&) = delete;

 private:
  fs::path path_;
  fs::perms saved_;
};

// Another process holding a database lock for the scope: kWriter has begun
// writing (BEGIN IMMEDIATE: others may read, not write), kExclusive keeps
// readers out as well (BEGIN EXCLUSIVE).
class DatabaseLockHolder {
 public:
  enum class Mode { kWriter, kExclusive };
  DatabaseLockHolder(const fs::path& dbFile, Mode mode);
  ~DatabaseLockHolder();
  DatabaseLockHolder(const DatabaseLockHolder&) = delete;
  DatabaseLockHolder& operator=(const DatabaseLockHolder&) = delete;
  bool holding() const { return holding_; }

 private:
  pid_t pid_ = -1;
  int release_ = -1;  // closing it tells the holder to roll back and end
  bool holding_ = false;
};

// Sets an environment variable for the scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

// The time zone of every run in these tests, in this process and in the
// program's environment.
inline constexpr char kTimeZone[] = "Asia/Tokyo";

}  // namespace qv::reliability

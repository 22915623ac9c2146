// Whole runs under faults and hostile input: what the databases hold, runs
// in this process with the real edges or of the built qvsetup program, and
// faults that need another process or root, each undone when its last copy
// goes (a held database lock, mounts, file modes that bind root too).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/installation.h"
#include "support/scoped_temp_dir.h"

namespace qv::reliability {

namespace fs = std::filesystem;
using testing::Installation;
using Lines = std::vector<std::string>;

// Every run here is confirmed and does every step, at 2024-01-02 12:00 GMT
// in Asia/Tokyo; its backup folder is kBackupFolder.
inline const Lines kFullRun = {"/i", "Initialize", "/a", "/b", "/d"};
inline constexpr char kBackupFolder[] = "BACK20240102-210000";

// "main rows ToDoEvent" -> "30", "main columns Company" -> "CompanyID,...",
// "main view X" -> its SQL, and the rows that the install settings
// ("security GlobalPref", "main EmailAdmin", "security Install", "main
// Company 1") and the security-table step change; "<db> unreadable" when a
// database cannot be read. The installation's folder reads as <storage>.
using Facts = std::map<std::string, std::string>;
Facts FactsOf(const Installation& installation);
// The same of two databases outside an installation, paths left as they are.
Facts FactsOf(const testing::DatabaseRef& main, const testing::DatabaseRef& security);
// The facts after a full run on a fresh layout of `kind` (computed once).
const Facts& CleanFacts(Installation::Kind kind, testing::Engine engine = testing::Engine::kSqlite);
// "key: expected -> actual" per differing fact.
Lines Differences(const Facts& expected, const Facts& actual);
// One line per fact of `after` that is neither as `before` nor as `clean`,
// and per transaction written in part: a sample-data area, the main tables'
// columns and indexes, the current views, the security table, and the four
// install-settings statements (in order: never a later without the earlier).
Lines PartlyWritten(const Facts& before, const Facts& after, const Facts& clean);
// "ok", or what PRAGMA integrity_check (or the open) found.
std::string Integrity(const fs::path& dbFile);

// What every run under a fault or hostile input must leave, judged against
// the state when the Judge was made: both databases intact (unless
// unreadable then) with no journal beside them, no fact gone, every step
// whole against a clean run of `kind` (leaving out `ownFacts`, which the case
// checks), and nothing new below `root` but the lock file and a backup.
class Judge {
 public:
  Judge(const Installation& installation, Installation::Kind kind, fs::path root,
        Lines ownFacts = {});
  Facts ExpectIntactAndWhole() const;  // returns the facts after

 private:
  const Installation& inst_;
  Installation::Kind kind_;
  fs::path root_;
  Lines ownFacts_;
  Facts before_;
  std::set<std::string> tree_;
};

// A full run in this process with the real registry file, data sources
// (waiting 25 ms per locked operation), file operations and a fixed clock;
// returns the boxes shown.
Lines RunInProcess(const Installation& installation);

// The built qvsetup started in `cwd` with only QV_REGISTRY_FILE, ODBCINI,
// HOME = cwd, TZ, PATH and this process's PG* variables set. Killed if still running when
// destroyed.
class Program {
 public:
  Program(const Lines& args, const Installation& installation, const fs::path& cwd)
      : Program(args, installation.registryFile(), installation.odbcIni(), cwd) {}
  // The same with the registry and data-source files given: another
  // machine's view of an installation.
  Program(const Lines& args, const fs::path& registryFile, const fs::path& odbcIni,
          const fs::path& cwd);
  ~Program();
  pid_t pid() const { return pid_; }
  bool Ended() const;
  struct Outcome {
    bool exitedWithZero = false;
    std::string out, err;
    Lines boxes;  // the text after each "[QvSetup]" line of `out`
  };
  Outcome Wait();

 private:
  testing::ScopedTempDir outputs_;
  pid_t pid_ = -1;
};

// The boxes one to a line, for assertion messages.
std::string Shown(const Lines& boxes);
std::string ReadBytes(const fs::path& path);
void WriteBytes(const fs::path& path, const std::string& bytes);
// Every path below `dir`, relative to it; folders end in '/'.
std::set<std::string> Tree(const fs::path& dir);
// Whether process `pid` waits for a flock lock on `path` (/proc/locks).
bool WaitsForFlock(pid_t pid, const fs::path& path);

// Faults held until the result's last copy goes. Null, with `why`, when
// they cannot be made (mounts need root).
using Held = std::shared_ptr<void>;
// Another process holds `dbFile`: reads it in an open transaction (writers
// kept out), has begun writing it (BEGIN IMMEDIATE), or holds it exclusively
// (BEGIN EXCLUSIVE: readers kept out too).
enum class Holder { kReader, kWriter, kExclusive };
Held HoldDatabase(const fs::path& dbFile, Holder holder, std::string* why);
Held MountTmpfs(const fs::path& at, uint64_t bytes, std::string* why);
Held MountReadOnly(const fs::path& at, std::string* why);
// `path` has `mode`, and file modes bind this process even as root (the DAC
// capabilities leave the effective set).
Held SetMode(const fs::path& path, fs::perms mode, std::string* why);

}  // namespace qv::reliability

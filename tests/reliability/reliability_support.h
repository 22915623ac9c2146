// Whole runs under faults and hostile input: what the databases hold, runs
// in this process or of the built qvsetup, and faults undone when their last
// copy goes.
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

// Every run here is confirmed and does every step; in this process at
// 2024-01-02 12:00 GMT in Asia/Tokyo, so its backup folder is kBackupFolder.
inline const Lines kFullRun = {"/i", "Initialize", "/a", "/b", "/d"};
inline constexpr char kBackupFolder[] = "BACK20240102-210000";

// "main rows ToDoEvent" -> "30", "main columns Company" -> "CompanyID,...",
// "main view X" -> its SQL, the rows the install settings change; the
// installation's folder reads as <storage>.
using Facts = std::map<std::string, std::string>;
Facts FactsOf(const Installation& installation);
// The facts after a full run on a fresh layout of `kind` (computed once).
const Facts& CleanFacts(Installation::Kind kind, testing::Engine engine = testing::Engine::kSqlite);
std::string Integrity(const fs::path& dbFile);  // "ok", or what the check found

// What every run under a fault or hostile input must leave: files intact,
// no journal, no fact gone, every transaction whole against a clean run of
// `kind` (but `ownFacts`), nothing new below `root` but the lock and backup.
struct Judge {
  Judge(const Installation& installation, Installation::Kind kind, fs::path root,
        Lines ownFacts = {});
  Facts ExpectIntactAndWhole() const;  // returns the facts after
  const Installation& inst_;
  Installation::Kind kind_;
  fs::path root_;
  Lines ownFacts_;
  Facts before_;
  std::set<std::string> tree_;
};

// The boxes of a full run in this process; what it diagnoses goes to `diagnostics`.
Lines RunInProcess(const Installation& installation, const Diagnostics* diagnostics = nullptr);

// The built qvsetup (or `program` of the build) started in `cwd` with only
// QV_REGISTRY_FILE, ODBCINI, HOME, TZ, PATH and this process's PG*
// variables; killed when destroyed.
class Program {
 public:
  Program(const Lines& args, const Installation& installation, const fs::path& cwd,
          const std::string& program = "qvsetup")
      : Program(args, installation.registryFile(), installation.odbcIni(), cwd, program) {}
  Program(const Lines& args, const fs::path& registryFile, const fs::path& odbcIni,
          const fs::path& cwd, const std::string& program = "qvsetup");
  ~Program();
  bool Ended() const;
  std::string Err() const;  // standard error so far
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

using testing::ReadBytes;
using testing::WriteBytes;
inline std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
    text.replace(at, from.size(), to);
  }
  return text;
}
std::set<std::string> Tree(const fs::path& dir);  // relative paths; folders end in '/'

// Faults held until the last copy goes; null, with `why`, when they cannot
// be made (mounts need root). SetMode binds even root.
using Held = std::shared_ptr<void>;
enum class Holder { kReader, kWriter, kExclusive };
Held HoldDatabase(const fs::path& dbFile, Holder holder, std::string* why);
Held MountTmpfs(const fs::path& at, uint64_t bytes, std::string* why);
Held MountReadOnly(const fs::path& at, std::string* why);
Held SetMode(const fs::path& path, fs::perms mode, std::string* why);

}  // namespace qv::reliability

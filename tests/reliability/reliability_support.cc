#include "reliability/reliability_support.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "db/data_source.h"
#include "sample_data/frame.h"
#include "setup/file_ops.h"
#include "setup/message_boxes.h"
#include "setup/registry_file_store.h"
#include "setup/run_setup.h"
#include "setup/standard_steps.h"
#include "support/scoped_temp_dir.h"
#include "timezone/clock.h"

namespace qv::reliability {
namespace {

using testing::Query;

std::string Join(const std::vector<std::vector<std::string>>& rows) {
  std::string text;
  for (const auto& row : rows) {
    if (!text.empty()) text += '\n';
    for (size_t i = 0; i < row.size(); ++i) text += (i ? "|" : "") + row[i];
  }
  return text;
}

// Rows that steps change in place, by database: the four the install
// settings write, and the users' formats of the security-table alteration.
struct SettingsRow {
  const char* key;
  const char* sql;
};
const SettingsRow kSecuritySettings[] = {
    {"security GlobalPref",
     "SELECT MainDir, StorageDir, MainURL, LanguageID, GMTTimeOffset FROM GlobalPref"},
    {"security Install", "SELECT InstallFlag FROM Install"},
    {"security Users formats", "SELECT DateFormat, TimeFormat FROM Users ORDER BY 1, 2"},
};
const SettingsRow kMainSettings[] = {
    {"main EmailAdmin", "SELECT DefaultSMTPServer, DefaultPOPServer FROM EmailAdmin"},
    {"main Company 1", "SELECT CompanyName FROM Company WHERE CompanyID = 1"},
};

template <size_t N>
void AddFacts(const std::string& prefix, const fs::path& db, const SettingsRow (&rows)[N],
              Facts& facts) {
  try {
    for (const auto& object :
         Query(db,
               "SELECT type, name, sql FROM sqlite_master WHERE name NOT LIKE 'sqlite_%' "
               "AND sql IS NOT NULL ORDER BY type, name")) {
      const std::string& type = object[0];
      const std::string& name = object[1];
      if (type == "table") {
        facts[prefix + " rows " + name] =
            Query(db, "SELECT count(*) FROM \"" + name + "\"").at(0).at(0);
        std::string columns;
        for (const std::string& c : testing::ColumnsOf(db, name)) columns += c + ",";
        facts[prefix + " columns " + name] = columns;
      } else {
        facts[prefix + " " + type + " " + name] = object[2];
      }
    }
  } catch (const std::exception&) {
    facts[prefix + " unreadable"] = "yes";
    return;
  }
  for (const SettingsRow& row : rows) {
    try {
      facts[row.key] = Join(Query(db, row.sql));
    } catch (const std::exception&) {
      facts[row.key] = "(cannot be read)";
    }
  }
}

// The main tables each sample-data module fills, found by running the
// modules one after the other on a fresh installation.
const std::vector<std::vector<std::string>>& AreaTables() {
  static const std::vector<std::vector<std::string>> areas = [] {
    testing::ScopedTempDir dir;
    const Installation installation = Installation::LayOut(dir.path() / "inst");
    const std::unique_ptr<db::Connector> connector =
        db::MakeDataSourceConnector(installation.odbcIni().string(), 1000);
    const timezone::FixedClock clock(kRunTime);
    const sample_data::ModuleEnv env{*connector, clock, [](const std::string&) {}};
    const sample_data::SampleArgs args{"1", "qv_main", "admin", "quillmark", "1"};
    std::vector<std::vector<std::string>> found;
    Facts before = FactsOf(installation);
    for (const setup::SampleDataStep& step : setup::StandardSteps().sampleData) {
      if (!step.insert(env, args))
        throw std::runtime_error(std::string("module failed: ") + step.table);
      const Facts after = FactsOf(installation);
      std::vector<std::string>& tables = found.emplace_back();
      for (const auto& [key, value] : after) {
        if (key.rfind("main rows ", 0) == 0 && before[key] != value) tables.push_back(key);
      }
      before = after;
    }
    return found;
  }();
  return areas;
}

std::string ValueOf(const Facts& facts, const std::string& key) {
  const auto it = facts.find(key);
  return it == facts.end() ? "(absent)" : it->second;
}

class CapturingBoxes : public setup::MessageBoxes {
 public:
  void Show(const std::string& text) override { shown.push_back(text); }
  std::vector<std::string> shown;
};

std::string Errno(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

Facts FactsOf(const Installation& installation) {
  Facts facts;
  AddFacts("main", installation.mainDb(), kMainSettings, facts);
  AddFacts("security", installation.securityDb(), kSecuritySettings, facts);
  const std::string folder = installation.storageDir().string();
  for (auto& entry : facts) {
    for (size_t at; (at = entry.second.find(folder)) != std::string::npos;) {
      entry.second.replace(at, folder.size(), "<storage>");
    }
  }
  return facts;
}

std::vector<std::string> Differences(const Facts& expected, const Facts& actual) {
  std::set<std::string> keys;
  for (const Facts* facts : {&expected, &actual}) {
    for (const auto& entry : *facts) keys.insert(entry.first);
  }
  std::vector<std::string> lines;
  for (const std::string& key : keys) {
    const std::string e = ValueOf(expected, key), a = ValueOf(actual, key);
    if (e != a) lines.push_back(key + ": " + e + " -> " + a);
  }
  return lines;
}

std::string Integrity(const fs::path& dbFile) {
  try {
    return Join(Query(dbFile, "PRAGMA integrity_check"));
  } catch (const std::exception& e) {
    return e.what();
  }
}

std::vector<std::string> PartlyWritten(const Facts& before, const Facts& after,
                                       const Facts& clean) {
  enum class State { kUnchangedByARun, kAsBefore, kAsAfterACleanRun, kNeither };
  std::set<std::string> keys;
  for (const Facts* facts : {&before, &after, &clean}) {
    for (const auto& entry : *facts) keys.insert(entry.first);
  }
  std::map<std::string, State> states;
  std::vector<std::string> faults;
  for (const std::string& key : keys) {
    const std::string b = ValueOf(before, key), a = ValueOf(after, key), c = ValueOf(clean, key);
    State& state = states[key];
    if (a == b && a == c) {
      state = State::kUnchangedByARun;
    } else if (a == b) {
      state = State::kAsBefore;
    } else if (a == c) {
      state = State::kAsAfterACleanRun;
    } else {
      state = State::kNeither;
      faults.push_back(key + " is neither as before (" + b + ") nor as after a clean run (" + c +
                       "): " + a);
    }
  }

  struct Unit {
    std::string name;
    std::vector<std::string> keys;
    bool ordered;  // a prefix of the keys changed, never a later key alone
  };
  std::vector<Unit> units = {
      {"install settings",
       {"security GlobalPref", "main EmailAdmin", "security Install", "main Company 1"},
       true},
      {"security table", {"security columns Users", "security Users formats"}, false}};
  Unit tables{"table alterations", {}, false};
  Unit views{"view re-creation", {}, false};
  for (const std::string& key : keys) {
    if (key.rfind("main columns ", 0) == 0 || key.rfind("main index ", 0) == 0) {
      tables.keys.push_back(key);
    }
    if (key.rfind("main view ", 0) == 0 && clean.count(key)) views.keys.push_back(key);
  }
  units.push_back(tables);
  units.push_back(views);
  for (size_t i = 0; i < AreaTables().size(); ++i) {
    units.push_back({"sample-data area " + std::to_string(i + 1), AreaTables()[i], false});
  }

  for (const Unit& unit : units) {
    std::string changed, unchanged;  // keys in each state, for the message
    bool sawUnchanged = false, outOfOrder = false;
    for (const std::string& key : unit.keys) {
      const State state = states.count(key) ? states[key] : State::kUnchangedByARun;
      if (state == State::kAsAfterACleanRun) {
        changed += " " + key;
        outOfOrder |= sawUnchanged;
      } else if (state == State::kAsBefore) {
        unchanged += " " + key;
        sawUnchanged = true;
      }
    }
    if (unit.ordered ? outOfOrder : !changed.empty() && !unchanged.empty()) {
      faults.push_back(unit.name + " written in part: changed" + changed + "; left" + unchanged);
    }
  }
  return faults;
}

std::vector<std::string> RunInProcess(const Installation& installation,
                                      const std::string& commandLine, int busyTimeoutMs) {
  const ScopedEnv tz("TZ", kTimeZone);
  CapturingBoxes boxes;
  std::ostringstream diagnostics;
  setup::RegistryFileStore registry(installation.registryFile().string(), diagnostics);
  const std::unique_ptr<db::Connector> connector =
      db::MakeDataSourceConnector(installation.odbcIni().string(), busyTimeoutMs);
  const timezone::FixedClock clock(kRunTime);
  setup::PosixFileOps files;
  const setup::SetupEdges edges{boxes, registry, *connector, clock, files};
  setup::RunSetup(commandLine, edges, setup::StandardSteps());
  return boxes.shown;
}

const Facts& CleanFacts(Installation::Kind kind, const std::string& commandLine) {
  static std::map<std::pair<Installation::Kind, std::string>, Facts> cache;
  const auto key = std::make_pair(kind, commandLine);
  auto it = cache.find(key);
  if (it == cache.end()) {
    testing::ScopedTempDir dir;
    const Installation installation = Installation::LayOut(dir.path() / "inst", kind);
    RunInProcess(installation, commandLine);
    it = cache.emplace(key, FactsOf(installation)).first;
  }
  return it->second;
}

QvsetupProcess::QvsetupProcess(const std::vector<std::string>& args,
                               const Installation& installation, const fs::path& cwd,
                               const fs::path& outputDir) {
  static int started = 0;
  const std::string name = "qvsetup-" + std::to_string(++started);
  outPath_ = outputDir / (name + ".out");
  errPath_ = outputDir / (name + ".err");
  const std::string binary = std::string(QV_BINARY_DIR) + "/qvsetup";
  std::vector<std::string> argStrings = {binary};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  const std::vector<std::string> envStrings = {
      "QV_REGISTRY_FILE=" + installation.registryFile().string(),
      "ODBCINI=" + installation.odbcIni().string(), "HOME=" + cwd.string(),
      std::string("TZ=") + kTimeZone, "PATH=/usr/bin:/bin"};
  std::vector<char*> argv, envp;
  for (const std::string& a : argStrings) argv.push_back(const_cast<char*>(a.c_str()));
  for (const std::string& e : envStrings) envp.push_back(const_cast<char*>(e.c_str()));
  argv.push_back(nullptr);
  envp.push_back(nullptr);

  const int out = ::open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int err = ::open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (out < 0 || err < 0) throw std::runtime_error(Errno("cannot create output files"));
  pid_ = ::fork();
  if (pid_ == 0) {
    if (::chdir(cwd.c_str()) != 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(126);
    ::execve(binary.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(out);
  ::close(err);
  if (pid_ < 0) throw std::runtime_error(Errno("fork"));
}

QvsetupProcess::~QvsetupProcess() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
}

bool QvsetupProcess::Ended() const {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == pid_;
}

bool QvsetupProcess::Outcome::ExitedWithZero() const {
  return WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 0;
}

QvsetupProcess::Outcome QvsetupProcess::Wait() {
  Outcome outcome;
  while (::waitpid(pid_, &outcome.waitStatus, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  outcome.out = ReadBytes(outPath_);
  outcome.err = ReadBytes(errPath_);
  return outcome;
}

QvsetupProcess::Outcome RunProgram(const std::vector<std::string>& args,
                                   const Installation& installation, const fs::path& cwd) {
  testing::ScopedTempDir outputs;
  QvsetupProcess process(args, installation, cwd, outputs.path());
  return process.Wait();
}

std::vector<std::string> BoxesOf(const std::string& out) {
  std::vector<std::string> boxes;
  std::istringstream in(out);
  std::string line;
  bool firstLine = false;
  while (std::getline(in, line)) {
    // Text before the first box becomes a box of its own, which no
    // expectation matches.
    if (line == "[QvSetup]" || boxes.empty()) {
      boxes.emplace_back();
      firstLine = true;
      if (line == "[QvSetup]") continue;
    }
    if (!firstLine) boxes.back() += "\r\n";
    boxes.back() += line;
    firstLine = false;
  }
  return boxes;
}

std::string Shown(const std::vector<std::string>& boxes) {
  std::string text;
  for (const std::string& box : boxes) text += "\n  [" + box + "]";
  return text;
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::set<std::string> Tree(const fs::path& dir) {
  std::set<std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    tree.insert(fs::relative(entry.path(), dir).string() + (entry.is_directory() ? "/" : ""));
  }
  return tree;
}

bool WaitsForFlock(pid_t pid, const fs::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  std::ifstream locks("/proc/locks");
  std::string line;
  // "3: -> FLOCK  ADVISORY  WRITE 4242 fe:00:1234 0 EOF" for a waiter.
  while (std::getline(locks, line)) {
    std::istringstream fields(line);
    std::string number, arrow, type, advisory, access, owner, file;
    fields >> number >> arrow;
    if (arrow != "->") continue;
    fields >> type >> advisory >> access >> owner >> file;
    const std::string inode = ":" + std::to_string(st.st_ino);
    if (type == "FLOCK" && owner == std::to_string(pid) && file.size() > inode.size() &&
        file.compare(file.size() - inode.size(), inode.size(), inode) == 0) {
      return true;
    }
  }
  return false;
}

std::unique_ptr<ScopedMount> ScopedMount::Tmpfs(const fs::path& at, uint64_t bytes,
                                                std::string* why) {
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
  if (::mount("tmpfs", at.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
    *why = Errno("cannot mount a tmpfs (needs root)");
    return nullptr;
  }
  return std::unique_ptr<ScopedMount>(new ScopedMount(at));
}

std::unique_ptr<ScopedMount> ScopedMount::ReadOnlyBind(const fs::path& path, std::string* why) {
  if (::mount(path.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    *why = Errno("cannot bind-mount (needs root)");
    return nullptr;
  }
  std::unique_ptr<ScopedMount> mount(new ScopedMount(path));
  if (::mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
    *why = Errno("cannot remount read-only");
    return nullptr;
  }
  return mount;
}

ScopedMount::~ScopedMount() {
  if (::umount2(at_.c_str(), 0) != 0) ::umount2(at_.c_str(), MNT_DETACH);
}

namespace {
constexpr uint32_t kDacCapabilities = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);

bool SetDacCapabilities(bool on) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (::syscall(SYS_capget, &header, data) != 0) return false;
  data[0].effective = on ? data[0].effective | (data[0].permitted & kDacCapabilities)
                         : data[0].effective & ~kDacCapabilities;
  return ::syscall(SYS_capset, &header, data) == 0;
}
}  // namespace

ScopedFileModesApply::ScopedFileModesApply() {
  if (::geteuid() != 0) return;  // modes bind an ordinary user anyway
  dropped_ = SetDacCapabilities(false);
  if (!dropped_) why_ = Errno("cannot leave CAP_DAC_OVERRIDE");
}

ScopedFileModesApply::~ScopedFileModesApply() {
  if (dropped_) SetDacCapabilities(true);
}

ScopedMode::ScopedMode(const fs::path& path, fs::perms mode)
    : path_(path), saved_(fs::status(path).permissions()) {
  fs::permissions(path, mode);
}

ScopedMode::~ScopedMode() {
  std::error_code ignored;
  fs::permissions(path_, saved_, ignored);
}

DatabaseLockHolder::DatabaseLockHolder(const fs::path& dbFile, Mode mode) {
  int ready[2], release[2];
  if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(release, O_CLOEXEC) != 0) {
    throw std::runtime_error(Errno("pipe"));
  }
  pid_ = ::fork();
  if (pid_ == 0) {
    ::close(ready[0]);
    ::close(release[1]);
    sqlite3* db = nullptr;
    bool ok = sqlite3_open_v2(dbFile.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
              sqlite3_exec(db, mode == Mode::kWriter ? "BEGIN IMMEDIATE" : "BEGIN EXCLUSIVE",
                           nullptr, nullptr, nullptr) == SQLITE_OK;
    const char answer = ok ? '1' : '0';
    if (::write(ready[1], &answer, 1) != 1) ::_exit(1);
    char c;
    while (::read(release[0], &c, 1) > 0) {
    }
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(release[0]);
  release_ = release[1];
  char answer = '0';
  holding_ = pid_ > 0 && ::read(ready[0], &answer, 1) == 1 && answer == '1';
  ::close(ready[0]);
}

DatabaseLockHolder::~DatabaseLockHolder() {
  ::close(release_);
  int status;
  if (pid_ > 0) {
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
  if (const char* old = std::getenv(name)) saved_ = old;
  ::setenv(name, value.c_str(), 1);
  ::tzset();
}

ScopedEnv::~ScopedEnv() {
  if (saved_) {
    ::setenv(name_.c_str(), saved_->c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
  ::tzset();
}

}  // namespace qv::reliability

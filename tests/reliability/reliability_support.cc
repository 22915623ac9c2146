#include "reliability/reliability_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <sstream>
#include <utility>

#include "db/odbc_ini.h"
#include "sample_data/frame.h"
#include "setup/file_ops.h"
#include "setup/message_boxes.h"
#include "setup/registry_file_store.h"
#include "setup/run_setup.h"
#include "setup/standard_steps.h"
#include "timezone/clock.h"

namespace qv::reliability {
namespace {

using testing::Query;
constexpr std::time_t kRunTime = 1704196800;  // 2024-01-02 12:00 GMT
constexpr char kTimeZone[] = "Asia/Tokyo";

std::string Joined(const std::vector<std::vector<std::string>>& rows) {
  std::string text;
  for (const auto& row : rows) {
    for (const std::string& value : row) text += value + "|";
    text += '\n';
  }
  return text;
}

// {type, name, definition} of every table (no definition), index and view.
constexpr char kSqliteObjects[] =
    "SELECT type, name, CASE type WHEN 'table' THEN '' ELSE sql END FROM sqlite_master WHERE "
    "name NOT LIKE 'sqlite_%' AND sql IS NOT NULL";
constexpr char kServerObjects[] =
    "SELECT 'table', table_name, '' FROM information_schema.tables WHERE table_schema = 'public' "
    "AND table_type = 'BASE TABLE' UNION ALL SELECT 'index', indexname, indexdef FROM pg_indexes "
    "WHERE schemaname = 'public' UNION ALL SELECT 'view', table_name, view_definition FROM "
    "information_schema.views WHERE table_schema = 'public'";

void AddFacts(const std::string& db, const testing::DatabaseRef& ref,
              const std::vector<std::pair<std::string, std::string>>& rows, Facts& facts) {
  try {
    const bool file = ref.engine() == testing::Engine::kSqlite;
    for (const auto& o : Query(ref, file ? kSqliteObjects : kServerObjects)) {
      if (o[0] != "table") {
        facts[db + " " + o[0] + " " + o[1]] = o[2];
        continue;
      }
      facts[db + " rows " + o[1]] = Query(ref, "SELECT count(*) FROM \"" + o[1] + "\"")[0][0];
      for (const std::string& c : testing::ColumnsOf(ref, o[1])) {
        facts[db + " columns " + o[1]] += c + ",";
      }
    }
  } catch (const std::exception&) {
    facts[db + " unreadable"] = "yes";
    return;
  }
  for (const auto& [key, sql] : rows) {
    try {
      facts[key] = Joined(Query(ref, sql));
    } catch (const std::exception&) {
      facts[key] = "(cannot be read)";
    }
  }
}

std::string ValueOf(const Facts& facts, const std::string& key) {
  return facts.count(key) ? facts.at(key) : "(absent)";
}

Facts Union(Facts a, const Facts& b, const Facts& c = {}) {
  a.insert(b.begin(), b.end());
  a.insert(c.begin(), c.end());
  return a;
}

// The "main rows" facts each sample-data module changes, module by module.
const std::vector<Lines>& AreaTables() {
  static const std::vector<Lines> areas = [] {
    testing::ScopedTempDir dir;
    const Installation inst = Installation::LayOut(dir.path() / "inst");
    const auto connector =
        db::MakeDataSourceConnector(inst.odbcIni().string(), 1000, StandardErrorDiagnostics());
    const timezone::FixedClock clock(kRunTime);
    const sample_data::ModuleEnv env{*connector, clock, [](const std::string&) {}};
    std::vector<Lines> found;
    Facts before = FactsOf(inst);
    for (const setup::SampleDataStep& step : setup::StandardSteps().sampleData) {
      EXPECT_TRUE(step.insert(env, {"1", "qv_main", "admin", "quillmark", "1"})) << step.table;
      const Facts after = FactsOf(inst);
      Lines& tables = found.emplace_back();
      for (const auto& [key, value] : after) {
        if (key.rfind("main rows ", 0) == 0 && before[key] != value) tables.push_back(key);
      }
      before = after;
    }
    return found;
  }();
  return areas;
}

std::string Errno(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

// Runs `undo` when the last copy of the result goes.
Held OnRelease(std::function<void()> undo) {
  static char token;
  return Held(&token, [undo = std::move(undo)](void*) { undo(); });
}

bool SetDacCapabilities(bool on) {
  constexpr uint32_t kDac = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (::syscall(SYS_capget, &header, data) != 0) return false;
  data[0].effective =
      on ? data[0].effective | (data[0].permitted & kDac) : data[0].effective & ~kDac;
  return ::syscall(SYS_capset, &header, data) == 0;
}

}  // namespace

Facts FactsOf(const Installation& inst) {
  Facts facts;
  AddFacts("main", inst.mainDatabase(),
           {{"main EmailAdmin", "SELECT DefaultSMTPServer, DefaultPOPServer FROM EmailAdmin"},
            {"main Company 1", "SELECT CompanyName FROM Company WHERE CompanyID = 1"}},
           facts);
  AddFacts("security", inst.securityDatabase(),
           {{"security GlobalPref",
             "SELECT MainDir, StorageDir, MainURL, LanguageID, GMTTimeOffset FROM GlobalPref"},
            {"security Install", "SELECT InstallFlag FROM Install"},
            {"security Users formats", "SELECT DateFormat, TimeFormat FROM Users ORDER BY 1, 2"}},
           facts);
  const std::string f = inst.storageDir().string();
  for (auto& [key, value] : facts) {
    for (size_t at; (at = value.find(f)) != std::string::npos;) {
      value.replace(at, f.size(), "<storage>");
    }
  }
  return facts;
}

const Facts& CleanFacts(Installation::Kind kind, testing::Engine engine) {
  static std::map<std::pair<Installation::Kind, testing::Engine>, Facts> cache;
  Facts& facts = cache[{kind, engine}];
  if (facts.empty()) {
    testing::ScopedTempDir dir;
    const Installation inst =
        Installation::LayOut(dir.path() / "inst", kind, "Artisan's Guild", engine);
    RunInProcess(inst);
    facts = FactsOf(inst);
  }
  return facts;
}

// One line per fact of `after` that is neither as `before` nor as `clean`,
// and per transaction written in part: a sample-data area, the main tables'
// columns and indexes, the current views, the security table, and the four
// install-settings statements (in order: never a later without the earlier).
static Lines PartlyWritten(const Facts& before, const Facts& after, const Facts& clean) {
  std::map<std::string, char> state;  // '=' unchanged by a run, 'b' as before, 'c' as clean
  Lines faults;
  struct Unit {
    std::string name;
    Lines keys;
    bool ordered;  // a prefix of the keys changed, never a later key alone
  };
  std::vector<Unit> units = {
      {"install settings",
       {"security GlobalPref", "main EmailAdmin", "security Install", "main Company 1"},
       true},
      {"security table", {"security columns Users", "security Users formats"}, false},
      {"table alterations", {}, false},
      {"view re-creation", {}, false}};
  for (const auto& [key, unused] : Union(before, after, clean)) {
    const std::string b = ValueOf(before, key), a = ValueOf(after, key), c = ValueOf(clean, key);
    state[key] = a == b && a == c ? '=' : a == b ? 'b' : a == c ? 'c' : '!';
    if (state[key] == '!') {
      faults.push_back(key + " is neither as before (" + b + ") nor as after a clean run (" + c +
                       "): " + a);
    }
    if (key.rfind("main columns ", 0) == 0 || key.rfind("main index ", 0) == 0) {
      units[2].keys.push_back(key);
    }
    if (key.rfind("main view ", 0) == 0 && clean.count(key)) units[3].keys.push_back(key);
  }
  for (size_t i = 0; i < AreaTables().size(); ++i) {
    units.push_back({"sample-data area " + std::to_string(i + 1), AreaTables()[i], false});
  }
  for (const Unit& unit : units) {
    std::string changed, left;
    bool outOfOrder = false;
    for (const std::string& key : unit.keys) {
      if (state[key] == 'c') {
        changed += " " + key;
        outOfOrder |= !left.empty();
      } else if (state[key] == 'b') {
        left += " " + key;
      }
    }
    if (unit.ordered ? outOfOrder : !changed.empty() && !left.empty()) {
      faults.push_back(unit.name + " written in part: changed" + changed + "; left" + left);
    }
  }
  return faults;
}

std::string Integrity(const fs::path& dbFile) {
  try {
    return Query(dbFile, "PRAGMA integrity_check").at(0).at(0);
  } catch (const std::exception& e) {
    return e.what();
  }
}

Judge::Judge(const Installation& inst, Installation::Kind kind, fs::path root, Lines ownFacts)
    : inst_(inst),
      kind_(kind),
      root_(std::move(root)),
      ownFacts_(std::move(ownFacts)),
      before_(FactsOf(inst)),
      tree_(Tree(root_)) {}

Facts Judge::ExpectIntactAndWhole() const {
  const Facts after = FactsOf(inst_);
  for (const auto& [db, file] :
       {std::pair{"main", inst_.mainDb()}, {"security", inst_.securityDb()}}) {
    if (inst_.engine() != testing::Engine::kSqlite) break;  // files only
    EXPECT_TRUE(before_.count(db + std::string(" unreadable")) || Integrity(file) == "ok") << db;
    EXPECT_FALSE(fs::exists(file.string() + "-journal")) << "every transaction ended";
  }
  Facts before = before_, now = after, clean = CleanFacts(kind_, inst_.engine());
  for (const auto& [key, value] : before) {
    EXPECT_TRUE(now.count(key) || !clean.count(key)) << key << " is gone";
  }
  for (const std::string& key : ownFacts_) before.erase(key), now.erase(key), clean.erase(key);
  EXPECT_EQ(PartlyWritten(before, now, clean), Lines{});
  const std::string db = fs::relative(inst_.storageDir() / "db", root_).string() + "/";
  for (const std::string& path : Tree(root_)) {
    EXPECT_TRUE(tree_.count(path) || path == db + "qvsetup.lock" || path.rfind(db + "BACK", 0) == 0)
        << "written outside the db folder: " << path;
  }
  return after;
}

Lines RunInProcess(const Installation& inst, const Diagnostics* said) {
  ::setenv("TZ", kTimeZone, 1);  // every run of these tests
  ::tzset();
  struct : setup::MessageBoxes {
    void Show(const std::string& text) override { shown.push_back(text); }
    Lines shown;
  } boxes;
  testing::CapturedDiagnostics ignored;
  const Diagnostics& diagnostics = said != nullptr ? *said : ignored.diagnostics;
  setup::RegistryFileStore registry(inst.registryFile().string(), diagnostics);
  const auto connector = db::MakeDataSourceConnector(inst.odbcIni().string(), 25, diagnostics);
  const timezone::FixedClock clock(kRunTime);
  setup::PosixFileOps files(diagnostics);
  std::string commandLine;
  for (const std::string& arg : kFullRun) commandLine += (commandLine.empty() ? "" : " ") + arg;
  setup::RunSetup(commandLine, {boxes, registry, *connector, clock, files}, setup::StandardSteps());
  return boxes.shown;
}

Program::Program(const Lines& args, const fs::path& registryFile, const fs::path& odbcIni,
                 const fs::path& cwd, const std::string& program) {
  Lines strings = {std::string(QV_BINARY_DIR) + "/" + program};
  strings.insert(strings.end(), args.begin(), args.end());
  const size_t argc = strings.size();
  strings.insert(strings.end(),
                 {"QV_REGISTRY_FILE=" + registryFile.string(), "ODBCINI=" + odbcIni.string(),
                  "HOME=" + cwd.string(), std::string("TZ=") + kTimeZone, "PATH=/usr/bin:/bin"});
  // The server's address where the data sources leave it to libpq.
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::string(*entry).rfind("PG", 0) == 0) strings.push_back(*entry);
  }
  std::vector<char*> argv;  // the arguments, null, the environment, null
  for (std::string& s : strings) argv.push_back(s.data());
  argv.insert(argv.begin() + argc, nullptr);
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  const int flags = O_WRONLY | O_CREAT | O_TRUNC;
  posix_spawn_file_actions_addopen(&actions, 1, (outputs_.path() / "out").c_str(), flags, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, (outputs_.path() / "err").c_str(), flags, 0600);
  const int rc = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), &argv[argc + 1]);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + program + ": " + strerror(rc));
}

Program::~Program() {
  if (pid_ > 0) ::kill(pid_, SIGKILL), Wait();
}

bool Program::Ended() const {
  siginfo_t info{};
  return ::waitid(P_PID, pid_, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid_;
}

std::string Program::Err() const {
  return ReadBytes(outputs_.path() / "err");
}

Program::Outcome Program::Wait() {
  int status = -1;
  while (::waitpid(std::exchange(pid_, -1), &status, 0) < 0 && errno == EINTR) {
  }
  Outcome o{
      WIFEXITED(status) && WEXITSTATUS(status) == 0, ReadBytes(outputs_.path() / "out"), Err(), {}};
  std::istringstream in(o.out);
  std::string separator;  // text before the first box is a box no expectation matches
  for (std::string line; std::getline(in, line);) {
    if (line == "[QvSetup]" || o.boxes.empty()) {
      o.boxes.emplace_back();
      separator.clear();
    }
    if (line == "[QvSetup]") continue;
    o.boxes.back() += separator + line;
    separator = "\r\n";
  }
  return o;
}

std::set<std::string> Tree(const fs::path& dir) {
  std::set<std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    tree.insert(fs::relative(entry.path(), dir).string() + (entry.is_directory() ? "/" : ""));
  }
  return tree;
}

Held HoldDatabase(const fs::path& dbFile, Holder holder, std::string* why) {
  const char* begin = holder == Holder::kReader   ? "BEGIN; SELECT count(*) FROM sqlite_schema"
                      : holder == Holder::kWriter ? "BEGIN IMMEDIATE"
                                                  : "BEGIN EXCLUSIVE";
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(dbFile.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  Held held = OnRelease([db] { sqlite3_close_v2(db); });  // rolls back what is open
  if (rc != SQLITE_OK || sqlite3_exec(db, begin, nullptr, nullptr, nullptr) != SQLITE_OK) {
    return *why = "cannot lock " + dbFile.string() + ": " + sqlite3_errmsg(db), nullptr;
  }
  return held;
}

Held MountTmpfs(const fs::path& at, uint64_t bytes, std::string* why) {
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
  if (::mount("tmpfs", at.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
    return *why = Errno("cannot mount a tmpfs (needs root)"), nullptr;
  }
  return OnRelease([at] { ::umount2(at.c_str(), MNT_DETACH); });
}

Held MountReadOnly(const fs::path& at, std::string* why) {
  if (::mount(at.c_str(), at.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    return *why = Errno("cannot bind-mount (needs root)"), nullptr;
  }
  Held mount = OnRelease([at] { ::umount2(at.c_str(), MNT_DETACH); });
  if (::mount(nullptr, at.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
    return *why = Errno("cannot remount read-only"), nullptr;
  }
  return mount;
}

Held SetMode(const fs::path& path, fs::perms mode, std::string* why) {
  const fs::perms saved = fs::status(path).permissions();
  fs::permissions(path, mode);
  Held held = OnRelease([path, saved] {
    SetDacCapabilities(true);
    std::error_code ignored;
    fs::permissions(path, saved, ignored);
  });
  if (::geteuid() == 0 && !SetDacCapabilities(false)) {
    return *why = Errno("cannot leave CAP_DAC_OVERRIDE"), nullptr;
  }
  return held;
}

}  // namespace qv::reliability

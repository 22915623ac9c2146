// The switches of a run, the registry file, and whole runs on laid-out
// installations: end to end on both engines, and around stand-in steps.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/new_file.h"
#include "db/odbc_ini.h"
#include "setup/command_line.h"
#include "setup/file_ops.h"
#include "setup/message_boxes.h"
#include "setup/reg_op.h"
#include "setup/registry_file_store.h"
#include "setup/run_setup.h"
#include "setup/standard_steps.h"
#include "support/installation.h"
#include "support/scoped_temp_dir.h"
#include "timezone/clock.h"

namespace qv::setup {
namespace {

namespace fs = std::filesystem;
using Boxes = std::vector<std::string>;
using testing::Engine;
using testing::Installation;
using testing::ReadBytes;
using testing::ScopedTimeZone;
using testing::WriteBytes;

class CapturingMessageBoxes : public setup::MessageBoxes {
 public:
  void Show(const std::string& text) override { shown.push_back(text); }
  std::vector<std::string> shown;
};

// The options as one line: n= p= i= l= s= then the flags that are set.
std::string Describe(const CommandLine& c) {
  const SetupOptions& o = c.options;
  return "n=" + o.UserName + " p=" + o.DBPassword + " i=" + o.InitializeWord + " l=" + o.Language +
         " s=" + o.StationID + (o.DebugMode ? " d" : "") + (o.WithSampleData ? " a" : "") +
         (o.BackUpDatabases ? " b" : "") + (c.showHelp ? " ?" : "");
}

TEST(ParseCommandLineTest, SwitchesAsTheTableSays) {
  std::string nineteen;
  for (int i = 0; i < 19; ++i) nineteen += "x ";
  const std::pair<std::string, std::string> cases[] = {
      {"   \t ", "n= p= i= l= s="},
      {"/i\tInitialize\t/d \t /n\tsa", "n=sa p= i=Initialize l= s= d"},
      {"/n ab\"c d\"e /d", "n=abc de p= i= l= s= d"},  // a quote mid-word only switches quoting
      {"/n \"a b /d", "n=a b /d p= i= l= s="},         // an unclosed quote runs to the end
      {"/n \"\" /d", "n= p= i= l= s= d"},              // a lone pair is an empty argument
      {"/N sa /P pw /I Initialize /L 2 /S 7 /DEBUG /A /B", "n=sa p=pw i=Initialize l=2 s=7 d a b"},
      {"/n /d", "n=/d p= i= l= s= d"},   // a value is read as a switch too
      {"/l 2 /l 1", "n= p= i= l=1 s="},  // the last one wins
      {"/l 2 /l", "n= p= i= l=2 s="},    // standing last, keeps the old value
      {"/n \"setup admin\" /p \"a\tb\"", "n=setup admin p=a\tb i= l= s="},
      {"/debugx /nsa -d /a- x/b", "n= p= i= l= s="},     // only whole arguments match
      {"/d /? /i Initialize /a", "n= p= i= l= s= d ?"},  // help stops the scan
      {nineteen + "/d", "n= p= i= l= s= d"},             // the 20th argument counts
      {nineteen + "x /d", "n= p= i= l= s="},             // the 21st does not
      {nineteen + "/n sa", "n= p= i= l= s="},            // the 20th has no value to take
  };
  for (const auto& [line, expected] : cases) {
    EXPECT_EQ(Describe(ParseCommandLine(line)), expected) << line;
  }
}

constexpr const char kProduct[] = "SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion";
const std::string kKey = std::string("[HKEY_LOCAL_MACHINE\\") + kProduct + "]\n";
const std::string kSample = "Windows Registry Editor Version 5.00\n\n; written by the installer\n" +
                            kKey +
                            "\"StorageDir\"=\"D:\\\\GroupData\"\n"
                            "\"CompanyName\"=\"Say \\\"hi\\\" \\\\ bye\"\n"
                            "@=\"default\"\n"
                            "\"Blob\"=hex:01,02,\\\n  03,04\n"
                            "\"Kanji\"=\"日本語\"\n"
                            "\n[HKEY_CURRENT_USER\\Software\\Other]\n"
                            "\"StorageDir\"=\"elsewhere\"\n";
const std::string kError = "エラーで終了";

// UTF-16LE after a byte-order mark, as the registry editor exports a file.
std::string Utf16File(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}
const std::u16string kUtf16Key = std::u16string(kKey.begin(), kKey.end() - 1) + u"\r\n";

struct Op {
  int16_t flag;
  int32_t root;
  std::string subKey, name = "", data = "";
};
Op R(const std::string& name) {
  return {kRegRead, kHkeyLocalMachine, kProduct, name};
}

class RegistryFileStoreTest : public ::testing::Test {
 protected:
  std::string path() const { return (dir_.path() / file_).string(); }

  // Runs `op` on a fresh store, as a new run would open the file.
  std::string Run(const Op& op) {
    RegistryFileStore store(path(), said_);
    return RunOn(store, op);
  }
  static std::string RunOn(RegistryStore& store, const Op& op) {
    clsRegOp reg(store);
    reg.RootKey = op.root;
    reg.SubKey = op.subKey;
    reg.ValueName = op.name;
    reg.ValueData = op.data;
    reg.Flag = op.flag;
    return reg.RegistOperation();
  }

  testing::ScopedTempDir dir_;
  std::string file_ = "registry.reg";
  std::ostringstream diagnostics_;
  const Diagnostics said_{diagnostics_};
};

TEST_F(RegistryFileStoreTest, OperationsThatLeaveTheFileAsItWas) {
  const struct {
    std::string file;
    Op op;
    std::string expected;
  } cases[] = {
      {kSample, R("CompanyName"), "Say \"hi\" \\ bye"},
      {kSample, R(""), "default"},
      {kSample, R("Blob"), "hex:01,02,03,04"},
      {kSample, R("Missing"), ""},
      {kSample,
       {kRegRead, kHkeyCurrentUser, "software\\other", "storagedir"},
       "elsewhere"},  // any case
      {kSample, {kRegRead, kHkeyLocalMachine, "SOFTWARE\\Tavolent", "x"}, kRegNoKey},
      {kSample, {kRegWrite, kHkeyLocalMachine, "SOFTWARE\\Nothing", "x", "y"}, kRegNoKey},
      {kSample, {kRegWrite, kHkeyCurrentUser, "Software\\Other", "A", "two\nlines"}, kError},
      {kSample, {kRegCreate, 0, "SOFTWARE\\X"}, kError},
      {kSample, {kRegCreate, 0, ""}, "2: Ilegal Data"},
      {kSample, {kRegDelete, kHkeyLocalMachine, "SOFTWARE\\Tavolent Inc."}, kError},
      {kSample, {kRegDelete, kHkeyLocalMachine, ""}, kError},
      {kSample, {4, 0, ""}, kRegSuccess},  // unknown operations do nothing
      {"\xEF\xBB\xBFREGEDIT4\r\n\r\n" + kKey.substr(0, kKey.size() - 1) +
           "\r\n\"MainURL\"=\"http://qv/\"\r\n",
       R("MainURL"), "http://qv/"},
      {kKey + "\"MainDir\"=\"first\"\n\"MainDir\"=-\n", R("MainDir"), ""},  // a deletion mark
      {Utf16File(kUtf16Key + u"\"CompanyName\"=\"株式会社𠮷野\"\r\n"), R("CompanyName"),
       "株式会社𠮷野"},  // a character outside the BMP, from a surrogate pair
  };
  for (const auto& c : cases) {
    WriteBytes(path(), c.file);
    EXPECT_EQ(Run(c.op), c.expected) << c.op.flag << " " << c.op.subKey << " " << c.op.name;
    EXPECT_EQ(ReadBytes(path()), c.file) << c.op.subKey << " " << c.op.name;
  }
  fs::remove(path());
  EXPECT_EQ(Run(R("StorageDir")), kRegNoKey) << "a missing file is an empty registry";
  EXPECT_EQ(Run({kRegWrite, kHkeyLocalMachine, "SOFTWARE", "a", "b"}), kRegNoKey);
  EXPECT_FALSE(fs::exists(path()));
  RegistryFileStore named(path(), said_, true);  // said once, only of a file named
  EXPECT_EQ(RunOn(named, R("StorageDir")) + RunOn(named, R("MainDir")), "1: No Key1: No Key");
  EXPECT_EQ(diagnostics_.str(), "qvsetup: the registry file " + path() +
                                    " named by QV_REGISTRY_FILE does not exist: every setting "
                                    "reads as missing\n");
  diagnostics_.str("");
  file_ = "missing/registry.reg";  // nothing can be created, nothing is remembered
  EXPECT_EQ(Run({kRegCreate, kHkeyUsers, "New"}), kError);
  EXPECT_EQ(Run({kRegRead, kHkeyUsers, "New", "x"}), kRegNoKey);
  EXPECT_EQ(diagnostics_.str(), "");
}

TEST_F(RegistryFileStoreTest, UnusableFilesFailEveryOperationWithOneDiagnostic) {
  const std::pair<std::string, std::string> cases[] = {
      {"REGEDIT4\n\"StorageDir\"=\"x\"\n", ":2: value line outside any key"},
      {kKey + "\"StorageDir\"=\"D:\\\\Group", ":2: value without closing quote"},
      {"[HKEY_NOWHERE\\SOFTWARE]\n", ":1: unknown root key \"HKEY_NOWHERE\""},
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\\\x]\n", ":1: empty key name in the key path"},
      {kKey + "\"Name\"=\"caf\xE9\"\n", ":2: text is not valid UTF-8"},
      {kKey + "\"Blob\"=hex:01,\\\n", ":2: value continued past the end of the file"},
      {"\x7F" + std::string("ELF\x02\x01\x01\0\0\0\0\n", 11),
       ":1: line is neither a key, a value nor a comment"},
      {std::string("\xFF\xFE[\0H\0]", 7), ":1: text is not valid UTF-16"},  // an odd byte count
      {Utf16File(u"[HKEY_USERS\\K]\r\n\"A\"=\"") + std::string("\x00\xD8", 2) +
           Utf16File(u"x\"").substr(2),
       ":2: text is not valid UTF-16"},  // a high surrogate alone
      {"[HKEY_LOCAL_MACHINE\\A]\n\"Name\"=\"" + std::string(8 * 1024 * 1024, 'x'),
       ":2: value without closing quote"},  // refused, not hung
      {"<fifo>", ": not a regular file"},
      {"<4 GiB>", ": file too large for a registry file"},  // sparse: refused before it is read
  };
  for (const auto& [content, diagnostic] : cases) {
    SCOPED_TRACE(diagnostic);
    fs::remove(path());
    ASSERT_TRUE(content != "<fifo>" || ::mkfifo(path().c_str(), 0600) == 0);
    if (content != "<fifo>") WriteBytes(path(), content == "<4 GiB>" ? "" : content);
    if (content == "<4 GiB>") fs::resize_file(path(), 1ull << 32);
    diagnostics_.str("");
    RegistryFileStore store(path(), said_);
    EXPECT_EQ(RunOn(store, R("StorageDir")), kRegUnexpectedError);
    EXPECT_EQ(RunOn(store, {kRegCreate, kHkeyUsers, "New"}), kRegUnexpectedError);
    EXPECT_EQ(diagnostics_.str(), "qvsetup: " + path() + diagnostic + "\n") << "one line";
    EXPECT_TRUE(content[0] == '<' || ReadBytes(path()) == content) << "never rewritten";
  }
}

// A write puts a new file in place of the old one (through a link to it),
// with the old file's mode, encoding and line ends and every other line.
TEST_F(RegistryFileStoreTest, WritesRewriteAtomicallyKeepingEveryOtherLine) {
  EXPECT_EQ(Run({kRegCreate, kHkeyLocalMachine, kProduct}), kRegSuccess);
  EXPECT_EQ(ReadBytes(path()), "Windows Registry Editor Version 5.00\n\n" + kKey);
  EXPECT_EQ(Run(R("StorageDir")), "") << "the key exists, the value does not";

  const std::string real = (dir_.path() / "real.reg").string();
  WriteBytes(real, kSample);
  fs::remove(path());
  fs::create_symlink(real, path());
  fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  struct stat before {};
  ASSERT_EQ(::stat(real.c_str(), &before), 0);
  EXPECT_EQ(Run({kRegWrite, kHkeyLocalMachine, kProduct, "storagedir", "E:\\Data \"new\""}),
            kRegSuccess);
  struct stat after {};
  ASSERT_EQ(::stat(real.c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino) << "a new file renamed into place";
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_TRUE(fs::is_symlink(path()));
  EXPECT_EQ(Run({kRegWrite, kHkeyLocalMachine, kProduct, "MainDir", "/opt/quorvia"}), kRegSuccess);
  EXPECT_EQ(Run({kRegWrite, kHkeyCurrentUser, "Software\\Other", "", "dflt"}), kRegSuccess);
  EXPECT_EQ(Run({kRegCreate, kHkeyUsers, "New"}), kRegSuccess);
  std::string written = kSample;
  const std::string oldDir = "D:\\\\GroupData";
  written.replace(written.find(oldDir), oldDir.size(), "E:\\\\Data \\\"new\\\"");
  written.insert(written.find("\n\n[HKEY_CURRENT_USER") + 1, "\"MainDir\"=\"/opt/quorvia\"\n");
  written += "@=\"dflt\"\n\n[HKEY_USERS\\New]\n";  // a new key after the last, a blank line before
  EXPECT_EQ(ReadBytes(real), written);
  EXPECT_EQ(Run(R("StorageDir")), "E:\\Data \"new\"");

  // A string ends at its first null; a key with sub keys stays, a leaf goes.
  EXPECT_EQ(Run({kRegWrite, kHkeyUsers, "New", "A", std::string("ab\0cd", 5)}), kRegSuccess);
  EXPECT_EQ(Run({kRegRead, kHkeyUsers, "New", "A", ""}), "ab");
  EXPECT_EQ(Run({kRegCreate, kHkeyLocalMachine, "software\\tavolent inc."}), kRegSuccess);
  EXPECT_EQ(Run({kRegDelete, kHkeyLocalMachine, kProduct}), kRegSuccess);
  EXPECT_EQ(Run(R("StorageDir")), kRegNoKey);
  EXPECT_EQ(Run({kRegRead, kHkeyLocalMachine, "SOFTWARE\\Tavolent Inc.\\Quorvia", "x"}), "");
  EXPECT_EQ(ReadBytes(real).find("Kanji"), std::string::npos);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), {}), 2) << "no temporary file left";

  const std::u16string head = u"Windows Registry Editor Version 5.00\r\n\r\n" + kUtf16Key;
  const std::u16string other = u"\r\n[HKEY_CURRENT_USER\\Software\\Other]\r\n\"N\"=\"日本語\"\r\n";
  WriteBytes(real, Utf16File(head + other));
  EXPECT_EQ(Run({kRegWrite, kHkeyLocalMachine, kProduct, "CompanyName", "株式会社𠮷野"}),
            kRegSuccess);
  EXPECT_EQ(ReadBytes(real), Utf16File(head + u"\"CompanyName\"=\"株式会社𠮷野\"\r\n" + other));
  EXPECT_EQ(Run(R("CompanyName")), "株式会社𠮷野");
}

const std::string kArea = "Insert sample date for ";
const std::string kSummary =
    "UserName: admin\r\nDBPassword: quillmark\r\nLanguage: 1\r\nStationID: ";

// `boxes` followed by those of four migration steps that all went well.
Boxes WithMigration(Boxes boxes) {
  for (const char* step :
       {"Alter Tables: ", "Drop Views: ", "Alter the security table: ", "Alter the views: "})
    boxes.push_back(std::string(step) + "The task completed.");
  return boxes;
}

class RunFixture : public ::testing::Test {
 protected:
  void LayOut(Engine engine) {
    installation_ = std::make_unique<Installation>(Installation::LayOut(
        dir_.path() / "inst", Installation::Kind::kFresh, "Artisan's Guild", engine));
    connector_ = db::MakeDataSourceConnector(installation_->odbcIni().string(), 0, said_);
  }

  Boxes RunLine(const std::string& commandLine, const SetupSteps& steps = StandardSteps(),
                const timezone::Clock* clock = nullptr) {
    RegistryFileStore registry(installation_->registryFile().string(), said_);
    CapturingMessageBoxes boxes;
    PosixFileOps files(said_);
    const SetupEdges edges{boxes, registry, *connector_, clock ? *clock : clock_, files};
    RunSetup(commandLine, edges, steps);
    return boxes.shown;
  }

  std::string Main(const std::string& sql) {
    return testing::QueryValue(installation_->mainDatabase(), sql);
  }
  std::string Security(const std::string& sql) {
    return testing::QueryValue(installation_->securityDatabase(), sql);
  }

  testing::ScopedTempDir dir_;
  ScopedTimeZone tz_{"Asia/Tokyo"};
  timezone::FixedClock clock_{1704196800};  // 2024-01-02 12:00 GMT, 21:00 in Tokyo
  std::unique_ptr<Installation> installation_;
  std::unique_ptr<db::Connector> connector_;
  std::ostringstream diagnostics_;
  const Diagnostics said_{diagnostics_};
};

class EndToEndTest : public RunFixture, public ::testing::WithParamInterface<Engine> {
 protected:
  void SetUp() override {
    QV_SKIP_UNTESTED_ENGINE(GetParam());
    LayOut(GetParam());
  }

  // Everything the four install-settings statements write, in their order.
  std::string Settings() {
    return Security(
               "SELECT MainDir || '|' || StorageDir || '|' || MainURL || '|' || "
               "LanguageID || '|' || GMTTimeOffset FROM GlobalPref") +
           " / " + Main("SELECT DefaultSMTPServer || '|' || DefaultPOPServer FROM EmailAdmin") +
           " / " + Security("SELECT InstallFlag FROM Install") + " / " +
           Main(
               "SELECT group_concat(CompanyName, ',') FROM (SELECT CompanyName FROM Company "
               "ORDER BY CompanyID) AS c");
  }
};

TEST_P(EndToEndTest, InstallSettingsReachBothDatabasesAndTwiceEqualsOnce) {
  const std::string dir = installation_->storageDir().string();
  const std::string registry = ReadBytes(installation_->registryFile());
  const std::string full =
      dir + "/program|" + dir +
      "|http://localhost/quorvia/|2|9 / smtp.example.com|pop.example.com / 1 / "
      "Artisan's Guild";
  const std::string noKey =
      "1: No Key|1: No Key|1: No Key|2|9 / 1: No Key|1: No Key / 1 / 1: No Key";
  const std::string others = ",Private Contacts,Unassigned Contacts";
  // Without the product key each value is written as the read gave it.
  const std::pair<std::string, std::string> cases[] = {{registry, full}, {"REGEDIT4\n", noKey}};
  for (const auto& [registryText, settings] : cases) {
    WriteBytes(installation_->registryFile(), registryText);
    for (int run = 0; run < 2; ++run) {
      EXPECT_EQ(RunLine("/i Initialize /l 2"), Boxes{}) << registryText;
      EXPECT_EQ(Settings(), settings + others) << registryText;
    }
  }

  // Statement 2 fails: statement 1 stays committed, 3 and 4 never run.
  WriteBytes(installation_->registryFile(), registry);
  testing::Exec(installation_->mainDatabase(), "DROP TABLE EmailAdmin");
  testing::Exec(installation_->securityDatabase(), "UPDATE Install SET InstallFlag = 0");
  const Boxes boxes = RunLine("/i Initialize /d");
  ASSERT_GE(boxes.size(), 2u);
  EXPECT_TRUE(std::regex_match(boxes[0], std::regex("-?[0-9]+ :.*EmailAdmin.*", std::regex::icase)))
      << boxes[0];
  EXPECT_EQ(boxes[1], "False");
  EXPECT_EQ(Security("SELECT MainDir || '|' || LanguageID FROM GlobalPref"), dir + "/program|1");
  EXPECT_EQ(Security("SELECT InstallFlag FROM Install"), "0");
  EXPECT_EQ(Main("SELECT CompanyName FROM Company WHERE CompanyID = 1"), "1: No Key");
}

QV_ON_BOTH_ENGINES(EndToEndTest);

// Stand-in steps, by index: 0 to 7 the sample-data modules, 8 to 11 the
// migration steps.
struct StepScript {
  std::vector<int> called;
  sample_data::SampleArgs args;
  std::set<int> failing;
  int raising = -1;
};
StepScript* g_script = nullptr;

bool Called(int i) {
  g_script->called.push_back(i);
  if (g_script->raising == i) throw std::runtime_error("raised");
  return g_script->failing.count(i) == 0;
}

template <size_t I>
bool FakeModule(const sample_data::ModuleEnv& env, const sample_data::SampleArgs& args) {
  g_script->args = args;
  if (I == 1 && g_script->failing.count(I)) env.showBox("Schedule's own failure box");
  return Called(I);
}

template <size_t I>
bool FakeMigration(db::Connector&, std::string& stepMessage) {
  const bool ok = Called(8 + I);
  if (!ok) stepMessage = "Failed: step " + std::to_string(8 + I);
  if (ok && I == 0) stepMessage = "The task completed.";
  return ok;
}

// The real table of steps with the stand-ins in place of the steps.
template <size_t... I>
SetupSteps StandIns(std::index_sequence<I...>) {
  SetupSteps steps = StandardSteps();
  ((steps.sampleData.at(I).insert = FakeModule<I>), ...);
  ((steps.migration.at(I % 4).run = FakeMigration<I % 4>), ...);
  return steps;
}
const SetupSteps kFakeSteps = StandIns(std::make_index_sequence<8>());

class RunFrameTest : public RunFixture {
 protected:
  void SetUp() override {
    LayOut(Engine::kSqlite);
    g_script = &script_;
  }
  Boxes RunFake(const std::string& commandLine) {
    script_.called.clear();
    return RunLine(commandLine, kFakeSteps);
  }

  StepScript script_;
};

TEST_F(RunFrameTest, BoxesShowInDebugModeOrForFailuresAndTheRunGoesOn) {
  EXPECT_EQ(RunFake("/? /i Initialize /d").size(), 1u) << "only the help";
  EXPECT_TRUE(script_.called.empty());

  EXPECT_EQ(RunFake("/i Initialize"), Boxes{});
  EXPECT_EQ(script_.called, (std::vector<int>{8, 9, 10, 11}));
  EXPECT_EQ(RunFake("/I INITIALIZE /debug /p \"\" /s 4"), WithMigration({kSummary + "4"}));

  // Wrong credentials fail the install settings (two boxes, in debug mode
  // only) and every key lookup, which lets each module run.
  const Boxes failed = RunFake("/i Initialize /n u /p pw /a /d /l 2 /s 9");
  ASSERT_EQ(failed.size(), 2u + 1 + 8 + 4);
  EXPECT_EQ(failed[2], "UserName: u\r\nDBPassword: pw\r\nLanguage: 2\r\nStationID: 9");
  const sample_data::SampleArgs& a = script_.args;
  EXPECT_EQ(a.language + a.dataSource + a.userName + a.password + a.stationId, "2qv_mainupw9");

  // Only empty areas get sample data; a module that raised failed.
  testing::Exec(installation_->mainDb(), "INSERT INTO ScheduleEvent (EventID) VALUES (1)");
  testing::Exec(installation_->mainDb(), "INSERT INTO Company (CompanyID) VALUES (4)");
  script_.failing = {3};
  script_.raising = 2;
  EXPECT_EQ(RunFake("/i Initialize /a /d"),
            WithMigration({kSummary + "1", kArea + "Announcement: False", kArea + "ToDo: False",
                           kArea + "Forum: True", kArea + "Project: True", kArea + "Resource: True",
                           kArea + "Document: True"}));

  // Outside debug mode: a module's own box, and every failing migration
  // step, which shows what the last writer left in the step message.
  testing::Exec(installation_->mainDb(), "DELETE FROM ScheduleEvent");
  script_.failing = {1, 9};
  script_.raising = 10;
  EXPECT_EQ(RunFake("/i Initialize /a"),
            (Boxes{"Schedule's own failure box", "Drop Views: Failed: step 9",
                   "Alter the security table: Failed: step 9"}));
  EXPECT_EQ(script_.called.size(), 7u + 4);
}

// The backup copies next to the lock: a copy is never overwritten, a link
// is not followed, and a log's changes are in it.
TEST_F(RunFrameTest, BackupsAndTheRunLockFollowNoLinkAndARunGoesOnWithoutALock) {
  const std::string main = ReadBytes(installation_->mainDb());
  const fs::path lock = installation_->storageDir() / "db/qvsetup.lock";
  const fs::path victim = dir_.path() / "victim";
  const fs::path backup = installation_->storageDir() / "db/BACK20240102-210000";
  EXPECT_EQ(RunFake("/i Initialize /a /b"), Boxes{});
  EXPECT_EQ(ReadBytes(backup / "qv_main.mdb"), main) << "copied before the settings";
  fs::create_symlink(victim, dir_.path() / "link");
  EXPECT_FALSE(CopyToNewFile(installation_->mainDb(), dir_.str() + "/link"));

  // A lock file an earlier run left is kept as it is.
  WriteBytes(lock, "left");
  EXPECT_EQ(RunFake("/i Initialize /a"), Boxes{});
  EXPECT_EQ(ReadBytes(lock), "left");

  // What cannot be locked is left alone, and the run does all it would do.
  const std::string missing = (dir_.path() / "no-db").string();
  const std::string registry = installation_->registryFile().string();
  const std::string original = ReadBytes(registry);
  diagnostics_.str("");  // a lock file that cannot be made is said once
  for (const std::string storage : {"<FIFO>", "<link>", "relative", missing.c_str()}) {
    fs::remove_all(lock);
    ASSERT_TRUE(storage != "<FIFO>" || ::mkfifo(lock.c_str(), 0600) == 0);
    if (storage == "<link>") fs::create_symlink(victim, lock);
    if (storage[0] != '<') {
      const std::string value = "\"StorageDir\"=\"" + storage + "\"";
      WriteBytes(registry,
                 std::regex_replace(original, std::regex("\"StorageDir\"=\"[^\"]*\""), value));
    }
    EXPECT_EQ(RunFake("/i Initialize /a"), Boxes{}) << storage;
    EXPECT_EQ(script_.called.size(), 12u) << storage;
    const std::string said = diagnostics_.str();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), storage == "relative" ? 0 : 1) << storage;
    diagnostics_.str("");
  }
  EXPECT_FALSE(fs::exists(victim)) << "a link is not followed";
  EXPECT_FALSE(fs::exists(missing)) << "no folder is made for the lock";

  WriteBytes(registry, original);
  // Two backups on the system clock, very likely within one second, while an
  // application holds changes in the log: both kept, each whole on its own.
  const auto holder = connector_->Open("qv_main", "admin", "quillmark");
  for (const char* sql : {"PRAGMA journal_mode = WAL", "CREATE TABLE Added AS SELECT 4 AS X",
                          "INSERT INTO Company (CompanyID, CompanyName) VALUES (4, 'Added')"})
    holder->Execute(sql);
  const timezone::SystemClock now;
  for (int i = 0; i < 2; ++i) RunLine("/i Initialize /b", kFakeSteps, &now);
  std::multiset<std::string> copies;
  for (const auto& folder : fs::directory_iterator(installation_->storageDir() / "db")) {
    if (folder.path().filename().string().rfind("BACK", 0) != 0 || folder.path() == backup)
      continue;
    for (const auto& file : fs::directory_iterator(folder)) copies.insert(file.path().filename());
    const fs::path alone = dir_.path() / folder.path().filename();
    fs::rename(folder.path() / "qv_main.mdb", alone);
    EXPECT_EQ(fs::status(alone).permissions(), fs::status(installation_->mainDb()).permissions());
    EXPECT_EQ(testing::QueryValue(alone,
                                  "SELECT CompanyName || X || integrity_check FROM Company, "
                                  "Added, pragma_integrity_check WHERE CompanyID = X"),
              "Added4ok");
  }
  EXPECT_EQ(copies, (std::multiset<std::string>{"qv_main.mdb", "qv_main.mdb", "qv_security.mdb",
                                                "qv_security.mdb"}));
  EXPECT_EQ(testing::QueryValue(installation_->mainDb(), "PRAGMA journal_mode"), "wal");
}

}  // namespace
}  // namespace qv::setup

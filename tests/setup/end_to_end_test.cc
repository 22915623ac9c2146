// The switches of a run, and whole runs on laid-out installations: end to
// end on both engines, and the run's frame around stand-in steps.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "db/data_source.h"
#include "fakes.h"
#include "setup/command_line.h"
#include "setup/file_ops.h"
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
      {"/n /d", "n=/d p= i= l= s= d"},  // a value is read as a switch too
      {"/I INITIALIZE", "n= p= i=INITIALIZE l= s="},
      {"/l 2 /l 1", "n= p= i= l=1 s="},  // the last one wins
      {"/l 2 /l", "n= p= i= l=2 s="},    // standing last, keeps the old value
      {"/n \"setup admin\" /p \"a\tb\"", "n=setup admin p=a\tb i= l= s="},
      {"/debugx /nsa -d /a- x/b", "n= p= i= l= s="},     // only whole arguments match
      {"/d /? /i Initialize /a", "n= p= i= l= s= d ?"},  // help stops the scan
      {"/n -?", "n=-? p= i= l= s= ?"},
      {nineteen + "/d", "n= p= i= l= s= d"},   // the 20th argument counts
      {nineteen + "x /d", "n= p= i= l= s="},   // the 21st does not
      {nineteen + "/n sa", "n= p= i= l= s="},  // the 20th has no value to take
  };
  for (const auto& [line, expected] : cases) {
    EXPECT_EQ(Describe(ParseCommandLine(line)), expected) << line;
  }
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
    connector_ = db::MakeDataSourceConnector(installation_->odbcIni().string(), 0);
  }

  Boxes RunLine(const std::string& commandLine, const SetupSteps& steps = StandardSteps()) {
    RegistryFileStore registry(installation_->registryFile().string(), diagnostics_);
    testing::CapturingMessageBoxes boxes;
    PosixFileOps files;
    RunSetup(commandLine, SetupEdges{boxes, registry, *connector_, clock_, files}, steps);
    return boxes.shown;
  }

  std::string Main(const std::string& sql) {
    return testing::QueryValue(installation_->mainDatabase(), sql);
  }
  std::string Security(const std::string& sql) {
    return testing::QueryValue(installation_->securityDatabase(), sql);
  }

  testing::ScopedTempDir dir_;
  testing::ScopedTimeZone tz_{"Asia/Tokyo"};
  timezone::FixedClock clock_{1704196800};  // 2024-01-02 12:00 GMT, 21:00 in Tokyo
  std::unique_ptr<Installation> installation_;
  std::unique_ptr<db::Connector> connector_;
  std::ostringstream diagnostics_;
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
  const std::string registry = testing::ReadFileBytes(installation_->registryFile());
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
    testing::WriteFileBytes(installation_->registryFile(), registryText);
    for (int run = 0; run < 2; ++run) {
      EXPECT_EQ(RunLine("/i Initialize /l 2"), Boxes{}) << registryText;
      EXPECT_EQ(Settings(), settings + others) << registryText;
    }
  }
  EXPECT_EQ(RunLine("/i Initialize /l English"), Boxes{}) << "a language that is no number";
  EXPECT_EQ(Settings(), noKey + others);

  // Statement 2 fails: statement 1 stays committed, 3 and 4 never run.
  testing::WriteFileBytes(installation_->registryFile(), registry);
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

INSTANTIATE_TEST_SUITE_P(Engines, EndToEndTest, ::testing::ValuesIn(testing::kEngines),
                         testing::EngineName);

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
  EXPECT_EQ(RunFake("/i Initialize /n sa"), Boxes{});
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

// The backup copies next to the lock: a copy is never overwritten and a
// link is not followed.
TEST_F(RunFrameTest, BackupsAndTheRunLockFollowNoLinkAndARunGoesOnWithoutALock) {
  const std::string main = testing::ReadFileBytes(installation_->mainDb());
  const fs::path lock = installation_->storageDir() / "db/qvsetup.lock";
  const fs::path victim = dir_.path() / "victim";
  const fs::path backup = installation_->storageDir() / "db/BACK20240102-210000";
  EXPECT_EQ(RunFake("/i Initialize /a /b"), Boxes{});
  EXPECT_EQ(testing::ReadFileBytes(backup / "qv_main.mdb"), main) << "copied before the settings";
  EXPECT_TRUE(fs::exists(backup / "qv_security.mdb"));

  // A lock file an earlier run left is kept as it is.
  testing::WriteFileBytes(lock, "left");
  fs::remove(backup / "qv_security.mdb");
  fs::create_symlink(victim, backup / "qv_security.mdb");
  EXPECT_EQ(RunFake("/i Initialize /a /b"), Boxes{});
  EXPECT_EQ(testing::ReadFileBytes(lock), "left");
  EXPECT_EQ(testing::ReadFileBytes(backup / "qv_main.mdb"), main);

  // What cannot be locked is left alone, and the run does all it would do.
  const std::string missing = (dir_.path() / "no-db").string();
  const std::string registry = installation_->registryFile().string();
  const std::string original = testing::ReadFileBytes(registry);
  for (const std::string storage : {"<FIFO>", "<link>", "relative", missing.c_str()}) {
    fs::remove_all(lock);
    ASSERT_TRUE(storage != "<FIFO>" || ::mkfifo(lock.c_str(), 0600) == 0);
    if (storage == "<link>") fs::create_symlink(victim, lock);
    if (storage[0] != '<') {
      const std::string value = "\"StorageDir\"=\"" + storage + "\"";
      testing::WriteFileBytes(
          registry, std::regex_replace(original, std::regex("\"StorageDir\"=\"[^\"]*\""), value));
    }
    EXPECT_EQ(RunFake("/i Initialize /a"), Boxes{}) << storage;
    EXPECT_EQ(script_.called.size(), 12u) << storage;
  }
  EXPECT_FALSE(fs::exists(victim)) << "a link is not followed";
  EXPECT_FALSE(fs::exists(missing)) << "no folder is made for the lock";
}

}  // namespace
}  // namespace qv::setup

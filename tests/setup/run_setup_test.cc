#include "setup/run_setup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "fakes.h"
#include "setup/command_line.h"
#include "setup/registry_file_store.h"
#include "support/scoped_temp_dir.h"
#include "timezone/clock.h"

namespace qv::setup {
namespace {

namespace fs = std::filesystem;
using Boxes = std::vector<std::string>;
using Names = std::vector<std::string>;

// What the fake steps were asked to do, and what they answer.
struct StepRecorder {
  Names calls;
  std::vector<sample_data::SampleArgs> args;
  bool moduleResults[8] = {true, true, true, true, true, true, true, true};
  int raisingModule = -1;
  bool migrationResults[4] = {true, true, true, true};
  int raisingMigration = -1;
  const char* migrationMessages[4] = {"The task completed.", nullptr, nullptr, nullptr};
  const testing::CountingFileOps* files = nullptr;
  std::vector<int> locksHeld;  // at each step call
};
StepRecorder* g_recorder = nullptr;

const char* const kModuleNames[] = {"Contact", "Schedule", "Announcement", "ToDo",
                                    "Forum",   "ProjectM", "Resource",     "Document"};
const char* const kMigrationNames[] = {"AlterTables", "DropViews", "AlterSecurityTable",
                                       "AlterViews"};

template <int I>
bool FakeModule(const sample_data::ModuleEnv& env, const sample_data::SampleArgs& args) {
  g_recorder->calls.push_back(kModuleNames[I]);
  g_recorder->locksHeld.push_back(g_recorder->files->held);
  g_recorder->args.push_back(args);
  if (g_recorder->raisingModule == I) throw std::runtime_error("module raised");
  if (!g_recorder->moduleResults[I] && I == 1) env.showBox("Schedule's own failure box");
  return g_recorder->moduleResults[I];
}

template <int I>
bool FakeMigration(db::Connector&, std::string& stepMessage) {
  g_recorder->calls.push_back(kMigrationNames[I]);
  g_recorder->locksHeld.push_back(g_recorder->files->held);
  if (g_recorder->raisingMigration == I) throw db::DbError(3704, "raised");
  if (g_recorder->migrationMessages[I] != nullptr) stepMessage = g_recorder->migrationMessages[I];
  return g_recorder->migrationResults[I];
}

const SetupSteps& FakeSteps() {
  static const SetupSteps steps{
      {
          {"Company", "CompanyID", "Insert sample date for Contact: ", FakeModule<0>},
          {"ScheduleEvent", "EventID", "Insert sample date for Scheduler: ", FakeModule<1>},
          {"AnnounceEvent", "EventID", "Insert sample date for Announcement: ", FakeModule<2>},
          {"ToDoEvent", "EventID", "Insert sample date for ToDo: ", FakeModule<3>},
          {"ForumEvent", "EventID", "Insert sample date for Forum: ", FakeModule<4>},
          {"ProjectEvent", "EventID", "Insert sample date for Project: ", FakeModule<5>},
          {"ResourceEvent", "EventID", "Insert sample date for Resource: ", FakeModule<6>},
          {"DocEvent", "EventID", "Insert sample date for Document: ", FakeModule<7>},
      },
      {
          {"Alter Tables: ", FakeMigration<0>},
          {"Drop Views: ", FakeMigration<1>},
          {"Alter the security table: ", FakeMigration<2>},
          {"Alter the views: ", FakeMigration<3>},
      },
  };
  return steps;
}

const Names kMigrations(std::begin(kMigrationNames), std::end(kMigrationNames));
const Boxes kMigrationBoxes = {
    "Alter Tables: The task completed.", "Drop Views: The task completed.",
    "Alter the security table: The task completed.", "Alter the views: The task completed."};

// Notes whether the run lock was held when the backup began.
class BackupWatchingFileOps : public testing::CountingFileOps {
 public:
  bool CreateDirectory(const std::string& path) override {
    locksHeldAtBackup = held;
    return CountingFileOps::CreateDirectory(path);
  }
  int locksHeldAtBackup = -1;
};

class RunSetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_recorder = &recorder_;
    recorder_.files = &files_;
    storage_ = dir_.path() / "storage";
    fs::create_directories(storage_ / "db");
    WriteRegistry("\"StorageDir\"=\"" + storage_.string() + "\"\n\"CompanyName\"=\"Acme\"\n");
  }
  void TearDown() override { g_recorder = nullptr; }

  void WriteRegistry(const std::string& afterHeader, bool withKey = true) {
    testing::WriteFileBytes(
        registryPath(),
        std::string("REGEDIT4\n") +
            (withKey ? "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion]\n"
                     : "") +
            afterHeader);
  }
  std::string registryPath() const { return (dir_.path() / "registry.reg").string(); }

  void Run(const std::string& commandLine, RegistryStore* registry = nullptr) {
    RegistryFileStore file(registryPath(), diagnostics_);
    const SetupEdges edges{boxes_, registry ? *registry : file, connector_, clock_, files_};
    RunSetup(commandLine, edges, FakeSteps());
  }

  testing::ScopedTempDir dir_;
  fs::path storage_;
  testing::ScopedTimeZone tz_{"Asia/Tokyo"};
  timezone::FixedClock clock_{920610429};  // 1999-03-05 14:07:09 in Tokyo
  testing::CapturingMessageBoxes boxes_;
  testing::RecordingConnector connector_;
  BackupWatchingFileOps files_;
  std::ostringstream diagnostics_;
  StepRecorder recorder_;
};

TEST_F(RunSetupTest, WithoutTheConfirmationNothingAtAllHappensAndHelpIsAllThatHappens) {
  for (const char* line : {"", "/b /a /d", "/i Initialise /d", "/i", "/i \"\" /d", "Initialize /i",
                           "/? /i Initialize /d"}) {
    testing::ScriptedRegistryStore registry;
    Run(line, &registry);
    EXPECT_TRUE(registry.calls.empty()) << line;
  }
  EXPECT_EQ(boxes_.shown, Boxes{HelpText()});
  EXPECT_TRUE(connector_.opens.empty());
  EXPECT_TRUE(files_.created.empty());
  EXPECT_TRUE(files_.locked.empty());
  EXPECT_TRUE(recorder_.calls.empty());
}

TEST_F(RunSetupTest, ConfirmedRunSettlesAndMigratesShowingBoxesOnlyInDebugMode) {
  Run("/i Initialize");
  EXPECT_TRUE(boxes_.shown.empty());
  EXPECT_EQ(connector_.executed.size(), 4u);
  EXPECT_EQ(recorder_.calls, kMigrations);
  EXPECT_TRUE(files_.created.empty()) << "no backup without /b";
  for (const auto& open : connector_.opens)
    EXPECT_EQ(open.user + "/" + open.password, "admin/quillmark");

  Run("/I INITIALIZE /d");
  Boxes expected = {"UserName: admin\r\nDBPassword: quillmark\r\nLanguage: 1\r\nStationID: 1"};
  expected.insert(expected.end(), kMigrationBoxes.begin(), kMigrationBoxes.end());
  EXPECT_EQ(boxes_.shown, expected);

  boxes_.shown.clear();
  connector_.opens.clear();
  Run("/i Initialize /n sa /p \"\" /s 4 /debug");  // defaults fill only what is empty
  EXPECT_EQ(boxes_.shown.at(0),
            "UserName: sa\r\nDBPassword: quillmark\r\nLanguage: 1\r\nStationID: 4");
  EXPECT_EQ(connector_.opens.at(0).user, "sa");
}

TEST_F(RunSetupTest, FailuresAreShownAsTheirStepsDecideAndTheRunGoesOn) {
  connector_.failWhen = "GlobalPref";
  Run("/i Initialize");
  EXPECT_TRUE(boxes_.shown.empty()) << "failed install settings only in debug mode";
  EXPECT_EQ(recorder_.calls, kMigrations);

  Run("/i Initialize /d");
  ASSERT_GE(boxes_.shown.size(), 3u);
  EXPECT_EQ(boxes_.shown[0], "-2147217900 :Syntax error in UPDATE statement.");
  EXPECT_EQ(boxes_.shown[1], "False");
  EXPECT_EQ(boxes_.shown[2].substr(0, 10), "UserName: ");

  // A failing migration step is always shown; one that raises counts as
  // failed, its message what the last writer left in it.
  connector_.failWhen.clear();
  boxes_.shown.clear();
  recorder_.calls.clear();
  recorder_.migrationResults[1] = false;
  recorder_.migrationMessages[1] = "Failed to drop the view ScheduleList";
  recorder_.raisingMigration = 2;
  Run("/i Initialize");
  EXPECT_EQ(boxes_.shown,
            (Boxes{"Drop Views: Failed to drop the view ScheduleList",
                   "Alter the security table: Failed to drop the view ScheduleList"}));
  EXPECT_EQ(recorder_.calls, kMigrations);
}

TEST_F(RunSetupTest, SampleDataRunsOnlyForEmptyTablesInOrder) {
  connector_.maxKeys = {{"Company", db::Value(3)},
                        {"ScheduleEvent", db::Value(1)},
                        {"ToDoEvent", db::Value()},
                        {"ForumEvent", db::Value(0)},
                        {"DocEvent", db::Value(2.5)}};
  recorder_.moduleResults[3] = false;
  Run("/i Initialize /a /d /l 2 /s 9 /n u /p pw");
  Names calls = {"Contact", "Announcement", "ToDo", "Forum", "ProjectM", "Resource"};
  calls.insert(calls.end(), kMigrations.begin(), kMigrations.end());
  EXPECT_EQ(recorder_.calls, calls);
  Boxes expected = {"UserName: u\r\nDBPassword: pw\r\nLanguage: 2\r\nStationID: 9",
                    "Insert sample date for Contact: True",
                    "Insert sample date for Announcement: True",
                    "Insert sample date for ToDo: False",
                    "Insert sample date for Forum: True",
                    "Insert sample date for Project: True",
                    "Insert sample date for Resource: True"};
  expected.insert(expected.end(), kMigrationBoxes.begin(), kMigrationBoxes.end());
  EXPECT_EQ(boxes_.shown, expected);
  const sample_data::SampleArgs& a = recorder_.args.at(0);
  EXPECT_EQ(a.language + a.dataSource + a.userName + a.password + a.stationId, "2qv_mainupw9");
  // The key lookups went to the main database, after the four settings.
  int lookups = 0;
  for (const auto& e : connector_.executed) {
    if (e.statement.rfind("SELECT Max(", 0) != 0) continue;
    ++lookups;
    EXPECT_EQ(e.connectionString, "qv_main");
  }
  EXPECT_EQ(lookups, 8);
  EXPECT_EQ(connector_.executed[4].statement, "SELECT Max(CompanyID) as MaxPrimary FROM Company");
}

TEST_F(RunSetupTest, SampleDataFailuresOutsideDebugModeShowOnlyTheModulesOwnBoxes) {
  recorder_.moduleResults[1] = false;
  Run("/i Initialize /a");
  EXPECT_EQ(boxes_.shown, Boxes{"Schedule's own failure box"});
  EXPECT_EQ(recorder_.calls.size(), 12u);

  // A key lookup that raises lets the module run; a module that raises failed.
  boxes_.shown.clear();
  connector_.maxKeys = {{"Company", db::Value("not a number")}};
  recorder_.moduleResults[1] = true;
  recorder_.raisingModule = 2;
  Run("/i Initialize /a /d");
  EXPECT_EQ(boxes_.shown.at(1), "Insert sample date for Contact: True");
  EXPECT_EQ(boxes_.shown.at(3), "Insert sample date for Announcement: False");
}

TEST_F(RunSetupTest, TheRunLockIsTakenBeforeTheBackupAndHeldThroughEveryStep) {
  testing::WriteFileBytes((storage_ / "db" / "qv_main.mdb").string(), "main");
  Run("/i Initialize /a /b");
  EXPECT_EQ(
      testing::ReadFileBytes((storage_ / "db" / "BACK19990305-140709" / "qv_main.mdb").string()),
      "main");
  EXPECT_EQ(files_.locked, Names{(storage_ / "db" / "qvsetup.lock").string()});
  EXPECT_EQ(files_.locksHeldAtBackup, 1);
  EXPECT_EQ(recorder_.locksHeld, std::vector<int>(12, 1));
  EXPECT_EQ(files_.held, 0) << "released when the run ends";
}

// Without a lock the run does everything it would have done with one.
TEST_F(RunSetupTest, ARunThatCannotLockGoesOnWithoutTheLock) {
  const std::string missingDb = (dir_.path() / "no-db").string();
  struct Case {
    const char* name;
    bool key;
    std::string values;
    Names tried;  // lock paths asked for
  };
  const Case cases[] = {
      {"no product key", false, "", {}},
      {"no StorageDir value", true, "", {}},
      {"relative StorageDir", true, "\"StorageDir\"=\"storage\"\n", {}},
      {"no db folder",
       true,
       "\"StorageDir\"=\"" + missingDb + "\"\n",
       {missingDb + "/db/qvsetup.lock"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteRegistry(c.values, c.key);
    files_.locked.clear();
    recorder_.calls.clear();
    connector_.executed.clear();
    Run("/i Initialize /a");
    EXPECT_EQ(files_.locked, c.tried);
    EXPECT_EQ(recorder_.calls.size(), 12u);
    EXPECT_EQ(connector_.executed.size(), 12u) << "four settings, eight key lookups";
    EXPECT_FALSE(fs::exists(missingDb)) << "no folder is made for the lock";
  }
}

}  // namespace
}  // namespace qv::setup

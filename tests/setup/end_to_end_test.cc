// Whole runs against a laid-out installation: the real registry file, the
// real data sources and databases, the real sample-data and migration steps.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "db/data_source.h"
#include "fakes.h"
#include "setup/file_ops.h"
#include "setup/install_settings.h"
#include "setup/reg_op.h"
#include "setup/registry_file_store.h"
#include "setup/run_setup.h"
#include "setup/standard_steps.h"
#include "support/installation.h"
#include "support/scoped_temp_dir.h"
#include "timezone/clock.h"

namespace qv::setup {
namespace {

using Boxes = std::vector<std::string>;
using testing::Engine;
using testing::Installation;

class EndToEndTest : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    QV_SKIP_UNTESTED_ENGINE(GetParam());
    installation_ = std::make_unique<Installation>(Installation::LayOut(
        dir_.path(), Installation::Kind::kFresh, "Artisan's Guild", GetParam()));
    connector_ = db::MakeDataSourceConnector(installation_->odbcIni().string(), 0);
    registry_ =
        std::make_unique<RegistryFileStore>(installation_->registryFile().string(), diagnostics_);
  }

  bool UpdateSettings(const std::string& language) {
    SetupOptions options;
    options.UserName = "admin";
    options.DBPassword = "quillmark";
    options.Language = language;
    return UpdateInstallSettings(*registry_, *connector_, clock_, options, stepMessage_);
  }

  Boxes Run(const std::string& commandLine) {
    testing::CapturingMessageBoxes boxes;
    PosixFileOps files;
    const SetupEdges edges{boxes, *registry_, *connector_, clock_, files};
    RunSetup(commandLine, edges, StandardSteps());
    return boxes.shown;
  }

  std::string Main(const std::string& sql) {
    return testing::QueryValue(installation_->mainDatabase(), sql);
  }
  std::string Security(const std::string& sql) {
    return testing::QueryValue(installation_->securityDatabase(), sql);
  }
  // Everything the four statements write, in their order.
  std::string Settings() {
    return Security(
               "SELECT MainDir || '|' || StorageDir || '|' || MainURL || '|' || LanguageID || '|' || "
               "GMTTimeOffset FROM GlobalPref") +
           " / " + Main("SELECT DefaultSMTPServer || '|' || DefaultPOPServer FROM EmailAdmin") +
           " / " + Security("SELECT InstallFlag FROM Install") + " / " +
           Main(
               "SELECT group_concat(CompanyName, ',') FROM (SELECT CompanyName FROM Company ORDER BY CompanyID) AS c");
  }

  testing::ScopedTempDir dir_;
  testing::ScopedTimeZone tz_{"Asia/Tokyo"};
  timezone::FixedClock clock_{1704196800};  // 2024-01-02 12:00 GMT
  std::unique_ptr<Installation> installation_;
  std::unique_ptr<db::Connector> connector_;
  std::ostringstream diagnostics_;
  std::unique_ptr<RegistryFileStore> registry_;
  std::string stepMessage_;
};

TEST_P(EndToEndTest, InstallSettingsReachBothDatabasesAndTwiceEqualsOnce) {
  ASSERT_TRUE(UpdateSettings("2")) << stepMessage_;
  const std::string expected =
      ReadSetting(*registry_, "MainDir") + "|" + installation_->storageDir().string() +
      "|http://localhost/quorvia/|2|9 / smtp.example.com|pop.example.com / 1 / "
      "Artisan's Guild,Private Contacts,Unassigned Contacts";
  EXPECT_EQ(Settings(), expected);
  ASSERT_TRUE(UpdateSettings("2")) << stepMessage_;
  EXPECT_EQ(Settings(), expected);
}

TEST_P(EndToEndTest, AFailingStatementOrAnUnsafeLanguageStopsTheSettings) {
  const std::string before = Settings();
  for (const char* language : {"1; DROP TABLE Users", "English"}) {
    EXPECT_FALSE(UpdateSettings(language)) << language;
    EXPECT_EQ(Settings(), before) << language;
  }
  EXPECT_FALSE(testing::ColumnsOf(installation_->securityDatabase(), "Users").empty());

  // Statement 2 fails: statement 1 stays committed, 3 and 4 never run.
  testing::Exec(installation_->mainDatabase(), "DROP TABLE EmailAdmin");
  EXPECT_FALSE(UpdateSettings("2"));
  EXPECT_TRUE(std::regex_match(stepMessage_, std::regex("-?[0-9]+ :.*EmailAdmin.*", std::regex::icase)))
      << stepMessage_;
  EXPECT_EQ(Security("SELECT LanguageID || '|' || GMTTimeOffset FROM GlobalPref"), "2|9");
  EXPECT_EQ(Security("SELECT InstallFlag FROM Install"), "0");
  EXPECT_EQ(Main("SELECT CompanyName FROM Company WHERE CompanyID = 1"), "My Company");
}

TEST_P(EndToEndTest, FirstRunFillsEveryAreaAndTheSecondSkipsThem) {
  const bool files = GetParam() == Engine::kSqlite;
  const std::string mainBefore =
      files ? testing::ReadFileBytes(installation_->mainDb().string()) : "";
  const std::string securityBefore =
      files ? testing::ReadFileBytes(installation_->securityDb().string()) : "";
  const std::string settingsBefore = Settings();
  EXPECT_EQ(Run("/a /b /d /l 2"), Boxes{});
  EXPECT_EQ(Settings(), settingsBefore);
  if (files) {
    EXPECT_EQ(testing::ReadFileBytes(installation_->mainDb().string()), mainBefore);
    EXPECT_EQ(testing::ReadFileBytes(installation_->securityDb().string()), securityBefore);
  }

  const Boxes migration = {"Alter Tables: The task completed.", "Drop Views: The task completed.",
                           "Alter the security table: The task completed.",
                           "Alter the views: The task completed."};
  Boxes first = {"UserName: admin\r\nDBPassword: quillmark\r\nLanguage: 1\r\nStationID: 1"};
  for (const char* area : {"Contact", "Scheduler", "Announcement", "ToDo", "Forum", "Project",
                           "Resource", "Document"}) {
    first.push_back(std::string("Insert sample date for ") + area + ": True");
  }
  first.insert(first.end(), migration.begin(), migration.end());
  EXPECT_EQ(Run("/i Initialize /a /d"), first);
  EXPECT_EQ(Main("SELECT count(*) FROM ToDoEvent"), "30");

  Boxes second = {first[0]};
  second.insert(second.end(), migration.begin(), migration.end());
  EXPECT_EQ(Run("/i Initialize /a /d"), second);
  EXPECT_EQ(Main("SELECT count(*) FROM ToDoEvent"), "30");
  EXPECT_EQ(diagnostics_.str(), "");
}

INSTANTIATE_TEST_SUITE_P(Engines, EndToEndTest, ::testing::ValuesIn(testing::kEngines),
                         testing::EngineName);

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The boxes of a debug run with sample data whose databases `spoil` made
// unopenable.
Boxes RunSpoiled(Engine engine, const std::function<void(const Installation&)>& spoil) {
  testing::ScopedTempDir dir;
  const Installation inst =
      Installation::LayOut(dir.path(), Installation::Kind::kFresh, "Guild", engine);
  spoil(inst);
  std::ostringstream diagnostics;
  RegistryFileStore registry(inst.registryFile().string(), diagnostics);
  auto connector = db::MakeDataSourceConnector(inst.odbcIni().string(), 0);
  timezone::FixedClock clock{1704196800};
  testing::CapturingMessageBoxes boxes;
  PosixFileOps files;
  RunSetup("/i Initialize /a /d", SetupEdges{boxes, registry, *connector, clock, files},
           StandardSteps());
  // The open's own error differs by engine; the data source it names does not.
  static const std::regex openError("-?[0-9]+ :.*data source \"(qv_[a-z]+)\".*");
  Boxes shown;
  for (const std::string& box : boxes.shown)
    shown.push_back(std::regex_replace(box, openError, "error opening $1"));
  return shown;
}

// A server that does not answer, a refused login and a missing database are
// what a missing database file is on the embedded engine: every step that
// needs the database shows the same box.
TEST(EndToEndServerFaultTest, UnreachableRefusedOrMissingDatabasesShowTheBoxesOfMissingFiles) {
  QV_SKIP_UNTESTED_ENGINE(Engine::kPostgres);
  namespace fs = std::filesystem;
  const Boxes mainMissing =
      RunSpoiled(Engine::kSqlite, [](const Installation& inst) { fs::remove(inst.mainDb()); });
  const Boxes bothMissing = RunSpoiled(Engine::kSqlite, [](const Installation& inst) {
    fs::remove(inst.mainDb());
    fs::remove(inst.securityDb());
  });
  ASSERT_NE(mainMissing, bothMissing);
  const std::pair<const char*, const char*> faults[] = {
      {"(Port *= *)[0-9]+", "$011"},                    // nothing listens there
      {"(Username *= *).*", "$1qv_nobody"},             // no such login
      {"(Database *= *.*qv_)main", "$1missing_main"}};  // no such database
  for (const auto& [pattern, replacement] : faults) {
    const Boxes boxes = RunSpoiled(Engine::kPostgres, [&](const Installation& inst) {
      const std::string text =
          std::regex_replace(ReadText(inst.odbcIni()), std::regex(pattern), replacement);
      std::ofstream(inst.odbcIni(), std::ios::trunc) << text;
    });
    EXPECT_EQ(boxes, std::string(pattern).find("Database") != std::string::npos ? mainMissing
                                                                                : bothMissing)
        << pattern;
  }
}

}  // namespace
}  // namespace qv::setup

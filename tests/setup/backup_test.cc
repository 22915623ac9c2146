#include "setup/backup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "fakes.h"
#include "setup/registry_file_store.h"
#include "support/scoped_temp_dir.h"
#include "timezone/clock.h"

namespace qv::setup {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileBytes;
using testing::WriteFileBytes;

constexpr std::time_t kMarch5 = 920610429;  // 1999-03-05 05:07:09 GMT

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string bytes(n, '\0');
  for (char& c : bytes) c = static_cast<char>(gen() & 0xFF);
  return bytes;
}

TEST(BackupStampTest, LocalTimeInTheProcessZone) {
  const std::pair<const char*, const char*> zones[] = {{"Asia/Tokyo", "19990305-140709"},
                                                       {"UTC", "19990305-050709"}};
  for (const auto& [zone, stamp] : zones) {
    testing::ScopedTimeZone tz(zone);
    EXPECT_EQ(BackupStamp(timezone::FixedClock(kMarch5)), stamp) << zone;
  }
  // Summer time, and a local date a day earlier than the GMT date.
  testing::ScopedTimeZone tz("America/New_York");
  EXPECT_EQ(BackupStamp(timezone::FixedClock(1719802800)), "20240630-230000");
}

class BackUpDatabasesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    storage_ = dir_.path() / "storage dir";
    fs::create_directories(db());
    WriteRegistry("\"StorageDir\"=\"" + storage_.string() + "\"\n");
  }
  void WriteRegistry(const std::string& values) {
    WriteFileBytes(
        registryPath(),
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion]\n" +
            values);
  }
  std::string registryPath() const { return (dir_.path() / "registry.reg").string(); }
  fs::path db() const { return storage_ / "db"; }
  fs::path backupDir() const { return db() / "BACK19990305-140709"; }

  void Run() {
    RegistryFileStore registry(registryPath(), diagnostics_);
    BackUpDatabases(registry, files_, connector_, clock_);
  }

  testing::ScopedTimeZone tz_{"Asia/Tokyo"};
  testing::ScopedTempDir dir_;
  fs::path storage_;
  timezone::FixedClock clock_{kMarch5};
  testing::CountingFileOps files_;
  testing::RecordingConnector connector_;
  std::ostringstream diagnostics_;
};

// Copies are byte-identical; a missing file is skipped; a journal goes with
// its database file only, so that the copy opens as the last committed state.
TEST_F(BackUpDatabasesTest, CopiesWhatIsThereIntoTheStampedFolder) {
  const char* const kFiles[] = {"qv_main.mdb", "qv_main.mdb-journal", "qv_security.mdb",
                                "qv_security.mdb-journal"};
  struct Case {
    const char* name;
    bool present[4];  // in the order of kFiles
  };
  const Case cases[] = {
      {"no journals", {true, false, true, false}},
      {"both journals", {true, true, true, true}},
      {"journal of the main database only", {true, true, true, false}},
      {"main database missing, its journal left", {false, true, true, false}},
      {"security database missing", {true, false, false, false}},
  };
  unsigned seed = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(db());
    fs::create_directories(db());
    for (int i = 0; i < 4; ++i) {
      if (c.present[i])
        WriteFileBytes((db() / kFiles[i]).string(), RandomBytes(i == 0 ? 3 << 20 : 5000, ++seed));
    }
    ::chmod((db() / kFiles[0]).c_str(), 0640);
    const std::string original = c.present[0] ? ReadFileBytes((db() / kFiles[0]).string()) : "";
    Run();
    for (int i = 0; i < 4; ++i) {
      const bool copied = c.present[i] && c.present[i & ~1];
      ASSERT_EQ(fs::exists(backupDir() / kFiles[i]), copied) << kFiles[i];
      if (copied) {
        EXPECT_EQ(ReadFileBytes((backupDir() / kFiles[i]).string()),
                  ReadFileBytes((db() / kFiles[i]).string()));
      }
    }
    if (c.present[0]) {
      EXPECT_EQ(ReadFileBytes((db() / kFiles[0]).string()), original)
          << "the original is left alone";
      EXPECT_EQ(fs::status(backupDir() / kFiles[0]).permissions(),
                fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    }
  }
}

TEST_F(BackUpDatabasesTest, NeverOverwritesAnExistingCopyNorFollowsALink) {
  WriteFileBytes((db() / "qv_main.mdb").string(), "new");
  WriteFileBytes((db() / "qv_security.mdb").string(), "sec");
  fs::create_directory(backupDir());
  WriteFileBytes((backupDir() / "qv_main.mdb").string(), "old");
  fs::create_symlink(storage_ / "victim", backupDir() / "qv_security.mdb");
  Run();
  EXPECT_EQ(ReadFileBytes((backupDir() / "qv_main.mdb").string()), "old");
  EXPECT_FALSE(fs::exists(storage_ / "victim"));

  fs::remove_all(db());
  Run();
  EXPECT_FALSE(fs::exists(db())) << "only one level is created";
}

// The paths are built from whatever the registry read gave, with nothing
// tested for: a missing key reads "1: No Key", a missing value empty text.
TEST_F(BackUpDatabasesTest, PathsAreBuiltFromWhateverTheRegistryGave) {
  const std::pair<const char*, std::string> cases[] = {
      {"", "1: No Key"},
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion]\n", ""}};
  files_.passThrough = false;
  for (const auto& [key, storage] : cases) {
    SCOPED_TRACE(storage);
    WriteFileBytes(registryPath(), std::string("REGEDIT4\n") + key);
    files_.created.clear();
    files_.copied.clear();
    Run();
    const std::string backup = storage + "/db/BACK19990305-140709";
    EXPECT_EQ(files_.created, std::vector<std::string>{backup});
    const std::vector<std::pair<std::string, std::string>> copied = {
        {storage + "/db/qv_main.mdb", backup + "/qv_main.mdb"},
        {storage + "/db/qv_security.mdb", backup + "/qv_security.mdb"}};
    EXPECT_EQ(files_.copied, copied) << "no journal is looked for beside a copy not made";
  }

  testing::ScriptedRegistryStore registry;
  registry.value = storage_.string();
  BackUpDatabases(registry, files_, connector_, clock_);
  int reads = 0;
  for (const std::string& call : registry.calls) reads += call == "query StorageDir";
  EXPECT_EQ(reads, 3) << "StorageDir is read before each part";
}

}  // namespace
}  // namespace qv::setup

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

std::time_t Utc(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return ::timegm(&tm);
}

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string bytes(n, '\0');
  for (char& c : bytes) c = static_cast<char>(gen() & 0xFF);
  return bytes;
}

TEST(BackupStampTest, LocalTimeInTheProcessZone) {
  const timezone::FixedClock clock(Utc(1999, 3, 5, 5, 7, 9));
  {
    testing::ScopedTimeZone tz("Asia/Tokyo");
    EXPECT_EQ(BackupStamp(clock), "19990305-140709");
  }
  {
    testing::ScopedTimeZone tz("UTC");
    EXPECT_EQ(BackupStamp(clock), "19990305-050709");
  }
  {
    // Summer time, and a local date a day earlier than the GMT date.
    testing::ScopedTimeZone tz("America/New_York");
    EXPECT_EQ(BackupStamp(timezone::FixedClock(Utc(2024, 7, 1, 3, 0, 0))), "20240630-230000");
  }
}

class BackUpDatabasesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    storage_ = dir_.path() / "storage dir";
    fs::create_directories(storage_ / "db");
    WriteRegistry("\"StorageDir\"=\"" + storage_.string() + "\"\n");
  }

  void WriteRegistry(const std::string& values) {
    WriteFileBytes(registryPath(),
                   "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion]\n" +
                       values);
  }
  std::string registryPath() const { return (dir_.path() / "registry.reg").string(); }

  void Run() {
    RegistryFileStore registry(registryPath(), diagnostics_);
    BackUpDatabases(registry, files_, clock_);
  }

  fs::path backupDir() const { return storage_ / "db" / "BACK19990305-140709"; }

  testing::ScopedTimeZone tz_{"Asia/Tokyo"};
  testing::ScopedTempDir dir_;
  fs::path storage_;
  timezone::FixedClock clock_{Utc(1999, 3, 5, 5, 7, 9)};
  testing::CountingFileOps files_;
  std::ostringstream diagnostics_;
};

TEST_F(BackUpDatabasesTest, CopiesBothFilesByteForByteIntoTheStampedFolder) {
  const std::string main = RandomBytes(3 * 1024 * 1024 + 17, 1);
  const std::string security = RandomBytes(4096, 2);
  WriteFileBytes((storage_ / "db" / "qv_main.mdb").string(), main);
  WriteFileBytes((storage_ / "db" / "qv_security.mdb").string(), security);
  ::chmod((storage_ / "db" / "qv_main.mdb").c_str(), 0640);
  Run();
  EXPECT_EQ(ReadFileBytes((backupDir() / "qv_main.mdb").string()), main);
  EXPECT_EQ(ReadFileBytes((backupDir() / "qv_security.mdb").string()), security);
  EXPECT_EQ(fs::status(backupDir() / "qv_main.mdb").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  // The originals are left as they were.
  EXPECT_EQ(ReadFileBytes((storage_ / "db" / "qv_main.mdb").string()), main);
}

// A journal left by a crash goes with its database file, so that the copy
// opens as the last committed state; without one, nothing else is copied.
TEST_F(BackUpDatabasesTest, AJournalGoesWithItsDatabaseFileOnly) {
  // Each database file, then its journal.
  const char* const kFiles[] = {"qv_main.mdb", "qv_main.mdb-journal", "qv_security.mdb",
                                "qv_security.mdb-journal"};
  struct Case {
    const char* name;
    bool present[4];  // beside the databases, in the order of kFiles
  };
  const Case cases[] = {
      {"no journals", {true, false, true, false}},
      {"both journals", {true, true, true, true}},
      {"journal of the main database only", {true, true, true, false}},
      {"journal without its database, the other database alone", {false, true, true, false}},
  };
  unsigned seed = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path db = storage_ / "db";
    fs::remove_all(db);
    fs::create_directories(db);
    for (int i = 0; i < 4; ++i) {
      if (c.present[i]) WriteFileBytes((db / kFiles[i]).string(), RandomBytes(5000, ++seed));
    }
    Run();
    for (int i = 0; i < 4; ++i) {
      const bool copied = c.present[i] && c.present[i & ~1];
      ASSERT_EQ(fs::exists(backupDir() / kFiles[i]), copied) << kFiles[i];
      if (copied) {
        EXPECT_EQ(ReadFileBytes((backupDir() / kFiles[i]).string()),
                  ReadFileBytes((db / kFiles[i]).string()));
      }
    }
  }
}

TEST_F(BackUpDatabasesTest, NeverOverwritesAnExistingCopy) {
  WriteFileBytes((storage_ / "db" / "qv_main.mdb").string(), "new");
  fs::create_directory(backupDir());
  WriteFileBytes((backupDir() / "qv_main.mdb").string(), "old");
  fs::create_symlink(storage_ / "victim", backupDir() / "qv_security.mdb");
  WriteFileBytes((storage_ / "db" / "qv_security.mdb").string(), "sec");
  Run();
  EXPECT_EQ(ReadFileBytes((backupDir() / "qv_main.mdb").string()), "old");
  EXPECT_FALSE(fs::exists(storage_ / "victim")) << "a link at the copy's place is not followed";
}

TEST_F(BackUpDatabasesTest, WithoutTheDbFolderNothingIsCreated) {
  fs::remove_all(storage_ / "db");
  Run();
  EXPECT_FALSE(fs::exists(storage_ / "db")) << "only one level is created";
  EXPECT_EQ(files_.created.size(), 1u);
}

// The paths are built from whatever the registry read gave, with nothing
// tested for: a missing key reads "1: No Key", a missing value empty text.
TEST_F(BackUpDatabasesTest, PathsAreBuiltFromWhateverTheRegistryGave) {
  struct Case {
    const char* registry;
    std::string storage;  // what the paths begin with
  };
  const Case cases[] = {{"REGEDIT4\n", "1: No Key"},
                        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavolent Inc.\\Quorvia\\"
                         "CurrentVersion]\n",
                         ""}};
  files_.passThrough = false;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.storage);
    WriteFileBytes(registryPath(), c.registry);
    files_.created.clear();
    files_.copied.clear();
    Run();
    const std::string backup = c.storage + "/db/BACK19990305-140709";
    EXPECT_EQ(files_.created, std::vector<std::string>{backup});
    const std::vector<std::pair<std::string, std::string>> copied = {
        {c.storage + "/db/qv_main.mdb", backup + "/qv_main.mdb"},
        {c.storage + "/db/qv_security.mdb", backup + "/qv_security.mdb"}};
    EXPECT_EQ(files_.copied, copied) << "no journal is looked for beside a copy not made";
  }
}

TEST_F(BackUpDatabasesTest, StorageDirIsReadBeforeEachPart) {
  testing::ScriptedRegistryStore registry;
  registry.value = storage_.string();
  files_.passThrough = false;
  BackUpDatabases(registry, files_, clock_);
  int reads = 0;
  for (const std::string& call : registry.calls) reads += call == "query StorageDir";
  EXPECT_EQ(reads, 3);
}

}  // namespace
}  // namespace qv::setup

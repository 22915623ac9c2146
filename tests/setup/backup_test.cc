#include "setup/backup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>

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

TEST_F(BackUpDatabasesTest, AMissingFileIsSkippedAndTheOtherCopied) {
  WriteFileBytes((storage_ / "db" / "qv_main.mdb").string(), "main");
  Run();
  EXPECT_TRUE(fs::is_directory(backupDir()));
  EXPECT_EQ(ReadFileBytes((backupDir() / "qv_main.mdb").string()), "main");
  EXPECT_FALSE(fs::exists(backupDir() / "qv_security.mdb"));
  EXPECT_EQ(files_.copied.size(), 2u);
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

TEST_F(BackUpDatabasesTest, MissingProductKeyGivesPathsBeginningWithNoKey) {
  WriteFileBytes(registryPath(), "REGEDIT4\n");
  files_.passThrough = false;
  Run();
  ASSERT_EQ(files_.created.size(), 1u);
  EXPECT_EQ(files_.created[0], "1: No Key/db/BACK19990305-140709");
  ASSERT_EQ(files_.copied.size(), 2u);
  EXPECT_EQ(files_.copied[0].first, "1: No Key/db/qv_main.mdb");
  EXPECT_EQ(files_.copied[0].second, "1: No Key/db/BACK19990305-140709/qv_main.mdb");
  EXPECT_EQ(files_.copied[1].first, "1: No Key/db/qv_security.mdb");
  EXPECT_EQ(files_.copied[1].second, "1: No Key/db/BACK19990305-140709/qv_security.mdb");
}

TEST_F(BackUpDatabasesTest, MissingValueGivesPathsAtTheRoot) {
  WriteRegistry("");
  files_.passThrough = false;
  Run();
  ASSERT_EQ(files_.created.size(), 1u);
  EXPECT_EQ(files_.created[0], "/db/BACK19990305-140709");
  EXPECT_EQ(files_.copied[0].first, "/db/qv_main.mdb");
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

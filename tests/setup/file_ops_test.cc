// The run lock's file operation. Copies are proven through the backup
// (backup_test.cc); two whole runs taking turns in tests/reliability.
#include "setup/file_ops.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "fakes.h"
#include "support/scoped_temp_dir.h"

namespace qv::setup {
namespace {

namespace fs = std::filesystem;

// Whether a lock on `path` could be taken through another open of it now,
// without waiting: false while someone holds it.
bool FreeToLock(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return free;
}

TEST(PosixFileLockTest, HoldsTheFileUntilReleasedAndLeavesItInPlace) {
  testing::ScopedTempDir dir;
  const fs::path path = dir.path() / "qvsetup.lock";
  PosixFileOps files;

  std::unique_ptr<FileLock> lock = files.LockFile(path.string());
  ASSERT_NE(lock, nullptr);
  EXPECT_TRUE(fs::is_regular_file(path));
  EXPECT_FALSE(FreeToLock(path));
  lock.reset();
  EXPECT_TRUE(FreeToLock(path));
  EXPECT_TRUE(fs::exists(path)) << "the file outlives the lock";

  // The file an earlier run left, even one this user may not write, is
  // locked as it is.
  testing::WriteFileBytes(path.string(), "left");
  ::chmod(path.c_str(), 0444);
  lock = files.LockFile(path.string());
  ASSERT_NE(lock, nullptr);
  EXPECT_FALSE(FreeToLock(path));
  EXPECT_EQ(testing::ReadFileBytes(path.string()), "left");
}

TEST(PosixFileLockTest, RefusesWhatIsNotAPlainFileInAnExistingFolder) {
  testing::ScopedTempDir dir;
  const fs::path victim = dir.path() / "victim";
  struct Case {
    const char* name;
    void (*prepare)(const fs::path& path, const fs::path& victim);
  };
  const Case cases[] = {
      {"missing folder", [](const fs::path&, const fs::path&) {}},
      {"dangling link", [](const fs::path& p, const fs::path& v) { fs::create_symlink(v, p); }},
      {"folder", [](const fs::path& p, const fs::path&) { fs::create_directory(p); }},
      {"FIFO, which must not hang the open",
       [](const fs::path& p, const fs::path&) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
  };
  PosixFileOps files;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path folder = dir.path() / (std::string("case ") + c.name);
    const bool missingFolder = &c == &cases[0];
    if (!missingFolder) fs::create_directory(folder);
    const fs::path path = folder / "qvsetup.lock";
    c.prepare(path, victim);
    EXPECT_EQ(files.LockFile(path.string()), nullptr);
    EXPECT_EQ(fs::exists(folder), !missingFolder) << "no folder is made";
    EXPECT_FALSE(fs::exists(victim)) << "a link is not followed";
  }
}

}  // namespace
}  // namespace qv::setup

// Whole runs on an installation that something is wrong with: a database
// locked by another process, read-only files, folders and file systems, a
// full disk, a database file that is not a database, data sources that point
// nowhere. Each run must end normally, say what went wrong where the run
// shows a box, leave both databases intact, and leave every step either
// committed whole or not at all.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "reliability/reliability_support.h"
#include "support/scoped_temp_dir.h"

namespace qv::reliability {
namespace {

using Boxes = std::vector<std::string>;
using Lines = std::vector<std::string>;

const char kFullRun[] = "/i Initialize /a /b /d";

// The files a run with /b adds to the db folder (named from `db`).
std::vector<std::string> MadeByTheRun(const std::string& db) {
  const std::string backup = db + kBackupFolder;
  return {db + "qvsetup.lock", backup + "/", backup + "/qv_main.mdb", backup + "/qv_security.mdb"};
}

// Only the facts of one database ("main" or "security").
Facts Of(const std::string& db, const Facts& facts) {
  Facts some;
  for (const auto& [key, value] : facts) {
    if (key.rfind(db + " ", 0) == 0) some.emplace(key, value);
  }
  return some;
}

class FaultTest : public ::testing::Test {
 protected:
  const Installation& LayOut(const fs::path& at,
                             Installation::Kind kind = Installation::Kind::kFresh) {
    kind_ = kind;
    installation_.emplace(Installation::LayOut(at, kind));
    before_ = FactsOf(*installation_);
    return *installation_;
  }
  const Installation& LayOut() { return LayOut(dir_.path() / "inst"); }

  // What every fault must leave: both databases intact, every step whole or
  // absent, and the databases in `untouched` ("main", "security") exactly as
  // before.
  void ExpectIntactAndWhole(const std::vector<std::string>& untouched = {}) {
    const Installation& inst = *installation_;
    const Facts after = FactsOf(inst);
    if (!before_.count("main unreadable")) {
      EXPECT_EQ(Integrity(inst.mainDb()), "ok");
    }
    EXPECT_EQ(Integrity(inst.securityDb()), "ok");
    EXPECT_EQ(PartlyWritten(before_, after, CleanFacts(kind_, kFullRun)), Lines{});
    for (const std::string& db : untouched) {
      EXPECT_EQ(Differences(Of(db, before_), Of(db, after)), Lines{}) << db << " changed";
    }
    for (const fs::path& db : {inst.mainDb(), inst.securityDb()}) {
      EXPECT_FALSE(fs::exists(db.string() + "-journal")) << "every transaction ended";
    }
  }

  testing::ScopedTempDir dir_;
  Installation::Kind kind_ = Installation::Kind::kFresh;
  std::optional<Installation> installation_;
  Facts before_;
};

// Each step waits a short while for the lock, then fails with "database is
// locked"; the run goes on, and the locked database is left as it was.
TEST_F(FaultTest, ADatabaseLockedByAnotherProcess) {
  struct Case {
    const char* db;  // "main" or "security"
    DatabaseLockHolder::Mode mode;
  };
  const Case cases[] = {{"main", DatabaseLockHolder::Mode::kWriter},
                        {"main", DatabaseLockHolder::Mode::kExclusive},
                        {"security", DatabaseLockHolder::Mode::kWriter},
                        {"security", DatabaseLockHolder::Mode::kExclusive}};
  for (const Case& c : cases) {
    const bool main = std::string(c.db) == "main";
    SCOPED_TRACE(std::string(c.db) + (c.mode == DatabaseLockHolder::Mode::kWriter
                                          ? " with a writer"
                                          : " held exclusively"));
    fs::remove_all(dir_.path() / "inst");
    const Installation& inst = LayOut();
    Boxes boxes;
    {
      DatabaseLockHolder holder(main ? inst.mainDb() : inst.securityDb(), c.mode);
      ASSERT_TRUE(holder.holding());
      boxes = RunInProcess(inst, kFullRun);
    }
    ASSERT_GE(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].rfind("5 :database is locked", 0), 0u) << Shown(boxes);
    EXPECT_EQ(boxes[1], "False");
    ExpectIntactAndWhole({c.db});
  }
}

// Every write fails with the engine's reason and the run goes on; nothing is
// written, and no file appears where none could be written.
TEST_F(FaultTest, ReadOnlyDatabaseFileFolderAndFileSystem) {
  struct Case {
    const char* name;
    const char* box;                     // how the first failing statement is reported
    std::vector<std::string> untouched;  // the databases left exactly as they were
    bool folderWritable;                 // the lock file and the backup can be made
  };
  const Case cases[] = {
      {"read-only database file", "8 :attempt to write a readonly database", {"main"}, true},
      {"read-only db folder",
       "8 :attempt to write a readonly database",
       {"main", "security"},
       false},
      {"read-only file system",
       "8 :attempt to write a readonly database",
       {"main", "security"},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_.path() / "inst");
    const Installation& inst = LayOut();
    const fs::path db = inst.storageDir() / "db";
    const std::set<std::string> filesBefore = Tree(db);
    Boxes boxes;
    {
      std::string why;
      std::optional<ScopedMode> mode;
      std::unique_ptr<ScopedMount> mount;
      if (&c == &cases[0])
        mode.emplace(inst.mainDb(), fs::perms::owner_read | fs::perms::group_read);
      if (&c == &cases[1]) mode.emplace(db, fs::perms::owner_read | fs::perms::owner_exec);
      if (&c == &cases[2] && !(mount = ScopedMount::ReadOnlyBind(db, &why))) GTEST_SKIP() << why;
      ScopedFileModesApply modes;
      if (!modes.ok()) GTEST_SKIP() << modes.why();
      boxes = RunInProcess(inst, kFullRun);
    }
    ASSERT_GE(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].rfind(c.box, 0), 0u) << Shown(boxes);
    EXPECT_EQ(boxes[1], "False");
    ExpectIntactAndWhole(c.untouched);
    std::set<std::string> filesAfter = Tree(db);
    if (c.folderWritable) {
      for (const std::string& made : MadeByTheRun("")) {
        EXPECT_EQ(filesAfter.erase(made), 1u) << made;
      }
    }
    EXPECT_EQ(filesAfter, filesBefore);
  }
}

// Fills the file system holding `filler` (a new file) to the last byte, then
// gives `free` bytes back.
void FillDisk(const fs::path& filler, off_t free) {
  const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  const std::string block(64 * 1024, 'f');
  off_t size = 0;
  for (size_t chunk = block.size(); chunk > 0; chunk /= 2) {
    ssize_t n;
    while ((n = ::write(fd, block.data(), chunk)) > 0) size += n;
  }
  ASSERT_EQ(::ftruncate(fd, std::max<off_t>(0, size - free)), 0);
  ::close(fd);
}

// A disk that fills up during the run: whatever the room left, each step is
// committed whole or not at all, and a backup copy is whole or absent.
TEST_F(FaultTest, AFullDisk) {
  const off_t kFree[] = {0,         4 << 10,   16 << 10,  48 << 10, 96 << 10,
                         160 << 10, 256 << 10, 400 << 10, 640 << 10};
  for (const Installation::Kind kind : {Installation::Kind::kFresh, Installation::Kind::kOld}) {
    for (const off_t free : kFree) {
      SCOPED_TRACE(std::string(kind == Installation::Kind::kFresh ? "fresh" : "old") + ", " +
                   std::to_string(free >> 10) + " KiB free");
      const fs::path disk = dir_.path() / "disk";
      fs::create_directories(disk);
      std::string why;
      const std::unique_ptr<ScopedMount> mount = ScopedMount::Tmpfs(disk, 4 << 20, &why);
      if (!mount) GTEST_SKIP() << why;
      const Installation& inst = LayOut(disk / "inst", kind);
      const std::string mainBytes = ReadBytes(inst.mainDb());
      const std::string securityBytes = ReadBytes(inst.securityDb());
      FillDisk(disk / "filler", free);
      const Boxes boxes = RunInProcess(inst, kFullRun);
      ExpectIntactAndWhole();
      if (free >= 640 << 10) {
        EXPECT_EQ(Differences(CleanFacts(kind, kFullRun), FactsOf(inst)), Lines{})
            << "with room enough, everything is written";
      }
      // The install settings say why they failed. (A sample-data module's own
      // box names its last error, which may be the engine's rollback that
      // followed the full disk rather than the full disk itself.)
      if (boxes.at(0).rfind("UserName: ", 0) != 0) {
        EXPECT_EQ(boxes[0], "13 :database or disk is full") << Shown(boxes);
      }
      const fs::path backup = inst.storageDir() / "db" / kBackupFolder;
      for (const auto& [name, bytes] :
           {std::pair{"qv_main.mdb", &mainBytes}, std::pair{"qv_security.mdb", &securityBytes}}) {
        if (fs::exists(backup / name)) {
          EXPECT_TRUE(ReadBytes(backup / name) == *bytes) << name << " copied in part";
        }
      }
    }
  }
}

// An open of a file that is not a database fails and the file is left as it
// was; the other database takes its steps as usual.
TEST_F(FaultTest, ADatabaseFileThatIsNotADatabase) {
  struct Case {
    const char* name;
    std::string (*bytes)(const std::string& database);  // made from the real file
    const char* box;
  };
  const Case cases[] = {
      {"random bytes",
       [](const std::string& database) {
         std::string noise(database.size(), '\0');
         for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919) >> 3);
         return noise;
       },
       "26 :file is not a database: "},
      {"a text file", [](const std::string&) { return std::string("[qv_main]\nDriver = x\n"); },
       "26 :file is not a database: "},
      {"the first 16 KiB of the database",
       [](const std::string& database) { return database.substr(0, 16 << 10); },
       "11 :database disk image is malformed: "},
      // The engine reads an empty file as a database without tables.
      {"an empty file", [](const std::string&) { return std::string(); },
       "1 :no such table: EmailAdmin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_.path() / "inst");
    const Installation& inst = LayOut();
    const std::string bytes = c.bytes(ReadBytes(inst.mainDb()));
    std::ofstream(inst.mainDb(), std::ios::binary | std::ios::trunc) << bytes;
    before_ = FactsOf(inst);
    const Boxes boxes = RunInProcess(inst, kFullRun);
    ASSERT_GE(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].rfind(c.box, 0), 0u) << Shown(boxes);
    EXPECT_EQ(boxes[1], "False");
    EXPECT_TRUE(ReadBytes(inst.mainDb()) == bytes) << "the file was changed";
    ExpectIntactAndWhole({"main"});
  }
}

// A data source that names no usable database fails every open of it with a
// description that says what is missing; no database file is created.
TEST_F(FaultTest, ADataSourceThatPointsNowhere) {
  struct Case {
    const char* name;
    void (*edit)(std::string& odbcIni, const fs::path& dir);
    const char* box;  // the first failure, from the install settings
    std::vector<std::string> untouched;
  };
  const Case cases[] = {
      {"missing database file",
       [](std::string& ini, const fs::path& dir) {
         const std::string from = (dir / "inst" / "db" / "qv_main.mdb").string();
         ini.replace(ini.find(from), from.size(), (dir / "gone" / "qv_main.mdb").string());
       },
       "14 :Database file ",
       {"main"}},
      {"database that is a folder",
       [](std::string& ini, const fs::path& dir) {
         const std::string from = (dir / "inst" / "db" / "qv_main.mdb").string();
         ini.replace(ini.find(from), from.size(), (dir / "inst" / "db").string());
       },
       "14 :unable to open database file",
       {"main"}},
      {"no Database entry",
       [](std::string& ini, const fs::path&) { ini.replace(ini.find("Database"), 8, "Datebase"); },
       "-2147467259 :Data source \"qv_main\" in ",
       {"main"}},
      {"no section for the main database",
       [](std::string& ini, const fs::path&) {
         ini.replace(ini.find("[qv_main]"), 9, "[qv_mian]");
       },
       "-2147467259 :Data source \"qv_main\" not found in ",
       {"main"}},
      {"no section for the security database",
       [](std::string& ini, const fs::path&) {
         ini.replace(ini.find("[qv_security]"), 13, "[qv_secure]");
       },
       "-2147467259 :Data source \"qv_security\" not found in ",
       {"security"}},
      {"another driver",
       [](std::string& ini, const fs::path&) { ini.replace(ini.find("SQLite3"), 7, "Access"); },
       "-2147467259 :Data source \"qv_main\" uses the driver \"Access\"",
       {"main"}},
      {"no data-source file",
       [](std::string& ini, const fs::path&) { ini.clear(); },
       "-2147467259 :The data-source file ",
       {"main", "security"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_.path() / "inst");
    const Installation& inst = LayOut();
    std::string ini = ReadBytes(inst.odbcIni());
    c.edit(ini, dir_.path());
    if (ini.empty()) {
      fs::remove(inst.odbcIni());
    } else {
      std::ofstream(inst.odbcIni(), std::ios::binary | std::ios::trunc) << ini;
    }
    const std::set<std::string> filesBefore = Tree(dir_.path());
    const Boxes boxes = RunInProcess(inst, kFullRun);
    ASSERT_GE(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].rfind(c.box, 0), 0u) << Shown(boxes);
    EXPECT_EQ(boxes[1], "False");
    ExpectIntactAndWhole(c.untouched);
    std::set<std::string> filesAfter = Tree(dir_.path());
    for (const std::string& made : MadeByTheRun("inst/db/")) filesAfter.erase(made);
    EXPECT_EQ(filesAfter, filesBefore) << "no file made but the lock and the backup";
  }
}

}  // namespace
}  // namespace qv::reliability

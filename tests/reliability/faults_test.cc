// Whole runs on an installation that something is wrong with. Each must end
// normally, say what went wrong, leave the Judge content, leave the database
// the fault was aimed at byte for byte as it was, and any backup whole.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "reliability/reliability_support.h"

namespace qv::reliability {
namespace {

using Kind = Installation::Kind;

struct Fault {
  std::string name, box;  // box: how the first box starts
  Lines untouched = {};   // "main", "security": byte for byte as before
  char made = '?';        // the lock file and backup: '?' may appear, '+' must, '-' must not
  std::function<void(const Installation&)> edit = {};                             // before the run
  std::function<std::vector<Held>(const Installation&, std::string*)> hold = {};  // during it
  bool mayFinish = false;  // the first box may be the summary
};

class FaultTest : public ::testing::Test {
 protected:
  void Run(const Fault& f, Kind kind = Kind::kFresh, const fs::path& where = "inst",
           Facts* after = nullptr) {
    SCOPED_TRACE(f.name);
    fs::remove_all(dir_.path() / where);
    fs::create_directories((dir_.path() / where).parent_path());
    const Installation inst = Installation::LayOut(dir_.path() / where, kind);
    if (f.edit) f.edit(inst);
    const Judge judge(inst, kind, dir_.path());
    std::map<std::string, std::pair<fs::path, std::string>> dbs;  // file, bytes before
    for (const fs::path& file : {inst.mainDb(), inst.securityDb()}) {
      dbs[file.stem().string().substr(3)] = {file, ReadBytes(file)};
    }
    Lines boxes;
    {
      std::string skip;
      const std::vector<Held> held = f.hold ? f.hold(inst, &skip) : std::vector<Held>{};
      if (!skip.empty()) GTEST_SKIP() << skip;
      boxes = RunInProcess(inst);
    }
    ASSERT_GE(boxes.size(), 2u);
    if (!f.mayFinish || boxes[0].rfind("UserName: ", 0) != 0) {
      EXPECT_EQ(boxes[0].rfind(f.box, 0), 0u) << ::testing::PrintToString(boxes);
      EXPECT_EQ(boxes[1], "False");
    }
    const Facts facts = judge.ExpectIntactAndWhole();
    if (after) *after = facts;
    const fs::path backup = inst.storageDir() / "db" / kBackupFolder;
    bool whole = true;
    for (const auto& [db, file] : dbs) {
      const bool untouched = std::count(f.untouched.begin(), f.untouched.end(), db);
      EXPECT_TRUE(!untouched || ReadBytes(file.first) == file.second) << db << " changed";
      const fs::path copy = backup / file.first.filename();
      EXPECT_TRUE(!fs::exists(copy) || ReadBytes(copy) == file.second) << copy << " in part";
      whole &= fs::exists(copy);
    }
    if (f.made != '?') {  // the lock file and the backup: made whole, or not at all
      EXPECT_EQ(fs::exists(inst.storageDir() / "db" / "qvsetup.lock"), f.made == '+');
      EXPECT_EQ(whole, f.made == '+');
      EXPECT_EQ(fs::exists(backup), f.made == '+');
    }
  }

  testing::ScopedTempDir dir_;
};

// Each transaction waits a short while, then fails "database is locked"; the
// run goes on. A reader is enough: no step reports work it could not save.
TEST_F(FaultTest, ADatabaseLockedByAnotherProcess) {
  for (const std::string db : {"main", "security"}) {
    for (const Holder holder : {Holder::kReader, Holder::kWriter, Holder::kExclusive}) {
      const char* const who[] = {", a reader", ", a writer", ", held exclusively"};
      Fault f{db + who[static_cast<int>(holder)], "5 :database is locked", {db}};
      f.hold = [&](const Installation& i, std::string*) {
        std::string why;
        const Held held = HoldDatabase(db == "main" ? i.mainDb() : i.securityDb(), holder, &why);
        EXPECT_TRUE(held) << why;
        return std::vector<Held>{held};
      };
      Run(f);
    }
  }
}

// Every write fails with the engine's reason; where no file can be written,
// none appears.
TEST_F(FaultTest, ReadOnlyDatabaseFileFolderAndFileSystem) {
  const char* const names[] = {"read-only file", "read-only folder", "read-only file system"};
  for (int c = 0; c < 3; ++c) {
    Fault f{names[c], "8 :attempt to write a readonly database", {"main", "security"}, '-'};
    if (c == 0) f = {names[c], f.box, {"main"}, '+'};
    f.hold = [c](const Installation& i, std::string* skip) {
      const fs::path path = c == 0 ? i.mainDb() : i.storageDir() / "db";
      const fs::perms mode = c == 0   ? fs::perms::owner_read | fs::perms::group_read
                             : c == 1 ? fs::perms::owner_read | fs::perms::owner_exec
                                      : fs::status(path).permissions();
      std::vector<Held> held = {SetMode(path, mode, skip)};  // undone first
      if (c == 2 && held[0]) held.push_back(MountReadOnly(path, skip));
      return held;
    };
    Run(f);
  }
}

// A disk that fills up during the run: from nothing written to a complete run.
TEST_F(FaultTest, AFullDisk) {
  fs::create_directories(dir_.path() / "disk");
  std::string why;
  const Held mount = MountTmpfs(dir_.path() / "disk", 4 << 20, &why);
  if (!mount) GTEST_SKIP() << why;
  for (const Kind kind : {Kind::kFresh, Kind::kOld}) {
    for (const off_t free : {0, 4, 16, 48, 96, 160, 256, 400, 640}) {
      fs::remove(dir_.path() / "disk" / "filler");
      Fault f{(kind == Kind::kFresh ? "fresh, " : "old, ") + std::to_string(free) + " KiB free",
              "13 :database or disk is full"};
      f.mayFinish = true;
      f.edit = [&](const Installation&) {  // fill to the last byte, give `free` back
        const int fd = ::open((dir_.path() / "disk" / "filler").c_str(), O_WRONLY | O_CREAT, 0600);
        const std::string block(64 << 10, 'f');
        off_t size = 0;
        for (size_t chunk = block.size(); chunk > 0; chunk /= 2) {
          for (ssize_t n; (n = ::write(fd, block.data(), chunk)) > 0;) size += n;
        }
        ASSERT_EQ(::ftruncate(fd, std::max<off_t>(0, size - (free << 10))), 0);
        ::close(fd);
      };
      Facts after;
      Run(f, kind, "disk/inst", &after);
      if (free == 640) {
        EXPECT_EQ(after, CleanFacts(kind)) << "room enough for all";
      }
    }
  }
}

// A main database that is no database, or a data source that names none
// (more ways in the data sources' own table): the other database takes its
// steps.
TEST_F(FaultTest, NoDatabaseWhereADataSourcePoints) {
  const std::string source = "-2147467259 :Data source \"qv_";
  const struct {
    const char *from, *to;  // in odbc.ini ("<main>", "<db>": paths), or how qv_main.mdb is
    std::string box;
    Lines untouched = {"main"};
  } cases[] = {
      {"qv_main.mdb", "16 KiB", "11 :database disk image is malformed: "},
      {"qv_main.mdb", "empty", "1 :no such table: EmailAdmin"},  // a database without tables
      {"qv_main.mdb", "gone", "14 :Database file "},             // never created in its place
      {"<main>", "<db>", "14 :unable to open database file"},
      {"[qv_security]", "[qv_secure]", source + "security\" not found", {"security"}},
      {"odbc.ini", "", "-2147467259 :The data-source file ", {"main", "security"}},
  };
  for (const auto& c : cases) {
    Fault f{std::string(c.from) + " " + c.to, c.box, c.untouched};
    f.edit = [&c](const Installation& i) {
      const std::string how = c.to;
      if (c.from == std::string("qv_main.mdb")) {
        std::string bytes = ReadBytes(i.mainDb());
        if (how == "gone") return fs::remove(i.mainDb()), void();
        bytes.resize(how == "empty" ? 0 : 16384);
        return WriteBytes(i.mainDb(), bytes);
      }
      if (c.from == std::string("odbc.ini")) return fs::remove(i.odbcIni()), void();
      std::string ini = ReadBytes(i.odbcIni());
      const std::string from = *c.from == '<' ? i.mainDb().string() : c.from;
      const std::string to = *c.to == '<' ? (i.storageDir() / "db").string() : c.to;
      WriteBytes(i.odbcIni(), ini.replace(ini.find(from), from.size(), to));
    };
    Run(f);
  }
}

}  // namespace
}  // namespace qv::reliability

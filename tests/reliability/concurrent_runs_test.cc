// Two runs started together on one installation (an installer retried, two
// administrators) take turns on the run lock, so the result is that of one
// run after another: sample data once, migrations one at a time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>

#include <regex>

#include "db/data_source.h"
#include "reliability/reliability_support.h"

namespace qv::reliability {
namespace {

const Installation::Kind kKinds[] = {Installation::Kind::kFresh, Installation::Kind::kOld};

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// The areas a run filled.
int64_t Inserts(const Lines& boxes) {
  return std::count_if(boxes.begin(), boxes.end(), [](const std::string& box) {
    return box.rfind("Insert sample date for ", 0) == 0 && box.find(": True") != std::string::npos;
  });
}

TEST(ConcurrentRunsTest, TwoRunsStartedTogetherLeaveWhatTwoRunsInTurnLeave) {
  for (const Installation::Kind kind : kKinds) {
    SCOPED_TRACE(kind == Installation::Kind::kFresh ? "fresh installation" : "older installation");
    testing::ScopedTempDir dir;
    const fs::path cwd = dir.path() / "cwd";
    fs::create_directory(cwd);

    const Installation inTurn = Installation::LayOut(dir.path() / "in turn", kind);
    const Program::Outcome firstRun = Program(kFullRun, inTurn, cwd).Wait();
    const Lines first = firstRun.boxes;
    const Lines second = Program(kFullRun, inTurn, cwd).Wait().boxes;
    EXPECT_EQ(firstRun.err, "") << "a run that gets the lock at once says nothing";
    ASSERT_GT(Inserts(first), 0) << Shown(first);
    ASSERT_EQ(Inserts(second), 0) << "the second run in turn finds every area filled";

    const Installation together = Installation::LayOut(dir.path() / "together", kind);
    const Facts before = FactsOf(together);
    // Holding the lock here first proves that both runs wait for it before
    // they touch anything.
    const fs::path lockFile = together.storageDir() / "db" / "qvsetup.lock";
    const int held = ::open(lockFile.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    Program a(kFullRun, together, cwd), b(kFullRun, together, cwd);
    bool bothWait = false;
    for (int i = 0; i < 6000 && !bothWait && !a.Ended() && !b.Ended(); ++i) {
      bothWait = WaitsForFlock(a.pid(), lockFile) && WaitsForFlock(b.pid(), lockFile);
      ::usleep(10 * 1000);
    }
    EXPECT_TRUE(bothWait) << "a run went ahead without waiting for the run lock";
    EXPECT_EQ(Differences(before, FactsOf(together)), Lines{});
    EXPECT_EQ(Tree(together.storageDir() / "db"),
              (std::set<std::string>{"qv_main.mdb", "qv_security.mdb", "qvsetup.lock"}))
        << "no backup while waiting";
    ::close(held);

    const Program::Outcome outA = a.Wait(), outB = b.Wait();
    EXPECT_TRUE(outA.exitedWithZero && outB.exitedWithZero);
    // Each says once that it waits, naming the file and the holder at the
    // time, this test; the one that then waits for the other says no more.
    const std::string waiting = "qvsetup: waiting for the run lock " + lockFile.string() +
                                ", held by process " + std::to_string(::getpid()) + "\n";
    EXPECT_EQ(outA.err, waiting);
    EXPECT_EQ(outB.err, waiting);
    EXPECT_TRUE((outA.boxes == first && outB.boxes == second) ||
                (outB.boxes == first && outA.boxes == second))
        << "one run inserts every area, the other none";
    EXPECT_EQ(Differences(FactsOf(inTurn), FactsOf(together)), Lines{});
    EXPECT_EQ(Integrity(together.mainDb()), "ok");
    EXPECT_EQ(Integrity(together.securityDb()), "ok");
    EXPECT_EQ(Tree(cwd), std::set<std::string>{});
  }
}

// Two machines share an installation's databases on a server; each has its
// own folder, lock file and backups. Their runs take turns on the server's
// run lock, and the one that waits says on whom.
TEST(ConcurrentRunsTest, RunsOnTwoMachinesSharingAServerTakeTurns) {
  QV_SKIP_UNTESTED_ENGINE(testing::Engine::kPostgres);
  for (const Installation::Kind kind : kKinds) {
    SCOPED_TRACE(kind == Installation::Kind::kFresh ? "fresh installation" : "older installation");
    testing::ScopedTempDir dir;
    const fs::path cwd = dir.path() / "cwd";
    fs::create_directory(cwd);
    auto layOut = [&](const char* name) {
      return Installation::LayOut(dir.path() / name, kind, "Artisan's Guild",
                                  testing::Engine::kPostgres);
    };
    const Installation inTurn = layOut("in turn");
    const Lines first = Program(kFullRun, inTurn, cwd).Wait().boxes;
    const Lines second = Program(kFullRun, inTurn, cwd).Wait().boxes;
    ASSERT_GT(Inserts(first), 0) << Shown(first);
    ASSERT_EQ(Inserts(second), 0) << Shown(first) << Shown(second);

    const Installation together = layOut("together");
    const fs::path other = dir.path() / "other machine";
    fs::create_directories(other / "db");
    const std::string here = together.storageDir().string();
    WriteBytes(other / "registry.reg",
               Replaced(ReadBytes(together.registryFile()), here, other.string()));
    const Facts before = FactsOf(together);

    // Holding the lock here first proves that both runs wait for it before
    // they touch anything.
    const auto connector = db::MakeDataSourceConnector(together.odbcIni().string(), 1000);
    std::unique_ptr<db::RunLock> held = connector->HoldRunLock("qv_main");
    ASSERT_NE(held, nullptr);
    // pg_locks shows the whole cluster, where other tests hold run locks too.
    const std::string thisDatabase =
        " AND database = (SELECT oid FROM pg_database WHERE datname = current_database())";
    const std::string holder = testing::QueryValue(
        together.mainDatabase(),
        "SELECT pid FROM pg_locks WHERE locktype = 'advisory' AND granted" + thisDatabase);
    Program a(kFullRun, together, cwd),
        b(kFullRun, other / "registry.reg", together.odbcIni(), cwd);
    const std::string waiting =
        "SELECT count(*) FROM pg_locks WHERE locktype = 'advisory' AND NOT granted" + thisDatabase;
    bool bothWait = false;
    for (int i = 0; i < 6000 && !bothWait && !a.Ended() && !b.Ended(); ++i) {
      bothWait = testing::QueryValue(together.mainDatabase(), waiting) == "2";
      ::usleep(10 * 1000);
    }
    EXPECT_TRUE(bothWait) << "a run went ahead without waiting for the server's run lock";
    EXPECT_EQ(Differences(before, FactsOf(together)), Lines{});
    EXPECT_EQ(Tree(together.storageDir() / "db"), std::set<std::string>{"qvsetup.lock"});
    EXPECT_EQ(Tree(other / "db"), std::set<std::string>{"qvsetup.lock"})
        << "no backup while waiting";
    held.reset();

    const Program::Outcome outA = a.Wait(), outB = b.Wait();
    EXPECT_TRUE(outA.exitedWithZero && outB.exitedWithZero);
    const std::regex said(
        "qvsetup: waiting for the run lock on server database \\S+ \\(advisory "
        "lock [0-9]+\\), held by server pid " +
        holder + "( \\(client [^)]*\\))?\n");
    for (const std::string& err : {outA.err, outB.err}) {
      // Said once, when the wait begins; the older installation's views
      // that the server drops are named after it.
      EXPECT_TRUE(std::regex_match(err.substr(0, err.find('\n') + 1), said)) << err;
      EXPECT_EQ(err.find("waiting", err.find('\n')), std::string::npos) << err;
    }
    EXPECT_TRUE((outA.boxes == first && outB.boxes == second) ||
                (outB.boxes == first && outA.boxes == second))
        << "one run fills every area, the other none";
    Facts after = FactsOf(together);
    for (auto& [key, value] : after) value = Replaced(value, other.string(), "<storage>");
    EXPECT_EQ(Differences(FactsOf(inTurn), after), Lines{});
    for (const fs::path& db : {together.storageDir() / "db", other / "db"}) {
      EXPECT_EQ(Tree(db).size(), 4u) << db << ": the lock file and a backup of two dumps";
    }
  }
}

}  // namespace
}  // namespace qv::reliability

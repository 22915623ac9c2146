// Two runs started together on one installation (an installer retried, two
// administrators) take turns on the run lock, so the result is that of one
// run after another: sample data once, migrations one at a time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>

#include "reliability/reliability_support.h"

namespace qv::reliability {
namespace {

TEST(ConcurrentRunsTest, TwoRunsStartedTogetherLeaveWhatTwoRunsInTurnLeave) {
  for (const Installation::Kind kind : {Installation::Kind::kFresh, Installation::Kind::kOld}) {
    SCOPED_TRACE(kind == Installation::Kind::kFresh ? "fresh installation" : "older installation");
    testing::ScopedTempDir dir;
    const fs::path cwd = dir.path() / "cwd";
    fs::create_directory(cwd);

    const Installation inTurn = Installation::LayOut(dir.path() / "in turn", kind);
    const Program::Outcome firstRun = Program(kFullRun, inTurn, cwd).Wait();
    const Lines first = firstRun.boxes;
    const Lines second = Program(kFullRun, inTurn, cwd).Wait().boxes;
    EXPECT_EQ(firstRun.err, "") << "a run that gets the lock at once says nothing";
    auto inserts = [](const Lines& boxes) {
      return std::count_if(boxes.begin(), boxes.end(), [](const std::string& box) {
        return box.rfind("Insert sample date for ", 0) == 0;
      });
    };
    ASSERT_GT(inserts(first), 0) << Shown(first);
    ASSERT_EQ(inserts(second), 0) << "the second run in turn finds every area filled";

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

}  // namespace
}  // namespace qv::reliability

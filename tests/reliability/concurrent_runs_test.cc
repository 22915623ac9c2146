// Two runs started together on one installation (an installer retried, two
// administrators) take turns on the run lock, so the result is that of one
// run after another: sample data once, migrations one at a time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "reliability/reliability_support.h"
#include "support/scoped_temp_dir.h"

namespace qv::reliability {
namespace {

const std::vector<std::string> kArgs = {"/i", "Initialize", "/a", "/b", "/d"};

// Whether `ready` came true within a minute; false at once when `gone` did.
template <typename Ready, typename Gone>
bool Eventually(Ready ready, Gone gone) {
  for (int i = 0; i < 6000; ++i) {
    if (ready()) return true;
    if (gone()) return false;
    ::usleep(10 * 1000);
  }
  return false;
}

TEST(ConcurrentRunsTest, TwoRunsStartedTogetherLeaveWhatTwoRunsInTurnLeave) {
  for (const Installation::Kind kind : {Installation::Kind::kFresh, Installation::Kind::kOld}) {
    SCOPED_TRACE(kind == Installation::Kind::kFresh ? "fresh installation" : "older installation");
    testing::ScopedTempDir dir, outputs;
    fs::create_directory(dir.path() / "cwd");

    // The reference: two runs of the program, one after the other.
    const Installation inTurn = Installation::LayOut(dir.path() / "in turn", kind);
    const std::vector<std::string> firstBoxes =
        BoxesOf(RunProgram(kArgs, inTurn, dir.path() / "cwd").out);
    const std::vector<std::string> secondBoxes =
        BoxesOf(RunProgram(kArgs, inTurn, dir.path() / "cwd").out);
    auto inserts = [](const std::vector<std::string>& boxes) {
      int n = 0;
      for (const std::string& box : boxes) n += box.rfind("Insert sample date for ", 0) == 0;
      return n;
    };
    ASSERT_GT(inserts(firstBoxes), 0);
    ASSERT_EQ(inserts(secondBoxes), 0) << "the second run in turn finds every area filled";

    const Installation together = Installation::LayOut(dir.path() / "together", kind);
    const Facts before = FactsOf(together);
    // Holding the lock here first proves that both runs wait for it before
    // they touch anything.
    const fs::path lockFile = together.storageDir() / "db" / "qvsetup.lock";
    const int held = ::open(lockFile.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    QvsetupProcess a(kArgs, together, dir.path() / "cwd", outputs.path());
    QvsetupProcess b(kArgs, together, dir.path() / "cwd", outputs.path());
    const bool bothWaited = Eventually(
        [&] { return WaitsForFlock(a.pid(), lockFile) && WaitsForFlock(b.pid(), lockFile); },
        [&] { return a.Ended() || b.Ended(); });
    EXPECT_TRUE(bothWaited) << "a run went ahead without waiting for the run lock";
    EXPECT_EQ(Differences(before, FactsOf(together)), std::vector<std::string>{});
    EXPECT_EQ(Tree(together.storageDir() / "db").count("qvsetup.lock"), 1u);
    EXPECT_EQ(Tree(together.storageDir() / "db").size(), 3u) << "no backup while waiting";
    ::close(held);

    const QvsetupProcess::Outcome outA = a.Wait(), outB = b.Wait();
    EXPECT_TRUE(outA.ExitedWithZero() && outB.ExitedWithZero());
    EXPECT_EQ(outA.err + outB.err, "");
    const std::vector<std::string> boxesA = BoxesOf(outA.out), boxesB = BoxesOf(outB.out);
    EXPECT_TRUE((boxesA == firstBoxes && boxesB == secondBoxes) ||
                (boxesB == firstBoxes && boxesA == secondBoxes))
        << "one run inserts every area, the other none";
    EXPECT_EQ(Differences(FactsOf(inTurn), FactsOf(together)), std::vector<std::string>{});
    EXPECT_EQ(Integrity(together.mainDb()), "ok");
    EXPECT_EQ(Integrity(together.securityDb()), "ok");
  }
}

}  // namespace
}  // namespace qv::reliability

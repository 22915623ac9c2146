// Two runs started together on one installation (an installer retried; on a
// server, two machines sharing its databases, each with its own folder) take
// turns on the run lock: the result is that of one run after another.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <regex>

#include "db/odbc_ini.h"
#include "db/postgres/pg_session.h"
#include "reliability/reliability_support.h"

namespace qv::reliability {
namespace {

class ConcurrentRunsTest : public ::testing::TestWithParam<testing::Engine> {
  void SetUp() override { QV_SKIP_UNTESTED_ENGINE(GetParam()); }
};

TEST_P(ConcurrentRunsTest, TwoRunsStartedTogetherLeaveWhatOneRunLeaves) {
  const bool files = GetParam() == testing::Engine::kSqlite;
  for (const Installation::Kind kind : {Installation::Kind::kFresh, Installation::Kind::kOld}) {
    testing::ScopedTempDir dir;
    const fs::path cwd = dir.path() / "cwd";
    fs::create_directory(cwd);
    const Installation together =
        Installation::LayOut(dir.path() / "inst", kind, "Artisan's Guild", GetParam());
    const fs::path here = together.storageDir(), other = files ? here : dir.path() / "other";
    fs::create_directories(other / "db");
    WriteBytes(other / "registry.reg",
               Replaced(ReadBytes(together.registryFile()), here.string(), other.string()));
    const Facts before = FactsOf(together);
    // Held here first: both runs wait for it before they touch anything.
    const fs::path lockFile = here / "db" / "qvsetup.lock";
    const int fd = ::open(lockFile.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    const auto connector =
        db::MakeDataSourceConnector(together.odbcIni().string(), 1000, StandardErrorDiagnostics());
    std::unique_ptr<db::RunLock> held = connector->HoldRunLock("qv_main");
    ASSERT_TRUE(files ? ::flock(fd, LOCK_EX) == 0 : held != nullptr);
    // The server's session that holds the lock (pg_locks spans the cluster).
    const std::string holder =
        files ? std::to_string(::getpid())
              : testing::QueryValue(together.mainDatabase(),
                                    "SELECT pid FROM pg_locks WHERE locktype = 'advisory' AND "
                                    "granted AND database = (SELECT oid FROM pg_database WHERE "
                                    "datname = current_database())");
    Program a(kFullRun, together, cwd),
        b(kFullRun, other / "registry.reg", together.odbcIni(), cwd);
    bool bothWait = false;
    for (int i = 0; i < 6000 && !bothWait && !a.Ended() && !b.Ended(); ++i) {
      bothWait = a.Err().find("waiting") != std::string::npos &&
                 b.Err().find("waiting") != std::string::npos;
      ::usleep(10 * 1000);
    }
    EXPECT_TRUE(bothWait) << "a run went ahead without waiting for the run lock";
    EXPECT_EQ(FactsOf(together), before);
    for (const fs::path& db : {here / "db", other / "db"}) {
      EXPECT_EQ(Tree(db).count("qvsetup.lock") + (files ? 2 : 0), Tree(db).size())
          << "no backup while waiting";
    }
    // On a server an administrator ends the session that holds the lock for
    // the run that goes first, while its backup waits for a table: that run
    // takes the lock again, after the other.
    const bool ended = !files && kind == Installation::Kind::kOld;
    if (ended) testing::Exec(together.mainDatabase(), "BEGIN; LOCK TABLE Company");
    ::close(fd);
    held.reset();
    std::string pid = holder;
    for (int i = 0; ended && i < 1000 && (pid.empty() || pid == holder); ++i, ::usleep(10 * 1000)) {
      pid = testing::QueryValue(
          together.mainDatabase(),
          "SELECT coalesce(min(pid)::text, '') FROM pg_locks l WHERE " +
              db::postgres::RunLockHeld() +
              " AND l.database = (SELECT oid FROM pg_database WHERE datname = current_database())"
              " AND EXISTS (SELECT 1 FROM pg_locks w WHERE NOT w.granted AND w.relation = "
              "'company'::regclass)");  // its backup waits
      if (!pid.empty() && pid != holder) {
        testing::Exec(together.mainDatabase(), "SELECT pg_terminate_backend(" + pid + ")");
      }
    }
    if (ended) testing::Exec(together.mainDatabase(), "COMMIT");

    const Program::Outcome outA = a.Wait(), outB = b.Wait();
    EXPECT_TRUE(outA.exitedWithZero && outB.exitedWithZero);
    // Each says once that it waits, naming the lock and its holder, this test.
    const std::regex said(files ? "qvsetup: waiting for the run lock " + lockFile.string() +
                                      ", held by process " + holder + "\n"
                                : "qvsetup: waiting for the run lock on server database \\S+ "
                                  "\\(advisory lock [0-9]+\\), held by server pid " +
                                      holder + "( \\(client [^)]*\\))?\n");
    int lost = 0;
    for (const std::string& err : {outA.err, outB.err}) {
      const size_t line = err.find('\n') + 1;
      EXPECT_TRUE(std::regex_match(err.substr(0, line), said)) << err;
      // The run whose session was ended says so, and may wait once more.
      const size_t again =
          err.find("qvsetup: the server closed the session that held the run lock");
      lost += again != std::string::npos;
      const size_t rest = again == err.npos ? line : err.find('\n', err.find("waiting", again));
      EXPECT_EQ(err.find("waiting", rest), std::string::npos) << err;
    }
    EXPECT_EQ(lost, ended ? 1 : 0) << outA.err << outB.err;
    const auto inserts = [](const Lines& boxes) {  // the areas a run filled
      return std::count_if(boxes.begin(), boxes.end(), [](const std::string& box) {
        return box.rfind("Insert sample date for ", 0) == 0 && box.find(": True") != box.npos;
      });
    };
    // The run whose session was ended fills nothing: it had not begun its steps.
    EXPECT_EQ(std::min(inserts(outA.boxes), inserts(outB.boxes)), 0);
    EXPECT_GT(std::max(inserts(outA.boxes), inserts(outB.boxes)), 0)
        << "one run fills every area, the other none";
    Facts after = FactsOf(together);
    for (auto& [key, value] : after) value = Replaced(value, other.string(), "<storage>");
    EXPECT_EQ(after, CleanFacts(kind, GetParam()));
    EXPECT_TRUE(!files ||
                (Integrity(together.mainDb()) == "ok" && Integrity(together.securityDb()) == "ok"));
    EXPECT_EQ(Tree(cwd), std::set<std::string>{});
    for (const fs::path& db : {here / "db", other / "db"}) {
      EXPECT_TRUE(files || Tree(db).size() == 4u) << db << ": the lock file and two dumps";
    }
  }
}

QV_ON_BOTH_ENGINES(ConcurrentRunsTest);

}  // namespace
}  // namespace qv::reliability

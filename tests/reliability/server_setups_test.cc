// A whole run against a server as its administrator set it up: settings of
// the login role and of the database, a lock that another session holds
// while the run starts. The run ends as on a default server, with the boxes
// of a clean run and the rows of one run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <tuple>

#include "db/postgres/pg_session.h"
#include "reliability/reliability_support.h"
#include "support/server_processes.h"

namespace qv::reliability {
namespace {

using testing::Exec;

TEST(ServerSetUpTest, RunsAsTheRoleAndTheDatabaseSetThemUp) {
  QV_SKIP_UNTESTED_ENGINE(testing::Engine::kPostgres);
  const std::string runLock = std::to_string(db::postgres::kRunLockKey);
  // The settings of a role of the run's own (%r; %d the main database), what another session
  // holds for two seconds as the run starts (on the main database, or the security one) and
  // whether the run writes nothing meanwhile, and a pgbouncer between the run and the server.
  const std::tuple<std::string, bool, std::string, std::string, bool, std::string> cases[] = {
      // The server closes the run's idle connections while the run waits in a late step.
      {"ALTER ROLE %r SET idle_session_timeout = '1s'", false,
       "BEGIN; LOCK TABLE Users IN SHARE MODE", "COMMIT", false, ""},
      // The run waits for the run lock longer than any statement may take.
      {"ALTER ROLE %r SET statement_timeout = '1s'; ALTER DATABASE %d SET statement_timeout = "
       "'1200ms'",
       true, "SELECT pg_advisory_lock(" + runLock + ")",
       "SELECT pg_advisory_unlock(" + runLock + ")", true, ""},
      {"", true, "", "", false, "session"},
      // Runs cannot take turns there: nothing is done, and the administrator is told why.
      {"", true, "", "", false, "transaction"},
  };
  for (const auto& [settings, onMain, take, give, runWaits, pooling] : cases) {
    SCOPED_TRACE(settings + pooling);
    testing::ScopedTempDir dir;
    fs::create_directory(dir.path() / "cwd");
    const Installation inst = Installation::LayOut(dir.path() / "inst", Installation::Kind::kOld,
                                                   "Artisan's Guild", testing::Engine::kPostgres);
    const db::ServerLogin& at = inst.mainDatabase().server();
    std::string ini = ReadBytes(inst.odbcIni());
    if (!settings.empty()) {  // a role that may do what the installation's owner may
      const std::string role = inst.mainDatabase().name() + "_role";
      Exec(inst.mainDatabase(),
           "CREATE ROLE " + role + " LOGIN PASSWORD 'pw' IN ROLE CURRENT_USER");
      Exec(inst.mainDatabase(),
           Replaced(Replaced(settings, "%r", role), "%d", inst.mainDatabase().name()));
      ini = Replaced(ini, "Username   = " + at.user, "Username = " + role + "\nPassword = pw");
    }
    std::unique_ptr<testing::ServerProcess> pooler;
    if (!pooling.empty()) {
      pooler = std::make_unique<testing::ServerProcess>(pooling);
      ini = Replaced(Replaced(ini, "Servername = " + at.host, "Servername = " + pooler->host()),
                     "Port       = " + at.port, "Port = " + pooler->port());
    }
    WriteBytes(inst.odbcIni(), ini);

    const testing::DatabaseRef& holder = onMain ? inst.mainDatabase() : inst.securityDatabase();
    const Facts before = FactsOf(inst);
    if (!take.empty()) Exec(holder, take);
    Program run(kFullRun, inst, dir.path() / "cwd");
    if (!take.empty()) {
      ::usleep(2000 * 1000);
      EXPECT_TRUE(!runWaits || FactsOf(inst) == before);
      Exec(holder, give);
    }
    const Program::Outcome o = run.Wait();
    EXPECT_TRUE(o.exitedWithZero);
    for (const std::string& box : o.boxes) EXPECT_EQ(box.find("False"), std::string::npos) << box;
    const bool refused = pooling == "transaction";
    EXPECT_EQ(o.boxes.empty(), refused);
    EXPECT_EQ(o.err.find("is pooled per transaction") != std::string::npos, refused) << o.err;
    EXPECT_EQ(FactsOf(inst),
              refused ? before : CleanFacts(Installation::Kind::kOld, testing::Engine::kPostgres))
        << o.err;
  }
}

}  // namespace
}  // namespace qv::reliability

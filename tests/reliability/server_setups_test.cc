// A whole run against a server as its administrator set it up: settings of
// the login role and of the database, a lock that another session holds
// while the run starts. The run ends as on a default server, with the boxes
// of a clean run and the rows of one run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>

#include "db/postgres/pg_session.h"
#include "reliability/reliability_support.h"
#include "support/server_processes.h"

namespace qv::reliability {
namespace {

using testing::Exec;

TEST(ServerSetUpTest, RunsAsTheRoleAndTheDatabaseSetThemUp) {
  QV_SKIP_UNTESTED_ENGINE(testing::Engine::kPostgres);
  const std::string runLock = std::to_string(db::postgres::kRunLockKey);
  struct Case {
    std::string settings;    // %r the run's role, %d the main database
    bool onMain;             // where another session holds
    std::string take, give;  // what it holds for two seconds as the run starts
    bool runWaits;           // and the run writes nothing meanwhile
    std::string pooling;     // a pgbouncer between the run and the server, in this mode
  };
  const Case cases[] = {
      // The server closes the run's idle connections while the run waits in a late step.
      {"ALTER ROLE %r SET idle_session_timeout = '300ms'", false,
       "BEGIN; LOCK TABLE Users IN SHARE MODE", "COMMIT", false, ""},
      // The run waits for the run lock longer than any statement may take.
      {"ALTER ROLE %r SET statement_timeout = '1s'; "
       "ALTER DATABASE %d SET statement_timeout = '1200ms'",
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
    const std::string role = inst.mainDatabase().name() + "_role";
    std::string ini = ReadBytes(inst.odbcIni());
    auto set = [&ini](const std::string& key, const std::string& value) {
      for (size_t at = 0; (at = ini.find(key + " ", at)) != std::string::npos; ++at) {
        ini.replace(at, ini.find('\n', at) - at, key + " = " + value);
      }
    };
    if (!settings.empty()) {  // a role of its own, that may do what the installation's owner may
      Exec(inst.mainDatabase(),
           "CREATE ROLE " + role + " LOGIN PASSWORD 'pw' IN ROLE CURRENT_USER");
      std::string sql = settings;
      for (const auto& [from, to] :
           {std::pair<std::string, std::string>{"%r", role}, {"%d", inst.mainDatabase().name()}}) {
        for (size_t at; (at = sql.find(from)) != std::string::npos;) sql.replace(at, 2, to);
      }
      Exec(inst.mainDatabase(), sql);
      set("Username", role + "\nPassword = pw");
    }
    std::unique_ptr<testing::ServerProcess> pooler;
    if (!pooling.empty()) {
      pooler = std::make_unique<testing::ServerProcess>(pooling);
      set("Servername", pooler->host());
      set("Port", pooler->port());
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
    const Facts after = FactsOf(inst), &expected = refused ? before
                                                           : CleanFacts(Installation::Kind::kOld,
                                                                        testing::Engine::kPostgres);
    for (const auto& [key, value] : expected) {
      EXPECT_EQ(after.count(key) ? after.at(key) : "(none)", value) << key << "\n" << o.err;
    }
    EXPECT_EQ(after.size(), expected.size());
  }
}

}  // namespace
}  // namespace qv::reliability

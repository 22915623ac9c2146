// A server installation's backup: the databases' dumps from before the run,
// which pg_restore brings back; a dump that cannot be made is said on
// standard error, without a box, and leaves no file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <sstream>

#include "db/diagnostics.h"
#include "db/postgres/create_database.h"
#include "reliability/reliability_support.h"

namespace qv::reliability {
namespace {

using testing::DatabaseRef;
using testing::Engine;

TEST(ServerBackupTest, TheDumpsRestoreTheStateBeforeTheRunOrAreSaidToBeSkipped) {
  QV_SKIP_UNTESTED_ENGINE(Engine::kPostgres);
  const std::string skipped = "qvsetup: backup skipped: pg_dump ";
  const std::string noPgDump = skipped + "is not on PATH \\(install postgresql-client\\) ";
  const struct {
    bool pgDumpOnPath, mainMissing;
    std::string said;  // a pattern
    std::set<std::string> dumps;
  } cases[] = {
      {true, false, "", {"qv_main.dump", "qv_security.dump"}},
      {false,
       false,
       noPgDump + "\\(data source \"qv_main\"\\)\n" + noPgDump +
           "\\(data source \"qv_security\"\\)\n",
       {}},
      {true,
       true,
       skipped + "failed \\(exit status 1\\): pg_dump: error: .*\\(data source \"qv_main\"\\)\n",
       {"qv_security.dump"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.said);
    testing::ScopedTempDir dir;
    const Installation inst = Installation::LayOut(dir.path() / "inst", Installation::Kind::kOld,
                                                   "Guild", Engine::kPostgres);
    if (c.mainMissing) {
      WriteBytes(inst.odbcIni(),
                 std::regex_replace(ReadBytes(inst.odbcIni()),
                                    std::regex("(Database *= *.*)qv_main"), "$1qv_missing"));
    }
    const Facts before = FactsOf(inst.mainDatabase(), inst.securityDatabase());
    const std::string path = std::getenv("PATH");
    fs::create_directory(dir.path() / "empty");
    ::setenv("PATH", c.pgDumpOnPath ? path.c_str() : (dir.path() / "empty").c_str(), 1);
    std::ostringstream said;
    std::ostream* previous = db::SetDiagnosticStream(&said);
    RunInProcess(inst);
    db::SetDiagnosticStream(previous);
    ::setenv("PATH", path.c_str(), 1);
    EXPECT_TRUE(std::regex_match(said.str(), std::regex(c.said))) << said.str();
    const fs::path backup = inst.storageDir() / "db" / kBackupFolder;
    EXPECT_EQ(Tree(backup), c.dumps) << "no dump, and no part of one, under any name";
    if (c.dumps.size() < 2) continue;
    ASSERT_NE(Differences(before, FactsOf(inst.mainDatabase(), inst.securityDatabase())), Lines{})
        << "the run changes rows and schema";
    const db::ServerAddress& server = inst.mainDatabase().server();
    const std::string main = inst.mainDatabase().name() + "_restored";
    const std::string security = inst.securityDatabase().name() + "_restored";
    db::CreateServerDatabases(server, {{main, "SELECT 1"}, {security, "SELECT 1"}});
    const std::shared_ptr<void> drop(nullptr, [&](void*) {
      db::DropServerDatabases(server, {main, security});
    });
    for (const auto& [name, file] :
         {std::pair{main, "qv_main.dump"}, {security, "qv_security.dump"}}) {
      const std::string command = "pg_restore --no-owner --exit-on-error --host='" + server.host +
                                  "' --port='" + server.port + "' --username='" + server.user +
                                  "' --dbname='" + name + "' '" + (backup / file).string() + "'";
      ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    EXPECT_EQ(Differences(before, FactsOf(DatabaseRef::OnServer(server, main),
                                          DatabaseRef::OnServer(server, security))),
              Lines{});
  }
}

}  // namespace
}  // namespace qv::reliability

// A server installation's backup: the databases' dumps from before the run,
// which pg_restore brings back; a dump that cannot be made is said on
// standard error, without a box.
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

// The diagnostics of a full run in this process with PATH set to `path`.
std::string RunWithPath(const Installation& inst, const std::string& path) {
  const std::string saved = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
  ::setenv("PATH", path.c_str(), 1);
  std::ostringstream diagnostics;
  std::ostream* previous = db::SetDiagnosticStream(&diagnostics);
  RunInProcess(inst);
  db::SetDiagnosticStream(previous);
  ::setenv("PATH", saved.c_str(), 1);
  return diagnostics.str();
}

TEST(ServerBackupTest, TheDumpsRestoreTheStateBeforeTheRun) {
  QV_SKIP_UNTESTED_ENGINE(Engine::kPostgres);
  testing::ScopedTempDir dir;
  const Installation inst = Installation::LayOut(dir.path() / "inst", Installation::Kind::kOld,
                                                 "Guild", Engine::kPostgres);
  const Facts before = FactsOf(inst.mainDatabase(), inst.securityDatabase());
  const std::string said = RunWithPath(inst, std::getenv("PATH"));
  EXPECT_EQ(said.find("backup"), std::string::npos) << said;
  ASSERT_NE(Differences(before, FactsOf(inst.mainDatabase(), inst.securityDatabase())), Lines{})
      << "the run changes rows and schema";
  const fs::path backup = inst.storageDir() / "db" / kBackupFolder;
  ASSERT_EQ(Tree(backup), (std::set<std::string>{"qv_main.dump", "qv_security.dump"}));

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

// Without pg_dump, or when a dump fails, that backup is skipped, said once.
TEST(ServerBackupTest, ADumpThatCannotBeMadeIsSaidOnStandardError) {
  QV_SKIP_UNTESTED_ENGINE(Engine::kPostgres);
  struct Case {
    const char* name;
    bool pgDumpOnPath;
    bool mainMissing;
    const char* said;  // a pattern per line
  };
  const Case cases[] = {
      {"no pg_dump", false, false,
       "qvsetup: backup skipped: pg_dump is not on PATH \\(install postgresql-client\\) \\(data "
       "source \"qv_main\"\\)\n"
       "qvsetup: backup skipped: pg_dump is not on PATH \\(install postgresql-client\\) \\(data "
       "source \"qv_security\"\\)\n"},
      {"main database missing", true, true,
       "qvsetup: backup skipped: pg_dump failed \\(exit status 1\\): pg_dump: error: .*"
       "\\(data source \"qv_main\"\\)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::ScopedTempDir dir;
    const Installation inst = Installation::LayOut(dir.path() / "inst", Installation::Kind::kFresh,
                                                   "Guild", Engine::kPostgres);
    if (c.mainMissing) {
      WriteBytes(inst.odbcIni(),
                 std::regex_replace(ReadBytes(inst.odbcIni()),
                                    std::regex("(Database *= *.*)qv_main"), "$1qv_missing"));
    }
    const fs::path empty = dir.path() / "empty";
    fs::create_directory(empty);
    const std::string said =
        RunWithPath(inst, c.pgDumpOnPath ? std::string(std::getenv("PATH")) : empty.string());
    EXPECT_TRUE(std::regex_match(said, std::regex(c.said))) << said;
    EXPECT_EQ(Tree(inst.storageDir() / "db" / kBackupFolder),
              c.mainMissing ? std::set<std::string>{"qv_security.dump"} : std::set<std::string>{})
        << "no dump, and no part of one, under any name";
  }
}

}  // namespace
}  // namespace qv::reliability

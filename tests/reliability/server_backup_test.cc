// A server installation's backup: dumps from before the run that pg_restore
// brings back; a dump that cannot be made is said on standard error, no box.
#include <gtest/gtest.h>

#include <cstdlib>

#include "db/create_databases.h"
#include "reliability/reliability_support.h"

namespace qv::reliability {
namespace {

using testing::Engine;

// The diagnostics of a full run in this process with PATH set to `path`.
std::string RunWithPath(const Installation& inst, const std::string& path) {
  const std::string saved = std::getenv("PATH");
  ::setenv("PATH", path.c_str(), 1);
  testing::CapturedDiagnostics diagnostics;
  RunInProcess(inst, &diagnostics.diagnostics);
  ::setenv("PATH", saved.c_str(), 1);
  return diagnostics.text.str();
}

TEST(ServerBackupTest, TheDumpsRestoreTheStateBeforeTheRunOrAreSaidToBeSkipped) {
  QV_SKIP_UNTESTED_ENGINE(Engine::kPostgres);
  testing::ScopedTempDir dir;
  const Installation inst = Installation::LayOut(dir.path() / "old", Installation::Kind::kOld,
                                                 "Guild", Engine::kPostgres);
  const Facts before = FactsOf(inst);
  const std::string said = RunWithPath(inst, std::getenv("PATH"));
  EXPECT_EQ(said.find("backup"), std::string::npos) << said;
  ASSERT_NE(FactsOf(inst), before) << "the run changes rows and schema";
  const fs::path backup = inst.storageDir() / "db" / kBackupFolder;
  ASSERT_EQ(Tree(backup), (std::set<std::string>{"qv_main.dump", "qv_security.dump"}));
  // Both databases made again from nothing but their dumps.
  const db::ServerLogin& server = inst.mainDatabase().server();
  for (const auto& [db, file] : {std::pair{inst.mainDatabase(), "qv_main.dump"},
                                 {inst.securityDatabase(), "qv_security.dump"}}) {
    const std::string restored = db.name() + "_restored";
    db::CreateServerDatabases(server, {{restored, "SELECT 1"}});
    const std::string command = "pg_restore --no-owner --exit-on-error --host='" + server.host +
                                "' --port='" + server.port + "' --username='" + server.user +
                                "' --dbname='" + restored + "' '" + (backup / file).string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    testing::CopyDatabase(testing::DatabaseRef::OnServer(server, restored), db);
    db::DropServerDatabases(server, {restored});
  }
  EXPECT_EQ(FactsOf(inst), before);

  // A dump that cannot be made (no pg_dump, or one that fails after writing
  // part of a dump) is skipped, said once per database; nothing of it is left.
  const fs::path failing = dir.path() / "failing" / "pg_dump";
  fs::create_directories(failing.parent_path());
  testing::WriteBytes(failing, "#!/bin/sh\necho half a dump\necho 'no server' >&2\nexit 3\n");
  fs::permissions(failing, fs::perms::owner_all);
  fs::create_directory(dir.path() / "empty");
  for (const auto& [folder, why] :
       {std::pair{"empty", "pg_dump is not on PATH (install postgresql-client)"},
        {"failing", "pg_dump failed (exit status 3): no server"}}) {
    const Installation fresh = Installation::LayOut(
        dir.path() / folder / "inst", Installation::Kind::kFresh, "G", Engine::kPostgres);
    const std::string skipped =
        std::string("qvsetup: backup skipped: ") + why + " (data source \"qv_";
    EXPECT_EQ(RunWithPath(fresh, (dir.path() / folder).string()),
              skipped + "main\")\n" + skipped + "security\")\n");
    EXPECT_EQ(Tree(fresh.storageDir() / "db" / kBackupFolder), std::set<std::string>{});
  }
}

}  // namespace
}  // namespace qv::reliability

// A backup after a crash inside a transaction copies the hot journal with
// the file, so the copy opens as the last committed state, as the run does.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include "reliability/reliability_support.h"

namespace qv::reliability {
namespace {

using testing::QueryValue;

TEST(BackupAfterACrashTest, TheCopyOpensAsTheLastCommittedState) {
  testing::ScopedTempDir dir;
  const Installation inst = Installation::LayOut(dir.path() / "inst");
  const std::string companies = "SELECT group_concat(CompanyName, '|') FROM Company";
  const std::string filler = "SELECT count(*) FROM sqlite_master WHERE name = 'Filler'";
  const std::string committed = QueryValue(inst.mainDb(), companies);

  // Another process writes a megabyte through a tiny cache and dies before
  // it commits.
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(inst.mainDb().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    for (const char* sql :
         {"PRAGMA cache_size = 8", "BEGIN", "UPDATE Company SET CompanyName = 'half written'",
          "CREATE TABLE Filler(x)",
          "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
          "INSERT INTO Filler SELECT randomblob(500) FROM n"}) {
      if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) ::_exit(1);
    }
    ::_exit(0);  // no commit, no rollback, no close
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const fs::path journal = inst.mainDb().string() + "-journal";
  ASSERT_GT(fs::file_size(journal), 0u) << "the crash left a hot journal";
  // The file alone holds part of the transaction: the case is real.
  const fs::path alone = dir.path() / "alone.mdb";
  WriteBytes(alone, ReadBytes(inst.mainDb()));
  EXPECT_TRUE(Integrity(alone) != "ok" || QueryValue(alone, filler) == "1" ||
              QueryValue(alone, companies) != committed)
      << "nothing of the transaction reached the file";

  RunInProcess(inst);

  const fs::path backup = inst.storageDir() / "db" / kBackupFolder;
  EXPECT_EQ(Tree(backup),
            (std::set<std::string>{"qv_main.mdb", "qv_main.mdb-journal", "qv_security.mdb"}));
  // Opening the copy rolls the journal back, as opening the original does.
  for (const fs::path& db : {backup / "qv_main.mdb", inst.mainDb()}) {
    SCOPED_TRACE(db.string());
    EXPECT_EQ(Integrity(db), "ok");
    EXPECT_EQ(QueryValue(db, filler), "0");
  }
  EXPECT_EQ(QueryValue(backup / "qv_main.mdb", companies), committed);
  EXPECT_EQ(QueryValue(inst.mainDb(), "SELECT CompanyName FROM Company WHERE CompanyID = 1"),
            "Artisan's Guild")
      << "the run did its work on the rolled-back database";
  EXPECT_FALSE(fs::exists(journal));
}

}  // namespace
}  // namespace qv::reliability

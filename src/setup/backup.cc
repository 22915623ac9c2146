#include "setup/backup.h"

#include <ctime>

#include "db/data_sources.h"
#include "db/db_error.h"
#include "db/diagnostics.h"
#include "setup/reg_op.h"

namespace qv::setup {

std::string BackupStamp(const timezone::Clock& clock) {
  const std::time_t now = clock.Now();
  ::tzset();  // localtime_r need not look at TZ again by itself
  std::tm local{};
  if (::localtime_r(&now, &local) == nullptr) return "";
  char text[32];
  const size_t n = std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return std::string(text, n);
}

namespace {

// Copies one database file and, when the copy was made, the rollback journal
// beside it. A journal is there only when a run or the server died inside a
// transaction: the database file may then hold half of that transaction, and
// only with the journal does the copy open as the last committed state. A
// missing journal is the normal case and goes unnoticed.
void CopyDatabase(FileOps& files, const std::string& from, const std::string& to) {
  if (files.CopyFile(from, to)) files.CopyFile(from + "-journal", to + "-journal");
}

// Whether the data source keeps its database on a server. A data source
// that cannot be looked up counts as a file: its copy is then tried and
// fails or succeeds as it always has.
bool OnServer(db::Connector& connector, const char* dataSource) {
  try {
    return connector.OnServer(dataSource);
  } catch (const std::exception&) {
    return false;
  }
}

// The db layer's message names the data source.
void DumpDatabase(db::Connector& connector, const char* dataSource, const std::string& to) {
  try {
    connector.Dump(dataSource, to);
  } catch (const std::exception& e) {
    db::Diagnose(std::string("backup skipped: ") + e.what());
  }
}

}  // namespace

void BackUpDatabases(RegistryStore& registry, FileOps& files, db::Connector& connector,
                     const timezone::Clock& clock) {
  const std::string stamp = BackupStamp(clock);
  const std::string backupDir = ReadSetting(registry, "StorageDir") + "/db/BACK" + stamp;
  files.CreateDirectory(backupDir);
  const std::pair<const char*, const char*> databases[] = {
      {db::kMainDataSource, "qv_main"}, {db::kSecurityDataSource, "qv_security"}};
  for (const auto& [dataSource, name] : databases) {
    const std::string storageDir = ReadSetting(registry, "StorageDir");
    if (OnServer(connector, dataSource)) {
      DumpDatabase(connector, dataSource, backupDir + "/" + name + ".dump");
    } else {
      CopyDatabase(files, storageDir + "/db/" + name + ".mdb", backupDir + "/" + name + ".mdb");
    }
  }
}

}  // namespace qv::setup

// Obsolete view removal: older installations of the main database hold saved
// views that the current server no longer has. Each one found is dropped and
// committed on its own.
#include <memory>
#include <string>
#include <vector>

#include "base/names.h"
#include "db/data_sources.h"
#include "migration/migration.h"
#include "migration/step_support.h"

namespace qv::migration {
namespace {

// Spelled as older installations named them: WorkTrakerList without a c,
// the plural Folders only in the first of the three folder views.
const char* const kObsoleteViews[] = {
    "NoticeAnnounce",
    "WorkTrakerList",
    "DocumentFoldersListSearch",
    "DocumentFolderListAdmin",
    "DocumentFolderListAdminPersonal",
    "DocumentList",
    "DocumentHistory",
};

bool IsObsolete(const std::string& view) {
  for (const char* obsolete : kObsoleteViews) {
    if (EqualsNoCase(view, obsolete)) return true;
  }
  return false;
}

}  // namespace

bool DropView(db::Connector& connector, const std::string& viewName, std::string& stepMessage) {
  ErrorTrap trap;
  std::unique_ptr<db::Connection> connection =
      OpenStepTransaction(connector, db::kMainConnectionString, trap);
  if (connection != nullptr) {
    // DROP TABLE removes a saved view in the desktop engine's dialect.
    trap.Run([&] { connection->Execute("DROP TABLE " + viewName); });
  }
  if (trap.failed()) {
    stepMessage = "There was an error occured.\r\nduring dropping " + viewName +
                  "\r\n Couldn't complete the task.";
  }
  FinishStepTransaction(connection.get(), trap, db::kMainConnectionString, connector.diagnostics());
  return !trap.failed();
}

bool DropViews(db::Connector& connector, std::string& stepMessage) {
  ErrorTrap trap;
  std::unique_ptr<db::Connection> connection =
      OpenStepConnection(connector, db::kMainConnectionString, trap);
  if (connection != nullptr) {
    // The list is read whole, and before this connection's transaction
    // begins, so that this connection holds no lock while DropView drops and
    // commits on a connection of its own: the engine lets a connection
    // commit only while no other connection on the file is reading.
    std::vector<std::string> views;
    bool listRead = trap.Run([&] { views = connection->TableNames(db::TableKind::kView); });
    trap.Run([&] { connection->BeginTrans(); });
    // A list that cannot be read ends the step with failure.
    if (listRead) {
      for (const std::string& view : views) {
        // Dropped under the name as stored, letter case included. A failed
        // drop has written its own message and leaves the step's outcome alone.
        if (IsObsolete(view)) DropView(connector, view, stepMessage);
      }
    }
  }
  // This transaction holds no change of its own; the drops are committed by
  // DropView.
  FinishStepTransaction(connection.get(), trap, db::kMainConnectionString, connector.diagnostics());
  return !trap.failed();
}

}  // namespace qv::migration

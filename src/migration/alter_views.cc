// View re-creation: the fifteen views that the server queries are dropped
// and created again with their current definitions, all or nothing.
#include <memory>
#include <string>

#include "db/data_sources.h"
#include "migration/migration.h"
#include "migration/step_support.h"
#include "migration/view_definitions.h"

namespace qv::migration {

bool AlterViews(db::Connector& connector, std::string& stepMessage) {
  ErrorTrap trap;
  std::unique_ptr<db::Connection> connection =
      OpenStepTransaction(connector, db::kMainConnectionString, trap);
  if (connection != nullptr) {
    // A failed DROP does not stop the CREATE after it, nor a failed view the
    // views after it; one failure among the thirty rolls all of them back,
    // so the views stay as they were.
    for (const ViewDefinition& view : kCurrentViews) {
      trap.Run([&] { connection->Execute(view.dropStatement); });
      trap.Run([&] { connection->Execute(view.createStatement); });
    }
  }
  if (trap.failed()) stepMessage = "An error occured while creating a view";
  FinishStepTransaction(connection.get(), trap, db::kMainConnectionString, connector.diagnostics());
  return !trap.failed();
}

}  // namespace qv::migration

#include "migration/step_support.h"

#include "base/diagnostics.h"
#include "db/odbc_ini.h"

namespace qv::migration {

std::unique_ptr<db::Connection> OpenStepConnection(db::Connector& connector,
                                                   const std::string& connectionString,
                                                   ErrorTrap& trap) {
  std::unique_ptr<db::Connection> connection;
  trap.Run([&] { connection = connector.Open(connectionString, "", ""); });
  if (connection == nullptr) trap.Fail();
  return connection;
}

std::unique_ptr<db::Connection> OpenStepTransaction(db::Connector& connector,
                                                    const std::string& connectionString,
                                                    ErrorTrap& trap) {
  std::unique_ptr<db::Connection> connection =
      OpenStepConnection(connector, connectionString, trap);
  if (connection == nullptr) return nullptr;
  if (!trap.Run([&] { connection->BeginTrans(); })) {
    IgnoreErrors([&] { connection->Close(); });
    return nullptr;
  }
  return connection;
}

void FinishStepTransaction(db::Connection* connection, const ErrorTrap& trap,
                           const std::string& connectionString, const Diagnostics& diagnostics) {
  if (connection == nullptr) return;
  if (trap.failed()) {
    IgnoreErrors([&] { connection->RollbackTrans(); });
  } else {
    try {
      connection->CommitTrans();
    } catch (const std::exception& e) {
      std::string dataSource = connectionString;
      IgnoreErrors([&] { dataSource = db::ParseConnectionString(connectionString).dataSource; });
      diagnostics.Say("the commit to data source " + dataSource +
                      " failed and the step's changes were not saved: " + e.what());
    }
  }
  IgnoreErrors([&] { connection->Close(); });
}

}  // namespace qv::migration

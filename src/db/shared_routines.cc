#include "db/shared_routines.h"

#include <exception>
#include <memory>
#include <new>

#include "base/names.h"
#include "db/data_sources.h"
#include "db/db_error.h"

namespace qv::db {

namespace {

// Classic run-time numbers for failures that do not come from the engine.
constexpr int32_t kErrOutOfMemory = 7;
constexpr int32_t kErrInternal = 51;

}  // namespace

bool ExecuteSQL(Connector& connector, const std::string& userName, const std::string& password,
                std::string& stepMessage, const std::string& dataSource,
                const std::string& statement) {
  if (statement.empty() || dataSource.empty()) {
    stepMessage = kInvalidStatementMessage;
    return false;
  }
  int32_t number = 0;
  std::string description;
  try {
    // An open transaction that is neither committed nor rolled back here is
    // discarded when the connection goes away.
    std::unique_ptr<Connection> connection = connector.Open(dataSource, userName, password);
    connection->BeginTrans();
    connection->Execute(statement);
    bool result;
    // As the design has it; never taken, since no engine reports anything
    // without failing the statement (Connection::Errors).
    const std::vector<ErrorEntry>& errors = connection->Errors();
    if (!errors.empty()) {
      for (const ErrorEntry& entry : errors) {
        stepMessage = "Error Number: " + std::to_string(entry.number);
        stepMessage += entry.description + "\r\n";
      }
      connection->RollbackTrans();
      result = false;
    } else {
      connection->CommitTrans();
      result = true;
    }
    connection->Close();
    return result;
  } catch (const DbError& e) {
    number = e.number();
    description = e.description();
  } catch (const std::bad_alloc&) {
    number = kErrOutOfMemory;
    description = "Out of memory";
  } catch (const std::exception& e) {
    number = kErrInternal;
    description = e.what();
  }
  stepMessage = std::to_string(number) + " :" + description;
  return false;
}

bool TableIsEmpty(Connector& connector, const std::string& userName, const std::string& password,
                  const std::string& tableName, const std::string& keyColumn) {
  const std::string query = "SELECT Max(" + keyColumn + ") as MaxPrimary FROM " + tableName;
  std::unique_ptr<Connection> connection = connector.Open(kMainDataSource, userName, password);
  std::unique_ptr<Recordset> rows = connection->Execute(query);
  if (rows == nullptr) {
    throw DbError(kErrObjectClosed, "Operation is not allowed when the object is closed.");
  }
  const Value maxPrimary = rows->Field("MaxPrimary");
  if (maxPrimary.IsNull()) return true;
  const double threshold = EqualsNoCase(tableName, "company") ? 3 : 0;
  return !(maxPrimary.AsReal() > threshold);
}

}  // namespace qv::db

// Security database alteration: every user receives a date format and a time
// format, taken from the installation-wide preferences, when Users does not
// have them yet.
#include <memory>
#include <string>
#include <vector>

#include "db/data_sources.h"
#include "migration/migration.h"
#include "migration/step_support.h"

namespace qv::migration {
namespace {

const char kSecurityFailed[] =
    "There was an error occured.\r\nduring setup security table. Couldn't complete the task.";

const char kDefaultDateFormat[] = "yyyy/mm/dd";
const char kDefaultTimeFormat[] = "hh:mm tt";

// Adds and fills the two columns. Every statement is attempted whatever
// failed before it; `trap` collects the failures.
void AddUserFormats(db::Connection& connection, ErrorTrap& trap) {
  trap.Run([&] { connection.Execute("ALTER TABLE Users ADD COLUMN DateFormat TEXT(50) NULL"); });
  trap.Run([&] { connection.Execute("ALTER TABLE Users ADD COLUMN TimeFormat TEXT(50) NULL"); });

  std::string dateFormat;
  std::string timeFormat;
  std::unique_ptr<db::Recordset> prefs;
  trap.Run([&] { prefs = connection.Execute("SELECT DateFormat, TimeFormat FROM GlobalPref"); });
  bool hasRow = false;
  bool answered = prefs != nullptr && trap.Run([&] { hasRow = !prefs->Eof(); });
  if (hasRow) {
    // The first row supplies both. A null format cannot be read as text:
    // that read fails, and with it the step.
    trap.Run([&] { dateFormat = prefs->Field("DateFormat").AsText(); });
    trap.Run([&] { timeFormat = prefs->Field("TimeFormat").AsText(); });
  } else if (answered) {
    dateFormat = kDefaultDateFormat;
    timeFormat = kDefaultTimeFormat;
  }

  // The formats go in as they are, apostrophes not doubled: a format with an
  // apostrophe breaks the statement, and the step fails and rolls back. The
  // engine runs one statement per call, so nothing else can run from it.
  trap.Run([&] {
    connection.Execute("UPDATE Users SET DateFormat='" + dateFormat + "', " + "TimeFormat='" +
                       timeFormat + "'");
  });
  if (prefs != nullptr) IgnoreErrors([&] { prefs->Close(); });
}

}  // namespace

bool AlterSecurityTable(db::Connector& connector, std::string& stepMessage) {
  ErrorTrap trap;
  std::unique_ptr<db::Connection> connection =
      OpenStepTransaction(connector, db::kSecurityConnectionString, trap);
  if (connection != nullptr) {
    // Only DateFormat decides whether there is work to do; TimeFormat is not
    // looked for. A lookup that fails does no work and fails the step.
    std::vector<std::string> found;
    if (trap.Run([&] { found = connection->ColumnNames("Users", "DateFormat"); }) &&
        found.empty()) {
      AddUserFormats(*connection, trap);
    }
  }
  if (trap.failed()) stepMessage = kSecurityFailed;
  FinishStepTransaction(connection.get(), trap, db::kSecurityConnectionString,
                        connector.diagnostics());
  return !trap.failed();
}

}  // namespace qv::migration

// Main-database table alterations: the old columns Public and Confirm of
// older installations become Shared (long integer) and Confirmation (yes/no),
// values copied, in one transaction over every base table.
#include <memory>
#include <string>
#include <vector>

#include "base/diagnostics.h"
#include "base/names.h"
#include "db/data_sources.h"
#include "migration/migration.h"
#include "migration/step_support.h"

namespace qv::migration {
namespace {

const char kTaskCompleted[] = "The task completed.";
const char kTaskFailed[] = "There was an error occured.\r\nCouldn't complete the task.";

// The tables whose Public column never had an index of its own.
bool HasNoPublicIndex(const std::string& table) {
  return EqualsNoCase(table, "AnnounceEvent") || EqualsNoCase(table, "ScheduleEvent") ||
         EqualsNoCase(table, "ToDoEvent");
}

// What AddColumnCopy did, for the scan to decide what happens next.
struct CopyOutcome {
  bool added = false;   // the ALTER TABLE ... ADD COLUMN succeeded
  bool copied = false;  // every row's value reached the new column
  std::string failure;  // the first failure's text, when one failed
};

CopyOutcome AddAndCopy(db::Connection& connection, const std::string& table,
                       const std::string& oldColumn, const std::string& newColumn) {
  const char* typeWord = EqualsNoCase(oldColumn, "Public") ? " LONG" : " BIT";
  CopyOutcome outcome;
  ErrorTrap trap;
  outcome.added = trap.Run(
      [&] { connection.Execute("ALTER TABLE " + table + " ADD COLUMN " + newColumn + typeWord); });
  // One statement in the engine, linear in the rows and in constant memory,
  // with the conversions of a field assignment: a table of any size migrates.
  outcome.copied = trap.Run([&] { connection.CopyColumn(table, oldColumn, newColumn); });
  outcome.failure = trap.firstFailure();
  return outcome;
}

// Drops the old column, with its index where it has one. Returns false when
// either statement failed; `columnFailure` gets the text of the column drop's
// own failure, which alone decides whether the column is gone.
bool DropWithIndex(db::Connection& connection, const std::string& table, const std::string& column,
                   std::string& columnFailure) {
  ErrorTrap index;
  if (EqualsNoCase(column, "Public") && !HasNoPublicIndex(table)) {
    index.Run([&] { connection.Execute("DROP INDEX " + column + "ID ON " + table); });
  }
  // Attempted even when the index was missing: the column goes either way.
  ErrorTrap drop;
  drop.Run([&] { connection.Execute("ALTER TABLE " + table + " DROP COLUMN " + column); });
  columnFailure = drop.firstFailure();
  return !index.failed() && !drop.failed();
}

// Replaces one old column by its successor.
void MigratePair(db::Connection& connection, const std::string& table, const std::string& oldColumn,
                 const std::string& newColumn, const Diagnostics& diagnostics) {
  CopyOutcome outcome = AddAndCopy(connection, table, oldColumn, newColumn);
  if (outcome.added && outcome.copied) {
    // No box tells of a table left with both columns, and later runs leave
    // such a table alone: the administrator learns of it here.
    std::string failure;
    DropWithIndex(connection, table, oldColumn, failure);
    if (!failure.empty()) {
      diagnostics.Say("table " + table + " is half-migrated: it has both " + oldColumn + " and " +
                      newColumn + ", since " + oldColumn + " could not be dropped (" + failure +
                      "); later runs leave it as it is");
    }
    return;
  }
  diagnostics.Say("table " + table + " keeps its column " + oldColumn + ", not migrated to " +
                  newColumn + ": " + outcome.failure);
  // The old column is kept whenever its values did not all reach the new
  // one: dropping it would lose them. The half-added new column is removed
  // again so that the table is as before and a later run, once the values
  // are fixed, still finds the old column without its successor and
  // migrates it; a table with both columns is never touched again. Like the
  // column routines' own failures, this leaves the step's outcome alone.
  if (outcome.added) {
    IgnoreErrors([&] { connection.Execute("ALTER TABLE " + table + " DROP COLUMN " + newColumn); });
  }
}

// Examines one table. Returns false when its column list cannot be read.
bool AlterTable(db::Connection& connection, const std::string& table, ErrorTrap& trap,
                const Diagnostics& diagnostics) {
  std::vector<std::string> columns;
  if (!trap.Run([&] { columns = connection.ColumnNames(table); })) return false;

  bool hasPublic = false;
  bool hasShared = false;
  bool hasConfirm = false;
  bool hasConfirmation = false;
  for (const std::string& column : columns) {
    if (EqualsNoCase(column, "Public")) {
      hasPublic = true;
    } else if (EqualsNoCase(column, "Shared")) {
      hasShared = true;
    } else if (EqualsNoCase(column, "Confirm")) {
      hasConfirm = true;
    } else if (EqualsNoCase(column, "Confirmation")) {
      hasConfirmation = true;
    }
  }

  // The results of the column routines do not decide the step's outcome.
  if (hasPublic && !hasShared) MigratePair(connection, table, "Public", "Shared", diagnostics);
  if (hasConfirm && !hasConfirmation)
    MigratePair(connection, table, "Confirm", "Confirmation", diagnostics);
  return true;
}

}  // namespace

bool AddColumnCopy(db::Connection& connection, const std::string& table,
                   const std::string& oldColumn, const std::string& newColumn) {
  CopyOutcome outcome = AddAndCopy(connection, table, oldColumn, newColumn);
  return outcome.added && outcome.copied;
}

bool DropColumn(db::Connection& connection, const std::string& table, const std::string& column) {
  std::string failure;
  return DropWithIndex(connection, table, column, failure);
}

bool AlterTables(db::Connector& connector, std::string& stepMessage) {
  ErrorTrap trap;
  std::unique_ptr<db::Connection> connection =
      OpenStepTransaction(connector, db::kMainConnectionString, trap);
  if (connection != nullptr) {
    std::vector<std::string> tables;
    if (trap.Run([&] { tables = connection->TableNames(db::TableKind::kTable); })) {
      for (const std::string& table : tables) {
        // A schema list that cannot be read ends the scan: the step fails
        // and rolls back rather than migrate only part of the database.
        if (!AlterTable(*connection, table, trap, connector.diagnostics())) break;
      }
    }
  }
  FinishStepTransaction(connection.get(), trap, db::kMainConnectionString, connector.diagnostics());
  stepMessage = trap.failed() ? kTaskFailed : kTaskCompleted;
  return !trap.failed();
}

}  // namespace qv::migration

// The four schema-migration steps that end every run. Each opens its own
// connection with the fixed connection strings, works in one transaction,
// returns true on success and writes the shared step message as its own
// rules say.
//
// All of them run in continue-on-error mode: a failing database operation is
// recorded and the step goes on with its next statement; the outcome (commit
// or roll back, true or false) is decided at the end. A failure of the final
// commit, or of the closing after it, is ignored.
#pragma once

#include <string>

#include "db/database.h"

namespace qv::migration {

// Replaces Public/Confirm by Shared/Confirmation in every main-database table.
// Writes "The task completed." on success and the failure text otherwise.
bool AlterTables(db::Connector& connector, std::string& stepMessage);
// Drops the seven obsolete views of the main database. Never writes the step
// message itself; DropView does when a drop fails.
bool DropViews(db::Connector& connector, std::string& stepMessage);
// Adds the users' date and time formats to the security database. Writes
// the step message only on failure.
bool AlterSecurityTable(db::Connector& connector, std::string& stepMessage);
// Drops and re-creates the fifteen views of the main database. Writes the
// step message only on failure.
bool AlterViews(db::Connector& connector, std::string& stepMessage);

// The routines the steps are built from, for callers and tests that need
// them one by one.

// Adds `newColumn` to `table` (LONG when `oldColumn` is Public, BIT
// otherwise) and copies every row's `oldColumn` value into it, on the
// caller's connection and inside its transaction. True when neither the
// ALTER nor the copy failed; a failed copy changes no row.
bool AddColumnCopy(db::Connection& connection, const std::string& table,
                   const std::string& oldColumn, const std::string& newColumn);
// Drops `column` from `table`, and first its index <column>ID unless the
// column is not Public or the table is AnnounceEvent, ScheduleEvent or
// ToDoEvent. Both statements are attempted; true when neither failed.
bool DropColumn(db::Connection& connection, const std::string& table, const std::string& column);
// Drops the view `viewName` on a connection and in a transaction of its own,
// so the drop stays committed whatever happens afterwards. On failure writes
// the step message naming the view and returns false.
bool DropView(db::Connector& connector, const std::string& viewName, std::string& stepMessage);

}  // namespace qv::migration

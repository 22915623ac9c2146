// The four schema-migration steps that end every run. Each opens its own
// connection with the fixed connection strings, works in one transaction,
// returns true on success and writes the shared step message as its own
// rules say.
#pragma once

#include <string>

#include "db/database.h"

namespace qv::migration {

// Replaces Public/Confirm by Shared/Confirmation in every main-database table.
bool AlterTables(db::Connector& connector, std::string& stepMessage);
// Drops the seven obsolete views of the main database.
bool DropViews(db::Connector& connector, std::string& stepMessage);
// Adds the users' date and time formats to the security database.
bool AlterSecurityTable(db::Connector& connector, std::string& stepMessage);
// Drops and re-creates the fifteen views of the main database.
bool AlterViews(db::Connector& connector, std::string& stepMessage);

}  // namespace qv::migration

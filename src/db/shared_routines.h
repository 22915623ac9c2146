// The two shared database routines of the setup driver: one statement in a
// transaction of its own with every failure turned into a message text, and
// the emptiness test that gates the sample data.
#pragma once

#include <string>

#include "db/database.h"

namespace qv::db {

// Text left in `stepMessage` for an empty statement or data-source name.
inline constexpr const char kInvalidStatementMessage[] = "Invalid Table Name or SQL statement";

// Opens `dataSource` (a connection string) with `userName` and `password`,
// runs `statement` in a transaction and commits it. Returns true when the
// statement was executed and committed; `stepMessage` is then unchanged.
// Never raises. On failure returns false, nothing is committed, and
// `stepMessage` holds:
//   - "Invalid Table Name or SQL statement" for an empty statement or data
//     source (no connection is opened);
//   - "Error Number: " + number + description + CR LF of the last entry of
//     the connection's error list, when the statement ran but the engine
//     reported entries there (the transaction is rolled back); kept for an
//     engine that reports such entries, which neither of ours does
//     (Connection::Errors);
//   - number + " :" + description of the error raised by any operation.
bool ExecuteSQL(Connector& connector, const std::string& userName, const std::string& password,
                std::string& stepMessage, const std::string& dataSource,
                const std::string& statement);

// Whether `tableName` holds no data of its own in the main database: the
// largest `keyColumn` is null or not above the threshold, which is 3 for
// Company (whose rows 1 to 3 belong to every installation; the name compared
// without regard to case) and 0 for every other table. Raises DbError when
// the data source cannot be opened, the query fails or its result is not a
// number.
bool TableIsEmpty(Connector& connector, const std::string& userName, const std::string& password,
                  const std::string& tableName, const std::string& keyColumn);

}  // namespace qv::db

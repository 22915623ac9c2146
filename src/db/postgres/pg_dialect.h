// The server's own part of the dialect translation (db/dialect.h does the
// rest): names in [brackets] or `backquotes` become quoted lower-case names,
// since the server stores unquoted names folded to lower case; in CREATE
// TABLE and ALTER TABLE the column types become the server's
// (db/postgres/pg_types.h).
#pragma once

#include "db/postgres/engine_only.h"

#include <string>
#include <string_view>
#include <vector>

#include "db/dialect.h"
#include "db/postgres/pg_types.h"

namespace qv::db::postgres {

DialectRules ServerDialect();

// The columns that a translated CREATE or ALTER TABLE gives the yes/no type,
// as written, and the statement with smallint in that type's place.
struct YesNoColumns {
  std::vector<std::string> names;
  std::string asSmallint;
};
YesNoColumns FindYesNoColumns(std::string_view sql);

// The columns that an ALTER TABLE drops ("DROP [COLUMN] [IF EXISTS] name",
// each clause), as written.
std::vector<std::string> DroppedColumns(std::string_view sql);

}  // namespace qv::db::postgres

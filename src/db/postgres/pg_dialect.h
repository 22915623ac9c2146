// The server's own part of the dialect translation (db/dialect.h does the
// rest): names in [brackets] or `backquotes` become quoted lower-case names,
// since the server stores unquoted names folded to lower case; in CREATE
// TABLE and ALTER TABLE the desktop engine's column types become the
// server's: LONG integer, SHORT and BYTE smallint, BIT and YESNO the yes/no
// type, TEXT(n) varchar(n), TEXT and MEMO text, DATETIME timestamp(0),
// DOUBLE double precision, COUNTER an identity column.
#pragma once

#include "db/postgres/engine_only.h"

#include <string>
#include <string_view>
#include <vector>

#include "db/dialect.h"

namespace qv::db::postgres {

// The yes/no type: a domain over smallint holding 1 or 0, which the
// database's schema creates (CREATE DOMAIN yesno AS smallint), or the first
// statement that needs it (ExecAlterTable). Row sets know a yes/no column by it.
inline constexpr char kYesNoType[] = "yesno";

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

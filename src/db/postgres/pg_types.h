// The server's column types for the desktop and embedded engines' type
// words. One table serves the schema scripts translated at build time and
// the CREATE and ALTER TABLE statements translated at run time, so that a
// column gets the same server type whichever way it is made.
#pragma once

#include "db/postgres/engine_only.h"

#include <string_view>

namespace qv::db::postgres {

// The yes/no type: a domain over smallint holding 1 or 0, which the
// database's schema creates (CREATE DOMAIN yesno AS smallint), or the first
// statement that needs it (ExecAlterTable). Row sets know a yes/no column by it.
inline constexpr char kYesNoType[] = "yesno";

// The server type written for the type word `word` (any case): INTEGER, INT
// and LONG integer; SMALLINT, SHORT and BYTE smallint; BIT, YESNO and
// BOOLEAN the yes/no type; DATETIME and TIMESTAMP timestamp(0); DOUBLE
// double precision; COUNTER an identity column; LONGTEXT, MEMO and bare TEXT
// text, TEXT(n) (`sized`) varchar(n), its length kept as written. nullptr
// for a word the server has no type for.
const char* ServerColumnType(std::string_view word, bool sized);

}  // namespace qv::db::postgres

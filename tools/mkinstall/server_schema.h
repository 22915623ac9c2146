// The server's schema scripts, derived from the embedded engine's: the
// SQLite scripts in share/schema/ stay the one list of tables, columns, rows
// and views, and this translation writes them in PostgreSQL's dialect.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace qv::mkinstall {

// A script that the translation does not know how to write for the server
// (a column type without a server type, AUTOINCREMENT off a key column).
class SchemaTranslationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The statements of `sqliteScript` in the server's dialect: in CREATE TABLE,
// INTEGER PRIMARY KEY AUTOINCREMENT becomes an identity key and every other
// column type the server's type that the run-time translation gives it too
// (db/postgres/pg_types.h); [bracketed] names lose their brackets everywhere.
// String literals, quoted names and comments are copied unchanged.
std::string TranslateStatements(std::string_view sqliteScript);

// A complete server script: the yesno domain, the translated statements,
// and every identity counter set past the largest key the script's rows were
// given, so that later inserts do not collide with them.
std::string ServerSchemaScript(std::string_view sqliteScript);

}  // namespace qv::mkinstall

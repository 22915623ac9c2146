// Translation of the desktop engine's SQL dialect into SQLite's, done on
// tokens so that string literals, quoted and bracketed names and comments
// are never touched:
//   - the literals Yes and No (any case) become 1 and 0;
//   - DISTINCTROW becomes DISTINCT;
//   - DROP TABLE of a view becomes DROP VIEW;
//   - DROP INDEX N ON T becomes DROP INDEX of T's index named N or, since
//     index names are schema-wide in SQLite, named T_N.
// Everything else (LONG, BIT, TEXT(50) NULL, [names], RIGHT JOIN,
// parenthesised joins) SQLite runs as it is.
//
// Pure functions of their input and the schema lookup: they never crash or
// loop on any input; the only failure is the DbError of a DROP INDEX whose
// table has neither index.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "db/names.h"

namespace qv::db::sqlite {

enum class TokenKind { kSpace, kComment, kString, kQuotedName, kWord, kNumber, kSymbol };

struct Token {
  TokenKind kind;
  size_t begin;
  size_t length;
};

// Splits `sql` into tokens that together cover it exactly. Unterminated
// literals, names and comments run to the end of the text.
std::vector<Token> Tokenize(std::string_view sql);

// True when `text` holds nothing but blanks, semicolons and comments.
bool OnlyBlanksAndComments(std::string_view text);

// Writes a name so that the engine reads it as an identifier.
std::string QuoteName(std::string_view name);

// What the translator needs to know of the schema. Names match without
// regard to letter case.
class SchemaLookup {
 public:
  virtual ~SchemaLookup() = default;
  virtual bool IsView(const std::string& name) const = 0;
  // Names (as stored) of the indexes that belong to table `table`.
  virtual std::vector<std::string> IndexesOf(const std::string& table) const = 0;
};

enum class StatementKind {
  kOther,
  kCreateView,          // target: the view's name quoted, targetSchema its schema's
  kAlterTableColumns,   // ALTER TABLE ... ADD or DROP; target: the table
  kTransactionControl,  // BEGIN, COMMIT, END, ROLLBACK, SAVEPOINT, RELEASE
};

struct Translation {
  std::string sql;
  StatementKind kind = StatementKind::kOther;
  std::string target;
  std::string targetSchema;  // of a created view, quoted; empty when unqualified
};

// Translates the statement at the start of `sql`; text after it is kept
// (translated) for the caller to reject.
Translation TranslateDialect(std::string_view sql, const SchemaLookup& schema);

}  // namespace qv::db::sqlite

// Translation of the desktop engine's SQL dialect into an engine's, done on
// tokens so that string literals, quoted and bracketed names and comments
// are never touched. The rules every engine needs:
//   - the literals Yes and No (any case) become 1 and 0;
//   - DISTINCTROW becomes DISTINCT;
//   - DROP TABLE of a view becomes DROP VIEW;
//   - DROP INDEX N ON T becomes DROP INDEX of T's index named N or, since
//     index names are schema-wide, named T_N.
// An engine adds its own rules (DialectRules::rewrite); SQLite needs none
// and runs LONG, BIT, TEXT(50) NULL, [names], RIGHT JOIN and parenthesised
// joins as they are.
//
// Pure functions of their input and the schema lookup: they never crash or
// loop on any input; the only failure is the DbError of a DROP INDEX whose
// table has neither index.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/names.h"
#include "db/sql_tokens.h"

namespace qv::db {

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

// Replacement texts by token index (among all tokens).
using Edits = std::map<size_t, std::string>;

// What an engine adds to the common translation.
struct DialectRules {
  // The number of the error a refused statement raises: the engine's number
  // for a failed statement.
  int32_t errorNumber = 1;
  // The engine's own rewrites, run after the common ones; a token that
  // already has an edit keeps it.
  std::function<void(const TokenReader&, StatementKind, Edits*)> rewrite;
};

// Translates the statement at the start of `sql`; text after it is kept
// (translated) for the caller to reject.
Translation TranslateDialect(std::string_view sql, const SchemaLookup& schema,
                             const DialectRules& rules = {});

}  // namespace qv::db

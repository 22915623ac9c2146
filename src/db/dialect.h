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

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/names.h"

namespace qv::db {

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

// A statement's tokens without blanks and comments, with their text.
class TokenReader {
 public:
  TokenReader(std::string_view sql, const std::vector<Token>& tokens);

  size_t size() const { return tokens_.size(); }
  // Index of the n-th significant token among all tokens.
  size_t at(size_t n) const { return index_[n]; }
  TokenKind kind(size_t n) const { return tokens_[n].kind; }
  std::string_view text(size_t n) const {
    return n < tokens_.size() ? sql_.substr(tokens_[n].begin, tokens_[n].length) : "";
  }
  bool IsWord(size_t n, std::string_view word) const {
    return n < tokens_.size() && tokens_[n].kind == TokenKind::kWord && EqualsNoCase(text(n), word);
  }
  // Whether the byte right after the n-th token is `c`.
  bool FollowedBy(size_t n, char c) const;
  bool IsSymbol(size_t n, char symbol) const {
    return n < tokens_.size() && tokens_[n].kind == TokenKind::kSymbol && text(n)[0] == symbol;
  }
  // The name a word or quoted-name token stands for; nullopt for others.
  std::optional<std::string> Name(size_t n) const;

 private:
  std::string_view sql_;
  std::vector<size_t> index_;
  std::vector<Token> tokens_;
};

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

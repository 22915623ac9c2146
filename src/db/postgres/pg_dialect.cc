#include "db/postgres/pg_dialect.h"

#include "base/names.h"
#include "db/postgres/pg_error.h"

namespace qv::db::postgres {
namespace {

// A word in a column's type position: right after the column's name.
bool InTypePosition(const TokenReader& r, size_t n) {
  if (n == 0 || r.IsSymbol(n + 1, '.')) return false;
  if (r.kind(n - 1) != TokenKind::kWord && r.kind(n - 1) != TokenKind::kQuotedName) return false;
  for (const char* keyword : {"TABLE", "ADD", "COLUMN", "DROP", "ALTER", "EXISTS", "AS"}) {
    if (r.IsWord(n - 1, keyword)) return false;
  }
  return true;
}

void RewriteTypes(const TokenReader& r, Edits* edits) {
  for (size_t n = 0; n < r.size(); ++n) {
    if (r.kind(n) != TokenKind::kWord || !InTypePosition(r, n)) continue;
    if (const char* type = ServerColumnType(r.text(n), r.IsSymbol(n + 1, '('))) {
      edits->emplace(r.at(n), type);
    }
  }
}

void Rewrite(const TokenReader& r, StatementKind kind, Edits* edits) {
  for (size_t n = 0; n < r.size(); ++n) {
    std::string_view t = r.text(n);
    if (r.kind(n) != TokenKind::kQuotedName || (t[0] != '[' && t[0] != '`')) continue;
    if (std::optional<std::string> name = r.Name(n)) {
      edits->emplace(r.at(n), QuoteName(LowerAscii(*name)));
    }
  }
  bool defines =
      (r.IsWord(0, "CREATE") && r.IsWord(1, "TABLE")) || kind == StatementKind::kAlterTableColumns;
  if (defines) RewriteTypes(r, edits);
}

}  // namespace

DialectRules ServerDialect() {
  return DialectRules{kErrServer, Rewrite};
}

YesNoColumns FindYesNoColumns(std::string_view sql) {
  std::vector<Token> tokens = Tokenize(sql);
  TokenReader r(sql, tokens);
  YesNoColumns found;
  size_t copied = 0;  // of `sql`, into asSmallint
  for (size_t n = 0; n < r.size(); ++n) {
    if (!r.IsWord(n, kYesNoType) || !InTypePosition(r, n)) continue;
    found.names.push_back(r.Name(n - 1).value_or(""));
    const Token& type = tokens[r.at(n)];
    found.asSmallint += std::string(sql.substr(copied, type.begin - copied)) + "smallint";
    copied = type.begin + type.length;
  }
  found.asSmallint += sql.substr(copied);
  return found;
}

std::vector<std::string> DroppedColumns(std::string_view sql) {
  std::vector<Token> tokens = Tokenize(sql);
  TokenReader r(sql, tokens);
  std::vector<std::string> columns;
  for (size_t n = 3; n < r.size(); ++n) {
    if (!r.IsWord(n, "DROP")) continue;
    size_t at = n + 1;
    if (r.IsWord(at, "COLUMN")) ++at;
    if (r.IsWord(at, "IF") && r.IsWord(at + 1, "EXISTS")) at += 2;
    bool notAColumn = false;
    for (const char* word : {"CONSTRAINT", "DEFAULT", "NOT", "IDENTITY", "EXPRESSION"})
      notAColumn = notAColumn || r.IsWord(at, word);
    if (notAColumn) continue;
    if (std::optional<std::string> name = r.Name(at)) columns.push_back(*name);
  }
  return columns;
}

}  // namespace qv::db::postgres

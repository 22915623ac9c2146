#include "db/dialect.h"

#include <map>
#include <optional>

#include "db/db_error.h"

namespace qv::db {
namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsWordStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}
bool IsWordPart(char c) {
  return IsWordStart(c) || IsDigit(c) || c == '$';
}
// Length of a literal or name that ends with `close`, where a doubled
// `close` stands for itself (when `doubled`); runs to the end if unclosed.
size_t Delimited(std::string_view sql, size_t start, char close, bool doubled) {
  size_t i = start + 1;
  while (i < sql.size()) {
    if (sql[i] == close) {
      if (doubled && i + 1 < sql.size() && sql[i + 1] == close) {
        i += 2;
        continue;
      }
      return i + 1 - start;
    }
    ++i;
  }
  return sql.size() - start;
}

Token NextToken(std::string_view sql, size_t i) {
  char c = sql[i];
  auto span = [&](TokenKind kind, size_t end) { return Token{kind, i, end - i}; };
  if (IsSpace(c)) {
    size_t j = i;
    while (j < sql.size() && IsSpace(sql[j])) ++j;
    return span(TokenKind::kSpace, j);
  }
  if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
    size_t end = sql.find('\n', i);
    return span(TokenKind::kComment, end == std::string_view::npos ? sql.size() : end);
  }
  if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
    size_t end = sql.find("*/", i + 2);
    return span(TokenKind::kComment, end == std::string_view::npos ? sql.size() : end + 2);
  }
  if (c == '\'') return Token{TokenKind::kString, i, Delimited(sql, i, '\'', true)};
  if (c == '"') return Token{TokenKind::kQuotedName, i, Delimited(sql, i, '"', true)};
  if (c == '`') return Token{TokenKind::kQuotedName, i, Delimited(sql, i, '`', true)};
  if (c == '[') return Token{TokenKind::kQuotedName, i, Delimited(sql, i, ']', false)};
  if (IsWordStart(c)) {
    size_t j = i;
    while (j < sql.size() && IsWordPart(sql[j])) ++j;
    return span(TokenKind::kWord, j);
  }
  if (IsDigit(c) || (c == '.' && i + 1 < sql.size() && IsDigit(sql[i + 1]))) {
    size_t j = i;
    while (j < sql.size() && (IsWordPart(sql[j]) || sql[j] == '.')) ++j;
    return span(TokenKind::kNumber, j);
  }
  return span(TokenKind::kSymbol, i + 1);
}

// Position of the object name after `n` keywords, skipping "IF [NOT] EXISTS";
// sets *qualified when the name is schema-qualified (then the position is
// that of the name after the dot).
size_t ObjectNamePosition(const TokenReader& r, size_t n, bool* qualified) {
  if (r.IsWord(n, "IF") && r.IsWord(n + 1, "NOT") && r.IsWord(n + 2, "EXISTS")) n += 3;
  if (r.IsWord(n, "IF") && r.IsWord(n + 1, "EXISTS")) n += 2;
  *qualified = r.IsSymbol(n + 1, '.');
  return *qualified ? n + 2 : n;
}

void TranslateDropIndex(const TokenReader& r, const SchemaLookup& schema, int32_t errorNumber,
                        Edits* edits) {
  // DROP INDEX name ON table
  std::optional<std::string> index = r.Name(2);
  std::optional<std::string> table = r.Name(4);
  if (!index || !r.IsWord(3, "ON") || !table) return;
  std::string wanted = *table + "_" + *index;
  std::optional<std::string> found;
  for (const std::string& candidate : schema.IndexesOf(*table)) {
    if (EqualsNoCase(candidate, *index)) {
      found = candidate;
      break;
    }
    if (!found && EqualsNoCase(candidate, wanted)) found = candidate;
  }
  if (!found) {
    throw DbError(errorNumber, "no such index: " + *index + " ON " + *table +
                                   " (the table has no index named " + *index + " or " + wanted +
                                   ")");
  }
  std::string name = QuoteName(*found);
  // A double quote right after the table would run on into the quoted index
  // name as a doubled quote, changing both names: keep them apart.
  if (r.FollowedBy(4, '"')) name += ' ';
  (*edits)[r.at(2)] = name;
  for (size_t n = 3; n <= 4; ++n) (*edits)[r.at(n)] = "";
  // Drop the blanks between the name and ON as well, for a tidy statement.
  for (size_t i = r.at(2) + 1; i < r.at(4); ++i) {
    if (!edits->count(i)) (*edits)[i] = "";
  }
}

StatementKind ClassifyAndRewrite(const TokenReader& r, const SchemaLookup& schema,
                                 int32_t errorNumber, Edits* edits, std::string* target) {
  for (const char* word : {"BEGIN", "COMMIT", "END", "ROLLBACK", "SAVEPOINT", "RELEASE"}) {
    if (r.IsWord(0, word)) return StatementKind::kTransactionControl;
  }
  if (r.IsWord(0, "DROP") && r.IsWord(1, "TABLE")) {
    bool qualified = false;
    std::optional<std::string> name = r.Name(ObjectNamePosition(r, 2, &qualified));
    if (name && !qualified && schema.IsView(*name)) (*edits)[r.at(1)] = "VIEW";
    return StatementKind::kOther;
  }
  if (r.IsWord(0, "DROP") && r.IsWord(1, "INDEX")) {
    TranslateDropIndex(r, schema, errorNumber, edits);
    return StatementKind::kOther;
  }
  size_t n = 1;
  if (r.IsWord(0, "CREATE") && (r.IsWord(1, "TEMP") || r.IsWord(1, "TEMPORARY"))) n = 2;
  if (r.IsWord(0, "CREATE") && r.IsWord(n, "VIEW")) {
    bool qualified = false;
    size_t at = ObjectNamePosition(r, n + 1, &qualified);
    std::optional<std::string> name = r.Name(at);
    if (!name) return StatementKind::kOther;
    *target = QuoteName(*name);
    if (qualified) {
      std::optional<std::string> schemaName = r.Name(at - 2);
      if (schemaName) *target = QuoteName(*schemaName) + "." + *target;
    }
    return StatementKind::kCreateView;
  }
  if (r.IsWord(0, "ALTER") && r.IsWord(1, "TABLE")) {
    bool qualified = false;
    size_t at = ObjectNamePosition(r, 2, &qualified);
    std::optional<std::string> name = r.Name(at);
    if (name && !qualified && (r.IsWord(at + 1, "ADD") || r.IsWord(at + 1, "DROP"))) {
      *target = *name;
      return StatementKind::kAlterTableColumns;
    }
  }
  return StatementKind::kOther;
}

// Yes/No as literals, not as a qualified name's part or an alias.
bool IsTruthLiteral(const TokenReader& r, size_t n) {
  if (!r.IsWord(n, "YES") && !r.IsWord(n, "NO")) return false;
  if (n > 0 && (r.IsSymbol(n - 1, '.') || r.IsWord(n - 1, "AS"))) return false;
  return !r.IsSymbol(n + 1, '.');
}

}  // namespace

std::vector<Token> Tokenize(std::string_view sql) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < sql.size()) {
    Token t = NextToken(sql, i);
    tokens.push_back(t);
    i += t.length;  // every token holds at least one character
  }
  return tokens;
}

bool OnlyBlanksAndComments(std::string_view text) {
  for (const Token& t : Tokenize(text)) {
    bool semicolon = t.kind == TokenKind::kSymbol && text[t.begin] == ';';
    if (t.kind != TokenKind::kSpace && t.kind != TokenKind::kComment && !semicolon) return false;
  }
  return true;
}

std::string QuoteName(std::string_view name) {
  std::string quoted = "\"";
  for (char c : name) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  quoted += '"';
  return quoted;
}

TokenReader::TokenReader(std::string_view sql, const std::vector<Token>& tokens) : sql_(sql) {
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i].kind != TokenKind::kSpace && tokens[i].kind != TokenKind::kComment) {
      index_.push_back(i);
      tokens_.push_back(tokens[i]);
    }
  }
}

bool TokenReader::FollowedBy(size_t n, char c) const {
  if (n >= tokens_.size()) return false;
  const size_t end = tokens_[n].begin + tokens_[n].length;
  return end < sql_.size() && sql_[end] == c;
}

std::optional<std::string> TokenReader::Name(size_t n) const {
  if (n >= tokens_.size()) return std::nullopt;
  std::string_view t = text(n);
  if (tokens_[n].kind == TokenKind::kWord) return std::string(t);
  if (tokens_[n].kind != TokenKind::kQuotedName || t.size() < 2) return std::nullopt;
  char close = t[0] == '[' ? ']' : t[0];
  if (t.back() != close) return std::nullopt;  // unterminated
  std::string name;
  for (size_t i = 1; i + 1 < t.size(); ++i) {
    name += t[i];
    if (close != ']' && t[i] == close) ++i;  // a doubled quote stands for one
  }
  return name;
}

Translation TranslateDialect(std::string_view sql, const SchemaLookup& schema,
                             const DialectRules& rules) {
  std::vector<Token> tokens = Tokenize(sql);
  TokenReader reader(sql, tokens);
  Translation result;
  Edits edits;
  result.kind = ClassifyAndRewrite(reader, schema, rules.errorNumber, &edits, &result.target);
  for (size_t n = 0; n < reader.size(); ++n) {
    if (reader.IsWord(n, "DISTINCTROW")) {
      edits[reader.at(n)] = "DISTINCT";
    } else if (IsTruthLiteral(reader, n)) {
      edits[reader.at(n)] = reader.IsWord(n, "YES") ? "1" : "0";
    }
  }
  if (rules.rewrite) rules.rewrite(reader, result.kind, &edits);
  result.sql.reserve(sql.size());
  for (size_t i = 0; i < tokens.size(); ++i) {
    auto edit = edits.find(i);
    if (edit != edits.end()) {
      result.sql += edit->second;
    } else {
      result.sql.append(sql.substr(tokens[i].begin, tokens[i].length));
    }
  }
  return result;
}

}  // namespace qv::db

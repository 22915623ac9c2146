#include "db/sql_tokens.h"

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

bool IsClosed(std::string_view token) {
  if (token.size() >= 2 && token[0] == '/' && token[1] == '*') {
    return token.size() >= 4 && token.compare(token.size() - 2, 2, "*/") == 0;
  }
  if (token.empty() ||
      (token[0] != '\'' && token[0] != '"' && token[0] != '`' && token[0] != '[')) {
    return true;
  }
  const char close = token[0] == '[' ? ']' : token[0];
  for (size_t i = 1; i < token.size(); ++i) {
    if (token[i] != close) continue;
    if (close != ']' && i + 1 < token.size() && token[i + 1] == close) {
      ++i;  // a doubled quote stands for one
      continue;
    }
    return i + 1 == token.size();
  }
  return false;
}

}  // namespace qv::db

// The one tokenizer of SQL text, for the run-time dialect translation and
// the build-time server schema translation alike: both must agree on where a
// literal, a quoted name or a comment begins and ends, or one of them would
// rewrite text that the other leaves alone.
#pragma once

#include <cstddef>
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

// Whether a string, quoted-name or comment token's text is closed, rather
// than running to the end of the text.
bool IsClosed(std::string_view token);

}  // namespace qv::db

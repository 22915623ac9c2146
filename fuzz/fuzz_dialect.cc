// The SQL dialect translation and its tokenizer against a fixed schema; what
// they must keep is listed in README.md here.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/db_error.h"
#include "db/dialect.h"
#include "fuzz_check.h"

namespace {

using qv::EqualsNoCase;
using qv::db::Token;
using qv::db::TokenKind;
using Piece = std::pair<TokenKind, std::string>;

// Every table but those starting with x has the indexes PublicID and
// <table>_Confirm, so that DROP INDEX both succeeds and fails.
class FakeSchema : public qv::db::SchemaLookup {
 public:
  bool IsView(const std::string& name) const override {
    return EqualsNoCase(name, "ScheduleOwnership") || EqualsNoCase(name, "Old View") ||
           (name.size() > 2 && EqualsNoCase(name.substr(0, 2), "v_"));
  }
  std::vector<std::string> IndexesOf(const std::string& table) const override {
    if (table.empty() || table[0] == 'x' || table[0] == 'X') return {};
    return {"PublicID", table + "_Confirm"};
  }
};

// The tokens of `sql`, checked to cover it; `sig`: neither blanks nor comments.
struct Tokens {
  explicit Tokens(std::string_view text) : sql(text), all(qv::db::Tokenize(text)) {
    size_t at = 0;
    for (size_t i = 0; i < all.size(); ++i) {
      FUZZ_CHECK(all[i].begin == at && all[i].length > 0);
      at += all[i].length;
      if (all[i].kind != TokenKind::kSpace && all[i].kind != TokenKind::kComment) sig.push_back(i);
    }
    FUZZ_CHECK(at == sql.size());
  }
  std::string Text(size_t i) const { return std::string(sql.substr(all[i].begin, all[i].length)); }
  bool IsWord(size_t n, std::string_view word) const {
    return n < sig.size() && all[sig[n]].kind == TokenKind::kWord &&
           EqualsNoCase(Text(sig[n]), word);
  }
  // The strings, quoted names and comments, in order.
  std::vector<Piece> Protected() const {
    std::vector<Piece> out;
    for (size_t i = 0; i < all.size(); ++i) {
      const TokenKind k = all[i].kind;
      if (k == TokenKind::kString || k == TokenKind::kQuotedName || k == TokenKind::kComment) {
        out.emplace_back(k, Text(i));
      }
    }
    return out;
  }
  std::string_view sql;
  std::vector<Token> all;
  std::vector<size_t> sig;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string sql(reinterpret_cast<const char*>(data), size);
  const Tokens in(sql);
  const bool dropIndex = in.IsWord(0, "DROP") && in.IsWord(1, "INDEX");
  static const FakeSchema schema;
  qv::db::Translation translation;
  try {
    translation = qv::db::TranslateDialect(sql, schema);
  } catch (const qv::db::DbError&) {
    FUZZ_CHECK(dropIndex);
    return 0;
  }
  const std::string& out = translation.sql;
  if (qv::db::OnlyBlanksAndComments(sql)) {
    FUZZ_CHECK(out == sql);
  }
  const Tokens outTokens(out);
  const std::vector<Piece> before = in.Protected(), after = outTokens.Protected();
  // Only a rewritten DROP INDEX N ON T may differ: N through T become one
  // quoted index name.
  FUZZ_CHECK(after == before || (dropIndex && in.IsWord(3, "ON") && outTokens.sig.size() >= 3 &&
                                 outTokens.all[outTokens.sig[2]].kind == TokenKind::kQuotedName));
  return 0;
}

// The SQL dialect translation (TranslateDialect) and its tokenizer, against
// a fixed schema:
//   - the tokens cover the text exactly, each at least one byte long;
//   - blanks, semicolons and comments alone translate to themselves;
//   - nothing but DbError is raised, and that only for a DROP INDEX;
//   - string literals, quoted names and comments come out unchanged and in
//     order, but for DROP INDEX n ON t, where one quoted index name takes
//     the place of n through t;
//   - the statement kind reported fits the first words.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/db_error.h"
#include "db/dialect.h"
#include "fuzz_check.h"

namespace {

using qv::db::EqualsNoCase;
using qv::db::Token;
using qv::db::TokenKind;
using qv::fuzz::Printable;

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

using Piece = std::pair<TokenKind, std::string>;

std::vector<Token> CheckTokens(std::string_view sql) {
  const std::vector<Token> tokens = qv::db::Tokenize(sql);
  size_t at = 0;
  for (const Token& t : tokens) {
    FUZZ_CHECK(t.begin == at && t.length > 0);
    at += t.length;
  }
  FUZZ_CHECK(at == sql.size());
  return tokens;
}

std::string Text(std::string_view sql, const Token& t) {
  return std::string(sql.substr(t.begin, t.length));
}

std::vector<size_t> SignificantTokens(const std::vector<Token>& tokens) {
  std::vector<size_t> out;
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i].kind != TokenKind::kSpace && tokens[i].kind != TokenKind::kComment) {
      out.push_back(i);
    }
  }
  return out;
}

bool IsWord(std::string_view sql, const std::vector<Token>& tokens, const std::vector<size_t>& sig,
            size_t n, std::string_view word) {
  return n < sig.size() && tokens[sig[n]].kind == TokenKind::kWord &&
         EqualsNoCase(Text(sql, tokens[sig[n]]), word);
}

// The protected tokens with an index in [from, to), in order.
std::vector<Piece> ProtectedPieces(std::string_view sql, const std::vector<Token>& tokens,
                                   size_t from = 0, size_t to = SIZE_MAX) {
  std::vector<Piece> out;
  for (size_t i = from; i < tokens.size() && i < to; ++i) {
    const TokenKind k = tokens[i].kind;
    if (k == TokenKind::kString || k == TokenKind::kQuotedName || k == TokenKind::kComment) {
      out.emplace_back(k, Text(sql, tokens[i]));
    }
  }
  return out;
}

std::string Describe(const std::vector<Piece>& pieces) {
  std::string out;
  for (const Piece& p : pieces) out += "<" + Printable(p.second) + ">";
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string sql(reinterpret_cast<const char*>(data), size);
  const std::vector<Token> tokens = CheckTokens(sql);
  const std::vector<size_t> sig = SignificantTokens(tokens);
  const bool dropIndex =
      IsWord(sql, tokens, sig, 0, "DROP") && IsWord(sql, tokens, sig, 1, "INDEX");

  static const FakeSchema schema;
  qv::db::Translation translation;
  try {
    translation = qv::db::TranslateDialect(sql, schema);
  } catch (const qv::db::DbError& e) {
    FUZZ_CHECK_MSG(dropIndex, Printable(sql) + ": " + e.description());
    return 0;
  }
  const std::string& out = translation.sql;

  if (qv::db::OnlyBlanksAndComments(sql)) {
    FUZZ_CHECK_MSG(out == sql, Printable(sql) + " became " + Printable(out));
  }

  const std::vector<Token> outTokens = CheckTokens(out);
  const std::vector<Piece> before = ProtectedPieces(sql, tokens);
  const std::vector<Piece> after = ProtectedPieces(out, outTokens);
  if (after != before) {
    // Only a rewritten DROP INDEX N ON T may differ: N through T replaced by
    // one quoted name.
    FUZZ_CHECK_MSG(dropIndex && sig.size() >= 5 && IsWord(sql, tokens, sig, 3, "ON"),
                   Printable(sql) + ": " + Describe(before) + " became " + Describe(after));
    const std::vector<size_t> outSig = SignificantTokens(outTokens);
    FUZZ_CHECK(outSig.size() >= 3 && outTokens[outSig[2]].kind == TokenKind::kQuotedName);
    const Token& name = outTokens[outSig[2]];
    std::vector<Piece> expected = ProtectedPieces(sql, tokens, 0, sig[2]);
    expected.emplace_back(TokenKind::kQuotedName, Text(out, name));
    const std::vector<Piece> tail = ProtectedPieces(sql, tokens, sig[4] + 1);
    expected.insert(expected.end(), tail.begin(), tail.end());
    FUZZ_CHECK_MSG(after == expected, Printable(sql) + " became " + Printable(out) + ": " +
                                          Describe(after) + " instead of " + Describe(expected));
  }

  using qv::db::StatementKind;
  switch (translation.kind) {
    case StatementKind::kCreateView:
      FUZZ_CHECK(IsWord(sql, tokens, sig, 0, "CREATE"));
      FUZZ_CHECK(!translation.target.empty() && translation.target.front() == '"');
      break;
    case StatementKind::kAlterTableColumns:
      FUZZ_CHECK(IsWord(sql, tokens, sig, 0, "ALTER") && IsWord(sql, tokens, sig, 1, "TABLE"));
      break;
    case StatementKind::kTransactionControl: {
      bool known = false;
      for (const char* w : {"BEGIN", "COMMIT", "END", "ROLLBACK", "SAVEPOINT", "RELEASE"}) {
        known |= IsWord(sql, tokens, sig, 0, w);
      }
      FUZZ_CHECK(known);
      break;
    }
    case StatementKind::kOther:
      break;
  }
  return 0;
}

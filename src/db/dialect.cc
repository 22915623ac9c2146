#include "db/dialect.h"

#include <map>
#include <optional>

#include "db/db_error.h"

namespace qv::db {
namespace {

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
                                 int32_t errorNumber, Edits* edits, std::string* target,
                                 std::string* targetSchema) {
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
      if (schemaName) *targetSchema = QuoteName(*schemaName);
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

Translation TranslateDialect(std::string_view sql, const SchemaLookup& schema,
                             const DialectRules& rules) {
  std::vector<Token> tokens = Tokenize(sql);
  TokenReader reader(sql, tokens);
  Translation result;
  Edits edits;
  result.kind = ClassifyAndRewrite(reader, schema, rules.errorNumber, &edits, &result.target,
                                   &result.targetSchema);
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

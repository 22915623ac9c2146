#include "db/postgres/pg_schema.h"

#include <set>

#include "base/diagnostics.h"
#include "base/names.h"
#include "db/postgres/pg_dialect.h"

namespace qv::db::postgres {
namespace {

std::vector<std::string> Names(Session& session, const std::string& sql,
                               const std::string& parameter) {
  Result result = session.Exec(sql, {Value(parameter)});
  std::vector<std::string> names;
  for (int row = 0; row < result.rows(); ++row) names.push_back(result.Text(row, 0));
  return names;
}

// The relations c that statements reach through the role's search_path: of
// each name the first on the path, as the server resolves an unqualified
// name. The system catalog and the session's temporary schema, which the
// path holds implicitly, are not the database's tables.
const char kVisible[] =
    "pg_table_is_visible(c.oid) AND c.relnamespace <> 'pg_catalog'::regnamespace"
    " AND c.relpersistence <> 't'";
// Names compare folded as the server folds unquoted names: ASCII letters
// only, whatever the database's locale (lower() under a Turkish collation
// makes I a dotless i). Relation c named $1:
const char kNamed[] = "lower(c.relname COLLATE \"C\") = lower($1 COLLATE \"C\")";

// Blanks, line breaks and indentation of the server's view text as one blank.
std::string Squeeze(const std::string& text) {
  std::string out;
  for (char c : text) {
    bool blank = c == ' ' || c == '\n' || c == '\t' || c == '\r';
    if (blank && (out.empty() || out.back() == ' ')) continue;
    out += blank ? ' ' : c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// A column's name, its type as the server writes it, the type it converts
// as (a domain as its base type, except the yes/no domain, whose name is
// parameter `yesNo`) and its place in the primary key; over pg_attribute a,
// pg_type t and the primary key's pg_index x (kColumnsOf).
std::string ColumnFields(const char* yesNo) {
  return std::string(
             "a.attname, format_type(a.atttypid, a.atttypmod),"
             " CASE WHEN t.typtype = 'd' AND t.typname <> ") +
         yesNo +
         "  THEN (SELECT b.typname FROM pg_type b WHERE b.oid = t.typbasetype)"
         "  ELSE t.typname END,"
         // indkey counts from 0
         " coalesce(array_position(x.indkey::int2[], a.attnum) + 1, 0)";
}
// The columns of relation c for ColumnFields, none for a relation without any.
const char kColumnsOf[] =
    " LEFT JOIN (pg_attribute a JOIN pg_type t ON t.oid = a.atttypid)"
    " ON a.attrelid = c.oid AND a.attnum > 0 AND NOT a.attisdropped"
    " LEFT JOIN pg_index x ON x.indrelid = c.oid AND x.indisprimary";

ColumnInfo ColumnAt(const Result& result, int row, int first) {
  return ColumnInfo{result.Text(row, first), result.Text(row, first + 1),
                    KindOfServerType(result.Text(row, first + 2)),
                    static_cast<int>(result.Get(row, first + 3).AsInteger())};
}

// Inside a transaction, a scan of every table asks next for each one's
// columns: one query answers all of it, and the cache keeps the answers
// under the stored names, as FindTable and TableColumns would find them.
std::vector<std::string> TablesWithColumns(Session& session, Session::CatalogCache& cache) {
  Result result =
      session.Exec("SELECT c.relname, lower(c.relname COLLATE \"C\"), " + ColumnFields("$1") +
                       " FROM pg_class c" + kColumnsOf + " WHERE " + kVisible +
                       " AND c.relkind IN ('r', 'p')"
                       " ORDER BY lower(c.relname COLLATE \"C\"), c.relname, a.attnum",
                   {Value(kYesNoType)});
  std::vector<std::string> names;
  std::string group, firstOfGroup;  // of names equal but for case, FindTable finds the first
  for (int row = 0; row < result.rows(); ++row) {
    std::string name = result.Text(row, 0);
    if (names.empty() || names.back() != name) {
      names.push_back(name);
      if (names.size() == 1 || result.Text(row, 1) != group) firstOfGroup = name;
      group = result.Text(row, 1);
      cache.tables[name] = firstOfGroup;
      cache.byFoldedName.emplace(LowerAscii(name), firstOfGroup);
      cache.columns[name].clear();
    }
    if (!result.IsNull(row, 2)) cache.columns[name].push_back(ColumnAt(result, row, 2));
  }
  cache.complete = true;
  return names;
}

}  // namespace

std::vector<std::string> ObjectNames(Session& session, TableKind kind) {
  Session::CatalogCache* cache = session.catalogCache();
  if (kind == TableKind::kTable && cache != nullptr) return TablesWithColumns(session, *cache);
  return Names(session,
               std::string("SELECT c.relname FROM pg_class c WHERE ") + kVisible +
                   " AND c.relkind = ANY (string_to_array($1, ',')::\"char\"[])"
                   " ORDER BY lower(c.relname COLLATE \"C\"), c.relname",
               kind == TableKind::kView ? "v,m" : "r,p");
}

std::optional<FoundTable> FindTable(Session& session, const std::string& name) {
  Session::CatalogCache* cache = session.catalogCache();
  if (cache != nullptr && cache->keptForRun && !cache->complete) TablesWithColumns(session, *cache);
  if (cache != nullptr && cache->complete) {
    auto known = cache->byFoldedName.find(LowerAscii(name));
    if (known == cache->byFoldedName.end()) return std::nullopt;
    return FoundTable{known->second, cache->columns[known->second]};
  }
  if (cache != nullptr) {
    auto known = cache->tables.find(name);
    if (known != cache->tables.end()) {
      if (!known->second) return std::nullopt;
      return FoundTable{*known->second, TableColumns(session, *known->second)};
    }
  }
  // The name and the columns in one query: every caller reads both.
  Result result = session.Exec("SELECT c.relname, " + ColumnFields("$2") +
                                   " FROM (SELECT c.oid, c.relname FROM pg_class c WHERE " +
                                   kVisible + " AND c.relkind IN ('r', 'p') AND " + kNamed +
                                   " ORDER BY c.relname"
                                   " LIMIT 1) c" +
                                   kColumnsOf + " ORDER BY a.attnum",
                               {Value(name), Value(kYesNoType)});
  std::optional<FoundTable> found;
  if (result.rows() > 0) found = FoundTable{result.Text(0, 0), {}};
  for (int row = 0; found && row < result.rows(); ++row) {
    if (!result.IsNull(row, 1)) found->columns.push_back(ColumnAt(result, row, 1));
  }
  if (cache != nullptr) {
    cache->tables[name] = found ? std::optional<std::string>(found->name) : std::nullopt;
    if (found) cache->columns[found->name] = found->columns;
  }
  return found;
}

ColumnKind KindOfServerType(const std::string& typeName) {
  static const std::pair<const char*, ColumnKind> kKinds[] = {
      {kYesNoType, ColumnKind::kYesNo}, {"bool", ColumnKind::kYesNo},
      {"int2", ColumnKind::kInt16},     {"int4", ColumnKind::kInt32},
      {"int8", ColumnKind::kInt64},     {"float4", ColumnKind::kNumber},
      {"float8", ColumnKind::kNumber},  {"numeric", ColumnKind::kNumber},
      {"timestamp", ColumnKind::kDate}, {"timestamptz", ColumnKind::kDate},
      {"date", ColumnKind::kDate},      {"text", ColumnKind::kText},
      {"varchar", ColumnKind::kText},   {"bpchar", ColumnKind::kText},
      {"name", ColumnKind::kText},
  };
  for (const auto& [name, kind] : kKinds) {
    if (typeName == name) return kind;
  }
  return ColumnKind::kAny;
}

std::vector<ColumnInfo> TableColumns(Session& session, const std::string& table) {
  Session::CatalogCache* cache = session.catalogCache();
  if (cache != nullptr) {
    // Keyed by the name as written: a name in another case may find another table.
    auto known = cache->columns.find(table);
    if (known != cache->columns.end()) return known->second;
  }
  Result result =
      session.Exec("SELECT " + ColumnFields("$2") +
                       " FROM pg_class c JOIN pg_attribute a ON a.attrelid = c.oid"
                       " JOIN pg_type t ON t.oid = a.atttypid"
                       " LEFT JOIN pg_index x ON x.indrelid = c.oid AND x.indisprimary"
                       " WHERE c.oid = (SELECT c.oid FROM pg_class c WHERE " +
                       kVisible + " AND c.relkind IN ('r', 'p', 'v', 'm') AND " + kNamed +
                       " ORDER BY c.relname = $1 DESC, c.relname LIMIT 1)"
                       " AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum",
                   {Value(table), Value(kYesNoType)});
  std::vector<ColumnInfo> columns;
  for (int row = 0; row < result.rows(); ++row) columns.push_back(ColumnAt(result, row, 0));
  if (cache != nullptr) cache->columns[table] = columns;
  return columns;
}

std::vector<DependentView> ViewsReadingColumn(Session& session, const std::string& table,
                                              const std::string& column) {
  // pg_depend ties a view's rewrite rule to each column it reads, and to
  // each view it reads (to the whole view: refobjsubid 0 or a column).
  Result result = session.Exec(
      "WITH RECURSIVE tree(view, parent, depth) AS ("
      " SELECT DISTINCT r.ev_class, 0::oid, 1 FROM pg_depend d"
      "  JOIN pg_rewrite r ON r.oid = d.objid"
      "  JOIN pg_attribute a ON a.attrelid = d.refobjid AND a.attnum = d.refobjsubid"
      "  WHERE d.classid = 'pg_rewrite'::regclass AND d.refclassid = 'pg_class'::regclass"
      "  AND d.refobjid = $1::regclass"
      "  AND lower(a.attname COLLATE \"C\") = lower($2 COLLATE \"C\")"
      "  AND r.ev_class <> d.refobjid"
      " UNION ALL"
      " SELECT DISTINCT r.ev_class, t.view, t.depth + 1 FROM tree t"
      "  JOIN pg_depend d ON d.refobjid = t.view AND d.classid = 'pg_rewrite'::regclass"
      "  AND d.refclassid = 'pg_class'::regclass"
      "  JOIN pg_rewrite r ON r.oid = d.objid WHERE r.ev_class <> t.view)"
      " SELECT v.relname, 'CREATE VIEW ' || quote_ident(v.relname) || ' AS '"
      "  || pg_get_viewdef(v.oid), coalesce(p.relname, ''), t.view"
      " FROM tree t JOIN pg_class v ON v.oid = t.view LEFT JOIN pg_class p ON p.oid = t.parent"
      " ORDER BY t.depth, v.relname",
      {Value(QuoteName(table)), Value(column)});
  std::vector<DependentView> views;
  std::set<std::string> seen;
  for (int row = 0; row < result.rows(); ++row) {
    if (!seen.insert(result.Text(row, 3)).second) continue;
    std::string parent = result.Text(row, 2);
    views.push_back(DependentView{result.Text(row, 0), Squeeze(result.Text(row, 1)),
                                  parent.empty() ? column : "", parent});
  }
  return views;
}

std::optional<std::string> IndexOnColumn(Session& session, const std::string& table,
                                         const std::string& column) {
  Result result = session.Exec(
      "SELECT i.relname FROM pg_index x JOIN pg_class i ON i.oid = x.indexrelid"
      " JOIN pg_attribute a ON a.attrelid = x.indrelid AND a.attnum = ANY(x.indkey)"
      " WHERE x.indrelid = $1::regclass"
      " AND lower(a.attname COLLATE \"C\") = lower($2 COLLATE \"C\") ORDER BY 1 LIMIT 1",
      {Value(QuoteName(table)), Value(column)});
  if (result.rows() == 0) return std::nullopt;
  return result.Text(0, 0);
}

void ExecAlterTable(Session& session, const std::string& sql, const std::string& table,
                    const Diagnostics& diagnostics) {
  const YesNoColumns columns = FindYesNoColumns(sql);
  if (columns.names.empty() || table.empty()) {
    session.Exec(sql);
    return;
  }
  // A type name resolves through the search_path as a table's does.
  Result schema = session.Exec(
      "SELECT quote_ident(n.nspname), n.nspname, has_schema_privilege(n.oid, 'CREATE')"
      " FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace"
      " WHERE c.oid = to_regclass($1) AND to_regtype($2) IS NULL",
      {Value(QuoteName(table)), Value(kYesNoType)});
  const bool plain = schema.rows() > 0 && schema.Text(0, 2) != "t";
  if (schema.rows() > 0 && !plain) {
    session.Exec("CREATE DOMAIN " + schema.Text(0, 0) + "." + kYesNoType + " AS smallint");
  }
  session.Exec(plain ? columns.asSmallint : sql);
  // Said once the column is there for good: a rollback takes it back.
  for (size_t i = 0; plain && i < columns.names.size(); ++i) {
    session.AfterCommit([line = "column " + columns.names[i] + " of table " + table +
                                " was added as smallint: there is no type " + kYesNoType +
                                ", and this role may not create it in schema " + schema.Text(0, 1),
                         &diagnostics] { diagnostics.Say(line); });
  }
}

bool ServerSchema::IsView(const std::string& name) const {
  return !Names(session_,
                std::string("SELECT c.relname FROM pg_class c WHERE ") + kVisible +
                    " AND c.relkind IN ('v', 'm') AND " + kNamed,
                name)
              .empty();
}

std::vector<std::string> ServerSchema::IndexesOf(const std::string& table) const {
  // Indexes that back a constraint (primary key, unique) go with it.
  return Names(session_,
               std::string("SELECT i.relname FROM pg_index x JOIN pg_class i ON i.oid = "
                           "x.indexrelid JOIN pg_class c ON c.oid = x.indrelid WHERE ") +
                   kVisible + " AND pg_table_is_visible(i.oid) AND " + kNamed +
                   " AND NOT EXISTS"
                   " (SELECT 1 FROM pg_constraint k WHERE k.conindid = i.oid) ORDER BY i.oid",
               table);
}

}  // namespace qv::db::postgres

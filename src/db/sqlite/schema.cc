#include "db/sqlite/schema.h"

#include "db/sqlite/statement.h"

namespace qv::db::sqlite {
namespace {

std::vector<std::string> Names(sqlite3* db, const char* sql, const std::string& parameter) {
  Statement stmt(db, sql);
  stmt.Bind(1, Value(parameter));
  std::vector<std::string> names;
  while (stmt.Step()) names.push_back(stmt.Column(0).AsText());
  return names;
}

}  // namespace

std::vector<std::string> ObjectNames(sqlite3* db, TableKind kind) {
  return Names(db,
               "SELECT name FROM sqlite_schema WHERE type = ?1 "
               "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY name COLLATE NOCASE, name",
               kind == TableKind::kView ? "view" : "table");
}

std::optional<std::string> FindTable(sqlite3* db, const std::string& name) {
  std::vector<std::string> found = Names(
      db, "SELECT name FROM sqlite_schema WHERE type = 'table' AND name = ?1 COLLATE NOCASE", name);
  if (found.empty()) return std::nullopt;
  return found.front();
}

std::vector<ColumnInfo> TableColumns(sqlite3* db, const std::string& table) {
  Statement stmt(db, "SELECT name, type, pk FROM pragma_table_info(?1)");
  stmt.Bind(1, Value(table));
  std::vector<ColumnInfo> columns;
  while (stmt.Step()) {
    std::string type = stmt.Column(1).IsNull() ? "" : stmt.Column(1).AsText();
    columns.push_back(ColumnInfo{stmt.Column(0).AsText(), type, KindOfDeclaredType(type),
                                 static_cast<int>(stmt.Column(2).AsInteger())});
  }
  return columns;
}

std::vector<StoredView> StoredViews(sqlite3* db) {
  Statement stmt(db, "SELECT name, sql FROM sqlite_schema WHERE type = 'view' ORDER BY rowid");
  std::vector<StoredView> views;
  while (stmt.Step()) views.push_back(StoredView{stmt.Column(0).AsText(), stmt.Column(1).AsText()});
  return views;
}

bool EngineSchema::IsView(const std::string& name) const {
  return !Names(db_,
                "SELECT name FROM sqlite_schema WHERE type = 'view' AND name = ?1 COLLATE NOCASE",
                name)
              .empty();
}

std::vector<std::string> EngineSchema::IndexesOf(const std::string& table) const {
  // Indexes the engine makes for UNIQUE and PRIMARY KEY have no SQL and
  // cannot be dropped.
  return Names(db_,
               "SELECT name FROM sqlite_schema WHERE type = 'index' AND sql IS NOT NULL "
               "AND tbl_name = ?1 COLLATE NOCASE ORDER BY rowid",
               table);
}

}  // namespace qv::db::sqlite

// What the backend reads of the schema: table and view names, a table's
// columns with their declared types, the stored text of the views.
#pragma once

#include "db/sqlite/engine_only.h"

#include <optional>
#include <string>
#include <vector>

#include "db/conversion.h"
#include "db/database.h"
#include "db/db_error.h"
#include "db/dialect.h"
#include "db/rowset_base.h"

struct sqlite3;

namespace qv::db::sqlite {

// A view, or a trigger on a view, as the schema keeps it.
struct StoredView {
  std::string name;
  std::string sql;  // the CREATE VIEW or CREATE TRIGGER statement
  bool isTrigger = false;
};

// Stored names of base tables (without the engine's own) or views, ordered
// by name without regard to case.
std::vector<std::string> ObjectNames(sqlite3* db, TableKind kind);

// The stored name of base table `name`, matched without regard to case.
std::optional<std::string> FindTable(sqlite3* db, const std::string& name);

// The columns of `table` in their order; empty for a missing table.
std::vector<ColumnInfo> TableColumns(sqlite3* db, const std::string& table);

// Every view, then every trigger on a view, each in the order the schema
// keeps them: executed in this order, the statements make them again.
std::vector<StoredView> StoredViews(sqlite3* db);

// The translator's view of a live database.
class EngineSchema : public SchemaLookup {
 public:
  explicit EngineSchema(sqlite3* db) : db_(db) {}
  bool IsView(const std::string& name) const override;
  std::vector<std::string> IndexesOf(const std::string& table) const override;

 private:
  sqlite3* db_;
};

}  // namespace qv::db::sqlite

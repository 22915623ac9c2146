// What the backend reads of the server's catalog, as the role's statements
// see it (a name finds the object that a statement naming it reaches
// through the search_path): table and view names, a table's columns with
// their types, the indexes of a table, and the views that read a column;
// and the yes/no domain that an ALTER TABLE needs where the catalog lacks it.
#pragma once

#include "db/postgres/engine_only.h"

#include <optional>
#include <string>
#include <vector>

#include "db/database.h"
#include "db/dialect.h"
#include "db/postgres/pg_session.h"
#include "db/rowset_base.h"

namespace qv::db::postgres {

// Stored names of base tables or views, ordered by name without regard to case.
std::vector<std::string> ObjectNames(Session& session, TableKind kind);

// The stored name of base table `name`, matched without regard to case,
// and its columns as TableColumns gives them.
struct FoundTable {
  std::string name;
  std::vector<ColumnInfo> columns;
};
std::optional<FoundTable> FindTable(Session& session, const std::string& name);

// The columns of table or view `table` (matched without regard to case) in
// their order, each with its type as the server writes it and the
// conversion that type takes; empty for a missing table.
std::vector<ColumnInfo> TableColumns(Session& session, const std::string& table);

// The conversion of a column of the server's type `typeName` (pg_type's
// name: int2, varchar, timestamp, yesno ...).
ColumnKind KindOfServerType(const std::string& typeName);

struct DependentView {
  std::string name;
  std::string definition;   // "CREATE VIEW <name> AS <query>"
  std::string readsColumn;  // the column it reads; empty for a view that reads the view above
  std::string dependsOn;    // for a view that reads another dropped view: that view
};

// The views that read column `column` of table `table`, each followed by
// every view that depends on it, in an order in which they can be dropped
// one by one from the last.
std::vector<DependentView> ViewsReadingColumn(Session& session, const std::string& table,
                                              const std::string& column);

// The first index (by name) of table `table` that covers column `column`,
// matched without regard to case; none when no index does.
std::optional<std::string> IndexOnColumn(Session& session, const std::string& table,
                                         const std::string& column);

// Runs `sql`, an ALTER TABLE of table `table` (its stored name; empty when
// there is none), inside the caller's savepoint. Where the statement gives
// columns the yes/no type and no such type is visible (a database laid out
// from the design's types alone, its yes/no columns plain smallint), the
// domain is first created in the table's schema, so that a rollback undoes
// it with the column. A role that may not create there gets the columns as
// plain smallint instead, each named on `diagnostics` once it is added.
void ExecAlterTable(Session& session, const std::string& sql, const std::string& table,
                    const Diagnostics& diagnostics);

// The translator's view of the live database.
class ServerSchema : public SchemaLookup {
 public:
  explicit ServerSchema(Session& session) : session_(session) {}
  bool IsView(const std::string& name) const override;
  std::vector<std::string> IndexesOf(const std::string& table) const override;

 private:
  Session& session_;
};

}  // namespace qv::db::postgres

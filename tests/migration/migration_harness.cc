#include "migration/migration_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "db/data_source.h"
#include "db/database_file.h"
#include "db/names.h"
#include "db/postgres/create_database.h"
#include "mkinstall/server_schema.h"

namespace qv::migration::testing {

namespace fs = std::filesystem;

Site::Site(Kind kind, Engine engine)
    : installation_(
          qv::testing::Installation::LayOut(dir_.path(), kind, "Artisan's Guild", engine)),
      connector_(db::MakeDataSourceConnector(installation_.odbcIni().string(), 0)) {}

void Site::Rebuild(const DatabaseRef& db, const std::string& script) {
  if (db.engine() == Engine::kSqlite) {
    fs::remove(db.file());
    db::CreateDatabaseFile(db.file().string(), script);
    return;
  }
  // Every view and table goes; the yesno domain and the tests' group_concat
  // stay, so the translated statements alone rebuild the database.
  qv::testing::Exec(db, R"sql(
    DO $$ DECLARE r record; BEGIN
      FOR r IN SELECT viewname FROM pg_views WHERE schemaname = current_schema() LOOP
        EXECUTE 'DROP VIEW IF EXISTS ' || quote_ident(r.viewname) || ' CASCADE';
      END LOOP;
      FOR r IN SELECT tablename FROM pg_tables WHERE schemaname = current_schema() LOOP
        EXECUTE 'DROP TABLE IF EXISTS ' || quote_ident(r.tablename) || ' CASCADE';
      END LOOP;
    END $$;)sql");
  qv::testing::Exec(db, mkinstall::TranslateStatements(script));
}

Rows Select(const DatabaseRef& db, const std::string& sql) {
  Rows rows;
  for (const auto& row : qv::testing::Query(db, sql)) {
    std::string text = row.at(0);
    for (std::size_t i = 1; i < row.size(); ++i) text += "|" + row[i];
    rows.push_back(text);
  }
  return rows;
}

namespace {
bool OnServer(const DatabaseRef& db) {
  return db.engine() == Engine::kPostgres;
}
Rows Names(const DatabaseRef& db, const std::string& serverType, const std::string& type) {
  return Select(db, OnServer(db) ? "SELECT table_name FROM information_schema.tables WHERE "
                                   "table_schema = current_schema() AND table_type = '" +
                                       serverType + "' ORDER BY 1"
                                 : "SELECT name FROM sqlite_schema WHERE type = '" + type +
                                       "' ORDER BY name");
}
}  // namespace

Rows Tables(const DatabaseRef& db) {
  return Names(db, "BASE TABLE", "table");
}

Rows Views(const DatabaseRef& db) {
  return Names(db, "VIEW", "view");
}

Rows Statements(const FaultyConnector& log) {
  Rows statements;
  for (const auto& record : log.log()) {
    if (record.op == DbOp::kExecute) statements.push_back(record.detail);
  }
  return statements;
}

Rows Data(const DatabaseRef& db, bool asMigrated) {
  Rows data;
  for (const std::string& table : Tables(db)) {
    Rows columns = qv::testing::ColumnsOf(db, table);
    for (std::string& c : columns) c = db::LowerAscii(c);
    auto has = [&](const char* name) {
      return std::find(columns.begin(), columns.end(), name) != columns.end();
    };
    Rows rows;
    for (const auto& row : qv::testing::Query(db, "SELECT * FROM \"" + table + "\"")) {
      std::map<std::string, std::string> values;
      for (std::size_t i = 0; i < columns.size(); ++i) {
        std::string column = columns[i], value = row[i];
        if (asMigrated && column == "public") {
          if (has("shared")) continue;
          column = "shared";
        } else if (asMigrated && column == "confirm") {
          if (has("confirmation")) continue;
          column = "confirmation";
          if (value != qv::testing::kNullText) value = value == "0" ? "0" : "1";
        }
        values[column] = value;
      }
      std::string text = db::LowerAscii(table);
      for (const auto& [column, value] : values) text += "|" + column + "=" + value;
      rows.push_back(text);
    }
    std::sort(rows.begin(), rows.end());
    data.insert(data.end(), rows.begin(), rows.end());
  }
  return data;
}

Rows Snapshot(const DatabaseRef& db) {
  Rows snapshot = Select(
      db, OnServer(db)
              ? "SELECT 'column', table_name || '.' || column_name, coalesce(domain_name, "
                "data_type) || ' ' || coalesce(column_default, '') FROM information_schema.columns "
                "WHERE table_schema = current_schema() UNION ALL SELECT 'view', viewname, "
                "definition FROM pg_views WHERE schemaname = current_schema() UNION ALL SELECT "
                "'index', indexname, indexdef FROM pg_indexes WHERE schemaname = current_schema() "
                "ORDER BY 1, 2"
              : "SELECT type, name, sql FROM sqlite_schema ORDER BY type, name");
  for (const std::string& row : Data(db)) snapshot.push_back(row);
  return snapshot;
}

void Sweep(Site& site, Step step, const std::function<void(const FaultRun&)>& check) {
  // Both databases are copied before the sweep and put back before each run:
  // files by a file copy, server databases by a database made from a template.
  const DatabaseRef* databases[] = {&site.main(), &site.security()};
  std::vector<DatabaseRef> pristine;
  for (const DatabaseRef* db : databases) {
    if (db->engine() == Engine::kSqlite) {
      pristine.emplace_back(db->file().string() + ".pristine");
      fs::copy_file(db->file(), pristine.back().file());
    } else {
      pristine.push_back(DatabaseRef::OnServer(db->server(), db->name() + "pristine"));
      qv::testing::CopyServerDatabase(*db, pristine.back());
    }
  }
  for (int64_t n = 0, operations = 0; n <= operations; ++n) {
    for (std::size_t i = 0; i < pristine.size(); ++i) {
      if (pristine[i].engine() == Engine::kSqlite) {
        fs::copy_file(pristine[i].file(), databases[i]->file(),
                      fs::copy_options::overwrite_existing);
      } else {
        qv::testing::CopyServerDatabase(pristine[i], *databases[i]);
      }
    }
    FaultyConnector faulty(site.connector(), n);
    std::string message = kEarlierMessage;
    const bool result = step(faulty, message);
    if (n == 0) operations = faulty.count();
    SCOPED_TRACE(n == 0 ? "no fault" : faulty.Describe(n));
    check({n, n == 0 ? DbOp::kOpen : faulty.log()[n - 1].op, result, message, faulty});
  }
  for (const DatabaseRef& copy : pristine) {
    if (copy.engine() == Engine::kPostgres) db::DropServerDatabases(copy.server(), {copy.name()});
  }
}

}  // namespace qv::migration::testing

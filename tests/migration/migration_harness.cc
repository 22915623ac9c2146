#include "migration/migration_harness.h"

#include <gtest/gtest.h>

#include <map>

#include "db/data_source.h"
#include "db/database_file.h"
#include "db/names.h"
#include "migration/step_support.h"

namespace qv::migration::testing {

namespace fs = std::filesystem;

Site::Site(Kind kind)
    : installation_(qv::testing::Installation::LayOut(dir_.path(), kind)),
      connector_(db::MakeDataSourceConnector(installation_.odbcIni().string(), 0)) {}

void Site::Rebuild(const fs::path& db, const std::string& script) {
  fs::remove(db);
  db::CreateDatabaseFile(db.string(), script);
}

Rows Select(const fs::path& db, const std::string& sql) {
  Rows rows;
  for (const auto& row : qv::testing::Query(db, sql)) {
    std::string text = row.at(0);
    for (std::size_t i = 1; i < row.size(); ++i) text += "|" + row[i];
    rows.push_back(text);
  }
  return rows;
}

Rows Views(const fs::path& db) {
  return Select(db, "SELECT name FROM sqlite_schema WHERE type = 'view' ORDER BY name");
}

Rows Statements(const FaultyConnector& log) {
  Rows statements;
  for (const auto& record : log.log()) {
    if (record.op == DbOp::kExecute) statements.push_back(record.detail);
  }
  return statements;
}

Rows Data(const fs::path& db, bool asMigrated) {
  Rows data;
  for (const std::string& table :
       Select(db, "SELECT name FROM sqlite_schema WHERE type = 'table' ORDER BY name")) {
    const Rows columns = qv::testing::ColumnsOf(db, table);
    auto has = [&](const char* name) {
      for (const std::string& c : columns) {
        if (db::EqualsNoCase(c, name)) return true;
      }
      return false;
    };
    for (const auto& row :
         qv::testing::Query(db, "SELECT * FROM \"" + table + "\" ORDER BY rowid")) {
      std::map<std::string, std::string> values;
      for (std::size_t i = 0; i < columns.size(); ++i) {
        std::string column = columns[i], value = row[i];
        if (asMigrated && db::EqualsNoCase(column, "Public")) {
          if (has("Shared")) continue;
          column = "Shared";
        } else if (asMigrated && db::EqualsNoCase(column, "Confirm")) {
          if (has("Confirmation")) continue;
          column = "Confirmation";
          if (value != qv::testing::kNullText) value = value == "0" ? "0" : "1";
        }
        values[column] = value;
      }
      std::string text = table;
      for (const auto& [column, value] : values) text += "|" + column + "=" + value;
      data.push_back(text);
    }
  }
  return data;
}

Rows Snapshot(const fs::path& db) {
  Rows snapshot = Select(db, "SELECT type, name, sql FROM sqlite_schema ORDER BY type, name");
  for (const std::string& row : Data(db)) snapshot.push_back(row);
  return snapshot;
}

void Sweep(Site& site, Step step, const std::function<void(const FaultRun&)>& check) {
  const fs::path mainCopy = site.main().string() + ".pristine";
  const fs::path securityCopy = site.security().string() + ".pristine";
  fs::copy_file(site.main(), mainCopy);
  fs::copy_file(site.security(), securityCopy);
  for (int64_t n = 0, operations = 0; n <= operations; ++n) {
    fs::copy_file(mainCopy, site.main(), fs::copy_options::overwrite_existing);
    fs::copy_file(securityCopy, site.security(), fs::copy_options::overwrite_existing);
    FaultyConnector faulty(site.connector(), n);
    std::string message = kEarlierMessage;
    const bool result = step(faulty, message);
    if (n == 0) operations = faulty.count();
    SCOPED_TRACE(n == 0 ? "no fault" : faulty.Describe(n));
    check({n, n == 0 ? DbOp::kOpen : faulty.log()[n - 1].op, result, message, faulty});
  }
}

}  // namespace qv::migration::testing

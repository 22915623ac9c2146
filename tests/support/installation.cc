#include "support/installation.h"

#include <sqlite3.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "mkinstall/layout.h"

namespace qv::testing {
namespace {

std::optional<std::string> GetEnv(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

void RestoreEnv(const char* name, const std::optional<std::string>& value) {
  value ? setenv(name, value->c_str(), 1) : unsetenv(name);
}

using DbHandle = std::unique_ptr<sqlite3, int (*)(sqlite3*)>;

// Opens an existing database file; never creates one.
DbHandle OpenExisting(const std::filesystem::path& dbFile) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(dbFile.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  DbHandle db(raw, sqlite3_close);
  if (rc != SQLITE_OK) {
    throw std::runtime_error("cannot open " + dbFile.string() + ": " +
                             (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)));
  }
  sqlite3_busy_timeout(db.get(), 5000);
  return db;
}

}  // namespace

Installation Installation::LayOut(const std::filesystem::path& dir, Kind kind,
                                  const std::string& companyName) {
  mkinstall::LayoutSettings settings;
  settings.generation =
      kind == Kind::kOld ? mkinstall::SchemaGeneration::kOld : mkinstall::SchemaGeneration::kFresh;
  settings.companyName = companyName;
  const mkinstall::InstallationPaths paths = mkinstall::LayOutInstallation(dir, settings);
  Installation installation;
  installation.storageDir_ = paths.storageDir;
  installation.registryFile_ = paths.registryFile;
  installation.odbcIni_ = paths.odbcIni;
  installation.mainDb_ = paths.mainDb;
  installation.securityDb_ = paths.securityDb;
  return installation;
}

Installation::Activation::Activation(const Installation& installation)
    : savedRegistry_(GetEnv("QV_REGISTRY_FILE")), savedOdbcIni_(GetEnv("ODBCINI")) {
  setenv("QV_REGISTRY_FILE", installation.registryFile().c_str(), 1);
  setenv("ODBCINI", installation.odbcIni().c_str(), 1);
}

Installation::Activation::~Activation() {
  RestoreEnv("QV_REGISTRY_FILE", savedRegistry_);
  RestoreEnv("ODBCINI", savedOdbcIni_);
}

std::vector<std::vector<std::string>> Query(const std::filesystem::path& dbFile,
                                            const std::string& sql) {
  DbHandle db = OpenExisting(dbFile);
  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  const int rc = sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &raw, &tail);
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, sqlite3_finalize);
  if (rc != SQLITE_OK) throw std::runtime_error(sqlite3_errmsg(db.get()) + (" in: " + sql));
  if (!statement) throw std::runtime_error("no statement in: " + sql);
  if (std::string(tail).find_first_not_of(" \t\r\n;") != std::string::npos) {
    throw std::runtime_error("more than one statement in: " + sql + " (use Exec)");
  }
  std::vector<std::vector<std::string>> rows;
  int step;
  while ((step = sqlite3_step(statement.get())) == SQLITE_ROW) {
    std::vector<std::string>& row = rows.emplace_back();
    for (int i = 0; i < sqlite3_column_count(statement.get()); ++i) {
      const unsigned char* text = sqlite3_column_text(statement.get(), i);
      row.emplace_back(text ? reinterpret_cast<const char*>(text) : kNullText);
    }
  }
  if (step != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db.get()) + (" in: " + sql));
  return rows;
}

std::string QueryValue(const std::filesystem::path& dbFile, const std::string& sql) {
  const auto rows = Query(dbFile, sql);
  if (rows.empty() || rows[0].empty()) throw std::runtime_error("no value from: " + sql);
  return rows[0][0];
}

void Exec(const std::filesystem::path& dbFile, const std::string& sql) {
  DbHandle db = OpenExisting(dbFile);
  if (sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    throw std::runtime_error(sqlite3_errmsg(db.get()) + (" in: " + sql));
  }
}

std::vector<std::string> ColumnsOf(const std::filesystem::path& dbFile, const std::string& table) {
  std::vector<std::string> names;
  for (const auto& row : Query(dbFile, "SELECT name FROM pragma_table_info('" + table + "')")) {
    names.push_back(row[0]);
  }
  return names;
}

}  // namespace qv::testing

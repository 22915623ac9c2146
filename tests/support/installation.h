// Installations for tests, laid out with the same code as qv-mkinstall, on
// either engine (the server of the PG* environment: run the tests under
// pg_virtualenv), and a direct way to read and change their databases.
// Case tables run on both engines as TEST_P over kEngines, named by
// EngineName, each SetUp starting with QV_SKIP_UNTESTED_ENGINE(GetParam()).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "mkinstall/layout.h"

namespace qv::testing {

using Engine = mkinstall::Engine;

// Every engine under test, for INSTANTIATE_TEST_SUITE_P.
inline constexpr Engine kEngines[] = {Engine::kSqlite, Engine::kPostgres};

std::string EngineName(const ::testing::TestParamInfo<Engine>& info);

// True for the server when QV_TEST_POSTGRES=off; else a server case that
// finds no server fails: a run without a server never passes by skipping.
bool EngineTestsOff(Engine engine);

#define QV_SKIP_UNTESTED_ENGINE(engine)                      \
  if (::qv::testing::EngineTestsOff(engine)) {               \
    GTEST_SKIP() << "QV_TEST_POSTGRES=off: no server cases"; \
  }

// A database to read and change in a test: a SQLite file (a path converts
// to one), or a database on the server.
class DatabaseRef {
 public:
  DatabaseRef(const std::filesystem::path& file) : file_(file) {}  // NOLINT: implicit
  DatabaseRef(const std::string& file) : file_(file) {}            // NOLINT: implicit
  DatabaseRef(const char* file) : file_(file) {}                   // NOLINT: implicit
  static DatabaseRef OnServer(const db::ServerAddress& server, const std::string& name);

  Engine engine() const { return name_.empty() ? Engine::kSqlite : Engine::kPostgres; }
  const std::filesystem::path& file() const { return file_; }  // empty on a server
  const std::string& name() const { return name_; }            // empty for a file
  const db::ServerAddress& server() const { return server_; }

 private:
  DatabaseRef() = default;
  std::filesystem::path file_;
  std::string name_;
  db::ServerAddress server_;
};

class Installation {
 public:
  // kFresh: current schema, its rows and views. kOld: the schema before the
  // migration, with a few events and obsolete views.
  enum class Kind { kFresh, kOld };

  // Lays out registry.reg, odbc.ini, db/qv_main.mdb and db/qv_security.mdb
  // in `dir`; with kPostgres the two databases on the server instead, under
  // a name prefix of their own, dropped when the last copy goes, and with
  // the embedded engine's group_concat(x[, separator]) for the tests' own
  // queries. The data sources take user "admin", password "quillmark".
  // Throws when `dir` holds an installation already.
  static Installation LayOut(const std::filesystem::path& dir, Kind kind = Kind::kFresh,
                             const std::string& companyName = "Artisan's Guild",
                             Engine engine = Engine::kSqlite);

  const std::filesystem::path& storageDir() const { return storageDir_; }
  const std::filesystem::path& registryFile() const { return registryFile_; }
  const std::filesystem::path& odbcIni() const { return odbcIni_; }
  const std::filesystem::path& mainDb() const { return mainDb_; }
  const std::filesystem::path& securityDb() const { return securityDb_; }
  const DatabaseRef& mainDatabase() const { return main_; }
  const DatabaseRef& securityDatabase() const { return security_; }
  Engine engine() const { return main_.engine(); }

 private:
  Installation() : main_(std::filesystem::path()), security_(std::filesystem::path()) {}
  std::filesystem::path storageDir_, registryFile_, odbcIni_, mainDb_, securityDb_;
  DatabaseRef main_, security_;
  std::shared_ptr<void> serverDatabases_;  // drops them when the last copy goes
};

// What a null column reads as in Query and QueryValue.
inline constexpr char kNullText[] = "(null)";

// Runs one statement (the engine's own SQL) on an existing database and
// returns its rows as text (null as kNullText); throws the engine's message.
std::vector<std::vector<std::string>> Query(const DatabaseRef& db, const std::string& sql);

// The first column of the first row of Query; throws when there is none.
std::string QueryValue(const DatabaseRef& db, const std::string& sql);

// Runs a script of several statements (to prepare a case); throws on failure.
void Exec(const DatabaseRef& db, const std::string& sql);

// Makes server database `to` a copy of `from` (replacing it), to put a
// database back as it was between the cases of a sweep.
void CopyServerDatabase(const DatabaseRef& from, const DatabaseRef& to);

// A database of its own for one test, made from a SQLite `script`: a file in
// `dir`, or a database on the server of the PG* environment with the script
// translated as the installations' are, dropped when the last copy of `keep`
// goes; it also holds group_concat(x[, sep]) as SQLite has it.
struct ScratchDatabase {
  DatabaseRef ref;
  std::shared_ptr<void> keep;
};
ScratchDatabase MakeScratchDatabase(Engine engine, const std::filesystem::path& dir,
                                    const std::string& script);

// Names of the columns of `table`, in order, as the engine stored them.
std::vector<std::string> ColumnsOf(const DatabaseRef& db, const std::string& table);

}  // namespace qv::testing

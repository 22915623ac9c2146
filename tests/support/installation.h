// Installations laid out as qv-mkinstall does, on either engine (the server of
// the PG* environment), and direct access to their databases. With
// QV_TEST_PLAIN_YESNO set, server databases are laid out from the design's
// types alone, as by hand: yes/no columns plain smallint, no yesno domain.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/diagnostics.h"
#include "mkinstall/layout.h"

namespace qv::mkinstall {
// Test listings name the engine rather than print its bytes.
inline void PrintTo(Engine engine, std::ostream* os) {
  *os << (engine == Engine::kPostgres ? "PostgreSQL" : "SQLite");
}
}  // namespace qv::mkinstall

namespace qv::testing {

using Engine = mkinstall::Engine;

inline constexpr Engine kEngines[] = {Engine::kSqlite, Engine::kPostgres};

std::string EngineName(const ::testing::TestParamInfo<Engine>& info);
#define QV_ON_BOTH_ENGINES(suite)                                                      \
  INSTANTIATE_TEST_SUITE_P(Engines, suite, ::testing::ValuesIn(qv::testing::kEngines), \
                           qv::testing::EngineName)

// True for the server when QV_TEST_POSTGRES=off; else a server case that
// finds no server fails, so a run never passes by skipping.
bool EngineTestsOff(Engine engine);

#define QV_SKIP_UNTESTED_ENGINE(engine)                      \
  if (::qv::testing::EngineTestsOff(engine)) {               \
    GTEST_SKIP() << "QV_TEST_POSTGRES=off: no server cases"; \
  }

// Diagnostics handed to the code under test, kept for the test to read.
struct CapturedDiagnostics {
  operator const Diagnostics&() const { return diagnostics; }  // NOLINT: implicit
  std::vector<std::string> Take() {  // the lines so far, which are then forgotten
    std::vector<std::string> lines;
    std::istringstream in(text.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    text.str("");
    return lines;
  }
  std::ostringstream text;
  const Diagnostics diagnostics{text};
};

// A SQLite file (a path converts to one) or a database on the server.
class DatabaseRef {
 public:
  DatabaseRef(const std::filesystem::path& file) : file_(file) {}  // NOLINT: implicit
  DatabaseRef(const std::string& file) : file_(file) {}            // NOLINT: implicit
  DatabaseRef(const char* file) : file_(file) {}                   // NOLINT: implicit
  static DatabaseRef OnServer(const db::ServerLogin& server, const std::string& name);

  Engine engine() const { return name_.empty() ? Engine::kSqlite : Engine::kPostgres; }
  const std::filesystem::path& file() const { return file_; }  // empty on a server
  const std::string& name() const { return name_; }            // empty for a file
  const db::ServerLogin& server() const { return server_; }

 private:
  DatabaseRef() = default;
  std::filesystem::path file_;
  std::string name_;
  db::ServerLogin server_;
};

class Installation {
 public:
  // kOld: the schema before the migration, with a few events and obsolete views.
  enum class Kind { kFresh, kOld };

  // On the server: under a prefix of their own, dropped with the last copy,
  // with group_concat(x[, sep]). The data sources take admin/quillmark.
  static Installation LayOut(const std::filesystem::path& dir, Kind kind = Kind::kFresh,
                             const std::string& companyName = "Artisan's Guild",
                             Engine engine = Engine::kSqlite);

  const std::filesystem::path& storageDir() const { return paths_.storageDir; }
  const std::filesystem::path& registryFile() const { return paths_.registryFile; }
  const std::filesystem::path& odbcIni() const { return paths_.odbcIni; }
  const std::filesystem::path& mainDb() const { return paths_.mainDb; }
  const std::filesystem::path& securityDb() const { return paths_.securityDb; }
  const DatabaseRef& mainDatabase() const { return main_; }
  const DatabaseRef& securityDatabase() const { return security_; }
  Engine engine() const { return main_.engine(); }

 private:
  Installation() : main_(std::filesystem::path()), security_(std::filesystem::path()) {}
  mkinstall::InstallationPaths paths_;
  DatabaseRef main_, security_;
  std::shared_ptr<void> serverDatabases_;  // drops them when the last copy goes
};

inline constexpr char kNullText[] = "(null)";

// Rows of one statement in the engine's own SQL as text; throws its message.
std::vector<std::vector<std::string>> Query(const DatabaseRef& db, const std::string& sql);

std::string QueryValue(const DatabaseRef& db, const std::string& sql);

void Exec(const DatabaseRef& db, const std::string& sql);

// Closes the connection that Query and Exec keep to a server database.
void Disconnect(const DatabaseRef& db);

// Replaces database `to` with a copy of `from` (of the same engine).
void CopyDatabase(const DatabaseRef& from, const DatabaseRef& to);

// A database made from a SQLite `script`: a file in `dir`, or on the server
// translated as installations are, dropped with the last copy of `keep`.
struct ScratchDatabase {
  DatabaseRef ref;
  std::shared_ptr<void> keep;
};
ScratchDatabase MakeScratchDatabase(Engine engine, const std::filesystem::path& dir,
                                    const std::string& script);

std::vector<std::string> ColumnsOf(const DatabaseRef& db, const std::string& table);

}  // namespace qv::testing

// Small databases built by hand for one test: qv_main and qv_security in a
// temporary folder, reachable under their data-source names through a
// connector of their own, and a few read helpers that go through the
// database interface on a connection of their own.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "db/database.h"
#include "db/value.h"
#include "support/scoped_temp_dir.h"

namespace qv::migration::testing {

class ScratchSources {
 public:
  // `mainScript` and `securityScript` are engine-native SQL, several
  // statements each, run when the files are created.
  ScratchSources(const std::string& mainScript, const std::string& securityScript);

  // Lock conflicts fail at once instead of waiting: a step that would wait
  // on its own connection shows up as a failure, never as a hang.
  db::Connector& connector() { return *connector_; }

 private:
  qv::testing::ScopedTempDir dir_;
  std::unique_ptr<db::Connector> connector_;
};

// Read helpers over the full connection strings. Each opens and closes a
// connection of its own; a failure raises DbError.
// The rows of `SELECT columns FROM table [ORDER BY orderBy]`, each written
// as its values joined by "|": numbers in decimal, texts in apostrophes,
// dates as storage text, null as "null". So a failing comparison shows the
// rows, and the kind of a value (7 or '7') counts.
std::vector<std::string> Select(db::Connector& connector, const std::string& connectionString,
                                const std::string& table, const std::vector<std::string>& columns,
                                const std::string& orderBy = "");
std::vector<std::string> Columns(db::Connector& connector, const std::string& connectionString,
                                 const std::string& table);
std::vector<std::string> Objects(db::Connector& connector, const std::string& connectionString,
                                 db::TableKind kind);
// Runs one statement in a transaction of its own and commits it.
void RunStatement(db::Connector& connector, const std::string& connectionString,
                  const std::string& statement);

// Shorthands on the main and the security database.
std::vector<std::string> MainSelect(db::Connector& connector, const std::string& table,
                                    const std::vector<std::string>& columns,
                                    const std::string& orderBy = "");
std::vector<std::string> SecuritySelect(db::Connector& connector, const std::string& table,
                                        const std::vector<std::string>& columns,
                                        const std::string& orderBy = "");

std::string Show(const db::Value& value);
std::vector<std::string> MainColumns(db::Connector& connector, const std::string& table);
std::vector<std::string> MainViews(db::Connector& connector);

// Names compared without regard to case, as the engine matches them.
bool ContainsName(const std::vector<std::string>& names, const std::string& name);

}  // namespace qv::migration::testing

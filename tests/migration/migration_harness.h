// What the migration tests share: an installation on either engine whose
// databases a test may rebuild, the databases read straight from the engine,
// and a fault sweep.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/database.h"
#include "support/faulty_connector.h"
#include "support/installation.h"
#include "support/scoped_temp_dir.h"

namespace qv::migration::testing {

using Rows = std::vector<std::string>;
using Step = bool (*)(db::Connector&, std::string&);
using qv::testing::DatabaseRef;
using qv::testing::DbOp;
using qv::testing::Engine;
using qv::testing::FaultyConnector;
using Kind = qv::testing::Installation::Kind;

// The step message as an earlier step left it.
inline constexpr char kEarlierMessage[] = "left by an earlier step";

// Reached through a connector on which a lock conflict fails at once: a step
// that would wait on a lock of its own shows up as a failure, not a hang.
class Site {
 public:
  explicit Site(Kind kind = Kind::kFresh, Engine engine = Engine::kSqlite);
  // Replaces `db` by one built from `script` (SQLite's dialect, translated for
  // the server as the installer translates its own scripts).
  void Rebuild(const DatabaseRef& db, const std::string& script);
  void Exec(const std::string& mainScript) { qv::testing::Exec(main(), mainScript); }
  const DatabaseRef& main() const { return installation_.mainDatabase(); }
  const DatabaseRef& security() const { return installation_.securityDatabase(); }
  db::Connector& connector() { return *connector_; }

 private:
  qv::testing::ScopedTempDir dir_;
  qv::testing::Installation installation_;
  std::unique_ptr<db::Connector> connector_;
};

// The rows of `sql`, each as its values joined by "|" (null as "(null)").
Rows Select(const DatabaseRef& db, const std::string& sql);
Rows Tables(const DatabaseRef& db);  // sorted
Rows Views(const DatabaseRef& db);   // sorted
// The statement texts that went through `log`, in order.
Rows Statements(const FaultyConnector& log);
// Every row of every table as "table|column=value|..." (names in lower case,
// rows sorted). With `asMigrated`, Public and Confirm read as Shared and
// Confirmation (yes/no as 0 or 1) and are left out where the table has
// those: equal results before and after a migration mean no value was lost.
Rows Data(const DatabaseRef& db, bool asMigrated = false);
// Every object's definition, then Data: equal snapshots, nothing changed.
Rows Snapshot(const DatabaseRef& db);

struct FaultRun {
  int64_t n;  // the failing operation, counted from 1; 0 for the run without a fault
  DbOp op;    // its kind
  bool result;
  std::string message;  // kEarlierMessage before the run
  const FaultyConnector& log;
};
// Runs `step` without a fault, then once with each operation of that run
// failing, every run on both databases as they were before the sweep.
void Sweep(Site& site, Step step, const std::function<void(const FaultRun&)>& check);

// A case run on each engine.
class EngineTest : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override { QV_SKIP_UNTESTED_ENGINE(GetParam()); }
};

}  // namespace qv::migration::testing

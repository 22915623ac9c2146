// A fixture for the tests of one sample-data module: a fresh installation in
// a temporary folder, the local zone pinned to Asia/Tokyo and the clock to a
// fixed instant, message boxes recorded, and the proof that a module is
// all-or-nothing whichever of its database operations fails.
#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/database.h"
#include "sample_data/modules.h"
#include "support/faulty_connector.h"
#include "support/installation.h"
#include "support/scoped_temp_dir.h"
#include "timezone/clock.h"

namespace qv::sample_data {

using Rows = std::vector<std::vector<std::string>>;
using InsertFn = bool (*)(const ModuleEnv&, const SampleArgs&);

class ModuleFixture : public ::testing::Test {
 protected:
  // 2024-03-05 20:30:15 GMT. In Tokyo (+9) it is already 6 March, 05:30:15:
  // the local calendar day and the GMT one differ.
  static constexpr std::time_t kRunInstant = 1709670615;
  static constexpr const char* kRunGmt = "2024-03-05 20:30:15";  // as a date column stores it

  void SetUp() override;
  void TearDown() override;

  // Runs `module` against the installation's qv_main with user "admin",
  // password "quillmark", through the real connector or through `connector`.
  bool Run(InsertFn module, const std::string& language, const std::string& station = "1");
  bool Run(InsertFn module, db::Connector& connector, const std::string& language,
           const std::string& station = "1");

  // Reading and preparing the main database directly.
  Rows Query(const std::string& sql) const;
  std::string Value(const std::string& sql) const;
  std::string Count(const std::string& table) const;
  void Exec(const std::string& sql) const;
  // Every table's rows, sqlite_sequence included, as one text.
  std::string Dump() const;

  // Runs `module` once counting its operations (it must commit), then once
  // per operation N on a fresh copy of the database with operation N
  // failing. Up to the commit every run must return false, leave the whole
  // main database as it was, find `table` as empty as before (no `key`
  // above `threshold`) and show `boxesOnFailure` boxes; a failure after the
  // commit must leave the committed result. Returns the operations of the
  // counting run.
  std::vector<qv::testing::DbOpRecord> ExpectAllOrNothing(InsertFn module,
                                                          const std::string& language,
                                                          const std::string& table,
                                                          const std::string& key, int threshold = 0,
                                                          size_t boxesOnFailure = 0);

  timezone::FixedClock clock_{kRunInstant};
  std::vector<std::string> boxes_;
  qv::testing::ScopedTempDir dir_;
  std::optional<qv::testing::Installation> installation_;
  std::unique_ptr<db::Connector> connector_;

 private:
  std::optional<std::string> savedTz_;
};

}  // namespace qv::sample_data

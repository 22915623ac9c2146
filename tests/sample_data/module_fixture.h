// The fixture of every sample-data test: a fresh installation in a temporary
// folder, the local zone pinned to Asia/Tokyo and the clock to a fixed
// instant, message boxes recorded, expected rows written as text and the
// proof that a module is all-or-nothing whichever of its operations fails.
#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "db/database.h"
#include "sample_data/modules.h"
#include "support/faulty_connector.h"
#include "support/installation.h"
#include "support/scoped_temp_dir.h"
#include "timezone/clock.h"

namespace qv::sample_data {

using InsertFn = bool (*)(const ModuleEnv&, const SampleArgs&);

// A query and the rows it must give as Flat text, by language. `ja` null:
// the same as `en` (the value does not depend on the language). `other` is
// for a language that is neither "1" nor "2"; null: as `en` when `ja` is
// null, otherwise not checked.
struct Check {
  const char* sql;
  const char* en;
  const char* ja = nullptr;
  const char* other = nullptr;
};

// What one module must write on a fresh installation prepared by `prep`
// (with station "7"); one whose `otherLanguageCommits` is false must roll back
// when the language is neither "1" nor "2".
struct ModuleRecords {
  const char* name;
  InsertFn insert;
  std::string prep;
  bool otherLanguageCommits;
  std::vector<Check> checks;
};
inline void PrintTo(const ModuleRecords& records, std::ostream* os) {
  *os << records.name;
}
using RecordsParam = std::tuple<ModuleRecords, std::string>;  // and the language
std::string RecordsName(const ::testing::TestParamInfo<RecordsParam>& info);

// SQL that makes the next key of `table` `last` + 1.
std::string NextKeyAfter(const std::string& table, int last);

class ModuleFixture : public ::testing::Test {
 protected:
  // 2024-03-05 20:30:15 GMT. In Tokyo (+9) it is already 6 March, 05:30:15:
  // the local calendar day and the GMT one differ.
  static constexpr std::time_t kRunInstant = 1709670615;

  void SetUp() override;
  void TearDown() override;

  // Runs `module` against the installation's qv_main with user "admin",
  // password "quillmark", through the real connector or through `connector`.
  bool Run(InsertFn module, const std::string& language, const std::string& station = "1");
  bool Run(InsertFn module, db::Connector& connector, const std::string& language,
           const std::string& station = "1");

  void Exec(const std::string& sql) const;
  // The rows of `sql` as one text: columns joined by "|", rows by "\n", a
  // null column as "-".
  std::string Flat(const std::string& sql) const;
  // Every table's rows, sqlite_sequence included, as one text.
  std::string Dump() const;
  // Prepares, runs `records.insert` in `language` with station "7" and
  // makes each check that applies to the language.
  void ExpectRecords(const ModuleRecords& records, const std::string& language);

  // Runs `module` once counting its operations (it must commit), then once
  // per operation N on a fresh copy of the database with operation N
  // failing. Up to the commit every run must return false, leave the whole
  // main database as it was and show one box (none for a null
  // `boxSeparator`), for a refused commit its number, `boxSeparator` and
  // description; a failure after the commit must leave the committed result.
  // Returns the operations of the counting run.
  std::vector<qv::testing::DbOpRecord> ExpectAllOrNothing(InsertFn module,
                                                          const std::string& language,
                                                          const char* boxSeparator);

  timezone::FixedClock clock_{kRunInstant};
  std::vector<std::string> boxes_;
  qv::testing::ScopedTempDir dir_;
  std::optional<qv::testing::Installation> installation_;
  std::unique_ptr<db::Connector> connector_;

 private:
  std::optional<std::string> savedTz_;
};

class RecordsTest : public ModuleFixture, public ::testing::WithParamInterface<RecordsParam> {};

}  // namespace qv::sample_data

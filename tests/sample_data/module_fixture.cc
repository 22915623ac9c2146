#include "sample_data/module_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include <sqlite3.h>

#include "db/data_source.h"

namespace qv::sample_data {

using qv::testing::DbOp;
using qv::testing::FaultyConnector;

std::string RecordsName(const ::testing::TestParamInfo<RecordsParam>& info) {
  const std::string& language = std::get<1>(info.param);
  return std::string(std::get<0>(info.param).name) + (language == "1"   ? "English"
                                                      : language == "2" ? "Japanese"
                                                                        : "OtherLanguage");
}

std::string NextKeyAfter(const std::string& table, int last) {
  return "DELETE FROM sqlite_sequence WHERE name = '" + table +
         "'; INSERT INTO sqlite_sequence (name, seq) VALUES ('" + table + "', " +
         std::to_string(last) + ");";
}

void ModuleFixture::SetUp() {
  if (const char* tz = std::getenv("TZ")) savedTz_ = tz;
  setenv("TZ", "Asia/Tokyo", 1);
  tzset();
  installation_ = qv::testing::Installation::LayOut(dir_.path() / "install");
  connector_ = db::MakeDataSourceConnector(installation_->odbcIni().string());
}

void ModuleFixture::TearDown() {
  if (savedTz_) {
    setenv("TZ", savedTz_->c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

bool ModuleFixture::Run(InsertFn module, const std::string& language, const std::string& station) {
  return Run(module, *connector_, language, station);
}

bool ModuleFixture::Run(InsertFn module, db::Connector& connector, const std::string& language,
                        const std::string& station) {
  const ModuleEnv env{connector, clock_, [this](const std::string& box) { boxes_.push_back(box); }};
  return module(env, {language, "qv_main", "admin", "quillmark", station});
}

void ModuleFixture::Exec(const std::string& sql) const {
  qv::testing::Exec(installation_->mainDb(), sql);
}

std::string ModuleFixture::Flat(const std::string& sql) const {
  std::string text;
  for (const auto& row : qv::testing::Query(installation_->mainDb(), sql)) {
    for (size_t i = 0; i < row.size(); ++i) {
      text += (i ? "|" : "") + (row[i] == qv::testing::kNullText ? "-" : row[i]);
    }
    text += "\n";
  }
  return text.empty() ? text : text.substr(0, text.size() - 1);
}

void ModuleFixture::ExpectRecords(const ModuleRecords& records, const std::string& language) {
  if (!records.prep.empty()) Exec(records.prep);
  const bool other = language != "1" && language != "2";
  if (other && !records.otherLanguageCommits) {
    const std::string before = Dump();
    EXPECT_FALSE(Run(records.insert, language, "7"));
    EXPECT_EQ(Dump(), before);
    return;
  }
  ASSERT_TRUE(Run(records.insert, language, "7"));
  EXPECT_TRUE(boxes_.empty());
  for (const Check& check : records.checks) {
    const char* expected = language == "2" && check.ja ? check.ja : check.en;
    if (other) expected = check.other ? check.other : check.ja ? nullptr : check.en;
    if (!expected) continue;
    SCOPED_TRACE(check.sql);
    EXPECT_EQ(Flat(check.sql), expected);
  }
}

std::string ModuleFixture::Dump() const {
  // One connection and one script for the whole dump: the sweeps take one
  // after every run.
  sqlite3* raw = nullptr;
  sqlite3_open_v2(installation_->mainDb().c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close);
  std::string dump;
  auto exec = [&](const std::string& sql) {
    auto append = [](void* out, int count, char** values, char**) {
      auto& text = *static_cast<std::string*>(out);
      for (int i = 0; i < count; ++i) text.append(values[i] ? values[i] : "-").append("|");
      text += "\n";
      return 0;
    };
    if (sqlite3_exec(db.get(), sql.c_str(), append, &dump, nullptr) != SQLITE_OK) {
      throw std::runtime_error(std::string(sqlite3_errmsg(db.get())) + " in: " + sql);
    }
  };
  exec(
      "SELECT group_concat('SELECT ''[' || name || ']''; SELECT * FROM \"' || name || "
      "'\" ORDER BY rowid;', '') FROM sqlite_master WHERE type = 'table'");
  const std::string script = dump.substr(0, dump.size() - 2);  // one value, then "|\n"
  dump.clear();
  exec(script);
  return dump;
}

std::vector<qv::testing::DbOpRecord> ModuleFixture::ExpectAllOrNothing(InsertFn module,
                                                                       const std::string& language,
                                                                       const char* boxSeparator) {
  namespace fs = std::filesystem;
  const fs::path mainDb = installation_->mainDb();
  const fs::path pristine = dir_.path() / "pristine.mdb";
  fs::copy_file(mainDb, pristine, fs::copy_options::overwrite_existing);
  const std::string before = Dump();

  FaultyConnector counter(*connector_);
  EXPECT_TRUE(Run(module, counter, language)) << "the counting run must commit";
  const std::string committed = Dump();
  const int64_t commitAt = counter.PositionOf(DbOp::kCommitTrans);
  EXPECT_GT(commitAt, 0);

  for (int64_t n = 1; n <= counter.count() && !HasFailure(); ++n) {
    fs::copy_file(pristine, mainDb, fs::copy_options::overwrite_existing);
    boxes_.clear();
    FaultyConnector faulty(*connector_, n);
    const bool result = Run(module, faulty, language);
    SCOPED_TRACE(counter.Describe(n));
    EXPECT_TRUE(faulty.injected());
    if (n > commitAt) {
      EXPECT_TRUE(result);
      EXPECT_EQ(Dump(), committed);
      continue;
    }
    EXPECT_FALSE(result);
    EXPECT_EQ(Dump(), before);
    EXPECT_EQ(boxes_.size(), boxSeparator ? 1u : 0u);
    if (n == commitAt && boxSeparator) {
      EXPECT_EQ(boxes_.at(0), std::to_string(FaultyConnector::kInjectedErrorNumber) + boxSeparator +
                                  FaultyConnector::kInjectedErrorDescription);
    }
  }
  return counter.log();
}

}  // namespace qv::sample_data

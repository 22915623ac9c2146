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

Rows ModuleFixture::Query(const std::string& sql) const {
  return qv::testing::Query(installation_->mainDb(), sql);
}

std::string ModuleFixture::Value(const std::string& sql) const {
  return qv::testing::QueryValue(installation_->mainDb(), sql);
}

std::string ModuleFixture::Count(const std::string& table) const {
  return Value("SELECT count(*) FROM " + table);
}

void ModuleFixture::Exec(const std::string& sql) const {
  qv::testing::Exec(installation_->mainDb(), sql);
}

std::string ModuleFixture::Dump() const {
  // One connection for the whole dump: the sweeps take one after every run.
  sqlite3* raw = nullptr;
  const int rc =
      sqlite3_open_v2(installation_->mainDb().c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close);
  if (rc != SQLITE_OK) throw std::runtime_error("cannot open the main database for a dump");
  auto rows = [&](const std::string& sql) {
    sqlite3_stmt* rawStatement = nullptr;
    if (sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &rawStatement, nullptr) != SQLITE_OK) {
      throw std::runtime_error(std::string(sqlite3_errmsg(db.get())) + " in: " + sql);
    }
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(rawStatement, sqlite3_finalize);
    Rows result;
    while (sqlite3_step(statement.get()) == SQLITE_ROW) {
      auto& row = result.emplace_back();
      for (int i = 0; i < sqlite3_column_count(statement.get()); ++i) {
        const unsigned char* text = sqlite3_column_text(statement.get(), i);
        row.emplace_back(text ? reinterpret_cast<const char*>(text) : qv::testing::kNullText);
      }
    }
    return result;
  };
  std::string dump;
  for (const auto& table :
       rows("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")) {
    dump += "[" + table[0] + "]\n";
    for (const auto& row : rows("SELECT * FROM \"" + table[0] + "\" ORDER BY rowid")) {
      for (const std::string& value : row) dump += value + "|";
      dump += "\n";
    }
  }
  return dump;
}

std::vector<qv::testing::DbOpRecord> ModuleFixture::ExpectAllOrNothing(
    InsertFn module, const std::string& language, const std::string& table, const std::string& key,
    int threshold, size_t boxesOnFailure) {
  namespace fs = std::filesystem;
  const fs::path mainDb = installation_->mainDb();
  const fs::path pristine = dir_.path() / "pristine.mdb";
  fs::copy_file(mainDb, pristine, fs::copy_options::overwrite_existing);
  const std::string before = Dump();

  FaultyConnector counter(*connector_);
  EXPECT_TRUE(Run(module, counter, language)) << "the counting run must commit";
  const std::string committed = Dump();
  const int64_t total = counter.count();
  const int64_t commitAt = counter.PositionOf(DbOp::kCommitTrans);
  EXPECT_GT(commitAt, 0);

  for (int64_t n = 1; n <= total && !HasFailure(); ++n) {
    fs::copy_file(pristine, mainDb, fs::copy_options::overwrite_existing);
    boxes_.clear();
    FaultyConnector faulty(*connector_, n);
    const bool result = Run(module, faulty, language);
    const std::string failing = counter.Describe(n);
    EXPECT_TRUE(faulty.injected()) << failing;
    if (n <= commitAt) {
      EXPECT_FALSE(result) << failing;
      EXPECT_EQ(Dump(), before) << failing;
      const std::string max = Value("SELECT Max(" + key + ") FROM " + table);
      EXPECT_TRUE(max == qv::testing::kNullText || std::stoll(max) <= threshold)
          << failing << ": " << table << " holds key " << max;
      EXPECT_EQ(boxes_.size(), boxesOnFailure) << failing;
    } else {
      EXPECT_TRUE(result) << failing;
      EXPECT_EQ(Dump(), committed) << failing;
    }
  }
  return counter.log();
}

}  // namespace qv::sample_data

// The four steps in the order a setup run calls them, on an older
// installation: what the schema and the data look like afterwards, that a
// second run changes nothing, and that no single failure loses a value.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "db/data_source.h"
#include "migration/migration.h"
#include "migration/recording_connector.h"
#include "migration/scratch_sources.h"
#include "migration/step_support.h"
#include "migration/view_definitions.h"
#include "support/faulty_connector.h"
#include "support/installation.h"
#include "support/scoped_temp_dir.h"

namespace qv::migration::testing {
namespace {

using qv::testing::Installation;
using qv::testing::kNullText;

const char kTaskCompleted[] = "The task completed.";

// One base table as read directly from the file: its columns, and its rows
// by rowid, each value as text.
struct TableData {
  std::vector<std::string> columns;
  std::map<std::string, std::map<std::string, std::string>> rows;  // rowid -> column -> value
};

std::map<std::string, TableData> ReadTables(const std::filesystem::path& db) {
  std::map<std::string, TableData> tables;
  for (const auto& name : qv::testing::Query(
           db, "SELECT name FROM sqlite_schema WHERE type = 'table' AND name NOT LIKE 'sqlite%'")) {
    TableData& table = tables[name[0]];
    table.columns = qv::testing::ColumnsOf(db, name[0]);
    std::string select = "SELECT rowid";
    for (const std::string& column : table.columns) select += ", \"" + column + "\"";
    for (const auto& row : qv::testing::Query(db, select + " FROM \"" + name[0] + "\"")) {
      for (std::size_t i = 0; i < table.columns.size(); ++i) {
        table.rows[row[0]][table.columns[i]] = row[i + 1];
      }
    }
  }
  return tables;
}

// Every object's definition, and every row of every table: two equal
// snapshots mean nothing changed.
std::vector<std::vector<std::string>> Snapshot(const std::filesystem::path& db) {
  std::vector<std::vector<std::string>> snapshot =
      qv::testing::Query(db, "SELECT type, name, sql FROM sqlite_schema ORDER BY type, name");
  for (const auto& [name, table] : ReadTables(db)) {
    for (const auto& [rowid, values] : table.rows) {
      std::vector<std::string> row{name, rowid};
      for (const auto& [column, value] : values) row.push_back(column + "=" + value);
      snapshot.push_back(row);
    }
  }
  return snapshot;
}

std::string ColumnLike(const std::vector<std::string>& columns, const std::string& name) {
  for (const std::string& column : columns) {
    if (EqualsIgnoreCase(column, name)) return column;
  }
  return "";
}

// A yes/no value as the new column holds it.
std::string AsYesNo(const std::string& old) {
  if (old == kNullText) return old;
  return old == "0" ? "0" : "1";
}

// Every value of `before` is still in `after`: the old column's value in the
// old column if it is still there, else in its successor; every other column
// unchanged.
void ExpectNoValueLost(const std::map<std::string, TableData>& before,
                       const std::map<std::string, TableData>& after) {
  ASSERT_EQ(before.size(), after.size());
  for (const auto& [name, old] : before) {
    SCOPED_TRACE(name);
    const TableData& now = after.at(name);
    ASSERT_EQ(now.rows.size(), old.rows.size());
    for (const auto& [rowid, values] : old.rows) {
      const auto& current = now.rows.at(rowid);
      for (const auto& [column, value] : values) {
        SCOPED_TRACE(rowid + "." + column);
        if (current.count(column) != 0) {
          EXPECT_EQ(current.at(column), value);
        } else if (EqualsIgnoreCase(column, "Public")) {
          EXPECT_EQ(current.at(ColumnLike(now.columns, "Shared")), value);
        } else if (EqualsIgnoreCase(column, "Confirm")) {
          EXPECT_EQ(current.at(ColumnLike(now.columns, "Confirmation")), AsYesNo(value));
        } else {
          ADD_FAILURE() << "column gone";
        }
      }
    }
  }
}

struct StepResults {
  std::vector<bool> results;
  std::vector<std::string> messages;  // the step message after each step
};

StepResults RunFourSteps(db::Connector& connector) {
  StepResults run;
  std::string message;
  for (auto step : {AlterTables, DropViews, AlterSecurityTable, AlterViews}) {
    run.results.push_back(step(connector, message));
    run.messages.push_back(message);
  }
  return run;
}

class MigrationRunTest : public ::testing::Test {
 protected:
  qv::testing::ScopedTempDir dir_;
  Installation installation_ = Installation::LayOut(dir_.path(), Installation::Kind::kOld);
  std::unique_ptr<db::Connector> connector_ =
      db::MakeDataSourceConnector(installation_.odbcIni().string(), 0);
};

TEST_F(MigrationRunTest, BringsAnOlderInstallationUpToDate) {
  const std::map<std::string, TableData> before = ReadTables(installation_.mainDb());

  StepResults run = RunFourSteps(*connector_);
  EXPECT_EQ(run.results, (std::vector<bool>{true, true, true, true}));
  EXPECT_EQ(run.messages, (std::vector<std::string>(4, kTaskCompleted)));

  const std::map<std::string, TableData> after = ReadTables(installation_.mainDb());
  ExpectNoValueLost(before, after);
  for (const auto& [name, table] : after) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ColumnLike(table.columns, "Public"), "");
    EXPECT_EQ(ColumnLike(table.columns, "Confirm"), "");
    const auto& old = before.at(name).columns;
    EXPECT_EQ(ColumnLike(table.columns, "Shared").empty(),
              ColumnLike(old, "Public").empty() && ColumnLike(old, "Shared").empty());
  }
  EXPECT_EQ(
      qv::testing::QueryValue(
          installation_.mainDb(),
          "SELECT count(*) FROM sqlite_schema WHERE type = 'index' AND name LIKE '%PublicID'"),
      "0");

  std::vector<std::string> views = MainViews(*connector_);
  for (const char* obsolete :
       {"NoticeAnnounce", "WorkTrakerList", "DocumentFoldersListSearch", "DocumentFolderListAdmin",
        "DocumentFolderListAdminPersonal", "DocumentList", "DocumentHistory"}) {
    EXPECT_FALSE(ContainsName(views, obsolete)) << obsolete;
  }
  for (const ViewDefinition& view : kCurrentViews) {
    EXPECT_TRUE(ContainsName(views, view.name)) << view.name;
  }

  // Every user inherits the installation-wide formats.
  EXPECT_EQ(qv::testing::Query(installation_.securityDb(),
                               "SELECT DISTINCT DateFormat, TimeFormat FROM Users"),
            (std::vector<std::vector<std::string>>{{"mm/dd/yyyy", "HH:mm"}}));
}

TEST_F(MigrationRunTest, SecondRunChangesNothing) {
  ASSERT_EQ(RunFourSteps(*connector_).results, (std::vector<bool>{true, true, true, true}));
  const auto main = Snapshot(installation_.mainDb());
  const auto security = Snapshot(installation_.securityDb());

  RecordingConnector recorder(*connector_);
  StepResults again = RunFourSteps(recorder);
  EXPECT_EQ(again.results, (std::vector<bool>{true, true, true, true}));
  EXPECT_EQ(again.messages, (std::vector<std::string>(4, kTaskCompleted)));
  // Nothing but the fifteen views' drop and create.
  std::vector<std::string> expected;
  for (const ViewDefinition& view : kCurrentViews) {
    expected.push_back(view.dropStatement);
    expected.push_back(view.createStatement);
  }
  EXPECT_EQ(recorder.statements(), expected);
  EXPECT_EQ(Snapshot(installation_.mainDb()), main);
  EXPECT_EQ(Snapshot(installation_.securityDb()), security);
}

// Whichever single operation of the table alterations fails, no value is
// lost: a failed step leaves the database as it was, and a step that goes on
// past a failed column routine keeps the old column where the new one did
// not receive its values.
TEST(AlterTablesFaultTest, NoSingleFailureLosesAValue) {
  int64_t operations = 0;
  {
    qv::testing::ScopedTempDir dir;
    Installation installation = Installation::LayOut(dir.path(), Installation::Kind::kOld);
    auto real = db::MakeDataSourceConnector(installation.odbcIni().string(), 0);
    qv::testing::FaultyConnector counter(*real);
    std::string message;
    ASSERT_TRUE(AlterTables(counter, message));
    operations = counter.count();
    // Every table's column list, and the statements and copies of the
    // tables that carry old columns.
    ASSERT_GT(counter.PositionOf(qv::testing::DbOp::kCopyColumn), 0);
  }

  // One installation, its main database put back from a copy before each run.
  qv::testing::ScopedTempDir dir;
  Installation installation = Installation::LayOut(dir.path(), Installation::Kind::kOld);
  const std::filesystem::path pristine = dir.path() / "pristine.mdb";
  std::filesystem::copy_file(installation.mainDb(), pristine);
  const auto snapshot = Snapshot(installation.mainDb());
  const std::map<std::string, TableData> before = ReadTables(installation.mainDb());
  auto real = db::MakeDataSourceConnector(installation.odbcIni().string(), 0);

  for (int64_t n = 1; n <= operations; ++n) {
    std::filesystem::copy_file(pristine, installation.mainDb(),
                               std::filesystem::copy_options::overwrite_existing);
    qv::testing::FaultyConnector faulty(*real, n);
    std::string message;

    bool result = AlterTables(faulty, message);
    SCOPED_TRACE(faulty.Describe(n));
    if (!result) {
      EXPECT_EQ(message, "There was an error occured.\r\nCouldn't complete the task.");
      EXPECT_EQ(Snapshot(installation.mainDb()), snapshot);
    } else {
      EXPECT_EQ(message, kTaskCompleted);
      ExpectNoValueLost(before, ReadTables(installation.mainDb()));
    }
  }
}

}  // namespace
}  // namespace qv::migration::testing

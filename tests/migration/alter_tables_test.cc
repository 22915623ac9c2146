// The table alterations: a hand-built main database with one table per
// situation, then a fault sweep over an older installation.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <sstream>

#include "db/data_sources.h"
#include "db/diagnostics.h"
#include "db/names.h"
#include "migration/migration.h"
#include "migration/migration_harness.h"

namespace qv::migration::testing {
namespace {

const char kTaskCompleted[] = "The task completed.";
const char kTaskFailed[] = "There was an error occured.\r\nCouldn't complete the task.";

// Old yes/no values are stored as the desktop engine stores true: -1.
const char kMainScript[] = R"sql(
CREATE TABLE Company (ID INTEGER PRIMARY KEY, Name TEXT(9), Public LONG, Confirm BIT);
CREATE INDEX Company_PublicID ON Company (Public); INSERT INTO Company VALUES (1, 'A', 1, -1),
  (2, 'B', 0, 0), (3, 'C', NULL, 1), (4, 'D', 2147483647, NULL), (5, 'E', -5, -1);
CREATE TABLE ToDoEvent (ID INTEGER PRIMARY KEY, Public LONG); INSERT INTO ToDoEvent VALUES (1, 3);
CREATE TABLE scheduleevent (ID INTEGER PRIMARY KEY, Public LONG, Confirm BIT);
INSERT INTO scheduleevent VALUES (1, 1, -1);
CREATE TABLE AnnounceEvent (ID INTEGER PRIMARY KEY, Public LONG);
INSERT INTO AnnounceEvent VALUES (1, 7);
CREATE TABLE HalfDone (ID INTEGER PRIMARY KEY, Public LONG, Shared LONG, Confirm BIT);
CREATE INDEX HalfDone_PublicID ON HalfDone (Public); INSERT INTO HalfDone VALUES (1, 5, 6, -1);
CREATE TABLE NewOnly (ID INTEGER PRIMARY KEY, Shared LONG, Confirmation BIT);
INSERT INTO NewOnly VALUES (1, 8, 1);
CREATE TABLE MixedCase (ID INTEGER PRIMARY KEY, PUBLIC LONG, confirm BIT);
CREATE INDEX MixedCase_PublicID ON MixedCase (PUBLIC); INSERT INTO MixedCase VALUES (1, 9, -1);
CREATE TABLE LostIndex (ID INTEGER PRIMARY KEY, Public LONG); INSERT INTO LostIndex VALUES (1, 4);
CREATE TABLE EmptyTable (ID INTEGER PRIMARY KEY, Public LONG, Confirm BIT);
CREATE INDEX EmptyTable_PublicID ON EmptyTable (Public);
CREATE TABLE BadValue (ID INTEGER PRIMARY KEY, Public TEXT(10), Confirm BIT);
CREATE INDEX BadValue_PublicID ON BadValue (Public);
INSERT INTO BadValue VALUES (1, 'abc', -1), (2, '7', 0);
CREATE TABLE TooBig (ID INTEGER PRIMARY KEY, Public INTEGER);
CREATE TABLE ExtraIndex (ID INTEGER PRIMARY KEY, Confirm BIT); INSERT INTO ExtraIndex VALUES (1, -1);
CREATE INDEX ExtraIndex_ByConfirm ON ExtraIndex (Confirm);
CREATE VIEW OldView AS SELECT 1 AS Public, 0 AS Confirm;
)sql";

// A value past LONG's range: the server's integer cannot hold it, so there
// the column is widened first.
std::string TooBigRow(Engine engine) {
  return std::string(engine == Engine::kPostgres ? "ALTER TABLE TooBig ALTER Public TYPE bigint;"
                                                 : "") +
         "INSERT INTO TooBig VALUES (1, 4294967296);";
}

// A name as the engine stores it: the server folds unquoted names to lower case.
std::string Stored(Engine engine, const std::string& name) {
  return engine == Engine::kPostgres ? db::LowerAscii(name) : name;
}

// What reaches the database for table %, one letter each, in order.
Rows Expand(const std::string& table, const std::string& letters) {
  const std::map<char, Rows> texts = {
      {'S', {"ALTER TABLE % ADD COLUMN Shared LONG", "copy %.Public->Shared"}},
      {'I', {"DROP INDEX PublicID ON %"}},
      {'P', {"ALTER TABLE % DROP COLUMN Public"}},
      {'X', {"ALTER TABLE % DROP COLUMN Shared"}},
      {'C', {"ALTER TABLE % ADD COLUMN Confirmation BIT", "copy %.Confirm->Confirmation"}},
      {'K', {"ALTER TABLE % DROP COLUMN Confirm"}}};
  Rows events;
  for (char letter : letters) {
    for (std::string text : texts.at(letter))
      events.push_back(text.replace(text.find('%'), 1, table));
  }
  return events;
}

// The statements naming `table` and its copies ("copy table.From->To"), in order.
Rows EventsOn(const FaultyConnector& log, const std::string& table) {
  Rows events;
  for (const auto& [op, detail] : log.log()) {
    std::istringstream words(op == DbOp::kCopyColumn ? detail.substr(0, detail.find('.')) : detail);
    bool named = false;
    for (std::string word; words >> word;) named = named || word == table;
    if (named && op == DbOp::kExecute) events.push_back(detail);
    if (named && op == DbOp::kCopyColumn) events.push_back("copy " + detail);
  }
  return events;
}

// `diagnosed`: the start of the line on standard error that names the table
// (a table left as it was, or half-migrated), or "" for none.
// clang-format off
const struct { const char* table; const char* events; const char* columns; Rows rows; const char* diagnosed; } kCases[] = {
  {"Company", "SIPCK", "ID|Name|Shared|Confirmation", {"1|A|1|1", "2|B|0|0", "3|C|(null)|1", "4|D|2147483647|(null)", "5|E|-5|1"}, ""},
  {"ToDoEvent", "SP", "ID|Shared", {"1|3"}, ""},                        // exempt: no index to drop,
  {"scheduleevent", "SPCK", "ID|Shared|Confirmation", {"1|1|1"}, ""},   // in any case
  {"AnnounceEvent", "SP", "ID|Shared", {"1|7"}, ""},
  {"HalfDone", "CK", "ID|Public|Shared|Confirmation", {"1|5|6|1"}, ""},  // Public beside Shared stays
  {"NewOnly", "", "ID|Shared|Confirmation", {"1|8|1"}, ""},
  {"MixedCase", "SIPCK", "ID|Shared|Confirmation", {"1|9|1"}, ""},
  {"LostIndex", "SIP", "ID|Shared", {"1|4"}, ""},  // the failed DROP INDEX stops nothing
  {"EmptyTable", "SIPCK", "ID|Shared|Confirmation", {}, ""},
  {"BadValue", "SXCK", "ID|Public|Confirmation", {"1|abc|1", "2|7|0"},  // the values stay
   "table BadValue keeps its column Public, not migrated to Shared: Type mismatch: the value 'abc' in the row where ID = 1"},
  {"TooBig", "SX", "ID|Public", {"1|4294967296"},
   "table TooBig keeps its column Public, not migrated to Shared: Overflow: the value 4294967296 in the row where ID = 1"},
  {"ExtraIndex", "CK", "ID|Confirm|Confirmation", {"1|-1|1"},
   "table ExtraIndex is half-migrated: it has both Confirm and Confirmation, since Confirm could not be dropped ("},
  {"OldView", "", "Public|Confirm", {"1|0"}, ""},  // views are never examined
};
// clang-format on

// What the code under test writes on standard error, while it lives.
class Diagnostics {
 public:
  Diagnostics() : previous_(db::SetDiagnosticStream(&lines_)) {}
  ~Diagnostics() { db::SetDiagnosticStream(previous_); }
  // The lines written since the last call.
  Rows Take() {
    Rows lines;
    std::istringstream in(lines_.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    lines_.str("");
    return lines;
  }

 private:
  std::ostringstream lines_;
  std::ostream* previous_;
};

// The diagnostic lines that name `table`.
Rows Naming(const Rows& lines, const std::string& table) {
  Rows named;
  for (const std::string& line : lines) {
    if (line.find("table " + table + " ") != std::string::npos) named.push_back(line);
  }
  return named;
}

class AlterTablesTest : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    QV_SKIP_UNTESTED_ENGINE(GetParam());
    site_.emplace(Kind::kFresh, GetParam());
    site_->Rebuild(site_->main(), kMainScript);
    site_->Exec(TooBigRow(GetParam()));
  }
  std::optional<Site> site_;
  std::string message_ = kEarlierMessage;
};

TEST_P(AlterTablesTest, MigratesEachTableAsItsColumnsRequire) {
  const Engine engine = GetParam();
  FaultyConnector log(site_->connector());
  Diagnostics diagnostics;
  EXPECT_TRUE(AlterTables(log, message_));
  EXPECT_EQ(message_, kTaskCompleted);
  const Rows lines = diagnostics.Take();
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.table);
    const std::string table = Stored(engine, c.table);
    const Rows named = Naming(lines, table);
    if (*c.diagnosed == 0) {
      EXPECT_EQ(named, Rows{});
    } else {
      // The server names the table and its key as stored: compared folded.
      const std::string diagnosed = Stored(engine, std::string("qvsetup: ") + c.diagnosed);
      EXPECT_EQ(named.size(), 1u) << ::testing::PrintToString(lines);
      for (const std::string& line : named)
        EXPECT_EQ(Stored(engine, line).rfind(diagnosed, 0), 0u) << line;
    }
    EXPECT_EQ(EventsOn(log, table), Expand(table, c.events));
    std::string columns;
    for (const std::string& column : qv::testing::ColumnsOf(site_->main(), table))
      columns += (columns.empty() ? "" : "|") + column;
    EXPECT_EQ(columns, Stored(engine, c.columns));
    EXPECT_EQ(Select(site_->main(), "SELECT * FROM " + table + " ORDER BY 1"), c.rows);
  }
}

TEST_P(AlterTablesTest, ColumnRoutinesReportWhatFailed) {
  auto connection = site_->connector().Open(db::kMainConnectionString, "", "");
  connection->BeginTrans();
  EXPECT_FALSE(DropColumn(*connection, "LostIndex", "Public"));  // no index to drop
  EXPECT_EQ(connection->ColumnNames("LostIndex", "Public"), Rows{});
  EXPECT_TRUE(DropColumn(*connection, "Company", "Public"));
  EXPECT_FALSE(AddColumnCopy(*connection, "BadValue", "Public", "Shared"));
  EXPECT_TRUE(AddColumnCopy(*connection, "BadValue", "Confirm", "Confirmation"));
  connection->RollbackTrans();
  connection->Close();
}

// A failure of the step's own operations rolls everything back with the
// failure text; a failing column routine, commit or close leaves the outcome
// a success. Either way no value is lost.
class AlterTablesFaultTest : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override { QV_SKIP_UNTESTED_ENGINE(GetParam()); }
};

TEST_P(AlterTablesFaultTest, NoSingleFailureLosesAValue) {
  Site site(Kind::kOld, GetParam());
  const Rows untouched = Snapshot(site.main());
  const Rows values = Data(site.main(), true);
  Diagnostics diagnostics;
  Sweep(site, AlterTables, [&](const FaultRun& run) {
    // A failed commit changes neither result nor message, but is named.
    const Rows lines = diagnostics.Take();
    const std::string commitLine =
        std::string(
            "qvsetup: the commit to data source qv_main failed and the step's changes "
            "were not saved: ") +
        FaultyConnector::kInjectedErrorDescription;
    EXPECT_EQ(std::count(lines.begin(), lines.end(), commitLine),
              run.n != 0 && run.op == DbOp::kCommitTrans ? 1 : 0);
    const bool own = run.n != 0 && (run.op == DbOp::kOpen || run.op == DbOp::kBeginTrans ||
                                    run.op == DbOp::kTableNames || run.op == DbOp::kColumnNames);
    EXPECT_EQ(run.result, !own);
    EXPECT_EQ(run.message, own ? kTaskFailed : kTaskCompleted);
    if (own || run.op == DbOp::kCommitTrans) {
      EXPECT_EQ(Snapshot(site.main()), untouched);
    }
    EXPECT_EQ(Data(site.main(), true), values);
  });
}

INSTANTIATE_TEST_SUITE_P(Engines, AlterTablesFaultTest, ::testing::ValuesIn(qv::testing::kEngines),
                         qv::testing::EngineName);
INSTANTIATE_TEST_SUITE_P(Engines, AlterTablesTest, ::testing::ValuesIn(qv::testing::kEngines),
                         qv::testing::EngineName);

}  // namespace
}  // namespace qv::migration::testing

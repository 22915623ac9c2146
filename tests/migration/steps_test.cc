// The four migration steps on both engines: a table or view per situation, a
// fault sweep per step, and the whole run on an older installation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/names.h"
#include "db/create_databases.h"
#include "db/data_sources.h"
#include "db/odbc_ini.h"
#include "migration/migration.h"
#include "support/faulty_connector.h"
#include "support/installation.h"
#include "support/scoped_temp_dir.h"

namespace qv::migration {
namespace {

using Rows = std::vector<std::string>;
using Step = bool (*)(db::Connector&, std::string&);
using qv::testing::DatabaseRef;
using qv::testing::DbOp;
using qv::testing::Engine;
using qv::testing::FaultyConnector;
using Kind = qv::testing::Installation::Kind;

const char kEarlierMessage[] = "left by an earlier step";

// An installation whose connector fails a lock conflict at once: a step
// waiting on a lock of its own fails rather than hangs.
struct Site {
  explicit Site(Kind kind = Kind::kFresh, Engine engine = Engine::kSqlite)
      : installation_(
            qv::testing::Installation::LayOut(dir_.path(), kind, "Artisan's Guild", engine)),
        connector_(db::MakeDataSourceConnector(installation_.odbcIni().string(), 0, said_)) {}
  // Replaces `db` by one built from `script` (translated for the server).
  void Rebuild(const DatabaseRef& db, const std::string& script) {
    qv::testing::CopyDatabase(
        qv::testing::MakeScratchDatabase(db.engine(), dir_.path(), script).ref, db);
  }
  void Exec(const std::string& mainScript) { qv::testing::Exec(main(), mainScript); }
  const DatabaseRef& main() const { return installation_.mainDatabase(); }
  const DatabaseRef& security() const { return installation_.securityDatabase(); }
  db::Connector& connector() { return *connector_; }
  qv::testing::ScopedTempDir dir_;
  qv::testing::Installation installation_;
  qv::testing::CapturedDiagnostics said_;  // what the steps diagnose
  std::unique_ptr<db::Connector> connector_;
};

Rows Select(const DatabaseRef& db, const std::string& sql) {
  Rows rows;
  for (const auto& row : qv::testing::Query(db, sql)) {
    std::string text = row.at(0);
    for (std::size_t i = 1; i < row.size(); ++i) text += "|" + row[i];
    rows.push_back(text);
  }
  return rows;
}

Rows Names(const DatabaseRef& db, bool views) {
  const std::string type = views ? "view" : "table";
  return Select(db,
                (db.engine() == Engine::kPostgres)
                    ? std::string("SELECT table_name FROM information_schema.tables "
                                  "WHERE table_schema = current_schema() AND "
                                  "table_type = '") +
                          (views ? "VIEW" : "BASE TABLE") + "' ORDER BY 1"
                    : "SELECT name FROM sqlite_schema WHERE type = '" + type + "' ORDER BY name");
}

Rows Statements(const FaultyConnector& log) {
  Rows statements;
  for (const auto& record : log.log())
    if (record.op == DbOp::kExecute) statements.push_back(record.detail);
  return statements;
}

// Every row as "table|column=value|..." (lower case, sorted). `asMigrated`:
// Public and Confirm read as Shared and Confirmation (yes/no as 0 or 1), and
// are left out beside those: equal before and after, no value was lost.
Rows Data(const DatabaseRef& db, bool asMigrated = false) {
  Rows data;
  for (const std::string& table : Names(db, false)) {
    Rows columns = qv::testing::ColumnsOf(db, table);
    for (std::string& c : columns) c = LowerAscii(c);
    Rows rows;
    for (const auto& row : qv::testing::Query(db, "SELECT * FROM \"" + table + "\"")) {
      std::map<std::string, std::string> values;
      for (std::size_t i = 0; i < columns.size(); ++i) {
        std::string column = columns[i], value = row[i];
        if (asMigrated && column == "public") {
          if (std::count(columns.begin(), columns.end(), "shared")) continue;
          column = "shared";
        } else if (asMigrated && column == "confirm") {
          if (std::count(columns.begin(), columns.end(), "confirmation")) continue;
          column = "confirmation";
          if (value != qv::testing::kNullText) value = value == "0" ? "0" : "1";
        }
        values[column] = value;
      }
      std::string text = LowerAscii(table);
      for (const auto& [column, value] : values) text += "|" + column + "=" + value;
      rows.push_back(text);
    }
    std::sort(rows.begin(), rows.end());
    data.insert(data.end(), rows.begin(), rows.end());
  }
  return data;
}

// Every object's definition, then Data: equal snapshots, nothing changed.
Rows Snapshot(const DatabaseRef& db) {
  Rows snapshot = Select(
      db, (db.engine() == Engine::kPostgres)
              ? "SELECT 'column', table_name || '.' || column_name, coalesce(domain_name, "
                "data_type) || ' ' || coalesce(column_default, '') FROM information_schema.columns "
                "WHERE table_schema = current_schema() UNION ALL SELECT 'view', viewname, "
                "definition FROM pg_views WHERE schemaname = current_schema() UNION ALL SELECT "
                "'index', indexname, indexdef FROM pg_indexes WHERE schemaname = current_schema() "
                "ORDER BY 1, 2"
              : "SELECT type, name, sql FROM sqlite_schema ORDER BY type, name");
  for (const std::string& row : Data(db)) snapshot.push_back(row);
  return snapshot;
}

struct FaultRun {
  int64_t n;  // the failing operation from 1; 0: no fault
  DbOp op;
  bool result;
  std::string message;
  const FaultyConnector& log;
};

// Runs `step` without a fault, then with each operation of that run failing,
// every run on `db` as it was before the sweep.
void Sweep(Site& site, const DatabaseRef& db, Step step,
           const std::function<void(const FaultRun&)>& check) {
  const DatabaseRef pristine = (db.engine() == Engine::kPostgres)
                                   ? DatabaseRef::OnServer(db.server(), db.name() + "pristine")
                                   : DatabaseRef(db.file().string() + ".pristine");
  qv::testing::CopyDatabase(db, pristine);
  for (int64_t n = 0, operations = 0; n <= operations; ++n) {
    if (n > 0) qv::testing::CopyDatabase(pristine, db);
    FaultyConnector faulty(site.connector(), n);
    std::string message = kEarlierMessage;
    const bool result = step(faulty, message);
    if (n == 0) operations = faulty.count();
    SCOPED_TRACE(n == 0 ? "no fault" : faulty.Describe(n));
    check({n, n == 0 ? DbOp::kOpen : faulty.log()[n - 1].op, result, message, faulty});
  }
  if (db.engine() == Engine::kPostgres) db::DropServerDatabases(db.server(), {pristine.name()});
}

class EngineTest : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override { QV_SKIP_UNTESTED_ENGINE(GetParam()); }
};

const char kTaskCompleted[] = "The task completed.";

// A name as the engine stores it: the server folds unquoted names to lower case.
std::string Stored(Engine engine, const std::string& name) {
  return engine == Engine::kPostgres ? LowerAscii(name) : name;
}

// Old yes/no values are stored as the desktop engine stores true: -1.
const char kMainScript[] = R"sql(
CREATE TABLE Company (ID INTEGER PRIMARY KEY, Name TEXT(9), Public LONG, Confirm BIT);
CREATE INDEX Company_PublicID ON Company (Public); INSERT INTO Company VALUES (1, 'A', 1, -1),
  (2, 'B', 0, 0), (3, 'C', NULL, 1), (4, 'D', 2147483647, NULL), (5, 'E', -5, -1);
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
CREATE TABLE TextNumbers (ID INTEGER PRIMARY KEY, Public TEXT(10));
INSERT INTO TextNumbers VALUES (1, '7'), (2, ' -3'), (3, NULL);
CREATE TABLE TooBig (ID INTEGER PRIMARY KEY, Public INTEGER);
CREATE TABLE ExtraIndex (ID INTEGER PRIMARY KEY, Confirm BIT); INSERT INTO ExtraIndex VALUES (1, -1);
CREATE INDEX ExtraIndex_ByConfirm ON ExtraIndex (Confirm);
CREATE VIEW OldView AS SELECT 1 AS Public, 0 AS Confirm;
)sql";

// `diagnosed`: the start of the one stderr line naming the table, or "".
// clang-format off
const struct { const char* table; const char* columns; Rows rows; const char* diagnosed; } kTables[] = {
  {"Company", "ID|Name|Shared|Confirmation", {"1|A|1|1", "2|B|0|0", "3|C|(null)|1", "4|D|2147483647|(null)", "5|E|-5|1"}, ""},
  {"HalfDone", "ID|Public|Shared|Confirmation", {"1|5|6|1"}, ""},  // Public beside Shared stays
  {"NewOnly", "ID|Shared|Confirmation", {"1|8|1"}, ""},
  {"MixedCase", "ID|Shared|Confirmation", {"1|9|1"}, ""},
  {"LostIndex", "ID|Shared", {"1|4"}, ""},  // the failed DROP INDEX stops nothing
  {"EmptyTable", "ID|Shared|Confirmation", {}, ""},
  {"BadValue", "ID|Public|Confirmation", {"1|abc|1", "2|7|0"},  // the values stay
   "table BadValue keeps its column Public, not migrated to Shared: Type mismatch: the value 'abc' in the row where ID = 1"},
  {"TextNumbers", "ID|Shared", {"1|7", "2|-3", "3|(null)"}, ""},  // converted row by row
  {"TooBig", "ID|Public", {"1|4294967296"},
   "table TooBig keeps its column Public, not migrated to Shared: Overflow: the value 4294967296 in the row where ID = 1"},
  {"ExtraIndex", "ID|Confirm|Confirmation", {"1|-1|1"},
   "table ExtraIndex is half-migrated: it has both Confirm and Confirmation, since Confirm could not be dropped ("},
  {"OldView", "Public|Confirm", {"1|0"}, ""},  // views are never examined
};
// clang-format on

using AlterTablesTest = EngineTest;

TEST_P(AlterTablesTest, MigratesEachTableAsItsColumnsRequire) {
  const Engine engine = GetParam();
  Site site(Kind::kFresh, engine);
  site.Rebuild(site.main(), kMainScript);
  // A value past LONG's range: the server's integer cannot hold it, so there
  // the column is widened first.
  site.Exec(std::string(engine == Engine::kPostgres ? "ALTER TABLE TooBig ALTER Public TYPE bigint;"
                                                    : "") +
            "INSERT INTO TooBig VALUES (1, 4294967296);");
  FaultyConnector log(site.connector());
  std::string message = kEarlierMessage;
  EXPECT_TRUE(AlterTables(log, message));
  EXPECT_EQ(message, kTaskCompleted);
  const Rows lines = site.said_.Take();
  for (const auto& c : kTables) {
    SCOPED_TRACE(c.table);
    const std::string table = Stored(engine, c.table);
    // Compared folded: the server names the table and its key as stored.
    const std::string expected =
        *c.diagnosed ? Stored(engine, "qvsetup: " + std::string(c.diagnosed)) : "";
    Rows named;
    for (const std::string& line : lines) {
      if (line.find("table " + table + " ") != std::string::npos)
        named.push_back(Stored(engine, line).substr(0, expected.size()));
    }
    EXPECT_EQ(named, *c.diagnosed ? Rows{expected} : Rows{});
    std::string columns;
    for (const std::string& column : qv::testing::ColumnsOf(site.main(), table))
      columns += (columns.empty() ? "" : "|") + column;
    EXPECT_EQ(columns, Stored(engine, c.columns));
    EXPECT_EQ(Select(site.main(), "SELECT * FROM " + table + " ORDER BY 1"), c.rows);
  }
  // The column routines on their own: true only when none of their statements failed.
  auto connection = site.connector().Open(db::kMainConnectionString, "", "");
  EXPECT_TRUE(AddColumnCopy(*connection, "HalfDone", "Public", "Copied"));
  EXPECT_TRUE(DropColumn(*connection, "HalfDone", "Public"));
  EXPECT_FALSE(DropColumn(*connection, "HalfDone", "Public"));  // its index and itself are gone
  EXPECT_EQ(Select(site.main(), "SELECT ID, Copied FROM HalfDone"), Rows{"1|5"});
}

// A failure of an op in `ops` fails the step (`listedFail`), or is the only
// kind it ignores. A failed step or refused commit leaves the database as it
// was; `allOrNothing`: an ignored failure leaves what the run without a fault
// does. `statements`: tried in every run past the first one's position.
struct SweepCase {
  const char* name;
  Step step;
  Kind kind;
  const char* prep;
  bool security;
  const char* completed;
  const char* failed;
  bool listedFail;
  std::vector<DbOp> ops;
  bool allOrNothing;
  size_t statements;
  const char* probe;
  Rows probed;
};
void PrintTo(const SweepCase& c, std::ostream* os) {
  *os << c.name;
}
// clang-format off
const SweepCase kSweeps[] = {
    {"AlterTables", AlterTables, Kind::kOld, "", false, kTaskCompleted,
     "There was an error occured.\r\nCouldn't complete the task.", true,
     {DbOp::kOpen, DbOp::kBeginTrans, DbOp::kTableNames, DbOp::kColumnNames}, false, 0, "", {}},
    // Without installation-wide formats every user gets the defaults.
    {"AlterSecurityTable", AlterSecurityTable, Kind::kOld, "DELETE FROM GlobalPref", true,
     kEarlierMessage,
     "There was an error occured.\r\nduring setup security table. Couldn't complete the task.",
     false, {DbOp::kCloseRecordset, DbOp::kCommitTrans, DbOp::kCloseConnection}, true, 4,
     "SELECT DISTINCT DateFormat, TimeFormat FROM Users", {"yyyy/mm/dd|hh:mm tt"}},
    {"AlterViews", AlterViews, Kind::kFresh,
     "DROP VIEW ForumListAdmin; CREATE VIEW ForumListAdmin AS SELECT 1 AS Marker;", false,
     kEarlierMessage, "An error occured while creating a view", false,
     {DbOp::kCommitTrans, DbOp::kCloseConnection}, true, 30, "", {}},
};
// clang-format on

class SweepTest : public ::testing::TestWithParam<std::tuple<SweepCase, Engine>> {
 protected:
  void SetUp() override { QV_SKIP_UNTESTED_ENGINE(std::get<1>(GetParam())); }
};

TEST_P(SweepTest, NoSingleFailureLosesAValueOrLeavesHalfAStep) {
  const auto& [c, engine] = GetParam();
  Site site(c.kind, engine);
  const DatabaseRef& db = c.security ? site.security() : site.main();
  if (*c.prep) qv::testing::Exec(db, c.prep);
  const Rows untouched = Snapshot(db);
  const Rows values = Data(site.main(), true);
  const std::string commitLine = std::string("qvsetup: the commit to data source ") +
                                 (c.security ? "qv_security" : "qv_main") +
                                 " failed and the step's changes were not saved: " +
                                 FaultyConnector::kInjectedErrorDescription;
  Rows done;
  int64_t firstStatement = 0;
  Sweep(site, db, c.step, [&](const FaultRun& run) {
    const bool listed = std::find(c.ops.begin(), c.ops.end(), run.op) != c.ops.end();
    const bool ok = run.n == 0 || listed != c.listedFail;
    const bool refusedCommit = run.n != 0 && run.op == DbOp::kCommitTrans;
    EXPECT_EQ(run.result, ok);
    EXPECT_EQ(run.message, ok ? c.completed : c.failed);
    const Rows lines = site.said_.Take();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), commitLine), refusedCommit ? 1 : 0);
    // Values alone where a failing column routine leaves its table half done.
    if (run.n == 0 || !ok || refusedCommit || c.allOrNothing) {
      const Rows now = Snapshot(db);
      if (run.n == 0) {
        done = now;
        firstStatement = run.log.PositionOf(DbOp::kExecute);
        EXPECT_EQ(*c.probe ? Select(db, c.probe) : Rows{}, c.probed);
      } else {
        EXPECT_EQ(now, ok && !refusedCommit ? done : untouched);
      }
    }
    if (ok && !c.allOrNothing) {
      EXPECT_EQ(Data(site.main(), true), values);
    }
    if (c.statements) {
      EXPECT_EQ(Statements(run.log).size(),
                run.n != 0 && run.n < firstStatement ? 0u : c.statements);
    }
  });
  EXPECT_NE(done, untouched);
}

INSTANTIATE_TEST_SUITE_P(Steps, SweepTest,
                         ::testing::Combine(::testing::ValuesIn(kSweeps),
                                            ::testing::ValuesIn(qv::testing::kEngines)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  qv::testing::EngineName({std::get<1>(info.param), 0});
                         });

Rows RunFourSteps(db::Connector& connector) {
  Rows messages;
  std::string message;
  for (Step step : {AlterTables, DropViews, AlterSecurityTable, AlterViews}) {
    const bool result = step(connector, message);
    messages.push_back((result ? "" : "failed: ") + message);
  }
  return messages;
}

using MigrationRunTest = EngineTest;

TEST_P(MigrationRunTest, BringsAnOlderInstallationUpToDateAndASecondRunChangesNothing) {
  const Engine engine = GetParam();
  Site site(Kind::kOld, engine);
  // Views not the steps' to drop or re-create, named like obsolete ones.
  site.Exec("CREATE VIEW WorkTrackerList AS SELECT 1 AS A;");
  site.Exec("CREATE VIEW DocumentFolderList AS SELECT 1 AS A;");
  const Rows values = Data(site.main(), true);
  const Rows allCompleted(4, kTaskCompleted);
  EXPECT_EQ(RunFourSteps(site.connector()), allCompleted);
  EXPECT_EQ(Data(site.main(), true), values);
  for (const std::string& table : Names(site.main(), false)) {
    for (const std::string& column : qv::testing::ColumnsOf(site.main(), table))
      EXPECT_FALSE(EqualsNoCase(column, "Public") || EqualsNoCase(column, "Confirm"))
          << table << "." << column;
  }
  for (const std::string& object : Snapshot(site.main()))  // the PublicID indexes are gone
    EXPECT_EQ(LowerAscii(object).find("publicid"), std::string::npos) << object;
  // The current views (the old ProjectList lacks CreateDate), and no others.
  Rows views = Names(Site(Kind::kFresh, engine).main(), true);
  views.push_back(Stored(engine, "WorkTrackerList"));
  views.push_back(Stored(engine, "DocumentFolderList"));
  std::sort(views.begin(), views.end());
  EXPECT_EQ(Names(site.main(), true), views);
  EXPECT_EQ(qv::testing::ColumnsOf(site.main(), Stored(engine, "ProjectList")).size(), 15u);
  auto connection = site.connector().Open(db::kMainConnectionString, "", "");
  for (const std::string& view : views)
    EXPECT_NO_THROW(connection->Execute("SELECT * FROM " + view)->Close()) << view;
  connection->Close();
  EXPECT_EQ(Select(site.security(), "SELECT DISTINCT DateFormat, TimeFormat FROM Users"),
            Rows{"mm/dd/yyyy|HH:mm"});  // every user has the installation's formats

  const Rows main = Snapshot(site.main());
  const Rows security = Snapshot(site.security());
  FaultyConnector log(site.connector());
  EXPECT_EQ(RunFourSteps(log), allCompleted);
  EXPECT_EQ(Snapshot(site.main()), main);
  EXPECT_EQ(Snapshot(site.security()), security);
  // Only the views go and come again, dropped as the step spells them.
  const Rows statements = Statements(log);
  ASSERT_EQ(statements.size(), 30u);
  EXPECT_EQ(statements[4] + " / " + statements[5].substr(0, 32),
            "DROP TABLE ScheduleOwnerShip / CREATE VIEW ScheduleOwnership AS");
}

QV_ON_BOTH_ENGINES(AlterTablesTest);
QV_ON_BOTH_ENGINES(MigrationRunTest);

}  // namespace
}  // namespace qv::migration

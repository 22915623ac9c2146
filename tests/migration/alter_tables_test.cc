// The table alterations on small hand-built main databases: values copied,
// old columns and their indexes gone, the tables that are left alone, and
// the step's outcome when its own operations or a column routine fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "db/data_sources.h"
#include "migration/migration.h"
#include "migration/recording_connector.h"
#include "migration/scratch_sources.h"

namespace qv::migration::testing {
namespace {

using Rows = std::vector<std::string>;

const char kTaskCompleted[] = "The task completed.";
const char kTaskFailed[] = "There was an error occured.\r\nCouldn't complete the task.";

// One table per situation. Old yes/no values are stored as the desktop
// engine stores true: -1.
const char kMainScript[] = R"sql(
CREATE TABLE Company (CompanyID INTEGER PRIMARY KEY AUTOINCREMENT, CompanyName TEXT(50),
                      Public LONG, Confirm BIT);
CREATE INDEX Company_PublicID ON Company (Public);
INSERT INTO Company (CompanyName, Public, Confirm) VALUES
  ('A', 1, -1), ('B', 0, 0), ('C', NULL, 1), ('D', 2147483647, 0), ('E', -5, -1);

CREATE TABLE Resource (ResourceID INTEGER PRIMARY KEY, Public LONG);
CREATE INDEX PublicID ON Resource (Public);
INSERT INTO Resource VALUES (1, 3);

CREATE TABLE ToDoEvent (EventID INTEGER PRIMARY KEY AUTOINCREMENT, Title TEXT(50), Public LONG);
INSERT INTO ToDoEvent (Title, Public) VALUES ('t1', 3), ('t2', 0);
CREATE TABLE scheduleevent (EventID INTEGER PRIMARY KEY, Public LONG, Confirm BIT);
INSERT INTO scheduleevent VALUES (1, 1, -1);
CREATE TABLE AnnounceEvent (EventID INTEGER PRIMARY KEY, Public LONG);
INSERT INTO AnnounceEvent VALUES (1, 0);

CREATE TABLE BothColumns (ID INTEGER PRIMARY KEY, Public LONG, Shared LONG,
                          Confirm BIT, Confirmation BIT);
CREATE INDEX BothColumns_PublicID ON BothColumns (Public);
INSERT INTO BothColumns VALUES (1, 5, 6, 1, 0);
CREATE TABLE NewOnly (ID INTEGER PRIMARY KEY, Shared LONG, Confirmation BIT);
INSERT INTO NewOnly VALUES (1, 8, 1);

CREATE TABLE MixedCase (ID INTEGER PRIMARY KEY, PUBLIC LONG, confirm BIT);
CREATE INDEX MixedCase_PublicID ON MixedCase (PUBLIC);
INSERT INTO MixedCase VALUES (1, 9, -1), (2, 10, 0);

CREATE TABLE LostIndex (ID INTEGER PRIMARY KEY, Public LONG);
INSERT INTO LostIndex VALUES (1, 4);

CREATE TABLE EmptyTable (ID INTEGER PRIMARY KEY, Public LONG, Confirm BIT);
CREATE INDEX EmptyTable_PublicID ON EmptyTable (Public);

CREATE TABLE BadValue (ID INTEGER PRIMARY KEY, Public TEXT(10), Confirm BIT);
CREATE INDEX BadValue_PublicID ON BadValue (Public);
INSERT INTO BadValue VALUES (1, 'abc', -1), (2, '7', 0);

CREATE VIEW OldView AS SELECT 1 AS Public, 0 AS Confirm;
)sql";

const char kSecurityScript[] = "CREATE TABLE Users (UserID INTEGER PRIMARY KEY);";

class AlterTablesTest : public ::testing::Test {
 protected:
  Rows Table(const std::string& table, const std::vector<std::string>& columns) {
    return MainSelect(sources_.connector(), table, columns, columns.front());
  }
  std::vector<std::string> ColumnsOf(const std::string& table) {
    return MainColumns(sources_.connector(), table);
  }
  // The statements that named `table`, in the order they were sent.
  Rows StatementsOn(const std::string& table) {
    Rows result;
    for (const std::string& s : recorder_.statements()) {
      const std::string tail = " " + table;
      if (s.find(tail + " ") != std::string::npos ||
          s.compare(s.size() - std::min(s.size(), tail.size()), tail.size(), tail) == 0) {
        result.push_back(s);
      }
    }
    return result;
  }

  ScratchSources sources_{kMainScript, kSecurityScript};
  RecordingConnector recorder_{sources_.connector()};
  std::string message_ = "left by an earlier step";
};

TEST_F(AlterTablesTest, ReplacesOldColumnsAndKeepsEveryValue) {
  EXPECT_TRUE(AlterTables(recorder_, message_));
  EXPECT_EQ(message_, kTaskCompleted);

  std::vector<std::string> columns = ColumnsOf("Company");
  EXPECT_FALSE(ContainsName(columns, "Public"));
  EXPECT_FALSE(ContainsName(columns, "Confirm"));
  EXPECT_EQ(Table("Company", {"CompanyID", "CompanyName", "Shared", "Confirmation"}),
            (Rows{"1|'A'|1|1", "2|'B'|0|0", "3|'C'|null|1", "4|'D'|2147483647|0", "5|'E'|-5|1"}));
  EXPECT_EQ(Table("Resource", {"ResourceID", "Shared"}), (Rows{"1|3"}));
  EXPECT_FALSE(ContainsName(ColumnsOf("Resource"), "Public"));
}

TEST_F(AlterTablesTest, SendsStatementsPairByPairWithIndexBeforeColumn) {
  ASSERT_TRUE(AlterTables(recorder_, message_));

  EXPECT_EQ(StatementsOn("Company"),
            (Rows{"ALTER TABLE Company ADD COLUMN Shared LONG", "DROP INDEX PublicID ON Company",
                  "ALTER TABLE Company DROP COLUMN Public",
                  "ALTER TABLE Company ADD COLUMN Confirmation BIT",
                  "ALTER TABLE Company DROP COLUMN Confirm"}));
  // The copy of each pair runs between its ADD and its DROP.
  const std::vector<std::string>& events = recorder_.events();
  auto at = [&](const std::string& event) {
    return std::find(events.begin(), events.end(), event) - events.begin();
  };
  EXPECT_LT(at("1: ALTER TABLE Company ADD COLUMN Shared LONG"),
            at("1: CopyColumn(Company, Public, Shared)"));
  EXPECT_LT(at("1: CopyColumn(Company, Public, Shared)"), at("1: DROP INDEX PublicID ON Company"));
  EXPECT_LT(at("1: CopyColumn(Company, Confirm, Confirmation)"),
            at("1: ALTER TABLE Company DROP COLUMN Confirm"));
  EXPECT_EQ(recorder_.opens(), 1);
}

TEST_F(AlterTablesTest, ExemptTablesLoseTheirColumnWithoutDropIndex) {
  ASSERT_TRUE(AlterTables(recorder_, message_));

  for (const char* table : {"ToDoEvent", "scheduleevent", "AnnounceEvent"}) {
    SCOPED_TRACE(table);
    for (const std::string& statement : recorder_.statements()) {
      EXPECT_NE(statement, "DROP INDEX PublicID ON " + std::string(table));
    }
    EXPECT_FALSE(ContainsName(ColumnsOf(table), "Public"));
  }
  EXPECT_EQ(Table("ToDoEvent", {"EventID", "Title", "Shared"}), (Rows{"1|'t1'|3", "2|'t2'|0"}));
  EXPECT_EQ(Table("scheduleevent", {"EventID", "Shared", "Confirmation"}), (Rows{"1|1|1"}));
}

TEST_F(AlterTablesTest, LeavesTablesThatHaveTheNewColumnsAlone) {
  ASSERT_TRUE(AlterTables(recorder_, message_));

  EXPECT_TRUE(StatementsOn("BothColumns").empty());
  EXPECT_TRUE(StatementsOn("NewOnly").empty());
  EXPECT_EQ(Table("BothColumns", {"ID", "Public", "Shared", "Confirm", "Confirmation"}),
            (Rows{"1|5|6|1|0"}));
  EXPECT_EQ(Table("NewOnly", {"ID", "Shared", "Confirmation"}), (Rows{"1|8|1"}));
}

TEST_F(AlterTablesTest, OldColumnsDifferingInCaseAreMigratedUnderTheUsualNames) {
  ASSERT_TRUE(AlterTables(recorder_, message_));

  EXPECT_EQ(StatementsOn("MixedCase"),
            (Rows{"ALTER TABLE MixedCase ADD COLUMN Shared LONG",
                  "DROP INDEX PublicID ON MixedCase", "ALTER TABLE MixedCase DROP COLUMN Public",
                  "ALTER TABLE MixedCase ADD COLUMN Confirmation BIT",
                  "ALTER TABLE MixedCase DROP COLUMN Confirm"}));
  std::vector<std::string> columns = ColumnsOf("MixedCase");
  EXPECT_FALSE(ContainsName(columns, "Public"));
  EXPECT_FALSE(ContainsName(columns, "Confirm"));
  EXPECT_EQ(Table("MixedCase", {"ID", "Shared", "Confirmation"}), (Rows{"1|9|1", "2|10|0"}));
}

TEST_F(AlterTablesTest, MissingPublicIndexStillDropsTheColumnAndTheStepSucceeds) {
  EXPECT_TRUE(AlterTables(recorder_, message_));
  EXPECT_EQ(message_, kTaskCompleted);
  EXPECT_EQ(StatementsOn("LostIndex"),
            (Rows{"ALTER TABLE LostIndex ADD COLUMN Shared LONG",
                  "DROP INDEX PublicID ON LostIndex", "ALTER TABLE LostIndex DROP COLUMN Public"}));
  EXPECT_FALSE(ContainsName(ColumnsOf("LostIndex"), "Public"));
  EXPECT_EQ(Table("LostIndex", {"ID", "Shared"}), (Rows{"1|4"}));
}

TEST_F(AlterTablesTest, EmptyTableGetsTheNewColumnsAndLosesTheOldOnes) {
  ASSERT_TRUE(AlterTables(recorder_, message_));

  std::vector<std::string> columns = ColumnsOf("EmptyTable");
  EXPECT_TRUE(ContainsName(columns, "Shared"));
  EXPECT_TRUE(ContainsName(columns, "Confirmation"));
  EXPECT_FALSE(ContainsName(columns, "Public"));
  EXPECT_FALSE(ContainsName(columns, "Confirm"));
  EXPECT_TRUE(Table("EmptyTable", {"ID"}).empty());
}

TEST_F(AlterTablesTest, ValueThatCannotConvertKeepsTheOldColumnWithItsValues) {
  EXPECT_TRUE(AlterTables(recorder_, message_));
  EXPECT_EQ(message_, kTaskCompleted);

  // The Public pair is left as it was, so that a later run can migrate it
  // once the value is fixed; the Confirm pair of the same table migrates.
  std::vector<std::string> columns = ColumnsOf("BadValue");
  EXPECT_TRUE(ContainsName(columns, "Public"));
  EXPECT_FALSE(ContainsName(columns, "Shared"));
  EXPECT_FALSE(ContainsName(columns, "Confirm"));
  EXPECT_EQ(Table("BadValue", {"ID", "Public", "Confirmation"}), (Rows{"1|'abc'|1", "2|'7'|0"}));
  for (const std::string& statement : recorder_.statements()) {
    EXPECT_NE(statement, "ALTER TABLE BadValue DROP COLUMN Public");
  }
  // Every other table was still migrated.
  EXPECT_FALSE(ContainsName(ColumnsOf("Company"), "Public"));

  // Fixed, the value migrates on the next run.
  RunStatement(sources_.connector(), db::kMainConnectionString,
               "UPDATE BadValue SET Public = '1' WHERE ID = 1");
  EXPECT_TRUE(AlterTables(sources_.connector(), message_));
  EXPECT_FALSE(ContainsName(ColumnsOf("BadValue"), "Public"));
  EXPECT_EQ(Table("BadValue", {"ID", "Shared"}), (Rows{"1|1", "2|7"}));
}

TEST_F(AlterTablesTest, ViewsAreNeverExamined) {
  ASSERT_TRUE(AlterTables(recorder_, message_));

  for (const std::string& event : recorder_.events()) {
    EXPECT_EQ(event.find("OldView"), std::string::npos) << event;
  }
  EXPECT_TRUE(ContainsName(MainViews(sources_.connector()), "OldView"));
}

TEST_F(AlterTablesTest, SecondRunSendsNoStatementAndSucceeds) {
  ASSERT_TRUE(AlterTables(sources_.connector(), message_));
  Rows company = Table("Company", {"CompanyID", "CompanyName", "Shared", "Confirmation"});
  Rows badValue = Table("BadValue", {"ID", "Public", "Confirmation"});

  message_ = "left by an earlier step";
  EXPECT_TRUE(AlterTables(recorder_, message_));
  EXPECT_EQ(message_, kTaskCompleted);
  // Only the table whose value cannot convert is tried again, and left as it was.
  for (const std::string& statement : recorder_.statements()) {
    EXPECT_NE(statement.find("BadValue"), std::string::npos) << statement;
  }
  EXPECT_EQ(Table("Company", {"CompanyID", "CompanyName", "Shared", "Confirmation"}), company);
  EXPECT_EQ(Table("BadValue", {"ID", "Public", "Confirmation"}), badValue);
}

TEST_F(AlterTablesTest, FailedColumnRoutineLeavesTheOutcomeAlone) {
  recorder_.FailStatement("ALTER TABLE Company DROP COLUMN Confirm");

  EXPECT_TRUE(AlterTables(recorder_, message_));
  EXPECT_EQ(message_, kTaskCompleted);
  std::vector<std::string> columns = ColumnsOf("Company");
  EXPECT_TRUE(ContainsName(columns, "Confirm"));
  EXPECT_TRUE(ContainsName(columns, "Confirmation"));
  EXPECT_FALSE(ContainsName(columns, "Public"));
}

// The step's own operations: each failure ends the step with its failure
// text and leaves the database exactly as it was.
class AlterTablesFailureTest : public AlterTablesTest {
 protected:
  void ExpectFailedAndUntouched() {
    EXPECT_FALSE(AlterTables(recorder_, message_));
    EXPECT_EQ(message_, kTaskFailed);
    for (const char* table : {"Company", "ToDoEvent", "MixedCase", "EmptyTable"}) {
      SCOPED_TRACE(table);
      std::vector<std::string> columns = ColumnsOf(table);
      EXPECT_TRUE(ContainsName(columns, "Public"));
      EXPECT_FALSE(ContainsName(columns, "Shared"));
    }
    EXPECT_EQ(Table("Company", {"CompanyID", "Public", "Confirm"}),
              (Rows{"1|1|-1", "2|0|0", "3|null|1", "4|2147483647|0", "5|-5|-1"}));
  }
};

TEST_F(AlterTablesFailureTest, UnreadableColumnListRollsEverythingBack) {
  // Whatever the engine's order of tables, some were altered before this one
  // or are left after it; neither may stay altered.
  recorder_.FailColumnNames("LostIndex");
  ExpectFailedAndUntouched();
}

TEST_F(AlterTablesFailureTest, UnreadableTableListFails) {
  recorder_.FailTableNames(db::TableKind::kTable);
  ExpectFailedAndUntouched();
  EXPECT_TRUE(recorder_.statements().empty());
}

TEST_F(AlterTablesFailureTest, TransactionThatCannotBeginDoesNoWork) {
  recorder_.FailBeginTrans();
  ExpectFailedAndUntouched();
  EXPECT_TRUE(recorder_.statements().empty());
}

// The column routines on their own, inside a transaction of the test.
class ColumnRoutinesTest : public AlterTablesTest {
 protected:
  void SetUp() override {
    connection_ = sources_.connector().Open(db::kMainConnectionString, "", "");
    connection_->BeginTrans();
  }
  void TearDown() override {
    connection_->RollbackTrans();
    connection_->Close();
  }
  std::unique_ptr<db::Connection> connection_;
};

TEST_F(ColumnRoutinesTest, DropColumnReportsMissingIndexButDropsTheColumn) {
  EXPECT_FALSE(DropColumn(*connection_, "LostIndex", "Public"));
  EXPECT_FALSE(ContainsName(connection_->ColumnNames("LostIndex"), "Public"));
}

TEST_F(ColumnRoutinesTest, DropColumnSucceedsWithIndexOrOnExemptTable) {
  EXPECT_TRUE(DropColumn(*connection_, "Company", "Public"));
  EXPECT_TRUE(DropColumn(*connection_, "ToDoEvent", "Public"));
  EXPECT_TRUE(DropColumn(*connection_, "Company", "Confirm"));
  EXPECT_EQ(connection_->ColumnNames("Company").size(), 2u);
}

TEST_F(ColumnRoutinesTest, AddColumnCopyReportsAFailedConversion) {
  EXPECT_FALSE(AddColumnCopy(*connection_, "BadValue", "Public", "Shared"));
  EXPECT_TRUE(AddColumnCopy(*connection_, "BadValue", "Confirm", "Confirmation"));
}

}  // namespace
}  // namespace qv::migration::testing

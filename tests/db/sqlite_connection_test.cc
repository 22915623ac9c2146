#include <gtest/gtest.h>
#include <sqlite3.h>

#include "db_test_util.h"

namespace qv::db {
namespace {

using qv::db::testing::ExpectDbError;
using qv::db::testing::TestDb;

const char kSchema[] = R"(
  CREATE TABLE Event (EventID INTEGER PRIMARY KEY AUTOINCREMENT, Title TEXT(50), Public LONG,
                      Confirm BIT, Visible SMALLINT DEFAULT 1);
  CREATE INDEX Event_PublicID ON Event (Public);
  CREATE TABLE Other (OtherID INTEGER PRIMARY KEY);
  INSERT INTO Event (Title, Public, Confirm) VALUES ('a', 5, 1), ('b', 70000, 0);
  CREATE VIEW PublicEvents AS SELECT EventID, Public FROM Event WHERE Confirm = 1;
)";

class SqliteConnectionTest : public ::testing::Test {
 protected:
  SqliteConnectionTest() : db_(kSchema), connection_(db_.Open()) {}
  std::string Schema(const std::string& name) {
    return db_.Query("SELECT sql FROM sqlite_schema WHERE name = '" + name + "'");
  }
  TestDb db_;
  std::unique_ptr<Connection> connection_;
};

TEST_F(SqliteConnectionTest, ExecuteRunsExactlyOneStatement) {
  ExpectDbError([&] { connection_->Execute("INSERT INTO Other VALUES (1); DELETE FROM Event"); },
                3142, "Characters found after end of SQL statement.");
  EXPECT_EQ(db_.Query("SELECT count(*) FROM Other"), "0");
  EXPECT_EQ(db_.Query("SELECT count(*) FROM Event"), "2");
  EXPECT_EQ(connection_->Execute("INSERT INTO Other VALUES (1);; -- done\n"), nullptr);
  EXPECT_EQ(db_.Query("SELECT count(*) FROM Other"), "1");
  ExpectDbError([&] { connection_->Execute(" -- nothing\n"); }, SQLITE_ERROR, "empty");
  ExpectDbError([&] { connection_->Execute("COMMIT"); }, SQLITE_ERROR, "BeginTrans");
  ExpectDbError([&] { connection_->Execute("SELECT * FROM Missing"); }, SQLITE_ERROR,
                "no such table: Missing");
}

TEST_F(SqliteConnectionTest, QueryReturnsReadOnlyRowsInTheirOrder) {
  auto rs = connection_->Execute("SELECT Max(EventID) as MaxPrimary FROM Event");
  ASSERT_NE(rs, nullptr);
  EXPECT_EQ(rs->Field("maxprimary"), Value(2));
  EXPECT_EQ(rs->RecordCount(), 1);
  rs->MoveNext();
  EXPECT_TRUE(rs->Eof());
  ExpectDbError([&] { rs->Field("MaxPrimary"); }, kErrNoCurrentRecord, "current record");
  ExpectDbError([&] { rs->AddNew(); }, 3251);
  auto titles =
      connection_->Execute("SELECT Title FROM Event WHERE Visible = Yes ORDER BY EventID DESC");
  EXPECT_EQ(titles->Field("Title"), Value("b"));
  EXPECT_EQ(connection_->Execute("UPDATE Event SET Title = 'c'"), nullptr);
}

TEST_F(SqliteConnectionTest, TransactionsCommitOrRollBackAndMustBeOpen) {
  ExpectDbError([&] { connection_->CommitTrans(); }, SQLITE_ERROR, "no transaction is active");
  ExpectDbError([&] { connection_->RollbackTrans(); }, SQLITE_ERROR, "no transaction is active");
  connection_->BeginTrans();
  ExpectDbError([&] { connection_->BeginTrans(); }, SQLITE_ERROR, "within a transaction");
  connection_->Execute("INSERT INTO Other VALUES (1)");
  connection_->RollbackTrans();
  EXPECT_EQ(db_.Query("SELECT count(*) FROM Other"), "0");
  connection_->BeginTrans();
  connection_->Execute("INSERT INTO Other VALUES (2)");
  connection_->CommitTrans();
  EXPECT_EQ(db_.Query("SELECT OtherID FROM Other"), "2");
}

TEST_F(SqliteConnectionTest, SchemaChangesInsideATransactionAreUndoneByRollback) {
  std::string before =
      db_.Query("SELECT group_concat(type || name || sql, '|') FROM sqlite_schema");
  connection_->BeginTrans();
  connection_->Execute("ALTER TABLE Event ADD COLUMN Shared LONG");
  connection_->Execute("DROP INDEX PublicID ON Event");
  connection_->Execute("ALTER TABLE Event DROP COLUMN Public");
  connection_->Execute("DROP TABLE publicevents");
  connection_->Execute("CREATE VIEW Titles AS SELECT Title FROM Event");
  connection_->RollbackTrans();
  EXPECT_EQ(db_.Query("SELECT group_concat(type || name || sql, '|') FROM sqlite_schema"), before);
}

TEST_F(SqliteConnectionTest, OpenTransactionThatOnlyReadDoesNotBlockAnotherConnectionsCommit) {
  connection_->BeginTrans();
  EXPECT_EQ(connection_->TableNames(TableKind::kView), std::vector<std::string>{"PublicEvents"});
  connection_->Execute("SELECT * FROM Event");
  auto second = db_.Open();
  second->BeginTrans();
  second->Execute("DROP TABLE PublicEvents");
  second->CommitTrans();
  connection_->CommitTrans();
  EXPECT_EQ(Schema("PublicEvents"), "");
}

TEST_F(SqliteConnectionTest, CreateViewMustCompileAgainstTheCurrentTables) {
  connection_->BeginTrans();
  connection_->Execute("INSERT INTO Other VALUES (7)");
  ExpectDbError([&] { connection_->Execute("CREATE VIEW Bad AS SELECT Nope FROM Event"); },
                SQLITE_ERROR, "no such column: Nope");
  ExpectDbError([&] { connection_->Execute("CREATE VIEW Bad AS SELECT * FROM Missing"); },
                SQLITE_ERROR, "no such table");
  connection_->Execute(
      "CREATE VIEW Confirmed AS SELECT DISTINCTROW EventID FROM Event WHERE Confirm = Yes");
  connection_->CommitTrans();
  EXPECT_EQ(Schema("Bad"), "");
  EXPECT_EQ(db_.Query("SELECT OtherID FROM Other"), "7");  // the failed view undid nothing else
  EXPECT_EQ(db_.Query("SELECT group_concat(EventID) FROM Confirmed"), "1");
}

TEST_F(SqliteConnectionTest, AlterTableIsNotBlockedByViewsWhichAreKeptAsText) {
  std::string view = Schema("PublicEvents");
  connection_->Execute("CREATE TABLE Tmp (A, B)");
  connection_->Execute("CREATE VIEW Broken AS SELECT B FROM Tmp");
  connection_->Execute("ALTER TABLE Tmp DROP COLUMN B");  // Broken stays, no longer compiling
  connection_->Execute("DROP INDEX PublicID ON Event");
  connection_->Execute("ALTER TABLE Event DROP COLUMN Public");
  connection_->Execute("ALTER TABLE Event ADD COLUMN Shared LONG");
  EXPECT_EQ(Schema("PublicEvents"), view);
  EXPECT_EQ(connection_->ColumnNames("Event", "Public"), std::vector<std::string>{});
  ExpectDbError([&] { connection_->Execute("SELECT * FROM PublicEvents"); }, SQLITE_ERROR,
                "Public");
}

TEST_F(SqliteConnectionTest, FailedAlterTableChangesNothing) {
  // The indexed column cannot go; the views dropped on the way come back.
  ExpectDbError([&] { connection_->Execute("ALTER TABLE Event DROP COLUMN Public"); },
                SQLITE_ERROR);
  EXPECT_NE(Schema("PublicEvents"), "");
  EXPECT_EQ(connection_->ColumnNames("Event", "PUBLIC"), std::vector<std::string>{"Public"});
}

TEST_F(SqliteConnectionTest, DialectStatementsDropViewsAndIndexesByTheirAccessNames) {
  connection_->Execute("DROP TABLE PUBLICEVENTS");
  EXPECT_EQ(Schema("PublicEvents"), "");
  connection_->Execute("DROP INDEX publicid ON event");
  EXPECT_EQ(Schema("Event_PublicID"), "");
  ExpectDbError([&] { connection_->Execute("DROP INDEX PublicID ON Event"); }, SQLITE_ERROR,
                "PublicID");
  ExpectDbError([&] { connection_->Execute("DROP TABLE PublicEvents"); }, SQLITE_ERROR,
                "no such table");
}

TEST_F(SqliteConnectionTest, AccessSyntaxRunsAsItIs) {
  connection_->Execute("ALTER TABLE Other ADD COLUMN Note TEXT(50) NULL");
  connection_->Execute("ALTER TABLE Other ADD COLUMN Flag BIT");
  connection_->Execute("INSERT INTO Other (OtherID, Note) VALUES (1, 'n')");
  connection_->Execute(
      "CREATE VIEW Joined AS SELECT [Event].[EventID], Other.Note FROM (Other RIGHT JOIN Event ON "
      "Other.OtherID = Event.EventID) LEFT JOIN (Other AS O2 INNER JOIN Other AS O3 ON "
      "O2.OtherID = O3.OtherID) ON O2.OtherID = Event.EventID WHERE ((Event.Confirm)=Yes)");
  auto rs = connection_->Execute("SELECT * FROM Joined");
  EXPECT_EQ(rs->RecordCount(), 1);
  EXPECT_EQ(rs->Field("note"), Value("n"));
}

TEST_F(SqliteConnectionTest, SchemaQueriesListTablesViewsAndColumns) {
  EXPECT_EQ(connection_->TableNames(TableKind::kTable),
            (std::vector<std::string>{"Event", "Other"}));
  EXPECT_EQ(connection_->TableNames(TableKind::kView), std::vector<std::string>{"PublicEvents"});
  EXPECT_EQ(connection_->ColumnNames("EVENT"),
            (std::vector<std::string>{"EventID", "Title", "Public", "Confirm", "Visible"}));
  EXPECT_EQ(connection_->ColumnNames("event", "confirm"), std::vector<std::string>{"Confirm"});
  EXPECT_TRUE(connection_->ColumnNames("Missing").empty());
  EXPECT_TRUE(connection_->Errors().empty());
}

TEST_F(SqliteConnectionTest, CopyColumnGivesWhatARowByRowWalkGives) {
  connection_->Execute(
      "CREATE TABLE Mixed (ID INTEGER PRIMARY KEY, Src, L LONG, B BIT, T TEXT, D DATETIME,"
      " WL LONG, WB BIT, WT TEXT, WD DATETIME)");
  connection_->Execute("INSERT INTO Mixed (Src) VALUES (7), ('12'), (2.5), (NULL), (-3)");
  for (std::string target : {"L", "B", "T", "D"}) {
    int32_t walkError = 0;
    auto rs = connection_->OpenTable("Mixed", CursorType::kStatic, LockType::kBatchOptimistic);
    try {
      for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext())
        rs->SetField("W" + target, rs->Field("Src"));
      rs->UpdateBatch();
    } catch (const DbError& e) {
      walkError = e.number();
    }
    int32_t copyError = 0;
    try {
      connection_->CopyColumn("mixed", "src", target);
    } catch (const DbError& e) {
      copyError = e.number();
    }
    EXPECT_EQ(copyError, walkError) << target;
    std::string column = "quote(" + target + ")";
    EXPECT_EQ(db_.Query("SELECT group_concat(" + column + ") FROM Mixed"),
              db_.Query("SELECT group_concat(quote(W" + target + ")) FROM Mixed"))
        << target;
  }
  EXPECT_EQ(db_.Query("SELECT group_concat(quote(T)) FROM Mixed"), "'7','12','2.5',NULL,'-3'");
  EXPECT_EQ(db_.Query("SELECT count(D) FROM Mixed"), "0");  // numbers are not dates
}

TEST_F(SqliteConnectionTest, FailedCopyRaisesTheConversionErrorAndChangesNothing) {
  connection_->Execute("ALTER TABLE Event ADD COLUMN Small SMALLINT");
  connection_->Execute("UPDATE Event SET Small = 9");
  ExpectDbError([&] { connection_->CopyColumn("Event", "Public", "Small"); }, kErrOverflow,
                "Overflow");
  ExpectDbError([&] { connection_->CopyColumn("Event", "Title", "Small"); }, kErrTypeMismatch,
                "Type mismatch");
  ExpectDbError([&] { connection_->CopyColumn("Event", "Nope", "Small"); }, kErrItemNotFound);
  EXPECT_EQ(db_.Query("SELECT group_concat(Small) FROM Event"), "9,9");
  connection_->CopyColumn("Event", "Confirm", "Small");
  EXPECT_EQ(db_.Query("SELECT group_concat(Small) FROM Event"), "1,0");
}

TEST_F(SqliteConnectionTest, KeepsTheDefaultDurabilityAndRefusesUseAfterClose) {
  EXPECT_EQ(connection_->Execute("PRAGMA journal_mode")->Field("journal_mode"), Value("delete"));
  EXPECT_EQ(connection_->Execute("PRAGMA synchronous")->Field("synchronous"), Value(2));  // FULL
  auto rs = connection_->OpenTable("Event", CursorType::kKeyset, LockType::kBatchOptimistic);
  connection_->Close();
  ExpectDbError([&] { connection_->Execute("SELECT 1"); }, kErrObjectClosed);
  ExpectDbError([&] { rs->MoveFirst(); }, kErrObjectClosed);
}

}  // namespace
}  // namespace qv::db

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>

#include "db/sqlite/session.h"
#include "db_test_util.h"
#include "support/held_reader.h"

namespace qv::db {
namespace {

using qv::db::testing::TestDb;
using Names = std::vector<std::string>;

const char kSchema[] = R"(
  CREATE TABLE Event (EventID INTEGER PRIMARY KEY AUTOINCREMENT, Title TEXT(50), Public LONG,
                      Confirm BIT, Visible SMALLINT DEFAULT 1);
  CREATE INDEX Event_PublicID ON Event (Public);
  CREATE TABLE Other (OtherID INTEGER PRIMARY KEY);
  INSERT INTO Event (Title, Public, Confirm) VALUES ('a', 5, 1), ('b', 70000, 0);
  CREATE VIEW PublicEvents AS SELECT EventID, Public FROM Event WHERE Confirm = 1;
  CREATE TABLE Item (ItemID INTEGER PRIMARY KEY AUTOINCREMENT, Name TEXT(50) NOT NULL,
                     Qty SMALLINT DEFAULT 3, Made DATETIME, Done BIT);
  INSERT INTO Item (ItemID, Name) VALUES (5, 'five'), (2, 'two');
)";

class SqliteConnectionTest : public ::testing::Test {
 protected:
  std::string Query(const std::string& sql) { return db_.Query(sql); }
  std::string Schema(const std::string& name) {
    return Query("SELECT coalesce(max(sql), '') FROM sqlite_schema WHERE name = '" + name + "'");
  }
  void Run(std::initializer_list<const char*> statements) {
    for (const char* sql : statements) c_->Execute(sql);
  }
  std::unique_ptr<Recordset> Items() {
    return c_->OpenTable("item", CursorType::kStatic, LockType::kBatchOptimistic);
  }
  static void AddItem(Recordset& rs, const Value& name) {
    rs.AddNew();
    rs.SetField("Name", name);
  }
  TestDb db_{kSchema};
  std::unique_ptr<Connection> c_ = db_.Open();
};
using TableRecordsetTest = SqliteConnectionTest;

TEST_F(SqliteConnectionTest, ExecuteRunsExactlyOneStatementAndQueriesGiveReadOnlyRows) {
  EXPECT_DB_ERROR(c_->Execute("INSERT INTO Other VALUES (1); DELETE FROM Event"), 3142,
                  "Characters found after end of SQL statement.");
  EXPECT_EQ(Query("SELECT count(*) FROM Other") + Query("SELECT count(*) FROM Event"), "02");
  EXPECT_EQ(c_->Execute("INSERT INTO Other VALUES (1);; -- done\n"), nullptr);
  EXPECT_EQ(Query("SELECT count(*) FROM Other"), "1");
  EXPECT_DB_ERROR(c_->Execute(" -- nothing\n"), SQLITE_ERROR, "empty");
  EXPECT_DB_ERROR(c_->Execute("COMMIT"), SQLITE_ERROR, "BeginTrans");
  EXPECT_DB_ERROR(c_->Execute("SELECT * FROM Missing"), SQLITE_ERROR, "no such table: Missing");

  auto rs = c_->Execute("SELECT Max(EventID) as MaxPrimary FROM Event");
  EXPECT_EQ(rs->Field("maxprimary"), Value(2));
  EXPECT_EQ(rs->RecordCount(), 1);
  rs->MoveNext();
  EXPECT_TRUE(rs->Eof());
  EXPECT_DB_ERROR(rs->Field("MaxPrimary"), kErrNoCurrentRecord, "current record");
  EXPECT_DB_ERROR(rs->AddNew(), 3251, "");
  rs = c_->Execute("SELECT Title FROM Event WHERE Visible = Yes ORDER BY EventID DESC");
  EXPECT_EQ(rs->Field("Title"), Value("b"));
}

TEST_F(SqliteConnectionTest, RollbackUndoesRowsAndSchemaChangesAndCommitKeepsThem) {
  EXPECT_DB_ERROR(c_->CommitTrans(), SQLITE_ERROR, "no transaction is active");
  EXPECT_DB_ERROR(c_->RollbackTrans(), SQLITE_ERROR, "no transaction is active");
  const std::string all = "SELECT group_concat(type || name || sql, '|') FROM sqlite_schema";
  const std::string before = Query(all);
  c_->BeginTrans();
  EXPECT_DB_ERROR(c_->BeginTrans(), SQLITE_ERROR, "within a transaction");
  auto rs = Items();
  AddItem(*rs, "temporary");
  rs->UpdateBatch();
  Run({"INSERT INTO Other VALUES (1)", "ALTER TABLE Event ADD COLUMN Shared LONG",
       "DROP INDEX PublicID ON Event", "ALTER TABLE Event DROP COLUMN Public",
       "DROP TABLE publicevents", "CREATE VIEW Titles AS SELECT Title FROM Event"});
  c_->RollbackTrans();
  EXPECT_EQ(Query(all), before);
  EXPECT_EQ(Query("SELECT count(*) FROM Other") + Query("SELECT count(*) FROM Item"), "02");
  c_->BeginTrans();
  c_->Execute("INSERT INTO Other VALUES (2)");
  c_->CommitTrans();
  EXPECT_EQ(Query("SELECT OtherID FROM Other"), "2");
}

// A transaction takes the write lock at its first statement, so a database
// in use fails that statement, never the commit; until then it holds nothing
// (a step lists views, begins, and drops each on a connection of its own).
TEST_F(SqliteConnectionTest, TransactionsLockAtTheirFirstStatementAndNeverFailTheCommit) {
  c_->BeginTrans();
  auto second = db_.Open();
  second->BeginTrans();
  second->Execute("DROP TABLE PublicEvents");
  second->CommitTrans();
  EXPECT_EQ(c_->TableNames(TableKind::kView), Names{});
  EXPECT_DB_ERROR(second->Execute("SELECT * FROM Event"), SQLITE_BUSY, "database is locked");
  c_->CommitTrans();
  EXPECT_EQ(Schema("PublicEvents"), "");
  {
    auto reader = std::make_unique<qv::testing::HeldReader>(db_.path);
    c_->BeginTrans();
    EXPECT_DB_ERROR(c_->Execute("UPDATE Event SET Title = 'x'"), SQLITE_BUSY, "database is locked");
    // A transaction that could not begin fails its later statements at
    // once, not after another wait each, even once the reader is gone.
    reader.reset();
    EXPECT_DB_ERROR(c_->Execute("SELECT * FROM Event"), SQLITE_BUSY, "database is locked");
    c_->RollbackTrans();
  }
  c_->BeginTrans();
  c_->Execute("UPDATE Event SET Title = 'x'");
  c_->CommitTrans();
  EXPECT_EQ(Query("SELECT group_concat(Title) FROM Event"), "x,x");
}

// Views are saved queries: they must compile when created, and they do not
// block a column change (they are kept as text across it).
TEST_F(SqliteConnectionTest, ViewsCompileWhenCreatedAndDoNotBlockColumnChanges) {
  const std::string view = Schema("PublicEvents");
  // A failing change (the column is indexed) brings back the views it dropped.
  EXPECT_DB_ERROR(c_->Execute("ALTER TABLE Event DROP COLUMN Public"), SQLITE_ERROR, "");
  c_->BeginTrans();
  c_->Execute("INSERT INTO Other VALUES (7)");
  EXPECT_DB_ERROR(c_->Execute("CREATE VIEW Bad AS SELECT Nope FROM Event"), SQLITE_ERROR,
                  "no such column: Nope");
  EXPECT_DB_ERROR(c_->Execute("CREATE VIEW Bad AS SELECT * FROM Missing"), SQLITE_ERROR,
                  "no such table");
  c_->Execute("CREATE VIEW Confirmed AS SELECT DISTINCTROW EventID FROM Event WHERE Confirm = Yes");
  c_->CommitTrans();
  EXPECT_EQ(Schema("Bad"), "");
  EXPECT_EQ(Schema("PublicEvents"), view);
  EXPECT_EQ(Query("SELECT OtherID FROM Other"), "7");  // the failures undid nothing else
  EXPECT_EQ(Query("SELECT group_concat(EventID) FROM Confirmed"), "1");

  // Triggers on the views come back with them, byte for byte, even on a
  // view that the dropped column breaks.
  const char* const triggers[] = {
      "CREATE TRIGGER Rename INSTEAD OF UPDATE ON Titles BEGIN "
      "UPDATE Event SET Title = new.Title WHERE EventID = old.EventID; END",
      "CREATE TRIGGER Unpublish INSTEAD OF DELETE ON PublicEvents BEGIN "
      "DELETE FROM Event WHERE EventID = old.EventID; END"};
  qv::testing::Exec(db_.path,
                    std::string("CREATE VIEW Titles AS SELECT EventID, Title FROM Event;") +
                        triggers[0] + ";" + triggers[1]);
  Run({"CREATE TABLE Tmp (A, B)", "CREATE VIEW Broken AS SELECT B FROM Tmp",
       "ALTER TABLE Tmp DROP COLUMN B",  // Broken stays, no longer compiling
       "DROP INDEX PublicID ON Event", "ALTER TABLE Event DROP COLUMN Public",
       "ALTER TABLE Event ADD COLUMN Shared LONG"});
  EXPECT_EQ(Schema("PublicEvents"), view);
  EXPECT_EQ(Schema("Rename"), triggers[0]);
  EXPECT_EQ(Schema("Unpublish"), triggers[1]);
  Run({"UPDATE Titles SET Title = 'renamed' WHERE EventID = 2"});
  EXPECT_EQ(Query("SELECT Title FROM Event WHERE EventID = 2"), "renamed");
  EXPECT_EQ(c_->ColumnNames("Event", "Public"), Names{});
  EXPECT_DB_ERROR(c_->Execute("SELECT * FROM PublicEvents"), SQLITE_ERROR, "Public");
}

TEST_F(SqliteConnectionTest, AccessNamesAndSyntaxRunAndNamesMatchWithoutRegardToCase) {
  EXPECT_EQ(c_->TableNames(TableKind::kTable), (Names{"Event", "Item", "Other"}));
  EXPECT_EQ(c_->ColumnNames("EVENT"), (Names{"EventID", "Title", "Public", "Confirm", "Visible"}));
  EXPECT_EQ(c_->ColumnNames("event", "confirm"), Names{"Confirm"});
  EXPECT_TRUE(c_->ColumnNames("Missing").empty());
  Run({"DROP TABLE PUBLICEVENTS", "DROP INDEX publicid ON event"});
  EXPECT_EQ(Schema("PublicEvents") + Schema("Event_PublicID"), "");
  EXPECT_DB_ERROR(c_->Execute("DROP INDEX PublicID ON Event"), SQLITE_ERROR, "PublicID");
  EXPECT_DB_ERROR(c_->Execute("DROP TABLE PublicEvents"), SQLITE_ERROR, "no such table");
  Run({"ALTER TABLE Other ADD COLUMN Note TEXT(50) NULL", "ALTER TABLE Other ADD COLUMN Flag BIT",
       "INSERT INTO Other (OtherID, Note) VALUES (1, 'n')",
       "CREATE VIEW Joined AS SELECT [Event].[EventID], Other.Note FROM (Other RIGHT JOIN Event "
       "ON Other.OtherID = Event.EventID) LEFT JOIN (Other AS O2 INNER JOIN Other AS O3 ON "
       "O2.OtherID = O3.OtherID) ON O2.OtherID = Event.EventID WHERE ((Event.Confirm)=Yes)"});
  auto rs = c_->Execute("SELECT * FROM Joined");
  EXPECT_EQ(rs->RecordCount(), 1);
  EXPECT_EQ(rs->Field("note"), Value("n"));
  EXPECT_TRUE(c_->Errors().empty());
}

TEST_F(SqliteConnectionTest, CopyColumnGivesWhatARowByRowWalkGivesFailuresIncluded) {
  Run(
      {"CREATE TABLE Mixed (ID INTEGER PRIMARY KEY, Src, L LONG, B BIT, T TEXT, D DATETIME,"
       " WL LONG, WB BIT, WT TEXT, WD DATETIME)",
       "INSERT INTO Mixed (Src) VALUES (7), ('12'), (2.5), (NULL), (-3)"});
  auto errorOf = [](const std::function<void()>& action) {
    std::optional<DbError> e = qv::db::testing::Raised(action);
    return e ? e->number() : 0;
  };
  for (std::string to : {"L", "B", "T", "D"}) {
    auto rs = c_->OpenTable("Mixed", CursorType::kStatic, LockType::kBatchOptimistic);
    int32_t walk = errorOf([&] {
      for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext()) rs->SetField("W" + to, rs->Field("Src"));
      rs->UpdateBatch();
    });
    EXPECT_EQ(errorOf([&] { c_->CopyColumn("mixed", "src", to); }), walk) << to;
    EXPECT_EQ(Query("SELECT group_concat(quote(" + to + ")) FROM Mixed"),
              Query("SELECT group_concat(quote(W" + to + ")) FROM Mixed"))
        << to;
  }
  EXPECT_EQ(Query("SELECT group_concat(quote(T)) FROM Mixed"), "'7','12','2.5',NULL,'-3'");
  EXPECT_EQ(Query("SELECT count(D) FROM Mixed"), "0");  // numbers are not dates

  Run({"ALTER TABLE Event ADD COLUMN Small SMALLINT", "UPDATE Event SET Small = 9"});
  EXPECT_DB_ERROR(c_->CopyColumn("Event", "Public", "Small"), kErrOverflow, "Overflow");
  EXPECT_DB_ERROR(c_->CopyColumn("Event", "Title", "Small"), kErrTypeMismatch, "Type mismatch");
  EXPECT_DB_ERROR(c_->CopyColumn("Event", "Nope", "Small"), kErrItemNotFound, "");
  EXPECT_EQ(Query("SELECT group_concat(Small) FROM Event"), "9,9");
  c_->CopyColumn("Event", "Confirm", "Small");
  EXPECT_EQ(Query("SELECT group_concat(Small) FROM Event"), "1,0");
}

TEST_F(SqliteConnectionTest, KeepsDefaultDurabilityAndRefusesWhatCannotBeDone) {
  EXPECT_EQ(c_->Execute("PRAGMA journal_mode")->Field("journal_mode"), Value("delete"));
  EXPECT_EQ(c_->Execute("PRAGMA synchronous")->Field("synchronous"), Value(2));  // FULL
  auto readOnly = c_->OpenTable("Item", CursorType::kForwardOnly, LockType::kReadOnly);
  EXPECT_DB_ERROR(readOnly->AddNew(), 3251, "");
  EXPECT_DB_ERROR(c_->OpenTable("Nope", CursorType::kStatic, LockType::kReadOnly), SQLITE_ERROR,
                  "no such table: Nope");
  auto closed = Items(), rs = Items();
  closed->Close();
  EXPECT_DB_ERROR(closed->Field("Name"), kErrObjectClosed, "");
  c_->Close();
  EXPECT_DB_ERROR(c_->Execute("SELECT 1"), kErrObjectClosed, "");
  EXPECT_DB_ERROR(rs->MoveFirst(), kErrObjectClosed, "");
}

TEST_F(TableRecordsetTest, RequeryPutsLastOnTheRowJustAdded) {
  auto rs = Items();
  EXPECT_EQ(rs->Field("ItemID"), Value(2));  // key order, not insertion order
  AddItem(*rs, "new");
  rs->UpdateBatch();
  EXPECT_EQ(rs->Field("ItemID"), Value(6));  // read back at once: counter and default
  EXPECT_EQ(rs->Field("Qty"), Value(3));
  rs->Requery();
  rs->MoveLast();
  EXPECT_EQ(rs->Field("itemid"), Value(6));
  EXPECT_EQ(rs->RecordCount(), 3);
}

TEST_F(TableRecordsetTest, SetFieldConvertsAtOnceAndAFailedAssignmentStaysUnassigned) {
  auto rs = Items();
  AddItem(*rs, 42);
  rs->SetField("Made", "1999/3/5 14:7:9");
  rs->SetField("Done", -1);
  EXPECT_DB_ERROR(rs->SetField("Qty", 40000), kErrOverflow, "Overflow");
  EXPECT_DB_ERROR(rs->SetField("Made", "soon"), kErrTypeMismatch, "Type mismatch");
  EXPECT_DB_ERROR(rs->SetField("Nope", 1), kErrItemNotFound, "Item cannot be found");
  EXPECT_TRUE(rs->Field("Qty").IsNull());
  EXPECT_EQ(rs->Field("Made"), Value(DateTime{1999, 3, 5, 14, 7, 9}));  // pending or sent alike
  rs->UpdateBatch();
  EXPECT_EQ(Query("SELECT quote(Name) || Qty || Made || Done FROM Item WHERE ItemID = 6"),
            "'42'31999-03-05 14:07:091");
  EXPECT_EQ(rs->Field("Made"), Value(DateTime{1999, 3, 5, 14, 7, 9}));
}

TEST_F(TableRecordsetTest, PendingWorkIsSentWholeByUpdateBatchOrDiscarded) {
  auto rs = Items();
  for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext()) {
    rs->SetField("Qty", rs->Field("ItemID"));
    rs->Update();
  }
  EXPECT_DB_ERROR(rs->MoveNext(), kErrNoCurrentRecord, "");
  EXPECT_DB_ERROR(rs->Field("Qty"), kErrNoCurrentRecord, "");
  AddItem(*rs, "first");
  rs->AddNew();  // Name is NOT NULL: this row cannot be sent, so nothing is
  EXPECT_DB_ERROR(rs->UpdateBatch(), SQLITE_CONSTRAINT, "NOT NULL");
  EXPECT_EQ(Query("SELECT group_concat(ItemID || '=' || Qty) FROM Item"), "2=3,5=3");
  EXPECT_EQ(rs->RecordCount(), 4);
  rs->SetField("Name", "second");
  rs->UpdateBatch();
  EXPECT_EQ(Query("SELECT group_concat(ItemID || Name || Qty) FROM Item"),
            "2two2,5five5,6first3,7second3");

  rs->MoveFirst();
  rs->SetField("Name", "changed");
  AddItem(*rs, "added");
  rs->CancelBatch();
  EXPECT_EQ(rs->RecordCount(), 4);
  rs->MoveFirst();
  EXPECT_EQ(rs->Field("Name"), Value("two"));
  AddItem(*rs, "added");
  rs->Requery();
  rs->UpdateBatch();
  EXPECT_EQ(Query("SELECT count(*) FROM Item WHERE Name IN ('changed', 'added')"), "0");
}

TEST(DatabaseFileTest, CreatesOnlyANewFileAndLeavesNothingBehindOnFailure) {
  TestDb db("CREATE TABLE A (X INTEGER); INSERT INTO A VALUES (1), (2);");
  EXPECT_EQ(db.Query("SELECT sum(X) FROM A"), "3");
  const std::string taken = db.dir.str() + "/taken.mdb", broken = db.dir.str() + "/broken.mdb";
  std::ofstream(taken) << "keep me";
  EXPECT_DB_ERROR(CreateDatabaseFile(taken, "CREATE TABLE A (X);"), SQLITE_CANTOPEN, taken);
  EXPECT_EQ(std::filesystem::file_size(taken), 7u);
  EXPECT_DB_ERROR(CreateDatabaseFile(broken, "CREATE TABLE A (X); INSERT INTO B VALUES (1);"),
                  SQLITE_ERROR, "no such table: B");
  EXPECT_FALSE(std::filesystem::exists(broken) || std::filesystem::exists(broken + "-journal"));
  EXPECT_DB_ERROR(sqlite::OpenConnection(broken, 0), SQLITE_CANTOPEN, broken);  // never creates
  EXPECT_FALSE(std::filesystem::exists(broken));
}

// The views need RIGHT JOIN: an older library fails every open, naming both
// versions, rather than report success over views it could not create.
TEST(EngineVersionTest, LibrariesOlderThan339AreRefused) {
  EXPECT_DB_ERROR(sqlite::CheckEngineVersion(3038005, "3.38.5"), SQLITE_ERROR,
                  "version 3.38.5; the setup needs SQLite 3.39.0 or later");
  EXPECT_NO_THROW(sqlite::CheckEngineVersion(3039000, "3.39.0"));
  EXPECT_NO_THROW(sqlite::CheckEngineVersion(sqlite3_libversion_number(), sqlite3_libversion()));
}

}  // namespace
}  // namespace qv::db

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "db_test_util.h"

namespace qv::db {
namespace {

using qv::db::testing::ExpectDbError;
using qv::db::testing::TestDb;

class TableRecordsetTest : public ::testing::Test {
 protected:
  TableRecordsetTest()
      : db_("CREATE TABLE Item (ItemID INTEGER PRIMARY KEY AUTOINCREMENT, Name TEXT(50) NOT NULL,"
            " Qty SMALLINT DEFAULT 3, Made DATETIME, Done BIT);"
            "INSERT INTO Item (ItemID, Name) VALUES (5, 'five'), (2, 'two');"),
        connection_(db_.Open()),
        rs_(connection_->OpenTable("item", CursorType::kStatic, LockType::kBatchOptimistic)) {}
  std::string Stored(const std::string& sql) { return db_.Query(sql); }
  TestDb db_;
  std::unique_ptr<Connection> connection_;
  std::unique_ptr<Recordset> rs_;
};

TEST_F(TableRecordsetTest, RequeryPutsLastOnRowJustAdded) {
  EXPECT_EQ(rs_->Field("ItemID"), Value(2));  // key order, not insertion order
  rs_->AddNew();
  rs_->SetField("Name", "new");
  rs_->UpdateBatch();
  EXPECT_EQ(rs_->Field("ItemID"), Value(6));  // read back at once: counter and default
  EXPECT_EQ(rs_->Field("Qty"), Value(3));
  rs_->Requery();
  rs_->MoveLast();
  EXPECT_EQ(rs_->Field("itemid"), Value(6));
  EXPECT_EQ(rs_->RecordCount(), 3);
}

TEST_F(TableRecordsetTest, SetFieldConvertsAtOnceAndAFailedAssignmentStaysUnassigned) {
  rs_->AddNew();
  rs_->SetField("Name", 42);
  rs_->SetField("Made", "1999/3/5 14:7:9");
  rs_->SetField("Done", -1);
  ExpectDbError([&] { rs_->SetField("Qty", 40000); }, kErrOverflow, "Overflow");
  ExpectDbError([&] { rs_->SetField("Made", "soon"); }, kErrTypeMismatch, "Type mismatch");
  ExpectDbError([&] { rs_->SetField("Nope", 1); }, kErrItemNotFound, "Item cannot be found");
  EXPECT_TRUE(rs_->Field("Qty").IsNull());
  EXPECT_EQ(rs_->Field("Made"), Value(DateTime{1999, 3, 5, 14, 7, 9}));  // pending or sent alike
  rs_->UpdateBatch();
  EXPECT_EQ(Stored("SELECT quote(Name) || Qty || Made || Done FROM Item WHERE ItemID = 6"),
            "'42'31999-03-05 14:07:091");
  EXPECT_EQ(rs_->Field("Made"), Value(DateTime{1999, 3, 5, 14, 7, 9}));
}

TEST_F(TableRecordsetTest, FailedBatchSendsNothingAndKeepsTheRowsPending) {
  rs_->AddNew();
  rs_->SetField("Name", "first");
  rs_->AddNew();  // Name is NOT NULL: this row cannot be sent
  ExpectDbError([&] { rs_->UpdateBatch(); }, SQLITE_CONSTRAINT, "NOT NULL");
  EXPECT_EQ(Stored("SELECT count(*) FROM Item"), "2");
  EXPECT_EQ(rs_->RecordCount(), 4);
  rs_->SetField("Name", "second");
  rs_->UpdateBatch();
  EXPECT_EQ(Stored("SELECT group_concat(Name) FROM Item WHERE ItemID > 5"), "first,second");
}

TEST_F(TableRecordsetTest, EditsOfExistingRowsAreSentByUpdateBatch) {
  for (rs_->MoveFirst(); !rs_->Eof(); rs_->MoveNext()) {
    rs_->SetField("Qty", rs_->Field("ItemID"));
    rs_->Update();
  }
  ExpectDbError([&] { rs_->MoveNext(); }, kErrNoCurrentRecord);
  ExpectDbError([&] { rs_->Field("Qty"); }, kErrNoCurrentRecord);
  EXPECT_EQ(Stored("SELECT group_concat(Qty) FROM Item"), "3,3");  // pending until the batch
  rs_->UpdateBatch();
  EXPECT_EQ(Stored("SELECT group_concat(ItemID || '=' || Qty) FROM Item ORDER BY ItemID"),
            "2=2,5=5");
}

TEST_F(TableRecordsetTest, CancelBatchAndRequeryDiscardPendingWork) {
  rs_->SetField("Name", "changed");
  rs_->AddNew();
  rs_->SetField("Name", "added");
  rs_->CancelBatch();
  EXPECT_EQ(rs_->RecordCount(), 2);
  rs_->MoveFirst();
  EXPECT_EQ(rs_->Field("Name"), Value("two"));
  rs_->AddNew();
  rs_->SetField("Name", "added");
  rs_->Requery();
  rs_->UpdateBatch();
  EXPECT_EQ(Stored("SELECT group_concat(Name) FROM Item"), "two,five");
}

TEST_F(TableRecordsetTest, RowsSentInsideATransactionAreUndoneByRollback) {
  connection_->BeginTrans();
  rs_->AddNew();
  rs_->SetField("Name", "temporary");
  rs_->UpdateBatch();
  connection_->RollbackTrans();
  EXPECT_EQ(Stored("SELECT count(*) FROM Item"), "2");
}

TEST_F(TableRecordsetTest, ReadOnlyClosedAndMissingRowSetsRefuseWork) {
  auto readOnly = connection_->OpenTable("Item", CursorType::kForwardOnly, LockType::kReadOnly);
  ExpectDbError([&] { readOnly->AddNew(); }, 3251);
  rs_->Close();
  ExpectDbError([&] { rs_->Field("Name"); }, kErrObjectClosed);
  ExpectDbError([&] { rs_->MoveFirst(); }, kErrObjectClosed);
  ExpectDbError(
      [&] { connection_->OpenTable("Nope", CursorType::kStatic, LockType::kBatchOptimistic); },
      SQLITE_ERROR, "no such table: Nope");
}

}  // namespace
}  // namespace qv::db

#include "db/sqlite/dialect.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

#include "db/db_error.h"
#include "db_test_util.h"

namespace qv::db::sqlite {
namespace {

using qv::db::testing::ExpectDbError;

// Views and indexes given by hand: the translator is a pure function of them.
class FakeSchema : public SchemaLookup {
 public:
  bool IsView(const std::string& name) const override {
    return EqualsNoCase(name, "ScheduleOwnership") || EqualsNoCase(name, "Old View");
  }
  std::vector<std::string> IndexesOf(const std::string& table) const override {
    if (EqualsNoCase(table, "Contact")) return {"PublicID", "Contact_Confirm"};
    if (EqualsNoCase(table, "Resource")) return {"Resource_PublicID"};
    return {};
  }
};

class DialectTest : public ::testing::Test {
 protected:
  std::string Sql(const std::string& in) { return TranslateDialect(in, schema_).sql; }
  FakeSchema schema_;
};

TEST_F(DialectTest, YesAndNoBecomeNumbersOnlyAsBareLiterals) {
  EXPECT_EQ(Sql("SELECT * FROM T WHERE ((T.visible)=Yes) AND (T.Completed=no)"),
            "SELECT * FROM T WHERE ((T.visible)=1) AND (T.Completed=0)");
  // Literals, quoted and bracketed names, comments, qualified names and aliases stay.
  const std::string kept =
      "SELECT 'Yes', \"No\", [Yes], `no`, T.Yes, No.x, a AS No /* Yes */ FROM T -- No";
  EXPECT_EQ(Sql(kept), kept);
  EXPECT_EQ(Sql("SELECT 'it''s Yes', Yes"), "SELECT 'it''s Yes', 1");
  EXPECT_EQ(Sql("SELECT Yesterday, Nothing, YES"), "SELECT Yesterday, Nothing, 1");
}

TEST_F(DialectTest, DistinctrowBecomesDistinct) {
  EXPECT_EQ(Sql("SELECT DISTINCTROW DocEvent.Int3 From DocEvent"),
            "SELECT DISTINCT DocEvent.Int3 From DocEvent");
  EXPECT_EQ(Sql("SELECT 'DISTINCTROW' FROM [DISTINCTROW]"),
            "SELECT 'DISTINCTROW' FROM [DISTINCTROW]");
}

TEST_F(DialectTest, DropTableOfAViewDropsTheView) {
  EXPECT_EQ(Sql("DROP TABLE ScheduleOwnerShip"), "DROP VIEW ScheduleOwnerShip");
  EXPECT_EQ(Sql("drop table [Old View]"), "drop VIEW [Old View]");
  EXPECT_EQ(Sql("DROP TABLE IF EXISTS scheduleownership"), "DROP VIEW IF EXISTS scheduleownership");
  EXPECT_EQ(Sql("DROP TABLE Contact"), "DROP TABLE Contact");
  EXPECT_EQ(Sql("SELECT 1; DROP TABLE ScheduleOwnership"),
            "SELECT 1; DROP TABLE ScheduleOwnership");
}

TEST_F(DialectTest, DropIndexOnTableFindsTheIndexByNameOrTablePrefixedName) {
  EXPECT_EQ(Sql("DROP INDEX PublicID ON Contact"), "DROP INDEX \"PublicID\"");
  EXPECT_EQ(Sql("DROP INDEX publicid ON [contact]"), "DROP INDEX \"PublicID\"");
  EXPECT_EQ(Sql("DROP INDEX Confirm ON Contact;"), "DROP INDEX \"Contact_Confirm\";");
  EXPECT_EQ(Sql("DROP INDEX PublicID ON RESOURCE"), "DROP INDEX \"Resource_PublicID\"");
  EXPECT_EQ(Sql("DROP INDEX PublicID"), "DROP INDEX PublicID");  // the engine's own form
}

TEST_F(DialectTest, DropIndexOnTableWithoutSuchIndexFails) {
  ExpectDbError([&] { Sql("DROP INDEX PublicID ON ToDoEvent"); }, 1, "ToDoEvent_PublicID");
  // Another table's index of that name is not taken.
  ExpectDbError([&] { Sql("DROP INDEX Confirm ON Resource"); }, 1, "no such index");
}

TEST_F(DialectTest, ClassifiesTheStatementsThatNeedTheirOwnHandling) {
  Translation view = TranslateDialect("CREATE VIEW IF NOT EXISTS [My View] AS SELECT Yes", schema_);
  EXPECT_EQ(view.kind, StatementKind::kCreateView);
  EXPECT_EQ(view.target, "\"My View\"");
  EXPECT_EQ(view.sql, "CREATE VIEW IF NOT EXISTS [My View] AS SELECT 1");
  Translation alter =
      TranslateDialect("ALTER TABLE Users ADD COLUMN DateFormat TEXT(50) NULL", schema_);
  EXPECT_EQ(alter.kind, StatementKind::kAlterTableColumns);
  EXPECT_EQ(alter.target, "Users");
  EXPECT_EQ(TranslateDialect("ALTER TABLE T RENAME TO U", schema_).kind, StatementKind::kOther);
  EXPECT_EQ(TranslateDialect(" /* c */ commit", schema_).kind, StatementKind::kTransactionControl);
}

TEST_F(DialectTest, RecognisesWhatMayFollowAStatement) {
  EXPECT_TRUE(OnlyBlanksAndComments(" ;; -- done\n /* x */ ;"));
  EXPECT_TRUE(OnlyBlanksAndComments(""));
  EXPECT_FALSE(OnlyBlanksAndComments("; DROP TABLE Users"));
  EXPECT_FALSE(OnlyBlanksAndComments("; 'text'"));
}

TEST_F(DialectTest, TokensCoverAnyInputAndTranslationNeverFails) {
  // Unterminated literals, names and comments, bytes above 127, NULs.
  std::mt19937 random(20240601);
  static const char kAlphabet[] =
      "ab Yes No'\"[]`-/*;.()\n\0\x80\xff"
      "DROP TABLE INDEX ON DISTINCTROW";
  const std::string alphabet(kAlphabet, sizeof kAlphabet - 1);
  for (int round = 0; round < 3000; ++round) {
    std::string input;
    size_t length = random() % 40;
    for (size_t i = 0; i < length; ++i) input += alphabet[random() % alphabet.size()];
    size_t covered = 0;
    for (const Token& t : Tokenize(input)) {
      ASSERT_EQ(t.begin, covered);
      ASSERT_GT(t.length, 0u);
      covered += t.length;
    }
    ASSERT_EQ(covered, input.size());
    try {
      TranslateDialect(input, schema_);
    } catch (const DbError&) {  // the one failure the translator may raise
    }
  }
}

}  // namespace
}  // namespace qv::db::sqlite

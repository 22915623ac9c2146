// The security database alteration on small hand-built security databases.
#include <gtest/gtest.h>

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

const char kSecurityFailed[] =
    "There was an error occured.\r\nduring setup security table. Couldn't complete the task.";
const char kEarlierMessage[] = "left by an earlier step";

const char kMainScript[] = "CREATE TABLE Company (CompanyID INTEGER PRIMARY KEY);";

std::string SecurityScript(const std::string& prefRows, const std::string& usersColumns = "",
                           const std::string& userRows = "(1, 'admin'), (2, 'guest')") {
  std::string script =
      "CREATE TABLE GlobalPref (PrefID INTEGER PRIMARY KEY, MainDir TEXT(255), "
      "DateFormat TEXT(50), TimeFormat TEXT(50));\n"
      "CREATE TABLE Users (UserID INTEGER PRIMARY KEY, UserName TEXT(50)" +
      usersColumns + ");\n";
  if (!prefRows.empty()) script += "INSERT INTO GlobalPref VALUES " + prefRows + ";\n";
  if (!userRows.empty())
    script += "INSERT INTO Users (UserID, UserName) VALUES " + userRows + ";\n";
  return script;
}

class AlterSecurityTableTest : public ::testing::Test {
 protected:
  void Build(const std::string& securityScript) {
    sources_ = std::make_unique<ScratchSources>(kMainScript, securityScript);
    recorder_ = std::make_unique<RecordingConnector>(sources_->connector());
  }
  bool Alter() { return AlterSecurityTable(*recorder_, message_); }
  std::vector<std::string> UsersColumns() {
    return Columns(sources_->connector(), db::kSecurityConnectionString, "Users");
  }
  Rows Users() {
    return SecuritySelect(sources_->connector(), "Users", {"UserID", "DateFormat", "TimeFormat"},
                          "UserID");
  }
  // A failed step leaves Users as it was: neither column added.
  void ExpectFailedAndRolledBack() {
    EXPECT_EQ(message_, kSecurityFailed);
    std::vector<std::string> columns = UsersColumns();
    EXPECT_FALSE(ContainsName(columns, "DateFormat"));
  }

  std::unique_ptr<ScratchSources> sources_;
  std::unique_ptr<RecordingConnector> recorder_;
  std::string message_ = kEarlierMessage;
};

TEST_F(AlterSecurityTableTest, FirstPreferencesRowGivesEveryUserItsFormats) {
  Build(SecurityScript("(1, '/srv', 'dd.mm.yyyy', 'HH:nn'), (2, '/x', 'other', 'other')"));

  EXPECT_TRUE(Alter());
  EXPECT_EQ(message_, kEarlierMessage);
  EXPECT_EQ(Users(), (Rows{"1|'dd.mm.yyyy'|'HH:nn'", "2|'dd.mm.yyyy'|'HH:nn'"}));
  EXPECT_EQ(recorder_->statements(),
            (Rows{"ALTER TABLE Users ADD COLUMN DateFormat TEXT(50) NULL",
                  "ALTER TABLE Users ADD COLUMN TimeFormat TEXT(50) NULL",
                  "SELECT DateFormat, TimeFormat FROM GlobalPref",
                  "UPDATE Users SET DateFormat='dd.mm.yyyy', TimeFormat='HH:nn'"}));
}

TEST_F(AlterSecurityTableTest, EmptyPreferencesGiveTheDefaults) {
  Build(SecurityScript(""));

  EXPECT_TRUE(Alter());
  EXPECT_EQ(message_, kEarlierMessage);
  EXPECT_EQ(recorder_->statements().back(),
            "UPDATE Users SET DateFormat='yyyy/mm/dd', TimeFormat='hh:mm tt'");
  EXPECT_EQ(Users(), (Rows{"1|'yyyy/mm/dd'|'hh:mm tt'", "2|'yyyy/mm/dd'|'hh:mm tt'"}));
}

TEST_F(AlterSecurityTableTest, EmptyUsersTableGetsTheColumns) {
  Build(SecurityScript("(1, '/srv', 'yy-m-d', 'h:m')", "", ""));

  EXPECT_TRUE(Alter());
  EXPECT_EQ(message_, kEarlierMessage);
  std::vector<std::string> columns = UsersColumns();
  EXPECT_TRUE(ContainsName(columns, "DateFormat"));
  EXPECT_TRUE(ContainsName(columns, "TimeFormat"));
  EXPECT_TRUE(Users().empty());
}

TEST_F(AlterSecurityTableTest, ExistingDateFormatMeansNothingToDo) {
  Build(SecurityScript("(1, '/srv', 'new', 'new')", ", dateformat TEXT(50), TimeFormat TEXT(50)"));
  RunStatement(sources_->connector(), db::kSecurityConnectionString,
               "UPDATE Users SET DateFormat='own', TimeFormat='own' WHERE UserID = 1");

  EXPECT_TRUE(Alter());
  EXPECT_EQ(message_, kEarlierMessage);
  EXPECT_TRUE(recorder_->statements().empty());
  EXPECT_EQ(Users(), (Rows{"1|'own'|'own'", "2|null|null"}));
}

TEST_F(AlterSecurityTableTest, SecondRunDoesNothing) {
  Build(SecurityScript("(1, '/srv', 'd', 't')"));
  ASSERT_TRUE(AlterSecurityTable(sources_->connector(), message_));

  EXPECT_TRUE(Alter());
  EXPECT_TRUE(recorder_->statements().empty());
  EXPECT_EQ(Users(), (Rows{"1|'d'|'t'", "2|'d'|'t'"}));
}

TEST_F(AlterSecurityTableTest, TimeFormatWithoutDateFormatFailsAfterTryingEverything) {
  Build(SecurityScript("(1, '/srv', 'd', 't')", ", TimeFormat TEXT(50)"));

  EXPECT_FALSE(Alter());
  ExpectFailedAndRolledBack();
  // The failed second ALTER stops neither the SELECT nor the UPDATE.
  EXPECT_EQ(recorder_->statements().size(), 4u);
  EXPECT_EQ(recorder_->events().back(), "1: Close");
  EXPECT_EQ(SecuritySelect(sources_->connector(), "Users", {"UserID", "TimeFormat"}, "UserID"),
            (Rows{"1|null", "2|null"}));
}

TEST_F(AlterSecurityTableTest, NullFormatCannotBeReadAndFails) {
  Build(SecurityScript("(1, '/srv', 'yyyy/mm/dd', NULL)"));

  EXPECT_FALSE(Alter());
  ExpectFailedAndRolledBack();
}

TEST_F(AlterSecurityTableTest, ApostropheInAFormatBreaksTheUpdateAndFails) {
  Build(SecurityScript("(1, '/srv', 'dd''mm', 'hh:mm')"));

  EXPECT_FALSE(Alter());
  ExpectFailedAndRolledBack();
  EXPECT_EQ(recorder_->statements().back(),
            "UPDATE Users SET DateFormat='dd'mm', TimeFormat='hh:mm'");
}

TEST_F(AlterSecurityTableTest, FailedSelectStillTriesTheUpdateThenFails) {
  Build(SecurityScript("(1, '/srv', 'd', 't')"));
  recorder_->FailStatement("SELECT DateFormat, TimeFormat FROM GlobalPref");

  EXPECT_FALSE(Alter());
  ExpectFailedAndRolledBack();
  EXPECT_EQ(recorder_->statements().size(), 4u);
}

TEST_F(AlterSecurityTableTest, UnreadableColumnLookupFails) {
  Build(SecurityScript("(1, '/srv', 'd', 't')"));
  recorder_->FailColumnNames("Users");

  EXPECT_FALSE(Alter());
  ExpectFailedAndRolledBack();
}

TEST_F(AlterSecurityTableTest, ConnectionThatCannotOpenFails) {
  Build(SecurityScript("(1, '/srv', 'd', 't')"));
  recorder_->FailOpen(1);

  EXPECT_FALSE(Alter());
  ExpectFailedAndRolledBack();
}

}  // namespace
}  // namespace qv::migration::testing

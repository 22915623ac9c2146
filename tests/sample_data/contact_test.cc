// The contact sample data: two companies with two contacts each, the
// business-type names, the group name and the station stamp, in both
// languages; what makes the module roll back; all-or-nothing.
#include <gtest/gtest.h>

#include <string>

#include "sample_data/module_fixture.h"

namespace qv::sample_data {
namespace {

constexpr const char* kCompanyColumns =
    "CompanyName, BizTypeID, Address1, Address2, City, Province, Country, PostalCode, Phone1, "
    "Phone2, Fax, Email, Web, OwnerID, StaffID, Furigana, Visible, StationID, AddressDisplay, "
    "SAddressDisplay";
constexpr const char* kContactColumns =
    "CompanyID, Salutation, FirstName, LastName, Sex, Title, Department, Division, Address1, "
    "Address2, City, Province, Country, PostalCode, WorkPhone, HomePhone, Fax, Cell, Email, "
    "OwnerID, AddressDisplay, HAddressDisplay, NameDisplay, FullName, FirstKana, LastKana, "
    "Visible, StationID";

class ContactTest : public ModuleFixture {
 protected:
  Rows Companies(const std::string& where = "CompanyID > 3") const {
    return Query(std::string("SELECT ") + kCompanyColumns + " FROM Company WHERE " + where +
                 " ORDER BY CompanyID");
  }
  Rows Contacts(const std::string& where = "ContactID > 5") const {
    return Query(std::string("SELECT ") + kContactColumns + " FROM Contact WHERE " + where +
                 " ORDER BY ContactID");
  }
  Rows BusinessTypes() const {
    return Query("SELECT BizTypeID, BizTypeName, Description FROM BusinessType ORDER BY BizTypeID");
  }
  void ExpectNothingWritten() const {
    EXPECT_EQ(Count("Company"), "3");
    EXPECT_EQ(Count("Contact"), "5");
    EXPECT_EQ(Value("SELECT BizTypeName FROM BusinessType WHERE BizTypeID = 1"), "Business Type 1");
    EXPECT_EQ(Query("SELECT GroupName, StationID FROM Groups"), (Rows{{"Everyone", "1"}}));
  }
};

TEST_F(ContactTest, EnglishCompaniesAndContactsLandWithEveryField) {
  ASSERT_TRUE(Run(Contact::InsertSampleData, "1"));
  EXPECT_EQ(Companies(), (Rows{
                             {"Geo Satellite Systems Inc",
                              "1",
                              "3200 Industrial Way",
                              "",
                              "Chicago",
                              "Illinois",
                              "United States",
                              "45102",
                              "555-555-5555",
                              "555-555-6655",
                              "555-555-6565",
                              "info@geosatellite.example",
                              "http://www.geosatellite.example",
                              "1",
                              "1",
                              "Geo Satellite Systems Inc",
                              "1",
                              "1",
                              "1",
                              "1"},
                             {"Unity Corporation",
                              "2",
                              "#2800, 1900 Park Avenue South",
                              "",
                              "New York",
                              "New York",
                              "United States",
                              "52001",
                              "212-555-1234",
                              "212-555-1221",
                              "212-555-4444",
                              "info@unitycorp.example",
                              "http://www.unitycorp.example",
                              "1",
                              "1",
                              "Unity Corporation",
                              "1",
                              "1",
                              "1",
                              "1"},
                         }));
  const Rows contacts = Contacts();
  ASSERT_EQ(contacts.size(), 4u);
  EXPECT_EQ(contacts[2], (std::vector<std::string>{"5",
                                                   "Ms.",
                                                   "Karen",
                                                   "Finch",
                                                   "1",
                                                   "Director of Marketing",
                                                   "Public Relations",
                                                   "Marketing & Sales",
                                                   "#2800, 1900 Park Avenue South",
                                                   "",
                                                   "New York",
                                                   "New York",
                                                   "United States",
                                                   "52001",
                                                   "212-555-1234",
                                                   "212-555-7275",
                                                   "212-555-4444",
                                                   "212-555-1919",
                                                   "kfinch@unitycorp.example",
                                                   "1",
                                                   "1",
                                                   "1",
                                                   "1",
                                                   "Karen Finch",
                                                   "Karen",
                                                   "Finch",
                                                   "1",
                                                   "1"}));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(ContactTest, JapaneseRecordsKeepTheirOwnAddressTexts) {
  ASSERT_TRUE(Run(Contact::InsertSampleData, "2"));
  EXPECT_EQ(Companies("CompanyID = 5"), (Rows{{"株式会社ユニティ",
                                               "2",
                                               "赤坂 3-350",
                                               "赤坂パークヒル37階",
                                               "港区",
                                               "東京都",
                                               "日本",
                                               "110-0001",
                                               "03-3555-1234",
                                               "03-3555-1221",
                                               "03-3555-4444",
                                               "info@unity.example.jp",
                                               "http://www.unity.example.jp",
                                               "1",
                                               "1",
                                               "ゆにてぃ",
                                               "1",
                                               "1",
                                               "2",
                                               "2"}}));
  // The contacts of the second company write the street without the blank.
  EXPECT_EQ(Contacts("ContactID = 8"), (Rows{{"5",
                                              "",
                                              "美咲",
                                              "中川",
                                              "1",
                                              "マーケティングリーダー",
                                              "第2営業課",
                                              "法人部",
                                              "赤坂3-350",
                                              "赤坂パークヒル37階",
                                              "港区",
                                              "東京都",
                                              "日本",
                                              "110-0001",
                                              "03-3555-1234",
                                              "03-5991-4321",
                                              "03-3555-1221",
                                              "030-3555-4444",
                                              "mnakagawa@unity.example.jp",
                                              "1",
                                              "2",
                                              "2",
                                              "2",
                                              "中川美咲",
                                              "みさき",
                                              "なかがわ",
                                              "1",
                                              "1"}}));
  EXPECT_EQ(
      Query("SELECT CompanyName, Furigana, Address2 FROM Company WHERE CompanyID = 4"),
      (Rows{{"ジオ サテライト システム株式会社", "じおさてらいとしすてむ", "第2中央ビル24階"}}));
  EXPECT_EQ(Query("SELECT FullName, FirstKana, LastKana, Salutation FROM Contact "
                  "WHERE ContactID > 5 ORDER BY ContactID"),
            (Rows{{"大森健一", "けんいち", "おおもり", ""},
                  {"藤沢修平", "しゅうへい", "ふじさわ", ""},
                  {"中川美咲", "みさき", "なかがわ", ""},
                  {"西村浩", "ひろし", "にしむら", ""}}));
}

TEST_F(ContactTest, ContactsLinkToTheCompanyAddedBeforeThem) {
  Exec("UPDATE sqlite_sequence SET seq = 40000 WHERE name = 'Company'");
  // The company key is held as read: a key beyond 16 bits links as well.
  ASSERT_TRUE(Run(Contact::InsertSampleData, "1"));
  EXPECT_EQ(Query("SELECT CompanyID, LastName FROM Contact WHERE ContactID > 5 "
                  "ORDER BY ContactID"),
            (Rows{{"40001", "Bergen"},
                  {"40001", "Van Der Meer"},
                  {"40002", "Finch"},
                  {"40002", "Whitfield"}}));
  EXPECT_EQ(Query("SELECT CompanyID, CompanyName FROM Company WHERE CompanyID > 3 "
                  "ORDER BY CompanyID"),
            (Rows{{"40001", "Geo Satellite Systems Inc"}, {"40002", "Unity Corporation"}}));
}

TEST_F(ContactTest, BusinessTypesAreNamedByTheirOwnKey) {
  ASSERT_TRUE(Run(Contact::InsertSampleData, "1"));
  EXPECT_EQ(BusinessTypes(), (Rows{{"1", "Supplier", "Provide company with products or services"},
                                   {"2", "Customer", "Company our organization supplies"},
                                   {"3", "Supplier and Customer", "Both Supplier and Customer"},
                                   {"4", "Client", ""},
                                   {"5", "Associates", "Company Associates"},
                                   {"6", "Other", "Other"}}));
}

TEST_F(ContactTest, JapaneseBusinessTypesFollowTheKeysNotTheRowOrder) {
  // Rows in another order than their keys still get the name of their key.
  Exec(
      "DELETE FROM BusinessType WHERE BizTypeID IN (2, 5);"
      "INSERT INTO BusinessType (BizTypeID, BizTypeName, Description, StationID) VALUES "
      "(5, 'x', 'x', 1), (2, 'y', 'y', 1)");
  ASSERT_TRUE(Run(Contact::InsertSampleData, "2"));
  EXPECT_EQ(BusinessTypes(), (Rows{{"1", "供給元", "製品やサービスの提供元"},
                                   {"2", "販売先", "製品やサービスの販売先"},
                                   {"3", "供給元・販売先", "製品やサービスの提供元兼販売先"},
                                   {"4", "クライアント", ""},
                                   {"5", "関連会社", "関連会社"},
                                   {"6", "その他", "その他"}}));
  EXPECT_EQ(Query("SELECT GroupName, Visible FROM Groups"), (Rows{{"スタッフ", "1"}}));
}

TEST_F(ContactTest, StationAndGroupNameReachEveryRowOldAndNew) {
  Exec("INSERT INTO Groups (GroupName, Visible, StationID) VALUES ('Sales', 0, 1)");
  ASSERT_TRUE(Run(Contact::InsertSampleData, "1", "42"));
  EXPECT_EQ(Query("SELECT GroupName, Visible, StationID FROM Groups ORDER BY GroupID"),
            (Rows{{"Staff", "1", "42"}, {"Staff", "1", "42"}}));
  for (const char* table : {"Company", "Contact", "BusinessType"}) {
    EXPECT_EQ(Query(std::string("SELECT DISTINCT StationID FROM ") + table), (Rows{{"42"}}))
        << table;
  }
  EXPECT_EQ(Count("Company"), "5");
  EXPECT_EQ(Count("Contact"), "9");
}

TEST_F(ContactTest, BusinessTypeWithoutANameRollsEverythingBack) {
  Exec(
      "INSERT INTO BusinessType (BizTypeID, BizTypeName, Description, StationID) "
      "VALUES (7, 'Seventh', '', 1)");
  EXPECT_FALSE(Run(Contact::InsertSampleData, "1"));
  ExpectNothingWritten();
  EXPECT_EQ(Value("SELECT BizTypeName FROM BusinessType WHERE BizTypeID = 7"), "Seventh");
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(ContactTest, StationThatIsNotANumberRollsBack) {
  EXPECT_FALSE(Run(Contact::InsertSampleData, "1", "x"));
  ExpectNothingWritten();
}

TEST_F(ContactTest, LanguageOtherThanOneOrTwoLeavesNumbersEmptyAndIsRefused) {
  // Every value of a record comes from the texts of the language, numbers
  // included; empty texts do not go into the numeric columns.
  for (const char* language : {"3", " 1", "01", ""}) {
    EXPECT_FALSE(Run(Contact::InsertSampleData, language)) << language;
    ExpectNothingWritten();
  }
}

TEST_F(ContactTest, EveryFailingOperationLeavesTheDatabaseAsItWas) {
  ExpectAllOrNothing(Contact::InsertSampleData, "1", "Company", "CompanyID", 3);
}

}  // namespace
}  // namespace qv::sample_data

// Contact sample data: two companies with two contacts each, names for the
// six business types and the user groups, and the run's station identifier
// stamped on every company, contact, business-type and group row.
//
// The records are lists of texts, numbers included: the database converts
// them on assignment. A value's position in its list decides its field.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "db/db_error.h"
#include "sample_data/modules.h"

namespace qv::sample_data::Contact {
namespace {

// CompanyName, BizTypeID,
// Address1, Address2, City, Province, Country, PostalCode,
// Phone1, Phone2, Fax,
// Email, Web,
// OwnerID, StaffID, Furigana,
// AddressDisplay, SAddressDisplay
using CompanyRecord = std::array<std::string_view, 18>;

// Salutation, FirstName, LastName, Sex,
// Title, Department, Division,
// Address1, Address2, City, Province, Country, PostalCode,
// WorkPhone, HomePhone, Fax, Cell,
// Email, OwnerID,
// AddressDisplay, HAddressDisplay, NameDisplay,
// FullName, FirstKana, LastKana
using ContactRecord = std::array<std::string_view, 25>;

struct BusinessType {
  std::string_view name;
  std::string_view description;
};

struct SampleTexts {
  std::array<CompanyRecord, 2> companies;
  std::array<ContactRecord, 4> contacts;      // two per company, in company order
  std::array<BusinessType, 6> businessTypes;  // by BizTypeID, counted from 1
  std::string_view groupName;
};

constexpr std::size_t kContactsPerCompany = 2;

// clang-format off
constexpr SampleTexts kEnglish = {
    {{
        {{"Geo Satellite Systems Inc", "1",
          "3200 Industrial Way", "", "Chicago", "Illinois", "United States", "45102",
          "555-555-5555", "555-555-6655", "555-555-6565",
          "info@geosatellite.example", "http://www.geosatellite.example",
          "1", "1", "Geo Satellite Systems Inc",
          "1", "1"}},
        {{"Unity Corporation", "2",
          "#2800, 1900 Park Avenue South", "", "New York", "New York", "United States", "52001",
          "212-555-1234", "212-555-1221", "212-555-4444",
          "info@unitycorp.example", "http://www.unitycorp.example",
          "1", "1", "Unity Corporation",
          "1", "1"}},
    }},
    {{
        {{"Mr.", "Martin", "Bergen", "0",
          "Sales Engineer", "", "",
          "3200 Industrial Way", "", "Chicago", "Illinois", "United States", "45102",
          "555-555-5555", "555-555-3333", "555-555-6565", "555-555-3414",
          "mbergen@geosatellite.example", "1",
          "1", "1", "1",
          "Martin Bergen", "Martin", "Bergen"}},
        {{"Mr.", "Rafael", "Van Der Meer", "0",
          "President", "", "",
          "3200 Industrial Way", "", "Chicago", "Illinois", "United States", "45102",
          "555-555-5555", "555-555-3333", "555-555-6565", "555-555-6000",
          "rvandermeer@geosatellite.example", "1",
          "1", "1", "1",
          "Rafael Van Der Meer", "Rafael", "Van Der Meer"}},
        {{"Ms.", "Karen", "Finch", "1",
          "Director of Marketing", "Public Relations", "Marketing & Sales",
          "#2800, 1900 Park Avenue South", "", "New York", "New York", "United States", "52001",
          "212-555-1234", "212-555-7275", "212-555-4444", "212-555-1919",
          "kfinch@unitycorp.example", "1",
          "1", "1", "1",
          "Karen Finch", "Karen", "Finch"}},
        {{"Mr.", "Martin", "Whitfield", "0",
          "Director of Communications", "Public Relations", "Marketing & Sales",
          "#2800, 1900 Park Avenue South", "", "New York", "New York", "United States", "52001",
          "212-555-1234", "212-555-1258", "212-555-4444", "212-555-2897",
          "mwhitfield@unitycorp.example", "1",
          "1", "1", "1",
          "Martin Whitfield", "Martin", "Whitfield"}},
    }},
    {{
        {"Supplier", "Provide company with products or services"},  // 1
        {"Customer", "Company our organization supplies"},  // 2
        {"Supplier and Customer", "Both Supplier and Customer"},  // 3
        {"Client", ""},  // 4
        {"Associates", "Company Associates"},  // 5
        {"Other", "Other"},  // 6
    }},
    "Staff",
};

constexpr SampleTexts kJapanese = {
    {{
        {{"ジオ サテライト システム株式会社", "1",
          "吉祥寺 2-9-1", "第2中央ビル24階", "武蔵野市", "東京", "日本", "111-1111",
          "0482-55-5555", "0482-55-6655", "0482-555-6565",
          "info@geosatellite.example.jp", "http://www.geosatellite.example.jp",
          "1", "1", "じおさてらいとしすてむ",
          "2", "2"}},
        {{"株式会社ユニティ", "2",
          "赤坂 3-350", "赤坂パークヒル37階", "港区", "東京都", "日本", "110-0001",
          "03-3555-1234", "03-3555-1221", "03-3555-4444",
          "info@unity.example.jp", "http://www.unity.example.jp",
          "1", "1", "ゆにてぃ",
          "2", "2"}},
    }},
    {{
        {{"", "健一", "大森", "0",
          "プログラマ", "", "",
          "吉祥寺 2-9-1", "第2中央ビル24階", "武蔵野市", "東京", "日本", "111-1111",
          "0482-55-5555", "0487-35-9876", "0482-55-6655", "0482-555-6565",
          "komori@geosatellite.example.jp", "1",
          "2", "2", "2",
          "大森健一", "けんいち", "おおもり"}},
        {{"", "修平", "藤沢", "0",
          "営業", "", "",
          "吉祥寺 2-9-1", "第2中央ビル24階", "武蔵野市", "東京", "日本", "111-1111",
          "0482-55-5555", "045-335-7788", "0482-55-6655", "0482-555-6565",
          "sfujisawa@geosatellite.example.jp", "1",
          "2", "2", "2",
          "藤沢修平", "しゅうへい", "ふじさわ"}},
        {{"", "美咲", "中川", "1",
          "マーケティングリーダー", "第2営業課", "法人部",
          "赤坂3-350", "赤坂パークヒル37階", "港区", "東京都", "日本", "110-0001",
          "03-3555-1234", "03-5991-4321", "03-3555-1221", "030-3555-4444",
          "mnakagawa@unity.example.jp", "1",
          "2", "2", "2",
          "中川美咲", "みさき", "なかがわ"}},
        {{"", "浩", "西村", "0",
          "経営企画室室長", "経営企画室", "経営企画本部",
          "赤坂3-350", "赤坂パークヒル37階", "港区", "東京都", "日本", "110-0001",
          "03-3555-1234", "048-334-1234", "03-3555-1221", "010-5533-6654",
          "hnishimura@unity.example.jp", "1",
          "2", "2", "2",
          "西村浩", "ひろし", "にしむら"}},
    }},
    {{
        {"供給元", "製品やサービスの提供元"},  // 1
        {"販売先", "製品やサービスの販売先"},  // 2
        {"供給元・販売先", "製品やサービスの提供元兼販売先"},  // 3
        {"クライアント", ""},  // 4
        {"関連会社", "関連会社"},  // 5
        {"その他", "その他"},  // 6
    }},
    "スタッフ",
};
// clang-format on

// A language that is neither takes no texts: every value stays empty, and
// the database decides whether it takes such records.
constexpr SampleTexts kNeither{};

const SampleTexts& TextsFor(Language language) {
  switch (language) {
    case Language::kEnglish:
      return kEnglish;
    case Language::kJapanese:
      return kJapanese;
    case Language::kNeither:
      break;
  }
  return kNeither;
}

db::Value Txt(std::string_view text) {
  return db::Value(std::string(text));
}

std::vector<FieldValue> CompanyFields(const CompanyRecord& c, const std::string& station) {
  return {
      {"CompanyName", Txt(c[0])},
      {"BizTypeID", Txt(c[1])},
      {"Address1", Txt(c[2])},
      {"Address2", Txt(c[3])},
      {"City", Txt(c[4])},
      {"Province", Txt(c[5])},
      {"Country", Txt(c[6])},
      {"PostalCode", Txt(c[7])},
      {"Phone1", Txt(c[8])},
      {"Phone2", Txt(c[9])},
      {"Fax", Txt(c[10])},
      {"Email", Txt(c[11])},
      {"Web", Txt(c[12])},
      {"OwnerID", Txt(c[13])},
      {"StaffID", Txt(c[14])},
      {"Furigana", Txt(c[15])},
      {"Visible", 1},
      {"StationID", station},
      {"AddressDisplay", Txt(c[16])},
      {"SAddressDisplay", Txt(c[17])},
  };
}

std::vector<FieldValue> ContactFields(const ContactRecord& c, const db::Value& companyId,
                                      const std::string& station) {
  return {
      {"Salutation", Txt(c[0])},   {"FirstName", Txt(c[1])},       {"LastName", Txt(c[2])},
      {"Sex", Txt(c[3])},          {"Title", Txt(c[4])},           {"Department", Txt(c[5])},
      {"Division", Txt(c[6])},     {"Address1", Txt(c[7])},        {"Address2", Txt(c[8])},
      {"City", Txt(c[9])},         {"Province", Txt(c[10])},       {"Country", Txt(c[11])},
      {"PostalCode", Txt(c[12])},  {"WorkPhone", Txt(c[13])},      {"HomePhone", Txt(c[14])},
      {"Fax", Txt(c[15])},         {"Cell", Txt(c[16])},           {"Email", Txt(c[17])},
      {"OwnerID", Txt(c[18])},     {"AddressDisplay", Txt(c[19])}, {"HAddressDisplay", Txt(c[20])},
      {"NameDisplay", Txt(c[21])}, {"FullName", Txt(c[22])},       {"FirstKana", Txt(c[23])},
      {"LastKana", Txt(c[24])},    {"CompanyID", companyId},       {"Visible", 1},
      {"StationID", station},
  };
}

// The business type at position `bizTypeId` (1 to 6); any other number has
// no name.
const BusinessType& ByPosition(const SampleTexts& texts, int bizTypeId) {
  if (bizTypeId < 1 || bizTypeId > static_cast<int>(texts.businessTypes.size())) {
    throw db::DbError::SubscriptOutOfRange();
  }
  return texts.businessTypes[bizTypeId - 1];
}

// The business-type rows exist already: each row's own BizTypeID picks its
// name and description. Each statement stands alone, so a row without a
// name fails its assignments and the walk still goes on.
void NameBusinessTypes(ModuleRun& run, const SampleTexts& texts) {
  RowSet& businessTypes = run.Open("BusinessType");
  int16_t bizTypeId = 0;
  run.Walk(businessTypes, [&](db::Recordset& row) {
    run.Try([&] { bizTypeId = row.Field("BizTypeID").AsInt16(); });
    run.Try([&] { row.SetField("BizTypeName", Txt(ByPosition(texts, bizTypeId).name)); });
    run.Try([&] { row.SetField("Description", Txt(ByPosition(texts, bizTypeId).description)); });
    run.Try([&] { row.Update(); });
    return true;
  });
}

}  // namespace

bool InsertSampleData(const ModuleEnv& env, const SampleArgs& args) {
  ModuleRun run(env, args);
  const SampleTexts& texts = TextsFor(run.language());
  const std::string& station = run.station();

  run.Begin();
  RowSet& contacts = run.Open("Contact");
  RowSet& companies = run.Open("Company");
  for (std::size_t company = 0; company < texts.companies.size(); ++company) {
    run.AddRecord(companies, CompanyFields(texts.companies[company], station));
    // The contacts link to the key as it was read, whatever its size.
    const db::Value companyId(run.ReadLastKey(companies, "CompanyID"));
    for (std::size_t contact = company * kContactsPerCompany;
         contact < (company + 1) * kContactsPerCompany; ++contact) {
      run.AddRecord(contacts, ContactFields(texts.contacts[contact], companyId, station));
    }
  }
  run.Send(companies);

  NameBusinessTypes(run, texts);

  // No WHERE clause: every row, old or new, takes the values.
  run.Execute("UPDATE Groups SET GroupName = '" + std::string(texts.groupName) + "'," +
              " Visible = 1, StationID = " + station);
  run.Execute("UPDATE Company SET StationID = " + station);
  run.Execute("UPDATE Contact SET StationID = " + station);
  run.Execute("UPDATE BusinessType SET StationID = " + station);

  return run.Finish(FailureBox::kNone);
}

}  // namespace qv::sample_data::Contact

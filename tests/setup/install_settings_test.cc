#include "setup/install_settings.h"

#include <gtest/gtest.h>

#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "fakes.h"
#include "setup/registry_file_store.h"
#include "support/scoped_temp_dir.h"
#include "timezone/clock.h"

namespace qv::setup {
namespace {

using testing::WriteFileBytes;

TEST(QuoteSqlTest, DoublesEverySingleQuote) {
  const std::pair<const char*, const char*> cases[] = {
      {"", ""}, {"plain", "plain"}, {"''", "''''"}, {"'a'b'", "''a''b''"}, {"日本's", "日本''s"}};
  for (const auto& [in, out] : cases) EXPECT_EQ(QuoteSQL(in), out) << in;
}

constexpr std::time_t kWinterNoon = 1704196800;  // 2024-01-02 12:00 GMT

class UpdateInstallSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFileBytes(registryPath(),
                   "Windows Registry Editor Version 5.00\n\n"
                   "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion]\n"
                   "\"CompanyName\"=\"Artisan's Guild\"\n"
                   "\"MainDir\"=\"/opt/quorvia\"\n"
                   "\"StorageDir\"=\"/var/lib/o'hara\"\n"
                   "\"MainURL\"=\"http://qv.example/\"\n"
                   "\"DefaultSMTPServer\"=\"smtp.example\"\n"
                   "\"DefaultPOPServer\"=\"pop.example\"\n");
    options_.UserName = "sa";
    options_.DBPassword = "secret";
    options_.Language = "2";
  }
  std::string registryPath() const { return (dir_.path() / "registry.reg").string(); }

  std::vector<std::string> Run() {
    RegistryFileStore registry(registryPath(), diagnostics_);
    EXPECT_TRUE(UpdateInstallSettings(registry, connector_, clock_, options_, stepMessage_));
    std::vector<std::string> out;
    for (const auto& e : connector_.executed)
      out.push_back(e.connectionString + " | " + e.statement);
    return out;
  }

  testing::ScopedTempDir dir_;
  testing::ScopedTimeZone tz_{"Asia/Tokyo"};
  timezone::FixedClock clock_{kWinterNoon};
  testing::RecordingConnector connector_;
  SetupOptions options_;
  std::string stepMessage_ = "before";
  std::ostringstream diagnostics_;
};

TEST_F(UpdateInstallSettingsTest, SendsTheFourStatementsByteForByte) {
  EXPECT_EQ(
      Run(),
      (std::vector<std::string>{
          "qv_security | UPDATE GlobalPref SET MainDir = '/opt/quorvia', StorageDir"
          "  = '/var/lib/o''hara', MainURL     = 'http://qv.example/', LanguageID"
          "  = 2, GMTTimeOffset = 9",
          "qv_main | UPDATE  EmailAdmin  SET     DefaultSMTPServer    = 'smtp.example', "
          "DefaultPOPServer     = 'pop.example'",
          "qv_security | UPDATE Install SET InstallFlag = 1",
          "qv_main | UPDATE Company SET CompanyName = 'Artisan''s Guild'  WHERE CompanyID = 1",
      }));
  ASSERT_EQ(connector_.opens.size(), 4u);
  for (const auto& open : connector_.opens) EXPECT_EQ(open.user + "/" + open.password, "sa/secret");
  EXPECT_EQ(stepMessage_, "before") << "success leaves the step message alone";
}

TEST_F(UpdateInstallSettingsTest, NegativeOffsetIsWrittenSigned) {
  testing::ScopedTimeZone tz("America/New_York");
  const std::string first = Run().at(0);
  EXPECT_EQ(first.substr(first.rfind(", LanguageID")), ", LanguageID  = 2, GMTTimeOffset = -5");
}

// A registry text that cannot be read is written as the text the read gave.
TEST_F(UpdateInstallSettingsTest, RegistryFailuresAreWrittenAsTheirTexts) {
  WriteFileBytes(registryPath(), "REGEDIT4\n");
  EXPECT_EQ(Run().at(3),
            "qv_main | UPDATE Company SET CompanyName = '1: No Key'  WHERE CompanyID = 1");

  connector_.executed.clear();
  WriteFileBytes(registryPath(), "garbage\n");
  EXPECT_EQ(Run().at(1),
            "qv_main | UPDATE  EmailAdmin  SET     DefaultSMTPServer    = '3: Unexpected Error', "
            "DefaultPOPServer     = '3: Unexpected Error'");
  EXPECT_EQ(diagnostics_.str(),
            "qvsetup: " + registryPath() + ":1: line is neither a key, a value nor a comment\n")
      << "one diagnostic for the whole step";
}

}  // namespace
}  // namespace qv::setup

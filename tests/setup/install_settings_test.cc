#include "setup/install_settings.h"

#include <gtest/gtest.h>

#include <algorithm>
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

using testing::RecordingConnector;
using testing::WriteFileBytes;

TEST(QuoteSqlTest, DoublesEverySingleQuote) {
  EXPECT_EQ(QuoteSQL(""), "");
  EXPECT_EQ(QuoteSQL("plain"), "plain");
  EXPECT_EQ(QuoteSQL("Artisan's Guild"), "Artisan''s Guild");
  EXPECT_EQ(QuoteSQL("''"), "''''");
  EXPECT_EQ(QuoteSQL("'a'b'"), "''a''b''");
  EXPECT_EQ(QuoteSQL("日本's"), "日本''s");
}

// 2 January 2024, 12:00 GMT: winter on the northern half.
constexpr std::time_t kWinterNoon = 1704196800;

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

  bool Run() {
    RegistryFileStore registry(registryPath(), diagnostics_);
    return UpdateInstallSettings(registry, connector_, clock_, options_, stepMessage_);
  }

  std::vector<std::string> Statements() const {
    std::vector<std::string> out;
    for (const auto& e : connector_.executed) out.push_back(e.connectionString + " | " + e.statement);
    return out;
  }

  testing::ScopedTempDir dir_;
  testing::ScopedTimeZone tz_{"Asia/Tokyo"};
  timezone::FixedClock clock_{kWinterNoon};
  RecordingConnector connector_;
  SetupOptions options_;
  std::string stepMessage_ = "before";
  std::ostringstream diagnostics_;
};

TEST_F(UpdateInstallSettingsTest, SendsTheFourStatementsExactlyAndCommitsEach) {
  ASSERT_TRUE(Run());
  EXPECT_EQ(Statements(),
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
  for (const auto& open : connector_.opens) {
    EXPECT_EQ(open.user, "sa");
    EXPECT_EQ(open.password, "secret");
  }
  EXPECT_EQ(stepMessage_, "before") << "success leaves the step message alone";
}

TEST_F(UpdateInstallSettingsTest, NegativeOffsetIsWrittenSigned) {
  testing::ScopedTimeZone tz("America/New_York");
  ASSERT_TRUE(Run());
  const std::string& first = connector_.executed.at(0).statement;
  EXPECT_EQ(first.substr(first.rfind(", LanguageID")), ", LanguageID  = 2, GMTTimeOffset = -5");
}

TEST_F(UpdateInstallSettingsTest, MissingProductKeyWritesTheNoKeyText) {
  WriteFileBytes(registryPath(), "REGEDIT4\n");
  ASSERT_TRUE(Run());
  EXPECT_EQ(connector_.executed.at(3).statement,
            "UPDATE Company SET CompanyName = '1: No Key'  WHERE CompanyID = 1");
}

TEST_F(UpdateInstallSettingsTest, UnusableRegistryWritesTheUnexpectedErrorText) {
  WriteFileBytes(registryPath(), "garbage\n");
  ASSERT_TRUE(Run());
  EXPECT_EQ(connector_.executed.at(1).statement,
            "UPDATE  EmailAdmin  SET     DefaultSMTPServer    = '3: Unexpected Error', "
            "DefaultPOPServer     = '3: Unexpected Error'");
  // One diagnostic for the whole step, not one per value.
  const std::string diagnostics = diagnostics_.str();
  EXPECT_EQ(std::count(diagnostics.begin(), diagnostics.end(), '\n'), 1);
}

}  // namespace
}  // namespace qv::setup

#include "setup/install_settings.h"

#include <cstdint>

#include "db/data_sources.h"
#include "db/shared_routines.h"
#include "setup/reg_op.h"
#include "timezone/gmt.h"

namespace qv::setup {

namespace {

// A setting, or the empty text when reading it raised.
std::string GatherSetting(RegistryStore& registry, const char* name) {
  try {
    return QuoteSQL(ReadSetting(registry, name));
  } catch (...) {
    return "";
  }
}

int32_t GatherOffset(const timezone::Clock& clock) {
  try {
    timezone::LocalTZone zone(clock);
    std::string zoneName;
    return zone.GetLocalTZ(zoneName);
  } catch (...) {
    return 0;
  }
}

}  // namespace

std::string QuoteSQL(const std::string& text) {
  std::string done;
  done.reserve(text.size());
  for (char c : text) {
    done += c;
    if (c == '\'') done += '\'';
  }
  return done;
}

bool UpdateInstallSettings(RegistryStore& registry, db::Connector& connector,
                           const timezone::Clock& clock, const SetupOptions& options,
                           std::string& stepMessage) {
  const std::string companyName = GatherSetting(registry, "CompanyName");
  const std::string mainDir = GatherSetting(registry, "MainDir");
  const std::string storageDir = GatherSetting(registry, "StorageDir");
  const std::string mainUrl = GatherSetting(registry, "MainURL");
  const std::string smtpServer = GatherSetting(registry, "DefaultSMTPServer");
  const std::string popServer = GatherSetting(registry, "DefaultPOPServer");
  const int32_t offset = GatherOffset(clock);

  auto execute = [&](const char* dataSource, const std::string& statement) {
    return db::ExecuteSQL(connector, options.UserName, options.DBPassword, stepMessage, dataSource,
                          statement);
  };

  // The runs of blanks inside the statements are part of their text.
  if (!execute(db::kSecurityDataSource,
               "UPDATE GlobalPref SET MainDir = '" + mainDir + "', " + "StorageDir  = '" +
                   storageDir + "', " + "MainURL     = '" + mainUrl + "', " + "LanguageID  = " +
                   options.Language + ", " + "GMTTimeOffset = " + std::to_string(offset))) {
    return false;
  }
  if (!execute(db::kMainDataSource, "UPDATE  EmailAdmin  SET     DefaultSMTPServer    = '" +
                                        smtpServer + "', " + "DefaultPOPServer     = '" +
                                        popServer + "'")) {
    return false;
  }
  if (!execute(db::kSecurityDataSource, "UPDATE Install SET InstallFlag = 1")) return false;
  if (!execute(db::kMainDataSource,
               "UPDATE Company SET CompanyName = '" + companyName + "'  WHERE CompanyID = 1")) {
    return false;
  }
  return true;
}

}  // namespace qv::setup

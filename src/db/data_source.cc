#include "db/data_source.h"

#include <filesystem>
#include <system_error>

#include "db/db_error.h"
#include "db/names.h"

namespace qv::db {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// A value ends where a comment starts: ';' or '#' after a blank.
std::string_view StripTrailingComment(std::string_view value) {
  for (size_t i = 1; i < value.size(); ++i) {
    if ((value[i] == ';' || value[i] == '#') && (value[i - 1] == ' ' || value[i - 1] == '\t')) {
      return value.substr(0, i);
    }
  }
  return value;
}

// Only a regular file (through links) counts: a FIFO, a device or a folder
// in the data-source file's place cannot be read as one, and a FIFO would
// block the read.
bool FileExists(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

}  // namespace

std::optional<std::string> OdbcSection::Get(std::string_view key) const {
  for (const auto& [name, value] : entries) {
    if (EqualsNoCase(name, key)) return value;
  }
  return std::nullopt;
}

std::vector<OdbcSection> ParseOdbcIni(std::string_view text) {
  std::vector<OdbcSection> sections;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      size_t close = line.find(']');
      std::string_view name =
          line.substr(1, close == std::string_view::npos ? line.npos : close - 1);
      sections.push_back(OdbcSection{std::string(Trim(name)), {}});
      continue;
    }
    size_t equals = line.find('=');
    if (equals == std::string_view::npos || sections.empty()) continue;
    std::string_view key = Trim(line.substr(0, equals));
    std::string_view value = Trim(StripTrailingComment(line.substr(equals + 1)));
    if (!key.empty()) sections.back().entries.emplace_back(key, value);
  }
  return sections;
}

const OdbcSection* FindDataSource(const std::vector<OdbcSection>& sections,
                                  std::string_view dataSource) {
  for (const OdbcSection& section : sections) {
    if (EqualsNoCase(section.name, dataSource)) return &section;
  }
  return nullptr;
}

std::string LocateOdbcIni(const char* odbcIniEnv, const char* homeEnv,
                          const std::string& systemFile) {
  if (odbcIniEnv != nullptr && *odbcIniEnv != '\0') {
    std::string named = odbcIniEnv;
    if (!FileExists(named)) {
      throw DbError(kErrDataSource,
                    "The data-source file " + named +
                        " named by ODBCINI does not exist or is not a regular file");
    }
    return named;
  }
  std::string tried;
  if (homeEnv != nullptr && *homeEnv != '\0') {
    std::string user = std::string(homeEnv) + "/.odbc.ini";
    if (FileExists(user)) return user;
    tried = user + " nor ";
  }
  if (FileExists(systemFile)) return systemFile;
  throw DbError(kErrDataSource,
                "No data-source file found: neither " + tried + systemFile + " exists");
}

ConnectionString ParseConnectionString(const std::string& text) {
  ConnectionString result;
  std::string_view rest = text;
  if (rest.find('=') == std::string_view::npos) {
    result.dataSource = std::string(Trim(rest));
  } else {
    while (!rest.empty()) {
      size_t end = rest.find(';');
      std::string_view pair = rest.substr(0, end);
      rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
      size_t equals = pair.find('=');
      if (equals == std::string_view::npos) continue;
      std::string_view key = Trim(pair.substr(0, equals));
      std::string value(Trim(pair.substr(equals + 1)));
      if (EqualsNoCase(key, "Data Source") || EqualsNoCase(key, "DSN")) {
        result.dataSource = value;
      } else if (EqualsNoCase(key, "Provider")) {
        result.provider = value;
      } else if (EqualsNoCase(key, "User ID") || EqualsNoCase(key, "UID")) {
        result.userId = value;
      } else if (EqualsNoCase(key, "Password") || EqualsNoCase(key, "PWD")) {
        result.password = value;
      }
    }
  }
  if (result.dataSource.empty()) {
    throw DbError(kErrDataSource, "No data source named in the connection string \"" + text + "\"");
  }
  return result;
}

}  // namespace qv::db

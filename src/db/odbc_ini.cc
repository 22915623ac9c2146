#include "db/odbc_ini.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "base/names.h"
#include "base/unique_fd.h"
#include "db/db_error.h"

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

// Reads the whole file: nullopt when nothing is there. Anything but a
// regular file is refused as unreadable: opening a FIFO for reading would
// wait for a writer forever, so the open does not block and the type is
// checked on the open descriptor (a check by name before the open could be
// raced).
std::optional<std::string> ReadFileIfThere(const std::string& path) {
  auto unreadable = [&path] {
    return DbError(kErrUnspecified, "The data-source file " + path + " cannot be read");
  };
  UniqueFd owner(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  const int fd = owner.get();
  if (fd < 0 && errno == ENOENT) return std::nullopt;
  if (fd < 0) throw unreadable();
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) throw unreadable();
  std::string text;
  char buffer[16384];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw unreadable();
    if (n == 0) return text;
    text.append(buffer, static_cast<size_t>(n));
  }
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
    std::string_view value = Trim(line.substr(equals + 1));
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

OdbcFiles LocateOdbcFiles(const char* odbcIniEnv, const char* homeEnv, const char* odbcSysIniEnv) {
  OdbcFiles files;
  if (odbcIniEnv != nullptr && *odbcIniEnv != '\0') {
    files.userFile = odbcIniEnv;
    files.userFileNamed = true;
  } else if (homeEnv != nullptr && *homeEnv != '\0') {
    files.userFile = std::string(homeEnv) + "/.odbc.ini";
  }
  const std::string systemDir =
      odbcSysIniEnv != nullptr && *odbcSysIniEnv != '\0' ? odbcSysIniEnv : "/etc";
  files.systemFile = systemDir + "/odbc.ini";
  files.driversFile = systemDir + "/odbcinst.ini";
  return files;
}

FoundDataSource LookUpDataSource(const OdbcFiles& files, const std::string& name) {
  std::string read, missing;
  for (const std::string* file : {&files.userFile, &files.systemFile}) {
    if (file->empty()) continue;
    const std::optional<std::string> text = ReadFileIfThere(*file);
    if (!text && file == &files.userFile && files.userFileNamed) {
      throw DbError(kErrUnspecified,
                    "The data-source file " + *file +
                        " named by ODBCINI does not exist or is not a regular file");
    }
    std::string& list = text ? read : missing;
    list += (list.empty() ? "" : " nor ") + *file;
    if (!text) continue;
    const std::vector<OdbcSection> sections = ParseOdbcIni(*text);
    if (const OdbcSection* section = FindDataSource(sections, name)) {
      return FoundDataSource{*section, *file};
    }
  }
  if (read.empty()) {
    const bool two = missing.find(" nor ") != std::string::npos;
    throw DbError(kErrUnspecified,
                  "Data source \"" + name + "\" not found: " +
                      (two ? "neither " + missing + " exists" : missing + " does not exist"));
  }
  throw DbError(kErrUnspecified, "Data source \"" + name + "\" not found in " + read);
}

std::string DriverLibrary(const std::string& driversFile, const std::string& driver) {
  std::optional<std::string> text;
  try {
    text = ReadFileIfThere(driversFile);
  } catch (const DbError&) {
  }
  if (text) {
    const std::vector<OdbcSection> drivers = ParseOdbcIni(*text);
    const OdbcSection* section = FindDataSource(drivers, driver);
    if (section != nullptr && section->Get("Driver")) return *section->Get("Driver");
  }
  return driver;
}

namespace {

// Whether a driver name or library is the server's (true) or the embedded
// engine's (false); nullopt for any other.
std::optional<bool> ServerDriver(const std::string& driver) {
  const std::string lower = LowerAscii(driver);
  if (lower.find("sqlite") != std::string::npos) return false;
  if (lower.find("postgres") != std::string::npos || lower.find("psqlodbc") != std::string::npos)
    return true;
  return std::nullopt;
}

}  // namespace

EngineKind EngineOfDataSource(const OdbcFiles& files, const FoundDataSource& dataSource) {
  const OdbcSection& section = dataSource.section;
  const std::string& name = section.name;
  auto fail = [](const std::string& why) { throw DbError(kErrUnspecified, why); };
  const std::string driver = section.Get("Driver").value_or("");
  if (driver.empty())
    fail("Data source \"" + name + "\" in " + dataSource.file + " names no Driver");
  // The drivers file is read only for a name that does not decide.
  std::optional<bool> server = ServerDriver(driver);
  std::string library;
  if (!server) {
    library = DriverLibrary(files.driversFile, driver);
    server = ServerDriver(library);
  }
  if (!server) {
    fail("Data source \"" + name + "\" uses the driver \"" + driver + "\"" +
         (library != driver ? " (" + library + ")" : "") +
         ", which is not supported: only SQLite and PostgreSQL drivers are");
  }
  if (section.Get("Database").value_or("").empty())
    fail("Data source \"" + name + "\" in " + dataSource.file + " has no Database entry");
  return *server ? EngineKind::kServer : EngineKind::kFiles;
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
      } else if (EqualsNoCase(key, "User ID") || EqualsNoCase(key, "UID")) {
        result.userId = value;
      } else if (EqualsNoCase(key, "Password") || EqualsNoCase(key, "PWD")) {
        result.password = value;
      }
    }
  }
  if (result.dataSource.empty()) {
    throw DbError(kErrUnspecified,
                  "No data source named in the connection string \"" + text + "\"");
  }
  return result;
}

}  // namespace qv::db

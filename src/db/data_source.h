// The data-source lookup: which database a connection string names.
//
// Data sources are sections of an odbc.ini-format file (the file named by
// $ODBCINI, else ~/.odbc.ini, else /etc/odbc.ini):
//
//   [qv_main]
//   Driver   = SQLite3
//   Database = /var/lib/quorvia/db/qv_main.mdb
//   UID      = admin        ; optional
//   PWD      = quillmark    ; optional
//
// A Driver whose name contains "sqlite" selects the embedded engine; the
// Database file must exist (an open never creates one); UID and PWD, when
// present, are the only credentials the open accepts.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/database.h"

namespace qv::db {

// The number of an open that the lookup refuses: a data source that is
// missing, incomplete, of an unsupported driver or given wrong credentials.
// (A database file that the engine cannot open carries the engine's code.)
inline constexpr int32_t kErrDataSource = -2147467259;
inline constexpr int kDefaultBusyTimeoutMs = 5000;

// One [section] of an odbc.ini file.
struct OdbcSection {
  std::string name;
  std::vector<std::pair<std::string, std::string>> entries;  // in file order
  // The value of `key`, matched without regard to case; the first wins.
  std::optional<std::string> Get(std::string_view key) const;
};

// Reads odbc.ini text: [sections], "key = value" lines, comments starting
// with ';' or '#' (also after a value, following a blank), blanks trimmed.
// Lines it cannot read are skipped.
std::vector<OdbcSection> ParseOdbcIni(std::string_view text);

// The section named `dataSource` (without regard to case); the first wins.
const OdbcSection* FindDataSource(const std::vector<OdbcSection>& sections,
                                  std::string_view dataSource);

// The odbc.ini file to read, from the values of $ODBCINI and $HOME (null
// when unset) and the system-wide file: $ODBCINI when set, else the first
// of ~/.odbc.ini and `systemFile` that exists as a regular file. Raises
// DbError when $ODBCINI names a missing file or something other than a
// regular file, or no such file exists.
std::string LocateOdbcIni(const char* odbcIniEnv, const char* homeEnv,
                          const std::string& systemFile);

// A connection string: a bare data-source name, or "key=value;" pairs with
// keys Provider, Data Source or DSN, User ID or UID, Password or PWD
// (without regard to case; other keys are ignored).
struct ConnectionString {
  std::string dataSource;
  std::string provider;
  std::optional<std::string> userId;
  std::optional<std::string> password;
};
// Raises DbError when the string names no data source.
ConnectionString ParseConnectionString(const std::string& text);

// A connector that reads `odbcIniPath` at each Open and lets statements wait
// `busyTimeoutMs` for a lock held elsewhere. MakeDataSourceConnector() of
// database.h is this, with the file located at each Open and 5000 ms.
std::unique_ptr<Connector> MakeDataSourceConnector(const std::string& odbcIniPath,
                                                   int busyTimeoutMs = kDefaultBusyTimeoutMs);

}  // namespace qv::db

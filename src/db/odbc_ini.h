// The data-source lookup: which database a connection string names.
//
// Data sources are found as unixODBC finds them, so that an existing
// unixODBC set-up works unchanged: a section of the user file ($ODBCINI,
// else ~/.odbc.ini) or, when that has none of the name, of the system file
// ($ODBCSYSINI/odbc.ini, else /etc/odbc.ini):
//
//   ; UID and PWD are optional
//   [qv_main]
//   Driver   = SQLite3
//   Database = /var/lib/quorvia/db/qv_main.mdb
//   UID      = admin
//   PWD      = quillmark
//
// Driver is a driver's name from the drivers file ($ODBCSYSINI/odbcinst.ini,
// else /etc/odbcinst.ini) or a driver library's path. A name, or else the
// library it names, containing "sqlite" selects the embedded engine, one
// containing "postgres" or "psqlodbc" the server; the Database file must
// exist (an open never creates one); UID and PWD, when present, are the only
// credentials the open accepts.
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

// One [section] of an odbc.ini file.
struct OdbcSection {
  std::string name;
  std::vector<std::pair<std::string, std::string>> entries;  // in file order
  // The value of `key`, matched without regard to case; the first wins.
  std::optional<std::string> Get(std::string_view key) const;
};

// Reads odbc.ini text as unixODBC does: [sections], "key = value" lines
// split at the first '=', blanks trimmed at both ends; a line whose first
// non-blank character is ';' or '#' is a comment, and those characters
// anywhere else belong to the value (a password may hold them). Lines it
// cannot read are skipped.
std::vector<OdbcSection> ParseOdbcIni(std::string_view text);

// The section named `dataSource` (without regard to case); the first wins.
const OdbcSection* FindDataSource(const std::vector<OdbcSection>& sections,
                                  std::string_view dataSource);

// The files unixODBC reads data sources and drivers from.
struct OdbcFiles {
  std::string userFile;        // empty without $ODBCINI and $HOME
  bool userFileNamed = false;  // by $ODBCINI: then it must be there
  std::string systemFile;      // empty: none
  std::string driversFile;
};

// The files, from the values of $ODBCINI, $HOME and $ODBCSYSINI (null or
// empty when unset).
OdbcFiles LocateOdbcFiles(const char* odbcIniEnv, const char* homeEnv, const char* odbcSysIniEnv);

// The data source `name`: its section in the first file that has one, and
// that file. A file that is not there is passed over, unless $ODBCINI
// names it. Raises DbError when a file cannot be read or none has the
// section.
struct FoundDataSource {
  OdbcSection section;
  std::string file;
};
FoundDataSource LookUpDataSource(const OdbcFiles& files, const std::string& name);

// The library of the driver `driver`: its Driver entry in the drivers
// file, else `driver` itself (a library given by its path). A drivers file
// that is missing or cannot be read names no driver.
std::string DriverLibrary(const std::string& driversFile, const std::string& driver);

// The engine that serves a data source: its Driver's name decides when it
// can, else the library the drivers file gives for that name. Raises
// DbError for a section without Driver or Database, or whose driver is
// neither engine's.
enum class EngineKind { kFiles, kServer };
EngineKind EngineOfDataSource(const OdbcFiles& files, const FoundDataSource& dataSource);

// A connection string: a bare data-source name, or "key=value;" pairs with
// keys Data Source or DSN, User ID or UID, Password or PWD (without regard
// to case; other keys, Provider among them, are ignored).
struct ConnectionString {
  std::string dataSource;
  std::optional<std::string> userId;
  std::optional<std::string> password;
};
// Raises DbError when the string names no data source.
ConnectionString ParseConnectionString(const std::string& text);

}  // namespace qv::db

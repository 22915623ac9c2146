// Laying out a complete installation in a folder: the registry file with the
// product key, the data-source file, and the two databases built from the
// compiled-in schema scripts, as files in the folder or on a PostgreSQL
// server. Used by qv-mkinstall and by the tests.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

#include "db/create_databases.h"

namespace qv::mkinstall {

enum class SchemaGeneration { kFresh, kOld };

// Where the two databases live: files in <dir>/db, or a PostgreSQL server.
enum class Engine { kSqlite, kPostgres };

// The server databases' names are <prefix>qv_main and <prefix>qv_security.
inline constexpr char kMainDatabaseName[] = "qv_main";
inline constexpr char kSecurityDatabaseName[] = "qv_security";

inline constexpr char kDefaultCompanyName[] = "Artisan's Guild";

// Where the parts of an installation in `dir` lie. Every path is absolute.
struct InstallationPaths {
  std::filesystem::path storageDir;  // dir itself, made absolute
  std::filesystem::path registryFile;
  std::filesystem::path odbcIni;
  std::filesystem::path mainDb;  // the files; empty on a server
  std::filesystem::path securityDb;
  std::string mainDatabase;  // the server's names; empty for files
  std::string securityDatabase;
  db::ServerLogin server;  // as the layout reached it

  static InstallationPaths In(const std::filesystem::path& dir);
};

// A layout that cannot be made: an installation already there, a value the
// registry or data-source file cannot hold, a file that cannot be written, a
// schema script that fails. The message says which.
class LayoutError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct LayoutSettings {
  SchemaGeneration generation = SchemaGeneration::kFresh;
  std::string companyName = kDefaultCompanyName;
  Engine engine = Engine::kSqlite;
  db::ServerLogin server;  // kPostgres: empty fields take libpq's defaults
  std::string prefix;      // kPostgres: lower-case letters, digits, '_'
};

// Lays out an installation in `dir` (created when missing). Refuses, and
// touches nothing, when any of its four files (or, on a server, its two
// databases) exists already. On failure removes whatever it created (files,
// folders, server databases) and raises LayoutError.
InstallationPaths LayOutInstallation(const std::filesystem::path& dir,
                                     const LayoutSettings& settings);

// The texts of the two files, as LayOutInstallation writes them.
std::string RegistryFileText(const InstallationPaths& paths, const std::string& companyName);
// On a server the data sources name its databases, the address the layout
// used, and the password only when one was given.
std::string OdbcIniText(const InstallationPaths& paths);

}  // namespace qv::mkinstall

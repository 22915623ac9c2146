// Laying out a complete installation in a folder: the registry file with the
// product key, the data-source file, and the two databases built from the
// compiled-in schema scripts. Used by qv-mkinstall and by the tests.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace qv::mkinstall {

enum class SchemaGeneration { kFresh, kOld };

inline constexpr char kDefaultCompanyName[] = "Artisan's Guild";

// Where the parts of an installation in `dir` lie. Every path is absolute.
struct InstallationPaths {
  std::filesystem::path storageDir;  // dir itself, made absolute
  std::filesystem::path registryFile;
  std::filesystem::path odbcIni;
  std::filesystem::path mainDb;
  std::filesystem::path securityDb;

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
};

// Lays out an installation in `dir` (created when missing). Refuses, and
// touches nothing, when any of its four files exists already. On failure
// removes whatever it created and raises LayoutError.
InstallationPaths LayOutInstallation(const std::filesystem::path& dir,
                                     const LayoutSettings& settings);

// The texts of the two files, as LayOutInstallation writes them.
std::string RegistryFileText(const InstallationPaths& paths, const std::string& companyName);
std::string OdbcIniText(const InstallationPaths& paths);

}  // namespace qv::mkinstall

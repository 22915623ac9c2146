#include "mkinstall/layout.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "db/database_file.h"
#include "db/db_error.h"
#include "mkinstall/schema_scripts.h"

namespace qv::mkinstall {
namespace fs = std::filesystem;
namespace {

constexpr char kProductKey[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion";
constexpr char kMainURL[] = "http://localhost/quorvia/";
constexpr char kSMTPServer[] = "smtp.example.com";
constexpr char kPOPServer[] = "pop.example.com";
// The setup reads a registry value through a 250-byte buffer, null included.
constexpr size_t kMaxRegistryValueBytes = 249;

std::string RegistryQuoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string MainDirOf(const InstallationPaths& paths) {
  return (paths.storageDir / "program").string();
}

void CheckRegistryValue(const char* name, const std::string& value) {
  if (value.size() > kMaxRegistryValueBytes) {
    throw LayoutError(std::string(name) + " is longer than " +
                      std::to_string(kMaxRegistryValueBytes) + " bytes: " + value);
  }
  if (value.find_first_of("\r\n") != std::string::npos) {
    throw LayoutError(std::string(name) + " contains a line break");
  }
}

void CheckDataSourcePath(const fs::path& path) {
  // A data-source file holds one value per line, and ';' or '#' after a
  // blank starts a comment, which would cut the path short.
  if (path.string().find_first_of("\r\n;#") != std::string::npos) {
    throw LayoutError("a data-source file cannot name " + path.string() +
                      " (line break, ';' or '#' in the path)");
  }
}

// Undoes a partly made layout: removes what it created, newest first,
// unless the layout was completed. Folders are removed only when empty.
class CreatedPaths {
 public:
  CreatedPaths() = default;
  CreatedPaths(const CreatedPaths&) = delete;
  CreatedPaths& operator=(const CreatedPaths&) = delete;
  ~CreatedPaths() {
    if (kept_) return;
    std::error_code ignored;
    for (auto it = paths_.rbegin(); it != paths_.rend(); ++it) fs::remove(*it, ignored);
  }
  void Add(const fs::path& path) { paths_.push_back(path); }
  void Keep() { kept_ = true; }

 private:
  std::vector<fs::path> paths_;
  bool kept_ = false;
};

void CreateFolders(const fs::path& dir, CreatedPaths& created) {
  std::vector<fs::path> missing;
  std::error_code error;
  for (fs::path p = dir; !p.empty() && !fs::exists(p, error); p = p.parent_path()) {
    if (error) break;
    missing.push_back(p);
    if (p == p.root_path()) break;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    fs::create_directory(*it, error);
    if (error) throw LayoutError("cannot create " + it->string() + ": " + error.message());
    created.Add(*it);
  }
  if (!fs::is_directory(dir)) throw LayoutError(dir.string() + " is not a folder");
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Writes a new file; never replaces an existing one.
void WriteNewFile(const fs::path& path, const std::string& text, CreatedPaths& created) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wx"));
  if (!file) {
    throw LayoutError("cannot create " + path.string() + ": " +
                      std::error_code(errno, std::generic_category()).message());
  }
  created.Add(path);
  const bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
  if (!written || std::fclose(file.release()) != 0) {
    throw LayoutError("cannot write " + path.string());
  }
}

void CreateDatabase(const fs::path& path, const char* script, CreatedPaths& created) {
  try {
    db::CreateDatabaseFile(path.string(), script);
  } catch (const db::DbError& e) {
    throw LayoutError("cannot create the database " + path.string() + ": " +
                      std::to_string(e.number()) + " " + e.description());
  }
  created.Add(path);
}

}  // namespace

InstallationPaths InstallationPaths::In(const fs::path& dir) {
  fs::path root = fs::absolute(dir).lexically_normal();
  if (!root.has_filename() && root != root.root_path()) root = root.parent_path();
  InstallationPaths paths;
  paths.storageDir = root;
  paths.registryFile = root / "registry.reg";
  paths.odbcIni = root / "odbc.ini";
  paths.mainDb = root / "db" / "qv_main.mdb";
  paths.securityDb = root / "db" / "qv_security.mdb";
  return paths;
}

std::string RegistryFileText(const InstallationPaths& paths, const std::string& companyName) {
  std::string text = "Windows Registry Editor Version 5.00\n\n";
  text += std::string("[") + kProductKey + "]\n";
  const std::pair<const char*, std::string> values[] = {
      {"StorageDir", paths.storageDir.string()},
      {"CompanyName", companyName},
      {"MainDir", MainDirOf(paths)},
      {"MainURL", kMainURL},
      {"DefaultSMTPServer", kSMTPServer},
      {"DefaultPOPServer", kPOPServer},
  };
  for (const auto& [name, value] : values) {
    text += RegistryQuoted(name) + "=" + RegistryQuoted(value) + "\n";
  }
  return text;
}

std::string OdbcIniText(const InstallationPaths& paths) {
  std::string text;
  const std::pair<const char*, const fs::path*> sources[] = {{"qv_main", &paths.mainDb},
                                                             {"qv_security", &paths.securityDb}};
  for (const auto& [name, db] : sources) {
    if (!text.empty()) text += "\n";
    text += std::string("[") + name + "]\n";
    text += "Driver   = SQLite3\n";
    text += "Database = " + db->string() + "\n";
    text += "UID      = admin\n";
    text += "PWD      = quillmark\n";
  }
  return text;
}

InstallationPaths LayOutInstallation(const fs::path& dir, const LayoutSettings& settings) {
  const InstallationPaths paths = InstallationPaths::In(dir);
  CheckRegistryValue("the storage folder", paths.storageDir.string());
  CheckRegistryValue("the program folder", MainDirOf(paths));
  CheckRegistryValue("the company name", settings.companyName);
  CheckDataSourcePath(paths.mainDb);

  for (const fs::path* file :
       {&paths.registryFile, &paths.odbcIni, &paths.mainDb, &paths.securityDb}) {
    std::error_code error;
    const fs::file_type type = fs::symlink_status(*file, error).type();
    if (type == fs::file_type::not_found) continue;
    if (error) throw LayoutError("cannot look at " + file->string() + ": " + error.message());
    throw LayoutError("an installation exists already in " + paths.storageDir.string() + ": " +
                      file->string() + " is there");
  }

  const bool old = settings.generation == SchemaGeneration::kOld;
  CreatedPaths created;
  CreateFolders(paths.mainDb.parent_path(), created);
  CreateDatabase(paths.mainDb, old ? kMainOldSql : kMainFreshSql, created);
  CreateDatabase(paths.securityDb, old ? kSecurityOldSql : kSecurityFreshSql, created);
  WriteNewFile(paths.odbcIni, OdbcIniText(paths), created);
  WriteNewFile(paths.registryFile, RegistryFileText(paths, settings.companyName), created);
  created.Keep();
  return paths;
}

}  // namespace qv::mkinstall

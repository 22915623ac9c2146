#include "mkinstall/layout.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "db/create_databases.h"
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

void CheckDataSourceValue(const std::string& value) {
  // A data-source file holds one value per line, and ';' or '#' after a
  // blank starts a comment, which would cut the value short.
  if (value.find_first_of("\r\n;#") != std::string::npos) {
    throw LayoutError("a data-source file cannot hold " + value +
                      " (line break, ';' or '#' in it)");
  }
}

void CheckPrefix(const std::string& prefix) {
  // Unquoted names on the server are folded to lower case; a prefix that
  // needs no quoting names the same database everywhere. 63 bytes is the
  // server's limit for a name.
  const bool plain =
      prefix.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_") == std::string::npos;
  if (!plain || prefix.size() + std::string(kSecurityDatabaseName).size() > 63) {
    throw LayoutError("the database name prefix " + prefix +
                      " may hold only lower-case letters, digits and '_' (at most " +
                      std::to_string(63 - std::string(kSecurityDatabaseName).size()) + ")");
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
  // The folders hold the databases and their backups: others have no
  // business in them, whatever the umask.
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (::mkdir(it->c_str(), 0750) == 0) {
      created.Add(*it);
    } else if (errno != EEXIST) {  // one made meanwhile is not ours to remove
      throw LayoutError("cannot create " + it->string() + ": " +
                        std::error_code(errno, std::generic_category()).message());
    }
  }
  if (!fs::is_directory(dir)) throw LayoutError(dir.string() + " is not a folder");
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Drops the server databases of a partly made layout unless it was completed.
class CreatedServerDatabases {
 public:
  CreatedServerDatabases() = default;
  CreatedServerDatabases(const CreatedServerDatabases&) = delete;
  CreatedServerDatabases& operator=(const CreatedServerDatabases&) = delete;
  ~CreatedServerDatabases() {
    if (kept_ || names_.empty()) return;
    try {
      db::DropServerDatabases(server_, names_);
    } catch (const db::DbError&) {  // the failure that led here is the one reported
    }
  }
  void Set(const db::ServerLogin& server, std::vector<std::string> names) {
    server_ = server;
    names_ = std::move(names);
  }
  void Keep() { kept_ = true; }

 private:
  db::ServerLogin server_;
  std::vector<std::string> names_;
  bool kept_ = false;
};

// Writes a new file; never replaces an existing one. `mode` before the umask.
void WriteNewFile(const fs::path& path, const std::string& text, CreatedPaths& created,
                  mode_t mode = 0666) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  std::unique_ptr<std::FILE, FileCloser> file(fd < 0 ? nullptr : ::fdopen(fd, "w"));
  if (fd >= 0 && !file) ::close(fd);
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
  if (!paths.mainDatabase.empty()) {
    const std::pair<const char*, const std::string*> sources[] = {
        {"qv_main", &paths.mainDatabase}, {"qv_security", &paths.securityDatabase}};
    for (const auto& [name, database] : sources) {
      if (!text.empty()) text += "\n";
      text += std::string("[") + name + "]\n";
      text += "Driver     = PostgreSQL Unicode\n";
      text += "Servername = " + paths.server.host + "\n";
      text += "Port       = " + paths.server.port + "\n";
      text += "Database   = " + *database + "\n";
      text += "Username   = " + paths.server.user + "\n";
      if (!paths.server.password.empty()) text += "Password   = " + paths.server.password + "\n";
      if (!paths.server.sslmode.empty()) text += "SSLmode    = " + paths.server.sslmode + "\n";
      text += "UID        = admin\n";
      text += "PWD        = quillmark\n";
    }
    return text;
  }
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
  InstallationPaths paths = InstallationPaths::In(dir);
  const bool server = settings.engine == Engine::kPostgres;
  if (server) {
    CheckPrefix(settings.prefix);
    paths.mainDb.clear();
    paths.securityDb.clear();
    paths.mainDatabase = settings.prefix + kMainDatabaseName;
    paths.securityDatabase = settings.prefix + kSecurityDatabaseName;
  }
  CheckRegistryValue("the storage folder", paths.storageDir.string());
  CheckRegistryValue("the program folder", MainDirOf(paths));
  CheckRegistryValue("the company name", settings.companyName);
  CheckDataSourceValue(server ? paths.storageDir.string() : paths.mainDb.string());

  for (const fs::path* file :
       {&paths.registryFile, &paths.odbcIni, &paths.mainDb, &paths.securityDb}) {
    if (file->empty()) continue;
    std::error_code error;
    const fs::file_type type = fs::symlink_status(*file, error).type();
    if (type == fs::file_type::not_found) continue;
    if (error) throw LayoutError("cannot look at " + file->string() + ": " + error.message());
    throw LayoutError("an installation exists already in " + paths.storageDir.string() + ": " +
                      file->string() + " is there");
  }

  const bool old = settings.generation == SchemaGeneration::kOld;
  CreatedPaths created;
  CreatedServerDatabases createdOnServer;
  CreateFolders(paths.storageDir / "db", created);
  if (server) {
    try {
      paths.server = db::CreateServerDatabases(
          settings.server,
          {{paths.mainDatabase, old ? kMainOldPgSql : kMainFreshPgSql},
           {paths.securityDatabase, old ? kSecurityOldPgSql : kSecurityFreshPgSql}});
    } catch (const db::DbError& e) {
      throw LayoutError(e.description());
    }
    createdOnServer.Set(paths.server, {paths.mainDatabase, paths.securityDatabase});
    for (const std::string* value : {&paths.server.host, &paths.server.port, &paths.server.user,
                                     &paths.server.password, &paths.server.sslmode})
      CheckDataSourceValue(*value);
  } else {
    CreateDatabase(paths.mainDb, old ? kMainOldSql : kMainFreshSql, created);
    CreateDatabase(paths.securityDb, old ? kSecurityOldSql : kSecurityFreshSql, created);
  }
  // A password in the data-source file (PWD always, a server's too) is for
  // its owner's eyes only.
  WriteNewFile(paths.odbcIni, OdbcIniText(paths), created, 0600);
  WriteNewFile(paths.registryFile, RegistryFileText(paths, settings.companyName), created);
  created.Keep();
  createdOnServer.Keep();
  return paths;
}

}  // namespace qv::mkinstall

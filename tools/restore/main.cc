// qv-restore: lists the backups that qvsetup /b made of an installation, and
// puts both databases back as one of them holds them. The installation is
// found as qvsetup finds it (the registry file, its StorageDir, the data
// sources qv_main and qv_security); the engine behind each data source
// checks, looks for users and restores (db::Connector).
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "base/diagnostics.h"
#include "db/data_sources.h"
#include "db/database.h"
#include "setup/backup.h"
#include "setup/file_ops.h"
#include "setup/reg_op.h"
#include "setup/registry_file_store.h"
#include "setup/run_lock.h"
#include "timezone/clock.h"

namespace {

namespace fs = std::filesystem;

constexpr char kUsage[] =
    "usage: qv-restore --list\n"
    "       qv-restore BACKyyyymmdd-hhmmss | PATH\n"
    "Lists the backups that qvsetup /b made in <StorageDir>/db, newest first, each\n"
    "checked whole, or puts both databases back as the backup named holds them.\n"
    "Before a restore, the current state is backed up as qvsetup /b does.\n"
    "  --list     the backups: time, engine (files or dumps), size, whether restorable\n"
    "  --help     this text\n"
    "The installation: $QV_REGISTRY_FILE (default /etc/quorvia/registry.reg) and the\n"
    "data sources qv_main and qv_security ($ODBCINI, ~/.odbc.ini, /etc/odbc.ini).\n";

const std::pair<const char*, const char*> kDatabases[] = {
    {qv::db::kMainDataSource, "qv_main"}, {qv::db::kSecurityDataSource, "qv_security"}};

// A failure that ends the command with status 1, said once on standard error.
struct Refused {
  std::string why;
};

bool IsBackupName(const std::string& name) {
  if (name.size() != 19 || name.compare(0, 4, "BACK") != 0 || name[12] != '-') return false;
  for (size_t i = 4; i < name.size(); ++i) {
    if (i != 12 && (name[i] < '0' || name[i] > '9')) return false;
  }
  return true;
}

// The backup folders of the installation, newest first: the stamp sorts by time.
std::vector<fs::path> BackupFolders(const fs::path& dbDir) {
  std::vector<fs::path> found;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(dbDir, error)) {
    std::error_code ignored;
    if (IsBackupName(entry.path().filename()) && entry.is_directory(ignored)) {
      found.push_back(entry.path());
    }
  }
  std::sort(found.rbegin(), found.rend());
  return found;
}

std::string Size(uintmax_t bytes) {
  char text[32];
  if (bytes < 1024 * 1024) {
    std::snprintf(text, sizeof text, "%.1f kB", bytes / 1024.0);
  } else {
    std::snprintf(text, sizeof text, "%.1f MB", bytes / (1024.0 * 1024.0));
  }
  return text;
}

// "files" or "dumps" by what the folder holds; "empty" for neither.
std::string KindOf(const fs::path& folder) {
  std::error_code error;
  bool files = false, dumps = false;
  for (const auto& [dataSource, name] : kDatabases) {
    files |= fs::exists(folder / (std::string(name) + ".mdb"), error);
    dumps |= fs::exists(folder / (std::string(name) + ".dump"), error);
  }
  return files && dumps ? "files and dumps" : files ? "files" : dumps ? "dumps" : "empty";
}

// Why the backup in `folder` cannot be restored over the data sources, or
// empty when both databases' backups are whole and of their engines.
std::string Unrestorable(qv::db::Connector& connector, const fs::path& folder) {
  for (const auto& [dataSource, name] : kDatabases) {
    try {
      connector.VerifyBackup(dataSource, (folder / name).string());
    } catch (const qv::db::DbError& e) {
      return e.description();
    }
  }
  return "";
}

class Command {
 public:
  explicit Command(const qv::Diagnostics& diagnostics)
      : diagnostics_(diagnostics),
        registry_(qv::setup::RegistryFilePath(), diagnostics, NamedRegistry()),
        connector_(qv::db::MakeDataSourceConnector(diagnostics)),
        files_(diagnostics) {
    const std::string storage = qv::setup::ReadSetting(registry_, "StorageDir");
    if (storage.empty() || storage.front() != '/') {
      throw Refused{"no installation: the registry file " + qv::setup::RegistryFilePath() +
                    " gives no StorageDir (" + storage + ")"};
    }
    dbDir_ = fs::path(storage) / "db";
  }

  int List() {
    const std::vector<fs::path> folders = BackupFolders(dbDir_);
    if (folders.empty()) std::cout << "no backups in " << dbDir_.string() << '\n';
    for (const fs::path& folder : folders) {
      const std::string name = folder.filename();
      uintmax_t bytes = 0;
      std::error_code error;
      for (const fs::directory_entry& file : fs::directory_iterator(folder, error)) {
        std::error_code ignored;
        if (file.is_regular_file(ignored)) bytes += file.file_size(ignored);
      }
      const std::string why = Unrestorable(*connector_, folder);
      std::cout << name << "  " << name.substr(4, 4) << '-' << name.substr(8, 2) << '-'
                << name.substr(10, 2) << ' ' << name.substr(13, 2) << ':' << name.substr(15, 2)
                << ':' << name.substr(17, 2) << "  " << KindOf(folder) << "  " << Size(bytes)
                << "  " << (why.empty() ? "verified" : "NOT restorable: " + why) << '\n';
    }
    return 0;
  }

  int Restore(const std::string& named) {
    const fs::path folder = named.find('/') == std::string::npos ? dbDir_ / named : fs::path(named);
    std::error_code error;
    if (!fs::is_directory(folder, error)) throw Refused{"no backup folder " + folder.string()};

    // Taken as a run takes them, so that no qvsetup run and no other
    // restore works on the databases meanwhile.
    const std::unique_ptr<qv::setup::FileLock> turn =
        qv::setup::LockInstallation(registry_, files_);
    if (!turn) throw Refused{"the run lock in " + dbDir_.string() + " cannot be taken"};
    std::unique_ptr<qv::db::RunLock> shared;
    try {
      shared = connector_->HoldRunLock(qv::db::kMainDataSource, {qv::db::kSecurityDataSource});
    } catch (const qv::db::DbError& e) {
      throw Refused{"the run lock cannot be taken: " + e.description()};
    }

    const std::string why = Unrestorable(*connector_, folder);
    if (!why.empty()) Unchanged(folder.string() + " cannot be restored: " + why);
    std::vector<std::string> users;
    for (const auto& [dataSource, name] : kDatabases) {
      try {
        for (const std::string& user : connector_->OtherUsers(dataSource, File(name))) {
          users.push_back(user);
        }
      } catch (const qv::db::DbError& e) {
        Unchanged("cannot tell who uses " + std::string(name) + ": " + e.description());
      }
    }
    for (const std::string& user : users) diagnostics_.Say("in use: " + user);
    if (!users.empty()) Unchanged("the databases are in use");

    const fs::path kept = KeepCurrentState();
    std::cout << "the state before the restore is kept in " << kept.string() << std::endl;
    for (const auto& [dataSource, name] : kDatabases) {
      try {
        if (shared) shared->KeepHeld();
        connector_->Restore(dataSource, File(name), (folder / name).string());
      } catch (const qv::db::DbError& e) {
        throw Refused{std::string(name) + " not restored: " + e.description() +
                      (name == kDatabases[0].second ? "" : " (qv_main is restored)") +
                      "; run the same restore again"};
      }
      std::cout << name << " restored from " << folder.string() << std::endl;
    }
    std::cout << "both databases restored from " << folder.string() << std::endl;
    return 0;
  }

 private:
  static bool NamedRegistry() {
    const char* named = std::getenv("QV_REGISTRY_FILE");
    return named != nullptr && *named != '\0';
  }

  std::string File(const char* name) const {
    return (dbDir_ / (std::string(name) + ".mdb")).string();
  }

  [[noreturn]] static void Unchanged(const std::string& why) {
    throw Refused{why + "; nothing was changed"};
  }

  // Backs up the current state exactly as qvsetup /b does, into a new
  // folder; refuses unless both databases are in it.
  fs::path KeepCurrentState() {
    const std::vector<fs::path> before = BackupFolders(dbDir_);
    const std::set<fs::path> old(before.begin(), before.end());
    const qv::timezone::SystemClock clock;
    qv::setup::BackUpDatabases(registry_, files_, *connector_, clock);
    for (const fs::path& folder : BackupFolders(dbDir_)) {
      if (old.count(folder) != 0) continue;
      std::error_code error;
      for (const auto& [dataSource, name] : kDatabases) {
        if (!fs::exists(folder / (std::string(name) + ".mdb"), error) &&
            !fs::exists(folder / (std::string(name) + ".dump"), error)) {
          Unchanged("the backup of the current state in " + folder.string() +
                    " is incomplete (no " + name + ")");
        }
      }
      return folder;
    }
    Unchanged("the backup of the current state could not be made");
  }

  const qv::Diagnostics& diagnostics_;
  qv::setup::RegistryFileStore registry_;
  std::unique_ptr<qv::db::Connector> connector_;
  qv::setup::PosixFileOps files_;
  fs::path dbDir_;
};

}  // namespace

int main(int argc, char* argv[]) {
  // A reader that went away must not end a restore half-way.
  std::signal(SIGPIPE, SIG_IGN);
  const qv::Diagnostics diagnostics(std::cerr, "qv-restore");
  std::vector<std::string> operands;
  bool list = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--list") {
      list = true;
    } else if (!arg.empty() && arg[0] == '-') {
      std::cerr << "qv-restore: unknown option " << arg << '\n' << kUsage;
      return 2;
    } else {
      operands.push_back(arg);
    }
  }
  if (list == !operands.empty() || operands.size() > 1) {
    std::cerr << "qv-restore: give --list or one backup folder\n" << kUsage;
    return 2;
  }
  try {
    Command command(diagnostics);
    return list ? command.List() : command.Restore(operands[0]);
  } catch (const Refused& refused) {
    diagnostics.Say(refused.why);
  } catch (const std::exception& e) {
    diagnostics.Say(std::string("unexpected error: ") + e.what());
  }
  return 1;
}

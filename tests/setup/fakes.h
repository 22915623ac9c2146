// Test doubles for the edges of a setup run: message boxes that are kept,
// a connector that records statements and answers the key lookups from a
// table, file operations and a registry store that count their calls, and a
// pinned time zone.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/database.h"
#include "db/db_error.h"
#include "setup/file_ops.h"
#include "setup/message_boxes.h"
#include "setup/registry_store.h"

namespace qv::testing {

class CapturingMessageBoxes : public setup::MessageBoxes {
 public:
  void Show(const std::string& text) override { shown.push_back(text); }
  std::vector<std::string> shown;
};

// Connections that accept every statement and remember it. A query
// "SELECT Max(...) as MaxPrimary FROM <table>" answers with maxKeys[<table>]
// (null when absent). A statement containing `failWhen` raises
// `statementError`.
class RecordingConnector : public db::Connector {
 public:
  struct OpenCall {
    std::string connectionString;
    std::string user;
    std::string password;
  };
  struct Executed {
    std::string connectionString;
    std::string statement;
  };

  std::unique_ptr<db::Connection> Open(const std::string& connectionString, const std::string& user,
                                       const std::string& password) override;

  std::string failWhen;
  db::DbError statementError{-2147217900, "Syntax error in UPDATE statement."};
  std::map<std::string, db::Value> maxKeys;

  std::vector<OpenCall> opens;
  std::vector<Executed> executed;  // in order
};

// The real file operations, counted; with `passThrough` false only counted,
// for paths that must not be touched (such as ones at the root): a lock is
// then granted without touching the file.
class CountingFileOps : public setup::FileOps {
 public:
  bool passThrough = true;

  bool CreateDirectory(const std::string& path) override;
  bool CopyFile(const std::string& from, const std::string& to) override;
  std::unique_ptr<setup::FileLock> LockFile(const std::string& path) override;

  std::vector<std::string> created;
  std::vector<std::pair<std::string, std::string>> copied;
  std::vector<std::string> locked;  // every path asked for
  int held = 0;                     // locks granted and not yet released

 private:
  setup::PosixFileOps real_;
};

// A store whose statuses are set by the test and whose calls are logged.
// `raise` makes every call throw, as an unusable store does.
class ScriptedRegistryStore : public setup::RegistryStore {
 public:
  setup::RegStatus OpenKey(int32_t root, const std::string& path, setup::RegAccess access,
                           setup::RegKey* key) override;
  setup::RegStatus QueryValue(const setup::RegKey& key, const std::string& name,
                              std::string* data) override;
  setup::RegStatus SetValue(const setup::RegKey& key, const std::string& name,
                            const std::string& data) override;
  setup::RegStatus CreateKey(int32_t root, const std::string& path) override;
  setup::RegStatus DeleteKey(int32_t root, const std::string& path) override;

  setup::RegStatus openStatus = setup::RegStatus::kSuccess;
  setup::RegStatus queryStatus = setup::RegStatus::kSuccess;
  std::string value;
  setup::RegStatus setStatus = setup::RegStatus::kSuccess;
  setup::RegStatus createStatus = setup::RegStatus::kSuccess;
  setup::RegStatus deleteStatus = setup::RegStatus::kSuccess;
  bool raise = false;

  std::vector<std::string> calls;  // "open HKLM-handle path access", "query name", ...
};

// Sets TZ for the scope and restores it afterwards.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* tz);
  ~ScopedTimeZone();
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<std::string> saved_;
};

// Whole-file helpers.
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace qv::testing

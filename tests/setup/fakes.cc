#include "fakes.h"

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace qv::testing {

namespace {

[[noreturn]] void Unsupported(const char* what) {
  throw db::DbError(3251, std::string("Operation is not supported by the fake: ") + what);
}

class MaxRecordset : public db::Recordset {
 public:
  explicit MaxRecordset(db::Value max) : max_(std::move(max)) {}
  void AddNew() override { Unsupported("AddNew"); }
  void SetField(const std::string&, const db::Value&) override { Unsupported("SetField"); }
  db::Value Field(const std::string& name) const override {
    if (name != "MaxPrimary") throw db::DbError(db::kErrItemNotFound, "Item not found: " + name);
    return max_;
  }
  void Update() override { Unsupported("Update"); }
  void UpdateBatch() override { Unsupported("UpdateBatch"); }
  void CancelBatch() override { Unsupported("CancelBatch"); }
  void Requery() override {}
  void MoveFirst() override {}
  void MoveNext() override { done_ = true; }
  void MoveLast() override {}
  bool Eof() const override { return done_; }
  int64_t RecordCount() const override { return 1; }
  void Close() override {}

 private:
  db::Value max_;
  bool done_ = false;
};

class RecordingConnection : public db::Connection {
 public:
  RecordingConnection(RecordingConnector& owner, std::string connectionString)
      : owner_(owner), connectionString_(std::move(connectionString)) {}

  void BeginTrans() override {}
  void CommitTrans() override {}
  void RollbackTrans() override {}
  std::unique_ptr<db::Recordset> Execute(const std::string& statement) override {
    if (!owner_.failWhen.empty() && statement.find(owner_.failWhen) != std::string::npos) {
      throw owner_.statementError;
    }
    owner_.executed.push_back({connectionString_, statement});
    if (statement.rfind("SELECT Max(", 0) == 0) {
      const std::string table = statement.substr(statement.find(" FROM ") + 6);
      auto it = owner_.maxKeys.find(table);
      return std::make_unique<MaxRecordset>(it == owner_.maxKeys.end() ? db::Value() : it->second);
    }
    return nullptr;
  }
  const std::vector<db::ErrorEntry>& Errors() const override { return errors_; }
  std::vector<std::string> TableNames(db::TableKind) override { Unsupported("TableNames"); }
  std::vector<std::string> ColumnNames(const std::string&, const std::string&) override {
    Unsupported("ColumnNames");
  }
  std::unique_ptr<db::Recordset> OpenTable(const std::string&, db::CursorType,
                                           db::LockType) override {
    Unsupported("OpenTable");
  }
  void CopyColumn(const std::string&, const std::string&, const std::string&) override {
    Unsupported("CopyColumn");
  }
  void Close() override {}

 private:
  RecordingConnector& owner_;
  std::string connectionString_;
  std::vector<db::ErrorEntry> errors_;  // always empty
};

// Counts itself out of `held` when released.
class CountedLock : public setup::FileLock {
 public:
  CountedLock(int& held, std::unique_ptr<setup::FileLock> real)
      : held_(held), real_(std::move(real)) {
    ++held_;
  }
  ~CountedLock() override { --held_; }

 private:
  int& held_;
  std::unique_ptr<setup::FileLock> real_;
};

std::string Describe(setup::RegAccess access) {
  return access == setup::RegAccess::kQueryValue ? "query" : "set";
}

}  // namespace

std::unique_ptr<db::Connection> RecordingConnector::Open(const std::string& connectionString,
                                                         const std::string& user,
                                                         const std::string& password) {
  opens.push_back({connectionString, user, password});
  return std::make_unique<RecordingConnection>(*this, connectionString);
}

bool CountingFileOps::CreateDirectory(const std::string& path) {
  created.push_back(path);
  return passThrough && real_.CreateDirectory(path);
}

bool CountingFileOps::CopyFile(const std::string& from, const std::string& to) {
  copied.emplace_back(from, to);
  return passThrough && real_.CopyFile(from, to);
}

std::unique_ptr<setup::FileLock> CountingFileOps::LockFile(const std::string& path) {
  locked.push_back(path);
  std::unique_ptr<setup::FileLock> real;
  if (passThrough && (real = real_.LockFile(path)) == nullptr) return nullptr;
  return std::make_unique<CountedLock>(held, std::move(real));
}

setup::RegStatus ScriptedRegistryStore::OpenKey(int32_t root, const std::string& path,
                                                setup::RegAccess access, setup::RegKey* key) {
  calls.push_back("open " + std::to_string(root) + " " + path + " " + Describe(access));
  if (raise) throw setup::RegistryError("scripted failure");
  if (openStatus == setup::RegStatus::kSuccess) *key = {root, path, access};
  return openStatus;
}

setup::RegStatus ScriptedRegistryStore::QueryValue(const setup::RegKey&, const std::string& name,
                                                   std::string* data) {
  calls.push_back("query " + name);
  if (raise) throw setup::RegistryError("scripted failure");
  if (queryStatus == setup::RegStatus::kSuccess) *data = value;
  return queryStatus;
}

setup::RegStatus ScriptedRegistryStore::SetValue(const setup::RegKey&, const std::string& name,
                                                 const std::string& data) {
  calls.push_back("set " + name + "=" + data);
  if (raise) throw setup::RegistryError("scripted failure");
  return setStatus;
}

setup::RegStatus ScriptedRegistryStore::CreateKey(int32_t, const std::string& path) {
  calls.push_back("create " + path);
  if (raise) throw setup::RegistryError("scripted failure");
  return createStatus;
}

setup::RegStatus ScriptedRegistryStore::DeleteKey(int32_t, const std::string& path) {
  calls.push_back("delete " + path);
  if (raise) throw setup::RegistryError("scripted failure");
  return deleteStatus;
}

ScopedTimeZone::ScopedTimeZone(const char* tz) {
  if (const char* old = std::getenv("TZ")) saved_ = old;
  ::setenv("TZ", tz, 1);
  ::tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
  if (saved_) {
    ::setenv("TZ", saved_->c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace qv::testing

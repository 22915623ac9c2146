#include "setup/registry_file_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <system_error>
#include <utility>

#include "base/unique_fd.h"

namespace qv::setup {

namespace {

constexpr const char kDefaultRegistryFile[] = "/etc/quorvia/registry.reg";

// Removes a file when the scope ends, unless released.
class TempFile {
 public:
  explicit TempFile(std::string path) : path_(std::move(path)) {}
  ~TempFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  void Release() { path_.clear(); }

 private:
  std::string path_;
};

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool HasLineBreak(const std::string& s) {
  return s.find_first_of("\r\n") != std::string::npos;
}

}  // namespace

std::string RegistryFilePath() {
  const char* env = std::getenv("QV_REGISTRY_FILE");
  if (env != nullptr && *env != '\0') return env;
  return kDefaultRegistryFile;
}

RegistryFileStore::RegistryFileStore(std::string path, const Diagnostics& diagnostics, bool named)
    : path_(std::move(path)), diagnostics_(diagnostics), named_(named) {}

RegistryDocument& RegistryFileStore::Document() {
  if (doc_) return *doc_;
  if (!failure_.empty()) throw RegistryError(failure_);

  auto fail = [this](const std::string& message) -> RegistryDocument& {
    Unusable(path_ + ": " + message);
  };

  // Non-blocking, so that a FIFO in the file's place cannot hang the run.
  UniqueFd fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) {
    if (errno == ENOENT) {
      // An empty registry, as designed; but a file named on purpose that is
      // not there is most likely a typing error the administrator must see.
      if (named_) {
        diagnostics_.Say(
            "the registry file " + path_ +
            " named by QV_REGISTRY_FILE does not exist: every setting reads as missing");
      }
      return doc_.emplace();
    }
    return fail(std::string("cannot open: ") + std::strerror(errno));
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return fail(std::string("cannot read: ") + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return fail("not a regular file");
  if (static_cast<unsigned long long>(st.st_size) > kMaxRegistryFileBytes) {
    return fail("file too large for a registry file");
  }
  std::string text;
  char buffer[65536];
  while (true) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(std::string("cannot read: ") + std::strerror(errno));
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > kMaxRegistryFileBytes) return fail("file too large for a registry file");
  }
  RegistryDocument doc;
  RegistryParseError error;
  if (!RegistryDocument::Parse(text, &doc, &error)) {
    Unusable(path_ + ":" + std::to_string(error.line) + ": " + error.message);
  }
  return doc_.emplace(std::move(doc));
}

void RegistryFileStore::Unusable(std::string failure) {
  failure_ = std::move(failure);
  diagnostics_.Say(failure_);
  throw RegistryError(failure_);
}

bool RegistryFileStore::Commit(RegistryDocument doc) {
  namespace fs = std::filesystem;
  std::error_code ec;
  // Through a symbolic link, the file it points at is the one replaced.
  fs::path target = path_;
  if (fs::is_symlink(target, ec)) {
    fs::path resolved = fs::canonical(target, ec);
    if (ec) return false;
    target = resolved;
  }
  fs::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  std::string temp = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (fd.get() < 0) return false;
  TempFile cleanup(temp);

  struct stat st {};
  const mode_t mode = ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
  if (::fchmod(fd.get(), mode) != 0) return false;
  if (!WriteAll(fd.get(), doc.Render())) return false;
  if (::fsync(fd.get()) != 0) return false;
  if (!fd.Close()) return false;
  if (::rename(temp.c_str(), target.c_str()) != 0) return false;
  cleanup.Release();
  // Make the rename itself durable; the new file is in place either way.
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());

  doc_ = std::move(doc);
  return true;
}

RegStatus RegistryFileStore::OpenKey(int32_t root, const std::string& path, RegAccess access,
                                     RegKey* key) {
  const RegistryDocument& doc = Document();
  if (RootKeyName(root) == nullptr) return RegStatus::kFailed;
  if (!path.empty() && !IsValidKeyPath(path)) return RegStatus::kFailed;
  if (!doc.KeyExists(root, path)) return RegStatus::kNotFound;
  key->root = root;
  key->path = path;
  key->access = access;
  return RegStatus::kSuccess;
}

RegStatus RegistryFileStore::QueryValue(const RegKey& key, const std::string& name,
                                        std::string* data) {
  const RegistryDocument& doc = Document();
  const std::string* value = doc.FindValue(key.root, key.path, name);
  if (value == nullptr) return RegStatus::kNotFound;
  *data = *value;
  return RegStatus::kSuccess;
}

RegStatus RegistryFileStore::SetValue(const RegKey& key, const std::string& name,
                                      const std::string& data) {
  const RegistryDocument& doc = Document();
  if (key.access != RegAccess::kSetValue || RootKeyName(key.root) == nullptr) {
    return RegStatus::kFailed;
  }
  if (!doc.KeyExists(key.root, key.path)) return RegStatus::kFailed;  // deleted since opened
  // A string value ends at its first NUL.
  const std::string text = data.substr(0, data.find('\0'));
  if (HasLineBreak(name) || HasLineBreak(text) || name.find('\0') != std::string::npos) {
    return RegStatus::kFailed;
  }
  RegistryDocument changed = doc;
  changed.SetValue(key.root, key.path, name, text);
  return Commit(std::move(changed)) ? RegStatus::kSuccess : RegStatus::kFailed;
}

RegStatus RegistryFileStore::CreateKey(int32_t root, const std::string& path) {
  const RegistryDocument& doc = Document();
  if (RootKeyName(root) == nullptr) return RegStatus::kFailed;
  if (path.empty()) return RegStatus::kSuccess;  // the root itself
  if (!IsValidKeyPath(path) || HasLineBreak(path) || path.find('\0') != std::string::npos) {
    return RegStatus::kFailed;
  }
  RegistryDocument changed = doc;
  if (!changed.CreateKey(root, path)) return RegStatus::kSuccess;  // it existed
  return Commit(std::move(changed)) ? RegStatus::kSuccess : RegStatus::kFailed;
}

RegStatus RegistryFileStore::DeleteKey(int32_t root, const std::string& path) {
  const RegistryDocument& doc = Document();
  if (RootKeyName(root) == nullptr || path.empty() || !IsValidKeyPath(path)) {
    return RegStatus::kFailed;
  }
  if (!doc.KeyExists(root, path)) return RegStatus::kNotFound;
  if (doc.HasSubKeys(root, path)) return RegStatus::kFailed;
  RegistryDocument changed = doc;
  changed.DeleteKey(root, path);
  return Commit(std::move(changed)) ? RegStatus::kSuccess : RegStatus::kFailed;
}

}  // namespace qv::setup

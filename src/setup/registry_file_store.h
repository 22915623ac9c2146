// The registry of this platform: a registry-export text file (see
// registry_document.h for its format).
//
// The file is read once, at the first operation. A missing file is an empty
// registry in which every key is missing. A file that cannot be read or
// parsed makes every operation raise RegistryError; one diagnostic line
// naming the file (and the line, for a parse error) is written when it is
// first met. Every change rewrites the whole file atomically: a temporary
// file in the same folder is written, flushed to disk and renamed over the
// old one, so a reader sees either the old file or the new one.
#pragma once

#include <optional>
#include <string>

#include "base/diagnostics.h"
#include "setup/registry_document.h"
#include "setup/registry_store.h"

namespace qv::setup {

// The registry file of this run: $QV_REGISTRY_FILE when set and not empty,
// else /etc/quorvia/registry.reg.
std::string RegistryFilePath();

// Files larger than this are refused as unreadable: a registry file of the
// product holds a few dozen lines.
inline constexpr size_t kMaxRegistryFileBytes = 16 * 1024 * 1024;

class RegistryFileStore : public RegistryStore {
 public:
  // `diagnostics` receives the one line about an unusable file, and, for a
  // file named explicitly (QV_REGISTRY_FILE), about a missing one.
  RegistryFileStore(std::string path, const Diagnostics& diagnostics, bool named = false);

  RegStatus OpenKey(int32_t root, const std::string& path, RegAccess access, RegKey* key) override;
  RegStatus QueryValue(const RegKey& key, const std::string& name, std::string* data) override;
  // Fails (kFailed) for a name or data holding a line break, which a value
  // line cannot carry, and when the file cannot be rewritten.
  RegStatus SetValue(const RegKey& key, const std::string& name, const std::string& data) override;
  RegStatus CreateKey(int32_t root, const std::string& path) override;
  RegStatus DeleteKey(int32_t root, const std::string& path) override;

 private:
  // The loaded file; raises RegistryError when it is unusable.
  RegistryDocument& Document();
  // Remembers why the file is unusable, says so once, and raises.
  [[noreturn]] void Unusable(std::string failure);
  // Writes `doc` to the file and, on success, keeps it as the loaded file.
  bool Commit(RegistryDocument doc);

  std::string path_;
  const Diagnostics& diagnostics_;
  bool named_;
  std::optional<RegistryDocument> doc_;
  std::string failure_;  // set once the file turned out unusable
};

}  // namespace qv::setup

// The registry as the setup sees it: predefined root keys, keys below them
// addressed by a backslash-separated path, and named string values in a key.
// A run reads from the file-backed store (registry_file_store.h); tests may
// put any other store behind the same interface.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace qv::setup {

// Handles of the predefined root keys.
inline constexpr int32_t kHkeyClassesRoot = static_cast<int32_t>(0x80000000u);
inline constexpr int32_t kHkeyCurrentUser = static_cast<int32_t>(0x80000001u);
inline constexpr int32_t kHkeyLocalMachine = static_cast<int32_t>(0x80000002u);
inline constexpr int32_t kHkeyUsers = static_cast<int32_t>(0x80000003u);

// The outcome of one store operation. kNotFound is kept apart from every
// other failure because the registry operations report a missing key
// differently from anything else that goes wrong.
enum class RegStatus { kSuccess, kNotFound, kFailed };

// What an open key grants.
enum class RegAccess { kQueryValue, kSetValue };

// An open key. Opening reads nothing and holds nothing, so there is nothing
// to close.
struct RegKey {
  int32_t root = 0;
  std::string path;
  RegAccess access = RegAccess::kQueryValue;
};

// Raised by a store that cannot be used at all (for example a registry file
// that cannot be read or parsed). Operations on such a store raise it every
// time; they never report it as a status.
class RegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Key paths and value names match without regard to letter case. The empty
// value name is the key's default value. An empty path is the root key
// itself. A root handle that is not one of the four above fails (kFailed).
class RegistryStore {
 public:
  virtual ~RegistryStore() = default;

  // kNotFound when the key does not exist.
  virtual RegStatus OpenKey(int32_t root, const std::string& path, RegAccess access,
                            RegKey* key) = 0;
  // The value's data as text (for a value that is not a string, its text as
  // stored). kNotFound when the value does not exist; `data` is then left as
  // it was.
  virtual RegStatus QueryValue(const RegKey& key, const std::string& name, std::string* data) = 0;
  // Writes a string value into an existing key, replacing any value of that
  // name. The key must have been opened for setting values.
  virtual RegStatus SetValue(const RegKey& key, const std::string& name,
                             const std::string& data) = 0;
  // Creates the key and any missing keys above it; an existing key is
  // simply opened.
  virtual RegStatus CreateKey(int32_t root, const std::string& path) = 0;
  // Deletes a key that has no sub keys, with its values. kNotFound when the
  // key does not exist; kFailed for the root itself or a key with sub keys.
  virtual RegStatus DeleteKey(int32_t root, const std::string& path) = 0;
};

}  // namespace qv::setup

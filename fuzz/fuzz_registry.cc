// The registry-file parser and writer; what they must keep is listed in
// README.md here. The keys and value names compared are scanned from the
// input's own lines.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "setup/registry_document.h"
#include "setup/registry_store.h"
#include "setup/text_codec.h"

namespace {

using qv::fuzz::SameNoCase;
using qv::setup::RegistryDocument;

constexpr size_t kMax = 16;  // keys and names each: every key meets every name
constexpr int32_t kRoots[] = {qv::setup::kHkeyClassesRoot, qv::setup::kHkeyCurrentUser,
                              qv::setup::kHkeyLocalMachine, qv::setup::kHkeyUsers};

struct Key {
  int32_t root;
  std::string path;
  bool operator==(const Key& o) const { return root == o.root && SameNoCase(path, o.path); }
};

template <typename T>
void AddUnique(std::vector<T>* list, T item) {
  if (list->size() < kMax && std::find(list->begin(), list->end(), item) == list->end()) {
    list->push_back(std::move(item));
  }
}

// Key paths (and every key above them) and value names as the lines spell them.
void ScanNames(std::string_view text, std::vector<Key>* keys, std::vector<std::string>* names) {
  for (int32_t root : kRoots) AddUnique(keys, {root, ""});
  AddUnique(keys,
            {qv::setup::kHkeyLocalMachine, "SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion"});
  AddUnique(names, std::string());  // the default value
  AddUnique(names, std::string("StorageDir"));
  for (size_t start = 0, nl; start < text.size(); start = nl + 1) {
    nl = std::min(text.find('\n', start), text.size());
    const std::string_view line = qv::fuzz::Trim(text.substr(start, nl - start), " \t\r");
    const size_t sep = line.find('\\');
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']' && sep != line.npos) {
      for (int32_t r : kRoots) {
        if (!SameNoCase(line.substr(1, sep - 1), qv::setup::RootKeyName(r))) continue;
        for (std::string path(line.substr(sep + 1, line.size() - sep - 2)); !path.empty();
             path.resize(std::min(path.rfind('\\'), path.size()) % path.size())) {
          AddUnique(keys, {r, path});
        }
      }
    } else if (!line.empty() && line.front() == '"') {
      std::string n;
      for (size_t i = 1; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\' && i + 1 < line.size() && (line[i + 1] == '\\' || line[i + 1] == '"')) {
          ++i;
        }
        n += line[i];
      }
      AddUnique(names, std::move(n));
    }
  }
}

// `a` and `b` agree on every key and value and on which keys exist, but
// that `b` holds `value` as `name` of `edited`.
void CheckSame(const RegistryDocument& a, const RegistryDocument& b, const std::vector<Key>& keys,
               const std::vector<std::string>& names, const Key* edited = nullptr,
               const std::string* name = nullptr, const std::string* value = nullptr) {
  for (const Key& key : keys) {
    FUZZ_CHECK(a.KeyExists(key.root, key.path) == b.KeyExists(key.root, key.path) &&
               a.HasSubKeys(key.root, key.path) == b.HasSubKeys(key.root, key.path));
    for (const std::string& n : names) {
      const std::string* want = a.FindValue(key.root, key.path, n);
      if (edited != nullptr && key == *edited && SameNoCase(n, *name)) want = value;
      const std::string* got = b.FindValue(key.root, key.path, n);
      FUZZ_CHECK(want == nullptr ? got == nullptr : got != nullptr && *want == *got);
    }
  }
}

RegistryDocument Reread(const RegistryDocument& doc, std::string* text) {
  *text = doc.Render();
  RegistryDocument again;
  qv::setup::RegistryParseError error;
  FUZZ_CHECK(RegistryDocument::Parse(*text, &again, &error));
  return again;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  RegistryDocument doc;
  qv::setup::RegistryParseError error;
  if (!RegistryDocument::Parse(text, &doc, &error)) {
    FUZZ_CHECK(error.line >= 1 && !error.message.empty());
    return 0;
  }
  std::vector<Key> keys;
  std::vector<std::string> names;
  std::string utf8;  // a UTF-16LE file's names are scanned in its UTF-8 form
  size_t line = 0;
  const bool utf16 = text.substr(0, 2) == "\xFF\xFE";
  FUZZ_CHECK(!utf16 || qv::setup::Utf16LeToUtf8(text.substr(2), &utf8, &line));
  ScanNames(utf16 ? std::string_view(utf8) : text, &keys, &names);
  std::string written, rewritten;
  const RegistryDocument again = Reread(doc, &written);
  CheckSame(doc, again, keys, names);
  Reread(again, &rewritten);
  FUZZ_CHECK(rewritten == written);

  // Set a value of up to three existing keys (a name of the file's or a new
  // one, data with both escapes).
  const auto breaks = [](const std::string& s) { return s.find_first_of("\r\n") != s.npos; };
  for (size_t k = 0, edits = 0; k < keys.size() && edits < 3; ++k) {
    const Key& key = keys[k];
    if (key.path.empty() || !doc.KeyExists(key.root, key.path) || breaks(key.path)) continue;
    ++edits;
    const std::string& name = names[k % names.size()];
    const std::string value = "C:\\Quorvia \"" + std::to_string(k) + "\"\\";
    if (breaks(name)) continue;
    RegistryDocument changed = doc;
    changed.SetValue(key.root, key.path, name, value);
    CheckSame(doc, Reread(changed, &written), keys, names, &key, &name, &value);
  }
  return 0;
}

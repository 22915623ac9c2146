// Fuzzes the registry-export file parser and writer (RegistryDocument).
//
// The input is a registry file. When the parser accepts it:
//   - the file written back parses again, to the same keys and values, and
//     writing that again gives the same text;
//   - setting a value, creating a key or deleting a key, then writing and
//     parsing again, changes exactly what was asked and nothing else.
//
// The keys and value names to compare are read from the input's own key and
// value lines by a simple scan (and a few fixed names added), so that the
// comparison covers what the file holds without the document listing it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "setup/registry_document.h"
#include "setup/registry_store.h"

namespace {

using qv::fuzz::Printable;
using qv::setup::RegistryDocument;
using qv::setup::RegistryParseError;

// Bounds that keep one input fast: every key is compared with every name.
constexpr size_t kMaxKeys = 16;
constexpr size_t kMaxNames = 16;
constexpr size_t kMaxEdits = 3;

struct Key {
  int32_t root;
  std::string path;
};

constexpr int32_t kRoots[] = {qv::setup::kHkeyClassesRoot, qv::setup::kHkeyCurrentUser,
                              qv::setup::kHkeyLocalMachine, qv::setup::kHkeyUsers};

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Fold(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), Lower);
  return out;
}

bool SameKey(const Key& a, const Key& b) {
  return a.root == b.root && Fold(a.path) == Fold(b.path);
}

bool HasLineBreak(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

template <typename T, typename Same>
void AddUnique(std::vector<T>* list, T item, size_t max, Same same) {
  if (list->size() >= max) return;
  for (const T& existing : *list) {
    if (same(existing, item)) return;
  }
  list->push_back(std::move(item));
}

// Key paths and value names as the input's lines spell them.
void ScanNames(std::string_view text, std::vector<Key>* keys, std::vector<std::string>* names) {
  auto sameName = [](const std::string& a, const std::string& b) { return a == b; };
  auto addKey = [&](Key key) { AddUnique(keys, std::move(key), kMaxKeys, SameKey); };
  for (int32_t root : kRoots) addKey({root, ""});
  addKey({qv::setup::kHkeyLocalMachine, "SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion"});
  AddUnique(names, std::string(), kMaxNames, sameName);  // the default value
  AddUnique(names, std::string("StorageDir"), kMaxNames, sameName);

  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string_view::npos) nl = text.size();
    const std::string_view line = Trim(text.substr(start, nl - start));
    start = nl + 1;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      const std::string_view name = line.substr(1, line.size() - 2);
      const size_t sep = name.find('\\');
      if (sep == std::string_view::npos) continue;
      const std::string root = Fold(name.substr(0, sep));
      for (int32_t r : kRoots) {
        if (root != Fold(qv::setup::RootKeyName(r))) continue;
        // The key and every key above it.
        std::string path(name.substr(sep + 1));
        while (!path.empty()) {
          addKey({r, path});
          const size_t up = path.rfind('\\');
          path.resize(up == std::string::npos ? 0 : up);
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
      AddUnique(names, std::move(n), kMaxNames, sameName);
    }
  }
}

std::string ValueText(const std::string* value) {
  return value == nullptr ? std::string("(none)") : "\"" + Printable(*value) + "\"";
}

// What an edit did to one value: nothing, replaced it, or removed it.
struct Change {
  enum { kKept, kSet, kRemoved } what = kKept;
  std::string value;
};

// `a` and `b` agree on every key and value, except where `change` says what
// `b` holds instead.
template <typename ChangeOf>
void CheckSame(const RegistryDocument& a, const RegistryDocument& b, const std::vector<Key>& keys,
               const std::vector<std::string>& names, ChangeOf change) {
  for (const Key& key : keys) {
    for (const std::string& name : names) {
      const std::string* before = a.FindValue(key.root, key.path, name);
      const std::string* after = b.FindValue(key.root, key.path, name);
      const Change c = change(key, name);
      const std::string* expected = c.what == Change::kKept  ? before
                                    : c.what == Change::kSet ? &c.value
                                                             : nullptr;
      const bool same = (expected == nullptr) == (after == nullptr) &&
                        (expected == nullptr || *expected == *after);
      FUZZ_CHECK_MSG(same, "key [" + Printable(key.path) + "] value \"" + Printable(name) +
                               "\": expected " + ValueText(expected) + ", got " + ValueText(after));
    }
  }
}

// The document written out and read back.
RegistryDocument Reread(const RegistryDocument& doc, std::string* text) {
  *text = doc.Render();
  RegistryDocument again;
  RegistryParseError error;
  FUZZ_CHECK_MSG(
      RegistryDocument::Parse(*text, &again, &error),
      "line " + std::to_string(error.line) + ": " + error.message + " in " + Printable(*text));
  return again;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  RegistryDocument doc;
  RegistryParseError error;
  if (!RegistryDocument::Parse(text, &doc, &error)) {
    FUZZ_CHECK(error.line >= 1);
    FUZZ_CHECK(!error.message.empty());
    return 0;
  }

  std::vector<Key> keys;
  std::vector<std::string> names;
  // A UTF-16LE file's names are scanned in its UTF-8 form.
  std::string utf8;
  size_t line = 0;
  const bool utf16 = text.substr(0, 2) == "\xFF\xFE";
  if (utf16) FUZZ_CHECK(qv::setup::Utf16LeToUtf8(text.substr(2), &utf8, &line));
  ScanNames(utf16 ? std::string_view(utf8) : text, &keys, &names);
  auto nothing = [](const Key&, const std::string&) { return Change(); };

  // Written back and read again: the same keys, values and text.
  std::string written;
  const RegistryDocument again = Reread(doc, &written);
  CheckSame(doc, again, keys, names, nothing);
  for (const Key& key : keys) {
    FUZZ_CHECK(doc.KeyExists(key.root, key.path) == again.KeyExists(key.root, key.path));
    FUZZ_CHECK(doc.HasSubKeys(key.root, key.path) == again.HasSubKeys(key.root, key.path));
  }
  std::string rewritten;
  Reread(again, &rewritten);
  FUZZ_CHECK_MSG(rewritten == written, Printable(written) + " became " + Printable(rewritten));

  // Edits of existing keys: set a value, add a sub key, delete the key.
  size_t edits = 0;
  for (size_t k = 0; k < keys.size() && edits < kMaxEdits; ++k) {
    const Key& key = keys[k];
    if (key.path.empty() || !doc.KeyExists(key.root, key.path) || HasLineBreak(key.path)) continue;
    ++edits;

    // A value: a name of the file's (or a new one), data with both escapes.
    const std::string& name = names[k % names.size()];
    if (!HasLineBreak(name)) {
      const std::string value = "C:\\Quorvia \"" + std::to_string(k) + "\"\\";
      RegistryDocument changed = doc;
      changed.SetValue(key.root, key.path, name, value);
      std::string out;
      const RegistryDocument read = Reread(changed, &out);
      CheckSame(doc, read, keys, names, [&](const Key& kk, const std::string& nn) {
        Change c;
        if (SameKey(kk, key) && Fold(nn) == Fold(name)) c = Change{Change::kSet, value};
        return c;
      });
      FUZZ_CHECK(read.KeyExists(key.root, key.path));
    }

    // A sub key: exists afterwards, and so does every key above it.
    {
      const std::string child = key.path + "\\Fuzz Sub Key";
      RegistryDocument changed = doc;
      const bool created = changed.CreateKey(key.root, child);
      FUZZ_CHECK(created == !doc.KeyExists(key.root, child));
      std::string out;
      const RegistryDocument read = Reread(changed, &out);
      FUZZ_CHECK(read.KeyExists(key.root, child));
      FUZZ_CHECK(read.HasSubKeys(key.root, key.path));
      CheckSame(doc, read, keys, names, nothing);
      for (const Key& other : keys) {
        if (SameKey(other, Key{key.root, child})) continue;
        FUZZ_CHECK(read.KeyExists(other.root, other.path) == doc.KeyExists(other.root, other.path));
      }
    }

    // Deleting a key without sub keys removes it and its values only; the
    // key above it stays.
    if (!doc.HasSubKeys(key.root, key.path)) {
      RegistryDocument changed = doc;
      changed.DeleteKey(key.root, key.path);
      std::string out;
      const RegistryDocument read = Reread(changed, &out);
      FUZZ_CHECK_MSG(!read.KeyExists(key.root, key.path), Printable(out));
      const size_t up = key.path.rfind('\\');
      if (up != std::string::npos) {
        FUZZ_CHECK(read.KeyExists(key.root, key.path.substr(0, up)));
      }
      CheckSame(doc, read, keys, names, [&](const Key& kk, const std::string&) {
        Change c;
        if (SameKey(kk, key)) c.what = Change::kRemoved;
        return c;
      });
      for (const Key& other : keys) {
        if (SameKey(other, key)) continue;
        FUZZ_CHECK_MSG(
            read.KeyExists(other.root, other.path) == doc.KeyExists(other.root, other.path),
            Printable(other.path));
      }
    }
  }
  return 0;
}

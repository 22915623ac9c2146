#include "setup/registry_document.h"

#include <algorithm>
#include <utility>
#include "base/names.h"

#include "setup/registry_store.h"
#include "setup/text_codec.h"

namespace qv::setup {

namespace {

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16Bom = "\xFF\xFE";

struct RootName {
  int32_t root;
  const char* name;
};
constexpr RootName kRoots[] = {
    {kHkeyClassesRoot, "HKEY_CLASSES_ROOT"},
    {kHkeyCurrentUser, "HKEY_CURRENT_USER"},
    {kHkeyLocalMachine, "HKEY_LOCAL_MACHINE"},
    {kHkeyUsers, "HKEY_USERS"},
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view TrimLeft(std::string_view s) {
  size_t b = 0;
  while (b < s.size() && IsBlank(s[b])) ++b;
  return s.substr(b);
}

std::string_view TrimRight(std::string_view s) {
  size_t e = s.size();
  while (e > 0 && IsBlank(s[e - 1])) --e;
  return s.substr(0, e);
}

std::string_view Trim(std::string_view s) {
  return TrimRight(TrimLeft(s));
}

// Reads a quoted text starting at s[*pos] == '"'. On success *pos is just
// past the closing quote.
bool ReadQuoted(std::string_view s, size_t* pos, std::string* out) {
  size_t i = *pos + 1;
  out->clear();
  while (i < s.size()) {
    const char c = s[i];
    if (c == '"') {
      *pos = i + 1;
      return true;
    }
    if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
      *out += s[i + 1];
      i += 2;
      continue;
    }
    *out += c;
    ++i;
  }
  return false;
}

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

std::string ValueLine(std::string_view name, std::string_view data) {
  return (name.empty() ? std::string("@") : Quote(name)) + "=" + Quote(data);
}

std::string KeyLine(int32_t root, std::string_view path) {
  std::string line = "[";
  line += RootKeyName(root);
  if (!path.empty()) {
    line += '\\';
    line += path;
  }
  line += ']';
  return line;
}

bool IsSubKeyOf(const std::string& foldedChild, const std::string& foldedParent) {
  if (foldedParent.empty()) return !foldedChild.empty();
  return foldedChild.size() > foldedParent.size() + 1 &&
         foldedChild.compare(0, foldedParent.size(), foldedParent) == 0 &&
         foldedChild[foldedParent.size()] == '\\';
}

}  // namespace

const char* RootKeyName(int32_t root) {
  for (const RootName& r : kRoots) {
    if (r.root == root) return r.name;
  }
  return nullptr;
}

bool IsValidKeyPath(std::string_view path) {
  if (path.empty()) return false;
  size_t start = 0;
  while (true) {
    const size_t sep = path.find('\\', start);
    const size_t end = sep == std::string_view::npos ? path.size() : sep;
    if (end == start) return false;
    if (sep == std::string_view::npos) return true;
    start = sep + 1;
  }
}

bool RegistryDocument::Parse(std::string_view text, RegistryDocument* doc,
                             RegistryParseError* error) {
  *doc = RegistryDocument();
  std::string decoded;
  if (text.substr(0, kUtf16Bom.size()) == kUtf16Bom) {
    doc->utf16_ = true;
    if (!Utf16LeToUtf8(text.substr(kUtf16Bom.size()), &decoded, &error->line)) {
      error->message = "text is not valid UTF-16";
      return false;
    }
    text = decoded;
  } else if (text.substr(0, kBom.size()) == kBom) {
    doc->bom_ = true;
    text.remove_prefix(kBom.size());
  }
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string_view::npos) nl = text.size();
    std::string_view line = text.substr(start, nl - start);
    // Every CR before the line's end belongs to the line break: a line kept
    // with a CR of its own would lose it when written back with LF ends.
    if (!line.empty() && line.back() == '\r') {
      while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (lines.empty()) doc->newline_ = "\r\n";
    }
    lines.push_back(line);
    start = nl + 1;
  }

  auto fail = [error](size_t index, std::string message) {
    error->line = index + 1;
    error->message = std::move(message);
    return false;
  };

  bool headerAllowed = true;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string_view raw = lines[i];
    if (!IsValidUtf8(raw)) return fail(i, "text is not valid UTF-8");
    const std::string_view line = Trim(raw);
    Entry plain;
    plain.lines.emplace_back(raw);

    if (line.empty() || line.front() == ';') {
      if (doc->sections_.empty()) {
        doc->preamble_.emplace_back(raw);
      } else {
        doc->sections_.back().entries.push_back(std::move(plain));
      }
      continue;
    }
    if (headerAllowed && (line == kHeader5 || line == kHeader4)) {
      headerAllowed = false;
      doc->preamble_.emplace_back(raw);
      continue;
    }
    headerAllowed = false;

    if (line.front() == '[') {
      if (line.back() != ']') return fail(i, "key line without closing bracket");
      const std::string_view name = line.substr(1, line.size() - 2);
      if (!name.empty() && name.front() == '-') {
        return fail(i, "key deletion lines are not supported");
      }
      const size_t sep = name.find('\\');
      const std::string_view rootName = name.substr(0, sep);
      const std::string_view path =
          sep == std::string_view::npos ? std::string_view() : name.substr(sep + 1);
      Section section;
      section.root = 0;
      for (const RootName& r : kRoots) {
        if (LowerAscii(rootName) == LowerAscii(r.name)) section.root = r.root;
      }
      if (section.root == 0) {
        return fail(i, "unknown root key \"" + std::string(rootName) + "\"");
      }
      if (sep != std::string_view::npos && !IsValidKeyPath(path)) {
        return fail(i, "empty key name in the key path");
      }
      section.path = std::string(path);
      section.folded = LowerAscii(path);
      section.header = std::string(raw);
      doc->sections_.push_back(std::move(section));
      continue;
    }

    if (line.front() == '"' || line.front() == '@') {
      if (doc->sections_.empty()) return fail(i, "value line outside any key");
      Entry entry;
      entry.isValue = true;
      entry.lines.emplace_back(raw);
      size_t pos = 0;
      if (line.front() == '@') {
        pos = 1;
      } else if (!ReadQuoted(line, &pos, &entry.name)) {
        return fail(i, "value name without closing quote");
      } else if (entry.name.empty()) {
        return fail(i, "empty value name (the default value is written @)");
      }
      while (pos < line.size() && IsBlank(line[pos])) ++pos;
      if (pos >= line.size() || line[pos] != '=')
        return fail(i, "missing '=' after the value name");
      ++pos;
      while (pos < line.size() && IsBlank(line[pos])) ++pos;
      if (pos < line.size() && line[pos] == '"') {
        if (!ReadQuoted(line, &pos, &entry.data)) return fail(i, "value without closing quote");
        if (pos != line.size()) return fail(i, "unexpected text after the value");
      } else {
        // Data of another type, possibly continued over lines ending in '\'.
        std::string data(line.substr(pos));
        while (!data.empty() && data.back() == '\\') {
          data.pop_back();
          if (i + 1 >= lines.size()) return fail(i, "value continued past the end of the file");
          ++i;
          if (!IsValidUtf8(lines[i])) return fail(i, "text is not valid UTF-8");
          entry.lines.emplace_back(lines[i]);
          data += Trim(lines[i]);
        }
        entry.deleted = data == "-";
        entry.data = std::move(data);
      }
      doc->sections_.back().entries.push_back(std::move(entry));
      continue;
    }
    return fail(i, "line is neither a key, a value nor a comment");
  }
  return true;
}

std::string RegistryDocument::Render() const {
  std::string out;
  if (bom_) out += kBom;
  auto add = [&](const std::string& line) {
    out += line;
    out += newline_;
  };
  if (preamble_.empty() && sections_.empty()) {
    add(std::string(kHeader5));
  } else {
    for (const std::string& line : preamble_) add(line);
    for (const Section& section : sections_) {
      add(section.header);
      for (const Entry& entry : section.entries) {
        for (const std::string& line : entry.lines) add(line);
      }
    }
  }
  if (utf16_) return std::string(kUtf16Bom) + Utf8ToUtf16Le(out);
  return out;
}

bool RegistryDocument::KeyExists(int32_t root, std::string_view path) const {
  if (path.empty()) return true;
  const std::string folded = LowerAscii(path);
  for (const Section& s : sections_) {
    if (s.root == root && (s.folded == folded || IsSubKeyOf(s.folded, folded))) return true;
  }
  return false;
}

bool RegistryDocument::HasSubKeys(int32_t root, std::string_view path) const {
  const std::string folded = LowerAscii(path);
  for (const Section& s : sections_) {
    if (s.root == root && IsSubKeyOf(s.folded, folded)) return true;
  }
  return false;
}

const std::string* RegistryDocument::FindValue(int32_t root, std::string_view path,
                                               std::string_view name) const {
  const std::string folded = LowerAscii(path);
  const std::string foldedName = LowerAscii(name);
  const std::string* found = nullptr;
  for (const Section& s : sections_) {
    if (s.root != root || s.folded != folded) continue;
    for (const Entry& e : s.entries) {
      if (e.isValue && LowerAscii(e.name) == foldedName) found = e.deleted ? nullptr : &e.data;
    }
  }
  return found;
}

RegistryDocument::Section* RegistryDocument::LastSection(int32_t root, const std::string& folded) {
  Section* last = nullptr;
  for (Section& s : sections_) {
    if (s.root == root && s.folded == folded) last = &s;
  }
  return last;
}

RegistryDocument::Section& RegistryDocument::AppendSection(int32_t root, std::string_view path) {
  // A blank line between the last line written so far and the new key line.
  auto isText = [](const std::string& line) { return !Trim(line).empty(); };
  if (sections_.empty()) {
    if (preamble_.empty()) preamble_.emplace_back(kHeader5);
    if (isText(preamble_.back())) preamble_.emplace_back("");
  } else {
    Section& last = sections_.back();
    const std::string& lastLine =
        last.entries.empty() ? last.header : last.entries.back().lines.back();
    if (isText(lastLine)) last.entries.push_back(Entry{{""}, false, "", ""});
  }
  Section section;
  section.root = root;
  section.path = std::string(path);
  section.folded = LowerAscii(path);
  section.header = KeyLine(root, path);
  sections_.push_back(std::move(section));
  return sections_.back();
}

void RegistryDocument::SetValue(int32_t root, std::string_view path, std::string_view name,
                                std::string_view data) {
  const std::string folded = LowerAscii(path);
  const std::string foldedName = LowerAscii(name);
  Entry* existing = nullptr;
  for (Section& s : sections_) {
    if (s.root != root || s.folded != folded) continue;
    for (Entry& e : s.entries) {
      if (e.isValue && LowerAscii(e.name) == foldedName) existing = &e;
    }
  }
  if (existing != nullptr) {
    // The stored name keeps its spelling, as the registry keeps it.
    existing->data = std::string(data);
    existing->deleted = false;
    existing->lines = {ValueLine(existing->name, data)};
    return;
  }
  Section* section = LastSection(root, folded);
  if (section == nullptr) section = &AppendSection(root, path);
  // After the key's last value, so that blank lines and comments that close
  // the key stay where they are.
  auto at = section->entries.begin();
  for (auto it = section->entries.begin(); it != section->entries.end(); ++it) {
    if (it->isValue) at = it + 1;
  }
  section->entries.insert(
      at, Entry{{ValueLine(name, data)}, true, std::string(name), std::string(data)});
}

bool RegistryDocument::CreateKey(int32_t root, std::string_view path) {
  if (KeyExists(root, path)) return false;
  AppendSection(root, path);
  return true;
}

void RegistryDocument::DeleteKey(int32_t root, std::string_view path) {
  const std::string folded = LowerAscii(path);
  auto first = std::find_if(sections_.begin(), sections_.end(),
                            [&](const Section& s) { return s.root == root && s.folded == folded; });
  if (first == sections_.end()) return;
  const size_t index = static_cast<size_t>(first - sections_.begin());
  const std::string written = first->path;
  sections_.erase(
      std::remove_if(sections_.begin(), sections_.end(),
                     [&](const Section& s) { return s.root == root && s.folded == folded; }),
      sections_.end());
  const size_t sep = written.rfind('\\');
  if (sep == std::string::npos) return;
  const std::string parent = written.substr(0, sep);
  if (KeyExists(root, parent)) return;
  Section section;
  section.root = root;
  section.path = parent;
  section.folded = LowerAscii(parent);
  section.header = KeyLine(root, parent);
  section.entries.push_back(Entry{{""}, false, "", ""});
  sections_.insert(sections_.begin() + static_cast<std::ptrdiff_t>(index), std::move(section));
}

}  // namespace qv::setup

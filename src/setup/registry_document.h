// The contents of a registry-export file, held line by line so that writing
// a value or a key changes only the lines concerned: every other key, value,
// comment and blank line is written back as it was read.
//
// Format: text in UTF-8 (with or without a byte-order mark), or in UTF-16LE
// with its byte-order mark as the original platform's registry editor
// exports it; a document is written back in the encoding it was read in. An
// optional header line ("REGEDIT4" or "Windows Registry
// Editor Version 5.00"); key lines "[ROOT\path]" with the four root names;
// value lines "Name"="data" or @="data" for the default value, where \\ is a
// backslash and \" a double quote (a backslash before any other character
// stands for itself); a value of another type (dword:, hex:, a hex list
// continued over lines ending in a backslash) reads as the text after the
// '='; "Name"=- (the export format's deletion mark) makes the value absent;
// blank lines; lines starting with ';' are comments. A key exists when
// it has a key line of its own or one of its sub keys has one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv::setup {

// The file's name of a root handle ("HKEY_LOCAL_MACHINE"), or nullptr.
const char* RootKeyName(int32_t root);

// Whether `path` names a key below a root: not empty, no empty component.
bool IsValidKeyPath(std::string_view path);

struct RegistryParseError {
  size_t line = 0;  // counted from 1
  std::string message;
};

class RegistryDocument {
 public:
  // Reads a whole file's text. On failure returns false and says which line
  // is wrong and why; `doc` is then unspecified.
  static bool Parse(std::string_view text, RegistryDocument* doc, RegistryParseError* error);

  // A file whose key line is missing holds no keys; rendering an empty
  // document gives a header line.
  std::string Render() const;

  // Paths and names compare without regard to case. An empty path is the
  // root, which always exists.
  bool KeyExists(int32_t root, std::string_view path) const;
  bool HasSubKeys(int32_t root, std::string_view path) const;
  // The value's text, or nullptr when the key or value is missing. The last
  // definition in the file wins.
  const std::string* FindValue(int32_t root, std::string_view path, std::string_view name) const;

  // Preconditions: `root` has a name; `path` is valid, or empty for the
  // root's own values; `name` and `data` hold no line break.
  void SetValue(int32_t root, std::string_view path, std::string_view name, std::string_view data);
  // Adds a key line unless the key exists already; returns whether it did.
  bool CreateKey(int32_t root, std::string_view path);
  // Removes every key line of the key with its values. A parent that
  // existed only through this key keeps existing with an empty key line.
  void DeleteKey(int32_t root, std::string_view path);

 private:
  struct Entry {
    std::vector<std::string> lines;  // as read, or as written for an edited value
    bool isValue = false;
    std::string name;
    std::string data;
    bool deleted = false;  // "Name"=-
  };
  struct Section {
    int32_t root = 0;
    std::string path;    // as written
    std::string folded;  // compared
    std::string header;  // the key line
    std::vector<Entry> entries;
  };

  Section* LastSection(int32_t root, const std::string& folded);
  Section& AppendSection(int32_t root, std::string_view path);

  bool bom_ = false;
  bool utf16_ = false;  // read from UTF-16LE: written back so, with its mark
  std::string newline_ = "\n";
  std::vector<std::string> preamble_;
  std::vector<Section> sections_;
};

}  // namespace qv::setup

// Fuzzes the data-source file parser (ParseOdbcIni), the lookup of a data
// source (FindDataSource) and the connection-string parser
// (ParseConnectionString).
//
// The input's first line is a connection string and the rest an odbc.ini
// text; the whole input is also read as each of the two. Invariants:
//   - names, keys and values come out trimmed, a key never empty, a value
//     never holding a comment; written back as plain "[name]" and
//     "key=value" lines the sections read the same;
//   - a lookup finds the first section of that name, without regard to case;
//   - a connection string either names a data source (a bare name, or the
//     last DSN / Data Source pair) or raises DbError, and nothing else.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/data_source.h"
#include "db/db_error.h"
#include "fuzz_check.h"

namespace {

using qv::db::OdbcSection;
using qv::fuzz::Printable;

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool Trimmed(std::string_view s) {
  return s.empty() || (!IsBlank(s.front()) && !IsBlank(s.back()));
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool HoldsComment(std::string_view value) {
  for (size_t i = 1; i < value.size(); ++i) {
    if ((value[i] == ';' || value[i] == '#') && (value[i - 1] == ' ' || value[i - 1] == '\t')) {
      return true;
    }
  }
  return false;
}

bool SameSections(const std::vector<OdbcSection>& a, const std::vector<OdbcSection>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].name != b[i].name || a[i].entries != b[i].entries) return false;
  }
  return true;
}

void CheckLookup(const std::vector<OdbcSection>& sections, std::string_view name) {
  const OdbcSection* found = qv::db::FindDataSource(sections, name);
  const OdbcSection* first = nullptr;
  for (const OdbcSection& s : sections) {
    if (SameNoCase(s.name, name)) {
      first = &s;
      break;
    }
  }
  FUZZ_CHECK_MSG(found == first, Printable(name));
}

std::vector<OdbcSection> CheckOdbcIni(std::string_view text) {
  const std::vector<OdbcSection> sections = qv::db::ParseOdbcIni(text);
  std::string written;
  for (const OdbcSection& s : sections) {
    FUZZ_CHECK_MSG(Trimmed(s.name), Printable(s.name));
    FUZZ_CHECK(s.name.find_first_of("]\n") == std::string::npos);
    written += "[" + s.name + "]\n";
    for (const auto& [key, value] : s.entries) {
      FUZZ_CHECK(!key.empty());
      FUZZ_CHECK_MSG(Trimmed(key) && Trimmed(value), Printable(key) + "=" + Printable(value));
      FUZZ_CHECK(key.find_first_of("=\n") == std::string::npos);
      FUZZ_CHECK(key.front() != '[' && key.front() != ';' && key.front() != '#');
      FUZZ_CHECK(value.find('\n') == std::string::npos);
      FUZZ_CHECK_MSG(!HoldsComment(value), Printable(value));
      // The first entry of a key wins.
      const std::optional<std::string> got = s.Get(key);
      FUZZ_CHECK(got.has_value());
      for (const auto& [k, v] : s.entries) {
        if (SameNoCase(k, key)) {
          FUZZ_CHECK(*got == v);
          break;
        }
      }
      written += key + "=" + value + "\n";
    }
    CheckLookup(sections, s.name);
  }
  FUZZ_CHECK_MSG(SameSections(qv::db::ParseOdbcIni(written), sections), Printable(written));
  for (const char* name : {"qv_main", "qv_security", ""}) CheckLookup(sections, name);
  return sections;
}

// The data source a connection string names, found without the parser.
std::string NamedDataSource(std::string_view text) {
  if (text.find('=') == std::string_view::npos) return std::string(Trim(text));
  std::string named;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view pair = text.substr(start, end - start);
    const size_t equals = pair.find('=');
    if (equals != std::string_view::npos) {
      const std::string_view key = Trim(pair.substr(0, equals));
      if (SameNoCase(key, "DSN") || SameNoCase(key, "Data Source")) {
        named = std::string(Trim(pair.substr(equals + 1)));
      }
    }
    start = end + 1;
  }
  return named;
}

void CheckConnectionString(const std::string& text, const std::vector<OdbcSection>& sections) {
  const std::string expected = NamedDataSource(text);
  try {
    const qv::db::ConnectionString cs = qv::db::ParseConnectionString(text);
    FUZZ_CHECK_MSG(cs.dataSource == expected,
                   Printable(text) + " named " + Printable(cs.dataSource));
    FUZZ_CHECK(!cs.dataSource.empty());
    for (const std::optional<std::string>& v : {cs.userId, cs.password}) {
      if (v) FUZZ_CHECK(Trimmed(*v) && v->find(';') == std::string::npos);
    }
    FUZZ_CHECK(Trimmed(cs.provider) && cs.provider.find(';') == std::string::npos);
    CheckLookup(sections, cs.dataSource);
  } catch (const qv::db::DbError& e) {
    FUZZ_CHECK_MSG(expected.empty(), Printable(text) + ": " + e.description());
    FUZZ_CHECK(e.number() == qv::db::kErrDataSource);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t nl = input.find('\n');
  const std::string first = input.substr(0, nl);
  const std::string rest = nl == std::string::npos ? std::string() : input.substr(nl + 1);

  const std::vector<OdbcSection> sections = CheckOdbcIni(rest);
  CheckConnectionString(first, sections);
  const std::vector<OdbcSection> whole = CheckOdbcIni(input);
  CheckConnectionString(input, whole);
  return 0;
}

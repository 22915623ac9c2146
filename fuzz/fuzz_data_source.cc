// The data-source file parser and lookup; what they must keep is listed in
// README.md here.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "db/odbc_ini.h"
#include "fuzz_check.h"

namespace {

using qv::db::OdbcSection;
using qv::fuzz::SameNoCase;
using qv::fuzz::Trim;

bool Trimmed(std::string_view s) {
  return Trim(s) == s;
}

void CheckLookup(const std::vector<OdbcSection>& sections, std::string_view name) {
  const OdbcSection* first = nullptr;
  for (size_t i = sections.size(); i-- > 0;) {
    if (SameNoCase(sections[i].name, name)) first = &sections[i];
  }
  FUZZ_CHECK(qv::db::FindDataSource(sections, name) == first);
}

void CheckOdbcIni(std::string_view text) {
  const std::vector<OdbcSection> sections = qv::db::ParseOdbcIni(text);
  std::string written;
  for (const OdbcSection& s : sections) {
    FUZZ_CHECK(Trimmed(s.name) && s.name.find_first_of("]\n") == std::string::npos);
    written += "[" + s.name + "]\n";
    for (const auto& [key, value] : s.entries) {
      FUZZ_CHECK(!key.empty() && Trimmed(key) && Trimmed(value));
      FUZZ_CHECK(key.find_first_of("=\n") == key.npos && key.find_first_of("[;#") != 0);
      FUZZ_CHECK(value.find('\n') == value.npos);
      for (const auto& [k, v] : s.entries) {  // the first entry of a key wins
        if (!SameNoCase(k, key)) continue;
        FUZZ_CHECK(s.Get(key) == v);
        break;
      }
      // A ';' or '#' in a value stays in it; only a line that starts with
      // one (after blanks) is a comment, so the copy written here must be
      // read back without it.
      written += key + "=" + value + "\n\t# " + key + "=" + value + "\n";
    }
    CheckLookup(sections, s.name);
  }
  const std::vector<OdbcSection> again = qv::db::ParseOdbcIni(written);
  FUZZ_CHECK(again.size() == sections.size());
  for (size_t i = 0; i < again.size(); ++i) {
    FUZZ_CHECK(again[i].name == sections[i].name && again[i].entries == sections[i].entries);
  }
  for (const char* name : {"qv_main", "qv_security", ""}) CheckLookup(sections, name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckOdbcIni(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}

// What the fuzz targets share: checks that abort, so that the fuzzer records
// the input as a crash whatever the build type, and small text helpers.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace qv::fuzz {

[[noreturn]] inline void Broken(const char* condition, const char* file, int line,
                                const std::string& detail) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n  %s\n", file, line, condition,
               detail.c_str());
  std::abort();
}

// `text` with every byte outside printable ASCII (and '\') as \xHH.
inline std::string Printable(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (const unsigned char u : text) {
    const bool plain = u >= 0x20 && u < 0x7f && u != '\\';
    out += plain ? std::string(1, static_cast<char>(u))
                 : std::string{'\\', 'x', kHex[u >> 4], kHex[u & 15]};
  }
  return out;
}

inline bool SameNoCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  for (size_t i = 0; i < a.size() && a.size() == b.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return a.size() == b.size();
}

inline bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

inline std::string_view Trim(std::string_view s, std::string_view blanks = " \t\r\n") {
  while (!s.empty() && blanks.find(s.front()) != std::string_view::npos) s.remove_prefix(1);
  while (!s.empty() && blanks.find(s.back()) != std::string_view::npos) s.remove_suffix(1);
  return s;
}

}  // namespace qv::fuzz

#define FUZZ_CHECK_MSG(condition, detail)                                         \
  do {                                                                            \
    if (!(condition)) ::qv::fuzz::Broken(#condition, __FILE__, __LINE__, detail); \
  } while (false)
#define FUZZ_CHECK(condition) FUZZ_CHECK_MSG(condition, "")

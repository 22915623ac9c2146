// What the fuzz targets share: a check that aborts and small text helpers.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace qv::fuzz {

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

// Aborts, so that the fuzzer records the input as a crash whatever the build type.
#define FUZZ_CHECK(condition)                                                                \
  do {                                                                                       \
    if (!(condition)) {                                                                      \
      std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                          \
    }                                                                                        \
  } while (false)

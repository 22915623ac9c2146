// What the fuzz targets share: a check that stops the fuzzer with a message
// when an invariant breaks. It aborts rather than throws, so the fuzzer
// records the input as a crash whatever the build type.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace qv::fuzz {

[[noreturn]] inline void Broken(const char* condition, const char* file, int line,
                                const std::string& detail) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
  if (!detail.empty()) std::fprintf(stderr, "  %s\n", detail.c_str());
  std::abort();
}

// `text` with every byte outside printable ASCII written as \xHH, for messages.
inline std::string Printable(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7f && c != '\\') {
      out += c;
    } else {
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    }
  }
  return out;
}

}  // namespace qv::fuzz

#define FUZZ_CHECK(condition)                                                 \
  do {                                                                        \
    if (!(condition)) ::qv::fuzz::Broken(#condition, __FILE__, __LINE__, ""); \
  } while (false)

#define FUZZ_CHECK_MSG(condition, detail)                                         \
  do {                                                                            \
    if (!(condition)) ::qv::fuzz::Broken(#condition, __FILE__, __LINE__, detail); \
  } while (false)

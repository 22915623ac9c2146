// Names compare as the engine compares them: ASCII letters without regard
// to case, every other byte exactly. Tables, columns, views, data sources,
// connection-string keys, and the setup's switches and registry keys all
// follow this one rule.
#pragma once

#include <string>
#include <string_view>

namespace qv {

bool EqualsNoCase(std::string_view a, std::string_view b);

// `s` with its ASCII capitals made small; every other byte as it is.
std::string LowerAscii(std::string_view s);

}  // namespace qv

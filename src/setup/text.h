// Small text helpers of the setup driver.
#pragma once

#include <string>
#include <string_view>

namespace qv::setup {

// Equality without regard to letter case (ASCII letters; every other byte
// compares as it is), as the driver compares switches and the confirmation
// word.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// The word a boolean result is shown as: "True" or "False".
inline const char* BoolText(bool value) {
  return value ? "True" : "False";
}

}  // namespace qv::setup

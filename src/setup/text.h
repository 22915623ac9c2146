// Small text helpers of the setup driver.
#pragma once

namespace qv::setup {

// The word a boolean result is shown as: "True" or "False".
inline const char* BoolText(bool value) {
  return value ? "True" : "False";
}

}  // namespace qv::setup

#include "base/diagnostics.h"

#include <iostream>

namespace qv {

void Diagnostics::Say(const std::string& line) const {
  std::string text = prefix_;
  text.reserve(text.size() + line.size() + 1);
  for (char c : line) text += (c == '\r' || c == '\n') ? ' ' : c;
  text += '\n';
  *out_ << text << std::flush;
}

const Diagnostics& StandardErrorDiagnostics() {
  static const Diagnostics diagnostics(std::cerr);
  return diagnostics;
}

}  // namespace qv

#include "db/diagnostics.h"

#include <iostream>

namespace qv::db {
namespace {

std::ostream* stream = nullptr;  // null: standard error

}  // namespace

void Diagnose(const std::string& line) {
  std::string text = "qvsetup: ";
  text.reserve(text.size() + line.size() + 1);
  for (char c : line) text += (c == '\r' || c == '\n') ? ' ' : c;
  text += '\n';
  std::ostream& out = stream != nullptr ? *stream : std::cerr;
  out << text << std::flush;
}

std::ostream* SetDiagnosticStream(std::ostream* out) {
  std::ostream* previous = stream;
  stream = out;
  return previous;
}

}  // namespace qv::db

// Diagnostics for the administrator: what a run could not do although no box
// says so (a commit that failed, a table left unmigrated, a view the server
// engine had to drop). One line each on standard error, prefixed
// "qvsetup: "; standard output keeps only the message boxes.
#pragma once

#include <iosfwd>
#include <string>

namespace qv::db {

// Writes "qvsetup: <line>" and a newline to the diagnostic stream and
// flushes it. Line breaks inside `line` are written as blanks, so that one
// diagnostic stays one line.
void Diagnose(const std::string& line);

// Sends diagnostics to `out` (nullptr: standard error again) and returns the
// stream used before; for tests that read what a routine diagnosed.
std::ostream* SetDiagnosticStream(std::ostream* out);

}  // namespace qv::db

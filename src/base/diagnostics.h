// Diagnostics for the administrator: what a run could not do although no box
// says so (a commit that failed, a table left unmigrated, a view the server
// engine had to drop). One line each, prefixed "qvsetup: ", on standard error
// in a real run; standard output keeps only the message boxes.
//
// A routine that says something is handed the Diagnostics to say it to, so
// that a test reads what it said from a stream of its own.
#pragma once

#include <iosfwd>
#include <string>
#include <utility>

namespace qv {

class Diagnostics {
 public:
  // Says every line to `out`, which must outlive this object, after
  // `program` and ": " (another command of the package names itself).
  explicit Diagnostics(std::ostream& out, std::string program = "qvsetup")
      : out_(&out), prefix_(std::move(program) + ": ") {}

  // Writes "<program>: <line>" and a newline, and flushes. Line breaks inside
  // `line` are written as blanks, so that one diagnostic stays one line.
  void Say(const std::string& line) const;

 private:
  std::ostream* out_;
  std::string prefix_;
};

// The Diagnostics of a real run: standard error.
const Diagnostics& StandardErrorDiagnostics();

}  // namespace qv

// The command line of qv-mkinstall:
//
//   qv-mkinstall [--old] [--company NAME] [--engine sqlite|postgresql]
//                [--prefix NAME] [--host H] [--port P] [--user U] [--password W] DIR
//
// Exit status 0 when the installation was laid out (the two environment
// lines that select it are printed on `out`), 1 when it could not be (an
// installation already there, a file that cannot be written, a server that
// cannot be reached), 2 for bad
// arguments (with the usage text on `err`).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "mkinstall/layout.h"

namespace qv::mkinstall {

struct CommandLine {
  bool help = false;
  std::string dir;
  LayoutSettings settings;
};

// Reads the arguments after the program name. Returns false, with the reason
// in `error`, when they do not make a command.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error);

int RunMkinstall(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// `text` as one shell word: unchanged when it needs no quoting, else in
// single quotes. What qv-mkinstall prints is meant for eval.
std::string ShellWord(const std::string& text);

}  // namespace qv::mkinstall

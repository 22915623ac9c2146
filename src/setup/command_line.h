// The command line of a setup run: splitting it into arguments, reading the
// switches into the run options, and the help screen.
#pragma once

#include <string>
#include <vector>

#include "setup/message_boxes.h"
#include "setup/options.h"

namespace qv::setup {

// Splits a command-line text (without the program's name) into arguments.
// Index 0 of the result is always empty; the arguments stand at 1 to n in
// order, n <= maxArgs, and everything after the maxArgs-th argument is
// ignored. Blanks and tabs separate arguments outside double quotes; a double
// quote only switches quoting on or off and never appears in an argument; a
// pair of quotes standing alone makes an empty argument.
std::vector<std::string> GetArg(const std::string& commandLine, int maxArgs = 10);

// The command-line text of a process started with `argv`: the arguments
// after the program's name joined by single blanks. The shell has already
// removed the user's quoting, so it is put back where the splitting needs it:
// an argument that is empty or holds a blank or a tab is wrapped in double
// quotes. A double quote inside an argument could only switch quoting in the
// text, so it is left out; each shell argument stays one argument.
std::string JoinArguments(int argc, const char* const argv[]);

// What the switches of one run asked for.
struct CommandLine {
  SetupOptions options;
  // "/?" or "-?" was met: the scan stopped there, the help screen is due and
  // nothing else may run.
  bool showHelp = false;
};

// Reads the switches of `commandLine` (at most 20 arguments); does nothing
// else. Switches are whole arguments compared without regard to case; a
// value switch takes the argument after it (which is then read as a switch
// too) and keeps its value when it stands last; unknown arguments are ignored.
CommandLine ParseCommandLine(const std::string& commandLine);

// The help screen's text: thirteen lines, each ended by CR LF.
const std::string& HelpText();

// Shows the help screen as one message box.
void ShowHelp(MessageBoxes& boxes);

}  // namespace qv::setup

#include "setup/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace qv::setup {
namespace {

using Args = std::vector<std::string>;

std::string Numbered(int n) {
  std::string line;
  for (int i = 1; i <= n; ++i) line += "a" + std::to_string(i) + " ";
  return line;
}

TEST(GetArgTest, SplitsAsTheTableSays) {
  const struct {
    std::string line;
    int maxArgs;
    Args expected;
  } cases[] = {
      {"/i  Initialize\t/d \t /n\tsa", 10, {"", "/i", "Initialize", "/d", "/n", "sa"}},
      {"   \t ", 10, {""}},
      {"/n \"setup admin\" /p \"a\tb\"", 10, {"", "/n", "setup admin", "/p", "a\tb"}},
      {"ab\"c d\"e f", 10, {"", "abc de", "f"}},  // a quote mid-word only switches quoting
      {"/n \"a b /d", 10, {"", "/n", "a b /d"}},  // unclosed quote runs to the end
      {"/n \"\" /d", 10, {"", "/n", "", "/d"}},   // a lone pair is an empty argument
      {"a b", 0, {""}},
      {Numbered(25), 10, {"", "a1", "a2", "a3", "a4", "a5", "a6", "a7", "a8", "a9", "a10"}},
  };
  for (const auto& c : cases) EXPECT_EQ(GetArg(c.line, c.maxArgs), c.expected) << c.line;
  EXPECT_EQ(GetArg(Numbered(25)).size(), 11u) << "ten by default";
}

// The options as one line: n= p= i= l= s= then the flags that are set.
std::string Describe(const CommandLine& c) {
  const SetupOptions& o = c.options;
  return "n=" + o.UserName + " p=" + o.DBPassword + " i=" + o.InitializeWord + " l=" + o.Language +
         " s=" + o.StationID + (o.DebugMode ? " d" : "") + (o.WithSampleData ? " a" : "") +
         (o.BackUpDatabases ? " b" : "") + (c.showHelp ? " ?" : "");
}

TEST(ParseCommandLineTest, SwitchesAsTheTableSays) {
  const std::string nineteen = Numbered(19);
  const std::pair<std::string, std::string> cases[] = {
      {"", "n= p= i= l= s="},
      {"/N sa /P pw /I Initialize /L 2 /S 7 /DEBUG /A /B", "n=sa p=pw i=Initialize l=2 s=7 d a b"},
      {"/n /d", "n=/d p= i= l= s= d"},  // a value is read as a switch too
      {"/I INITIALIZE", "n= p= i=INITIALIZE l= s="},
      {"/l 2 /l 1", "n= p= i= l=1 s="},  // the last one wins
      {"/l 2 /l", "n= p= i= l=2 s="},    // standing last, keeps the old value
      {"/n \"setup admin\"", "n=setup admin p= i= l= s="},
      {"/debugx /nsa -d /a- x/b", "n= p= i= l= s="},     // only whole arguments match
      {"/d /? /i Initialize /a", "n= p= i= l= s= d ?"},  // help stops the scan
      {"/n -?", "n=-? p= i= l= s= ?"},
      {nineteen + "/d", "n= p= i= l= s= d"},   // the 20th argument counts
      {nineteen + "x /d", "n= p= i= l= s="},   // the 21st does not
      {nineteen + "/n sa", "n= p= i= l= s="},  // the 20th has no value to take
  };
  for (const auto& [line, expected] : cases) {
    EXPECT_EQ(Describe(ParseCommandLine(line)), expected) << line;
  }
}

}  // namespace
}  // namespace qv::setup

#include "setup/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace qv::setup {
namespace {

std::string Numbered(int n) {
  std::string line;
  for (int i = 1; i <= n; ++i) line += "a" + std::to_string(i) + " ";
  return line;
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
      {"   \t ", "n= p= i= l= s="},
      {"/i\tInitialize\t/d \t /n\tsa", "n=sa p= i=Initialize l= s= d"},
      {"/n ab\"c d\"e /d", "n=abc de p= i= l= s= d"},  // a quote mid-word only switches quoting
      {"/n \"a b /d", "n=a b /d p= i= l= s="},         // an unclosed quote runs to the end
      {"/n \"\" /d", "n= p= i= l= s= d"},              // a lone pair is an empty argument
      {"/N sa /P pw /I Initialize /L 2 /S 7 /DEBUG /A /B", "n=sa p=pw i=Initialize l=2 s=7 d a b"},
      {"/n /d", "n=/d p= i= l= s= d"},  // a value is read as a switch too
      {"/I INITIALIZE", "n= p= i=INITIALIZE l= s="},
      {"/l 2 /l 1", "n= p= i= l=1 s="},  // the last one wins
      {"/l 2 /l", "n= p= i= l=2 s="},    // standing last, keeps the old value
      {"/n \"setup admin\" /p \"a\tb\"", "n=setup admin p=a\tb i= l= s="},
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

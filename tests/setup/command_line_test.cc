#include "setup/command_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "fakes.h"

namespace qv::setup {
namespace {

using Args = std::vector<std::string>;

std::string Numbered(int n) {
  std::string line;
  for (int i = 1; i <= n; ++i) line += "a" + std::to_string(i) + " ";
  return line;
}

TEST(GetArgTest, SplitsAsTheTableSays) {
  struct Case {
    std::string line;
    int maxArgs;
    Args expected;
  };
  const Case cases[] = {
      {"/i  Initialize\t/d \t /n\tsa", 10, {"", "/i", "Initialize", "/d", "/n", "sa"}},
      {"   \t ", 10, {""}},
      {"", 10, {""}},
      {"/n \"setup admin\" /p \"a\tb\"", 10, {"", "/n", "setup admin", "/p", "a\tb"}},
      {"ab\"c d\"e f", 10, {"", "abc de", "f"}},  // a quote mid-word only switches quoting
      {"/n \"a b /d", 10, {"", "/n", "a b /d"}},  // unclosed quote runs to the end
      {"/n \"\" /d", 10, {"", "/n", "", "/d"}},   // a lone pair is an empty argument
      {"\"\"", 10, {"", ""}},
      {"a\"\"b \"\"c", 10, {"", "ab", "c"}},  // next to a word it adds nothing
      {"a b", 0, {""}},
      {"a b", 2, {"", "a", "b"}},
  };
  for (const Case& c : cases) EXPECT_EQ(GetArg(c.line, c.maxArgs), c.expected) << c.line;

  const Args ten = GetArg(Numbered(25));
  ASSERT_EQ(ten.size(), 11u);
  EXPECT_EQ(ten[10], "a10");
  const Args twenty = GetArg(Numbered(25), 20);
  ASSERT_EQ(twenty.size(), 21u);
  EXPECT_EQ(twenty[20], "a20");
}

TEST(JoinArgumentsTest, EachShellArgumentComesBackAsOneArgument) {
  const std::vector<Args> cases = {
      {"qvsetup"},
      {"qvsetup", "/i", "Initialize", "/d"},
      {"qvsetup", "/n", "setup admin", "/p", ""},
      {"qvsetup", "/n", "tab\there", "x"},
      {"qvsetup", "", "", "/d"},
      {"qvsetup", "/n", "a\" b", "/d"},
  };
  for (const Args& argv : cases) {
    std::vector<const char*> raw;
    for (const std::string& a : argv) raw.push_back(a.c_str());
    const std::string joined = JoinArguments(static_cast<int>(raw.size()), raw.data());
    Args expected = argv;
    expected[0] = "";
    for (std::string& a : expected) a.erase(std::remove(a.begin(), a.end(), '"'), a.end());
    EXPECT_EQ(GetArg(joined, 20), expected) << joined;
  }
  const char* argv[] = {"qvsetup", "/n", "a\" b", "/d"};
  EXPECT_EQ(JoinArguments(4, argv), "/n \"a b\" /d");
}

// The options as one line: n= p= i= l= s= then the flags that are set.
std::string Describe(const CommandLine& c) {
  const SetupOptions& o = c.options;
  return "n=" + o.UserName + " p=" + o.DBPassword + " i=" + o.InitializeWord + " l=" + o.Language +
         " s=" + o.StationID + (o.DebugMode ? " d" : "") + (o.WithSampleData ? " a" : "") +
         (o.BackUpDatabases ? " b" : "") + (c.showHelp ? " ?" : "");
}

TEST(ParseCommandLineTest, SwitchesAsTheTableSays) {
  std::string nineteen;
  for (int i = 0; i < 19; ++i) nineteen += "x ";
  const std::pair<std::string, std::string> cases[] = {
      {"", "n= p= i= l= s="},
      {"/N sa /P pw /I Initialize /L 2 /S 7 /DEBUG /A /B", "n=sa p=pw i=Initialize l=2 s=7 d a b"},
      {"/d", "n= p= i= l= s= d"},
      {"/Debug", "n= p= i= l= s= d"},
      {"/n /d", "n=/d p= i= l= s= d"},  // a value is read as a switch too
      {"/n /i Initialize", "n=/i p= i=Initialize l= s="},
      {"/I INITIALIZE", "n= p= i=INITIALIZE l= s="},  // the word keeps its case
      {"/l 2 /l 1", "n= p= i= l=1 s="},               // the last one wins
      {"/l 2 /l", "n= p= i= l=2 s="},                 // standing last, keeps the old value
      {"/n", "n= p= i= l= s="},
      {"/n \"setup admin\"", "n=setup admin p= i= l= s="},
      {"/n \"\" /i Initialize", "n= p= i=Initialize l= s="},
      {"/n\tsa", "n=sa p= i= l= s="},
      {"/debugx /nsa -d /a- x/b", "n= p= i= l= s="},     // only whole arguments match
      {"/d /? /i Initialize /a", "n= p= i= l= s= d ?"},  // help stops the scan
      {"-?", "n= p= i= l= s= ?"},
      {"/n /?", "n=/? p= i= l= s= ?"},
      {nineteen + "/d", "n= p= i= l= s= d"},   // the 20th argument counts
      {nineteen + "x /d", "n= p= i= l= s="},   // the 21st does not
      {nineteen + "/n sa", "n= p= i= l= s="},  // the 20th has no value to take
  };
  for (const auto& [line, expected] : cases) {
    EXPECT_EQ(Describe(ParseCommandLine(line)), expected) << line;
  }
}

TEST(ShowHelpTest, ShowsTheThirteenLinesInOneBox) {
  testing::CapturingMessageBoxes boxes;
  ShowHelp(boxes);
  EXPECT_EQ(boxes.shown,
            std::vector<std::string>{
                "QvSetup.exe options\r\n\r\n/L: Language Identifier\r\n/S: Station Identifier\r\n"
                "/D: Debug mode execution\r\n/A: Sample data insert switch\r\n"
                "/P: Database Password (Optional)\r\n/N: Database UserName (Optional)\r\n"
                "/B: Back up qv_main.mdb\r\n/?, -?: Help screen\r\n\r\n"
                "(All the switches are non-case sensitive.)\r\n\r\n"});
}

}  // namespace
}  // namespace qv::setup

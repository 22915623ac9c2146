#include "setup/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes.h"

namespace qv::setup {
namespace {

using Args = std::vector<std::string>;

TEST(GetArgTest, BlanksAndTabsSeparateAndIndexZeroStaysEmpty) {
  EXPECT_EQ(GetArg("/i  Initialize\t/d \t /n\tsa"), (Args{"", "/i", "Initialize", "/d", "/n", "sa"}));
  EXPECT_EQ(GetArg("   \t "), (Args{""}));
  EXPECT_EQ(GetArg(""), (Args{""}));
}

TEST(GetArgTest, QuotesKeepBlanksTogetherAndAreDropped) {
  EXPECT_EQ(GetArg("/n \"setup admin\" /p \"a\tb\""), (Args{"", "/n", "setup admin", "/p", "a\tb"}));
  // A quote in the middle of a word only switches quoting.
  EXPECT_EQ(GetArg("ab\"c d\"e f"), (Args{"", "abc de", "f"}));
  // An unclosed quote keeps everything after it in one argument.
  EXPECT_EQ(GetArg("/n \"a b /d"), (Args{"", "/n", "a b /d"}));
}

TEST(GetArgTest, EmptyQuotedPairAloneIsAnEmptyArgument) {
  EXPECT_EQ(GetArg("/n \"\" /d"), (Args{"", "/n", "", "/d"}));
  EXPECT_EQ(GetArg("\"\""), (Args{"", ""}));
  // Next to a word, the pair adds nothing.
  EXPECT_EQ(GetArg("a\"\"b \"\"c"), (Args{"", "ab", "c"}));
}

TEST(GetArgTest, StopsAtMaxArgsIgnoringTheRest) {
  std::string line;
  for (int i = 1; i <= 25; ++i) line += "a" + std::to_string(i) + " ";
  const Args ten = GetArg(line);
  ASSERT_EQ(ten.size(), 11u);
  EXPECT_EQ(ten[10], "a10");
  const Args twenty = GetArg(line, 20);
  ASSERT_EQ(twenty.size(), 21u);
  EXPECT_EQ(twenty[20], "a20");
  EXPECT_EQ(GetArg("a b", 0), (Args{""}));
  // Exactly maxArgs arguments are all kept.
  EXPECT_EQ(GetArg("a b", 2), (Args{"", "a", "b"}));
}

TEST(JoinArgumentsTest, EachShellArgumentComesBackAsOneArgument) {
  const std::vector<Args> cases = {
      {"qvsetup"},
      {"qvsetup", "/i", "Initialize", "/d"},
      {"qvsetup", "/n", "setup admin", "/p", ""},
      {"qvsetup", "/n", "tab\there", "x"},
      {"qvsetup", "", "", "/d"},
  };
  for (const Args& argv : cases) {
    std::vector<const char*> raw;
    for (const std::string& a : argv) raw.push_back(a.c_str());
    const Args split = GetArg(JoinArguments(static_cast<int>(raw.size()), raw.data()), 20);
    Args expected = argv;
    expected[0] = "";
    EXPECT_EQ(split, expected) << JoinArguments(static_cast<int>(raw.size()), raw.data());
  }
}

TEST(JoinArgumentsTest, QuoteCharactersAreLeftOutWithoutMergingArguments) {
  const char* argv[] = {"qvsetup", "/n", "a\" b", "/d"};
  EXPECT_EQ(JoinArguments(4, argv), "/n \"a b\" /d");
  EXPECT_EQ(GetArg(JoinArguments(4, argv)), (Args{"", "/n", "a b", "/d"}));
}

TEST(ParseCommandLineTest, NothingGivenLeavesEverythingEmpty) {
  const CommandLine c = ParseCommandLine("");
  EXPECT_FALSE(c.showHelp);
  EXPECT_EQ(c.options.InitializeWord, "");
  EXPECT_EQ(c.options.UserName, "");
  EXPECT_FALSE(c.options.DebugMode || c.options.WithSampleData || c.options.BackUpDatabases);
}

TEST(ParseCommandLineTest, EverySwitchInAnyCase) {
  const CommandLine c =
      ParseCommandLine("/N sa /P pw /I Initialize /L 2 /S 7 /DEBUG /A /B");
  EXPECT_EQ(c.options.UserName, "sa");
  EXPECT_EQ(c.options.DBPassword, "pw");
  EXPECT_EQ(c.options.InitializeWord, "Initialize");
  EXPECT_EQ(c.options.Language, "2");
  EXPECT_EQ(c.options.StationID, "7");
  EXPECT_TRUE(c.options.DebugMode);
  EXPECT_TRUE(c.options.WithSampleData);
  EXPECT_TRUE(c.options.BackUpDatabases);
  EXPECT_FALSE(c.showHelp);
  EXPECT_TRUE(ParseCommandLine("/d").options.DebugMode);
  EXPECT_TRUE(ParseCommandLine("/Debug").options.DebugMode);
}

TEST(ParseCommandLineTest, ValueIsTakenButAlsoReadAsASwitch) {
  const CommandLine c = ParseCommandLine("/n /d");
  EXPECT_EQ(c.options.UserName, "/d");
  EXPECT_TRUE(c.options.DebugMode);
  // The value of /n is /i, whose own value is then Initialize.
  const CommandLine d = ParseCommandLine("/n /i Initialize");
  EXPECT_EQ(d.options.UserName, "/i");
  EXPECT_EQ(d.options.InitializeWord, "Initialize");
}

TEST(ParseCommandLineTest, ConfirmationWordKeepsItsCase) {
  EXPECT_EQ(ParseCommandLine("/I INITIALIZE").options.InitializeWord, "INITIALIZE");
}

TEST(ParseCommandLineTest, LastOccurrenceWinsAndValueSwitchLastKeepsOldValue) {
  EXPECT_EQ(ParseCommandLine("/l 2 /l 1").options.Language, "1");
  EXPECT_EQ(ParseCommandLine("/l 2 /l").options.Language, "2");
  EXPECT_EQ(ParseCommandLine("/n").options.UserName, "");
}

TEST(ParseCommandLineTest, QuotedAndTabbedValues) {
  EXPECT_EQ(ParseCommandLine("/n \"setup admin\"").options.UserName, "setup admin");
  const CommandLine empty = ParseCommandLine("/n \"\" /i Initialize");
  EXPECT_EQ(empty.options.UserName, "");
  EXPECT_EQ(empty.options.InitializeWord, "Initialize");
  EXPECT_EQ(ParseCommandLine("/n\tsa").options.UserName, "sa");
}

TEST(ParseCommandLineTest, OnlyWholeArgumentsMatch) {
  const CommandLine c = ParseCommandLine("/debugx /nsa -d /a- x/b");
  EXPECT_FALSE(c.options.DebugMode);
  EXPECT_EQ(c.options.UserName, "");
  EXPECT_FALSE(c.options.WithSampleData);
  EXPECT_FALSE(c.options.BackUpDatabases);
}

TEST(ParseCommandLineTest, HelpStopsTheScanWhereItStands) {
  const CommandLine c = ParseCommandLine("/d /? /i Initialize /a");
  EXPECT_TRUE(c.showHelp);
  EXPECT_TRUE(c.options.DebugMode);
  EXPECT_EQ(c.options.InitializeWord, "");
  EXPECT_FALSE(c.options.WithSampleData);
  EXPECT_TRUE(ParseCommandLine("-?").showHelp);
  // As the value of /n, "/?" is still met as an argument of its own.
  EXPECT_TRUE(ParseCommandLine("/n /?").showHelp);
}

TEST(ParseCommandLineTest, ArgumentsAfterTheTwentiethAreIgnored) {
  std::string line;
  for (int i = 0; i < 19; ++i) line += "x ";
  EXPECT_TRUE(ParseCommandLine(line + "/d").options.DebugMode);
  EXPECT_FALSE(ParseCommandLine(line + "x /d").options.DebugMode);
  // The 20th argument as a value switch has no value to take.
  EXPECT_EQ(ParseCommandLine(line + "/n sa").options.UserName, "");
}

TEST(ShowHelpTest, ShowsTheThirteenLinesInOneBox) {
  testing::CapturingMessageBoxes boxes;
  ShowHelp(boxes);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0],
            "QvSetup.exe options\r\n\r\n/L: Language Identifier\r\n/S: Station Identifier\r\n"
            "/D: Debug mode execution\r\n/A: Sample data insert switch\r\n"
            "/P: Database Password (Optional)\r\n/N: Database UserName (Optional)\r\n"
            "/B: Back up qv_main.mdb\r\n/?, -?: Help screen\r\n\r\n"
            "(All the switches are non-case sensitive.)\r\n\r\n");
}

}  // namespace
}  // namespace qv::setup

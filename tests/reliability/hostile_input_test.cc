// The built program under hostile input: SQL in the switches, registry
// values with quotes, backslashes, line breaks, bad UTF-8 and lengths around
// the 250-byte read buffer, installation folders with blanks, quotes and
// non-ASCII characters. Whatever comes in: the program ends with status 0,
// no second statement ever runs (every table and view is still there, every
// area is filled whole or not at all), and nothing is written outside the
// installation's db folder: the working folder stays empty.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "reliability/reliability_support.h"
#include "support/scoped_temp_dir.h"

namespace qv::reliability {
namespace {

using testing::QueryValue;
using Args = std::vector<std::string>;
using Lines = std::vector<std::string>;

const Args kFullRun = {"/i", "Initialize", "/a", "/b", "/d"};

// Without the rows the install settings write, which the cases check
// themselves: hostile values are meant to arrive there.
Facts WithoutSettings(Facts facts) {
  for (const char* key :
       {"security GlobalPref", "main EmailAdmin", "security Install", "main Company 1"}) {
    facts.erase(key);
  }
  return facts;
}

class HostileInputTest : public ::testing::Test {
 protected:
  struct Outcome {
    QvsetupProcess::Outcome run;
    std::vector<std::string> boxes;
  };

  // Runs the program on `inst` (in dir_) from an empty working folder, and
  // checks what every hostile input must leave.
  void SetUp() override { fs::create_directory(dir_.path() / "cwd"); }

  Outcome RunHarmlessly(const Installation& inst, const Args& args) {
    const fs::path cwd = dir_.path() / "cwd";
    const Facts before = FactsOf(inst);
    const std::set<std::string> treeBefore = Tree(dir_.path());
    const std::string registry = ReadBytes(inst.registryFile());
    const std::string odbcIni = ReadBytes(inst.odbcIni());

    Outcome o{RunProgram(args, inst, cwd), {}};
    o.boxes = BoxesOf(o.run.out);
    EXPECT_TRUE(o.run.ExitedWithZero()) << "wait status " << o.run.waitStatus << Shown(o.boxes);
    EXPECT_EQ(Integrity(inst.mainDb()), "ok");
    EXPECT_EQ(Integrity(inst.securityDb()), "ok");
    const Facts after = FactsOf(inst);
    for (const auto& [key, value] : before) {
      if (key.find(" rows ") == std::string::npos && key.find(" columns ") == std::string::npos &&
          key.find(" view ") == std::string::npos && key.find(" index ") == std::string::npos) {
        continue;
      }
      EXPECT_TRUE(after.count(key)) << key << " is gone";
    }
    EXPECT_EQ(PartlyWritten(WithoutSettings(before), WithoutSettings(after),
                            WithoutSettings(
                                CleanFacts(Installation::Kind::kFresh, "/i Initialize /a /b /d"))),
              Lines{});
    EXPECT_EQ(Tree(cwd), std::set<std::string>{}) << "written into the working folder";
    for (const std::string& path : Tree(dir_.path())) {
      const std::string db = fs::relative(inst.storageDir() / "db", dir_.path()).string() + "/";
      const bool allowed =
          treeBefore.count(path) || path == db + "qvsetup.lock" || path.rfind(db + "BACK", 0) == 0;
      EXPECT_TRUE(allowed) << "written outside the db folder: " << path;
    }
    EXPECT_EQ(ReadBytes(inst.registryFile()), registry);
    EXPECT_EQ(ReadBytes(inst.odbcIni()), odbcIni);
    return o;
  }

  testing::ScopedTempDir dir_;
};

// Switch values are joined into statements as the design has it (the
// language bare, the station as a field value, the credentials at the open);
// none of them can add a statement.
TEST_F(HostileInputTest, SqlInTheSwitches) {
  struct Case {
    Args extra;            // after /i Initialize /a /b /d
    const char* firstBox;  // prefix of the first box
  };
  const std::string summary = "UserName: ";
  const Case cases[] = {
      {{"/l", "1; DROP TABLE Users"}, "3142 :Characters found after end of SQL statement."},
      {{"/l", "1; DELETE FROM Install; --"}, "3142 :Characters found after end of SQL statement."},
      {{"/l", "1 WHERE 0; DROP TABLE GlobalPref"}, "3142 :Characters found after end of SQL"},
      // Inside its own statement a bare language can still comment out the
      // rest or set a column twice: the statement stays one statement.
      {{"/l", "1 --"}, "UserName: "},
      {{"/l", "1, MainDir = 'elsewhere'"}, "UserName: "},
      {{"/l", "2", "/l", "1); DROP TABLE Users; --"}, "1 :near \")\": syntax error"},
      {{"/l", std::string(5000, '9')}, "UserName: "},
      {{"/l", "\xef\xbc\x92"}, "1 :no such column: \xef\xbc\x92"},  // a full-width 2
      {{"/s", "1); DELETE FROM Company; --"}, "UserName: "},
      {{"/s", "1' OR '1'='1"}, "UserName: "},
      {{"/s", "1; DROP TABLE Company"}, "UserName: "},
      {{"/s", "\xff\xfe\x80"}, "UserName: "},
      {{"/n", "admin' --"}, "-2147467259 :Cannot open data source \"qv_security\": wrong user"},
      {{"/n", "admin\"; DROP TABLE Users; --"}, "-2147467259 :Cannot open data source"},
      {{"/p", "' OR '1'='1"}, "-2147467259 :Cannot open data source \"qv_security\": wrong user"},
      {{"/p", "quillmark; DROP TABLE Users"}, "-2147467259 :Cannot open data source"},
      {{"/n", "a\tb\nc", "/p", ""}, "-2147467259 :Cannot open data source"},
  };
  for (const Case& c : cases) {
    Args args = kFullRun;
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    std::string name;
    for (const std::string& a : c.extra) name += " [" + a.substr(0, 40) + "]";
    SCOPED_TRACE(name);
    fs::remove_all(dir_.path() / "inst");
    const Installation inst = Installation::LayOut(dir_.path() / "inst");
    const Outcome o = RunHarmlessly(inst, args);
    ASSERT_FALSE(o.boxes.empty());
    EXPECT_EQ(o.boxes[0].rfind(c.firstBox, 0), 0u) << Shown(o.boxes);
    EXPECT_EQ(o.run.err, "");
  }
}

// A run that is not confirmed does nothing at all, whatever else it is given.
TEST_F(HostileInputTest, AnUnconfirmedRunTouchesNothing) {
  Args beyondTheLimit(20, "/d");
  beyondTheLimit.insert(beyondTheLimit.end(), {"/i", "Initialize", "/a", "/b"});
  const Args cases[] = {
      beyondTheLimit,  // the 21st argument on is never read
      {"/i", "Initialize; DROP TABLE Users", "/a", "/b", "/d"},
      {"/i", "Initialize /a", "/b", "/d"},
      {"/?", "/i", "Initialize", "/a", "/b"},
  };
  for (const Args& args : cases) {
    SCOPED_TRACE(args[0] + " " + args[1]);
    fs::remove_all(dir_.path() / "inst");
    const Installation inst = Installation::LayOut(dir_.path() / "inst");
    const std::string mainBytes = ReadBytes(inst.mainDb());
    const std::set<std::string> tree = Tree(dir_.path());
    const Outcome o = RunHarmlessly(inst, args);
    EXPECT_EQ(ReadBytes(inst.mainDb()), mainBytes);
    EXPECT_EQ(Tree(dir_.path()), tree) << "not even the lock file";
    EXPECT_EQ(o.boxes.size(), &args == &cases[3] ? 1u : 0u) << Shown(o.boxes);
  }
}

// The registry file's text with the product key holding `values` (raw value
// lines) after StorageDir.
std::string RegistryText(const Installation& inst, const std::string& values) {
  std::string storage;
  for (char c : inst.storageDir().string()) {
    if (c == '\\' || c == '"') storage += '\\';
    storage += c;
  }
  return "Windows Registry Editor Version 5.00\n\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion]\n"
         "\"StorageDir\"=\"" +
         storage + "\"\n" + values;
}

// A value line "Name"="data" with the file format's escapes.
std::string ValueLine(const std::string& name, const std::string& data) {
  std::string line = "\"" + name + "\"=\"";
  for (char c : data) {
    if (c == '\\' || c == '"') line += '\\';
    line += c;
  }
  return line + "\"\n";
}

// Registry values reach the databases as text and nothing else: quotes are
// doubled, the read buffer keeps at most 249 bytes without splitting a
// character, and a file that cannot be parsed makes every value read as
// "3: Unexpected Error" (one diagnostic on standard error).
TEST_F(HostileInputTest, HostileRegistryValues) {
  const std::string x248(248, 'x');
  struct Case {
    const char* name;
    std::string values;       // value lines after StorageDir
    std::string companyName;  // as stored in company 1
    std::string mainDir;      // as stored in GlobalPref
  };
  const std::string unexpected = "3: Unexpected Error";
  const Case cases[] = {
      {"apostrophe", ValueLine("CompanyName", "Artisan's Guild"), "Artisan's Guild", ""},
      {"two apostrophes", ValueLine("CompanyName", "''"), "''", ""},
      {"statement in a value", ValueLine("CompanyName", "'; DROP TABLE Company; --"),
       "'; DROP TABLE Company; --", ""},
      {"where clause in a value", ValueLine("CompanyName", "x' WHERE 0 --"), "x' WHERE 0 --", ""},
      {"backslashes", ValueLine("CompanyName", "C:\\Group\\"), "C:\\Group\\", ""},
      {"double quotes", ValueLine("CompanyName", "say \"hi\""), "say \"hi\"", ""},
      {"carriage return inside", ValueLine("CompanyName", "a\rb"), "a\rb", ""},
      {"Japanese", ValueLine("CompanyName", "株式会社テスト"), "株式会社テスト", ""},
      {"column list in MainDir", ValueLine("MainDir", "x', LanguageID = 99, MainDir = 'y"), "",
       "x', LanguageID = 99, MainDir = 'y"},
      {"248 bytes", ValueLine("CompanyName", x248), x248, ""},
      {"249 bytes", ValueLine("CompanyName", x248 + "y"), x248 + "y", ""},
      {"250 bytes", ValueLine("CompanyName", x248 + "yz"), x248 + "y", ""},
      {"251 bytes", ValueLine("CompanyName", x248 + "yzz"), x248 + "y", ""},
      {"two-byte character at bytes 249 and 250", ValueLine("CompanyName", x248 + "\xc3\xa9"), x248,
       ""},
      {"three-byte character at bytes 248 to 250",
       ValueLine("CompanyName", x248.substr(1) + "\xe6\x97\xa5"), x248.substr(1), ""},
      {"line break inside a value", "\"CompanyName\"=\"first\nsecond\"\n", unexpected, unexpected},
      {"bad UTF-8", ValueLine("CompanyName", "\xff\xfe bad"), unexpected, unexpected},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_.path() / "inst");
    const Installation inst = Installation::LayOut(dir_.path() / "inst");
    std::ofstream(inst.registryFile(), std::ios::binary | std::ios::trunc)
        << RegistryText(inst, c.values);
    const Outcome o = RunHarmlessly(inst, kFullRun);
    const bool unparsable = c.companyName == unexpected;
    EXPECT_EQ(o.run.err.empty(), !unparsable) << o.run.err;
    if (unparsable) {
      EXPECT_NE(o.run.err.find(inst.registryFile().string()), std::string::npos) << o.run.err;
    }
    EXPECT_EQ(QueryValue(inst.mainDb(), "SELECT CompanyName FROM Company WHERE CompanyID = 1"),
              c.companyName);
    EXPECT_EQ(QueryValue(inst.securityDb(), "SELECT MainDir || '|' || LanguageID FROM GlobalPref"),
              c.mainDir + "|1");
    EXPECT_EQ(o.boxes.at(0).rfind("UserName: ", 0), 0u) << Shown(o.boxes);
  }
}

// The folder of an installation may hold blanks, quotes, backslashes and
// non-ASCII characters; the run works there as anywhere. A folder the
// data-source file cannot name is refused when the installation is laid out.
TEST_F(HostileInputTest, InstallationFoldersWithAwkwardNames) {
  const char* const accepted[] = {"with blank",
                                  "it's",
                                  "say \"hi\"",
                                  "back\\slash",
                                  "na\xc3\xafve \xe6\x97\xa5\xe6\x9c\xac",
                                  " lead",
                                  "trail ",
                                  "$HOME %s `id`",
                                  "-dash"};
  const std::vector<std::string> clean = BoxesOf([&] {
    const Installation plain = Installation::LayOut(dir_.path() / "plain");
    const std::string out = RunHarmlessly(plain, kFullRun).run.out;
    fs::remove_all(dir_.path() / "plain");
    return out;
  }());
  for (const char* folder : accepted) {
    SCOPED_TRACE(folder);
    const Installation inst = Installation::LayOut(dir_.path() / folder);
    const Outcome o = RunHarmlessly(inst, kFullRun);
    EXPECT_EQ(o.boxes, clean);
    EXPECT_EQ(Differences(CleanFacts(Installation::Kind::kFresh, "/i Initialize /a /b /d"),
                          FactsOf(inst)),
              Lines{});
    EXPECT_EQ(QueryValue(inst.securityDb(), "SELECT StorageDir FROM GlobalPref"),
              inst.storageDir().string());
    EXPECT_TRUE(fs::exists(inst.storageDir() / "db" / "qvsetup.lock"));
    fs::remove_all(inst.storageDir());
  }
  for (const char* folder : {"semi;colon", "hash #1", "new\nline"}) {
    SCOPED_TRACE(folder);
    EXPECT_THROW(Installation::LayOut(dir_.path() / folder), std::runtime_error);
    EXPECT_FALSE(fs::exists(dir_.path() / folder)) << "nothing left behind";
  }
}

}  // namespace
}  // namespace qv::reliability

// The built program under hostile input, on database files and on a server:
// whatever comes in, it ends with status 0, no second statement runs (the
// Judge finds everything there and whole) and nothing is written elsewhere.
#include <gtest/gtest.h>

#include "reliability/reliability_support.h"

namespace qv::reliability {
namespace {

using testing::QueryValue;

class HostileInputTest : public ::testing::TestWithParam<testing::Engine> {
 protected:
  void SetUp() override {
    QV_SKIP_UNTESTED_ENGINE(GetParam());
    fs::create_directory(dir_.path() / "cwd");
  }
  bool files() const { return GetParam() == testing::Engine::kSqlite; }

  Installation LayOut(const std::string& folder = "inst") {
    fs::remove_all(dir_.path() / folder);
    return Installation::LayOut(dir_.path() / folder, Installation::Kind::kFresh, "Artisan's Guild",
                                GetParam());
  }

  // Hostile values are meant to arrive in the install settings' rows.
  Program::Outcome RunHarmlessly(const Installation& inst, const Lines& args) {
    const Judge judge(
        inst, Installation::Kind::kFresh, dir_.path(),
        {"security GlobalPref", "main EmailAdmin", "security Install", "main Company 1"});
    const std::string registry = ReadBytes(inst.registryFile()), ini = ReadBytes(inst.odbcIni());
    const Program::Outcome o = Program(args, inst, dir_.path() / "cwd").Wait();
    EXPECT_TRUE(o.exitedWithZero) << ::testing::PrintToString(o.boxes);
    judge.ExpectIntactAndWhole();
    EXPECT_EQ(ReadBytes(inst.registryFile()), registry);
    EXPECT_EQ(ReadBytes(inst.odbcIni()), ini);
    return o;
  }

  testing::ScopedTempDir dir_;
};

// Switch values are joined into statements (the language bare, the station
// as a field value, the credentials at the open); none can add a statement.
// A run that is not confirmed ("" below) touches nothing, not even the lock.
TEST_P(HostileInputTest, SqlInTheSwitchesAndUnconfirmedRuns) {
  const std::string after = "3142 :Characters found after end of SQL statement.";
  const std::string summary = "UserName: ";
  const std::string wrongUser = "-2147467259 :Cannot open data source \"qv_security\": wrong user";
  const std::string serverError = "-2147217900 :";
  const auto full = [](Lines extra) {
    extra.insert(extra.begin(), kFullRun.begin(), kFullRun.end());
    return extra;
  };
  struct Case {
    Lines args;
    std::string firstBox, onServer = "";  // onServer: where the server's box differs
  };
  const Case cases[] = {
      {full({"/l", "1; DROP TABLE Users"}), after},
      // A bare language can still comment out the rest of its statement or
      // set a column twice: the statement stays one statement.
      {full({"/l", "1 --"}), summary},
      {full({"/l", "1, MainDir = 'elsewhere'"}), summary,
       serverError + "multiple assignments to same column \"maindir\""},
      {full({"/l", "2", "/l", "1); DROP TABLE Users; --"}), "1 :near \")\": syntax error", after},
      {full({"/l", std::string(5000, '9')}), summary, serverError + "smallint out of range"},
      {full({"/l", "\xef\xbc\x92"}),  // a full-width 2
       "1 :no such column: \xef\xbc\x92", serverError + "column \"\xef\xbc\x92\" does not exist"},
      {full({"/s", "1); DELETE FROM Company; --"}), summary},
      {full({"/s", "\xff\xfe\x80"}), summary},
      {full({"/n", "admin' --"}), wrongUser},
      {{"/i", "Initialize; DROP TABLE Users", "/a", "/b", "/d"}, ""},
  };
  for (const auto& [args, filesBox, serverBox] : cases) {
    const std::string& firstBox = files() || serverBox.empty() ? filesBox : serverBox;
    SCOPED_TRACE(args[0] + " " + args[1] + " " + args.back().substr(0, 40));
    const Installation inst = LayOut();
    const std::string bytes =
        files() ? ReadBytes(inst.mainDb()) + ReadBytes(inst.securityDb()) : "";
    const std::set<std::string> tree = Tree(dir_.path());
    const Program::Outcome o = RunHarmlessly(inst, args);
    // Nothing but why a data source was refused, never with the password.
    EXPECT_EQ(o.err, firstBox.empty() ? "qvsetup: nothing was done: a run is confirmed with /i "
                                        "Initialize\n"
                     : firstBox != wrongUser
                         ? ""
                         : "qvsetup: Cannot open data source \"qv_security\": wrong user name or "
                           "password\nqvsetup: Cannot open data source \"qv_main\": wrong user "
                           "name or password\n");
    EXPECT_EQ(o.err.find("quillmark"), std::string::npos) << o.err;
    if (!firstBox.empty()) {
      ASSERT_FALSE(o.boxes.empty());
      EXPECT_EQ(o.boxes[0].rfind(firstBox, 0), 0u) << ::testing::PrintToString(o.boxes);
      continue;
    }
    EXPECT_EQ(files() ? ReadBytes(inst.mainDb()) + ReadBytes(inst.securityDb()) : "", bytes);
    EXPECT_EQ(Tree(dir_.path()), tree);
    EXPECT_EQ(o.boxes, Lines{});
  }
}

// Registry values reach the databases at most 249 bytes long, no character
// split, and as text only, whatever the database's settings (on the server
// a backslash is no escape); folders that need quoting work as any other.
TEST_P(HostileInputTest, LongRegistryValuesAreCutWholeInAwkwardFolders) {
  const std::string x248(248, 'x'),
      injected = "'; DROP TABLE Company; --",
      escaped = "Acme\\\\', StationID = 77 --";  // Acme\\' in the file
  const std::tuple<std::string, std::string, const char*> cases[] = {
      {x248 + "yz", x248 + "y", "it's \"hi\""},
      {x248 + "\xc3\xa9", x248, "back\\slash $HOME %s `x`"},  // 2 bytes at 249
      {x248.substr(1) + "\xe6\x97\xa5", x248.substr(1), "na\xc3\xafve \xe6\x97\xa5"},  // 3 at 248
      {injected, injected, " -lead and trail "},
      {escaped, "Acme\\', StationID = 77 --", "escaped"},
  };
  for (const auto& [company, stored, folder] : cases) {
    const Installation inst = LayOut(folder);
    if (!files()) {
      testing::Exec(inst.mainDatabase(), "ALTER DATABASE " + inst.mainDatabase().name() +
                                             " SET standard_conforming_strings = off");
    }
    std::string registry = ReadBytes(inst.registryFile());
    WriteBytes(inst.registryFile(),
               registry.replace(registry.find("Artisan's Guild"), 15, company));
    RunHarmlessly(inst, kFullRun);
    EXPECT_EQ(
        QueryValue(inst.mainDatabase(), "SELECT CompanyName FROM Company WHERE CompanyID = 1"),
        stored);
    EXPECT_EQ(QueryValue(inst.securityDatabase(), "SELECT StorageDir FROM GlobalPref"),
              inst.storageDir().string());
    EXPECT_TRUE(fs::exists(inst.storageDir() / "db" / "qvsetup.lock")) << folder;
  }
}

QV_ON_BOTH_ENGINES(HostileInputTest);

}  // namespace
}  // namespace qv::reliability

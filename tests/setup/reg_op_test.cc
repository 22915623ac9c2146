#include "setup/reg_op.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes.h"

namespace qv::setup {
namespace {

using testing::ScriptedRegistryStore;
using Calls = std::vector<std::string>;

constexpr RegStatus kOk = RegStatus::kSuccess;
constexpr RegStatus kNotFound = RegStatus::kNotFound;
constexpr RegStatus kFailed = RegStatus::kFailed;

std::string RunOp(ScriptedRegistryStore& store, int16_t flag,
                  const std::string& subKey = "SOFTWARE\\Test") {
  clsRegOp op(store);
  op.RootKey = kHkeyLocalMachine;
  op.SubKey = subKey;
  op.ValueName = "Name";
  op.ValueData = "data";
  op.Flag = flag;
  return op.RegistOperation();
}

TEST(RegOpTest, EachFlagAndStoreAnswerGivesItsText) {
  struct Case {
    int16_t flag;
    RegStatus open, query, set, create, del;
    std::string expected;
    Calls calls;  // empty: not checked
  };
  const std::string open = "open -2147483646 SOFTWARE\\Test ";
  const Case cases[] = {
      {kRegRead, kNotFound, kOk, kOk, kOk, kOk, "1: No Key", {}},
      {kRegRead, kOk, kNotFound, kOk, kOk, kOk, "", {}},              // a missing value reads empty
      {kRegRead, kFailed, kOk, kOk, kOk, kOk, "", {open + "query"}},  // nothing is queried
      {kRegWrite, kOk, kOk, kOk, kOk, kOk, "0: Success", {open + "set", "set Name=data"}},
      {kRegWrite, kNotFound, kOk, kOk, kOk, kOk, "1: No Key", {}},
      {kRegWrite, kFailed, kOk, kOk, kOk, kOk, "エラーで終了", {}},
      {kRegWrite, kOk, kOk, kFailed, kOk, kOk, "エラーで終了", {}},
      {kRegCreate, kOk, kOk, kOk, kOk, kOk, "0: Success", {"create SOFTWARE\\Test"}},
      {kRegCreate, kOk, kOk, kOk, kFailed, kOk, "エラーで終了", {}},
      {kRegDelete, kOk, kOk, kOk, kOk, kOk, "0: Success", {"delete SOFTWARE\\Test"}},
      {kRegDelete, kOk, kOk, kOk, kOk, kNotFound, "エラーで終了", {}},
      {kRegDelete, kOk, kOk, kOk, kOk, kFailed, "エラーで終了", {}},
      {4, kFailed, kFailed, kFailed, kFailed, kFailed, "0: Success", {}},
      {-1, kFailed, kFailed, kFailed, kFailed, kFailed, "0: Success", {}},
      {32767, kFailed, kFailed, kFailed, kFailed, kFailed, "0: Success", {}},
  };
  for (const Case& c : cases) {
    ScriptedRegistryStore store;
    store.openStatus = c.open;
    store.queryStatus = c.query;
    store.setStatus = c.set;
    store.createStatus = c.create;
    store.deleteStatus = c.del;
    store.value = "never copied";
    EXPECT_EQ(RunOp(store, c.flag), c.expected) << c.flag;
    if (c.flag > kRegDelete || c.flag < 0) {
      EXPECT_TRUE(store.calls.empty()) << c.flag;
    } else if (!c.calls.empty()) {
      EXPECT_EQ(store.calls, c.calls) << c.flag;
    }
  }

  ScriptedRegistryStore raising;
  raising.raise = true;
  for (int16_t flag : {kRegRead, kRegWrite, kRegCreate, kRegDelete}) {
    EXPECT_EQ(RunOp(raising, flag), "3: Unexpected Error") << flag;
  }
  raising.calls.clear();
  EXPECT_EQ(RunOp(raising, kRegCreate, ""), "2: Ilegal Data");
  EXPECT_TRUE(raising.calls.empty()) << "an empty sub key never reaches the store";
}

TEST(RegOpTest, ReadGivesTheTextUpToTheFirstNulAndKeepsTheBuffer) {
  ScriptedRegistryStore store;
  store.value = std::string("D:\\GroupData\0junk", 17);
  clsRegOp op(store);
  op.RootKey = kHkeyLocalMachine;
  op.SubKey = "K";
  EXPECT_EQ(op.RegistOperation(), "D:\\GroupData") << "the text ends at the first NUL";
  EXPECT_EQ(op.ValueData.size(), kRegReadBufferBytes);
  EXPECT_EQ(op.ValueData.substr(0, 12), "D:\\GroupData");
}

TEST(RegOpTest, ReadHolds249BytesCutAtACharacterBoundary) {
  const std::pair<std::string, std::string> cases[] = {
      {std::string(249, 'a'), std::string(249, 'a')},
      {std::string(250, 'b'), std::string(249, 'b')},
      // A two-byte character at bytes 249 and 250 is left out whole.
      {std::string(248, 'c') + "\xC3\xA9tail", std::string(248, 'c')},
      // A three-byte character ending exactly at byte 249 fits.
      {std::string(246, 'd') + "\xE3\x81\x82x", std::string(246, 'd') + "\xE3\x81\x82"},
      {std::string(100000, 'e'), std::string(249, 'e')},
  };
  for (const auto& [stored, read] : cases) {
    ScriptedRegistryStore store;
    store.value = stored;
    EXPECT_EQ(RunOp(store, kRegRead), read) << stored.size();
  }
}

TEST(RegOpTest, ReadSettingReadsUnderTheProductKey) {
  ScriptedRegistryStore store;
  store.value = "Artisan's Guild";
  EXPECT_EQ(ReadSetting(store, "CompanyName"), "Artisan's Guild");
  EXPECT_EQ(store.calls,
            (Calls{"open -2147483646 SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion query",
                   "query CompanyName"}));
}

}  // namespace
}  // namespace qv::setup

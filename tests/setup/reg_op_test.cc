#include "setup/reg_op.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes.h"

namespace qv::setup {
namespace {

using testing::ScriptedRegistryStore;

class RegOpTest : public ::testing::Test {
 protected:
  clsRegOp Op(int16_t flag) {
    clsRegOp op(store_);
    op.RootKey = kHkeyLocalMachine;
    op.SubKey = "SOFTWARE\\Test";
    op.ValueName = "Name";
    op.Flag = flag;
    return op;
  }

  ScriptedRegistryStore store_;
};

TEST_F(RegOpTest, NewObjectReadsRootZeroWithEmptyTexts) {
  clsRegOp op(store_);
  EXPECT_EQ(op.RootKey, 0);
  EXPECT_EQ(op.SubKey, "");
  EXPECT_EQ(op.ValueName, "");
  EXPECT_EQ(op.ValueData, "");
  EXPECT_EQ(op.Flag, kRegRead);
}

TEST_F(RegOpTest, ReadGivesTheTextUpToTheFirstNulAndKeepsTheBuffer) {
  store_.value = std::string("D:\\GroupData\0junk", 17);
  clsRegOp op = Op(kRegRead);
  EXPECT_EQ(op.RegistOperation(), "D:\\GroupData");
  EXPECT_EQ(op.ValueData.size(), kRegReadBufferBytes);
  EXPECT_EQ(op.ValueData.substr(0, 12), "D:\\GroupData");
  EXPECT_EQ(store_.calls,
            (std::vector<std::string>{"open -2147483646 SOFTWARE\\Test query", "query Name"}));
}

TEST_F(RegOpTest, ReadOfAMissingKeyIsNoKeyAndOfAMissingValueEmpty) {
  store_.openStatus = RegStatus::kNotFound;
  EXPECT_EQ(Op(kRegRead).RegistOperation(), "1: No Key");

  store_.openStatus = RegStatus::kSuccess;
  store_.queryStatus = RegStatus::kNotFound;
  store_.value = "never copied";
  EXPECT_EQ(Op(kRegRead).RegistOperation(), "");
}

TEST_F(RegOpTest, ReadOfAKeyThatCannotBeOpenedOtherwiseIsEmpty) {
  store_.openStatus = RegStatus::kFailed;
  EXPECT_EQ(Op(kRegRead).RegistOperation(), "");
  EXPECT_EQ(store_.calls.size(), 1u);  // nothing is queried
}

TEST_F(RegOpTest, ReadBufferHolds249BytesCutAtACharacterBoundary) {
  store_.value = std::string(249, 'a');
  EXPECT_EQ(Op(kRegRead).RegistOperation(), store_.value);

  store_.value = std::string(250, 'b');
  EXPECT_EQ(Op(kRegRead).RegistOperation(), std::string(249, 'b'));

  // A two-byte character at bytes 249 and 250 does not fit and is left out whole.
  store_.value = std::string(248, 'c') + "\xC3\xA9" + "tail";
  EXPECT_EQ(Op(kRegRead).RegistOperation(), std::string(248, 'c'));

  // A three-byte character ending exactly at byte 249 fits.
  store_.value = std::string(246, 'd') + "\xE3\x81\x82" + "x";
  EXPECT_EQ(Op(kRegRead).RegistOperation(), std::string(246, 'd') + "\xE3\x81\x82");

  store_.value = std::string(100000, 'e');
  EXPECT_EQ(Op(kRegRead).RegistOperation().size(), 249u);
}

TEST_F(RegOpTest, WriteResults) {
  clsRegOp op = Op(kRegWrite);
  op.ValueData = "data";
  EXPECT_EQ(op.RegistOperation(), "0: Success");
  EXPECT_EQ(store_.calls,
            (std::vector<std::string>{"open -2147483646 SOFTWARE\\Test set", "set Name=data"}));

  store_.openStatus = RegStatus::kNotFound;
  EXPECT_EQ(op.RegistOperation(), "1: No Key");

  store_.openStatus = RegStatus::kFailed;
  EXPECT_EQ(op.RegistOperation(), "エラーで終了");

  store_.openStatus = RegStatus::kSuccess;
  store_.setStatus = RegStatus::kFailed;
  EXPECT_EQ(op.RegistOperation(), "エラーで終了");
}

TEST_F(RegOpTest, CreateResults) {
  clsRegOp op = Op(kRegCreate);
  EXPECT_EQ(op.RegistOperation(), "0: Success");
  store_.createStatus = RegStatus::kFailed;
  EXPECT_EQ(op.RegistOperation(), "エラーで終了");
  EXPECT_EQ(store_.calls, (std::vector<std::string>{"create SOFTWARE\\Test", "create SOFTWARE\\Test"}));
}

TEST_F(RegOpTest, CreateWithEmptySubKeyIsIllegalDataWithoutTouchingTheStore) {
  store_.raise = true;
  clsRegOp op = Op(kRegCreate);
  op.SubKey = "";
  EXPECT_EQ(op.RegistOperation(), "2: Ilegal Data");
  EXPECT_TRUE(store_.calls.empty());
}

TEST_F(RegOpTest, DeleteResults) {
  clsRegOp op = Op(kRegDelete);
  EXPECT_EQ(op.RegistOperation(), "0: Success");
  store_.deleteStatus = RegStatus::kNotFound;
  EXPECT_EQ(op.RegistOperation(), "エラーで終了");
  store_.deleteStatus = RegStatus::kFailed;
  EXPECT_EQ(op.RegistOperation(), "エラーで終了");
}

TEST_F(RegOpTest, OtherFlagsSucceedDoingNothing) {
  for (int16_t flag : {int16_t{4}, int16_t{7}, int16_t{-1}, int16_t{32767}}) {
    EXPECT_EQ(Op(flag).RegistOperation(), "0: Success") << flag;
  }
  EXPECT_TRUE(store_.calls.empty());
}

TEST_F(RegOpTest, AStoreThatRaisesGivesUnexpectedErrorForEveryStoreOperation) {
  store_.raise = true;
  for (int16_t flag : {kRegRead, kRegWrite, kRegCreate, kRegDelete}) {
    EXPECT_EQ(Op(flag).RegistOperation(), "3: Unexpected Error") << flag;
  }
}

TEST_F(RegOpTest, ReadSettingReadsUnderTheProductKey) {
  store_.value = "Artisan's Guild";
  EXPECT_EQ(ReadSetting(store_, "CompanyName"), "Artisan's Guild");
  EXPECT_EQ(store_.calls,
            (std::vector<std::string>{
                "open -2147483646 SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion query",
                "query CompanyName"}));
}

}  // namespace
}  // namespace qv::setup

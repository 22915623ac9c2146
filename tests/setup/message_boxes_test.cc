#include "setup/message_boxes.h"

#include <gtest/gtest.h>

#include <sstream>
#include <streambuf>
#include <string>

namespace qv::setup {
namespace {

// Keeps what is written and counts the flushes.
class CountingBuffer : public std::stringbuf {
 public:
  int syncs = 0;

 protected:
  int sync() override {
    ++syncs;
    return std::stringbuf::sync();
  }
};

TEST(StreamMessageBoxesTest, CaptionLineThenTextWithCrLfAsNewlines) {
  std::ostringstream out;
  StreamMessageBoxes boxes(out);
  boxes.Show("UserName: admin\r\nDBPassword: quillmark");
  boxes.Show("");
  EXPECT_EQ(out.str(), "[QvSetup]\nUserName: admin\nDBPassword: quillmark\n[QvSetup]\n\n");
}

TEST(StreamMessageBoxesTest, OnlyCrLfPairsBecomeNewlines) {
  std::ostringstream out;
  StreamMessageBoxes boxes(out);
  boxes.Show("a\rb\nc\r\n\r\nd\r");
  EXPECT_EQ(out.str(), "[QvSetup]\na\rb\nc\n\nd\r\n");
}

TEST(StreamMessageBoxesTest, FlushesAfterEveryBox) {
  CountingBuffer buffer;
  std::ostream out(&buffer);
  StreamMessageBoxes boxes(out);
  boxes.Show("one");
  EXPECT_EQ(buffer.syncs, 1);
  boxes.Show("two");
  EXPECT_EQ(buffer.syncs, 2);
  EXPECT_EQ(buffer.str(), "[QvSetup]\none\n[QvSetup]\ntwo\n");
}

}  // namespace
}  // namespace qv::setup

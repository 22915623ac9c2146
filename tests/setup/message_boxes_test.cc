#include "setup/message_boxes.h"

#include <gtest/gtest.h>

#include <ostream>
#include <sstream>
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

TEST(StreamMessageBoxesTest, CaptionLineThenTextWithOnlyCrLfAsNewlinesFlushedPerBox) {
  CountingBuffer buffer;
  std::ostream out(&buffer);
  StreamMessageBoxes boxes(out);
  boxes.Show("UserName: admin\r\nDBPassword: quillmark");
  EXPECT_EQ(buffer.syncs, 1);
  boxes.Show("");
  boxes.Show("a\rb\nc\r\n\r\nd\r");
  EXPECT_EQ(buffer.syncs, 3);
  EXPECT_EQ(
      buffer.str(),
      "[QvSetup]\nUserName: admin\nDBPassword: quillmark\n[QvSetup]\n\n[QvSetup]\na\rb\nc\n\nd\r\n");
}

}  // namespace
}  // namespace qv::setup

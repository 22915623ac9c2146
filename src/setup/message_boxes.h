// Message boxes: the only thing a run shows. Every box is OK-only, without
// icon, captioned "QvSetup"; only its text varies.
#pragma once

#include <iosfwd>
#include <string>

namespace qv::setup {

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // Shows one box and returns when it has been dismissed.
  virtual void Show(const std::string& text) = 0;
};

// Boxes written to a stream (standard output in a run) and never waiting:
// the line "[QvSetup]", the text with every CR LF written as a newline, and
// one newline; the stream is flushed after every box so that the order of the
// boxes survives a crash or a pipe. Nothing else may be written to the stream.
class StreamMessageBoxes : public MessageBoxes {
 public:
  explicit StreamMessageBoxes(std::ostream& out) : out_(out) {}
  void Show(const std::string& text) override;

 private:
  std::ostream& out_;
};

}  // namespace qv::setup

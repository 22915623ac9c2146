#include "setup/message_boxes.h"

#include <ostream>

namespace qv::setup {

void StreamMessageBoxes::Show(const std::string& text) {
  std::string shown = "[QvSetup]\n";
  shown.reserve(shown.size() + text.size() + 1);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      shown += '\n';
      ++i;
    } else {
      shown += text[i];
    }
  }
  shown += '\n';
  out_.write(shown.data(), static_cast<std::streamsize>(shown.size()));
  out_.flush();
}

}  // namespace qv::setup

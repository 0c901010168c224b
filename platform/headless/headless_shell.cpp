#include "platform/headless/headless_shell.h"

namespace orvo::platform {

std::string EscapeMessage(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
        break;
    }
  }
  return out;
}

void HeadlessShell::MessageBox(std::string_view text) {
  std::string line = "!: " + EscapeMessage(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), messages_);
  std::fflush(messages_);
}

void HeadlessShell::SetClipboardText(std::string_view utf8) {
  clipboard_ = utf8;
  hasClipboard_ = true;
}

}  // namespace orvo::platform

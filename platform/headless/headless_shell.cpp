#include "platform/headless/headless_shell.h"

#include <spawn.h>
#include <sys/wait.h>

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

// Documents and addresses open in the desktop's handler, as they would with a display.
void HeadlessShell::OpenWithShell(std::string_view target) {
  std::string arg(target);
  char* argv[] = {const_cast<char*>("xdg-open"), arg.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) == 0) {
    // Reaped at once when it has already failed; otherwise it runs on by itself.
    waitpid(pid, nullptr, WNOHANG);
  }
}

}  // namespace orvo::platform

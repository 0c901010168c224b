// Under node there is no desktop to open documents with: the request is noted on the
// message stream, as a message box is.
#include "platform/headless/headless_shell.h"

namespace orvo::platform {

void HeadlessShell::OpenWithShell(std::string_view target) {
  std::fprintf(messages_, "open: %s\n", EscapeMessage(target).c_str());
  std::fflush(messages_);
}

}  // namespace orvo::platform

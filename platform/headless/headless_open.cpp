#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/headless/headless_shell.h"

namespace orvo::platform {

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

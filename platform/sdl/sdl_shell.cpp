#include "platform/sdl/sdl_shell.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <string>
#include <thread>

extern char** environ;

namespace orvo::platform {

bool OpenWithDesktop(std::string_view target) {
  if (target.empty()) return false;
  std::string arg(target);
  char name[] = "xdg-open";
  char* argv[] = {name, arg.data(), nullptr};
  posix_spawnattr_t attr;
  if (posix_spawnattr_init(&attr) != 0) return false;
  // The handler starts with a clean signal state, whatever this process blocks or catches.
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGCHLD}) sigaddset(&defaults, sig);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, name, nullptr, &attr, argv, environ);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return false;
  // xdg-open usually hands over and ends at once; a thread of its own reaps it so that the
  // caller never waits and no zombie stays behind.
  std::thread([pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

}  // namespace orvo::platform

#include "platform/sdl/sdl_shell.h"

#include <SDL2/SDL_clipboard.h>
#include <SDL2/SDL_events.h>
#include <SDL2/SDL_messagebox.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
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

bool SdlShell::ClaimInstance(const std::string& programFolder) {
  const uint32_t raise = raiseEvent_;
  return instance_.Claim(programFolder, [raise] {
    // On the lock's thread: the window is raised by the main thread when it gets this.
    SDL_Event e{};
    e.type = raise;
    SDL_PushEvent(&e);
  });
}

void SdlShell::MessageBox(std::string_view text) {
  const std::string t(text);
  // No parent window: the box is the runtime's own and waits until it is closed.
  if (SDL_ShowSimpleMessageBox(0, "!", t.c_str(), nullptr) != 0) {
    std::fprintf(stderr, "%s\n", t.c_str());
    std::fflush(stderr);
  }
}

bool SdlShell::HasClipboardText() {
  return video_ && SDL_HasClipboardText() == SDL_TRUE;
}

std::string SdlShell::GetClipboardText() {
  char* text = video_ ? SDL_GetClipboardText() : nullptr;  // "" rather than null when empty
  if (!text) return {};
  std::string result(text);
  SDL_free(text);
  return result;
}

void SdlShell::SetClipboardText(std::string_view utf8) {
  if (video_) SDL_SetClipboardText(std::string(utf8).c_str());
}

}  // namespace orvo::platform

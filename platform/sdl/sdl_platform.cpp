#include "platform/sdl/sdl_platform.h"

#include <SDL2/SDL.h>

#include <cstdlib>

#include "platform/sdl/sdl_folders.h"
#include "platform/sdl/sdl_x11_errors.h"

namespace orvo::platform {
namespace {

bool InitSdl() {
  // Closing the window is the program's decision, so it must not also become SDL_QUIT:
  // SDL_QUIT then comes only from SIGTERM and SIGINT, which are the end of the session.
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  SDL_SetHint(SDL_HINT_RENDER_VSYNC, "0");
  // As on Windows: a click that activates the window is also a click, and the mouse is
  // captured only when the program asks for it.
  SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
  SDL_SetHint(SDL_HINT_MOUSE_AUTO_CAPTURE, "0");
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
  if (SDL_Init(SDL_INIT_TIMER | SDL_INIT_EVENTS) != 0) return false;
  // Controllers are optional: without the subsystem the keyboard is all there is.
  SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER);
  // An X server under load now and then refuses a connection that a moment later succeeds;
  // without a second try SDL would quietly fall back to an invisible offscreen display.
  const char* display = std::getenv("DISPLAY");
  if (!std::getenv("SDL_VIDEODRIVER") && display && *display) {
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
    for (int attempt = 0; attempt < 5; ++attempt) {
      if (SDL_InitSubSystem(SDL_INIT_VIDEO) == 0) {
        SDL_SetHint(SDL_HINT_VIDEODRIVER, nullptr);
        TolerateSendsToGoneWindows();
        return true;
      }
      SDL_Delay(20);
    }
    SDL_SetHint(SDL_HINT_VIDEODRIVER, nullptr);
  }
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
  TolerateSendsToGoneWindows();
  return true;
}

uint32_t RegisterOwnEvents() {
  const Uint32 base = SDL_RegisterEvents(3);
  return base == static_cast<Uint32>(-1) ? static_cast<uint32_t>(SDL_USEREVENT) : base;
}

}  // namespace

SdlPlatform::SdlPlatform(int argc, char** argv)
    : video_(InitSdl()),
      events_{RegisterOwnEvents()},
      clock(events_.Tick()),
      shell(video_, ExecutablePathOf(argc > 0 && argv && argv[0] ? argv[0] : ""), events_.Raise()),
      window(video_, events_, clock) {}

SdlPlatform::~SdlPlatform() {
  shell.ReleaseInstance();
  clock.StopTimer();
  audio.StopAudio();
  window.Close();
  // Also waits for SDL's timer thread, so no tick callback outlives the timer.
  SDL_Quit();
}

}  // namespace orvo::platform

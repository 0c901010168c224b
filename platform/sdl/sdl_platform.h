// The platform on SDL2, assembled: SDL started once, then its window, clock, audio and
// desktop parts.
#pragma once

#include "platform/platform.h"
#include "platform/sdl/sdl_audio.h"
#include "platform/sdl/sdl_shell.h"
#include "platform/sdl/sdl_timer.h"
#include "platform/sdl/sdl_window_system.h"

namespace orvo::platform {

class SdlPlatform {
 public:
  SdlPlatform(int argc, char** argv);
  SdlPlatform(const SdlPlatform&) = delete;
  SdlPlatform& operator=(const SdlPlatform&) = delete;
  ~SdlPlatform();

  // False when no display could be opened: there is then no window, and message boxes go
  // to standard error.
  bool HasVideo() const { return video_; }
  Platform Parts() { return {window, clock, audio, shell}; }

 private:
  const bool video_;
  const OwnEvents events_;

 public:
  SdlClock clock;
  SdlShell shell;
  SdlAudio audio;
  SdlWindowSystem window;
};

}  // namespace orvo::platform

// The web page as the platform: the canvas window with its clock, the page's shell and
// its WebAudio output.
#pragma once

#include "platform/platform.h"
#include "platform/web/web_audio.h"
#include "platform/web/web_shell.h"
#include "platform/web/web_window.h"

namespace orvo::platform {

class WebPlatform {
 public:
  explicit WebPlatform(std::string canvas) : window(std::move(canvas)) {}
  Platform Parts() { return {window, window, audio, shell}; }

  WebShell shell;
  WebWindow window;
  WebAudio audio;
};

}  // namespace orvo::platform

// A platform without a display, assembled: a scripted window whose timer is part of its
// message loop, a shell that keeps the clipboard in memory and writes message boxes to a
// stream, and the null audio device.
#pragma once

#include "platform/headless/headless_config.h"
#include "platform/headless/headless_shell.h"
#include "platform/headless/headless_window.h"
#include "platform/headless/null_audio.h"
#include "platform/platform.h"

namespace orvo::platform {

class HeadlessPlatform {
 public:
  explicit HeadlessPlatform(HeadlessConfig config) : shell(config), window(std::move(config)) {}
  Platform Parts() { return {window, window, audio, shell}; }

  HeadlessShell shell;
  HeadlessWindow window;
  NullAudio audio{NullAudio::Pace::REAL_TIME};
};

}  // namespace orvo::platform

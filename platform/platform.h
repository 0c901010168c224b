// The boundary between the runtime and the operating system, assembled from its parts.
// The host, the services and the sound player reach windows, input, the clock, timers,
// audio and the desktop only through these; each takes the parts it uses.
#pragma once

#include "platform/audio.h"
#include "platform/clock.h"
#include "platform/shell.h"
#include "platform/window.h"

namespace orvo::platform {

struct Platform {
  WindowSystem& window;
  Clock& clock;
  Audio& audio;
  Shell& shell;
};

}  // namespace orvo::platform

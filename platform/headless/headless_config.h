// What a headless run is given instead of a desktop.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/headless/script.h"
#include "platform/window.h"

namespace orvo::platform {

struct HeadlessConfig {
  std::string executablePath;   // stands for the runtime inside the game folder
  std::string documentsFolder;  // "" when there is none
  Size desktop{1920, 1080};
  std::vector<ScriptItem> script;
  std::FILE* messages = stdout;
  // Set: the clock, the timer and the dates run on the script's time from this date.
  std::optional<LocalTime> scriptClock;
};

}  // namespace orvo::platform

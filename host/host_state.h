// What the host shell knows about its process and window, read by the window requests,
// the files and the time services.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "services/folders.h"

namespace orvo::host {

struct HostState {
  bool mainLoopStarted = false;
  bool placementInProgress = false;
  bool minimized = false;
  int32_t clientWidth = 0, clientHeight = 0;
  int32_t desktopWidth = 0, desktopHeight = 0;
  int32_t displayWidth = 0, displayHeight = 0;
  uint32_t startTick = 0;
  int32_t showMode = platform::SW_SHOWNORMAL;
  services::Folders folders;
  std::string controlKeyName = "Ctrl";

  // Cursor bookkeeping: the arrow is set on the first move over the client area, and the
  // shape a program asked for is applied again after every move.
  bool arrowSet = false;
  int32_t cursorShape = -1;

  uint32_t timerId = 0;  // 0 while no timer runs
  platform::Placement lastPlacementRead;

  // Key states as the keyboard reported them: bit 15 down, bit 0 toggled on each press.
  std::array<uint16_t, 256> keys{};
};

}  // namespace orvo::host

// Gamepads as the player's keyboard: each controller button stands for one key. The
// mapping is the player's; the platform turns presses into the key messages a keyboard
// would send.
#pragma once

#include <array>
#include <cstdint>

namespace orvo::platform {

// The controls of a standard controller that act as keys. The left stick acts as the
// d-pad: its directions share the d-pad's keys.
enum PadControl : int {
  PAD_A,
  PAD_B,
  PAD_X,
  PAD_Y,
  PAD_BACK,
  PAD_START,
  PAD_LEFT_SHOULDER,
  PAD_RIGHT_SHOULDER,
  PAD_UP,
  PAD_DOWN,
  PAD_LEFT,
  PAD_RIGHT,
  PAD_CONTROL_COUNT
};

// The virtual-key code each control sends; 0 sends nothing.
struct PadMapping {
  std::array<uint32_t, PAD_CONTROL_COUNT> keys{};
};

// A held control repeats its key like a held keyboard key: the first repeat after the
// delay, then one every interval.
inline constexpr uint32_t PAD_REPEAT_DELAY_MS = 500, PAD_REPEAT_INTERVAL_MS = 33;

}  // namespace orvo::platform

// Names of keys as the player writes them in the preferences ("Enter", "F2", "N"), and
// back: virtual-key codes on one side, names on the other.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvo::host {

inline constexpr uint32_t VK_RETURN = 0x0D, VK_SHIFT = 0x10, VK_CONTROL = 0x11, VK_ESCAPE = 0x1B,
                          VK_SPACE = 0x20, VK_TAB = 0x09, VK_PRIOR = 0x21, VK_NEXT = 0x22,
                          VK_END = 0x23, VK_LEFT = 0x25, VK_UP = 0x26, VK_RIGHT = 0x27,
                          VK_DOWN = 0x28, VK_F11 = 0x7A, VK_VOLUME_MUTE = 0xAD,
                          VK_VOLUME_DOWN = 0xAE, VK_VOLUME_UP = 0xAF;

// "none" for 0, the name for a named key, else the code in hex ("0xBA").
std::string KeyName(uint32_t vk);
// Names are matched without regard to case; "none" is 0; "0x.." gives any code up to 0xFE.
std::optional<uint32_t> KeyFromName(std::string_view name);

}  // namespace orvo::host

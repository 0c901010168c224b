// Windows virtual-key codes for SDL scancodes: the codes the game's key events carry.
#pragma once

#include <SDL2/SDL_scancode.h>

#include <cstdint>

namespace orvo::platform {

// Virtual-key codes used by name elsewhere in the platform.
inline constexpr uint32_t VK_BACK = 0x08, VK_TAB = 0x09, VK_RETURN = 0x0D, VK_SHIFT = 0x10,
                          VK_CONTROL = 0x11, VK_MENU = 0x12, VK_ESCAPE = 0x1B, VK_SPACE = 0x20,
                          VK_LEFT = 0x25, VK_UP = 0x26, VK_RIGHT = 0x27, VK_DOWN = 0x28,
                          VK_NUMPAD0 = 0x60, VK_F1 = 0x70, VK_F10 = 0x79;

// The code for a key by its position, or 0 for keys Windows has no code for. With Num Lock
// off the keypad's digit and point keys give the navigation codes, as on Windows.
uint32_t VirtualKey(SDL_Scancode scancode, bool numLock);

}  // namespace orvo::platform

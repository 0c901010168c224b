// The one table from SDL scancodes (key positions, US layout names) to Windows
// virtual-key codes. Both Shift keys give VK_SHIFT, both Control keys VK_CONTROL and both
// Alt keys VK_MENU, as the window messages report them.
#include "platform/sdl/sdl_keymap.h"

#include <array>

namespace orvo::platform {
namespace {

struct KeyRow {
  SDL_Scancode scancode;
  uint32_t vk;           // with Num Lock on (or a key Num Lock does not affect)
  uint32_t vkNoNum = 0;  // keypad keys with Num Lock off, when different
};

constexpr KeyRow kKeys[] = {
    {SDL_SCANCODE_A, 'A'},
    {SDL_SCANCODE_B, 'B'},
    {SDL_SCANCODE_C, 'C'},
    {SDL_SCANCODE_D, 'D'},
    {SDL_SCANCODE_E, 'E'},
    {SDL_SCANCODE_F, 'F'},
    {SDL_SCANCODE_G, 'G'},
    {SDL_SCANCODE_H, 'H'},
    {SDL_SCANCODE_I, 'I'},
    {SDL_SCANCODE_J, 'J'},
    {SDL_SCANCODE_K, 'K'},
    {SDL_SCANCODE_L, 'L'},
    {SDL_SCANCODE_M, 'M'},
    {SDL_SCANCODE_N, 'N'},
    {SDL_SCANCODE_O, 'O'},
    {SDL_SCANCODE_P, 'P'},
    {SDL_SCANCODE_Q, 'Q'},
    {SDL_SCANCODE_R, 'R'},
    {SDL_SCANCODE_S, 'S'},
    {SDL_SCANCODE_T, 'T'},
    {SDL_SCANCODE_U, 'U'},
    {SDL_SCANCODE_V, 'V'},
    {SDL_SCANCODE_W, 'W'},
    {SDL_SCANCODE_X, 'X'},
    {SDL_SCANCODE_Y, 'Y'},
    {SDL_SCANCODE_Z, 'Z'},
    {SDL_SCANCODE_1, '1'},
    {SDL_SCANCODE_2, '2'},
    {SDL_SCANCODE_3, '3'},
    {SDL_SCANCODE_4, '4'},
    {SDL_SCANCODE_5, '5'},
    {SDL_SCANCODE_6, '6'},
    {SDL_SCANCODE_7, '7'},
    {SDL_SCANCODE_8, '8'},
    {SDL_SCANCODE_9, '9'},
    {SDL_SCANCODE_0, '0'},
    {SDL_SCANCODE_RETURN, VK_RETURN},
    {SDL_SCANCODE_ESCAPE, VK_ESCAPE},
    {SDL_SCANCODE_BACKSPACE, VK_BACK},
    {SDL_SCANCODE_TAB, VK_TAB},
    {SDL_SCANCODE_SPACE, VK_SPACE},
    {SDL_SCANCODE_MINUS, 0xBD},           // VK_OEM_MINUS
    {SDL_SCANCODE_EQUALS, 0xBB},          // VK_OEM_PLUS
    {SDL_SCANCODE_LEFTBRACKET, 0xDB},     // VK_OEM_4
    {SDL_SCANCODE_RIGHTBRACKET, 0xDD},    // VK_OEM_6
    {SDL_SCANCODE_BACKSLASH, 0xDC},       // VK_OEM_5
    {SDL_SCANCODE_NONUSHASH, 0xDC},       // the same position on ISO keyboards
    {SDL_SCANCODE_SEMICOLON, 0xBA},       // VK_OEM_1
    {SDL_SCANCODE_APOSTROPHE, 0xDE},      // VK_OEM_7
    {SDL_SCANCODE_GRAVE, 0xC0},           // VK_OEM_3
    {SDL_SCANCODE_COMMA, 0xBC},           // VK_OEM_COMMA
    {SDL_SCANCODE_PERIOD, 0xBE},          // VK_OEM_PERIOD
    {SDL_SCANCODE_SLASH, 0xBF},           // VK_OEM_2
    {SDL_SCANCODE_NONUSBACKSLASH, 0xE2},  // VK_OEM_102
    {SDL_SCANCODE_CAPSLOCK, 0x14},        // VK_CAPITAL
    {SDL_SCANCODE_F1, VK_F1},
    {SDL_SCANCODE_F2, VK_F1 + 1},
    {SDL_SCANCODE_F3, VK_F1 + 2},
    {SDL_SCANCODE_F4, VK_F1 + 3},
    {SDL_SCANCODE_F5, VK_F1 + 4},
    {SDL_SCANCODE_F6, VK_F1 + 5},
    {SDL_SCANCODE_F7, VK_F1 + 6},
    {SDL_SCANCODE_F8, VK_F1 + 7},
    {SDL_SCANCODE_F9, VK_F1 + 8},
    {SDL_SCANCODE_F10, VK_F1 + 9},
    {SDL_SCANCODE_F11, VK_F1 + 10},
    {SDL_SCANCODE_F12, VK_F1 + 11},
    {SDL_SCANCODE_F13, VK_F1 + 12},
    {SDL_SCANCODE_F14, VK_F1 + 13},
    {SDL_SCANCODE_F15, VK_F1 + 14},
    {SDL_SCANCODE_F16, VK_F1 + 15},
    {SDL_SCANCODE_F17, VK_F1 + 16},
    {SDL_SCANCODE_F18, VK_F1 + 17},
    {SDL_SCANCODE_F19, VK_F1 + 18},
    {SDL_SCANCODE_F20, VK_F1 + 19},
    {SDL_SCANCODE_F21, VK_F1 + 20},
    {SDL_SCANCODE_F22, VK_F1 + 21},
    {SDL_SCANCODE_F23, VK_F1 + 22},
    {SDL_SCANCODE_F24, VK_F1 + 23},
    {SDL_SCANCODE_PRINTSCREEN, 0x2C},  // VK_SNAPSHOT
    {SDL_SCANCODE_SCROLLLOCK, 0x91},   // VK_SCROLL
    {SDL_SCANCODE_PAUSE, 0x13},        // VK_PAUSE
    {SDL_SCANCODE_INSERT, 0x2D},
    {SDL_SCANCODE_HOME, 0x24},
    {SDL_SCANCODE_PAGEUP, 0x21},  // VK_PRIOR
    {SDL_SCANCODE_DELETE, 0x2E},
    {SDL_SCANCODE_END, 0x23},
    {SDL_SCANCODE_PAGEDOWN, 0x22},  // VK_NEXT
    {SDL_SCANCODE_RIGHT, VK_RIGHT},
    {SDL_SCANCODE_LEFT, VK_LEFT},
    {SDL_SCANCODE_DOWN, VK_DOWN},
    {SDL_SCANCODE_UP, VK_UP},
    {SDL_SCANCODE_NUMLOCKCLEAR, 0x90},  // VK_NUMLOCK
    {SDL_SCANCODE_KP_DIVIDE, 0x6F},
    {SDL_SCANCODE_KP_MULTIPLY, 0x6A},
    {SDL_SCANCODE_KP_MINUS, 0x6D},  // VK_SUBTRACT
    {SDL_SCANCODE_KP_PLUS, 0x6B},   // VK_ADD
    {SDL_SCANCODE_KP_ENTER, VK_RETURN},
    {SDL_SCANCODE_KP_1, VK_NUMPAD0 + 1, 0x23},  // End
    {SDL_SCANCODE_KP_2, VK_NUMPAD0 + 2, VK_DOWN},
    {SDL_SCANCODE_KP_3, VK_NUMPAD0 + 3, 0x22},  // Page Down
    {SDL_SCANCODE_KP_4, VK_NUMPAD0 + 4, VK_LEFT},
    {SDL_SCANCODE_KP_5, VK_NUMPAD0 + 5, 0x0C},  // VK_CLEAR
    {SDL_SCANCODE_KP_6, VK_NUMPAD0 + 6, VK_RIGHT},
    {SDL_SCANCODE_KP_7, VK_NUMPAD0 + 7, 0x24},  // Home
    {SDL_SCANCODE_KP_8, VK_NUMPAD0 + 8, VK_UP},
    {SDL_SCANCODE_KP_9, VK_NUMPAD0 + 9, 0x21},  // Page Up
    {SDL_SCANCODE_KP_0, VK_NUMPAD0, 0x2D},      // Insert
    {SDL_SCANCODE_KP_PERIOD, 0x6E, 0x2E},       // VK_DECIMAL; Delete
    {SDL_SCANCODE_KP_COMMA, 0x6C},              // VK_SEPARATOR
    {SDL_SCANCODE_APPLICATION, 0x5D},           // VK_APPS
    {SDL_SCANCODE_MENU, 0x5D},
    {SDL_SCANCODE_HELP, 0x2F},
    {SDL_SCANCODE_SELECT, 0x29},
    {SDL_SCANCODE_EXECUTE, 0x2B},
    {SDL_SCANCODE_CLEAR, 0x0C},
    {SDL_SCANCODE_MUTE, 0xAD},  // VK_VOLUME_MUTE
    {SDL_SCANCODE_VOLUMEDOWN, 0xAE},
    {SDL_SCANCODE_VOLUMEUP, 0xAF},
    {SDL_SCANCODE_AUDIONEXT, 0xB0},  // VK_MEDIA_NEXT_TRACK
    {SDL_SCANCODE_AUDIOPREV, 0xB1},
    {SDL_SCANCODE_AUDIOSTOP, 0xB2},
    {SDL_SCANCODE_AUDIOPLAY, 0xB3},  // VK_MEDIA_PLAY_PAUSE
    {SDL_SCANCODE_AUDIOMUTE, 0xAD},
    {SDL_SCANCODE_AC_BACK, 0xA6},  // VK_BROWSER_BACK
    {SDL_SCANCODE_AC_FORWARD, 0xA7},
    {SDL_SCANCODE_AC_REFRESH, 0xA8},
    {SDL_SCANCODE_AC_STOP, 0xA9},
    {SDL_SCANCODE_AC_SEARCH, 0xAA},
    {SDL_SCANCODE_AC_BOOKMARKS, 0xAB},
    {SDL_SCANCODE_AC_HOME, 0xAC},
    {SDL_SCANCODE_MAIL, 0xB4},
    {SDL_SCANCODE_SLEEP, 0x5F},
    {SDL_SCANCODE_INTERNATIONAL1, 0xC1},  // the Japanese Ro key (VK_ABNT_C1 position)
    {SDL_SCANCODE_INTERNATIONAL2, 0x15},  // Katakana/Hiragana: VK_KANA
    {SDL_SCANCODE_INTERNATIONAL3, 0xDC},  // Yen, where backslash sits
    {SDL_SCANCODE_INTERNATIONAL4, 0x1C},  // VK_CONVERT
    {SDL_SCANCODE_INTERNATIONAL5, 0x1D},  // VK_NONCONVERT
    {SDL_SCANCODE_LANG1, 0x15},           // Hangul
    {SDL_SCANCODE_LANG2, 0x19},           // Hanja
    {SDL_SCANCODE_LCTRL, VK_CONTROL},
    {SDL_SCANCODE_LSHIFT, VK_SHIFT},
    {SDL_SCANCODE_LALT, VK_MENU},
    {SDL_SCANCODE_LGUI, 0x5B},  // VK_LWIN
    {SDL_SCANCODE_RCTRL, VK_CONTROL},
    {SDL_SCANCODE_RSHIFT, VK_SHIFT},
    {SDL_SCANCODE_RALT, VK_MENU},
    {SDL_SCANCODE_RGUI, 0x5C},  // VK_RWIN
};

struct Lookup {
  std::array<uint16_t, SDL_NUM_SCANCODES> on{}, off{};
};

constexpr Lookup BuildLookup() {
  Lookup t;
  for (const KeyRow& row : kKeys) {
    t.on[row.scancode] = static_cast<uint16_t>(row.vk);
    t.off[row.scancode] = static_cast<uint16_t>(row.vkNoNum ? row.vkNoNum : row.vk);
  }
  return t;
}

constexpr Lookup kLookup = BuildLookup();

}  // namespace

uint32_t VirtualKey(SDL_Scancode scancode, bool numLock) {
  const auto index = static_cast<unsigned>(scancode);
  if (index >= SDL_NUM_SCANCODES) return 0;
  return numLock ? kLookup.on[index] : kLookup.off[index];
}

}  // namespace orvo::platform

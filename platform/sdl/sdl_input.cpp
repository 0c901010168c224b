#include "platform/sdl/sdl_input.h"

#include <SDL2/SDL_keyboard.h>
#include <SDL2/SDL_stdinc.h>

#include <array>

#include "platform/platform.h"

namespace orvo::platform {

void CaptureMouseInput(bool on) {
  SDL_CaptureMouse(on ? SDL_TRUE : SDL_FALSE);
}

uint32_t LockKeyToggles() {
  const SDL_Keymod mods = SDL_GetModState();
  uint32_t toggles = 0;
  if (mods & KMOD_CAPS) toggles |= TOGGLE_CAPS;
  if (mods & KMOD_NUM) toggles |= TOGGLE_NUM;
  if (mods & KMOD_SCROLL) toggles |= TOGGLE_SCROLL;
  return toggles;
}

namespace {

// X11 has no system up-arrow cursor, so it is drawn here: '#' black, '.' white, ' ' clear;
// the hot spot is the tip.
constexpr int kArrowSize = 16, kArrowHotX = 7, kArrowHotY = 0;
constexpr const char* kUpArrow[kArrowSize] = {
    "       #        ",  //
    "      #.#       ",  //
    "     #...#      ",  //
    "    #.....#     ",  //
    "   #.......#    ",  //
    "  #.........#   ",  //
    " #...........#  ",  //
    "######...###### ",  //
    "     #...#      ",  //
    "     #...#      ",  //
    "     #...#      ",  //
    "     #...#      ",  //
    "     #...#      ",  //
    "     #...#      ",  //
    "     #...#      ",  //
    "     #####      ",  //
};

struct Bitmap {
  std::array<Uint8, kArrowSize * kArrowSize / 8> data{}, mask{};
};

constexpr Bitmap ArrowBitmap() {
  Bitmap b;
  for (int y = 0; y < kArrowSize; ++y) {
    for (int x = 0; x < kArrowSize; ++x) {
      const char c = kUpArrow[y][x];
      const int byte = y * kArrowSize / 8 + x / 8;
      const auto bit = static_cast<Uint8>(0x80 >> (x % 8));
      if (c != ' ') b.mask[byte] |= bit;
      if (c == '#') b.data[byte] |= bit;
    }
  }
  return b;
}

constexpr Bitmap kArrowBitmap = ArrowBitmap();

}  // namespace

CursorSet::~CursorSet() {
  for (SDL_Cursor*& c : cursors_) {
    if (c) SDL_FreeCursor(c);
    c = nullptr;
  }
}

SDL_Cursor* CursorSet::Get(int shape) {
  if (shape != CURSOR_WAIT && shape != CURSOR_UPARROW) shape = CURSOR_ARROW;
  SDL_Cursor*& c = cursors_[shape];
  if (!c) {
    if (shape == CURSOR_UPARROW) {
      c = SDL_CreateCursor(kArrowBitmap.data.data(), kArrowBitmap.mask.data(), kArrowSize,
                           kArrowSize, kArrowHotX, kArrowHotY);
    } else {
      c = SDL_CreateSystemCursor(shape == CURSOR_WAIT ? SDL_SYSTEM_CURSOR_WAIT
                                                      : SDL_SYSTEM_CURSOR_ARROW);
    }
  }
  return c;
}

void CursorSet::Set(int shape) {
  if (SDL_Cursor* c = Get(shape)) SDL_SetCursor(c);
}

}  // namespace orvo::platform

// Mouse capture, cursor shapes and the lock-key toggles.
#pragma once

#include <SDL2/SDL_mouse.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace orvo::platform {

void CaptureMouseInput(bool on);
uint32_t LockKeyToggles();

// The three cursor shapes, made on first use and freed with the set.
class CursorSet {
 public:
  CursorSet() = default;
  CursorSet(const CursorSet&) = delete;
  CursorSet& operator=(const CursorSet&) = delete;
  ~CursorSet();

  // CURSOR_ARROW, CURSOR_WAIT or CURSOR_UPARROW; anything else is the arrow.
  void Set(int shape);
  // The cursor for a shape (made if needed); null when SDL could not make it.
  SDL_Cursor* Get(int shape);

 private:
  SDL_Cursor* cursors_[3] = {};
};

}  // namespace orvo::platform

// Turns SDL events into the window messages the host's window procedure takes, packed as
// the Windows messages pack them.
#pragma once

#include <SDL2/SDL_events.h>

#include <cstdint>
#include <deque>

#include "platform/platform.h"

namespace orvo::platform {

// What the window looks like at the moment an event is translated.
struct WindowView {
  uint32_t id = 0;  // SDL window id; 0 when there is no window
  bool minimized = false, maximized = false;
  int32_t width = 0, height = 0;  // client size in game pixels
  // Game pixels are scale x scale blocks from (offsetX, offsetY) of the window.
  int32_t scale = 1, offsetX = 0, offsetY = 0;
};


// x | y << 16 with each coordinate taken modulo 65536.
inline uint32_t PackPoint(int32_t x, int32_t y) {
  return static_cast<uint32_t>(static_cast<uint16_t>(x)) |
         static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16;
}

class EventTranslator {
 public:
  // A new window: button state and the last reported size start from here.
  void Reset(const WindowView& now);
  // Appends the messages one SDL event stands for; most events stand for none. User events
  // are the platform's own business and are not looked at here.
  void Translate(const SDL_Event& e, const WindowView& now, std::deque<Message>& out);

 private:
  uint32_t KeyStateFlags() const;
  void Window(const SDL_WindowEvent& e, const WindowView& now, std::deque<Message>& out);
  void Key(const SDL_KeyboardEvent& e, std::deque<Message>& out);
  void Button(const SDL_MouseButtonEvent& e, const WindowView& now, std::deque<Message>& out);
  void Wheel(const SDL_MouseWheelEvent& e, const WindowView& now, std::deque<Message>& out);
  void ReportSize(uint32_t kind, const WindowView& now, std::deque<Message>& out);

  uint32_t buttons_ = 0;  // MK_ button bits held, kept from the mouse events
  uint16_t mods_ = 0;     // SDL modifier state as of the last key event
  // The size last reported, so one change that SDL announces several ways is one message.
  bool sizeKnown_ = false;
  uint32_t sizeKind_ = SIZE_RESTORED;
  int32_t width_ = 0, height_ = 0;
};

}  // namespace orvo::platform

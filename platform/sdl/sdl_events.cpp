#include "platform/sdl/sdl_events.h"

#include <SDL2/SDL_keyboard.h>
#include <SDL2/SDL_mouse.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

#include "base/utf8.h"
#include "platform/sdl/sdl_keymap.h"

namespace orvo::platform {
namespace {

// Decodes one UTF-8 sequence at text[i], moving i past it. Returns 0 for a malformed
// sequence, of which one byte is skipped.
uint32_t NextCodePoint(std::string_view text, size_t& i) {
  const utf8::Decoded d = utf8::Decode(text, i);
  i = d.valid ? d.end : i + 1;
  return d.valid ? d.codePoint : 0;
}

uint32_t ButtonFlag(uint8_t button) {
  switch (button) {
    case SDL_BUTTON_LEFT:
      return MK_LBUTTON;
    case SDL_BUTTON_RIGHT:
      return MK_RBUTTON;
    case SDL_BUTTON_MIDDLE:
      return MK_MBUTTON;
    case SDL_BUTTON_X1:
      return MK_XBUTTON1;
    case SDL_BUTTON_X2:
      return MK_XBUTTON2;
    default:
      return 0;
  }
}

uint32_t FlagsFromMask(uint32_t sdlMask) {
  uint32_t flags = 0;
  for (uint8_t b = SDL_BUTTON_LEFT; b <= SDL_BUTTON_X2; ++b) {
    if (sdlMask & SDL_BUTTON(b)) flags |= ButtonFlag(b);
  }
  return flags;
}

// A wheel amount in the Windows unit (120 a notch), truncated and held to 16 bits.
int32_t WheelDelta(float notches) {
  const float v = notches * 120.0f;
  if (std::isnan(v)) return 0;
  if (v <= -32768.0f) return -32768;
  if (v >= 32767.0f) return 32767;
  return static_cast<int32_t>(v);
}

struct GamePoint {
  int32_t x = 0, y = 0;
  bool onPicture = true;  // false on the bars around a scaled picture
};

// A window position in game pixels. Unscaled it is passed on as it is, also outside the
// window (a captured mouse); scaled, it is held to the picture's edge.
GamePoint ToGame(const WindowView& v, int32_t x, int32_t y) {
  if (v.scale <= 1 && v.offsetX == 0 && v.offsetY == 0) return {x, y, true};
  const int32_t scale = std::max(v.scale, 1);
  const int32_t right = v.offsetX + v.width * scale, bottom = v.offsetY + v.height * scale;
  GamePoint p;
  p.onPicture = x >= v.offsetX && y >= v.offsetY && x < right && y < bottom;
  p.x = (std::clamp(x, v.offsetX, right - 1) - v.offsetX) / scale;
  p.y = (std::clamp(y, v.offsetY, bottom - 1) - v.offsetY) / scale;
  return p;
}

}  // namespace

void EventTranslator::Reset(const WindowView& now) {
  buttons_ = 0;
  mods_ = static_cast<uint16_t>(SDL_GetModState());
  sizeKnown_ = true;
  sizeKind_ = now.maximized ? SIZE_MAXIMIZED : SIZE_RESTORED;
  width_ = now.width;
  height_ = now.height;
}

uint32_t EventTranslator::KeyStateFlags() const {
  uint32_t flags = buttons_;
  if (mods_ & KMOD_SHIFT) flags |= MK_SHIFT;
  if (mods_ & KMOD_CTRL) flags |= MK_CONTROL;
  return flags;
}

void EventTranslator::Translate(const SDL_Event& e, const WindowView& now,
                                std::deque<Message>& out) {
  switch (e.type) {
    case SDL_QUIT:
    case SDL_APP_TERMINATING:
      out.push_back(MakeMessage(MSG_ENDSESSION));
      break;
    case SDL_DISPLAYEVENT:
      out.push_back(MakeMessage(MSG_DISPLAYCHANGE));
      break;
    case SDL_RENDER_TARGETS_RESET:
    case SDL_RENDER_DEVICE_RESET:
      out.push_back(MakeMessage(MSG_PAINT));
      break;
    case SDL_WINDOWEVENT:
      if (now.id != 0 && e.window.windowID == now.id) Window(e.window, now, out);
      break;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
      Key(e.key, out);
      break;
    case SDL_TEXTINPUT:
      // Left Alt with a key is a system character on Windows, which the window procedure
      // does not take. Right Alt is AltGr on many layouts and must still type.
      if ((mods_ & KMOD_LALT) && !(mods_ & KMOD_CTRL)) break;
      for (size_t i = 0, n = strnlen(e.text.text, sizeof e.text.text); i < n;) {
        const uint32_t cp = NextCodePoint({e.text.text, n}, i);
        // Control characters come as key events only, as on Windows.
        if (cp > 31) out.push_back(MakeMessage(MSG_CHAR, cp, 1));
      }
      break;
    case SDL_MOUSEMOTION:
      if (now.id == 0 || e.motion.windowID != now.id) break;
      buttons_ = FlagsFromMask(e.motion.state);
      {
        const GamePoint p = ToGame(now, e.motion.x, e.motion.y);
        out.push_back(MakeMessage(MSG_MOUSEMOVE, KeyStateFlags(), PackPoint(p.x, p.y)));
      }
      break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      if (now.id == 0 || e.button.windowID != now.id) break;
      Button(e.button, now, out);
      break;
    case SDL_MOUSEWHEEL:
      if (now.id == 0 || e.wheel.windowID != now.id) break;
      Wheel(e.wheel, now, out);
      break;
    default:
      break;
  }
}

void EventTranslator::Window(const SDL_WindowEvent& e, const WindowView& now,
                             std::deque<Message>& out) {
  switch (e.event) {
    case SDL_WINDOWEVENT_CLOSE:
      out.push_back(MakeMessage(MSG_CLOSE));
      break;
    case SDL_WINDOWEVENT_EXPOSED:
      out.push_back(MakeMessage(MSG_PAINT));
      break;
    case SDL_WINDOWEVENT_MOVED:
      // SDL reports the client area's position, which is what the move message carries.
      out.push_back(MakeMessage(MSG_MOVE, 0, PackPoint(e.data1, e.data2)));
      break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
      // Windows activates the application before the window gets the keyboard focus ...
      mods_ = static_cast<uint16_t>(SDL_GetModState());
      out.push_back(MakeMessage(MSG_ACTIVATEAPP, 1));
      out.push_back(MakeMessage(MSG_SETFOCUS));
      break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
      // ... and deactivates it before the focus goes.
      out.push_back(MakeMessage(MSG_ACTIVATEAPP, 0));
      out.push_back(MakeMessage(MSG_KILLFOCUS));
      break;
    case SDL_WINDOWEVENT_LEAVE:
      out.push_back(MakeMessage(MSG_NCMOUSEMOVE));
      break;
    case SDL_WINDOWEVENT_MINIMIZED:
      ReportSize(SIZE_MINIMIZED, now, out);
      break;
    case SDL_WINDOWEVENT_MAXIMIZED:
      ReportSize(SIZE_MAXIMIZED, now, out);
      break;
    case SDL_WINDOWEVENT_RESTORED:
      ReportSize(now.maximized ? SIZE_MAXIMIZED : SIZE_RESTORED, now, out);
      break;
    case SDL_WINDOWEVENT_RESIZED:
    case SDL_WINDOWEVENT_SIZE_CHANGED:
      // A minimized window keeps its size; the restore reports it.
      if (!now.minimized) ReportSize(now.maximized ? SIZE_MAXIMIZED : SIZE_RESTORED, now, out);
      break;
    default:
      break;
  }
}

void EventTranslator::ReportSize(uint32_t kind, const WindowView& now, std::deque<Message>& out) {
  // A minimized window reports a client area of 0 by 0, as Windows does.
  const int32_t w = kind == SIZE_MINIMIZED ? 0 : now.width;
  const int32_t h = kind == SIZE_MINIMIZED ? 0 : now.height;
  if (sizeKnown_ && kind == sizeKind_ && w == width_ && h == height_) return;
  sizeKnown_ = true;
  sizeKind_ = kind;
  width_ = w;
  height_ = h;
  out.push_back(MakeMessage(MSG_SIZE, kind, PackPoint(w, h)));
}

void EventTranslator::Key(const SDL_KeyboardEvent& e, std::deque<Message>& out) {
  mods_ = e.keysym.mod;
  const uint32_t vk = VirtualKey(e.keysym.scancode, (mods_ & KMOD_NUM) != 0);
  if (vk == 0) return;
  const bool down = e.type == SDL_KEYDOWN;
  const bool alt = (mods_ & KMOD_ALT) != 0 || vk == VK_MENU;
  const bool ctrl = (mods_ & KMOD_CTRL) != 0;
  // System keys: F10, the Alt key itself and keys pressed with Alt held, unless Control is
  // held too (Control+Alt is how Windows spells AltGr).
  const bool sys = vk == VK_F10 || (alt && !ctrl);
  // Repeat count 1 in the low half; above it, as Windows sets them: bit 29 Alt held, bit 30
  // the key was already down, bit 31 it is being released.
  uint32_t lParam = 1;
  if (alt) lParam |= 1u << 29;
  if (!down || e.repeat) lParam |= 1u << 30;
  if (!down) lParam |= 1u << 31;
  const uint32_t id =
      down ? (sys ? MSG_SYSKEYDOWN : MSG_KEYDOWN) : (sys ? MSG_SYSKEYUP : MSG_KEYUP);
  out.push_back(MakeMessage(id, vk, lParam));
}

void EventTranslator::Button(const SDL_MouseButtonEvent& e, const WindowView& now,
                             std::deque<Message>& out) {
  const uint32_t flag = ButtonFlag(e.button);
  if (flag == 0) return;
  const bool down = e.type == SDL_MOUSEBUTTONDOWN;
  // A press on the bars around a scaled picture is dropped: held to the edge it would
  // act on whatever the game has there. A release is kept, so that no button stays down.
  const GamePoint at = ToGame(now, e.x, e.y);
  if (down && !at.onPicture) return;
  // The flags are the state after the change: a press includes its own button.
  if (down) {
    buttons_ |= flag;
  } else {
    buttons_ &= ~flag;
  }
  uint32_t id = 0, wParam = KeyStateFlags();
  switch (e.button) {
    case SDL_BUTTON_LEFT:
      id = down ? MSG_LBUTTONDOWN : MSG_LBUTTONUP;
      break;
    case SDL_BUTTON_RIGHT:
      id = down ? MSG_RBUTTONDOWN : MSG_RBUTTONUP;
      break;
    case SDL_BUTTON_MIDDLE:
      id = down ? MSG_MBUTTONDOWN : MSG_MBUTTONUP;
      break;
    default:
      id = down ? MSG_XBUTTONDOWN : MSG_XBUTTONUP;
      wParam |= (e.button == SDL_BUTTON_X1 ? 1u : 2u) << 16;
      break;
  }
  out.push_back(MakeMessage(id, wParam, PackPoint(at.x, at.y)));
}

void EventTranslator::Wheel(const SDL_MouseWheelEvent& e, const WindowView& now,
                            std::deque<Message>& out) {
  const float sign = e.direction == SDL_MOUSEWHEEL_FLIPPED ? -1.0f : 1.0f;
  const GamePoint p = ToGame(now, e.mouseX, e.mouseY);
  const uint32_t at = PackPoint(p.x, p.y);
  auto send = [&](uint32_t id, float notches) {
    const int32_t delta = WheelDelta(notches * sign);
    out.push_back(MakeMessage(
        id, KeyStateFlags() | static_cast<uint32_t>(static_cast<uint16_t>(delta)) << 16, at));
  };
  if (e.preciseY != 0.0f) send(MSG_MOUSEWHEEL, e.preciseY);
  if (e.preciseX != 0.0f) send(MSG_MOUSEHWHEEL, e.preciseX);
}

}  // namespace orvo::platform

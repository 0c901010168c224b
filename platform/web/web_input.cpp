#include "platform/web/web_input.h"

#include <emscripten/html5.h>

#include "platform/web/web_window.h"

namespace orvo::platform {

namespace {

const char* const kDocument = EMSCRIPTEN_EVENT_TARGET_DOCUMENT;
constexpr uint32_t kWheelNotch = 120;
// Keys the page keeps for itself (reload, developer tools) are passed on to it.
constexpr unsigned long kF5 = 0x74, kF12 = 0x7B;

uint32_t Packed(long x, long y) {
  return static_cast<uint32_t>(x & 0xFFFF) | static_cast<uint32_t>(y & 0xFFFF) << 16;
}

EM_BOOL OnKey(int type, const EmscriptenKeyboardEvent* e, void* user) {
  auto& window = *static_cast<WebWindow*>(user);
  // The DOM's key codes are the desktop's virtual-key codes for the keys games use.
  const uint32_t key = static_cast<uint32_t>(e->keyCode);
  if (type == EMSCRIPTEN_EVENT_KEYPRESS) {
    if (e->charCode != 0) window.Post(MakeMessage(MSG_CHAR, e->charCode, 1));
    return EM_TRUE;
  }
  const bool down = type == EMSCRIPTEN_EVENT_KEYDOWN;
  const bool alt = e->altKey;
  window.Post(MakeMessage(down ? (alt ? MSG_SYSKEYDOWN : MSG_KEYDOWN) : (alt ? MSG_SYSKEYUP : MSG_KEYUP), key,
               1));
  if (key == kF5 || key == kF12) return EM_FALSE;
  // Printable keys go on to become keypress events (MSG_CHAR); the rest stop here.
  return e->key[0] != '\0' && e->key[1] == '\0' && !e->ctrlKey ? EM_FALSE : EM_TRUE;
}

EM_BOOL OnMouse(int type, const EmscriptenMouseEvent* e, void* user) {
  auto& window = *static_cast<WebWindow*>(user);
  const uint32_t flags = MouseKeyFlags(e->buttons, e->shiftKey, e->ctrlKey);
  const uint32_t at = Packed(e->targetX, e->targetY);
  if (type == EMSCRIPTEN_EVENT_MOUSEMOVE) {
    window.Post(MakeMessage(MSG_MOUSEMOVE, flags, at));
    return EM_TRUE;
  }
  if (type == EMSCRIPTEN_EVENT_MOUSELEAVE) {
    window.Post(MakeMessage(MSG_NCMOUSEMOVE));
    return EM_TRUE;
  }
  uint32_t xbutton = 0;
  const uint32_t id = ButtonMessage(e->button, type == EMSCRIPTEN_EVENT_MOUSEDOWN, xbutton);
  if (id != MSG_NONE) window.Post(MakeMessage(id, flags | xbutton << 16, at));
  return EM_TRUE;
}

EM_BOOL OnWheel(int, const EmscriptenWheelEvent* e, void* user) {
  auto& window = *static_cast<WebWindow*>(user);
  const uint32_t flags = MouseKeyFlags(e->mouse.buttons, e->mouse.shiftKey, e->mouse.ctrlKey);
  const uint32_t at = Packed(e->mouse.targetX, e->mouse.targetY);
  // A notch up is a positive delta, as on the desktop; the DOM counts downwards.
  if (e->deltaY != 0) {
    const int32_t delta = e->deltaY < 0 ? static_cast<int32_t>(kWheelNotch) : -int32_t{kWheelNotch};
    window.Post(MakeMessage(MSG_MOUSEWHEEL, flags | static_cast<uint32_t>(delta) << 16, at));
  }
  if (e->deltaX != 0) {
    const int32_t delta = e->deltaX > 0 ? static_cast<int32_t>(kWheelNotch) : -int32_t{kWheelNotch};
    window.Post(MakeMessage(MSG_MOUSEHWHEEL, flags | static_cast<uint32_t>(delta) << 16, at));
  }
  return EM_TRUE;
}

EM_BOOL OnFocus(int type, const EmscriptenFocusEvent*, void* user) {
  auto& window = *static_cast<WebWindow*>(user);
  const bool active = type == EMSCRIPTEN_EVENT_FOCUS;
  window.SetActive(active);
  window.Post(MakeMessage(active ? MSG_SETFOCUS : MSG_KILLFOCUS));
  window.Post(MakeMessage(MSG_ACTIVATEAPP, active ? 1u : 0u));
  return EM_FALSE;
}

}  // namespace

uint32_t MouseKeyFlags(uint16_t buttons, bool shift, bool control) {
  uint32_t flags = 0;
  if (buttons & 1) flags |= MK_LBUTTON;
  if (buttons & 2) flags |= MK_RBUTTON;
  if (buttons & 4) flags |= MK_MBUTTON;
  if (buttons & 8) flags |= MK_XBUTTON1;
  if (buttons & 16) flags |= MK_XBUTTON2;
  if (shift) flags |= MK_SHIFT;
  if (control) flags |= MK_CONTROL;
  return flags;
}

uint32_t ButtonMessage(int16_t button, bool down, uint32_t& xbutton) {
  xbutton = 0;
  switch (button) {
    case 0:
      return down ? MSG_LBUTTONDOWN : MSG_LBUTTONUP;
    case 1:
      return down ? MSG_MBUTTONDOWN : MSG_MBUTTONUP;
    case 2:
      return down ? MSG_RBUTTONDOWN : MSG_RBUTTONUP;
    case 3:
    case 4:
      xbutton = static_cast<uint32_t>(button - 2);
      return down ? MSG_XBUTTONDOWN : MSG_XBUTTONUP;
    default:
      return MSG_NONE;
  }
}

namespace {

// The callbacks on (with the window as their user data) or off.
void SetCallbacks(WebWindow& window, bool on) {
  void* user = on ? &window : nullptr;
  const char* canvas = window.Canvas().c_str();
  const auto key = on ? OnKey : nullptr;
  const auto mouse = on ? OnMouse : nullptr;
  const auto focus = on ? OnFocus : nullptr;
  emscripten_set_keydown_callback(kDocument, user, EM_TRUE, key);
  emscripten_set_keyup_callback(kDocument, user, EM_TRUE, key);
  emscripten_set_keypress_callback(kDocument, user, EM_TRUE, key);
  emscripten_set_mousedown_callback(canvas, user, EM_TRUE, mouse);
  emscripten_set_mouseup_callback(canvas, user, EM_TRUE, mouse);
  emscripten_set_mousemove_callback(canvas, user, EM_TRUE, mouse);
  emscripten_set_mouseleave_callback(canvas, user, EM_TRUE, mouse);
  emscripten_set_wheel_callback(canvas, user, EM_TRUE, on ? OnWheel : nullptr);
  emscripten_set_focus_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, user, EM_TRUE, focus);
  emscripten_set_blur_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, user, EM_TRUE, focus);
}

}  // namespace

void ListenForInput(WebWindow& window) {
  SetCallbacks(window, true);
}

void StopListening(WebWindow& window) {
  SetCallbacks(window, false);
}

}  // namespace orvo::platform

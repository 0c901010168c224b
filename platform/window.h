// The one main window, its messages and its input. The SDL implementation drives a real
// window; the headless one plays a script and keeps the window as its rectangle.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/gamepad.h"

namespace orvo::platform {

// Window messages, as the host's window procedure receives them. wParam and lParam carry
// the values the procedure's table expects, packed as the original window messages pack
// them (positions x | y << 16, key-state flags in wParam).
enum MessageId : uint32_t {
  MSG_NONE = 0,
  MSG_MOVE,  // lParam: client left | top << 16 in screen coordinates
  MSG_SIZE,  // wParam: SIZE_*; lParam: client width | height << 16
  MSG_SETFOCUS,
  MSG_KILLFOCUS,
  MSG_PAINT,          // the window needs repainting from the screen surface
  MSG_CLOSE,          // the user asked to close the window
  MSG_ENDSESSION,     // log-off or shut-down (SIGTERM, the terminating event)
  MSG_ACTIVATEAPP,    // wParam 1 activated, 0 deactivated
  MSG_DISPLAYCHANGE,  // displays were added, removed or resized
  MSG_NCMOUSEMOVE,    // the pointer left the client area
  MSG_KEYDOWN,        // wParam: virtual-key code; lParam: repeat count in the low half
  MSG_KEYUP,
  MSG_SYSKEYDOWN,
  MSG_SYSKEYUP,
  MSG_CHAR,         // wParam: one Unicode code point (not a UTF-16 unit); lParam: repeat
  MSG_TIMER,        // the periodic timer ticked (never more than one pending)
  MSG_MOUSEMOVE,    // wParam: MK_* flags; lParam: client x | y << 16 (signed halves)
  MSG_LBUTTONDOWN,  // wParam: MK_* flags; lParam: client x | y << 16
  MSG_LBUTTONUP,
  MSG_RBUTTONDOWN,
  MSG_RBUTTONUP,
  MSG_MBUTTONDOWN,
  MSG_MBUTTONUP,
  MSG_MOUSEWHEEL,   // wParam: MK_* flags | delta << 16 (120 per notch); lParam: client pos
  MSG_XBUTTONDOWN,  // wParam: MK_* flags | XBUTTON1 (1) or XBUTTON2 (2) << 16
  MSG_XBUTTONUP,
  MSG_MOUSEHWHEEL,
  MSG_MUSIC_DONE,  // the music player's end-of-song notification
  // Headless only: a scripted event (code, a1, a2, a3 in event) handed to the host as is;
  // a screenshot request (text = file name); the end of the script.
  MSG_SCRIPT_EVENT,
  MSG_SCRIPT_SHOT,
  MSG_SCRIPT_END,
};

inline constexpr uint32_t SIZE_RESTORED = 0, SIZE_MINIMIZED = 1, SIZE_MAXIMIZED = 2;

inline constexpr uint32_t MK_LBUTTON = 0x1, MK_RBUTTON = 0x2, MK_SHIFT = 0x4, MK_CONTROL = 0x8,
                          MK_MBUTTON = 0x10, MK_XBUTTON1 = 0x20, MK_XBUTTON2 = 0x40;

struct Message {
  uint32_t id = MSG_NONE;
  uint32_t wParam = 0;
  uint32_t lParam = 0;
  int32_t event[4] = {};  // MSG_SCRIPT_EVENT
  std::string text;       // MSG_SCRIPT_SHOT
};

// A message without text or scripted event.
inline Message MakeMessage(uint32_t id, uint32_t wParam = 0, uint32_t lParam = 0) {
  Message m;
  m.id = id;
  m.wParam = wParam;
  m.lParam = lParam;
  return m;
}

struct Size {
  int32_t width = 0, height = 0;
};

struct Rect {
  int32_t x = 0, y = 0, width = 0, height = 0;
};

// Show states as the window placement reports them.
inline constexpr int32_t SW_SHOWNORMAL = 1, SW_SHOWMINIMIZED = 2, SW_SHOWMAXIMIZED = 3,
                         SW_MINIMIZE = 6, SW_RESTORE = 9;

// The window's normal (restored) outer rectangle in screen coordinates and its show state.
struct Placement {
  Rect normal;
  int32_t showState = SW_SHOWNORMAL;
};

inline constexpr int CURSOR_ARROW = 0, CURSOR_WAIT = 1, CURSOR_UPARROW = 2;

// Lock-key toggles as the keyboard reports them.
inline constexpr uint32_t TOGGLE_CAPS = 1, TOGGLE_NUM = 2, TOGGLE_SCROLL = 4;

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;

  // --- displays: the primary display and the union of all of them
  virtual Size DisplaySize() = 0;
  virtual Size DesktopSize() = 0;

  // --- the one main window
  // Outer rectangle as the image header gives it. False when no window could be made.
  virtual bool CreateWindow(std::string_view title, int32_t x, int32_t y, int32_t width,
                            int32_t height) = 0;
  virtual void ShowWindow() = 0;
  virtual void DestroyWindow() = 0;
  virtual bool HasWindow() = 0;
  virtual Size ClientSize() = 0;
  virtual void SetTitle(std::string_view utf8) = 0;
  virtual Placement GetPlacement() = 0;
  virtual void SetPlacement(const Placement& p) = 0;
  virtual bool IsActive() = 0;
  virtual void Activate() = 0;
  // Raise and restore the window (a second instance asked for it).
  virtual void Raise() = 0;
  // Copies area of a top-down BGRA block (stride bytes per row) to the window at the same
  // coordinates, ignoring alpha, and shows it.
  virtual void Present(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride,
                       const Rect& area) = 0;

  // --- messages
  // True when a message is waiting (does not remove it).
  virtual bool PeekMessage() = 0;
  // Waits for and removes the next message; false once the loop must end (quit).
  virtual bool GetMessage(Message& out) = 0;
  virtual void PostQuit() = 0;
  // Safe from any thread: queues a message without wParam/lParam (music done).
  virtual void PostFromAnyThread(uint32_t id) = 0;
  // The host tells the platform which event it has just delivered (scripts wait for them).
  virtual void Delivered(int32_t code) { (void)code; }

  // --- input
  virtual void CaptureMouse(bool on) = 0;
  virtual void SetCursor(int shape) = 0;
  virtual uint32_t LockToggles() = 0;

  // --- the player's choices, which the game does not see beyond the sizes they give
  // Desktop full screen; leaving it puts the window back where and as large as it was.
  virtual void SetFullscreen(bool on) { (void)on; }
  virtual bool Fullscreen() { return false; }
  // Each game pixel shown as a scale x scale block, centred with black bars; SCALE_FIT
  // takes the largest whole scale at which the size the window was created with fits.
  // Client sizes, placements and mouse positions are then in game pixels. Set before
  // CreateWindow, the window is made scale times the size asked for.
  virtual void SetScale(int32_t scale) { (void)scale; }
  // The scale in effect now (1 when unscaled).
  virtual int32_t Scale() { return 1; }
  // A short note after the title, gone again after a moment (the volume after a change).
  virtual void ShowNotice(std::string_view text) { (void)text; }
  virtual void SetPadMapping(const PadMapping& mapping) { (void)mapping; }
};

inline constexpr int32_t SCALE_FIT = 0;

}  // namespace orvo::platform

// The window procedure: one table from window messages to what the program sees.
#include <array>

#include "base/utf8.h"
#include "host/key_names.h"
#include "host/runtime.h"

namespace orvo::host {

using platform::Message;

namespace {

constexpr int32_t KEY_APP_SWITCH = 245;
constexpr int32_t BUTTON_LEFT = 1, BUTTON_RIGHT = 2, BUTTON_MIDDLE = 4;
constexpr int32_t BUTTON_X1 = 0x8001, BUTTON_X2 = 0x8002;
constexpr int32_t WHEEL_VERTICAL = 0x8003, WHEEL_HORIZONTAL = 0x8004;
constexpr int32_t WHEEL_DELTA = 120;
constexpr uint8_t VK_LBUTTON = 1, VK_RBUTTON = 2, VK_MBUTTON = 4, VK_XBUTTON1 = 5, VK_XBUTTON2 = 6;

int32_t Low16(uint32_t v) {
  return static_cast<int32_t>(v & 0xFFFF);
}
int32_t High16(uint32_t v) {
  return static_cast<int32_t>(v >> 16);
}
int32_t SignedLow16(uint32_t v) {
  return static_cast<int16_t>(v & 0xFFFF);
}
int32_t SignedHigh16(uint32_t v) {
  return static_cast<int16_t>(v >> 16);
}
int32_t AsArg(uint32_t v) {
  return static_cast<int32_t>(v);
}

bool Ending(Runtime& r) {
  return (r.machine().hostFlags & vm::HOST_ENDING) != 0;
}

void Press(HostState& s, uint32_t vk) {
  uint16_t& k = s.keys[vk & 0xFF];
  if (!(k & 0x8000)) k ^= 1;
  k |= 0x8000;
}
void Release(HostState& s, uint32_t vk) {
  s.keys[vk & 0xFF] &= 0x7FFF;
}

}  // namespace

struct WindowProcTable {
  using Handler = void (*)(Runtime&, const Message&);

  static void Move(Runtime& r, const Message& m) {
    if (!r.state_.placementInProgress)
      r.PostEvent({EVT_MOVE, Low16(m.lParam), High16(m.lParam), 0});
  }

  static void Size(Runtime& r, const Message& m) {
    HostState& s = r.state_;
    if (s.mainLoopStarted && !s.placementInProgress) r.Drain();
    if (r.Over()) return;
    if (m.wParam == platform::SIZE_MINIMIZED) {
      r.PostEvent({EVT_MINIMIZE, 1, 0, 0});
      s.minimized = true;
      r.PauseMusic();
      return;
    }
    if (s.minimized) {
      r.PostEvent({EVT_MINIMIZE, 0, 0, 0});
      r.ResumeMusic();
    }
    const platform::Size client = r.platform_.window.ClientSize();
    s.clientWidth = client.width;
    s.clientHeight = client.height;
    if (!s.placementInProgress) {
      if (s.clientWidth > r.graphics_.screen.width || s.clientHeight > r.graphics_.screen.height) {
        r.ScreenSetup();
        if (r.Over()) return;
      }
      const int32_t kind = m.wParam == platform::SIZE_MAXIMIZED  ? 2
                           : m.wParam == platform::SIZE_RESTORED ? 3
                                                                 : 0;
      r.PostEvent({EVT_SIZE, s.clientWidth, s.clientHeight, kind});
      if (s.mainLoopStarted) r.DispatchOneEvent();
    }
    s.minimized = false;
  }

  static void SetFocus(Runtime& r, const Message&) { r.PostEvent({EVT_FOCUS, 1, 0, 0}); }
  static void KillFocus(Runtime& r, const Message&) { r.PostEvent({EVT_FOCUS, 0, 0, 0}); }
  static void Paint(Runtime& r, const Message&) { r.PaintAll(); }

  static void Close(Runtime& r, const Message&) {
    if (!Ending(r)) r.DeliverDirect(EVT_CLOSE, 0);
  }

  // Log-off or shut-down: the program is told and may save; then whatever is queued is
  // worked off. A program that does not end itself is ended, as the session would.
  static void EndSession(Runtime& r, const Message&) {
    if (!Ending(r)) r.DeliverDirect(EVT_CLOSE, 1);
    r.Drain();
    r.queue_.Reset();
    if (!r.Over()) {
      r.DestroyWindow();
      r.Quit(0);
    }
  }

  static void ActivateApp(Runtime& r, const Message&) {
    r.PostEvent({EVT_UP, KEY_APP_SWITCH, 1, 0});
  }
  static void DisplayChange(Runtime& r, const Message&) { r.ScreenSetup(); }
  static void NcMouseMove(Runtime& r, const Message&) { r.state_.arrowSet = false; }

  // The runtime's own keys (full screen, scale, volume) never reach the program.
  static bool PlayerKey(Runtime& r, const Message& m, bool down) {
    const auto held = [&](uint32_t vk) { return (r.state_.keys[vk] & 0x8000) != 0; };
    return r.player_.TakeKey(down, m.wParam, m.lParam, held(VK_SHIFT), held(VK_CONTROL),
                             r.platform_.window, r.sound_);
  }

  static void KeyDown(Runtime& r, const Message& m) {
    if (PlayerKey(r, m, true)) return;
    Press(r.state_, m.wParam);
    r.PostEvent({EVT_DOWN, AsArg(m.wParam), Low16(m.lParam), 0});
  }
  static void KeyUp(Runtime& r, const Message& m) {
    if (PlayerKey(r, m, false)) return;
    Release(r.state_, m.wParam);
    r.PostEvent({EVT_UP, AsArg(m.wParam), Low16(m.lParam), 0});
  }

  static void Char(Runtime& r, const Message& m) {
    if (m.wParam <= 31) return;
    // The UTF-8 of the character in the 8-byte conversion buffer the event carries.
    uint8_t buffer[8] = {};
    utf8::Encode(m.wParam, reinterpret_cast<char*>(buffer));
    r.PostEvent(
        {EVT_CHAR, AsArg(vm::Load32(buffer)), AsArg(vm::Load32(buffer + 4)), Low16(m.lParam)});
  }

  static void Timer(Runtime& r, const Message&) {
    if (r.state_.mainLoopStarted) r.PostEvent({EVT_TIMER, 0, 0, 0});
  }

  static void MouseMove(Runtime& r, const Message& m) {
    HostState& s = r.state_;
    if (!s.arrowSet) {
      r.platform_.window.SetCursor(platform::CURSOR_ARROW);
      s.arrowSet = true;
    }
    s.cursorShape = -1;
    r.PostEvent({EVT_MOUSE_MOVE, SignedLow16(m.lParam), SignedHigh16(m.lParam), AsArg(m.wParam)});
  }

  static void Button(Runtime& r, const Message& m, int32_t code, int32_t button, uint8_t vk) {
    if (code == EVT_DOWN)
      Press(r.state_, vk);
    else
      Release(r.state_, vk);
    r.PostEvent({code, button, AsArg(m.wParam), AsArg(m.lParam)});
  }
  static void LeftDown(Runtime& r, const Message& m) {
    if (!r.platform_.window.IsActive()) r.platform_.window.Activate();
    Button(r, m, EVT_DOWN, BUTTON_LEFT, VK_LBUTTON);
  }
  static void LeftUp(Runtime& r, const Message& m) {
    Button(r, m, EVT_UP, BUTTON_LEFT, VK_LBUTTON);
  }
  static void RightDown(Runtime& r, const Message& m) {
    Button(r, m, EVT_DOWN, BUTTON_RIGHT, VK_RBUTTON);
  }
  static void RightUp(Runtime& r, const Message& m) {
    Button(r, m, EVT_UP, BUTTON_RIGHT, VK_RBUTTON);
  }
  static void MiddleDown(Runtime& r, const Message& m) {
    Button(r, m, EVT_DOWN, BUTTON_MIDDLE, VK_MBUTTON);
  }
  static void MiddleUp(Runtime& r, const Message& m) {
    Button(r, m, EVT_UP, BUTTON_MIDDLE, VK_MBUTTON);
  }
  static void XButton(Runtime& r, const Message& m, int32_t code) {
    const bool first = (m.wParam >> 16) & 1;
    Button(r, m, code, first ? BUTTON_X1 : BUTTON_X2, first ? VK_XBUTTON1 : VK_XBUTTON2);
  }
  static void XDown(Runtime& r, const Message& m) { XButton(r, m, EVT_DOWN); }
  static void XUp(Runtime& r, const Message& m) { XButton(r, m, EVT_UP); }

  static void Wheel(Runtime& r, const Message& m, int32_t button) {
    r.PostEvent({EVT_DOWN, button, SignedHigh16(m.wParam) / WHEEL_DELTA, AsArg(m.lParam)});
  }
  static void VerticalWheel(Runtime& r, const Message& m) { Wheel(r, m, WHEEL_VERTICAL); }
  static void HorizontalWheel(Runtime& r, const Message& m) { Wheel(r, m, WHEEL_HORIZONTAL); }

  static void MusicDone(Runtime& r, const Message&) {
    if (r.MusicFinished()) r.PostEvent({EVT_MUSIC_DONE, 0, 0, 0});
  }

  // Scripted input: the start, window, close and end events are delivered at once, the
  // others queued as the window procedure would queue them.
  static void ScriptEvent(Runtime& r, const Message& m) {
    const Event e{m.event[0], m.event[1], m.event[2], m.event[3]};
    if (e.code >= EVT_START && e.code <= EVT_END)
      r.DeliverDirect(e.code, e.a1, e.a2, e.a3);
    else
      r.PostEvent(e);
  }
  static void ScriptShot(Runtime& r, const Message& m) {
    r.Drain();
    if (r.Over()) return;
    r.Screenshot(m.text);
    r.NoteScreenshot(m.text);
  }
  static void ScriptEnd(Runtime& r, const Message&) {
    r.Drain();
    r.DestroyWindow();
    r.Quit(0);
  }

  static constexpr std::array<Handler, platform::MSG_SCRIPT_END + 1> Build() {
    std::array<Handler, platform::MSG_SCRIPT_END + 1> t{};
    t[platform::MSG_MOVE] = Move;
    t[platform::MSG_SIZE] = Size;
    t[platform::MSG_SETFOCUS] = SetFocus;
    t[platform::MSG_KILLFOCUS] = KillFocus;
    t[platform::MSG_PAINT] = Paint;
    t[platform::MSG_CLOSE] = Close;
    t[platform::MSG_ENDSESSION] = EndSession;
    t[platform::MSG_ACTIVATEAPP] = ActivateApp;
    t[platform::MSG_DISPLAYCHANGE] = DisplayChange;
    t[platform::MSG_NCMOUSEMOVE] = NcMouseMove;
    t[platform::MSG_KEYDOWN] = KeyDown;
    t[platform::MSG_KEYUP] = KeyUp;
    t[platform::MSG_SYSKEYDOWN] = KeyDown;
    t[platform::MSG_SYSKEYUP] = KeyUp;
    t[platform::MSG_CHAR] = Char;
    t[platform::MSG_TIMER] = Timer;
    t[platform::MSG_MOUSEMOVE] = MouseMove;
    t[platform::MSG_LBUTTONDOWN] = LeftDown;
    t[platform::MSG_LBUTTONUP] = LeftUp;
    t[platform::MSG_RBUTTONDOWN] = RightDown;
    t[platform::MSG_RBUTTONUP] = RightUp;
    t[platform::MSG_MBUTTONDOWN] = MiddleDown;
    t[platform::MSG_MBUTTONUP] = MiddleUp;
    t[platform::MSG_MOUSEWHEEL] = VerticalWheel;
    t[platform::MSG_XBUTTONDOWN] = XDown;
    t[platform::MSG_XBUTTONUP] = XUp;
    t[platform::MSG_MOUSEHWHEEL] = HorizontalWheel;
    t[platform::MSG_MUSIC_DONE] = MusicDone;
    t[platform::MSG_SCRIPT_EVENT] = ScriptEvent;
    t[platform::MSG_SCRIPT_SHOT] = ScriptShot;
    t[platform::MSG_SCRIPT_END] = ScriptEnd;
    return t;
  }
};

namespace {
constexpr auto kWindowProc = WindowProcTable::Build();
}  // namespace

void Runtime::WindowProc(const Message& msg) {
  if (msg.id < kWindowProc.size() && kWindowProc[msg.id]) kWindowProc[msg.id](*this, msg);
}

}  // namespace orvo::host

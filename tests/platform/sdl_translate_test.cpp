// The translation of SDL events into window messages, on hand-made events, and the key
// table: the cases synthetic input cannot produce on demand.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

#include "platform/sdl/sdl_events.h"
#include "platform/sdl/sdl_keymap.h"

namespace orvo::platform {
namespace {

constexpr WindowView kWindow{7, false, false, 640, 480};

class Translate : public ::testing::Test {
 protected:
  void SetUp() override { t.Reset(kWindow); }

  std::deque<Message> Run(const SDL_Event& e, const WindowView& now = kWindow) {
    std::deque<Message> out;
    t.Translate(e, now, out);
    return out;
  }
  static SDL_Event WindowEvent(uint8_t what, int32_t d1 = 0, int32_t d2 = 0) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = kWindow.id;
    e.window.event = what;
    e.window.data1 = d1;
    e.window.data2 = d2;
    return e;
  }
  static SDL_Event Wheel(float x, float y, int32_t px, int32_t py, bool flipped = false) {
    SDL_Event e{};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.windowID = kWindow.id;
    e.wheel.preciseX = x;
    e.wheel.preciseY = y;
    e.wheel.mouseX = px;
    e.wheel.mouseY = py;
    e.wheel.direction = flipped ? SDL_MOUSEWHEEL_FLIPPED : SDL_MOUSEWHEEL_NORMAL;
    return e;
  }
  static SDL_Event Key(SDL_Scancode sc, uint16_t mod, bool down = true, uint8_t repeat = 0) {
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.windowID = kWindow.id;
    e.key.repeat = repeat;
    e.key.keysym.scancode = sc;
    e.key.keysym.mod = mod;
    return e;
  }
  static SDL_Event Text(const char* utf8) {
    SDL_Event e{};
    e.type = SDL_TEXTINPUT;
    e.text.windowID = kWindow.id;
    std::snprintf(e.text.text, sizeof e.text.text, "%s", utf8);
    return e;
  }
  static SDL_Event Button(uint8_t button, bool down, int32_t x, int32_t y) {
    SDL_Event e{};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.windowID = kWindow.id;
    e.button.button = button;
    e.button.x = x;
    e.button.y = y;
    return e;
  }

  EventTranslator t;
};

TEST_F(Translate, WheelDeltaIsTruncatedSixteenBitsInTheHighHalf) {
  auto out = Run(Wheel(0, 0.5f, 3, 4));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].id, MSG_MOUSEWHEEL);
  EXPECT_EQ(out[0].wParam >> 16, 60u);  // half a notch: the host's steps come out 0
  EXPECT_EQ(out[0].lParam, 3u | 4u << 16);
  out = Run(Wheel(0, -1.01f, 0, 0));
  EXPECT_EQ(static_cast<int16_t>(out[0].wParam >> 16), -121);
  // Natural scrolling reports flipped amounts; Windows' delta is the physical direction.
  out = Run(Wheel(0, 1.0f, 0, 0, true));
  EXPECT_EQ(static_cast<int16_t>(out[0].wParam >> 16), -120);
  // Absurd amounts are held at the 16-bit limits rather than overflowing.
  out = Run(Wheel(0, 1e9f, 0, 0));
  EXPECT_EQ(static_cast<int16_t>(out[0].wParam >> 16), 32767);
  out = Run(Wheel(-2.0f, 0, 0, 0));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].id, MSG_MOUSEHWHEEL);
  EXPECT_EQ(static_cast<int16_t>(out[0].wParam >> 16), -240);
  // Positions off the client area's left or top are packed as 16-bit two's complement.
  out = Run(Wheel(0, 1, -2, -3));
  EXPECT_EQ(out[0].lParam, 0xFFFDFFFEu);
}

TEST_F(Translate, SizesAreReportedOncePerChangeWithTheirKind) {
  // The size SDL announces as both RESIZED and SIZE_CHANGED is one message.
  WindowView now = kWindow;
  now.width = 800;
  now.height = 600;
  auto out = Run(WindowEvent(SDL_WINDOWEVENT_RESIZED, 800, 600), now);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].id, MSG_SIZE);
  EXPECT_EQ(out[0].wParam, SIZE_RESTORED);
  EXPECT_EQ(out[0].lParam, 800u | 600u << 16);
  EXPECT_TRUE(Run(WindowEvent(SDL_WINDOWEVENT_SIZE_CHANGED, 800, 600), now).empty());

  now.maximized = true;
  now.width = 1280;
  now.height = 1000;
  out = Run(WindowEvent(SDL_WINDOWEVENT_MAXIMIZED), now);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].wParam, SIZE_MAXIMIZED);
  EXPECT_TRUE(Run(WindowEvent(SDL_WINDOWEVENT_SIZE_CHANGED, 1280, 1000), now).empty());

  // Minimized: a client area of nothing; sizes while minimized are not reported.
  now.minimized = true;
  out = Run(WindowEvent(SDL_WINDOWEVENT_MINIMIZED), now);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].wParam, SIZE_MINIMIZED);
  EXPECT_EQ(out[0].lParam, 0u);
  EXPECT_TRUE(Run(WindowEvent(SDL_WINDOWEVENT_SIZE_CHANGED, 1280, 1000), now).empty());
  // Restored from minimized it is maximized again, as before.
  now.minimized = false;
  out = Run(WindowEvent(SDL_WINDOWEVENT_RESTORED), now);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].wParam, SIZE_MAXIMIZED);
  EXPECT_EQ(out[0].lParam, 1280u | 1000u << 16);
}

TEST_F(Translate, WindowEventsOfTheWindow) {
  auto out = Run(WindowEvent(SDL_WINDOWEVENT_FOCUS_GAINED));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].id, MSG_ACTIVATEAPP);
  EXPECT_EQ(out[0].wParam, 1u);
  EXPECT_EQ(out[1].id, MSG_SETFOCUS);
  out = Run(WindowEvent(SDL_WINDOWEVENT_FOCUS_LOST));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].id, MSG_ACTIVATEAPP);
  EXPECT_EQ(out[0].wParam, 0u);
  EXPECT_EQ(out[1].id, MSG_KILLFOCUS);
  out = Run(WindowEvent(SDL_WINDOWEVENT_MOVED, 40000, -5));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].id, MSG_MOVE);
  EXPECT_EQ(out[0].lParam, 40000u | 0xFFFBu << 16);
  EXPECT_EQ(Run(WindowEvent(SDL_WINDOWEVENT_CLOSE)).at(0).id, MSG_CLOSE);
  EXPECT_EQ(Run(WindowEvent(SDL_WINDOWEVENT_EXPOSED)).at(0).id, MSG_PAINT);
  EXPECT_EQ(Run(WindowEvent(SDL_WINDOWEVENT_LEAVE)).at(0).id, MSG_NCMOUSEMOVE);
  EXPECT_TRUE(Run(WindowEvent(SDL_WINDOWEVENT_ENTER)).empty());
  // Events of another window (a message box, say) are not this window's.
  SDL_Event other = WindowEvent(SDL_WINDOWEVENT_CLOSE);
  other.window.windowID = 99;
  EXPECT_TRUE(Run(other).empty());

  SDL_Event e{};
  e.type = SDL_QUIT;
  EXPECT_EQ(Run(e).at(0).id, MSG_ENDSESSION);
  e.type = SDL_APP_TERMINATING;
  EXPECT_EQ(Run(e).at(0).id, MSG_ENDSESSION);
  e.type = SDL_DISPLAYEVENT;
  EXPECT_EQ(Run(e).at(0).id, MSG_DISPLAYCHANGE);
}

TEST_F(Translate, KeysRepeatsAndSystemKeys) {
  auto out = Run(Key(SDL_SCANCODE_W, KMOD_NONE, true, 1));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].id, MSG_KEYDOWN);
  EXPECT_EQ(out[0].lParam & 0xFFFF, 1u);  // each repeat is a message of its own
  EXPECT_TRUE(out[0].lParam & 1u << 30);
  EXPECT_EQ(Run(Key(SDL_SCANCODE_F10, KMOD_NONE)).at(0).id, MSG_SYSKEYDOWN);
  EXPECT_EQ(Run(Key(SDL_SCANCODE_Q, KMOD_LALT)).at(0).id, MSG_SYSKEYDOWN);
  // Control with Alt is AltGr to Windows: ordinary keys.
  EXPECT_EQ(Run(Key(SDL_SCANCODE_Q, KMOD_LALT | KMOD_LCTRL)).at(0).id, MSG_KEYDOWN);
  EXPECT_EQ(Run(Key(SDL_SCANCODE_LALT, KMOD_NONE, false)).at(0).id, MSG_SYSKEYUP);
  // Keys without a Windows code say nothing.
  EXPECT_TRUE(Run(Key(SDL_SCANCODE_KP_HEXADECIMAL, KMOD_NONE)).empty());
  // Num Lock decides what the keypad is.
  EXPECT_EQ(Run(Key(SDL_SCANCODE_KP_8, KMOD_NUM)).at(0).wParam, VK_NUMPAD0 + 8);
  EXPECT_EQ(Run(Key(SDL_SCANCODE_KP_8, KMOD_NONE)).at(0).wParam, VK_UP);
}

TEST_F(Translate, TextIsOneCharacterPerCodePoint) {
  auto out = Run(Text("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"));
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0].wParam, static_cast<uint32_t>('a'));
  EXPECT_EQ(out[1].wParam, 0xE9u);
  EXPECT_EQ(out[2].wParam, 0x20ACu);
  EXPECT_EQ(out[3].wParam, 0x1F600u);  // a code point, not two UTF-16 halves
  for (const Message& m : out) EXPECT_EQ(m.lParam, 1u);
  // Malformed sequences (a lone continuation byte, an overlong form, a cut-off lead, an
  // encoded surrogate) and control characters give nothing.
  out = Run(Text("\x80x\xC0\xAFy\xED\xA0\x80\t\x1Bz\xE2\x82"));
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].wParam, static_cast<uint32_t>('x'));
  EXPECT_EQ(out[1].wParam, static_cast<uint32_t>('y'));
  EXPECT_EQ(out[2].wParam, static_cast<uint32_t>('z'));
  // After a left-Alt key the text is a system character.
  Run(Key(SDL_SCANCODE_D, KMOD_LALT));
  EXPECT_TRUE(Run(Text("d")).empty());
}

TEST_F(Translate, ButtonStateIsKeptAcrossPresses) {
  auto out = Run(Button(SDL_BUTTON_LEFT, true, 1, 2));
  EXPECT_EQ(out.at(0).wParam, MK_LBUTTON);
  out = Run(Button(SDL_BUTTON_RIGHT, true, 1, 2));
  EXPECT_EQ(out.at(0).id, MSG_RBUTTONDOWN);
  EXPECT_EQ(out.at(0).wParam, MK_LBUTTON | MK_RBUTTON);
  Run(Key(SDL_SCANCODE_LCTRL, KMOD_LCTRL));
  out = Run(Button(SDL_BUTTON_LEFT, false, 1, 2));
  EXPECT_EQ(out.at(0).wParam, MK_RBUTTON | MK_CONTROL);
  out = Run(Wheel(0, 1, 1, 2));
  EXPECT_EQ(out.at(0).wParam & 0xFFFF, MK_RBUTTON | MK_CONTROL);
  // Pointer events with no window (or another one) are not ours.
  SDL_Event stray = Button(SDL_BUTTON_LEFT, true, 0, 0);
  stray.button.windowID = 0;
  EXPECT_TRUE(Run(stray).empty());
}

TEST(KeyTable, LettersDigitsFunctionKeysArrowsAndModifiers) {
  for (int i = 0; i < 26; ++i) {
    EXPECT_EQ(VirtualKey(static_cast<SDL_Scancode>(SDL_SCANCODE_A + i), true),
              static_cast<uint32_t>('A' + i));
  }
  // SDL numbers the digit row 1..9, 0.
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(VirtualKey(static_cast<SDL_Scancode>(SDL_SCANCODE_1 + i), true),
              static_cast<uint32_t>('1' + i));
  }
  EXPECT_EQ(VirtualKey(SDL_SCANCODE_0, true), static_cast<uint32_t>('0'));
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(VirtualKey(static_cast<SDL_Scancode>(SDL_SCANCODE_F1 + i), true), VK_F1 + i);
  }
  EXPECT_EQ(VirtualKey(SDL_SCANCODE_F13, true), VK_F1 + 12);
  EXPECT_EQ(VirtualKey(SDL_SCANCODE_F24, true), VK_F1 + 23);
  EXPECT_EQ(VirtualKey(SDL_SCANCODE_LEFT, true), 0x25u);
  EXPECT_EQ(VirtualKey(SDL_SCANCODE_UP, true), 0x26u);
  EXPECT_EQ(VirtualKey(SDL_SCANCODE_RIGHT, true), 0x27u);
  EXPECT_EQ(VirtualKey(SDL_SCANCODE_DOWN, true), 0x28u);
  for (auto sc : {SDL_SCANCODE_LSHIFT, SDL_SCANCODE_RSHIFT}) EXPECT_EQ(VirtualKey(sc, true), 0x10u);
  for (auto sc : {SDL_SCANCODE_LCTRL, SDL_SCANCODE_RCTRL}) EXPECT_EQ(VirtualKey(sc, true), 0x11u);
  for (auto sc : {SDL_SCANCODE_LALT, SDL_SCANCODE_RALT}) EXPECT_EQ(VirtualKey(sc, true), 0x12u);
  EXPECT_EQ(VirtualKey(SDL_SCANCODE_SPACE, true), 0x20u);
  EXPECT_EQ(VirtualKey(SDL_SCANCODE_KP_0, true), 0x60u);
  EXPECT_EQ(VirtualKey(SDL_SCANCODE_KP_0, false), 0x2Du);  // Insert
  EXPECT_EQ(VirtualKey(SDL_SCANCODE_KP_ENTER, false), VK_RETURN);
  EXPECT_EQ(VirtualKey(SDL_SCANCODE_SEMICOLON, true), 0xBAu);
  EXPECT_EQ(VirtualKey(SDL_SCANCODE_SLASH, true), 0xBFu);
  EXPECT_EQ(VirtualKey(SDL_SCANCODE_UNKNOWN, true), 0u);
  EXPECT_EQ(VirtualKey(static_cast<SDL_Scancode>(100000), true), 0u);
}

// A window of 1280 x 960 at scale 3: 426 x 320 game pixels, one column of bar on each
// side. Every window position maps to the game pixel it shows; presses on the bars are
// dropped, everything else is held to the picture's edge.
TEST_F(Translate, ScaledPositionsAreGamePixelsAndPressesOnTheBarsAreDropped) {
  const WindowView scaled{7, false, false, 426, 320, 3, 1, 0};
  for (int32_t x = 0; x < 1280; x += 7) {
    for (int32_t y = 0; y < 960; y += 13) {
      const bool onPicture = x >= 1 && x < 1 + 426 * 3;
      const int32_t gx = std::clamp((x - 1) / 3, 0, 425), gy = y / 3;
      auto down = Run(Button(SDL_BUTTON_LEFT, true, x, y), scaled);
      if (onPicture) {
        ASSERT_EQ(down.size(), 1u) << x << "," << y;
        EXPECT_EQ(down[0].lParam, PackPoint(gx, gy)) << x << "," << y;
      } else {
        EXPECT_TRUE(down.empty()) << x << "," << y;
      }
      auto up = Run(Button(SDL_BUTTON_LEFT, false, x, y), scaled);
      ASSERT_EQ(up.size(), 1u);
      EXPECT_EQ(up[0].id, MSG_LBUTTONUP);
      EXPECT_EQ(up[0].lParam, PackPoint(gx, gy)) << x << "," << y;
    }
  }
  // Beyond the window (a captured mouse), held to the edge when scaled ...
  SDL_Event move{};
  move.type = SDL_MOUSEMOTION;
  move.motion.windowID = kWindow.id;
  move.motion.x = -40;
  move.motion.y = 2000;
  EXPECT_EQ(Run(move, scaled)[0].lParam, PackPoint(0, 319));
  // ... and passed on as it is when not.
  EXPECT_EQ(Run(move)[0].lParam, PackPoint(-40, 2000));
}

}  // namespace
}  // namespace orvo::platform

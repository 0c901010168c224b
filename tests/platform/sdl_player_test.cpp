// The player's side of the real SDL window on Xvfb: game pixels shown as blocks, full
// screen and back, and controllers attached through SDL's virtual joysticks acting as
// the keyboard.
#include <SDL2/SDL_gamecontroller.h>
#include <SDL2/SDL_joystick.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/platform/sdl_test_support.h"

namespace orvo::platform::test {
namespace {

constexpr uint32_t VK_RETURN_KEY = 0x0D, VK_LEFT_KEY = 0x25, VK_SPACE_KEY = 0x20;
constexpr uint32_t REPEATED = 1u << 30;

// A game picture where every pixel differs from its neighbours.
std::vector<uint8_t> Pattern(int w, int h) {
  std::vector<uint8_t> b(static_cast<size_t>(w) * h * 4);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &b[(static_cast<size_t>(y) * w + x) * 4];
      p[0] = static_cast<uint8_t>(x * 37);
      p[1] = static_cast<uint8_t>(y * 53);
      p[2] = static_cast<uint8_t>((x + y) * 11);
    }
  return b;
}
uint32_t PatternAt(int x, int y) {
  return uint32_t{static_cast<uint8_t>((x + y) * 11)} << 16 |
         uint32_t{static_cast<uint8_t>(y * 53)} << 8 | static_cast<uint8_t>(x * 37);
}

TEST_F(SdlTest, AScaledWindowShowsEachGamePixelAsABlock) {
  platform->window.SetScale(3);
  ASSERT_TRUE(platform->window.CreateWindow("scaled", 20, 20, 100, 80));
  EXPECT_EQ(platform->window.ClientSize().width, 100);
  EXPECT_EQ(platform->window.ClientSize().height, 80);
  int w = 0, h = 0;
  SDL_GetWindowSize(platform->window.Native(), &w, &h);
  EXPECT_EQ(w, 300);
  EXPECT_EQ(h, 240);
  std::vector<Message> got;
  platform->window.ShowWindow();
  ASSERT_TRUE(CollectUntil(platform->window, got, MSG_PAINT, -1, 15000));
  const std::vector<uint8_t> block = Pattern(100, 80);
  XConnection x;
  ASSERT_NE(x.display, nullptr);
  const Window xw = XWindowOf(platform->window.Native());
  std::vector<uint32_t> shown;
  const auto end = Clock::now() + std::chrono::seconds(5);
  do {
    platform->window.Present(block.data(), 100, 80, 400, {0, 0, 100, 80});
    shown = ReadWindow(x.display, xw, 0, 0, 300, 240);
  } while ((shown.size() != 300u * 240u || shown[0] != PatternAt(0, 0)) && Clock::now() < end);
  ASSERT_EQ(shown.size(), 300u * 240u);
  int wrong = 0;
  for (int y = 0; y < 240; ++y)
    for (int px = 0; px < 300; ++px) wrong += shown[y * 300 + px] != PatternAt(px / 3, y / 3);
  EXPECT_EQ(wrong, 0);
}

TEST_F(SdlTest, FullScreenCoversTheDisplayAndLeavingItRestoresThePlace) {
  OpenWindow(60, 70, 320, 240);
  platform->window.SetFullscreen(true);
  std::vector<Message> got;
  ASSERT_TRUE(CollectUntil(platform->window, got, MSG_SIZE, -1, 5000));
  EXPECT_TRUE(platform->window.Fullscreen());
  const Size display = platform->window.DisplaySize();
  EXPECT_EQ(OnlyIds(got, {MSG_SIZE}).back().lParam, PackPoint(display.width, display.height));
  platform->window.SetFullscreen(false);
  got.clear();
  ASSERT_TRUE(Collect(platform->window, got, [](const std::vector<Message>& g) {
    const auto sizes = OnlyIds(g, {MSG_SIZE});
    return !sizes.empty() && sizes.back().lParam == PackPoint(320, 240);
  }));
  EXPECT_FALSE(platform->window.Fullscreen());
  XConnection x;
  int sx = 0, sy = 0;
  Window child = 0;
  for (const auto end = Clock::now() + std::chrono::seconds(5); Clock::now() < end;) {
    XTranslateCoordinates(x.display, xwindow, DefaultRootWindow(x.display), 0, 0, &sx, &sy, &child);
    if (sx == 60 && sy == 70) break;
    Drain(platform->window, 20);
  }
  EXPECT_EQ(sx, 60);
  EXPECT_EQ(sy, 70);
}

// A controller of SDL's virtual kind, plugged in from the test as a device would be.
struct VirtualPad {
  SDL_Joystick* joystick = nullptr;
  VirtualPad() {
    SDL_VirtualJoystickDesc desc{};
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
    desc.naxes = SDL_CONTROLLER_AXIS_MAX;
    desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
    const int index = SDL_JoystickAttachVirtualEx(&desc);
    if (index >= 0) joystick = SDL_JoystickOpen(index);
  }
  ~VirtualPad() { Unplug(); }
  void Button(SDL_GameControllerButton b, bool down) {
    SDL_JoystickSetVirtualButton(joystick, b, down ? SDL_PRESSED : SDL_RELEASED);
  }
  void Axis(SDL_GameControllerAxis a, int16_t v) { SDL_JoystickSetVirtualAxis(joystick, a, v); }
  void Unplug() {
    if (!joystick) return;
    const SDL_JoystickID id = SDL_JoystickInstanceID(joystick);
    SDL_JoystickClose(joystick);
    joystick = nullptr;
    for (int i = 0; i < SDL_NumJoysticks(); ++i)
      if (SDL_JoystickGetDeviceInstanceID(i) == id) SDL_JoystickDetachVirtual(i);
  }
};

// The key messages among what came, as "down 13", "up 13", "repeat 13", "char 32".
std::vector<std::string> Keys(const std::vector<Message>& got) {
  std::vector<std::string> out;
  for (const Message& m : got) {
    if (m.id == MSG_KEYDOWN)
      out.push_back(std::string(m.lParam & REPEATED ? "repeat " : "down ") +
                    std::to_string(m.wParam));
    if (m.id == MSG_KEYUP) out.push_back("up " + std::to_string(m.wParam));
    if (m.id == MSG_CHAR) out.push_back("char " + std::to_string(m.wParam));
  }
  return out;
}
size_t CountOf(const std::vector<std::string>& keys, const std::string& k) {
  return static_cast<size_t>(std::count(keys.begin(), keys.end(), k));
}

TEST_F(SdlTest, ControllersTypeAsTheKeyboardDoesAndReleaseWhenUnplugged) {
  OpenWindow(10, 10, 200, 150);
  PadMapping mapping;
  mapping.keys[PAD_A] = VK_RETURN_KEY;
  mapping.keys[PAD_X] = VK_SPACE_KEY;
  mapping.keys[PAD_LEFT] = VK_LEFT_KEY;
  mapping.keys[PAD_Y] = 'N';
  platform->window.SetPadMapping(mapping);
  VirtualPad one;
  ASSERT_NE(one.joystick, nullptr) << SDL_GetError();
  Drain(platform->window, 200);  // the pad is announced and opened

  // A held button: its key goes down once, repeats after a while, and goes up.
  one.Button(SDL_CONTROLLER_BUTTON_A, true);
  std::vector<Message> got;
  ASSERT_TRUE(CollectUntil(platform->window, got, MSG_KEYDOWN));
  for (const Message& m : Drain(platform->window, 800)) got.push_back(m);
  one.Button(SDL_CONTROLLER_BUTTON_A, false);
  ASSERT_TRUE(CollectUntil(platform->window, got, MSG_KEYUP));
  std::vector<std::string> keys = Keys(got);
  EXPECT_EQ(keys.front(), "down 13");
  EXPECT_EQ(CountOf(keys, "down 13"), 1u);
  EXPECT_GE(CountOf(keys, "repeat 13"), 3u);
  EXPECT_EQ(keys.back(), "up 13");
  EXPECT_EQ(CountOf(keys, "char 13"), 0u) << "Enter types no character";

  // Buttons that type: X is a space, Y the letter as an unshifted keyboard types it.
  got.clear();
  one.Button(SDL_CONTROLLER_BUTTON_Y, true);
  ASSERT_TRUE(CollectUntil(platform->window, got, MSG_CHAR));
  one.Button(SDL_CONTROLLER_BUTTON_Y, false);
  ASSERT_TRUE(CollectUntil(platform->window, got, MSG_KEYUP));
  EXPECT_EQ(Keys(got), (std::vector<std::string>{"down 78", "char 110", "up 78"}));

  // Two pads hold one key: it goes down once and up when the last lets go; the stick
  // acts as the d-pad; a pad unplugged in the middle of a press lets go of its keys.
  VirtualPad two;
  ASSERT_NE(two.joystick, nullptr) << SDL_GetError();
  Drain(platform->window, 200);
  got.clear();
  one.Button(SDL_CONTROLLER_BUTTON_X, true);
  two.Button(SDL_CONTROLLER_BUTTON_X, true);
  two.Axis(SDL_CONTROLLER_AXIS_LEFTX, -30000);
  ASSERT_TRUE(CollectUntil(platform->window, got, MSG_KEYDOWN, VK_LEFT_KEY));
  one.Button(SDL_CONTROLLER_BUTTON_X, false);
  for (const Message& m : Drain(platform->window, 150)) got.push_back(m);
  keys = Keys(got);
  EXPECT_EQ(CountOf(keys, "down 32"), 1u);
  EXPECT_EQ(CountOf(keys, "up 32"), 0u) << "the second pad still holds it";
  two.Unplug();
  ASSERT_TRUE(Collect(platform->window, got, [](const std::vector<Message>& g) {
    const auto k = Keys(g);
    return CountOf(k, "up 32") == 1 && CountOf(k, "up 37") == 1;
  })) << ::testing::PrintToString(Keys(got));
  // Nothing repeats once everything is let go.
  EXPECT_TRUE(Keys(Drain(platform->window, 700)).empty());
}

}  // namespace
}  // namespace orvo::platform::test

// Synthetic keyboard and mouse input (xdotool, through XTEST) arriving as window messages.
#include <gtest/gtest.h>

#include "platform/sdl/sdl_keymap.h"
#include "tests/platform/sdl_test_support.h"

namespace orvo::platform::test {
namespace {

constexpr std::initializer_list<uint32_t> kKeyIds = {MSG_KEYDOWN, MSG_KEYUP, MSG_SYSKEYDOWN,
                                                     MSG_SYSKEYUP, MSG_CHAR};

// Key messages as (id, wParam) pairs, for compact comparison.
std::vector<std::pair<uint32_t, uint32_t>> Keys(const std::vector<Message>& all) {
  std::vector<std::pair<uint32_t, uint32_t>> out;
  for (const Message& m : OnlyIds(all, kKeyIds)) out.emplace_back(m.id, m.wParam);
  return out;
}

class SdlInput : public SdlTest {
 protected:
  void SetUp() override {
    SdlTest::SetUp();
    if (IsSkipped()) return;
    OpenWindow(0, 0, 300, 200);
    // The pointer rests over the window, as it would when someone types into it.
    ASSERT_EQ(Shell("xdotool mousemove 150 100"), 0);
    std::vector<Message> got;
    CollectUntil(platform->window, got, MSG_MOUSEMOVE, -1, 2000);
    Drain(platform->window, 50);
  }

  // Runs xdotool and collects until the key-up of sentinel arrives.
  std::vector<Message> Type(const std::string& args, uint32_t sentinel) {
    EXPECT_EQ(Shell("xdotool " + args), 0);
    std::vector<Message> got;
    EXPECT_TRUE(Collect(platform->window, got, [&](const std::vector<Message>& g) {
      for (const Message& m : g) {
        if ((m.id == MSG_KEYUP || m.id == MSG_SYSKEYUP) && m.wParam == sentinel) return true;
      }
      return false;
    })) << args;
    return got;
  }
};

TEST_F(SdlInput, LettersGiveVirtualKeysAndCharacters) {
  const auto got = Type("key a shift+b", 'B');
  using P = std::pair<uint32_t, uint32_t>;
  // xdotool lets go of Shift before B.
  const std::vector<P> want = {{MSG_KEYDOWN, 'A'},      {MSG_CHAR, 'a'},    {MSG_KEYUP, 'A'},
                               {MSG_KEYDOWN, VK_SHIFT}, {MSG_KEYDOWN, 'B'}, {MSG_CHAR, 'B'},
                               {MSG_KEYUP, VK_SHIFT},   {MSG_KEYUP, 'B'}};
  EXPECT_EQ(Keys(got), want);
  const auto keys = OnlyIds(got, kKeyIds);
  ASSERT_FALSE(keys.empty());
  // Repeat count 1 in the low half; a release has bits 30 and 31 set.
  EXPECT_EQ(keys[0].lParam & 0xFFFF, 1u);
  EXPECT_EQ(keys[2].lParam & 0xFFFF, 1u);
  EXPECT_EQ(keys[2].lParam >> 30, 3u);
  EXPECT_EQ(keys[1].lParam & 0xFFFF, 1u);
}

TEST_F(SdlInput, ControlKeysGiveNoCharacters) {
  const auto got = Type("key Return BackSpace Tab Escape z", 'Z');
  const auto chars = OnlyIds(got, {MSG_CHAR});
  ASSERT_EQ(chars.size(), 1u);
  EXPECT_EQ(chars[0].wParam, static_cast<uint32_t>('z'));
  const auto downs = OnlyIds(got, {MSG_KEYDOWN});
  ASSERT_EQ(downs.size(), 5u);
  EXPECT_EQ(downs[0].wParam, VK_RETURN);
  EXPECT_EQ(downs[1].wParam, VK_BACK);
  EXPECT_EQ(downs[2].wParam, VK_TAB);
  EXPECT_EQ(downs[3].wParam, VK_ESCAPE);
}

// Characters come from the keyboard layout: é has a key of its own on the French one, and
// the key codes stay those of the key positions.
TEST_F(SdlInput, TypedAccentIsOneCodePoint) {
  ASSERT_EQ(Shell("setxkbmap -layout fr"), 0);
  const auto got = Type("key eacute q", 'A');
  Shell("setxkbmap -layout us");
  using P = std::pair<uint32_t, uint32_t>;
  const std::vector<P> want = {{MSG_KEYDOWN, '2'}, {MSG_CHAR, 0xE9}, {MSG_KEYUP, '2'},
                               {MSG_KEYDOWN, 'A'}, {MSG_CHAR, 'q'},  {MSG_KEYUP, 'A'}};
  EXPECT_EQ(Keys(got), want);
}

// AltGr (right Alt) with E types the euro sign on the international US layout: a system
// key by Windows' rule for Alt, but its character still arrives.
TEST_F(SdlInput, AltGrStillTypes) {
  ASSERT_EQ(Shell("setxkbmap -layout us -variant intl"), 0);
  const auto got = Type("key EuroSign z", 'Z');
  Shell("setxkbmap -layout us");
  const auto chars = OnlyIds(got, {MSG_CHAR});
  ASSERT_EQ(chars.size(), 2u);
  EXPECT_EQ(chars[0].wParam, 0x20ACu);
  EXPECT_EQ(chars[1].wParam, static_cast<uint32_t>('z'));
}

TEST_F(SdlInput, FunctionArrowAndModifierKeys) {
  const auto got = Type("key F1 F12 Left Up Right Down ctrl+Home KP_Add 7 x", 'X');
  std::vector<uint32_t> downs;
  for (const Message& m : OnlyIds(got, {MSG_KEYDOWN})) downs.push_back(m.wParam);
  const std::vector<uint32_t> want = {VK_F1,      VK_F1 + 11, VK_LEFT, VK_UP, VK_RIGHT, VK_DOWN,
                                      VK_CONTROL, 0x24,       0x6B,    '7',   'X'};
  EXPECT_EQ(downs, want);
}

TEST_F(SdlInput, AltMakesSystemKeys) {
  const auto got = Type("key alt+x y", 'Y');
  using P = std::pair<uint32_t, uint32_t>;
  // No character for Alt+X (Windows makes it a system character); X is let go after Alt,
  // so its release is an ordinary one.
  const std::vector<P> want = {
      {MSG_SYSKEYDOWN, VK_MENU}, {MSG_SYSKEYDOWN, 'X'}, {MSG_SYSKEYUP, VK_MENU}, {MSG_KEYUP, 'X'},
      {MSG_KEYDOWN, 'Y'},        {MSG_CHAR, 'y'},       {MSG_KEYUP, 'Y'}};
  EXPECT_EQ(Keys(got), want);
}

TEST_F(SdlInput, MouseMovesAndButtonsCarryPositionAndKeyState) {
  ASSERT_EQ(Shell("xdotool mousemove 10 20"), 0);
  std::vector<Message> got;
  ASSERT_TRUE(Collect(platform->window, got, [](const std::vector<Message>& g) {
    return !g.empty() && g.back().id == MSG_MOUSEMOVE && g.back().lParam == (10u | 20u << 16);
  }));
  EXPECT_EQ(got.back().wParam, 0u);

  got.clear();
  ASSERT_EQ(Shell("xdotool click 1 keydown shift click 3 keyup shift keydown ctrl click 2 "
                  "keyup ctrl"),
            0);
  ASSERT_TRUE(CollectUntil(platform->window, got, MSG_MBUTTONUP));
  const auto buttons = OnlyIds(got, {MSG_LBUTTONDOWN, MSG_LBUTTONUP, MSG_RBUTTONDOWN, MSG_RBUTTONUP,
                                     MSG_MBUTTONDOWN, MSG_MBUTTONUP});
  ASSERT_EQ(buttons.size(), 6u);
  // A press includes its own button, a release no longer does.
  EXPECT_EQ(buttons[0].id, MSG_LBUTTONDOWN);
  EXPECT_EQ(buttons[0].wParam, MK_LBUTTON);
  EXPECT_EQ(buttons[0].lParam, 10u | 20u << 16);
  EXPECT_EQ(buttons[1].id, MSG_LBUTTONUP);
  EXPECT_EQ(buttons[1].wParam, 0u);
  EXPECT_EQ(buttons[2].id, MSG_RBUTTONDOWN);
  EXPECT_EQ(buttons[2].wParam, MK_RBUTTON | MK_SHIFT);
  EXPECT_EQ(buttons[3].wParam, MK_SHIFT);
  EXPECT_EQ(buttons[4].id, MSG_MBUTTONDOWN);
  EXPECT_EQ(buttons[4].wParam, MK_MBUTTON | MK_CONTROL);
  EXPECT_EQ(buttons[5].wParam, MK_CONTROL);

  // Dragging: the moves carry the held button.
  got.clear();
  ASSERT_EQ(Shell("xdotool mousedown 1 mousemove 30 40 mouseup 1"), 0);
  ASSERT_TRUE(CollectUntil(platform->window, got, MSG_LBUTTONUP));
  bool dragged = false;
  for (const Message& m : OnlyIds(got, {MSG_MOUSEMOVE})) {
    if (m.lParam == (30u | 40u << 16)) dragged = m.wParam == MK_LBUTTON;
  }
  EXPECT_TRUE(dragged);
}

TEST_F(SdlInput, WheelNotchesAreMultiplesOf120AtThePointer) {
  ASSERT_EQ(Shell("xdotool mousemove 50 60 click 4 click 5 click 7"), 0);
  std::vector<Message> got;
  ASSERT_TRUE(CollectUntil(platform->window, got, MSG_MOUSEHWHEEL));
  const auto wheels = OnlyIds(got, {MSG_MOUSEWHEEL, MSG_MOUSEHWHEEL});
  ASSERT_EQ(wheels.size(), 3u);
  EXPECT_EQ(wheels[0].id, MSG_MOUSEWHEEL);
  EXPECT_EQ(static_cast<int16_t>(wheels[0].wParam >> 16), 120);
  EXPECT_EQ(wheels[0].wParam & 0xFFFF, 0u);
  EXPECT_EQ(wheels[0].lParam, 50u | 60u << 16);
  EXPECT_EQ(static_cast<int16_t>(wheels[1].wParam >> 16), -120);
  EXPECT_EQ(wheels[2].id, MSG_MOUSEHWHEEL);
  EXPECT_EQ(static_cast<int16_t>(wheels[2].wParam >> 16), 120);  // tilted right
}

TEST_F(SdlInput, ExtraButtonsNameThemselvesInTheHighHalf) {
  ASSERT_EQ(Shell("xdotool click 8 click 9"), 0);
  std::vector<Message> got;
  ASSERT_TRUE(CollectUntil(platform->window, got, MSG_XBUTTONUP, MK_XBUTTON1 * 0 + (2u << 16)));
  const auto x = OnlyIds(got, {MSG_XBUTTONDOWN, MSG_XBUTTONUP});
  ASSERT_EQ(x.size(), 4u);
  EXPECT_EQ(x[0].id, MSG_XBUTTONDOWN);
  EXPECT_EQ(x[0].wParam, MK_XBUTTON1 | 1u << 16);
  EXPECT_EQ(x[1].id, MSG_XBUTTONUP);
  EXPECT_EQ(x[1].wParam, 1u << 16);
  EXPECT_EQ(x[2].wParam, MK_XBUTTON2 | 2u << 16);
  EXPECT_EQ(x[3].wParam, 2u << 16);
}

TEST_F(SdlInput, LeavingTheWindowAndLockToggles) {
  ASSERT_EQ(Shell("xdotool mousemove 900 900"), 0);
  std::vector<Message> got;
  EXPECT_TRUE(CollectUntil(platform->window, got, MSG_NCMOUSEMOVE));
  ASSERT_EQ(Shell("xdotool mousemove 150 100"), 0);
  Drain(platform->window, 100);

  const uint32_t before = platform->window.LockToggles();
  Type("key Caps_Lock k", 'K');
  EXPECT_EQ(platform->window.LockToggles() & TOGGLE_CAPS, (before & TOGGLE_CAPS) ^ TOGGLE_CAPS);
  Type("key Caps_Lock k", 'K');
  EXPECT_EQ(platform->window.LockToggles() & TOGGLE_CAPS, before & TOGGLE_CAPS);
}

}  // namespace
}  // namespace orvo::platform::test

// The real SDL window on Xvfb: creation, the first messages, and painting read back from
// the X server.
#include <gtest/gtest.h>

#include "tests/platform/sdl_test_support.h"

namespace orvo::platform::test {
namespace {

// A screen block of BGRA pixels; alpha is left at odd values to show it is ignored.
struct Block {
  int width, height;
  std::vector<uint8_t> bytes;
  Block(int w, int h) : width(w), height(h), bytes(static_cast<size_t>(w) * h * 4) {}
  void Fill(int x0, int y0, int w, int h, uint32_t rgb) {
    for (int y = y0; y < y0 + h; ++y) {
      for (int x = x0; x < x0 + w; ++x) {
        uint8_t* p = &bytes[(static_cast<size_t>(y) * width + x) * 4];
        p[0] = rgb & 0xFF;
        p[1] = (rgb >> 8) & 0xFF;
        p[2] = (rgb >> 16) & 0xFF;
        p[3] = static_cast<uint8_t>(x * 7 + y);
      }
    }
  }
  uint32_t At(int x, int y) const {
    const uint8_t* p = &bytes[(static_cast<size_t>(y) * width + x) * 4];
    return static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0];
  }
};

TEST_F(SdlTest, CreationReportsPositionAndSizeThenShowsAndPaints) {
  ASSERT_TRUE(platform->window.CreateWindow("ORVO 6.0", 40, 30, 320, 240));
  EXPECT_TRUE(platform->window.HasWindow());
  EXPECT_STREQ(SDL_GetWindowTitle(platform->window.Native()), "ORVO 6.0");
  // Not visible before it is shown.
  EXPECT_TRUE(SDL_GetWindowFlags(platform->window.Native()) & SDL_WINDOW_HIDDEN);
  // No window manager on this server: the frame is empty, client = outer.
  EXPECT_EQ(platform->window.ClientSize().width, 320);
  EXPECT_EQ(platform->window.ClientSize().height, 240);

  std::vector<Message> got;
  ASSERT_TRUE(platform->window.PeekMessage());
  ASSERT_TRUE(platform->window.GetMessage(got.emplace_back()));
  ASSERT_TRUE(platform->window.GetMessage(got.emplace_back()));
  EXPECT_EQ(got[0].id, MSG_MOVE);
  EXPECT_EQ(got[0].lParam, 40u | 30u << 16);
  EXPECT_EQ(got[1].id, MSG_SIZE);
  EXPECT_EQ(got[1].wParam, SIZE_RESTORED);
  EXPECT_EQ(got[1].lParam, 320u | 240u << 16);

  platform->window.ShowWindow();
  got.clear();
  ASSERT_TRUE(CollectUntil(platform->window, got, MSG_PAINT));
  EXPECT_FALSE(SDL_GetWindowFlags(platform->window.Native()) & SDL_WINDOW_HIDDEN);
  // Showing changed nothing about the size, so no size message repeats it.
  for (const Message& m : Drain(platform->window, 200)) got.push_back(m);
  EXPECT_TRUE(OnlyIds(got, {MSG_SIZE}).empty());

  platform->window.SetTitle("Zwölf Boxkämpfer");
  EXPECT_STREQ(SDL_GetWindowTitle(platform->window.Native()), "Zwölf Boxkämpfer");
  platform->window.DestroyWindow();
  EXPECT_FALSE(platform->window.HasWindow());
  EXPECT_EQ(platform->window.ClientSize().width, 0);
}

TEST_F(SdlTest, PresentShowsTheAreaAndIgnoresAlpha) {
  OpenWindow(0, 0, 200, 150);
  XConnection x;
  ASSERT_NE(x.display, nullptr);
  // The block is larger than the window, as the screen surface is.
  Block block(400, 300);
  block.Fill(0, 0, 400, 300, 0x102030);
  block.Fill(20, 10, 50, 40, 0xFF8000);
  platform->window.Present(block.bytes.data(), block.width, block.height, block.width * 4,
                           Rect{0, 0, 200, 150});
  std::vector<uint32_t> seen = ReadWindow(x.display, xwindow, 0, 0, 200, 150);
  ASSERT_EQ(seen.size(), 200u * 150u);
  int wrong = 0;
  for (int y = 0; y < 150; ++y) {
    for (int i = 0; i < 200; ++i) wrong += seen[static_cast<size_t>(y) * 200 + i] != block.At(i, y);
  }
  EXPECT_EQ(wrong, 0);

  // Only the dirty area is copied: a change outside it stays off the screen.
  block.Fill(100, 100, 10, 10, 0x00FF00);  // inside the area below
  block.Fill(0, 140, 10, 10, 0x0000FF);    // outside it
  platform->window.Present(block.bytes.data(), block.width, block.height, block.width * 4,
                           Rect{95, 95, 20, 20});
  seen = ReadWindow(x.display, xwindow, 0, 0, 200, 150);
  EXPECT_EQ(seen[105 * 200 + 105], 0x00FF00u);
  EXPECT_EQ(seen[145 * 200 + 5], 0x102030u);

  // An area reaching past the window and the block is cut, not read beyond them.
  platform->window.Present(block.bytes.data(), block.width, block.height, block.width * 4,
                           Rect{-50, -50, 100000, 100000});
  seen = ReadWindow(x.display, xwindow, 0, 0, 200, 150);
  EXPECT_EQ(seen[145 * 200 + 5], 0x0000FFu);
}

TEST_F(SdlTest, AfterAResizeTheWholeWindowIsPaintedFromTheBlock) {
  OpenWindow(0, 0, 120, 90);
  XConnection x;
  Block block(640, 480);
  block.Fill(0, 0, 640, 480, 0x336699);
  block.Fill(200, 150, 30, 30, 0xCC0000);
  platform->window.Present(block.bytes.data(), block.width, block.height, block.width * 4,
                           Rect{0, 0, 120, 90});

  ASSERT_EQ(Shell("xdotool windowsize " + std::to_string(xwindow) + " 300 220"), 0);
  std::vector<Message> got;
  ASSERT_TRUE(CollectUntil(platform->window, got, MSG_SIZE));
  const auto sizes = OnlyIds(got, {MSG_SIZE});
  EXPECT_EQ(sizes.back().wParam, SIZE_RESTORED);
  EXPECT_EQ(sizes.back().lParam, 300u | 220u << 16);
  EXPECT_EQ(platform->window.ClientSize().width, 300);
  Drain(platform->window, 100);

  // A small dirty area, yet the newly uncovered part shows the block too.
  platform->window.Present(block.bytes.data(), block.width, block.height, block.width * 4,
                           Rect{0, 0, 4, 4});
  const std::vector<uint32_t> seen = ReadWindow(x.display, xwindow, 0, 0, 300, 220);
  ASSERT_EQ(seen.size(), 300u * 220u);
  EXPECT_EQ(seen[160 * 300 + 210], 0xCC0000u);
  EXPECT_EQ(seen[219 * 300 + 299], 0x336699u);
}

TEST_F(SdlTest, DisplayAndDesktopSizesAreTheServerScreen) {
  EXPECT_EQ(platform->window.DisplaySize().width, 1280);
  EXPECT_EQ(platform->window.DisplaySize().height, 1024);
  EXPECT_EQ(platform->window.DesktopSize().width, 1280);
  EXPECT_EQ(platform->window.DesktopSize().height, 1024);
}

// A post that reaches a window already gone (another thread's wake-up racing the end of
// the program) is no reason for Xlib to end the runtime.
TEST_F(SdlTest, APostToAWindowAlreadyGoneDoesNotEndTheRuntime) {
  OpenWindow(0, 0, 64, 48);
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  ASSERT_TRUE(SDL_GetWindowWMInfo(platform->window.Native(), &info));
  Display* sdlDisplay = info.info.x11.display;
  const Window gone =
      XCreateSimpleWindow(sdlDisplay, DefaultRootWindow(sdlDisplay), 0, 0, 8, 8, 0, 0, 0);
  XDestroyWindow(sdlDisplay, gone);
  XEvent wake{};
  wake.xclient.type = ClientMessage;
  wake.xclient.window = gone;
  wake.xclient.format = 32;
  XSendEvent(sdlDisplay, gone, False, NoEventMask, &wake);
  XSync(sdlDisplay, False);  // the error arrives here; without the handler the process ends
  platform->window.SetTitle("still here");
  EXPECT_STREQ(SDL_GetWindowTitle(platform->window.Native()), "still here");
}

}  // namespace
}  // namespace orvo::platform::test

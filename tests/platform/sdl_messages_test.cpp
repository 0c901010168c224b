// The message queue of the SDL platform: the timer, messages from other threads, quitting,
// the close button, the end of the session, and the message box.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "tests/platform/sdl_test_support.h"

namespace orvo::platform::test {
namespace {

int Count(const std::vector<Message>& got, uint32_t id) {
  int n = 0;
  for (const Message& m : got) n += m.id == id;
  return n;
}

TEST_F(SdlTest, TicksDoNotPileUpBehindASlowConsumer) {
  ASSERT_TRUE(platform->clock.StartTimer(20));
  // Nobody takes messages for a while: a dozen ticks are due, one is waiting.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::vector<Message> waiting;
  Message m;
  while (platform->window.PeekMessage() && platform->window.GetMessage(m)) waiting.push_back(m);
  EXPECT_EQ(Count(waiting, MSG_TIMER), 1);

  // Taken as they come, they arrive at about the interval (loosely: the machine is shared).
  const auto got = Drain(platform->window, 1000);
  const int ticks = Count(got, MSG_TIMER);
  EXPECT_GE(ticks, 10);
  EXPECT_LE(ticks, 55);

  // Starting again replaces the timer rather than adding a second one.
  ASSERT_TRUE(platform->clock.StartTimer(100));
  Drain(platform->window, 120);
  const int slower = Count(Drain(platform->window, 1000), MSG_TIMER);
  EXPECT_GE(slower, 4);
  EXPECT_LE(slower, 12);

  platform->clock.StopTimer();
  Drain(platform->window, 150);  // a tick already queued may still come
  EXPECT_EQ(Count(Drain(platform->window, 300), MSG_TIMER), 0);
}

TEST_F(SdlTest, MessagesFromOtherThreadsWakeAWaitingLoop) {
  std::thread poster([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    platform->window.PostFromAnyThread(MSG_MUSIC_DONE);
  });
  Message m;
  // Blocks in the real wait until the other thread posts.
  ASSERT_TRUE(platform->window.GetMessage(m));
  poster.join();
  EXPECT_EQ(m.id, MSG_MUSIC_DONE);
  EXPECT_EQ(m.wParam, 0u);
  EXPECT_EQ(m.lParam, 0u);

  EXPECT_FALSE(platform->window.PeekMessage());
  platform->window.PostQuit();
  EXPECT_TRUE(platform->window.PeekMessage());   // the quit is waiting ...
  EXPECT_FALSE(platform->window.GetMessage(m));  // ... and ends the loop, every time after too
  EXPECT_FALSE(platform->window.GetMessage(m));
}

TEST_F(SdlTest, TheCloseButtonIsACloseAndNotTheEndOfTheSession) {
  OpenWindow(0, 0, 200, 100);
  XConnection x;
  ASSERT_NE(x.display, nullptr);
  // What a window manager sends when the close button is pressed.
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = xwindow;
  e.xclient.message_type = XInternAtom(x.display, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = static_cast<long>(XInternAtom(x.display, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  XSendEvent(x.display, xwindow, False, NoEventMask, &e);
  XFlush(x.display);
  std::vector<Message> got;
  ASSERT_TRUE(CollectUntil(platform->window, got, MSG_CLOSE));
  for (const Message& m : Drain(platform->window, 300)) got.push_back(m);
  EXPECT_EQ(Count(got, MSG_CLOSE), 1);
  EXPECT_EQ(Count(got, MSG_ENDSESSION), 0);
  // The window stays until the program decides to end.
  EXPECT_TRUE(platform->window.HasWindow());

  // SIGTERM, as at log-off or shut-down, is the end of the session; the process lives on
  // to end the program in order.
  ASSERT_EQ(kill(getpid(), SIGTERM), 0);
  got.clear();
  ASSERT_TRUE(CollectUntil(platform->window, got, MSG_ENDSESSION));
  EXPECT_EQ(Count(got, MSG_CLOSE), 0);
}

TEST_F(SdlTest, EndOfSessionWakesABlockedWait) {
  std::thread killer([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kill(getpid(), SIGTERM);
  });
  Message m;
  ASSERT_TRUE(platform->window.GetMessage(m));
  killer.join();
  EXPECT_EQ(m.id, MSG_ENDSESSION);
}

// Polls until flag is set; false after ms.
bool WaitForFlag(const std::atomic<bool>& flag, int ms) {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (!flag) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// A child process of this one, waiting up to ms for it; 0 when none came.
pid_t WaitForChild(int ms) {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  const std::string self = std::to_string(getpid());
  for (;;) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it("/proc", ec), last; !ec && it != last;
         it.increment(ec)) {
      const std::filesystem::path& entry = it->path();
      std::ifstream in(entry / "stat");
      std::string stat;
      std::getline(in, stat);
      // "pid (name) state ppid ...": the name may hold spaces, the last ')' ends it.
      const size_t close = stat.rfind(')');
      if (close == std::string::npos) continue;
      std::istringstream fields(stat.substr(close + 1));
      std::string state, parent;
      if (fields >> state >> parent && parent == self)
        return static_cast<pid_t>(std::strtol(entry.filename().c_str(), nullptr, 10));
    }
    if (Clock::now() > end) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// The box is a window titled "!" that holds the caller until its button is pressed.
TEST_F(SdlTest, MessageBoxWaitsUntilClosed) {
  std::atomic<bool> returned{false};
  bool shown = false, heldWhileShown = false, closedByKey = false;
  std::thread closer([&] {
    // SDL shows the box from a child it forks. This thread opens no X connection before
    // that child exists: a child forked while another thread holds Xlib's lock would
    // wait for it forever.
    const pid_t child = WaitForChild(30000);
    if (child == 0) return;
    XConnection x;
    const Window box = x.display ? FindWindowTitled(x.display, "!", 20000) : 0;
    if (box != 0) {
      shown = true;
      // Shown and nobody answers: the call stays where it is, and so does the box.
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      heldWhileShown = !returned && FindWindowTitled(x.display, "!", 0) == box;
      // Return presses its one button.
      Shell("xdotool key --window " + std::to_string(box) + " Return");
      closedByKey = WaitForFlag(returned, 20000);
    }
    // A box that did not show or does not close is taken away, so that the call returns
    // and the test fails rather than hangs.
    if (!closedByKey) kill(child, SIGKILL);
  });
  platform->shell.MessageBox("Failed creating screen BITMAP. Terminating. So sorry!");
  returned = true;
  closer.join();
  EXPECT_TRUE(shown) << "no box titled \"!\" appeared";
  EXPECT_TRUE(heldWhileShown);
  EXPECT_TRUE(closedByKey);
  XConnection x;
  ASSERT_NE(x.display, nullptr);
  EXPECT_EQ(FindWindowTitled(x.display, "!", 0), 0u);
}

TEST_F(SdlTest, CursorShapes) {
  platform->window.SetCursor(CURSOR_WAIT);
  SDL_Cursor* wait = SDL_GetCursor();
  platform->window.SetCursor(CURSOR_UPARROW);
  SDL_Cursor* up = SDL_GetCursor();
  platform->window.SetCursor(CURSOR_ARROW);
  SDL_Cursor* arrow = SDL_GetCursor();
  EXPECT_NE(up, nullptr);
  EXPECT_NE(up, wait);
  EXPECT_NE(up, arrow);
  EXPECT_NE(wait, arrow);
  // Unknown shapes are the arrow; each shape is made once.
  platform->window.SetCursor(77);
  EXPECT_EQ(SDL_GetCursor(), arrow);
  platform->window.SetCursor(CURSOR_UPARROW);
  EXPECT_EQ(SDL_GetCursor(), up);
}

TEST_F(SdlTest, ClipboardRoundTrip) {
  const std::string text = "Grüße, ✓ 😀\r\nzweite Zeile";
  platform->shell.SetClipboardText(text);
  EXPECT_TRUE(platform->shell.HasClipboardText());
  EXPECT_EQ(platform->shell.GetClipboardText(), text);
}

}  // namespace
}  // namespace orvo::platform::test

// The real orvo on a private X server: a recorder game logs every event it gets to
// debug.log, and the test drives it from outside with xdotool and xclip, reads the
// window back through Xlib and compares it with the headless runtime's screenshot.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gfx/picture.h"
#include "tests/host/window/orvo_window.h"
#include "tests/platform/x_client.h"
#include "tests/platform/xvfb.h"

namespace orvo::host {
namespace {

using platform::test::FindWindow;
using platform::test::ReadWindow;
using platform::test::SendClose;
using platform::test::Shell;
using platform::test::ShellOutput;

constexpr int kWidth = 640, kHeight = 480;  // the recorder's window, from its header

// What the headless runtime draws for the same program after the same input.
std::vector<uint32_t> HeadlessScreen(const fs::path& base, const std::string& script) {
  const fs::path game = base / "headless", shot = base / "headless.png";
  fs::create_directories(game);
  fs::copy_file(fs::path(ORVO_TEST_GAMES) / "recorder" / "main.ove", game / "main.ove",
                fs::copy_options::overwrite_existing);
  std::ofstream(base / "script.txt") << script;
  const std::string command = std::string(ORVO_HEADLESS) + " --data " + (base / "hdata").string() +
                              " --events " + (base / "script.txt").string() + " --screenshot " +
                              shot.string() + " " + game.string() + " >/dev/null";
  std::vector<uint32_t> pixels;
  if (std::system(command.c_str()) != 0) return pixels;
  std::FILE* f = std::fopen(shot.c_str(), "rb");
  gfx::Picture p;
  const bool ok = f && gfx::DecodePng(f, p, uint64_t{1} << 30);
  if (f) std::fclose(f);
  if (!ok) return pixels;
  for (size_t i = 0; i + 3 < p.bgra.size(); i += 4)
    pixels.push_back(p.bgra[i] | p.bgra[i + 1] << 8 | p.bgra[i + 2] << 16);
  return pixels;
}

TEST_F(OrvoWindow, ShowsWhatTheProgramDrawsAndReportsRealInput) {
  GameFolder g(base, "games");
  Process orvo;
  const Window w = Open(orvo, g);
  ASSERT_NE(w, 0u);
  const std::string id = std::to_string(w);

  // The pointer enters the window first: without a window manager the keyboard follows it.
  ASSERT_EQ(Shell("xdotool mousemove --window " + id + " 50 60"), 0);
  EXPECT_TRUE(Logged(g, "E15 50 60 0\n")) << Log(g);

  // Keys: virtual-key codes down and up, and the typed character as UTF-8.
  ASSERT_EQ(Shell("xdotool key a"), 0);
  EXPECT_TRUE(Logged(g, "E13 65 ")) << Log(g);
  const std::string keys = Log(g);
  EXPECT_NE(keys.find("E12 65 1 "), std::string::npos) << keys;
  EXPECT_NE(keys.find("E14 97 0 1\n"), std::string::npos) << keys;
  ASSERT_EQ(Shell("xdotool type 'é'"), 0);
  EXPECT_TRUE(Logged(g, "E14 43459 0 1\n")) << Log(g);  // C3 A9 in the low bytes

  // Buttons with their key-state flags and the packed position; wheel steps.
  ASSERT_EQ(Shell("xdotool click 1"), 0);
  EXPECT_TRUE(Logged(g, "E13 1 0 " + std::to_string(50 | 60 << 16) + "\n")) << Log(g);
  EXPECT_NE(Log(g).find("E12 1 1 " + std::to_string(50 | 60 << 16) + "\n"), std::string::npos);
  ASSERT_EQ(Shell("xdotool keydown shift click 3 keyup shift"), 0);
  EXPECT_TRUE(Logged(g, "E12 2 6 " + std::to_string(50 | 60 << 16) + "\n")) << Log(g);
  ASSERT_EQ(Shell("xdotool click 4"), 0);
  EXPECT_TRUE(Logged(g, "E12 32771 1 ")) << Log(g);
  ASSERT_EQ(Shell("xdotool click 5"), 0);
  EXPECT_TRUE(Logged(g, "E12 32771 -1 ")) << Log(g);

  // D draws the blue box; the window then shows the same pixels as the screen surface
  // of the headless runtime after the same key.
  ASSERT_EQ(Shell("xdotool key d"), 0);
  ASSERT_TRUE(Logged(g, "E13 68 "));
  const std::vector<uint32_t> want = HeadlessScreen(base, "12 68 0 0\n");
  ASSERT_EQ(want.size(), size_t{kWidth * kHeight});
  platform::test::XConnection x;
  ASSERT_NE(x.display, nullptr);
  std::vector<uint32_t> got;
  const bool same = WaitFor([&] {
    got = ReadWindow(x.display, w, 0, 0, kWidth, kHeight);
    return got == want;
  });
  ASSERT_EQ(got.size(), want.size());
  EXPECT_TRUE(same);
  EXPECT_EQ(got[20 * kWidth + 20], 0xFF0000u);    // red box
  EXPECT_EQ(got[110 * kWidth + 210], 0x0000FFu);  // blue box
  EXPECT_EQ(got[300 * kWidth + 300], 0x000000u);  // the black fill

  // Q ends the program: the end event is its last line and the exit code is 0.
  ASSERT_EQ(Shell("xdotool key q"), 0);
  ASSERT_TRUE(orvo.Ended(10000));
  EXPECT_EQ(orvo.ExitCode(), 0);
  const std::string log = Log(g);
  EXPECT_EQ(log.substr(log.size() - 9), "E4 0 0 0\n");
  EXPECT_EQ(log.substr(0, 18), "E1 0 0 0\nE2 0 0 0\n");
}

TEST_F(OrvoWindow, ClipboardGoesBothWays) {
  GameFolder g(base, "games");
  Process orvo;
  const Window w = OpenUnderThePointer(orvo, g);
  ASSERT_NE(w, 0u);

  ASSERT_EQ(Shell("xdotool key c"), 0);
  ASSERT_TRUE(Logged(g, "E13 67 "));
  std::string pasted;
  EXPECT_TRUE(WaitFor([&] {
    pasted = ShellOutput("timeout 5 xclip -o -selection clipboard");
    return pasted == "copied from orvo";
  })) << pasted;

  // xclip serves the selection in the background until it is killed or replaced.
  ASSERT_EQ(std::system("printf 'from outside' | timeout 20 xclip -i -selection clipboard "
                        ">/dev/null 2>&1 &"),
            0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_EQ(Shell("xdotool key v"), 0);
  EXPECT_TRUE(Logged(g, "clip: from outside\n")) << Log(g);

  ASSERT_EQ(Shell("xdotool key q"), 0);
  EXPECT_TRUE(orvo.Ended(10000));
}

TEST_F(OrvoWindow, TimerTicksUntilStoppedAndTheCloseButtonEnds) {
  GameFolder g(base, "games");
  Process orvo;
  const Window w = OpenUnderThePointer(orvo, g);
  ASSERT_NE(w, 0u);

  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(Shell("xdotool key t"), 0);
  EXPECT_TRUE(Logged(g, "E11 0 0 0\n"));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ASSERT_EQ(Shell("xdotool key s"), 0);
  ASSERT_TRUE(Logged(g, "E13 83 "));
  const auto running = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - started);
  auto Ticks = [&] {
    const std::string log = Log(g);
    size_t n = 0;
    for (size_t at = log.find("E11 "); at != std::string::npos; at = log.find("E11 ", at + 1)) ++n;
    return n;
  };
  // About ten ticks of 50 ms in half a second; late ticks are merged, never piled up, so
  // a loaded machine sees fewer, never more than the time it ran allows.
  const size_t ticks = Ticks();
  EXPECT_GE(ticks, 3u);
  EXPECT_LE(ticks, static_cast<size_t>(running.count() / 50 + 2));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(Ticks(), ticks);  // stopped

  // The close button: the program hears the close event and ends itself.
  platform::test::XConnection x;
  ASSERT_NE(x.display, nullptr);
  SendClose(x.display, w);
  ASSERT_TRUE(orvo.Ended(10000));
  EXPECT_EQ(orvo.ExitCode(), 0);
  const std::string log = Log(g);
  EXPECT_NE(log.find("E3 0 0 0\n"), std::string::npos);
  EXPECT_EQ(log.substr(log.size() - 9), "E4 0 0 0\n");
}

// Without a sound device the runtime says so in one line, and the game plays on in silence.
TEST_F(OrvoWindow, WithoutASoundDeviceOneLineSaysSoAndTheGamePlaysOn) {
  GameFolder g(base, "games");
  Process orvo;
  // ALSA sent to a device that does not exist: no sound on any machine, and the library's
  // complaints about it, which are not to reach the user.
  const fs::path errors = base / "stderr.txt";
  const Window w = OpenUnderThePointer(
      orvo, g, {{"SDL_AUDIODRIVER", "alsa"}, {"AUDIODEV", "orvo-no-such-device"}}, errors);
  ASSERT_NE(w, 0u);

  // An effect and a song: both silent, and the music-playing flag stays clear.
  ASSERT_EQ(Shell("xdotool key p"), 0);
  EXPECT_TRUE(Logged(g, "E12 80 1 ")) << Log(g);
  EXPECT_TRUE(Logged(g, "music 0\n")) << Log(g);
  ASSERT_EQ(Shell("xdotool key d"), 0);
  EXPECT_TRUE(Logged(g, "E13 68 ")) << Log(g);
  ASSERT_EQ(Shell("xdotool key q"), 0);
  ASSERT_TRUE(orvo.Ended(10000));
  EXPECT_EQ(orvo.ExitCode(), 0);
  const std::string log = Log(g);
  EXPECT_EQ(log.substr(log.size() - 9), "E4 0 0 0\n");

  // One line about the device; the files this game asks for and lacks are named besides.
  const std::string said = ReadFile(errors);
  std::istringstream lines(said);
  int other = 0;
  for (std::string line; std::getline(lines, line);)
    other += line.rfind("orvo: the game asked for ", 0) != 0;
  EXPECT_EQ(other, 1) << said;
  EXPECT_EQ(said.rfind("orvo: sound is off: ", 0), 0u) << said;
}

// The message box holds the runtime, at start-up as in the running game, until it is
// closed: nothing further happens before.
class OrvoMessageBox : public OrvoWindow {
 protected:
  // Finds the box, checks that it holds the game, and closes it with Return. A box that
  // does not close is taken away, so that the test fails instead of hanging.
  void HoldsUntilClosed(Process& orvo, const std::function<bool()>& progressed) {
    platform::test::XConnection x;
    ASSERT_NE(x.display, nullptr);
    const Window box = platform::test::FindWindowTitled(x.display, "!", 20000);
    ASSERT_NE(box, 0u) << "no box titled \"!\" appeared";
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(progressed());
    EXPECT_FALSE(orvo.Ended(0));
    EXPECT_EQ(platform::test::FindWindowTitled(x.display, "!", 0), box);

    ASSERT_EQ(Shell("xdotool key --window " + std::to_string(box) + " Return"), 0);
    const bool closed =
        WaitFor([&] { return platform::test::FindWindowTitled(x.display, "!", 0) == 0; });
    if (!closed) {
      XKillClient(x.display, box);
      XFlush(x.display);
    }
    EXPECT_TRUE(closed);
  }
};

TEST_F(OrvoMessageBox, InTheRunningGame) {
  GameFolder g(base, "games");
  Process orvo;
  ASSERT_NE(OpenUnderThePointer(orvo, g), 0u);
  ASSERT_EQ(Shell("xdotool key b"), 0);
  ASSERT_TRUE(Logged(g, "E12 66 1 ")) << Log(g);
  HoldsUntilClosed(orvo, [&] { return Log(g).find("after the box\n") != std::string::npos; });
  EXPECT_TRUE(Logged(g, "after the box\n")) << Log(g);
  // The game goes on as before.
  ASSERT_EQ(Shell("xdotool key q"), 0);
  ASSERT_TRUE(orvo.Ended(10000));
  EXPECT_EQ(orvo.ExitCode(), 0);
}

TEST_F(OrvoMessageBox, AtStartUp) {
  GameFolder g(base, "games");
  fs::remove(g.folder / "main.ove");  // the program cannot be loaded: the box says so
  Process orvo;
  orvo.Start(g);
  HoldsUntilClosed(orvo, [&] { return orvo.Ended(0); });
  // Then the runtime ends, with a failure's exit code.
  ASSERT_TRUE(orvo.Ended(10000));
  EXPECT_GT(orvo.ExitCode(), 0);
}

// Where a window lies in the stacking order of the root's children (bottom first).
int StackPosition(Display* d, Window w) {
  Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count)) return -1;
  int at = -1;
  for (unsigned i = 0; i < count; ++i)
    if (children[i] == w) at = static_cast<int>(i);
  if (children) XFree(children);
  return at;
}

TEST_F(OrvoWindow, OneInstancePerInstallation) {
  GameFolder first(base, "games");
  Process orvo;
  const Window firstWindow = Open(orvo, first);
  ASSERT_NE(firstWindow, 0u);

  // A copy installed in another folder is an instance of its own; its window opens at the
  // same place, over the first.
  GameFolder other(base, "copies");
  Process third;
  third.Start(other);
  ASSERT_TRUE(Logged(other, "E2 0 0 0\n"));
  Window otherWindow = 0;
  ASSERT_TRUE(WaitFor([&] {
    std::istringstream ids(ShellOutput("xdotool search --onlyvisible --name '^recorder$'"));
    for (unsigned long id = 0; ids >> id;)
      if (id != firstWindow) otherWindow = static_cast<Window>(id);
    return otherWindow != 0;
  }));
  platform::test::XConnection x;
  ASSERT_NE(x.display, nullptr);
  EXPECT_LT(StackPosition(x.display, firstWindow), StackPosition(x.display, otherWindow));

  // A second start from the first folder hands over to the first, which comes to the top,
  // and ends at once.
  Process second;
  second.Start(first);
  ASSERT_TRUE(second.Ended(10000));
  EXPECT_EQ(second.ExitCode(), 0);
  EXPECT_TRUE(WaitFor([&] {
    return StackPosition(x.display, firstWindow) > StackPosition(x.display, otherWindow);
  }));
  EXPECT_FALSE(orvo.Ended(0));
  EXPECT_FALSE(third.Ended(0));
  size_t starts = 0;
  const std::string log = Log(first);
  for (size_t at = log.find("E1 "); at != std::string::npos; at = log.find("E1 ", at + 1)) ++starts;
  EXPECT_EQ(starts, 1u);
}

}  // namespace
}  // namespace orvo::host

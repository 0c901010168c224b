// The player's controls in the real orvo on a private X server, with the recorder game
// logging what reaches it: full screen, pixel scaling, the preferences across runs, and
// orvo --help beside the player's page of the guide.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/host/window/orvo_window.h"

namespace orvo::host {
namespace {

using platform::test::ReadWindow;
using platform::test::Shell;
using platform::test::ShellOutput;

constexpr int kScreenW = 1280, kScreenH = 1024;  // the private server's screen

std::string Line(int code, int a1, int a2, int a3) {
  return "E" + std::to_string(code) + " " + std::to_string(a1) + " " + std::to_string(a2) + " " +
         std::to_string(a3) + "\n";
}
size_t Count(const std::string& text, const std::string& line) {
  size_t n = 0;
  for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
  return n;
}

struct Geometry {
  int x = -1, y = -1, width = 0, height = 0;
};
Geometry GeometryOf(Window w) {
  platform::test::XConnection x;
  Geometry g;
  XWindowAttributes a{};
  if (!x.display || !XGetWindowAttributes(x.display, w, &a)) return g;
  Window child = 0;
  XTranslateCoordinates(x.display, w, DefaultRootWindow(x.display), 0, 0, &g.x, &g.y, &child);
  g.width = a.width;
  g.height = a.height;
  return g;
}
bool Sized(Window w, int x, int y, int width, int height) {
  return WaitFor([&] {
    const Geometry g = GeometryOf(w);
    return g.x == x && g.y == y && g.width == width && g.height == height;
  });
}
std::string Title(Window w) {
  std::string t = ShellOutput("xdotool getwindowname " + std::to_string(w));
  if (!t.empty() && t.back() == '\n') t.pop_back();
  return t;
}

TEST_F(OrvoWindow, FullScreenKeysResizeTheGamesWindowAndLeavingPutsItBack) {
  GameFolder g(base, "games");
  Process orvo;
  const Window w = OpenUnderThePointer(orvo, g);
  ASSERT_NE(w, 0u);
  const Geometry before = GeometryOf(w);
  EXPECT_EQ(before.width, 640);

  for (const char* key : {"F11", "alt+Return"}) {
    const size_t fulls = Count(Log(g), Line(9, kScreenW, kScreenH, 3));
    ASSERT_EQ(Shell(std::string("xdotool key ") + key), 0);
    EXPECT_TRUE(WaitFor([&] { return Count(Log(g), Line(9, kScreenW, kScreenH, 3)) > fulls; }))
        << key << "\n"
        << Log(g);
    EXPECT_TRUE(Sized(w, 0, 0, kScreenW, kScreenH)) << key;
    const size_t windowed = Count(Log(g), Line(9, 640, 480, 3));
    ASSERT_EQ(Shell(std::string("xdotool key ") + key), 0);
    EXPECT_TRUE(WaitFor([&] { return Count(Log(g), Line(9, 640, 480, 3)) > windowed; })) << key;
    EXPECT_TRUE(Sized(w, before.x, before.y, 640, 480)) << key;
  }
  // The runtime's keys never reached the game; the Alt key itself did, as always.
  const std::string log = Log(g);
  EXPECT_EQ(log.find("E12 122 "), std::string::npos) << log;
  EXPECT_EQ(log.find("E13 122 "), std::string::npos) << log;
  EXPECT_EQ(log.find("E12 13 "), std::string::npos) << log;
  EXPECT_NE(log.find("E12 18 "), std::string::npos) << log;
  ASSERT_EQ(Shell("xdotool key q"), 0);
  ASSERT_TRUE(orvo.Ended(10000));

  // --fullscreen starts in it.
  fs::remove(g.data / "debug.log");
  Process again;
  ASSERT_NE(Open(again, g, {}, {}, {"--fullscreen"}), 0u);
  EXPECT_TRUE(Logged(g, Line(9, kScreenW, kScreenH, 3))) << Log(g);
}

TEST_F(OrvoWindow, ScaledGamePixelsAreBlocksAndClicksLandOnTheGamePixel) {
  GameFolder g(base, "games");
  Process orvo;
  const Window w = Open(orvo, g, {}, {}, {"--scale", "2"});
  ASSERT_NE(w, 0u);
  // The window is twice the game's; the game sees its own size.
  EXPECT_TRUE(Sized(w, GeometryOf(w).x, GeometryOf(w).y, 1280, 960));
  EXPECT_TRUE(Logged(g, Line(9, 640, 480, 3))) << Log(g);
  // The red box the game fills at 10,10 (100 x 50) covers 20,20 .. 219,119. (Only the
  // part of the window on the screen can be read back.)
  platform::test::XConnection x;
  ASSERT_NE(x.display, nullptr);
  constexpr int kRead = 300;
  std::vector<uint32_t> shot;
  ASSERT_TRUE(WaitFor([&] {
    shot = ReadWindow(x.display, w, 0, 0, kRead, kRead);
    return shot.size() == size_t{kRead * kRead} && shot[20 * kRead + 20] == 0xFF0000u;
  }));
  for (int y = 0; y < kRead; ++y)
    for (int px = 0; px < kRead; ++px) {
      const int gx = px / 2, gy = y / 2;
      const bool red = gx >= 10 && gx < 110 && gy >= 10 && gy < 60;
      ASSERT_EQ(shot[y * kRead + px], red ? 0xFF0000u : 0u) << px << "," << y;
    }

  // A click at window 61,81 is one on game pixel 30,40.
  const std::string id = std::to_string(w);
  ASSERT_EQ(Shell("xdotool mousemove --window " + id + " 61 81 click 1"), 0);
  EXPECT_TRUE(Logged(g, Line(13, 1, 0, 30 | 40 << 16))) << Log(g);

  // Shift+F11 goes on to 3x: the window keeps its size, the game gets 426 x 320 and one
  // column of bar on each side; the title says so for a moment.
  ASSERT_EQ(Shell("xdotool key shift+F11"), 0);
  EXPECT_TRUE(Logged(g, Line(9, 426, 320, 3))) << Log(g);
  EXPECT_TRUE(WaitFor([&] { return Title(w) == "recorder - scale 3x"; })) << Title(w);
  EXPECT_TRUE(WaitFor([&] { return Title(w) == "recorder"; })) << Title(w);
  // A press on the bar is dropped (its release still comes, held to the edge); one just
  // inside lands on the game pixel under it.
  const size_t presses = Count(Log(g), "E12 1 1 ");
  ASSERT_EQ(Shell("xdotool mousemove --window " + id + " 0 50 click 1"), 0);
  EXPECT_TRUE(Logged(g, Line(13, 1, 0, 0 | 16 << 16))) << Log(g);
  ASSERT_EQ(Shell("xdotool mousemove --window " + id + " 4 50 click 1"), 0);
  EXPECT_TRUE(Logged(g, Line(12, 1, 1, 1 | 16 << 16))) << Log(g);
  EXPECT_EQ(Count(Log(g), "E12 1 1 "), presses + 1) << Log(g);
}

TEST_F(OrvoWindow, PreferencesAreKeptForTheGameAndSurviveARestart) {
  GameFolder g(base, "games");
  {
    Process orvo;
    const Window w = OpenUnderThePointer(orvo, g);
    ASSERT_NE(w, 0u);
    ASSERT_EQ(Shell("xdotool key alt+Next"), 0);
    EXPECT_TRUE(WaitFor([&] { return Title(w) == "recorder - volume 90%"; })) << Title(w);
    ASSERT_EQ(Shell("xdotool key alt+Next alt+End"), 0);
    EXPECT_TRUE(WaitFor([&] { return Title(w) == "recorder - sound off"; })) << Title(w);
    ASSERT_EQ(Shell("xdotool key shift+F11"), 0);
    EXPECT_TRUE(Logged(g, Line(9, 320, 240, 3))) << Log(g);
    ASSERT_EQ(Shell("xdotool key F11"), 0);
    EXPECT_TRUE(Logged(g, Line(9, kScreenW / 2, kScreenH / 2, 3))) << Log(g);
    ASSERT_EQ(Shell("xdotool key q"), 0);
    ASSERT_TRUE(orvo.Ended(10000));
  }
  const fs::path file = g.home / ".config" / "orvo" / "preferences.json";
  const auto prefs = nlohmann::json::parse(ReadFile(file), nullptr, false);
  ASSERT_FALSE(prefs.is_discarded()) << ReadFile(file);
  const auto& mine = prefs["games"]["games/recorder"];
  EXPECT_EQ(mine["volume"], 80) << prefs;
  EXPECT_EQ(mine["sound"], false) << prefs;
  EXPECT_EQ(mine["scale"], 2) << prefs;
  EXPECT_EQ(mine["fullscreen"], true) << prefs;
  EXPECT_EQ(mine["pad"]["a"], "Enter") << prefs;
  // Nothing was written beside the game.
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(g.folder)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"main.ove", "orvo"}));

  // The next start is in full screen at 2x again.
  fs::remove(g.data / "debug.log");
  Process again;
  const Window w = Open(again, g);
  ASSERT_NE(w, 0u);
  EXPECT_TRUE(Logged(g, Line(9, kScreenW / 2, kScreenH / 2, 3))) << Log(g);
  EXPECT_TRUE(Sized(w, 0, 0, kScreenW, kScreenH));
}

TEST_F(OrvoWindow, BrokenPreferencesAndAScaleTooLargeGiveOneLineEachAndAGame) {
  GameFolder g(base, "games");
  const fs::path file = g.home / ".config" / "orvo" / "preferences.json";
  fs::create_directories(file.parent_path());
  std::ofstream(file) << "{\"games\": {\"games/recorder\": {\"volume\": \x01\xff garbage";
  const fs::path errors = base / "errors.txt";
  Process orvo;
  const Window w = Open(orvo, g, {}, errors, {"--scale", "3"});
  ASSERT_NE(w, 0u);
  // 3 x 640 x 480 does not fit 1280 x 1024: 2 does.
  EXPECT_TRUE(Sized(w, GeometryOf(w).x, GeometryOf(w).y, 1280, 960));
  EXPECT_TRUE(Logged(g, Line(9, 640, 480, 3))) << Log(g);
  const std::string said = ReadFile(errors);
  EXPECT_EQ(Count(said, "preferences.json"), 1u) << said;
  EXPECT_EQ(Count(said, "does not fit"), 1u) << said;
  ASSERT_EQ(Shell("xdotool mousemove --window " + std::to_string(w) + " 30 30 key q"), 0);
  ASSERT_TRUE(orvo.Ended(10000));
  EXPECT_EQ(orvo.ExitCode(), 0);
}

// The pad's keys are the player's: a mapping in the preferences is what a controller,
// plugged in while the game runs (SDL's virtual joystick, worked by the runtime's test
// script), sends.
TEST_F(OrvoWindow, APadSendsTheKeysThePreferencesMapItsButtonsTo) {
  GameFolder g(base, "games");
  const fs::path file = g.home / ".config" / "orvo" / "preferences.json";
  fs::create_directories(file.parent_path());
  std::ofstream(file) << R"({"games": {"games/recorder": {"pad": {"a": "Z", "b": "none"}}}})";
  const fs::path script = base / "pad.txt";
  std::ofstream(script) << "wait 300\nattach\nwait 300\npress 0 a\nwait 100\nrelease 0 a\n"
                           "press 0 b\nwait 100\nrelease 0 b\npress 0 x\nwait 100\nrelease 0 x\n";
  Process orvo;
  ASSERT_NE(Open(orvo, g, {{"ORVO_VIRTUAL_PAD", script.string()}}), 0u);
  EXPECT_TRUE(Logged(g, "E13 32 1 0\n")) << Log(g);  // X kept its default, Space
  const std::string log = Log(g);
  EXPECT_NE(log.find("E12 90 1 0\nE14 122 0 1\n"), std::string::npos) << log;  // Z, "z"
  EXPECT_NE(log.find("E13 90 1 0\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("E12 27 "), std::string::npos) << "B sends nothing\n" << log;
}

TEST(OrvoHelp, ListsTheOptionsAndKeysThePlayersPageDescribes) {
  int rc = -1;
  const std::string help = ShellOutput(std::string(ORVO_BIN) + " --help", &rc);
  EXPECT_EQ(rc, 0);
  const std::string page = ReadFile(fs::path(ORVO_DOCS_DIR) / "player.md");
  for (const char* word : {"--fullscreen", "--scale", "--help", "Alt+Enter", "F11", "Shift+F11",
                           "Alt+PageUp", "Alt+PageDown", "Alt+End", "preferences.json"}) {
    EXPECT_NE(help.find(word), std::string::npos) << word << "\n" << help;
    EXPECT_NE(page.find(word), std::string::npos) << word;
  }
}

}  // namespace
}  // namespace orvo::host

// The example game played through orvo-headless with scripted events: the field, the
// rules, the clock, the options and the settings file, checked through memory dumps (read
// with the game's own symbol map), screenshots and the files the game leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <set>

#include "tests/examples/mines_support.h"

namespace orvo::examples {
namespace {

constexpr uint8_t CELL_MINE = 16, CELL_OPEN = 32, CELL_FLAG = 64, CELL_BOOM = 128;
constexpr uint32_t HIDDEN = 0xC6C6C6, OPENED = 0xBDBDBD, BAR = 0xC6C6C6, STATUS = 0x303030;
constexpr uint32_t COVER = 0x5A5A5A;

struct Layout {
  int tile = 0, x = 0, y = 0, cols = 0, rows = 0;
  int CentreX(int c) const { return x + c * tile + tile / 2; }
  int CentreY(int r) const { return y + r * tile + tile / 2; }
  uint32_t Packed(int r, int c) const {
    return static_cast<uint32_t>(CentreX(c)) | static_cast<uint32_t>(CentreY(r)) << 16;
  }
};

std::string Press(int button, uint32_t packed) {
  return "12 " + std::to_string(button) + " " + std::to_string(button) + " " +
         std::to_string(packed) + "\n13 " + std::to_string(button) + " 0 " +
         std::to_string(packed) + "\n";
}
std::string Key(int vk) {
  return "12 " + std::to_string(vk) + " 1 0\n13 " + std::to_string(vk) + " 1 0\n";
}

class Mines : public ::testing::Test {
 protected:
  static fs::path Game() { return fs::path(ORVO_EXAMPLE_GAMES) / "mines"; }

  TempFolder tmp;
  fs::path data;
  std::map<std::string, uint32_t> symbols;

  void SetUp() override {
    ASSERT_FALSE(tmp.path.empty());
    data = tmp.path / "data";
    fs::create_directories(data);
    symbols = ReadMap(Game() / "main.map");
    ASSERT_TRUE(symbols.count("_Board")) << "main.map lists the game's variables";
  }

  // A settings file as a player's earlier run would have left it; the checksums are
  // not the point here, and a section with a wrong one still loads.
  void WriteSettings(const std::string& sections) {
    std::ofstream(data / "mines.ini", std::ios::binary) << sections;
  }
  void StartWith(int next, int level = 0, int music = 1) {
    WriteSettings("[0x00000000=Options]\r\nlevel= " + std::to_string(level) +
                  "\r\nmusic= " + std::to_string(music) + "\r\nnext= " + std::to_string(next) +
                  "\r\n");
  }
  std::string Settings() { return ReadFile(data / "mines.ini"); }

  Outcome Play(const std::string& script) {
    Outcome r = RunHeadless(Game(), data, script, symbols, tmp.path);
    EXPECT_EQ(r.out.find("!:"), std::string::npos) << "runtime messages:\n" << r.out;
    EXPECT_EQ(r.exitCode, 0) << r.out;
    return r;
  }
  // Plays a script without keeping what it saved: the next run starts as this one did.
  Outcome PlayAgainFromHere(const std::string& script) {
    const std::string before = fs::exists(data / "mines.ini") ? Settings() : "";
    Outcome r = Play(script);
    if (before.empty())
      fs::remove(data / "mines.ini");
    else
      std::ofstream(data / "mines.ini", std::ios::binary) << before;
    return r;
  }
  Picture Shot(const std::string& name) { return ReadPng(tmp.path / name); }

  static Layout LayoutOf(const Outcome& r) {
    return {r.Int("_Tile"), r.Int("_BoardX"), r.Int("_BoardY"), r.Int("_Cols"), r.Int("_Rows")};
  }
  static std::vector<uint8_t> Board(const Outcome& r) {
    std::vector<uint8_t> cells;
    for (int i = 0; i < r.Int("_Cells"); ++i) cells.push_back(r.Byte("_Board", static_cast<uint32_t>(i)));
    return cells;
  }
  static std::vector<int> Around(const Layout& l, int cell) {
    std::vector<int> out;
    const int r = cell / l.cols, c = cell % l.cols;
    for (int dr = -1; dr <= 1; ++dr)
      for (int dc = -1; dc <= 1; ++dc) {
        const int rr = r + dr, cc = c + dc;
        if ((dr || dc) && rr >= 0 && rr < l.rows && cc >= 0 && cc < l.cols)
          out.push_back(rr * l.cols + cc);
      }
    return out;
  }
  // The field that the first opening of the centre cell deals for this game number.
  std::pair<Layout, std::vector<uint8_t>> FirstOpening(int next) {
    StartWith(next);
    const Outcome start = PlayAgainFromHere("wait 50\n");
    const Layout l = LayoutOf(start);
    const Outcome r = PlayAgainFromHere(Press(1, l.Packed(4, 4)) + "wait 50\n");
    return {l, Board(r)};
  }
};

TEST_F(Mines, StartDrawsTheWholeWindow) {
  StartWith(4242);
  const Outcome r = Play("wait 200\nshot start.png\n");
  EXPECT_EQ(r.Int("_State"), 0);
  EXPECT_EQ(r.Int("_GameNo"), 4242);
  EXPECT_EQ(r.Int("_Cols"), 9);
  EXPECT_EQ(r.Int("_Rows"), 9);
  EXPECT_EQ(r.Int("_Mines"), 10);
  EXPECT_NE(r.Int("_TilesPic"), 0);
  EXPECT_NE(r.Int("_FacesPic"), 0);
  EXPECT_EQ(r.Text("_Title"), "Mines - game 4242");

  const Picture p = Shot("start.png");
  ASSERT_TRUE(p.Valid());
  ASSERT_EQ(p.width, 640u);
  const Layout l = LayoutOf(r);
  for (int cell : {0, 40, 80}) {  // every cell is a raised tile: grey face, white edge
    const int x = l.x + (cell % 9) * l.tile, y = l.y + (cell / 9) * l.tile;
    EXPECT_TRUE(Near(p.Rgb(x + l.tile / 2, y + l.tile / 2), HIDDEN)) << cell;
    EXPECT_TRUE(Near(p.Rgb(x + 1, y + l.tile / 2), 0xFFFFFF)) << cell;
    EXPECT_TRUE(Near(p.Rgb(x + l.tile - 2, y + l.tile / 2), 0x7B7B7B)) << cell;
  }
  EXPECT_TRUE(Near(p.Rgb(12, 30), BAR));
  EXPECT_TRUE(Near(p.Rgb(2, 477), STATUS));
  const uint32_t felt = p.Rgb(3, 240);  // the tiled felt: green over red and blue
  EXPECT_GT((felt >> 8 & 0xFF), (felt >> 16) + 30);
  EXPECT_GT((felt >> 8 & 0xFF), (felt & 0xFF));
  EXPECT_TRUE(Near(p.Rgb(620, 465), 0x40D040, 20)) << "music light on";
  // The face: yellow in the middle, and its magenta surround keyed out to the button.
  const int face = r.Int("_FaceX");
  EXPECT_TRUE(Near(p.Rgb(face + 22, 32), 0xFFDC28, 10));
  EXPECT_TRUE(Near(p.Rgb(face + 3, 13), BAR));
  int red = 0;  // "010" in red on the black mine counter
  for (int y = 14; y < 52; ++y)
    for (int x = 16; x < 88; ++x)
      if (((p.Rgb(x, y) >> 16) & 0xFF) > 150 && ((p.Rgb(x, y) >> 8) & 0xFF) < 100) ++red;
  EXPECT_GT(red, 30);
}

TEST_F(Mines, FirstOpeningIsSafeAndSpreads) {
  const auto [l, board] = FirstOpening(4242);
  ASSERT_EQ(board.size(), 81u);
  const int centre = 4 * 9 + 4;
  EXPECT_TRUE(board[centre] & CELL_OPEN);
  EXPECT_FALSE(board[centre] & CELL_MINE);
  for (int n : Around(l, centre)) EXPECT_FALSE(board[n] & CELL_MINE) << n;
  int mines = 0, open = 0;
  for (int i = 0; i < 81; ++i) {
    mines += (board[i] & CELL_MINE) != 0;
    open += (board[i] & CELL_OPEN) != 0;
    if (board[i] & CELL_MINE) continue;
    int around = 0;
    for (int n : Around(l, i)) around += (board[n] & CELL_MINE) != 0;
    EXPECT_EQ(board[i] & 15, around) << "cell " << i;
    // An open cell without mines around opens all its neighbours.
    if ((board[i] & CELL_OPEN) && around == 0) {
      for (int n : Around(l, i)) EXPECT_TRUE(board[n] & CELL_OPEN) << i << " -> " << n;
    }
  }
  EXPECT_EQ(mines, 10);
  EXPECT_GE(open, 9);  // the centre has no mine around it, so at least its ring opens

  // The same game number and the same first cell deal the same field; another does not.
  EXPECT_EQ(FirstOpening(4242).second, board);
  EXPECT_NE(FirstOpening(77).second, board);
}

TEST_F(Mines, OpenedCellsShowTheirNumbers) {
  const auto [l, board] = FirstOpening(4242);
  StartWith(4242);
  const Outcome r = Play(Press(1, l.Packed(4, 4)) + "wait 50\nshot opened.png\n");
  EXPECT_EQ(r.Int("_State"), 1);
  const Picture p = Shot("opened.png");
  ASSERT_TRUE(p.Valid());
  int opened = 0;
  for (int i = 0; i < 81; ++i) {
    const int cx = l.CentreX(i % 9), cy = l.CentreY(i / 9);
    if (!(board[i] & CELL_OPEN)) {
      EXPECT_TRUE(Near(p.Rgb(cx, cy), HIDDEN)) << i;
      continue;
    }
    ++opened;
    int ink = 0;  // pixels of the number's colour in the cell
    for (int y = cy - l.tile / 3; y < cy + l.tile / 3; ++y)
      for (int x = cx - l.tile / 3; x < cx + l.tile / 3; ++x) ink += !Near(p.Rgb(x, y), OPENED, 30);
    if ((board[i] & 15) == 0)
      EXPECT_EQ(ink, 0) << "empty cell " << i;
    else
      EXPECT_GT(ink, 10) << "number in cell " << i;
  }
  EXPECT_EQ(opened, r.Int("_Opened"));
}

TEST_F(Mines, ClearingTheFieldWinsAndKeepsTheBestTime) {
  const auto [l, board] = FirstOpening(4242);
  StartWith(4242);
  std::string script = Press(1, l.Packed(4, 4)) + "wait 1100\n";
  for (int i = 0; i < 81; ++i)
    if (!(board[i] & (CELL_MINE | CELL_OPEN))) script += Press(1, l.Packed(i / 9, i % 9));
  script += "wait 100\nshot won.png\n3 0 0 0\n";
  const Outcome r = Play(script);
  EXPECT_EQ(r.Int("_State"), 2);
  EXPECT_EQ(r.Int("_Flags"), 10);  // every mine gets its flag
  const int seconds = r.Int("_Seconds");
  EXPECT_GE(seconds, 2);  // over 1.1 s, rounded up
  EXPECT_LE(seconds, 30);
  EXPECT_EQ(r.Int("_Best"), seconds);
  EXPECT_EQ(r.Text("_Title"), "Mines - cleared in " + std::to_string(seconds) + " s");
  for (int i = 0; i < 81; ++i) {
    if (r.Byte("_Board", static_cast<uint32_t>(i)) & CELL_MINE) {
      EXPECT_TRUE(r.Byte("_Board", static_cast<uint32_t>(i)) & CELL_FLAG) << i;
    }
  }

  const Picture p = Shot("won.png");
  ASSERT_TRUE(p.Valid());
  const int face = r.Int("_FaceX");
  EXPECT_TRUE(Near(p.Rgb(face + 16, 27), 0x000000, 20)) << "dark glasses";

  const std::string file = Settings();
  EXPECT_EQ(Section(file, "Best")["small"], std::to_string(seconds));
  EXPECT_EQ(Section(file, "Options")["next"], std::to_string(r.Int("_NextGame")));
  EXPECT_NE(r.Int("_NextGame"), 4242);

  // A slower game on the same field keeps the best time.
  std::string slow = Press(1, l.Packed(4, 4)) + "wait " + std::to_string(seconds * 1000 + 1500) + "\n";
  for (int i = 0; i < 81; ++i)
    if (!(board[i] & (CELL_MINE | CELL_OPEN))) slow += Press(1, l.Packed(i / 9, i % 9));
  std::string kept = Settings();
  const size_t next = kept.find("next=");
  ASSERT_NE(next, std::string::npos);
  kept.replace(next, kept.find('\r', next) - next, "next= 4242");
  std::ofstream(data / "mines.ini", std::ios::binary) << kept;
  const Outcome again = Play(slow + "wait 100\n3 0 0 0\n");
  EXPECT_EQ(again.Int("_GameNo"), 4242) << kept;
  EXPECT_EQ(again.Int("_State"), 2);
  EXPECT_GT(again.Int("_Seconds"), seconds);
  EXPECT_EQ(again.Int("_Best"), seconds);
  EXPECT_EQ(Section(Settings(), "Best")["small"], std::to_string(seconds));
}

TEST_F(Mines, OpeningAMineLosesAndShowsTheMines) {
  const auto [l, board] = FirstOpening(4242);
  int mine = -1, safe = -1;
  for (int i = 0; i < 81; ++i) {
    if ((board[i] & CELL_MINE) && mine < 0) mine = i;
    if (!(board[i] & (CELL_MINE | CELL_OPEN))) safe = i;
  }
  ASSERT_GE(mine, 0);
  ASSERT_GE(safe, 0);
  StartWith(4242);
  const Outcome r = Play(Press(1, l.Packed(4, 4)) + Press(1, l.Packed(mine / 9, mine % 9)) +
                     Press(1, l.Packed(safe / 9, safe % 9)) + "wait 50\nshot lost.png\n");
  EXPECT_EQ(r.Int("_State"), 3);
  EXPECT_TRUE(r.Byte("_Board", static_cast<uint32_t>(mine)) & CELL_BOOM);
  EXPECT_FALSE(r.Byte("_Board", static_cast<uint32_t>(safe)) & CELL_OPEN) << "no play after a loss";
  EXPECT_EQ(r.Text("_Title"), "Mines - game 4242 lost");
  const Picture p = Shot("lost.png");
  ASSERT_TRUE(p.Valid());
  const int mx = l.x + (mine % 9) * l.tile, my = l.y + (mine / 9) * l.tile;
  EXPECT_TRUE(Near(p.Rgb(mx + 3, my + 3), 0xFF281E, 20)) << "the mine that went off";
  const int band = l.y + l.rows * l.tile / 2;  // the banner across the middle
  for (int i = 0; i < 81; ++i)
    if ((board[i] & CELL_MINE) && i != mine) {
      const int x = l.x + (i % 9) * l.tile, y = l.y + (i / 9) * l.tile;
      if (y + l.tile > band - 36 && y < band + 36) continue;
      EXPECT_TRUE(Near(p.Rgb(x + l.tile / 2 + 1, y + l.tile / 2 + 1), 0x000000, 20)) << i;
      EXPECT_TRUE(Near(p.Rgb(x + 3, y + 3), OPENED)) << i;
    }
}

TEST_F(Mines, FlagsProtectCellsAndCountDown) {
  StartWith(4242);
  const Layout l = LayoutOf(PlayAgainFromHere("wait 50\n"));
  const uint32_t corner = l.Packed(0, 0);
  const Outcome one = PlayAgainFromHere(Press(2, corner) + Press(1, corner) + "wait 50\nshot one.png\n");
  EXPECT_EQ(one.Int("_Flags"), 1);
  EXPECT_EQ(one.Byte("_Board", 0), CELL_FLAG) << "the flagged cell stays shut";
  EXPECT_EQ(one.Int("_State"), 0);
  const Outcome none = PlayAgainFromHere(Press(2, corner) + Press(2, corner) + "wait 50\nshot none.png\n");
  EXPECT_EQ(none.Int("_Flags"), 0);
  EXPECT_EQ(none.Byte("_Board", 0), 0);
  const Picture a = Shot("one.png"), b = Shot("none.png");
  ASSERT_TRUE(a.Valid() && b.Valid());
  int changed = 0;  // the mine counter: 009 against 010
  for (int y = 14; y < 52; ++y)
    for (int x = 16; x < 88; ++x) changed += a.Rgb(x, y) != b.Rgb(x, y);
  EXPECT_GT(changed, 20);
  EXPECT_FALSE(Near(a.Rgb(l.CentreX(0) + 1, l.CentreY(0) - 4), HIDDEN)) << "the flag is drawn";
  EXPECT_TRUE(Near(b.Rgb(l.CentreX(0) + 1, l.CentreY(0) - 4), HIDDEN));
}

TEST_F(Mines, KeysChangeOptionsCopyTimesAndQuit) {
  WriteSettings("[0x00000000=Best]\r\nsmall= 17\r\n");
  const Outcome r = Play(Key(0x4D) + Key(0x32) + Key(0x43) + "wait 50\nshot keys.png\n" + Key(0x51) +
                     "wait 2000\n");
  EXPECT_EQ(r.Int("_Music"), 0);
  EXPECT_EQ(r.Int("_Level"), 1);
  EXPECT_EQ(r.Int("_Cols"), 16);
  EXPECT_EQ(r.Int("_Mines"), 40);
  EXPECT_EQ(r.Text("_Clip"),
            "Mines best times\r\nSmall field (9 x 9): 17 s\r\nMedium field (16 x 16): no time "
            "yet\r\nLarge field (30 x 16): no time yet\r\n");
  const Picture p = Shot("keys.png");
  ASSERT_TRUE(p.Valid());
  EXPECT_TRUE(Near(p.Rgb(620, 465), 0x606060, 20)) << "music light off";
  const std::string file = Settings();
  EXPECT_EQ(Section(file, "Options")["music"], "0");
  EXPECT_EQ(Section(file, "Options")["level"], "1");
  EXPECT_EQ(Section(file, "Best")["small"], "17");
}

TEST_F(Mines, FocusAndMinimizeStopTheClock) {
  StartWith(4242);
  const Layout l = LayoutOf(PlayAgainFromHere("wait 50\n"));
  const Outcome r = Play(Press(1, l.Packed(4, 4)) + "wait 600\n5 0 0 0\nwait 1500\nshot paused.png\n");
  EXPECT_EQ(r.Int("_Paused"), 1);
  EXPECT_GE(r.Int("_ClockAcc"), 500);
  EXPECT_LT(r.Int("_ClockAcc"), 1400) << "the 1.5 s without focus do not count";
  const Picture p = Shot("paused.png");
  ASSERT_TRUE(p.Valid());
  EXPECT_TRUE(Near(p.Rgb(l.x + 2, l.y + 2), COVER)) << "the field is covered";

  StartWith(4242);
  const Outcome m = Play(Press(1, l.Packed(4, 4)) + "7 1 0 0\nwait 1200\n7 0 0 0\nwait 300\n");
  EXPECT_EQ(m.Int("_Paused"), 0);
  EXPECT_LT(m.Int("_ClockAcc") + 0, 1000);
  EXPECT_EQ(m.Int("_State"), 1);
}

TEST_F(Mines, ResizingLaysTheFieldOutAgain) {
  StartWith(4242, 2);
  const Outcome small = Play("9 400 300 3\nwait 50\n");
  const Outcome large = Play("9 1200 900 3\nwait 50\n");
  for (const Outcome* r : {&small, &large}) {
    const Layout l = LayoutOf(*r);
    const int w = r->Int("_ClientW"), h = r->Int("_ClientH");
    EXPECT_EQ(l.cols, 30);
    EXPECT_GE(l.x, 0);
    EXPECT_LE(std::abs((w - (l.x + l.cols * l.tile)) - l.x), 1) << "centred";
    EXPECT_GE(l.y, 64) << "below the top bar";
    EXPECT_LE(l.y + l.rows * l.tile, h - 28) << "above the status line";
  }
  EXPECT_EQ(small.Int("_ClientW"), 400);
  EXPECT_GT(LayoutOf(large).tile, LayoutOf(small).tile);
}

TEST_F(Mines, WindowPlacementIsKeptAcrossRuns) {
  StartWith(4242);
  Play("3 0 0 0\n");
  auto window = Section(Settings(), "Window");
  EXPECT_EQ(window["x"], "100");  // where the image header put the window
  EXPECT_EQ(window["width"], "640");
  EXPECT_EQ(window["height"], "480");
  EXPECT_EQ(window["show"], "1");

  WriteSettings("[0x00000000=Window]\r\nx= 40\r\ny= 50\r\nwidth= 720\r\nheight= 540\r\nshow= 3\r\n");
  const Outcome r = Play("3 0 0 0\n");
  EXPECT_EQ(r.Int("_HavePlace"), 1);
  window = Section(Settings(), "Window");
  EXPECT_EQ(window["x"], "40");
  EXPECT_EQ(window["y"], "50");
  EXPECT_EQ(window["width"], "720");
  EXPECT_EQ(window["height"], "540");
  EXPECT_EQ(window["show"], "3");

  // A placement too small to be a window is not restored.
  WriteSettings("[0x00000000=Window]\r\nx= 1\r\ny= 1\r\nwidth= 3\r\nheight= 2\r\nshow= 1\r\n");
  const Outcome tiny = Play("3 0 0 0\n");
  EXPECT_EQ(tiny.Int("_HavePlace"), 0);
  EXPECT_EQ(Section(Settings(), "Window")["width"], "640");
}

// On the script's time a long session of random moves (a hundred seconds of play, the
// clock read and the timer ticking throughout) leaves the same memory and the same saved
// settings every run; on the wall clock it would not.
TEST_F(Mines, OnTheScriptsTimeALongSessionIsTheSameEveryRun) {
  const std::string script = RandomSession(24, 150, 200, 1000);
  std::vector<uint8_t> memory[2];
  std::string settings[2];
  for (int run = 0; run < 2; ++run) {
    StartWith(12345, 0, 0);
    const Outcome r = RunHeadless(Game(), data, script, symbols, tmp.path, "--script-clock");
    ASSERT_EQ(r.exitCode, 0) << r.out;
    memory[run] = r.memory;
    settings[run] = Settings();
  }
  ASSERT_FALSE(memory[0].empty());
  EXPECT_TRUE(memory[0] == memory[1]);
  EXPECT_EQ(settings[0], settings[1]);
}

// The demonstration script of the examples folder; its screenshots are kept beside this
// test for people to look at, and a run must still look like them.
TEST_F(Mines, DemoScriptLooksLikeItsKeptScreenshots) {
  StartWith(4242);
  Play(ReadFile(fs::path(ORVO_EXAMPLES_DIR) / "mines" / "demo.txt"));
  const fs::path kept = ORVO_EXAMPLE_SHOTS;
  const bool update = std::getenv("ORVO_UPDATE_SHOTS") != nullptr;
  for (const char* name : {"mines-1-start.png", "mines-2-opened.png", "mines-3-flag.png",
                           "mines-4-paused.png", "mines-5-medium.png"}) {
    const Picture now = Shot(name);
    ASSERT_TRUE(now.Valid()) << name;
    if (update) fs::copy_file(tmp.path / name, kept / name, fs::copy_options::overwrite_existing);
    const Picture then = ReadPng(kept / name);
    ASSERT_TRUE(then.Valid()) << name << " is kept in " << kept;
    ASSERT_EQ(now.width, then.width);
    ASSERT_EQ(now.height, then.height);
    size_t differ = 0;
    for (uint32_t y = 0; y < now.height; ++y)
      for (uint32_t x = 0; x < now.width; ++x)
        differ += !Near(now.Rgb(static_cast<int>(x), static_cast<int>(y)),
                        then.Rgb(static_cast<int>(x), static_cast<int>(y)), 24);
    // Text may render a little differently with other fonts; the picture may not.
    EXPECT_LT(differ, now.width * now.height / 50) << name;
  }
}

TEST(Hello, WritesItsLineAndEndsWhenClosed) {
  TempFolder tmp;
  const fs::path data = tmp.path / "data";
  fs::create_directories(data);
  const std::map<std::string, uint32_t> none;
  const Outcome r = RunHeadless(fs::path(ORVO_EXAMPLE_GAMES) / "hello", data,
                            ReadFile(fs::path(ORVO_EXAMPLES_DIR) / "hello" / "events.txt"), none,
                            tmp.path);
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ReadFile(data / "debug.log"), "hello, world\n");
}

}  // namespace
}  // namespace orvo::examples

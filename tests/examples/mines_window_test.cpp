// The example game played as a person plays it: the real orvo on a private Xvfb, started
// through a link in its game folder, driven by xdotool (pointer, buttons, keys), watched
// by reading the window back from the X server, closed with the close button's message,
// and judged by the settings file it leaves in its data folder.
#if ORVO_EXAMPLES_X11

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "tests/examples/mines_support.h"
#include "tests/platform/x_client.h"
#include "tests/platform/xvfb.h"

extern char** environ;

namespace orvo::examples {
namespace {

using platform::test::ReadWindow;
using platform::test::SendClose;
using platform::test::Shell;
using platform::test::ShellOutput;
using Clock = std::chrono::steady_clock;

constexpr uint8_t CELL_MINE = 16, CELL_OPEN = 32;
constexpr uint32_t HIDDEN = 0xC6C6C6, OPENED = 0xBDBDBD, BAR = 0xC6C6C6, STATUS = 0x303030;
constexpr uint32_t MUSIC_ON = 0x40D040, MUSIC_OFF = 0x606060, BOOM = 0xFF281E, COVER = 0x5A5A5A;

// The window's client area as the X server holds it.
struct Frame {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return 0xFF000000u;
    return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
  }
  // How many pixels of a rectangle differ from another frame's.
  int Changed(const Frame& other, int x0, int y0, int x1, int y1) const {
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) n += At(x, y) != other.At(x, y);
    return n;
  }
};

// A window dump as xwd writes it: a header of 25 big-endian words (its size first), the
// window's name, ncolors colour entries of 12 bytes, then the pixels row by row. Only the
// 24- and 32-bit direct-colour dumps a true-colour server gives are read; anything else
// gives an empty frame.
Frame ReadXwd(const std::string& bytes) {
  Frame f;
  auto field = [&](size_t i) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + i * 4;
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
  };
  if (bytes.size() < 100) return f;
  const uint32_t headerSize = field(0), width = field(4), height = field(5);
  const uint32_t byteOrder = field(7), bitsPerPixel = field(11), bytesPerLine = field(12);
  const uint32_t redMask = field(14), greenMask = field(15), blueMask = field(16);
  const uint32_t colours = field(19);
  const uint64_t start = uint64_t{headerSize} + uint64_t{colours} * 12;
  if (bitsPerPixel != 32 || redMask != 0xFF0000 || greenMask != 0xFF00 || blueMask != 0xFF ||
      start + uint64_t{bytesPerLine} * height > bytes.size() || bytesPerLine < width * 4)
    return f;
  f.width = static_cast<int>(width);
  f.height = static_cast<int>(height);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + start +
                      uint64_t{y} * bytesPerLine + uint64_t{x} * 4;
      const uint32_t v =
          byteOrder == 0
              ? uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24
              : uint32_t{p[3]} | uint32_t{p[2]} << 8 | uint32_t{p[1]} << 16 | uint32_t{p[0]} << 24;
      f.pixels.push_back(v & 0xFFFFFF);
    }
  return f;
}

// Where the game put its field for a client size, and what a first opening deals, as
// the same image computes them under orvo-headless (read from its memory at the end).
struct Field {
  int tile = 0, x = 0, y = 0, cols = 0, rows = 0;
  std::vector<uint8_t> cells;
  int CentreX(int cell) const { return x + (cell % cols) * tile + tile / 2; }
  int CentreY(int cell) const { return y + (cell / cols) * tile + tile / 2; }
};

// The game number the game deals after this one (its own generator of game numbers).
int NextGame(int gameNo) {
  return static_cast<int>((static_cast<uint32_t>(gameNo) * 69069u + 12345u) % 99991u + 1u);
}

// What the clipboard holds as UTF-8 text, asked for as any other program would paste it;
// "" when its owner does not answer within two seconds.
std::string ReadClipboard(Display* d) {
  const Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
  const Atom clipboard = XInternAtom(d, "CLIPBOARD", False);
  const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  const Atom into = XInternAtom(d, "ORVO_TEST_PASTE", False);
  XConvertSelection(d, clipboard, utf8, into, w, CurrentTime);
  XFlush(d);
  std::string text;
  const auto end = Clock::now() + std::chrono::seconds(2);
  bool answered = false;
  while (!answered && Clock::now() < end) {
    XEvent e;
    if (!XCheckTypedWindowEvent(d, w, SelectionNotify, &e)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    answered = true;
    if (e.xselection.property == None) break;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* bytes = nullptr;
    if (XGetWindowProperty(d, w, into, 0, 1 << 16, True, AnyPropertyType, &type, &format, &count,
                           &after, &bytes) == Success &&
        bytes) {
      if (format == 8) text.assign(reinterpret_cast<char*>(bytes), count);
      XFree(bytes);
    }
  }
  XDestroyWindow(d, w);
  return text;
}

// The first line of a command's output, without its line end.
std::string FirstLine(const std::string& command) {
  std::string out = ShellOutput(command);
  const size_t end = out.find('\n');
  return end == std::string::npos ? out : out.substr(0, end);
}

class MinesWindow : public ::testing::Test {
 protected:
  TempFolder tmp;
  fs::path game, home, data, log;
  pid_t pid = -1;
  Window window = 0;
  std::unique_ptr<platform::test::XConnection> x;
  std::map<std::string, uint32_t> symbols;
  std::vector<std::string> extraEnvironment;  // NAME=value, for the next Start

  void SetUp() override {
    if (std::string(ORVO_BINARY).empty()) GTEST_SKIP() << "orvo was not built (no SDL)";
    if (orvo::test::XServer::Ensure(orvo::test::XServer::kPrivate).empty())
      GTEST_SKIP() << "no X server (Xvfb) could be started";
    ASSERT_FALSE(tmp.path.empty());
    // The game folder as scripts/play lays it out: the image, its assets, a link to orvo.
    game = tmp.path / "games" / "mines";
    home = tmp.path / "home";
    data = home / "Documents" / "games" / "mines";
    log = tmp.path / "orvo.log";
    fs::create_directories(game);
    fs::create_directories(data);
    const fs::path built = fs::path(ORVO_EXAMPLE_GAMES) / "mines";
    for (const char* name : {"main.ove", "tiles.png", "felt.png", "faces.bmp", "click.wav",
                             "reveal.wav", "boom.wav", "win.wav", "theme.mid"})
      fs::copy_file(built / name, game / name);
    fs::create_symlink(ORVO_BINARY, game / "orvo");
    symbols = ReadMap(built / "main.map");
    x = std::make_unique<platform::test::XConnection>();
    ASSERT_NE(x->display, nullptr);
  }

  void TearDown() override {
    if (pid > 0) {  // a failed step left the game running
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }

  // Starts orvo through the link with the data folder under the temporary home.
  void Start() {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      const std::string v = *e;
      const bool replaced = v.rfind("HOME=", 0) == 0 || v.rfind("XDG_CONFIG_HOME=", 0) == 0 ||
                            v.rfind("ASAN_OPTIONS=", 0) == 0;
      if (!replaced) env.push_back(v);
    }
    env.push_back("HOME=" + home.string());
    env.push_back("XDG_CONFIG_HOME=" + (home / ".config").string());
    env.push_back("ASAN_OPTIONS=detect_leaks=0");
    env.insert(env.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<char*> envp;
    for (std::string& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);
    const std::string link = (game / "orvo").string();
    const std::string logName = log.string();
    pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      const int fd = open(logName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd >= 0) {
        dup2(fd, 1);
        dup2(fd, 2);
      }
      if (chdir(tmp.path.c_str()) != 0) _exit(126);
      char* argv[] = {const_cast<char*>(link.c_str()), nullptr};
      execve(link.c_str(), argv, envp.data());
      _exit(127);
    }
  }

  // The exit code once orvo has ended, or -1 if it is still running after ms.
  int WaitForExit(int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
  }

  Frame Grab() {
    Frame f;
    XWindowAttributes a{};
    if (!XGetWindowAttributes(x->display, window, &a)) return f;
    f.pixels = ReadWindow(x->display, window, 0, 0, a.width, a.height);
    if (f.pixels.size() == static_cast<size_t>(a.width) * static_cast<size_t>(a.height)) {
      f.width = a.width;
      f.height = a.height;
    }
    return f;
  }

  // Reads the window again and again until what it shows passes; the last frame read.
  Frame WaitFor(const std::function<bool(const Frame&)>& shows, const char* what, int ms = 15000) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    Frame f;
    for (;;) {
      f = Grab();
      if (f.width > 0 && shows(f)) return f;
      if (Clock::now() > end) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    ADD_FAILURE() << "the window never showed " << what << "\n" << ReadFile(log);
    return f;
  }

  std::string Title() { return FirstLine("xdotool getwindowname " + std::to_string(window)); }

  // Waits for a title starting with prefix; the title last seen.
  std::string WaitForTitle(const std::string& prefix, int ms = 15000) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    std::string t;
    while (Clock::now() < end) {
      t = Title();
      if (t.rfind(prefix, 0) == 0) return t;
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    ADD_FAILURE() << "title \"" << t << "\", not \"" << prefix << "...\"\n" << ReadFile(log);
    return t;
  }

  // xdotool commands with the pointer positions relative to the window.
  std::string Move(int px, int py) {
    return " mousemove --window " + std::to_string(window) + " " + std::to_string(px) + " " +
           std::to_string(py);
  }
  void Do(const std::string& commands) { ASSERT_EQ(Shell("xdotool" + commands), 0) << commands; }

  // The position of the window's client area on the screen.
  std::pair<int, int> Position() {
    int sx = 0, sy = 0;
    Window child = 0;
    XTranslateCoordinates(x->display, window, DefaultRootWindow(x->display), 0, 0, &sx, &sy,
                          &child);
    return {sx, sy};
  }

  // The field of a game number for this client size, opened first at its centre cell.
  Field FieldOf(int gameNo, int width, int height) {
    const fs::path headless = tmp.path / "headless";
    fs::create_directories(headless);
    const std::string size =
        "9 " + std::to_string(width) + " " + std::to_string(height) + " 0\nwait 50\n";
    auto run = [&](const std::string& script) {
      std::ofstream(headless / "mines.ini", std::ios::binary)
          << "[0x00000000=Options]\r\nlevel= 0\r\nmusic= 0\r\nnext= " << gameNo << "\r\n";
      return RunHeadless(fs::path(ORVO_EXAMPLE_GAMES) / "mines", headless, script, symbols,
                         tmp.path);
    };
    const Outcome laid = run(size + "3 0 0 0\n");
    Field f{laid.Int("_Tile"), laid.Int("_BoardX"), laid.Int("_BoardY"),
            laid.Int("_Cols"), laid.Int("_Rows"),   {}};
    const int centre = (f.rows / 2) * f.cols + f.cols / 2;
    const uint32_t at =
        static_cast<uint32_t>(f.CentreX(centre)) | static_cast<uint32_t>(f.CentreY(centre)) << 16;
    const Outcome opened = run(size + "12 1 1 " + std::to_string(at) + "\n13 1 0 " +
                               std::to_string(at) + "\nwait 50\n3 0 0 0\n");
    for (int i = 0; i < opened.Int("_Cells"); ++i)
      f.cells.push_back(opened.Byte("_Board", static_cast<uint32_t>(i)));
    return f;
  }
};

TEST_F(MinesWindow, PlayedWithMouseAndKeysThenClosed) {
  // Where an earlier run left the window, and the game number it dealt next.
  std::ofstream(data / "mines.ini", std::ios::binary)
      << "[0x00000000=Options]\r\nlevel= 0\r\nmusic= 1\r\nnext= 4242\r\n"
      << "[0x00000000=Window]\r\nx= 40\r\ny= 50\r\nwidth= 720\r\nheight= 540\r\nshow= 1\r\n";
  Start();
  window = platform::test::FindWindow("^Mines", 30);
  ASSERT_NE(window, 0u) << ReadFile(log);

  // Start: the placement is restored, the field is dealt and drawn, the music light is on.
  EXPECT_EQ(WaitForTitle("Mines - game 4242"), "Mines - game 4242");
  EXPECT_EQ(Position(), std::make_pair(40, 50));
  Frame start = WaitFor(
      [](const Frame& f) {
        return f.At(12, 30) == BAR && f.At(f.width - 20, f.height - 15) == MUSIC_ON;
      },
      "the top bar and the music light");
  ASSERT_EQ(start.width, 720);
  ASSERT_EQ(start.height, 540);
  EXPECT_EQ(start.At(2, start.height - 3), STATUS);
  // The same picture as another program's screenshot of the window sees it.
  const fs::path dump = tmp.path / "start.xwd";
  ASSERT_EQ(Shell("xwd -silent -id " + std::to_string(window) + " -out '" + dump.string() + "'"),
            0);
  const Frame xwd = ReadXwd(ReadFile(dump));
  ASSERT_EQ(xwd.width, start.width);
  ASSERT_EQ(xwd.height, start.height);
  EXPECT_EQ(xwd.Changed(start, 0, 0, start.width, start.height), 0);
  const Field one = FieldOf(4242, start.width, start.height);
  ASSERT_EQ(one.cols, 9);
  ASSERT_EQ(one.cells.size(), 81u);
  for (int cell = 0; cell < 81; ++cell)
    EXPECT_TRUE(Near(start.At(one.CentreX(cell), one.CentreY(cell)), HIDDEN)) << cell;

  // Reveal: the pointer goes into the window first (focus follows it), then opens the
  // centre cell; the cells the opening spread to are drawn open.
  const int centre = 4 * 9 + 4;
  Do(Move(one.CentreX(centre), one.CentreY(centre)) + " sleep 0.2 click 1");
  const Frame opened = WaitFor(
      [&](const Frame& f) {
        return Near(f.At(one.x + 4 * one.tile + 2, one.y + 4 * one.tile + 2), OPENED);
      },
      "the centre cell open");
  int open = 0;
  for (int cell = 0; cell < 81; ++cell) {
    const bool isOpen = one.cells[cell] & CELL_OPEN;
    open += isOpen;
    const int cx = one.x + (cell % 9) * one.tile + 2, cy = one.y + (cell / 9) * one.tile + 2;
    EXPECT_TRUE(Near(opened.At(cx, cy), isOpen ? OPENED : 0xFFFFFF)) << cell;
  }
  EXPECT_GE(open, 9);

  // Flag: a right click on a shut cell draws a flag and counts the mines left down.
  int shut = -1, mine = -1;
  for (int cell = 0; cell < 81; ++cell) {
    if (!(one.cells[cell] & (CELL_OPEN | CELL_MINE)) && shut < 0) shut = cell;
    if ((one.cells[cell] & CELL_MINE) && mine < 0) mine = cell;
  }
  ASSERT_GE(shut, 0);
  ASSERT_GE(mine, 0);
  Do(Move(one.CentreX(shut), one.CentreY(shut)) + " click 3");
  const Frame flagged = WaitFor(
      [&](const Frame& f) {
        return !Near(f.At(one.CentreX(shut) + 1, one.CentreY(shut) - 4), HIDDEN);
      },
      "the flag");
  EXPECT_GT(flagged.Changed(opened, 16, 14, 88, 52), 20) << "mine counter 010 -> 009";

  // Lose: opening a mine sets it off, and the title says so.
  Do(Move(one.CentreX(mine), one.CentreY(mine)) + " click 1");
  EXPECT_EQ(WaitForTitle("Mines - game 4242 lost"), "Mines - game 4242 lost");
  const int mx = one.x + (mine % 9) * one.tile + 3, my = one.y + (mine / 9) * one.tile + 3;
  WaitFor([&](const Frame& f) { return Near(f.At(mx, my), BOOM, 20); }, "the mine that went off");

  // Start again with N: the next game number, every cell shut again.
  Do(" key n");
  // The whole title is awaited: the lost game's title starts the same way.
  const int gameNo = NextGame(4242);
  const std::string next = "Mines - game " + std::to_string(gameNo);
  EXPECT_EQ(WaitForTitle(next), next);
  const Frame again = WaitFor(
      [&](const Frame& f) { return Near(f.At(one.CentreX(centre), one.CentreY(centre)), HIDDEN); },
      "a fresh field");
  EXPECT_TRUE(Near(again.At(mx, my), 0xFFFFFF));

  // Win: open every cell without a mine; the clock has run meanwhile.
  const Field two = FieldOf(gameNo, again.width, again.height);
  ASSERT_EQ(two.cells.size(), 81u);
  Do(Move(two.CentreX(centre), two.CentreY(centre)) + " click 1");
  const Frame playing = WaitFor(
      [&](const Frame& f) {
        return Near(f.At(two.x + 4 * two.tile + 2, two.y + 4 * two.tile + 2), OPENED);
      },
      "the second game's first opening");
  std::this_thread::sleep_for(std::chrono::milliseconds(2300));
  const int w = playing.width;
  WaitFor([&](const Frame& f) { return f.Changed(playing, w - 88, 14, w - 16, 52) > 20; },
          "the clock counting");
  std::string clicks;
  for (int cell = 0; cell < 81; ++cell)
    if (!(two.cells[cell] & (CELL_OPEN | CELL_MINE)))
      clicks += Move(two.CentreX(cell), two.CentreY(cell)) + " click 1 sleep 0.01";
  Do(clicks);
  const std::string won = WaitForTitle("Mines - cleared in ");
  const int seconds = std::atoi(won.c_str() + std::string("Mines - cleared in ").size());
  EXPECT_EQ(won, "Mines - cleared in " + std::to_string(seconds) + " s");
  EXPECT_GE(seconds, 3);
  EXPECT_LE(seconds, 120);

  // Resize: the layout follows the new client size.
  Do(" windowsize " + std::to_string(window) + " 800 600");
  const Frame larger = WaitFor(
      [](const Frame& f) {
        return f.width == 800 && f.height == 600 && f.At(2, 597) == STATUS &&
               f.At(780, 585) == MUSIC_ON;
      },
      "the layout of 800 x 600");
  EXPECT_EQ(larger.At(12, 30), BAR);

  // Another window takes the keyboard focus, as a window manager would hand it over: the
  // game pauses and covers the field; with the focus back, it goes on.
  const Field big = FieldOf(NextGame(gameNo), larger.width, larger.height);
  const int coverX = big.x + 2, coverY = big.y + 2;  // a corner the banner leaves alone
  const uint32_t uncovered = larger.At(coverX, coverY);
  EXPECT_NE(uncovered, COVER);
  Display* d = x->display;
  XSetInputFocus(d, window, RevertToPointerRoot, CurrentTime);
  const Window other = XCreateSimpleWindow(d, DefaultRootWindow(d), 1100, 900, 40, 40, 0, 0, 0);
  XMapWindow(d, other);
  XSync(d, False);
  // SDL takes a focus change as settled only after a moment.
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  XSetInputFocus(d, other, RevertToPointerRoot, CurrentTime);
  XSync(d, False);
  WaitFor([&](const Frame& f) { return f.At(coverX, coverY) == COVER; }, "the field covered");
  XSetInputFocus(d, window, RevertToPointerRoot, CurrentTime);
  XSync(d, False);
  WaitFor([&](const Frame& f) { return f.At(coverX, coverY) == uncovered; }, "the field again");
  XDestroyWindow(d, other);
  XSetInputFocus(d, PointerRoot, RevertToPointerRoot, CurrentTime);
  XSync(d, False);

  // Music off with M: the light goes grey.
  Do(Move(400, 300) + " key m");
  WaitFor([](const Frame& f) { return f.At(780, 585) == MUSIC_OFF; }, "the music light off");

  // C copies the best times for pasting elsewhere.
  Do(" key c");
  EXPECT_EQ(ReadClipboard(x->display),
            "Mines best times\r\nSmall field (9 x 9): " + std::to_string(seconds) +
                " s\r\nMedium field (16 x 16): no time yet\r\nLarge field (30 x 16): no time "
                "yet\r\n");

  // Close: the game saves and ends.
  SendClose(x->display, window);
  EXPECT_EQ(WaitForExit(20000), 0) << ReadFile(log);
  const std::string file = ReadFile(data / "mines.ini");
  EXPECT_EQ(Section(file, "Best")["small"], std::to_string(seconds)) << file;
  EXPECT_EQ(Section(file, "Options")["music"], "0") << file;
  EXPECT_EQ(Section(file, "Options")["level"], "0") << file;
  EXPECT_EQ(Section(file, "Options")["next"], std::to_string(NextGame(gameNo))) << file;
  auto place = Section(file, "Window");
  EXPECT_EQ(place["x"], "40") << file;
  EXPECT_EQ(place["y"], "50") << file;
  EXPECT_EQ(place["width"], "800") << file;
  EXPECT_EQ(place["height"], "600") << file;
  EXPECT_EQ(place["show"], "1") << file;
  EXPECT_FALSE(fs::exists(game / "mines.ini")) << "the game folder is left as it was";
}

// A controller plugged in while the game runs plays it: SDL's virtual joystick, attached
// and worked inside orvo by its test script (ORVO_VIRTUAL_PAD), goes through the real
// game-controller path. Y is N, a new game; the stick shows the cursor on the centre
// cell; A is Enter, which opens it.
TEST_F(MinesWindow, AGamepadStartsANewGameAndOpensACell) {
  std::ofstream(data / "mines.ini", std::ios::binary)
      << "[0x00000000=Options]\r\nlevel= 0\r\nmusic= 0\r\nnext= 4242\r\n";
  const fs::path script = tmp.path / "pad.txt";
  std::ofstream(script) << "wait 400\nattach\nwait 400\n"
                           "press 0 y\nwait 150\nrelease 0 y\nwait 600\n"
                           "axis 0 leftx 30000\nwait 150\naxis 0 leftx 0\nwait 300\n"
                           "press 0 a\nwait 150\nrelease 0 a\n";
  extraEnvironment.push_back("ORVO_VIRTUAL_PAD=" + script.string());
  Start();
  window = platform::test::FindWindow("^Mines", 30);
  ASSERT_NE(window, 0u) << ReadFile(log);
  const std::string next = "Mines - game " + std::to_string(NextGame(4242));
  EXPECT_EQ(WaitForTitle(next), next);
  const Frame shown = WaitFor([](const Frame& f) { return f.At(12, 30) == BAR; }, "the game");
  const Field field = FieldOf(NextGame(4242), shown.width, shown.height);
  ASSERT_EQ(field.cells.size(), 81u);
  const Frame opened = WaitFor(
      [&](const Frame& f) {
        return Near(f.At(field.x + 4 * field.tile + 2, field.y + 4 * field.tile + 2), OPENED);
      },
      "the centre cell open");
  // The opening spread as the same first opening does in the headless runtime.
  for (int cell = 0; cell < 81; ++cell) {
    const int cx = field.x + (cell % 9) * field.tile + 2,
              cy = field.y + (cell / 9) * field.tile + 2;
    EXPECT_TRUE(Near(opened.At(cx, cy), field.cells[cell] & CELL_OPEN ? OPENED : 0xFFFFFF))
        << cell;
  }
  SendClose(x->display, window);
  EXPECT_EQ(WaitForExit(20000), 0) << ReadFile(log);
}

}  // namespace
}  // namespace orvo::examples

#endif  // ORVO_EXAMPLES_X11

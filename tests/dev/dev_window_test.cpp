// orvo-dev as an author uses it: the game's window on a private X server, its sources
// saved from outside as editors save them, the window's pixels and debug.log read back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "tests/host/window/orvo_window.h"

namespace orvo::dev {
namespace {

namespace fs = std::filesystem;
using host::ReadFile;
using host::WaitFor;
using platform::test::ReadWindow;

// Fills a box with COLOUR when its window comes, logs its start and its end.
constexpr const char* kGame = R"(@code
@align 4
:EventTable
 & EventDone
 & Started
 & Paint
 & Close
 & Ended
 & EventDone
 & EventDone
 & EventDone
 & EventDone
 & EventDone
 & EventDone
 & EventDone
 & EventDone
 & EventDone
 & EventDone
 & EventDone
:Started
 d push =StartText
 jsrfr 4, =DebugText
 jmp =EventDone
:Paint
 d push =Title
 jsrfr 4, =SetTitle
 d push =0xFF000000
 d push =COLOUR
 d push =200
 d push =300
 d push =100
 d push =100
 d push =0
 jsrfr 28, =FillRect
 jmp =EventDone
:Close
 jsrfr 0, =EndProgram
 jmp =EventDone
:Ended
 d push =EndText
 jsrfr 4, =DebugText
 jmp =EventDone
:Title
 b "devgame"
 b 0
:StartText
 b "start COLOUR\n"
 b 0
:EndText
 b "end\n"
 b 0
@seg_end
)";

// Colour words are 0xAABBGGRR; the window reads back 0xRRGGBB.
constexpr uint32_t kRedWord = 0xFF0000FF, kGreenWord = 0xFF00FF00, kBlueWord = 0xFFFF0000;
constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;
constexpr uint32_t kOverlay = 0x601820;  // the error box's background

class DevWindow : public ::testing::Test {
 protected:
  fs::path base, source, data;
  Display* display = nullptr;
  pid_t pid = -1;

  void SetUp() override {
    ASSERT_FALSE(test::XServer::Ensure(test::XServer::kPrivate).empty()) << "no X server";
    base = fs::temp_directory_path() /
           ("orvo-dev-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(base);
    source = base / "game" / "src";
    fs::create_directories(source);
    fs::create_directories(base / "game" / "lib");
    fs::create_directories(base / "home" / ".config");
    for (const char* f : {"header.ova", "sys.ova"})
      fs::copy_file(fs::path(ORVO_EXAMPLES_DIR) / "lib" / f, base / "game" / "lib" / f);
    std::ofstream(source / "velda.list")
        << "source ../lib/header\nsource ../lib/sys\nsource box\noutput ../out\n";
    data = base / "home" / "Documents" / "game" / "out";
    display = platform::test::OpenDisplay();
    ASSERT_NE(display, nullptr);
  }
  void TearDown() override {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (display) XCloseDisplay(display);
    fs::remove_all(base);
  }

  static std::string Game(uint32_t colour) {
    std::string text = kGame;
    char word[16];
    std::snprintf(word, sizeof word, "0x%08X", colour);
    for (size_t at; (at = text.find("COLOUR")) != std::string::npos;) text.replace(at, 6, word);
    return text;
  }
  // As editors that keep a backup save: the new text into a file beside, renamed over.
  void SaveByRename(const std::string& text) {
    std::ofstream(source / ".box.ova.new") << text;
    fs::rename(source / ".box.ova.new", source / "box.ova");
  }
  void Start(const std::string& option = "", const std::string& value = "") {
    std::ofstream(source / "box.ova") << Game(kRedWord);
    pid = fork();
    if (pid == 0) {
      setenv("HOME", (base / "home").c_str(), 1);
      setenv("XDG_CONFIG_HOME", (base / "home" / ".config").c_str(), 1);
      setenv("SDL_AUDIODRIVER", "dummy", 1);
      setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
      const int fd = open((base / "errors.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0 || dup2(fd, 2) < 0) _exit(126);
      if (option.empty())
        execl(ORVO_DEV, ORVO_DEV, source.c_str(), static_cast<char*>(nullptr));
      else
        execl(ORVO_DEV, ORVO_DEV, source.c_str(), option.c_str(), value.c_str(),
              static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  uint32_t Pixel(Window w, int x, int y) {
    const std::vector<uint32_t> p = ReadWindow(display, w, x, y, 1, 1);
    return p.empty() ? 0xFFFFFFFF : p[0];
  }
  bool Shows(Window w, int x, int y, uint32_t colour) {
    return WaitFor([&] { return Pixel(w, x, y) == colour; });
  }
  size_t Count(const std::string& line) {
    const std::string log = ReadFile(data / "debug.log");
    size_t n = 0;
    for (size_t at = 0; (at = log.find(line, at)) != std::string::npos; at += line.size()) ++n;
    return n;
  }
};

TEST_F(DevWindow, ASaveRestartsTheGameInTheSameWindow) {
  Start();
  const Window w = platform::test::FindWindow("^devgame$");
  ASSERT_NE(w, 0u) << ReadFile(base / "errors.txt");
  ASSERT_TRUE(Shows(w, 150, 150, kRed));
  XWindowAttributes before{};
  XGetWindowAttributes(display, w, &before);

  SaveByRename(Game(kGreenWord));
  ASSERT_TRUE(Shows(w, 150, 150, kGreen)) << ReadFile(base / "errors.txt");
  // The old game ended in order before the new one started, in the same window.
  const std::string log = ReadFile(data / "debug.log");
  EXPECT_NE(log.find("start 0xFF0000FF\nend\nstart 0xFF00FF00\n"), std::string::npos) << log;
  XWindowAttributes after{};
  XGetWindowAttributes(display, w, &after);
  EXPECT_EQ(after.width, before.width);
  EXPECT_EQ(after.height, before.height);
  EXPECT_EQ(platform::test::FindWindow("^devgame$"), w);

  // Written in place, in two parts with a pause between: the first half does not
  // assemble, the last good game keeps running under the errors, the whole file restarts.
  const std::string blue = Game(kBlueWord);
  {
    std::ofstream half(source / "box.ova", std::ios::trunc);
    half << blue.substr(0, blue.find(":Close") + 3) << std::flush;
    ASSERT_TRUE(Shows(w, 2, 2, kOverlay)) << ReadFile(base / "errors.txt");
    EXPECT_EQ(Pixel(w, 150, 150), kGreen);
    EXPECT_NE(ReadFile(base / "errors.txt").find("box("), std::string::npos);
    half << blue.substr(blue.find(":Close") + 3);
  }
  ASSERT_TRUE(Shows(w, 150, 150, kBlue)) << ReadFile(base / "errors.txt");
  EXPECT_NE(Pixel(w, 2, 2), kOverlay);
}

// Each run records into a file of its own, its image beside it; both replay headless.
TEST_F(DevWindow, EveryRunIsRecordedAndReplaysWithTheImageWrittenBesideIt) {
  const fs::path recording = base / "session.orvorec";
  Start("--record", recording.string());
  const Window w = platform::test::FindWindow("^devgame$");
  ASSERT_NE(w, 0u) << ReadFile(base / "errors.txt");
  ASSERT_TRUE(Shows(w, 150, 150, kRed));
  SaveByRename(Game(kGreenWord));
  ASSERT_TRUE(Shows(w, 150, 150, kGreen)) << ReadFile(base / "errors.txt");
  platform::test::SendClose(display, w);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  pid = -1;
  const std::string errors = ReadFile(base / "errors.txt");
  for (const fs::path& run : {recording, base / "session-2.orvorec"}) {
    EXPECT_NE(errors.find("recording this run into " + run.string()), std::string::npos) << errors;
    const fs::path game = base / ("replay-" + run.stem().string());
    fs::create_directories(game);
    fs::copy_file(run.string() + ".ove", game / "main.ove");
    int rc = -1;
    const std::string out =
        platform::test::ShellOutput("'" ORVO_HEADLESS "' --replay '" + run.string() + "' --data '" +
                                        (game / "data").string() + "' '" + game.string() + "'",
                                    &rc);
    EXPECT_EQ(rc, 0) << run << ": " << out;
  }
  EXPECT_EQ(ReadFile(base / "replay-session" / "data" / "debug.log"), "start 0xFF0000FF\nend\n");
}

TEST_F(DevWindow, TheWatchOutlivesAFolderThatGoesAndComesBack) {
  Start();
  const Window w = platform::test::FindWindow("^devgame$");
  ASSERT_NE(w, 0u) << ReadFile(base / "errors.txt");
  ASSERT_TRUE(Shows(w, 150, 150, kRed));
  fs::rename(source, base / "game" / "away");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::ofstream(base / "game" / "away" / "box.ova") << Game(kGreenWord);
  fs::rename(base / "game" / "away", source);
  ASSERT_TRUE(Shows(w, 150, 150, kGreen)) << ReadFile(base / "errors.txt");
  SaveByRename(Game(kBlueWord));
  ASSERT_TRUE(Shows(w, 150, 150, kBlue)) << ReadFile(base / "errors.txt");
  EXPECT_EQ(Count("end\n"), 2u);

  // Closing the window ends the game for good, and orvo-dev with it.
  platform::test::SendClose(display, w);
  int status = -1;
  ASSERT_TRUE(WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }));
  pid = -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Count("end\n"), 3u);
}

}  // namespace
}  // namespace orvo::dev

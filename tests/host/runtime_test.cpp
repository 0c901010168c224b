// The host shell in-process: start-up order, the window procedure's table, the queue and
// ending rules, on the headless platform fed with window messages.
#include "host/runtime.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <deque>
#include <filesystem>
#include <fstream>

#include "host/folders.h"
#include "platform/headless/headless_platform.h"
#include "vm/memory.h"

namespace orvo::host {
namespace {

namespace fs = std::filesystem;
using platform::Message;

struct Recorded {
  int32_t code, a1, a2, a3;
  bool operator==(const Recorded&) const = default;
};

// The address of the event log of the "events" test game, from its symbol map.
uint32_t LogAddress() {
  std::ifstream map(std::string(ORVO_TEST_GAMES) + "/events/main.map");
  std::string value, name;
  while (map >> value >> name)
    if (name == "_Log") return static_cast<uint32_t>(std::stoul(value, nullptr, 16));
  return 0;
}

// Feeds window messages before the script and keeps a trace of what the host did.
class TracingPlatform : public platform::HeadlessWindow {
 public:
  explicit TracingPlatform(platform::HeadlessConfig config)
      : HeadlessWindow(config), shell(*this, config) {}
  platform::Platform Parts() { return {*this, *this, audio, shell}; }

  std::vector<std::string> trace;
  std::deque<Message> messages;
  std::vector<Recorded> events;  // the game's log after the last delivery
  std::vector<uint32_t> timerStarts;
  uint8_t startOptions = 0;
  platform::Size desktop{1920, 1080};
  Runtime* runtime = nullptr;
  // Posted while a message box is open, as input arriving meanwhile.
  std::vector<Message> arriveDuringBox;

  bool CreateWindow(std::string_view title, int32_t x, int32_t y, int32_t w, int32_t h) override {
    trace.push_back("create " + std::to_string(x) + "," + std::to_string(y) + " " +
                    std::to_string(w) + "x" + std::to_string(h));
    return HeadlessWindow::CreateWindow(title, x, y, w, h);
  }
  bool growAfterShow = false;
  void ShowWindow() override {
    trace.push_back("show");
    if (growAfterShow) desktop = {2560, 1440};
    HeadlessWindow::ShowWindow();
  }
  // The message box is traced, and input may arrive while it is up.
  struct BoxShell : platform::HeadlessShell {
    BoxShell(TracingPlatform& p, const platform::HeadlessConfig& config)
        : HeadlessShell(config), p(p) {}
    void MessageBox(std::string_view text) override {
      p.trace.push_back("box " + std::string(text));
      for (const Message& m : p.arriveDuringBox) p.messages.push_back(m);
      p.arriveDuringBox.clear();
    }
    TracingPlatform& p;
  } shell;
  platform::NullAudio audio;
  bool StartTimer(uint32_t ms) override {
    timerStarts.push_back(ms);
    return HeadlessWindow::StartTimer(ms);
  }
  platform::Size DesktopSize() override { return desktop; }
  // The SIGSEGV action at each delivery.
  std::vector<void*> faultActions;
  void Delivered(int32_t code) override {
    trace.push_back("deliver " + std::to_string(code));
    struct sigaction now {};
    sigaction(SIGSEGV, nullptr, &now);
    faultActions.push_back(reinterpret_cast<void*>(now.sa_sigaction));
    const vm::Machine& m = runtime->machine();
    static const uint32_t log = LogAddress();
    if (m.mem && log) {
      startOptions = m.mem[vm::HDR_START_OPTIONS];
      events.clear();
      const uint32_t count = vm::Load32(m.mem + log);
      for (uint32_t i = 0; i < count && i < 4000; ++i) {
        const uint8_t* e = m.mem + log + 4 + 16 * i;
        events.push_back(
            {static_cast<int32_t>(vm::Load32(e)), static_cast<int32_t>(vm::Load32(e + 4)),
             static_cast<int32_t>(vm::Load32(e + 8)), static_cast<int32_t>(vm::Load32(e + 12))});
      }
    }
    HeadlessWindow::Delivered(code);
  }
  bool PeekMessage() override { return !messages.empty() || HeadlessWindow::PeekMessage(); }
  bool GetMessage(Message& out) override {
    if (!messages.empty()) {
      out = messages.front();
      messages.pop_front();
      return true;
    }
    return HeadlessWindow::GetMessage(out);
  }
};

Message Msg(uint32_t id, uint32_t wParam = 0, uint32_t lParam = 0) {
  Message m;
  m.id = id;
  m.wParam = wParam;
  m.lParam = lParam;
  return m;
}

class RuntimeTest : public ::testing::Test {
 protected:
  fs::path game = fs::path(ORVO_TEST_GAMES) / "events";
  std::unique_ptr<TracingPlatform> platform;
  int exitCode = -1;

  void Make(const std::string& script = "") {
    platform::HeadlessConfig config;
    config.executablePath = (game / "orvo").string();
    std::string error;
    EXPECT_TRUE(platform::ParseScript(script, config.script, error)) << error;
    platform = std::make_unique<TracingPlatform>(std::move(config));
  }
  int Run(RuntimeOptions options = {}) {
    Runtime runtime(platform->Parts(), std::move(options));
    platform->runtime = &runtime;
    exitCode = runtime.Run();
    return exitCode;
  }
  std::vector<int32_t> Codes() const {
    std::vector<int32_t> codes;
    for (const Recorded& e : platform->events) codes.push_back(e.code);
    return codes;
  }
};

TEST_F(RuntimeTest, StartUpOrderAndTheWindowFromTheHeader) {
  Make();
  EXPECT_EQ(Run(), 0);
  // The start event comes before the window exists, the window event before it shows.
  ASSERT_GE(platform->trace.size(), 5u);
  EXPECT_EQ(platform->trace[0], "deliver 1");
  EXPECT_EQ(platform->trace[1], "create 100,100 640x480");
  EXPECT_EQ(platform->trace[2], "deliver 2");
  EXPECT_EQ(platform->trace[3], "show");
  EXPECT_EQ(platform->trace.back(), "deliver 4");
  EXPECT_EQ(Codes(), (std::vector<int32_t>{1, 2, 4}));
  EXPECT_EQ(platform->Title(), "ORVO 6.0");
}

TEST_F(RuntimeTest, OnlyTheExactCommandLineSetsTheStartOption) {
  for (const char* line : {"-eh", "-EH", "-eh x", ""}) {
    Make();
    RuntimeOptions options;
    options.commandLine = line;
    Run(options);
    EXPECT_EQ(platform->startOptions & 1, std::string(line) == "-eh" ? 1 : 0) << line;
  }
}

TEST_F(RuntimeTest, WindowMessagesBecomeEvents) {
  using namespace platform;
  Make();
  platform->messages = {
      Msg(MSG_SETFOCUS),
      Msg(MSG_KEYDOWN, 'A', 1),
      Msg(MSG_CHAR, 0xE9, 1),
      Msg(MSG_CHAR, 13, 1),  // control characters give no character event
      Msg(MSG_CHAR, 0x1F600, 1),
      Msg(MSG_KEYUP, 'A', 1),
      Msg(MSG_MOUSEWHEEL, 120u << 16, 30 | 40 << 16),
      Msg(MSG_MOUSEWHEEL, 60u << 16, 0),
      Msg(MSG_MOUSEWHEEL, (0x10000u - 121) << 16, 0),
      Msg(MSG_MOUSEHWHEEL, (0x10000u - 240) << 16, 5),
      Msg(MSG_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, 7 | 9 << 16),
      Msg(MSG_RBUTTONUP, 0, 1),
      Msg(MSG_XBUTTONDOWN, 1u << 16 | MK_XBUTTON1, 2),
      Msg(MSG_XBUTTONUP, 2u << 16, 2),
      Msg(MSG_MOUSEMOVE, MK_CONTROL, 0xFFFD | 7 << 16),
      Msg(MSG_MOVE, 0, 0xFFF0 | 5 << 16),
      Msg(MSG_ACTIVATEAPP, 0),
      Msg(MSG_KILLFOCUS),
      Msg(MSG_TIMER),
  };
  Run();
  const std::vector<Recorded> expected = {
      {1, 0, 0, 0},
      {2, 0, 0, 0},
      {5, 1, 0, 0},
      {12, 'A', 1, 0},
      {14, 0xA9C3, 0, 1},
      {14, static_cast<int32_t>(0x80989FF0u), 0, 1},
      {13, 'A', 1, 0},
      {12, 0x8003, 1, 30 | 40 << 16},
      {12, 0x8003, 0, 0},
      {12, 0x8003, -1, 0},
      {12, 0x8004, -2, 5},
      {12, 1, MK_LBUTTON | MK_SHIFT, 7 | 9 << 16},
      {13, 2, 0, 1},
      {12, 0x8001, 1 << 16 | MK_XBUTTON1, 2},
      {13, 0x8002, 2 << 16, 2},
      {15, -3, 7, MK_CONTROL},
      {8, 0xFFF0, 5, 0},
      {13, 245, 1, 0},
      {5, 0, 0, 0},
      {11, 0, 0, 0},
      {4, 0, 0, 0},
  };
  EXPECT_EQ(platform->events, expected);
}

TEST_F(RuntimeTest, SizeIsDeliveredAtOnceAfterEverythingBefore) {
  using namespace platform;
  Make();
  platform->messages = {Msg(MSG_KEYDOWN, 'A', 1), Msg(MSG_SIZE, SIZE_MAXIMIZED, 800 | 600 << 16),
                        Msg(MSG_KEYDOWN, 'B', 1), Msg(MSG_SIZE, SIZE_MINIMIZED),
                        Msg(MSG_SIZE, SIZE_RESTORED)};
  Run();
  const std::vector<Recorded> expected = {
      {1, 0, 0, 0}, {2, 0, 0, 0}, {12, 'A', 1, 0},  {9, 640, 480, 2}, {12, 'B', 1, 0},
      {7, 1, 0, 0}, {7, 0, 0, 0}, {9, 640, 480, 3}, {4, 0, 0, 0},
  };
  EXPECT_EQ(platform->events, expected);
}

TEST_F(RuntimeTest, CloseIsDeliveredAtOnceAndLeavesTheWindowOpen) {
  Make("12 1 0 0\n");
  platform->messages = {Msg(platform::MSG_CLOSE)};
  Run();
  EXPECT_EQ(Codes(), (std::vector<int32_t>{1, 2, 3, 12, 4}));
}

TEST_F(RuntimeTest, AfterTheProgramEndsOnlyTheEndEventArrives) {
  Make("12 1 0 0\n20\n12 2 0 0\n13 2 0 0\n");
  platform->messages = {};
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Codes(), (std::vector<int32_t>{1, 2, 12, 20, 4}));
}

TEST_F(RuntimeTest, EndSessionClosesDrainsAndEnds) {
  Make();
  platform->messages = {Msg(platform::MSG_KEYDOWN, 'A', 1), Msg(platform::MSG_ENDSESSION),
                        Msg(platform::MSG_KEYDOWN, 'B', 1)};
  EXPECT_EQ(Run(), 0);
  const std::vector<Recorded> expected = {
      {1, 0, 0, 0}, {2, 0, 0, 0}, {3, 1, 0, 0}, {12, 'A', 1, 0}, {4, 0, 0, 0}};
  EXPECT_EQ(platform->events, expected);
}

TEST_F(RuntimeTest, AMessageBoxStartsNoNestedDelivery) {
  Make("23\nwait 50\n");
  platform->arriveDuringBox = {Msg(platform::MSG_KEYDOWN, 'K', 1)};
  Run();
  const auto& t = platform->trace;
  const auto box = std::find(t.begin(), t.end(), "box hold on");
  ASSERT_NE(box, t.end());
  EXPECT_EQ(*(box + 1), "deliver 23");  // the delivery that showed it ends first
  EXPECT_EQ(*(box + 2), "deliver 12");
}

TEST_F(RuntimeTest, ARunningTimerKeepsItsInterval) {
  Make("21 100\n21 50\n22\n22\n21 50\nwait 120\n22\n");
  Run();
  EXPECT_EQ(platform->timerStarts, (std::vector<uint32_t>{100, 50}));
  const std::vector<int32_t> codes = Codes();
  const auto ticks = std::count(codes.begin(), codes.end(), 11);
  EXPECT_GE(ticks, 1);
  EXPECT_LE(ticks, 3);
}

TEST_F(RuntimeTest, ADesktopThatGrewEndsTheGame) {
  Make();
  platform->messages = {Msg(platform::MSG_DISPLAYCHANGE), Msg(platform::MSG_KEYDOWN, 'A', 1)};
  Run();  // the same desktop: the game goes on
  EXPECT_EQ(Codes(), (std::vector<int32_t>{1, 2, 12, 4}));

  Make();
  platform->growAfterShow = true;
  platform->messages = {Msg(platform::MSG_KEYDOWN, 'A', 1), Msg(platform::MSG_DISPLAYCHANGE),
                        Msg(platform::MSG_KEYDOWN, 'B', 1)};
  EXPECT_EQ(Run(), 0);
  const std::vector<Recorded> expected = {
      {1, 0, 0, 0}, {2, 0, 0, 0}, {3, 1, 0, 0}, {12, 'A', 1, 0}, {4, 0, 0, 0}};
  EXPECT_EQ(platform->events, expected);
  EXPECT_NE(std::find(platform->trace.begin(), platform->trace.end(),
                      "box Screen change: game ending, restart game"),
            platform->trace.end());
}

TEST_F(RuntimeTest, TheCrashHandlerWatchesWhileTheProgramRuns) {
  struct sigaction before {};
  sigaction(SIGSEGV, nullptr, &before);
  Make("12 1 0 0\n");
  Run();
  ASSERT_EQ(platform->faultActions.size(), 4u);
  // Installed before the start event, the same through the end event, gone afterwards.
  for (void* action : platform->faultActions) {
    EXPECT_NE(action, reinterpret_cast<void*>(before.sa_sigaction));
    EXPECT_EQ(action, platform->faultActions[0]);
  }
  struct sigaction after {};
  sigaction(SIGSEGV, nullptr, &after);
  EXPECT_EQ(reinterpret_cast<void*>(after.sa_sigaction),
            reinterpret_cast<void*>(before.sa_sigaction));
}

TEST(Folders, ProgramAndDataFolders) {
  EXPECT_EQ(ProgramFolderOf("/opt/games/Puzzles/orvo"), "/opt/games/Puzzles/");
  EXPECT_EQ(ProgramFolderOf("orvo"), "./");
  const fs::path docs = fs::temp_directory_path() / ("orvo-docs-" + std::to_string(::getpid()));
  fs::remove_all(docs);
  EXPECT_EQ(DataFolderFor("/opt/Games/Puzzles/", docs.string()), docs.string() + "/Games/Puzzles/");
  EXPECT_TRUE(fs::is_directory(docs / "Games" / "Puzzles"));
  EXPECT_EQ(DataFolderFor("/Puzzles/", docs.string() + "/"), docs.string() + "/Puzzles/");
  EXPECT_EQ(DataFolderFor("/opt/Games/Puzzles/", ""), "/opt/Games/Puzzles/");
  fs::remove_all(docs);
}

// Whatever form a folder is typed in, it comes out absolute, with one '/' at the end and
// no "." or empty components, and unchanged when normalised again.
TEST(Folders, AbsoluteFolderNormalisesEveryForm) {
  const fs::path here = fs::canonical(fs::current_path());
  for (const std::string& typed :
       {std::string(""), std::string("."), std::string("./"), std::string("sub//deeper/."),
        std::string("sub/../other/"), std::string("/"), std::string("//tmp//"),
        here.string() + "/./missing//"}) {
    SCOPED_TRACE(typed);
    const std::string folder = AbsoluteFolder(typed);
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.front(), '/');
    EXPECT_EQ(folder.back(), '/');
    EXPECT_TRUE(folder.size() == 1 || folder[folder.size() - 2] != '/');
    EXPECT_EQ(folder.find("//"), std::string::npos);
    EXPECT_EQ(folder.find("/./"), std::string::npos);
    EXPECT_EQ(folder.find("/../"), std::string::npos);
    EXPECT_EQ(AbsoluteFolder(folder), folder);
    if (typed.empty() || typed[0] != '/') {
      EXPECT_EQ(folder.rfind(here.string(), 0), 0u);
    }
  }
}

}  // namespace
}  // namespace orvo::host

#include "host/window_requests.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/headless/headless_platform.h"
#include "tests/vm/vm_test_support.h"

namespace orvo::host {
namespace {

using vm::Load32;
using vm::Store32;

constexpr uint32_t kArgs = 0x800;    // argument words of the request
constexpr uint32_t kRecord = 0x900;  // event or placement record
constexpr uint32_t kBuffer = 0xA00;

class WindowRequests : public ::testing::Test {
 protected:
  vm::test::Vm vm;
  platform::HeadlessPlatform platform{{}};
  HostState host;
  EventQueue queue;
  WindowContext w{platform.Parts(), host, queue};

  void SetUp() override {
    vm::test::Image image;
    image.zeroSize = 0x1000;
    image.Code(vm::test::Efr(0));
    ASSERT_TRUE(vm.Load(image));
    AddWindowRequests(vm.m.requests, w);
    Store32(vm.m.mem + vm::HDR_RESULT, 0xEEEEEEEE);
  }
  uint32_t Request(uint32_t row, std::initializer_list<uint32_t> args) {
    uint32_t at = kArgs;
    for (uint32_t a : args) Store32(vm.m.mem + (at += 4) - 4, a);
    vm::RunRequest(vm.m, 0x700 | row, kArgs);
    return vm.Word(vm::HDR_RESULT);
  }
  void Put(uint32_t addr, const std::string& text) {
    std::memcpy(vm.m.mem + addr, text.c_str(), text.size() + 1);
  }
  std::string Str(uint32_t addr) const { return reinterpret_cast<const char*>(vm.m.mem + addr); }
  std::vector<int32_t> Codes() {
    std::vector<int32_t> codes;
    for (uint32_t i = queue.read; i != queue.write; i = (i + 1) % host::EVENT_QUEUE_SIZE)
      codes.push_back(queue.entries[i].code);
    return codes;
  }
};

TEST_F(WindowRequests, LineBreakText) {
  EXPECT_EQ(Request(1, {kBuffer, 3}), 2u);
  EXPECT_EQ(std::memcmp(vm.m.mem + kBuffer, "\r\n", 3), 0);
  std::memset(vm.m.mem + kBuffer, 'x', 3);
  Store32(vm.m.mem + vm::HDR_RESULT, 0);
  EXPECT_EQ(Request(1, {kBuffer, 2}), 2u);
  EXPECT_EQ(vm.m.mem[kBuffer], 'x');
  EXPECT_EQ(vm.hooks.messages, std::vector<std::string>{"GetEOL: buffer too small"});
}

TEST_F(WindowRequests, TakeNextPressSkipsMovesAndTicks) {
  for (const Event& e :
       std::vector<Event>{{15, 1, 2, 0}, {11, 0, 0, 0}, {15, 3, 4, 0}, {12, 65, 1, 0}})
    host::PostEvent(queue, e);
  Store32(vm.m.mem + kRecord, 0);  // keep the press
  EXPECT_EQ(Request(3, {kRecord}), 1u);
  EXPECT_EQ(vm.Word(kRecord), 12u);
  EXPECT_EQ(vm.Word(kRecord + 4), 65u);
  EXPECT_EQ(Codes(), std::vector<int32_t>{12});
  Store32(vm.m.mem + kRecord, 1);  // take it
  EXPECT_EQ(Request(3, {kRecord}), 1u);
  EXPECT_TRUE(queue.Empty());
}

TEST_F(WindowRequests, LatestMoveWinsAndStopsAtAPress) {
  for (const Event& e :
       std::vector<Event>{{15, 1, 2, 0}, {11, 0, 0, 0}, {15, 3, 4, 9}, {13, 1, 0, 0}})
    host::PostEvent(queue, e);
  EXPECT_EQ(Request(4, {kRecord}), 1u);
  EXPECT_EQ(vm.Word(kRecord), 15u);
  EXPECT_EQ(vm.Word(kRecord + 4), 3u);
  EXPECT_EQ(vm.Word(kRecord + 12), 9u);
  EXPECT_EQ(Codes(), std::vector<int32_t>{13});
}

TEST_F(WindowRequests, PollingStopsAtOtherEvents) {
  host::PostEvent(queue, {5, 1, 0, 0});
  host::PostEvent(queue, {12, 1, 0, 0});
  Store32(vm.m.mem + kRecord, 1);
  EXPECT_EQ(Request(3, {kRecord}), 0u);
  EXPECT_EQ(vm.Word(kRecord), 0u);
  EXPECT_EQ(Request(4, {kRecord}), 0u);
  EXPECT_EQ(Codes(), (std::vector<int32_t>{5, 12}));
}

TEST_F(WindowRequests, ClipboardRoundTripAndTextThatDoesNotFit) {
  Put(kBuffer, "hello wörld");
  Request(6, {kBuffer});
  EXPECT_EQ(platform.shell.GetClipboardText(), "hello wörld");
  Put(kBuffer + 0x100, "unchanged");
  Request(5, {kBuffer + 0x100, 64});
  EXPECT_EQ(Str(kBuffer + 0x100), "hello wörld");

  platform.shell.SetClipboardText("0123456789");  // ten characters and the terminator
  Put(kBuffer, "old");
  Request(5, {kBuffer, 10});
  EXPECT_EQ(Str(kBuffer), "");
  Request(5, {kBuffer, 12});
  EXPECT_EQ(Str(kBuffer), "0123456789");
}

TEST_F(WindowRequests, PlacementReadRewritesMinimizedStates) {
  Store32(vm.m.mem + kRecord + 16, 77);
  Request(8, {kRecord});
  EXPECT_EQ(vm.Word(kRecord + 16), 1u);  // no window yet

  platform.window.CreateWindow("t", 10, 20, 300, 200);
  platform.window.SetPlacement({{10, 20, 300, 200}, platform::SW_MINIMIZE});
  Request(8, {kRecord});
  EXPECT_EQ(vm.Word(kRecord), 10u);
  EXPECT_EQ(vm.Word(kRecord + 8), 300u);
  EXPECT_EQ(vm.Word(kRecord + 16), 9u);
  platform.window.SetPlacement({{10, 20, 300, 200}, platform::SW_SHOWMINIMIZED});
  Request(8, {kRecord});
  EXPECT_EQ(vm.Word(kRecord + 16), 1u);
}

TEST_F(WindowRequests, PlacementWriteAndRestore) {
  platform.window.CreateWindow("t", 0, 0, 640, 480);
  const int32_t words[5] = {-5, 40, 800, 600, 3};
  for (int i = 0; i < 5; ++i) Store32(vm.m.mem + kRecord + 4 * i, static_cast<uint32_t>(words[i]));
  Request(9, {kRecord});
  platform::Placement p = platform.window.GetPlacement();
  EXPECT_EQ(p.normal.x, -5);
  EXPECT_EQ(p.normal.height, 600);
  EXPECT_EQ(p.showState, 3);
  EXPECT_EQ(host.showMode, 3);
  EXPECT_FALSE(host.placementInProgress);

  for (int i = 0; i < 5; ++i) Store32(vm.m.mem + kRecord + 4 * i, 0);
  Request(9, {kRecord});
  p = platform.window.GetPlacement();
  EXPECT_EQ(p.showState, platform::SW_SHOWNORMAL);
  EXPECT_EQ(p.normal.width, 800);
}

TEST_F(WindowRequests, SizesFoldersAndNames) {
  host.displayWidth = 1920, host.displayHeight = 1080;
  host.clientWidth = 640, host.clientHeight = 480;
  host.desktopWidth = 3840, host.desktopHeight = 1080;
  host.folders = {"/games/Puzzles/", "/home/u/Documents/games/Puzzles/"};
  Request(2, {});
  EXPECT_EQ(vm.Quad(vm::HDR_RESULT), (uint64_t{1080} << 32) | 1920);
  Request(10, {});
  EXPECT_EQ(vm.Quad(vm::HDR_RESULT), (uint64_t{480} << 32) | 640);
  Request(18, {});
  EXPECT_EQ(vm.Quad(vm::HDR_RESULT), (uint64_t{1080} << 32) | 3840);
  Request(12, {kBuffer});
  EXPECT_EQ(Str(kBuffer), "/home/u/Documents/games/Puzzles/");
  Request(13, {kBuffer});
  EXPECT_EQ(Str(kBuffer), "/games/Puzzles/");
  Request(15, {kBuffer});
  EXPECT_EQ(Str(kBuffer), "Ctrl");

  const uint32_t version = Request(14, {kBuffer});
  const std::string line = Str(kBuffer);
  EXPECT_EQ(line.rfind("ORVO 6.0 - ", 0), 0u) << line;
  EXPECT_NE(line.find(" Version:"), std::string::npos);
  std::string expected;
  EXPECT_EQ(version, VersionLine(expected));
  EXPECT_EQ(line, expected);
}

TEST_F(WindowRequests, CopiesStopAtTheEndOfMemory) {
  host.folders.data = std::string(100, 'd') + "/";
  const uint32_t nearEnd = vm.m.memSize - 10;
  Request(12, {nearEnd});
  EXPECT_EQ(Str(nearEnd), std::string(9, 'd'));
  EXPECT_TRUE(vm.hooks.messages.empty());
  Request(13, {vm.m.memSize + 4});
  ASSERT_EQ(vm.hooks.messages.size(), 1u);
  EXPECT_NE(vm.hooks.messages[0].find("Bad memory address"), std::string::npos);
}

TEST_F(WindowRequests, TitleCursorAndCapture) {
  std::string title;
  for (int i = 0; i < 600; ++i) title += "é";
  Put(kBuffer, title);
  Request(11, {kBuffer});
  EXPECT_EQ(platform.window.Title(), title.substr(0, 511 * 2));

  Request(16, {0x10001});  // low 16 bits: the hourglass
  EXPECT_EQ(platform.window.Cursor(), platform::CURSOR_WAIT);
  platform.window.SetCursor(platform::CURSOR_ARROW);
  Request(16, {1});  // already applied: nothing happens
  EXPECT_EQ(platform.window.Cursor(), platform::CURSOR_ARROW);
  host.cursorShape = -1;  // a mouse move forgets it
  Request(16, {1});
  EXPECT_EQ(platform.window.Cursor(), platform::CURSOR_WAIT);
  Request(16, {7});
  EXPECT_EQ(platform.window.Cursor(), platform::CURSOR_ARROW);

  Request(7, {1});
  EXPECT_TRUE(platform.window.Captured());
  Request(7, {0});
  EXPECT_FALSE(platform.window.Captured());
}

TEST_F(WindowRequests, KeyStateIsSignExtended) {
  host.keys['A'] = 0x8001;
  EXPECT_EQ(static_cast<int32_t>(Request(19, {'A'})), -32767);
  host.keys['B'] = 1;
  EXPECT_EQ(Request(19, {'B'}), 1u);
  EXPECT_EQ(Request(19, {'C'}), 0u);
}

TEST_F(WindowRequests, UnknownRowsAndBadArguments) {
  Request(20, {});
  ASSERT_EQ(vm.hooks.messages.size(), 1u);
  EXPECT_NE(vm.hooks.messages[0].find("Unknown SYS command"), std::string::npos);
  vm::RunRequest(vm.m, 0x706, vm.m.memSize - 2);  // the argument word itself is outside
  ASSERT_EQ(vm.hooks.messages.size(), 2u);
  EXPECT_NE(vm.hooks.messages[1].find("Bad memory address"), std::string::npos);
}

}  // namespace
}  // namespace orvo::host

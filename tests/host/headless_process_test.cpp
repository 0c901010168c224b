// Runs orvo-headless as a process on images written to temporary folders.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/vm/vm_test_support.h"
#include "vm/decode.h"

namespace orvo::host {
namespace {

namespace fs = std::filesystem;
using namespace vm;
using namespace vm::test;

constexpr uint32_t kLog = 0x1000;  // zero-initialised: count, then (code, a1) pairs

// An image that records every event it receives and ends itself on event 20; event 21
// writes a debug line, event 22 runs an illegal opcode, event 23 starts a 10 ms timer.
Image RecorderImage(uint32_t* illegalAt = nullptr) {
  Image image;
  image.zeroSize = 0x4000;
  image.Code(Sfvr(0, 0), Two(OP2_MOV, D, 17, 1, 12), Two(OP2_MOV, D, 17, 3, 16),
             Two(OP2_MOV, D, 26, 2, 0), kLog, Two(OP2_LSH, D, 30, 2, 3),
             Two(OP2_MOV, D, 2, 2, 1), kLog + 4, Two(OP2_MOV, D, 2, 2, 3), kLog + 8,
             Two(OP2_ADD, D, 29, 1, 0), kLog);
  auto onCode = [&](uint32_t code, std::vector<uint32_t> action) {
    image.Code(Two(OP2_CMP, D, 22, 1, 0), code);
    const uint32_t skip = image.Code(Lj(1, 0));
    const uint32_t start = image.Here();
    for (uint32_t w : action) image.Emit(w);
    image.Patch(skip, Lj(1, image.Here()));
    return start;
  };
  const uint32_t text = 0x3000;  // filled in below, after the code
  const uint32_t timerRequest = 0x3040;
  onCode(20, {TERM});
  onCode(21, {Two(OP2_MOV, D, 22, 15, 0), text, DBG});
  const uint32_t illegal = onCode(22, {4});
  if (illegalAt) *illegalAt = illegal;
  onCode(23, {Two(OP2_MOV, D, 22, 15, 0), timerRequest, SYS});
  image.Code(Efr(0));
  image.bytes.resize(text, 0);
  image.Text("line one\n");
  image.bytes.resize(timerRequest, 0);
  image.Code(512, 10);
  return image;
}

// An image that on its first event opens "save.dat" with truncation, writes "new save" and
// ends itself without closing the file.
Image RewriterImage() {
  Image image;
  const uint32_t openRequest = 0x400, writeRequest = 0x410, name = 0x430, text = 0x440;
  image.Code(Sfvr(0, 0), Two(OP2_MOV, D, 17, 1, 12), Two(OP2_CMP, D, 22, 1, 0), 1);
  const uint32_t skip = image.Code(Lj(1, 0));
  image.Code(Two(OP2_MOV, D, 22, 15, 0), openRequest, SYS, Two(OP2_MOV, D, 25, 14, 0),
             writeRequest + 4, Two(OP2_MOV, D, 22, 15, 0), writeRequest, SYS, TERM);
  image.Patch(skip, Lj(1, image.Here()));
  image.Code(Efr(0));
  image.bytes.resize(openRequest, 0);
  image.Code(0, name, 0x8302);  // binary, create, truncate, read-write
  image.bytes.resize(writeRequest, 0);
  image.Code(3, 0, text, 8);
  image.bytes.resize(name, 0);
  image.Text("save.dat");
  image.bytes.resize(text, 0);
  image.Text("new save");
  return image;
}

struct Result {
  int exitCode = -1;
  std::string out;
  std::vector<uint8_t> memory;
  std::vector<std::pair<int32_t, int32_t>> events;  // from the dump
};

class Headless : public ::testing::Test {
 protected:
  fs::path dir;
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("orvo-headless-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir / "game");
    fs::create_directories(dir / "data");
  }
  void TearDown() override { fs::remove_all(dir); }

  void WriteImage(const Image& image, const fs::path& folder) {
    std::vector<uint8_t> bytes = image.Build();
    std::ofstream(folder / "main.ove", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  Result Run(const std::string& script, const std::string& extra = "") {
    std::ofstream(dir / "events.txt") << script;
    const fs::path dump = dir / "memory.bin";
    fs::remove(dump);
    std::string cmd = std::string(ORVO_HEADLESS) + " --data " + (dir / "data").string() +
                      " --events " + (dir / "events.txt").string() + " --dump-memory " +
                      dump.string() + " " + extra + " " + (dir / "game").string();
    Result r;
    FILE* p = popen(cmd.c_str(), "r");
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int status = pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(dump, std::ios::binary);
    r.memory.assign(std::istreambuf_iterator<char>(in), {});
    if (r.memory.size() > kLog + 4) {
      const uint32_t count = Load32(r.memory.data() + kLog);
      for (uint32_t i = 0; i < count && kLog + 12 + 8 * i <= r.memory.size(); ++i)
        r.events.emplace_back(static_cast<int32_t>(Load32(r.memory.data() + kLog + 4 + 8 * i)),
                              static_cast<int32_t>(Load32(r.memory.data() + kLog + 8 + 8 * i)));
    }
    return r;
  }
  static std::vector<int32_t> Codes(const Result& r) {
    std::vector<int32_t> codes;
    for (auto& e : r.events) codes.push_back(e.first);
    return codes;
  }
};

TEST_F(Headless, DeliversStartScriptAndEndInOrder) {
  WriteImage(RecorderImage(), dir / "game");
  // The burst 12, 3, 13: event 3 goes directly, before the queued ones.
  Result r = Run("12 65 1 0\n3 7\n13 0x41\nwait 1\n15 -2 5 0\n");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Codes(r), (std::vector<int32_t>{1, 2, 3, 12, 13, 15, 4}));
  EXPECT_EQ(r.events[2].second, 7);
  EXPECT_EQ(r.events[4].second, 0x41);
  EXPECT_EQ(r.events[5].second, -2);
}

TEST_F(Headless, TermEndsTheRunAfterTheEndEvent) {
  WriteImage(RecorderImage(), dir / "game");
  Result r = Run("12\n20\n13\n30\n");
  EXPECT_EQ(r.exitCode, 0);
  // After the program asked to end, only event 4 reaches it.
  EXPECT_EQ(Codes(r), (std::vector<int32_t>{1, 2, 12, 20, 4}));
}

TEST_F(Headless, MessagesAreEscapedLines) {
  uint32_t illegalAt = 0;
  WriteImage(RecorderImage(&illegalAt), dir / "game");
  Result r = Run("22\n12\n");
  EXPECT_EQ(r.exitCode, 3);  // the game was stopped by a fault
  char expected[128];
  std::snprintf(expected, sizeof expected,
                "!: Illegal opcode at 0x%08X\\nTerminating program. So terribly sorry.\n",
                illegalAt);
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(Codes(r), (std::vector<int32_t>{1, 2, 22, 4}));
}

TEST_F(Headless, FullQueueDropsTheOverflow) {
  WriteImage(RecorderImage(), dir / "game");
  std::string burst;
  for (int i = 0; i < 1100; ++i) burst += "12 " + std::to_string(i) + "\n";
  Result r = Run(burst);
  EXPECT_EQ(r.events.size(), 2u + 1023u + 1u);
  EXPECT_EQ(r.events[2 + 1022].second, 1022);
}

TEST_F(Headless, DebugLogIsWrittenInTheDataFolder) {
  WriteImage(RecorderImage(), dir / "game");
  Result r = Run("21\n21\n");
  std::ifstream in(dir / "data" / "debug.log", std::ios::binary);
  std::stringstream log;
  log << in.rdbuf();
  EXPECT_EQ(log.str(), "line one\nline one\n");
  EXPECT_FALSE(fs::exists(dir / "game" / "debug.log"));
}

// A log shipped with the game is the start of the user's log, as for any file written.
TEST_F(Headless, DebugLinesFollowAShippedLog) {
  WriteImage(RecorderImage(), dir / "game");
  std::ofstream(dir / "game" / "debug.log", std::ios::binary) << "shipped header\n";
  Run("21\n");
  std::ifstream in(dir / "data" / "debug.log", std::ios::binary);
  std::stringstream log;
  log << in.rdbuf();
  EXPECT_EQ(log.str(), "shipped header\nline one\n");
}

TEST_F(Headless, StartUpRemovesTemporaryFilesOfWritersThatAreGone) {
  WriteImage(RecorderImage(), dir / "game");
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  const fs::path stale = dir / "data" / "saves" / (".orvo-" + std::to_string(gone) + "-4.tmp");
  const fs::path live = dir / "data" / (".orvo-" + std::to_string(getpid()) + "-0.tmp");
  fs::create_directories(stale.parent_path());
  std::ofstream(stale) << "partial";
  std::ofstream(live) << "partial";
  Run("");
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(live));
}

// What the program rewrote and never closed is kept when the runtime ends in order.
TEST_F(Headless, ARewriteLeftOpenIsKeptAtTheEnd) {
  WriteImage(RewriterImage(), dir / "game");
  std::ofstream(dir / "data" / "save.dat") << "the previous save";
  Result r = Run("");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  std::ifstream in(dir / "data" / "save.dat", std::ios::binary);
  std::stringstream saved;
  saved << in.rdbuf();
  EXPECT_EQ(saved.str(), "new save");
  for (const auto& e : fs::directory_iterator(dir / "data"))
    EXPECT_NE(e.path().extension(), ".tmp") << e.path();
}

TEST_F(Headless, StartOptionAndTimerTicks) {
  WriteImage(RecorderImage(), dir / "game");
  Result r = Run("23\nuntil 11 5000\n", "--eh");
  ASSERT_GT(r.memory.size(), 200u);
  EXPECT_EQ(r.memory[HDR_START_OPTIONS] & 1, 1);
  std::vector<int32_t> codes = Codes(r);
  ASSERT_EQ(codes.size(), 5u);
  EXPECT_EQ(codes[3], 11);  // stopped waiting at the first tick
}

// On the script's time a wait of a second holds exactly the ticks of a 10 ms timer due
// before its end (the one due at the very end comes after the script's next line), every
// run the same, and a ten-minute wait takes no time at all.
TEST_F(Headless, ScriptClockRunsTheTimerOnTheScriptsTime) {
  WriteImage(RecorderImage(), dir / "game");
  const std::string script = "23\nwait 1000\n20\n";
  Result first = Run(script, "--script-clock");
  Result second = Run(script, "--script-clock 2031-05-06T07:08:09");
  ASSERT_EQ(first.exitCode, 0) << first.out;
  const std::vector<int32_t> codes = Codes(first);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 11), 1000 / 10 - 1);
  EXPECT_EQ(first.memory, second.memory);
  // Without a timer running, the clock jumps to the end of the wait.
  Result idle = Run("wait 600000\n20\n", "--script-clock");
  EXPECT_EQ(idle.exitCode, 0) << idle.out;
}

TEST_F(Headless, ScriptClockRefusesADateThatIsNone) {
  WriteImage(RecorderImage(), dir / "game");
  for (const char* date : {"2031-02-30", "2031-13-01", "1969-12-31", "2031-1-1"}) {
    Result r = Run("", std::string("--script-clock ") + date);
    EXPECT_EQ(r.exitCode, 2) << date;
  }
}

TEST_F(Headless, ImageInTheDataFolderWins) {
  Image quiet = RecorderImage();
  WriteImage(quiet, dir / "data");
  Image broken;
  broken.Code(4);
  WriteImage(broken, dir / "game");
  Result r = Run("");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Codes(r), (std::vector<int32_t>{1, 2, 4}));
}

TEST_F(Headless, FatalErrorsExitWithOne) {
  Result missing = Run("");
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.out, "!: MAIN.OVE file not found\n");

  Image tiny = RecorderImage();
  tiny.stackSize = 50;
  WriteImage(tiny, dir / "game");
  Result noStack = Run("");
  EXPECT_EQ(noStack.exitCode, 1);
  EXPECT_EQ(noStack.out, "!: Out of stack\n");
}

}  // namespace
}  // namespace orvo::host

// Starts the real orvo-headless the way users and CI jobs do: from some current folder,
// with the folders as typed, and judged by its exit status and its two output streams.
// Every run is bounded by timeout(1), so a start that hangs fails instead of stalling.
#include <gtest/gtest.h>
#include <sys/stat.h>
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

// Zero-initialised buffers of the folder image.
constexpr uint32_t kDataBuffer = 0x1000, kProgramBuffer = 0x1800;
constexpr uint32_t kDataFolderRequest = 0x70C, kProgramFolderRequest = 0x70D;

// On every event: both folders into their buffers, and the data folder into debug.log.
Image FolderImage() {
  Image image;
  image.zeroSize = 0x2000;
  image.Code(Sfvr(0, 0), Two(OP2_MOV, D, 22, 15, 0), 0, SYS, Two(OP2_MOV, D, 22, 15, 0), 0, SYS,
             Two(OP2_MOV, D, 22, 15, 0), kDataBuffer, DBG, Efr(0));
  image.Patch(512 + 8, image.Code(kDataFolderRequest, kDataBuffer));
  image.Patch(512 + 20, image.Code(kProgramFolderRequest, kProgramBuffer));
  return image;
}

struct Finished {
  int status = -1;  // -1: not a normal exit
  std::string out, err;
  std::vector<uint8_t> memory;

  std::string StringAt(uint32_t address) const {
    if (address >= memory.size()) return {};
    return std::string(reinterpret_cast<const char*>(memory.data() + address));
  }
};

std::string Quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class Startup : public ::testing::Test {
 protected:
  fs::path dir;
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("orvo-startup-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir / "game");
    dir = fs::canonical(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  static void Write(const fs::path& file, const std::vector<uint8_t>& bytes) {
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

  // orvo-headless ARGS started in cwd, with an empty event script and the memory dumped.
  Finished Start(const fs::path& cwd, const std::vector<std::string>& args) {
    const fs::path dump = dir / "memory.bin", err = dir / "stderr.txt";
    fs::remove(dump);
    std::ofstream(dir / "events.txt") << "";
    std::string cmd = "cd " + Quoted(cwd) + " && exec timeout -s KILL 30 " + ORVO_HEADLESS +
                      " --events " + Quoted(dir / "events.txt") + " --dump-memory " + Quoted(dump);
    for (const std::string& a : args) cmd += " " + Quoted(a);
    cmd += " 2>" + Quoted(err);
    Finished r;
    FILE* p = popen(cmd.c_str(), "r");
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = ReadAll(err);
    const std::string memory = ReadAll(dump);
    r.memory.assign(memory.begin(), memory.end());
    return r;
  }
};

// However the two folders are typed and wherever the runtime is started from, the game
// is told the same absolute folders, each ending in one '/'.
TEST_F(Startup, FoldersAreAbsoluteWhateverTheyAreTypedAs) {
  Write(dir / "game" / "main.ove", FolderImage().Build());
  fs::create_directories(dir / "data");
  fs::create_directories(dir / "elsewhere" / "deeper");
  struct Case {
    fs::path cwd;
    std::string game, data;
    fs::path dataFolder;  // where the data folder is meant to be
  };
  const std::vector<Case> cases = {
      {dir, "game", "data", dir / "data"},
      {dir, "game/", "data/", dir / "data"},
      {dir, "game//", "data//", dir / "data"},
      {dir, "game/.", "./data/.", dir / "data"},
      {dir / "elsewhere", "../game", "../data", dir / "data"},
      {dir / "elsewhere" / "deeper", "../../elsewhere/../game/", "../../data", dir / "data"},
      // Not there yet: made with its parents.
      {dir / "elsewhere", "../game", "fresh/one/", dir / "elsewhere" / "fresh" / "one"},
      {dir, (dir / "game").string(), (dir / "new" / "nested").string(), dir / "new" / "nested"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cwd.string() + ": " + c.game + " --data " + c.data);
    fs::remove(c.dataFolder / "debug.log");
    const Finished r = Start(c.cwd, {"--data", c.data, c.game});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::string data = c.dataFolder.string() + "/";
    EXPECT_EQ(r.StringAt(kDataBuffer), data);
    EXPECT_EQ(r.StringAt(kProgramBuffer), (dir / "game").string() + "/");
    // The debug log went where the game was told its data folder is.
    EXPECT_EQ(ReadAll(c.dataFolder / "debug.log").rfind(data, 0), 0u);
  }
}

TEST_F(Startup, WithoutDataTheDataFolderIsTheAbsoluteGameFolder) {
  Write(dir / "game" / "main.ove", FolderImage().Build());
  const Finished r = Start(dir / "game", {"."});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.StringAt(kDataBuffer), (dir / "game").string() + "/");
  EXPECT_EQ(r.StringAt(kProgramBuffer), (dir / "game").string() + "/");
}

// A data folder that cannot be made is said once on stderr; the game still runs.
TEST_F(Startup, ADataFolderThatCannotBeMadeIsSaid) {
  Write(dir / "game" / "main.ove", FolderImage().Build());
  std::ofstream(dir / "plain") << "a file, not a folder";
  const Finished r = Start(dir, {"--data", "plain/data", "game"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
  EXPECT_NE(r.err.find((dir / "plain" / "data").string()), std::string::npos) << r.err;
}

// The exit status tells how the game ended: 0 ended, 1 fatal runtime error, 2 usage,
// 3 the game stopped by a fault of its own.
TEST_F(Startup, TheExitStatusTellsHowTheGameEnded) {
  auto image = [](auto... code) {
    Image i;
    i.Code(Sfvr(0, 0), code..., Efr(0));
    return i;
  };
  Image noStack = image(NOP);
  noStack.stackSize = 50;
  struct Case {
    const char* what;
    Image image;
    int status;
  };
  const std::vector<Case> cases = {
      {"ends itself", image(TERM), 0},
      {"returns from every event", image(NOP), 0},
      {"out of stack", noStack, 1},
      {"illegal opcode", image(4u), 3},
      {"divide by zero", image(Two(OP2_DIVI, D, 28, 1, 2)), 3},
      {"sys request outside memory", image(Two(OP2_MOV, D, 22, 15, 0), 0xFFFFFF00u, SYS), 3},
      {"service buffer outside memory",
       image(Two(OP2_MOV, D, 22, 15, 0), 0x800u, SYS), 3},  // request below, buffer beyond
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> bytes = c.image.Build();
    bytes.resize(std::max<size_t>(bytes.size(), 0x808), 0);
    Store32(bytes.data() + 224, static_cast<uint32_t>(bytes.size()));
    Store32(bytes.data() + 0x800, kDataFolderRequest);
    Store32(bytes.data() + 0x804, 0xFFFFFF00u);
    Write(dir / "game" / "main.ove", bytes);
    const Finished r = Start(dir, {"game"});
    EXPECT_EQ(r.status, c.status) << r.out;
    // A fault always has its message.
    if (c.status == 3) {
      EXPECT_EQ(r.out.rfind("!: ", 0), 0u) << r.out;
    }
  }
  EXPECT_EQ(Start(dir, {"--no-such-option", "game"}).status, 2);
  EXPECT_EQ(Start(dir, {}).status, 2);
}

// A start that fails always says why: in the message, or for the one failure that shows
// none (a file that breaks off), in one line on stderr naming the file.
TEST_F(Startup, ATruncatedImageIsNeverSilent) {
  const std::vector<uint8_t> whole = FolderImage().Build();
  for (size_t length : {size_t{0}, size_t{100}, size_t{511}, size_t{512}, size_t{513},
                        whole.size() / 2 + 256, whole.size() - 1}) {
    SCOPED_TRACE(length);
    Write(dir / "game" / "main.ove", std::vector<uint8_t>(whole.begin(), whole.begin() + length));
    const Finished r = Start(dir, {"game"});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(r.out.empty() && r.err.empty());
    if (length >= 512) {
      EXPECT_EQ(r.out, "");  // the message box stays silent about it
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
      EXPECT_NE(r.err.find((dir / "game" / "main.ove").string()), std::string::npos) << r.err;
    }
  }
}

// A main.ove that is not a regular file is passed over as if absent; a FIFO must not
// make the start wait for a writer.
TEST_F(Startup, OnlyARegularMainOveIsOpened) {
  fs::create_directories(dir / "data");
  ASSERT_EQ(mkfifo((dir / "game" / "main.ove").c_str(), 0600), 0);
  const Finished absent = Start(dir, {"--data", "data", "game"});
  EXPECT_EQ(absent.status, 1);
  EXPECT_EQ(absent.out, "!: MAIN.OVE file not found\n");

  // The user's copy is a FIFO: the installed image runs.
  fs::remove(dir / "game" / "main.ove");
  Write(dir / "game" / "main.ove", FolderImage().Build());
  ASSERT_EQ(mkfifo((dir / "data" / "main.ove").c_str(), 0600), 0);
  const Finished installed = Start(dir, {"--data", "data", "game"});
  EXPECT_EQ(installed.status, 0);
  EXPECT_EQ(installed.StringAt(kProgramBuffer), (dir / "game").string() + "/");

  // Nor is a folder of that name opened.
  fs::remove(dir / "data" / "main.ove");
  fs::create_directories(dir / "data" / "main.ove");
  EXPECT_EQ(Start(dir, {"--data", "data", "game"}).status, 0);
}

}  // namespace
}  // namespace orvo::host

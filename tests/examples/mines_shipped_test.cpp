// Mines shipped as players get it: packed by orvo-pack as a game archive run with
// "orvo mines.orvo", and as one executable copied elsewhere under another name and started
// in a clean environment (no variables but the display and home, an empty library path,
// another current folder). Each runs in the real window on a private Xvfb: a screenshot
// of the window read back from the X server, a click that opens the field, the close
// button; the game's settings land in the data folder its manifest names.
#if ORVO_EXAMPLES_X11

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/examples/mines_support.h"
#include "tests/platform/x_client.h"
#include "tests/platform/xvfb.h"

namespace orvo::examples {
namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t BAR = 0xC6C6C6;

class MinesShipped : public ::testing::Test {
 protected:
  TempFolder tmp;
  fs::path home, log;
  pid_t pid = -1;
  std::unique_ptr<platform::test::XConnection> x;

  void SetUp() override {
    if (std::string(ORVO_PLAYER).empty()) GTEST_SKIP() << "orvo-player was not built";
    if (orvo::test::XServer::Ensure(orvo::test::XServer::kPrivate).empty())
      GTEST_SKIP() << "no X server (Xvfb) could be started";
    home = tmp.path / "home";
    log = tmp.path / "orvo.log";
    fs::create_directories(home);
    x = std::make_unique<platform::test::XConnection>();
    ASSERT_NE(x->display, nullptr);
  }
  void TearDown() override {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }

  void Pack(const std::string& options) {
    const std::string command = std::string(ORVO_PACK) + " '" + ORVO_EXAMPLE_GAMES +
                                "/mines' --runtime " + ORVO_PLAYER + " " + options + " 2>&1";
    int rc = 0;
    const std::string out = platform::test::ShellOutput(command, &rc);
    ASSERT_EQ(rc, 0) << command << "\n" << out;
  }

  // Starts program with only these variables, from folder.
  void Start(const std::vector<std::string>& argv, std::vector<std::string> env,
             const fs::path& folder) {
    std::vector<char*> args, envp;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (std::string& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);
    pid = StartLogged(args.data(), envp.data(), folder, log);
    ASSERT_GE(pid, 0);
  }

  int WaitForExit(int ms) { return examples::WaitForExit(pid, ms); }

  std::vector<uint32_t> Screenshot(Window w, int& width, int& height) {
    XWindowAttributes a{};
    if (!XGetWindowAttributes(x->display, w, &a)) return {};
    width = a.width;
    height = a.height;
    return platform::test::ReadWindow(x->display, w, 0, 0, a.width, a.height);
  }

  // The window shows the game; a click in its middle opens the field; closing ends it.
  void PlayOneClick() {
    const Window w = platform::test::FindWindow("^Mines", 30);
    ASSERT_NE(w, 0u) << ReadFile(log);
    int width = 0, height = 0;
    std::vector<uint32_t> before;
    for (auto end = Clock::now() + std::chrono::seconds(15); Clock::now() < end;) {
      before = Screenshot(w, width, height);
      if (before.size() > 30u * width && (before[30u * width + 12] & 0xFFFFFF) == BAR) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    ASSERT_EQ(before.size(), static_cast<size_t>(width) * height);
    ASSERT_EQ(before[30u * width + 12] & 0xFFFFFF, BAR) << ReadFile(log);
    ASSERT_EQ(platform::test::Shell("xdotool mousemove --window " + std::to_string(w) + " " +
                                    std::to_string(width / 2) + " " + std::to_string(height / 2) +
                                    " click 1"),
              0);
    int changed = 0;
    for (auto end = Clock::now() + std::chrono::seconds(15); Clock::now() < end && !changed;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
      int w2 = 0, h2 = 0;
      const std::vector<uint32_t> after = Screenshot(w, w2, h2);
      if (after.size() != before.size()) continue;
      for (size_t i = 0; i < after.size(); ++i) changed += (after[i] ^ before[i]) & 0xFFFFFF ? 1 : 0;
    }
    EXPECT_GT(changed, 0) << "the click opened nothing\n" << ReadFile(log);
    platform::test::SendClose(x->display, w);
    EXPECT_EQ(WaitForExit(20000), 0) << ReadFile(log);
  }

  std::vector<std::string> CleanEnvironment() {
    return {"DISPLAY=" + std::string(std::getenv("DISPLAY")), "HOME=" + home.string(),
            "LD_LIBRARY_PATH=", "ASAN_OPTIONS=detect_leaks=0"};
  }
};

TEST_F(MinesShipped, ArchiveRunsWithTheRuntime) {
  const fs::path archive = tmp.path / "mines.orvo";
  Pack("-o '" + archive.string() + "'");
  Start({ORVO_BINARY, archive.string()}, CleanEnvironment(), tmp.path);
  PlayOneClick();
  EXPECT_TRUE(fs::is_regular_file(home / "Documents" / "mines" / "mines.ini")) << ReadFile(log);
}

TEST_F(MinesShipped, OneExecutableRunsAnywhereUnderAnyName) {
  const fs::path built = tmp.path / "out" / "mines";
  fs::create_directories(built.parent_path());
  Pack("--exe --desktop -o '" + built.string() + "'");
  const std::string entry = ReadFile(tmp.path / "out" / "mines.desktop");
  EXPECT_NE(entry.find("Exec=\"" + built.string() + "\"\n"), std::string::npos) << entry;
  // Copied elsewhere under another name, started from a third folder.
  const fs::path elsewhere = tmp.path / "elsewhere" / "My Game";
  fs::create_directories(elsewhere.parent_path());
  fs::copy_file(built, elsewhere);
  fs::permissions(elsewhere, fs::perms::owner_all);
  fs::create_directories(tmp.path / "cwd");
  Start({elsewhere.string()}, CleanEnvironment(), tmp.path / "cwd");
  PlayOneClick();
  EXPECT_TRUE(fs::is_regular_file(home / "Documents" / "mines" / "mines.ini")) << ReadFile(log);
  EXPECT_TRUE(fs::is_empty(tmp.path / "cwd"));
}

TEST_F(MinesShipped, ACutOffExecutableSaysSoAndWritesNothing) {
  const fs::path built = tmp.path / "mines";
  Pack("--exe --no-fonts --no-soundfont -o '" + built.string() + "'");
  fs::resize_file(built, fs::file_size(built) - 100);
  Start({built.string()}, CleanEnvironment(), tmp.path);
  // The reason is shown in the runtime's message box; Return presses its one button.
  const Window box = platform::test::FindWindowTitled(x->display, "!", 20000);
  ASSERT_NE(box, 0u) << ReadFile(log);
  platform::test::Shell("xdotool key --window " + std::to_string(box) + " Return");
  EXPECT_EQ(WaitForExit(20000), 1);
  const std::string said = ReadFile(log);
  EXPECT_NE(said.find("The game appended to " + built.string() + " cannot be run"),
            std::string::npos)
      << said;
  EXPECT_FALSE(fs::exists(home / "Documents"));
}

}  // namespace
}  // namespace orvo::examples

#endif

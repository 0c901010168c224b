// The real orvo run from a game folder in a temporary home, as the window tests start
// it: the recorder game, a link named "orvo" beside it, HOME and XDG_CONFIG_HOME inside,
// on a private X server; the recorder's debug.log tells what the game received.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/platform/x_client.h"
#include "tests/platform/xvfb.h"

namespace orvo::host {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Polls until check() holds; false after the deadline.
template <typename Check>
bool WaitFor(Check check, int ms = 10000) {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (!check()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// A game folder in a temporary home: main.ove and a link named "orvo" to the runtime,
// so the runtime takes the folder as its installation, and the data folder lands in
// <home>/Documents/<parent>/<folder>/.
struct GameFolder {
  fs::path root, home, folder, data;

  GameFolder(const fs::path& base, const std::string& parent) {
    root = base;
    home = root / "home";
    folder = root / parent / "recorder";
    data = home / "Documents" / parent / "recorder";
    fs::create_directories(folder);
    fs::create_directories(home / ".config");
    fs::copy_file(fs::path(ORVO_TEST_GAMES) / "recorder" / "main.ove", folder / "main.ove");
    fs::create_symlink(ORVO_BIN, folder / "orvo");
  }
};

class Process {
 public:
  Process() = default;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process() {
    if (pid_ > 0 && !Ended(0)) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status_, 0);
    }
  }

  // environment: variables set for the runtime; errors: a file its standard error goes to.
  void Start(const GameFolder& g,
             const std::vector<std::pair<std::string, std::string>>& environment = {},
             const fs::path& errors = {}, const std::vector<std::string>& arguments = {}) {
    pid_ = fork();
    if (pid_ != 0) return;
    setenv("HOME", g.home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (g.home / ".config").c_str(), 1);
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
    if (!errors.empty()) {
      const int fd = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (fd < 0 || dup2(fd, 2) < 0) _exit(126);
    }
    const std::string program = (g.folder / "orvo").string();
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }

  // True once the process has ended (waiting up to ms).
  bool Ended(int ms) {
    if (done_) return true;
    WaitFor([&] { return (done_ = waitpid(pid_, &status_, WNOHANG) == pid_); }, ms);
    return done_;
  }
  int ExitCode() const { return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1; }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int status_ = 0;
  bool done_ = false;
};

class OrvoWindow : public ::testing::Test {
 protected:
  fs::path base;

  void SetUp() override {
    ASSERT_FALSE(test::XServer::Ensure(test::XServer::kPrivate).empty()) << "no X server";
    base = fs::temp_directory_path() /
           ("orvo-window-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(base);
    fs::create_directories(base);
  }
  void TearDown() override { fs::remove_all(base); }

  static std::string Log(const GameFolder& g) { return ReadFile(g.data / "debug.log"); }
  static bool Logged(const GameFolder& g, const std::string& line) {
    return WaitFor([&] { return Log(g).find(line) != std::string::npos; });
  }

  // Starts the game and waits for its window and its window event.
  Window Open(Process& p, const GameFolder& g,
              const std::vector<std::pair<std::string, std::string>>& environment = {},
              const fs::path& errors = {}, const std::vector<std::string>& arguments = {}) {
    p.Start(g, environment, errors, arguments);
    const Window w = platform::test::FindWindow("^recorder$");
    EXPECT_NE(w, 0u);
    EXPECT_TRUE(Logged(g, "E2 0 0 0\n"));
    return w;
  }
  // The same, with the pointer resting in the window so that keys go to it.
  Window OpenUnderThePointer(
      Process& p, const GameFolder& g,
      const std::vector<std::pair<std::string, std::string>>& environment = {},
      const fs::path& errors = {}) {
    const Window w = Open(p, g, environment, errors);
    if (w == 0) return 0;
    EXPECT_EQ(platform::test::Shell("xdotool mousemove --window " + std::to_string(w) + " 30 30"),
              0);
    return Logged(g, "E15 30 30 0\n") ? w : 0;
  }
};

}  // namespace orvo::host

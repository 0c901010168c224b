// An X server for tests: the one DISPLAY names when it answers, or a private Xvfb on a
// free display number, stopped when the test process ends. Header-only; needs nothing
// beyond POSIX and the Xvfb program.
//
//   const std::string display = orvo::test::XServer::Ensure();   // "" when none
//   const std::string mine = orvo::test::XServer::Ensure(orvo::test::XServer::kPrivate);
//
// kPrivate always starts a server of its own, so that synthetic input (xdotool) cannot
// reach a desktop the tests happen to run on, and tests running side by side do not see
// each other's windows. Either way DISPLAY is set to the server's name.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace orvo::test {

class XServer {
 public:
  enum Mode { kReuse, kPrivate };

  // The display now in DISPLAY, or "" when no server could be reached or started.
  static std::string Ensure(Mode mode = kReuse) {
    XServer& s = Instance();
    if (!s.display_.empty() && (mode == kReuse || s.pid_ > 0)) return s.display_;
    const char* current = std::getenv("DISPLAY");
    if (mode == kReuse && current && *current && Answers(current)) {
      s.display_ = current;
      return s.display_;
    }
    s.Start();
    return s.display_;
  }

  // True when a server of our own runs (as opposed to one found in DISPLAY).
  static bool Private() { return Instance().pid_ > 0; }

  // Whether a local display (":N" or ":N.S") accepts connections.
  static bool Answers(const std::string& display) {
    if (display.empty() || display[0] != ':') return true;  // remote: trust it
    const std::string number = display.substr(1, display.find('.') - 1);
    const std::string path = "/tmp/.X11-unix/X" + number;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
  }

  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

 private:
  XServer() = default;
  ~XServer() {
    // Forked children that exit normally must not stop their parent's server.
    if (pid_ <= 0 || getpid() != owner_) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }

  static XServer& Instance() {
    static XServer server;
    return server;
  }

  void Start() {
    // Xvfb picks a free display number itself and writes it to the pipe once it accepts
    // connections, which is also the sign that it is ready.
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
      close(fds[0]);
      close(fds[1]);
      return;
    }
    if (pid == 0) {
      // The server goes when the test process goes, however it ends.
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (getppid() != parent) _exit(127);
      const int out = dup(fds[1]);  // without close-on-exec
      const std::string fd = std::to_string(out);
      const int devnull = open("/dev/null", O_RDWR);
      if (devnull >= 0) {
        dup2(devnull, 1);
        dup2(devnull, 2);
      }
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten",
             "tcp", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    for (;;) {
      pollfd p{fds[0], POLLIN, 0};
      if (poll(&p, 1, 20000) <= 0) break;
      char c;
      const ssize_t n = read(fds[0], &c, 1);
      if (n <= 0 || c == '\n') break;
      number += c;
    }
    close(fds[0]);
    if (number.empty()) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      return;
    }
    pid_ = pid;
    owner_ = parent;
    display_ = ":" + number;
    setenv("DISPLAY", display_.c_str(), 1);
  }

  std::string display_;
  pid_t pid_ = -1;
  pid_t owner_ = -1;
};

}  // namespace orvo::test

#include "platform/sdl/sdl_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace orvo::platform {
namespace {

constexpr char kRequest[] = "raise\n";
constexpr char kReply[] = "ok\n";

bool IsWritableFolder(const char* path) {
  struct stat st;
  return path && path[0] == '/' && stat(path, &st) == 0 && S_ISDIR(st.st_mode) &&
         access(path, W_OK | X_OK) == 0;
}

bool FillAddress(const std::string& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Reads until want bytes have come, the peer closes, or timeoutMs passes without data.
size_t ReadSome(int fd, char* buf, size_t want, int timeoutMs) {
  size_t got = 0;
  while (got < want) {
    pollfd p{fd, POLLIN, 0};
    const int r = poll(&p, 1, timeoutMs);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    const ssize_t n = read(fd, buf + got, want - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  return got;
}

}  // namespace

std::string InstanceLock::BasePath(const std::string& programFolder) {
  // FNV-1a over the folder's bytes: a short name that differs per installation.
  uint64_t hash = 0xCBF29CE484222325ull;
  for (unsigned char c : programFolder) hash = (hash ^ c) * 0x100000001B3ull;
  char name[64];
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  if (IsWritableFolder(runtime)) {
    std::snprintf(name, sizeof name, "/orvo-%016llx", static_cast<unsigned long long>(hash));
    return runtime + std::string(name);
  }
  // The shared temporary folder: another user's files must not be mistaken for ours.
  const char* tmp = getenv("TMPDIR");
  std::snprintf(name, sizeof name, "/orvo-%u-%016llx", static_cast<unsigned>(getuid()),
                static_cast<unsigned long long>(hash));
  return (IsWritableFolder(tmp) ? std::string(tmp) : std::string("/tmp")) + name;
}

bool InstanceLock::Claim(const std::string& programFolder, std::function<void()> onRaise) {
  Release();
  const std::string base = BasePath(programFolder);
  // Close-on-exec: a program started through the shell must not keep the lock alive.
  lockFd_ = open((base + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockFd_ < 0) return true;  // no way to tell; running beats refusing to start
  if (flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
    const bool held = errno == EWOULDBLOCK;
    close(lockFd_);
    lockFd_ = -1;
    if (!held) return true;
    AskToRaise(base + ".sock");
    return false;
  }
  onRaise_ = std::move(onRaise);
  sockaddr_un addr;
  if (!FillAddress(base + ".sock", addr)) return true;  // too long a path: lock only
  // Holding the lock makes any socket file left by a crashed instance ours to replace.
  unlink(addr.sun_path);
  listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  stopFd_ = eventfd(0, EFD_CLOEXEC);
  if (listenFd_ < 0 || stopFd_ < 0 ||
      bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listenFd_, 8) != 0) {
    if (listenFd_ >= 0) close(listenFd_);
    if (stopFd_ >= 0) close(stopFd_);
    listenFd_ = stopFd_ = -1;
    return true;
  }
  socketPath_ = addr.sun_path;
  listener_ = std::thread(&InstanceLock::Listen, this);
  return true;
}

void InstanceLock::Release() {
  if (listener_.joinable()) {
    const uint64_t one = 1;
    if (write(stopFd_, &one, sizeof one) < 0) {
      // An eventfd write fails only when the counter is full, which still wakes the thread.
    }
    listener_.join();
  }
  if (listenFd_ >= 0) close(listenFd_);
  if (stopFd_ >= 0) close(stopFd_);
  listenFd_ = stopFd_ = -1;
  // The socket goes while the lock is still held, so a successor's socket is never removed.
  if (!socketPath_.empty()) unlink(socketPath_.c_str());
  socketPath_.clear();
  if (lockFd_ >= 0) close(lockFd_);
  lockFd_ = -1;
  onRaise_ = nullptr;
}

void InstanceLock::Listen() {
  while (true) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    const int client = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    // One short request; a client that says nothing within a second is dropped.
    char buf[sizeof kRequest - 1];
    if (ReadSome(client, buf, sizeof buf, 1000) == sizeof buf &&
        std::memcmp(buf, kRequest, sizeof buf) == 0) {
      if (onRaise_) onRaise_();
      send(client, kReply, sizeof kReply - 1, MSG_NOSIGNAL);
    }
    close(client);
  }
}

void InstanceLock::AskToRaise(const std::string& socketPath) {
  sockaddr_un addr;
  if (!FillAddress(socketPath, addr)) return;
  // The running instance may still be starting: it takes the lock before it listens.
  for (int attempt = 0; attempt < 40; ++attempt) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      if (send(fd, kRequest, sizeof kRequest - 1, MSG_NOSIGNAL) ==
          static_cast<ssize_t>(sizeof kRequest - 1)) {
        char reply[sizeof kReply - 1];
        ReadSome(fd, reply, sizeof reply, 2000);
      }
      close(fd);
      return;
    }
    close(fd);
    usleep(50 * 1000);
  }
}

}  // namespace orvo::platform

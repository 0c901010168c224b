// One running instance per program folder: an advisory lock on a file named after the
// folder, and a Unix socket beside it on which the running instance hears later starts.
#pragma once

#include <functional>
#include <string>
#include <thread>

namespace orvo::platform {

class InstanceLock {
 public:
  InstanceLock() = default;
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;
  ~InstanceLock() { Release(); }

  // True when no other instance holds programFolder; from then on onRaise runs, on a
  // thread of the lock's own, each time a later start asks for the window. False when
  // another instance holds it; that instance has been asked to raise its window.
  bool Claim(const std::string& programFolder, std::function<void()> onRaise);
  void Release();

  // The lock and socket files without their ".lock" / ".sock" ending: in $XDG_RUNTIME_DIR,
  // else in the temporary folder with the user id in the name.
  static std::string BasePath(const std::string& programFolder);

 private:
  void Listen();
  static void AskToRaise(const std::string& socketPath);

  int lockFd_ = -1, listenFd_ = -1, stopFd_ = -1;
  std::string socketPath_;
  std::function<void()> onRaise_;
  std::thread listener_;
};

}  // namespace orvo::platform

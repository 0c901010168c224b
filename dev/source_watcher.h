// Watches source files for saves with inotify. It watches the folders that hold them,
// not the files: an editor that writes a new file and renames it over the old one is
// seen like one that writes in place, and a folder that goes away (and with it its
// watch) is watched again as soon as it is back.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace orvo::dev {

class SourceWatcher {
 public:
  using Clock = std::chrono::steady_clock;
  // changed runs on the watcher's thread once the files have been quiet for settle after a
  // change (a save written in parts is one change), given the time of the first change.
  explicit SourceWatcher(std::function<void(Clock::time_point firstChange)> changed,
                         std::chrono::milliseconds settle = std::chrono::milliseconds(20));
  ~SourceWatcher();
  SourceWatcher(const SourceWatcher&) = delete;
  SourceWatcher& operator=(const SourceWatcher&) = delete;

  // False when inotify could not be started (nothing will be reported).
  bool Working() const { return inotify_ >= 0; }
  // From any thread: the files to watch from now on.
  void Watch(const std::vector<std::filesystem::path>& files);

 private:
  void Run();
  void Rewatch();  // on the watcher's thread: a watch for every folder that exists
  void Read(bool& changed);

  std::function<void(Clock::time_point)> changed_;
  const std::chrono::milliseconds settle_;
  int inotify_ = -1;
  int wake_ = -1;  // eventfd: new files to watch, or stop
  std::mutex lock_;
  std::map<std::filesystem::path, std::set<std::string>> wanted_;  // folder -> file names
  bool stop_ = false;
  // The watcher thread's own: the folders watched now, by watch descriptor.
  std::map<int, std::filesystem::path> watches_;
  bool missing_ = false;  // some folder does not exist now
  std::thread thread_;
};

}  // namespace orvo::dev

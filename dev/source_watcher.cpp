#include "dev/source_watcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdint>
#include <optional>

namespace orvo::dev {
namespace {

constexpr uint32_t kFolderMask = IN_CLOSE_WRITE | IN_MODIFY | IN_MOVED_TO | IN_MOVED_FROM |
                                 IN_CREATE | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF |
                                 IN_ONLYDIR;
// How often a folder that is gone is looked for again.
constexpr int kMissingRetryMs = 200;

}  // namespace

SourceWatcher::SourceWatcher(std::function<void(Clock::time_point)> changed,
                             std::chrono::milliseconds settle)
    : changed_(std::move(changed)), settle_(settle) {
  inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (inotify_ < 0 || wake_ < 0) return;
  thread_ = std::thread([this] { Run(); });
}

SourceWatcher::~SourceWatcher() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stop_ = true;
  }
  if (wake_ >= 0) {
    const uint64_t one = 1;
    (void)!write(wake_, &one, sizeof one);
  }
  if (thread_.joinable()) thread_.join();
  if (inotify_ >= 0) close(inotify_);
  if (wake_ >= 0) close(wake_);
}

void SourceWatcher::Watch(const std::vector<std::filesystem::path>& files) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    wanted_.clear();
    for (const std::filesystem::path& f : files) {
      const std::filesystem::path absolute = std::filesystem::absolute(f).lexically_normal();
      wanted_[absolute.parent_path()].insert(absolute.filename().string());
    }
  }
  const uint64_t one = 1;
  if (wake_ >= 0) (void)!write(wake_, &one, sizeof one);
}

void SourceWatcher::Rewatch() {
  // Adding a folder watched already gives its watch back: nothing in between is lost.
  std::map<int, std::filesystem::path> next;
  missing_ = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    for (const auto& [folder, names] : wanted_) {
      const int wd = inotify_add_watch(inotify_, folder.c_str(), kFolderMask);
      if (wd < 0)
        missing_ = true;
      else
        next[wd] = folder;
    }
  }
  for (const auto& [wd, folder] : watches_)
    if (!next.count(wd)) inotify_rm_watch(inotify_, wd);
  watches_ = std::move(next);
}

// Takes what inotify has; changed when a watched file was touched or a folder came or went.
void SourceWatcher::Read(bool& changed) {
  alignas(inotify_event) char buffer[16384];
  for (;;) {
    const ssize_t n = read(inotify_, buffer, sizeof buffer);
    if (n <= 0) return;
    for (ssize_t at = 0; at < n;) {
      const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
      if (e->mask & IN_Q_OVERFLOW) {
        changed = true;
        continue;
      }
      const auto w = watches_.find(e->wd);
      if (w == watches_.end()) continue;
      if (e->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
        // The folder went (or was moved away): its files are gone with it.
        if (!(e->mask & IN_IGNORED)) inotify_rm_watch(inotify_, e->wd);
        watches_.erase(w);
        missing_ = true;
        changed = true;
        continue;
      }
      if (e->len == 0) continue;
      std::lock_guard<std::mutex> hold(lock_);
      const auto names = wanted_.find(w->second);
      if (names != wanted_.end() && names->second.count(e->name)) changed = true;
    }
  }
}

void SourceWatcher::Run() {
  std::optional<Clock::time_point> first, last;
  for (;;) {
    int timeout = -1;
    const Clock::time_point now = Clock::now();
    if (last) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*last + settle_ - now);
      timeout = static_cast<int>(std::max<int64_t>(left.count(), 0));
    }
    if (missing_ && (timeout < 0 || timeout > kMissingRetryMs)) timeout = kMissingRetryMs;
    pollfd fds[2] = {{inotify_, POLLIN, 0}, {wake_, POLLIN, 0}};
    poll(fds, 2, timeout);
    if (fds[1].revents & POLLIN) {
      uint64_t count;
      (void)!read(wake_, &count, sizeof count);
      {
        std::lock_guard<std::mutex> hold(lock_);
        if (stop_) return;
      }
      Rewatch();
    }
    bool changed = false;
    if (fds[0].revents & POLLIN) Read(changed);
    if (missing_) {
      // A folder that is back may hold new versions of its files.
      const size_t before = watches_.size();
      Rewatch();
      if (watches_.size() > before) changed = true;
    }
    if (changed) {
      last = Clock::now();
      if (!first) first = last;
    }
    if (last && Clock::now() >= *last + settle_) {
      const Clock::time_point when = *first;
      first.reset();
      last.reset();
      changed_(when);
    }
  }
}

}  // namespace orvo::dev

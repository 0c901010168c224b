// The window of the development mode: the real window, kept from one run of the game to
// the next. A restart ends the running game as a log-off would (it hears its close and
// end events) but leaves the window where it is and as large as it is, and the next run
// takes it over instead of making a new one. Assembly errors are drawn over the game.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "dev/error_overlay.h"
#include "platform/window.h"

namespace orvo::dev {

class KeptWindow : public platform::WindowSystem {
 public:
  using Clock = std::chrono::steady_clock;
  explicit KeptWindow(platform::WindowSystem& real) : real_(real) {}

  // From any thread: the game running now ends, and Restarting() says so afterwards.
  // since: when the change that asked for it happened (for the reload figure).
  void RequestRestart(Clock::time_point since);
  // Before each run, on the loop's thread.
  void StartRun();
  // Once a run has returned: true when it ended for a restart rather than for good.
  bool Restarting() const { return restarting_; }
  // From any thread: errors to show over the game; none takes the box away.
  void ShowErrors(std::vector<std::string> lines);

  platform::Size DisplaySize() override { return real_.DisplaySize(); }
  platform::Size DesktopSize() override { return real_.DesktopSize(); }
  bool CreateWindow(std::string_view title, int32_t x, int32_t y, int32_t width,
                    int32_t height) override;
  // A window kept from the last run is on the screen already.
  void ShowWindow() override {
    if (!kept_) real_.ShowWindow();
  }
  void DestroyWindow() override;
  bool HasWindow() override { return real_.HasWindow(); }
  platform::Size ClientSize() override { return real_.ClientSize(); }
  void SetTitle(std::string_view utf8) override { real_.SetTitle(utf8); }
  platform::Placement GetPlacement() override { return real_.GetPlacement(); }
  void SetPlacement(const platform::Placement& p) override { real_.SetPlacement(p); }
  bool IsActive() override { return real_.IsActive(); }
  void Activate() override { real_.Activate(); }
  void Raise() override { real_.Raise(); }
  void Present(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride,
               const platform::Rect& area) override;

  bool PeekMessage() override { return quit_ || restartWanted_ || real_.PeekMessage(); }
  bool GetMessage(platform::Message& out) override;
  void PostQuit() override;
  void PostFromAnyThread(uint32_t id) override { real_.PostFromAnyThread(id); }
  void Delivered(int32_t code) override { real_.Delivered(code); }

  void CaptureMouse(bool on) override { real_.CaptureMouse(on); }
  void SetCursor(int shape) override { real_.SetCursor(shape); }
  uint32_t LockToggles() override { return real_.LockToggles(); }
  void SetFullscreen(bool on) override { real_.SetFullscreen(on); }
  bool Fullscreen() override { return real_.Fullscreen(); }
  void SetScale(int32_t scale) override { real_.SetScale(scale); }
  int32_t Scale() override { return real_.Scale(); }
  void ShowNotice(std::string_view text) override { real_.ShowNotice(text); }
  void SetPadMapping(const platform::PadMapping& m) override { real_.SetPadMapping(m); }

 private:
  platform::WindowSystem& real_;
  std::atomic<bool> restartWanted_{false};  // the next message is the log-off
  bool restarting_ = false;                  // this run is ending for a restart
  bool quit_ = false;  // this run's loop is over; the real window stays
  bool framed_ = true;  // the run's first frame has been shown
  bool kept_ = false;   // this run took over the last run's window

  std::mutex lock_;
  Clock::time_point changedAt_;
  std::vector<std::string> errors_;
  bool errorsChanged_ = false;
  ErrorOverlay overlay_;
};

}  // namespace orvo::dev

// The headless window and its clock: input comes from a script, and the window is only
// its rectangle. The timer's ticks are part of the scripted message loop, so one object
// is both the window and the clock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "platform/clock.h"
#include "platform/headless/headless_config.h"
#include "platform/headless/script_clock.h"
#include "platform/window.h"

namespace orvo::platform {

class HeadlessWindow : public WindowSystem, public Clock {
 public:
  explicit HeadlessWindow(HeadlessConfig config);

  uint32_t TickCount() override;
  LocalTime Now() override { return scriptClock_ ? scriptClock_->Now() : LocalTimeNow(); }
  bool StartTimer(uint32_t intervalMs) override;
  void StopTimer() override { timerMs_ = 0; }

  Size DisplaySize() override { return config_.desktop; }
  Size DesktopSize() override { return config_.desktop; }

  bool CreateWindow(std::string_view title, int32_t x, int32_t y, int32_t width,
                    int32_t height) override;
  void ShowWindow() override { shown_ = true; }
  void DestroyWindow() override { hasWindow_ = false; }
  bool HasWindow() override { return hasWindow_; }
  Size ClientSize() override { return {placement_.normal.width, placement_.normal.height}; }
  void SetTitle(std::string_view utf8) override { title_ = utf8; }
  Placement GetPlacement() override { return placement_; }
  void SetPlacement(const Placement& p) override { placement_ = p; }
  bool IsActive() override { return true; }
  void Activate() override {}
  void Raise() override {}
  void Present(const uint8_t*, int32_t, int32_t, int32_t, const Rect&) override { ++presents_; }

  bool PeekMessage() override;
  bool GetMessage(Message& out) override;
  void PostQuit() override { quit_ = true; }
  void PostFromAnyThread(uint32_t id) override;
  void Delivered(int32_t code) override;

  void CaptureMouse(bool on) override { captured_ = on; }
  void SetCursor(int shape) override { cursor_ = shape; }
  uint32_t LockToggles() override { return 0; }

  // For tests and the headless runner.
  const std::string& Title() const { return title_; }
  bool Shown() const { return shown_; }
  int Cursor() const { return cursor_; }
  bool Captured() const { return captured_; }
  uint64_t Presents() const { return presents_; }
  // The script's clock when the run is on it, else null.
  ScriptClock* ScriptTime() { return scriptClock_ ? &*scriptClock_ : nullptr; }

 private:
  using SteadyClock = std::chrono::steady_clock;
  // Moves past finished waits; true when GetMessage would return at once.
  bool Ready(SteadyClock::time_point now);
  bool TimerDue(SteadyClock::time_point now) const;
  // Now on the clock the run is on: the real one, or the script's counted from start_.
  SteadyClock::time_point Time() const;

  HeadlessConfig config_;
  std::optional<ScriptClock> scriptClock_;
  SteadyClock::time_point start_;
  size_t next_ = 0;  // script position
  bool waiting_ = false;
  SteadyClock::time_point waitEnd_;
  uint64_t untilSeen_ = 0;
  uint64_t delivered_[16] = {};
  uint32_t timerMs_ = 0;
  SteadyClock::time_point nextTick_;
  bool quit_ = false;
  bool scriptEndSent_ = false;

  std::mutex postedLock_;
  std::condition_variable postedSignal_;
  std::deque<uint32_t> posted_;

  bool hasWindow_ = false, shown_ = false, captured_ = false;
  int cursor_ = -1;
  uint64_t presents_ = 0;
  std::string title_;
  Placement placement_;
};

}  // namespace orvo::platform

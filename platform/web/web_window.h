// The web page's window: the canvas is the client area, input comes from html5.h's
// event callbacks, and the timer ticks within the message loop. Waiting for a message
// hands control back to the browser (Asyncify): the wait ends with the next input, the
// next tick of the timer or the next animation frame, so the tab never blocks.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "platform/clock.h"
#include "platform/window.h"

namespace orvo::platform {

class WebWindow : public WindowSystem, public Clock {
 public:
  // canvas: the CSS selector of the page's canvas ("#screen").
  explicit WebWindow(std::string canvas);
  ~WebWindow() override;
  WebWindow(const WebWindow&) = delete;
  WebWindow& operator=(const WebWindow&) = delete;

  uint32_t TickCount() override;
  LocalTime Now() override { return LocalTimeNow(); }
  bool StartTimer(uint32_t intervalMs) override;
  void StopTimer() override { timerMs_ = 0; }

  Size DisplaySize() override;
  Size DesktopSize() override { return DisplaySize(); }

  bool CreateWindow(std::string_view title, int32_t x, int32_t y, int32_t width,
                    int32_t height) override;
  void ShowWindow() override;
  void DestroyWindow() override;
  bool HasWindow() override { return hasWindow_; }
  Size ClientSize() override { return {placement_.normal.width, placement_.normal.height}; }
  void SetTitle(std::string_view utf8) override;
  Placement GetPlacement() override { return placement_; }
  void SetPlacement(const Placement& p) override;
  bool IsActive() override { return active_; }
  void Activate() override {}
  void Raise() override {}
  void Present(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride,
               const Rect& area) override;

  bool PeekMessage() override;
  bool GetMessage(Message& out) override;
  void PostQuit() override { quit_ = true; }
  void PostFromAnyThread(uint32_t id) override { Post(MakeMessage(id)); }

  void CaptureMouse(bool on) override { captured_ = on; }
  void SetCursor(int shape) override;
  uint32_t LockToggles() override { return toggles_; }

  // Called by the event callbacks (web_input.cpp): queues a message and ends a wait.
  void Post(Message message);
  void SetActive(bool active) { active_ = active; }
  void SetToggles(uint32_t toggles) { toggles_ = toggles; }
  const std::string& Canvas() const { return canvas_; }

 private:
  bool TimerDue(double now) const { return timerMs_ != 0 && now >= nextTick_; }

  std::string canvas_;
  std::deque<Message> queue_;
  uint32_t timerMs_ = 0;
  double nextTick_ = 0;
  bool quit_ = false;
  bool hasWindow_ = false, active_ = true, captured_ = false;
  uint32_t toggles_ = 0;
  Placement placement_;
};

}  // namespace orvo::platform

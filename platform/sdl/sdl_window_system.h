// The window on SDL2: one real window with its messages, keyboard, mouse and cursor.
#pragma once

#include <SDL2/SDL_events.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "platform/sdl/sdl_events.h"
#include "platform/sdl/sdl_input.h"
#include "platform/sdl/sdl_timer.h"
#include "platform/sdl/sdl_window.h"
#include "platform/window.h"

namespace orvo::platform {

// The platform's own user events, from base on: a message posted from another thread
// (code = its id), the timer's tick, a later instance's request to raise.
struct OwnEvents {
  uint32_t base = 0;
  uint32_t Post() const { return base; }
  uint32_t Tick() const { return base + 1; }
  uint32_t Raise() const { return base + 2; }
};

class SdlWindowSystem final : public WindowSystem {
 public:
  // Without video there is no window. The clock's ticks are handed out as MSG_TIMER.
  SdlWindowSystem(bool video, OwnEvents events, SdlClock& clock);
  SdlWindowSystem(const SdlWindowSystem&) = delete;
  SdlWindowSystem& operator=(const SdlWindowSystem&) = delete;

  // The SDL window, for tests that look at it from outside; null without one.
  SDL_Window* Native() const { return window_.Handle(); }
  // Frees the cursors and the window while SDL still runs.
  void Close();

  Size DisplaySize() override;
  Size DesktopSize() override;

  bool CreateWindow(std::string_view title, int32_t x, int32_t y, int32_t width,
                    int32_t height) override;
  void ShowWindow() override;
  void DestroyWindow() override;
  bool HasWindow() override { return window_.Exists(); }
  Size ClientSize() override { return window_.ClientSize(); }
  void SetTitle(std::string_view utf8) override { window_.SetTitle(utf8); }
  Placement GetPlacement() override { return window_.GetPlacement(); }
  void SetPlacement(const Placement& p) override { window_.SetPlacement(p); }
  bool IsActive() override { return window_.IsActive(); }
  void Activate() override { window_.Activate(); }
  void Raise() override { window_.Raise(); }
  void Present(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride,
               const Rect& area) override {
    window_.Present(pixels, width, height, stride, area);
  }

  bool PeekMessage() override;
  bool GetMessage(Message& out) override;
  void PostQuit() override { quit_ = true; }
  void PostFromAnyThread(uint32_t id) override;

  void CaptureMouse(bool on) override;
  void SetCursor(int shape) override;
  uint32_t LockToggles() override { return LockKeyToggles(); }

 private:
  // Turns one SDL event into the messages it stands for, or acts on the platform's own.
  void Handle(const SDL_Event& e);

  const bool video_;
  const OwnEvents events_;
  SdlClock& clock_;
  bool quit_ = false;
  std::deque<Message> pending_;  // translated, not yet handed out
  EventTranslator translator_;
  SdlWindow window_;
  std::unique_ptr<CursorSet> cursors_;
};

}  // namespace orvo::platform

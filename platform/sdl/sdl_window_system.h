// The window on SDL2: one real window with its messages, keyboard, mouse and cursor.
#pragma once

#include <SDL2/SDL_events.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "platform/sdl/sdl_events.h"
#include "platform/sdl/sdl_gamepad.h"
#include "platform/sdl/sdl_input.h"
#include "platform/sdl/sdl_timer.h"
#include "platform/sdl/sdl_virtual_pad.h"
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
  void SetTitle(std::string_view utf8) override;
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

  void SetFullscreen(bool on) override { window_.SetFullscreen(on); }
  bool Fullscreen() override { return window_.Fullscreen(); }
  void SetScale(int32_t scale) override;
  int32_t Scale() override { return window_.Scale(); }
  void ShowNotice(std::string_view text) override;
  void SetPadMapping(const PadMapping& mapping) override { pads_.SetMapping(mapping, pending_); }

 private:
  // Turns one SDL event into the messages it stands for, or acts on the platform's own.
  void Handle(const SDL_Event& e);
  // What is due without an event: key repeats of held pad controls, the end of a notice,
  // the steps of a virtual pad script. Returns how long until the next such thing, or -1.
  int32_t RunTimed();

  const bool video_;
  const OwnEvents events_;
  SdlClock& clock_;
  bool quit_ = false;
  std::deque<Message> pending_;  // translated, not yet handed out
  EventTranslator translator_;
  SdlWindow window_;
  std::unique_ptr<CursorSet> cursors_;
  GamepadInput pads_;
  VirtualPads virtualPads_;
  std::string title_;  // the game's title, shown again when a notice ends
  bool noticeShown_ = false;
  uint32_t noticeEnd_ = 0;
};

// How long a notice stays after the title.
inline constexpr uint32_t NOTICE_MS = 1500;

}  // namespace orvo::platform

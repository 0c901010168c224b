// The platform on SDL2: one real window with keyboard, mouse, clipboard and timer, the
// user's folders, and one instance per program folder.
#pragma once

#include <SDL2/SDL_events.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/sdl/sdl_audio.h"
#include "platform/sdl/sdl_events.h"
#include "platform/sdl/sdl_input.h"
#include "platform/sdl/sdl_instance.h"
#include "platform/sdl/sdl_timer.h"
#include "platform/sdl/sdl_window.h"

namespace orvo::platform {

class SdlPlatform final : public Platform {
 public:
  SdlPlatform(int argc, char** argv);
  SdlPlatform(const SdlPlatform&) = delete;
  SdlPlatform& operator=(const SdlPlatform&) = delete;
  ~SdlPlatform() override;

  // False when no display could be opened: there is then no window, and message boxes go
  // to standard error.
  bool HasVideo() const { return video_; }
  // The SDL window, for tests that look at it from outside; null without one.
  SDL_Window* Window() const { return window_.Handle(); }

  std::string ExecutablePath() override { return executablePath_; }
  std::string DocumentsFolder() override;
  bool ClaimInstance(const std::string& programFolder) override;

  void MessageBox(std::string_view text) override;

  uint32_t TickCount() override;
  LocalTime Now() override;

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

  bool StartTimer(uint32_t intervalMs) override { return timer_.Start(intervalMs); }
  void StopTimer() override { timer_.Stop(); }

  void CaptureMouse(bool on) override;
  void SetCursor(int shape) override;
  uint32_t LockToggles() override { return LockKeyToggles(); }

  bool HasClipboardText() override;
  std::string GetClipboardText() override;
  void SetClipboardText(std::string_view utf8) override;

  void OpenWithShell(std::string_view target) override;

  bool StartAudio(AudioSource* source, int sampleRate) override;
  void StopAudio() override;
  void LockAudio() override;
  void UnlockAudio() override;
  bool LoadWav(const std::string& path, int sampleRate, std::vector<int16_t>& stereo) override;

 private:
  // Turns one SDL event into the messages it stands for, or acts on the platform's own.
  void Handle(const SDL_Event& e);

  // The platform's own user events, from eventBase_ on: a message posted from another
  // thread (code = its id), the timer's tick, a later instance's request to raise.
  uint32_t PostEvent() const { return eventBase_; }
  uint32_t TickEvent() const { return eventBase_ + 1; }
  uint32_t RaiseEvent() const { return eventBase_ + 2; }

  const bool video_;
  const std::string executablePath_;
  const uint32_t eventBase_;
  bool quit_ = false;
  std::deque<Message> pending_;  // translated, not yet handed out
  EventTranslator translator_;
  SdlWindow window_;
  std::unique_ptr<CursorSet> cursors_;
  TickTimer timer_;
  InstanceLock instance_;
  SdlAudio audio_;
};

}  // namespace orvo::platform

// A platform without a display: input comes from a script, messages go to a stream as
// escaped lines, the clipboard lives in memory, and the window is only its rectangle.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/headless/null_audio.h"
#include "platform/headless/script.h"
#include "platform/platform.h"

namespace orvo::platform {

struct HeadlessConfig {
  std::string executablePath;   // stands for the runtime inside the game folder
  std::string documentsFolder;  // "" when there is none
  Size desktop{1920, 1080};
  std::vector<ScriptItem> script;
  std::FILE* messages = stdout;
};

class HeadlessPlatform : public Platform {
 public:
  explicit HeadlessPlatform(HeadlessConfig config);
  ~HeadlessPlatform() override;

  std::string ExecutablePath() override { return config_.executablePath; }
  std::string DocumentsFolder() override { return config_.documentsFolder; }
  bool ClaimInstance(const std::string&) override { return true; }

  void MessageBox(std::string_view text) override;
  uint32_t TickCount() override;
  LocalTime Now() override;
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

  bool StartTimer(uint32_t intervalMs) override;
  void StopTimer() override { timerMs_ = 0; }

  void CaptureMouse(bool on) override { captured_ = on; }
  void SetCursor(int shape) override { cursor_ = shape; }
  uint32_t LockToggles() override { return 0; }

  bool HasClipboardText() override { return hasClipboard_; }
  std::string GetClipboardText() override { return clipboard_; }
  void SetClipboardText(std::string_view utf8) override;

  void OpenWithShell(std::string_view target) override;

  bool StartAudio(AudioSource* source, int sampleRate) override;
  void StopAudio() override;
  void LockAudio() override;
  void UnlockAudio() override;
  bool LoadWav(const std::string& path, int sampleRate, std::vector<int16_t>& stereo) override;

  // For tests and the headless runner.
  const std::string& Title() const { return title_; }
  bool Shown() const { return shown_; }
  int Cursor() const { return cursor_; }
  bool Captured() const { return captured_; }
  uint64_t Presents() const { return presents_; }
  // The audio device, pulling in real time; it can record what it pulled.
  NullAudio& Audio() { return audio_; }

 private:
  using Clock = std::chrono::steady_clock;
  // Moves past finished waits; true when GetMessage would return at once.
  bool Ready(Clock::time_point now);
  bool TimerDue(Clock::time_point now) const;

  HeadlessConfig config_;
  Clock::time_point start_;
  size_t next_ = 0;  // script position
  bool waiting_ = false;
  Clock::time_point waitEnd_;
  uint64_t untilSeen_ = 0;
  uint64_t delivered_[16] = {};
  uint32_t timerMs_ = 0;
  Clock::time_point nextTick_;
  bool quit_ = false;
  bool scriptEndSent_ = false;

  std::mutex postedLock_;
  std::condition_variable postedSignal_;
  std::deque<uint32_t> posted_;

  bool hasWindow_ = false, shown_ = false, captured_ = false, hasClipboard_ = false;
  int cursor_ = -1;
  uint64_t presents_ = 0;
  std::string title_, clipboard_;
  Placement placement_;
  NullAudio audio_{NullAudio::Pace::REAL_TIME};
};

// Message text as one output line: backslash, CR and LF escaped.
std::string EscapeMessage(std::string_view text);

}  // namespace orvo::platform

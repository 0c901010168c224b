#include "dev/kept_window.h"

#include <cstdio>

namespace orvo::dev {

void KeptWindow::RequestRestart(Clock::time_point since) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    changedAt_ = since;
  }
  restartWanted_ = true;
  // Wakes the loop; the log-off follows as the next message.
  real_.PostFromAnyThread(platform::MSG_PAINT);
}

void KeptWindow::StartRun() {
  restarting_ = false;
  quit_ = false;
  framed_ = false;
}

bool KeptWindow::CreateWindow(std::string_view title, int32_t x, int32_t y, int32_t width,
                              int32_t height) {
  kept_ = real_.HasWindow();
  if (!kept_) return real_.CreateWindow(title, x, y, width, height);
  // The window of the last run stays where the author put it.
  real_.SetTitle(title);
  return true;
}

void KeptWindow::DestroyWindow() {
  if (!restarting_) real_.DestroyWindow();
}

void KeptWindow::PostQuit() {
  quit_ = true;
  if (!restarting_) real_.PostQuit();
}

bool KeptWindow::GetMessage(platform::Message& out) {
  if (quit_) return false;
  if (restartWanted_.exchange(false)) {
    // The runtime ends a game on a log-off in order: close event, end event, then the loop.
    restarting_ = true;
    out = platform::Message{};
    out.id = platform::MSG_ENDSESSION;
    return true;
  }
  return real_.GetMessage(out);
}

void KeptWindow::ShowErrors(std::vector<std::string> lines) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    errors_ = std::move(lines);
    errorsChanged_ = true;
  }
  // The box is drawn with the next paint.
  real_.PostFromAnyThread(platform::MSG_PAINT);
}

void KeptWindow::Present(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride,
                         const platform::Rect& area) {
  real_.Present(pixels, width, height, stride, area);
  if (!framed_) {
    framed_ = true;
    std::lock_guard<std::mutex> hold(lock_);
    if (changedAt_ != Clock::time_point{}) {
      const auto ms =
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - changedAt_);
      std::fprintf(stderr, "orvo-dev: restarted, %lld ms from the save to the first frame\n",
                   static_cast<long long>(ms.count()));
      changedAt_ = {};
    }
  }
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (errorsChanged_) {
      errorsChanged_ = false;
      overlay_.Draw(errors_, real_.ClientSize().width);
    }
  }
  if (overlay_.Shown())
    real_.Present(overlay_.Pixels(), overlay_.Width(), overlay_.Height(), overlay_.Stride(),
                  {0, 0, overlay_.Width(), overlay_.Height()});
}

}  // namespace orvo::dev

#include "platform/sdl/sdl_window_system.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <string>

namespace orvo::platform {

SdlWindowSystem::SdlWindowSystem(bool video, OwnEvents events, SdlClock& clock)
    : video_(video), events_(events), clock_(clock), cursors_(std::make_unique<CursorSet>()) {}

void SdlWindowSystem::Close() {
  cursors_.reset();
  window_.Destroy();
}

Size SdlWindowSystem::DisplaySize() {
  SDL_Rect r{};
  if (!video_ || SDL_GetDisplayBounds(0, &r) != 0) return Size{};
  return Size{r.w, r.h};
}

Size SdlWindowSystem::DesktopSize() {
  const int n = video_ ? SDL_GetNumVideoDisplays() : 0;
  bool any = false;
  int left = 0, top = 0, right = 0, bottom = 0;
  for (int i = 0; i < n; ++i) {
    SDL_Rect r{};
    if (SDL_GetDisplayBounds(i, &r) != 0) continue;
    if (!any || r.x < left) left = r.x;
    if (!any || r.y < top) top = r.y;
    if (!any || r.x + r.w > right) right = r.x + r.w;
    if (!any || r.y + r.h > bottom) bottom = r.y + r.h;
    any = true;
  }
  return any ? Size{right - left, bottom - top} : Size{};
}

bool SdlWindowSystem::CreateWindow(std::string_view title, int32_t x, int32_t y, int32_t width,
                                   int32_t height) {
  if (!video_ || !window_.Create(title, x, y, width, height)) return false;
  const WindowView view = window_.View();
  translator_.Reset(view);
  // Creating a window tells it its position and size, as the first move and size messages.
  int cx = 0, cy = 0;
  SDL_GetWindowPosition(window_.Handle(), &cx, &cy);
  pending_.push_back(MakeMessage(MSG_MOVE, 0, PackPoint(cx, cy)));
  pending_.push_back(MakeMessage(MSG_SIZE, SIZE_RESTORED, PackPoint(view.width, view.height)));
  SDL_StartTextInput();
  return true;
}

void SdlWindowSystem::ShowWindow() {
  window_.Show();
  virtualPads_.Start(SDL_GetTicks());
  // Showing a window activates it; without a window manager nobody else would.
  window_.Activate();
}

void SdlWindowSystem::DestroyWindow() {
  if (!window_.Exists()) return;
  SDL_StopTextInput();
  window_.Destroy();
  // Messages for the window die with it.
  pending_.clear();
}

void SdlWindowSystem::Handle(const SDL_Event& e) {
  if (e.type == events_.Tick()) {
    pending_.push_back(MakeMessage(MSG_TIMER));
  } else if (e.type == events_.Post()) {
    pending_.push_back(MakeMessage(static_cast<uint32_t>(e.user.code)));
  } else if (e.type == events_.Raise()) {
    window_.Raise();
  } else if (pads_.Handle(e, SDL_GetTicks(), pending_)) {
    // A controller: its key messages are pending.
  } else {
    if (e.type == SDL_WINDOWEVENT) window_.Observe(e.window);
    if (e.type == SDL_RENDER_TARGETS_RESET || e.type == SDL_RENDER_DEVICE_RESET) {
      window_.ContentLost();
    }
    translator_.Translate(e, window_.View(), pending_);
  }
}

void SdlWindowSystem::SetTitle(std::string_view utf8) {
  title_ = utf8;
  if (!noticeShown_) window_.SetTitle(utf8);
}

void SdlWindowSystem::ShowNotice(std::string_view text) {
  if (!window_.Exists()) return;
  window_.SetTitle(title_ + " - " + std::string(text));
  noticeShown_ = true;
  noticeEnd_ = SDL_GetTicks() + NOTICE_MS;
}

void SdlWindowSystem::SetScale(int32_t scale) {
  window_.SetScale(scale);
  if (!window_.Exists()) return;
  // The window keeps its size; the game hears of its new size in game pixels as of any
  // other resize.
  SDL_Event e{};
  e.type = SDL_WINDOWEVENT;
  e.window.event = SDL_WINDOWEVENT_SIZE_CHANGED;
  e.window.windowID = SDL_GetWindowID(window_.Handle());
  translator_.Translate(e, window_.View(), pending_);
  pending_.push_back(MakeMessage(MSG_PAINT));
}

int32_t SdlWindowSystem::RunTimed() {
  const uint32_t now = SDL_GetTicks();
  virtualPads_.Run(now);
  pads_.Repeat(now, pending_);
  if (noticeShown_ && static_cast<int32_t>(noticeEnd_ - now) <= 0) {
    noticeShown_ = false;
    window_.SetTitle(title_);
  }
  int32_t wait = -1;
  for (const int32_t next : {virtualPads_.UntilNext(now), pads_.UntilRepeat(now),
                             noticeShown_ ? static_cast<int32_t>(noticeEnd_ - now) : -1}) {
    if (next >= 0 && (wait < 0 || next < wait)) wait = next;
  }
  return wait;
}

bool SdlWindowSystem::PeekMessage() {
  RunTimed();
  while (!quit_ && pending_.empty()) {
    SDL_PumpEvents();
    SDL_Event e;
    if (SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) != 1) return false;
    Handle(e);
  }
  return true;
}

bool SdlWindowSystem::GetMessage(Message& out) {
  while (!quit_) {
    if (!pending_.empty()) {
      out = std::move(pending_.front());
      pending_.pop_front();
      if (out.id == MSG_TIMER) clock_.Delivered();
      return true;
    }
    const int32_t wait = RunTimed();
    if (!pending_.empty()) continue;
    SDL_Event e;
    if (wait >= 0) {
      if (SDL_WaitEventTimeout(&e, std::max(wait, 1)) == 1) Handle(e);
      continue;
    }
    if (SDL_WaitEvent(&e) != 1) {
      SDL_Delay(1);  // an error in the event queue must not turn into a busy loop
      continue;
    }
    Handle(e);
  }
  return false;
}

void SdlWindowSystem::PostFromAnyThread(uint32_t id) {
  SDL_Event e{};
  e.type = events_.Post();
  e.user.code = static_cast<Sint32>(id);
  SDL_PushEvent(&e);
}

void SdlWindowSystem::CaptureMouse(bool on) {
  if (video_) CaptureMouseInput(on);
}

void SdlWindowSystem::SetCursor(int shape) {
  if (video_) cursors_->Set(shape);
}

}  // namespace orvo::platform

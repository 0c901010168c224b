#include "platform/sdl/sdl_platform.h"

#include <SDL2/SDL.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/sdl/sdl_folders.h"
#include "platform/sdl/sdl_shell.h"
#include "platform/sdl/sdl_wav.h"

namespace orvo::platform {
namespace {

bool InitSdl() {
  // Closing the window is the program's decision, so it must not also become SDL_QUIT:
  // SDL_QUIT then comes only from SIGTERM and SIGINT, which are the end of the session.
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  SDL_SetHint(SDL_HINT_RENDER_VSYNC, "0");
  // As on Windows: a click that activates the window is also a click, and the mouse is
  // captured only when the program asks for it.
  SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
  SDL_SetHint(SDL_HINT_MOUSE_AUTO_CAPTURE, "0");
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
  if (SDL_Init(SDL_INIT_TIMER | SDL_INIT_EVENTS) != 0) return false;
  // An X server under load now and then refuses a connection that a moment later succeeds;
  // without a second try SDL would quietly fall back to an invisible offscreen display.
  const char* display = std::getenv("DISPLAY");
  if (!std::getenv("SDL_VIDEODRIVER") && display && *display) {
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
    for (int attempt = 0; attempt < 5; ++attempt) {
      if (SDL_InitSubSystem(SDL_INIT_VIDEO) == 0) {
        SDL_SetHint(SDL_HINT_VIDEODRIVER, nullptr);
        return true;
      }
      SDL_Delay(20);
    }
    SDL_SetHint(SDL_HINT_VIDEODRIVER, nullptr);
  }
  return SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
}

uint32_t RegisterOwnEvents() {
  const Uint32 base = SDL_RegisterEvents(3);
  return base == static_cast<Uint32>(-1) ? static_cast<uint32_t>(SDL_USEREVENT) : base;
}

Message Simple(uint32_t id, uint32_t wParam = 0, uint32_t lParam = 0) {
  Message m;
  m.id = id;
  m.wParam = wParam;
  m.lParam = lParam;
  return m;
}

}  // namespace

SdlPlatform::SdlPlatform(int argc, char** argv)
    : video_(InitSdl()),
      executablePath_(ExecutablePathOf(argc > 0 && argv && argv[0] ? argv[0] : "")),
      eventBase_(RegisterOwnEvents()),
      cursors_(std::make_unique<CursorSet>()),
      timer_(TickEvent()) {}

SdlPlatform::~SdlPlatform() {
  instance_.Release();
  timer_.Stop();
  StopAudio();
  cursors_.reset();
  window_.Destroy();
  // Also waits for SDL's timer thread, so no tick callback outlives the timer.
  SDL_Quit();
}

std::string SdlPlatform::DocumentsFolder() {
  return UserDocumentsFolder();
}

bool SdlPlatform::ClaimInstance(const std::string& programFolder) {
  const uint32_t raise = RaiseEvent();
  return instance_.Claim(programFolder, [raise] {
    // On the lock's thread: the window is raised by the main thread when it gets this.
    SDL_Event e{};
    e.type = raise;
    SDL_PushEvent(&e);
  });
}

void SdlPlatform::MessageBox(std::string_view text) {
  const std::string t(text);
  // No parent window: the box is the runtime's own and waits until it is closed.
  if (SDL_ShowSimpleMessageBox(0, "!", t.c_str(), nullptr) != 0) {
    std::fprintf(stderr, "%s\n", t.c_str());
    std::fflush(stderr);
  }
}

uint32_t SdlPlatform::TickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint64_t ms =
      static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);  // wraps like the system's millisecond counter
}

LocalTime SdlPlatform::Now() {
  const time_t now = time(nullptr);
  tm t{};
  localtime_r(&now, &t);
  return LocalTime{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

Size SdlPlatform::DisplaySize() {
  SDL_Rect r{};
  if (!video_ || SDL_GetDisplayBounds(0, &r) != 0) return Size{};
  return Size{r.w, r.h};
}

Size SdlPlatform::DesktopSize() {
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

bool SdlPlatform::CreateWindow(std::string_view title, int32_t x, int32_t y, int32_t width,
                               int32_t height) {
  if (!video_ || !window_.Create(title, x, y, width, height)) return false;
  const WindowView view = window_.View();
  translator_.Reset(view);
  // Creating a window tells it its position and size, as the first move and size messages.
  int cx = 0, cy = 0;
  SDL_GetWindowPosition(window_.Handle(), &cx, &cy);
  pending_.push_back(Simple(MSG_MOVE, 0, PackPoint(cx, cy)));
  pending_.push_back(Simple(MSG_SIZE, SIZE_RESTORED, PackPoint(view.width, view.height)));
  SDL_StartTextInput();
  return true;
}

void SdlPlatform::ShowWindow() {
  window_.Show();
  // Showing a window activates it; without a window manager nobody else would.
  window_.Activate();
}

void SdlPlatform::DestroyWindow() {
  if (!window_.Exists()) return;
  SDL_StopTextInput();
  window_.Destroy();
  // Messages for the window die with it.
  pending_.clear();
}

void SdlPlatform::Handle(const SDL_Event& e) {
  if (e.type == TickEvent()) {
    pending_.push_back(Simple(MSG_TIMER));
  } else if (e.type == PostEvent()) {
    pending_.push_back(Simple(static_cast<uint32_t>(e.user.code)));
  } else if (e.type == RaiseEvent()) {
    window_.Raise();
  } else {
    if (e.type == SDL_WINDOWEVENT) window_.Observe(e.window);
    if (e.type == SDL_RENDER_TARGETS_RESET || e.type == SDL_RENDER_DEVICE_RESET) {
      window_.ContentLost();
    }
    translator_.Translate(e, window_.View(), pending_);
  }
}

bool SdlPlatform::PeekMessage() {
  while (!quit_ && pending_.empty()) {
    SDL_PumpEvents();
    SDL_Event e;
    if (SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) != 1) return false;
    Handle(e);
  }
  return true;
}

bool SdlPlatform::GetMessage(Message& out) {
  while (!quit_) {
    if (!pending_.empty()) {
      out = std::move(pending_.front());
      pending_.pop_front();
      if (out.id == MSG_TIMER) timer_.Delivered();
      return true;
    }
    SDL_Event e;
    if (SDL_WaitEvent(&e) != 1) {
      SDL_Delay(1);  // an error in the event queue must not turn into a busy loop
      continue;
    }
    Handle(e);
  }
  return false;
}

void SdlPlatform::PostFromAnyThread(uint32_t id) {
  SDL_Event e{};
  e.type = PostEvent();
  e.user.code = static_cast<Sint32>(id);
  SDL_PushEvent(&e);
}

void SdlPlatform::CaptureMouse(bool on) {
  if (video_) CaptureMouseInput(on);
}

void SdlPlatform::SetCursor(int shape) {
  if (video_) cursors_->Set(shape);
}

bool SdlPlatform::HasClipboardText() {
  return video_ && HasClipboardUtf8();
}

std::string SdlPlatform::GetClipboardText() {
  return video_ ? GetClipboardUtf8() : "";
}

void SdlPlatform::SetClipboardText(std::string_view utf8) {
  if (video_) SetClipboardUtf8(utf8);
}

void SdlPlatform::OpenWithShell(std::string_view target) {
  OpenWithDesktop(target);
}

bool SdlPlatform::StartAudio(AudioSource* source, int sampleRate) {
  return audio_.Start(source, sampleRate);
}

void SdlPlatform::StopAudio() {
  audio_.Stop();
}
void SdlPlatform::LockAudio() {
  audio_.Lock();
}
void SdlPlatform::UnlockAudio() {
  audio_.Unlock();
}

bool SdlPlatform::LoadWav(const std::string& path, int sampleRate, std::vector<int16_t>& stereo) {
  return LoadWavFile(path, sampleRate, stereo);
}

}  // namespace orvo::platform

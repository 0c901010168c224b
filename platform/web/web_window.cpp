#include "platform/web/web_window.h"

#include <emscripten.h>
#include <emscripten/html5.h>

#include <cmath>

#include "platform/web/web_input.h"

namespace orvo::platform {

namespace {

// Resolves with the next input (Module.orvoWake), after ms, or at the next animation
// frame when ms is negative. The wasm stack is put aside meanwhile (Asyncify).
EM_ASYNC_JS(void, orvo_wait, (double ms), {
  await new Promise((resolve) => {
    Module.orvoWake = resolve;
    if (ms < 0) requestAnimationFrame(() => resolve());
    else setTimeout(resolve, ms);
  });
  Module.orvoWake = null;
});

EM_JS(void, orvo_wake, (), {
  if (Module.orvoWake) Module.orvoWake();
});

// The BGRA block's area into the canvas (alpha ignored); the page counts the frames.
EM_JS(void, orvo_present,
      (const char* canvas, const uint8_t* pixels, int width, int height, int stride, int x, int y,
       int w, int h),
      {
        const screen = document.querySelector(UTF8ToString(canvas));
        if (!screen) return;
        const context = screen.getContext("2d");
        const image = context.createImageData(w, h);
        const out = image.data;
        for (let row = 0; row < h; ++row) {
          let from = pixels + (y + row) * stride + x * 4;
          let to = row * w * 4;
          for (let col = 0; col < w; ++col, from += 4, to += 4) {
            out[to] = HEAPU8[from + 2];
            out[to + 1] = HEAPU8[from + 1];
            out[to + 2] = HEAPU8[from];
            out[to + 3] = 255;
          }
        }
        context.putImageData(image, x, y);
        if (Module.orvoFrames === undefined) {
          Module.orvoFrames = 0;
          Module.orvoFirstFrameMs = performance.now();
          if (Module.onFirstFrame) Module.onFirstFrame();
        }
        Module.orvoFrames += 1;
      });

EM_JS(void, orvo_set_title, (const char* text), { document.title = UTF8ToString(text); });

EM_JS(void, orvo_set_cursor, (const char* canvas, const char* shape), {
  const screen = document.querySelector(UTF8ToString(canvas));
  if (screen) screen.style.cursor = UTF8ToString(shape);
});

EM_JS(int, orvo_screen_width, (), { return screen.width; });
EM_JS(int, orvo_screen_height, (), { return screen.height; });

}  // namespace

WebWindow::WebWindow(std::string canvas) : canvas_(std::move(canvas)) {
  ListenForInput(*this);
}

WebWindow::~WebWindow() {
  StopListening(*this);
}

uint32_t WebWindow::TickCount() {
  return static_cast<uint32_t>(static_cast<uint64_t>(emscripten_get_now()));
}

bool WebWindow::StartTimer(uint32_t intervalMs) {
  timerMs_ = intervalMs;
  nextTick_ = emscripten_get_now() + intervalMs;
  return true;
}

Size WebWindow::DisplaySize() {
  return {orvo_screen_width(), orvo_screen_height()};
}

bool WebWindow::CreateWindow(std::string_view title, int32_t x, int32_t y, int32_t width,
                             int32_t height) {
  if (width <= 0 || height <= 0) return false;
  placement_.normal = {x, y, width, height};
  SetTitle(title);
  emscripten_set_canvas_element_size(canvas_.c_str(), width, height);
  hasWindow_ = true;
  return true;
}

void WebWindow::ShowWindow() {
  Post(MakeMessage(MSG_SIZE, SIZE_RESTORED,
        static_cast<uint32_t>(placement_.normal.width & 0xFFFF) |
            static_cast<uint32_t>(placement_.normal.height) << 16));
  Post(MakeMessage(MSG_PAINT));
}

void WebWindow::DestroyWindow() {
  hasWindow_ = false;
}

void WebWindow::SetTitle(std::string_view utf8) {
  orvo_set_title(std::string(utf8).c_str());
}

void WebWindow::SetPlacement(const Placement& p) {
  // The page decides where the canvas is; only its size follows the game.
  const bool resized = p.normal.width != placement_.normal.width ||
                       p.normal.height != placement_.normal.height;
  placement_ = p;
  if (resized && p.normal.width > 0 && p.normal.height > 0) {
    emscripten_set_canvas_element_size(canvas_.c_str(), p.normal.width, p.normal.height);
    Post(MakeMessage(MSG_SIZE, SIZE_RESTORED,
          static_cast<uint32_t>(p.normal.width & 0xFFFF) |
              static_cast<uint32_t>(p.normal.height) << 16));
  }
}

void WebWindow::Present(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride,
                        const Rect& area) {
  const int32_t x = std::max(0, area.x), y = std::max(0, area.y);
  const int32_t w = std::min(width, area.x + area.width) - x;
  const int32_t h = std::min(height, area.y + area.height) - y;
  if (!pixels || w <= 0 || h <= 0) return;
  orvo_present(canvas_.c_str(), pixels, width, height, stride, x, y, w, h);
}

void WebWindow::SetCursor(int shape) {
  const char* css = shape == CURSOR_WAIT ? "wait" : shape == CURSOR_UPARROW ? "n-resize" : "default";
  orvo_set_cursor(canvas_.c_str(), css);
}

void WebWindow::Post(Message message) {
  queue_.push_back(std::move(message));
  orvo_wake();
}

bool WebWindow::PeekMessage() {
  return quit_ || !queue_.empty() || TimerDue(emscripten_get_now());
}

bool WebWindow::GetMessage(Message& out) {
  for (;;) {
    if (quit_) return false;
    if (!queue_.empty()) {
      out = std::move(queue_.front());
      queue_.pop_front();
      return true;
    }
    const double now = emscripten_get_now();
    if (TimerDue(now)) {
      // One tick however late: a tick missed is not made up.
      nextTick_ += timerMs_;
      if (nextTick_ <= now) nextTick_ = now + timerMs_;
      out = MakeMessage(MSG_TIMER);
      return true;
    }
    orvo_wait(timerMs_ != 0 ? std::max(0.0, nextTick_ - now) : -1.0);
  }
}

}  // namespace orvo::platform

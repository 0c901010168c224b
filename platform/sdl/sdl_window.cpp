#include "platform/sdl/sdl_window.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace orvo::platform {

bool SdlWindow::Create(std::string_view title, int32_t x, int32_t y, int32_t width,
                       int32_t height) {
  Destroy();
  width = std::max(width, 1);
  height = std::max(height, 1);
  created_ = Size{width, height};
  // A whole scale asked for before the window exists makes it that many times larger.
  if (scaleSetting_ > 1) {
    width *= scaleSetting_;
    height *= scaleSetting_;
  }
  // Hidden until Show: the program gets its window event before the window is visible.
  window_ = SDL_CreateWindow(std::string(title).c_str(), x, y, width, height,
                             SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
  if (!window_) return false;
  if (!MakeRenderer()) {
    Destroy();
    return false;
  }
  outer_ = Rect{x, y, width, height};
  normal_ = outer_;
  fullscreen_ = FullscreenWay::Off;
  frameApplied_ = false;
  fullUpload_ = true;
  // Most window managers tell the frame only once the window is mapped; where it is known
  // already, the client area gets its final size now.
  const Frame f = Borders();
  if (f.top || f.left || f.bottom || f.right) {
    FitOuter(outer_);
    frameApplied_ = true;
  }
  return true;
}

void SdlWindow::Show() {
  if (!window_) return;
  SDL_ShowWindow(window_);
  if (!frameApplied_) {
    frameApplied_ = true;
    const Frame f = Borders();
    if (f.top || f.left || f.bottom || f.right) FitOuter(outer_);
  }
}

bool SdlWindow::MakeRenderer() {
  if (texture_) SDL_DestroyTexture(texture_);
  if (renderer_) SDL_DestroyRenderer(renderer_);
  texture_ = nullptr;
  textureWidth_ = textureHeight_ = 0;
  // No vsync: presenting must never hold up the message loop.
  renderer_ = SDL_CreateRenderer(window_, -1, 0);
  if (!renderer_) renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
  rendererStale_ = false;
  fullUpload_ = true;
  return renderer_ != nullptr;
}

void SdlWindow::SetClientSize(int32_t width, int32_t height) {
  SDL_SetWindowSize(window_, width, height);
  // After a size set from here (not one the user or the window manager made) the
  // renderer keeps drawing into a buffer of the old height, and the picture shows shifted
  // by the difference; a renderer made afterwards has the right one.
  rendererStale_ = true;
}

void SdlWindow::Destroy() {
  if (texture_) SDL_DestroyTexture(texture_);
  if (renderer_) SDL_DestroyRenderer(renderer_);
  if (window_) SDL_DestroyWindow(window_);
  texture_ = nullptr;
  renderer_ = nullptr;
  window_ = nullptr;
  textureWidth_ = textureHeight_ = 0;
}

SdlWindow::Scaling SdlWindow::For(int32_t width, int32_t height) const {
  Scaling s;
  s.scale = scaleSetting_;
  if (s.scale == SCALE_FIT) {
    s.scale = created_.width > 0 && created_.height > 0
                  ? std::min(width / created_.width, height / created_.height)
                  : 1;
  }
  s.scale = std::max(s.scale, 1);
  s.game = Size{std::max(width / s.scale, 1), std::max(height / s.scale, 1)};
  s.offsetX = std::max((width - s.game.width * s.scale) / 2, 0);
  s.offsetY = std::max((height - s.game.height * s.scale) / 2, 0);
  return s;
}

SdlWindow::Scaling SdlWindow::Current() const {
  int w = 0, h = 0;
  if (window_) SDL_GetWindowSize(window_, &w, &h);
  return For(w, h);
}

WindowView SdlWindow::View() const {
  WindowView v;
  if (!window_) return v;
  const uint32_t flags = SDL_GetWindowFlags(window_);
  v.id = SDL_GetWindowID(window_);
  v.minimized = (flags & SDL_WINDOW_MINIMIZED) != 0;
  v.maximized = (flags & SDL_WINDOW_MAXIMIZED) != 0;
  const Scaling s = Current();
  v.width = s.game.width;
  v.height = s.game.height;
  v.scale = s.scale;
  v.offsetX = s.offsetX;
  v.offsetY = s.offsetY;
  return v;
}

Size SdlWindow::ClientSize() const {
  return window_ ? Current().game : Size{};
}

void SdlWindow::SetScale(int32_t setting) {
  scaleSetting_ = std::max(setting, SCALE_FIT);
  fullUpload_ = true;
}

bool SdlWindow::Fullscreen() const {
  return window_ && fullscreen_ != FullscreenWay::Off;
}

void SdlWindow::SetFullscreen(bool on) {
  if (!window_ || on == Fullscreen()) return;
  if (on) {
    RememberNormal();
    beforeFullscreen_ = normal_;
    // A window manager (it draws a frame) is asked for full screen. Without one nobody
    // would act on the request, so the window itself goes borderless over the display.
    const Frame f = Borders();
    if (f.top || f.left || f.bottom || f.right) {
      fullscreen_ = FullscreenWay::Managed;
      SDL_SetWindowFullscreen(window_, SDL_WINDOW_FULLSCREEN_DESKTOP);
    } else {
      fullscreen_ = FullscreenWay::Covering;
      SDL_Rect display{};
      const int index = std::max(SDL_GetWindowDisplayIndex(window_), 0);
      if (SDL_GetDisplayBounds(index, &display) != 0) display = SDL_Rect{0, 0, 0, 0};
      SDL_SetWindowBordered(window_, SDL_FALSE);
      SDL_SetWindowPosition(window_, display.x, display.y);
      SetClientSize(std::max(display.w, 1), std::max(display.h, 1));
      SDL_RaiseWindow(window_);
    }
  } else {
    if (fullscreen_ == FullscreenWay::Managed)
      SDL_SetWindowFullscreen(window_, 0);
    else
      SDL_SetWindowBordered(window_, SDL_TRUE);
    fullscreen_ = FullscreenWay::Off;
    // Not every window manager puts the window back by itself, and without one nobody does.
    SetClientSize(beforeFullscreen_.width, beforeFullscreen_.height);
    SDL_SetWindowPosition(window_, beforeFullscreen_.x, beforeFullscreen_.y);
    normal_ = beforeFullscreen_;
  }
  rendererStale_ = true;
  fullUpload_ = true;
}

void SdlWindow::SetTitle(std::string_view utf8) {
  if (window_) SDL_SetWindowTitle(window_, std::string(utf8).c_str());
}

SdlWindow::Frame SdlWindow::Borders() const {
  Frame f;
  if (!window_ || SDL_GetWindowBordersSize(window_, &f.top, &f.left, &f.bottom, &f.right) != 0) {
    return Frame{};
  }
  f.top = std::max(f.top, 0);
  f.left = std::max(f.left, 0);
  f.bottom = std::max(f.bottom, 0);
  f.right = std::max(f.right, 0);
  return f;
}

void SdlWindow::FitOuter(const Rect& outer) {
  const Frame f = Borders();
  const int32_t w = std::max(outer.width - f.left - f.right, 1);
  const int32_t h = std::max(outer.height - f.top - f.bottom, 1);
  // SDL places and sizes the client area; the frame goes around it.
  SetClientSize(w, h);
  SDL_SetWindowPosition(window_, outer.x + f.left, outer.y + f.top);
  normal_ = Rect{outer.x + f.left, outer.y + f.top, w, h};
}

void SdlWindow::RememberNormal() {
  if (fullscreen_ != FullscreenWay::Off) return;
  const uint32_t flags = SDL_GetWindowFlags(window_);
  if (flags &
      (SDL_WINDOW_MINIMIZED | SDL_WINDOW_MAXIMIZED | SDL_WINDOW_FULLSCREEN | SDL_WINDOW_HIDDEN)) {
    return;
  }
  SDL_GetWindowPosition(window_, &normal_.x, &normal_.y);
  SDL_GetWindowSize(window_, &normal_.width, &normal_.height);
}

void SdlWindow::Observe(const SDL_WindowEvent& e) {
  if (!window_ || e.windowID != SDL_GetWindowID(window_)) return;
  switch (e.event) {
    case SDL_WINDOWEVENT_MOVED:
    case SDL_WINDOWEVENT_RESIZED:
    case SDL_WINDOWEVENT_SIZE_CHANGED:
    case SDL_WINDOWEVENT_RESTORED:
      RememberNormal();
      break;
    default:
      break;
  }
}

Placement SdlWindow::GetPlacement() {
  Placement p;
  if (!window_) return p;
  const uint32_t flags = SDL_GetWindowFlags(window_);
  if (!frameApplied_) {
    const Size game = For(outer_.width, outer_.height).game;
    p.normal = Rect{outer_.x, outer_.y, game.width, game.height};
  } else {
    RememberNormal();
    const Frame f = Borders();
    const Size game = For(normal_.width, normal_.height).game;
    p.normal = Rect{normal_.x - f.left, normal_.y - f.top, game.width + f.left + f.right,
                    game.height + f.top + f.bottom};
  }
  if (flags & SDL_WINDOW_MINIMIZED) {
    p.showState = SW_SHOWMINIMIZED;
  } else if (flags & SDL_WINDOW_MAXIMIZED) {
    p.showState = SW_SHOWMAXIMIZED;
  } else {
    p.showState = SW_SHOWNORMAL;
  }
  return p;
}

void SdlWindow::SetPlacement(const Placement& given) {
  if (!window_) return;
  // The size is in game pixels: the window is the scale times as large.
  Placement p = given;
  const int32_t scale = Current().scale;
  if (scale > 1) {
    const Frame f = frameApplied_ ? Borders() : Frame{};
    p.normal.width = (p.normal.width - f.left - f.right) * scale + f.left + f.right;
    p.normal.height = (p.normal.height - f.top - f.bottom) * scale + f.top + f.bottom;
  }
  constexpr int32_t kHide = 0, kShowMinNoActive = 7, kForceMinimize = 11;
  const int32_t state = p.showState;
  if (state != kHide && (SDL_GetWindowFlags(window_) & SDL_WINDOW_HIDDEN)) Show();
  // The normal rectangle can only be set on a normal window; a maximized or minimized one
  // is restored first and then put back in the state asked for.
  if (SDL_GetWindowFlags(window_) & (SDL_WINDOW_MAXIMIZED | SDL_WINDOW_MINIMIZED)) {
    SDL_RestoreWindow(window_);
  }
  if (frameApplied_) {
    FitOuter(p.normal);
  } else {
    outer_ = p.normal;
    normal_ = p.normal;
    SetClientSize(std::max(p.normal.width, 1), std::max(p.normal.height, 1));
    SDL_SetWindowPosition(window_, p.normal.x, p.normal.y);
  }
  switch (state) {
    case kHide:
      SDL_HideWindow(window_);
      break;
    case SW_SHOWMAXIMIZED:
      SDL_MaximizeWindow(window_);
      break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case kShowMinNoActive:
    case kForceMinimize:
      SDL_MinimizeWindow(window_);
      break;
    default:
      break;
  }
}

bool SdlWindow::IsActive() const {
  return window_ && (SDL_GetWindowFlags(window_) & SDL_WINDOW_INPUT_FOCUS) != 0;
}

void SdlWindow::Activate() {
  if (!window_) return;
  SDL_RaiseWindow(window_);
  // Without a window manager to hand it over, the keyboard focus is taken directly.
  SDL_SetWindowInputFocus(window_);
}

void SdlWindow::Raise() {
  if (!window_) return;
  if (SDL_GetWindowFlags(window_) & SDL_WINDOW_HIDDEN) Show();
  // Restored from minimized and from maximized alike, as SW_RESTORE does.
  SDL_RestoreWindow(window_);
  Activate();
}

bool SdlWindow::EnsureTexture(Scaling& scaling) {
  if (rendererStale_ && !MakeRenderer()) return false;
  int outW = 0, outH = 0;
  if (SDL_GetRendererOutputSize(renderer_, &outW, &outH) != 0 || outW <= 0 || outH <= 0)
    return false;
  // The texture holds game pixels; the renderer enlarges them in the one copy it makes.
  scaling = For(outW, outH);
  const int w = scaling.game.width, h = scaling.game.height;
  if (texture_ && w == textureWidth_ && h == textureHeight_) return true;
  if (texture_) SDL_DestroyTexture(texture_);
  // ARGB8888 in memory is B, G, R, A: the screen block's own byte order.
  texture_ =
      SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, w, h);
  if (!texture_) return false;
  SDL_SetTextureBlendMode(texture_, SDL_BLENDMODE_NONE);
  SDL_SetTextureScaleMode(texture_, SDL_ScaleModeNearest);
  textureWidth_ = w;
  textureHeight_ = h;
  fullUpload_ = true;
  return true;
}

void SdlWindow::Present(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride,
                        const Rect& area) {
  if (!renderer_ || !pixels || width <= 0 || height <= 0 ||
      static_cast<int64_t>(stride) < static_cast<int64_t>(width) * 4) {
    return;
  }
  Scaling scaling;
  if (!EnsureTexture(scaling)) return;
  // A new texture holds nothing yet: it is filled from the whole block, whatever the
  // area, so that a small dirty rectangle after a resize leaves no garbage around it.
  const Rect r = fullUpload_ ? Rect{0, 0, textureWidth_, textureHeight_} : area;
  const int64_t x0 = std::max<int64_t>(r.x, 0), y0 = std::max<int64_t>(r.y, 0);
  const int64_t x1 = std::min<int64_t>(int64_t{r.x} + r.width, textureWidth_);
  const int64_t y1 = std::min<int64_t>(int64_t{r.y} + r.height, textureHeight_);
  if (x0 >= x1 || y0 >= y1) return;
  const SDL_Rect lockRect{static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0),
                          static_cast<int>(y1 - y0)};
  void* locked = nullptr;
  int pitch = 0;
  if (SDL_LockTexture(texture_, &lockRect, &locked, &pitch) != 0) return;
  // Rows and columns beyond the block are black; the locked area must be written whole.
  const int64_t copyWidth = std::clamp<int64_t>(std::min<int64_t>(x1, width) - x0, 0, x1 - x0);
  for (int64_t y = y0; y < y1; ++y) {
    auto* dst = static_cast<uint8_t*>(locked) + (y - y0) * pitch;
    int64_t done = 0;
    if (y < height && copyWidth > 0) {
      std::memcpy(dst, pixels + y * stride + x0 * 4, static_cast<size_t>(copyWidth) * 4);
      done = copyWidth;
    }
    std::memset(dst + done * 4, 0, static_cast<size_t>((x1 - x0) - done) * 4);
  }
  SDL_UnlockTexture(texture_);
  fullUpload_ = false;
  if (scaling.scale == 1) {
    SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
  } else {
    // The bars around the enlarged picture are black.
    SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
    SDL_RenderClear(renderer_);
    const SDL_Rect to{scaling.offsetX, scaling.offsetY, textureWidth_ * scaling.scale,
                      textureHeight_ * scaling.scale};
    SDL_RenderCopy(renderer_, texture_, nullptr, &to);
  }
  SDL_RenderPresent(renderer_);
}

}  // namespace orvo::platform

// The one main window: creation from the outer rectangle, placement, and painting from
// the screen block through a streaming texture.
#pragma once

#include <SDL2/SDL_events.h>
#include <SDL2/SDL_render.h>
#include <SDL2/SDL_video.h>

#include <cstdint>
#include <string_view>

#include "platform/platform.h"
#include "platform/sdl/sdl_events.h"

namespace orvo::platform {

class SdlWindow {
 public:
  SdlWindow() = default;
  SdlWindow(const SdlWindow&) = delete;
  SdlWindow& operator=(const SdlWindow&) = delete;
  ~SdlWindow() { Destroy(); }

  // Made hidden; x, y, width and height are the outer rectangle.
  bool Create(std::string_view title, int32_t x, int32_t y, int32_t width, int32_t height);
  void Show();
  void Destroy();
  bool Exists() const { return window_ != nullptr; }
  SDL_Window* Handle() const { return window_; }
  WindowView View() const;

  // In game pixels: the window's size divided by the scale.
  Size ClientSize() const;
  void SetTitle(std::string_view utf8);
  Placement GetPlacement();
  void SetPlacement(const Placement& p);
  bool IsActive() const;
  void Activate();
  void Raise();

  void Present(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride,
               const Rect& area);
  void SetFullscreen(bool on);
  bool Fullscreen() const;
  // SCALE_FIT or a whole scale from 1; before Create it also sizes the window made.
  void SetScale(int32_t setting);
  int32_t Scale() const { return Current().scale; }

  // The texture's contents are gone (device reset): the next Present uploads everything.
  void ContentLost() { fullUpload_ = true; }

  // Called for every event of this window, before it is translated: keeps the normal
  // rectangle, which SDL does not report while the window is maximized or minimized.
  void Observe(const SDL_WindowEvent& e);

 private:
  // How the game's pixels lie in the window now.
  struct Scaling {
    int32_t scale = 1, offsetX = 0, offsetY = 0;
    Size game;  // the window's size in game pixels
  };
  Scaling Current() const;
  Scaling For(int32_t width, int32_t height) const;

  struct Frame {
    int top = 0, left = 0, bottom = 0, right = 0;
  };
  Frame Borders() const;
  // Once the frame is known, moves and sizes the window so that its outer rectangle is the
  // one asked for.
  void FitOuter(const Rect& outer);
  void RememberNormal();
  // Makes the texture of the window's size in game pixels; scaling says how it is shown.
  bool EnsureTexture(Scaling& scaling);
  bool MakeRenderer();
  // Sizes the client area from the program's side (placement, fitting to the frame).
  void SetClientSize(int32_t width, int32_t height);

  SDL_Window* window_ = nullptr;
  SDL_Renderer* renderer_ = nullptr;
  SDL_Texture* texture_ = nullptr;
  int textureWidth_ = 0, textureHeight_ = 0;
  bool fullUpload_ = true;
  bool rendererStale_ = false;  // the window was sized by us since the renderer was made
  bool frameApplied_ = false;   // the outer rectangle has been fitted to the real frame
  Rect outer_;                  // the outer rectangle of creation, until then
  Rect normal_;                 // client rectangle of the normal (restored) window
  Rect beforeFullscreen_;       // client rectangle to go back to when leaving full screen
  enum class FullscreenWay { Off, Managed, Covering };
  FullscreenWay fullscreen_ = FullscreenWay::Off;
  int32_t scaleSetting_ = 1;  // SCALE_FIT or a whole scale
  Size created_;              // client size asked for at creation, in game pixels (fit)
};

}  // namespace orvo::platform

#include "platform/sdl/sdl_x11_errors.h"

#include <SDL2/SDL.h>
#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <dlfcn.h>

#include <cstring>

namespace orvo::platform {
namespace {

XErrorHandler previousHandler = nullptr;

int OnXError(Display* display, XErrorEvent* error) {
  if (error->error_code == BadWindow && error->request_code == X_SendEvent) return 0;
  return previousHandler ? previousHandler(display, error) : 0;
}

}  // namespace

void TolerateSendsToGoneWindows() {
  const char* driver = SDL_GetCurrentVideoDriver();
  if (!driver || std::strcmp(driver, "x11") != 0 || previousHandler) return;
  // SDL opened Xlib itself; the handler is set in that same library.
  void* xlib = dlopen("libX11.so.6", RTLD_NOW | RTLD_NOLOAD);
  if (!xlib) return;
  using SetHandler = XErrorHandler (*)(XErrorHandler);
  if (auto set = reinterpret_cast<SetHandler>(dlsym(xlib, "XSetErrorHandler")))
    previousHandler = set(&OnXError);
  dlclose(xlib);
}

}  // namespace orvo::platform

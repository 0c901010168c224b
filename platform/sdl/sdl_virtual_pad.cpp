#include "platform/sdl/sdl_virtual_pad.h"

#include <SDL2/SDL_events.h>
#include <SDL2/SDL_gamecontroller.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace orvo::platform {

VirtualPads::VirtualPads() {
  const char* file = std::getenv("ORVO_VIRTUAL_PAD");
  if (!file || !*file) return;
  std::ifstream in(file);
  if (!in) {
    std::fprintf(stderr, "orvo: cannot read the virtual pad script %s\n", file);
    return;
  }
  for (std::string line; std::getline(in, line);) {
    if (const size_t hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    if (line.find_first_not_of(" \t\r") != std::string::npos) lines_.push_back(line);
  }
}

VirtualPads::~VirtualPads() {
  for (SDL_Joystick* j : pads_) {
    if (j) SDL_JoystickClose(j);
  }
}

void VirtualPads::Start(uint32_t nowMs) {
  if (started_) return;
  started_ = true;
  due_ = nowMs;
}

int32_t VirtualPads::UntilNext(uint32_t nowMs) const {
  if (!started_ || !Active()) return -1;
  const int32_t left = static_cast<int32_t>(due_ - nowMs);
  return left > 0 ? left : 0;
}

void VirtualPads::Run(uint32_t nowMs) {
  while (started_ && Active() && static_cast<int32_t>(due_ - nowMs) <= 0) {
    const std::string line = lines_[next_++];
    std::istringstream words(line);
    std::string verb;
    words >> verb;
    if (verb == "wait") {
      uint32_t ms = 0;
      words >> ms;
      due_ = nowMs + ms;
    } else if (!Step(line)) {
      next_ = lines_.size();
    }
  }
}

SDL_Joystick* VirtualPads::Pad(size_t n) const {
  return n < pads_.size() ? pads_[n] : nullptr;
}

bool VirtualPads::Step(const std::string& line) {
  std::istringstream words(line);
  std::string verb, name;
  size_t n = 0;
  words >> verb;
  if (verb == "attach") {
    SDL_VirtualJoystickDesc desc{};
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
    desc.naxes = SDL_CONTROLLER_AXIS_MAX;
    desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
    desc.name = "orvo virtual pad";
    const int index = SDL_JoystickAttachVirtualEx(&desc);
    SDL_Joystick* j = index >= 0 ? SDL_JoystickOpen(index) : nullptr;
    if (!j) {
      std::fprintf(stderr, "orvo: cannot attach a virtual pad: %s\n", SDL_GetError());
      return false;
    }
    pads_.push_back(j);
    return true;
  }
  words >> n;
  SDL_Joystick* j = Pad(n);
  if (!j) {
    std::fprintf(stderr, "orvo: virtual pad script: no pad %zu in \"%s\"\n", n, line.c_str());
    return false;
  }
  if (verb == "detach") {
    const SDL_JoystickID id = SDL_JoystickInstanceID(j);
    SDL_JoystickClose(j);
    pads_[n] = nullptr;
    for (int i = 0; i < SDL_NumJoysticks(); ++i) {
      if (SDL_JoystickGetDeviceInstanceID(i) == id) return SDL_JoystickDetachVirtual(i) == 0;
    }
    return false;
  }
  words >> name;
  if (verb == "press" || verb == "release") {
    const SDL_GameControllerButton b = SDL_GameControllerGetButtonFromString(name.c_str());
    if (b != SDL_CONTROLLER_BUTTON_INVALID &&
        SDL_JoystickSetVirtualButton(j, b, verb == "press" ? SDL_PRESSED : SDL_RELEASED) == 0)
      return true;
  } else if (verb == "axis") {
    const SDL_GameControllerAxis a = SDL_GameControllerGetAxisFromString(name.c_str());
    int value = 0;
    words >> value;
    if (a != SDL_CONTROLLER_AXIS_INVALID &&
        SDL_JoystickSetVirtualAxis(j, a, static_cast<Sint16>(value)) == 0)
      return true;
  }
  std::fprintf(stderr, "orvo: virtual pad script: cannot do \"%s\"\n", line.c_str());
  return false;
}

}  // namespace orvo::platform

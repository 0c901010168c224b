// Test-only: controllers attached through SDL's virtual joysticks and worked by a script,
// so that tests drive the real game-controller path (hot-plug, mapping, events) without
// a device. Off unless the environment variable ORVO_VIRTUAL_PAD names a script:
//
//   wait MS               let MS milliseconds pass (counted from when the window shows)
//   attach                plug in another controller; they are numbered from 0
//   detach N              unplug controller N
//   press N BUTTON        SDL's button names: a b x y back start leftshoulder dpup ...
//   release N BUTTON
//   axis N AXIS VALUE     SDL's axis names (leftx, lefty ...), VALUE -32768 .. 32767
#pragma once

#include <SDL2/SDL_joystick.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orvo::platform {

class VirtualPads {
 public:
  // Reads the script named by ORVO_VIRTUAL_PAD; inactive without one.
  VirtualPads();
  VirtualPads(const VirtualPads&) = delete;
  VirtualPads& operator=(const VirtualPads&) = delete;
  ~VirtualPads();

  bool Active() const { return !lines_.empty() && next_ < lines_.size(); }
  // The script's clock starts.
  void Start(uint32_t nowMs);
  // Milliseconds until the next step is due; -1 when none is (not started, or done).
  int32_t UntilNext(uint32_t nowMs) const;
  // Carries out every step that is due.
  void Run(uint32_t nowMs);

 private:
  // False (and one line on standard error) for a step that cannot be carried out.
  bool Step(const std::string& line);
  SDL_Joystick* Pad(size_t n) const;

  std::vector<std::string> lines_;
  size_t next_ = 0;
  bool started_ = false;
  uint32_t due_ = 0;
  std::vector<SDL_Joystick*> pads_;  // null once detached
};

}  // namespace orvo::platform

// Game controllers through SDL's game-controller layer (its mapping database and
// hot-plugging), turned into the key messages a keyboard would send: key down, the
// character the key types, auto-repeat while held, key up. A key stays down while any
// control of any pad holds it; a pad that goes away releases what it held.
#pragma once

#include <SDL2/SDL_events.h>
#include <SDL2/SDL_gamecontroller.h>

#include <array>
#include <cstdint>
#include <deque>
#include <vector>

#include "platform/gamepad.h"
#include "platform/window.h"

namespace orvo::platform {

class GamepadInput {
 public:
  GamepadInput() = default;
  GamepadInput(const GamepadInput&) = delete;
  GamepadInput& operator=(const GamepadInput&) = delete;
  ~GamepadInput();

  // Releases everything held under the old mapping first.
  void SetMapping(const PadMapping& mapping, std::deque<Message>& out);
  // True when e was a controller event; its key messages are appended to out.
  bool Handle(const SDL_Event& e, uint32_t nowMs, std::deque<Message>& out);
  // Milliseconds until the held key repeats, or -1 while none is held.
  int32_t UntilRepeat(uint32_t nowMs) const;
  void Repeat(uint32_t nowMs, std::deque<Message>& out);
  size_t PadCount() const { return pads_.size(); }

 private:
  // A pad's controls, then its stick's four directions (in the d-pad's order), which
  // send the d-pad's keys but are held apart from it.
  static constexpr int kStickSlots = PAD_CONTROL_COUNT, kSlots = PAD_CONTROL_COUNT + 4;
  struct Pad {
    SDL_GameController* controller = nullptr;
    SDL_JoystickID id = -1;
    std::array<bool, kSlots> held{};
  };
  void Open(int deviceIndex);
  void Close(SDL_JoystickID id, std::deque<Message>& out);
  Pad* Find(SDL_JoystickID id);
  void Set(Pad& pad, int slot, bool down, uint32_t nowMs, std::deque<Message>& out);
  void Stick(Pad& pad, const SDL_ControllerAxisEvent& e, uint32_t nowMs, std::deque<Message>& out);
  void KeyDown(uint32_t vk, bool repeat, std::deque<Message>& out) const;
  void KeyUp(uint32_t vk, std::deque<Message>& out) const;

  PadMapping mapping_{};
  std::vector<Pad> pads_;
  std::array<int, 256> holders_{};  // per virtual key: how many controls hold it
  uint32_t repeatKey_ = 0;          // the key last pressed, while held
  uint32_t nextRepeat_ = 0;
};

// The character a mapped key types, as an unshifted US keyboard types it; 0 for none.
uint32_t PadKeyCharacter(uint32_t vk);

}  // namespace orvo::platform

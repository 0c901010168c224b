#include "platform/sdl/sdl_gamepad.h"

#include "platform/sdl/sdl_events.h"

namespace orvo::platform {
namespace {

// The stick counts as pushed beyond the first value and as let go below the second, so
// that a stick resting near the line does not chatter.
constexpr int kStickPress = 16000, kStickRelease = 8000;

int ControlOf(uint8_t button) {
  switch (button) {
    case SDL_CONTROLLER_BUTTON_A:
      return PAD_A;
    case SDL_CONTROLLER_BUTTON_B:
      return PAD_B;
    case SDL_CONTROLLER_BUTTON_X:
      return PAD_X;
    case SDL_CONTROLLER_BUTTON_Y:
      return PAD_Y;
    case SDL_CONTROLLER_BUTTON_BACK:
      return PAD_BACK;
    case SDL_CONTROLLER_BUTTON_START:
      return PAD_START;
    case SDL_CONTROLLER_BUTTON_LEFTSHOULDER:
      return PAD_LEFT_SHOULDER;
    case SDL_CONTROLLER_BUTTON_RIGHTSHOULDER:
      return PAD_RIGHT_SHOULDER;
    case SDL_CONTROLLER_BUTTON_DPAD_UP:
      return PAD_UP;
    case SDL_CONTROLLER_BUTTON_DPAD_DOWN:
      return PAD_DOWN;
    case SDL_CONTROLLER_BUTTON_DPAD_LEFT:
      return PAD_LEFT;
    case SDL_CONTROLLER_BUTTON_DPAD_RIGHT:
      return PAD_RIGHT;
    default:
      return -1;
  }
}

}  // namespace

uint32_t PadKeyCharacter(uint32_t vk) {
  if (vk >= 'A' && vk <= 'Z') return vk - 'A' + 'a';
  if ((vk >= '0' && vk <= '9') || vk == ' ') return vk;
  return 0;
}

GamepadInput::~GamepadInput() {
  for (Pad& p : pads_) SDL_GameControllerClose(p.controller);
}

GamepadInput::Pad* GamepadInput::Find(SDL_JoystickID id) {
  for (Pad& p : pads_) {
    if (p.id == id) return &p;
  }
  return nullptr;
}

void GamepadInput::Open(int deviceIndex) {
  if (!SDL_IsGameController(deviceIndex)) return;
  SDL_GameController* c = SDL_GameControllerOpen(deviceIndex);
  if (!c) return;
  const SDL_JoystickID id = SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(c));
  if (Find(id)) {  // announced twice (present at start and added)
    SDL_GameControllerClose(c);
    return;
  }
  pads_.push_back(Pad{c, id, {}});
}

void GamepadInput::Close(SDL_JoystickID id, std::deque<Message>& out) {
  for (size_t i = 0; i < pads_.size(); ++i) {
    if (pads_[i].id != id) continue;
    // Whatever the pad held is let go, as if each control had been released.
    for (int slot = 0; slot < kSlots; ++slot) {
      if (pads_[i].held[slot]) Set(pads_[i], slot, false, 0, out);
    }
    SDL_GameControllerClose(pads_[i].controller);
    pads_.erase(pads_.begin() + static_cast<std::ptrdiff_t>(i));
    return;
  }
}

void GamepadInput::KeyDown(uint32_t vk, bool repeat, std::deque<Message>& out) const {
  out.push_back(MakeMessage(MSG_KEYDOWN, vk, repeat ? 1u | 1u << 30 : 1u));
  if (const uint32_t ch = PadKeyCharacter(vk)) out.push_back(MakeMessage(MSG_CHAR, ch, 1));
}

void GamepadInput::KeyUp(uint32_t vk, std::deque<Message>& out) const {
  out.push_back(MakeMessage(MSG_KEYUP, vk, 1u | 1u << 30 | 1u << 31));
}

void GamepadInput::Set(Pad& pad, int slot, bool down, uint32_t nowMs, std::deque<Message>& out) {
  if (pad.held[slot] == down) return;
  pad.held[slot] = down;
  const int control = slot < kStickSlots ? slot : PAD_UP + (slot - kStickSlots);
  const uint32_t vk = mapping_.keys[control] & 0xFF;
  if (vk == 0) return;
  if (down) {
    if (holders_[vk]++ == 0) KeyDown(vk, false, out);
    repeatKey_ = vk;
    nextRepeat_ = nowMs + PAD_REPEAT_DELAY_MS;
  } else if (holders_[vk] > 0 && --holders_[vk] == 0) {
    KeyUp(vk, out);
    if (repeatKey_ == vk) repeatKey_ = 0;
  }
}

void GamepadInput::Stick(Pad& pad, const SDL_ControllerAxisEvent& e, uint32_t nowMs,
                         std::deque<Message>& out) {
  int negative = 0;
  if (e.axis == SDL_CONTROLLER_AXIS_LEFTX) {
    negative = PAD_LEFT;
  } else if (e.axis == SDL_CONTROLLER_AXIS_LEFTY) {
    negative = PAD_UP;
  } else {
    return;
  }
  // PAD_UP, PAD_DOWN and PAD_LEFT, PAD_RIGHT are pairs: negative, then positive.
  const int low = kStickSlots + (negative - PAD_UP), high = low + 1;
  const int v = e.value;
  if (v <= -kStickPress) Set(pad, low, true, nowMs, out);
  if (v > -kStickRelease) Set(pad, low, false, nowMs, out);
  if (v >= kStickPress) Set(pad, high, true, nowMs, out);
  if (v < kStickRelease) Set(pad, high, false, nowMs, out);
}

bool GamepadInput::Handle(const SDL_Event& e, uint32_t nowMs, std::deque<Message>& out) {
  switch (e.type) {
    case SDL_CONTROLLERDEVICEADDED:
      Open(e.cdevice.which);
      return true;
    case SDL_CONTROLLERDEVICEREMOVED:
      Close(e.cdevice.which, out);
      return true;
    case SDL_CONTROLLERBUTTONDOWN:
    case SDL_CONTROLLERBUTTONUP: {
      Pad* pad = Find(e.cbutton.which);
      const int control = ControlOf(e.cbutton.button);
      if (pad && control >= 0) Set(*pad, control, e.type == SDL_CONTROLLERBUTTONDOWN, nowMs, out);
      return true;
    }
    case SDL_CONTROLLERAXISMOTION:
      if (Pad* pad = Find(e.caxis.which)) Stick(*pad, e.caxis, nowMs, out);
      return true;
    case SDL_CONTROLLERDEVICEREMAPPED:
    case SDL_JOYDEVICEADDED:
    case SDL_JOYDEVICEREMOVED:
      return true;
    default:
      return false;
  }
}

int32_t GamepadInput::UntilRepeat(uint32_t nowMs) const {
  if (repeatKey_ == 0) return -1;
  const int32_t left = static_cast<int32_t>(nextRepeat_ - nowMs);
  return left > 0 ? left : 0;
}

void GamepadInput::Repeat(uint32_t nowMs, std::deque<Message>& out) {
  if (repeatKey_ == 0 || static_cast<int32_t>(nextRepeat_ - nowMs) > 0) return;
  KeyDown(repeatKey_, true, out);
  nextRepeat_ = nowMs + PAD_REPEAT_INTERVAL_MS;
}

void GamepadInput::SetMapping(const PadMapping& mapping, std::deque<Message>& out) {
  for (Pad& p : pads_) {
    for (int slot = 0; slot < kSlots; ++slot) {
      if (p.held[slot]) Set(p, slot, false, 0, out);
    }
  }
  mapping_ = mapping;
}

}  // namespace orvo::platform

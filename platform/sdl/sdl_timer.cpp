#include "platform/sdl/sdl_timer.h"

#include <SDL2/SDL_events.h>

namespace orvo::platform {

bool TickTimer::Start(uint32_t intervalMs) {
  Stop();
  if (intervalMs == 0) return false;
  id_ = SDL_AddTimer(intervalMs, &TickTimer::Callback, this);
  return id_ != 0;
}

void TickTimer::Stop() {
  if (id_ != 0) SDL_RemoveTimer(id_);
  id_ = 0;
}

// Runs on SDL's timer thread.
Uint32 TickTimer::Callback(Uint32 interval, void* self) {
  auto* timer = static_cast<TickTimer*>(self);
  if (!timer->pending_.exchange(true)) {
    SDL_Event e{};
    e.type = timer->eventType_;
    if (SDL_PushEvent(&e) != 1) timer->pending_.store(false);  // queue full or filtered
  }
  return interval;
}

}  // namespace orvo::platform

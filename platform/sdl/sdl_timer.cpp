#include "platform/sdl/sdl_timer.h"

#include <SDL2/SDL_events.h>

#include <ctime>

namespace orvo::platform {

uint32_t SdlClock::TickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint64_t ms =
      static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);  // wraps like the system's millisecond counter
}

bool SdlClock::StartTimer(uint32_t intervalMs) {
  StopTimer();
  if (intervalMs == 0) return false;
  id_ = SDL_AddTimer(intervalMs, &SdlClock::Callback, this);
  return id_ != 0;
}

void SdlClock::StopTimer() {
  if (id_ != 0) SDL_RemoveTimer(id_);
  id_ = 0;
}

// Runs on SDL's timer thread.
Uint32 SdlClock::Callback(Uint32 interval, void* self) {
  auto* timer = static_cast<SdlClock*>(self);
  if (!timer->pending_.exchange(true)) {
    SDL_Event e{};
    e.type = timer->eventType_;
    if (SDL_PushEvent(&e) != 1) timer->pending_.store(false);  // queue full or filtered
  }
  return interval;
}

}  // namespace orvo::platform

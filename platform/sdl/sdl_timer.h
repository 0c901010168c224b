// The clock and the one periodic timer. Ticks arrive as an SDL user event, and a tick is
// queued only when none is waiting, so a slow program finds one tick, not a pile of them.
#pragma once

#include <SDL2/SDL_timer.h>

#include <atomic>
#include <cstdint>

#include "platform/clock.h"

namespace orvo::platform {

class SdlClock final : public Clock {
 public:
  explicit SdlClock(uint32_t tickEventType) : eventType_(tickEventType) {}
  SdlClock(const SdlClock&) = delete;
  SdlClock& operator=(const SdlClock&) = delete;
  // SDL_Quit, which waits for the timer thread, must follow: a callback may be running.
  ~SdlClock() override { StopTimer(); }

  uint32_t TickCount() override;
  LocalTime Now() override { return LocalTimeNow(); }
  // A running timer is replaced, as a second SetTimer of the same timer does.
  bool StartTimer(uint32_t intervalMs) override;
  void StopTimer() override;
  // The waiting tick has been handed out; the next one may be queued.
  void Delivered() { pending_.store(false); }

 private:
  static Uint32 Callback(Uint32 interval, void* self);

  uint32_t eventType_;
  SDL_TimerID id_ = 0;
  std::atomic<bool> pending_{false};
};

}  // namespace orvo::platform

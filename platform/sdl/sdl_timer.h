// The one periodic timer. Its ticks arrive as an SDL user event, and a tick is queued only
// when none is waiting, so a slow program finds one tick, not a pile of them.
#pragma once

#include <SDL2/SDL_timer.h>

#include <atomic>
#include <cstdint>

namespace orvo::platform {

class TickTimer {
 public:
  explicit TickTimer(uint32_t eventType) : eventType_(eventType) {}
  TickTimer(const TickTimer&) = delete;
  TickTimer& operator=(const TickTimer&) = delete;
  // SDL_Quit, which waits for the timer thread, must follow: a callback may be running.
  ~TickTimer() { Stop(); }

  // A running timer is replaced, as a second SetTimer of the same timer does.
  bool Start(uint32_t intervalMs);
  void Stop();
  bool Running() const { return id_ != 0; }
  // The waiting tick has been handed out; the next one may be queued.
  void Delivered() { pending_.store(false); }

 private:
  static Uint32 Callback(Uint32 interval, void* self);

  uint32_t eventType_;
  SDL_TimerID id_ = 0;
  std::atomic<bool> pending_{false};
};

}  // namespace orvo::platform

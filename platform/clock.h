// The clock and the one periodic timer, whose ticks arrive among the window's messages
// as MSG_TIMER, never piling up.
#pragma once

#include <cstdint>
#include <ctime>

namespace orvo::platform {

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// The wall clock in the local time zone, as every clock reports it.
inline LocalTime LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint32_t TickCount() = 0;  // milliseconds, wrapping
  virtual LocalTime Now() = 0;
  virtual bool StartTimer(uint32_t intervalMs) = 0;
  virtual void StopTimer() = 0;
};

}  // namespace orvo::platform

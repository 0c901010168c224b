// Time that passes only as the script says: every wait moves it on at once, and nothing
// else does, so a run reads the same tick counts, the same dates and the same timer
// ticks every time. The headless window runs on it when asked; anything that drives a
// run from a file of its own (a replay) can move it the same way.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/clock.h"

namespace orvo::platform {

class ScriptClock {
 public:
  explicit ScriptClock(LocalTime start) : start_(start) {}

  // Milliseconds since the run started.
  uint64_t Ms() const { return ms_; }
  // Time only goes forwards: an earlier moment leaves it where it is.
  void AdvanceTo(uint64_t ms) {
    if (ms > ms_) ms_ = ms;
  }
  // The start date plus the time passed, in whole seconds.
  LocalTime Now() const;

 private:
  LocalTime start_;
  uint64_t ms_ = 0;
};

// The date a script clock starts from when none is given.
inline constexpr LocalTime kScriptClockStart{2000, 1, 1, 12, 0, 0};

// "YYYY-MM-DD" or "YYYY-MM-DDTHH:MM:SS" (years 1970 to 9999); nothing when it is neither
// or names no such day or time.
std::optional<LocalTime> ParseScriptDate(std::string_view text);

}  // namespace orvo::platform

// Scripted input for the headless runner: events, and waits that let real time pass.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/event_queue.h"

namespace orvo::host {

struct ScriptItem {
  enum Kind { EVENT, WAIT, UNTIL } kind = EVENT;
  Event event;          // EVENT
  int32_t code = 0;     // UNTIL: the code that ends the wait
  uint32_t waitMs = 0;  // WAIT, UNTIL
};

// Parses the whole script. On a bad line returns false with error naming the line.
bool ParseScript(std::string_view text, std::vector<ScriptItem>& items, std::string& error);

// A decimal or 0x-hexadecimal number, optionally negative, taken modulo 2^32.
bool ParseNumber(std::string_view token, int32_t& out);

}  // namespace orvo::host

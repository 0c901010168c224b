// Scripted input for the headless platform: events, waits that let real time pass, and
// screenshots.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::platform {

struct ScriptItem {
  enum Kind { EVENT, WAIT, UNTIL, SHOT } kind = EVENT;
  int32_t event[4] = {};  // EVENT: code, a1, a2, a3
  int32_t code = 0;       // UNTIL: the code that ends the wait
  uint32_t waitMs = 0;    // WAIT, UNTIL
  std::string file;       // SHOT: where the screenshot goes
};

// Parses the whole script. On a bad line returns false with error naming the line.
bool ParseScript(std::string_view text, std::vector<ScriptItem>& items, std::string& error);

// A decimal or 0x-hexadecimal number, optionally negative, taken modulo 2^32.
bool ParseNumber(std::string_view token, int32_t& out);

}  // namespace orvo::platform

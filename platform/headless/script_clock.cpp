#include "platform/headless/script_clock.h"

#include <charconv>
#include <ctime>

namespace orvo::platform {
namespace {

// Calendar arithmetic in UTC: a script's dates have no time zone, so no summer time
// moves them.
std::time_t Seconds(const LocalTime& t) {
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second;
  return timegm(&tm);
}

LocalTime FromSeconds(std::time_t s) {
  std::tm tm{};
  gmtime_r(&s, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

bool Field(std::string_view text, size_t at, size_t width, int& out) {
  if (at + width > text.size()) return false;
  for (size_t i = at; i < at + width; ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  std::from_chars(text.data() + at, text.data() + at + width, out);
  return true;
}

}  // namespace

LocalTime ScriptClock::Now() const {
  return FromSeconds(Seconds(start_) + static_cast<std::time_t>(ms_ / 1000));
}

std::optional<LocalTime> ParseScriptDate(std::string_view text) {
  LocalTime t{};
  const bool dateOk = (text.size() == 10 || text.size() == 19) && Field(text, 0, 4, t.year) &&
                      text[4] == '-' && Field(text, 5, 2, t.month) && text[7] == '-' &&
                      Field(text, 8, 2, t.day);
  if (!dateOk) return std::nullopt;
  if (text.size() == 19 &&
      !(text[10] == 'T' && Field(text, 11, 2, t.hour) && text[13] == ':' &&
        Field(text, 14, 2, t.minute) && text[16] == ':' && Field(text, 17, 2, t.second)))
    return std::nullopt;
  if (t.year < 1970) return std::nullopt;
  // A date that does not exist (Feb 30, 25:00) comes back from the calendar changed.
  const LocalTime back = FromSeconds(Seconds(t));
  if (back.year != t.year || back.month != t.month || back.day != t.day || back.hour != t.hour ||
      back.minute != t.minute || back.second != t.second)
    return std::nullopt;
  return t;
}

}  // namespace orvo::platform

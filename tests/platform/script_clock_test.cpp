// The script's clock: dates read from the command line and the date after time passed.
#include "platform/headless/script_clock.h"

#include <gtest/gtest.h>

namespace orvo::platform {
namespace {

bool Same(const LocalTime& a, const LocalTime& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
         a.minute == b.minute && a.second == b.second;
}

TEST(ScriptClock, ReadsDatesAndRefusesWhatIsNoDay) {
  auto day = ParseScriptDate("2024-02-29");
  ASSERT_TRUE(day);
  EXPECT_TRUE(Same(*day, {2024, 2, 29, 0, 0, 0}));
  auto moment = ParseScriptDate("1999-12-31T23:59:58");
  ASSERT_TRUE(moment);
  EXPECT_TRUE(Same(*moment, {1999, 12, 31, 23, 59, 58}));
  for (const char* bad : {"2023-02-29", "2024-00-10", "2024-01-32", "2024-01-01T24:00:00",
                          "2024-01-01T10:60:00", "1969-12-31", "2024-1-01", "2024-01-01 10:00:00",
                          "20240101", "", "abcd-ef-gh", "2024-01-01T10:00"})
    EXPECT_FALSE(ParseScriptDate(bad)) << bad;
}

// Every moment of a few years reads back as the start moved on by whole seconds, across
// month, year and leap-day boundaries.
TEST(ScriptClock, DateFollowsTheTimePassed) {
  ScriptClock clock({2023, 12, 31, 23, 59, 59});
  EXPECT_TRUE(Same(clock.Now(), {2023, 12, 31, 23, 59, 59}));
  clock.AdvanceTo(999);
  EXPECT_TRUE(Same(clock.Now(), {2023, 12, 31, 23, 59, 59}));
  clock.AdvanceTo(1000);
  EXPECT_TRUE(Same(clock.Now(), {2024, 1, 1, 0, 0, 0}));
  clock.AdvanceTo(500);  // never backwards
  EXPECT_EQ(clock.Ms(), 1000u);
  clock.AdvanceTo(1000 + 59ull * 86400 * 1000);
  EXPECT_TRUE(Same(clock.Now(), {2024, 2, 29, 0, 0, 0}));
  for (uint64_t days = 60; days < 3 * 366; days += 37) {
    clock.AdvanceTo(1000 + days * 86400 * 1000 + 3723 * 1000);
    const LocalTime t = clock.Now();
    EXPECT_EQ(t.hour * 3600 + t.minute * 60 + t.second, 3723);
    auto back = ParseScriptDate(std::to_string(t.year) + "-" + (t.month < 10 ? "0" : "") +
                                std::to_string(t.month) + "-" + (t.day < 10 ? "0" : "") +
                                std::to_string(t.day));
    EXPECT_TRUE(back) << days;
  }
}

}  // namespace
}  // namespace orvo::platform

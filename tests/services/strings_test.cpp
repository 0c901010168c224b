#include <string>
#include <tuple>
#include <vector>

#include "tests/services/strings_test_support.h"

namespace orvo::services::test {
namespace {

constexpr uint32_t kLess = 0xFFFFFFFF;

TEST(Strings, CopyAppendLengthCompare) {
  StringsVm v;
  const uint32_t buffer = v.Put("", 16), hello = v.Put("hello"), ab = v.Put("ab", 8);
  v.Sys(SYS_STRCPY, {buffer, hello});
  EXPECT_EQ(v.Text(buffer), "hello");
  EXPECT_EQ(v.Result(), kUnset);
  v.Sys(SYS_STRCAT, {buffer, v.Put(", w")});
  EXPECT_EQ(v.Text(buffer), "hello, w");
  EXPECT_EQ(v.Result(), kUnset);
  // Appending a string to itself copies it as it was.
  v.Sys(SYS_STRCAT, {ab, ab});
  EXPECT_EQ(v.Text(ab), "abab");
  v.Sys(SYS_STRLEN, {v.Put("h\xC3\xA9llo")});
  EXPECT_EQ(v.Low(), 6u);
  v.Sys(SYS_STRLEN, {v.Put("")});
  EXPECT_EQ(v.Low(), 0u);

  const std::vector<std::tuple<std::string, std::string, uint32_t>> orders = {
      {"abc", "abd", kLess}, {"abd", "abc", 1}, {"abc", "abc", 0},
      {"ab", "abc", kLess},  {"abc", "ab", 1},  {"\xC3\xA9", "a", 1},  // unsigned bytes
  };
  for (const auto& [a, b, order] : orders) {
    v.Sys(SYS_STRCMP, {v.Put(a), v.Put(b)});
    EXPECT_EQ(v.Low(), order) << a << " " << b;
  }
  EXPECT_TRUE(v.hooks.messages.empty());
}

TEST(Strings, StringRowsCheckEveryByteTheyTouch) {
  for (uint32_t row : {SYS_STRCPY, SYS_STRCAT, SYS_STRLEN, SYS_STRCMP, SYS_MESSAGE}) {
    SCOPED_TRACE(row);
    StringsVm v;
    const uint32_t ok = v.Put("ok", 8), end = v.PutAtEnd("zz");
    if (row == SYS_STRLEN || row == SYS_MESSAGE)
      v.Sys(row, {end});
    else
      v.Sys(row, {ok, end});
    EXPECT_EQ(v.hooks.messages, std::vector<std::string>{FaultMessage(end)});
    EXPECT_TRUE(v.Stopped());
    EXPECT_EQ(v.Result(), kUnset);
    EXPECT_EQ(v.Text(ok), "ok");
  }
  {
    // The copy would run past the end: nothing is written.
    StringsVm v;
    const uint32_t dest = v.PutAtEnd(std::string("\x7F\x7F\x7F", 3));
    v.Sys(SYS_STRCPY, {dest, v.Put("hello")});
    EXPECT_EQ(v.hooks.messages, std::vector<std::string>{FaultMessage(dest)});
    EXPECT_EQ(v.Bytes(dest, 3), "\x7F\x7F\x7F");
  }
  {
    // The appended text would run past the end: the fault names where it would start.
    StringsVm v;
    const uint32_t dest = v.PutAtEnd(std::string("ab\0\x7F", 4));
    v.Sys(SYS_STRCAT, {dest, v.Put("cd")});
    EXPECT_EQ(v.hooks.messages, std::vector<std::string>{FaultMessage(dest + 2)});
    EXPECT_EQ(v.Bytes(dest, 4), std::string("ab\0\x7F", 4));
  }
  {
    StringsVm v;
    v.Sys(SYS_STRCAT, {v.PutAtEnd("ab"), v.Put("cd")});
    EXPECT_EQ(v.hooks.messages, std::vector<std::string>{FaultMessage(v.m.memSize - 2)});
  }
}

TEST(Strings, UpperCasesOneCharacter) {
  StringsVm v;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"\xC3\xA9", "\xC3\x89"},  // é → É
      {"a", "A"},
      {"7", "7"},
      {"\xC3\xBF", "\xC5\xB8"},                  // ÿ → Ÿ
      {"\xC3\x9F", "\xC3\x9F"},                  // ß has no single capital
      {"\xD0\xB6", "\xD0\x96"},                  // ж → Ж
      {"\xF0\x90\x90\xA8", "\xF0\x90\x90\x80"},  // Deseret, beyond 16 bits
      {"abcd", "ABCD"},
      // Left as they were: not UTF-8, or an upper case longer than four bytes.
      {"\xE9", "\xE9"},
      {"\xC3", "\xC3"},
      {"abcdef", "abcdef"},
      {"\xC3\xA9\xC3\xA9\xC3\xA9", "\xC3\xA9\xC3\xA9\xC3\xA9"},
  };
  for (const auto& [in, out] : cases) {
    const uint32_t at = v.Put(in + std::string("\0XYZW", 5));
    v.Sys(SYS_CHARUPPER, {at});
    EXPECT_EQ(v.Text(at), out) << in;
    EXPECT_EQ(v.Bytes(at + static_cast<uint32_t>(in.size()) + 1, 4), "XYZW") << in;
    EXPECT_EQ(v.Result(), kUnset);
  }
  // ɐ (two bytes) has a three-byte capital, written over the old terminator and one more.
  const uint32_t turned = v.Put(std::string("\xC9\x90\0XY", 5));
  v.Sys(SYS_CHARUPPER, {turned});
  EXPECT_EQ(v.Bytes(turned, 5), std::string("\xE2\xB1\xAF\0Y", 5));
  EXPECT_TRUE(v.hooks.messages.empty());
}

TEST(Strings, UpperCaseChecksItsWrite) {
  {
    StringsVm v;
    const uint32_t at = v.PutAtEnd(std::string("\xC9\x90\0", 3));
    v.Sys(SYS_CHARUPPER, {at});
    EXPECT_EQ(v.hooks.messages, std::vector<std::string>{FaultMessage(at)});
    EXPECT_EQ(v.Bytes(at, 3), std::string("\xC9\x90\0", 3));
  }
  {
    StringsVm v;
    const uint32_t at = v.PutAtEnd("a");
    v.Sys(SYS_CHARUPPER, {at});
    EXPECT_EQ(v.hooks.messages, std::vector<std::string>{FaultMessage(at)});
    EXPECT_EQ(v.Bytes(at, 1), "a");
  }
}

TEST(Blocks, CopyMoveFillCompare) {
  StringsVm v;
  for (uint32_t row : {SYS_MEMCPY, SYS_MEMMOVE}) {
    SCOPED_TRACE(row);
    const uint32_t a = v.Put("abcdefgh"), b = v.Put("........");
    v.Sys(row, {b + 2, a, 3});
    EXPECT_EQ(v.Text(b), "..abc...");
    // Overlapping areas, both directions.
    v.Sys(row, {a + 1, a, 4});
    EXPECT_EQ(v.Text(a), "aabcdfgh");
    v.Sys(row, {a, a + 3, 4});
    EXPECT_EQ(v.Text(a), "cdfgdfgh");
    EXPECT_EQ(v.Result(), kUnset);
  }
  const uint32_t f = v.Put("abcdef");
  v.Sys(SYS_MEMSET, {f + 1, 0x141, 3});
  EXPECT_EQ(v.Text(f), "aAAAef");
  v.Sys(SYS_MEMSET, {f, 0x30, 0});
  EXPECT_EQ(v.Text(f), "aAAAef");

  const uint32_t x = v.Put("abcX"), y = v.Put("abdY"), z = v.Put("ab\xE9Z");
  const std::vector<std::tuple<uint32_t, uint32_t, uint32_t, uint32_t>> orders = {
      {x, y, 4, kLess}, {y, x, 4, 1}, {x, y, 2, 0}, {x, y, 0, 0}, {z, x, 3, 1}, {x, x, 5, 0},
  };
  for (const auto& [a, b, n, order] : orders) {
    v.Sys(SYS_MEMCMP, {a, b, n});
    EXPECT_EQ(v.Low(), order) << v.Text(a) << " " << v.Text(b) << " " << n;
  }
  EXPECT_TRUE(v.hooks.messages.empty());
}

TEST(Blocks, EveryAreaIsCheckedForItsWholeLength) {
  for (uint32_t row : {SYS_MEMCPY, SYS_MEMMOVE, SYS_MEMCMP}) {
    for (bool badSecond : {false, true}) {
      for (uint32_t count : {4u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(testing::Message() << row << " " << badSecond << " " << count);
        StringsVm v;
        const uint32_t good = v.Put("abcd"), tail = v.PutAtEnd("\x7F\x7F");
        if (badSecond)
          v.Sys(row, {good, tail, count});
        else
          v.Sys(row, {tail, good, count});
        // The second area is checked first; with the huge count both are bad.
        const uint32_t named = badSecond || count == 4 ? tail : good;
        EXPECT_EQ(v.hooks.messages, std::vector<std::string>{FaultMessage(named)});
        EXPECT_EQ(v.Result(), kUnset);
        EXPECT_EQ(v.Text(good), "abcd");
        EXPECT_EQ(v.Bytes(tail, 2), "\x7F\x7F");
      }
    }
  }
  {
    StringsVm v;
    const uint32_t tail = v.PutAtEnd("\x7F\x7F");
    v.Sys(SYS_MEMSET, {tail, 0, 3});
    EXPECT_EQ(v.hooks.messages, std::vector<std::string>{FaultMessage(tail)});
    EXPECT_EQ(v.Bytes(tail, 2), "\x7F\x7F");
  }
  {
    // A count of zero touches nothing, wherever it points.
    StringsVm v;
    for (uint32_t row : {SYS_MEMCPY, SYS_MEMMOVE, SYS_MEMSET, SYS_MEMCMP})
      v.Sys(row, {0xFFFFFFF0, 0xFFFFFFF0, 0});
    EXPECT_TRUE(v.hooks.messages.empty());
    EXPECT_FALSE(v.Stopped());
  }
}

TEST(Strings, MessageAndUnknownRows) {
  StringsVm v;
  v.Sys(SYS_MESSAGE, {v.Put("Hello\nthere \xC3\xA9")});
  for (uint32_t row : {6u, 7u, 8u, 9u, 15u, 255u}) v.Sys(row, {});
  std::vector<std::string> expected{"Hello\nthere \xC3\xA9"};
  expected.insert(expected.end(), 6, "Unknown SYS command at 0x0000020C. Ack!");
  EXPECT_EQ(v.hooks.messages, expected);
  EXPECT_EQ(v.Result(), kUnset);
  EXPECT_FALSE(v.Stopped());
}

}  // namespace
}  // namespace orvo::services::test

#include <bit>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/services/strings_test_support.h"

namespace orvo::services::test {
namespace {

std::vector<uint32_t> Double(double d) {
  const uint64_t bits = std::bit_cast<uint64_t>(d);
  return {static_cast<uint32_t>(bits), static_cast<uint32_t>(bits >> 32)};
}

// SYS_PRTFMT onto the string at dest with the given size word and value words.
void Prtfmt(StringsVm& v, uint32_t dest, std::string_view format, uint32_t size,
            const std::vector<uint32_t>& value) {
  std::vector<uint32_t> args{dest, v.Put(format), size};
  args.insert(args.end(), value.begin(), value.end());
  v.Sys(SYS_PRTFMT, args);
}

TEST(Prtfmt, AppendsOneValueAndAnswersTheAppendedLength) {
  StringsVm v;
  const uint32_t dest = v.Put("ab", 64);
  Prtfmt(v, dest, "%ld", 4, {42});
  EXPECT_EQ(v.Text(dest), "ab42");
  EXPECT_EQ(v.Low(), 2u);
  Prtfmt(v, dest, "%.2f", 8, Double(1.5));
  EXPECT_EQ(v.Text(dest), "ab421.50");
  EXPECT_EQ(v.Low(), 4u);
  Prtfmt(v, dest, "[%s]", 1, {v.Put("abc")});
  EXPECT_EQ(v.Text(dest), "ab421.50[abc]");
  EXPECT_EQ(v.Low(), 5u);
  EXPECT_TRUE(v.hooks.messages.empty());
}

TEST(Prtfmt, UnsupportedSizeShowsTheMessageAndAppendsNothing) {
  StringsVm v;
  const uint32_t dest = v.Put("ab", 16);
  for (uint32_t size : {0u, 2u, 3u, 16u}) {
    Prtfmt(v, dest, "%d", size, {42, 0});
    EXPECT_EQ(v.Low(), 0u);
  }
  EXPECT_EQ(v.Text(dest), "ab");
  EXPECT_EQ(v.hooks.messages, std::vector<std::string>(4, "SYS_PRTFMT: unsupported arg size"));
  EXPECT_FALSE(v.Stopped());
}

struct Case {
  std::string format;
  uint32_t size;
  std::vector<uint32_t> value;
  std::string expected;
};

TEST(Prtfmt, ConversionsFollowTheWindowsLibrary) {
  StringsVm v;
  const uint32_t abc = v.Put("abc");
  const std::vector<Case> cases = {
      {"%8.8lX", 4, {0xBEEF}, "0000BEEF"},
      {"%ld", 4, {0xFFFFFFFF}, "-1"},
      {"%lu", 4, {0xFFFFFFFF}, "4294967295"},
      // One word for a 64-bit conversion: the word after it is not taken as a high half.
      {"%lld", 4, {0xFFFFFFFF, 7}, "-1"},
      {"%llx", 4, {0xFFFFFFFF, 7}, "ffffffff"},
      {"%lld", 8, {0xFFFFFFFF, 0}, "4294967295"},
      {"%I64d", 8, {0, 1}, "4294967296"},
      {"%I64X", 8, {0x89ABCDEF, 0x01234567}, "123456789ABCDEF"},
      {"%jd", 8, {0xFFFFFFFE, 0xFFFFFFFF}, "-2"},
      // Eight bytes for a 32-bit conversion: the low word.
      {"%d", 8, {5, 1}, "5"},
      {"%I32d", 4, {7}, "7"},
      {"%hd", 4, {0x12345}, "9029"},
      {"%hhu", 4, {0x1FF}, "255"},
      {"%#o", 4, {8}, "010"},
      {"%+05d", 4, {42}, "+0042"},
      {"%-6.3x|", 4, {0xA}, "00a   |"},
      {"%c", 4, {0x141}, "A"},
      {"%-3c|", 8, {0x42, 0x99}, "B  |"},
      {"%p", 4, {0x2A}, "0000002A"},
      {"%+.3e", 8, Double(1.5), "+1.500e+00"},
      {"%g", 8, Double(0.0001), "0.0001"},
      {"%.2000g", 8, Double(1.5), "1.5"},
      {"%#.5g", 8, Double(1.5), "1.5000"},
      {"%Lf", 8, Double(2.25), "2.250000"},
      {"%10.1lf|", 8, Double(3.14159), "       3.1|"},
      {"%s", 1, {abc}, "abc"},
      {"%05s", 1, {abc}, "00abc"},
      {"%-5s|", 1, {abc}, "abc  |"},
      {"%.2s", 1, {abc}, "ab"},
      {"%hs", 1, {abc}, "abc"},
      {"100%% of %d", 4, {3}, "100% of 3"},
      {"%%%d%%", 4, {9}, "%9%"},
      {"no conversion", 4, {3}, "no conversion"},
      // Conversions that are not performed are copied as written.
      {"%d and %d", 4, {1}, "1 and %d"},
      {"%s%s", 1, {abc}, "abc%s"},
      {"%s", 4, {abc}, "%s"},
      {"%s", 8, {abc, 0}, "%s"},
      {"%d", 1, {abc}, "%d"},
      {"%f", 4, {1}, "%f"},
      {"%*d", 4, {5}, "%*d"},
      {"%.*f", 8, Double(1.5), "%.*f"},
      {"%ls", 1, {abc}, "%ls"},
      {"%S", 1, {abc}, "%S"},
      {"%lc", 4, {0x41}, "%lc"},
      {"%Ld", 4, {1}, "%Ld"},
      {"%hf", 8, Double(1.5), "%hf"},
      {"%q", 4, {1}, "%q"},
      {"%n then %d", 4, {1}, "%n then %d"},
      {"50%", 4, {1}, "50%"},
      {"%l", 4, {1}, "%l"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    const uint32_t dest = v.Put("<", 24);
    Prtfmt(v, dest, c.format, c.size, c.value);
    EXPECT_EQ(v.Text(dest), "<" + c.expected);
    EXPECT_EQ(v.Low(), c.expected.size());
  }
  EXPECT_TRUE(v.hooks.messages.empty());
  EXPECT_FALSE(v.Stopped());
}

// Plain integer conversions over edge and random values read as the host's printf reads
// them at 32 bits, and room for the digits alone is enough.
TEST(Prtfmt, PlainIntegersMatchPrintfAtThirtyTwoBits) {
  StringsVm v;
  std::mt19937 random(7);
  std::vector<uint32_t> values = {0, 1, 9, 10, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xABCDEF};
  for (int i = 0; i < 300; ++i) values.push_back(static_cast<uint32_t>(random() >> (random() % 32)));
  const uint32_t dest = v.Put("", 40), block = v.Put("", 20);
  for (const char* conversion : {"d", "i", "u", "o", "x", "X", "ld", "lX", "I32u"}) {
    const uint32_t format = v.Put(std::string("%") + conversion);
    const std::string host = std::string("%") + conversion[std::strlen(conversion) - 1];
    for (const uint32_t value : values) {
      char expected[40];
      if (host == "%d" || host == "%i")
        std::snprintf(expected, sizeof expected, host.c_str(), static_cast<int32_t>(value));
      else
        std::snprintf(expected, sizeof expected, host.c_str(), value);
      v.m.mem[dest] = 0;
      // One request block, used again for every value.
      const uint32_t words[] = {0x300 + SYS_PRTFMT, dest, format, 4, value};
      for (uint32_t i = 0; i < 5; ++i) vm::Store32(v.m.mem + block + 4 * i, words[i]);
      v.RunBlock(block);
      ASSERT_EQ(v.Text(dest), expected) << conversion << " " << value;
    }
  }
  EXPECT_FALSE(v.Stopped());
}

TEST(Prtfmt, CountConversionWritesNothing) {
  StringsVm v;
  const uint32_t target = v.Put("\x11\x11\x11\x11");
  for (uint32_t size : {1u, 4u}) {
    const uint32_t dest = v.Put("", 8);
    Prtfmt(v, dest, "%n", size, {target});
    EXPECT_EQ(v.Text(dest), "%n");
  }
  EXPECT_EQ(v.Text(target), "\x11\x11\x11\x11");
}

TEST(Prtfmt, OutputThatFitsExactlyAtTheEndOfMemory) {
  StringsVm v;
  const uint32_t dest = v.PutAtEnd(std::string("abcde\0\x7F\x7F", 8));
  Prtfmt(v, dest, "%d", 4, {12});
  EXPECT_EQ(v.Bytes(dest, 8), std::string("abcde12\0", 8));
  EXPECT_FALSE(v.Stopped());
}

TEST(Prtfmt, OutputPastTheEndOfMemoryStopsTheProgram) {
  const std::vector<Case> cases = {
      {"%d", 4, {123}, ""},
      {"xyz", 4, {0}, ""},
      {"%2000000000d", 4, {1}, ""},
      {"%.3000000000f", 8, Double(1.5), ""},
      {"%99999999999999999999999s", 1, {0x300}, ""},
      {"%.4000000000x", 4, {1}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    StringsVm v;
    const uint32_t dest = v.PutAtEnd(std::string("abcde\0\x7F\x7F", 8));
    Prtfmt(v, dest, c.format, c.size, c.value);
    EXPECT_EQ(v.hooks.messages, std::vector<std::string>{FaultMessage(dest + 5)});
    EXPECT_TRUE(v.Stopped());
    EXPECT_EQ(v.Result(), kUnset);
    EXPECT_EQ(v.Bytes(dest, 8), std::string("abcde\0\x7F\x7F", 8));
  }
}

TEST(Prtfmt, StringArgumentIsReadWithinMemory) {
  {
    StringsVm v;
    const uint32_t dest = v.Put("", 8);
    const uint32_t tail = v.PutAtEnd("xy");
    Prtfmt(v, dest, "%.2s", 1, {tail});
    EXPECT_EQ(v.Text(dest), "xy");
    Prtfmt(v, dest, "%.0s|", 1, {0xFFFFFFF0});
    EXPECT_EQ(v.Text(dest), "xy|");
    EXPECT_FALSE(v.Stopped());
  }
  for (bool wrapped : {false, true}) {
    StringsVm v;
    const uint32_t dest = v.Put("", 8);
    const uint32_t source = wrapped ? 0xFFFFFFF0 : v.PutAtEnd("xy");
    Prtfmt(v, dest, wrapped ? "%s" : "%.3s", 1, {source});
    EXPECT_EQ(v.hooks.messages, std::vector<std::string>{FaultMessage(source)});
    EXPECT_TRUE(v.Stopped());
    EXPECT_EQ(v.Text(dest), "");
  }
}

TEST(Prtfmt, UnterminatedDestinationOrFormatStopsTheProgram) {
  {
    StringsVm v;
    const uint32_t dest = v.PutAtEnd("ab");
    Prtfmt(v, dest, "%d", 4, {1});
    EXPECT_EQ(v.hooks.messages, std::vector<std::string>{FaultMessage(dest)});
  }
  {
    StringsVm v;
    const uint32_t dest = v.Put("", 8);
    const uint32_t format = v.PutAtEnd("%d");
    v.Sys(SYS_PRTFMT, {dest, format, 4, 1});
    EXPECT_EQ(v.hooks.messages, std::vector<std::string>{FaultMessage(format)});
    EXPECT_EQ(v.Text(dest), "");
  }
}

TEST(Prtfmt, RequestBlockRunningOutOfMemoryStopsTheProgram) {
  {
    // The command word is the last word of memory: no argument words at all.
    StringsVm v;
    const uint32_t block = v.m.memSize - 4;
    vm::Store32(v.m.mem + block, 0x300);
    v.RunBlock(block);
    EXPECT_EQ(v.hooks.messages, std::vector<std::string>{FaultMessage(block + 4)});
  }
  {
    // Size 8 but the value words lie past the end.
    StringsVm v;
    const uint32_t dest = v.Put("", 8), format = v.Put("%f");
    const uint32_t block = v.m.memSize - 16;
    for (uint32_t i = 0; i < 4; ++i)
      vm::Store32(v.m.mem + block + 4 * i, std::vector<uint32_t>{0x300, dest, format, 8}[i]);
    v.RunBlock(block);
    EXPECT_EQ(v.hooks.messages, std::vector<std::string>{FaultMessage(v.m.memSize)});
    EXPECT_EQ(v.Text(dest), "");
  }
}

}  // namespace
}  // namespace orvo::services::test

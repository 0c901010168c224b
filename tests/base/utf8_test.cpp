// The UTF-8 codec: every code point round-trips, and a sequence is valid exactly when it
// is the encoding of a code point that is not a surrogate.
#include "base/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <unordered_set>

namespace orvo::utf8 {
namespace {

bool IsSurrogate(char32_t c) {
  return c >= 0xD800 && c <= 0xDFFF;
}

std::string Encoded(char32_t c) {
  char bytes[4];
  return std::string(bytes, Encode(c, bytes));
}

TEST(Utf8, EveryCodePointRoundTripsInItsShortestForm) {
  for (char32_t c = 0; c <= LARGEST; ++c) {
    const std::string bytes = Encoded(c);
    const size_t length = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    ASSERT_EQ(bytes.size(), length) << std::hex << static_cast<uint32_t>(c);
    const Decoded d = Decode(bytes, 0);
    ASSERT_EQ(d.end, length) << std::hex << static_cast<uint32_t>(c);
    ASSERT_EQ(d.valid, !IsSurrogate(c)) << std::hex << static_cast<uint32_t>(c);
    ASSERT_EQ(uint32_t{d.codePoint}, uint32_t{d.valid ? c : REPLACEMENT_CHARACTER})
        << std::hex << static_cast<uint32_t>(c);
  }
  EXPECT_EQ(Encoded(LARGEST + 1), "");
  EXPECT_EQ(Encoded(0xFFFFFFFF), "");
}

// Whether text starts with the encoding of a code point below U+10000 that is not a
// surrogate (the only complete sequences a text of three bytes can start with).
bool StartsWellFormed(const std::string& text) {
  static const std::unordered_set<std::string> encodings = [] {
    std::unordered_set<std::string> all;
    for (char32_t c = 0; c < 0x10000; ++c)
      if (!IsSurrogate(c)) all.insert(Encoded(c));
    return all;
  }();
  for (size_t n = 1; n <= text.size(); ++n)
    if (encodings.count(text.substr(0, n))) return true;
  return false;
}

// The number of bytes a lead announces after itself, -1 for a byte that leads nothing.
int Announced(uint8_t lead) {
  return lead < 0x80   ? 0
         : lead < 0xC0 ? -1
         : lead < 0xE0 ? 1
         : lead < 0xF0 ? 2
         : lead < 0xF8 ? 3
                       : -1;
}

TEST(Utf8, EveryTwoAndThreeByteTextDecodesAsItsFirstSequence) {
  std::string text(3, '\0');
  for (unsigned lead = 0; lead < 0x100; ++lead) {
    for (unsigned second = 0; second < 0x100; ++second) {
      // The third byte matters only after a lead that announces more than one.
      const unsigned thirds = Announced(static_cast<uint8_t>(lead)) >= 2 ? 0x100 : 1;
      for (unsigned third = 0; third < thirds; ++third) {
        text[0] = static_cast<char>(lead), text[1] = static_cast<char>(second);
        text[2] = static_cast<char>(third);
        const Decoded d = Decode(text, 0);
        ASSERT_EQ(d.valid, StartsWellFormed(text)) << lead << ' ' << second << ' ' << third;
        if (d.valid) {
          ASSERT_EQ(Encoded(d.codePoint), text.substr(0, d.end));
          continue;
        }
        ASSERT_EQ(uint32_t{d.codePoint}, uint32_t{REPLACEMENT_CHARACTER});
        // A malformed sequence takes its lead and the continuation bytes it announced.
        size_t end = 1;
        const int want = Announced(static_cast<uint8_t>(lead));
        while (static_cast<int>(end) <= want && end < text.size() && IsContinuation(text[end]))
          ++end;
        ASSERT_EQ(d.end, end) << lead << ' ' << second << ' ' << third;
      }
    }
  }
}

TEST(Utf8, ASequenceCutShortByTheEndTakesWhatIsLeft) {
  EXPECT_EQ(Decode("\xF0\x9F\x98", 0).end, 3u);
  EXPECT_FALSE(Decode("\xF0\x9F\x98", 0).valid);
  EXPECT_EQ(Decode("x\xE2", 1).end, 2u);
}

}  // namespace
}  // namespace orvo::utf8

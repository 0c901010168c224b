// The character walk over UTF-8 and the line fitting over advances.
#include "gfx/text_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gfx/font_library.h"
#include "gfx/text_utf8.h"

namespace orvo::gfx {
namespace {

struct Walked {
  std::vector<char32_t> chars;
  std::vector<size_t> ends;
};

Walked Walk(std::string_view s) {
  Walked w;
  for (size_t i = 0; i < s.size();) {
    char32_t c;
    i = Utf8Next(s, i, c);
    w.chars.push_back(c);
    w.ends.push_back(i);
  }
  return w;
}

TEST(Utf8Walk, DecodesEveryLengthAndCountsWholeCharacters) {
  const std::string s = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // a é € 😀 z
  Walked w = Walk(s);
  EXPECT_EQ(w.chars, (std::vector<char32_t>{U'a', U'\u00E9', U'\u20AC', U'\U0001F600', U'z'}));
  EXPECT_EQ(w.ends, (std::vector<size_t>{1, 3, 6, 10, 11}));
  EXPECT_EQ(Utf8Offset(s, 0), 0u);
  EXPECT_EQ(Utf8Offset(s, 4), 10u);
  EXPECT_EQ(Utf8Offset(s, 99), s.size());
}

TEST(Utf8Walk, MalformedBytesAreOneReplacementCharacterEach) {
  const char32_t R = utf8::REPLACEMENT_CHARACTER;
  // Stray continuation byte, byte that begins nothing, lead cut short by an ASCII byte,
  // lead at the end.
  Walked w = Walk(
      "\x80"
      "a"
      "\xFF"
      "\xE2\x82"
      "b"
      "\xC3");
  EXPECT_EQ(w.chars, (std::vector<char32_t>{R, U'a', R, R, U'b', R}));
  EXPECT_EQ(w.ends, (std::vector<size_t>{1, 2, 3, 5, 6, 7}));
  // Overlong, surrogate and beyond U+10FFFF: whole sequences, replaced.
  w = Walk(
      "\xC0\xAF"
      "\xED\xA0\x80"
      "\xF4\x90\x80\x80");
  EXPECT_EQ(w.chars, (std::vector<char32_t>{R, R, R}));
  EXPECT_EQ(w.ends, (std::vector<size_t>{2, 5, 9}));
  // A lead byte takes no more continuation bytes than it announces.
  w = Walk("\xC3\xA9\xA9");
  EXPECT_EQ(w.chars, (std::vector<char32_t>{U'\u00E9', R}));
}

// Ten pixels per character.
std::vector<int32_t> Even(size_t n) {
  return std::vector<int32_t>(n, 10);
}

int32_t Fit(const std::u32string& text, int64_t box, uint32_t style) {
  return FitLine(Even(text.size()), std::span<const char32_t>(text.data(), text.size()), box,
                 style);
}

TEST(FitLine, WordWrapEndsBeforeTheLastSpace) {
  // Box of eight characters: "hello wor" is the first prefix too wide.
  EXPECT_EQ(Fit(U"hello world", 80, TEXT_WRAP), 5);
  EXPECT_EQ(Fit(U"hello world", 80, TEXT_WRAP | TEXT_CUT), 5);
  // The space itself overflowing still counts as seen.
  EXPECT_EQ(Fit(U"abcd efgh", 40, TEXT_WRAP), 4);
  EXPECT_EQ(Fit(U"a b c d e", 55, TEXT_WRAP), 5);
  // The whole line fits: every character.
  EXPECT_EQ(Fit(U"hello", 50, TEXT_WRAP), 5);
}

TEST(FitLine, WordWrapWithoutAUsableSpace) {
  EXPECT_EQ(Fit(U"abcdefghij", 45, TEXT_WRAP), 0);
  EXPECT_EQ(Fit(U" bcdefghij", 45, TEXT_WRAP), 0);
  // Falls back to the character cut: the first five fit, one fewer is drawn.
  EXPECT_EQ(Fit(U"abcdefghij", 55, TEXT_WRAP | TEXT_CUT), 4);
  EXPECT_EQ(Fit(U" bcdefghij", 55, TEXT_WRAP | TEXT_CUT), 4);
  // The first character alone is too wide: nothing, whatever the cut.
  EXPECT_EQ(Fit(U"abc", 5, TEXT_WRAP | TEXT_CUT), 0);
}

TEST(FitLine, CharacterCutDrawsOneFewerThanFit) {
  EXPECT_EQ(Fit(U"abcdef", 30, TEXT_CUT), 2);
  EXPECT_EQ(Fit(U"abcdef", 39, TEXT_CUT), 2);
  EXPECT_EQ(Fit(U"abcdef", 10, TEXT_CUT), 0);
  EXPECT_EQ(Fit(U"abcdef", 9, TEXT_CUT), 0);
  // Neither flag: the whole text, wider than the box.
  EXPECT_EQ(Fit(U"abcdef", 30, 0), 6);
  EXPECT_EQ(Advance(Even(6), 4), 40);
}

}  // namespace
}  // namespace orvo::gfx

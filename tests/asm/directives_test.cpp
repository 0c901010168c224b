// Segments, labels, alignment and data statements.
#include <gtest/gtest.h>

#include <string>

#include "velda_test_util.h"

using velda_test::Assemble;
using velda_test::Errors;
using velda_test::Le32;
using velda_test::RunSource;
using velda_test::TempDir;

namespace {

std::string Image(const std::string& source) {
  auto r = RunSource(source);
  EXPECT_EQ(r.code, 0) << source << "\n" << r.console;
  return r.image;
}
std::string Code(const std::string& body) {
  return Image("@code\n" + body + "\n");
}
std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

}  // namespace

TEST(Segments, TextOutsideSegmentsIsCommentary) {
  EXPECT_EQ(Image("hello world $ = junk\nmov $1,$2\nb 9\n:lab\n@code\nb 1\n@seg_end\n"
                  "text again, b 2\n@CODE\nb 3\n"),
            B({1, 0, 3}));
  // @code inside a segment is not recognised; the segment must be closed first
  EXPECT_EQ(Image("@code\nb 1\n@code\n@zero\nb 2\n"), B({1, 2}));
  // every file starts outside a segment
  TempDir dir;
  auto r = Assemble(dir, {{"a.ova", "@code\nb 1\n"}, {"b.ova", "b 2\n@code\nb 3\n"}},
                    {"-q", "%a", "%b"});
  EXPECT_EQ(r.image, B({1, 0, 3}));
}

TEST(Segments, PaddingOfCodeZeroAndEnd) {
  // @code pads to 2; an instruction after it may stand at an offset that is not 4-aligned
  EXPECT_EQ(Image("@code\nb \"abc\"\n@seg_end\n@code\nb 9\nnop\n"),
            B({'a', 'b', 'c', 0, 9, 0x94, 2, 0, 0}));
  EXPECT_EQ(Image("@code\nb 1\n@seg_end\n@end\n"), B({1, 0, 0, 0}));
  EXPECT_EQ(Code("b 1\n@align 4\nb 2\n@align 8\nb 3"), B({1, 0, 0, 0, 2, 0, 0, 0, 3}));
  EXPECT_EQ(Errors("b 1\n@align 3\nb 2\n@align 16\n@align"),
            "t(3): 1, 2, 4, or 8 expected: 3\nt(5): 1, 2, 4, or 8 expected: 16\n"
            "t(6): 1, 2, 4, or 8 expected: \n");
}

TEST(Segments, ZeroSegmentLabelsFollowTheCode) {
  auto r = RunSource(
      "@code\n& a\n& b\n& c\n& d\n@seg_end\n@zero\n:a\nd [10]\n:b\nw [ 3 ]\n:c\n@align 8\n:d\n"
      "b [1]\n@seg_end\n@end\n");
  ASSERT_EQ(r.code, 0) << r.console;
  EXPECT_EQ(Le32(r.image, 0), 16u);
  EXPECT_EQ(Le32(r.image, 4), 56u);
  EXPECT_EQ(Le32(r.image, 8), 62u);
  EXPECT_EQ(Le32(r.image, 12), 64u);
  EXPECT_EQ(r.state->zeroSize, 52u);  // 40 + 6, aligned to 8, + 1, rounded to 4 by @end
  EXPECT_EQ(Errors("@seg_end\n@zero\nd 10\nb [2\nb\n& x"),
            "t(4): SEG_ZERO expected '[#]': d 10\nt(4): unexpected characters: 10\n"
            "t(5): SEG_ZERO expected '[#]': b [2\n"
            "t(6): SEG_ZERO expected '[#]': b\nt(7): '&' invalid in @ZERO: & x\n"
            "t(7): unexpected characters: x\n");
}

TEST(Data, NumberLists) {
  EXPECT_EQ(Code("b 1,\nb 1,,2"), B({1, 0, 1, 0, 2}));
  EXPECT_EQ(Code("w -65536, 65535 , 0x1234"), B({0, 0, 0xFF, 0xFF, 0x34, 0x12}));
  EXPECT_EQ(Code("d 0xFFFFFFFF,-0x100000000"), B({0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));
  EXPECT_EQ(Code("q -2"), B({0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Errors("b -1,255,256\nw 65536\nd 0x100000000\nb 08"),
            "t(2): 'value too large: b -1,255,256\nt(3): 'value too large: w 65536\n"
            "t(4): 'value too large: d 0x100000000\nt(5): invalid number: 08\n");
  auto r = RunSource("@code\nb -1,255,256\n");
  EXPECT_EQ(r.state->image.size(), 2u);  // the item in error is not written
}

TEST(Data, Repeats) {
  EXPECT_EQ(Code("w [3] 7"), B({7, 0, 7, 0, 7, 0}));
  EXPECT_EQ(Code("b [0] 5\nb [ 2 ] 0x1FF"), B({0xFF, 0xFF}));  // no range test
  EXPECT_EQ(Code("d [2] 0x1122334455"), B({0x55, 0x44, 0x33, 0x22, 0x55, 0x44, 0x33, 0x22}));
  EXPECT_EQ(Errors("b [2]\nb [2\nb [2 5"),
            "t(2): missing repeat value\nt(3): malformed [#]\nt(4): malformed [#]\n"
            "t(4): unexpected characters: 5\n");
}

TEST(Data, StringsAndEscapes) {
  EXPECT_EQ(Code("b \"\\r\\n\\t\\\"\\\\\""), B({13, 10, 9, 34, 92}));
  EXPECT_EQ(Code("b \"\\101\\0\\7\\1234\""), B({'A', 0, 7, 0x53, '4'}));
  EXPECT_EQ(Code("b \"\\8a\\q\\08\""), B({0, '8', 'a', 'q', 0, '8'}));
  EXPECT_EQ(Code("b \"abc"), "abc");  // unclosed: ends with the line
  EXPECT_EQ(Code("b \"x\\"), "x");    // a backslash at the end writes nothing
  EXPECT_EQ(Errors("b \"\\777\"\nb \"a\" junk\nw \"ab\""),
            "t(2): invalid \\octal value\nt(3): unexpected characters: junk\n"
            "t(4): unexpected characters: \"ab\"\n");
  auto r = RunSource("@code\nb \"\\777\"\n");
  EXPECT_EQ(r.state->image.ByteAt(0), 0xFF);  // low 8 bits still written
}

TEST(Labels, DefinitionsAnonymousLabelsAndAddressWords) {
  // :@ twice then @B and @BB refer to _@1 and _@0; @F to the next one
  auto words =
      velda_test::Words(":@\nw 1\n:@\nw 2\nd mov $1, =@B\nd mov $1, =@BB\nd mov $1, =@F\n:@");
  ASSERT_EQ(words.size(), 7u);
  EXPECT_EQ(words[2], 2u);
  EXPECT_EQ(words[4], 0u);
  EXPECT_EQ(words[6], 28u);

  EXPECT_EQ(Code("b 1\n:Here\nb 2\n& HERE\n"), B({1, 2, 1, 0, 0, 0}));
  EXPECT_EQ(Errors("& nowhere\n:x extra"),
            "t(2): failure to communicate: nowhere\nt(3): unexpected characters: extra\n");
}

TEST(Labels, RedefinitionIsReportedOnceInPassOne) {
  auto r = RunSource("@code\n:a\nb 1\n:A\nb 2\nd mov $1, =a\n");
  EXPECT_EQ(r.code, 6);
  EXPECT_EQ(r.console, "t(4): label redefinition: A\n[1 errors]\n");
  EXPECT_EQ(r.state->ids.count(), 1u);
  EXPECT_EQ(r.state->ids[0].value, 0);
}

TEST(Statements, PublicExternSizesAndUnknownWords) {
  EXPECT_EQ(Errors("public\nextern\npublic x\nEXTERN y"),
            "t(2): missing public label\nt(3): missing label reference\n");
  EXPECT_EQ(Code("mvo\nmvo2"), "");  // a misspelled mnemonic alone is skipped
  // the size stays in effect across lines and files...
  TempDir dir;
  auto r = Assemble(dir, {{"a.ova", "@code\nq\n"}, {"b.ova", "@code\nnop\nmov $1, =1\n"}},
                    {"-q", "%a", "%b"});
  ASSERT_EQ(r.code, 0);
  EXPECT_EQ(Le32(r.image, 4), 30u | 1 << 5 | 3 << 9 | 15 << 11 | 1 << 16);
  // ...and is b again at the start of pass 2
  auto s = RunSource("@code\nmov $1, =1\nq\n");
  EXPECT_EQ(Le32(s.image, 0), 30u | 1 << 5 | 0 << 9 | 15 << 11 | 1 << 16);
}

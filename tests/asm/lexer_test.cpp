// Words, numbers, expressions and line reading.
#include "lexer.h"

#include <gtest/gtest.h>

#include <string>

#include "assembler.h"
#include "expression.h"
#include "velda_test_util.h"

using namespace orvo::velda;

namespace {

struct Fixture {
  Assembler a;
  std::string console;
  explicit Fixture(const std::string& line, int pass = 2) {
    a.console = &console;
    a.pass = pass;
    a.line = line;
  }
};

std::vector<std::string> WordsOf(const std::string& line) {
  Fixture f(line);
  std::vector<std::string> out;
  while (ReadWord(f.a)) out.push_back(f.a.token);
  out.push_back("|" + std::string(RestOfLine(f.a)));
  return out;
}

}  // namespace

TEST(ParseNumber, BasesSignsAndMalformedTokens) {
  struct N {
    const char* text;
    int64_t value;
    bool ok;
  };
  const N cases[] = {
      {"0x", 0, true},
      {"-0x10", -16, true},
      {"007", 7, true},
      {"08", 0, false},
      {"-", 0, true},
      {"", 0, true},
      {"0x1F", 31, true},
      {"0XfF", 255, true},
      {"010", 8, true},
      {"12ab", 12, false},
      {"-9", -9, true},
      {"1_0", 1, false},
      {"18446744073709551617", 1, true},  // wraps in 64 bits
  };
  for (const N& c : cases) {
    bool ok;
    EXPECT_EQ(ParseNumberText(c.text, ok), c.value) << c.text;
    EXPECT_EQ(ok, c.ok) << c.text;
  }
  Fixture f("");
  EXPECT_EQ(ParseNumber(f.a, "08"), 0);
  EXPECT_EQ(f.console, "(0): invalid number: 08\n");
  EXPECT_EQ(f.a.errorCount, 1);
}

TEST(ReadWord, TokenShapes) {
  using V = std::vector<std::string>;
  EXPECT_EQ(WordsOf("  abc_1 , x"), (V{"abc_1", "|, x"}));
  EXPECT_EQ(WordsOf(":@foo"), (V{":@", "foo", "|"}));
  EXPECT_EQ(WordsOf(":label"), (V{":label", "|"}));
  EXPECT_EQ(WordsOf("&x"), (V{"&", "x", "|"}));
  EXPECT_EQ(WordsOf("$1"), (V{"|$1"}));
  EXPECT_EQ(WordsOf("a-b"), (V{"a", "-b", "|"}));
  EXPECT_EQ(WordsOf("x@y"), (V{"x", "@y", "|"}));
  EXPECT_EQ(WordsOf("a ; comment"), (V{"a", "|"}));
  EXPECT_EQ(WordsOf("gr\xC3\xB6\xC3\x9F"
                    "e+1"),
            (V{"gr\xC3\xB6\xC3\x9F"
               "e",
               "|+1"}));
  // a UTF-8 sequence cannot begin a word, and a non-letter one ends it
  EXPECT_EQ(WordsOf("\xC3\xA9"
                    "a"),
            (V{"|\xC3\xA9"
               "a"}));
  EXPECT_EQ(WordsOf("a\xC2\xA7"), (V{"a", "|\xC2\xA7"}));
}

TEST(EvalExpression, TermsSignsAndLabels) {
  Fixture f("count-1 , rest");
  f.a.ids.Append("Count", 10, ID_CODE, 0);
  Expr e;
  ASSERT_TRUE(EvalExpression(f.a, e));
  EXPECT_EQ(e.value, 9);
  EXPECT_TRUE(e.hasLabel);
  EXPECT_EQ(RestOfLine(f.a), ", rest");

  Fixture g("-5 + 0x10 - 010");
  ASSERT_TRUE(EvalExpression(g.a, e));
  EXPECT_EQ(e.value, 3);
  EXPECT_FALSE(e.hasLabel);

  // "-3" after a sign is a word starting with '-', taken as a label name
  Fixture h("5 - -3");
  EXPECT_FALSE(EvalExpression(h.a, e));
  EXPECT_EQ(h.console, "undefined label: -3\n");

  Fixture two("a+b");
  two.a.ids.Append("a", 1, ID_CODE, 0);
  two.a.ids.Append("b", 2, ID_CODE, 0);
  EXPECT_FALSE(EvalExpression(two.a, e));
  EXPECT_EQ(two.console, "(0): invalid expression\n");

  Fixture empty(", x");
  EXPECT_FALSE(EvalExpression(empty.a, e));
  EXPECT_EQ(empty.console, "(0): invalid expression\n");
}

TEST(EvalExpression, PassOneCountsOnlyNumbers) {
  Fixture f("later+4", 1);
  Expr e;
  ASSERT_TRUE(EvalExpression(f.a, e));
  EXPECT_EQ(e.value, 4);
  EXPECT_TRUE(e.hasLabel);  // a placeholder: forces the long forms
  EXPECT_EQ(f.a.errorCount, 0);
}

TEST(EvalExpression, AnonymousReferences) {
  Fixture f("@FF");
  f.a.anonCount = 2;
  f.a.ids.Append("_@3", 40, ID_CODE, 0);
  f.a.ids.Append("_@0", 8, ID_CODE, 0);
  f.a.ids.Append("@Fred", 5, ID_CODE, 0);
  Expr e;
  ASSERT_TRUE(EvalExpression(f.a, e));
  EXPECT_EQ(e.value, 40);
  f.a.line = "@bb";
  f.a.cursor = 0;
  ASSERT_TRUE(EvalExpression(f.a, e));
  EXPECT_EQ(e.value, 8);
  f.a.line = "@Fred";
  f.a.cursor = 0;
  ASSERT_TRUE(EvalExpression(f.a, e));
  EXPECT_EQ(e.value, 5);
  f.a.line = "@FX";
  f.a.cursor = 0;
  EXPECT_FALSE(EvalExpression(f.a, e));
  EXPECT_EQ(f.console, "(0): bad @label_reference\n");
}

TEST(LineReading, LongLinesLineNumbersAndLineEnds) {
  using velda_test::RunSource;
  // 9000 characters: a line of 8191, then the remaining 809 as the next line
  std::string longLine = ";" + std::string(8190, 'x') + std::string(806, ' ') + "b 7";
  auto r = RunSource("@code\n" + longLine + "\n");
  ASSERT_EQ(r.code, 0);
  EXPECT_EQ(r.image, std::string("\x07", 1));
  std::string second = r.listing.substr(r.listing.find("\r\n") + 2);
  std::string third = second.substr(second.find("\r\n") + 2);
  EXPECT_EQ(second.substr(0, second.find("\r\n")).size(), 114u);
  EXPECT_EQ(second.substr(0, 17), "       t:00001 c ");  // the first part ends with no LF
  EXPECT_EQ(third.substr(0, 35), "       t:00002 c 000000 00000007   ");

  // line numbers count LF characters: CR alone never advances them
  auto cr = RunSource("@code\r\nb 300\rb 400\n");
  EXPECT_EQ(cr.console,
            "t(1): 'value too large: b 300\nt(2): 'value too large: b 400\n[2 errors]\n");
  // a last line without LF keeps the number of the line before it
  auto last = RunSource("@code\nb 1\nb 300");
  EXPECT_EQ(last.console, "t(2): 'value too large: b 300\n[1 errors]\n");
  auto one = RunSource("public");
  EXPECT_EQ(one.console, "t(0): missing public label\n[1 errors]\n");
  EXPECT_EQ(one.listing,
            " ***** t(0): missing public label\r\n");  // the line itself is never listed
}

TEST(LineReading, CommentsAndBlankStatements) {
  using velda_test::RunSource;
  auto r = RunSource("@code\n   ; only a comment\n  \t \nb 1 ; two\nb \"a;b\"\n;\n");
  ASSERT_EQ(r.code, 0) << r.console;
  EXPECT_EQ(r.image,
            "\x01"
            "a;b");
}

// Inputs that would have produced wrong images without a report.
#include <gtest/gtest.h>

#include <string>

#include "velda_test_util.h"

using velda_test::Errors;
using velda_test::RunSource;
using velda_test::TempDir;
using velda_test::Words;
using W = std::vector<uint32_t>;

TEST(Faults, RegistersSixteenToTwentyThreeAreRefused) {
  EXPECT_EQ(Errors("mov $16, $1"),
            "t(2): invalid addressing mode\nt(2): unexpected characters: $16, $1\n");
  EXPECT_EQ(Errors("mov $1, [$23]"),
            "t(2): invalid addressing mode\nt(2): unexpected characters: $23]\n");
  EXPECT_EQ(Errors("neg $20\njmp $17\njsrfr 4, $18"),
            "t(2): invalid addressing mode\nt(2): unexpected characters: $20\n"
            "t(3): invalid addressing mode\nt(3): unexpected characters: $17\n"
            "t(4): invalid addressing mode\nt(4): unexpected characters: $18\n");
  EXPECT_EQ(Words("d mov $15, $10"), (W{28u | 15 << 5 | 2 << 9 | 15 << 11 | 10 << 16}));
}

TEST(Faults, ImmediateDestinationOfPumemAndPomem) {
  auto r = RunSource("@code\npumem =4, [0x10]\npomem =4, [FP][0]\n");
  EXPECT_EQ(r.code, 6);
  EXPECT_EQ(r.console,
            "t(2): illegal destination addressing mode\nt(2): unexpected characters: , [0x10]\n"
            "t(3): illegal destination addressing mode\nt(3): unexpected characters: , [FP][0]\n"
            "[4 errors]\n");
  EXPECT_EQ(r.state->image.size(), 0u);  // no zero word emitted
}

TEST(Faults, NegativeShortImmediateAtSizeQTakesTheLongForm) {
  EXPECT_EQ(Words("q mov $1, =-1"), (W{22u | 1 << 5 | 3 << 9 | 15 << 11, 0xFFFFFFFF, 0xFFFFFFFF}));
  EXPECT_EQ(Words("q add [FP][0], =-4"), (W{7u | 3 << 9 | 6 << 11, 0xFFFFFFFC, 0xFFFFFFFF}));
  EXPECT_EQ(Words("q add $2, =0"), (W{30u | 2 << 5 | 3 << 9 | 6 << 11}));
  EXPECT_EQ(Words("d add $2, =-1"), (W{30u | 2 << 5 | 2 << 9 | 6 << 11 | 0xF << 16}));
}

TEST(Faults, LabelNamesLongerThan31CharactersAreRefused) {
  std::string n31(31, 'a');
  std::string n32 = n31 + "b", n33 = n31 + "cc";
  EXPECT_EQ(Words(":" + n31 + "\nd mov $1, =" + n31), (W{22u | 1 << 5 | 2 << 9 | 15 << 11, 0}));
  // without the check both would be stored as the same 31 characters
  auto r = RunSource("@code\n:" + n32 + "\nnop\n:" + n33 + "\n");
  EXPECT_EQ(r.code, 6);
  EXPECT_EQ(r.console, "t(2): label name too long: " + n32 + "\nt(4): label name too long: " + n33 +
                           "\n[2 errors]\n");
  EXPECT_EQ(r.state->ids.count(), 0u);
}

TEST(Faults, DataThatWouldOverflowTheImage) {
  auto repeat = RunSource("@code\nb [3000000] 1\nnop\n");
  EXPECT_EQ(repeat.code, 6);
  EXPECT_EQ(repeat.console,
            "t(2): Too large to assemble (increase MAXCODEBLOCK in VELDA6 source)\n[1 errors]\n");
  EXPECT_EQ(repeat.state->image.size(), 0u);

  auto text = RunSource("@code\nb [2096000] 0\nb \"" + std::string(2000, 'x') + "\"\n");
  EXPECT_EQ(text.code, 6);
  EXPECT_EQ(text.console,
            "t(3): Too large to assemble (increase MAXCODEBLOCK in VELDA6 source)\n[1 errors]\n");
  EXPECT_EQ(text.state->image.size(), 2097152u);

  std::string list = "q 1";
  for (int i = 0; i < 200; ++i) list += ",1";
  auto items = RunSource("@code\nb [2096100] 0\n" + list + "\n");
  EXPECT_EQ(items.code, 6);
  EXPECT_LE(items.state->image.size(), 2097152u);

  EXPECT_EQ(Errors("@seg_end\n@zero\nd [-1]\nq [0x20000000]\nb [1]"),
            "t(4): invalid SEG_ZERO count: d [-1]\nt(5): invalid SEG_ZERO count: q [0x20000000]\n");
}

TEST(Faults, JumpTargetsTheWordCannotCarry) {
  EXPECT_EQ(Errors("ljeq 0x2002\n:x\nd tljeq $1, =x+2\njmp =x + 1\njmp [$1][6]\nljne 0x1000000"),
            "t(2): jump target not a multiple of 4: 0x2002\n"
            "t(4): jump target not a multiple of 4: x+2\n"
            "t(5): jump target not a multiple of 4: x + 1\n"
            "t(6): jump target not a multiple of 4: [$1][6]\n"
            "t(7): jump target out of range: 0x1000000\n");
  EXPECT_EQ(Words("ljeq 0xFFFFFC"), (W{0x34u | 0x3FFFFFu << 10}));
}

TEST(Faults, BuildNumberShorterThanBefore) {
  TempDir dir;
  dir.Write("BUILDNUM", "0x1F");
  velda_test::Assemble(dir, {{"t.ova", "@code\nnop\n"}}, {"-q", "%t"});
  EXPECT_EQ(dir.Read("BUILDNUM"), "32");  // not "321F"
  auto next = velda_test::Assemble(dir, {}, {"-q", "%t"});
  EXPECT_EQ(next.console, "");
  EXPECT_EQ(dir.Read("BUILDNUM"), "33");
}

TEST(Faults, FrameOffsetErrorsDoNotChangeTheLength) {
  // the pass-1 value lacks the label, so the range check can fail there and
  // not in pass 2; the instruction keeps its length either way
  auto r = RunSource(
      "@code\n@seg_end\n@zero\nb [40000]\n:far\n@seg_end\n@code\n"
      "d mov [$1][0], [FP][far-40000]\n:after\n& after\n");
  ASSERT_EQ(r.code, 0) << r.console;
  EXPECT_EQ(velda_test::Le32(r.image, 8), 8u);
}

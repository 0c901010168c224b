// Instruction words of every class and operand form. Expected words are
// built from the field layouts of the machine's instruction encoding.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "velda_test_util.h"

using velda_test::Errors;
using velda_test::Words;
using W = std::vector<uint32_t>;

namespace {

// Two-operand word: format, A (bits 5-8), S2 (9-10), OP2 (11-15), bits 16-31.
constexpr uint32_t Op2(uint32_t format, uint32_t a, uint32_t size, uint32_t op, uint32_t upper) {
  return format | a << 5 | size << 9 | op << 11 | upper << 16;
}
// One-operand word: operand form (low 8 bits), S1 (8-9), OP1 (10-14), bits 16-31.
constexpr uint32_t Op1(uint32_t form, uint32_t size, uint32_t op, uint32_t upper) {
  return form | size << 8 | op << 10 | upper << 16;
}
constexpr uint32_t kAdd = 6, kMov = 15, kSizeD = 2;

struct Case {
  const char* source;
  W words;
};

void ExpectAll(const std::vector<Case>& cases) {
  for (const Case& c : cases) EXPECT_EQ(Words(c.source), c.words) << c.source;
}

}  // namespace

TEST(Encoding, WorkedExamplesOfTheInstructionWords) {
  ExpectAll({
      {"d add $1, $2", {0x0002343C}},
      {"d mov [FP][-8], =3", {0xFFF87C77}},
      {"d tljne $5, =0x1234", {0x001234C0, 5}},
      {"ljeq 0x2000", {0x00200034}},
      {"sfvr 16, 3", {0x00040D54}},
      {"d push =-5", {0xFFFFEEF4}},
  });
}

TEST(Encoding, TwoOperandFormatForEveryDestinationAndSource) {
  ExpectAll({
      // register destination
      {"d add $1, $2", {Op2(28, 1, kSizeD, kAdd, 2)}},
      {"d add $1, [$2][8]", {Op2(18, 1, kSizeD, kAdd, 2), 8}},
      {"d add $1, [0x100]", {Op2(26, 1, kSizeD, kAdd, 0), 0x100}},
      {"d add $1, =-4", {Op2(30, 1, kSizeD, kAdd, 0xC)}},
      {"d add $1, =4", {Op2(22, 1, kSizeD, kAdd, 0), 4}},
      {"d add $1, [FP][-12]", {Op2(17, 1, kSizeD, kAdd, 0xFFF4)}},
      // register indirect destination
      {"d add [$3][16], $4", {Op2(2, 3, kSizeD, kAdd, 4), 16}},
      {"d add [$3][16], [$4][-4]", {Op2(10, 3, kSizeD, kAdd, 4), 16, 0xFFFFFFFC}},
      {"d add [$3], [0x200]", {Op2(6, 3, kSizeD, kAdd, 0), 0, 0x200}},
      {"d add [$3][4], =3", {Op2(1, 3, kSizeD, kAdd, 3), 4}},
      {"d add [$3][4], =100", {Op2(14, 3, kSizeD, kAdd, 0), 4, 100}},
      {"d add [$3][4], [FP][8]", {Op2(9, 3, kSizeD, kAdd, 8), 4}},
      // absolute destination
      {"d add [0x300], $5", {Op2(25, 5, kSizeD, kAdd, 0), 0x300}},
      {"d add [0x300], [$5][12]", {Op2(5, 5, kSizeD, kAdd, 0), 0x300, 12}},
      {"d add [0x300], [0x304]", {Op2(21, 0, kSizeD, kAdd, 0), 0x300, 0x304}},
      {"d add [0x300], =-1", {Op2(29, 0xF, kSizeD, kAdd, 0), 0x300}},
      {"d add [0x300], =-5", {Op2(13, 0, kSizeD, kAdd, 0), 0x300, 0xFFFFFFFB}},
      {"d add [0x300], [FP][20]", {Op2(3, 0, kSizeD, kAdd, 20), 0x300}},
      // frame destination
      {"d add [FP][-4], $6", {Op2(19, 6, kSizeD, kAdd, 0xFFFC)}},
      {"d add [FP][-4], [$6][2]", {Op2(11, 6, kSizeD, kAdd, 0xFFFC), 2}},
      {"d add [FP][-4], [0x400]", {Op2(27, 0, kSizeD, kAdd, 0xFFFC), 0x400}},
      {"d add [FP][-4], =2", {Op2(23, 2, kSizeD, kAdd, 0xFFFC)}},
      {"d add [FP][-4], =1000", {Op2(7, 0, kSizeD, kAdd, 0xFFFC), 1000}},
      // format 15: the source offset is a full 32-bit word
      {"d add [FP][-4], [FP][100000]", {Op2(15, 0, kSizeD, kAdd, 0xFFFC), 100000}},
  });
}

TEST(Encoding, OperandSpellings) {
  ExpectAll({
      {"d mov $1, [ $2 ] [ 8 ]", {Op2(18, 1, kSizeD, kMov, 2), 8}},
      {"d mov $1, [fp][4]", {Op2(17, 1, kSizeD, kMov, 4)}},
      {"d mov $1, [ FP ] [-4]", {Op2(17, 1, kSizeD, kMov, 0xFFFC)}},
      {"d mov $1, [0x10 + 8 - 2]", {Op2(26, 1, kSizeD, kMov, 0), 0x16}},
      {"d mov $15, $0", {Op2(28, 15, kSizeD, kMov, 0)}},
      {"d MOV $1,$2", {Op2(28, 1, kSizeD, kMov, 2)}},
  });
}

TEST(Encoding, ImmediateLengths) {
  ExpectAll({
      {"d mov $1, =3", {Op2(30, 1, kSizeD, kMov, 3)}},
      {"d mov $1, =4", {Op2(22, 1, kSizeD, kMov, 0), 4}},
      {"d mov $1, =-4", {Op2(30, 1, kSizeD, kMov, 0xC)}},
      {"d mov $1, =-5", {Op2(22, 1, kSizeD, kMov, 0), 0xFFFFFFFB}},
      // a label term always takes the long form, whatever its value
      {":two\nd mov $1, =two+2", {Op2(22, 1, kSizeD, kMov, 0), 2}},
      {"q mov $1, =5000000000", {Op2(22, 1, 3, kMov, 0), 0x2A05F200, 1}},
      {"q add [0x300], =7", {Op2(13, 0, 3, kAdd, 0), 0x300, 7, 0}},
      {"q add [$1][8], =-9", {Op2(14, 1, 3, kAdd, 0), 8, 0xFFFFFFF7, 0xFFFFFFFF}},
      {"q add $1, =3", {Op2(30, 1, 3, kAdd, 3)}},
      {"w add $1, =100", {Op2(22, 1, 1, kAdd, 0), 100}},
  });
}

TEST(Encoding, EveryTwoOperandMnemonicAndSize) {
  const char* names[] = {"divi", "modi", "rshi", "divu", "modu", "rshu", "add", "sub",
                         "cmp",  "mul",  "tst",  "lsh",  "and",  "or",   "xor", "mov",
                         "movz", "addf", "subf", "mulf", "divf", "cmpf", "lea", "memmov"};
  for (uint32_t op = 0; op < 24; ++op) {
    std::string n = names[op];
    EXPECT_EQ(Words("w " + n + " $1, [$2]"), (W{Op2(18, 1, 1, op, 2), 0})) << n;
  }
  EXPECT_EQ(Words("q pumem [$1], [0x80]"), (W{Op2(6, 1, 3, 30, 0), 0, 0x80}));
  EXPECT_EQ(Words("b pomem [0x10], [FP][-2]"), (W{Op2(3, 0, 0, 31, 0xFFFE), 0x10}));
  EXPECT_EQ(Words("b sub $1, $2"), (W{Op2(28, 1, 0, 7, 2)}));
}

TEST(Encoding, OneOperandForms) {
  ExpectAll({
      {"d neg $3", {Op1(0xD4, kSizeD, 1, 3)}},
      {"d neg [$3][8]", {Op1(0x6C, kSizeD, 1, 3), 8}},
      {"d neg [0x500]", {Op1(0xEC, kSizeD, 1, 0), 0x500}},
      {"d neg [FP][-16]", {Op1(0xAC, kSizeD, 1, 0xFFF0)}},
      {"q pop $13", {Op1(0xD4, 3, 5, 13)}},
      {"w pea [FP][8]", {Op1(0xAC, 1, 6, 8)}},
  });
  const char* names[] = {"negf", "neg",  "not",  nullptr, "push", "pop",  "pea",  nullptr, "cvuu",
                         "cvss", "cvuf", "cvsf", "cvud",  "cvsd", "cvfs", "cvds", "cvfd",  "cvdf"};
  for (uint32_t op = 0; op < 18; ++op) {
    if (!names[op]) continue;
    EXPECT_EQ(Words(std::string("d ") + names[op] + " [0x10]"), (W{Op1(0xEC, kSizeD, op, 0), 0x10}))
        << names[op];
  }
}

TEST(Encoding, PushOfImmediates) {
  ExpectAll({
      {"w push =1", {0x5F4}},
      {"w push =3000000", {0x174, 3000000}},
      {"d push =2097151", {Op1(0xF4, kSizeD, 0, 0) | 0x1FFFFFu << 10}},
      {"d push =-2097152", {Op1(0xF4, kSizeD, 0, 0) | 0x200000u << 10}},
      {"d push =2097152", {0x274, 2097152}},
      {"q push =-1", {0xFFFFFFF4 | 3 << 8}},
      {"q push =3000000", {0x374, 3000000, 0}},
      {":l\nd push =l", {0x274, 0}},
      {"b pushs =-3", {0xFFFFF4F4}},
      {"d pushs =7", {0xF4 | 2 << 8 | 7 << 10}},
  });
}

TEST(Encoding, TestAndJump) {
  // format | SJ << 5 | CC << 7 | T << 10, then the tested operand's word
  ExpectAll({
      {"w tljeq [0x40], =0x100", {8 | 1 << 5 | 0 << 7 | 0x40 << 10, 0x40}},
      {"b tljlt [$7][12], =0x200", {16 | 0 << 5 | 5 << 7 | 0x80 << 10, 7}},
      {"q tljod [FP][-8], =0x10", {24 | 3 << 5 | 7 << 7 | 4 << 10, 0xFFFFFFF8}},
      {"d tljge $0, =0", {0 | 2 << 5 | 2 << 7, 0}},
      {"d tljgt $1, =4", {0 | 2 << 5 | 3 << 7 | 1 << 10, 1}},
      {"d tljle $1, =4", {0 | 2 << 5 | 4 << 7 | 1 << 10, 1}},
      {"d tljev $1, =4", {0 | 2 << 5 | 6 << 7 | 1 << 10, 1}},
  });
}

TEST(Encoding, JumpsCallsAndFrames) {
  ExpectAll({
      {"ljeq 0x2000", {0x00200034}},
      {"ljeq =0x2000", {0x00200034}},
      {"ljne 8", {0x34 | 1 << 7 | 2 << 10}},
      {"ljod 8", {0x34 | 7 << 7 | 2 << 10}},
      {":x\n:@\nljlt @B\nljge =@F\n:@", {0x34 | 5 << 7, 0x34 | 2 << 7 | 2 << 10}},
      {"jmp =0x40", {0x2C | 0x10 << 10}},
      {"jmp $3", {0x0C | 3 << 6}},
      {"jmp [$3]", {0x0C | 3 << 6}},
      {"jmp [$3][8]", {0x0C | 3 << 6 | 2 << 10}},
      {"jsrfr 8, $4", {0x354 | 4 << 12 | 8 << 16}},
      {"jsrfr 12, =0x1000", {0x54 | 12 << 16, 0x1000}},
      {"sfvr 65535, 14", {0x154 | 14 << 10 | 65535u << 14}},
      {"sfvr 0,0", {0x154}},
      {"efr 2", {0x254 | 2 << 10}},
      {"dbg\nsys\nbrk\nterm\nnop\nsmod\nemod", {0x14, 0x114, 0x194, 0x214, 0x294, 0x314, 0x394}},
  });
}

TEST(Encoding, OperandAndArgumentErrors) {
  struct E {
    const char* source;
    const char* errors;
  };
  const E cases[] = {
      {"mov =1, $2",
       "t(2): illegal destination addressing mode\nt(2): unexpected characters: , $2\n"},
      {"lea $1, $2", "t(2): invalid argument addressing mode\n"},
      {"memmov [$1], =2", "t(2): invalid argument addressing mode\n"},
      {"mov [FP][40000], $1", "t(2): stack offset overflow\n"},
      {"mov $1 $2", "t(2): expected COMMA\nt(2): unexpected characters: $2\n"},
      {"mov $1, 5", "t(2): invalid addressing mode\nt(2): unexpected characters: 5\n"},
      {"mov $1, [FP]", "t(2): invalid addressing mode\n"},
      {":a\n:b\nmov $1, =a+b", "t(4): invalid expression\nt(4): invalid addressing mode\n"},
      {"b push =1", "t(2): b push is illegal\n"},
      {"neg =1", "t(2): invalid addressing mode\n"},
      {"pea $1", "t(2): invalid addressing mode\n"},
      {":l\npushs =l", "t(3): invalid addressing mode\n"},
      {"pushs =3000000", "t(2): invalid addressing mode\n"},
      {"sfvr 65536, 2", "t(2): invalid variable size\nt(2): unexpected characters: , 2\n"},
      {"sfvr", "t(2): missing variables size\n"},
      {"sfvr 4, ", "t(2): missing register count\n"},
      {"efr 15", "t(2): invalid register count\n"},
      {"jsrfr x, $1", "t(2): missing stack arguments size\nt(2): unexpected characters: , $1\n"},
      {"jsrfr 4, [0x10]", "t(2): invalid addressing mode\n"},
      {"jmp [0x40]", "t(2): invalid addressing mode\n"},
      {"tljeq =1, =4", "t(2): invalid addressing mode\nt(2): unexpected characters: , =4\n"},
      {"tljeq $1, 4", "t(2): bad jump target\nt(2): unexpected characters: 4\n"},
      {"nop $1", "t(2): unexpected characters: $1\n"},
      // the one-operand tst is shadowed by the two-operand row
      {"tst $1", "t(2): expected COMMA\n"},
  };
  for (const E& c : cases) EXPECT_EQ(Errors(c.source), c.errors) << c.source;
}

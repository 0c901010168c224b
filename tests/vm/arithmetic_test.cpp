#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include "tests/vm/exec_fixture.h"
#include "vm/decode.h"
#include "vm/step.h"
#include "vm/stepper.h"

namespace orvo::vm::test {
namespace {

struct Outcome {
  uint64_t dst;
  uint8_t flags;
  std::vector<std::string> messages;
};

// Runs "op.size $1, $2" (format 28) with the flags preset to 7 (all set), so that an
// operation that keeps the flags shows 7 afterwards.
Outcome RegisterOp(unsigned op, unsigned size, uint64_t a, uint64_t b) {
  Image image;
  image.Code(Sfvr(0, 0), Two(op, size, 28, 1, 2), Efr(0));
  Vm vm;
  EXPECT_TRUE(vm.Load(image));
  vm.SetReg(1, a);
  vm.SetReg(2, b);
  vm.m.mem[HDR_FLAGS] = 7;
  vm.Call();
  return {vm.Reg(1), vm.Flags(), vm.hooks.messages};
}

constexpr uint8_t KEPT = 7;

TEST(Arithmetic, IntegerOperationsAndTheirFlags) {
  struct Row {
    unsigned op, size;
    uint64_t a, b, dst;
    uint8_t flags;
  } rows[] = {
      {OP2_ADD, D, 0xFFFFFFFF, 1, 0, KEPT},  // add never sets flags
      {OP2_ADD, B, 0x11223344556677FF, 2, 0x1122334455667701, KEPT},
      {OP2_SUB, D, 5, 5, 0, FLAG_ZERO},
      {OP2_SUB, W, 0, 1, 0xFFFF, FLAG_NEGATIVE | FLAG_ODD},
      {OP2_CMP, D, 0x7FFFFFFF, 0xFFFFFFFF, 0x7FFFFFFF, FLAG_NEGATIVE},  // wrapped difference
      {OP2_CMP, Q, 3, 3, 3, FLAG_ZERO},
      {OP2_MUL, W, 0xFFFF, 0xFFFF, 1, KEPT},
      {OP2_MUL, Q, 0x100000001, 0x100000001, 0x200000001, KEPT},
      {OP2_TST, D, 0xF0, 0x0F, 0xF0, FLAG_ZERO},
      {OP2_AND, D, 0xF3, 0x81, 0x81, FLAG_ODD},
      {OP2_OR, D, 0xF0, 0x0F, 0xFF, KEPT},
      {OP2_XOR, B, 0xFF, 0x7F, 0x80, FLAG_NEGATIVE},
      {OP2_MOV, B, 0x1111111111111111, 0xAB, 0x11111111111111AB, KEPT},
      {OP2_MOVZ, B, 0x1111111111111111, 0xAB, 0xAB, KEPT},
      {OP2_MOVZ, W, 0x1111111111111111, 0xFFFFABCD, 0xABCD, KEPT},
      {OP2_RSHI, B, 0x80, 1, 0xC0, FLAG_NEGATIVE},
      {OP2_RSHU, B, 0x80, 1, 0x40, 0},
      {OP2_RSHI, B, 0x80, 9, 0xFF, FLAG_NEGATIVE | FLAG_ODD},
      {OP2_RSHU, B, 0x80, 9, 0, FLAG_ZERO},
      {OP2_LSH, D, 1, 33, 2, 0},  // count mod 32
      {OP2_LSH, Q, 1, 65, 2, 0},  // count mod 64
      {OP2_LSH, W, 0x8001, 1, 2, 0},
      {OP2_LSH, D, 1, 0x1F00, 1, FLAG_ODD},  // only the first byte counts
      {OP2_RSHI, Q, 0x8000000000000000, 63, 0xFFFFFFFFFFFFFFFF, FLAG_NEGATIVE | FLAG_ODD},
      {OP2_DIVI, B, 0x80, 0xFF, 0x80, KEPT},   // -128 / -1 stores -128
      {OP2_MODI, W, 0xFFF9, 2, 0xFFFF, KEPT},  // -7 mod 2 = -1
      {OP2_DIVI, D, 0xFFFFFFF9, 2, 0xFFFFFFFD, KEPT},
      {OP2_DIVI, D, 0x80000000, 0xFFFFFFFF, 0x80000000, KEPT},
      {OP2_MODI, D, 0x80000000, 0xFFFFFFFF, 0, KEPT},
      {OP2_DIVI, Q, 0x8000000000000000, ~0ull, 0x8000000000000000, KEPT},
      {OP2_MODI, Q, 0x8000000000000000, ~0ull, 0, KEPT},
      {OP2_DIVU, D, 0xFFFFFFFE, 2, 0x7FFFFFFF, KEPT},
      {OP2_MODU, B, 0xFF, 10, 5, KEPT},
  };
  for (const Row& r : rows) {
    Outcome o = RegisterOp(r.op, r.size, r.a, r.b);
    EXPECT_EQ(o.dst, r.dst) << kOp2Info[r.op].mnemonic << " size " << r.size;
    EXPECT_EQ(o.flags, r.flags) << kOp2Info[r.op].mnemonic << " size " << r.size;
    EXPECT_TRUE(o.messages.empty());
  }
}

TEST(Arithmetic, DivisionByZeroStopsTheProgramAtEverySize) {
  for (unsigned op : {OP2_DIVI, OP2_MODI, OP2_DIVU, OP2_MODU})
    for (unsigned size = 0; size < 4; ++size) {
      Image image;
      image.Code(Sfvr(0, 0), Two(op, size, 28, 1, 2), Efr(0));
      Vm vm;
      ASSERT_TRUE(vm.Load(image));
      vm.SetReg(1, 77);
      vm.Call();
      EXPECT_EQ(vm.Reg(1), 77u);
      ASSERT_EQ(vm.hooks.messages.size(), 1u);
      EXPECT_EQ(vm.hooks.messages[0],
                "Divide by zero at 0x00000204\nTerminating program. So terribly sorry.");
      EXPECT_EQ(vm.m.hostFlags, HOST_END_PROGRAM | HOST_ENDING);
      EXPECT_EQ(vm.hooks.endProgramCalls, 1);
      EXPECT_EQ(vm.Word(HDR_VPC), 0x208u);
    }
}

uint64_t F(float f) {
  return std::bit_cast<uint32_t>(f);
}
uint64_t Dbl(double d) {
  return std::bit_cast<uint64_t>(d);
}

TEST(Arithmetic, FloatOperationsAndFloatFlags) {
  struct Row {
    unsigned op, size;
    uint64_t a, b, dst;
    uint8_t flags;
  } rows[] = {
      {OP2_ADDF, D, F(1.5f), F(2.25f), F(3.75f), KEPT},
      {OP2_SUBF, D, F(1.0f), F(1.0f), F(0.0f), FLAG_ZERO},
      {OP2_SUBF, Q, Dbl(1.0), Dbl(3.0), Dbl(-2.0), FLAG_NEGATIVE},
      {OP2_SUBF, Q, Dbl(5.0), Dbl(3.0), Dbl(2.0), 0},
      {OP2_MULF, Q, Dbl(1.5), Dbl(-2.0), Dbl(-3.0), KEPT},
      {OP2_DIVF, D, F(1.0f), F(0.0f), F(INFINITY), KEPT},
      {OP2_CMPF, Q, Dbl(NAN), Dbl(1.0), Dbl(NAN), 0},
      {OP2_CMPF, D, F(-1.0f), F(2.0f), F(-1.0f), FLAG_NEGATIVE},
  };
  for (const Row& r : rows) {
    Outcome o = RegisterOp(r.op, r.size, r.a, r.b);
    if (r.op == OP2_CMPF && r.size == Q)
      EXPECT_TRUE(std::isnan(std::bit_cast<double>(o.dst)));
    else
      EXPECT_EQ(o.dst, r.dst) << kOp2Info[r.op].mnemonic;
    EXPECT_EQ(o.flags, r.flags) << kOp2Info[r.op].mnemonic;
  }
}

TEST(Arithmetic, FloatAtByteOrWordSizeShowsTheMessageAndGoesOn) {
  Image image;
  image.Code(Sfvr(0, 0), Two(OP2_ADDF, W, 28, 1, 2), Two(OP2_MOV, D, 30, 3, 5), Efr(0));
  Vm vm;
  ASSERT_TRUE(vm.Load(image));
  vm.SetReg(1, 10);
  vm.Call();
  EXPECT_EQ(vm.Reg(1), 10u);
  EXPECT_EQ(vm.Reg(3), 5u);  // the next instruction ran
  EXPECT_EQ(vm.hooks.messages,
            std::vector<std::string>{"BYTE/WORD size illegal for FLOAT/DOUBLE at 0x00000204"});
}

// One-operand operation on register 1 (form 0xD4, register number in the upper half).
Outcome UnaryRegister(unsigned op, unsigned size, uint64_t v) {
  Image image;
  image.Code(Sfvr(0, 0), One(ONE_REG, op, size, 1), Efr(0));
  Vm vm;
  EXPECT_TRUE(vm.Load(image));
  vm.SetReg(1, v);
  vm.m.mem[HDR_FLAGS] = 7;
  vm.Call();
  return {vm.Reg(1), vm.Flags(), vm.hooks.messages};
}

TEST(Arithmetic, OneOperandOperationsAndConversions) {
  const uint64_t high = 0xAAAAAAAA00000000;
  struct Row {
    unsigned op, size;
    uint64_t v, result;
    uint8_t flags;
  } rows[] = {
      {OP1_NEG, D, high | 1, high | 0xFFFFFFFF, KEPT},
      {OP1_NOT, B, 0xFF, 0, FLAG_ZERO},
      {OP1_TST, W, 0x8000, 0x8000, FLAG_NEGATIVE},
      {OP1_NEGF, D, high | F(2.0f), high | F(-2.0f), KEPT},
      {OP1_NEGF, Q, Dbl(2.0), Dbl(-2.0), KEPT},
      {OP1_CVUU, B, high | 0xFF, 0xFF, KEPT},
      {OP1_CVSS, W, high | 0x8000, 0xFFFFFFFFFFFF8000, KEPT},
      {OP1_CVSS, Q, 0x8000, 0x8000, KEPT},
      {OP1_CVSF, B, high | 0xFF, F(-1.0f), KEPT},  // high half cleared
      {OP1_CVUF, B, 0xFF, F(255.0f), KEPT},
      {OP1_CVUD, Q, 0x8000000000000000, Dbl(9223372036854775808.0), KEPT},
      {OP1_CVSD, D, 0xFFFFFFFE, Dbl(-2.0), KEPT},
      {OP1_CVFS, B, high | F(2.9f), 2, KEPT},
      {OP1_CVFS, Q, F(-2.9f), static_cast<uint64_t>(-2), KEPT},
      {OP1_CVDS, D, Dbl(1e30), 0x8000000000000000, KEPT},
      {OP1_CVDS, D, Dbl(NAN), 0x8000000000000000, KEPT},
      {OP1_CVDS, D, Dbl(-9223372036854775808.0), 0x8000000000000000, KEPT},
      {OP1_CVFD, B, high | F(0.5f), Dbl(0.5), KEPT},
      {OP1_CVDF, B, Dbl(0.25), (Dbl(0.25) & 0xFFFFFFFF00000000) | F(0.25f), KEPT},
  };
  for (const Row& r : rows) {
    Outcome o = UnaryRegister(r.op, r.size, r.v);
    EXPECT_EQ(o.dst, r.result) << kOp1Info[r.op].mnemonic << " size " << r.size;
    EXPECT_EQ(o.flags, r.flags) << kOp1Info[r.op].mnemonic << " size " << r.size;
    EXPECT_TRUE(o.messages.empty());
  }
  Outcome refused = UnaryRegister(OP1_NEGF, B, 5);
  EXPECT_EQ(refused.dst, 5u);
  EXPECT_EQ(refused.messages.size(), 1u);
}

// Immediates and the memory forms read and write the right places.
class OperandForms : public ExecTest {};

TEST_F(OperandForms, ShortImmediatesAndTheImmediateSlot) {
  Run({Two(OP2_MOV, Q, 30, 1, 8), Two(OP2_MOV, D, 30, 2, 8)});
  EXPECT_EQ(vm.Reg(1), 0x00000000FFFFFFF8u);  // q: high word 0, not the sign
  EXPECT_EQ(vm.Reg(2), 0xFFFFFFF8u);
  EXPECT_EQ(vm.Word(HDR_IMMEDIATE), 0xFFFFFFF8u);  // the slot keeps the last immediate
}

TEST_F(OperandForms, LongImmediatesFillTheSlot) {
  Run({Two(OP2_MOV, Q, 22, 1, 0), 0x89ABCDEF, 0x01234567, Two(OP2_ADD, D, 22, 2, 0), 0x10});
  EXPECT_EQ(vm.Reg(1), 0x0123456789ABCDEFu);
  EXPECT_EQ(vm.Reg(2), 0x10u);
  EXPECT_EQ(vm.Quad(HDR_IMMEDIATE), 0x0123456700000010u);  // d writes the low word only
}

TEST_F(OperandForms, MemoryFormsAddressTheirLocations) {
  const uint32_t data = 0x1000;
  image.zeroSize = 0x2000;
  Run(
      {
          Two(OP2_MOV, D, 29, 5, 0), data,                    // [data] = 5
          Two(OP2_MOV, D, 26, 3, 0), data,                    // $3 = [data]
          Two(OP2_MOV, D, 14, 4, 0), 8, 0x11,                 // [$4 + 8] = 0x11
          Two(OP2_MOV, D, 10, 4, 4), 12, 8,                   // [$4 + 12] = [$4 + 8]
          Two(OP2_MOV, D, 19, 3, static_cast<uint32_t>(-4)),  // [VFP - 4] = $3
          Two(OP2_MOV, D, 15, 0, static_cast<uint32_t>(-8)), static_cast<uint32_t>(-4),
          Two(OP2_MOV, D, 17, 6, static_cast<uint32_t>(-8)),            // $6 = [VFP - 8]
          Two(OP2_LEA, D, 3, 0, static_cast<uint32_t>(-8)), data + 16,  // [data+16] = &[VFP-8]
      },
      [&](Vm& v) { v.SetReg(4, 0x1800); });
  EXPECT_EQ(vm.Reg(3), 5u);
  EXPECT_EQ(vm.Word(0x1808), 0x11u);
  EXPECT_EQ(vm.Word(0x180C), 0x11u);
  EXPECT_EQ(vm.Reg(6), 5u);
  EXPECT_EQ(vm.Word(data + 16), BodyFp() - 8);
}

TEST_F(OperandForms, BlockMovesUseTheMoveCount) {
  image.zeroSize = 0x2000;
  Run({Two(OP2_MOV, D, 29, 3, 0), HDR_MOVE_COUNT, Two(OP2_MEMMOV, W, 21, 0, 0), 0x1001, 0x1000},
      [](Vm& v) {
        for (uint32_t i = 0; i < 8; ++i) v.m.mem[0x1000 + i] = static_cast<uint8_t>(i + 1);
      });
  // 3 words moved one byte up, overlapping.
  const uint8_t expected[] = {1, 1, 2, 3, 4, 5, 6, 8};
  for (uint32_t i = 0; i < 8; ++i) EXPECT_EQ(vm.m.mem[0x1000 + i], expected[i]) << i;
}

// A NaN result carries the destination's NaN, made quiet, if it is one, else the
// source's; the same bits whether the operation runs alone, as the second half of a move
// pair ("mov $1, $3" then "op $1, $2") or through the plain step.
TEST(Arithmetic, NanResultsKeepTheDestinationsNanThenTheSources) {
  constexpr uint64_t kSignallingA = 0x7FF0000000000123, kQuietB = 0x7FF8000000000456;
  constexpr uint64_t kSignallingB = 0xFFF0000000000789;
  constexpr uint32_t kFloatA = 0x7F800123, kFloatB = 0xFFC00456;
  struct Row {
    unsigned op, size;
    uint64_t a, b, dst;
  } rows[] = {
      {OP2_ADDF, Q, kSignallingA, kQuietB, 0x7FF8000000000123},
      {OP2_SUBF, Q, Dbl(1.0), kSignallingB, 0xFFF8000000000789},
      {OP2_MULF, Q, kQuietB, kSignallingA, kQuietB},
      {OP2_DIVF, Q, Dbl(2.0), kQuietB, kQuietB},
      {OP2_ADDF, D, kFloatA, kFloatB, 0x7FC00123},
      {OP2_MULF, D, 0x3F800000, kFloatB, kFloatB},
  };
  for (const Row& r : rows) {
    const uint64_t mask = r.size == Q ? ~uint64_t{0} : 0xFFFFFFFF;
    EXPECT_EQ(RegisterOp(r.op, r.size, r.a, r.b).dst & mask, r.dst)
        << "op " << r.op << " size " << r.size;
    for (const bool plain : {false, true}) {
      Image image;
      image.Code(Sfvr(0, 0), Two(OP2_MOV, r.size, 28, 1, 3), Two(r.op, r.size, 28, 1, 2), Efr(0));
      Vm vm;
      ASSERT_TRUE(vm.Load(image));
      vm.SetReg(2, r.b);
      vm.SetReg(3, r.a);
      if (plain) {
        vm.m.bounded = true;  // the plain step, one instruction at a time
        vm.m.budget = 100;
        const uint32_t sp = vm.Word(HDR_VSP);
        Store32(vm.m.mem + sp - 24, 0);
        Store32(vm.m.mem + sp - 20, 16);
        Store32(vm.m.mem + HDR_VSP, sp - 24);
        Store32(vm.m.mem + HDR_VPC, ENTRY_ADDRESS);
        InterpretReference(vm.m);
      } else {
        vm.Call();
      }
      EXPECT_EQ(vm.Reg(1) & mask, r.dst)
          << "op " << r.op << " size " << r.size << (plain ? " plain" : " paired");
    }
  }
}

}  // namespace
}  // namespace orvo::vm::test

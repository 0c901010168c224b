#include "vm/decode.h"

#include <gtest/gtest.h>

#include "tests/vm/vm_test_support.h"

namespace orvo::vm::test {
namespace {

TEST(Decode, WorkedExamplesNameTheirInstructions) {
  EXPECT_EQ(Two(OP2_ADD, D, 28, 1, 2), 0x0002343Cu);
  EXPECT_EQ(kDecode[0x0002343C & 1023], K_F28);
  EXPECT_EQ(kOp2Table[(0x0002343C >> 9) & 127], OP2_ADD * 4 + D);
  EXPECT_EQ(Two(OP2_MOV, D, 23, 3, static_cast<uint32_t>(-8)), 0xFFF87C77u);
  EXPECT_EQ(kDecode[0xFFF87C77 & 1023], K_F23);
  EXPECT_EQ(Tlj(0, D, 1, 0x1234), 0x001234C0u);
  EXPECT_EQ(kDecode[0x001234C0 & 1023], K_TLJ_REG);
  EXPECT_EQ(Lj(0, 0x2000), 0x00200034u);
  EXPECT_EQ(kDecode[0x34], K_LJ);
  EXPECT_EQ(Sfvr(3, 16), 0x00040D54u);
  EXPECT_EQ(kDecode[0x00040D54 & 1023], K_SFVR);
  EXPECT_EQ(PushShort(D, -5), 0xFFFFEEF4u);
  EXPECT_EQ(kDecode[0xFFFFEEF4 & 1023], K_PUSH_SHORT);
}

TEST(Decode, FamiliesCoverEveryOpcode) {
  for (unsigned op = 0; op < 1024; ++op) {
    const unsigned low5 = op & 31;
    const Kind k = kDecode[op];
    if (low5 == 4) {
      EXPECT_EQ(k, K_ILLEGAL) << op;
    }
    if (low5 == 31) {
      EXPECT_EQ(k, K_NOP) << op;
    }
    if (low5 == 0) {
      EXPECT_EQ(k, K_TLJ_REG) << op;
    }
    if (low5 == 8) {
      EXPECT_EQ(k, K_TLJ_ABS) << op;
    }
    if (low5 == 16) {
      EXPECT_EQ(k, K_TLJ_IND) << op;
    }
    if (low5 == 24) {
      EXPECT_EQ(k, K_TLJ_FRAME) << op;
    }
    if (low5 == 12 && !(op & 32)) {
      EXPECT_EQ(k, K_JMP_MEM) << op;
    }
  }
  EXPECT_EQ(kDecode[148], K_ILLEGAL);
  for (unsigned op : {300u, 404u, 556u, 660u, 812u, 1023u}) EXPECT_EQ(kDecode[op], K_NOP) << op;
  EXPECT_EQ(kDecode[44], K_JMP);
  EXPECT_EQ(kDecode[20], K_DBG);
  EXPECT_EQ(kDecode[276], K_SYS);
  EXPECT_EQ(kDecode[532], K_TERM);
  EXPECT_EQ(kDecode[788], K_SMOD);
  EXPECT_EQ(kDecode[916], K_EMOD);
  EXPECT_EQ(kDecode[84], K_JSR_ABS);
  EXPECT_EQ(kDecode[596], K_EFR);
  EXPECT_EQ(kDecode[852], K_JSR_REG);
  for (unsigned size = 0; size < 4; ++size) {
    EXPECT_EQ(kDecode[116 + 256 * size], K_PUSH_LONG);
    EXPECT_EQ(kDecode[(244 + 256 * size) & 1023], K_PUSH_SHORT);
    EXPECT_EQ(kDecode[(0xD4 + 256 * size) & 1023], K_ONE_REG);
    EXPECT_EQ(kDecode[(0x6C + 256 * size) & 1023], K_ONE_IND);
    EXPECT_EQ(kDecode[(0xAC + 256 * size) & 1023], K_ONE_FRAME);
    EXPECT_EQ(kDecode[(0xEC + 256 * size) & 1023], K_ONE_ABS);
  }
}

TEST(Decode, GroupTablesMarkIllegalAndFloatSizeEntries) {
  for (unsigned op = 24; op < 30; ++op)
    for (unsigned s = 0; s < 4; ++s) EXPECT_EQ(kOp2Table[op * 4 + s], GROUP_ILLEGAL);
  for (unsigned op : {17u, 18u, 19u, 20u, 21u}) {
    EXPECT_EQ(kOp2Table[op * 4 + B], GROUP_FLOAT_SIZE);
    EXPECT_EQ(kOp2Table[op * 4 + W], GROUP_FLOAT_SIZE);
    EXPECT_EQ(kOp2Table[op * 4 + D], op * 4 + D);
  }
  EXPECT_EQ(kOp2Table[OP2_POMEM * 4 + Q], OP2_POMEM * 4 + Q);
  EXPECT_EQ(kOp1Table[7 * 4 + D], GROUP_ILLEGAL);
  for (unsigned op = 18; op < 32; ++op) EXPECT_EQ(kOp1Table[op * 4 + Q], GROUP_ILLEGAL);
  EXPECT_EQ(kOp1Table[OP1_NEGF * 4 + W], GROUP_FLOAT_SIZE);
  EXPECT_EQ(kOp1Table[OP1_CVDF * 4 + B], OP1_CVDF * 4 + B);  // size ignored, not refused
}

TEST(Decode, ConditionsHoldOnTheirFlags) {
  auto holds = [](unsigned cc, uint8_t flags) { return (kConditionMask[cc] >> flags) & 1; };
  EXPECT_TRUE(holds(0, FLAG_ZERO));
  EXPECT_FALSE(holds(1, FLAG_ZERO));
  EXPECT_TRUE(holds(2, 0));
  EXPECT_FALSE(holds(2, FLAG_NEGATIVE));
  EXPECT_TRUE(holds(3, FLAG_ODD));
  EXPECT_FALSE(holds(3, FLAG_ZERO));
  EXPECT_TRUE(holds(4, FLAG_NEGATIVE | FLAG_ODD));
  EXPECT_TRUE(holds(5, FLAG_NEGATIVE));
  EXPECT_TRUE(holds(6, FLAG_ZERO));
  EXPECT_TRUE(holds(7, FLAG_ODD | FLAG_NEGATIVE));
  EXPECT_FALSE(holds(7, FLAG_NEGATIVE));
}

}  // namespace
}  // namespace orvo::vm::test

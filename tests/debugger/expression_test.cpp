// Expressions over a real machine's memory: operands as velda writes them, sizes, and
// text that is no expression.
#include "debugger/expression.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "debugger/base64.h"
#include "vm/machine.h"

namespace orvo::debugger {
namespace {

class NoHooks : public vm::Hooks {
  void MessageBox(std::string_view) override {}
  void AppendDebugLog(std::string_view) override {}
  uint32_t ElapsedMs() override { return 0; }
  vm::LocalTime Now() override { return {}; }
};

struct ExpressionTest : ::testing::Test {
  ExpressionTest() : m(hooks) {
    m.block.reset(static_cast<uint8_t*>(std::calloc(4096, 1)));
    m.mem = m.block.get();
    m.memSize = 4096;
    vm::Store64(m.mem + vm::RegisterAddress(9), 0xFFFFFFFF00000800ull);  // low half 0x800
    vm::Store32(m.mem + 0x804, 0x11223344);
    vm::Store32(m.mem + vm::HDR_VFP, 0x900);
    vm::Store32(m.mem + 0x90C, 7);
  }
  EvalResult Eval(const char* text) { return Evaluate(text, m, view); }
  NoHooks hooks;
  vm::Machine m;
  vm::SourceView view;
};

TEST_F(ExpressionTest, OperandsAsVeldaWritesThem) {
  EXPECT_EQ(Eval("[$9][4]").value.value, 0x11223344u);
  EXPECT_EQ(*Eval("[$9][4]").value.address, 0x804u);
  EXPECT_EQ(Eval("b [$9][4]").value.value, 0x44u);
  EXPECT_EQ(Eval("w [$9][6]").value.value, 0x1122u);
  EXPECT_EQ(Eval("[FP][12]").value.value, 7u);
  EXPECT_EQ(Eval("[0x800 + 4]").value.value, 0x11223344u);
  EXPECT_EQ(Eval("$9").value.value, 0xFFFFFFFF00000800ull);
  EXPECT_EQ(Eval("[FP][12] * 2 + 1 == 15 && $9 != 0").value.value, 1u);
  EXPECT_EQ(Eval("-(1) + 3").value.value, 2u);
}

TEST_F(ExpressionTest, TextThatIsNoExpressionSaysWhere) {
  for (const char* bad : {"", "$16", "[$9", "[4096]", "nolabel", "1 +", "0xZZ", "((((1)", "[0xFFFFFFFFFF]"}) {
    const EvalResult r = Eval(bad);
    EXPECT_FALSE(r.ok) << bad;
    EXPECT_NE(r.error.find("column"), std::string::npos) << bad;
  }
  // Deep nesting ends in an error, not in an exhausted stack.
  EXPECT_FALSE(Eval(std::string(100000, '(').c_str()).ok);
  EXPECT_FALSE(Eval(std::string(100000, '[').c_str()).ok);
}

TEST(Base64, RoundTripsEveryLengthAndRefusesNonsense) {
  std::vector<uint8_t> data;
  for (size_t n = 0; n < 40; ++n) {
    const std::string text = EncodeBase64(data.data(), data.size());
    EXPECT_EQ(text.size() % 4, 0u);
    EXPECT_EQ(DecodeBase64(text), data);
    data.push_back(static_cast<uint8_t>(n * 37 + 1));
  }
  for (const char* bad : {"A", "AB=C", "A===", "@@@@", "AA==AA==", "AAA"}) EXPECT_FALSE(DecodeBase64(bad)) << bad;
}

}  // namespace
}  // namespace orvo::debugger

// velda against the machine: statements over every mnemonic, operand form and size,
// with seeded random operands, are assembled by velda, decoded by the machine's tables
// and disassembled; the disassembly, assembled in their place, gives the same image.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "isa/instruction_set.h"
#include "mnemonics.h"
#include "velda_test_util.h"
#include "vm/decode.h"
#include "vm/disassemble.h"
#include "vm/memory.h"

namespace {

using namespace orvo::isa;
using orvo::velda::Assembler;

// An operand as written; `label` (when set) stands for the value.
struct Operand {
  Form form;
  uint32_t reg = 0;
  int64_t value = 0;
  std::string label;
};
Operand Op(Form form, uint32_t reg, int64_t value, std::string label = "") {
  return {form, reg, value, std::move(label)};
}

struct Statement {
  std::string text;
  // Checks the words velda made; `value` gives an operand's value.
  std::function<void(const uint32_t* w, const std::function<int64_t(const Operand&)>& value)> check;
};

class Generator {
 public:
  explicit Generator(unsigned labels) : labels_(labels) {}

  int64_t Int(int64_t lo, int64_t hi) {
    return std::uniform_int_distribution<int64_t>(lo, hi)(rng_);
  }
  std::string Label() { return "_L" + std::to_string(Int(0, labels_ - 1)); }

  // An address, a jump target when `aligned`.
  Operand Address(bool aligned) {
    if (Int(0, 2) == 0) return Op(FORM_A, 0, 0, Label());
    return Op(FORM_A, 0, aligned ? Int(0, 0x3FFFFF) * 4 : Int(0, 0xFFFFFFFF));
  }

  Operand Make(Form form, unsigned size) {
    switch (form) {
      case FORM_R:
        return Op(form, static_cast<uint32_t>(Int(0, 15)), 0);
      case FORM_I:
        return Op(form, static_cast<uint32_t>(Int(0, 15)), Int(0, 1) ? Int(-100000, 100000) : 0);
      case FORM_A:
        return Address(false);
      case FORM_F:
        return Op(form, 0, Int(-32768, 32767));
      case FORM_K_SHORT:
        return Op(form, 0, Int(size == SIZE_Q ? 0 : -4, 3));
      default: {
        if (Int(0, 3) == 0) return Op(form, 0, 0, Label());
        int64_t v = size == SIZE_Q ? static_cast<int64_t>(rng_()) << 32 ^ rng_()
                                   : Int(INT32_MIN, INT32_MAX);
        return Op(form, 0, v >= -4 && v <= 3 ? v + 100 : v);
      }
    }
  }

 private:
  std::mt19937 rng_{20261210};
  unsigned labels_;
};

std::string ValueText(const Operand& op) {
  return op.label.empty() ? std::to_string(op.value) : op.label;
}

std::string Text(const Operand& op) {
  const std::string v = ValueText(op);
  switch (op.form) {
    case FORM_R:
      return "$" + std::to_string(op.reg);
    case FORM_I:
      return "[$" + std::to_string(op.reg) + "][" + v + "]";
    case FORM_A:
      return "[" + v + "]";
    case FORM_F:
      return "[FP][" + v + "]";
    default:
      return "=" + v;
  }
}

std::string Sized(unsigned size, const std::string& rest) {
  return std::string(1, kSizeNames[size]) + " " + rest;
}

// The operation and size of a group entry: op * 4 + size, or the float-size mark.
void ExpectGroupEntry(uint8_t entry, const char* mnemonic, bool isFloat, unsigned op,
                      unsigned size) {
  if (isFloat && size < SIZE_D) {
    EXPECT_EQ(entry, orvo::vm::GROUP_FLOAT_SIZE);
  } else {
    EXPECT_EQ(entry, op * 4 + size) << mnemonic;
  }
}

// Where a two-operand place keeps its operand, read the machine's way.
void ExpectPlace(Loc loc, const uint32_t* w, unsigned& next, unsigned size, const Operand& op,
                 int64_t value) {
  const uint32_t a = w[0] >> 5 & 15, b = w[0] >> 16 & 15;
  const auto shortValue = [](uint32_t f) { return static_cast<int64_t>(f ^ 8) - 8; };
  switch (loc) {
    case LOC_REG_A:
    case LOC_REG_B:
      EXPECT_EQ(loc == LOC_REG_A ? a : b, op.reg);
      break;
    case LOC_IND_A:
    case LOC_IND_B:
      EXPECT_EQ(loc == LOC_IND_A ? a : b, op.reg);
      EXPECT_EQ(w[next++], static_cast<uint32_t>(value));
      break;
    case LOC_ABS:
    case LOC_FRAME_E:
      EXPECT_EQ(w[next++], static_cast<uint32_t>(value));
      break;
    case LOC_FRAME_F:
      EXPECT_EQ(static_cast<int16_t>(w[0] >> 16), value);
      break;
    case LOC_SIMM_A:
    case LOC_SIMM_B:
      EXPECT_EQ(shortValue(loc == LOC_SIMM_A ? a : b), value);
      break;
    default:
      EXPECT_EQ(w[next++], static_cast<uint32_t>(value));
      if (size == SIZE_Q) {
        EXPECT_EQ(w[next++], static_cast<uint32_t>(static_cast<uint64_t>(value) >> 32));
      }
  }
}

std::vector<Statement> TwoOperandStatements(Generator& g) {
  std::vector<Statement> out;
  for (unsigned op = 0; op < 32; ++op) {
    const Op2Info& info = kOp2Info[op];
    if (!info.mnemonic) continue;
    for (Form d : {FORM_R, FORM_I, FORM_A, FORM_F})
      for (unsigned s = 0; s < FORM_COUNT; ++s) {
        const Form sf = static_cast<Form>(s);
        if (info.memorySource && (sf == FORM_R || sf == FORM_K_SHORT || sf == FORM_K_LONG))
          continue;
        for (unsigned size = 0; size < 4; ++size) {
          const Operand dst = g.Make(d, size), src = g.Make(sf, size);
          out.push_back(
              {Sized(size, std::string(info.mnemonic) + " " + Text(dst) + ", " + Text(src)),
               [=](const uint32_t* w, const auto& value) {
                 const FormatLocs& locs = kFormatLocs[w[0] & 31];
                 EXPECT_EQ(orvo::vm::kDecode[w[0] & 1023], kFormatKind[w[0] & 31]);
                 EXPECT_EQ(FormOf(locs.dst), d);
                 EXPECT_EQ(FormOf(locs.src), sf);
                 ExpectGroupEntry(orvo::vm::kOp2Table[w[0] >> 9 & 127], info.mnemonic, info.isFloat,
                                  op, size);
                 unsigned next = 1;
                 ExpectPlace(locs.dst, w, next, size, dst, value(dst));
                 ExpectPlace(locs.src, w, next, size, src, value(src));
               }});
        }
      }
  }
  return out;
}

std::vector<Statement> OtherStatements(Generator& g) {
  std::vector<Statement> out;
  const auto kindIs = [](Kind k) {
    return [k](const uint32_t* w, const auto&) { EXPECT_EQ(orvo::vm::kDecode[w[0] & 1023], k); };
  };
  for (unsigned op = 0; op < 32; ++op) {
    const Op1Info& info = kOp1Info[op];
    // The one-operand tst is shadowed by the two-operand row of the same name.
    if (!info.mnemonic || orvo::velda::FindMnemonic(info.mnemonic) != 48 + static_cast<int>(op))
      continue;
    const std::pair<Form, Kind> forms[] = {
        {FORM_R, K_ONE_REG}, {FORM_I, K_ONE_IND}, {FORM_A, K_ONE_ABS}, {FORM_F, K_ONE_FRAME}};
    for (auto [form, kind] : forms)
      for (unsigned size = 0; size < 4; ++size) {
        if (op == OP1_PEA && form == FORM_R) continue;
        const Operand x = g.Make(form, size);
        out.push_back({Sized(size, std::string(info.mnemonic) + " " + Text(x)),
                       [=](const uint32_t* w, const auto& value) {
                         EXPECT_EQ(orvo::vm::kDecode[w[0] & 1023], kind);
                         ExpectGroupEntry(orvo::vm::kOp1Table[w[0] >> 8 & 127], info.mnemonic,
                                          info.isFloat, op, size);
                         if (form == FORM_F) {
                           EXPECT_EQ(static_cast<int16_t>(w[0] >> 16), x.value);
                         } else if (form == FORM_R) {
                           EXPECT_EQ(w[0] >> 16, x.reg);
                         } else {
                           EXPECT_EQ(w[0] >> 16 & 15, form == FORM_I ? x.reg : 0u);
                           EXPECT_EQ(w[1], static_cast<uint32_t>(value(x)));
                         }
                       }});
      }
  }
  for (unsigned size = 0; size < 4; ++size) {
    // The immediate forms of push, and pushs, which also takes size b.
    for (Form form : {FORM_K_SHORT, FORM_K_LONG}) {
      Operand x = g.Make(form, size);
      if (form == FORM_K_SHORT) x.value = g.Int(-2097152, 2097151);
      if (form == FORM_K_LONG && x.label.empty())
        x.value = size == SIZE_Q ? x.value : x.value | 1 << 22;
      if (size != SIZE_B)
        out.push_back({Sized(size, "push " + Text(x)), [=](const uint32_t* w, const auto& value) {
                         EXPECT_EQ(orvo::vm::kDecode[w[0] & 1023],
                                   form == FORM_K_SHORT ? K_PUSH_SHORT : K_PUSH_LONG);
                         if (form == FORM_K_SHORT) {
                           EXPECT_EQ(static_cast<int32_t>(w[0]) >> 10, x.value);
                         } else {
                           EXPECT_EQ(w[1], static_cast<uint32_t>(value(x)));
                         }
                       }});
    }
    out.push_back(
        {Sized(size, "pushs =" + std::to_string(g.Int(-2097152, 2097151))), kindIs(K_PUSH_SHORT)});
  }
  const std::pair<Form, Kind> tested[] = {
      {FORM_R, K_TLJ_REG}, {FORM_I, K_TLJ_IND}, {FORM_A, K_TLJ_ABS}, {FORM_F, K_TLJ_FRAME}};
  for (unsigned cc = 0; cc < 8; ++cc) {
    const std::string suffix = kConditionSuffix[cc];
    for (auto [form, kind] : tested)
      for (unsigned size = 0; size < 4; ++size) {
        const Operand x = g.Make(form, size), target = g.Address(true);
        out.push_back({Sized(size, "tlj" + suffix + " " + Text(x) + ", =" + ValueText(target)),
                       [=](const uint32_t* w, const auto& value) {
                         EXPECT_EQ(orvo::vm::kDecode[w[0] & 1023], kind);
                         EXPECT_EQ(w[0] >> 5 & 3, size);
                         EXPECT_EQ(w[0] >> 7 & 7, cc);
                         EXPECT_EQ(int64_t{w[0] >> 10} << 2, value(target));
                         EXPECT_EQ(w[1], form == FORM_R || form == FORM_I
                                             ? x.reg
                                             : static_cast<uint32_t>(value(x)));
                       }});
      }
    const Operand target = g.Address(true);
    out.push_back(
        {"lj" + suffix + " " + ValueText(target), [=](const uint32_t* w, const auto& value) {
           EXPECT_EQ(orvo::vm::kDecode[w[0] & 1023], K_LJ);
           EXPECT_EQ(w[0] >> 7 & 7, cc);
           EXPECT_EQ(int64_t{w[0] >> 10} << 2, value(target));
         }});
  }
  const std::string reg = "$" + std::to_string(g.Int(0, 15));
  const std::string aligned = std::to_string(g.Int(0, 0x3FFFFF) * 4);
  out.push_back({"jmp =" + g.Label(), kindIs(K_JMP)});
  out.push_back({"jmp [" + reg + "][" + aligned + "]", kindIs(K_JMP_MEM)});
  out.push_back({"jmp " + reg, kindIs(K_JMP_MEM)});
  out.push_back({"jsrfr " + std::to_string(g.Int(0, 65535)) + ", " + reg, kindIs(K_JSR_REG)});
  out.push_back(
      {"jsrfr " + std::to_string(g.Int(0, 65535)) + ", =" + g.Label(), kindIs(K_JSR_ABS)});
  out.push_back({"jsrfr 8, =" + std::to_string(g.Int(0, 0xFFFFFFFF)), kindIs(K_JSR_ABS)});
  out.push_back({"sfvr " + std::to_string(g.Int(0, 65535)) + ", " + std::to_string(g.Int(0, 14)),
                 kindIs(K_SFVR)});
  out.push_back({"efr " + std::to_string(g.Int(0, 14)), kindIs(K_EFR)});
  for (const NoOperand& n : kNoOperand)
    if (n.mnemonic) out.push_back({n.mnemonic, kindIs(n.kind)});
  return out;
}

// velda fills in the image header (build date and number, sizes): the statements start
// after it, and images are compared from there.
constexpr size_t kHeaderBytes = 256;

// The program: each statement after a label of its own, every eighth also after a
// mapped label (@align, then a name starting with '_') that operands may name.
std::string Program(const std::vector<std::string>& lines, unsigned labels) {
  std::string text = "@code\nq 0";
  for (size_t i = 8; i < kHeaderBytes; i += 8) text += ", 0";
  text += "\n";
  for (size_t i = 0; i <= lines.size(); ++i) {
    if (i % 8 == 0 && i / 8 < labels) text += "@align 4\n:_L" + std::to_string(i / 8) + "\n";
    text += ":s" + std::to_string(i) + "\n";
    if (i < lines.size()) text += lines[i] + "\n";
  }
  return text + "@end\n";
}

uint32_t LabelValue(const Assembler& a, const std::string& name) {
  const int i = a.ids.Find(name);
  EXPECT_GE(i, 0) << name;
  return i < 0 ? 0 : static_cast<uint32_t>(a.ids[static_cast<size_t>(i)].value);
}

TEST(CrossTest, VeldaTheDecoderAndTheDisassemblerAgreeOnEveryForm) {
  Generator g(64);
  std::vector<Statement> statements = TwoOperandStatements(g);
  for (Statement& s : OtherStatements(g)) statements.push_back(std::move(s));
  const unsigned labels = static_cast<unsigned>(statements.size() / 8);
  ASSERT_GE(labels, 64u);
  std::vector<std::string> lines;
  for (const Statement& s : statements) lines.push_back(s.text);

  velda_test::TempDir dir;
  velda_test::Result first = velda_test::RunSource(dir, Program(lines, labels));
  ASSERT_EQ(first.code, 0) << first.console;
  const std::vector<uint8_t> image = velda_test::Bytes(first.image);
  const orvo::vm::Symbols symbols = orvo::vm::ReadSymbolMap(first.map);
  ASSERT_EQ(symbols.byAddress.size(), labels);
  const auto value = [&](const Operand& op) {
    return op.label.empty() ? op.value : int64_t{LabelValue(*first.state, op.label)};
  };

  std::vector<std::string> disassembled;
  for (size_t i = 0; i < statements.size(); ++i) {
    const uint32_t at = LabelValue(*first.state, "s" + std::to_string(i));
    const uint32_t length = LabelValue(*first.state, "s" + std::to_string(i + 1)) - at;
    std::vector<uint32_t> words(4);
    for (uint32_t k = 0; k < length / 4 && k < 4; ++k)
      words[k] = velda_test::Le32(first.image, at + 4 * k);
    SCOPED_TRACE(statements[i].text);
    statements[i].check(words.data(), value);
    const orvo::vm::Disassembly d = orvo::vm::Disassemble(image.data(), image.size(), at, &symbols);
    EXPECT_EQ(d.length, length) << d.text;
    disassembled.push_back(d.text);
  }
  velda_test::TempDir again;
  velda_test::Result second = velda_test::RunSource(again, Program(disassembled, labels));
  ASSERT_EQ(second.code, 0) << second.console;
  ASSERT_EQ(second.image.size(), first.image.size());
  EXPECT_EQ(second.image.substr(kHeaderBytes), first.image.substr(kHeaderBytes));
  EXPECT_EQ(second.map, first.map);
}

TEST(CrossTest, WordsVeldaHasNoStatementForPrintAsDataWords) {
  const uint8_t illegal[] = {0x04, 0, 0, 0, 0xFF, 0x03, 0, 0, 0x94, 0, 0, 0};
  for (uint32_t at = 0; at < sizeof illegal; at += 4) {
    const orvo::vm::Disassembly d = orvo::vm::Disassemble(illegal, sizeof illegal, at, nullptr);
    EXPECT_EQ(d.length, 4u);
    EXPECT_EQ(velda_test::Words(d.text), std::vector<uint32_t>(1, orvo::vm::Load32(illegal + at)))
        << d.text;
  }
  const uint8_t cut[] = {0x3C, 0x34, 0x02, 0x00, 0x96};  // add, then a word cut short
  EXPECT_EQ(orvo::vm::Disassemble(cut, sizeof cut, 0, nullptr).text, "d add $1, $2");
  EXPECT_EQ(orvo::vm::Disassemble(cut, sizeof cut, 4, nullptr).length, 0u);
}

}  // namespace

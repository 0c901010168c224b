#include "vm/disassemble.h"

#include <cinttypes>
#include <cstdio>

#include "isa/instruction_set.h"
#include "vm/decode.h"
#include "vm/memory.h"

namespace orvo::vm {

const std::string* Symbols::NameAt(uint64_t address) const {
  const auto it = byAddress.find(static_cast<uint32_t>(address));
  return it == byAddress.end() || it->first != address ? nullptr : &it->second;
}

Symbols ReadSymbolMap(std::string_view text) {
  Symbols symbols;
  while (!text.empty()) {
    std::string_view line = text.substr(0, text.find('\n'));
    text.remove_prefix(line.size() < text.size() ? line.size() + 1 : line.size());
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const size_t space = line.find(' ');
    if (space == 0 || space == std::string_view::npos || space + 1 == line.size()) continue;
    uint32_t address = 0;
    bool hex = true;
    for (char c : line.substr(0, space)) {
      const int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                               : -1;
      hex = hex && digit >= 0;
      address = address << 4 | static_cast<uint32_t>(digit & 15);
    }
    if (hex) symbols.byAddress.emplace(address, line.substr(space + 1));
  }
  return symbols;
}

namespace {

using namespace isa;

// The words of one instruction, read in order; `past` notes one beyond the memory.
struct Words {
  const uint8_t* mem;
  size_t size;
  uint32_t address;
  uint32_t count = 0;
  bool past = false;

  uint32_t Next() {
    const uint64_t at = uint64_t{address} + 4 * uint64_t{count++};
    if (at + 4 > size) {
      past = true;
      return 0;
    }
    return Load32(mem + at);
  }
};

std::string Decimal(int64_t v) {
  return std::to_string(v);
}
std::string Hex(uint64_t v) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%" PRIX64, v);
  return text;
}
std::string Register(uint32_t n) {
  return "$" + Decimal(n);
}
std::string Size(uint32_t code) {
  return {kSizeNames[code & 3], ' '};
}
std::string Address(uint64_t v, const Symbols* symbols) {
  const std::string* name = symbols ? symbols->NameAt(v) : nullptr;
  return name ? *name : Hex(v);
}
std::string Target(uint32_t word, const Symbols* symbols) {
  return Address(uint64_t{word >> kFieldT} << 2, symbols);
}
int32_t Signed(uint32_t v) {
  return static_cast<int32_t>(v);
}

// A long immediate: one word, two at size q, low word first.
std::string LongImmediate(Words& in, unsigned size, const Symbols* symbols) {
  const uint64_t low = in.Next();
  const uint64_t v = size == SIZE_Q ? low | uint64_t{in.Next()} << 32 : low;
  if (const std::string* name = symbols ? symbols->NameAt(v) : nullptr) return "=" + *name;
  return "=" + Decimal(size == SIZE_Q ? static_cast<int64_t>(v) : Signed(static_cast<uint32_t>(v)));
}

std::string TwoOperandPlace(Loc loc, uint32_t w, Words& in, const Symbols* symbols) {
  const uint32_t a = w >> kFieldA & 15, b = w >> kFieldB & 15;
  const auto shortImmediate = [](uint32_t field) { return "=" + Decimal(Signed(field ^ 8) - 8); };
  switch (loc) {
    case LOC_REG_A:
      return Register(a);
    case LOC_REG_B:
      return Register(b);
    case LOC_IND_A:
    case LOC_IND_B:
      return "[" + Register(loc == LOC_IND_A ? a : b) + "][" + Decimal(Signed(in.Next())) + "]";
    case LOC_ABS:
      return "[" + Address(in.Next(), symbols) + "]";
    case LOC_FRAME_F:
      return "[FP][" + Decimal(static_cast<int16_t>(w >> kFieldB)) + "]";
    case LOC_FRAME_E:
      return "[FP][" + Decimal(Signed(in.Next())) + "]";
    case LOC_SIMM_A:
      return shortImmediate(a);
    case LOC_SIMM_B:
      return shortImmediate(b);
    default:
      return LongImmediate(in, w >> kFieldS2 & 3, symbols);
  }
}

// The statement of one instruction, or "" when velda has none for the word.
std::string Statement(uint32_t w, Words& in, const Symbols* symbols) {
  const uint32_t opcode = w & 1023;
  if ((opcode & 0x7F) == kNoOperandOpcode) {
    const char* name = kNoOperand[opcode >> kFieldIndex].mnemonic;
    return name ? name : "";
  }
  const Kind kind = kDecode[opcode];
  const std::string condition = kConditionSuffix[w >> kFieldCC & 7];
  const char* op1 = kOp1Info[w >> kFieldOp1 & 31].mnemonic;
  switch (kind) {
    case K_ILLEGAL:
    case K_NOP:
      return "";
    case K_TLJ_REG:
    case K_TLJ_ABS:
    case K_TLJ_IND:
    case K_TLJ_FRAME: {
      const uint32_t e = in.Next();
      const std::string tested = kind == K_TLJ_REG   ? Register(e)
                                 : kind == K_TLJ_IND ? "[" + Register(e) + "]"
                                 : kind == K_TLJ_ABS ? "[" + Address(e, symbols) + "]"
                                                     : "[FP][" + Decimal(Signed(e)) + "]";
      return Size(w >> kFieldSJ) + "tlj" + condition + " " + tested + ", =" + Target(w, symbols);
    }
    case K_LJ:
      return "lj" + condition + " " + Target(w, symbols);
    case K_JMP:
      return "jmp =" + Target(w, symbols);
    case K_JMP_MEM:
      return "jmp [" + Register(w >> kFieldJmpReg & 15) + "][" + Decimal(w >> kFieldT << 2) + "]";
    case K_ONE_REG:
    case K_ONE_IND:
    case K_ONE_FRAME:
    case K_ONE_ABS: {
      if (!op1) return "";
      const std::string head = Size(w >> kFieldS1) + op1 + " ";
      if (kind == K_ONE_REG) return head + Register(w >> kFieldB);
      if (kind == K_ONE_FRAME)
        return head + "[FP][" + Decimal(static_cast<int16_t>(w >> kFieldB)) + "]";
      const uint32_t e = in.Next();
      if (kind == K_ONE_ABS) return head + "[" + Address(e, symbols) + "]";
      return head + "[" + Register(w >> kFieldB & 15) + "][" + Decimal(Signed(e)) + "]";
    }
    case K_PUSH_LONG:
      return Size(w >> kFieldS1) + "push " + LongImmediate(in, w >> kFieldS1 & 3, symbols);
    case K_PUSH_SHORT:
      return Size(w >> kFieldS1) + "pushs =" + Decimal(Signed(w) >> kFieldT);
    case K_JSR_ABS:
      return "jsrfr " + Decimal(w >> kFieldArgBytes) + ", =" + Address(in.Next(), symbols);
    case K_JSR_REG:
      return "jsrfr " + Decimal(w >> kFieldArgBytes) + ", " + Register(w >> kFieldJsrReg & 15);
    case K_SFVR:
      return "sfvr " + Decimal(w >> kFieldLocals) + ", " + Decimal(w >> kFieldCount & 15);
    case K_EFR:
      return "efr " + Decimal(w >> kFieldCount & 15);
    default: {
      const char* op2 = kOp2Info[w >> kFieldOp2 & 31].mnemonic;
      if (!op2) return "";
      const FormatLocs& locs = kFormatLocs[w & 31];
      const std::string dst = TwoOperandPlace(locs.dst, w, in, symbols);
      return Size(w >> kFieldS2) + op2 + " " + dst + ", " +
             TwoOperandPlace(locs.src, w, in, symbols);
    }
  }
}

}  // namespace

Disassembly Disassemble(const uint8_t* mem, size_t size, uint32_t address, const Symbols* symbols) {
  Words in{mem, size, address};
  const uint32_t w = in.Next();
  if (in.past) return {};
  Disassembly d{Statement(w, in, symbols), 4 * in.count};
  if (d.text.empty() || in.past) d = {"d " + Hex(w), 4};
  return d;
}

}  // namespace orvo::vm

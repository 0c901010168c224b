// Expressions a debugger user writes: in breakpoint conditions, the evaluate request and
// watches. Operands are written as in velda: numbers (0x hexadecimal), labels, `$n`, `FP`,
// `VSP`, `VPC`, memory `[$n]`, `[$n][expr]`, `[FP][expr]`, `[expr]` with an optional size
// word in front (`b`, `w`, `d`, `q`; `d` when none), joined by + - * & | == != < <= > >=
// && || and ( ).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "vm/source_view.h"

namespace orvo::vm {
struct Machine;
}

namespace orvo::debugger {

struct Value {
  uint64_t value = 0;
  std::optional<uint32_t> address;  // where the value lies (memory) or what a label names
  uint32_t size = 8;                // bytes of a memory operand; 8 for everything else
};

struct EvalResult {
  bool ok = false;
  Value value;
  std::string error;  // when not ok: what is wrong, and where
};

// A memory or instruction reference as the protocol carries it ("0x1A3C", or decimal)
// plus offset; false when it is no number or the sum is negative.
bool ParseMemoryReference(const std::string& text, int64_t offset, uint64_t& out);

EvalResult Evaluate(std::string_view text, const vm::Machine& m, const vm::SourceView& view);

}  // namespace orvo::debugger

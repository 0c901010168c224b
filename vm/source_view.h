// The author's view of a running program: an address as file:line, label+offset and the
// instruction disassembled, and the chain of calls walked through the frames. With no
// debug file it still gives addresses and disassembly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vm/debug_info.h"
#include "vm/disassemble.h"

namespace orvo::vm {

struct Machine;

// A call found on the stack: the frame it made and where it returns to.
struct CallFrame {
  uint32_t fp = 0;
  uint32_t returnAddress = 0;
};

class SourceView {
 public:
  SourceView() = default;
  explicit SourceView(DebugInfo info);

  const DebugInfo* info() const { return info_ ? &*info_ : nullptr; }
  const Symbols& symbols() const { return symbols_; }

  // "mines.ova:212 CountAround+0x14", or what of it is known; "0x00001A3C" at least.
  std::string Name(uint32_t address) const;
  // "CountAround+0x14"; empty when no label lies at or below address.
  std::string LabelOffset(uint32_t address) const;
  // Name and the instruction: "mines.ova:212 CountAround+0x14  d add $3, [$9][4]".
  std::string Describe(const Machine& m, uint32_t address) const;
  // The call that returns to returnAddress: its own statement when the line table
  // knows it, else the return address itself.
  uint32_t CallSite(uint32_t returnAddress) const;
  // Where a break or trace start is asked for: a label, FILE:LINE or a 0x address.
  std::optional<uint32_t> Resolve(const std::string& where, std::string& problem) const;

 private:
  std::optional<DebugInfo> info_;
  Symbols symbols_;
};

// The frames from fp (the header's VFP by default) up to the one that returns to the
// host. Stops at anything that cannot be a frame, and after kMaxFrames.
inline constexpr size_t kMaxFrames = 64;
std::vector<CallFrame> WalkFrames(const Machine& m, uint32_t fp);

// "called from NAME\n" for each call that the program at pc will return through, from
// the header's VSP and VFP.
std::string CallChain(const Machine& m, const SourceView& view, uint32_t pc);

// The lines shown under a message that names instruction, each ending in '\n':
//   at mines.ova:212 CountAround+0x14  d add $3, [$9][4]
//   called from mines.ova:180 OpenCell+0x40
std::string FaultReport(const Machine& m, const SourceView& view, uint32_t instruction);

}  // namespace orvo::vm

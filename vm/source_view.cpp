#include "vm/source_view.h"

#include <charconv>

#include "isa/debug_format.h"
#include "vm/machine.h"

namespace orvo::vm {

SourceView::SourceView(DebugInfo info) : info_(std::move(info)) {
  for (const DebugLabel& l : info_->labels)
    if (l.kind != debug_format::LABEL_CONSTANT) symbols_.byAddress.emplace(l.value, l.name);
}

std::string SourceView::Name(uint32_t address) const {
  std::string out;
  const DebugLine* line = info_ ? info_->LineAt(address) : nullptr;
  if (line) {
    out.append(info_->ShortFileName(line->file));
    out += ':' + std::to_string(line->line) + ' ';
  }
  const std::string label = LabelOffset(address);
  return out + (label.empty() ? Format("0x%8.8lX", static_cast<unsigned long>(address)) : label);
}

std::string SourceView::LabelOffset(uint32_t address) const {
  const DebugLabel* label = info_ ? info_->LabelBelow(address) : nullptr;
  if (!label) return {};
  if (address == label->value) return label->name;
  return label->name + Format("+0x%lX", static_cast<unsigned long>(address - label->value));
}

std::string SourceView::Describe(const Machine& m, uint32_t address) const {
  const Disassembly d = Disassemble(m.mem, m.memSize, address, &symbols_);
  return Name(address) + "  " + (d.length ? d.text : "(outside VM memory)");
}

uint32_t SourceView::CallSite(uint32_t returnAddress) const {
  const DebugLine* line = info_ && returnAddress ? info_->LineAt(returnAddress - 1) : nullptr;
  return line ? line->address : returnAddress;
}

std::optional<uint32_t> SourceView::Resolve(const std::string& where, std::string& problem) const {
  uint32_t address = 0;
  if (where.size() > 2 && where[0] == '0' && (where[1] == 'x' || where[1] == 'X')) {
    const char* end = where.data() + where.size();
    auto [p, ec] = std::from_chars(where.data() + 2, end, address, 16);
    if (ec == std::errc() && p == end) return address;
    problem = where + " is not an address";
    return std::nullopt;
  }
  if (!info_) {
    problem = where + " needs main.ovd, the debug file velda writes beside main.ove";
    return std::nullopt;
  }
  const size_t colon = where.rfind(':');
  if (colon != std::string::npos && colon > 0) {
    uint32_t line = 0;
    const char* end = where.data() + where.size();
    auto [p, ec] = std::from_chars(where.data() + colon + 1, end, line);
    if (ec == std::errc() && p == end) {
      if (info_->AddressOfLine(std::string_view(where).substr(0, colon), line, address))
        return address;
      problem = "no instruction at " + where;
      return std::nullopt;
    }
  }
  if (const DebugLabel* label = info_->FindLabel(where)) return label->value;
  problem = "no label " + where;
  return std::nullopt;
}

std::vector<CallFrame> WalkFrames(const Machine& m, uint32_t fp) {
  std::vector<CallFrame> frames;
  while (frames.size() < kMaxFrames) {
    const uint8_t* f = m.Ptr(fp, 12);
    if (!f) break;
    const CallFrame frame{fp, Load32(f + 4)};
    frames.push_back(frame);
    const uint32_t caller = Load32(f);
    // Back to the host, or a chain that does not lead up the stack.
    if (frame.returnAddress == 0 || caller <= fp) break;
    fp = caller;
  }
  return frames;
}

std::string CallChain(const Machine& m, const SourceView& view, uint32_t pc) {
  std::string out;
  auto caller = [&](uint32_t returnAddress) {
    out += "called from " + view.Name(view.CallSite(returnAddress)) + "\n";
  };
  // At a routine's sfvr its frame is not made yet: the jsrfr left the return address at VSP.
  const Disassembly d = Disassemble(m.mem, m.memSize, pc, &view.symbols());
  if (d.text.starts_with("sfvr ")) {
    const uint8_t* top = m.Ptr(m.Word(HDR_VSP), 4);
    if (top && Load32(top) != 0) caller(Load32(top));
  }
  for (const CallFrame& f : WalkFrames(m, m.Word(HDR_VFP))) {
    if (f.returnAddress == 0) break;
    caller(f.returnAddress);
  }
  return out;
}

std::string FaultReport(const Machine& m, const SourceView& view, uint32_t instruction) {
  return "at " + view.Describe(m, instruction) + "\n" + CallChain(m, view, instruction);
}

}  // namespace orvo::vm

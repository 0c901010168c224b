#include "vm/trace.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstring>

#include "vm/interpreter.h"
#include "vm/machine.h"
#include "vm/stepper.h"

namespace orvo::vm {

namespace {

// What an instruction may change that a trace line reports.
struct Visible {
  std::array<uint8_t, 128> regs{};
  uint32_t sp = 0, fp = 0;
  uint8_t flags = 0;
};

Visible Look(const Machine& m) {
  Visible v;
  std::memcpy(v.regs.data(), m.mem + HDR_REGS, v.regs.size());
  v.sp = m.Word(HDR_VSP);
  v.fp = m.Word(HDR_VFP);
  v.flags = m.mem[HDR_FLAGS];
  return v;
}

std::string Changes(const Visible& before, const Visible& after) {
  std::string out;
  for (unsigned r = 0; r < 16; ++r) {
    const uint64_t was = Load64(before.regs.data() + 8 * r), now = Load64(after.regs.data() + 8 * r);
    if (was != now) out += Format(" $%u=0x%" PRIX64, r, now);
  }
  if (before.sp != after.sp) out += Format(" VSP=0x%lX", static_cast<unsigned long>(after.sp));
  if (before.fp != after.fp) out += Format(" VFP=0x%lX", static_cast<unsigned long>(after.fp));
  if (before.flags != after.flags) out += Format(" flags=%u", after.flags);
  return out;
}

std::string FlagNames(uint8_t flags) {
  std::string out;
  if (flags & 2) out += " zero";
  if (flags & 4) out += " negative";
  if (flags & 1) out += " odd";
  return out.empty() ? " none" : out;
}

}  // namespace

Tracer::Tracer(const SourceView& view, TraceOptions options)
    : view_(view), options_(std::move(options)) {}

bool Tracer::Traced(Machine& m) {
  (void)m;
  return tracing_ && written_ < options_.count;
}

void Tracer::Run(Machine& m) {
  // After a break the game's end runs as it would have.
  if (broke_) return Interpret(m);
  for (;;) {
    const uint32_t pc = m.Word(HDR_VPC);
    const auto& breaks = options_.breaks;
    if (std::find(breaks.begin(), breaks.end(), pc) != breaks.end()) return Break(m);
    if (!tracing_ && options_.trace && (!options_.from || *options_.from == pc)) tracing_ = true;
    if (Traced(m)) {
      const Visible before = Look(m);
      const std::string text = view_.Describe(m, pc);
      const Stopped stop = StepUntil(m, StopConditions{{}, 1, {}});
      ++written_;
      steps_ += stop.steps;
      const std::string line = Format("%" PRIu64 " 0x%8.8lX ", steps_, static_cast<unsigned long>(pc)) +
                               text + Changes(before, Look(m)) + "\n";
      std::fwrite(line.data(), 1, line.size(), options_.trace);
      if (stop.reason == StopReason::LEFT) return;
      continue;
    }
    // Nothing to watch here: run to the next place of interest, or to the end.
    StopConditions until;
    until.breakpoints = breaks;
    const bool waiting = options_.trace && !tracing_ && options_.from;
    if (waiting) until.breakpoints.push_back(*options_.from);
    if (until.breakpoints.empty()) {
      if (options_.trace) std::fflush(options_.trace);
      return Interpret(m);
    }
    const Stopped stop = StepUntil(m, until);
    steps_ += stop.steps;
    if (stop.reason == StopReason::LEFT) return;
  }
}

void Tracer::Break(Machine& m) {
  broke_ = true;
  tracing_ = false;
  if (options_.trace) std::fflush(options_.trace);
  const std::string text = "break " + StateReport(m, view_);
  std::fwrite(text.data(), 1, text.size(), options_.report);
  std::fflush(options_.report);
  // Stopped there as if it had ended itself: the host ends the program in order.
  m.hostFlags |= HOST_END_PROGRAM;
}

std::string StateReport(const Machine& m, const SourceView& view) {
  const uint32_t pc = m.Word(HDR_VPC), fp = m.Word(HDR_VFP), sp = m.Word(HDR_VSP);
  std::string out = "at " + view.Describe(m, pc) + "\n";
  for (unsigned r = 0; r < 16; ++r) {
    out += Format("%s$%-2u=0x%16.16" PRIX64, r % 4 ? "  " : "", r, Load64(m.mem + HDR_REGS + 8 * r));
    if (r % 4 == 3) out += "\n";
  }
  const uint8_t flags = m.mem[HDR_FLAGS];
  out += Format("VSP=0x%8.8lX VFP=0x%8.8lX flags=%u", static_cast<unsigned long>(sp),
                static_cast<unsigned long>(fp), flags) +
         FlagNames(flags) + "\n";
  if (const uint8_t* f = m.Ptr(fp, 12)) {
    const uint32_t argBytes = Load32(f + 8);
    out += Format("frame: caller VFP=0x%8.8lX return=0x%8.8lX argument bytes=%lu",
                  static_cast<unsigned long>(Load32(f)), static_cast<unsigned long>(Load32(f + 4)),
                  static_cast<unsigned long>(argBytes));
    for (uint32_t i = 0; i < std::min<uint32_t>(argBytes / 4, 8); ++i)
      if (const uint8_t* a = m.Ptr(fp + 12 + 4 * i, 4))
        out += Format(" 0x%8.8lX", static_cast<unsigned long>(Load32(a)));
    out += "\n";
  }
  return out + CallChain(m, view, pc);
}

}  // namespace orvo::vm

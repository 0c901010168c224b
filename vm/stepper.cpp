#include "vm/stepper.h"

#include <algorithm>
#include <cstring>

#include "vm/machine.h"
#include "vm/step.h"

namespace orvo::vm {

Stopped StepUntil(Machine& m, const StopConditions& conditions) {
  // The watched bytes as they were after the last instruction.
  std::vector<WatchRange> watches;
  std::vector<uint8_t> seen;
  for (WatchRange r : conditions.writeWatches) {
    r.end = std::min(r.end, m.memSize);
    if (r.begin >= r.end) continue;
    watches.push_back(r);
    seen.insert(seen.end(), m.mem + r.begin, m.mem + r.end);
  }
  const auto& breakpoints = conditions.breakpoints;
  Cpu cpu = LoadCpu(m);
  Stopped stop{StopReason::LEFT, 0};
  for (;; ++stop.steps) {
    StoreCpu(m, cpu);
    if (stop.steps != 0 &&
        std::find(breakpoints.begin(), breakpoints.end(), cpu.pc) != breakpoints.end()) {
      stop.reason = StopReason::BREAKPOINT;
      return stop;
    }
    if (stop.steps == conditions.steps) {
      stop.reason = StopReason::STEPS;
      return stop;
    }
    const StepEnd end = Step(m, cpu);
    StoreCpu(m, cpu);
    uint8_t* before = seen.data();
    for (const WatchRange& r : watches) {
      const uint32_t len = r.end - r.begin;
      if (std::memcmp(before, m.mem + r.begin, len) != 0) {
        std::memcpy(before, m.mem + r.begin, len);
        stop.reason = StopReason::WATCH;
      }
      before += len;
    }
    if (end == StepEnd::LEAVE) return {StopReason::LEFT, stop.steps + 1};
    if (stop.reason == StopReason::WATCH) return {StopReason::WATCH, stop.steps + 1};
  }
}

void InterpretReference(Machine& m) {
  StopConditions conditions;
  if (m.bounded) conditions.steps = m.budget;
  const Stopped stop = StepUntil(m, conditions);
  if (!m.bounded) return;
  m.budget -= stop.steps;
  if (stop.reason == StopReason::STEPS) m.Stop(RunStop::BUDGET_SPENT);
}

}  // namespace orvo::vm

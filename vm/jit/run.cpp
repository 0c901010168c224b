// The tier's driver: runs translated code where there is some, translates a place once
// it is hot, and runs everything else one checked step at a time. Anything but
// translated code may have written anywhere (a request, a block move, a heap compaction
// between deliveries), so after it the words of every translation are compared with VM
// memory before translated code runs again.
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>

#include "vm/compiled_tier.h"
#include "vm/jit/context.h"
#include "vm/jit/guard_faults.h"
#include "vm/jit/translate.h"
#include "vm/jit/translations.h"
#include "vm/machine.h"
#include "vm/step.h"

namespace orvo::vm {
namespace {

// Below this the header and the longest instruction leave no room for code.
constexpr uint32_t kMinimumMemory = 1024;

jit::Cache& CacheOf(Machine& m) {
  const size_t guard = m.guarded ? static_cast<size_t>(kMemoryGuardBytes) : 0;
  if (!m.translations || !m.translations->cache.Fits(m.mem, m.memSize, guard))
    m.translations.reset(new Translations(m.mem, m.memSize, guard));
  return m.translations->cache;
}

}  // namespace

bool RunCompiled(Machine& m) {
  if (!m.mem || m.memSize < kMinimumMemory) return false;
  jit::Cache& cache = CacheOf(m);
  cache.Verify();
  jit::Context ctx;
  ctx.mem = m.mem;
  ctx.exit = cache.exitCode();
  ctx.budget = m.bounded ? m.budget : std::numeric_limits<uint64_t>::max();
  std::optional<jit::RoutedFaults> routed;
  if (cache.Guarded()) routed.emplace(cache.faultRoutes());
  Cpu cpu = LoadCpu(m);
  // Whether translated code may run at cpu.pc: not when it has just left there for the
  // step. Every place the step arrives at counts as an arrival, so that code after an
  // instruction the step runs gets translated too once it is hot.
  bool arrived = true;
  for (;;) {
    if (arrived && jit::FlagsHaveValue(cpu.flags)) {
      if (const void* code = cache.At(cpu.pc)) {
        ctx.pc = cpu.pc;
        ctx.sp = cpu.sp;
        ctx.fp = cpu.fp;
        ctx.flags = cpu.flags;
        ctx.flagValue = jit::kFlagValue[cpu.flags];
        cache.Enter(ctx, code);
        cpu = {ctx.pc, ctx.sp, ctx.fp, static_cast<uint8_t>(ctx.flags)};
        if (ctx.reason == jit::EXIT_LEAVE) break;
        arrived = ctx.reason == jit::EXIT_CHAIN;  // else the step runs the instruction at pc
        continue;
      }
      if (cache.Hot(cpu.pc, m.tier.threshold)) {
        if (jit::Translate(m, cache, cpu.pc)) continue;
        cache.MarkUntranslatable(cpu.pc);
      }
    }
    if (m.bounded) {
      if (ctx.budget == 0) {
        m.Stop(RunStop::BUDGET_SPENT);
        break;
      }
      --ctx.budget;
    }
    StoreCpu(m, cpu);
    const StepEnd end = Step(m, cpu);
    if (!cache.Empty()) cache.Verify();
    if (end == StepEnd::LEAVE) break;
    arrived = true;
  }
  StoreCpu(m, cpu);
  if (m.bounded) m.budget = ctx.budget;
  return true;
}

uint64_t TranslatedEntries(const Machine& m) {
  return m.translations ? m.translations->cache.stats().entered : 0;
}

}  // namespace orvo::vm

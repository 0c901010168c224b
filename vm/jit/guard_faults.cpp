#include "vm/jit/guard_faults.h"

#include <signal.h>
#include <ucontext.h>

#include <algorithm>

namespace orvo::vm::jit {
namespace {

thread_local const FaultRoutes* tRoutes = nullptr;
// What was installed before the handler, for every fault that is not a guard fault.
struct sigaction gPrevious {};

void PassOn(int sig, siginfo_t* info, void* context) {
  const struct sigaction& p = gPrevious;
  if (p.sa_flags & SA_SIGINFO) return p.sa_sigaction(sig, info, context);
  if (p.sa_handler != SIG_DFL && p.sa_handler != SIG_IGN) return p.sa_handler(sig);
  // The default: put it back, and the faulting instruction faults again into it.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, nullptr);
}

void OnFault(int sig, siginfo_t* info, void* context) {
  auto* uc = static_cast<ucontext_t*>(context);
  if (const FaultRoutes* routes = tRoutes) {
    const auto pc = static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
    if (const uintptr_t exit = routes->ExitFor(pc, reinterpret_cast<uintptr_t>(info->si_addr))) {
      uc->uc_mcontext.gregs[REG_RIP] = static_cast<greg_t>(exit);
      return;
    }
  }
  PassOn(sig, info, context);
}

// A query and, only when something else took the signal since, an install: cheap enough
// for every run of translated code, and it puts the handler back in front of a handler
// installed after it.
void EnsureHandler() {
  struct sigaction current {};
  if (sigaction(SIGSEGV, nullptr, &current) != 0) return;
  if ((current.sa_flags & SA_SIGINFO) && current.sa_sigaction == OnFault) return;
  struct sigaction act {};
  act.sa_sigaction = OnFault;
  act.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&act.sa_mask);
  gPrevious = current;
  sigaction(SIGSEGV, &act, nullptr);
}

}  // namespace

void FaultRoutes::Add(const std::vector<FaultRange>& more) {
  const size_t old = ranges.size();
  ranges.insert(ranges.end(), more.begin(), more.end());
  const auto byStart = [](const FaultRange& a, const FaultRange& b) { return a.start < b.start; };
  std::sort(ranges.begin() + static_cast<std::ptrdiff_t>(old), ranges.end(), byStart);
  std::inplace_merge(ranges.begin(), ranges.begin() + static_cast<std::ptrdiff_t>(old),
                     ranges.end(), byStart);
}

void FaultRoutes::DropWithin(uintptr_t start, uintptr_t end) {
  std::erase_if(ranges, [&](const FaultRange& r) { return r.start >= start && r.start < end; });
}

uintptr_t FaultRoutes::ExitFor(uintptr_t pc, uintptr_t address) const {
  if (address < guardStart || address >= guardEnd) return 0;
  const auto after = std::upper_bound(ranges.begin(), ranges.end(), pc,
                                      [](uintptr_t at, const FaultRange& r) { return at < r.start; });
  if (after == ranges.begin()) return 0;
  const FaultRange& r = *(after - 1);
  return pc < r.end ? r.exit : 0;
}

RoutedFaults::RoutedFaults(const FaultRoutes& routes) : outer_(tRoutes) {
  EnsureHandler();
  tRoutes = &routes;
}

RoutedFaults::~RoutedFaults() {
  tRoutes = outer_;
}

}  // namespace orvo::vm::jit

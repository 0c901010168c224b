// Loads in translated code that go unchecked: VM memory is followed by a guard that no
// address such a load can form reaches past, so a load from outside the block faults.
// The fault handler sends the code to the way out that the check would have taken,
// at the instruction that made the load, which the step then runs from its start.
#pragma once

#include <cstdint>
#include <vector>

namespace orvo::vm::jit {

// Host code start .. end in which a fault in the guard goes to exit instead.
struct FaultRange {
  uintptr_t start = 0, end = 0, exit = 0;
};

// The ranges of one cache's translated code, and the guard of its VM memory.
struct FaultRoutes {
  std::vector<FaultRange> ranges;  // in order of start, never overlapping
  uintptr_t guardStart = 0, guardEnd = 0;

  void Add(const std::vector<FaultRange>& more);
  void DropWithin(uintptr_t start, uintptr_t end);
  // Where code faulting at pc on address should go on, or 0 when it is not such a fault.
  uintptr_t ExitFor(uintptr_t pc, uintptr_t address) const;
};

// While one lives, faults on this thread are routed by routes; it also makes sure the
// handler is the process's, in front of whatever was installed before it (a crash
// reporter, a sanitizer), which still gets every other fault.
class RoutedFaults {
 public:
  explicit RoutedFaults(const FaultRoutes& routes);
  ~RoutedFaults();
  RoutedFaults(const RoutedFaults&) = delete;
  RoutedFaults& operator=(const RoutedFaults&) = delete;

 private:
  const FaultRoutes* outer_;
};

}  // namespace orvo::vm::jit

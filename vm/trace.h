// Traces and breakpoints: a delivery runner (Machine::interpret) that goes through the
// stepper, writing one line per instruction and stopping the program where asked.
#pragma once

#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <vector>

#include "vm/source_view.h"

namespace orvo::vm {

struct TraceOptions {
  std::FILE* trace = nullptr;       // one line per instruction; nullptr: no trace
  std::optional<uint32_t> from;     // the trace begins when this instruction first runs
  uint64_t count = std::numeric_limits<uint64_t>::max();  // trace lines at most
  std::vector<uint32_t> breaks;     // stop the program before any of these
  std::FILE* report = stderr;       // where a break prints the state
};

class Tracer {
 public:
  Tracer(const SourceView& view, TraceOptions options);
  // Runs one delivery from the state in the header, as Interpret does.
  void Run(Machine& m);
  bool Broke() const { return broke_; }

 private:
  bool Traced(Machine& m);
  void TraceOne(Machine& m);
  void Break(Machine& m);

  const SourceView& view_;
  TraceOptions options_;
  bool tracing_ = false;
  bool broke_ = false;
  uint64_t steps_ = 0;    // instructions run so far, over all deliveries
  uint64_t written_ = 0;  // trace lines
};

// The state at a stop: the instruction, registers, flags, the frame and the call chain.
std::string StateReport(const Machine& m, const SourceView& view);

}  // namespace orvo::vm

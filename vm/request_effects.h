// What one request did to the machine, kept so that it can be put back later without
// running the request again: the bytes it changed in VM memory, the heap records it
// wrote and the machine's own words as it left them. Going back in a debugger re-runs the
// program over these, and a recording keeps those of the requests whose answers come
// from outside the game (the clock, the clipboard, the window...) to replay them.
#pragma once

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "vm/heap.h"
#include "vm/machine.h"

namespace orvo::vm {

// The machine's state beyond VM memory and the heap records.
struct MachineWords {
  int32_t modalDepth = 0;
  uint32_t pcPreJsr = 0;
  uint32_t hostFlags = 0;
  StopState stop;
  uint32_t heapStart = 0, heapSize = 0, heapTop = 0;
  int32_t heapPinCount = 0;
  std::array<int32_t, 4> listHead{};
  bool operator==(const MachineWords&) const = default;
};

MachineWords WordsOf(const Machine& m);
void SetWords(Machine& m, const MachineWords& w);

// Bytes of VM memory from address on, changed by a request; their new values are in
// RequestEffect::bytes, run after run.
struct ChangedRun {
  uint32_t address = 0, length = 0;
  bool operator==(const ChangedRun&) const = default;
};

struct RequestEffect {
  uint32_t command = 0;
  std::vector<ChangedRun> runs;
  std::vector<uint8_t> bytes;
  std::vector<std::pair<int32_t, HandleRecord>> records;  // as the request left them
  MachineWords after;
  // Heap memory this record holds, for budgets.
  size_t Footprint() const;
};

// The places a request's handler reached to write (every handler reaches VM memory
// through RequestBytes, PinHeap or NoteWrite), each with the bytes it held then.
struct RequestWrites {
  std::vector<ChangedRun> places;
  std::vector<uint8_t> before;
};

// Runs requests and notes what each did: the header and the places its handler reached
// are compared with what they held before, so a request costs what it touches.
class EffectCapture {
 public:
  // Runs the request as the sys instruction would (the table's row, its argument checks).
  RequestEffect Run(Machine& m, uint32_t command, uint32_t args);

 private:
  RequestWrites writes_;
  HeapJournal journal_;
};

// Leaves the machine as the request left it.
void ApplyEffect(Machine& m, const RequestEffect& e);

// The runs where two equally long blocks differ (runs a few equal bytes apart are one).
std::vector<ChangedRun> ChangedRuns(const uint8_t* before, const uint8_t* after, uint32_t size);

}  // namespace orvo::vm

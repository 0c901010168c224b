// The machine's past, for a debugger that goes back. The run is kept as stretches, one
// per delivery: the state at a stretch's first instruction, and the effect of every
// request made in it. Any earlier instruction is reached by putting a stretch's start
// back and running forward over its recorded effects, so VM memory, the registers, the
// flags, the stack and the heap come back exactly, while nothing outside the machine
// (the screen, files, sound) is done again.
//
// The starts are kept as differences: the latest one whole, and for each one before it
// the pages in which it differed from the next, so a delivery that changes little costs
// little. Past the limits the oldest stretches are forgotten.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <vector>

#include "vm/request_effects.h"

namespace orvo::vm {

struct HistoryLimits {
  size_t bytes = size_t{256} << 20;  // kept differences and effects, beyond the latest start
  size_t stretches = 20000;
};

// An instruction of the past: the state before instruction `step` of stretch `stretch`
// (0 is the stretch's first instruction).
struct Place {
  uint64_t stretch = 0, step = 0;
  bool operator==(const Place&) const = default;
  auto operator<=>(const Place&) const = default;
};

inline constexpr uint64_t UNKNOWN_STEPS = std::numeric_limits<uint64_t>::max();

class History : public RequestHook {
 public:
  explicit History(HistoryLimits limits = {}) : limits_(limits) {}

  // The live run: a delivery's first instruction is about to run. Returns its stretch.
  uint64_t BeginStretch(Machine& m);
  // Live, a request runs and its effect is kept; in a re-run its effect is put back.
  void Request(Machine& m, uint32_t command, uint32_t args) override;

  bool Empty() const { return stretches_.empty(); }
  uint64_t Oldest() const { return first_; }
  uint64_t Latest() const { return first_ + stretches_.size() - 1; }
  // Instructions a stretch ran to its end, once known (the latest is still running).
  uint64_t Steps(uint64_t stretch) const { return At(stretch).steps; }
  void SetSteps(uint64_t stretch, uint64_t steps) { At(stretch).steps = steps; }

  // Puts the machine at the start of a kept stretch, for a re-run: its requests are then
  // answered from the record, and the machine's hooks are quiet (no messages, no debug
  // text, nothing for the host) until Live is called.
  void Rewind(Machine& m, uint64_t stretch);
  // The re-run has left the record: a request it made is not the one recorded there.
  bool Diverged() const { return diverged_; }
  // Back to the live run; the caller has put the machine's live state back.
  void Live(Machine& m);
  bool Replaying() const { return replaying_; }

  // Bytes held beyond VM memory's and the heap's own size.
  size_t Footprint() const { return bytes_; }
  void Clear();

 private:
  struct Page {
    uint32_t offset;
    std::vector<uint8_t> bytes;
  };
  struct Stretch {
    std::vector<Page> memoryBefore;   // pages of the stretch before, where it differs
    std::vector<Page> recordsBefore;  // the same for the heap records' bytes
    MachineWords words;               // at the start
    std::vector<RequestEffect> effects;
    uint64_t steps = UNKNOWN_STEPS;
    size_t pageBytes = 0, effectBytes = 0;
  };
  class QuietHooks : public Hooks {
   public:
    void MessageBox(std::string_view) override {}
    void AppendDebugLog(std::string_view) override {}
    uint32_t ElapsedMs() override { return 0; }
    LocalTime Now() override { return {}; }
  };

  Stretch& At(uint64_t stretch) { return stretches_[stretch - first_]; }
  const Stretch& At(uint64_t stretch) const { return stretches_[stretch - first_]; }
  void Forget();

  HistoryLimits limits_;
  std::deque<Stretch> stretches_;
  uint64_t first_ = 0;
  std::vector<uint8_t> memory_;   // VM memory at the latest start
  std::vector<uint8_t> records_;  // the heap records' bytes at the latest start
  size_t bytes_ = 0;
  EffectCapture capture_;

  bool replaying_ = false, diverged_ = false;
  uint64_t replayStretch_ = 0;
  size_t nextEffect_ = 0;
  QuietHooks quiet_;
  Hooks* liveHooks_ = nullptr;
};

}  // namespace orvo::vm

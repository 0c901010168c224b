// One run of the image fuzz target: bytes as an image (main.ove), loaded and run for a
// bounded number of instructions over the deliveries of a short session. Bit 0 of the
// first byte, which the runtime does not use, picks whether the header is taken as it
// stands (exercising the loader) or repaired so that the bytes run as code. Assembled
// programs have a zero there, so every main.ove is an input as it stands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "vm/machine.h"

namespace orvo::fuzz {

// Instructions per input over all deliveries: enough for the start-up work of every
// program in the project, small enough that an input stuck in a loop costs about as
// much as one that ends.
inline constexpr uint64_t kInstructionBudget = 10000;

struct RunOutcome {
  bool loaded = false;
  bool fatal = false;         // an unrecoverable error ended the run
  bool ended = false;         // the program asked to end
  uint64_t instructions = 0;  // run, at most the budget
};

class QuietHooks : public vm::Hooks {
 public:
  bool ended = false;
  void MessageBox(std::string_view) override {}
  void AppendDebugLog(std::string_view) override {}
  uint32_t ElapsedMs() override { return 0; }
  vm::LocalTime Now() override { return {}; }
  void EndProgram(vm::Machine& m) override;
};

// One machine serves every input: building its 65536 heap records anew each time would
// cost more than most runs. The VM memory of the last run stays until the next image
// is loaded.
class ImageSession {
 public:
  RunOutcome Run(const uint8_t* data, size_t size);
  const vm::Machine& machine() const { return m_; }

 private:
  void StartRun();

  QuietHooks hooks_;
  vm::Machine m_{hooks_};
};

}  // namespace orvo::fuzz

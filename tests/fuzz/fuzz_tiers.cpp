// libFuzzer target: the fuzzer's bytes as a program, run by the fast loop and by the
// compiling tier (translating everything at once), each against the plain step: both
// pairs must end with the same memory, machine fields and messages. The first word
// seeds the data, the registers and the stack; the rest is the code at 512. Each input
// runs twice with a budget, the second time over the translations the first one made.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/vm/differential.h"

namespace {

using namespace orvo::vm;
using namespace orvo::vm::test;

constexpr uint64_t kBudget = 3000;

Image ProgramOf(const uint8_t* data, size_t size, StreamGen& gen) {
  Image image;
  image.zeroSize = kZeroBytes;
  image.stackSize = kStackBytes;
  image.heapSize = kHeapBytes;
  // The code, then term up to the end of the code area.
  size_t at = 4;
  for (uint32_t i = 0; i < kCodeBytes; i += 4) {
    const bool given = at < size;
    uint32_t w = 0;
    for (unsigned b = 0; b < 4 && at < size; ++b, ++at) w |= uint32_t{data[at]} << (8 * b);
    image.Emit(given ? w : TERM);
  }
  for (uint32_t i = 0; i < kDataBytes; i += 4) image.Emit(gen.Pick(4) ? gen.Immediate() : gen.Target());
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  const uint32_t seed = data[0] | data[1] << 8 | data[2] << 16 | uint32_t{data[3]} << 24;
  for (const Tier tier : {Tier::FAST_LOOP, Tier::COMPILED}) {
    StreamGen gen(seed);
    Twins twins(ProgramOf(data, size, gen), tier);
    if (!twins.loaded()) std::abort();
    std::vector<uint8_t> mem = twins.Memory();
    gen.Seed(mem);
    Store32(mem.data() + HDR_VPC, kCodeStart);
    twins.SetMemory(mem);
    for (int round = 0; round < 2; ++round) {
      twins.Run(kBudget);
      const std::string diff = twins.Difference();
      if (!diff.empty()) {
        std::fprintf(stderr, "%s tier, round %d: %s\n", TierName(tier), round, diff.c_str());
        std::abort();
      }
      twins.Restart(kCodeStart);
    }
  }
  return 0;
}

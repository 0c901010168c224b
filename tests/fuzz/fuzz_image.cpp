// libFuzzer target: arbitrary bytes as an image, run for a bounded number of
// instructions over a few deliveries. The first byte picks whether the header is taken
// as it stands (exercising the loader) or repaired so that the bytes run as code.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "vm/interpreter.h"
#include "vm/loader.h"
#include "vm/machine.h"

namespace {

using namespace orvo::vm;

constexpr uint64_t kMaxMemory = 64u << 20;
constexpr uint64_t kInstructionBudget = 200000;

class QuietHooks : public Hooks {
 public:
  bool ended = false;
  void MessageBox(std::string_view) override {}
  void AppendDebugLog(std::string_view) override {}
  uint32_t ElapsedMs() override { return 0; }
  LocalTime Now() override { return {}; }
  void EndProgram(Machine& m) override {
    ended = true;
    CallProgram(m, 4, 0, 0, 0);
  }
};

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | b[at + i];
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool repair = data[0] & 1;
  std::vector<uint8_t> image(data + 1, data + size);
  if (repair) {
    if (image.size() < 516) image.resize(516, 0);
    std::memcpy(image.data() + 208, "ORVO6", 6);
    image[218] = 6;
    image[219] = 0;
    Put32(image, 224, static_cast<uint32_t>(image.size()));
    Put32(image, 232, Get32(image, 232) & 0xFFFF);
    Put32(image, 240, (Get32(image, 240) & 0xFFFF) + 200);
    Put32(image, 248, Get32(image, 248) & 0xFFFFF);
  }
  if (image.size() >= 256) {
    const uint64_t total = uint64_t{Get32(image, 224)} + Get32(image, 232) + Get32(image, 240) +
                           Get32(image, 248);
    if (total > kMaxMemory) return 0;
  }

  QuietHooks hooks;
  Machine m(hooks);
  m.bounded = true;
  m.budget = kInstructionBudget;
  std::FILE* f = fmemopen(image.data(), image.size(), "rb");
  if (!f || !LoadImage(m, f)) return 0;
  const uint32_t events[][4] = {{1, 0, 0, 0}, {2, 0, 0, 0}, {12, 65, 1, 0}, {11, 0, 0, 0},
                                {15, 10, 20, 0}, {3, 0, 0, 0}};
  for (const auto& e : events) {
    if (m.fatal || hooks.ended || m.budget == 0) break;
    CallProgram(m, e[0], e[1], e[2], e[3]);
  }
  if (!m.fatal && !hooks.ended) CallProgram(m, 4, 0, 0, 0);
  return 0;
}

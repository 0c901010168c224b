// The effect of a request, taken while it runs, puts back exactly what the request did:
// every request of a real game's session is run, then undone and replaced by its effect.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/runtime.h"
#include "platform/headless/headless_platform.h"
#include "vm/request_effects.h"

namespace orvo {
namespace {

struct MachineCopy {
  std::vector<uint8_t> memory;
  vm::HandleRecords records;
  vm::MachineWords words;
  explicit MachineCopy(const vm::Machine& m)
      : memory(m.mem, m.mem + m.memSize), records(m.heap.records), words(vm::WordsOf(m)) {}
  void Into(vm::Machine& m) const {
    std::memcpy(m.mem, memory.data(), memory.size());
    m.heap.records = records;
    vm::SetWords(m, words);
  }
  bool operator==(const MachineCopy& o) const {
    return memory == o.memory && words == o.words &&
           std::memcmp(records.data(), o.records.data(), records.size() * sizeof records[0]) == 0;
  }
};

class ReplacingHook : public vm::RequestHook {
 public:
  void Request(vm::Machine& m, uint32_t command, uint32_t args) override {
    const MachineCopy before(m);
    const vm::RequestEffect effect = capture_.Run(m, command, args);
    if (!m.mem) return;
    const MachineCopy after(m);
    before.Into(m);
    vm::ApplyEffect(m, effect);
    ++requests;
    if (!(MachineCopy(m) == after)) mismatches.push_back(command);
    changedBytes += effect.bytes.size();
  }
  int requests = 0;
  size_t changedBytes = 0;
  std::vector<uint32_t> mismatches;

 private:
  vm::EffectCapture capture_;
};

TEST(RequestEffects, PutBackEveryRequestOfAMinesSessionExactly) {
  platform::HeadlessConfig config;
  config.executablePath = std::string(ORVO_EXAMPLE_GAMES) + "/mines/orvo";
  std::string error;
  // Open a cell, flag another, switch the music off, lose the focus, close.
  ASSERT_TRUE(platform::ParseScript("wait 100\n12 1 1 0x0101013F\n13 1 0 0x0101013F\nwait 50\n"
                                    "12 2 2 0x005D009B\n13 2 0 0x005D009B\n12 0x4D 1 0\n"
                                    "13 0x4D 1 0\nwait 50\n5 0 0 0\nwait 50\n3 0 0 0\n",
                                    config.script, error))
      << error;
  platform::HeadlessPlatform platform(std::move(config));
  host::Runtime runtime(platform.Parts(), {});
  ReplacingHook hook;
  runtime.machine().requestHook = &hook;
  EXPECT_EQ(runtime.Run(), 0);
  EXPECT_GT(hook.requests, 100);
  EXPECT_GT(hook.changedBytes, 0u);
  EXPECT_TRUE(hook.mismatches.empty()) << std::hex << hook.mismatches.front();
}

TEST(RequestEffects, ChangedRunsJoinNearChangesAndCoverEveryDifference) {
  std::vector<uint8_t> before(3000), after(3000);
  for (uint32_t seed = 1; seed < 200; ++seed) {
    after = before;
    uint32_t x = seed;
    for (int i = 0; i < 20; ++i) {
      x = x * 1103515245u + 12345u;
      after[(x >> 8) % after.size()] ^= static_cast<uint8_t>(1 + (x & 0x7F));
    }
    std::vector<uint8_t> rebuilt = before;
    uint32_t last = 0;
    for (const vm::ChangedRun& r : vm::ChangedRuns(before.data(), after.data(), 3000)) {
      EXPECT_NE(before[r.address], after[r.address]);
      EXPECT_NE(before[r.address + r.length - 1], after[r.address + r.length - 1]);
      EXPECT_TRUE(last == 0 || r.address > last + 8);
      std::memcpy(rebuilt.data() + r.address, after.data() + r.address, r.length);
      last = r.address + r.length - 1;
    }
    EXPECT_EQ(rebuilt, after) << seed;
  }
}

}  // namespace
}  // namespace orvo

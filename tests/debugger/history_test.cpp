// The kept history brings back any earlier instruction exactly: a real game's run is
// stepped in chunks of random length, each place's state is noted, and then every noted
// place still kept is put back and compared, with the history's limits large and small.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "host/runtime.h"
#include "platform/headless/headless_platform.h"
#include "vm/history.h"
#include "vm/stepper.h"

namespace orvo {
namespace {

uint64_t StateHash(const vm::Machine& m) {
  uint64_t h = 1469598103934665603ull;
  auto mix = [&h](const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    size_t i = 0;
    for (uint64_t w; i + 8 <= n; i += 8) {
      std::memcpy(&w, b + i, 8);
      h = (h ^ w) * 1099511628211ull;
    }
    for (; i < n; ++i) h = (h ^ b[i]) * 1099511628211ull;
  };
  mix(m.mem, m.memSize);
  mix(m.heap.records.data(), m.heap.records.size() * sizeof(vm::HandleRecord));
  const vm::MachineWords w = vm::WordsOf(m);
  mix(&w.modalDepth, sizeof w.modalDepth);
  mix(&w.hostFlags, sizeof w.hostFlags);
  mix(&w.heapTop, sizeof w.heapTop);
  mix(w.listHead.data(), sizeof w.listHead);
  return h;
}

struct Noted {
  vm::Place place;
  uint64_t hash;
};

class HistoryRun {
 public:
  explicit HistoryRun(vm::HistoryLimits limits) : history_(limits) {}

  void Deliver(vm::Machine& m) {
    const uint64_t stretch = history_.BeginStretch(m);
    uint64_t step = 0;
    for (;;) {
      noted_.push_back({{stretch, step}, StateHash(m)});
      const vm::Stopped s = vm::StepUntil(m, {{}, chunk_(random_), {}});
      step += s.steps;
      if (s.reason == vm::StopReason::LEFT) break;
    }
    if (++deliveries_ == 30) Check(m);
  }

  void Check(vm::Machine& m) {
    const std::vector<uint8_t> memory(m.mem, m.mem + m.memSize);
    const vm::HandleRecords records = m.heap.records;
    const vm::MachineWords words = vm::WordsOf(m);
    for (const Noted& n : noted_) {
      if (n.place.stretch < history_.Oldest()) continue;
      history_.Rewind(m, n.place.stretch);
      vm::StepUntil(m, {{}, n.place.step, {}});
      EXPECT_FALSE(history_.Diverged());
      EXPECT_EQ(StateHash(m), n.hash) << n.place.stretch << ":" << n.place.step;
      ++checked;
    }
    std::memcpy(m.mem, memory.data(), memory.size());
    m.heap.records = records;
    vm::SetWords(m, words);
    history_.Live(m);
  }

  vm::History history_;
  int checked = 0;
  int deliveries() const { return deliveries_; }

 private:
  std::vector<Noted> noted_;
  int deliveries_ = 0;
  std::mt19937 random_{7};
  std::uniform_int_distribution<uint64_t> chunk_{1, 400};
};

void RunMines(HistoryRun& run) {
  platform::HeadlessConfig config;
  config.executablePath = std::string(ORVO_EXAMPLE_GAMES) + "/mines/orvo";
  std::string script = "wait 50\n";
  for (int i = 0; i < 30; ++i) {
    const int x = 150 + (i * 37) % 340, y = 90 + (i * 53) % 330;
    char line[96];
    std::snprintf(line, sizeof line, "15 0 0 0x%04X%04X\n12 1 1 0x%04X%04X\n13 1 0 0x%04X%04X\nwait 15\n",
                  y, x, y, x, y, x);
    script += line;
  }
  script += "wait 50\n3 0 0 0\n";
  std::string error;
  ASSERT_TRUE(platform::ParseScript(script, config.script, error)) << error;
  platform::HeadlessPlatform platform(std::move(config));
  host::Runtime runtime(platform.Parts(), {});
  runtime.machine().requestHook = &run.history_;
  runtime.machine().interpret = [&run](vm::Machine& m) { run.Deliver(m); };
  EXPECT_EQ(runtime.Run(), 0);
  EXPECT_GT(run.deliveries(), 30);
}

TEST(History, BringsBackEveryPlaceOfAMinesRunExactly) {
  HistoryRun run({});
  RunMines(run);
  EXPECT_GT(run.checked, 100);
}

TEST(History, ForgetsTheOldestStretchesFirstAndKeepsTheRestExact) {
  HistoryRun run({size_t{1} << 20, 12});
  RunMines(run);
  EXPECT_LE(run.history_.Latest() - run.history_.Oldest() + 1, 12u);
  EXPECT_GT(run.history_.Oldest(), 0u);
  EXPECT_GT(run.checked, 10);
}

}  // namespace
}  // namespace orvo

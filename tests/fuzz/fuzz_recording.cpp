// libFuzzer target: arbitrary bytes read as a recording, once as they are and once with
// their body size and checksum made to match, so that the checks of the content behind
// the checksum are reached. A recording that is read must write back to the same bytes,
// and everything in it must lie where a replay can put it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/recording.h"
#include "vm/heap.h"

namespace {

using namespace orvo;

constexpr size_t kBodyAt = 52;  // magic, version, body size, checksum

void Require(bool condition, int line = __builtin_LINE()) {
  if (condition) return;
  std::fprintf(stderr, "fuzz_recording: check at line %d failed\n", line);
  std::abort();
}

void Check(const std::vector<uint8_t>& bytes) {
  host::Recording r;
  std::string problem;
  if (!host::DecodeRecording(bytes, r, problem)) {
    Require(!problem.empty());
    return;
  }
  Require(host::EncodeRecording(r) == bytes);
  for (const host::RecordedItem& item : r.items) {
    if (item.kind != host::RecordedItem::REQUEST) continue;
    uint64_t bytesOfRuns = 0;
    for (const vm::ChangedRun& run : item.effect.runs) {
      Require(uint64_t{run.address} + run.length <= r.memorySize);
      bytesOfRuns += run.length;
    }
    Require(bytesOfRuns == item.effect.bytes.size());
    for (const auto& record : item.effect.records)
      Require(record.first >= 0 && static_cast<uint32_t>(record.first) < vm::HEAP_HANDLES);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  Check(bytes);
  if (bytes.size() < kBodyAt) return 0;
  const uint64_t body = bytes.size() - kBodyAt;
  for (int i = 0; i < 8; ++i) bytes[12 + i] = static_cast<uint8_t>(body >> (8 * i));
  const host::Digest check = host::Sha256(bytes.data() + kBodyAt, body);
  std::copy(check.begin(), check.end(), bytes.begin() + 20);
  Check(bytes);
  return 0;
}

#include "tests/fuzz/image_session.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "vm/interpreter.h"
#include "vm/loader.h"

namespace orvo::fuzz {

namespace {

constexpr uint64_t kMaxMemory = 64u << 20;

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | b[at + i];
  return v;
}

// Makes the bytes a loadable image with modest sizes, whatever the header held. The
// stack and the heap keep room for the event frame and the loader's first block.
void RepairHeader(std::vector<uint8_t>& image) {
  if (image.size() < 516) image.resize(516, 0);
  std::memcpy(image.data() + 208, "ORVO6", 6);
  image[218] = 6;
  image[219] = 0;
  Put32(image, 224, static_cast<uint32_t>(image.size()));
  Put32(image, 232, Get32(image, 232) & 0xFFFF);
  Put32(image, 240, (Get32(image, 240) & 0xFFFF) + 200);
  Put32(image, 248, (Get32(image, 248) & 0xFFFFF) + 256);
}

}  // namespace

void QuietHooks::EndProgram(vm::Machine& m) {
  ended = true;
  vm::CallProgram(m, 4, 0, 0, 0);
}

// LoadImage renews the memory and the heap; this renews the rest of the run state.
void ImageSession::StartRun() {
  hooks_.ended = false;
  m_.modalDepth = 0;
  m_.pcPreJsr = 0;
  m_.hostFlags = 0;
  m_.stop = {};
  m_.bounded = true;
  m_.budget = kInstructionBudget;
}

RunOutcome ImageSession::Run(const uint8_t* data, size_t size) {
  RunOutcome out;
  if (size < 1) return out;
  std::vector<uint8_t> image(data, data + size);
  if (data[0] & 1) RepairHeader(image);
  if (image.size() >= 256) {
    const uint64_t total =
        uint64_t{Get32(image, 224)} + Get32(image, 232) + Get32(image, 240) + Get32(image, 248);
    if (total > kMaxMemory) return out;
  }

  StartRun();
  std::FILE* f = fmemopen(image.data(), image.size(), "rb");
  if (!f || !vm::LoadImage(m_, f)) return out;
  out.loaded = true;
  const uint32_t events[][4] = {{1, 0, 0, 0},  {2, 0, 0, 0},    {12, 65, 1, 0},
                                {11, 0, 0, 0}, {15, 10, 20, 0}, {3, 0, 0, 0}};
  for (const auto& e : events) {
    if (m_.Fatal() || hooks_.ended || m_.budget == 0) break;
    vm::CallProgram(m_, e[0], e[1], e[2], e[3]);
  }
  if (!m_.Fatal() && !hooks_.ended) vm::CallProgram(m_, 4, 0, 0, 0);
  out.fatal = m_.Fatal();
  out.ended = hooks_.ended;
  out.instructions = kInstructionBudget - m_.budget;
  return out;
}

}  // namespace orvo::fuzz

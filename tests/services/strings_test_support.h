// A loaded machine whose one sys instruction runs group 3 requests built in VM memory.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "services/strings.h"
#include "tests/vm/vm_test_support.h"
#include "vm/decode.h"

namespace orvo::services::test {

using namespace orvo::vm::test;

using StringsHooks = CaptureHooks;

// The program: sfvr, mov $15 ← block, sys (at 0x20C), efr.
inline constexpr uint32_t kSysAt = 0x20C;
inline constexpr uint32_t kBlockOperand = 0x208;
// $14 before each request, so that rows which set no result can be told apart.
inline constexpr uint64_t kUnset = 0xAAAAAAAA55555555;

inline std::string FaultMessage(uint32_t address) {
  return vm::Format(
      "Bad memory address 0x%8.8lX at 0x%8.8lX\nTerminating program. So terribly sorry.",
      static_cast<unsigned long>(address), static_cast<unsigned long>(kSysAt));
}

class StringsVm {
 public:
  StringsHooks hooks;
  vm::Machine m{hooks};

  StringsVm() {
    AddStringRequests(m.requests);
    Image image;
    image.zeroSize = 4096;
    image.Code(Sfvr(0, 0), Two(vm::OP2_MOV, D, 22, 15, 0), 0, SYS, Efr(0));
    free_ = image.Here();
    std::vector<uint8_t> bytes = image.Build();
    std::FILE* f = fmemopen(bytes.data(), bytes.size(), "rb");
    EXPECT_TRUE(vm::LoadImage(m, f));
  }

  // Bytes plus a terminator in the zero-initialised area; returns their address.
  uint32_t Put(std::string_view text, uint32_t spare = 0) {
    const uint32_t at = free_;
    std::memcpy(m.mem + at, text.data(), text.size());
    m.mem[at + text.size()] = 0;
    free_ += (static_cast<uint32_t>(text.size()) + 1 + spare + 3) & ~3u;
    return at;
  }
  // Raw bytes at the very end of VM memory, without a terminator; returns their address.
  uint32_t PutAtEnd(std::string_view bytes) {
    const uint32_t at = m.memSize - static_cast<uint32_t>(bytes.size());
    std::memcpy(m.mem + at, bytes.data(), bytes.size());
    return at;
  }

  // Runs row `row` with the given argument words through the program's sys instruction.
  void Sys(uint32_t row, const std::vector<uint32_t>& args) {
    const uint32_t block = free_;
    vm::Store32(m.mem + block, 0x300 + row);
    uint32_t at = block + 4;
    for (uint32_t w : args) {
      vm::Store32(m.mem + at, w);
      at += 4;
    }
    free_ = at;
    RunBlock(block);
  }
  void RunBlock(uint32_t block) {
    vm::Store32(m.mem + kBlockOperand, block);
    vm::Store64(m.mem + vm::HDR_RESULT, kUnset);
    vm::CallProgram(m, 5, 0, 0, 0);
  }

  uint64_t Result() const { return vm::Load64(m.mem + vm::HDR_RESULT); }
  // The low word of $14, checking that the high word was left alone.
  uint32_t Low() const {
    EXPECT_EQ(Result() >> 32, kUnset >> 32);
    return static_cast<uint32_t>(Result());
  }
  std::string Text(uint32_t at) const { return reinterpret_cast<const char*>(m.mem + at); }
  std::string Bytes(uint32_t at, uint32_t n) const {
    return std::string(reinterpret_cast<const char*>(m.mem + at), n);
  }
  bool Stopped() const { return hooks.endProgramCalls == 1; }

 private:
  uint32_t free_ = 0;
};

}  // namespace orvo::services::test

// Building small images word by word and running them with captured hooks; without
// GoogleTest, so that the fuzz targets share it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "vm/interpreter.h"
#include "vm/loader.h"
#include "vm/machine.h"

namespace orvo::vm::test {

// Opcode words, written from the instruction layouts (not from the VM's tables).
inline uint32_t Two(unsigned op, unsigned size, unsigned format, unsigned a, uint32_t upper) {
  return format | (a << 5) | (size << 9) | (op << 11) | ((upper & 0xFFFF) << 16);
}
inline uint32_t One(unsigned form, unsigned op, unsigned size, uint32_t upper) {
  return form | (size << 8) | (op << 10) | ((upper & 0xFFFF) << 16);
}
constexpr unsigned ONE_REG = 0xD4, ONE_IND = 0x6C, ONE_FRAME = 0xAC, ONE_ABS = 0xEC;
inline uint32_t Tlj(unsigned low5, unsigned size, unsigned cc, uint32_t target) {
  return low5 | (size << 5) | (cc << 7) | ((target / 4) << 10);
}
inline uint32_t Lj(unsigned cc, uint32_t target) {
  return 52 | (cc << 7) | ((target / 4) << 10);
}
inline uint32_t Jmp(uint32_t target) {
  return 44 | ((target / 4) << 10);
}
inline uint32_t JmpMem(unsigned r, uint32_t offset) {
  return 12 | (r << 6) | ((offset / 4) << 10);
}
inline uint32_t Sfvr(unsigned n, uint32_t locals) {
  return 340 | (n << 10) | (locals << 14);
}
inline uint32_t Efr(unsigned n) {
  return 596 | (n << 10);
}
inline uint32_t JsrAbs(uint32_t argBytes) {
  return 84 | (argBytes << 16);
}
inline uint32_t JsrReg(unsigned r, uint32_t argBytes) {
  return 852 | (r << 12) | (argBytes << 16);
}
inline uint32_t PushLong(unsigned size) {
  return 116 + 256 * size;
}
inline uint32_t PushShort(unsigned size, int32_t v) {
  return (244 + 256 * size) | ((static_cast<uint32_t>(v) & 0x3FFFFF) << 10);
}
constexpr uint32_t DBG = 20, SYS = 276, BRK = 404, TERM = 532, NOP = 660, SMOD = 788, EMOD = 916;
constexpr unsigned B = 0, W = 1, D = 2, Q = 3;

struct Image {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(512, 0);
  uint32_t zeroSize = 0, stackSize = 8192, heapSize = 65536;
  uint8_t major = 6, minor = 0;

  uint32_t Here() const { return static_cast<uint32_t>(bytes.size()); }
  uint32_t Emit(uint32_t w) {
    uint32_t at = Here();
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(w >> (8 * i)));
    return at;
  }
  template <typename... W>
  uint32_t Code(W... words) {
    uint32_t at = Here();
    (Emit(static_cast<uint32_t>(words)), ...);
    return at;
  }
  uint32_t Text(const std::string& s) {
    uint32_t at = Here();
    bytes.insert(bytes.end(), s.begin(), s.end());
    bytes.push_back(0);
    while (bytes.size() % 4) bytes.push_back(0);
    return at;
  }
  void Patch(uint32_t at, uint32_t w) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(w >> (8 * i));
  }
  std::vector<uint8_t> Build() const {
    std::vector<uint8_t> out = bytes;
    const char magic[6] = "ORVO6";
    for (int i = 0; i < 6; ++i) out[208 + i] = static_cast<uint8_t>(magic[i]);
    out[218] = major;
    out[219] = minor;
    auto put = [&](uint32_t at, uint32_t v) {
      for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    put(224, static_cast<uint32_t>(out.size()));
    put(232, zeroSize);
    put(240, stackSize);
    put(248, heapSize);
    return out;
  }
};

class CaptureHooks : public Hooks {
 public:
  std::vector<std::string> messages;
  std::string debugLog;
  int endProgramCalls = 0;
  uint32_t elapsed = 1234;
  uint32_t timerPeriod = 0xFFFFFFFF;

  std::vector<Fault> faults;         // noted before their messages
  std::vector<std::string> unnoted;  // messages naming an instruction without its note

  void MessageBox(std::string_view text) override {
    const size_t at = text.find(" at 0x");
    if (at != std::string_view::npos) {
      const std::string named(text.substr(at + 6, 8));
      if (!noted || faults.back().at != std::stoul(named, nullptr, 16)) unnoted.emplace_back(text);
    }
    noted = false;
    messages.emplace_back(text);
  }
  void NoteFault(const Fault& f) override {
    faults.push_back(f);
    noted = true;
  }
  void AppendDebugLog(std::string_view text) override { debugLog.append(text); }
  uint32_t ElapsedMs() override { return elapsed; }
  LocalTime Now() override { return {2024, 2, 3, 7, 5, 9}; }
  void SetTimer(uint32_t period) override { timerPeriod = period; }
  void EndProgram(Machine&) override { ++endProgramCalls; }

 private:
  bool noted = false;
};

// A loaded machine with captured hooks.
struct Vm {
  CaptureHooks hooks;
  Machine m{hooks};

  bool Load(const std::vector<uint8_t>& bytes) {
    std::FILE* f = fmemopen(const_cast<uint8_t*>(bytes.data()), bytes.size(), "rb");
    return LoadImage(m, f);
  }
  bool Load(const Image& image) { return Load(image.Build()); }
  uint8_t Call(uint32_t code = 5, uint32_t a1 = 0, uint32_t a2 = 0, uint32_t a3 = 0) {
    return CallProgram(m, code, a1, a2, a3);
  }
  uint64_t Reg(unsigned r) const { return Load64(m.mem + 8 + 8 * r); }
  void SetReg(unsigned r, uint64_t v) { Store64(m.mem + 8 + 8 * r, v); }
  uint32_t Word(uint32_t a) const { return Load32(m.mem + a); }
  uint64_t Quad(uint32_t a) const { return Load64(m.mem + a); }
  uint8_t Flags() const { return m.mem[HDR_FLAGS]; }
};

}  // namespace orvo::vm::test

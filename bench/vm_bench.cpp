// Interpreter speed on two hand-built loops: a tight register loop and a loop that
// calls a function through the stack with frame and memory operands. Prints VM
// instructions per second for each.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "tests/vm/vm_test_support.h"
#include "vm/decode.h"

using namespace orvo::vm;
using namespace orvo::vm::test;

namespace {

struct Loop {
  const char* name;
  Image image;
  uint64_t instructions;
};

Loop RegisterLoop(uint32_t n) {
  Image image;
  image.Code(Sfvr(0, 0), Two(OP2_MOV, D, 22, 3, 0), n);
  const uint32_t loop = image.Code(Two(OP2_ADD, D, 28, 1, 2), Two(OP2_XOR, D, 28, 4, 1),
                                   Two(OP2_SUB, D, 30, 3, 1));
  image.Code(Lj(1, loop), Efr(0));
  return {"register loop", image, 3 + 4ull * n};
}

Loop FrameLoop(uint32_t n) {
  Image image;
  image.zeroSize = 64;
  const uint32_t sum = static_cast<uint32_t>(0x300);
  image.Code(Sfvr(0, 16), Two(OP2_MOV, D, 7, 0, static_cast<uint32_t>(-4)), n);
  const uint32_t loop = image.Code(One(ONE_FRAME, OP1_PUSH, D, static_cast<uint32_t>(-4)));
  const uint32_t call = image.Code(JsrAbs(4), 0);
  image.Code(Two(OP2_SUB, D, 23, 1, static_cast<uint32_t>(-4)), Lj(1, loop), Efr(0));
  const uint32_t f = image.Code(Sfvr(1, 8), Two(OP2_MOV, D, 17, 13, 12),
                                Two(OP2_MOV, D, 19, 13, static_cast<uint32_t>(-4)),
                                Two(OP2_ADD, D, 3, 0, static_cast<uint32_t>(-4)), sum, Efr(1));
  image.Patch(call + 4, f);
  image.bytes.resize(std::max<size_t>(image.bytes.size(), sum + 8), 0);
  return {"frame/memory loop", image, 3 + 9ull * n};
}

void Measure(Loop loop) {
  Vm vm;
  if (!vm.Load(loop.image)) {
    std::printf("%s: image did not load\n", loop.name);
    return;
  }
  const auto start = std::chrono::steady_clock::now();
  vm.Call();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!vm.hooks.messages.empty()) std::printf("%s: %s\n", loop.name, vm.hooks.messages[0].c_str());
  std::printf("%-18s %12llu instructions  %7.3f s  %8.1f M instructions/s\n", loop.name,
              static_cast<unsigned long long>(loop.instructions), seconds,
              loop.instructions / seconds / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
  const uint32_t scale = argc > 1 ? static_cast<uint32_t>(std::atoi(argv[1])) : 20;
  Measure(RegisterLoop(scale * 2500000));
  Measure(FrameLoop(scale * 500000));
  return 0;
}

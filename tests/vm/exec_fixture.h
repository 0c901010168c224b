// Runs a code body inside the standard entry frame: sfvr 0 with 64 bytes of locals, the
// body, efr 0.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "tests/vm/vm_test_support.h"

namespace orvo::vm::test {

class ExecTest : public ::testing::Test {
 protected:
  Image image;
  Vm vm;

  // Runs the body once; setup runs after loading, before the delivery.
  void Run(const std::vector<uint32_t>& body, const std::function<void(Vm&)>& setup = {}) {
    image.Code(Sfvr(0, 64));
    for (uint32_t w : body) image.Emit(w);
    image.Code(Efr(0));
    ASSERT_TRUE(vm.Load(image));
    if (setup) setup(vm);
    vm.Call();
  }
  // VFP while the body runs: the entry frame sits right below the stack top.
  uint32_t BodyFp() const { return vm.Word(HDR_STACK_TOP) - 24 - 4; }
};

}  // namespace orvo::vm::test

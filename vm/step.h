// One instruction at a time, decoded straight from the tables with every address checked
// for its exact length: the plain form of the machine. The fast loop of interpreter.cpp
// hands it every case that it does not specialise (operands near the header or the end
// of memory, block moves, the system-level instructions, faults), and the tests hold the
// fast loop against it.
#pragma once

#include <cstdint>

namespace orvo::vm {

struct Machine;

// The working copies of VPC, VSP, VFP and the flags.
struct Cpu {
  uint32_t pc = 0, sp = 0, fp = 0;
  uint8_t flags = 0;
};

enum class StepEnd : uint8_t {
  NEXT,   // cpu.pc is the next instruction
  LEAVE,  // Interpret ends; cpu.pc is the VPC to leave in the header
};

// Runs the instruction at cpu.pc. The header must hold the working copies, as it does at
// the start of every instruction; the caller stores them back afterwards.
StepEnd Step(Machine& m, Cpu& cpu);

Cpu LoadCpu(const Machine& m);
void StoreCpu(Machine& m, const Cpu& cpu);

}  // namespace orvo::vm

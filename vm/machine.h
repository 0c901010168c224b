// The virtual machine's state: VM memory, the heap records and the host-visible flags.
// One Machine is one loaded program; tests make as many fresh ones as they like.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "vm/heap.h"
#include "vm/memory.h"
#include "vm/requests.h"

namespace orvo::vm {

struct Machine;

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// What the VM needs from the world around it. The host supplies the real one; tests capture.
class Hooks {
 public:
  virtual ~Hooks() = default;
  // The runtime's message box: waits until the user has seen the text.
  virtual void MessageBox(std::string_view text) = 0;
  // The same for a message about the instruction at `instruction` (a fault, an unknown
  // request, a heap failure): the host may add where that lies in the program's source.
  virtual void MessageAt(Machine& m, std::string_view text, uint32_t instruction) {
    (void)m;
    (void)instruction;
    MessageBox(text);
  }
  // Appends raw bytes to "debug.log" in the data folder.
  virtual void AppendDebugLog(std::string_view text) = 0;
  // The time rows' timer and clock.
  virtual void SetTimer(uint32_t periodMs) { (void)periodMs; }
  virtual uint32_t ElapsedMs() = 0;
  virtual LocalTime Now() = 0;
  // The program asked to end and its delivery is over: the host destroys the window
  // (delivering the last event) and exits with code 0.
  virtual void EndProgram(Machine& m) { (void)m; }
};

inline constexpr uint32_t HOST_END_PROGRAM = 1;
inline constexpr uint32_t HOST_ENDING = 2;

// How the program's run has stopped, from the least final to the most: a stop is never
// replaced by a lesser one.
enum class RunStop : uint8_t {
  NONE,
  BUDGET_SPENT,   // a bounded run has executed its whole budget
  FAULTED,        // ended in order by a fault of its own (bad address, illegal opcode, ...)
  FAULT_LEAVING,  // the same, and the interpreter leaves at the end of this instruction
  FATAL,          // unrecoverable: nothing more runs, and the process exits with code 1
};

struct FreeDeleter {
  void operator()(uint8_t* p) const { std::free(p); }
};

struct Machine {
  explicit Machine(Hooks& h) : hooks(&h) {}
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  Hooks* hooks;
  RequestTable requests;                        // the sys requests this machine serves
  std::unique_ptr<uint8_t, FreeDeleter> block;  // VM memory; never moves once loaded
  uint8_t* mem = nullptr;
  uint32_t memSize = 0;  // bytes in the block: S + Z + T + H

  HeapState heap;
  int32_t modalDepth = 0;
  uint32_t pcPreJsr = 0;
  uint32_t hostFlags = 0;
  RunStop stop = RunStop::NONE;
  // A bounded run (fuzzing) executes at most budget more instructions, over all deliveries.
  bool bounded = false;
  uint64_t budget = 0;
  // When set, runs each delivery in place of the fast loop: traces and breakpoints step
  // through the program this way, and the fast loop never looks for them.
  std::function<void(Machine&)> interpret;

  void Stop(RunStop s) { stop = s > stop ? s : stop; }
  // The stop request of a fault ends with the delivery it stopped.
  void ClearStopRequest() { stop = stop == RunStop::FAULT_LEAVING ? RunStop::FAULTED : stop; }
  bool StopRequested() const { return stop >= RunStop::FAULT_LEAVING; }
  bool Fatal() const { return stop == RunStop::FATAL; }
  int ExitCode() const { return Fatal() ? 1 : 0; }
  bool ProgramFault() const { return stop == RunStop::FAULTED || stop == RunStop::FAULT_LEAVING; }
  bool BudgetSpent() const { return stop == RunStop::BUDGET_SPENT; }

  // Host pointer to len bytes at addr, or nullptr when any of them lies outside VM memory.
  uint8_t* Ptr(uint32_t addr, uint32_t len) const {
    return uint64_t{addr} + len <= memSize ? mem + addr : nullptr;
  }
  uint32_t Word(uint32_t headerOffset) const { return Load32(mem + headerOffset); }
  void SetWord(uint32_t headerOffset, uint32_t v) { Store32(mem + headerOffset, v); }
};

// printf-style formatting for runtime messages and log lines.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

void ShowMessage(Machine& m, std::string_view text);
void ShowMessageAt(Machine& m, std::string_view text, uint32_t instruction);
// An unrecoverable error: message, then the process ends with exit code 1 once control
// is back in the host. Nothing more of the program runs.
void FatalError(Machine& m, std::string_view text);
void FatalErrorAt(Machine& m, std::string_view text, uint32_t instruction);
// The program touched memory outside its block: message naming both addresses, and the
// program is ended in order like an illegal opcode.
void AddressFault(Machine& m, uint32_t address, uint32_t instruction);
// A zero-terminated VM string, checked to end inside VM memory. nullopt-like: ok=false.
bool ReadString(const Machine& m, uint32_t addr, std::string_view& out);

}  // namespace orvo::vm

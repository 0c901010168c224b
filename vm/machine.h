// The virtual machine's state: VM memory, the heap records and the host-visible flags.
// One Machine is one loaded program; tests make as many fresh ones as they like.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/zeroed_pages.h"
#include "vm/heap.h"
#include "vm/memory.h"
#include "vm/requests.h"
#include "vm/tier_settings.h"

namespace orvo::vm {

struct Machine;
struct RequestWrites;

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// What went wrong in a message that names an instruction of the program.
enum class FaultKind : uint8_t {
  NONE,
  ILLEGAL_OPCODE,
  BAD_ADDRESS,
  DIVIDE_BY_ZERO,
  STACK_OVERFLOW,
  ILLEGAL_EMOD,
  UNKNOWN_REQUEST,
  HEAP,
};

// A fault: its kind, the instruction it happened at and, for a bad address, the address.
struct Fault {
  FaultKind kind = FaultKind::NONE;
  uint32_t at = 0;
  uint32_t address = 0;
  bool operator==(const Fault&) const = default;
};

// What the VM needs from the world around it. The host supplies the real one; tests capture.
class Hooks {
 public:
  virtual ~Hooks() = default;
  // The runtime's message box: waits until the user has seen the text.
  virtual void MessageBox(std::string_view text) = 0;
  // Appends raw bytes to "debug.log" in the data folder.
  virtual void AppendDebugLog(std::string_view text) = 0;
  // The time rows' timer and clock.
  virtual void SetTimer(uint32_t periodMs) { (void)periodMs; }
  virtual uint32_t ElapsedMs() = 0;
  virtual LocalTime Now() = 0;
  // A message naming an instruction of the program is about to be shown: the host may
  // say where that is in the sources.
  virtual void NoteFault(const Fault& f) { (void)f; }
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

// The stop of a run and, when a fault stopped it, the first such fault.
struct StopState {
  RunStop how = RunStop::NONE;
  Fault fault;
  bool operator==(const StopState&) const = default;
};

// The compiling tier's translations of a machine's code (vm/jit/), made on first use.
struct Translations;
void DropTranslations(Translations* t);
struct TranslationsDeleter {
  void operator()(Translations* t) const { DropTranslations(t); }
};

// With the compiling tier, VM memory is followed by a guard larger than any 32-bit
// address plus the header's 512 bytes and the widest access, so that translated loads
// from any address they can form either land in the block or fault.
inline constexpr uint64_t kMemoryGuardBytes = (uint64_t{1} << 32) + (uint64_t{64} << 10);

struct Machine {
  explicit Machine(Hooks& h) : hooks(&h) {}
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  Hooks* hooks;
  RequestTable requests;                        // the sys requests this machine serves
  ZeroedBlock block;  // VM memory; never moves once loaded
  uint8_t* mem = nullptr;
  uint32_t memSize = 0;  // bytes in the block: S + Z + T + H
  bool guarded = false;  // kMemoryGuardBytes that fault when touched follow the block

  HeapState heap;
  int32_t modalDepth = 0;
  uint32_t pcPreJsr = 0;
  uint32_t hostFlags = 0;
  StopState stop;
  // A bounded run (fuzzing) executes at most budget more instructions, over all deliveries.
  bool bounded = false;
  uint64_t budget = 0;
  // When set, runs each delivery in place of the fast loop: traces and breakpoints step
  // through the program this way, and the fast loop never looks for them.
  std::function<void(Machine&)> interpret;
  // Instruction words a debugger replaced with an illegal word (sorted addresses): an
  // illegal opcode at one of them leaves the run there, setting trapped, instead of
  // faulting. Looked at only on an illegal opcode, so the fast loop pays nothing.
  std::vector<uint32_t> traps;
  bool trapped = false;
  // When set, every sys request goes through it instead of straight to its row.
  RequestHook* requestHook = nullptr;
  // While set, the bytes a request's handler reaches to write are noted there first.
  RequestWrites* requestWrites = nullptr;
  // The compiling tier: whether Interpret uses it, and what it has translated.
  TierSettings tier = TierSettingsFromEnvironment();
  std::unique_ptr<Translations, TranslationsDeleter> translations;

  void Stop(RunStop s) { stop.how = s > stop.how ? s : stop.how; }
  void Stop(RunStop s, const Fault& f) {
    if (stop.fault.kind == FaultKind::NONE) stop.fault = f;
    Stop(s);
  }
  // The stop request of a fault ends with the delivery it stopped.
  void ClearStopRequest() {
    if (stop.how == RunStop::FAULT_LEAVING) stop.how = RunStop::FAULTED;
  }
  bool StopRequested() const { return stop.how >= RunStop::FAULT_LEAVING; }
  bool Fatal() const { return stop.how == RunStop::FATAL; }
  int ExitCode() const { return Fatal() ? 1 : 0; }
  bool ProgramFault() const {
    return stop.how == RunStop::FAULTED || stop.how == RunStop::FAULT_LEAVING;
  }
  bool BudgetSpent() const { return stop.how == RunStop::BUDGET_SPENT; }

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
// A message that names an instruction: the host hears of the fault, then shows the text.
void ShowFault(Machine& m, const Fault& f, std::string_view text);
// An unrecoverable error: message, then the process ends with exit code 1 once control
// is back in the host. Nothing more of the program runs.
void FatalError(Machine& m, std::string_view text, const Fault& f = {});
// The program touched memory outside its block: message naming both addresses, and the
// program is ended in order like an illegal opcode.
void AddressFault(Machine& m, uint32_t address, uint32_t instruction);
// A request's handler is about to write len bytes at addr (inside VM memory): noted when
// the machine notes its requests' writes.
void NoteRequestWrite(Machine& m, uint32_t addr, uint32_t len);
inline void NoteWrite(Machine& m, uint32_t addr, uint32_t len) {
  if (m.requestWrites) NoteRequestWrite(m, addr, len);
}

// A zero-terminated VM string, checked to end inside VM memory. nullopt-like: ok=false.
bool ReadString(const Machine& m, uint32_t addr, std::string_view& out);

}  // namespace orvo::vm

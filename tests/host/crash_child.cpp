// A process that crashes on purpose, for the crash report tests. It loads main.ove from the
// game folder, puts the interpreter's registers and its stack into the state given on the
// command line, installs the crash handler with the headless platform and then faults.
//
//   crash_child TRIGGER GAME DATA VPC VFP PCPREJSR WORD1E0 STACKHEX
//
// TRIGGER: segv (a store to address 0), ill (an undefined instruction), fpe (an integer
// division by zero), bus (SIGBUS raised), overflow (the stack runs out), box-faults (segv,
// and the message box faults as well). Numbers are hex; STACKHEX holds the stack's bytes from VSP
// up to the top ("-" for none). Before it faults the child prints "site " and the host address of
// the faulting instruction (0 where the fault is raised rather than executed).
//
// With VPC given as "break:LABEL:CODE:A1" the state is a real one instead: the game's debug
// file is read, event CODE with a1 = A1 runs until it reaches LABEL, and the report gains
// its source section (the other state arguments are then not used).
#include <signal.h>
#include <sys/resource.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/crash_report.h"
#include "host/debug_file.h"
#include "vm/interpreter.h"
#include "vm/trace.h"
#include "platform/headless/headless_platform.h"
#include "tests/vm/vm_test_support.h"

#if defined(__x86_64__)
// Real faults at known addresses: the handler must find them in the signal context.
extern "C" void crash_null_write();
extern "C" void crash_undefined();
extern "C" void crash_divide();
extern "C" char crash_divide_site[];
asm(R"(
  .text
  .globl crash_null_write
  .type crash_null_write, @function
crash_null_write:
  movl $0, 0
  ret
  .globl crash_undefined
  .type crash_undefined, @function
crash_undefined:
  ud2
  .globl crash_divide
  .type crash_divide, @function
crash_divide:
  xorl %ecx, %ecx
  xorl %eax, %eax
  cltd
  .globl crash_divide_site
crash_divide_site:
  idivl %ecx
  ret
)");
#endif

namespace {

using namespace orvo;

// Shows what the clipboard holds while the box is up, and can fault inside the handler.
class ChildShell : public platform::HeadlessShell {
 public:
  ChildShell(bool boxFaults) : HeadlessShell({}), boxFaults_(boxFaults) {}
  void MessageBox(std::string_view text) override {
    std::string line = "clipboard: " + platform::EscapeMessage(GetClipboardText()) + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    HeadlessShell::MessageBox(text);
    if (boxFaults_) Segv();
  }
  static void Segv() {
#if defined(__x86_64__)
    crash_null_write();
#else
    raise(SIGSEGV);
#endif
  }

 private:
  bool boxFaults_;
};

// Runs the thread out of stack long before n runs out: the handler then has only the
// alternate stack to run on.
int Deep(int n) {
  volatile char pad[4096];
  pad[0] = static_cast<char>(n);
  const int below = n < (1 << 30) ? Deep(n + 1) : 0;
  return below + pad[0] + pad[4095];
}

uint32_t Hex(const char* s) {
  return static_cast<uint32_t>(std::strtoul(s, nullptr, 16));
}

void PrintSite(uintptr_t address) {
  std::printf("site %016" PRIXPTR "\n", address);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 9) {
    std::fprintf(stderr, "usage: crash_child TRIGGER GAME DATA VPC VFP PCPREJSR WORD1E0 STACK\n");
    return 2;
  }
  // The test only wants the signal, not a core file.
  rlimit none{0, 0};
  setrlimit(RLIMIT_CORE, &none);

  const std::string trigger = argv[1];
  vm::test::CaptureHooks hooks;
  vm::Machine m(hooks);
  if (!vm::LoadImage(m, std::fopen((std::string(argv[2]) + "main.ove").c_str(), "rb"))) {
    std::printf("image not loaded\n");
    return 3;
  }

  if (!std::string(argv[4]).starts_with("break:")) {
    const std::string stack = argv[8] == std::string("-") ? "" : argv[8];
    const uint32_t count = static_cast<uint32_t>(stack.size() / 2);
    const uint32_t top = m.Word(vm::HDR_STACK_TOP);
    const uint32_t vsp = top - count;
    for (uint32_t i = 0; i < count; ++i)
      m.mem[vsp + i] = static_cast<uint8_t>(std::stoul(stack.substr(2 * i, 2), nullptr, 16));
    m.SetWord(vm::HDR_VSP, vsp);
    m.SetWord(vm::HDR_VPC, Hex(argv[4]));
    m.SetWord(vm::HDR_VFP, Hex(argv[5]));
    m.pcPreJsr = Hex(argv[6]);
    m.SetWord(vm::HDR_DEBUG_CRASH, Hex(argv[7]));
  }

  const std::string state = argv[4];
  vm::SourceView view;
  const bool running = state.starts_with("break:");
  if (running) {
    std::string note, problem;
    view = host::LoadSourceView(std::string(argv[2]) + "main.ove", note);
    const size_t a = state.find(':', 6), b = state.find(':', a + 1);
    const auto at = view.Resolve(state.substr(6, a - 6), problem);
    if (!note.empty() || !at || b == std::string::npos) {
      std::printf("no break: %s%s\n", note.c_str(), problem.c_str());
      return 6;
    }
    vm::TraceOptions options;
    options.breaks = {*at};
    options.report = stdout;
    vm::Tracer tracer(view, options);
    m.interpret = [&](vm::Machine& machine) { tracer.Run(machine); };
    vm::CallProgram(m, static_cast<uint32_t>(std::stoul(state.substr(a + 1, b - a - 1))),
                    static_cast<uint32_t>(std::stoul(state.substr(b + 1))), 0, 0);
    m.interpret = nullptr;
  }
  ChildShell shell(trigger == "box-faults");
  if (!host::crash::Install(m, argv[3], shell, running ? &view : nullptr)) {
    std::printf("not installed\n");
    return 4;
  }

#if defined(__x86_64__)
  if (trigger == "segv" || trigger == "box-faults") {
    PrintSite(reinterpret_cast<uintptr_t>(&crash_null_write));
    crash_null_write();
  } else if (trigger == "ill") {
    PrintSite(reinterpret_cast<uintptr_t>(&crash_undefined));
    crash_undefined();
  } else if (trigger == "fpe") {
    PrintSite(reinterpret_cast<uintptr_t>(crash_divide_site));
    crash_divide();
  }
#else
  if (trigger == "segv" || trigger == "box-faults") {
    PrintSite(0);
    raise(SIGSEGV);
  } else if (trigger == "ill") {
    PrintSite(0);
    raise(SIGILL);
  } else if (trigger == "fpe") {
    PrintSite(0);
    raise(SIGFPE);
  }
#endif
  if (trigger == "bus") {
    PrintSite(0);
    raise(SIGBUS);
  } else if (trigger == "overflow") {
    PrintSite(0);
    std::printf("%d\n", Deep(0));
  }
  std::printf("survived\n");
  return 5;
}

#include "host/crash_report.h"

#include <fcntl.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>

#include "isa/debug_format.h"
#include "vm/memory.h"

namespace orvo::host::crash {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};
constexpr size_t kSignalCount = sizeof kSignals / sizeof kSignals[0];
// The handler runs the platform's message box, which on a desktop may go deep into the
// windowing libraries; a fault caused by a stack overflow leaves the normal stack unusable.
constexpr size_t kAltStackSize = 512 * 1024;
constexpr size_t kPathCapacity = 4096;

// Fixed-capacity output that never allocates. With a descriptor it writes itself out when
// full; without one it keeps what fits and drops the rest. In text mode every LF goes out
// as CR LF, as a file opened in text mode stores it.
class Sink {
 public:
  Sink(char* buffer, size_t capacity, int fd, bool textMode)
      : buf_(buffer), cap_(capacity), fd_(fd), text_(textMode) {}

  void Put(char c) {
    if (text_ && c == '\n') Raw('\r');
    Raw(c);
  }
  void Str(const char* s) {
    while (*s) Put(*s++);
  }
  // At least digits upper-case hex digits, more when the value needs them (as "%N.NX").
  void Hex(uint64_t v, int digits) {
    char d[16];
    int n = 0;
    do {
      d[n++] = "0123456789ABCDEF"[v & 0xF];
      v >>= 4;
    } while (v != 0);
    for (int i = n; i < digits; ++i) Put('0');
    while (n > 0) Put(d[--n]);
  }
  void Dec(uint64_t v) {
    char d[20];
    int n = 0;
    do {
      d[n++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    while (n > 0) Put(d[--n]);
  }
  // Writes out what is buffered; false once any write has failed.
  bool Flush() {
    if (fd_ < 0) return ok_;
    size_t done = 0;
    while (ok_ && done < n_) {
      ssize_t w = ::write(fd_, buf_ + done, n_ - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok_ = false;
        break;
      }
      done += static_cast<size_t>(w);
    }
    n_ = 0;
    return ok_;
  }
  size_t size() const { return n_; }

 private:
  void Raw(char c) {
    if (n_ == cap_) Flush();
    if (n_ < cap_) buf_[n_++] = c;
  }

  char* buf_;
  size_t cap_;
  size_t n_ = 0;
  int fd_;
  bool text_;
  bool ok_ = true;
};

// What the report shows of the interpreter, read from the header in VM memory. With no VM
// memory (never loaded, or released after the window went) everything reads as zero.
struct Snapshot {
  uint32_t vpc = 0, vsp = 0, stackTop = 0, vfp = 0, pcPreJsr = 0, debugWord = 0;
  uint32_t Length() const { return stackTop - vsp; }  // wraps when VSP is above the top
};

Snapshot Take(const vm::Machine& m) {
  Snapshot s;
  s.pcPreJsr = m.pcPreJsr;
  if (!m.mem || m.memSize < vm::HEADER_SIZE) return s;
  s.vpc = m.Word(vm::HDR_VPC);
  s.vsp = m.Word(vm::HDR_VSP);
  s.stackTop = m.Word(vm::HDR_STACK_TOP);
  s.vfp = m.Word(vm::HDR_VFP);
  s.debugWord = m.Word(vm::HDR_DEBUG_CRASH);
  return s;
}

uintptr_t FaultAddress(const void* context) {
#if defined(__x86_64__) && defined(__linux__)
  if (!context) return 0;
  const auto* uc = static_cast<const ucontext_t*>(context);
  return static_cast<uintptr_t>(static_cast<uint64_t>(uc->uc_mcontext.gregs[REG_RIP]));
#else
  (void)context;
  return 0;
#endif
}

struct CrashState {
  vm::Machine* machine = nullptr;
  const vm::SourceView* view = nullptr;
  platform::Shell* shell = nullptr;
  char path[kPathCapacity] = {};
  bool hasPath = false;
  char summary[SUMMARY_CAPACITY] = {};
  char fileBuffer[4096] = {};
  std::unique_ptr<char[]> altStack;
  stack_t previousStack{};
  struct sigaction previous[kSignalCount] = {};
  size_t installed = 0;  // how many of kSignals carry our handler
  std::atomic_flag entered;
};

// The handler cannot be handed anything but the signal, so the installation it serves is
// found through this one pointer.
std::atomic<CrashState*> g_active{nullptr};
std::atomic<ReportListener> g_listener{nullptr};
std::atomic<void*> g_listenerContext{nullptr};

void DefaultActions() {
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  for (int s : kSignals) sigaction(s, &dfl, nullptr);
}

// The signal is blocked while its handler runs: raised again with the default action it
// ends the process as soon as it is unblocked, here or on the return from the handler.
void Reraise(int sig) {
  raise(sig);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

void OnCrash(int sig, siginfo_t* info, void* context) {
  // From here on a fault of any kind, in this handler or on another thread, ends the
  // process at once with the default action instead of coming back here.
  DefaultActions();
  CrashState* st = g_active.load();
  if (!st || st->entered.test_and_set()) {
    Reraise(sig);
    return;
  }
  const int savedErrno = errno;
  const vm::Machine& m = *st->machine;

  if (st->hasPath) {
    int fd = ::open(st->path, O_CREAT | O_TRUNC | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) {
      if (WriteReport(fd, m) && st->view) WriteSourceSection(fd, m, *st->view);
      ::close(fd);
    }
  }
  FormatSummary(st->summary, sizeof st->summary, ExceptionCode(sig, info ? info->si_code : 0), 0,
                FaultAddress(context), m);
  // The platform calls are the one part that is not async-signal-safe; they come last,
  // after the report is on disk.
  if (const ReportListener listener = g_listener.load())
    listener(g_listenerContext.load(), st->hasPath ? st->path : "", st->summary);
  st->shell->SetClipboardText(st->summary);
  st->shell->MessageBox(st->summary);

  errno = savedErrno;
  Reraise(sig);
}

void RestoreActions(CrashState& st) {
  for (size_t i = 0; i < st.installed; ++i) sigaction(kSignals[i], &st.previous[i], nullptr);
  st.installed = 0;
}

void RestoreStack(CrashState& st) {
  if (!st.altStack) return;
  stack_t old = st.previousStack;
  old.ss_flags &= SS_DISABLE;
  sigaltstack(&old, nullptr);
  st.altStack.reset();
}

}  // namespace

uint32_t ExceptionCode(int signal, int code) {
  switch (signal) {
    case SIGSEGV:
    case SIGBUS:
      return EXCEPTION_ACCESS_VIOLATION;
    case SIGILL:
      return EXCEPTION_ILLEGAL_INSTRUCTION;
    case SIGFPE:
      return code == FPE_INTDIV ? EXCEPTION_INT_DIVIDE_BY_ZERO : EXCEPTION_FLT_INVALID_OPERATION;
    default:
      return 0;
  }
}

bool WriteReport(int fd, const vm::Machine& m) {
  char buffer[1024];
  Sink out(buffer, sizeof buffer, fd, true);
  const Snapshot s = Take(m);
  out.Str("VPC=");
  out.Hex(s.vpc, 8);
  out.Str("\nVSP=");
  out.Hex(s.vsp, 8);
  out.Str("\nlen=");
  out.Hex(s.Length(), 8);
  out.Str("\nVFP=");
  out.Hex(s.vfp, 8);
  out.Str(" PCpreJSR=");
  out.Hex(s.pcPreJsr, 8);
  out.Str(" 0x1E0=0x");
  out.Hex(s.debugWord, 8);
  out.Put('\n');

  // Only the part of the stack that lies inside VM memory is dumped: a VSP above the top
  // (len wrapped) or a top beyond the block would otherwise read far past it.
  const uint8_t* mem = m.mem;
  const uint64_t end = mem ? std::min<uint64_t>(s.stackTop, m.memSize) : 0;
  uint32_t a = s.vsp;
  uint64_t len = a < end ? end - a : 0;
  while (len > 0) {
    out.Hex(a, 8);
    out.Str(": 0x");
    if (len >= 4) {
      out.Hex(vm::Load32(mem + a), 8);
      a += 4;
      len -= 4;
    } else if (len >= 2) {
      out.Hex(vm::Load16(mem + a), 4);
      a += 2;
      len -= 2;
    } else {
      out.Hex(vm::Load8(mem + a), 2);
      len = 0;
    }
    out.Str(" \n");
  }
  return out.Flush();
}

bool WriteSourceSection(int fd, const vm::Machine& m, const vm::SourceView& view) {
  if (!m.mem || m.memSize < vm::HEADER_SIZE) return true;
  const Snapshot s = Take(m);
  const vm::DebugInfo* info = view.info();
  std::string text = "\nIn the program's source";
  text += info ? ":\n" : " (no main.ovd beside main.ove: addresses only):\n";
  text += vm::FaultReport(m, view, s.vpc);
  if (info) {
    // A word is taken for a code address when it, or the byte before it (a return
    // address follows its call), lies in an instruction.
    std::string words;
    const uint64_t end = std::min<uint64_t>(s.stackTop, m.memSize);
    for (uint64_t a = s.vsp; a + 4 <= end; a += 4) {
      const uint32_t w = vm::Load32(m.mem + a);
      const vm::DebugLine* line = info->LineAt(w);
      if (!line && w > 0) line = info->LineAt(w - 1);
      if (!line || line->kind != debug_format::STATEMENT_INSTRUCTION) continue;
      words += vm::Format("%8.8lX: 0x%8.8lX ", static_cast<unsigned long>(a),
                          static_cast<unsigned long>(w)) +
               view.Name(w) + "\n";
    }
    if (!words.empty()) text += "Code addresses on the stack:\n" + words;
  }
  char buffer[1024];
  Sink out(buffer, sizeof buffer, fd, true);
  out.Str(text.c_str());
  return out.Flush();
}

size_t FormatSummary(char* out, size_t capacity, uint32_t code, uint32_t flags, uintptr_t address,
                     const vm::Machine& m) {
  if (capacity == 0) return 0;
  Sink s(out, capacity - 1, -1, false);
  const Snapshot r = Take(m);
  s.Str("EXCEPTION[0x");
  s.Hex(code, 8);
  s.Put(':');
  s.Dec(flags);
  // A host pointer in full width, as the runtime's C library prints "%p" on its home
  // platform: upper-case digits, no prefix.
  s.Str("] @ ");
  s.Hex(address, static_cast<int>(2 * sizeof(void*)));
  s.Str(" VPC=0x");
  s.Hex(r.vpc, 8);
  s.Str(" VSP=0x");
  s.Hex(r.vsp, 8);
  s.Str(" VSPlen=0x");
  s.Hex(r.Length(), 8);
  s.Str("\r\n");
  out[s.size()] = '\0';
  return s.size();
}

bool Install(vm::Machine& m, const std::string& dataFolder, platform::Shell& shell,
             const vm::SourceView* view) {
  Uninstall();
  auto st = std::make_unique<CrashState>();
  st->machine = &m;
  st->view = view;
  st->shell = &shell;
  // A path that does not fit, or holds a NUL, cannot be opened: the report is skipped
  // and only the summary is shown, as when the file cannot be created.
  const std::string path = dataFolder + REPORT_FILE;
  if (path.size() < sizeof st->path && path.find('\0') == std::string::npos) {
    std::memcpy(st->path, path.c_str(), path.size() + 1);
    st->hasPath = true;
  }

  st->altStack = std::make_unique_for_overwrite<char[]>(kAltStackSize);
  stack_t ss{};
  ss.ss_sp = st->altStack.get();
  ss.ss_size = kAltStackSize;
  ss.ss_flags = 0;
  if (sigaltstack(&ss, &st->previousStack) != 0) return false;

  // The pointer is in place before the first handler can run.
  g_active.store(st.get());
  struct sigaction act {};
  act.sa_sigaction = OnCrash;
  act.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
  sigemptyset(&act.sa_mask);
  for (int s : kSignals) sigaddset(&act.sa_mask, s);
  for (int s : kSignals) {
    if (sigaction(s, &act, &st->previous[st->installed]) != 0) {
      RestoreActions(*st);
      RestoreStack(*st);
      g_active.store(nullptr);
      return false;
    }
    ++st->installed;
  }
  st.release();
  return true;
}

void Uninstall() {
  CrashState* st = g_active.load();
  if (!st) return;
  RestoreActions(*st);
  RestoreStack(*st);
  g_active.store(nullptr);
  delete st;
}

void UninstallFor(const vm::Machine& m) {
  CrashState* st = g_active.load();
  if (st && st->machine == &m) Uninstall();
}

void SetReportListener(ReportListener listener, void* context) {
  g_listenerContext.store(context);
  g_listener.store(listener);
}

}  // namespace orvo::host::crash

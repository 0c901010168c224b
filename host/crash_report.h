// The crash report: when the runtime itself faults (SIGSEGV, SIGBUS, SIGILL, SIGFPE), the
// handler writes the interpreter's registers and the whole VM stack to "OVECRASH.txt" in
// the data folder, puts a one-line summary on the clipboard, shows it in the message box,
// and then lets the signal end the process as it would have without a handler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "vm/machine.h"
#include "vm/source_view.h"

namespace orvo::host::crash {

// Exception codes the summary reports, as the program's authors know them.
inline constexpr uint32_t EXCEPTION_ACCESS_VIOLATION = 0xC0000005;
inline constexpr uint32_t EXCEPTION_ILLEGAL_INSTRUCTION = 0xC000001D;
inline constexpr uint32_t EXCEPTION_FLT_INVALID_OPERATION = 0xC0000090;
inline constexpr uint32_t EXCEPTION_INT_DIVIDE_BY_ZERO = 0xC0000094;

inline constexpr const char* REPORT_FILE = "OVECRASH.txt";
// Room for the longest summary line and its terminator.
inline constexpr size_t SUMMARY_CAPACITY = 192;

// The exception code for a signal and its si_code; 0 for a signal that has none.
uint32_t ExceptionCode(int signal, int code);

// Writes the register block and the stack dump of m to fd, every line ending in CR LF.
// Reads only what lies inside VM memory; allocates nothing. False when a write failed.
bool WriteReport(int fd, const vm::Machine& m);

// Appends the source section to fd (LF stored as CR LF, like the rest of the report).
// Unlike WriteReport it allocates: it runs after the block and the dump are on disk.
bool WriteSourceSection(int fd, const vm::Machine& m, const vm::SourceView& view);

// Formats the summary line (ending in CR LF) into out, always terminated; returns its
// length. Allocates nothing.
size_t FormatSummary(char* out, size_t capacity, uint32_t code, uint32_t flags, uintptr_t address,
                     const vm::Machine& m);

// Installs the handlers on an alternate stack for the calling thread, which must be the
// one that runs the interpreter. m and platform must outlive the installation. A second
// call replaces the first. False when the handlers could not be installed.
// With a source view the report gains a section naming the faulting instruction, the
// call chain and the code addresses on the stack in the program's source terms.
bool Install(vm::Machine& m, const std::string& dataFolder, platform::Shell& shell,
             const vm::SourceView* view = nullptr);

// Told of every crash once the report is on disk, before the message box: a debug
// adapter passes the report on to its client. Like the message box it runs in the
// signal handler, so it must not rely on the state of the thread that crashed.
using ReportListener = void (*)(void* context, const char* reportPath, const char* summary);
void SetReportListener(ReportListener listener, void* context);

// Puts back the actions and the alternate stack that were there before Install. Call it
// on the thread that installed.
void Uninstall();
// The same, but only when the present installation serves m: a machine going away takes
// its own handler with it and leaves a later one in place.
void UninstallFor(const vm::Machine& m);

}  // namespace orvo::host::crash

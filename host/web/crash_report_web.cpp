// WebAssembly has no signals: a fault of the runtime itself traps, and the page (or node)
// reports the trap. No handler is installed.
#include "host/crash_report.h"

namespace orvo::host::crash {

bool Install(vm::Machine&, const std::string&, platform::Shell&, const vm::SourceView*) {
  return false;
}

void Uninstall() {}

void UninstallFor(const vm::Machine&) {}

}  // namespace orvo::host::crash

#include "vm/machine.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace orvo::vm {

std::string Format(const char* fmt, ...) {
  char small[256];
  va_list ap;
  va_start(ap, fmt);
  int n = std::vsnprintf(small, sizeof small, fmt, ap);
  va_end(ap);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, n);
  std::string out(static_cast<size_t>(n), '\0');
  va_start(ap, fmt);
  std::vsnprintf(out.data(), out.size() + 1, fmt, ap);
  va_end(ap);
  return out;
}

void ShowMessage(Machine& m, std::string_view text) {
  m.hooks->MessageBox(text);
}

void ShowFault(Machine& m, const Fault& f, std::string_view text) {
  m.hooks->NoteFault(f);
  ShowMessage(m, text);
}

void FatalError(Machine& m, std::string_view text, const Fault& f) {
  if (f.kind == FaultKind::NONE) {
    ShowMessage(m, text);
  } else {
    ShowFault(m, f, text);
  }
  m.Stop(RunStop::FATAL, f);
  m.hostFlags |= HOST_END_PROGRAM;
}

void AddressFault(Machine& m, uint32_t address, uint32_t instruction) {
  const Fault fault{FaultKind::BAD_ADDRESS, instruction, address};
  ShowFault(m, fault,
            Format("Bad memory address 0x%8.8lX at 0x%8.8lX\nTerminating program. So "
                   "terribly sorry.",
                   static_cast<unsigned long>(address), static_cast<unsigned long>(instruction)));
  m.hostFlags |= HOST_END_PROGRAM;
  m.Stop(RunStop::FAULT_LEAVING, fault);
}

bool ReadString(const Machine& m, uint32_t addr, std::string_view& out) {
  if (addr >= m.memSize) return false;
  const void* end = std::memchr(m.mem + addr, 0, m.memSize - addr);
  if (!end) return false;
  out = std::string_view(reinterpret_cast<const char*>(m.mem + addr),
                         static_cast<const uint8_t*>(end) - (m.mem + addr));
  return true;
}

}  // namespace orvo::vm

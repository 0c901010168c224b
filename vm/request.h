// Checked access to a sys request's argument words, strings and buffers. Any address that
// does not lie wholly inside VM memory stops the program in order (the message names the
// address and the sys instruction) and the request does nothing more.
#pragma once

#include <cstdint>
#include <string_view>

#include "vm/machine.h"
#include "vm/memory.h"

namespace orvo::vm {

// Stops the program over a request's address outside VM memory.
inline void RequestFault(Machine& m, uint32_t address) {
  AddressFault(m, address, m.Word(HDR_VPC));
}

// The first n argument words, or false after the fault (which names args).
inline bool RequestWords(Machine& m, uint32_t args, uint32_t n, uint32_t* out) {
  const uint8_t* p = m.Ptr(args, 4 * n);
  if (!p) {
    RequestFault(m, args);
    return false;
  }
  for (uint32_t i = 0; i < n; ++i) out[i] = Load32(p + 4 * i);
  return true;
}

// A zero-terminated VM string, or false after the fault.
inline bool RequestString(Machine& m, uint32_t addr, std::string_view& out) {
  if (ReadString(m, addr, out)) return true;
  RequestFault(m, addr);
  return false;
}

// Host pointer to len bytes of VM memory, or nullptr after the fault.
inline uint8_t* RequestBytes(Machine& m, uint32_t addr, uint32_t len) {
  uint8_t* p = m.Ptr(addr, len);
  if (!p)
    RequestFault(m, addr);
  else
    NoteWrite(m, addr, len);
  return p;
}

}  // namespace orvo::vm

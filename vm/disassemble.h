// Instructions back to the text velda reads, for debuggers and traces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace orvo::vm {

// Label names by address, as velda's main.map lists them.
struct Symbols {
  std::map<uint32_t, std::string> byAddress;  // the first name listed at an address

  const std::string* NameAt(uint64_t address) const;
};

// Reads main.map: one "AAAAAA name" line per label, the address in hexadecimal.
Symbols ReadSymbolMap(std::string_view text);

struct Disassembly {
  std::string text;
  uint32_t length = 0;  // bytes; 0 when no word starts at the address
};

// The instruction at `address` of mem[0, size). Addresses, jump targets and long
// immediates print as labels where `symbols` names them. A word that no statement
// assembles to prints as a data word ("d 0x...").
Disassembly Disassemble(const uint8_t* mem, size_t size, uint32_t address, const Symbols* symbols);

}  // namespace orvo::vm

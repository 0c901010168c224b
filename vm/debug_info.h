// The runtime's reader of the debug file velda writes beside main.ove (main.ovd; the
// layout is in isa/debug_format.h and docs/debug-file.md). The reader trusts nothing in
// the file: every size, offset, count, index and order is checked before it is used.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::vm {

struct DebugLine {
  uint32_t address = 0, length = 0, line = 0;
  uint16_t column = 0;
  uint8_t file = 0, kind = 0;
};

struct DebugLabel {
  std::string name;
  uint32_t value = 0;
  uint32_t end = 0;  // a routine's end; 0 when not known
  uint32_t line = 0;
  uint16_t column = 0;
  uint8_t file = 0, kind = 0;
};

struct DebugInfo {
  uint32_t buildNumber = 0;
  uint32_t imageSize = 0;
  uint64_t imageHash = 0;
  std::vector<std::string> files;
  std::vector<DebugLine> lines;    // by address, not overlapping
  std::vector<DebugLabel> labels;  // in definition order

  // The statement whose bytes hold address, or nullptr.
  const DebugLine* LineAt(uint32_t address) const;
  // The nearest code or data label at or below address, or nullptr.
  const DebugLabel* LabelBelow(uint32_t address) const;
  // The first label of that name, compared without regard to ASCII case as velda does.
  const DebugLabel* FindLabel(std::string_view name) const;
  // The first instruction of line `line` in the file named `file` (its name as given
  // to velda, or just its last component); false when there is none.
  bool AddressOfLine(std::string_view file, uint32_t line, uint32_t& address) const;
  // The last component of a file's name, as reports show it.
  std::string_view ShortFileName(uint8_t file) const;

  // Code and data labels by value, for LabelBelow; built by ReadDebugInfo.
  std::vector<uint32_t> byValue;
};

// Parses a whole debug file. False with a one-line reason when anything is out of place.
bool ReadDebugInfo(std::string_view bytes, DebugInfo& out, std::string& problem);

// Whether info was written for exactly this image (its bytes as in main.ove).
bool DebugInfoMatches(const DebugInfo& info, const uint8_t* image, size_t size);

}  // namespace orvo::vm

// IdTable: the labels, in definition order. Lookup is defined as a linear,
// case-insensitive search that returns the first matching entry; an index from
// a hash of the case-folded name to that first entry gives the same answer
// without the scan.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "sizes.h"

namespace orvo::velda {

struct IdEntry {
  int64_t value = 0;
  uint32_t flags = 0;
  uint32_t file = 0;  // index of the source file that defined it
  char name[kMaxLabelName + 1] = {};
};

// ASCII-only case folding, as the name comparison uses.
inline char FoldCase(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
bool EqualNoCase(std::string_view a, std::string_view b);

class IdTable {
 public:
  IdTable();

  // Index of the first entry named `name` (any case), or -1.
  int Find(std::string_view name) const;
  bool Full() const { return entries_.size() >= kMaxIds; }
  // Appends an entry; the caller has checked that the name fits and the table
  // has room. Returns its index.
  int Append(std::string_view name, int64_t value, uint32_t flags, uint32_t file);

  size_t count() const { return entries_.size(); }
  IdEntry& operator[](size_t i) { return entries_[i]; }
  const IdEntry& operator[](size_t i) const { return entries_[i]; }

 private:
  static constexpr uint32_t kSlots = 1u << 19;  // twice the entry limit: short probes
  std::vector<IdEntry> entries_;
  std::vector<uint32_t> slots_;  // entry index + 1; 0 = free
};

}  // namespace orvo::velda

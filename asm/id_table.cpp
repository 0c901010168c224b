#include "id_table.h"

#include <cstring>

namespace orvo::velda {

namespace {

uint32_t HashFolded(std::string_view name) {
  uint32_t h = 2166136261u;  // FNV-1a over the folded bytes
  for (char c : name) {
    h ^= static_cast<uint8_t>(FoldCase(c));
    h *= 16777619u;
  }
  return h;
}

}  // namespace

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  return true;
}

IdTable::IdTable() : slots_(kSlots, 0) {
  entries_.reserve(kMaxIds);
}

int IdTable::Find(std::string_view name) const {
  if (name.size() > kMaxLabelName) return -1;  // no stored name is that long
  for (uint32_t i = HashFolded(name) & (kSlots - 1);; i = (i + 1) & (kSlots - 1)) {
    uint32_t slot = slots_[i];
    if (slot == 0) return -1;
    const IdEntry& e = entries_[slot - 1];
    if (EqualNoCase(e.name, name)) return static_cast<int>(slot - 1);
  }
}

int IdTable::Append(std::string_view name, int64_t value, uint32_t flags, uint32_t file) {
  IdEntry e;
  e.value = value;
  e.flags = flags;
  e.file = file;
  std::memcpy(e.name, name.data(), name.size() < kMaxLabelName ? name.size() : kMaxLabelName);
  entries_.push_back(e);
  uint32_t index = static_cast<uint32_t>(entries_.size());
  // Only the first entry of a name is indexed: a later one with the same
  // folded name could never be found by a first-match search either.
  for (uint32_t i = HashFolded(name) & (kSlots - 1);; i = (i + 1) & (kSlots - 1)) {
    uint32_t slot = slots_[i];
    if (slot == 0) {
      slots_[i] = index;
      break;
    }
    if (EqualNoCase(entries_[slot - 1].name, name)) break;
  }
  return static_cast<int>(index - 1);
}

}  // namespace orvo::velda

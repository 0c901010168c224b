// Managed heap of movable blocks named by handles.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/zeroed_pages.h"

namespace orvo::vm {

struct Machine;

inline constexpr uint32_t HEAP_HANDLES = 65536;
inline constexpr int32_t LIST_END = -1;

enum HeapList : uint32_t {
  LIST_UNUSED = 0,
  LIST_FREED = 1,
  LIST_ALLOCATED = 2,
  LIST_LOCKED = 3,
};

struct HandleRecord {
  uint32_t address = 0;
  uint32_t capacity = 0;
  uint32_t size = 0;
  int32_t prev = 0;
  int32_t next = 0;
  uint32_t list = 0;
  uint32_t lockStamp = 0;
  uint32_t lockCount = 0;
  int32_t sortedPrev = 0;
  int32_t sortedNext = 0;
  uint32_t freedMark = 0;
};

// Every handle's record, on huge pages: filling 64 Ki records at start-up would otherwise
// take hundreds of page faults.
using HandleRecords = std::vector<HandleRecord, LargePageAllocator<HandleRecord>>;

// The handles whose records were written while a journal is kept: what a request or a
// stretch of the run changed in the heap, without comparing every record.
struct HeapJournal {
  std::vector<uint8_t> seen = std::vector<uint8_t>(HEAP_HANDLES);
  std::vector<int32_t> handles;
  void Note(int32_t handle) {
    if (seen[static_cast<size_t>(handle)]) return;
    seen[static_cast<size_t>(handle)] = 1;
    handles.push_back(handle);
  }
  void Clear() {
    for (const int32_t h : handles) seen[static_cast<size_t>(h)] = 0;
    handles.clear();
  }
};

struct HeapState {
  uint32_t heapStart = 0;
  uint32_t heapSize = 0;
  uint32_t heapTop = 0;
  int32_t heapPinCount = 0;
  HandleRecords records = HandleRecords(HEAP_HANDLES);
  std::array<int32_t, 4> listHead{LIST_END, LIST_END, LIST_END, LIST_END};
  HeapJournal* journal = nullptr;  // when set, every record written is noted there
};

void ResetHeap(Machine& m);
uint32_t AllocHeap(Machine& m, uint32_t size);
void FreeHeap(Machine& m, uint32_t handle);
uint32_t LockHeap(Machine& m, uint32_t handle);
void UnlockHeap(Machine& m, uint32_t handle);
uint32_t GetHeapAdr(Machine& m, uint32_t handle);
// Host pointer to a block for the length of one service request; nullptr for a bad handle.
uint8_t* PinHeap(Machine& m, uint32_t handle);
void UnpinHeap(Machine& m, uint32_t handle);
void ReleaseFrameLocks(Machine& m, uint32_t newVsp);
void CompactHeap(Machine& m);

}  // namespace orvo::vm

// Managed heap: blocks named by handles, kept in four doubly linked lists and packed
// towards the heap start after every delivery.
//
// Lists: 0 unused handles, 1 freed blocks (storage kept until the next compaction),
// 2 allocated unlocked blocks, 3 locked blocks. A handle moved to a list goes to its head.
#include "vm/heap.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "vm/machine.h"

namespace orvo::vm {
namespace {

constexpr uint32_t BAD_ADDRESS = 0xFFFFFFFF;
// The handle count as it appears in the failure lines.
constexpr int HPCNT = 65536;
// A freed block is reused only when it wastes fewer than min(size, this) bytes.
constexpr uint32_t REUSE_SLACK_MAX = 1024;

bool IsHandle(uint32_t handle) {
  return handle < HEAP_HANDLES;
}

// Every record the heap writes is reached through here, so a journal sees them all.
HandleRecord& Rec(HeapState& hs, int32_t handle) {
  if (hs.journal) hs.journal->Note(handle);
  return hs.records[static_cast<size_t>(handle)];
}

void Unlink(HeapState& hs, int32_t handle) {
  HandleRecord& r = Rec(hs, handle);
  if (r.prev == LIST_END) {
    hs.listHead[r.list] = r.next;
  } else {
    Rec(hs, r.prev).next = r.next;
  }
  if (r.next != LIST_END) Rec(hs, r.next).prev = r.prev;
}

void PushHead(HeapState& hs, int32_t handle, uint32_t list) {
  HandleRecord& r = Rec(hs, handle);
  r.list = list;
  r.prev = LIST_END;
  r.next = hs.listHead[list];
  if (r.next != LIST_END) Rec(hs, r.next).prev = handle;
  hs.listHead[list] = handle;
}

void MoveTo(HeapState& hs, int32_t handle, uint32_t list) {
  Unlink(hs, handle);
  PushHead(hs, handle, list);
}

unsigned long Hex(uint32_t v) {
  return static_cast<unsigned long>(v);
}

void LogFailure(Machine& m, uint32_t at, const std::string& line, std::string_view message) {
  m.hooks->AppendDebugLog(line);
  ShowFault(m, {FaultKind::HEAP, at, 0}, message);
}

// The heap cannot go on: the fault is the request's instruction.
void HeapFatal(Machine& m, std::string_view text) {
  FatalError(m, text, {FaultKind::HEAP, m.Word(HDR_VPC), 0});
}

// A handle that can be locked: in range and naming a block (freed blocks included, since
// their storage is still in place until the next compaction). An unused handle has no
// storage; letting it into the locked list would later make compaction treat a stale or
// zero address as a live block.
bool Lockable(const HeapState& hs, uint32_t handle) {
  return IsHandle(handle) && hs.records[handle].list != LIST_UNUSED;
}

}  // namespace

void ResetHeap(Machine& m) {
  HeapState& hs = m.heap;
  for (uint32_t h = 0; h < HEAP_HANDLES; ++h) {
    HandleRecord& r = Rec(hs, static_cast<int32_t>(h));
    r = HandleRecord{};
    r.list = LIST_UNUSED;
    r.prev = h == 0 ? LIST_END : static_cast<int32_t>(h - 1);
    r.next = h + 1 == HEAP_HANDLES ? LIST_END : static_cast<int32_t>(h + 1);
  }
  hs.listHead = {0, LIST_END, LIST_END, LIST_END};
  hs.heapTop = hs.heapStart;
  hs.heapPinCount = 0;
}

uint32_t AllocHeap(Machine& m, uint32_t size) {
  HeapState& hs = m.heap;
  if (hs.heapPinCount != 0) {
    HeapFatal(m, "Hey, Dummy! You can't AllocHeap() while you have a pointer INTO the Heap!");
    return BAD_ADDRESS;
  }

  // Reuse the first freed block that fits without wasting too much. The window is empty
  // for a request of 0, so zero-sized blocks are never reused.
  const uint64_t limit = uint64_t{size} + std::min(size, REUSE_SLACK_MAX);
  for (int32_t h = hs.listHead[LIST_FREED]; h != LIST_END; h = Rec(hs, h).next) {
    HandleRecord& r = Rec(hs, h);
    if (size <= r.capacity && r.capacity < limit) {
      MoveTo(hs, h, LIST_ALLOCATED);
      r.size = size;
      r.lockCount = 0;
      return static_cast<uint32_t>(h);
    }
  }

  const int32_t h = hs.listHead[LIST_UNUSED];
  if (h == LIST_END) {
    HeapFatal(m, "Terminating: insufficient HeapPtrs. So sorry.");
    return BAD_ADDRESS;
  }
  // Blocks never reach past the end of VM memory, whatever the heap size claims.
  const uint64_t heapEnd = std::min(uint64_t{hs.heapStart} + hs.heapSize, uint64_t{m.memSize});
  const uint64_t space = heapEnd > hs.heapTop ? heapEnd - hs.heapTop : 0;
  if (size > space) {
    HeapFatal(m, "Terminating: insufficient Heap space. So sorry.");
    return BAD_ADDRESS;
  }

  MoveTo(hs, h, LIST_ALLOCATED);
  HandleRecord& r = Rec(hs, h);
  r.address = hs.heapTop;
  r.size = size;
  r.capacity = size;
  r.lockCount = 0;
  hs.heapTop += size;
  return static_cast<uint32_t>(h);
}

void FreeHeap(Machine& m, uint32_t handle) {
  HeapState& hs = m.heap;
  // An unused handle owns no storage: freeing it would put a stale address and capacity
  // into the freed list, where reuse could hand it out over another live block.
  if (!IsHandle(handle) || hs.records[handle].list == LIST_UNUSED) {
    const uint32_t at = m.Word(HDR_DEBUG_FREEHEAP);
    LogFailure(m, at,
               Format("====== FreeHeap(%d) FAILED! HPCNT=%d PC=0x%8.8lX\n",
                      static_cast<int>(handle), HPCNT, Hex(at)),
               "FreeHeap() failed");
    return;
  }
  HandleRecord& r = Rec(hs, static_cast<int32_t>(handle));
  // Freeing twice changes nothing; the block keeps its place in the freed list.
  if (r.list == LIST_FREED) return;
  r.lockCount = 0;
  MoveTo(hs, static_cast<int32_t>(handle), LIST_FREED);
}

uint32_t LockHeap(Machine& m, uint32_t handle) {
  HeapState& hs = m.heap;
  if (!Lockable(hs, handle)) {
    const uint32_t at = m.Word(HDR_VPC);
    LogFailure(m, at,
               Format("====== LockHeap(%d) FAILED! HPCNT=%d PC=0x%8.8lX PCpreJSR=0x%8.8lX\n",
                      static_cast<int>(handle), HPCNT, Hex(at), Hex(m.pcPreJsr)),
               "LockHeap() failed");
    return BAD_ADDRESS;
  }
  HandleRecord& r = Rec(hs, static_cast<int32_t>(handle));
  if (r.lockCount == 0) {
    r.lockStamp = m.Word(HDR_VSP);
    MoveTo(hs, static_cast<int32_t>(handle), LIST_LOCKED);
  }
  r.lockCount += 1;
  return r.address;
}

void UnlockHeap(Machine& m, uint32_t handle) {
  HeapState& hs = m.heap;
  if (!IsHandle(handle)) {
    ShowMessage(m, "UnlockHeap() bad index");
    return;
  }
  HandleRecord& r = Rec(hs, static_cast<int32_t>(handle));
  if (r.lockCount == 0) return;
  r.lockCount -= 1;
  if (r.lockCount == 0) {
    r.lockStamp = 0;
    MoveTo(hs, static_cast<int32_t>(handle), LIST_ALLOCATED);
  }
}

uint32_t GetHeapAdr(Machine& m, uint32_t handle) {
  if (!IsHandle(handle)) {
    const uint32_t at = m.Word(HDR_DEBUG_GETHEAPADR);
    LogFailure(m, at,
               Format("====== GetHeapAdr(%d) FAILED! HPCNT=%d PC=0x%8.8lX\n",
                      static_cast<int>(handle), HPCNT, Hex(at)),
               "GetHeapAdr() failed");
    return BAD_ADDRESS;
  }
  return m.heap.records[handle].address;
}

// A refused handle leaves nothing pinned: the caller gets nullptr and must not unpin.
uint8_t* PinHeap(Machine& m, uint32_t handle) {
  HeapState& hs = m.heap;
  if (!Lockable(hs, handle)) {
    LockHeap(m, handle);  // reports the failure
    return nullptr;
  }
  hs.heapPinCount += 1;
  const uint32_t address = LockHeap(m, handle);
  NoteWrite(m, address, hs.records[handle].capacity);
  return m.mem + address;
}

void UnpinHeap(Machine& m, uint32_t handle) {
  if (!IsHandle(handle)) {
    UnlockHeap(m, handle);  // reports the failure
    return;
  }
  m.heap.heapPinCount -= 1;
  UnlockHeap(m, handle);
}

void ReleaseFrameLocks(Machine& m, uint32_t newVsp) {
  HeapState& hs = m.heap;
  // Walks the locked list as it stood on entry: the successor is read before a block
  // moves to the allocated list.
  int32_t h = hs.listHead[LIST_LOCKED];
  while (h != LIST_END) {
    HandleRecord& r = Rec(hs, h);
    const int32_t next = r.next;
    if (r.lockCount != 0 && r.lockStamp < newVsp) {
      r.lockCount = 0;
      r.lockStamp = 0;
      MoveTo(hs, h, LIST_ALLOCATED);
    }
    h = next;
  }
}

void CompactHeap(Machine& m) {
  HeapState& hs = m.heap;
  if (hs.heapPinCount != 0 || hs.listHead[LIST_LOCKED] != LIST_END) {
    HeapFatal(m,
              "Hey, Dummy! You shouldn't have left blocks locked when CompactHeap() needs to "
              "run!");
    return;
  }

  if (hs.listHead[LIST_FREED] == LIST_END) {
    // Nothing was freed since the last compaction, so nothing left a hole: the allocated
    // blocks still lie back to back up to the heap top (allocation only appends there or
    // hands a freed block back whole).
    if (hs.listHead[LIST_ALLOCATED] == LIST_END) hs.heapTop = hs.heapStart;
    return;
  }

  // The order is that of inserting the freed blocks and then the allocated ones, each
  // list from its head, into an ascending list, each before the first element whose
  // address is greater than or equal to its own. Among equal addresses the one inserted
  // later therefore comes first: stable-sorting the reversed insertion sequence by address
  // gives exactly that order.
  std::vector<int32_t> order;
  for (uint32_t list : {LIST_FREED, LIST_ALLOCATED}) {
    for (int32_t h = hs.listHead[list]; h != LIST_END; h = Rec(hs, h).next) {
      Rec(hs, h).freedMark = list == LIST_FREED ? 1 : 0;
      order.push_back(h);
    }
  }
  std::reverse(order.begin(), order.end());
  std::stable_sort(order.begin(), order.end(),
                   [&hs](int32_t a, int32_t b) { return Rec(hs, a).address < Rec(hs, b).address; });
  for (size_t i = 0; i < order.size(); ++i) {
    HandleRecord& r = Rec(hs, order[i]);
    r.sortedPrev = i == 0 ? LIST_END : order[i - 1];
    r.sortedNext = i + 1 == order.size() ? LIST_END : order[i + 1];
  }

  // Pack from the lowest block upward. Freed handles go to the head of the unused list in
  // walk order, so the highest freed block's handle is handed out first.
  uint32_t p = Rec(hs, order.front()).address;
  for (int32_t h : order) {
    HandleRecord& r = Rec(hs, h);
    if (r.freedMark != 0) {
      MoveTo(hs, h, LIST_UNUSED);
      continue;
    }
    if (r.address != p) {
      uint8_t* to = m.Ptr(p, r.capacity);
      const uint8_t* from = m.Ptr(r.address, r.capacity);
      if (to != nullptr && from != nullptr) std::memmove(to, from, r.capacity);
      r.address = p;
    }
    p += r.capacity;
  }
  hs.heapTop = p;
}

}  // namespace orvo::vm

// Large blocks (VM memory, the screen, the heap's handle records) on huge pages where the
// kernel has them: a block of megabytes then faults in a few times instead of once per
// 4 KiB page, which on some machines costs more than the work the block is for. Fresh
// mappings are zero, so a zeroed block is made without writing it and its pages are
// only touched once something uses them. Small blocks come from the allocator.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace orvo {

inline constexpr size_t kHugePage = size_t{2} << 20;
// From this size a block is mapped whole onto huge pages: one fault and 2 MiB zeroed by
// the kernel cost less than the 64 faults of a quarter of that in small pages.
inline constexpr size_t kMappedFrom = size_t{256} << 10;

// The length of the mapping made for a block of bytes, or 0 for one from the allocator.
inline size_t MappedLength([[maybe_unused]] size_t bytes) {
#ifndef __EMSCRIPTEN__
  if (bytes >= kMappedFrom) return (bytes + kHugePage - 1) / kHugePage * kHugePage;
#endif
  return 0;  // small, or WebAssembly, whose memory has no pages of its own to map
}

// A fresh anonymous mapping of length bytes that starts on a huge-page boundary, or
// nullptr: one a huge page larger is made, and the parts before and after are unmapped.
inline void* MapOnHugePageBoundary(size_t length, int prot, int flags) {
  void* p = mmap(nullptr, length + kHugePage, prot, MAP_PRIVATE | MAP_ANONYMOUS | flags, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  const uintptr_t start = reinterpret_cast<uintptr_t>(p);
  const uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
  const uintptr_t end = start + length + kHugePage;
  if (aligned != start) munmap(p, aligned - start);
  if (end != aligned + length) munmap(reinterpret_cast<void*>(aligned + length), end - aligned - length);
  return reinterpret_cast<void*>(aligned);
}

// Zeroed bytes, mapped on their own when MappedLength says so.
inline uint8_t* MapZeroed(size_t bytes) {
  const size_t rounded = MappedLength(bytes);
  if (rounded == 0) return static_cast<uint8_t*>(std::calloc(bytes ? bytes : 1, 1));
  void* p = MapOnHugePageBoundary(rounded, PROT_READ | PROT_WRITE, 0);
  if (p) madvise(p, rounded, MADV_HUGEPAGE);  // advice only
  return static_cast<uint8_t*>(p);
}

inline void UnmapZeroed(void* p, size_t bytes) {
  if (const size_t mapped = MappedLength(bytes); mapped != 0)
    munmap(p, mapped);
  else
    std::free(p);
}

inline constexpr size_t kSmallPage = 4096;
inline size_t RoundToPages(size_t bytes) {
  return (bytes + kSmallPage - 1) / kSmallPage * kSmallPage;
}

// Zeroed bytes whose end falls on a page boundary, followed by guard bytes that fault
// whenever anything touches them, so that an access past the end of the block faults
// at its first byte past the end. The start is the page start plus whatever the
// rounding of bytes leaves.
inline uint8_t* MapGuarded(size_t bytes, size_t guard) {
  const size_t readable = RoundToPages(bytes ? bytes : 1), kept = readable + RoundToPages(guard);
  void* base = MapOnHugePageBoundary(kept, PROT_NONE, MAP_NORESERVE);
  if (!base) return nullptr;
  if (mprotect(base, readable, PROT_READ | PROT_WRITE) != 0) {
    munmap(base, kept);
    return nullptr;
  }
  // Advice only, and only where MapZeroed would take huge pages: for a small block, a
  // huge page would zero 2 MiB to give it a few KiB.
  if (MappedLength(bytes) != 0) madvise(base, readable, MADV_HUGEPAGE);
  return static_cast<uint8_t*>(base) + readable - (bytes ? bytes : 1);
}

inline void UnmapGuarded(uint8_t* p, size_t bytes, size_t guard) {
  const size_t readable = RoundToPages(bytes ? bytes : 1);
  munmap(p + (bytes ? bytes : 1) - readable, readable + RoundToPages(guard));
}

struct ZeroedDeleter {
  size_t bytes = 0;
  size_t guard = 0;  // bytes of guard after the block, when it was mapped with one
  void operator()(uint8_t* p) const {
    if (guard != 0)
      UnmapGuarded(p, bytes, guard);
    else
      UnmapZeroed(p, bytes);
  }
};
using ZeroedBlock = std::unique_ptr<uint8_t, ZeroedDeleter>;

// nullptr when there is no memory for it.
inline ZeroedBlock AllocateZeroed(size_t bytes) {
  return ZeroedBlock(MapZeroed(bytes), ZeroedDeleter{bytes, 0});
}
inline ZeroedBlock AllocateGuarded(size_t bytes, size_t guard) {
  return ZeroedBlock(MapGuarded(bytes, guard), ZeroedDeleter{bytes, guard});
}

// For a large std::vector, so that filling it takes a few page faults.
template <typename T>
struct LargePageAllocator {
  using value_type = T;
  LargePageAllocator() = default;
  template <typename U>
  LargePageAllocator(const LargePageAllocator<U>&) {}

  T* allocate(size_t n) {
    void* p = MapZeroed(n * sizeof(T));
    if (!p) std::abort();  // as running out of memory ends a program built without exceptions
    return static_cast<T*>(p);
  }
  void deallocate(T* p, size_t n) { UnmapZeroed(p, n * sizeof(T)); }
  bool operator==(const LargePageAllocator&) const { return true; }
};

}  // namespace orvo

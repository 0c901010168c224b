#include "vm/loader.h"

#include <cstdlib>
#include <cstring>

#include "vm/machine.h"

namespace orvo::vm {

namespace {

constexpr char kMagic[6] = {'O', 'R', 'V', 'O', '6', '\0'};
constexpr uint8_t kRuntimeMajor = 6, kRuntimeMinor = 0;
constexpr uint16_t kRuntimeBuild = 19;

bool Fail(Machine& m, std::FILE* file, const char* message) {
  if (message) ShowMessage(m, message);
  if (file) std::fclose(file);
  return false;
}

// Reads until n bytes arrived or the file ends.
size_t ReadFully(std::FILE* file, uint8_t* dest, size_t n) {
  size_t got = 0;
  while (got < n) {
    size_t r = std::fread(dest + got, 1, n - got, file);
    if (r == 0) break;
    got += r;
  }
  return got;
}

}  // namespace

bool LoadImage(Machine& m, std::FILE* file, std::string* unshown) {
  if (!file) return Fail(m, nullptr, "MAIN.OVE file not found");
  uint8_t header[HEADER_SIZE];
  if (ReadFully(file, header, HEADER_SIZE) != HEADER_SIZE)
    return Fail(m, file, "Error reading .OVE file");
  if (std::memcmp(header + HDR_MAGIC, kMagic, sizeof kMagic) != 0)
    return Fail(m, file, "Not a ORVO 6 .OVE file");
  uint8_t major = header[HDR_FORMAT_MAJOR], minor = header[HDR_FORMAT_MINOR];
  if (major > 6 || (major == 6 && minor != 0))
    return Fail(m, file, "Mismatched ORVO.EXE and MAIN.OVE files");

  uint32_t s = Load32(header + HDR_IMAGE_SIZE), z = Load32(header + HDR_ZERO_SIZE);
  uint32_t t = Load32(header + HDR_STACK_SIZE), h = Load32(header + HDR_HEAP_SIZE);
  // The block must hold the header and be addressable with 32-bit VM addresses.
  uint64_t total = uint64_t{s} + z + t + h;
  if (s < HEADER_SIZE || total > UINT32_MAX) return Fail(m, file, "Invalid sizes in .OVE file");
  uint32_t stackTop = s + z + t;
  Store32(header + HDR_STACK_LIMIT, s + z);
  Store32(header + HDR_STACK_TOP, stackTop);
  Store32(header + HDR_VSP, stackTop);

  ReleaseImage(m);
  m.heap.heapStart = stackTop;
  m.heap.heapSize = h;
  m.heap.heapTop = stackTop;
  ResetHeap(m);

  // Zeroed pages, untouched until used, so a large heap costs nothing until then; on
  // huge pages, so that using megabytes of it takes a few page faults.
#if ORVO_HAS_JIT
  m.block = AllocateGuarded(total, static_cast<size_t>(kMemoryGuardBytes));
  m.guarded = m.block != nullptr;
  // Without room for the guard (a limit on address space), translated loads keep their checks.
  if (!m.block) m.block = AllocateZeroed(total);
#else
  m.block = AllocateZeroed(total);
#endif
  uint8_t* block = m.block.get();
  if (!block) return Fail(m, file, "Error allocating .OVE memory");
  m.mem = block;
  m.memSize = static_cast<uint32_t>(total);
  std::memcpy(block, header, HEADER_SIZE);

  size_t body = s - HEADER_SIZE;
  size_t got = ReadFully(file, block + HEADER_SIZE, body);
  const bool readError = std::ferror(file) != 0;
  std::fclose(file);
  if (got != body) {
    ReleaseImage(m);
    if (unshown) {
      *unshown = Format(readError ? "reading failed after %zu of the %lu bytes its header gives"
                                  : "the file ends after %zu of the %lu bytes its header gives",
                        got + HEADER_SIZE, static_cast<unsigned long>(s));
    }
    return false;
  }

  block[HDR_RUNTIME_INFO] = 0;
  block[HDR_RUNTIME_MAJOR] = kRuntimeMajor;
  block[HDR_RUNTIME_MINOR] = kRuntimeMinor;
  Store16(block + HDR_RUNTIME_BUILD, kRuntimeBuild);
  AllocHeap(m, 4);  // handle 0
  return !m.Fatal();
}

void ReleaseImage(Machine& m) {
  m.block.reset();
  m.guarded = false;
  m.mem = nullptr;
  m.memSize = 0;
}

}  // namespace orvo::vm

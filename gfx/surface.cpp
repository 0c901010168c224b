// The screen and text scratch surfaces, program surfaces in the heap, the two drawing
// slots and the screen's dirty rectangle.
#include "gfx/surface.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "gfx/draw_internal.h"
#include "vm/heap.h"
#include "vm/memory.h"

namespace orvo::gfx {

namespace {

bool MakeOwned(OwnedSurface& s, int32_t width, int32_t height) {
  s = OwnedSurface{};
  if (width < 0 || height < 0) return false;
  const uint64_t bytes = uint64_t(width) * uint64_t(height) * 4;
  if (bytes > INT32_MAX * uint64_t{4}) return false;
  // Zeroed so that nothing of an earlier run or of the allocator shows through before the
  // host's first fill; a full-screen surface on huge pages, as the screen is filled once
  // at start-up.
  s.block = AllocateZeroed(bytes);
  if (!s.block) return false;
  s.bits = s.block.get();
  s.width = width;
  s.height = height;
  s.stride = width * 4;
  s.clipX = 0;
  s.clipY = 0;
  s.clipWidth = width;
  s.clipHeight = height;
  return true;
}

void FromOwned(Slot& slot, const OwnedSurface& s) {
  slot.pixels = s.bits;
  slot.stride = s.stride;
  slot.width = s.width;
  slot.height = s.height;
  slot.clipX = s.clipX;
  slot.clipY = s.clipY;
  slot.clipWidth = s.clipWidth;
  slot.clipHeight = s.clipHeight;
}

// Keeps the slot's clip rectangle inside the surface. A record's clip words live in VM
// memory, where the program can write anything; drawing trusts the slot's clip, so it is
// cut to the surface here once.
void CutClipToSurface(Slot& slot) {
  // An empty clip keeps its corner (cut into the surface), as the clip operation leaves it.
  const Span c = ClipSpan(slot).Intersect(BoundsSpan(slot));
  slot.clipX = static_cast<int32_t>(std::clamp<int64_t>(c.left, 0, slot.width));
  slot.clipY = static_cast<int32_t>(std::clamp<int64_t>(c.top, 0, slot.height));
  slot.clipWidth = static_cast<int32_t>(std::max<int64_t>(0, c.right - slot.clipX));
  slot.clipHeight = static_cast<int32_t>(std::max<int64_t>(0, c.bottom - slot.clipY));
}

// Bytes a heap block owns, or 0 for a handle that names no block.
uint32_t BlockCapacity(const vm::Machine& m, uint32_t handle) {
  if (handle >= vm::HEAP_HANDLES) return 0;
  const vm::HandleRecord& r = m.heap.records[handle];
  if (r.list == vm::LIST_UNUSED) return 0;
  return m.Ptr(r.address, r.capacity) ? r.capacity : 0;
}

// Starts a heap surface: pins the record and its pixel block and copies the geometry.
// which is "DST" or "SRC" for the messages.
bool StartHeapSurface(vm::Machine& m, Slot& slot, int32_t handle, const char* which) {
  const uint32_t recordHandle = static_cast<uint32_t>(handle);
  uint8_t* rec = vm::PinHeap(m, recordHandle);
  if (!rec) return false;  // the heap has reported the bad handle
  if (BlockCapacity(m, recordHandle) < RECORD_SIZE) {
    // A block too small for a record is not a surface; reading its words would run past it.
    vm::ShowMessage(m, vm::Format("Start%s: not a surface", which));
    vm::UnpinHeap(m, recordHandle);
    return false;
  }
  const uint32_t pixelHandle = vm::Load32(rec + REC_PIXELS);
  if (pixelHandle == 0) {
    vm::ShowMessage(m, vm::Format("Start%s: hBM==0", which));
    vm::UnpinHeap(m, recordHandle);
    return false;
  }
  const int32_t width = static_cast<int32_t>(vm::Load32(rec + REC_WIDTH));
  const int32_t height = static_cast<int32_t>(vm::Load32(rec + REC_HEIGHT));
  const int32_t stride = static_cast<int32_t>(vm::Load32(rec + REC_STRIDE));
  // The geometry must describe rows that lie inside the pixel block; the program can
  // rewrite a record, and drawing addresses pixels from these words alone.
  const bool geometryOk = width >= 0 && height >= 0 && int64_t{stride} == int64_t{width} * 4 &&
                          pixelHandle != recordHandle &&
                          uint64_t(height) * uint64_t(stride) <= BlockCapacity(m, pixelHandle);
  if (!geometryOk) {
    vm::ShowMessage(m, vm::Format("Start%s: not a surface", which));
    vm::UnpinHeap(m, recordHandle);
    return false;
  }
  uint8_t* pixels = vm::PinHeap(m, pixelHandle);
  if (!pixels) {
    vm::UnpinHeap(m, recordHandle);
    return false;
  }
  slot.handle = handle;
  slot.record = static_cast<uint32_t>(rec - m.mem);
  slot.pixelBlock = pixelHandle;
  slot.pixels = pixels;
  slot.width = width;
  slot.height = height;
  slot.stride = stride;
  slot.clipX = static_cast<int32_t>(vm::Load32(rec + REC_CLIP_X));
  slot.clipY = static_cast<int32_t>(vm::Load32(rec + REC_CLIP_Y));
  slot.clipWidth = static_cast<int32_t>(vm::Load32(rec + REC_CLIP_W));
  slot.clipHeight = static_cast<int32_t>(vm::Load32(rec + REC_CLIP_H));
  return true;
}

bool StartSlot(Graphics& g, vm::Machine& m, Slot& slot, int32_t handle, const char* which) {
  if (slot.handle != SURFACE_NONE) {
    vm::FatalError(m, vm::Format("Start%s() already started", which));
    return false;
  }
  slot = Slot{};
  bool ok = true;
  if (handle == SURFACE_SCREEN) {
    slot.handle = handle;
    FromOwned(slot, g.screen);
  } else if (handle == SURFACE_TEXT) {
    slot.handle = handle;
    FromOwned(slot, g.text);
  } else {
    ok = StartHeapSurface(m, slot, handle, which);
  }
  if (!ok) {
    slot = Slot{};
    return false;
  }
  slot.bytesPerPixel = 4;
  CutClipToSurface(slot);
  return true;
}

void EndSlot(vm::Machine& m, Slot& slot) {
  if (slot.handle > 0) {
    vm::UnpinHeap(m, slot.pixelBlock);
    vm::UnpinHeap(m, static_cast<uint32_t>(slot.handle));
  }
  slot = Slot{};
}

}  // namespace

bool CreateScreen(Graphics& g, int32_t width, int32_t height) {
  if (!MakeOwned(g.screen, width, height) || !MakeOwned(g.text, width, height / 15)) {
    DeleteScreen(g);
    return false;
  }
  g.dirty = DirtyRect{};
  return true;
}

void DeleteScreen(Graphics& g) {
  g.screen = OwnedSurface{};
  g.text = OwnedSurface{};
  g.dirty = DirtyRect{};
}

int32_t CreateSurface(vm::Machine& m, int32_t width, int32_t height) {
  // Sizes below 0 make an empty surface; a pixel block the heap cannot hold ends the
  // program through the heap's own check.
  width = std::max(width, 0);
  height = std::max(height, 0);
  const uint64_t bytes = uint64_t(width) * uint64_t(height) * 4;
  const uint32_t request = bytes > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(bytes);
  const uint32_t record = vm::AllocHeap(m, RECORD_SIZE);
  if (m.Fatal()) return 0;
  const uint32_t pixels = vm::AllocHeap(m, request);
  if (m.Fatal()) return 0;
  uint8_t* rec = vm::PinHeap(m, record);
  if (!rec) return 0;
  vm::Store32(rec + REC_WIDTH, static_cast<uint32_t>(width));
  vm::Store32(rec + REC_HEIGHT, static_cast<uint32_t>(height));
  vm::Store32(rec + REC_STRIDE, static_cast<uint32_t>(width) * 4);
  vm::Store32(rec + REC_CLIP_X, 0);
  vm::Store32(rec + REC_CLIP_Y, 0);
  vm::Store32(rec + REC_CLIP_W, static_cast<uint32_t>(width));
  vm::Store32(rec + REC_CLIP_H, static_cast<uint32_t>(height));
  vm::Store32(rec + REC_PIXELS, pixels);
  vm::UnpinHeap(m, record);
  return static_cast<int32_t>(record);
}

void FreeSurface(vm::Machine& m, int32_t handle) {
  if (handle == SURFACE_SCREEN) return;
  const uint32_t record = static_cast<uint32_t>(handle);
  uint8_t* rec = vm::PinHeap(m, record);
  if (!rec) return;  // reported by the heap
  uint32_t pixels = 0;
  // A block too small for a record holds no pixel handle; it is freed on its own.
  if (BlockCapacity(m, record) >= RECORD_SIZE) pixels = vm::Load32(rec + REC_PIXELS);
  vm::UnpinHeap(m, record);
  if (pixels != 0 && pixels != record) vm::FreeHeap(m, pixels);
  vm::FreeHeap(m, record);
}

bool StartDST(Graphics& g, vm::Machine& m, int32_t handle) {
  return StartSlot(g, m, g.dst, handle, "DST");
}

bool StartSRC(Graphics& g, vm::Machine& m, int32_t handle) {
  return StartSlot(g, m, g.src, handle, "SRC");
}

bool StartPair(Graphics& g, vm::Machine& m, int32_t source, int32_t destination) {
  if (!StartDST(g, m, destination)) return false;
  if (source != destination) {
    if (!StartSRC(g, m, source)) {
      EndDST(g, m);
      return false;
    }
    return true;
  }
  if (g.src.handle != SURFACE_NONE) {
    vm::FatalError(m, "StartSRC() already started");
    EndDST(g, m);
    return false;
  }
  // One surface on both sides: the source shares the destination's pins.
  g.src = g.dst;
  return true;
}

void EndDST(Graphics& g, vm::Machine& m) {
  EndSlot(m, g.dst);
}

void EndSRC(Graphics& g, vm::Machine& m) {
  EndSlot(m, g.src);
}

void EndPair(Graphics& g, vm::Machine& m) {
  if (g.src.handle != g.dst.handle) {
    EndSRC(g, m);
    EndDST(g, m);
  } else {
    EndDST(g, m);
    g.src = Slot{};
  }
}

void InvalidateSpan(Graphics& g, const Span& area) {
  // Only the screen's pixels can be painted; the host copies the dirty rectangle as it is.
  const Span cut = area.Intersect({0, 0, g.screen.width, g.screen.height});
  if (cut.Empty()) return;
  DirtyRect& d = g.dirty;
  const int32_t l = static_cast<int32_t>(cut.left), t = static_cast<int32_t>(cut.top);
  const int32_t r = static_cast<int32_t>(cut.right), b = static_cast<int32_t>(cut.bottom);
  if (!d.any) {
    d = {true, l, t, r, b};
    return;
  }
  d.left = std::min(d.left, l);
  d.top = std::min(d.top, t);
  d.right = std::max(d.right, r);
  d.bottom = std::max(d.bottom, b);
}

void InvalidateArea64(Graphics& g, int64_t x, int64_t y, int64_t width, int64_t height) {
  Span s;
  s.left = width < 0 ? x + width : x;
  s.right = width < 0 ? x : x + width;
  s.top = height < 0 ? y + height : y;
  s.bottom = height < 0 ? y : y + height;
  InvalidateSpan(g, s);
}

void InvalidateArea(Graphics& g, int32_t x, int32_t y, int32_t width, int32_t height) {
  InvalidateArea64(g, x, y, width, height);
}

bool TakeDirty(Graphics& g, int32_t& x, int32_t& y, int32_t& width, int32_t& height) {
  if (!g.dirty.any) return false;
  x = g.dirty.left;
  y = g.dirty.top;
  width = g.dirty.right - g.dirty.left;
  height = g.dirty.bottom - g.dirty.top;
  g.dirty = DirtyRect{};
  return true;
}

}  // namespace orvo::gfx

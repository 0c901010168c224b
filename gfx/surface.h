// 32-bit surfaces: the screen, the text scratch surface and program surfaces in the heap,
// the two drawing slots through which every operation reaches pixels, and the screen's
// dirty rectangle. Pixels are bytes blue, green, red, alpha; rows top-down, no padding.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string_view>

#include "base/zeroed_pages.h"
#include "vm/machine.h"

namespace orvo::gfx {

inline constexpr int32_t SURFACE_SCREEN = 0;
inline constexpr int32_t SURFACE_TEXT = -2;
inline constexpr int32_t SURFACE_NONE = -1;

// Descriptor of a runtime-owned surface (the screen, the text scratch surface).
struct OwnedSurface {
  ZeroedBlock block;
  uint8_t* bits = nullptr;
  int32_t width = 0, height = 0, stride = 0;
  int32_t clipX = 0, clipY = 0, clipWidth = 0, clipHeight = 0;
};

// A started surface: its geometry copied, its pixels reachable.
struct Slot {
  int32_t handle = SURFACE_NONE;
  uint8_t* pixels = nullptr;
  int32_t bytesPerPixel = 4;
  int32_t stride = 0, width = 0, height = 0;
  int32_t clipX = 0, clipY = 0, clipWidth = 0, clipHeight = 0;
  // VM address of the pinned Surface record of a heap surface, 0 otherwise.
  uint32_t record = 0;
  // Heap handle of the pinned pixel block of a heap surface, as it was pinned: the end
  // unpins exactly this block even if drawing has since overwritten the record.
  uint32_t pixelBlock = 0;
};

// Union of everything drawn on the screen since the last paint (right/bottom exclusive).
struct DirtyRect {
  bool any = false;
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};

struct Graphics {
  OwnedSurface screen;
  OwnedSurface text;
  Slot dst, src;
  uint64_t linePattern = ~uint64_t{0};
  DirtyRect dirty;
  // Opens a file named by the program (resolved in the program's folders), "rb" or "wb".
  std::function<std::FILE*(std::string_view name, const char* mode)> openFile;
};

// Makes the screen surface and then the text scratch surface (the screen's width, a
// fifteenth of its height). False when either cannot be allocated.
bool CreateScreen(Graphics& g, int32_t width, int32_t height);
void DeleteScreen(Graphics& g);

// Program surfaces in the managed heap: a 32-byte record, then the pixel block.
int32_t CreateSurface(vm::Machine& m, int32_t width, int32_t height);
void FreeSurface(vm::Machine& m, int32_t handle);

// Slots. A start that fails (a record without pixels) returns false after its message;
// the caller then skips the operation and ends what it started.
bool StartDST(Graphics& g, vm::Machine& m, int32_t handle);
bool StartSRC(Graphics& g, vm::Machine& m, int32_t handle);
bool StartPair(Graphics& g, vm::Machine& m, int32_t source, int32_t destination);
void EndDST(Graphics& g, vm::Machine& m);
void EndSRC(Graphics& g, vm::Machine& m);
void EndPair(Graphics& g, vm::Machine& m);

// Marks part of the screen for repainting; negative sizes count from the other edge.
void InvalidateArea(Graphics& g, int32_t x, int32_t y, int32_t width, int32_t height);
// Hands out the dirty rectangle and clears it; false when nothing is dirty.
bool TakeDirty(Graphics& g, int32_t& x, int32_t& y, int32_t& width, int32_t& height);

// The rectangle operation of the shapes (fill colour, border colour; colour words
// 0xAABBGGRR). The host fills the screen with opaque black through it.
void DrawRectangle(Graphics& g, vm::Machine& m, int32_t surface, int32_t x, int32_t y,
                   int32_t width, int32_t height, uint32_t fill, uint32_t border);

// Adds the graphics group's rows, served by g, to the request table: every row except
// the pictures' (picture.h) and the text's, which are added by their owners.
void AddGraphicsRequests(vm::RequestTable& t, Graphics& g);

// x / 255, truncated, for 0 <= x <= 255 * 255: the multiply-and-shift form used by every
// blend (exact over that whole range).
constexpr uint32_t Div255(uint32_t x) {
  return (x * 0x8081u) >> 23;
}

// Colour word (0xAABBGGRR) <-> pixel word (bytes blue, green, red, alpha in memory, read as
// a little-endian word): red and blue change places.
constexpr uint32_t SwapRedBlue(uint32_t v) {
  return (v & 0xFF00FF00u) | ((v & 0xFFu) << 16) | ((v >> 16) & 0xFFu);
}
// A colour word has alpha when its alpha byte is not 0.
constexpr bool HasAlpha(uint32_t colour) {
  return colour > 0x00FFFFFFu;
}

// The operations behind the rows, for callers inside the runtime (the text renderer
// composites through Blit and AlphaKey). Each starts and ends its own slots and
// invalidates the screen as its row does.
void Blit(Graphics& g, vm::Machine& m, int32_t destination, int32_t dx, int32_t dy, int32_t source,
          int32_t sx, int32_t sy, int32_t width, int32_t height, int32_t invert, int32_t right,
          int32_t bottom);
void ScaledBlit(Graphics& g, vm::Machine& m, int32_t destination, int32_t dx, int32_t dy,
                int32_t dw, int32_t dh, int32_t source, int32_t sx, int32_t sy, int32_t sw,
                int32_t sh, int32_t right, int32_t bottom);
// Number of pixels whose alpha was written.
uint64_t AlphaKey(Graphics& g, vm::Machine& m, int32_t surface, int32_t x, int32_t y, int32_t width,
                  int32_t height, uint32_t key, uint32_t companion, int32_t alpha);
uint32_t ReadPixel(Graphics& g, vm::Machine& m, int32_t surface, int32_t x, int32_t y);
void BlendPixel(Graphics& g, vm::Machine& m, int32_t surface, int32_t x, int32_t y,
                uint32_t colour);
void ColourAdjust(Graphics& g, vm::Machine& m, int32_t surface, int32_t x, int32_t y, int32_t width,
                  int32_t height, int32_t hue, int32_t saturation, int32_t brightness,
                  int32_t contrast);
uint32_t RgbToHsv(uint32_t colour);
uint32_t HsvToRgb(uint32_t hsv);
// Width, height, clip x, y, width, height. False when the surface could not be started.
bool SurfaceInfo(Graphics& g, vm::Machine& m, int32_t surface, int32_t info[6]);
// Sets the clip rectangle; the old one goes to oldClip (x, y, width, height) when given.
bool SetClip(Graphics& g, vm::Machine& m, int32_t surface, int32_t x, int32_t y, int32_t width,
             int32_t height, int32_t oldClip[4]);
// Returns the previous pattern.
uint64_t SetLinePattern(Graphics& g, uint64_t pattern);
void DrawLine(Graphics& g, vm::Machine& m, int32_t surface, int32_t x1, int32_t y1, int32_t x2,
              int32_t y2, uint32_t colour);
// points: count pairs of little-endian words x, y (the caller has checked their extent).
void DrawLineRun(Graphics& g, vm::Machine& m, int32_t surface, const uint8_t* points, int32_t count,
                 uint32_t colour);
void DrawEllipse(Graphics& g, vm::Machine& m, int32_t surface, int32_t x, int32_t y, int32_t width,
                 int32_t height, uint32_t fill, uint32_t outline);
void GradientSquare(Graphics& g, vm::Machine& m, int32_t surface, int32_t x, int32_t y,
                    int32_t width, int32_t height, uint32_t hue);

}  // namespace orvo::gfx

// The scaled blit: every destination pixel averages the box of source area it covers,
// measured in 1/32 of a source pixel.
#include <algorithm>
#include <vector>

#include "gfx/draw_internal.h"
#include "gfx/surface.h"

namespace orvo::gfx {
namespace {

constexpr int64_t SUB = 32;

// One side of a box, in sub-pixels: [lo, hi) and the source pixels it touches
// [first, last]. ok: those pixels lie inside the source.
struct Edge {
  int64_t lo = 0, hi = 0, first = 0, last = 0;
  bool ok = false;
};

// The box edge of tile index i of a tile of `tile` destination pixels over `size` source
// pixels starting at `start`: start*32 + i*size*32/tile, up to the same for i + 1.
Edge MakeEdge(int64_t start, int64_t i, int64_t size, int64_t tile, int64_t limit) {
  Edge e;
  e.lo = start * SUB + static_cast<int64_t>(__int128{i} * size * SUB / tile);
  e.hi = start * SUB + static_cast<int64_t>(__int128{i + 1} * size * SUB / tile);
  // A box of no extent stands for the source pixel at its position.
  e.first = e.lo >= 0 ? e.lo / SUB : -1;
  e.last = e.hi > e.lo ? (e.hi - 1) / SUB : e.first;
  e.ok = e.lo >= 0 && e.last < limit;
  return e;
}

inline uint32_t Channel(uint32_t p, int c) {
  return (p >> (8 * c)) & 0xFF;
}

// The averaged source pixel of one box (the exactness rule: a channel that is the same in
// every pixel of the box keeps that value; otherwise the sum of channel * weight / I,
// divided per pixel, limited to 255).
uint32_t BoxPixel(const Slot& src, const Edge& col, const Edge& row) {
  if (col.first == col.last && row.first == row.last)
    return LoadPixel(PixelAt(src, col.first, row.first));
  const int64_t area = (row.hi - row.lo) * (col.hi - col.lo);
  const uint32_t firstPixel = LoadPixel(PixelAt(src, col.first, row.first));
  if (area == 0) return firstPixel;
  // 32-bit division where 255 * area fits, which is every box of a scale down to 1/16.
  const bool narrow = area <= 0xFFFFFF;
  uint64_t sum[4] = {0, 0, 0, 0};
  bool same[4] = {true, true, true, true};
  for (int64_t y = row.lo; y < row.hi;) {
    const int64_t ny = std::min((y / SUB + 1) * SUB, row.hi);
    const int64_t rowWeight = ny - y;
    const uint8_t* line = PixelAt(src, 0, y / SUB);
    for (int64_t x = col.lo; x < col.hi;) {
      const int64_t nx = std::min((x / SUB + 1) * SUB, col.hi);
      const int64_t weight = std::clamp<int64_t>((nx - x) * rowWeight, 0, area);
      const uint32_t p = LoadPixel(line + (x / SUB) * 4);
      for (int c = 0; c < 4; ++c) {
        const uint32_t v = Channel(p, c);
        if (narrow)
          sum[c] += uint32_t(v) * uint32_t(weight) / uint32_t(area);
        else
          sum[c] += uint64_t(v) * uint64_t(weight) / uint64_t(area);
        same[c] = same[c] && v == Channel(firstPixel, c);
      }
      x = nx;
    }
    y = ny;
  }
  uint32_t out = 0;
  for (int c = 0; c < 4; ++c) {
    const uint32_t v =
        same[c] ? Channel(firstPixel, c) : static_cast<uint32_t>(std::min<uint64_t>(sum[c], 255));
    out |= v << (8 * c);
  }
  return out;
}

// Blend with the box's alpha N: colour c*N/255 + D*(255-N)/255, alpha
// min(255, D*(255-N)/255 + N*N/255).
inline uint32_t ScaledBlend(uint32_t d, uint32_t s) {
  const uint32_t n = s >> 24;
  if (n == 255) return s;  // 255*255/255 = 255 and D*0/255 = 0 in every channel
  const uint32_t in = 255 - n;
  uint32_t out = 0;
  for (int c = 0; c < 3; ++c)
    out |= (Div255(Channel(s, c) * n) + Div255(Channel(d, c) * in)) << (8 * c);
  const uint32_t a = Div255((d >> 24) * in) + Div255(n * n);
  return out | (std::min<uint32_t>(a, 255) << 24);
}

}  // namespace

void ScaledBlit(Graphics& g, vm::Machine& m, int32_t destination, int32_t dx, int32_t dy,
                int32_t dw, int32_t dh, int32_t source, int32_t sx, int32_t sy, int32_t sw,
                int32_t sh, int32_t right, int32_t bottom) {
  if (dw < 1 || dh < 1 || sw < 1 || sh < 1) return;
  if (dw == sw && dh == sh) {
    Blit(g, m, destination, dx, dy, source, sx, sy, sw, sh, 0, right, bottom);
    return;
  }
  if (!StartPair(g, m, source, destination)) return;
  const Slot& dst = g.dst;
  const Slot& src = g.src;
  const Span area{dx, dy, right != 0 ? right : int64_t{dx} + dw,
                  bottom != 0 ? bottom : int64_t{dy} + dh};
  const Span cut = area.Intersect(ClipSpan(dst));
  if (!cut.Empty()) {
    // Column boxes of the visible columns, worked out once for all rows.
    std::vector<Edge> columns(static_cast<size_t>(cut.right - cut.left));
    for (int64_t x = cut.left; x < cut.right; ++x)
      columns[size_t(x - cut.left)] = MakeEdge(sx, (x - dx) % dw, sw, dw, src.width);
    // The source column of every column whose box lies inside one source pixel (every
    // column of an enlargement), -1 for the others: such a box is that pixel as it is.
    std::vector<int64_t> single(columns.size());
    bool allSingle = true;
    for (size_t i = 0; i < columns.size(); ++i) {
      single[i] = columns[i].ok && columns[i].first == columns[i].last ? columns[i].first : -1;
      allSingle = allSingle && single[i] >= 0;
    }
    for (int64_t y = cut.top; y < cut.bottom; ++y) {
      const Edge row = MakeEdge(sy, (y - dy) % dh, sh, dh, src.height);
      if (!row.ok) continue;
      const uint8_t* oneRow = row.first == row.last ? PixelAt(src, 0, row.first) : nullptr;
      uint8_t* d = PixelAt(dst, cut.left, y);
      if (oneRow && allSingle) {
        // Every box of the row is one source pixel: a gather of that row.
        for (size_t i = 0; i < single.size(); ++i, d += 4) {
          const uint32_t s = LoadPixel(oneRow + single[i] * 4);
          const uint32_t n = s >> 24;
          if (n == 255)
            StorePixel(d, s);
          else if (n != 0)
            StorePixel(d, ScaledBlend(LoadPixel(d), s));
        }
        continue;
      }
      for (size_t i = 0; i < columns.size(); ++i, d += 4) {
        // Boxes reaching outside the source are not drawn. The box is read from the
        // surface as it is now, so a surface scaled onto itself sees the pixels already
        // written, in row order.
        uint32_t s;
        if (oneRow && single[i] >= 0)
          s = LoadPixel(oneRow + single[i] * 4);
        else if (columns[i].ok)
          s = BoxPixel(src, columns[i], row);
        else
          continue;
        const uint32_t n = s >> 24;
        if (n == 255)
          StorePixel(d, s);  // 255*255/255 = 255 and D*0/255 = 0 in every channel
        else if (n != 0)
          StorePixel(d, ScaledBlend(LoadPixel(d), s));
      }
    }
  }
  EndPair(g, m);
  if (destination == SURFACE_SCREEN)
    InvalidateArea64(g, dx, dy, right != 0 ? int64_t{right} - dx : dw,
                     bottom != 0 ? int64_t{bottom} - dy : dh);
}

}  // namespace orvo::gfx

// The blit: tiles of one source rectangle over a destination area, alpha blended or
// inverted, clipped to the destination's clip rectangle and to the source surface.
#include <algorithm>
#include <vector>

#include "gfx/blend.h"
#include "gfx/draw_internal.h"
#include "gfx/surface.h"

namespace orvo::gfx {
namespace {

// A piece of one destination row that comes from one tile: columns [x, x + n) read the
// source columns from sx on.
struct Piece {
  int64_t x, sx, n;
};

// The tile pieces of every destination row, worked out once: the destination columns
// [from, to) (already clipped), tiles starting at dx every width columns, of which only
// the tile columns [cLo, cHi) exist in the source.
std::vector<Piece> TilePieces(int64_t from, int64_t to, int64_t dx, int64_t width, int64_t sx,
                              int64_t cLo, int64_t cHi) {
  std::vector<Piece> pieces;
  int64_t x = from;
  while (x < to) {
    const int64_t c = (x - dx) % width;
    const int64_t tileEnd = std::min(to, x + (width - c));
    const int64_t c0 = std::max(c, cLo);
    const int64_t c1 = std::min(c + (tileEnd - x), cHi);
    if (c1 > c0) pieces.push_back({x + (c0 - c), sx + c0, c1 - c0});
    x = tileEnd;
  }
  return pieces;
}

}  // namespace

void Blit(Graphics& g, vm::Machine& m, int32_t destination, int32_t dx, int32_t dy, int32_t source,
          int32_t sx, int32_t sy, int32_t width, int32_t height, int32_t invert, int32_t right,
          int32_t bottom) {
  if (!StartPair(g, m, source, destination)) return;
  if (width > 0 && height > 0) {
    const Slot& dst = g.dst;
    const Slot& src = g.src;
    // The covered area: the first tile, or up to the tiling edges.
    const Span area{dx, dy, right != 0 ? right : int64_t{dx} + width,
                    bottom != 0 ? bottom : int64_t{dy} + height};
    const Span cut = area.Intersect(ClipSpan(dst));
    // Tile columns and rows that lie inside the source surface; the rest is not drawn, so
    // no read leaves the source's pixels.
    const int64_t cLo = std::max<int64_t>(0, -int64_t{sx});
    const int64_t cHi = std::min<int64_t>(width, int64_t{src.width} - sx);
    const int64_t rLo = std::max<int64_t>(0, -int64_t{sy});
    const int64_t rHi = std::min<int64_t>(height, int64_t{src.height} - sy);
    if (!cut.Empty() && cHi > cLo && rHi > rLo) {
      const std::vector<Piece> pieces = TilePieces(cut.left, cut.right, dx, width, sx, cLo, cHi);
      for (int64_t y = cut.top; y < cut.bottom; ++y) {
        const int64_t r = (y - dy) % height;
        if (r < rLo || r >= rHi) continue;
        const int64_t srow = sy + r;
        for (const Piece& p : pieces)
          blend::BlitRow(PixelAt(dst, p.x, y), PixelAt(src, p.sx, srow), static_cast<size_t>(p.n),
                         invert != 0);
      }
    }
  }
  EndPair(g, m);
  if (destination == SURFACE_SCREEN)
    InvalidateArea64(g, dx, dy, right != 0 ? int64_t{right} - dx : width,
                     bottom != 0 ? int64_t{bottom} - dy : height);
}

}  // namespace orvo::gfx

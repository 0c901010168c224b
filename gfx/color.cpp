// Colour arithmetic: the integer hue/saturation/brightness/contrast pass over a surface
// and the two double-precision conversions between colour words and hue-saturation-value
// words (hue on a circle of 252 steps, six sectors of 42).
#include <algorithm>
#include <cmath>

#include "gfx/draw_internal.h"
#include "gfx/surface.h"

namespace orvo::gfx {
namespace {

inline uint32_t Trunc255(double x) {
  return static_cast<uint32_t>(x * 255.0);
}

// One pixel of the colour pass; b[0..2] are its blue, green and red bytes.
void AdjustPixel(uint8_t* b, int32_t hue, int32_t saturation, int64_t brightness,
                 int64_t contrast) {
  const int64_t b0 = b[0], b1 = b[1], b2 = b[2];
  const int64_t V = std::max({b0, b1, b2});
  const int64_t mn = std::min({b0, b1, b2});
  const int64_t S = V == 0 ? 0 : (V - mn) * 255 / V;
  int64_t h = 0;
  if (S != 0) {
    const int64_t d = V - mn;
    if (b0 == V)
      h = ((V - b2) * 255 / d - (V - b1) * 255 / d) / 6;
    else if (b1 == V)
      h = ((V - b0) * 255 / d - (V - b2) * 255 / d) / 6 + 85;
    else
      h = ((V - b1) * 255 / d - (V - b0) * 255 / d) / 6 + 171;
  }
  const int64_t s = (saturation >= 0 ? saturation : S) & 0xFF;
  int64_t K = V + contrast * (V - 128) / 255;
  K = K + brightness * K / 255;
  const int64_t L = std::clamp<int64_t>(K, 0, 255);
  if (s == 0) {
    b[0] = b[1] = b[2] = static_cast<uint8_t>(L);
    return;
  }
  int64_t n = hue >= 0 ? (hue & 0xFF) : h;
  // The analysed hue runs just below 0 for pixels between the first channel's maximum and
  // the third's; it is taken round the circle so that such pixels keep their hue.
  if (n < 0) n += 252;
  int64_t sector = n / 42;
  if (sector == 6) sector = 0;
  const int64_t f = (n % 42) * 6;
  const int64_t p = (255 - s) * L / 255;
  const int64_t q = f == 0 ? L : (62730 - f * s) * L / 62730;
  const int64_t t = ((f - 246) * s + 62730) * L / 62730;
  int64_t c0, c1, c2;
  switch (sector) {
    case 0:
      c0 = L, c1 = t, c2 = p;
      break;
    case 1:
      c0 = q, c1 = L, c2 = p;
      break;
    case 2:
      c0 = p, c1 = L, c2 = t;
      break;
    case 3:
      c0 = p, c1 = q, c2 = L;
      break;
    case 4:
      c0 = t, c1 = p, c2 = L;
      break;
    default:
      c0 = L, c1 = p, c2 = q;
      break;
  }
  b[0] = static_cast<uint8_t>(c0);
  b[1] = static_cast<uint8_t>(c1);
  b[2] = static_cast<uint8_t>(c2);
}

}  // namespace

void ColourAdjust(Graphics& g, vm::Machine& m, int32_t surface, int32_t x, int32_t y, int32_t width,
                  int32_t height, int32_t hue, int32_t saturation, int32_t brightness,
                  int32_t contrast) {
  if (!StartSRC(g, m, surface)) return;
  const Span cut = Span{x, y, int64_t{x} + width, int64_t{y} + height}.Intersect(ClipSpan(g.src));
  if (!cut.Empty()) {
    for (int64_t py = cut.top; py < cut.bottom; ++py) {
      uint8_t* p = PixelAt(g.src, cut.left, py);
      for (int64_t px = cut.left; px < cut.right; ++px, p += 4)
        AdjustPixel(p, hue, saturation, brightness, contrast);
    }
  }
  EndSRC(g, m);
  if (surface == SURFACE_SCREEN) InvalidateSpan(g, cut);
}

uint32_t RgbToHsv(uint32_t colour) {
  const double r = (colour & 0xFF) / 255.0;
  const double gr = ((colour >> 8) & 0xFF) / 255.0;
  const double b = ((colour >> 16) & 0xFF) / 255.0;
  const double V = std::max({r, gr, b});
  const double d = V - std::min({r, gr, b});
  const uint32_t alpha = colour & 0xFF000000u;
  if (d == 0) return alpha | Trunc255(V) << 16;
  double H = r == V ? (gr - b) / d : gr == V ? (b - r) / d + 2 : (r - gr) / d + 4;
  while (H < 0) H += 6;
  while (H >= 6) H -= 6;
  const uint32_t hue = static_cast<uint32_t>(H * 42);
  return alpha | Trunc255(V) << 16 | Trunc255(d / V) << 8 | hue;
}

uint32_t HsvToRgb(uint32_t hsv) {
  const double S = ((hsv >> 8) & 0xFF) / 255.0;
  const double V = ((hsv >> 16) & 0xFF) / 255.0;
  const uint32_t alpha = hsv & 0xFF000000u;
  double r, gr, b;
  if (S == 0) {
    r = gr = b = V;
  } else {
    const double F = (hsv & 0xFF) / 42.0;
    const double i = std::floor(F);
    const double f = F - i;
    const double p = V * (1 - S), q = V * (1 - S * f), t = V * (1 - S * (1 - f));
    switch (static_cast<int>(i)) {
      case 0:
        r = V, gr = t, b = p;
        break;
      case 1:
        r = q, gr = V, b = p;
        break;
      case 2:
        r = p, gr = V, b = t;
        break;
      case 3:
        r = p, gr = q, b = V;
        break;
      case 4:
        r = t, gr = p, b = V;
        break;
      case 5:
        r = V, gr = p, b = q;
        break;
      default:
        return alpha;  // hue 252 and above lies off the circle: black
    }
  }
  return alpha | Trunc255(b) << 16 | Trunc255(gr) << 8 | Trunc255(r);
}

}  // namespace orvo::gfx

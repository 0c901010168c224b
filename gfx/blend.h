// Row kernels of the blends, each in a portable form and, on x86-64, an SSE2 form that
// gives the same bytes. The SSE2 forms work on two pixels per register in 16-bit lanes;
// every product of two bytes is at most 255 * 255 and so fits a lane, and Div255 is
// exact over that range, so the lanes compute exactly what the scalar code does.
//
// Blit rule (source alpha a): colour D = D*(255-a)/255 + S*a/255, inverted colour
// D = (255-S)*a/255 + D*(255-a)/255, alpha D = min(255, D + a). A source pixel of alpha 0
// leaves the destination as it is under both rules, and one of alpha 255 gives S (or its
// inverse) with alpha 255, which is what the fast paths store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "gfx/surface.h"
#include "vm/memory.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define ORVO_GFX_SSE2 1
#else
#define ORVO_GFX_SSE2 0
#endif

// An AVX2 form of the blit row is built on x86-64 and chosen at run time where the
// processor has it (gfx/blend_avx2.cpp).
#if ORVO_GFX_SSE2 && defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ORVO_GFX_AVX2 1
#else
#define ORVO_GFX_AVX2 0
#endif

namespace orvo::gfx::blend {

inline uint32_t BlitPixel(uint32_t d, uint32_t s, bool invert) {
  const uint32_t a = s >> 24;
  if (a == 0) return d;
  const uint32_t ia = 255 - a;
  uint32_t out = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const uint32_t sc = (s >> shift) & 0xFF, dc = (d >> shift) & 0xFF;
    const uint32_t c =
        invert ? Div255((255 - sc) * a) + Div255(dc * ia) : Div255(dc * ia) + Div255(sc * a);
    out |= c << shift;
  }
  const uint32_t da = (d >> 24) + a;
  return out | ((da > 255 ? 255 : da) << 24);
}

// Pixel by pixel, each source pixel read just before its destination pixel is written:
// also correct when the two rows overlap in memory in any way.
inline void BlitRowPortable(uint8_t* d, const uint8_t* s, size_t n, bool invert) {
  for (size_t i = 0; i < n; ++i) {
    const uint32_t sp = vm::Load32(s + 4 * i);
    const uint32_t a = sp >> 24;
    if (a == 0) continue;
    uint32_t out;
    if (a == 255)
      out = invert ? sp ^ 0x00FFFFFFu : sp;
    else
      out = BlitPixel(vm::Load32(d + 4 * i), sp, invert);
    vm::Store32(d + 4 * i, out);
  }
}

// Colour blend of a fixed colour (pixel word) into a row: c*a/255 + D*(255-a)/255 in every
// channel, the alpha channel blending a itself.
inline void FillRowPortable(uint8_t* d, size_t n, uint32_t colourPixel) {
  const uint32_t a = colourPixel >> 24;
  if (a == 0) return;
  if (a == 255) {
    // 255 * 255 / 255 = 255: the pixel becomes the colour with alpha 255.
    for (size_t i = 0; i < n; ++i) vm::Store32(d + 4 * i, colourPixel);
    return;
  }
  const uint32_t ia = 255 - a;
  uint32_t add[4];
  for (int c = 0; c < 4; ++c) add[c] = Div255(((colourPixel >> (8 * c)) & 0xFF) * a);
  for (size_t i = 0; i < n; ++i) {
    uint8_t* p = d + 4 * i;
    for (int c = 0; c < 4; ++c) p[c] = static_cast<uint8_t>(add[c] + Div255(p[c] * ia));
  }
}

#if ORVO_GFX_SSE2

// x / 255 in every 16-bit lane, x <= 255 * 255: (x * 0x8081) >> 23.
inline __m128i Div255x8(__m128i x) {
  return _mm_srli_epi16(_mm_mulhi_epu16(x, _mm_set1_epi16(static_cast<short>(0x8081))), 7);
}

// Two pixels in 16-bit lanes: their blend (colour lanes; the alpha lanes are replaced later).
inline __m128i BlitLanes(__m128i d, __m128i s, bool invert) {
  const __m128i k255 = _mm_set1_epi16(255);
  __m128i a = _mm_shufflelo_epi16(s, 0xFF);
  a = _mm_shufflehi_epi16(a, 0xFF);
  const __m128i ia = _mm_sub_epi16(k255, a);
  const __m128i sc = invert ? _mm_sub_epi16(k255, s) : s;
  return _mm_add_epi16(Div255x8(_mm_mullo_epi16(sc, a)), Div255x8(_mm_mullo_epi16(d, ia)));
}

// Four pixels of the blit rule.
inline __m128i Blit4(__m128i d, __m128i s, bool invert) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i lo = BlitLanes(_mm_unpacklo_epi8(d, zero), _mm_unpacklo_epi8(s, zero), invert);
  const __m128i hi = BlitLanes(_mm_unpackhi_epi8(d, zero), _mm_unpackhi_epi8(s, zero), invert);
  const __m128i colour = _mm_packus_epi16(lo, hi);
  // min(255, D.alpha + a) is the saturating byte add.
  const __m128i alphaMask = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  const __m128i alpha = _mm_and_si128(_mm_adds_epu8(d, s), alphaMask);
  return _mm_or_si128(_mm_andnot_si128(alphaMask, colour), alpha);
}

// Mask bits of the four alpha bytes equal to 255 (0xFFFF: all opaque) and equal to 0.
inline int OpaqueMask(__m128i s) {
  const __m128i alphaMask = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  return _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(s, alphaMask), alphaMask));
}
inline int ClearMask(__m128i s) {
  const __m128i alphaMask = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  return _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(s, alphaMask), _mm_setzero_si128()));
}

// Reads four source pixels before writing four destination pixels, so it must not run
// where the destination starts less than a chunk after the source in the same memory
// (BlitRow checks that).
inline void BlitRowSse2(uint8_t* d, const uint8_t* s, size_t n, bool invert) {
  const __m128i flip = _mm_set1_epi32(0x00FFFFFF);
  size_t i = 0;
  // Sixteen pixels at a time while they are all opaque or all clear: the common case of a
  // full-screen copy runs at the speed of the loads and stores.
  for (; i + 16 <= n; i += 16) {
    const __m128i s0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * i));
    const __m128i s1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * i + 16));
    const __m128i s2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * i + 32));
    const __m128i s3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * i + 48));
    const __m128i all = _mm_and_si128(_mm_and_si128(s0, s1), _mm_and_si128(s2, s3));
    if (OpaqueMask(all) == 0xFFFF) {
      __m128i* out = reinterpret_cast<__m128i*>(d + 4 * i);
      if (invert) {
        _mm_storeu_si128(out, _mm_xor_si128(s0, flip));
        _mm_storeu_si128(out + 1, _mm_xor_si128(s1, flip));
        _mm_storeu_si128(out + 2, _mm_xor_si128(s2, flip));
        _mm_storeu_si128(out + 3, _mm_xor_si128(s3, flip));
      } else {
        _mm_storeu_si128(out, s0);
        _mm_storeu_si128(out + 1, s1);
        _mm_storeu_si128(out + 2, s2);
        _mm_storeu_si128(out + 3, s3);
      }
      continue;
    }
    const __m128i any = _mm_or_si128(_mm_or_si128(s0, s1), _mm_or_si128(s2, s3));
    if (ClearMask(any) == 0xFFFF) continue;
    // Mixed: the rule itself is exact at alpha 0 and 255, so every chunk is blended
    // without testing its pixels again.
    __m128i* out = reinterpret_cast<__m128i*>(d + 4 * i);
    _mm_storeu_si128(out, Blit4(_mm_loadu_si128(out), s0, invert));
    _mm_storeu_si128(out + 1, Blit4(_mm_loadu_si128(out + 1), s1, invert));
    _mm_storeu_si128(out + 2, Blit4(_mm_loadu_si128(out + 2), s2, invert));
    _mm_storeu_si128(out + 3, Blit4(_mm_loadu_si128(out + 3), s3, invert));
  }
  for (; i + 4 <= n; i += 4) {
    const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * i));
    __m128i* out = reinterpret_cast<__m128i*>(d + 4 * i);
    if (ClearMask(sv) == 0xFFFF) continue;
    _mm_storeu_si128(out, Blit4(_mm_loadu_si128(out), sv, invert));
  }
  BlitRowPortable(d + 4 * i, s + 4 * i, n - i, invert);
}

inline void FillRowSse2(uint8_t* d, size_t n, uint32_t colourPixel) {
  const uint32_t a = colourPixel >> 24;
  if (a == 0 || a == 255) {
    FillRowPortable(d, n, colourPixel);
    return;
  }
  const __m128i zero = _mm_setzero_si128();
  uint16_t add[8];
  for (int c = 0; c < 4; ++c)
    add[c] = add[c + 4] = static_cast<uint16_t>(Div255(((colourPixel >> (8 * c)) & 0xFF) * a));
  __m128i addv;
  std::memcpy(&addv, add, sizeof addv);
  const __m128i iav = _mm_set1_epi16(static_cast<short>(255 - a));
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    __m128i* p = reinterpret_cast<__m128i*>(d + 4 * i);
    const __m128i dv = _mm_loadu_si128(p);
    const __m128i lo =
        _mm_add_epi16(addv, Div255x8(_mm_mullo_epi16(_mm_unpacklo_epi8(dv, zero), iav)));
    const __m128i hi =
        _mm_add_epi16(addv, Div255x8(_mm_mullo_epi16(_mm_unpackhi_epi8(dv, zero), iav)));
    _mm_storeu_si128(p, _mm_packus_epi16(lo, hi));
  }
  FillRowPortable(d + 4 * i, n - i, colourPixel);
}

#endif  // ORVO_GFX_SSE2

#if ORVO_GFX_AVX2
// True when the processor runs AVX2 code.
bool HaveAvx2();
// The blit row eight pixels at a time; only call it when HaveAvx2().
void BlitRowAvx2(uint8_t* d, const uint8_t* s, size_t n, bool invert);
#endif

// The row kernels the drawing code calls. The SSE2 blit reads ahead of its writes, so a
// destination that starts inside the first chunk after its source (only possible when a
// surface is copied onto itself, a little to the right) takes the pixel-by-pixel path,
// which keeps the top-to-bottom, left-to-right order exactly.
inline void BlitRow(uint8_t* d, const uint8_t* s, size_t n, bool invert) {
#if ORVO_GFX_SSE2
  const uintptr_t dp = reinterpret_cast<uintptr_t>(d), sp = reinterpret_cast<uintptr_t>(s);
  if (dp > sp && dp - sp < 4 * n) {
    BlitRowPortable(d, s, n, invert);
    return;
  }
#if ORVO_GFX_AVX2
  if (HaveAvx2()) {
    BlitRowAvx2(d, s, n, invert);
    return;
  }
#endif
  BlitRowSse2(d, s, n, invert);
#else
  BlitRowPortable(d, s, n, invert);
#endif
}

inline void FillRow(uint8_t* d, size_t n, uint32_t colourPixel) {
#if ORVO_GFX_SSE2
  FillRowSse2(d, n, colourPixel);
#else
  FillRowPortable(d, n, colourPixel);
#endif
}

}  // namespace orvo::gfx::blend

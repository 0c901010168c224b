// The graphics sys group: reads a row's argument words and calls its operation.
#include <array>

#include "gfx/surface.h"
#include "vm/machine.h"
#include "vm/memory.h"
#include "vm/request.h"
#include "vm/sys.h"

namespace orvo::gfx {
namespace {

// Argument words per row (0 for the rows served elsewhere and the undefined ones).
constexpr std::array<uint32_t, 20> ROW_WORDS = {
    4,   // 0 line run
    7,   // 1 rectangle
    0,   // 2 load picture (pictures)
    11,  // 3 blit
    1,   // 4 free surface
    8,   // 5 alpha key
    3,   // 6 read pixel
    4,   // 7 blend pixel
    12,  // 8 scaled blit
    0,   // 9 save picture (pictures)
    1,   // 10 RGB to HSV
    1,   // 11 HSV to RGB
    2,   // 12 surface info
    6,   // 13 set clip
    2,   // 14 set pattern
    9,   // 15 colour adjust
    0,   // 16 draw text (text)
    6,   // 17 gradient square
    7,   // 18 ellipse
    2,   // 19 create surface
};

// The words of a service's output area, checked for their whole length first.
bool WriteWords(vm::Machine& m, uint32_t address, const int32_t* words, uint32_t count) {
  uint8_t* out = vm::RequestBytes(m, address, count * 4);
  if (!out) return false;
  for (uint32_t i = 0; i < count; ++i) vm::Store32(out + 4 * i, static_cast<uint32_t>(words[i]));
  return true;
}

}  // namespace

void GraphicsSys(Graphics& g, vm::Machine& m, uint32_t row, uint32_t args) {
  if (row >= ROW_WORDS.size() || ROW_WORDS[row] == 0) {
    vm::UnknownSys(m);
    return;
  }
  const uint8_t* a = m.Ptr(args, ROW_WORDS[row] * 4);
  if (!a) {
    vm::RequestFault(m, args);
    return;
  }
  auto arg = [a](int i) { return static_cast<int32_t>(vm::Load32(a + 4 * i)); };
  auto word = [a](int i) { return vm::Load32(a + 4 * i); };
  switch (row) {
    case 0: {
      const int32_t count = arg(2);
      if (count < 2) return;
      const uint32_t address = word(1);
      // Every point is read, so the whole array must lie in VM memory.
      const uint64_t bytes = uint64_t(uint32_t(count)) * 8;
      const uint8_t* points =
          bytes <= m.memSize ? m.Ptr(address, static_cast<uint32_t>(bytes)) : nullptr;
      if (!points) {
        vm::RequestFault(m, address);
        return;
      }
      DrawLineRun(g, m, arg(0), points, count, word(3));
      return;
    }
    case 1:
      DrawRectangle(g, m, arg(0), arg(1), arg(2), arg(3), arg(4), word(5), word(6));
      return;
    case 3:
      Blit(g, m, arg(0), arg(1), arg(2), arg(3), arg(4), arg(5), arg(6), arg(7), arg(8), arg(9),
           arg(10));
      return;
    case 4:
      FreeSurface(m, arg(0));
      return;
    case 5: {
      const uint64_t n =
          AlphaKey(g, m, arg(0), arg(1), arg(2), arg(3), arg(4), word(5), word(6), arg(7));
      vm::SetResultPair(m, static_cast<uint32_t>(n), static_cast<uint32_t>(n >> 32));
      return;
    }
    case 6:
      vm::SetResult(m, ReadPixel(g, m, arg(0), arg(1), arg(2)));
      return;
    case 7:
      BlendPixel(g, m, arg(0), arg(1), arg(2), word(3));
      return;
    case 8:
      ScaledBlit(g, m, arg(0), arg(1), arg(2), arg(3), arg(4), arg(5), arg(6), arg(7), arg(8),
                 arg(9), arg(10), arg(11));
      return;
    case 10:
      vm::SetResult(m, RgbToHsv(word(0)));
      return;
    case 11:
      vm::SetResult(m, HsvToRgb(word(0)));
      return;
    case 12: {
      const uint32_t out = word(1);
      if (!m.Ptr(out, 24)) {
        vm::RequestFault(m, out);
        return;
      }
      int32_t info[6];
      if (SurfaceInfo(g, m, arg(0), info)) WriteWords(m, out, info, 6);
      return;
    }
    case 13: {
      const uint32_t out = word(5);
      if (out != 0 && !m.Ptr(out, 16)) {
        vm::RequestFault(m, out);
        return;
      }
      int32_t old[4];
      if (SetClip(g, m, arg(0), arg(1), arg(2), arg(3), arg(4), out != 0 ? old : nullptr) &&
          out != 0)
        WriteWords(m, out, old, 4);
      return;
    }
    case 14: {
      const uint64_t old = SetLinePattern(g, uint64_t{word(1)} << 32 | word(0));
      vm::SetResultPair(m, static_cast<uint32_t>(old), static_cast<uint32_t>(old >> 32));
      return;
    }
    case 15:
      ColourAdjust(g, m, arg(0), arg(1), arg(2), arg(3), arg(4), arg(5), arg(6), arg(7), arg(8));
      return;
    case 17:
      GradientSquare(g, m, arg(0), arg(1), arg(2), arg(3), arg(4), word(5));
      return;
    case 18:
      DrawEllipse(g, m, arg(0), arg(1), arg(2), arg(3), arg(4), word(5), word(6));
      return;
    case 19:
      vm::SetResult(m, static_cast<uint32_t>(CreateSurface(m, arg(0), arg(1))));
      return;
    default:
      vm::UnknownSys(m);
      return;
  }
}

}  // namespace orvo::gfx

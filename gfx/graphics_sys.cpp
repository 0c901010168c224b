// The graphics group's rows: each reads its argument words and calls its operation.
#include "gfx/surface.h"
#include "vm/machine.h"
#include "vm/memory.h"
#include "vm/request.h"
#include "vm/requests.h"
#include "vm/sys.h"

namespace orvo::gfx {
namespace {

Graphics& G(vm::Request& r) {
  return vm::ServiceOf<Graphics>(r);
}

int32_t Arg(const vm::Request& r, int i) {
  return static_cast<int32_t>(r.a[i]);
}

// The words of a service's output area, checked for their whole length first.
bool WriteWords(vm::Machine& m, uint32_t address, const int32_t* words, uint32_t count) {
  uint8_t* out = vm::RequestBytes(m, address, count * 4);
  if (!out) return false;
  for (uint32_t i = 0; i < count; ++i) vm::Store32(out + 4 * i, static_cast<uint32_t>(words[i]));
  return true;
}

void SetPair(vm::Machine& m, uint64_t n) {
  vm::SetResultPair(m, static_cast<uint32_t>(n), static_cast<uint32_t>(n >> 32));
}

void LineRun(vm::Request& r) {
  const int32_t count = Arg(r, 2);
  if (count < 2) return;
  const uint32_t address = r.a[1];
  // Every point is read, so the whole array must lie in VM memory.
  const uint64_t bytes = uint64_t(uint32_t(count)) * 8;
  const uint8_t* points =
      bytes <= r.m.memSize ? r.m.Ptr(address, static_cast<uint32_t>(bytes)) : nullptr;
  if (!points) {
    vm::RequestFault(r.m, address);
    return;
  }
  DrawLineRun(G(r), r.m, Arg(r, 0), points, count, r.a[3]);
}

void Info(vm::Request& r) {
  const uint32_t out = r.a[1];
  if (!r.m.Ptr(out, 24)) {
    vm::RequestFault(r.m, out);
    return;
  }
  int32_t info[6];
  if (SurfaceInfo(G(r), r.m, Arg(r, 0), info)) WriteWords(r.m, out, info, 6);
}

void Clip(vm::Request& r) {
  const uint32_t out = r.a[5];
  if (out != 0 && !r.m.Ptr(out, 16)) {
    vm::RequestFault(r.m, out);
    return;
  }
  int32_t old[4];
  if (SetClip(G(r), r.m, Arg(r, 0), Arg(r, 1), Arg(r, 2), Arg(r, 3), Arg(r, 4),
              out != 0 ? old : nullptr) &&
      out != 0)
    WriteWords(r.m, out, old, 4);
}

constexpr vm::ArgCheck BLOCK = vm::ArgCheck::BLOCK;
constexpr vm::RequestRow kRows[] = {
    {0x500, "lines", 4, BLOCK, LineRun},
    {0x501, "rectangle", 7, BLOCK,
     [](vm::Request& r) {
       DrawRectangle(G(r), r.m, Arg(r, 0), Arg(r, 1), Arg(r, 2), Arg(r, 3), Arg(r, 4), r.a[5],
                     r.a[6]);
     }},
    {0x503, "blit", 11, BLOCK,
     [](vm::Request& r) {
       Blit(G(r), r.m, Arg(r, 0), Arg(r, 1), Arg(r, 2), Arg(r, 3), Arg(r, 4), Arg(r, 5), Arg(r, 6),
            Arg(r, 7), Arg(r, 8), Arg(r, 9), Arg(r, 10));
     }},
    {0x504, "free surface", 1, BLOCK, [](vm::Request& r) { FreeSurface(r.m, Arg(r, 0)); }},
    {0x505, "alpha key", 8, BLOCK,
     [](vm::Request& r) {
       SetPair(r.m, AlphaKey(G(r), r.m, Arg(r, 0), Arg(r, 1), Arg(r, 2), Arg(r, 3), Arg(r, 4),
                             r.a[5], r.a[6], Arg(r, 7)));
     }},
    {0x506, "read pixel", 3, BLOCK,
     [](vm::Request& r) {
       vm::SetResult(r.m, ReadPixel(G(r), r.m, Arg(r, 0), Arg(r, 1), Arg(r, 2)));
     }},
    {0x507, "blend pixel", 4, BLOCK,
     [](vm::Request& r) { BlendPixel(G(r), r.m, Arg(r, 0), Arg(r, 1), Arg(r, 2), r.a[3]); }},
    {0x508, "scaled blit", 12, BLOCK,
     [](vm::Request& r) {
       ScaledBlit(G(r), r.m, Arg(r, 0), Arg(r, 1), Arg(r, 2), Arg(r, 3), Arg(r, 4), Arg(r, 5),
                  Arg(r, 6), Arg(r, 7), Arg(r, 8), Arg(r, 9), Arg(r, 10), Arg(r, 11));
     }},
    {0x50A, "RGB to HSV", 1, BLOCK, [](vm::Request& r) { vm::SetResult(r.m, RgbToHsv(r.a[0])); }},
    {0x50B, "HSV to RGB", 1, BLOCK, [](vm::Request& r) { vm::SetResult(r.m, HsvToRgb(r.a[0])); }},
    {0x50C, "surface info", 2, BLOCK, Info},
    {0x50D, "clip", 6, BLOCK, Clip},
    {0x50E, "line pattern", 2, BLOCK,
     [](vm::Request& r) { SetPair(r.m, SetLinePattern(G(r), uint64_t{r.a[1]} << 32 | r.a[0])); }},
    {0x50F, "colour adjust", 9, BLOCK,
     [](vm::Request& r) {
       ColourAdjust(G(r), r.m, Arg(r, 0), Arg(r, 1), Arg(r, 2), Arg(r, 3), Arg(r, 4), Arg(r, 5),
                    Arg(r, 6), Arg(r, 7), Arg(r, 8));
     }},
    {0x511, "gradient", 6, BLOCK,
     [](vm::Request& r) {
       GradientSquare(G(r), r.m, Arg(r, 0), Arg(r, 1), Arg(r, 2), Arg(r, 3), Arg(r, 4), r.a[5]);
     }},
    {0x512, "ellipse", 7, BLOCK,
     [](vm::Request& r) {
       DrawEllipse(G(r), r.m, Arg(r, 0), Arg(r, 1), Arg(r, 2), Arg(r, 3), Arg(r, 4), r.a[5],
                   r.a[6]);
     }},
    {0x513, "new surface", 2, BLOCK,
     [](vm::Request& r) {
       vm::SetResult(r.m, static_cast<uint32_t>(CreateSurface(r.m, Arg(r, 0), Arg(r, 1))));
     }},
};

}  // namespace

void AddGraphicsRequests(vm::RequestTable& t, Graphics& g) {
  vm::AddRequests(t, kRows, &g);
}

}  // namespace orvo::gfx

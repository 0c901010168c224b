// Loading picture files into new surfaces, saving surfaces to files, and the two graphics
// rows that reach them.
#include <climits>
#include <cstring>

#include "gfx/picture.h"
#include "vm/machine.h"
#include "vm/memory.h"
#include "vm/request.h"
#include "vm/requests.h"
#include "vm/sys.h"

namespace orvo::gfx {

namespace {

// Bytes the signature test reads; shorter files are no pictures.
constexpr size_t kSignatureBytes = 20;
constexpr uint8_t kPngSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

std::FILE* Open(Graphics& g, std::string_view name, const char* mode) {
  return g.openFile ? g.openFile(name, mode) : nullptr;
}

// A picture can be no larger than the heap that has to hold its surface.
uint64_t LargestPicture(const vm::Machine& m) {
  return m.heap.heapSize < INT32_MAX ? m.heap.heapSize : INT32_MAX;
}

void SwapRedAndBlue(uint8_t* pixels, size_t bytes) {
  for (size_t i = 0; i + 3 < bytes; i += 4) std::swap(pixels[i], pixels[i + 2]);
}

bool SaveBmp(Graphics& g, const Slot& s, std::string_view name) {
  std::FILE* f = Open(g, name, "wb");
  if (!f) return false;
  const std::vector<uint8_t> header = BmpHeader(s.width, s.height);
  bool ok = std::fwrite(header.data(), 1, header.size(), f) == header.size();
  const size_t row = size_t(s.width) * 4;
  for (int32_t y = s.height - 1; ok && y >= 0 && row > 0; --y)
    ok = std::fwrite(s.pixels + size_t(y) * size_t(s.stride), 1, row, f) == row;
  // Closing is where a replaced file is committed: its failure is the save's failure.
  if (std::fclose(f) != 0) ok = false;
  return ok;
}

bool SavePng(Graphics& g, const Slot& s, std::string_view name) {
  // libspng takes the pixels in the file's byte order: swapped in place for the encoding
  // and back at once, so the surface is unchanged afterwards.
  const size_t bytes = size_t(s.stride) * size_t(s.height);
  std::vector<uint8_t> png;
  SwapRedAndBlue(s.pixels, bytes);
  const bool encoded = s.stride == s.width * 4 && EncodePng(s.pixels, s.width, s.height, png);
  SwapRedAndBlue(s.pixels, bytes);
  if (!encoded) return false;
  std::FILE* f = Open(g, name, "wb");
  if (!f) return false;
  bool ok = std::fwrite(png.data(), 1, png.size(), f) == png.size();
  if (std::fclose(f) != 0) ok = false;
  return ok;
}

}  // namespace

int32_t LoadPicture(Graphics& g, vm::Machine& m, std::string_view name) {
  std::FILE* f = Open(g, name, "rb");
  if (!f) return 0;
  uint8_t signature[kSignatureBytes];
  Picture picture;
  bool ok = std::fread(signature, 1, sizeof signature, f) == sizeof signature &&
            std::fseek(f, 0, SEEK_SET) == 0;
  if (ok && signature[0] == 'B' && signature[1] == 'M')
    ok = DecodeBmp(f, picture, LargestPicture(m));
  else if (ok && std::memcmp(signature, kPngSignature, sizeof kPngSignature) == 0)
    ok = DecodePng(f, picture, LargestPicture(m));
  else
    ok = false;
  std::fclose(f);
  if (!ok) return 0;
  const int32_t handle = CreateSurface(m, picture.width, picture.height);
  if (m.Fatal() || handle == 0) return 0;  // the heap could not hold it and said so
  if (!StartDST(g, m, handle)) return 0;
  const Slot& d = g.dst;
  const size_t row = size_t(picture.width) * 4;
  for (int32_t y = 0; y < picture.height; ++y)
    std::memcpy(d.pixels + size_t(y) * size_t(d.stride), picture.bgra.data() + size_t(y) * row,
                row);
  EndDST(g, m);
  return handle;
}

int32_t SavePicture(Graphics& g, vm::Machine& m, int32_t surface, std::string_view name,
                    int32_t format) {
  if (format != PICTURE_BMP && format != PICTURE_PNG) return 0;
  if (!StartSRC(g, m, surface)) return 0;
  const bool ok = format == PICTURE_BMP ? SaveBmp(g, g.src, name) : SavePng(g, g.src, name);
  EndSRC(g, m);
  return ok ? 1 : 0;
}

namespace {

void Load(vm::Request& r) {
  std::string_view name;
  if (!vm::RequestString(r.m, r.a[0], name)) return;
  vm::SetResult(r.m, static_cast<uint32_t>(LoadPicture(vm::ServiceOf<Graphics>(r), r.m, name)));
}

void Save(vm::Request& r) {
  std::string_view name;
  if (!vm::RequestString(r.m, r.a[1], name)) return;
  const int32_t surface = static_cast<int32_t>(r.a[0]);
  const int32_t format = static_cast<int32_t>(r.a[2]);
  vm::SetResult(r.m, static_cast<uint32_t>(
                         SavePicture(vm::ServiceOf<Graphics>(r), r.m, surface, name, format)));
}

constexpr vm::RequestRow kRows[] = {
    {0x502, "load picture", 1, vm::ArgCheck::BLOCK, Load},
    {0x509, "save picture", 3, vm::ArgCheck::BLOCK, Save},
};

}  // namespace

void AddPictureRequests(vm::RequestTable& t, Graphics& g) {
  vm::AddRequests(t, kRows, &g);
}

}  // namespace orvo::gfx

// Picture files: uncompressed Windows BMP (24 and 32 bits, read and written here) and PNG
// (through libspng), loaded into new surfaces and saved from surfaces. Rows 2 and 9 of the
// graphics group. Files are opened through Graphics::openFile, the runtime's overlay of
// the program's folders.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "gfx/surface.h"

namespace orvo::gfx {

inline constexpr int32_t PICTURE_BMP = 0;
inline constexpr int32_t PICTURE_PNG = 1;

inline constexpr size_t BMP_HEADER_SIZE = 54;

// A decoded picture in surface order: rows top-down, bytes blue, green, red, alpha.
struct Picture {
  int32_t width = 0, height = 0;
  std::vector<uint8_t> bgra;
};

// Decoders for an open file positioned at its start. maxBytes bounds width × height × 4:
// a picture larger than any surface could be is refused before anything is allocated.
bool DecodeBmp(std::FILE* file, Picture& out, uint64_t maxBytes);
bool DecodePng(std::FILE* file, Picture& out, uint64_t maxBytes);

// The 54-byte header and bottom-up rows of a 32-bit BMP of packed BGRA rows.
std::vector<uint8_t> BmpHeader(int32_t width, int32_t height);
// PNG (8-bit RGBA, no interlace) of packed RGBA rows, encoded into memory.
bool EncodePng(const uint8_t* rgba, int32_t width, int32_t height, std::vector<uint8_t>& png);

// Load picture: a new surface, or 0 when the file is missing, unreadable or neither a
// usable BMP nor a PNG.
int32_t LoadPicture(Graphics& g, vm::Machine& m, std::string_view name);
// Save picture as BMP (format 0) or PNG (format 1): 1 when every byte was written. Any
// other format fails without touching the file system.
int32_t SavePicture(Graphics& g, vm::Machine& m, int32_t surface, std::string_view name,
                    int32_t format);

// A screenshot: BGRA rows of the given stride written as an opaque PNG (the window shows
// the pixels without their alpha). The file at path is replaced only when the whole new
// picture has been written.
bool WritePng(const std::string& path, const uint8_t* bgra, int32_t width, int32_t height,
              int32_t stride);

// Adds the load and save picture rows of the graphics group, served by g.
void AddPictureRequests(vm::RequestTable& t, Graphics& g);

}  // namespace orvo::gfx

// Picture files on disk: BMP written and read by the runtime, PNG through libspng, BMP
// files written by SDL, and PNG files built here byte by byte (stored and zlib-compressed
// deflate, every row filter, a palette, interlacing) as other writers make them.
#include "gfx/picture.h"

#include <SDL.h>
#include <spng.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/gfx/gfx_test_support.h"

namespace orvo::gfx::test {
namespace {

// ---- Files ----

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void Put16(std::string& s, size_t at, uint32_t v) {
  s[at] = char(v & 0xFF);
  s[at + 1] = char((v >> 8) & 0xFF);
}
void Put32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = char((v >> (8 * i)) & 0xFF);
}
uint32_t Get32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | uint8_t(s[at + i]);
  return v;
}

// A BMP as other programs write it: the 14-byte header, a 40-byte information header,
// then rows bottom-up (or top-down for a negative height), each padded to rowLength.
struct BmpLayout {
  int32_t width = 3, height = 2;
  uint16_t bits = 24;
  uint32_t compression = 0;
  uint32_t imageSizeField = 0;  // 0: written as 0
  int64_t rowLength = -1;       // -1: padded to whole words
  bool topDown = false;
};

std::string MakeBmp(const BmpLayout& b, const std::vector<uint32_t>& topDownPixels) {
  const int32_t h = b.height;
  const size_t bpp = b.bits / 8;
  const size_t row = b.rowLength >= 0 ? size_t(b.rowLength) : (b.width * bpp + 3) / 4 * 4;
  std::string s(54 + row * size_t(h), '\0');
  s[0] = 'B';
  s[1] = 'M';
  Put32(s, 2, uint32_t(s.size()));
  Put32(s, 10, 54);
  Put32(s, 14, 40);
  Put32(s, 18, uint32_t(b.width));
  Put32(s, 22, uint32_t(b.topDown ? -h : h));
  Put16(s, 26, 1);
  Put16(s, 28, b.bits);
  Put32(s, 30, b.compression);
  Put32(s, 34, b.imageSizeField);
  for (int32_t y = 0; y < h; ++y) {
    const size_t fileRow = b.topDown ? size_t(y) : size_t(h - 1 - y);
    for (int32_t x = 0; x < b.width; ++x) {
      const uint32_t p = topDownPixels[size_t(y) * size_t(b.width) + size_t(x)];
      for (size_t c = 0; c < bpp; ++c)
        s[54 + fileRow * row + size_t(x) * bpp + c] = char((p >> (8 * c)) & 0xFF);
    }
  }
  return s;
}

// ---- A PNG writer of our own: stored deflate, explicit filters ----

uint32_t Crc32(const std::string& bytes) {
  uint32_t c = 0xFFFFFFFFu;
  for (unsigned char b : bytes) {
    c ^= b;
    for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
  }
  return c ^ 0xFFFFFFFFu;
}

uint32_t Adler32(const std::string& bytes) {
  uint32_t a = 1, b = 0;
  for (unsigned char c : bytes) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  return b << 16 | a;
}

std::string BigEndian(uint32_t v) {
  return {char(v >> 24), char((v >> 16) & 0xFF), char((v >> 8) & 0xFF), char(v & 0xFF)};
}

std::string Chunk(const std::string& type, const std::string& data) {
  return BigEndian(uint32_t(data.size())) + type + data + BigEndian(Crc32(type + data));
}

// zlib stream of stored (uncompressed) deflate blocks.
std::string Stored(const std::string& raw) {
  std::string z = "\x78\x01";
  size_t at = 0;
  do {
    const size_t n = std::min<size_t>(raw.size() - at, 65535);
    const bool last = at + n == raw.size();
    z += char(last ? 1 : 0);
    z += char(n & 0xFF);
    z += char(n >> 8);
    z += char(~n & 0xFF);
    z += char((~n >> 8) & 0xFF);
    z += raw.substr(at, n);
    at += n;
  } while (at < raw.size());
  return z + BigEndian(Adler32(raw));
}

// zlib stream compressed by zlib itself at its best level.
std::string Compressed(const std::string& raw) {
  uLongf size = compressBound(uLong(raw.size()));
  std::string z(size, '\0');
  const int r = compress2(reinterpret_cast<Bytef*>(z.data()), &size,
                          reinterpret_cast<const Bytef*>(raw.data()), uLong(raw.size()), 9);
  EXPECT_EQ(r, Z_OK);
  z.resize(size);
  return z;
}

int Paeth(int a, int b, int c) {
  const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Rows of bpp-byte pixels, each row filtered with filters[y % filters.size()].
std::string Filtered(const std::vector<std::string>& rows, size_t bpp,
                     const std::vector<int>& filters) {
  std::string out;
  for (size_t y = 0; y < rows.size(); ++y) {
    const int f = filters[y % filters.size()];
    out += char(f);
    const std::string& r = rows[y];
    for (size_t i = 0; i < r.size(); ++i) {
      const int x = uint8_t(r[i]);
      const int a = i >= bpp ? uint8_t(r[i - bpp]) : 0;
      const int b = y > 0 ? uint8_t(rows[y - 1][i]) : 0;
      const int c = y > 0 && i >= bpp ? uint8_t(rows[y - 1][i - bpp]) : 0;
      int predicted = 0;
      if (f == 1) predicted = a;
      if (f == 2) predicted = b;
      if (f == 3) predicted = (a + b) / 2;
      if (f == 4) predicted = Paeth(a, b, c);
      out += char((x - predicted) & 0xFF);
    }
  }
  return out;
}

// The seven passes of Adam7 interlacing: first column and row, then the steps.
constexpr int kAdam7[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                              {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

// The filtered image data of an interlaced picture: each pass a small picture of its own,
// its rows filtered in turn with every filter type. pixels are rows of bpp-byte pixels.
std::string Interlaced(const std::vector<std::string>& pixels, uint32_t w, size_t bpp) {
  std::string out;
  int filter = 0;
  for (const auto& [x0, y0, dx, dy] : kAdam7) {
    std::vector<std::string> rows;
    for (uint32_t y = uint32_t(y0); y < pixels.size(); y += uint32_t(dy)) {
      std::string r;
      for (uint32_t x = uint32_t(x0); x < w; x += uint32_t(dx)) r += pixels[y].substr(x * bpp, bpp);
      if (!r.empty()) rows.push_back(r);
    }
    if (rows.empty()) continue;
    std::vector<int> filters;
    for (size_t i = 0; i < rows.size(); ++i) filters.push_back(filter++ % 5);
    out += Filtered(rows, bpp, filters);
  }
  return out;
}

std::string Png(uint32_t w, uint32_t h, uint8_t colourType, const std::string& idatRaw,
                const std::string& extraChunks = "", bool compressed = false,
                bool interlaced = false) {
  std::string ihdr = BigEndian(w) + BigEndian(h) +
                     std::string{8, char(colourType), 0, 0, char(interlaced ? 1 : 0)};
  const std::string z = compressed ? Compressed(idatRaw) : Stored(idatRaw);
  // Split over two IDAT chunks, as writers with a fixed chunk size do.
  const size_t half = z.size() / 2;
  return std::string("\x89PNG\r\n\x1a\n", 8) + Chunk("IHDR", ihdr) + extraChunks +
         Chunk("IDAT", z.substr(0, half)) + Chunk("IDAT", z.substr(half)) + Chunk("IEND", "");
}

// libspng's own reading of a file, as RGBA8.
bool SpngDecode(const std::string& bytes, uint32_t& w, uint32_t& h, std::vector<uint8_t>& rgba) {
  spng_ctx* ctx = spng_ctx_new(0);
  bool ok = spng_set_png_buffer(ctx, bytes.data(), bytes.size()) == 0;
  spng_ihdr ihdr{};
  size_t size = 0;
  ok = ok && spng_get_ihdr(ctx, &ihdr) == 0 &&
       spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size) == 0;
  if (ok) {
    rgba.resize(size);
    ok = spng_decode_image(ctx, rgba.data(), size, SPNG_FMT_RGBA8, 0) == 0;
    w = ihdr.width;
    h = ihdr.height;
  }
  spng_ctx_free(ctx);
  return ok;
}

// ---- The fixture ----

class PictureTest : public GfxTest {
 protected:
  std::string folder;
  int opens = 0;

  void SetUp() override {
    GfxTest::SetUp();
    std::string pattern = (std::filesystem::temp_directory_path() / "orvo-pic-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder = pattern + "/";
    g.openFile = [this](std::string_view name, const char* mode) {
      ++opens;
      return std::fopen((folder + std::string(name)).c_str(), mode);
    };
  }
  void TearDown() override { std::filesystem::remove_all(folder); }

  std::string Path(const std::string& name) { return folder + name; }
  int32_t Load(const std::string& name) { return LoadPicture(g, vm.m, name); }
  // Heap blocks in use: a failed load must leave none behind.
  int Allocated() {
    int n = 0;
    for (int32_t h = vm.m.heap.listHead[vm::LIST_ALLOCATED]; h != vm::LIST_END;
         h = vm.m.heap.records[uint32_t(h)].next)
      ++n;
    return n;
  }
  std::vector<uint32_t> Pixels(int32_t s) {
    std::vector<uint32_t> out;
    for (int y = 0; y < Height(s); ++y)
      for (int x = 0; x < Width(s); ++x) out.push_back(Get(s, x, y));
    return out;
  }
};

// ---- BMP ----

TEST_F(PictureTest, BmpSavesTheTableHeaderAndBottomUpRows) {
  std::mt19937 rng(7);
  const int32_t s = RandomSurface(5, 3, rng);
  const std::vector<uint32_t> before = Pixels(s);
  ASSERT_EQ(SavePicture(g, vm.m, s, "a.bmp", PICTURE_BMP), 1);
  ExpectIdle();
  const std::string f = ReadFile(Path("a.bmp"));
  ASSERT_EQ(f.size(), 54u + 3 * 20);
  EXPECT_EQ(f.substr(0, 2), "BM");
  const uint32_t fields[][2] = {{2, 114}, {6, 0},   {10, 54},   {14, 40},   {18, 5}, {22, 3},
                                {30, 0},  {34, 60}, {38, 2947}, {42, 2947}, {46, 0}, {50, 0}};
  for (const auto& [at, value] : fields) EXPECT_EQ(Get32(f, at), value) << "offset " << at;
  EXPECT_EQ(uint8_t(f[26]) | uint8_t(f[27]) << 8, 1);
  EXPECT_EQ(uint8_t(f[28]) | uint8_t(f[29]) << 8, 32);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x)
      EXPECT_EQ(Get32(f, 54 + size_t(2 - y) * 20 + size_t(x) * 4), Get(s, x, y));

  const int32_t t = Load("a.bmp");
  ASSERT_GT(t, 0);
  EXPECT_NE(t, s);
  EXPECT_EQ(Width(t), 5);
  EXPECT_EQ(Height(t), 3);
  EXPECT_EQ(Pixels(t), before) << "alpha included";
  EXPECT_EQ(Pixels(s), before);
  ExpectIdle();
}

TEST_F(PictureTest, BmpLoadsThe24And32BitLayouts) {
  const std::vector<uint32_t> px = {0x00112233, 0x00445566, 0x00778899,
                                    0x00AABBCC, 0x00DDEEFF, 0x00010203};
  std::vector<uint32_t> opaque;
  for (uint32_t p : px) opaque.push_back(p | 0xFF000000u);

  BmpLayout b;  // 3 × 2 at 24 bits: 9 bytes a row, padded to 12
  WriteFile(Path("24.bmp"), MakeBmp(b, px));
  int32_t s = Load("24.bmp");
  ASSERT_GT(s, 0);
  EXPECT_EQ(Pixels(s), opaque);

  b.imageSizeField = 24;
  WriteFile(Path("24s.bmp"), MakeBmp(b, px));
  EXPECT_EQ(Pixels(Load("24s.bmp")), opaque);

  // Rows longer than needed (an image size of 16 per row): the padding is skipped.
  b.imageSizeField = 32;
  b.rowLength = 16;
  WriteFile(Path("24p.bmp"), MakeBmp(b, px));
  EXPECT_EQ(Pixels(Load("24p.bmp")), opaque);

  const std::vector<uint32_t> alpha = {0x80112233, 0x00445566, 0xFF778899,
                                       0x01AABBCC, 0x7FDDEEFF, 0xFE010203};
  BmpLayout c;
  c.bits = 32;  // an image size of 0: rows of width × 4 bytes
  WriteFile(Path("32.bmp"), MakeBmp(c, alpha));
  EXPECT_EQ(Pixels(Load("32.bmp")), alpha);

  c.topDown = true;
  WriteFile(Path("td.bmp"), MakeBmp(c, alpha));
  EXPECT_EQ(Pixels(Load("td.bmp")), alpha) << "a negative height is read top-down";
  ExpectIdle();
}

TEST_F(PictureTest, BmpVariantsAndLiesAreRefused) {
  const std::vector<uint32_t> px(6, 0x00A0B0C0);
  const int before = Allocated();
  auto refused = [&](const std::string& bytes, const char* what) {
    WriteFile(Path("bad.bmp"), bytes);
    EXPECT_EQ(Load("bad.bmp"), 0) << what;
  };
  BmpLayout b;
  b.compression = 3;
  refused(MakeBmp(b, px), "bit fields");
  b = BmpLayout{};
  b.bits = 8;
  refused(MakeBmp(b, px), "8 bits");
  b.bits = 16;
  refused(MakeBmp(b, px), "16 bits");
  b = BmpLayout{};
  const std::string good = MakeBmp(b, px);
  refused(good.substr(0, 19), "fewer than 20 bytes");
  refused(good.substr(0, good.size() - 1), "the header's file size is more than there is");
  std::string s = good;
  Put32(s, 2, 54 + 12);  // file size claims one row of two
  refused(s, "pixel data missing for a row");
  s = good;
  Put32(s, 34, 8);  // image size 8: rows of 4 bytes for 9 bytes of pixels
  refused(s, "rows shorter than their pixels");
  s = good;
  Put32(s, 18, 0);
  refused(s, "width 0");
  s = good;
  Put32(s, 22, 0);
  refused(s, "height 0");
  s = good;
  Put32(s, 18, 0x7FFFFFFF);
  Put32(s, 22, 0x7FFFFFFF);
  refused(s, "a size no surface can be");
  s = good;
  Put32(s, 22, 0x80000000u);
  refused(s, "the most negative height");
  s = good;
  Put32(s, 10, 30);
  refused(s, "pixel data inside the information header");
  s = good;
  Put32(s, 10, 0xFFFFFFF0u);
  refused(s, "pixel data offset beyond the file");
  s = good;
  Put32(s, 14, 12);
  refused(s, "an old core header");
  EXPECT_EQ(Allocated(), before) << "no surface is left behind";
  EXPECT_EQ(Load("absent.bmp"), 0);
  WriteFile(Path("text.txt"), "just some text, not a picture at all");
  EXPECT_EQ(Load("text.txt"), 0);
  ExpectIdle();
}

// BMP files as SDL writes them: 24 bits with padded rows; 32 bits with alpha in the old
// layout (information header of 40 bytes, no compression) when asked for, and otherwise
// the newer layout with bit fields, which is not read.
TEST_F(PictureTest, BmpsWrittenBySdlLoadWithTheirPixels) {
  constexpr int w = 5, h = 3;  // 15 bytes a row at 24 bits: one byte of padding
  auto pixel = [](int x, int y) {
    return Px(uint32_t(40 * x + 7), uint32_t(90 * y + 3), uint32_t(11 * x * y + 100),
              uint32_t(x * 60 + y));
  };
  auto save = [&](uint32_t format, const std::string& name) {
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormat(0, w, h, 32, format);
    ASSERT_NE(surface, nullptr);
    SDL_SetSurfaceBlendMode(surface, SDL_BLENDMODE_NONE);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint32_t p = pixel(x, y);
        const uint32_t mapped = SDL_MapRGBA(surface->format, uint8_t(Ch(p, 2)), uint8_t(Ch(p, 1)),
                                            uint8_t(Ch(p, 0)), uint8_t(Ch(p, 3)));
        std::memcpy(static_cast<uint8_t*>(surface->pixels) + y * surface->pitch + x * 4, &mapped,
                    4);
      }
    SDL_Surface* saved = surface;
    if (format == SDL_PIXELFORMAT_RGB888) {  // SDL writes 24 bits for a surface without alpha
      saved = SDL_ConvertSurfaceFormat(surface, SDL_PIXELFORMAT_BGR24, 0);
      ASSERT_NE(saved, nullptr);
    }
    ASSERT_EQ(SDL_SaveBMP(saved, Path(name).c_str()), 0) << SDL_GetError();
    if (saved != surface) SDL_FreeSurface(saved);
    SDL_FreeSurface(surface);
  };

  save(SDL_PIXELFORMAT_RGB888, "sdl24.bmp");
  const std::string f24 = ReadFile(Path("sdl24.bmp"));
  ASSERT_GE(f24.size(), 54u);
  EXPECT_EQ(uint8_t(f24[28]), 24);
  EXPECT_EQ(Get32(f24, 30), 0u) << "no compression";
  std::vector<uint32_t> opaque;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) opaque.push_back(pixel(x, y) | 0xFF000000u);
  const int32_t a = Load("sdl24.bmp");
  ASSERT_GT(a, 0);
  EXPECT_EQ(Width(a), w);
  EXPECT_EQ(Height(a), h);
  EXPECT_EQ(Pixels(a), opaque);

  std::vector<uint32_t> withAlpha;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) withAlpha.push_back(pixel(x, y));
  SDL_SetHint(SDL_HINT_BMP_SAVE_LEGACY_FORMAT, "1");
  save(SDL_PIXELFORMAT_ARGB8888, "sdl32.bmp");
  SDL_SetHint(SDL_HINT_BMP_SAVE_LEGACY_FORMAT, "0");
  const std::string f32 = ReadFile(Path("sdl32.bmp"));
  ASSERT_GE(f32.size(), 54u);
  EXPECT_EQ(Get32(f32, 14), 40u);
  EXPECT_EQ(uint8_t(f32[28]), 32);
  const int32_t b = Load("sdl32.bmp");
  ASSERT_GT(b, 0);
  EXPECT_EQ(Pixels(b), withAlpha) << "alpha kept";

  save(SDL_PIXELFORMAT_ARGB8888, "sdlv4.bmp");
  const std::string v4 = ReadFile(Path("sdlv4.bmp"));
  ASSERT_GE(v4.size(), 54u);
  EXPECT_EQ(Get32(v4, 30), 3u) << "bit fields";
  EXPECT_EQ(Load("sdlv4.bmp"), 0);
  ExpectIdle();
}

// ---- PNG ----

TEST_F(PictureTest, PngRoundTripLeavesTheSurfaceUnchanged) {
  std::mt19937 rng(11);
  const int32_t s = RandomSurface(9, 6, rng);
  const std::vector<uint32_t> before = Pixels(s);
  ASSERT_EQ(SavePicture(g, vm.m, s, "p.png", PICTURE_PNG), 1);
  EXPECT_EQ(Pixels(s), before);
  ExpectIdle();

  uint32_t w = 0, h = 0;
  std::vector<uint8_t> rgba;
  ASSERT_TRUE(SpngDecode(ReadFile(Path("p.png")), w, h, rgba));
  ASSERT_EQ(w, 9u);
  ASSERT_EQ(h, 6u);
  for (size_t i = 0; i < before.size(); ++i) {
    const uint32_t p = before[i];
    EXPECT_EQ(rgba[4 * i], Ch(p, 2));
    EXPECT_EQ(rgba[4 * i + 1], Ch(p, 1));
    EXPECT_EQ(rgba[4 * i + 2], Ch(p, 0));
    EXPECT_EQ(rgba[4 * i + 3], Ch(p, 3));
  }
  const int32_t t = Load("p.png");
  ASSERT_GT(t, 0);
  EXPECT_EQ(Pixels(t), before);
  ExpectIdle();

  // The screen saves too.
  for (int y = 0; y < SCREEN_H; ++y)
    for (int x = 0; x < SCREEN_W; ++x) Set(0, x, y, Px(x * 3, y * 5, 200, 255));
  ASSERT_EQ(SavePicture(g, vm.m, SURFACE_SCREEN, "screen.png", PICTURE_PNG), 1);
  const int32_t u = Load("screen.png");
  EXPECT_EQ(Pixels(u), Pixels(SURFACE_SCREEN));
}

TEST_F(PictureTest, PngsFromAnotherWriterDecodeToTheirPixels) {
  // 4 × 5 RGB with every filter type, rows of distinct colours.
  std::vector<std::string> rows;
  std::vector<uint32_t> want;
  for (int y = 0; y < 5; ++y) {
    std::string r;
    for (int x = 0; x < 4; ++x) {
      const uint8_t red = uint8_t(x * 60 + y), green = uint8_t(255 - y * 40),
                    blue = uint8_t(x * y * 17);
      r += {char(red), char(green), char(blue)};
      want.push_back(Px(blue, green, red, 255));
    }
    rows.push_back(r);
  }
  const std::string rgb = Png(4, 5, 2, Filtered(rows, 3, {0, 1, 2, 3, 4}));
  WriteFile(Path("rgb.png"), rgb);
  int32_t s = Load("rgb.png");
  ASSERT_GT(s, 0);
  EXPECT_EQ(Width(s), 4);
  EXPECT_EQ(Height(s), 5);
  EXPECT_EQ(Pixels(s), want);

  // Damaged checksums are used regardless.
  std::string damaged = rgb;
  damaged[damaged.size() - 13] ^= 0x55;  // the last IDAT chunk's CRC
  WriteFile(Path("crc.png"), damaged);
  EXPECT_EQ(Pixels(Load("crc.png")), want);

  // A palette with transparency: indices 0..2, the middle one half transparent.
  const std::string plte = Chunk("PLTE", std::string("\xFF\x00\x00\x00\xFF\x00\x00\x00\xFF", 9));
  const std::string trns = Chunk("tRNS", std::string("\xFF\x80", 2));
  const std::vector<std::string> indexRows = {std::string("\x00\x01\x02", 3),
                                              std::string("\x02\x01\x00", 3)};
  WriteFile(Path("pal.png"), Png(3, 2, 3, Filtered(indexRows, 1, {0, 2}), plte + trns));
  s = Load("pal.png");
  ASSERT_GT(s, 0);
  const uint32_t red = Px(0, 0, 255, 255), green = Px(0, 255, 0, 0x80), blue = Px(255, 0, 0, 255);
  EXPECT_EQ(Pixels(s), (std::vector<uint32_t>{red, green, blue, blue, green, red}));

  // Truncated data or a broken stream give 0.
  const int before = Allocated();
  WriteFile(Path("cut.png"), rgb.substr(0, rgb.size() - 40));
  EXPECT_EQ(Load("cut.png"), 0);
  std::string huge = rgb;
  huge.replace(16, 8, BigEndian(30000) + BigEndian(30000));  // 3.6 GB of pixels, 60 bytes of data
  WriteFile(Path("huge.png"), huge);
  EXPECT_EQ(Load("huge.png"), 0);
  EXPECT_EQ(Allocated(), before);
  ExpectIdle();
}

TEST_F(PictureTest, CompressedAndInterlacedPngsDecodeToTheirPixels) {
  // 13 × 11 RGBA, so that every interlacing pass has pixels and some are cut at the edge.
  constexpr uint32_t w = 13, h = 11;
  std::vector<std::string> rgba, greyAlpha;
  std::vector<uint32_t> want, wantGrey;
  for (uint32_t y = 0; y < h; ++y) {
    std::string r, g2;
    for (uint32_t x = 0; x < w; ++x) {
      const uint8_t red = uint8_t(x * 19 + y), green = uint8_t(y * 23), blue = uint8_t(x * y * 5),
                    alpha = uint8_t(255 - x * 7 - y * 3);
      r += {char(red), char(green), char(blue), char(alpha)};
      want.push_back(Px(blue, green, red, alpha));
      const uint8_t grey = uint8_t((x + y) * 11);
      g2 += {char(grey), char(alpha)};
      wantGrey.push_back(Px(grey, grey, grey, alpha));
    }
    rgba.push_back(r);
    greyAlpha.push_back(g2);
  }
  const std::string packed = Filtered(rgba, 4, {4, 3, 2, 1, 0});
  const std::string z = Png(w, h, 6, packed, "", true);
  EXPECT_LT(z.size(), packed.size()) << "really compressed";
  WriteFile(Path("z.png"), z);
  int32_t s = Load("z.png");
  ASSERT_GT(s, 0);
  EXPECT_EQ(Width(s), int(w));
  EXPECT_EQ(Height(s), int(h));
  EXPECT_EQ(Pixels(s), want);

  WriteFile(Path("adam7.png"), Png(w, h, 6, Interlaced(rgba, w, 4), "", true, true));
  s = Load("adam7.png");
  ASSERT_GT(s, 0);
  EXPECT_EQ(Pixels(s), want);

  WriteFile(Path("grey.png"), Png(w, h, 4, Filtered(greyAlpha, 2, {1, 4}), "", true));
  s = Load("grey.png");
  ASSERT_GT(s, 0);
  EXPECT_EQ(Pixels(s), wantGrey);

  // A compressed stream cut short is no picture.
  const int before = Allocated();
  std::string cut = Png(w, h, 6, packed, "", true);
  const size_t idat = cut.find("IDAT") - 4;
  const uint32_t length = uint32_t(uint8_t(cut[idat])) << 24 |
                          uint32_t(uint8_t(cut[idat + 1])) << 16 |
                          uint32_t(uint8_t(cut[idat + 2])) << 8 | uint8_t(cut[idat + 3]);
  cut = cut.substr(0, idat + 8 + length + 4) + Chunk("IEND", "");  // the second IDAT dropped
  WriteFile(Path("short.png"), cut);
  EXPECT_EQ(Load("short.png"), 0);
  EXPECT_EQ(Allocated(), before);
  ExpectIdle();
}

// ---- Saving ----

TEST_F(PictureTest, AnUnknownFormatTouchesNoFile) {
  const int32_t s = NewSurface(2, 2, 0xFF000000u);
  EXPECT_EQ(SavePicture(g, vm.m, s, "two.bin", 2), 0);
  EXPECT_EQ(SavePicture(g, vm.m, s, "minus.bin", -1), 0);
  EXPECT_EQ(opens, 0);
  EXPECT_FALSE(std::filesystem::exists(Path("two.bin")));
  ExpectIdle();
}

TEST_F(PictureTest, WriteFailuresAreReported) {
  const int32_t s = NewSurface(16, 16, 0xFF336699u);
  g.openFile = [](std::string_view, const char* mode) { return std::fopen("/dev/full", mode); };
  EXPECT_EQ(SavePicture(g, vm.m, s, "x", PICTURE_BMP), 0);
  EXPECT_EQ(SavePicture(g, vm.m, s, "x", PICTURE_PNG), 0);
  g.openFile = [](std::string_view, const char*) { return nullptr; };
  EXPECT_EQ(SavePicture(g, vm.m, s, "x", PICTURE_BMP), 0);
  EXPECT_EQ(Pixels(s), std::vector<uint32_t>(256, 0xFF336699u));
  g.openFile = nullptr;
  EXPECT_EQ(Load("x"), 0);
  ExpectIdle();
}

TEST_F(PictureTest, ScreenshotsAreOpaquePngs) {
  // Two rows of three pixels in rows of 16 bytes (4 of padding).
  std::vector<uint8_t> bgra(32, 0xEE);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      uint8_t* p = &bgra[size_t(y) * 16 + size_t(x) * 4];
      p[0] = uint8_t(10 * x), p[1] = uint8_t(20 * y), p[2] = 99, p[3] = 0;
    }
  const std::string path = Path("shot.png");
  WriteFile(path, "old");
  ASSERT_TRUE(WritePng(path, bgra.data(), 3, 2, 16));
  uint32_t w = 0, h = 0;
  std::vector<uint8_t> rgba;
  ASSERT_TRUE(SpngDecode(ReadFile(path), w, h, rgba));
  ASSERT_EQ(w * h, 6u);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      const uint8_t* p = &rgba[(size_t(y) * 3 + size_t(x)) * 4];
      EXPECT_EQ(p[0], 99);
      EXPECT_EQ(p[1], 20 * y);
      EXPECT_EQ(p[2], 10 * x);
      EXPECT_EQ(p[3], 255);
    }
  EXPECT_FALSE(WritePng(path, bgra.data(), 3, 2, 8)) << "a stride shorter than a row";
  EXPECT_FALSE(WritePng(Path("no/such/folder/x.png"), bgra.data(), 3, 2, 16));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                          std::filesystem::directory_iterator()),
            1);
}

// ---- The rows ----

TEST_F(PictureTest, RowsTwoAndNine) {
  const int32_t s = NewSurface(3, 3, 0x80402010u);
  const uint32_t name = At(256);
  std::memcpy(vm.m.mem + name, "r.bmp", 6);
  auto run = [&](uint32_t row, const std::vector<uint32_t>& words) {
    for (size_t i = 0; i < words.size(); ++i) vm::Store32(vm.m.mem + scratch + 4 * i, words[i]);
    vm::Store64(vm.m.mem + vm::HDR_RESULT, 0xAAAAAAAA55555555u);
    AddPictureRequests(vm.m.requests, g);
    vm::RunRequest(vm.m, 0x500 | row, scratch);
    return Result();
  };
  EXPECT_EQ(run(9, {uint32_t(s), name, 0}), 0xAAAAAAAA00000001u);
  const uint64_t loaded = run(2, {name});
  EXPECT_EQ(loaded >> 32, 0xAAAAAAAAu);
  const int32_t t = int32_t(uint32_t(loaded));
  ASSERT_GT(t, 0);
  EXPECT_EQ(Pixels(t), Pixels(s));
  EXPECT_EQ(run(9, {uint32_t(s), name, 2}), 0xAAAAAAAA00000000u);
  EXPECT_TRUE(Messages().empty());

  vm.m.mem[vm.m.memSize - 1] = 'x';
  run(2, {vm.m.memSize - 1});  // a name without its terminator
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_NE(Messages()[0].find("Bad memory address"), std::string::npos);
  EXPECT_NE(vm.m.hostFlags & vm::HOST_END_PROGRAM, 0u);
  ExpectIdle();
}

}  // namespace
}  // namespace orvo::gfx::test

// The debug file velda writes beside main.ove ("main.ovd"): the facts of its format,
// written once for velda's writer and the runtime's reader. docs/debug-file.md describes
// the same layout for other tools.
//
// Everything is little-endian. The file is a 64-byte header, then three sections of
// packed records, each placed by an (offset, count, bytes) triple of the header:
//   files   the source files, as named on velda's command line
//   lines   one entry per statement that put bytes into the image, by address
//   labels  every label, in definition order
// Records are packed with varints and deltas from the record before, so that the
// common case (the next statement on the next line) takes a byte or two.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orvo::debug_format {

inline constexpr char kFileName[] = "main.ovd";
inline constexpr char kMagic[4] = {'O', 'V', 'D', 'B'};
// Raised when a record or the header changes incompatibly; readers refuse other versions.
inline constexpr uint32_t kVersion = 1;

// Header fields (byte offsets).
inline constexpr uint32_t HDR_MAGIC = 0;
inline constexpr uint32_t HDR_VERSION = 4;
inline constexpr uint32_t HDR_BUILD_NUMBER = 8;  // the image's build number (header word 220)
inline constexpr uint32_t HDR_IMAGE_SIZE = 12;   // bytes of main.ove
inline constexpr uint32_t HDR_IMAGE_HASH = 16;   // ImageHash of main.ove, 64 bits
// Each section: offset (4 bytes), record count (4), byte count (4).
inline constexpr uint32_t HDR_FILES = 24;
inline constexpr uint32_t HDR_LINES = 36;
inline constexpr uint32_t HDR_LABELS = 48;
inline constexpr uint32_t SECTION_OFFSET = 0, SECTION_COUNT = 4, SECTION_BYTES = 8;
inline constexpr uint32_t HDR_RESERVED = 60;  // 4 bytes, written as zero
inline constexpr uint32_t kHeaderSize = 64;

// A varint is LEB128: seven bits a byte, lowest first, the top bit set on all but the
// last; at most five bytes (35 bits: a zigzag line delta needs 33), the others fit 32 bits.
inline constexpr uint32_t kMaxVarintBytes = 5;
inline constexpr uint32_t kMaxFiles = 128;  // a file index fits seven bits

// Small deltas of either sign as small numbers: 0, -1, 1, -2, ... as 0, 1, 2, 3, ...
constexpr uint64_t ZigZag(int64_t delta) {
  return delta < 0 ? (static_cast<uint64_t>(-delta) << 1) - 1 : static_cast<uint64_t>(delta) << 1;
}
constexpr int64_t UnZigZag(uint64_t v) {
  return (v & 1) ? -static_cast<int64_t>((v >> 1) + 1) : static_cast<int64_t>(v >> 1);
}

// File record: name length (varint), then the name's bytes.
inline constexpr uint32_t kMinFileRecord = 1;

// Line entry: bytes [address, address + length) come from one statement. A flags byte,
// then only the fields it names, in this order:
//   gap     varint  address minus the end of the entry before
//   length  varint  when LINE_LENGTH_BITS are 0 (else the length is those bits)
//   line    varint  zigzag: the line number minus (the one before + 1)
//   column  varint  1-based byte column of its first word
//   file    byte    index into the files
// A field left out keeps its default: no gap, the next line, the column and file of the
// entry before. Before the first entry: end 0, line 0, column 1, file 0.
inline constexpr uint8_t LINE_DATA = 0x01;     // else an instruction
inline constexpr uint8_t LINE_GAP = 0x02;
inline constexpr uint8_t LINE_JUMP = 0x04;     // the line is not the next one
inline constexpr uint8_t LINE_COLUMN = 0x08;
inline constexpr uint8_t LINE_FILE = 0x10;
inline constexpr uint32_t LINE_LENGTH_SHIFT = 5;  // bits 5-7: a length of 1 to 7
inline constexpr uint32_t kMaxShortLength = 7;
inline constexpr uint32_t kMinLineEntry = 1;

enum StatementKind : uint8_t {
  STATEMENT_INSTRUCTION = 1,
  STATEMENT_DATA = 2,  // numbers, strings, '&' words, alignment padding
};

// Label record: a flags byte, then
//   value   varint  zigzag: its value minus the value of the label before (0 first)
//   end     varint  when LABEL_HAS_END: a routine's length (its end minus its value, >= 1)
//   line    varint  zigzag: the line of its definition minus the one of the label before
//   column  varint  when LABEL_COLUMN: the column of its definition
//   file    byte    when LABEL_FILE: the file of its definition
// As for line entries, a field left out is that of the label before (column 1 and file 0
// before the first).
//   name    byte    its length, then its bytes
inline constexpr uint8_t LABEL_KIND_MASK = 0x07;  // a LabelKind
inline constexpr uint8_t LABEL_HAS_END = 0x08;
inline constexpr uint8_t LABEL_COLUMN = 0x10;
inline constexpr uint8_t LABEL_FILE = 0x20;
inline constexpr uint32_t kMaxLabelName = 255;
inline constexpr uint32_t kMinLabelRecord = 4;

enum LabelKind : uint8_t {
  LABEL_CODE = 1,      // in the code segment, followed by an instruction
  LABEL_DATA = 2,      // in the code segment, followed by data
  LABEL_ZERO = 3,      // in the zero segment
  LABEL_CONSTANT = 4,  // a value, not an address (velda defines none today)
};

// The identity of an image, 64 bits. Four lanes take the little-endian 64-bit words of
// the image in turn (word i to lane i mod 4), each word w as
//   lane = rotl(lane + w * K2, 31) * K1
// The bytes after the last whole word are taken one at a time into the result h, made
// from the lanes, as h = rotl(h ^ (byte * K5), 11) * K1. Four words a step keep four
// multiplications in flight, so hashing costs little next to reading the image.
namespace hash {
inline constexpr uint64_t K1 = 0x9E3779B185EBCA87ull, K2 = 0xC2B2AE3D27D4EB4Full,
                          K3 = 0x165667B19E3779F9ull, K5 = 0x27D4EB2F165667C5ull;
constexpr uint64_t Rotl(uint64_t v, int r) { return v << r | v >> (64 - r); }
constexpr uint64_t Word(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return v;
}
constexpr uint64_t Round(uint64_t lane, uint64_t word) { return Rotl(lane + word * K2, 31) * K1; }
}  // namespace hash

constexpr uint64_t ImageHash(const uint8_t* bytes, size_t size) {
  using namespace hash;
  uint64_t lane[4] = {K1 + K2, K2, 0, 0 - K1};
  size_t i = 0;
  for (; i + 32 <= size; i += 32)
    for (int k = 0; k < 4; ++k) lane[k] = Round(lane[k], Word(bytes + i + 8 * k));
  for (int k = 0; i + 8 <= size; i += 8, ++k) lane[k] = Round(lane[k], Word(bytes + i));
  uint64_t h = K3 ^ size;
  for (int k = 0; k < 4; ++k) h = Rotl(h ^ Round(0, lane[k]), 27) * K1 + K3;
  for (; i < size; ++i) h = Rotl(h ^ (bytes[i] * K5), 11) * K1;
  // Every bit of the result depends on every bit of the state.
  h ^= h >> 33;
  h *= K2;
  h ^= h >> 29;
  h *= K3;
  return h ^ (h >> 32);
}

}  // namespace orvo::debug_format

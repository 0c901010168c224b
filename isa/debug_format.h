// The debug file velda writes beside main.ove ("main.ovd"): the facts of its format,
// written once for velda's writer and the runtime's reader. docs/debug-file.md describes
// the same layout for other tools.
//
// Everything is little-endian. The file is a 64-byte header, then four sections, each
// placed by an (offset, count) pair of the header:
//   files   FileRecord  the source files, as named on velda's command line
//   lines   LineEntry   one per statement that put bytes into the image, by address
//   labels  LabelRecord every label, in definition order
//   strings bytes       the names the other records point into (no terminators)
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
inline constexpr uint32_t HDR_FILES = 24;       // offset, count
inline constexpr uint32_t HDR_LINES = 32;       // offset, count
inline constexpr uint32_t HDR_LINE_BYTES = 40;  // bytes of the line entries
inline constexpr uint32_t HDR_LABELS = 44;      // offset, count
inline constexpr uint32_t HDR_STRINGS = 52;     // offset, byte count
inline constexpr uint32_t HDR_RESERVED = 60;    // 4 bytes, written as zero
inline constexpr uint32_t kHeaderSize = 64;

// FileRecord, 8 bytes: the name as given on the command line, resolvable from the
// folder velda ran in.
inline constexpr uint32_t FILE_NAME = 0;  // string offset
inline constexpr uint32_t FILE_NAME_LENGTH = 4;
inline constexpr uint32_t kFileRecordSize = 8;

// LineEntry: bytes [address, address + length) come from one statement. Entries are
// in address order and packed, as a statement follows the one before it closely:
//   gap     varint  address minus the end of the statement before (0 for the first)
//   length  varint  at least 1
//   line    varint  zigzag: the 1-based line number minus the one before (0 for the first)
//   column  varint  1-based byte column of its first word
//   file    byte    index into the files << 1 | 1 for STATEMENT_DATA
// A varint is LEB128: seven bits a byte, lowest first, the top bit set on all but the
// last; at most five bytes (35 bits: a line delta needs 33), the others fit 32 bits.
inline constexpr uint32_t kMinLineEntry = 5;
inline constexpr uint32_t kMaxVarintBytes = 5;
inline constexpr uint32_t kMaxFiles = 128;  // the file index fits seven bits

// Small deltas of either sign as small numbers: 0, -1, 1, -2, ... as 0, 1, 2, 3, ...
constexpr uint64_t ZigZag(int64_t delta) {
  return delta < 0 ? (static_cast<uint64_t>(-delta) << 1) - 1 : static_cast<uint64_t>(delta) << 1;
}
constexpr int64_t UnZigZag(uint64_t v) {
  return (v & 1) ? -static_cast<int64_t>((v >> 1) + 1) : static_cast<int64_t>(v >> 1);
}

enum StatementKind : uint8_t {
  STATEMENT_INSTRUCTION = 1,
  STATEMENT_DATA = 2,  // numbers, strings, '&' words, alignment padding
};

// LabelRecord, 24 bytes.
inline constexpr uint32_t LABEL_VALUE = 0;  // its address (or value, for a constant)
inline constexpr uint32_t LABEL_END = 4;    // for a routine: the address after it; else 0
inline constexpr uint32_t LABEL_NAME = 8;   // string offset
inline constexpr uint32_t LABEL_LINE = 12;  // where it is defined
inline constexpr uint32_t LABEL_COLUMN = 16;       // 16 bits
inline constexpr uint32_t LABEL_FILE = 18;         // 8 bits
inline constexpr uint32_t LABEL_KIND = 19;         // 8 bits: a LabelKind
inline constexpr uint32_t LABEL_NAME_LENGTH = 20;  // 8 bits; 3 bytes reserved follow
inline constexpr uint32_t kLabelRecordSize = 24;

enum LabelKind : uint8_t {
  LABEL_CODE = 1,      // in the code segment, followed by an instruction
  LABEL_DATA = 2,      // in the code segment, followed by data
  LABEL_ZERO = 3,      // in the zero segment
  LABEL_CONSTANT = 4,  // a value, not an address (velda defines none today)
};

// The identity of an image: 64-bit FNV-1a over all its bytes.
constexpr uint64_t ImageHash(const uint8_t* bytes, size_t size) {
  uint64_t h = 0xCBF29CE484222325ull;
  for (size_t i = 0; i < size; ++i) {
    h ^= bytes[i];
    h *= 0x100000001B3ull;
  }
  return h;
}

}  // namespace orvo::debug_format

// Fixed sizes of the assembler. Everything is reserved once per Assembler;
// nothing grows while a pass runs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvo::velda {

inline constexpr uint32_t MAXCODEBLOCK = 2097152;  // bytes of code image
// A line may start while the image holds at most this much; the margin keeps
// one ordinary statement from reaching the end of the buffer.
inline constexpr uint32_t kCodeStartLimit = MAXCODEBLOCK - 1024;
inline constexpr uint32_t kMaxIds = 262144;
inline constexpr size_t kMaxFiles = 128;
inline constexpr size_t kMaxLine = 8191;
inline constexpr size_t kMaxLabelName = 31;
inline constexpr size_t kMaxDisplayName = 255;
inline constexpr int kMaxErrors = 20;

enum Segment : uint8_t { SEG_NONE = 0, SEG_CODE = 1, SEG_ZERO = 2 };

inline constexpr uint32_t ID_MAPPED = 0x40;
inline constexpr uint32_t ID_CODE = 0x80;
inline constexpr uint32_t ID_ZERO = 0x400;

}  // namespace orvo::velda

// VM memory: one flat little-endian byte block and the fixed header layout.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace orvo::vm {

// Header and register area (the first 512 bytes of VM memory).
inline constexpr uint32_t HDR_REGS = 8;      // $n at 8 + 8n
inline constexpr uint32_t HDR_RESULT = 120;  // low word of $14
inline constexpr uint32_t HDR_RESULT_HIGH = 124;
inline constexpr uint32_t HDR_SYSREQ = 128;  // $15
inline constexpr uint32_t HDR_VPC = 136;
inline constexpr uint32_t HDR_STACK_TOP = 144;
inline constexpr uint32_t HDR_STACK_LIMIT = 152;
inline constexpr uint32_t HDR_VSP = 160;
inline constexpr uint32_t HDR_VFP = 168;
inline constexpr uint32_t HDR_STATE_CHAIN = 176;
inline constexpr uint32_t HDR_MOVE_COUNT = 184;
inline constexpr uint32_t HDR_FLAGS = 192;
inline constexpr uint32_t HDR_EVENT_RESULT = 193;
inline constexpr uint32_t HDR_START_OPTIONS = 194;
inline constexpr uint32_t HDR_RUNTIME_INFO = 195;
inline constexpr uint32_t HDR_RUNTIME_MAJOR = 196;
inline constexpr uint32_t HDR_RUNTIME_MINOR = 197;
inline constexpr uint32_t HDR_RUNTIME_BUILD = 198;
inline constexpr uint32_t HDR_MAGIC = 208;
inline constexpr uint32_t HDR_FORMAT_MAJOR = 218;
inline constexpr uint32_t HDR_FORMAT_MINOR = 219;
inline constexpr uint32_t HDR_BUILD_NUMBER = 220;
inline constexpr uint32_t HDR_IMAGE_SIZE = 224;
inline constexpr uint32_t HDR_ZERO_SIZE = 232;
inline constexpr uint32_t HDR_STACK_SIZE = 240;
inline constexpr uint32_t HDR_HEAP_SIZE = 248;
inline constexpr uint32_t HDR_IMMEDIATE = 256;
inline constexpr uint32_t HDR_WINDOW_X = 264;
inline constexpr uint32_t HDR_WINDOW_Y = 266;
inline constexpr uint32_t HDR_WINDOW_W = 268;
inline constexpr uint32_t HDR_WINDOW_H = 270;
inline constexpr uint32_t HDR_DEBUG_CRASH = 480;
inline constexpr uint32_t HDR_DEBUG_FREEHEAP = 496;
inline constexpr uint32_t HDR_DEBUG_GETHEAPADR = 504;
inline constexpr uint32_t HEADER_SIZE = 512;
inline constexpr uint32_t ENTRY_ADDRESS = 512;

inline constexpr uint8_t FLAG_ODD = 1;
inline constexpr uint8_t FLAG_ZERO = 2;
inline constexpr uint8_t FLAG_NEGATIVE = 4;

constexpr uint32_t RegisterAddress(unsigned r) {
  return HDR_REGS + 8 * r;
}

template <typename T>
constexpr T ByteSwap(T v) {
  if constexpr (sizeof(T) == 2)
    return __builtin_bswap16(v);
  else if constexpr (sizeof(T) == 4)
    return __builtin_bswap32(v);
  else
    return __builtin_bswap64(v);
}

// Little-endian loads and stores at any alignment.
template <typename T>
inline T LoadLE(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = ByteSwap(v);
  return v;
}

template <typename T>
inline void StoreLE(uint8_t* p, T v) {
  if constexpr (std::endian::native == std::endian::big) v = ByteSwap(v);
  std::memcpy(p, &v, sizeof v);
}

inline uint8_t Load8(const uint8_t* p) {
  return *p;
}
inline uint16_t Load16(const uint8_t* p) {
  return LoadLE<uint16_t>(p);
}
inline uint32_t Load32(const uint8_t* p) {
  return LoadLE<uint32_t>(p);
}
inline uint64_t Load64(const uint8_t* p) {
  return LoadLE<uint64_t>(p);
}
inline void Store8(uint8_t* p, uint8_t v) {
  *p = v;
}
inline void Store16(uint8_t* p, uint16_t v) {
  StoreLE(p, v);
}
inline void Store32(uint8_t* p, uint32_t v) {
  StoreLE(p, v);
}
inline void Store64(uint8_t* p, uint64_t v) {
  StoreLE(p, v);
}

}  // namespace orvo::vm

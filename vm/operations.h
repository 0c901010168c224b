// What the data operations compute, per operand size, on operands already located in VM
// memory. Integers are handled as unsigned values so that every wrap is defined.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "vm/decode.h"
#include "vm/memory.h"

namespace orvo::vm {

// Narrow sizes compute in 32 bits so that promotion never reaches signed int arithmetic.
template <typename T>
using Wide = std::conditional_t<(sizeof(T) < 4), uint32_t, T>;
template <typename T>
using Signed = std::make_signed_t<T>;

template <typename T>
inline T LoadAs(const uint8_t* p) {
  if constexpr (sizeof(T) == 1)
    return *p;
  else
    return LoadLE<T>(p);
}

template <typename T>
inline void StoreAs(uint8_t* p, T v) {
  if constexpr (sizeof(T) == 1)
    *p = v;
  else
    StoreLE<T>(p, v);
}

// Flags from a result: zero alone, or negative (top bit) and odd (bit 0).
template <typename T>
inline uint8_t ResultFlags(T v) {
  if (v == 0) return FLAG_ZERO;
  const uint8_t negative = ((v >> (sizeof(T) * 8 - 1)) & 1) ? FLAG_NEGATIVE : 0;
  return static_cast<uint8_t>(negative | (v & 1));
}

template <typename F>
inline uint8_t FloatFlags(F difference) {
  if (difference == 0) return FLAG_ZERO;
  if (difference < 0) return FLAG_NEGATIVE;
  return 0;  // positive, or not a number
}

// Size d holds a float, size q a double.
template <typename T>
using FloatOf = std::conditional_t<sizeof(T) == 4, float, double>;

// On a little-endian host the bytes are copied as the float itself, so that the value
// goes straight between memory and a floating-point register: a detour through an
// integer register would lengthen every chain of dependent float operations.
template <typename T>
inline FloatOf<T> LoadFloat(const uint8_t* p) {
  if constexpr (std::endian::native == std::endian::little) {
    FloatOf<T> v;
    std::memcpy(&v, p, sizeof v);
    return v;
  } else {
    return std::bit_cast<FloatOf<T>>(LoadAs<T>(p));
  }
}
template <typename T>
inline void StoreFloat(uint8_t* p, FloatOf<T> v) {
  if constexpr (std::endian::native == std::endian::little)
    std::memcpy(p, &v, sizeof v);
  else
    StoreAs<T>(p, std::bit_cast<T>(v));
}

// Float or double to a signed 64-bit integer, truncating; values that do not fit (and
// NaN) give the most negative integer.
template <typename F>
inline uint64_t TruncateToInt64(F x) {
  constexpr double kLimit = 9223372036854775808.0;  // 2^63
  const double v = static_cast<double>(x);
  if (!(v >= -kLimit && v < kLimit)) return uint64_t{1} << 63;
  return static_cast<uint64_t>(static_cast<int64_t>(v));
}

// The integer operations of the two-operand group that read dst and src at size T and
// write (or compare) at dst. Division returns false when the divisor is zero, leaving
// dst untouched.
template <typename T>
[[gnu::always_inline]] inline bool IntegerOp2(unsigned op, uint8_t* d, const uint8_t* s,
                                              uint8_t& flags) {
  using W = Wide<T>;
  using S = Signed<T>;
  constexpr unsigned kShiftMask = sizeof(T) == 8 ? 63 : 31;
  const T a = LoadAs<T>(d);
  switch (op) {
    case OP2_RSHI: {
      const unsigned c = *s & kShiftMask;
      T r;
      if constexpr (sizeof(T) == 8)
        r = static_cast<T>(static_cast<int64_t>(a) >> c);
      else
        r = static_cast<T>(static_cast<int32_t>(static_cast<S>(a)) >> c);
      StoreAs<T>(d, r);
      flags = ResultFlags<T>(r);
      return true;
    }
    case OP2_RSHU: {
      const T r = static_cast<T>(W{a} >> (*s & kShiftMask));
      StoreAs<T>(d, r);
      flags = ResultFlags<T>(r);
      return true;
    }
    case OP2_LSH: {
      const T r = static_cast<T>(W{a} << (*s & kShiftMask));
      StoreAs<T>(d, r);
      flags = ResultFlags<T>(r);
      return true;
    }
    default:
      break;
  }
  const T b = LoadAs<T>(s);
  switch (op) {
    case OP2_DIVI:
    case OP2_MODI: {
      if (b == 0) return false;
      T q, r;
      if constexpr (sizeof(T) < 4) {
        const int32_t x = static_cast<S>(a), y = static_cast<S>(b);
        q = static_cast<T>(x / y);
        r = static_cast<T>(x % y);
      } else if (static_cast<S>(b) == -1) {
        q = static_cast<T>(T{0} - a);  // the most negative value wraps onto itself
        r = 0;
      } else {
        q = static_cast<T>(static_cast<S>(a) / static_cast<S>(b));
        r = static_cast<T>(static_cast<S>(a) % static_cast<S>(b));
      }
      StoreAs<T>(d, op == OP2_DIVI ? q : r);
      return true;
    }
    case OP2_DIVU:
      if (b == 0) return false;
      StoreAs<T>(d, static_cast<T>(a / b));
      return true;
    case OP2_MODU:
      if (b == 0) return false;
      StoreAs<T>(d, static_cast<T>(a % b));
      return true;
    case OP2_ADD:
      StoreAs<T>(d, static_cast<T>(W{a} + W{b}));
      return true;
    case OP2_SUB: {
      const T r = static_cast<T>(W{a} - W{b});
      StoreAs<T>(d, r);
      flags = ResultFlags<T>(r);
      return true;
    }
    case OP2_CMP:
      flags = ResultFlags<T>(static_cast<T>(W{a} - W{b}));
      return true;
    case OP2_MUL:
      StoreAs<T>(d, static_cast<T>(W{a} * W{b}));
      return true;
    case OP2_TST:
      flags = ResultFlags<T>(static_cast<T>(a & b));
      return true;
    case OP2_AND: {
      const T r = static_cast<T>(a & b);
      StoreAs<T>(d, r);
      flags = ResultFlags<T>(r);
      return true;
    }
    case OP2_OR:
      StoreAs<T>(d, static_cast<T>(a | b));
      return true;
    case OP2_XOR: {
      const T r = static_cast<T>(a ^ b);
      StoreAs<T>(d, r);
      flags = ResultFlags<T>(r);
      return true;
    }
    case OP2_MOV:
      StoreAs<T>(d, b);
      return true;
    default:
      return true;
  }
}

// The result of dst op src with a fixed choice of NaN: the destination's NaN (made
// quiet) if it is one, else the source's, else whatever the operation gave. The hardware
// passes on the NaN of whichever operand the compiler happened to put first, so without
// this the bits of a NaN result would depend on how the code was compiled. It reads the
// operands again from memory (nothing has been stored yet), which keeps the common path
// free of their integer images.
template <typename T>
[[gnu::noinline, gnu::cold]] FloatOf<T> NanResult(FloatOf<T> r, const uint8_t* d,
                                                  const uint8_t* s) {
  constexpr T kQuiet = T{1} << (sizeof(T) == 4 ? 22 : 51);
  const T a = LoadAs<T>(d), b = LoadAs<T>(s);
  if (std::bit_cast<FloatOf<T>>(a) != std::bit_cast<FloatOf<T>>(a))
    return std::bit_cast<FloatOf<T>>(static_cast<T>(a | kQuiet));
  if (std::bit_cast<FloatOf<T>>(b) != std::bit_cast<FloatOf<T>>(b))
    return std::bit_cast<FloatOf<T>>(static_cast<T>(b | kQuiet));
  return r;
}

template <typename T>
[[gnu::always_inline]] inline FloatOf<T> NanOrdered(FloatOf<T> r, const uint8_t* d,
                                                    const uint8_t* s) {
  if (__builtin_expect(r == r, 1)) return r;
  return NanResult<T>(r, d, s);
}

// addf, subf, mulf, divf, cmpf at size d (float) or q (double). With kLeaveNan a result
// that is not a number is neither ordered nor stored: the call returns false, nothing has
// changed, and the caller runs the instruction the full way. That keeps the ordering's
// call out of a caller's fast path.
template <typename T, bool kLeaveNan = false>
[[gnu::always_inline]] inline bool FloatOp2(unsigned op, uint8_t* d, const uint8_t* s,
                                            uint8_t& flags) {
  const FloatOf<T> a = LoadFloat<T>(d), b = LoadFloat<T>(s);
  FloatOf<T> r;
  switch (op) {
    case OP2_ADDF:
      r = a + b;
      break;
    case OP2_SUBF:
      r = a - b;
      break;
    case OP2_MULF:
      r = a * b;
      break;
    case OP2_DIVF:
      r = a / b;
      break;
    case OP2_CMPF:
      flags = FloatFlags(a - b);
      return true;
    default:
      return true;
  }
  if constexpr (kLeaveNan) {
    if (__builtin_expect(r != r, 0)) return false;
  } else {
    r = NanOrdered<T>(r, d, s);
  }
  StoreFloat<T>(d, r);
  if (op == OP2_SUBF) flags = FloatFlags(r);
  return true;
}

// The in-place one-operand operations other than the stack ones. The operand has room for
// 8 bytes whenever the operation writes 8.
template <typename T>
inline void UnaryOp(unsigned op, uint8_t* p, uint8_t& flags) {
  using S = Signed<T>;
  switch (op) {
    case OP1_NEGF:
      StoreAs<T>(p, static_cast<T>(LoadAs<T>(p) ^ (T{1} << (sizeof(T) * 8 - 1))));
      break;
    case OP1_NEG:
      StoreAs<T>(p, static_cast<T>(Wide<T>{0} - LoadAs<T>(p)));
      break;
    case OP1_NOT: {
      const T r = static_cast<T>(~LoadAs<T>(p));
      StoreAs<T>(p, r);
      flags = ResultFlags<T>(r);
      break;
    }
    case OP1_TST:
      flags = ResultFlags<T>(LoadAs<T>(p));
      break;
    case OP1_CVUU:
      Store64(p, LoadAs<T>(p));
      break;
    case OP1_CVSS:
      Store64(p, static_cast<uint64_t>(static_cast<int64_t>(static_cast<S>(LoadAs<T>(p)))));
      break;
    case OP1_CVUF:
    case OP1_CVSF: {
      const float f = op == OP1_CVUF ? static_cast<float>(uint64_t{LoadAs<T>(p)})
                                     : static_cast<float>(int64_t{static_cast<S>(LoadAs<T>(p))});
      Store32(p, std::bit_cast<uint32_t>(f));
      Store32(p + 4, 0);
      break;
    }
    case OP1_CVUD:
      Store64(p, std::bit_cast<uint64_t>(static_cast<double>(uint64_t{LoadAs<T>(p)})));
      break;
    case OP1_CVSD:
      Store64(p,
              std::bit_cast<uint64_t>(static_cast<double>(int64_t{static_cast<S>(LoadAs<T>(p))})));
      break;
    case OP1_CVFS:
      Store64(p, TruncateToInt64(std::bit_cast<float>(Load32(p))));
      break;
    case OP1_CVDS:
      Store64(p, TruncateToInt64(std::bit_cast<double>(Load64(p))));
      break;
    case OP1_CVFD:
      Store64(p, std::bit_cast<uint64_t>(static_cast<double>(std::bit_cast<float>(Load32(p)))));
      break;
    case OP1_CVDF:
      Store32(p, std::bit_cast<uint32_t>(static_cast<float>(std::bit_cast<double>(Load64(p)))));
      break;
    default:
      break;
  }
}

}  // namespace orvo::vm

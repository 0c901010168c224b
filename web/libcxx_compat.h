// Included before every source of the web build: what the C++20 library of emscripten's
// libc++ lacks and the runtime uses, from the compiler's own builtins.
#pragma once

#include <version>

#if !defined(__cpp_lib_bit_cast)
#include <type_traits>

namespace std {
template <class To, class From>
  requires(sizeof(To) == sizeof(From) && is_trivially_copyable_v<To> &&
           is_trivially_copyable_v<From>)
constexpr To bit_cast(const From& from) noexcept {
  return __builtin_bit_cast(To, from);
}
}  // namespace std
#endif

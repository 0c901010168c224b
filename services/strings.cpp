#include "services/strings.h"

#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "services/format_one.h"
#include "vm/machine.h"
#include "vm/request.h"
#include "vm/sys.h"

namespace orvo::services {

namespace {

using vm::Machine;

// The Windows library's comparisons answer -1, 0 or 1.
uint32_t Order(int c) {
  return c < 0 ? 0xFFFFFFFFu : c > 0 ? 1u : 0u;
}

void PrintFormatted(Machine& m, uint32_t args) {
  uint32_t a[3];
  if (!vm::RequestWords(m, args, 3, a)) return;
  const uint32_t destination = a[0], format = a[1], size = a[2];
  std::string_view held;
  if (!vm::RequestString(m, destination, held)) return;
  // The terminator found there lies inside VM memory, so end < memSize.
  const uint32_t end = destination + static_cast<uint32_t>(held.size());
  if (size != 1 && size != 4 && size != 8) {
    vm::ShowMessage(m, "SYS_PRTFMT: unsupported arg size");
    vm::SetResult(m, 0);
    return;
  }
  uint32_t value[2] = {0, 0};
  if (!vm::RequestWords(m, args + 12, size == 8 ? 2 : 1, value)) return;
  std::string_view fmt;
  if (!vm::RequestString(m, format, fmt)) return;
  FormatArgument arg{size, value[0], value[1]};
  std::string text;
  switch (FormatOne(m, fmt, arg, m.memSize - end - 1, text)) {
    case FormatStatus::FORMAT_BAD_STRING:
      vm::RequestFault(m, arg.low);
      return;
    case FormatStatus::FORMAT_NO_ROOM:
      vm::RequestFault(m, end);
      return;
    case FormatStatus::FORMAT_OK:
      break;
  }
  std::memcpy(m.mem + end, text.data(), text.size());
  m.mem[end + text.size()] = 0;
  vm::SetResult(m, static_cast<uint32_t>(text.size()));
}

void CopyString(Machine& m, uint32_t args, bool append) {
  uint32_t a[2];
  if (!vm::RequestWords(m, args, 2, a)) return;
  std::string_view source;
  if (!vm::RequestString(m, a[1], source)) return;
  uint32_t to = a[0];
  if (append) {
    std::string_view held;
    if (!vm::RequestString(m, a[0], held)) return;
    to += static_cast<uint32_t>(held.size());
  }
  const uint32_t len = static_cast<uint32_t>(source.size()) + 1;
  uint8_t* out = vm::RequestBytes(m, to, len);
  // The areas may overlap (a string appended to itself); the source is taken as it was.
  if (out) std::memmove(out, source.data(), len);
}

void Length(Machine& m, uint32_t args) {
  uint32_t a;
  std::string_view s;
  if (vm::RequestWords(m, args, 1, &a) && vm::RequestString(m, a, s))
    vm::SetResult(m, static_cast<uint32_t>(s.size()));
}

void CompareStrings(Machine& m, uint32_t args) {
  uint32_t a[2];
  std::string_view x, y;
  if (!vm::RequestWords(m, args, 2, a) || !vm::RequestString(m, a[0], x) ||
      !vm::RequestString(m, a[1], y))
    return;
  // Up to and including the shorter one's terminator: strcmp order on unsigned bytes.
  vm::SetResult(m, Order(std::memcmp(x.data(), y.data(), std::min(x.size(), y.size()) + 1)));
}

// Decodes well-formed UTF-8; false for anything else.
bool DecodeUtf8(std::string_view s, std::u32string& out) {
  size_t i = 0;
  while (i < s.size()) {
    const uint8_t b = static_cast<uint8_t>(s[i]);
    uint32_t cp;
    size_t n;
    if (b < 0x80) {
      cp = b, n = 1;
    } else if (b >= 0xC2 && b < 0xE0) {
      cp = b & 0x1F, n = 2;
    } else if (b >= 0xE0 && b < 0xF0) {
      cp = b & 0x0F, n = 3;
    } else if (b >= 0xF0 && b < 0xF5) {
      cp = b & 0x07, n = 4;
    } else {
      return false;
    }
    if (i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      const uint8_t c = static_cast<uint8_t>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    static constexpr uint32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kSmallest[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return false;
    out.push_back(static_cast<char32_t>(cp));
    i += n;
  }
  return true;
}

void EncodeUtf8(char32_t c, std::string& out) {
  const uint32_t cp = c;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// The Unicode case mapping of the C.UTF-8 locale, held for one request.
class CaseMapping {
 public:
  CaseMapping() : locale_(newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0))) {}
  ~CaseMapping() {
    if (locale_) freelocale(locale_);
  }
  CaseMapping(const CaseMapping&) = delete;
  CaseMapping& operator=(const CaseMapping&) = delete;

  char32_t Upper(char32_t c) const {
    if (locale_) return static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), locale_));
    // Without that locale only the ASCII letters have a mapping.
    return c >= U'a' && c <= U'z' ? c - U'a' + U'A' : c;
  }

 private:
  locale_t locale_;
};

// The text meant for one character: 20 UTF-16 units in, terminator included, and at most
// 5 bytes out. Text that is not UTF-8, or whose upper case does not fit, is left as it was.
void UpperCase(Machine& m, uint32_t args) {
  constexpr size_t kUnitsIn = 20, kBytesOut = 5;
  uint32_t a;
  std::string_view s;
  if (!vm::RequestWords(m, args, 1, &a) || !vm::RequestString(m, a, s)) return;
  std::u32string chars;
  if (!DecodeUtf8(s, chars)) return;
  size_t units = 1;
  for (char32_t c : chars) units += c > 0xFFFF ? 2 : 1;
  if (units > kUnitsIn) return;
  const CaseMapping mapping;
  std::string upper;
  for (char32_t c : chars) EncodeUtf8(mapping.Upper(c), upper);
  if (upper.size() + 1 > kBytesOut) return;
  // The upper case may be longer than the original (U+0250 has a three-byte capital).
  uint8_t* out = vm::RequestBytes(m, a, static_cast<uint32_t>(upper.size() + 1));
  if (!out) return;
  std::memcpy(out, upper.data(), upper.size());
  out[upper.size()] = 0;
}

void Block(Machine& m, uint32_t row, uint32_t args) {
  uint32_t a[3];
  if (!vm::RequestWords(m, args, 3, a)) return;
  const uint32_t count = a[2];
  if (row == SYS_MEMSET) {
    uint8_t* out = count ? vm::RequestBytes(m, a[0], count) : nullptr;
    if (out) std::memset(out, static_cast<int>(a[1] & 0xFF), count);
    return;
  }
  if (count == 0) {
    if (row == SYS_MEMCMP) vm::SetResult(m, 0);
    return;
  }
  // The second area is read first, so it is checked first.
  uint8_t* second = vm::RequestBytes(m, a[1], count);
  uint8_t* first = second ? vm::RequestBytes(m, a[0], count) : nullptr;
  if (!first) return;
  if (row == SYS_MEMCMP)
    vm::SetResult(m, Order(std::memcmp(first, second, count)));
  else  // SYS_MEMCPY too: overlapping areas come out as a move would leave them
    std::memmove(first, second, count);
}

void Message(Machine& m, uint32_t args) {
  uint32_t a;
  std::string_view s;
  if (vm::RequestWords(m, args, 1, &a) && vm::RequestString(m, a, s)) vm::ShowMessage(m, s);
}

}  // namespace

void StringsSys(Machine& m, uint32_t row, uint32_t args) {
  switch (row) {
    case SYS_PRTFMT:
      PrintFormatted(m, args);
      return;
    case SYS_STRCPY:
      CopyString(m, args, false);
      return;
    case SYS_STRCAT:
      CopyString(m, args, true);
      return;
    case SYS_STRLEN:
      Length(m, args);
      return;
    case SYS_STRCMP:
      CompareStrings(m, args);
      return;
    case SYS_CHARUPPER:
      UpperCase(m, args);
      return;
    case SYS_MEMCPY:
    case SYS_MEMMOVE:
    case SYS_MEMSET:
    case SYS_MEMCMP:
      Block(m, row, args);
      return;
    case SYS_MESSAGE:
      Message(m, args);
      return;
    default:
      vm::UnknownSys(m);
      return;
  }
}

}  // namespace orvo::services

#include "services/strings.h"

#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "base/utf8.h"
#include "services/format_one.h"
#include "vm/machine.h"
#include "vm/sys.h"

namespace orvo::services {

namespace {

using vm::Machine;

void Fault(Machine& m, uint32_t address) {
  vm::AddressFault(m, address, m.Word(vm::HDR_VPC));
}

// n argument words starting at args; a request block that runs out of VM memory stops
// the program.
bool ReadArgs(Machine& m, uint32_t args, uint32_t* out, uint32_t n) {
  const uint8_t* p = m.Ptr(args, 4 * n);
  if (!p) {
    Fault(m, args);
    return false;
  }
  for (uint32_t i = 0; i < n; ++i) out[i] = vm::Load32(p + 4 * i);
  return true;
}

bool String(Machine& m, uint32_t address, std::string_view& out) {
  if (vm::ReadString(m, address, out)) return true;
  Fault(m, address);
  return false;
}

uint8_t* Area(Machine& m, uint32_t address, uint32_t len) {
  uint8_t* p = m.Ptr(address, len);
  if (!p) Fault(m, address);
  return p;
}

// The Windows library's comparisons answer -1, 0 or 1.
uint32_t Order(int c) {
  return c < 0 ? 0xFFFFFFFFu : c > 0 ? 1u : 0u;
}

void PrintFormatted(Machine& m, uint32_t args) {
  uint32_t a[3];
  if (!ReadArgs(m, args, a, 3)) return;
  const uint32_t destination = a[0], format = a[1], size = a[2];
  std::string_view held;
  if (!String(m, destination, held)) return;
  // The terminator found there lies inside VM memory, so end < memSize.
  const uint32_t end = destination + static_cast<uint32_t>(held.size());
  if (size != 1 && size != 4 && size != 8) {
    vm::ShowMessage(m, "SYS_PRTFMT: unsupported arg size");
    vm::SetResult(m, 0);
    return;
  }
  uint32_t value[2] = {0, 0};
  if (!ReadArgs(m, args + 12, value, size == 8 ? 2 : 1)) return;
  std::string_view fmt;
  if (!String(m, format, fmt)) return;
  FormatArgument arg{size, value[0], value[1]};
  std::string text;
  switch (FormatOne(m, fmt, arg, m.memSize - end - 1, text)) {
    case FormatStatus::FORMAT_BAD_STRING:
      Fault(m, arg.low);
      return;
    case FormatStatus::FORMAT_NO_ROOM:
      Fault(m, end);
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
  if (!ReadArgs(m, args, a, 2)) return;
  std::string_view source;
  if (!String(m, a[1], source)) return;
  uint32_t to = a[0];
  if (append) {
    std::string_view held;
    if (!String(m, a[0], held)) return;
    to += static_cast<uint32_t>(held.size());
  }
  const uint32_t len = static_cast<uint32_t>(source.size()) + 1;
  uint8_t* out = Area(m, to, len);
  // The areas may overlap (a string appended to itself); the source is taken as it was.
  if (out) std::memmove(out, source.data(), len);
}

void Length(Machine& m, uint32_t args) {
  uint32_t a;
  std::string_view s;
  if (ReadArgs(m, args, &a, 1) && String(m, a, s))
    vm::SetResult(m, static_cast<uint32_t>(s.size()));
}

void CompareStrings(Machine& m, uint32_t args) {
  uint32_t a[2];
  std::string_view x, y;
  if (!ReadArgs(m, args, a, 2) || !String(m, a[0], x) || !String(m, a[1], y)) return;
  // Up to and including the shorter one's terminator: strcmp order on unsigned bytes.
  vm::SetResult(m, Order(std::memcmp(x.data(), y.data(), std::min(x.size(), y.size()) + 1)));
}

// Decodes well-formed UTF-8; false for anything else.
bool DecodeUtf8(std::string_view s, std::u32string& out) {
  for (size_t i = 0; i < s.size();) {
    const utf8::Decoded d = utf8::Decode(s, i);
    if (!d.valid) return false;
    out.push_back(d.codePoint);
    i = d.end;
  }
  return true;
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
  if (!ReadArgs(m, args, &a, 1) || !String(m, a, s)) return;
  std::u32string chars;
  if (!DecodeUtf8(s, chars)) return;
  size_t units = 1;
  for (char32_t c : chars) units += c > 0xFFFF ? 2 : 1;
  if (units > kUnitsIn) return;
  const CaseMapping mapping;
  std::string upper;
  for (char32_t c : chars) {
    char bytes[4];
    upper.append(bytes, utf8::Encode(mapping.Upper(c), bytes));
  }
  if (upper.size() + 1 > kBytesOut) return;
  // The upper case may be longer than the original (U+0250 has a three-byte capital).
  uint8_t* out = Area(m, a, static_cast<uint32_t>(upper.size() + 1));
  if (!out) return;
  std::memcpy(out, upper.data(), upper.size());
  out[upper.size()] = 0;
}

void Block(Machine& m, uint32_t row, uint32_t args) {
  uint32_t a[3];
  if (!ReadArgs(m, args, a, 3)) return;
  const uint32_t count = a[2];
  if (row == SYS_MEMSET) {
    uint8_t* out = count ? Area(m, a[0], count) : nullptr;
    if (out) std::memset(out, static_cast<int>(a[1] & 0xFF), count);
    return;
  }
  if (count == 0) {
    if (row == SYS_MEMCMP) vm::SetResult(m, 0);
    return;
  }
  // The second area is read first, so it is checked first.
  uint8_t* second = Area(m, a[1], count);
  uint8_t* first = second ? Area(m, a[0], count) : nullptr;
  if (!first) return;
  if (row == SYS_MEMCMP)
    vm::SetResult(m, Order(std::memcmp(first, second, count)));
  else  // SYS_MEMCPY too: overlapping areas come out as a move would leave them
    std::memmove(first, second, count);
}

void Message(Machine& m, uint32_t args) {
  uint32_t a;
  std::string_view s;
  if (ReadArgs(m, args, &a, 1) && String(m, a, s)) vm::ShowMessage(m, s);
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

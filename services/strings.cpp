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
#include "vm/request.h"
#include "vm/requests.h"
#include "vm/sys.h"

namespace orvo::services {

namespace {

using vm::Machine;

// The Windows library's comparisons answer -1, 0 or 1.
uint32_t Order(int c) {
  return c < 0 ? 0xFFFFFFFFu : c > 0 ? 1u : 0u;
}

void PrintFormatted(vm::Request& r) {
  Machine& m = r.m;
  const uint32_t destination = r.a[0], format = r.a[1], size = r.a[2];
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
  if (!vm::RequestWords(m, r.args + 12, size == 8 ? 2 : 1, value)) return;
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
  vm::NoteWrite(m, end, static_cast<uint32_t>(text.size() + 1));
  std::memcpy(m.mem + end, text.data(), text.size());
  m.mem[end + text.size()] = 0;
  vm::SetResult(m, static_cast<uint32_t>(text.size()));
}

void CopyString(vm::Request& r, bool append) {
  Machine& m = r.m;
  const uint32_t* a = r.a;
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

void Copy(vm::Request& r) {
  CopyString(r, false);
}

void Length(vm::Request& r) {
  std::string_view s;
  if (vm::RequestString(r.m, r.a[0], s)) vm::SetResult(r.m, static_cast<uint32_t>(s.size()));
}

void CompareStrings(vm::Request& r) {
  std::string_view x, y;
  if (!vm::RequestString(r.m, r.a[0], x) || !vm::RequestString(r.m, r.a[1], y)) return;
  // Up to and including the shorter one's terminator: strcmp order on unsigned bytes.
  vm::SetResult(r.m, Order(std::memcmp(x.data(), y.data(), std::min(x.size(), y.size()) + 1)));
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
void UpperCase(vm::Request& r) {
  constexpr size_t kUnitsIn = 20, kBytesOut = 5;
  Machine& m = r.m;
  const uint32_t a = r.a[0];
  std::string_view s;
  if (!vm::RequestString(m, a, s)) return;
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
  uint8_t* out = vm::RequestBytes(m, a, static_cast<uint32_t>(upper.size() + 1));
  if (!out) return;
  std::memcpy(out, upper.data(), upper.size());
  out[upper.size()] = 0;
}

// Copy, move, fill and compare blocks.
void Block(vm::Request& r) {
  Machine& m = r.m;
  const uint32_t* a = r.a;
  const uint32_t row = r.row;
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

void Message(vm::Request& r) {
  std::string_view s;
  if (vm::RequestString(r.m, r.a[0], s)) vm::ShowMessage(r.m, s);
}

constexpr vm::ArgCheck BLOCK = vm::ArgCheck::BLOCK;
constexpr vm::RequestRow kRows[] = {
    {0x300, "format", 3, vm::ArgCheck::BLOCK_THEN_VALUE, PrintFormatted},
    {0x301, "copy", 2, BLOCK, Copy},
    {0x302, "append", 2, BLOCK, [](vm::Request& r) { CopyString(r, true); }},
    {0x303, "length", 1, BLOCK, Length},
    {0x304, "compare", 2, BLOCK, CompareStrings},
    {0x305, "upper case", 1, BLOCK, UpperCase},
    {0x30A, "copy block", 3, BLOCK, Block},
    {0x30B, "move block", 3, BLOCK, Block},
    {0x30C, "fill", 3, BLOCK, Block},
    {0x30D, "compare blocks", 3, BLOCK, Block},
    {0x30E, "message", 1, BLOCK, Message},
};

}  // namespace

void AddStringRequests(vm::RequestTable& t) {
  vm::AddRequests(t, kRows, nullptr);
}

}  // namespace orvo::services

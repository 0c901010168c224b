#include "services/format_one.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "vm/machine.h"

namespace orvo::services {

namespace {

// Length modifiers of the Windows C library; 'l' is 32 bits there, as long is.
enum Length {
  LEN_NONE,
  LEN_HH,
  LEN_H,
  LEN_L,
  LEN_LL,
  LEN_LONG_DOUBLE,  // 'L'
  LEN_I64,
  LEN_I32,
  LEN_I,  // pointer sized: the VM's 32 bits
  LEN_J,
  LEN_Z,
  LEN_T,
  LEN_W,
};

// Longer names first, so that "ll" is not read as 'l'.
struct LengthName {
  std::string_view text;
  Length length;
};
constexpr LengthName kLengths[] = {
    {"hh", LEN_HH}, {"ll", LEN_LL}, {"I64", LEN_I64},       {"I32", LEN_I32},
    {"h", LEN_H},   {"l", LEN_L},   {"L", LEN_LONG_DOUBLE}, {"I", LEN_I},
    {"j", LEN_J},   {"z", LEN_Z},   {"t", LEN_T},           {"w", LEN_W},
};

// A width or precision this large cannot fit anywhere; digits beyond it are not counted.
constexpr uint64_t kHugeNumber = uint64_t{1} << 40;
// %g strips trailing zeros, and no double needs more than 767 significant digits, so a
// larger precision prints the same text as this one.
constexpr uint64_t kEnoughGeneralDigits = 1200;

struct Conversion {
  bool minus = false, plus = false, space = false, hash = false, zero = false;
  bool hasWidth = false, hasPrecision = false;
  bool star = false;  // a width or precision taken from the arguments
  uint64_t width = 0, precision = 0;
  Length length = LEN_NONE;
  char conversion = 0;
  size_t end = 0;  // index just past the conversion character
};

uint64_t ReadNumber(std::string_view f, size_t& i) {
  uint64_t v = 0;
  while (i < f.size() && f[i] >= '0' && f[i] <= '9') {
    v = std::min(v * 10 + static_cast<uint64_t>(f[i] - '0'), kHugeNumber);
    ++i;
  }
  return v;
}

bool StartsWith(std::string_view f, size_t i, std::string_view what) {
  return i <= f.size() && f.size() - i >= what.size() && f.compare(i, what.size(), what) == 0;
}

// Parses the conversion (flags, width, precision, length and letter) that starts at the
// '%' at f[i]. False when the format ends before a conversion character.
bool ParseConversion(std::string_view f, size_t i, Conversion& s) {
  ++i;
  for (; i < f.size(); ++i) {
    char c = f[i];
    if (c == '-')
      s.minus = true;
    else if (c == '+')
      s.plus = true;
    else if (c == ' ')
      s.space = true;
    else if (c == '#')
      s.hash = true;
    else if (c == '0')
      s.zero = true;
    else
      break;
  }
  if (i < f.size() && f[i] == '*') {
    s.star = true;
    ++i;
  } else if (i < f.size() && f[i] >= '1' && f[i] <= '9') {
    s.hasWidth = true;
    s.width = ReadNumber(f, i);
  }
  if (i < f.size() && f[i] == '.') {
    ++i;
    s.hasPrecision = true;
    if (i < f.size() && f[i] == '*') {
      s.star = true;
      ++i;
    } else {
      s.precision = ReadNumber(f, i);
    }
  }
  for (const LengthName& l : kLengths) {
    if (StartsWith(f, i, l.text)) {
      s.length = l.length;
      i += l.text.size();
      break;
    }
  }
  if (i >= f.size()) return false;
  s.conversion = f[i];
  s.end = i + 1;
  return true;
}

enum class Outcome { DONE, NOT_PERFORMED, BAD_STRING, NO_ROOM };

// printf into out with a format built here from validated parts, never more than room.
// Most conversions fit the buffer on the stack, so the library formats once.
template <typename T>
Outcome Print(std::string& out, const std::string& fmt, T value, size_t room) {
  char text[128];
  const int n = std::snprintf(text, sizeof text, fmt.c_str(), value);
  if (n < 0 || static_cast<size_t>(n) > room) return Outcome::NO_ROOM;
  if (static_cast<size_t>(n) < sizeof text) {
    out.append(text, static_cast<size_t>(n));
    return Outcome::DONE;
  }
  size_t at = out.size();
  out.resize(at + static_cast<size_t>(n) + 1);
  std::snprintf(out.data() + at, static_cast<size_t>(n) + 1, fmt.c_str(), value);
  out.resize(at + static_cast<size_t>(n));
  return Outcome::DONE;
}

// A conversion with no flags, width or precision is its digits alone, which to_chars
// writes as printf does (upper case aside).
template <typename T>
Outcome PrintPlain(std::string& out, char conversion, T value, size_t room) {
  char text[32];
  const int base = conversion == 'o' ? 8 : conversion == 'x' || conversion == 'X' ? 16 : 10;
  char* const end = std::to_chars(text, text + sizeof text, value, base).ptr;
  if (conversion == 'X')
    for (char* p = text; p != end; ++p)
      if (*p >= 'a') *p = static_cast<char>(*p - 'a' + 'A');
  const size_t n = static_cast<size_t>(end - text);
  if (n > room) return Outcome::NO_ROOM;
  out.append(text, n);
  return Outcome::DONE;
}

bool Plain(const Conversion& s) {
  return !s.minus && !s.plus && !s.space && !s.hash && !s.zero && !s.hasWidth && !s.hasPrecision;
}

// Every conversion's text is at least its width long.
bool TooWide(const Conversion& s, size_t room) {
  return s.hasWidth && s.width > room;
}

// Width for %c and %s. The Windows library pads these with zeros too when asked.
void AppendPadded(std::string& out, std::string_view body, const Conversion& s) {
  size_t pad = s.hasWidth && s.width > body.size() ? static_cast<size_t>(s.width) - body.size() : 0;
  if (!s.minus) out.append(pad, s.zero ? '0' : ' ');
  out.append(body);
  if (s.minus) out.append(pad, ' ');
}

std::string Head(const Conversion& s, bool hashAllowed, bool zeroAllowed) {
  std::string fmt = "%";
  if (s.minus) fmt += '-';
  if (s.plus) fmt += '+';
  if (s.space) fmt += ' ';
  if (s.hash && hashAllowed) fmt += '#';
  if (s.zero && zeroAllowed) fmt += '0';
  if (s.hasWidth) fmt += std::to_string(s.width);
  return fmt;
}

Outcome Integer(std::string& out, const Conversion& s, const FormatArgument& arg, size_t room) {
  if (arg.size == 1) return Outcome::NOT_PERFORMED;
  bool wide = false;
  const char* length = "";
  switch (s.length) {
    case LEN_LL:
    case LEN_I64:
    case LEN_J:
      wide = true;
      length = "ll";
      break;
    case LEN_HH:
      length = "hh";
      break;
    case LEN_H:
      length = "h";
      break;
    case LEN_NONE:
    case LEN_L:
    case LEN_I32:
    case LEN_I:
    case LEN_Z:
    case LEN_T:
      break;
    default:
      return Outcome::NOT_PERFORMED;
  }
  // The digits alone fill the precision.
  if (TooWide(s, room) || (s.hasPrecision && s.precision > room)) return Outcome::NO_ROOM;
  const char c = s.conversion;
  const bool isSigned = c == 'd' || c == 'i';
  if (Plain(s) && !wide && *length == 0) {
    if (isSigned) return PrintPlain(out, c, static_cast<int32_t>(arg.low), room);
    return PrintPlain(out, c, arg.low, room);
  }
  std::string fmt = Head(s, !isSigned && c != 'u', true);
  if (s.hasPrecision) (fmt += '.') += std::to_string(s.precision);
  fmt += length;
  fmt += c;
  if (wide) {
    // A 64-bit conversion given one word takes that word's value, not a neighbour as its
    // high half.
    uint64_t bits = arg.size == 8 ? (uint64_t{arg.high} << 32) | arg.low
                    : isSigned    ? static_cast<uint64_t>(int64_t{static_cast<int32_t>(arg.low)})
                                  : uint64_t{arg.low};
    if (isSigned) return Print(out, fmt, static_cast<long long>(static_cast<int64_t>(bits)), room);
    return Print(out, fmt, static_cast<unsigned long long>(bits), room);
  }
  if (isSigned) return Print(out, fmt, static_cast<int>(static_cast<int32_t>(arg.low)), room);
  return Print(out, fmt, static_cast<unsigned>(arg.low), room);
}

Outcome Floating(std::string& out, const Conversion& s, const FormatArgument& arg, size_t room) {
  if (arg.size != 8) return Outcome::NOT_PERFORMED;
  if (s.length != LEN_NONE && s.length != LEN_L && s.length != LEN_LONG_DOUBLE)
    return Outcome::NOT_PERFORMED;
  if (TooWide(s, room)) return Outcome::NO_ROOM;
  const bool general = s.conversion == 'g' || s.conversion == 'G';
  uint64_t precision = s.precision;
  if (s.hasPrecision) {
    if (general && !s.hash)
      precision = std::min(precision, kEnoughGeneralDigits);
    else if (precision > room)
      return Outcome::NO_ROOM;
  }
  std::string fmt = Head(s, true, true);
  if (s.hasPrecision) (fmt += '.') += std::to_string(precision);
  fmt += s.conversion;
  const double value = std::bit_cast<double>((uint64_t{arg.high} << 32) | arg.low);
  return Print(out, fmt, value, room);
}

Outcome Character(std::string& out, const Conversion& s, const FormatArgument& arg, size_t room) {
  if (arg.size == 1 || (s.length != LEN_NONE && s.length != LEN_H)) return Outcome::NOT_PERFORMED;
  if (TooWide(s, room)) return Outcome::NO_ROOM;
  const char ch = static_cast<char>(arg.low & 0xFF);
  AppendPadded(out, std::string_view(&ch, 1), s);
  return Outcome::DONE;
}

// The Windows library reads a precision-limited string only as far as the precision, so
// only that much of it has to lie in VM memory.
Outcome String(std::string& out, const Conversion& s, const FormatArgument& arg,
               const vm::Machine& m, size_t room) {
  if (arg.size != 1 || (s.length != LEN_NONE && s.length != LEN_H)) return Outcome::NOT_PERFORMED;
  if (TooWide(s, room)) return Outcome::NO_ROOM;
  const uint64_t limit = s.hasPrecision ? s.precision : UINT64_MAX;
  std::string_view body;
  if (limit > 0) {
    if (arg.low >= m.memSize) return Outcome::BAD_STRING;
    const uint64_t span = std::min<uint64_t>(limit, m.memSize - arg.low);
    const char* text = reinterpret_cast<const char*>(m.mem + arg.low);
    const void* nul = std::memchr(text, 0, static_cast<size_t>(span));
    if (nul)
      body = std::string_view(text, static_cast<const char*>(nul) - text);
    else if (span == limit)
      body = std::string_view(text, static_cast<size_t>(span));
    else
      return Outcome::BAD_STRING;
  }
  AppendPadded(out, body, s);
  return Outcome::DONE;
}

// A 32-bit library prints a pointer as eight upper-case hexadecimal digits.
Outcome Pointer(std::string& out, const Conversion& s, const FormatArgument& arg, size_t room) {
  if (arg.size == 1 || s.length != LEN_NONE) return Outcome::NOT_PERFORMED;
  if (TooWide(s, room)) return Outcome::NO_ROOM;
  std::string fmt = s.minus ? "%-" : "%";
  if (s.hasWidth) fmt += std::to_string(s.width);
  fmt += ".8X";
  return Print(out, fmt, static_cast<unsigned>(arg.low), room);
}

Outcome Perform(std::string& out, const Conversion& s, const FormatArgument& arg,
                const vm::Machine& m, size_t room) {
  if (s.star) return Outcome::NOT_PERFORMED;
  switch (s.conversion) {
    case 'd':
    case 'i':
    case 'u':
    case 'o':
    case 'x':
    case 'X':
      return Integer(out, s, arg, room);
    case 'e':
    case 'E':
    case 'f':
    case 'F':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
      return Floating(out, s, arg, room);
    case 'c':
      return Character(out, s, arg, room);
    case 's':
      return String(out, s, arg, m, room);
    case 'p':
      return Pointer(out, s, arg, room);
    default:
      // %n, the wide %C and %S, and anything unknown.
      return Outcome::NOT_PERFORMED;
  }
}

}  // namespace

FormatStatus FormatOne(const vm::Machine& m, std::string_view format, const FormatArgument& arg,
                       size_t room, std::string& out) {
  out.clear();
  bool conversionSeen = false;
  size_t i = 0;
  while (i < format.size()) {
    const char c = format[i];
    if (c != '%') {
      out.push_back(c);
      ++i;
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      out.push_back('%');
      i += 2;
      continue;
    }
    if (!conversionSeen) {
      conversionSeen = true;
      Conversion conversion;
      if (out.size() > room) return FormatStatus::FORMAT_NO_ROOM;
      if (ParseConversion(format, i, conversion)) {
        switch (Perform(out, conversion, arg, m, room - out.size())) {
          case Outcome::DONE:
            i = conversion.end;
            continue;
          case Outcome::BAD_STRING:
            return FormatStatus::FORMAT_BAD_STRING;
          case Outcome::NO_ROOM:
            return FormatStatus::FORMAT_NO_ROOM;
          case Outcome::NOT_PERFORMED:
            break;
        }
      }
    }
    // Not performed: the percent sign and what follows it are copied as written.
    out.push_back('%');
    ++i;
  }
  return out.size() > room ? FormatStatus::FORMAT_NO_ROOM : FormatStatus::FORMAT_OK;
}

}  // namespace orvo::services

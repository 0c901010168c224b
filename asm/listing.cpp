#include "listing.h"

#include "report.h"

namespace orvo::velda {

namespace {

constexpr size_t kSourceColumn = 51;
constexpr size_t kMaxListingLine = 114;
constexpr char kHex[] = "0123456789ABCDEF";

void AppendHex(std::string& out, uint32_t value, int minDigits) {
  char buf[8];
  int n = 0;
  do {
    buf[n++] = kHex[value & 15];
    value >>= 4;
  } while (value != 0);
  for (int i = n; i < minDigits; ++i) out.push_back('0');
  while (n > 0) out.push_back(buf[--n]);
}

// "%8.8s:%5.5u %c %6.6lX " with the address blanked on directive lines.
void AppendPrefix(std::string& out, const Assembler& a, char letter, uint32_t address) {
  std::string_view name;
  if (a.fileIndex < a.sources.size()) name = a.sources[a.fileIndex].displayName;
  if (name.size() > 8) name = name.substr(0, 8);
  out.append(8 - name.size(), ' ');
  out.append(name);
  out.push_back(':');
  uint32_t number = a.lineNumber % 100000;
  char digits[5];
  for (int i = 4; i >= 0; --i) {
    digits[i] = static_cast<char>('0' + number % 10);
    number /= 10;
  }
  out.append(digits, 5);
  out.push_back(' ');
  out.push_back(letter);
  out.push_back(' ');
  if (a.directiveLine) {
    out.append(6, ' ');
  } else {
    AppendHex(out, address, 6);
  }
  out.push_back(' ');
}

// Up to three words from the image, each "%8.8lX ", padded with spaces.
void AppendWords(std::string& out, const Assembler& a, uint32_t at, uint32_t count) {
  for (uint32_t i = 0; i < 3; ++i) {
    if (i < count) {
      AppendHex(out, a.image.WordAt(uint64_t{at} + 4 * i), 8);
      out.push_back(' ');
    } else {
      out.append(9, ' ');
    }
  }
}

}  // namespace

std::string FormatListing(const Assembler& a) {
  char letter = a.segment == SEG_CODE ? 'c' : a.segment == SEG_ZERO ? 'z' : ' ';
  uint32_t start = a.lineStart;
  uint32_t end = a.image.size();
  uint32_t address = a.segment == SEG_ZERO ? a.zeroCounter + a.codeSize : start;
  uint32_t words = (a.segment == SEG_CODE && end > start) ? (end - start + 3) / 4 : 0;

  std::string out;
  out.reserve(kMaxListingLine + 2);
  AppendPrefix(out, a, letter, address);
  AppendWords(out, a, start, words);
  for (char c : a.line) {
    if (out.size() >= kMaxListingLine) break;
    if (c == '\t') {
      do out.push_back(' ');
      while ((out.size() - kSourceColumn) % 4 != 0);
    } else {
      out.push_back(c);
    }
  }
  if (out.size() > kMaxListingLine) out.resize(kMaxListingLine);
  out.append("\r\n");

  for (uint32_t first = 3; first < words; first += 3) {
    uint32_t at = start + 4 * first;
    AppendPrefix(out, a, letter, at);
    AppendWords(out, a, at, words - first < 3 ? words - first : 3);
    out.append("\r\n");
  }
  return out;
}

void ListLine(Assembler& a) {
  bool toFile = a.pass == 2 && a.listFile;
  bool toConsole = a.pass == 1 && a.listPass1;
  if ((!toFile && !toConsole) || a.lineNumber < 1) return;
  std::string text = FormatListing(a);
  if (toFile) {
    std::fwrite(text.data(), 1, text.size(), a.listFile);
    return;
  }
  std::string plain;
  plain.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    plain.push_back(text[i]);
  }
  ConsoleWrite(a, plain);
}

}  // namespace orvo::velda

#include "services/settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <new>

#include "services/files.h"
#include "services/files_posix.h"
#include "vm/memory.h"
#include "vm/request.h"
#include "vm/requests.h"
#include "vm/sys.h"

namespace orvo::services {

namespace {

constexpr size_t NONE = SettingsStore::NONE;
// Files of this many bytes or fewer hold no section worth loading.
constexpr size_t kShortestFile = 9;
// Section lengths are 32-bit words; the store stays well inside them.
constexpr size_t kLargestStore = 0x7FFFFFFF;

bool IsBlank(uint8_t c) {
  return c == ' ' || c == '\t';
}
bool IsBreak(uint8_t c) {
  return c == '\r' || c == '\n';
}

int HexDigit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

uint8_t* Buf(SettingsStore& s) {
  return s.buffer.get();
}

// The terminating zero byte: the end position.
size_t EndOf(const SettingsStore& s) {
  return s.used - 1;
}

uint32_t LengthOf(const SettingsStore& s, size_t section) {
  return vm::Load32(s.buffer.get() + section + SECTION_LENGTH);
}

void SetLength(SettingsStore& s, size_t section, size_t length) {
  vm::Store32(Buf(s) + section + SECTION_LENGTH, static_cast<uint32_t>(length));
}

// A current section that holds a header (not none and not the end position).
bool HasSection(const SettingsStore& s) {
  return s.buffer && s.section != NONE && s.section < EndOf(s) && s.buffer[s.section] == '[';
}

size_t SectionEnd(const SettingsStore& s) {
  return s.section + LengthOf(s, s.section);
}

// End of the line at p: its first CR or LF, or the limit.
size_t LineEnd(const SettingsStore& s, size_t p, size_t limit) {
  while (p < limit && !IsBreak(s.buffer[p])) ++p;
  return p;
}

size_t SkipBreaks(const SettingsStore& s, size_t p, size_t limit) {
  while (p < limit && IsBreak(s.buffer[p])) ++p;
  return p;
}

// The first line after a section's header. The header's line break is looked for only
// from the name on, since the length bytes before it may hold any value.
size_t FirstLine(const SettingsStore& s, size_t section, size_t end) {
  size_t p = section + SECTION_NAME < end ? section + SECTION_NAME : end;
  return SkipBreaks(s, LineEnd(s, p, end), end);
}

std::string_view NameOf(const SettingsStore& s, size_t section) {
  const size_t end = section + LengthOf(s, section);
  size_t p = section + SECTION_NAME;
  size_t q = p;
  while (q < end && s.buffer[q] != ']' && !IsBreak(s.buffer[q])) ++q;
  if (p > q) p = q;
  return std::string_view(reinterpret_cast<const char*>(s.buffer.get()) + p, q - p);
}

// Makes room for n bytes at p. The section and cursor pointers strictly after p move
// with the data. False (nothing changed) when memory runs out.
bool Insert(SettingsStore& s, size_t p, size_t n) {
  if (n > kLargestStore - s.used) return false;
  if (s.used + n > s.capacity) {
    const size_t capacity = s.capacity + n + SETTINGS_SPARE;
    std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[capacity]);
    if (!grown) return false;
    std::memcpy(grown.get(), Buf(s), p);
    std::memcpy(grown.get() + p + n, Buf(s) + p, s.used - p);
    s.buffer = std::move(grown);
    s.capacity = capacity;
  } else {
    std::memmove(Buf(s) + p + n, Buf(s) + p, s.used - p);
  }
  for (size_t* pointer : {&s.section, &s.cursor})
    if (*pointer != NONE && *pointer > p) *pointer += n;
  s.used += n;
  return true;
}

// Removes n bytes at p (never the terminating zero). Pointers at or after p + n move
// down; pointers into the removed bytes come to rest at p.
void Remove(SettingsStore& s, size_t p, size_t n) {
  if (n > EndOf(s) - p) n = EndOf(s) - p;
  std::memmove(Buf(s) + p, Buf(s) + p + n, s.used - p - n);
  for (size_t* pointer : {&s.section, &s.cursor}) {
    if (*pointer == NONE || *pointer <= p) continue;
    if (*pointer >= p + n)
      *pointer -= n;
    else
      *pointer = p;
  }
  s.used -= n;
}

// Inserts bytes at p and writes them; the current section grows by their length.
bool InsertInSection(SettingsStore& s, size_t p, std::string_view bytes) {
  const size_t section = s.section;
  if (!Insert(s, p, bytes.size())) return false;
  std::memcpy(Buf(s) + p, bytes.data(), bytes.size());
  SetLength(s, section, LengthOf(s, section) + bytes.size());
  return true;
}

void RemoveInSection(SettingsStore& s, size_t p, size_t n) {
  const size_t section = s.section;
  Remove(s, p, n);
  SetLength(s, section, LengthOf(s, section) - n);
}

struct KeyLine {
  bool found = false;
  size_t start = 0;   // the key's first byte, or where a new line goes
  size_t extent = 0;  // end of the line and all line breaks after it
};

// Finds the line of key in the current section. Lines may be indented with spaces and
// tabs; a "[" at the start of a line ends the search as the next section would.
KeyLine FindKey(const SettingsStore& s, std::string_view key) {
  const size_t end = SectionEnd(s);
  size_t p = FirstLine(s, s.section, end);
  for (;;) {
    while (p < end && IsBlank(s.buffer[p])) ++p;
    if (p >= end || s.buffer[p] == '[' || s.buffer[p] == 0) return {false, p, p};
    if (end - p > key.size() && std::memcmp(s.buffer.get() + p, key.data(), key.size()) == 0 &&
        s.buffer[p + key.size()] == '=') {
      return {true, p, SkipBreaks(s, LineEnd(s, p, end), end)};
    }
    p = SkipBreaks(s, LineEnd(s, p, end), end);
  }
}

// A new line where the key was not found. A section whose last line has no line break
// gets one first, so the new line never runs into the old one.
bool InsertNewLine(SettingsStore& s, size_t at, std::string_view key, std::string_view text) {
  std::string line;
  if (at > s.section && !IsBreak(s.buffer[at - 1])) line += "\r\n";
  line.append(key);
  line += '=';
  line.append(text);
  line += "\r\n";
  return InsertInSection(s, at, line);
}

// Rows 14 and 15: the text goes at the end of the key's value, before whatever line
// break the line has; a missing key gets a new line.
bool AppendToKey(SettingsStore& s, std::string_view key, std::string_view text) {
  KeyLine k = FindKey(s, key);
  bool ok = k.found ? InsertInSection(s, LineEnd(s, k.start, SectionEnd(s)), text)
                    : InsertNewLine(s, k.start, key, text);
  s.cursor = NONE;
  return ok;
}

bool MakeEmpty(SettingsStore& s, size_t capacity) {
  s.buffer.reset(new (std::nothrow) uint8_t[capacity]);
  s.section = s.cursor = NONE;
  if (!s.buffer) {
    s.used = s.capacity = 0;
    return false;
  }
  s.buffer[0] = 0;
  s.used = 1;
  s.capacity = capacity;
  return true;
}

}  // namespace

uint32_t SectionChecksum(const uint8_t* section, size_t length) {
  uint32_t sum = 0;
  const size_t words = length / 4;
  for (size_t i = 0; i < words; ++i) sum += vm::Load32(section + 4 * i);
  uint32_t tail = 0;
  for (size_t i = 4 * words; i < length; ++i) {
    const uint32_t extended =
        static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(section[i])));
    tail = (tail << 8) | extended;
  }
  return sum + tail;
}

uint32_t ParseNumber(const uint8_t*& p, bool& found) {
  found = false;
  if (*p < '0' || *p > '9') return 0;
  found = true;
  uint32_t v = 0;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && HexDigit(p[2]) >= 0) {
    p += 2;
    for (int d; (d = HexDigit(*p)) >= 0; ++p) v = v * 16 + static_cast<uint32_t>(d);
  } else if (p[0] == '0') {
    for (++p; *p >= '0' && *p <= '7'; ++p) v = v * 8 + static_cast<uint32_t>(*p - '0');
  } else {
    for (; *p >= '0' && *p <= '9'; ++p) v = v * 10 + static_cast<uint32_t>(*p - '0');
  }
  return v;
}

bool LoadSettingsBytes(SettingsStore& s, std::string_view bytes) {
  s.buffer.reset();
  s.used = s.capacity = 0;
  s.section = s.cursor = NONE;
  if (bytes.size() <= kShortestFile || bytes.size() >= kLargestStore) {
    MakeEmpty(s, SETTINGS_SPARE);
    return false;
  }
  if (!MakeEmpty(s, bytes.size() + 1)) {
    MakeEmpty(s, SETTINGS_SPARE);
    return false;
  }
  // The store is text up to its first zero byte, and sections are all it holds: anything
  // before the first "[" (blank lines, a stray byte order mark) is left out, so every
  // walk from the buffer start finds sections.
  size_t length = bytes.size();
  if (const void* zero = std::memchr(bytes.data(), 0, length))
    length = static_cast<size_t>(static_cast<const char*>(zero) - bytes.data());
  size_t first = std::string_view(bytes.data(), length).find('[');
  if (first == std::string_view::npos) first = length;
  std::memcpy(Buf(s), bytes.data() + first, length - first);
  s.used = length - first + 1;
  Buf(s)[s.used - 1] = 0;
  s.section = 0;

  uint8_t* b = Buf(s);
  size_t p = 0;
  while (p < EndOf(s) && b[p] == '[') {
    const uint8_t* field = b + p + 1;
    bool parsed = false;
    const uint32_t stored = ParseNumber(field, parsed);
    if (EndOf(s) - p < SECTION_NAME) {
      // Too few bytes for a header: only possible when the whole store is that short.
      b[p] = 0;
      s.used = p + 1;
      break;
    }
    // The next "[" at or after byte 11 begins the next section, provided a header fits
    // between it and the end; a "[" closer to the end stays in this section, so every
    // section can hold its length and mark.
    const size_t last = EndOf(s) - SECTION_NAME;
    size_t end = p + 11;
    while (end <= last && b[end] != '[') ++end;
    if (end > last) end = EndOf(s);
    std::memset(b + p + 1, 0, SECTION_FIELD);
    const uint32_t sum = SectionChecksum(b + p, end - p);
    SetLength(s, p, end - p);
    b[p + SECTION_MARK] = !parsed || stored != sum ? 1 : 0;
    p = end;
  }
  return true;
}

std::string SettingsFileImage(SettingsStore& s) {
  std::string out;
  if (!s.buffer) return out;
  uint8_t* b = Buf(s);
  size_t p = 0;
  while (p < EndOf(s) && b[p] == '[') {
    uint8_t kept[SECTION_FIELD];
    std::memcpy(kept, b + p + 1, SECTION_FIELD);
    const size_t length = vm::Load32(kept);
    // The shortest section is its "[" and field, when the next one follows at once.
    if (length <= SECTION_FIELD || length > EndOf(s) - p) break;  // never: lengths are exact
    std::memset(b + p + 1, 0, SECTION_FIELD);
    char field[SECTION_FIELD + 1];
    std::snprintf(field, sizeof field, "0x%8.8lX",
                  static_cast<unsigned long>(SectionChecksum(b + p, length)));
    std::memcpy(b + p + 1, field, SECTION_FIELD);
    out.append(reinterpret_cast<const char*>(b + p), length);
    std::memcpy(b + p + 1, kept, SECTION_FIELD);
    p += length;
  }
  return out;
}

bool LoadSettings(SettingsStore& s, FileService& fs, std::string_view name) {
  std::string bytes;
  OpenFileState file;
  if (OpenFile(fs, name, OPEN_BINARY, file)) {
    struct stat st;
    if (fstat(file.fd, &st) == 0 && st.st_size > static_cast<off_t>(kShortestFile) &&
        st.st_size < static_cast<off_t>(kLargestStore)) {
      bytes.resize(static_cast<size_t>(st.st_size));
      ssize_t n = ReadAll(file.fd, reinterpret_cast<uint8_t*>(bytes.data()), bytes.size());
      bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
    }
    CloseFile(fs, file);
  }
  return LoadSettingsBytes(s, bytes);
}

bool SaveSettings(SettingsStore& s, FileService& fs, std::string_view name) {
  if (!s.buffer) return false;
  OpenFileState file;
  if (!BeginReplace(fs, name, file)) return false;
  // A short write fails the save, and the previous file is then kept as it was.
  const std::string image = SettingsFileImage(s);
  ReplaceWrite(file, image.data(), image.size());
  return CloseFile(fs, file);
}

namespace {

// Copies a text into the program's buffer of size bytes: at most size - 1 bytes and a
// terminator; nothing at all for a size below 1.
bool Deliver(vm::Machine& m, uint32_t address, int32_t size, std::string_view text) {
  if (size < 1) return true;
  const size_t n =
      text.size() < static_cast<size_t>(size - 1) ? text.size() : static_cast<size_t>(size - 1);
  uint8_t* d = vm::RequestBytes(m, address, static_cast<uint32_t>(n + 1));
  if (!d) return false;
  std::memcpy(d, text.data(), n);
  d[n] = 0;
  return true;
}

// The most bytes a destination of size bytes takes before its terminator.
size_t Room(int32_t size) {
  return size < 1 ? 0 : static_cast<size_t>(size - 1);
}

size_t FindSection(const SettingsStore& s, std::string_view name) {
  size_t p = 0;
  while (p < EndOf(s) && s.buffer[p] == '[') {
    if (NameOf(s, p) == name) return p;
    p += LengthOf(s, p);
  }
  return NONE;
}

// Row 6: a double-quoted string at the cursor, backslash escaping the byte after it.
int32_t ReadQuoted(const SettingsStore& s, int32_t size, std::string& out, size_t& cursor) {
  if (!s.buffer || s.cursor == NONE) return 0;
  const uint8_t* b = s.buffer.get();
  size_t p = s.cursor;
  while (IsBlank(b[p])) ++p;
  if (b[p] != '"') return 0;
  ++p;
  const size_t room = Room(size);
  for (;;) {
    if (out.size() == room) {
      if (b[p] != '"') return -1;
      cursor = p + 1;
      return static_cast<int32_t>(room);
    }
    uint8_t c = b[p];
    if (c == '"') {
      cursor = p + 1;
      return static_cast<int32_t>(out.size());
    }
    if (c < 32) return -1;  // the zero byte or a control byte: no closing quote
    if (c == '\\') {
      c = b[++p];
      if (c == 0) return -1;
    }
    out += static_cast<char>(c);
    ++p;
  }
}

// Row 16: the line at the cursor (or the section's first line), backslash escaping the
// byte after it; the cursor then moves to the next line.
int32_t ReadLine(SettingsStore& s, int32_t size, std::string& out) {
  if (!HasSection(s)) return 0;
  const uint8_t* b = s.buffer.get();
  const size_t end = SectionEnd(s);
  if (s.cursor == NONE) {
    s.cursor = FirstLine(s, s.section, end);
    if (s.cursor >= end || b[s.cursor] == '[' || b[s.cursor] == 0) {
      s.section = s.cursor = NONE;
      return 0;
    }
  }
  const size_t room = Room(size);
  size_t p = s.cursor < s.section || s.cursor > end ? end : s.cursor;
  int32_t result;
  for (;;) {
    if (p >= end || b[p] == 0) {  // the data ended before a line break
      result = -1;
      break;
    }
    uint8_t c = b[p];
    if (IsBreak(c)) {
      result = static_cast<int32_t>(out.size());
      break;
    }
    if (out.size() == room) {
      result = -1;
      break;
    }
    if (c == '\\') {
      if (p + 1 >= end || b[p + 1] == 0) {
        result = -1;
        break;
      }
      c = b[++p];
    }
    out += static_cast<char>(c);
    ++p;
  }
  p = SkipBreaks(s, LineEnd(s, p, end), end);
  if (p >= end || b[p] == '[' || b[p] == 0)
    s.section = s.cursor = NONE;
  else
    s.cursor = p;
  return result;
}

// Row 11: moves to the next section and hands out its name.
int32_t NextSection(SettingsStore& s, int32_t size, std::string& out) {
  if (!s.buffer || s.section == NONE) return 0;
  s.cursor = NONE;
  // At the end position there is no section to move on from: the walk is over.
  if (!HasSection(s)) {
    s.section = NONE;
    return 0;
  }
  const size_t next = s.section + LengthOf(s, s.section);
  if (next >= EndOf(s) || s.buffer[next] != '[') {
    s.section = NONE;
    return 0;
  }
  s.section = next;
  std::string_view name = NameOf(s, next);
  const size_t room = Room(size);
  if (name.size() <= room) {
    out.assign(name);
    return static_cast<int32_t>(name.size());
  }
  out.assign(name.substr(0, room));
  return room == 0 && name.empty() ? 0 : -1;
}

bool AddSection(SettingsStore& s, std::string_view name) {
  const size_t found = FindSection(s, name);
  if (found != NONE) {
    s.section = found;
    s.cursor = NONE;
    return true;
  }
  std::string header(1, '[');
  header.append(SECTION_FIELD, '\0');
  header += '=';
  header.append(name);
  header += "]\r\n";
  const size_t at = EndOf(s);
  if (!Insert(s, at, header.size())) return false;
  std::memcpy(Buf(s) + at, header.data(), header.size());
  SetLength(s, at, header.size());
  s.section = at;
  s.cursor = NONE;
  return true;
}

bool SetLine(SettingsStore& s, std::string_view key, std::string_view text) {
  KeyLine k = FindKey(s, key);
  if (!k.found) {
    const size_t before = s.used;
    if (!InsertNewLine(s, k.start, key, text)) return false;
    // The new line's first byte (after a line break put in front of it, if one was).
    s.cursor = k.start + (s.used - before) - (key.size() + text.size() + 3);
    return true;
  }
  std::string line(key);
  line += '=';
  line.append(text);
  line += "\r\n";
  // The new line goes in after the old one before the old one goes, so running out of
  // memory leaves the old line in place.
  if (!InsertInSection(s, k.extent, line)) return false;
  RemoveInSection(s, k.start, k.extent - k.start);
  s.cursor = k.start;
  return true;
}

std::string FormatNumber(uint32_t value, uint32_t form) {
  char text[24];
  if (form == 2)
    std::snprintf(text, sizeof text, " 0x%8.8lX", static_cast<unsigned long>(value));
  else if (form == 1)
    std::snprintf(text, sizeof text, " 0%lo", static_cast<unsigned long>(value));
  else
    std::snprintf(text, sizeof text, " %ld", static_cast<long>(static_cast<int32_t>(value)));
  return text;
}

std::string QuoteString(std::string_view text) {
  std::string out = " \"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

SettingsStore& Store(vm::Request& r) {
  return vm::ServiceOf<SettingsRequests>(r).store;
}

void Load(vm::Request& r) {
  std::string_view name;
  SettingsRequests& s = vm::ServiceOf<SettingsRequests>(r);
  if (vm::RequestString(r.m, r.a[0], name))
    vm::SetResult(r.m, LoadSettings(s.store, s.files, name) ? 1 : 0);
}

void Save(vm::Request& r) {
  std::string_view name;
  SettingsRequests& s = vm::ServiceOf<SettingsRequests>(r);
  if (vm::RequestString(r.m, r.a[0], name))
    vm::SetResult(r.m, SaveSettings(s.store, s.files, name) ? 1 : 0);
}

void FindSectionRow(vm::Request& r) {
  SettingsStore& s = Store(r);
  std::string_view name;
  if (!vm::RequestString(r.m, r.a[0], name)) return;
  if (!s.buffer) {
    vm::SetResult(r.m, 0);
    return;
  }
  const size_t found = FindSection(s, name);
  s.section = found == NONE ? EndOf(s) : found;
  s.cursor = NONE;
  vm::SetResult(r.m, found == NONE ? 0 : 1);
}

// The key named by the first argument in the current section. False when the request is
// over already: a bad name stopped the program, or there is no section (the result is 0).
bool KeyOfRequest(vm::Request& r, SettingsStore& s, std::string_view& name, KeyLine& k) {
  if (!vm::RequestString(r.m, r.a[0], name)) return false;
  if (!HasSection(s)) {
    vm::SetResult(r.m, 0);
    return false;
  }
  k = FindKey(s, name);
  return true;
}

void FindKeyRow(vm::Request& r) {
  SettingsStore& s = Store(r);
  std::string_view name;
  KeyLine k;
  if (!KeyOfRequest(r, s, name, k)) return;
  s.cursor = k.found ? k.start + name.size() + 1 : k.start;
  vm::SetResult(r.m, k.found ? 1 : 0);
}

void ReadNumber(vm::Request& r) {
  SettingsStore& s = Store(r);
  if (!s.buffer || s.cursor == NONE) {
    vm::SetResult(r.m, 0);
    return;
  }
  const uint8_t* p = s.buffer.get() + s.cursor;
  while (IsBlank(*p)) ++p;
  const bool negative = *p == '-';
  if (negative) ++p;
  bool found = false;
  const uint32_t v = ParseNumber(p, found);
  uint8_t* word = vm::RequestBytes(r.m, r.a[0], 4);
  if (!word) return;
  vm::Store32(word, negative ? 0u - v : v);
  s.cursor = static_cast<size_t>(p - s.buffer.get());
  vm::SetResult(r.m, found ? 1 : 0);
}

void ReadStringRow(vm::Request& r) {
  SettingsStore& s = Store(r);
  std::string out;
  size_t cursor = s.cursor;
  const int32_t result = ReadQuoted(s, static_cast<int32_t>(r.a[1]), out, cursor);
  if (!Deliver(r.m, r.a[0], static_cast<int32_t>(r.a[1]), out)) return;
  s.cursor = cursor;
  vm::SetResult(r.m, static_cast<uint32_t>(result));
}

void AddSectionRow(vm::Request& r) {
  SettingsStore& s = Store(r);
  std::string_view name;
  if (vm::RequestString(r.m, r.a[0], name))
    vm::SetResult(r.m, s.buffer && AddSection(s, name) ? 1 : 0);
}

void SetLineRow(vm::Request& r) {
  SettingsStore& s = Store(r);
  std::string_view name, text;
  if (vm::RequestString(r.m, r.a[0], name) && vm::RequestString(r.m, r.a[1], text))
    vm::SetResult(r.m, HasSection(s) && SetLine(s, name, text) ? 1 : 0);
}

void DeleteSection(vm::Request& r) {
  SettingsStore& s = Store(r);
  if (!HasSection(s)) return;
  Remove(s, s.section, LengthOf(s, s.section));
  s.cursor = NONE;
  s.section = 0;
}

void DeleteKey(vm::Request& r) {
  SettingsStore& s = Store(r);
  std::string_view name;
  KeyLine k;
  if (!KeyOfRequest(r, s, name, k)) return;
  if (k.found) RemoveInSection(s, k.start, k.extent - k.start);
  s.cursor = k.start;
  vm::SetResult(r.m, k.found ? 1 : 0);
}

// Next section and read line only move the two pointers; a destination that is not in
// VM memory puts them back, so the request changes nothing but stopping the program.
void Walk(vm::Request& r, int32_t (*walk)(SettingsStore&, int32_t, std::string&)) {
  SettingsStore& s = Store(r);
  std::string out;
  const size_t section = s.section, cursor = s.cursor;
  const int32_t size = static_cast<int32_t>(r.a[1]);
  const int32_t result = walk(s, size, out);
  if (!Deliver(r.m, r.a[0], size, out)) {
    s.section = section;
    s.cursor = cursor;
    return;
  }
  vm::SetResult(r.m, static_cast<uint32_t>(result));
}

void Clear(vm::Request& r) {
  SettingsStore& s = Store(r);
  if (!s.buffer) return;
  s.buffer[0] = 0;
  s.used = 1;
  s.section = s.cursor = NONE;
}

void AtLineEnd(vm::Request& r) {
  SettingsStore& s = Store(r);
  if (!s.buffer || s.cursor == NONE) {
    vm::SetResult(r.m, 1);
    return;
  }
  while (IsBlank(s.buffer[s.cursor])) ++s.cursor;
  const uint8_t c = s.buffer[s.cursor];
  vm::SetResult(r.m, c == 0 || IsBreak(c) ? 1 : 0);
}

void AddNumber(vm::Request& r) {
  SettingsStore& s = Store(r);
  std::string_view name;
  if (!vm::RequestString(r.m, r.a[0], name)) return;
  vm::SetResult(r.m, HasSection(s) && AppendToKey(s, name, FormatNumber(r.a[1], r.a[2])) ? 1 : 0);
}

void AddString(vm::Request& r) {
  SettingsStore& s = Store(r);
  std::string_view name, text;
  if (!vm::RequestString(r.m, r.a[0], name) || !vm::RequestString(r.m, r.a[1], text)) return;
  vm::SetResult(r.m, HasSection(s) && AppendToKey(s, name, QuoteString(text)) ? 1 : 0);
}

constexpr vm::ArgCheck BLOCK = vm::ArgCheck::BLOCK;
constexpr vm::RequestRow kRows[] = {
    {0x800, "load", 1, BLOCK, Load},
    {0x801, "save", 1, BLOCK, Save},
    {0x802, "free", 0, BLOCK, [](vm::Request& r) { Store(r) = SettingsStore{}; }},
    {0x803, "find section", 1, BLOCK, FindSectionRow},
    {0x804, "find key", 1, BLOCK, FindKeyRow},
    {0x805, "read number", 1, BLOCK, ReadNumber},
    {0x806, "read string", 2, BLOCK, ReadStringRow},
    {0x807, "add section", 1, BLOCK, AddSectionRow},
    {0x808, "set line", 2, BLOCK, SetLineRow},
    {0x809, "delete section", 0, BLOCK, DeleteSection},
    {0x80A, "delete key", 1, BLOCK, DeleteKey},
    {0x80B, "next section", 2, BLOCK, [](vm::Request& r) { Walk(r, NextSection); }},
    {0x80C, "clear", 0, BLOCK, Clear},
    {0x80D, "at line end", 0, BLOCK, AtLineEnd},
    {0x80E, "add number", 3, BLOCK, AddNumber},
    {0x80F, "add string", 2, BLOCK, AddString},
    {0x810, "read line", 2, BLOCK, [](vm::Request& r) { Walk(r, ReadLine); }},
};

}  // namespace

void AddSettingsRequests(vm::RequestTable& t, SettingsRequests& service) {
  vm::AddRequests(t, kRows, &service);
}

}  // namespace orvo::services

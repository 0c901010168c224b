#include "vm/debug_info.h"

#include <algorithm>

#include "isa/debug_format.h"

namespace orvo::vm {

namespace fmt = debug_format;

namespace {

// Little-endian reads inside a region already checked to hold them.
struct Bytes {
  const uint8_t* p;
  uint32_t U8(size_t at) const { return p[at]; }
  uint32_t U16(size_t at) const { return p[at] | p[at + 1] << 8; }
  uint32_t U32(size_t at) const { return U16(at) | U16(at + 2) << 16; }
  uint64_t U64(size_t at) const { return U32(at) | uint64_t{U32(at + 4)} << 32; }
};

// Reads the packed line entries, never past their end.
struct Stream {
  const uint8_t* p;
  size_t left;
  bool Byte(uint8_t& v) {
    if (left == 0) return false;
    v = *p++;
    --left;
    return true;
  }
  bool Varint(uint64_t& v) {
    v = 0;
    for (uint32_t i = 0; i < fmt::kMaxVarintBytes; ++i) {
      uint8_t c;
      if (!Byte(c)) return false;
      v |= uint64_t{c & 0x7Fu} << (7 * i);
      if ((c & 0x80) == 0) return true;
    }
    return false;  // longer than any value the format holds
  }
  bool AtEnd() const { return left == 0; }
};

bool Fail(std::string& problem, std::string reason) {
  problem = std::move(reason);
  return false;
}

// A section of the header: count records of at least minRecord bytes each, all inside
// the file after the header.
struct Section {
  uint32_t offset, count, bytes;
};

bool ReadSection(const Bytes& b, uint64_t fileSize, uint32_t header, uint32_t minRecord,
                 Section& s) {
  s = {b.U32(header + fmt::SECTION_OFFSET), b.U32(header + fmt::SECTION_COUNT),
       b.U32(header + fmt::SECTION_BYTES)};
  return s.offset >= fmt::kHeaderSize && s.offset <= fileSize && s.bytes <= fileSize - s.offset &&
         uint64_t{s.count} * minRecord <= s.bytes;
}

char Fold(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Fold(a[i]) != Fold(b[i])) return false;
  return true;
}

std::string_view LastComponent(std::string_view name) {
  const size_t cut = name.find_last_of('/');
  return cut == std::string_view::npos ? name : name.substr(cut + 1);
}

}  // namespace

bool ReadDebugInfo(std::string_view text, DebugInfo& out, std::string& problem) {
  out = DebugInfo{};
  const uint64_t size = text.size();
  const Bytes b{reinterpret_cast<const uint8_t*>(text.data())};
  if (size < fmt::kHeaderSize) return Fail(problem, "shorter than its header");
  if (text.substr(0, 4) != std::string_view(fmt::kMagic, 4)) return Fail(problem, "not a debug file");
  if (b.U32(fmt::HDR_VERSION) != fmt::kVersion)
    return Fail(problem, "format version " + std::to_string(b.U32(fmt::HDR_VERSION)) +
                             ", this runtime reads " + std::to_string(fmt::kVersion));
  out.buildNumber = b.U32(fmt::HDR_BUILD_NUMBER);
  out.imageSize = b.U32(fmt::HDR_IMAGE_SIZE);
  out.imageHash = b.U64(fmt::HDR_IMAGE_HASH);

  Section files, lines, labels;
  if (!ReadSection(b, size, fmt::HDR_FILES, fmt::kMinFileRecord, files) || files.count > fmt::kMaxFiles)
    return Fail(problem, "the file table lies outside the file");
  if (!ReadSection(b, size, fmt::HDR_LINES, fmt::kMinLineEntry, lines))
    return Fail(problem, "the line table lies outside the file");
  if (!ReadSection(b, size, fmt::HDR_LABELS, fmt::kMinLabelRecord, labels))
    return Fail(problem, "the label table lies outside the file");
  auto name = [](Stream& in, uint64_t length, std::string& to) {
    if (length > in.left) return false;
    to.assign(reinterpret_cast<const char*>(in.p), length);
    in.p += length;
    in.left -= length;
    return true;
  };

  out.files.resize(files.count);
  Stream in{b.p + files.offset, files.bytes};
  for (uint32_t i = 0; i < files.count; ++i) {
    uint64_t length;
    if (!in.Varint(length) || !name(in, length, out.files[i]))
      return Fail(problem, "file " + std::to_string(i) + " runs past the file table");
  }
  if (!in.AtEnd()) return Fail(problem, "the file table holds more than its files");

  out.lines.resize(lines.count);
  in = Stream{b.p + lines.offset, lines.bytes};
  uint64_t end = 0;
  int64_t line = 0;
  uint64_t column = 1;
  uint8_t file = 0;
  for (uint32_t i = 0; i < lines.count; ++i) {
    DebugLine& l = out.lines[i];
    uint8_t flags = 0;
    if (!in.Byte(flags))
      return Fail(problem, "line entry " + std::to_string(i) + " runs past the line table");
    uint64_t gap = 0, length = flags >> fmt::LINE_LENGTH_SHIFT, jump = 0;
    if (((flags & fmt::LINE_GAP) && !in.Varint(gap)) || (length == 0 && !in.Varint(length)) ||
        ((flags & fmt::LINE_JUMP) && !in.Varint(jump)) ||
        ((flags & fmt::LINE_COLUMN) && !in.Varint(column)) ||
        ((flags & fmt::LINE_FILE) && !in.Byte(file)))
      return Fail(problem, "line entry " + std::to_string(i) + " runs past the line table");
    const uint64_t address = end + gap;
    line += 1 + fmt::UnZigZag(jump);
    if (length == 0 || address + length > out.imageSize)
      return Fail(problem, "line entry " + std::to_string(i) + " lies outside the image");
    if (line < 1 || line > UINT32_MAX || column > UINT16_MAX)
      return Fail(problem, "line entry " + std::to_string(i) + " has no such line or column");
    if (file >= files.count) return Fail(problem, "line entry " + std::to_string(i) + " names no file");
    l.address = static_cast<uint32_t>(address);
    l.length = static_cast<uint32_t>(length);
    l.line = static_cast<uint32_t>(line);
    l.column = static_cast<uint16_t>(column);
    l.file = file;
    l.kind = (flags & fmt::LINE_DATA) ? fmt::STATEMENT_DATA : fmt::STATEMENT_INSTRUCTION;
    end = address + length;
  }
  if (!in.AtEnd()) return Fail(problem, "the line table holds more than its entries");

  out.labels.resize(labels.count);
  in = Stream{b.p + labels.offset, labels.bytes};
  int64_t value = 0;
  line = 0;
  column = 1;
  file = 0;
  for (uint32_t i = 0; i < labels.count; ++i) {
    DebugLabel& l = out.labels[i];
    uint8_t flags, nameLength;
    uint64_t valueDelta, routineLength = 0, lineDelta;
    if (!in.Byte(flags) || !in.Varint(valueDelta) ||
        ((flags & fmt::LABEL_HAS_END) && !in.Varint(routineLength)) || !in.Varint(lineDelta) ||
        ((flags & fmt::LABEL_COLUMN) && !in.Varint(column)) || ((flags & fmt::LABEL_FILE) && !in.Byte(file)) ||
        !in.Byte(nameLength) || !name(in, nameLength, l.name))
      return Fail(problem, "label " + std::to_string(i) + " runs past the label table");
    value += fmt::UnZigZag(valueDelta);
    line += fmt::UnZigZag(lineDelta);
    const uint64_t routineEnd = static_cast<uint64_t>(value) + routineLength;
    l.kind = flags & fmt::LABEL_KIND_MASK;
    if (value < 0 || value > UINT32_MAX || line < 0 || line > UINT32_MAX || column > UINT16_MAX ||
        file >= files.count || l.kind < fmt::LABEL_CODE || l.kind > fmt::LABEL_CONSTANT ||
        ((flags & fmt::LABEL_HAS_END) && (routineLength == 0 || routineEnd > UINT32_MAX)))
      return Fail(problem, "label " + std::to_string(i) + " is malformed");
    l.value = static_cast<uint32_t>(value);
    l.end = (flags & fmt::LABEL_HAS_END) ? static_cast<uint32_t>(routineEnd) : 0;
    l.line = static_cast<uint32_t>(line);
    l.column = static_cast<uint16_t>(column);
    l.file = file;
    // Anonymous labels (velda's _@n) mark places inside a routine; offsets are given
    // from the named label before them.
    const bool anonymous = l.name.size() > 2 && l.name[0] == '_' && l.name[1] == '@';
    if ((l.kind == fmt::LABEL_CODE || l.kind == fmt::LABEL_DATA) && !anonymous)
      out.byValue.push_back(i);
  }
  if (!in.AtEnd()) return Fail(problem, "the label table holds more than its labels");
  // By value; the first defined wins among labels at one address.
  std::stable_sort(out.byValue.begin(), out.byValue.end(), [&](uint32_t x, uint32_t y) {
    return out.labels[x].value < out.labels[y].value;
  });
  return true;
}

bool DebugInfoMatches(const DebugInfo& info, const uint8_t* image, size_t size) {
  return size == info.imageSize && fmt::ImageHash(image, size) == info.imageHash;
}

const DebugLine* DebugInfo::LineAt(uint32_t address) const {
  auto it = std::upper_bound(lines.begin(), lines.end(), address,
                             [](uint32_t a, const DebugLine& l) { return a < l.address; });
  if (it == lines.begin()) return nullptr;
  --it;
  return address - it->address < it->length ? &*it : nullptr;
}

const DebugLabel* DebugInfo::LabelBelow(uint32_t address) const {
  auto it = std::upper_bound(byValue.begin(), byValue.end(), address,
                             [&](uint32_t a, uint32_t i) { return a < labels[i].value; });
  if (it == byValue.begin()) return nullptr;
  const uint32_t value = labels[*std::prev(it)].value;
  // Back to the first label defined at that address.
  auto first = std::lower_bound(byValue.begin(), it, value,
                                [&](uint32_t i, uint32_t v) { return labels[i].value < v; });
  return &labels[*first];
}

const DebugLabel* DebugInfo::FindLabel(std::string_view name) const {
  for (const DebugLabel& l : labels)
    if (EqualNoCase(l.name, name)) return &l;
  return nullptr;
}

bool DebugInfo::AddressOfLine(std::string_view file, uint32_t line, uint32_t& address) const {
  for (const DebugLine& l : lines) {
    if (l.line != line || l.kind != fmt::STATEMENT_INSTRUCTION) continue;
    const std::string& f = files[l.file];
    if (f == file || LastComponent(f) == file) {
      address = l.address;
      return true;
    }
  }
  return false;
}

std::string_view DebugInfo::ShortFileName(uint8_t file) const {
  return file < files.size() ? LastComponent(files[file]) : std::string_view();
}

}  // namespace orvo::vm

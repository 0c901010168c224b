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

// A section of count records of size bytes at offset, all inside the file.
bool Section(uint64_t fileSize, uint32_t offset, uint32_t count, uint32_t size) {
  return offset >= fmt::kHeaderSize && offset <= fileSize &&
         uint64_t{count} * size <= fileSize - offset;
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

  const uint32_t filesAt = b.U32(fmt::HDR_FILES), fileCount = b.U32(fmt::HDR_FILES + 4);
  const uint32_t linesAt = b.U32(fmt::HDR_LINES), lineCount = b.U32(fmt::HDR_LINES + 4);
  const uint32_t lineBytes = b.U32(fmt::HDR_LINE_BYTES);
  const uint32_t labelsAt = b.U32(fmt::HDR_LABELS), labelCount = b.U32(fmt::HDR_LABELS + 4);
  const uint32_t stringsAt = b.U32(fmt::HDR_STRINGS), stringBytes = b.U32(fmt::HDR_STRINGS + 4);
  if (!Section(size, filesAt, fileCount, fmt::kFileRecordSize) || fileCount > fmt::kMaxFiles)
    return Fail(problem, "the file table lies outside the file");
  if (!Section(size, linesAt, lineBytes, 1) || uint64_t{lineCount} * fmt::kMinLineEntry > lineBytes)
    return Fail(problem, "the line table lies outside the file");
  if (!Section(size, labelsAt, labelCount, fmt::kLabelRecordSize))
    return Fail(problem, "the label table lies outside the file");
  if (!Section(size, stringsAt, stringBytes, 1))
    return Fail(problem, "the names lie outside the file");
  const std::string_view strings = text.substr(stringsAt, stringBytes);
  auto name = [&](uint32_t offset, uint32_t length, std::string& to) {
    if (offset > strings.size() || length > strings.size() - offset) return false;
    to.assign(strings.substr(offset, length));
    return true;
  };

  out.files.resize(fileCount);
  for (uint32_t i = 0; i < fileCount; ++i) {
    const size_t at = filesAt + size_t{i} * fmt::kFileRecordSize;
    if (!name(b.U32(at + fmt::FILE_NAME), b.U32(at + fmt::FILE_NAME_LENGTH), out.files[i]))
      return Fail(problem, "file " + std::to_string(i) + " names bytes outside the names");
  }

  out.lines.resize(lineCount);
  Stream in{b.p + linesAt, lineBytes};
  uint64_t end = 0, line = 0;
  for (uint32_t i = 0; i < lineCount; ++i) {
    DebugLine& l = out.lines[i];
    uint64_t gap, length, lineDelta, column;
    uint8_t fileKind;
    if (!in.Varint(gap) || !in.Varint(length) || !in.Varint(lineDelta) || !in.Varint(column) ||
        !in.Byte(fileKind))
      return Fail(problem, "line entry " + std::to_string(i) + " runs past the line table");
    const uint64_t address = end + gap;
    const int64_t number = static_cast<int64_t>(line) + fmt::UnZigZag(lineDelta);
    if (length == 0 || address + length > out.imageSize)
      return Fail(problem, "line entry " + std::to_string(i) + " lies outside the image");
    if (number < 1 || number > UINT32_MAX || column > UINT16_MAX)
      return Fail(problem, "line entry " + std::to_string(i) + " has no such line or column");
    l.address = static_cast<uint32_t>(address);
    l.length = static_cast<uint32_t>(length);
    l.line = static_cast<uint32_t>(number);
    l.column = static_cast<uint16_t>(column);
    l.file = fileKind >> 1;
    l.kind = (fileKind & 1) ? fmt::STATEMENT_DATA : fmt::STATEMENT_INSTRUCTION;
    if (l.file >= fileCount) return Fail(problem, "line entry " + std::to_string(i) + " names no file");
    end = address + length;
    line = l.line;
  }
  if (!in.AtEnd()) return Fail(problem, "the line table holds more than its entries");

  out.labels.resize(labelCount);
  for (uint32_t i = 0; i < labelCount; ++i) {
    const size_t at = labelsAt + size_t{i} * fmt::kLabelRecordSize;
    DebugLabel& l = out.labels[i];
    l.value = b.U32(at + fmt::LABEL_VALUE);
    l.end = b.U32(at + fmt::LABEL_END);
    l.line = b.U32(at + fmt::LABEL_LINE);
    l.column = static_cast<uint16_t>(b.U16(at + fmt::LABEL_COLUMN));
    l.file = static_cast<uint8_t>(b.U8(at + fmt::LABEL_FILE));
    l.kind = static_cast<uint8_t>(b.U8(at + fmt::LABEL_KIND));
    if (!name(b.U32(at + fmt::LABEL_NAME), b.U8(at + fmt::LABEL_NAME_LENGTH), l.name))
      return Fail(problem, "label " + std::to_string(i) + " names bytes outside the names");
    if (l.file >= fileCount || l.kind < fmt::LABEL_CODE || l.kind > fmt::LABEL_CONSTANT ||
        (l.end != 0 && l.end < l.value))
      return Fail(problem, "label " + std::to_string(i) + " is malformed");
    // Anonymous labels (velda's _@n) mark places inside a routine; offsets are given
    // from the named label before them.
    const bool anonymous = l.name.size() > 2 && l.name[0] == '_' && l.name[1] == '@';
    if ((l.kind == fmt::LABEL_CODE || l.kind == fmt::LABEL_DATA) && !anonymous)
      out.byValue.push_back(i);
  }
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

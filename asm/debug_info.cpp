#include "debug_info.h"

#include <algorithm>

#include "assembler.h"
#include "isa/debug_format.h"
#include "mnemonics.h"
#include "outputs.h"

namespace orvo::velda {

namespace fmt = debug_format;

namespace {

// 1-based byte column of the first word of the current line.
uint16_t FirstColumn(const Assembler& a) {
  size_t i = 0;
  while (i < a.line.size() && (a.line[i] == ' ' || a.line[i] == '\t')) ++i;
  return static_cast<uint16_t>(std::min<size_t>(i + 1, 0xFFFF));
}

void Put32(std::string& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>(v >> (8 * i));
}

char* Varint(char* p, uint64_t v) {
  while (v >= 0x80) {
    *p++ = static_cast<char>(v | 0x80);
    v >>= 7;
  }
  *p++ = static_cast<char>(v);
  return p;
}

// Appends a section of count records, each at most maxRecord bytes, written by
// put(p, i) -> the end of record i; fills in its header triple.
template <class Put>
void AppendSection(std::string& out, uint32_t header, size_t count, size_t maxRecord, Put put) {
  const size_t at = out.size();
  size_t used = at;
  for (size_t i = 0; i < count; ++i) {
    if (out.size() - used < maxRecord) out.resize(std::max(2 * out.size(), used + maxRecord));
    used = static_cast<size_t>(put(out.data() + used, i) - out.data());
  }
  out.resize(used);
  Put32(out, header + fmt::SECTION_OFFSET, static_cast<uint32_t>(at));
  Put32(out, header + fmt::SECTION_COUNT, static_cast<uint32_t>(count));
  Put32(out, header + fmt::SECTION_BYTES, static_cast<uint32_t>(used - at));
}

// The first statement at or after address, or statements.size(). Labels come mostly in
// address order, so the search gallops on from where the one before was found (from).
size_t StatementFrom(const std::vector<StatementSite>& statements, uint32_t address, size_t& from) {
  auto endsBefore = [&](size_t i) { return statements[i].address + statements[i].length <= address; };
  size_t lo = 0, hi = statements.size();
  if (from <= hi && (from == 0 || endsBefore(from - 1))) {
    lo = from;
    size_t probe = from, step = 1;
    while (probe < hi && endsBefore(probe)) {
      lo = probe + 1;
      probe += step;
      step *= 2;
    }
    hi = std::min(probe, hi);
  }
  auto it = std::lower_bound(
      statements.begin() + static_cast<std::ptrdiff_t>(lo), statements.begin() + static_cast<std::ptrdiff_t>(hi),
      address, [](const StatementSite& s, uint32_t at) { return s.address + s.length <= at; });
  from = static_cast<size_t>(it - statements.begin());
  return from;
}

// A routine is a code label whose first statement is an sfvr. It runs over the
// instructions that follow without a gap, up to the next routine or the first data.
uint32_t RoutineEnd(const std::vector<StatementSite>& statements, size_t first) {
  uint32_t end = statements[first].address + statements[first].length;
  for (size_t j = first + 1; j < statements.size(); ++j) {
    const StatementSite& s = statements[j];
    if (s.address != end || s.opensFrame || s.kind != fmt::STATEMENT_INSTRUCTION) break;
    end = s.address + s.length;
  }
  return end;
}

}  // namespace

void NoteInstruction(Assembler& a, int mnemonicRow) {
  a.debug.instructionLine = true;
  a.debug.frameLine = kMnemonics[static_cast<size_t>(mnemonicRow)].cls == InsnClass::kSfvr;
}

void NoteLabel(Assembler& a) {
  a.debug.labels.push_back({a.lineNumber, FirstColumn(a)});
}

void NoteStatement(Assembler& a) {
  DebugRecord& d = a.debug;
  const uint32_t end = a.image.size();
  if (a.pass == 1) {
    d.pass1Statements += end > a.lineStart;
  } else if (end > a.lineStart) {
    if (d.statements.empty()) d.statements.reserve(d.pass1Statements);
    d.statements.push_back(
        {a.lineStart, end - a.lineStart, a.lineNumber, FirstColumn(a),
         static_cast<uint8_t>(a.fileIndex),
         d.instructionLine ? fmt::STATEMENT_INSTRUCTION : fmt::STATEMENT_DATA, d.frameLine});
  }
  d.instructionLine = false;
  d.frameLine = false;
}

std::string FormatDebugInfo(const Assembler& a) {
  const std::vector<StatementSite>& statements = a.debug.statements;
  const size_t labelCount = std::min(a.ids.count(), a.debug.labels.size());
  std::string out(fmt::kHeaderSize, '\0');
  out.replace(fmt::HDR_MAGIC, 4, fmt::kMagic, 4);
  Put32(out, fmt::HDR_VERSION, fmt::kVersion);
  Put32(out, fmt::HDR_BUILD_NUMBER, a.buildNumber);
  Put32(out, fmt::HDR_IMAGE_SIZE, a.codeSize);
  const uint64_t hash = fmt::ImageHash(a.image.data(), a.codeSize);
  Put32(out, fmt::HDR_IMAGE_HASH, static_cast<uint32_t>(hash));
  Put32(out, fmt::HDR_IMAGE_HASH + 4, static_cast<uint32_t>(hash >> 32));

  size_t longestName = 0;
  for (const SourceFile& f : a.sources) longestName = std::max(longestName, f.path.size());
  AppendSection(out, fmt::HDR_FILES, a.sources.size(), fmt::kMaxVarintBytes + longestName,
                [&](char* p, size_t i) {
                  const std::string& name = a.sources[i].path;
                  p = Varint(p, name.size());
                  return std::copy(name.begin(), name.end(), p);
                });

  uint32_t end = 0, line = 0, column = 1, file = 0;
  AppendSection(out, fmt::HDR_LINES, statements.size(), 1 + 4 * fmt::kMaxVarintBytes + 1,
                [&](char* p, size_t i) {
                  const StatementSite& s = statements[i];
                  const uint32_t shortLength = s.length <= fmt::kMaxShortLength ? s.length : 0;
                  char* flags = p++;
                  uint32_t f = shortLength << fmt::LINE_LENGTH_SHIFT;
                  if (s.kind == fmt::STATEMENT_DATA) f |= fmt::LINE_DATA;
                  if (s.address != end) {
                    f |= fmt::LINE_GAP;
                    p = Varint(p, s.address - end);
                  }
                  if (shortLength == 0) p = Varint(p, s.length);
                  if (s.line != line + 1) {
                    f |= fmt::LINE_JUMP;
                    p = Varint(p, fmt::ZigZag(int64_t{s.line} - (int64_t{line} + 1)));
                  }
                  if (s.column != column) {
                    f |= fmt::LINE_COLUMN;
                    p = Varint(p, s.column);
                  }
                  if (s.file != file) {
                    f |= fmt::LINE_FILE;
                    *p++ = static_cast<char>(s.file);
                  }
                  *flags = static_cast<char>(f);
                  end = s.address + s.length;
                  line = s.line;
                  column = s.column;
                  file = s.file;
                  return p;
                });

  uint32_t value = 0;
  size_t found = 0;
  line = 0;
  column = 1;
  file = 0;
  AppendSection(out, fmt::HDR_LABELS, labelCount, 1 + 4 * fmt::kMaxVarintBytes + 2 + fmt::kMaxLabelName,
                [&](char* p, size_t i) {
                  const IdEntry& e = a.ids[i];
                  const LabelSite& site = a.debug.labels[i];
                  const uint32_t v = static_cast<uint32_t>(static_cast<uint64_t>(e.value));
                  uint32_t f = fmt::LABEL_ZERO, length = 0;
                  if (e.flags & ID_CODE) {
                    const size_t first = StatementFrom(statements, v, found);
                    const bool data =
                        first < statements.size() && statements[first].kind == fmt::STATEMENT_DATA;
                    f = data ? fmt::LABEL_DATA : fmt::LABEL_CODE;
                    if (first < statements.size() && statements[first].address == v &&
                        statements[first].opensFrame)
                      length = RoutineEnd(statements, first) - v;
                  }
                  if (length != 0) f |= fmt::LABEL_HAS_END;
                  if (site.column != column) f |= fmt::LABEL_COLUMN;
                  if (e.file != file) f |= fmt::LABEL_FILE;
                  *p++ = static_cast<char>(f);
                  p = Varint(p, fmt::ZigZag(int64_t{v} - value));
                  if (length != 0) p = Varint(p, length);
                  p = Varint(p, fmt::ZigZag(int64_t{site.line} - line));
                  if (site.column != column) p = Varint(p, site.column);
                  if (e.file != file) *p++ = static_cast<char>(e.file);
                  const std::string_view name(e.name);
                  const size_t n = std::min<size_t>(name.size(), fmt::kMaxLabelName);  // velda's are shorter
                  *p++ = static_cast<char>(n);
                  value = v;
                  line = site.line;
                  column = site.column;
                  file = e.file;
                  return std::copy(name.begin(), name.begin() + n, p);
                });
  return out;
}

bool WriteDebugInfo(const Assembler& a) {
  const std::string bytes = FormatDebugInfo(a);
  return WriteFile(OutputPath(a, fmt::kFileName), bytes.data(), bytes.size());
}

}  // namespace orvo::velda

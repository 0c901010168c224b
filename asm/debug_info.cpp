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

class Writer {
 public:
  explicit Writer(std::string& out) : out_(out) {}
  void U8(size_t at, uint32_t v) { out_[at] = static_cast<char>(v & 0xFF); }
  void U16(size_t at, uint32_t v) {
    U8(at, v);
    U8(at + 1, v >> 8);
  }
  void U32(size_t at, uint32_t v) {
    U16(at, v);
    U16(at + 2, v >> 16);
  }
  void U64(size_t at, uint64_t v) {
    U32(at, static_cast<uint32_t>(v));
    U32(at + 4, static_cast<uint32_t>(v >> 32));
  }
  // Room for count records of size bytes; returns where they start.
  size_t Reserve(size_t count, size_t size) {
    size_t at = out_.size();
    out_.resize(at + count * size, '\0');
    return at;
  }

 private:
  std::string& out_;
};

char* Varint(char* p, uint64_t v) {
  while (v >= 0x80) {
    *p++ = static_cast<char>(v | 0x80);
    v >>= 7;
  }
  *p++ = static_cast<char>(v);
  return p;
}

// The first statement at or after address, or statements.size().
size_t StatementFrom(const std::vector<StatementSite>& statements, uint32_t address) {
  auto it = std::lower_bound(
      statements.begin(), statements.end(), address,
      [](const StatementSite& s, uint32_t at) { return s.address + s.length <= at; });
  return static_cast<size_t>(it - statements.begin());
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
  std::string strings;
  strings.reserve(labelCount * 8);
  std::string out(fmt::kHeaderSize, '\0');
  Writer w(out);
  out.replace(fmt::HDR_MAGIC, 4, fmt::kMagic, 4);
  w.U32(fmt::HDR_VERSION, fmt::kVersion);
  w.U32(fmt::HDR_BUILD_NUMBER, a.buildNumber);
  w.U32(fmt::HDR_IMAGE_SIZE, a.codeSize);
  w.U64(fmt::HDR_IMAGE_HASH, fmt::ImageHash(a.image.data(), a.codeSize));

  size_t at = w.Reserve(a.sources.size(), fmt::kFileRecordSize);
  w.U32(fmt::HDR_FILES, static_cast<uint32_t>(at));
  w.U32(fmt::HDR_FILES + 4, static_cast<uint32_t>(a.sources.size()));
  for (const SourceFile& f : a.sources) {
    w.U32(at + fmt::FILE_NAME, static_cast<uint32_t>(strings.size()));
    w.U32(at + fmt::FILE_NAME_LENGTH, static_cast<uint32_t>(f.path.size()));
    strings += f.path;
    at += fmt::kFileRecordSize;
  }

  at = out.size();
  w.U32(fmt::HDR_LINES, static_cast<uint32_t>(at));
  w.U32(fmt::HDR_LINES + 4, static_cast<uint32_t>(statements.size()));
  // Room for the longest entries, then cut to what they took.
  out.resize(at + statements.size() * (4 * fmt::kMaxVarintBytes + 1));
  char* p = out.data() + at;
  uint32_t end = 0, line = 0;
  for (const StatementSite& s : statements) {
    p = Varint(p, s.address - end);
    p = Varint(p, s.length);
    p = Varint(p, fmt::ZigZag(int64_t{s.line} - line));
    p = Varint(p, s.column);
    *p++ = static_cast<char>(s.file << 1 | (s.kind == fmt::STATEMENT_DATA ? 1 : 0));
    end = s.address + s.length;
    line = s.line;
  }
  out.resize(static_cast<size_t>(p - out.data()));
  w.U32(fmt::HDR_LINE_BYTES, static_cast<uint32_t>(out.size() - at));

  at = w.Reserve(labelCount, fmt::kLabelRecordSize);
  w.U32(fmt::HDR_LABELS, static_cast<uint32_t>(at));
  w.U32(fmt::HDR_LABELS + 4, static_cast<uint32_t>(labelCount));
  for (size_t i = 0; i < labelCount; ++i) {
    const IdEntry& e = a.ids[i];
    const uint32_t value = static_cast<uint32_t>(static_cast<uint64_t>(e.value));
    uint8_t kind = fmt::LABEL_ZERO;
    uint32_t end = 0;
    if (e.flags & ID_CODE) {
      const size_t first = StatementFrom(statements, value);
      const bool data =
          first < statements.size() && statements[first].kind == fmt::STATEMENT_DATA;
      kind = data ? fmt::LABEL_DATA : fmt::LABEL_CODE;
      if (first < statements.size() && statements[first].address == value &&
          statements[first].opensFrame)
        end = RoutineEnd(statements, first);
    }
    const std::string_view name(e.name);
    w.U32(at + fmt::LABEL_VALUE, value);
    w.U32(at + fmt::LABEL_END, end);
    w.U32(at + fmt::LABEL_NAME, static_cast<uint32_t>(strings.size()));
    w.U32(at + fmt::LABEL_LINE, a.debug.labels[i].line);
    w.U16(at + fmt::LABEL_COLUMN, a.debug.labels[i].column);
    w.U8(at + fmt::LABEL_FILE, e.file);
    w.U8(at + fmt::LABEL_KIND, kind);
    w.U8(at + fmt::LABEL_NAME_LENGTH, static_cast<uint32_t>(name.size()));
    strings += name;
    at += fmt::kLabelRecordSize;
  }

  w.U32(fmt::HDR_STRINGS, static_cast<uint32_t>(out.size()));
  w.U32(fmt::HDR_STRINGS + 4, static_cast<uint32_t>(strings.size()));
  out += strings;
  return out;
}

bool WriteDebugInfo(const Assembler& a) {
  const std::string bytes = FormatDebugInfo(a);
  return WriteFile(OutputPath(a, fmt::kFileName), bytes.data(), bytes.size());
}

}  // namespace orvo::velda

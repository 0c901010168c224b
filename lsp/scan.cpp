#include "scan.h"

#include <string>

#include "id_table.h"
#include "lexer.h"
#include "mnemonics.h"

namespace orvo::lsp {

using velda::EqualNoCase;
using velda::IsAsciiAlnum;
using velda::IsDigit;

size_t WordLength(std::string_view line, size_t pos) {
  if (pos >= line.size()) return 0;
  char c = line[pos];
  if (c == '&') return 1;
  if (!IsAsciiAlnum(c) && c != '@' && c != ':' && c != '-' && c != '_') return 0;
  size_t i = pos + 1;
  if (c == ':' && i < line.size() && line[i] == '@') return 2;
  while (size_t n = velda::WordCharLength(line, i)) i += n;
  return i - pos;
}

namespace {

bool IsWhite(char c) {
  return c == ' ' || c == '\t';
}

struct Cursor {
  std::string_view line;
  size_t pos = 0;
  ScannedLine& out;

  void Skip() {
    while (pos < line.size() && IsWhite(line[pos])) ++pos;
  }
  void Add(TokenKind kind, size_t from, size_t to) {
    if (to > from)
      out.tokens.push_back({kind, static_cast<uint32_t>(from), static_cast<uint32_t>(to)});
  }
  // The next word, or empty.
  std::string_view Word() {
    Skip();
    size_t n = WordLength(line, pos);
    return line.substr(pos, n);
  }
  void Take(TokenKind kind, std::string_view word) {
    Add(kind, pos, pos + word.size());
    pos += word.size();
  }
  void Comment() {
    out.commentBegin = static_cast<int>(pos);
    Add(TokenKind::kComment, pos, line.size());
    pos = line.size();
  }

  // Everything after the statement's leading words.
  void Operands() {
    while (pos < line.size()) {
      char c = line[pos];
      if (IsWhite(c)) {
        ++pos;
      } else if (c == ';') {
        Comment();
      } else if (c == '"') {
        size_t from = pos++;
        while (pos < line.size() && line[pos] != '"') pos += line[pos] == '\\' ? 2 : 1;
        if (pos < line.size()) ++pos;
        if (pos > line.size()) pos = line.size();
        Add(TokenKind::kString, from, pos);
      } else if (c == '$') {
        size_t from = pos++;
        while (pos < line.size() && IsDigit(line[pos])) ++pos;
        Add(TokenKind::kRegister, from, pos);
      } else if (c == '-' && pos + 1 < line.size() && IsDigit(line[pos + 1])) {
        size_t n = WordLength(line, pos);
        Add(TokenKind::kNumber, pos, pos + n);
        pos += n;
      } else if (size_t n = c == '-' ? 0 : WordLength(line, pos); n > 0) {
        std::string_view w = line.substr(pos, n);
        bool frame = EqualNoCase(w, "FP") && pos > 0 && line[pos - 1] == '[';
        Add(IsDigit(c) ? TokenKind::kNumber
            : frame    ? TokenKind::kRegister
                       : TokenKind::kLabel,
            pos, pos + n);
        pos += n;
      } else {
        Add(TokenKind::kOperator, pos, pos + 1);
        ++pos;
      }
    }
  }
};

bool IsSizeWord(std::string_view w) {
  return w == "b" || w == "w" || w == "d" || w == "q";
}

}  // namespace

ScannedLine LineScanner::Scan(std::string_view line) {
  ScannedLine out;
  out.inSegment = segment_ != velda::SEG_NONE;
  Cursor c{line, 0, out};
  if (line.empty() || line[0] == ';') {
    if (!line.empty()) c.Comment();
  } else {
    std::string_view first = c.Word();
    if (first.empty()) {
      c.Skip();
      if (c.pos < line.size() && line[c.pos] == ';')
        c.Comment();
      else if (segment_ == velda::SEG_NONE) {
        out.commentary = true;
        c.Comment();
      } else
        c.Operands();
    } else if (EqualNoCase(first, "public") || EqualNoCase(first, "extern")) {
      c.Take(TokenKind::kDirective, first);
      std::string_view name = c.Word();
      c.Take(TokenKind::kLabel, name);
      c.Operands();
    } else if (segment_ == velda::SEG_NONE) {
      if (EqualNoCase(first, "@code") || EqualNoCase(first, "@zero") ||
          EqualNoCase(first, "@end")) {
        if (EqualNoCase(first, "@code")) segment_ = velda::SEG_CODE;
        if (EqualNoCase(first, "@zero")) segment_ = velda::SEG_ZERO;
        c.Take(TokenKind::kDirective, first);
        c.Operands();
      } else {
        out.commentary = true;  // text outside a segment is skipped by velda
        c.Comment();
      }
    } else if (EqualNoCase(first, "@seg_end") || EqualNoCase(first, "@align")) {
      if (EqualNoCase(first, "@seg_end")) segment_ = velda::SEG_NONE;
      c.Take(TokenKind::kDirective, first);
      c.Operands();
    } else if (first[0] == ':') {
      c.Add(TokenKind::kOperator, c.pos, c.pos + 1);
      c.Add(TokenKind::kLabelDefinition, c.pos + 1, c.pos + first.size());
      c.pos += first.size();
      c.Operands();
    } else if (first == "&") {
      c.Take(TokenKind::kDirective, first);
      out.data = true;
      c.Operands();
    } else if (IsSizeWord(first)) {
      c.Take(TokenKind::kSize, first);
      c.Skip();
      std::string_view next = c.Word();
      if (!next.empty() && !IsDigit(next[0]) && next[0] != '-') {
        c.Take(velda::FindMnemonic(next) >= 0 ? TokenKind::kMnemonic : TokenKind::kUnknownWord,
               next);
      } else if (c.pos < line.size() && line[c.pos] != ';') {
        out.data = true;
      }
      c.Operands();
    } else {
      c.Take(velda::FindMnemonic(first) >= 0 ? TokenKind::kMnemonic : TokenKind::kUnknownWord,
             first);
      c.Operands();
    }
  }
  size_t end = out.commentBegin >= 0 ? static_cast<size_t>(out.commentBegin) : line.size();
  while (end > 0 && IsWhite(line[end - 1])) --end;
  out.bodyEnd = static_cast<uint32_t>(end);
  return out;
}

}  // namespace orvo::lsp

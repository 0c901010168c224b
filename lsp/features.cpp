#include "features.h"

#include <algorithm>
#include <cstdio>

#include "expression.h"
#include "id_table.h"
#include "knowledge.h"
#include "lexer.h"
#include "mnemonics.h"
#include "sizes.h"

namespace orvo::lsp {

namespace {

using velda::SourcePlace;

// Protocol constants.
constexpr int kError = 1, kWarning = 2, kInformation = 3, kUnnecessary = 1;
constexpr int kSymbolFunction = 12, kSymbolVariable = 13, kSymbolConstant = 14;
constexpr int kHighlightRead = 2, kHighlightWrite = 3;
constexpr int kCompletionFunction = 3, kCompletionVariable = 6, kCompletionKeyword = 14,
              kCompletionConstant = 21, kCompletionEvent = 23;

Json PositionJson(Position p) {
  return {{"line", p.line}, {"character", p.character}};
}

Json Range(const ProjectFile& f, size_t from, size_t to) {
  return {{"start", PositionJson(f.index.At(from))}, {"end", PositionJson(f.index.At(to))}};
}

Json PlaceRange(const ProjectFile& f, const SourcePlace& s) {
  return Range(f, s.offset, size_t{s.offset} + s.length);
}

Json Location(const Project& p, const SourcePlace& s) {
  if (s.file >= p.files.size()) return nullptr;
  const ProjectFile& f = *p.files[s.file];
  return {{"uri", f.uri}, {"range", PlaceRange(f, s)}};
}

// The semantic token types of the legend, and the type of each token kind in the order
// of TokenKind (-1: not coloured).
const std::vector<std::string> kTokenTypes = {"comment",  "string",    "number",
                                              "keyword",  "type",      "function",
                                              "variable", "parameter", "operator"};
constexpr int kTokenType[] = {0, 1, 2, 3, 4, 5, 6, 6, 7, 8, -1};
static_assert(std::size(kTokenType) == static_cast<size_t>(TokenKind::kUnknownWord) + 1);

bool Anonymous(const std::string& name) {
  return name.starts_with("_@");
}

// The token under a position: its line and index in the line's tokens.
struct Hit {
  size_t line = 0;
  const Token* token = nullptr;
  size_t begin = 0, end = 0;  // offsets in the file
  std::string_view text;
};

Hit TokenAt(const ProjectFile& f, Position at) {
  Hit h;
  if (f.index.lines() == 0) return h;
  size_t offset = f.index.OffsetOf(at);
  Position clamped = f.index.At(offset);
  h.line = clamped.line;
  size_t start = f.index.LineStart(h.line);
  std::string_view line = f.index.Line(h.line);
  for (const Token& t : f.lines[h.line].tokens) {
    if (offset >= start + t.begin && offset <= start + t.end) {
      h.token = &t;
      h.begin = start + t.begin;
      h.end = start + t.end;
      h.text = line.substr(t.begin, t.end - t.begin);
      if (offset < h.end) break;  // prefer the token the position is inside
    }
  }
  return h;
}

// The label a position names, through velda's own resolution of the name there.
int LabelAt(const Project& p, int file, Position at) {
  const ProjectFile& f = *p.files[static_cast<size_t>(file)];
  Hit h = TokenAt(f, at);
  if (!h.token) return -1;
  if (h.token->kind != TokenKind::kLabel && h.token->kind != TokenKind::kLabelDefinition) return -1;
  const auto& a = p.analysis;
  for (const velda::LabelUse& u : a.uses)
    if (u.place.file == static_cast<uint32_t>(file) && u.place.offset == h.begin) return u.label;
  for (size_t i = 0; i < a.labels.size(); ++i)
    if (a.labels[i].place.file == static_cast<uint32_t>(file) &&
        a.labels[i].place.offset == h.begin)
      return static_cast<int>(i);
  for (size_t i = 0; i < a.labels.size(); ++i)
    if (velda::EqualNoCase(a.labels[i].name, h.text)) return static_cast<int>(i);
  return -1;
}

// Code labels that begin instructions, data labels and zero-segment labels.
enum class LabelKind { kCode, kData, kZero };

LabelKind KindOf(const Project& p, const velda::LabelDefinition& d) {
  if (d.flags & velda::ID_ZERO) return LabelKind::kZero;
  if (d.place.file >= p.files.size()) return LabelKind::kCode;
  const ProjectFile& f = *p.files[d.place.file];
  for (size_t i = f.index.At(d.place.offset).line + 1; i < f.lines.size(); ++i) {
    const ScannedLine& s = f.lines[i];
    if (s.commentary || s.bodyEnd == 0) continue;
    if (!s.tokens.empty() && s.tokens[0].kind == TokenKind::kOperator) continue;  // a label
    return s.data ? LabelKind::kData : LabelKind::kCode;
  }
  return LabelKind::kCode;
}

int SymbolKind(LabelKind k) {
  return k == LabelKind::kZero   ? kSymbolVariable
         : k == LabelKind::kData ? kSymbolConstant
                                 : kSymbolFunction;
}

const char* KindName(LabelKind k) {
  return k == LabelKind::kZero ? "zero" : k == LabelKind::kData ? "data" : "code";
}

std::string Hex(int64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

Json Diagnostic(const ProjectFile& f, const SourcePlace& s, int severity, const std::string& text) {
  return {
      {"range", PlaceRange(f, s)}, {"severity", severity}, {"source", "velda"}, {"message", text}};
}

}  // namespace

Json SemanticTokenLegend() {
  return {{"tokenTypes", kTokenTypes}, {"tokenModifiers", {"declaration"}}};
}

Json Diagnostics(const Project& p, int file) {
  const ProjectFile& f = *p.files[static_cast<size_t>(file)];
  const auto& a = p.analysis;
  const uint32_t here = static_cast<uint32_t>(file);
  Json list = Json::array();
  if (file == 0)
    for (const std::string& e : p.listErrors) list.push_back(Diagnostic(f, {}, kError, e));
  for (const velda::Finding& e : a.errors)
    if (e.place.file == here) list.push_back(Diagnostic(f, e.place, kError, e.message));
  for (const velda::IgnoredStatement& s : a.ignored)
    if (s.place.file == here)
      list.push_back(Diagnostic(
          f, s.place, kWarning,
          "'" + s.word + "' is no mnemonic or directive: the statement assembles to nothing"));
  std::vector<int> used(a.labels.size(), 0);
  for (const velda::LabelUse& u : a.uses) {
    if (u.label >= 0) {
      ++used[static_cast<size_t>(u.label)];
    } else if (u.place.file == here) {
      list.push_back(Diagnostic(f, u.place, kWarning, "undefined label: " + u.name));
    }
  }
  // Uses are all known when velda did not give up. A label main.map lists is read from there.
  if (!a.stopped)
    for (size_t i = 0; i < a.labels.size(); ++i) {
      const velda::LabelDefinition& d = a.labels[i];
      if (used[i] == 0 && d.place.file == here && !Anonymous(d.name) &&
          !(d.flags & velda::ID_MAPPED)) {
        Json unused = Diagnostic(f, d.place, kWarning, "label never used: " + d.name);
        unused["tags"] = {kUnnecessary};
        list.push_back(unused);
      }
    }
  // velda gives up after its error limit; the last error shows where.
  if (a.errors.size() > static_cast<size_t>(velda::kMaxErrors) &&
      a.errors.back().place.file == here)
    list.push_back(Diagnostic(f, a.errors.back().place, kInformation, "Too many errors..."));
  return {{"uri", f.uri}, {"diagnostics", list}};
}

Json Definition(const Project& p, int file, Position at) {
  int label = LabelAt(p, file, at);
  if (label < 0) return nullptr;
  return Location(p, p.analysis.labels[static_cast<size_t>(label)].place);
}

Json References(const Project& p, int file, Position at, bool withDeclaration) {
  int label = LabelAt(p, file, at);
  if (label < 0) return nullptr;
  Json list = Json::array();
  if (withDeclaration)
    list.push_back(Location(p, p.analysis.labels[static_cast<size_t>(label)].place));
  for (const velda::LabelUse& u : p.analysis.uses)
    if (u.label == label) list.push_back(Location(p, u.place));
  return list;
}

Json Highlights(const Project& p, int file, Position at) {
  int label = LabelAt(p, file, at);
  if (label < 0) return nullptr;
  const ProjectFile& f = *p.files[static_cast<size_t>(file)];
  const uint32_t here = static_cast<uint32_t>(file);
  Json list = Json::array();
  const auto& d = p.analysis.labels[static_cast<size_t>(label)];
  if (d.place.file == here)
    list.push_back({{"range", PlaceRange(f, d.place)}, {"kind", kHighlightWrite}});
  for (const velda::LabelUse& u : p.analysis.uses)
    if (u.label == label && u.place.file == here)
      list.push_back({{"range", PlaceRange(f, u.place)}, {"kind", kHighlightRead}});
  return list;
}

Json PrepareRename(const Project& p, int file, Position at) {
  int label = LabelAt(p, file, at);
  if (label < 0 || Anonymous(p.analysis.labels[static_cast<size_t>(label)].name)) return nullptr;
  Hit h = TokenAt(*p.files[static_cast<size_t>(file)], at);
  return Range(*p.files[static_cast<size_t>(file)], h.begin, h.end);
}

Json Rename(const Project& p, int file, Position at, const std::string& newName,
            std::string& error) {
  int label = LabelAt(p, file, at);
  if (label < 0) {
    error = "no label here";
    return nullptr;
  }
  const auto& d = p.analysis.labels[static_cast<size_t>(label)];
  if (Anonymous(d.name)) {
    error = "an anonymous label has no name to change";
    return nullptr;
  }
  bool word = !newName.empty() && newName.size() <= velda::kMaxLabelName &&
              !velda::IsDigit(newName[0]) && newName[0] != '@' && newName[0] != ':' &&
              newName[0] != '-' && WordLength(newName, 0) == newName.size() &&
              velda::FindMnemonic(newName) < 0;
  if (!word) {
    error = "not a label name: " + newName;
    return nullptr;
  }
  for (const auto& other : p.analysis.labels)
    if (&other != &d && velda::EqualNoCase(other.name, newName)) {
      error = "a label of that name exists: " + newName;
      return nullptr;
    }
  Json changes = Json::object();
  auto add = [&](const SourcePlace& s) {
    if (s.file >= p.files.size()) return;
    const ProjectFile& f = *p.files[s.file];
    changes[f.uri].push_back({{"range", PlaceRange(f, s)}, {"newText", newName}});
  };
  add(d.place);
  for (const velda::LabelUse& u : p.analysis.uses)
    if (u.label == label) add(u.place);
  return {{"changes", changes}};
}

Json DocumentSymbols(const Project& p, int file) {
  const ProjectFile& f = *p.files[static_cast<size_t>(file)];
  Json list = Json::array();
  for (const velda::LabelDefinition& d : p.analysis.labels) {
    if (d.place.file != static_cast<uint32_t>(file) || Anonymous(d.name)) continue;
    LabelKind k = KindOf(p, d);
    Json range = PlaceRange(f, d.place);
    list.push_back({{"name", d.name},
                    {"detail", std::string(KindName(k)) + " " + Hex(d.value)},
                    {"kind", SymbolKind(k)},
                    {"range", range},
                    {"selectionRange", range}});
  }
  return list;
}

void WorkspaceSymbols(const Project& p, const std::string& query, Json& out) {
  std::string q;
  for (char c : query) q.push_back(velda::FoldCase(c));
  for (const velda::LabelDefinition& d : p.analysis.labels) {
    if (Anonymous(d.name) || d.place.file >= p.files.size()) continue;
    std::string folded;
    for (char c : d.name) folded.push_back(velda::FoldCase(c));
    if (folded.find(q) == std::string::npos) continue;
    LabelKind k = KindOf(p, d);
    out.push_back({{"name", d.name},
                   {"kind", SymbolKind(k)},
                   {"location", Location(p, d.place)},
                   {"containerName", KindName(k)}});
  }
}

Json Hover(const Project& p, int file, Position at) {
  const ProjectFile& f = *p.files[static_cast<size_t>(file)];
  Hit h = TokenAt(f, at);
  if (!h.token) return nullptr;
  std::string text;
  switch (h.token->kind) {
    case TokenKind::kLabel:
    case TokenKind::kLabelDefinition: {
      int label = LabelAt(p, file, at);
      if (label < 0) {
        text = "undefined label `" + std::string(h.text) + "`";
        break;
      }
      const auto& d = p.analysis.labels[static_cast<size_t>(label)];
      LabelKind k = KindOf(p, d);
      text = "**" + d.name + "**: " + KindName(k) + " label, value " + Hex(d.value) + " (" +
             std::to_string(d.value) + ")";
      if (d.place.file < p.files.size())
        text += "\n\ndefined in " + p.files[d.place.file]->path + ":" +
                std::to_string(p.files[d.place.file]->index.At(d.place.offset).line + 1);
      break;
    }
    case TokenKind::kMnemonic:
      text = MnemonicHover(velda::FindMnemonic(h.text));
      break;
    case TokenKind::kDirective:
    case TokenKind::kSize:
      if (const DirectiveDoc* d = FindDirective(h.text))
        text = "**" + std::string(d->word) + "**: " + d->meaning;
      break;
    case TokenKind::kNumber: {
      bool ok;
      int64_t v = velda::ParseNumberText(h.text, ok);
      if (!ok) break;
      text = "`" + std::string(h.text) + "` = " + std::to_string(v) + " = " + Hex(v);
      if (const RequestDoc* r = FindRequest(static_cast<uint32_t>(v)); r && v >= 0)
        text += "\n\nrequest **" + Hex(v) + " " + r->name + "** (" + r->group +
                ")\n\narguments: " + r->arguments + "\n\nresult: " + r->result;
      break;
    }
    default:
      break;
  }
  if (text.empty()) return nullptr;
  return {{"contents", {{"kind", "markdown"}, {"value", text}}},
          {"range", Range(f, h.begin, h.end)}};
}

Json Completion(const Project& p, int file, Position at) {
  const ProjectFile& f = *p.files[static_cast<size_t>(file)];
  Json items = Json::array();
  size_t offset = f.index.OffsetOf(at);
  size_t line = f.index.At(offset).line;
  size_t column = offset - f.index.LineStart(line);
  // Before the operands: only a size word (or nothing) precedes the word being typed.
  bool statementWord = true;
  for (const Token& t : f.lines[line].tokens)
    if (t.end < column && t.kind != TokenKind::kSize) statementWord = false;
  if (statementWord) {
    for (int row = 0; row < velda::kMnemonicRows; ++row) {
      const velda::Mnemonic& m = velda::kMnemonics[static_cast<size_t>(row)];
      if (m.name[0] == '\0' || velda::FindMnemonic(m.name) != row) continue;
      items.push_back({{"label", m.name},
                       {"kind", kCompletionFunction},
                       {"detail", MnemonicSizes(row)},
                       {"documentation", {{"kind", "markdown"}, {"value", MnemonicHover(row)}}}});
    }
    for (const DirectiveDoc& d : Directives())
      items.push_back({{"label", d.word}, {"kind", kCompletionKeyword}, {"detail", d.meaning}});
    return items;
  }
  for (const velda::LabelDefinition& d : p.analysis.labels) {
    if (Anonymous(d.name) || d.name.empty()) continue;
    items.push_back({{"label", d.name},
                     {"kind", kCompletionVariable},
                     {"detail", std::string(KindName(KindOf(p, d))) + " " + Hex(d.value)}});
  }
  for (const RequestDoc& r : Requests()) {
    std::string number = Hex(r.command);
    items.push_back({{"label", number + " " + r.name},
                     {"kind", kCompletionConstant},
                     {"insertText", number},
                     {"filterText", number + " " + r.name},
                     {"detail", r.arguments + " -> " + r.result}});
  }
  for (const EventDoc& e : Events())
    items.push_back({{"label", std::string(e.name)},
                     {"kind", kCompletionEvent},
                     {"insertText", std::to_string(e.code)},
                     {"detail", "event code " + std::to_string(e.code)}});
  return items;
}

Json SemanticTokens(const Project& p, int file) {
  const ProjectFile& f = *p.files[static_cast<size_t>(file)];
  Json data = Json::array();
  uint32_t lastLine = 0, lastStart = 0;
  for (size_t i = 0; i < f.lines.size(); ++i) {
    size_t start = f.index.LineStart(i);
    for (const Token& t : f.lines[i].tokens) {
      int type = kTokenType[static_cast<size_t>(t.kind)];
      if (type < 0) continue;
      Position a = f.index.At(start + t.begin), b = f.index.At(start + t.end);
      uint32_t deltaLine = a.line - lastLine;
      data.push_back(deltaLine);
      data.push_back(deltaLine == 0 ? a.character - lastStart : a.character);
      data.push_back(b.character - a.character);
      data.push_back(type);
      data.push_back(t.kind == TokenKind::kLabelDefinition ? 1 : 0);
      lastLine = a.line;
      lastStart = a.character;
    }
  }
  return {{"data", data}};
}

Json FoldingRanges(const Project& p, int file) {
  const ProjectFile& f = *p.files[static_cast<size_t>(file)];
  // Where routines start: code labels that begin instructions.
  std::vector<size_t> starts;
  for (const velda::LabelDefinition& d : p.analysis.labels)
    if (d.place.file == static_cast<uint32_t>(file) && !Anonymous(d.name) &&
        KindOf(p, d) == LabelKind::kCode)
      starts.push_back(f.index.At(d.place.offset).line);
  std::sort(starts.begin(), starts.end());
  Json list = Json::array();
  for (size_t k = 0; k < starts.size(); ++k) {
    size_t limit = k + 1 < starts.size() ? starts[k + 1] : f.lines.size();
    size_t last = starts[k];
    for (size_t i = starts[k] + 1; i < limit; ++i) {
      const ScannedLine& s = f.lines[i];
      if (!s.inSegment) break;  // the segment ended on the line before
      if (s.bodyEnd > 0 && !s.commentary) last = i;
    }
    if (last > starts[k])
      list.push_back({{"startLine", starts[k]}, {"endLine", last}, {"kind", "region"}});
  }
  return list;
}

std::string FormatText(const ProjectFile& f) {
  constexpr size_t kCommentColumn = 24;
  std::string out;
  out.reserve(f.text.size());
  for (size_t i = 0; i < f.lines.size(); ++i) {
    std::string_view line = f.index.Line(i);
    size_t lineStart = f.index.LineStart(i);
    size_t next = i + 1 < f.lines.size() ? f.index.LineStart(i + 1) : f.text.size();
    std::string_view ending =
        std::string_view(f.text).substr(lineStart + line.size(), next - lineStart - line.size());
    const ScannedLine& s = f.lines[i];
    bool openString =
        !s.tokens.empty() && s.tokens.back().kind == TokenKind::kString &&
        (s.tokens.back().end - s.tokens.back().begin < 2 || line[s.tokens.back().end - 1] != '"');
    size_t first = line.find_first_not_of(" \t");
    // Left as they are: long lines (velda splits them at its line limit), an unclosed
    // string (its trailing blanks are part of it), text velda skips, comment lines.
    if (line.size() > velda::kMaxLine / 2 || openString || s.commentary ||
        first == std::string_view::npos || s.bodyEnd <= first) {
      size_t keep = line.size();
      if (!openString && line.size() <= velda::kMaxLine / 2)
        while (keep > 0 && (line[keep - 1] == ' ' || line[keep - 1] == '\t')) --keep;
      out.append(line.substr(0, keep));
      out.append(ending);
      continue;
    }
    std::string_view body = line.substr(first, s.bodyEnd - first);
    std::string formatted = (body[0] == ':' || body[0] == '@') ? "" : " ";
    formatted.append(body);
    if (s.commentBegin >= 0) {
      std::string_view comment = line.substr(static_cast<size_t>(s.commentBegin));
      while (!comment.empty() && (comment.back() == ' ' || comment.back() == '\t'))
        comment.remove_suffix(1);
      formatted.append(formatted.size() < kCommentColumn ? kCommentColumn - formatted.size() : 1,
                       ' ');
      formatted.append(comment);
    }
    out.append(formatted);
    out.append(ending);
  }
  return out;
}

Json Formatting(const Project& p, int file) {
  const ProjectFile& f = *p.files[static_cast<size_t>(file)];
  std::string formatted = FormatText(f);
  if (formatted == f.text) return Json::array();
  return Json::array({{{"range", Range(f, 0, f.text.size())}, {"newText", formatted}}});
}

}  // namespace orvo::lsp

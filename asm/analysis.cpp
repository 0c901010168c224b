#include "analysis.h"

#include <cstring>
#include <memory>

#include "driver.h"
#include "passes.h"

namespace orvo::velda {

namespace {

SourcePlace Place(const Assembler& a, size_t lineOffset, size_t length) {
  SourcePlace p;
  p.file = static_cast<uint32_t>(a.fileIndex);
  p.offset = static_cast<uint32_t>(a.lineTextStart + lineOffset);
  p.length = static_cast<uint32_t>(length);
  return p;
}

SourcePlace TokenPlace(const Assembler& a) {
  return Place(a, a.tokenStart, a.token.size());
}

// The statement without the white space in front of it and its comment after it.
SourcePlace StatementPlace(const Assembler& a) {
  size_t from = 0;
  while (from < a.line.size() && (a.line[from] == ' ' || a.line[from] == '\t')) ++from;
  size_t to = a.line.size();
  bool quoted = false;
  for (size_t i = from; i < a.line.size(); ++i) {
    if (a.line[i] == '"') quoted = !quoted;
    if (a.line[i] == ';' && !quoted) {
      to = i;
      break;
    }
  }
  while (to > from && (a.line[to - 1] == ' ' || a.line[to - 1] == '\t')) --to;
  return Place(a, from, to - from);
}

bool EndsWith(std::string_view text, std::string_view tail) {
  return !tail.empty() && text.size() >= tail.size() &&
         text.substr(text.size() - tail.size()) == tail;
}

}  // namespace

void NoteError(Assembler& a, std::string_view message, bool plain) {
  if (!a.analysis || a.pass == 0) return;
  Finding f;
  f.message = message;
  f.plain = plain;
  if (message.starts_with("unexpected characters: ")) {
    f.place = Place(a, a.cursor, a.line.size() > a.cursor ? a.line.size() - a.cursor : 0);
  } else if (EndsWith(message, a.token) && a.tokenStart < a.line.size()) {
    f.place = TokenPlace(a);  // the message names the word just read
  } else {
    f.place = StatementPlace(a);
  }
  a.analysis->errors.push_back(std::move(f));
}

void NoteDefinition(Assembler& a, int index) {
  if (!a.analysis || index < 0) return;
  LabelDefinition d;
  d.name = a.ids[static_cast<size_t>(index)].name;
  d.place = Place(a, a.tokenStart + 1, a.token.size() > 0 ? a.token.size() - 1 : 0);
  auto& labels = a.analysis->labels;
  if (labels.size() <= static_cast<size_t>(index)) labels.resize(static_cast<size_t>(index) + 1);
  labels[static_cast<size_t>(index)] = std::move(d);
}

void NoteUse(Assembler& a, int index, const std::string& name) {
  if (!a.analysis || a.pass != 2) return;
  a.analysis->uses.push_back(LabelUse{index, name, TokenPlace(a)});
}

void NoteIgnored(Assembler& a) {
  if (!a.analysis || a.pass != 2 || a.token.empty()) return;
  a.analysis->ignored.push_back(IgnoredStatement{a.token, TokenPlace(a)});
}

Analysis AnalyzeSources(const std::vector<MemorySource>& sources) {
  Analysis result;
  if (sources.size() > kMaxFiles) {
    result.errors.push_back(Finding{"Too many source files (at most 128)", true, {}});
    return result;
  }
  // The state is large (code image and label table); keep it off the stack.
  auto a = std::make_unique<Assembler>();
  std::string console;
  a->console = &console;
  a->quiet = true;
  a->analysis = &result;
  // A byte order mark is not part of the text velda reads: places are moved past it.
  std::vector<uint32_t> shift;
  for (const MemorySource& s : sources) {
    SourceFile f;
    f.displayName = DisplayName(s.name);
    std::string_view text = s.text;
    uint32_t skip = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    text.remove_prefix(skip);
    f.text = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(f.text.get(), text.data(), text.size());
    f.text[text.size()] = '\0';
    f.size = text.size();
    a->sources.push_back(std::move(f));
    shift.push_back(skip);
  }
  AssembleAll(*a);

  result.stopped = a->stopped;
  result.codeSize = a->codeSize;
  result.zeroSize = a->zeroSize;
  result.image.assign(a->image.data(), a->image.data() + a->codeSize);
  result.labels.resize(a->ids.count());
  for (size_t i = 0; i < a->ids.count(); ++i) {
    result.labels[i].value = a->ids[i].value;
    result.labels[i].flags = a->ids[i].flags;
  }
  auto unshift = [&](SourcePlace& p) {
    if (p.file < shift.size()) p.offset += shift[p.file];
  };
  for (Finding& f : result.errors) unshift(f.place);
  for (LabelDefinition& d : result.labels) unshift(d.place);
  for (LabelUse& u : result.uses) unshift(u.place);
  for (IgnoredStatement& s : result.ignored) unshift(s.place);
  return result;
}

}  // namespace orvo::velda

#include "knowledge.h"

#include <algorithm>
#include <sstream>

#include "host/event_queue.h"
#include "id_table.h"
#include "isa/instruction_set.h"
#include "mnemonics.h"

namespace orvo::lsp {

extern const char* const kRequestGuide;  // docs/sys.md, built in

namespace {

using namespace isa;
using velda::InsnClass;

const char* FormText(Form f) {
  switch (f) {
    case FORM_R:
      return "$r";
    case FORM_I:
      return "[$r][o]";
    case FORM_A:
      return "[a]";
    case FORM_F:
      return "[FP][f]";
    case FORM_K_SHORT:
      return "=v (-4..3)";
    default:
      return "=v";
  }
}

struct Shape {
  std::string written;
  unsigned words;     // at sizes b, w, d
  unsigned wordsAtQ;  // at size q
};

std::vector<Shape> Shapes(int row) {
  const velda::Mnemonic& m = velda::kMnemonics[static_cast<size_t>(row)];
  std::vector<Shape> s;
  switch (m.cls) {
    case InsnClass::kTwoOperand: {
      bool memory = kOp2Info[m.index].memorySource;
      for (const FormatLocs& f : kFormatLocs) {
        if (f.dst == LOC_NONE) continue;
        Form src = FormOf(f.src);
        if (memory && (src == FORM_R || src == FORM_K_SHORT || src == FORM_K_LONG)) continue;
        unsigned w = 1 + ExtensionWords(f.dst, SIZE_D) + ExtensionWords(f.src, SIZE_D);
        unsigned q = 1 + ExtensionWords(f.dst, SIZE_Q) + ExtensionWords(f.src, SIZE_Q);
        s.push_back({std::string(FormText(FormOf(f.dst))) + ", " + FormText(src), w, q});
      }
      break;
    }
    case InsnClass::kTestJump:
      for (const char* op : {"$r", "[$r]", "[a]", "[FP][f]"})
        s.push_back({std::string(op) + ", =target", 2, 2});
      break;
    case InsnClass::kLongJump:
      s.push_back({"target", 1, 1});
      break;
    case InsnClass::kOneOperand:
      s.push_back({"$r", 1, 1});
      s.push_back({"[$r][o]", 2, 2});
      s.push_back({"[a]", 2, 2});
      s.push_back({"[FP][f]", 1, 1});
      if (m.index == 4) {  // push
        s.push_back({"=v (-2097152..2097151)", 1, 1});
        s.push_back({"=v", 2, 3});
      }
      break;
    case InsnClass::kNoOperand:
      s.push_back({"", 1, 1});
      break;
    case InsnClass::kEfr:
      s.push_back({"count", 1, 1});
      break;
    case InsnClass::kSfvr:
      s.push_back({"bytes, count", 1, 1});
      break;
    case InsnClass::kJsrfr:
      s.push_back({"n, $r", 1, 1});
      s.push_back({"n, =target", 2, 2});
      break;
    case InsnClass::kJmp:
      s.push_back({"=target", 1, 1});
      s.push_back({"$r", 1, 1});
      s.push_back({"[$r][o]", 1, 1});
      break;
    case InsnClass::kPushs:
      s.push_back({"=v (-2097152..2097151)", 1, 1});
      break;
    case InsnClass::kNone:
      break;
  }
  return s;
}

const char* ClassName(InsnClass c) {
  switch (c) {
    case InsnClass::kTwoOperand:
      return "two operands: destination, source";
    case InsnClass::kTestJump:
      return "test an operand and jump";
    case InsnClass::kLongJump:
      return "jump on the condition codes";
    case InsnClass::kOneOperand:
      return "one operand";
    case InsnClass::kNoOperand:
      return "no operand";
    case InsnClass::kEfr:
      return "end a frame: restore registers and return";
    case InsnClass::kSfvr:
      return "start a frame: local bytes and saved registers";
    case InsnClass::kJsrfr:
      return "call with n bytes of stack arguments";
    case InsnClass::kJmp:
      return "jump";
    case InsnClass::kPushs:
      return "push a short immediate";
    default:
      return "";
  }
}

std::string Words(unsigned n) {
  return std::to_string(n) + (n == 1 ? " word" : " words");
}

std::string Trim(std::string s) {
  while (!s.empty() && s.front() == ' ') s.erase(0, 1);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

std::vector<RequestDoc> ParseGuide(std::string_view guide) {
  std::vector<RequestDoc> out;
  std::string group;
  std::istringstream in{std::string(guide)};
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("## ")) group = line.substr(3);
    if (!line.starts_with("| 0x")) continue;
    std::vector<std::string> cells;
    std::string cell;
    for (size_t i = 1; i < line.size(); ++i) {
      if (line[i] == '|') {
        cells.push_back(Trim(cell));
        cell.clear();
      } else {
        cell.push_back(line[i]);
      }
    }
    if (cells.size() < 3) continue;
    RequestDoc r;
    size_t gap = cells[0].find(' ');
    r.command = static_cast<uint32_t>(std::stoul(cells[0].substr(2, gap - 2), nullptr, 16));
    r.name = gap == std::string::npos ? "" : cells[0].substr(gap + 1);
    r.arguments = cells[1];
    r.result = cells[2];
    r.group = group;
    out.push_back(std::move(r));
  }
  return out;
}

}  // namespace

std::string MnemonicHover(int row) {
  if (row < 0 || row >= velda::kMnemonicRows) return {};
  const velda::Mnemonic& m = velda::kMnemonics[static_cast<size_t>(row)];
  std::string text = "**" + std::string(m.name) + "**: " + ClassName(m.cls) + "\n\n";
  bool isFloat = (m.cls == InsnClass::kTwoOperand && kOp2Info[m.index].isFloat) ||
                 (m.cls == InsnClass::kOneOperand && kOp1Info[m.index].isFloat);
  if (m.cls == InsnClass::kTwoOperand || m.cls == InsnClass::kOneOperand ||
      m.cls == InsnClass::kTestJump || m.cls == InsnClass::kPushs)
    text += std::string("Sizes: ") + (isFloat ? "d, q" : "b, w, d, q") +
            " (the size word before it, which stays in effect)\n\n";
  text += "| form | size |\n|---|---|\n";
  for (const Shape& s : Shapes(row)) {
    std::string size = Words(s.words);
    if (s.wordsAtQ != s.words) size += ", " + Words(s.wordsAtQ) + " at q";
    text += "| `" + std::string(m.name) + (s.written.empty() ? "" : " " + s.written) + "` | " +
            size + " |\n";
  }
  return text;
}

std::string MnemonicSizes(int row) {
  if (row < 0 || row >= velda::kMnemonicRows) return {};
  unsigned lo = 99, hi = 0;
  for (const Shape& s : Shapes(row)) {
    lo = std::min(lo, s.words);
    hi = std::max(hi, s.wordsAtQ);
  }
  if (hi == 0) return {};
  return lo == hi ? Words(lo) : std::to_string(lo) + "-" + Words(hi);
}

const std::vector<DirectiveDoc>& Directives() {
  static const std::vector<DirectiveDoc> d = {
      {"@code",
       "Starts the code segment (outside a segment): statements add bytes to the image; pads to 2 "
       "bytes."},
      {"@zero",
       "Starts the zero segment (outside a segment): `d [n]` reserves zeroed bytes after the "
       "image."},
      {"@seg_end",
       "Ends the current segment; text after it, up to the next `@code` or `@zero`, is "
       "commentary."},
      {"@end", "Outside a segment: pads the image and the zero segment to a multiple of 4."},
      {"@align",
       "`@align 1|2|4|8`: pads the current segment; the next label starting with `_` goes into "
       "main.map."},
      {"public", "`public name`: names a label for other files; no effect on the outputs."},
      {"extern", "`extern name`: names a label of another file; no effect on the outputs."},
      {"&", "`& label`: a 32-bit word holding the label's value."},
      {"b", "Size b (1 byte) for the data and instructions that follow, until the next size word."},
      {"w",
       "Size w (2 bytes) for the data and instructions that follow, until the next size word."},
      {"d",
       "Size d (4 bytes) for the data and instructions that follow, until the next size word."},
      {"q",
       "Size q (8 bytes) for the data and instructions that follow, until the next size word."},
      {":@",
       "An anonymous label; `@F` names the next one, `@B` the one before (`@FF`, `@BB` further)."},
  };
  return d;
}

const DirectiveDoc* FindDirective(std::string_view word) {
  for (const DirectiveDoc& d : Directives()) {
    std::string_view w = d.word;
    bool sized = w.size() == 1 && w != "&";
    if (sized ? w == word : velda::EqualNoCase(w, word)) return &d;
  }
  return nullptr;
}

const std::vector<RequestDoc>& Requests() {
  static const std::vector<RequestDoc> r = ParseGuide(kRequestGuide);
  return r;
}

const RequestDoc* FindRequest(uint32_t command) {
  for (const RequestDoc& r : Requests())
    if (r.command == command) return &r;
  return nullptr;
}

const std::vector<EventDoc>& Events() {
  using namespace host;
  static const std::vector<EventDoc> e = {
      {"EVT_START", EVT_START},
      {"EVT_WINDOW", EVT_WINDOW},
      {"EVT_CLOSE", EVT_CLOSE},
      {"EVT_END", EVT_END},
      {"EVT_FOCUS", EVT_FOCUS},
      {"EVT_MINIMIZE", EVT_MINIMIZE},
      {"EVT_MOVE", EVT_MOVE},
      {"EVT_SIZE", EVT_SIZE},
      {"EVT_MUSIC_DONE", EVT_MUSIC_DONE},
      {"EVT_TIMER", EVT_TIMER},
      {"EVT_DOWN", EVT_DOWN},
      {"EVT_UP", EVT_UP},
      {"EVT_CHAR", EVT_CHAR},
      {"EVT_MOUSE_MOVE", EVT_MOUSE_MOVE},
  };
  return e;
}

}  // namespace orvo::lsp

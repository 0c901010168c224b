#include "expression.h"

#include <string>

#include "analysis.h"
#include "lexer.h"
#include "report.h"

namespace orvo::velda {

namespace {

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

// Pass 2 name of a term: anonymous references @F.., @B.. become "_@n".
// Returns false after reporting a malformed one.
bool ResolveAnonymous(Assembler& a, const std::string& token, std::string& name) {
  name = token;
  if (token.size() < 2 || token[0] != '@') return true;
  char kind = Upper(token[1]);
  if (kind != 'F' && kind != 'B') return true;
  size_t run = 1;
  while (1 + run < token.size() && Upper(token[1 + run]) == kind) ++run;
  size_t rest = token.size() - 1 - run;
  if (rest == 0) {
    int64_t n = static_cast<int64_t>(run);
    int64_t number = kind == 'F' ? int64_t{a.anonCount} + n - 1 : int64_t{a.anonCount} - n;
    name = "_@" + std::to_string(number);
    return true;
  }
  // One stray character after the run is a mistyped reference; a longer word
  // (@Fred, @Back) is an ordinary label name.
  if (rest == 1) {
    ReportError(a, "bad @label_reference");
    return false;
  }
  return true;
}

}  // namespace

int64_t ParseNumberText(std::string_view t, bool& ok) {
  size_t i = 0;
  bool negative = false;
  if (i < t.size() && t[i] == '-') {
    negative = true;
    ++i;
  }
  int base = 10;
  if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
    base = 16;
    i += 2;
  } else if (i < t.size() && t[i] == '0') {
    base = 8;
    ++i;
  }
  uint64_t value = 0;
  while (i < t.size()) {
    int d = DigitValue(t[i]);
    if (d >= base) break;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    ++i;
  }
  ok = i == t.size();
  if (negative) value = 0 - value;
  return static_cast<int64_t>(value);
}

int64_t ParseNumber(Assembler& a, std::string_view token) {
  bool ok;
  int64_t value = ParseNumberText(token, ok);
  if (!ok) {
    std::string message = "invalid number: ";
    message.append(token);
    ReportError(a, message);
  }
  return value;
}

bool EvalExpression(Assembler& a, Expr& e) {
  e = Expr{};
  uint64_t sum = 0;
  SkipWhite(a);
  bool subtract = false;
  if (Peek(a) == '-') {
    subtract = true;
    ++a.cursor;
  } else if (Peek(a) == '+') {
    ++a.cursor;
  }
  for (;;) {
    if (!ReadWord(a)) {
      ReportError(a, "invalid expression");
      return false;
    }
    uint64_t term = 0;
    if (IsDigit(a.token[0])) {
      term = static_cast<uint64_t>(ParseNumber(a, a.token));
    } else {
      if (e.hasLabel) {
        ReportError(a, "invalid expression");
        return false;
      }
      if (a.pass == 1) {
        // Pass 1 only notes that a label is named; its value is not known
        // for every label yet, so none is added.
        e.hasLabel = true;
        e.label = a.ids.Find(a.token);
      } else {
        std::string name;
        if (!ResolveAnonymous(a, a.token, name)) return false;
        int index = a.ids.Find(name);
        NoteUse(a, index, name);
        if (index < 0) {
          ReportPlainError(a, "undefined label: " + name);
          return false;
        }
        e.hasLabel = true;
        e.label = index;
        term = static_cast<uint64_t>(a.ids[static_cast<size_t>(index)].value);
      }
    }
    sum = subtract ? sum - term : sum + term;
    SkipWhite(a);
    char c = Peek(a);
    if (c != '+' && c != '-') break;
    subtract = c == '-';
    ++a.cursor;
  }
  e.value = static_cast<int64_t>(sum);
  return true;
}

}  // namespace orvo::velda

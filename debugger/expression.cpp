#include "debugger/expression.h"

#include <cctype>
#include <charconv>

#include "vm/machine.h"

namespace orvo::debugger {

namespace {

class Parser {
 public:
  Parser(std::string_view text, const vm::Machine& m, const vm::SourceView& view)
      : text_(text), m_(m), view_(view) {}

  EvalResult Run() {
    EvalResult r;
    Value v = Or();
    Skip();
    if (error_.empty() && at_ != text_.size()) Fail("unexpected text");
    if (!error_.empty()) {
      r.error = error_ + " at column " + std::to_string(errorAt_ + 1);
      return r;
    }
    r.ok = true;
    r.value = v;
    return r;
  }

 private:
  void Fail(std::string message) {
    if (!error_.empty()) return;
    error_ = std::move(message);
    errorAt_ = at_;
  }
  void Skip() {
    while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_;
  }
  bool Take(std::string_view token) {
    Skip();
    if (text_.substr(at_, token.size()) != token) return false;
    at_ += token.size();
    return true;
  }
  static bool WordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '.';
  }
  std::string_view Word() {
    Skip();
    const size_t from = at_;
    while (at_ < text_.size() && WordChar(text_[at_])) ++at_;
    return text_.substr(from, at_ - from);
  }
  static Value Plain(uint64_t v) { return Value{v, std::nullopt, 8}; }

  Value Or() {
    Value v = And();
    while (error_.empty() && Take("||")) v = Plain((v.value != 0) | (And().value != 0));
    return v;
  }
  Value And() {
    Value v = Compare();
    while (error_.empty() && Take("&&")) v = Plain((v.value != 0) & (Compare().value != 0));
    return v;
  }
  Value Compare() {
    Value v = Bits();
    for (std::string_view op : {"==", "!=", "<=", ">=", "<", ">"}) {
      if (!Take(op)) continue;
      const int64_t a = static_cast<int64_t>(v.value), b = static_cast<int64_t>(Bits().value);
      const bool r = op == "==" ? a == b : op == "!=" ? a != b : op == "<=" ? a <= b
                   : op == ">=" ? a >= b : op == "<"  ? a < b  : a > b;
      return Plain(r);
    }
    return v;
  }
  Value Bits() {
    Value v = Sum();
    for (;;) {
      Skip();
      const bool twice = at_ + 1 < text_.size() && text_[at_ + 1] == text_[at_];
      if (!twice && Take("&"))
        v = Plain(v.value & Sum().value);
      else if (!twice && Take("|"))
        v = Plain(v.value | Sum().value);
      else
        return v;
    }
  }
  Value Sum() {
    Value v = Product();
    for (;;) {
      if (Take("+"))
        v = Plain(v.value + Product().value);
      else if (Take("-"))
        v = Plain(v.value - Product().value);
      else
        return v;
    }
  }
  Value Product() {
    Value v = Unary();
    while (error_.empty() && Take("*")) v = Plain(v.value * Unary().value);
    return v;
  }
  Value Unary() {
    if (!error_.empty()) return {};
    if (Take("-")) return Plain(-Primary().value);
    if (Take("!")) return Plain(Primary().value == 0);
    return Primary();
  }
  Value Primary() {
    if (!error_.empty()) return {};
    if (++depth_ > kMaxDepth) {
      Fail("nested too deeply");
      return {};
    }
    Value v = Operand();
    --depth_;
    return v;
  }
  Value Operand() {
    Skip();
    if (Take("(")) {
      Value v = Or();
      if (!Take(")")) Fail("')' expected");
      return v;
    }
    if (Take("[")) return Memory(4);
    if (at_ < text_.size() && text_[at_] == '$') {
      ++at_;
      const uint64_t r = Number(Word());
      if (r > 15) Fail("registers are $0 .. $15");
      return error_.empty() ? Plain(vm::Load64(m_.mem + vm::RegisterAddress(r))) : Value{};
    }
    const size_t start = at_;
    const std::string_view word = Word();
    if (word.empty()) {
      Fail("an operand expected");
      return {};
    }
    if (std::isdigit(static_cast<unsigned char>(word[0]))) return Plain(Number(word));
    if (word.size() == 1 && std::string_view("bwdq").find(word[0]) != std::string_view::npos && Take("["))
      return Memory(word[0] == 'b' ? 1 : word[0] == 'w' ? 2 : word[0] == 'd' ? 4 : 8);
    if (word == "FP" || word == "VFP") return Plain(m_.Word(vm::HDR_VFP));
    if (word == "VSP") return Plain(m_.Word(vm::HDR_VSP));
    if (word == "VPC") return Plain(m_.Word(vm::HDR_VPC));
    if (const vm::DebugInfo* info = view_.info())
      if (const vm::DebugLabel* label = info->FindLabel(word))
        return Value{label->value, label->value, 8};
    for (const auto& [address, name] : view_.symbols().byAddress)
      if (name == word) return Value{address, address, 8};
    at_ = start;
    Fail("no label " + std::string(word));
    return {};
  }
  // After "[": the base, "]", and an optional "[offset]".
  Value Memory(uint32_t size) {
    uint64_t address = 0;
    Skip();
    const size_t save = at_;
    const std::string_view word = Word();
    if (word == "FP") {
      address = m_.Word(vm::HDR_VFP);
    } else {
      at_ = save;
      address = Or().value;
      if (text_.substr(save, 1) == "$") address &= 0xFFFFFFFFu;  // a register's low 32 bits
    }
    if (!Take("]")) Fail("']' expected");
    if (Take("[")) {
      address += Or().value;
      if (!Take("]")) Fail("']' expected");
    }
    if (!error_.empty()) return {};
    const uint32_t a = static_cast<uint32_t>(address);
    const uint8_t* p = address == a ? m_.Ptr(a, size) : nullptr;
    if (!p) {
      Fail("address outside VM memory");
      return {};
    }
    const uint64_t v = size == 1 ? vm::Load8(p) : size == 2 ? vm::Load16(p)
                     : size == 4 ? vm::Load32(p) : vm::Load64(p);
    return Value{v, a, size};
  }
  uint64_t Number(std::string_view word) {
    uint64_t v = 0;
    int base = 10;
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
      word.remove_prefix(2);
      base = 16;
    }
    const auto [p, ec] = std::from_chars(word.data(), word.data() + word.size(), v, base);
    if (word.empty() || ec != std::errc() || p != word.data() + word.size()) Fail("bad number");
    return v;
  }

  std::string_view text_;
  const vm::Machine& m_;
  const vm::SourceView& view_;
  static constexpr int kMaxDepth = 64;  // parentheses and brackets, so hostile text cannot exhaust the stack
  int depth_ = 0;
  size_t at_ = 0;
  std::string error_;
  size_t errorAt_ = 0;
};

}  // namespace

bool ParseMemoryReference(const std::string& text, int64_t offset, uint64_t& out) {
  uint64_t v = 0;
  std::string_view digits = text;
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits.remove_prefix(2);
    base = 16;
  }
  const auto [p, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v, base);
  if (digits.empty() || ec != std::errc() || p != digits.data() + digits.size() || v > INT64_MAX) return false;
  const int64_t sum = static_cast<int64_t>(v) + offset;
  if ((offset > 0 && sum < static_cast<int64_t>(v)) || sum < 0) return false;
  out = static_cast<uint64_t>(sum);
  return true;
}

EvalResult Evaluate(std::string_view text, const vm::Machine& m, const vm::SourceView& view) {
  if (!m.mem) return {false, {}, "the game is not loaded"};
  return Parser(text, m, view).Run();
}

}  // namespace orvo::debugger

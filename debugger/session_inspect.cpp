// The requests that look at a stopped game: its stack, variables, expressions, memory
// and code.
#include <algorithm>
#include <cinttypes>
#include <filesystem>

#include "debugger/base64.h"
#include "debugger/expression.h"
#include "debugger/session.h"
#include "vm/machine.h"

namespace orvo::debugger {

namespace {

// Fixed variable references of the scopes; a heap block's words are not expanded.
enum Scope : int { REGISTERS = 1, FRAME = 2, EVENT = 3, HEAP = 4 };

std::string Hex32(uint32_t v) {
  return vm::Format("0x%8.8lX", static_cast<unsigned long>(v));
}

std::string FlagNames(uint8_t flags) {
  std::string out;
  if (flags & vm::FLAG_ZERO) out += "zero ";
  if (flags & vm::FLAG_NEGATIVE) out += "negative ";
  if (flags & vm::FLAG_ODD) out += "odd ";
  if (out.empty()) return "none";
  out.pop_back();
  return out;
}

Json Variable(const std::string& name, const std::string& value, std::optional<uint32_t> address = {}) {
  Json v = {{"name", name}, {"value", value}, {"variablesReference", 0}};
  if (address) {
    v["memoryReference"] = Hex32(*address);
    v["evaluateName"] = "[" + Hex32(*address) + "]";
  }
  return v;
}

}  // namespace

std::string Session::PathOf(uint8_t file) const {
  const vm::DebugInfo* info = view_.info();
  if (!info || file >= info->files.size()) return {};
  const std::filesystem::path name = info->files[file];
  if (name.is_absolute()) return name.string();
  std::error_code ec;
  const std::filesystem::path in = std::filesystem::path(launch_.sources) / name;
  return std::filesystem::absolute(in, ec).lexically_normal().string();
}

Json Session::SourceOf(uint8_t file) const {
  const vm::DebugInfo* info = view_.info();
  if (!info || file >= info->files.size()) return nullptr;
  return {{"name", std::string(info->ShortFileName(file))}, {"path", PathOf(file)}};
}

Json Session::StackTrace(const Json& a, std::string& error) {
  if (!Loaded() || !inDelivery_) {
    error = "the game is not stopped";
    return {};
  }
  const auto startFrame = a.find("startFrame");
  const int64_t start =
      startFrame != a.end() && startFrame->is_number_integer() ? std::max<int64_t>(0, startFrame->get<int64_t>()) : 0;
  const uint32_t pc = machine_->Word(vm::HDR_VPC);
  std::vector<uint32_t> places{pc};
  if (AtRoutineStart(*machine_, pc))
    if (const uint8_t* ret = machine_->Ptr(machine_->Word(vm::HDR_VSP), 4); ret && vm::Load32(ret))
      places.push_back(view_.CallSite(vm::Load32(ret)));
  for (const vm::CallFrame& f : vm::WalkFrames(*machine_, machine_->Word(vm::HDR_VFP)))
    if (f.returnAddress != 0) places.push_back(view_.CallSite(f.returnAddress));
  Json frames = Json::array();
  for (size_t i = static_cast<size_t>(start); i < places.size(); ++i) {
    const uint32_t at = places[i];
    std::string name = view_.LabelOffset(at);
    if (name.empty()) name = Hex32(at);
    Json f = {{"id", i + 1}, {"name", name}, {"line", 0}, {"column", 0},
              {"instructionPointerReference", Hex32(at)}};
    if (const vm::DebugLine* line = LineAt(at)) {
      f["line"] = line->line;
      f["column"] = line->column + 1;
      f["source"] = SourceOf(line->file);
    }
    frames.push_back(f);
  }
  return {{"stackFrames", frames}, {"totalFrames", places.size()}};
}

Json Session::Scopes(const Json&, std::string& error) {
  if (!Loaded()) {
    error = "the game is not running";
    return {};
  }
  auto scope = [](const char* name, int ref, bool expensive) {
    return Json{{"name", name}, {"variablesReference", ref}, {"expensive", expensive}};
  };
  return {{"scopes", Json::array({scope("Registers", REGISTERS, false), scope("Frame", FRAME, false),
                                  scope("Event", EVENT, false), scope("Heap", HEAP, true)})}};
}

Json Session::Variables(const Json& a, std::string& error) {
  const int64_t ref = a.contains("variablesReference") && a["variablesReference"].is_number_integer()
                          ? a["variablesReference"].get<int64_t>()
                          : -1;
  if (ref < 0) error = "variables needs a variablesReference";
  else if (!Loaded()) error = "the game is not running";
  if (!error.empty()) return {};
  const vm::Machine& m = *machine_;
  Json out = Json::array();
  switch (ref) {
    case REGISTERS: {
      for (unsigned r = 0; r < 16; ++r) {
        const uint64_t v = vm::Load64(m.mem + vm::RegisterAddress(r));
        out.push_back(Variable("$" + std::to_string(r), vm::Format("0x%16.16" PRIX64 " (%" PRId64 ")", v,
                                                                  static_cast<int64_t>(v))));
        out.back()["evaluateName"] = "$" + std::to_string(r);
      }
      out.push_back(Variable("VPC", Hex32(m.Word(vm::HDR_VPC))));
      out.push_back(Variable("VSP", Hex32(m.Word(vm::HDR_VSP))));
      out.push_back(Variable("VFP", Hex32(m.Word(vm::HDR_VFP))));
      const uint8_t flags = m.mem[vm::HDR_FLAGS];
      out.push_back(Variable("flags", std::to_string(flags) + " (" + FlagNames(flags) + ")"));
      break;
    }
    case FRAME: {
      const uint32_t fp = m.Word(vm::HDR_VFP);
      const uint8_t* f = m.Ptr(fp, 12);
      if (!f) break;
      out.push_back(Variable("caller VFP", Hex32(vm::Load32(f)), fp));
      out.push_back(Variable("return", Hex32(vm::Load32(f + 4)), fp + 4));
      const uint32_t bytes = vm::Load32(f + 8);
      out.push_back(Variable("argument bytes", std::to_string(bytes), fp + 8));
      for (uint32_t i = 0; i < std::min<uint32_t>(bytes / 4, 64); ++i)
        if (const uint8_t* w = m.Ptr(fp + 12 + 4 * i, 4))
          out.push_back(Variable("[FP][" + std::to_string(12 + 4 * i) + "]", Hex32(vm::Load32(w)), fp + 12 + 4 * i));
      const uint32_t sp = m.Word(vm::HDR_VSP);
      for (uint32_t at = sp, n = 0; at < fp && n < 64; at += 4, ++n)
        if (const uint8_t* w = m.Ptr(at, 4))
          out.push_back(Variable("[FP][" + std::to_string(static_cast<int64_t>(at) - fp) + "]",
                                 Hex32(vm::Load32(w)), at));
      break;
    }
    case EVENT: {
      const char* names[] = {"code", "parameter 1", "parameter 2", "parameter 3"};
      for (int i = 0; i < 4; ++i) out.push_back(Variable(names[i], Hex32(event_[i])));
      out.push_back(Variable("deliveries", std::to_string(deliveries_)));
      break;
    }
    case HEAP: {
      const vm::HeapState& h = m.heap;
      out.push_back(Variable("heap", Hex32(h.heapStart) + ", " + std::to_string(h.heapSize) + " bytes, top " +
                                         Hex32(h.heapTop)));
      const char* lists[] = {"unused", "freed", "allocated", "locked"};
      size_t shown = 0;
      for (uint32_t handle = 0; handle < h.records.size() && shown < 1000; ++handle) {
        const vm::HandleRecord& r = h.records[handle];
        if (r.list != vm::LIST_ALLOCATED && r.list != vm::LIST_LOCKED) continue;
        ++shown;
        out.push_back(Variable("handle " + std::to_string(handle),
                               std::string(lists[r.list]) + ", " + std::to_string(r.size) + " of " +
                                   std::to_string(r.capacity) + " bytes at " + Hex32(r.address),
                               r.address));
      }
      break;
    }
    default:
      error = "no such variables";
  }
  return {{"variables", out}};
}

Json Session::EvaluateRequest(const Json& a, std::string& error) {
  std::string expression;
  if (const auto it = a.find("expression"); it != a.end() && it->is_string()) expression = *it;
  else error = "evaluate needs an expression";
  if (error.empty() && !Loaded()) error = "the game is not running";
  if (!error.empty()) return {};
  const EvalResult r = Evaluate(expression, *machine_, view_);
  if (!r.ok) {
    error = r.error;
    return {};
  }
  const Value& v = r.value;
  std::string text;
  if (v.size == 8) text = vm::Format("0x%" PRIX64 " (%" PRId64 ")", v.value, static_cast<int64_t>(v.value));
  else text = vm::Format("0x%" PRIX64 " (%" PRIu64 ")", v.value, v.value);
  Json out = {{"result", text}, {"variablesReference", 0}};
  if (v.address) out["memoryReference"] = Hex32(*v.address);
  return out;
}

Json Session::ReadMemory(const Json& a, std::string& error) {
  std::string reference;
  if (const auto it = a.find("memoryReference"); it != a.end() && it->is_string()) reference = *it;
  const int64_t offset = a.value("offset", Json(0)).is_number_integer() ? a.value("offset", int64_t{0}) : 0;
  const Json count = a.value("count", Json());
  uint64_t address = 0;
  if (!count.is_number_integer() || count.get<int64_t>() < 0) error = "readMemory needs a count";
  else if (!ParseMemoryReference(reference, offset, address)) error = "the memory reference is no address";
  else if (!Loaded()) error = "the game is not running";
  if (!error.empty()) return {};
  const uint64_t size = machine_->memSize;
  const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(count.get<int64_t>()), 1u << 20);
  if (address >= size) return {{"address", vm::Format("0x%" PRIX64, address)}, {"unreadableBytes", n}};
  const uint64_t readable = std::min(n, size - address);
  return {{"address", vm::Format("0x%" PRIX64, address)},
          {"data", EncodeBase64(machine_->mem + address, readable)},
          {"unreadableBytes", n - readable}};
}

Json Session::WriteMemory(const Json& a, std::string& error) {
  std::string reference, data;
  if (const auto it = a.find("memoryReference"); it != a.end() && it->is_string()) reference = *it;
  if (const auto it = a.find("data"); it != a.end() && it->is_string()) data = *it;
  const int64_t offset = a.value("offset", Json(0)).is_number_integer() ? a.value("offset", int64_t{0}) : 0;
  uint64_t address = 0;
  const std::optional<std::vector<uint8_t>> bytes = DecodeBase64(data);
  if (!ParseMemoryReference(reference, offset, address)) error = "the memory reference is no address";
  else if (!bytes) error = "the data is no base64";
  else if (!Loaded()) error = "the game is not running";
  else if (live_) error = "the game shows the past: go forward to the present to change memory";
  else if (address + bytes->size() > machine_->memSize) error = "the bytes would reach outside VM memory";
  if (!error.empty()) return {};
  std::copy(bytes->begin(), bytes->end(), machine_->mem + address);
  // The write is no instruction's: the run from here on starts a stretch of its own.
  if (launch_.stepBack && inDelivery_ && !history_.Empty()) {
    if (presentKnown_) history_.SetSteps(present_.stretch, present_.step);
    present_ = shown_ = {history_.BeginStretch(*machine_), 0};
    presentKnown_ = true;
  }
  return {{"bytesWritten", bytes->size()}};
}

Json Session::Disassemble(const Json& a, std::string& error) {
  std::string reference;
  if (const auto it = a.find("memoryReference"); it != a.end() && it->is_string()) reference = *it;
  const int64_t offset = a.value("offset", Json(0)).is_number_integer() ? a.value("offset", int64_t{0}) : 0;
  const Json instructionOffset = a.value("instructionOffset", Json(0));
  const Json count = a.value("instructionCount", Json());
  uint64_t address = 0;
  if (!count.is_number_integer() || count.get<int64_t>() < 0) error = "disassemble needs an instructionCount";
  else if (!instructionOffset.is_number_integer()) error = "instructionOffset must be an integer";
  else if (!ParseMemoryReference(reference, offset, address)) error = "the memory reference is no address";
  else if (!Loaded()) error = "the game is not running";
  if (!error.empty()) return {};
  const int64_t wanted = std::min<int64_t>(count.get<int64_t>(), 10000);
  // Bounded both ways, as the count is: a client asks for a screenful.
  int64_t skip = std::clamp<int64_t>(instructionOffset.get<int64_t>(), -10000, 10000);
  // Going back: instructions start where the line table's statements do; without one,
  // every word is taken as an instruction.
  const vm::DebugInfo* info = view_.info();
  while (skip < 0 && address > 0) {
    uint64_t before = address >= 4 ? address - 4 : 0;
    if (info) {
      const auto it = std::lower_bound(info->lines.begin(), info->lines.end(), address,
                                       [](const vm::DebugLine& l, uint64_t at) { return l.address < at; });
      if (it != info->lines.begin()) before = std::prev(it)->address;
    }
    address = before;
    ++skip;
  }
  Json out = Json::array();
  for (int64_t i = 0; i < wanted; ++i) {
    if (skip > 0) --i;
    Json item = {{"address", vm::Format("0x%8.8" PRIX64, address)}};
    uint32_t length = 4;
    if (address + 4 > machine_->memSize) {
      item["instruction"] = "?";
      item["presentationHint"] = "invalid";
    } else {
      const vm::Disassembly d =
          vm::Disassemble(machine_->mem, machine_->memSize, static_cast<uint32_t>(address), &view_.symbols());
      item["instruction"] = d.text;
      if (d.length) length = d.length;
      if (const uint8_t* p = machine_->Ptr(static_cast<uint32_t>(address), length)) {
        std::string bytes;
        for (uint32_t k = 0; k < length; ++k) bytes += vm::Format("%2.2X", p[k]);
        item["instructionBytes"] = bytes;
      }
      const std::string label = view_.LabelOffset(static_cast<uint32_t>(address));
      if (!label.empty()) item["symbol"] = label;
      if (const vm::DebugLine* line = LineAt(static_cast<uint32_t>(address))) {
        item["line"] = line->line;
        item["location"] = SourceOf(line->file);
      }
    }
    if (skip > 0) --skip;
    else out.push_back(item);
    address += length;
  }
  return {{"instructions", out}};
}

Json Session::LoadedSources(const Json&, std::string&) {
  Json out = Json::array();
  if (const vm::DebugInfo* info = view_.info())
    for (size_t i = 0; i < info->files.size(); ++i) out.push_back(SourceOf(static_cast<uint8_t>(i)));
  return {{"sources", out}};
}

}  // namespace orvo::debugger

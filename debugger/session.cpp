#include "debugger/session.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "debugger/crash_output.h"
#include "debugger/expression.h"
#include "host/crash_report.h"
#include "host/debug_file.h"
#include "host/folders.h"
#include "platform/headless/headless_platform.h"
#include "platform/sdl/sdl_platform.h"
#include "vm/decode.h"
#include "vm/interpreter.h"
#include "vm/machine.h"

namespace orvo::debugger {

namespace {

constexpr uint64_t kChunk = 1 << 16;  // instructions between looks at the client's requests

// A word no instruction decodes to: the fast loop hands it to the step, which leaves
// the run at a trap instead of faulting.
constexpr uint32_t kTrapWord = [] {
  for (uint32_t w = 0; w < vm::kDecode.size(); ++w)
    if (vm::kDecode[w] == isa::K_ILLEGAL) return w;
  return 0u;
}();
static_assert(vm::kDecode[kTrapWord] == isa::K_ILLEGAL);

struct ExceptionFilter {
  const char* id;
  const char* label;
  vm::FaultKind kind;
};
constexpr ExceptionFilter kExceptionFilters[] = {
    {"illegalOpcode", "Illegal opcode", vm::FaultKind::ILLEGAL_OPCODE},
    {"badAddress", "Bad address", vm::FaultKind::BAD_ADDRESS},
    {"divideByZero", "Divide by zero", vm::FaultKind::DIVIDE_BY_ZERO},
    {"stackOverflow", "Stack overflow", vm::FaultKind::STACK_OVERFLOW},
    {"heap", "Heap failure", vm::FaultKind::HEAP},
    {"illegalEmod", "emod without smod", vm::FaultKind::ILLEGAL_EMOD},
    {"unknownRequest", "Unknown request", vm::FaultKind::UNKNOWN_REQUEST},
};

const char* FaultName(vm::FaultKind kind) {
  for (const ExceptionFilter& f : kExceptionFilters)
    if (f.kind == kind) return f.label;
  return "Fault";
}

std::string StringArgument(const Json& a, const char* name, std::string& error) {
  const auto it = a.find(name);
  if (it == a.end() || it->is_null()) return {};
  if (!it->is_string()) error = std::string(name) + " must be a string";
  return it->is_string() ? it->get<std::string>() : std::string();
}

// An integer argument; absent gives fallback, another type sets error.
int64_t IntegerArgument(const Json& a, const char* name, int64_t fallback, std::string& error) {
  const auto it = a.find(name);
  if (it == a.end() || it->is_null()) return fallback;
  if (!it->is_number_integer()) {
    error = std::string(name) + " must be an integer";
    return fallback;
  }
  return it->get<int64_t>();
}

const Json& ArrayArgument(const Json& a, const char* name, std::string& error) {
  static const Json empty = Json::array();
  const auto it = a.find(name);
  if (it == a.end() || it->is_null()) return empty;
  if (!it->is_array()) {
    error = std::string(name) + " must be an array";
    return empty;
  }
  return *it;
}

// Whether the hit count fulfils the hit condition ("N" and ">= N" stop from the Nth hit
// on, "== N" only at it, "% N" at every Nth).
bool HitConditionMet(const std::string& condition, uint64_t hits) {
  if (condition.empty()) return true;
  std::string_view c = condition;
  std::string op;
  for (const char* o : {">=", "==", "%", ">"})
    if (c.substr(0, std::strlen(o)) == o) {
      op = o;
      c.remove_prefix(op.size());
      break;
    }
  while (!c.empty() && c.front() == ' ') c.remove_prefix(1);
  uint64_t n = 0;
  for (const char ch : c) {
    if (ch < '0' || ch > '9') return true;  // not understood: told when set, stops always
    n = n * 10 + static_cast<uint64_t>(ch - '0');
  }
  if (op == "==") return hits == n;
  if (op == "%") return n != 0 && hits % n == 0;
  if (op == ">") return hits > n;
  return hits >= n;
}

bool HitConditionValid(const std::string& condition) {
  if (condition.empty()) return true;
  size_t i = condition.find_first_not_of(">=% ");
  return i != std::string::npos &&
         condition.find_first_not_of("0123456789", i) == std::string::npos;
}

}  // namespace

const std::map<std::string, Session::Handler, std::less<>>& Session::Handlers() {
  static const std::map<std::string, Handler, std::less<>> handlers = {
      {"initialize", &Session::Initialize},
      {"launch", &Session::Launch},
      {"configurationDone", &Session::ConfigurationDone},
      {"disconnect", &Session::Disconnect},
      {"terminate", &Session::Terminate},
      {"setBreakpoints", &Session::SetBreakpoints},
      {"setFunctionBreakpoints", &Session::SetFunctionBreakpoints},
      {"setInstructionBreakpoints", &Session::SetInstructionBreakpoints},
      {"setExceptionBreakpoints", &Session::SetExceptionBreakpoints},
      {"dataBreakpointInfo", &Session::DataBreakpointInfo},
      {"setDataBreakpoints", &Session::SetDataBreakpoints},
      {"threads", &Session::Threads},
      {"continue", &Session::Continue},
      {"next", &Session::Next},
      {"stepIn", &Session::StepIn},
      {"stepOut", &Session::StepOut},
      {"pause", &Session::Pause},
      {"stackTrace", &Session::StackTrace},
      {"scopes", &Session::Scopes},
      {"variables", &Session::Variables},
      {"evaluate", &Session::EvaluateRequest},
      {"readMemory", &Session::ReadMemory},
      {"writeMemory", &Session::WriteMemory},
      {"disassemble", &Session::Disassemble},
      {"loadedSources", &Session::LoadedSources},
      {"stepBack", &Session::StepBack},
      {"reverseContinue", &Session::ReverseContinue},
  };
  return handlers;
}

int Session::Serve() {
  while (!over_) {
    const std::optional<Incoming> in = channel_.Next(true);
    if (!Take(*in)) break;
    if (launched_ && configured_ && !ran_ && !disconnected_) {
      ran_ = true;
      RunGame();
    }
    if (disconnected_) break;
  }
  return 0;
}

bool Session::Take(const Incoming& in) {
  if (in.closed) {
    over_ = true;
    terminating_ = true;
    return false;
  }
  if (!in.request) {
    // The client cannot match an answer to a message without a seq: it hears of it as output.
    if (in.error.seq == 0)
      Output("console", "velda-dap: " + in.error.message + "\n");
    else
      Send(writer_.ErrorResponse(in.error.seq, in.error.command, in.error.message));
    return true;
  }
  Handle(*in.request);
  return !over_;
}

void Session::Handle(const protocol::DapRequest& request) {
  const auto& handlers = Handlers();
  const auto it = handlers.find(request.command);
  if (it == handlers.end()) {
    Send(writer_.ErrorResponse(request.seq, request.command, "unknown command " + request.command));
    return;
  }
  if (!initialized_ && request.command != "initialize") {
    Send(writer_.ErrorResponse(request.seq, request.command, "the session is not initialized"));
    return;
  }
  std::string error;
  Json body;
  try {
    body = (this->*(it->second))(request.arguments, error);
  } catch (const nlohmann::json::exception& e) {
    // An argument of a type the handler did not expect: the client hears of it.
    error = std::string("bad arguments: ") + e.what();
  }
  if (!error.empty()) {
    Send(writer_.ErrorResponse(request.seq, request.command, error));
    return;
  }
  Send(writer_.Response(request, body));
  if (request.command == "initialize") Send(writer_.Event("initialized"));
}

void Session::Output(std::string_view category, std::string_view text) {
  Send(writer_.Event("output", {{"category", category}, {"output", text}}));
}

void Session::RuntimeMessage(std::string_view text) {
  Output("console", std::string(text) + "\n");
}

void Session::DebugText(std::string_view text) {
  Output("stdout", text);
}

void Session::Fault(vm::Machine& m, const vm::Fault& f) {
  Unpatch(m);  // what the client reads while stopped is the game's own code
  Output("stderr", vm::FaultReport(m, view_, f.at));
  if (!inDelivery_ || !exceptionStops_.count(f.kind) || terminating_) return;
  presentKnown_ = false;
  StopAt("exception", {}, FaultName(f.kind));
  WaitAndTravel(m);
}

Json Session::Initialize(const Json&, std::string&) {
  initialized_ = true;
  Json filters = Json::array();
  for (const ExceptionFilter& f : kExceptionFilters)
    filters.push_back({{"filter", f.id}, {"label", f.label}, {"default", false}});
  return {{"supportsConfigurationDoneRequest", true}, {"supportsFunctionBreakpoints", true},
          {"supportsConditionalBreakpoints", true},   {"supportsHitConditionalBreakpoints", true},
          {"supportsInstructionBreakpoints", true},   {"supportsDataBreakpoints", true},
          {"supportsEvaluateForHovers", true},        {"supportsReadMemoryRequest", true},
          {"supportsWriteMemoryRequest", true},       {"supportsDisassembleRequest", true},
          {"supportsSteppingGranularity", true},      {"supportsLoadedSourcesRequest", true},
          {"supportsTerminateRequest", true},         {"supportsStepBack", true},
          {"exceptionBreakpointFilters", filters}};
}

Json Session::Launch(const Json& a, std::string& error) {
  if (launched_) {
    error = "the game is already launched";
    return {};
  }
  LaunchArguments l;
  l.game = StringArgument(a, "game", error);
  l.data = StringArgument(a, "data", error);
  l.events = StringArgument(a, "events", error);
  l.sources = StringArgument(a, "sources", error);
  for (auto [name, flag] : {std::pair{"stopOnEntry", &l.stopOnEntry}, {"stepBack", &l.stepBack}})
    if (const auto it = a.find(name); it != a.end()) {
      if (!it->is_boolean())
        error = std::string(name) + " must be true or false";
      else
        *flag = it->get<bool>();
    }
  const int64_t megabytes = IntegerArgument(a, "historyMegabytes", 256, error);
  if (megabytes < 1 || megabytes > (int64_t{1} << 20)) error = "historyMegabytes must be 1 or more";
  l.history.bytes = static_cast<size_t>(megabytes) << 20;
  if (!error.empty()) return {};
  std::error_code ec;
  if (l.game.empty() || !std::filesystem::exists(l.game, ec)) {
    error = "no game at \"" + l.game + "\": launch needs the built game folder in \"game\"";
    return {};
  }
  if (!l.events.empty() && !std::filesystem::is_regular_file(l.events, ec)) {
    error = "cannot read the events file " + l.events;
    return {};
  }
  if (std::filesystem::is_directory(l.game, ec)) {
    std::string note;
    view_ = host::LoadSourceView(host::AbsoluteFolder(l.game) + "main.ove", note);
    if (!note.empty()) Output("console", "velda-dap: " + note + "\n");
  }
  if (l.sources.empty()) l.sources = l.game;
  launch_ = std::move(l);
  launched_ = true;
  return nullptr;
}

Json Session::ConfigurationDone(const Json&, std::string&) {
  configured_ = true;
  return nullptr;
}

Json Session::Disconnect(const Json&, std::string&) {
  disconnected_ = terminating_ = true;
  stopped_ = false;
  return nullptr;
}

Json Session::Terminate(const Json&, std::string&) {
  terminating_ = true;
  stopped_ = false;
  return nullptr;
}

Json Session::Threads(const Json&, std::string&) {
  return {{"threads", Json::array({{{"id", 1}, {"name", "game"}}})}};
}

// ---- Breakpoints

Json Session::MakeBreakpoint(const Json& entry, std::optional<uint32_t> address,
                             std::string message, std::vector<Breakpoint>& into) {
  std::string error;
  Breakpoint b;
  b.id = nextBreakpointId_++;
  b.condition = StringArgument(entry, "condition", error);
  b.hitCondition = StringArgument(entry, "hitCondition", error);
  if (!error.empty())
    message = error;
  else if (!HitConditionValid(b.hitCondition))
    message = "the hit condition is no count: " + b.hitCondition;
  else if (!b.condition.empty() && Loaded()) {
    const EvalResult r = Evaluate(b.condition, *machine_, view_);
    if (!r.ok && r.error.rfind("address outside", 0) != 0) message = "condition: " + r.error;
  }
  Json out = {{"id", b.id}, {"verified", address.has_value() && message.empty()}};
  if (!message.empty()) out["message"] = message;
  if (address && message.empty()) {
    b.address = *address;
    into.push_back(b);
    out["instructionReference"] = vm::Format("0x%lX", static_cast<unsigned long>(*address));
    if (const vm::DebugLine* line = LineAt(*address)) {
      out["line"] = line->line;
      out["source"] = SourceOf(line->file);
    }
  }
  return out;
}

Json Session::SetBreakpoints(const Json& a, std::string& error) {
  const auto source = a.find("source");
  if (source == a.end() || !source->is_object()) {
    error = "setBreakpoints needs a source";
    return {};
  }
  std::string path = StringArgument(*source, "path", error);
  const Json& entries = ArrayArgument(a, "breakpoints", error);
  if (!error.empty()) return {};
  const std::string file = std::filesystem::path(path).filename().string();
  std::vector<Breakpoint>& list = sourceBreaks_[path];
  list.clear();
  Json out = Json::array();
  for (const Json& entry : entries) {
    if (!entry.is_object() || !entry.contains("line") || !entry["line"].is_number_integer()) {
      out.push_back({{"verified", false}, {"message", "a breakpoint needs a line"}});
      continue;
    }
    const int64_t line = entry["line"].get<int64_t>();
    const vm::DebugInfo* info = view_.info();
    std::optional<uint32_t> at;
    std::string message;
    if (!info) {
      message = "no debug file main.ovd beside the game's main.ove";
    } else if (std::none_of(info->files.begin(), info->files.end(), [&](const std::string& f) {
                 return std::filesystem::path(f).filename() == file;
               })) {
      message = "no code of the game comes from " + file;
    } else if (line > 0) {
      // A line without code stops at the next one that has some, a few lines on at most.
      for (int64_t l = line; l < line + 20 && !at; ++l) {
        uint32_t address = 0;
        if (info->AddressOfLine(file, static_cast<uint32_t>(l), address)) at = address;
      }
      if (!at) message = "no code at or after line " + std::to_string(line);
    } else {
      message = "lines count from 1";
    }
    out.push_back(MakeBreakpoint(entry, at, message, list));
  }
  return {{"breakpoints", out}};
}

// One reply per entry of a breakpoints argument, each resolved to an address or a problem;
// an entry that is no object is taken as one without fields.
Json Session::ReplaceBreakpoints(const Json& a, std::string& error, std::vector<Breakpoint>& list,
                                 const AddressOfEntry& resolve) {
  const Json& entries = ArrayArgument(a, "breakpoints", error);
  if (!error.empty()) return {};
  list.clear();
  Json out = Json::array();
  const Json none = Json::object();
  for (const Json& entry : entries) {
    const Json& fields = entry.is_object() ? entry : none;
    std::string problem;
    const std::optional<uint32_t> at = resolve(fields, problem);
    out.push_back(MakeBreakpoint(fields, at, problem, list));
  }
  return {{"breakpoints", out}};
}

Json Session::SetFunctionBreakpoints(const Json& a, std::string& error) {
  return ReplaceBreakpoints(
      a, error, functionBreaks_, [&](const Json& entry, std::string& problem) {
        std::optional<uint32_t> at;
        const std::string name = StringArgument(entry, "name", problem);
        if (!problem.empty()) return at;
        if (name.empty()) {
          problem = "a function breakpoint needs a label's name";
          return at;
        }
        if (const vm::DebugLabel* label = view_.info() ? view_.info()->FindLabel(name) : nullptr)
          at = label->value;
        for (const auto& [address, symbol] : view_.symbols().byAddress)
          if (!at && symbol == name) at = address;
        if (!at) problem = "no label " + name;
        return at;
      });
}

Json Session::SetInstructionBreakpoints(const Json& a, std::string& error) {
  return ReplaceBreakpoints(
      a, error, instructionBreaks_, [&](const Json& entry, std::string& problem) {
        std::optional<uint32_t> at;
        const std::string reference = StringArgument(entry, "instructionReference", problem);
        const int64_t offset = IntegerArgument(entry, "offset", 0, problem);
        uint64_t address = 0;
        if (!problem.empty()) return at;
        if (!ParseMemoryReference(reference, offset, address))
          problem = "the instruction reference is no address";
        else if (address > UINT32_MAX || (machine_ && address >= machine_->memSize))
          problem = "the address is outside VM memory";
        else
          at = static_cast<uint32_t>(address);
        return at;
      });
}

Json Session::SetExceptionBreakpoints(const Json& a, std::string& error) {
  const Json& filters = ArrayArgument(a, "filters", error);
  if (!error.empty()) return {};
  exceptionStops_.clear();
  Json out = Json::array();
  for (const Json& f : filters) {
    bool known = false;
    for (const ExceptionFilter& e : kExceptionFilters)
      if (f.is_string() && f == e.id) {
        exceptionStops_.insert(e.kind);
        known = true;
      }
    out.push_back({{"verified", known}});
  }
  return {{"breakpoints", out}};
}

Json Session::DataBreakpointInfo(const Json& a, std::string& error) {
  const std::string name = StringArgument(a, "name", error);
  if (!error.empty()) return {};
  if (!Loaded()) return {{"dataId", nullptr}, {"description", "the game is not running"}};
  const EvalResult r = Evaluate(name, *machine_, view_);
  if (!r.ok || !r.value.address)
    return {{"dataId", nullptr}, {"description", r.ok ? "not a place in VM memory" : r.error}};
  const uint32_t size = r.value.size == 8 && !r.value.address ? 8
                        : r.value.size == 8                   ? 4
                                                              : r.value.size;
  return {{"dataId", vm::Format("0x%lX/%lu", static_cast<unsigned long>(*r.value.address),
                                static_cast<unsigned long>(size))},
          {"description", name},
          {"accessTypes", Json::array({"write"})},
          {"canPersist", true}};
}

Json Session::SetDataBreakpoints(const Json& a, std::string& error) {
  const Json& entries = ArrayArgument(a, "breakpoints", error);
  if (!error.empty()) return {};
  watches_.clear();
  Json out = Json::array();
  for (const Json& entry : entries) {
    std::string problem;
    const std::string id = entry.is_object() ? StringArgument(entry, "dataId", problem) : "";
    unsigned long address = 0, size = 0;
    char extra = 0;
    if (problem.empty() && std::sscanf(id.c_str(), "0x%lX/%lu%c", &address, &size, &extra) != 2)
      problem = "the data id is no 0xADDRESS/SIZE";
    if (problem.empty() && (size == 0 || size > 4096 || address > UINT32_MAX ||
                            (machine_ && address + size > machine_->memSize)))
      problem = "the range is outside VM memory";
    if (!problem.empty()) {
      out.push_back({{"verified", false}, {"message", problem}});
      continue;
    }
    Watch w;
    w.range = {static_cast<uint32_t>(address), static_cast<uint32_t>(address + size)};
    w.condition = entry.is_object() ? StringArgument(entry, "condition", problem) : "";
    watches_.push_back(w);
    out.push_back({{"id", nextBreakpointId_++}, {"verified", true}});
  }
  return {{"breakpoints", out}};
}

std::vector<uint32_t> Session::BreakAddresses() const {
  std::vector<uint32_t> out;
  for (const auto& [path, list] : sourceBreaks_)
    for (const Breakpoint& b : list) out.push_back(b.address);
  for (const auto* list : {&functionBreaks_, &instructionBreaks_})
    for (const Breakpoint& b : *list) out.push_back(b.address);
  return out;
}

// Counts a hit of every breakpoint at pc; true when one of them stops the game. Going back
// looks at the conditions alone: hits are counted as the game runs forward.
bool Session::BreakpointHit(vm::Machine& m, uint32_t pc, std::vector<int>& ids, bool count) {
  auto look = [&](std::vector<Breakpoint>& list) {
    for (Breakpoint& b : list) {
      if (b.address != pc) continue;
      if (!b.condition.empty()) {
        const EvalResult r = Evaluate(b.condition, m, view_);
        if (r.ok && r.value.value == 0) continue;
        if (!r.ok)
          Output("console",
                 "velda-dap: breakpoint condition " + b.condition + ": " + r.error + "\n");
      }
      if (!count || HitConditionMet(b.hitCondition, ++b.hits)) ids.push_back(b.id);
    }
  };
  for (auto& [path, list] : sourceBreaks_) look(list);
  look(functionBreaks_);
  look(instructionBreaks_);
  return !ids.empty();
}

// ---- Running

void Session::RunGame() {
  const LaunchArguments& l = launch_;
  host::RuntimeOptions options;
  options.dataFolder = l.data;
  std::string programFolder = host::AbsoluteFolder(l.game);
  struct stat st;
  if (stat(l.game.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    options.archive.path = l.game;
    programFolder.pop_back();
    programFolder = host::ProgramFolderOf(programFolder);
  }
  int exitCode = 0;
  bool faulted = false;
  // A crash of the runtime itself ends the process: the client first gets the report.
  host::crash::SetReportListener(SendCrashReport, nullptr);
  auto run = [&](platform::Platform parts) {
    DebuggedRuntime runtime(parts, std::move(options), *this);
    runtime_ = &runtime;
    machine_ = &runtime.machine();
    machine_->interpret = [this](vm::Machine& m) { RunDelivery(m); };
    if (launch_.stepBack) {
      history_ = vm::History(launch_.history);
      machine_->requestHook = &history_;
    }
    exitCode = runtime.Run();
    faulted = runtime.Outcome() == host::RunOutcome::ProgramFault;
    if (runtime.Outcome() == host::RunOutcome::FatalError)
      Output("stderr", "velda-dap: the runtime could not go on; the game is ended\n");
    runtime_ = nullptr;
  };
  if (!l.events.empty()) {
    platform::HeadlessConfig config;
    config.executablePath = programFolder + "orvo";
    config.messages = stderr;
    std::ifstream in(l.events, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string problem;
    if (!platform::ParseScript(text.str(), config.script, problem)) {
      Output("stderr", "velda-dap: " + l.events + ": " + problem + "\n");
    } else {
      platform::HeadlessPlatform platform(std::move(config));
      run(platform.Parts());
    }
  } else {
    char name[] = "velda-dap";
    char* argv[] = {name, nullptr};
    platform::SdlPlatform platform(1, argv);
    run(platform.Parts());
  }
  machine_ = nullptr;
  host::crash::SetReportListener(nullptr, nullptr);
  if (launch_.stepBack && !history_.Empty())
    Output("console", "velda-dap: the history kept " +
                          std::to_string(history_.Latest() - history_.Oldest() + 1) +
                          " deliveries in " + std::to_string(history_.Footprint()) + " bytes\n");
  Send(writer_.Event("exited", {{"exitCode", faulted ? 3 : exitCode}}));
  Send(writer_.Event("terminated"));
  // The client still disconnects; until then requests about the game say it has ended.
  terminating_ = true;
}

void Session::StopAt(std::string_view reason, std::vector<int> hitIds, std::string text) {
  stopped_ = true;
  Json body = {{"reason", reason}, {"threadId", 1}, {"allThreadsStopped", true}};
  if (!hitIds.empty()) body["hitBreakpointIds"] = hitIds;
  if (!text.empty()) body["text"] = text, body["description"] = text;
  Send(writer_.Event("stopped", body));
}

void Session::WaitWhileStopped() {
  while (stopped_ && !over_) {
    const std::optional<Incoming> in = channel_.Next(true);
    Take(*in);
  }
}

void Session::ServePending() {
  while (!over_) {
    const std::optional<Incoming> in = channel_.Next(false);
    if (!in) break;
    Take(*in);
  }
}

void Session::Patch(vm::Machine& m, const std::vector<uint32_t>& addresses) {
  m.traps.clear();
  for (const uint32_t a : addresses) {
    uint8_t* p = m.Ptr(a, 4);
    if (!p || std::find(m.traps.begin(), m.traps.end(), a) != m.traps.end()) continue;
    patched_.emplace_back(a, vm::Load32(p));
    vm::Store32(p, kTrapWord);
    m.traps.push_back(a);
  }
  std::sort(m.traps.begin(), m.traps.end());
}

void Session::Unpatch(vm::Machine& m) {
  // A word the game has written over since is the game's own now.
  for (const auto& [a, word] : patched_)
    if (uint8_t* p = m.Ptr(a, 4); p && vm::Load32(p) == kTrapWord) vm::Store32(p, word);
  patched_.clear();
  m.traps.clear();
}

bool Session::AtRoutineStart(const vm::Machine& m, uint32_t pc) const {
  return vm::Disassemble(m.mem, m.memSize, pc, nullptr).text.rfind("sfvr", 0) == 0;
}

const vm::DebugLine* Session::LineAt(uint32_t pc) const {
  return view_.info() ? view_.info()->LineAt(pc) : nullptr;
}

void Session::RunDelivery(vm::Machine& m) {
  ++deliveries_;
  const uint32_t sp = m.Word(vm::HDR_VSP);
  for (uint32_t i = 0; i < 4; ++i)
    if (const uint8_t* p = m.Ptr(sp + 8 + 4 * i, 4)) event_[i] = vm::Load32(p);
  if (launch_.stepBack) {
    if (inDelivery_) {
      // A delivery inside a request: the past before it cannot be run again.
      history_.Clear();
    } else if (!history_.Empty() && presentKnown_) {
      history_.SetSteps(present_.stretch, present_.step);
    }
    present_ = shown_ = {history_.BeginStretch(m), 0};
    presentKnown_ = true;
  }
  inDelivery_ = true;
  ServePending();
  if (firstDelivery_ && launch_.stopOnEntry && !terminating_)
    StopAt("entry");
  else if ((stepCarried_ || pauseAsked_) && !terminating_)
    StopAt(pauseAsked_ ? "pause" : "step");
  firstDelivery_ = stepCarried_ = pauseAsked_ = false;
  for (;;) {
    WaitAndTravel(m);
    if (terminating_) {
      // Ended as a break ends it: the host ends the program in order.
      m.hostFlags |= vm::HOST_END_PROGRAM;
      if (!(m.hostFlags & vm::HOST_ENDING)) break;
      vm::Interpret(m);
      break;
    }
    if (!RunOn(m)) break;
  }
  inDelivery_ = false;
}

// One resume: false when the delivery is over, true when the game stopped.
bool Session::RunOn(vm::Machine& m) {
  std::vector<vm::WatchRange> ranges;
  for (const Watch& w : watches_) ranges.push_back(w.range);
  const std::vector<uint32_t> breaks = BreakAddresses();
  auto stopHere = [&](const vm::Stopped& s) {
    if (s.reason == vm::StopReason::WATCH) {
      StopAt("data breakpoint");
      return true;
    }
    std::vector<int> ids;
    if (s.reason == vm::StopReason::BREAKPOINT && BreakpointHit(m, m.Word(vm::HDR_VPC), ids)) {
      StopAt("breakpoint", ids);
      return true;
    }
    return false;
  };
  auto pausedHere = [&] {
    ServePending();
    if (!pauseAsked_ && !terminating_) return false;
    if (pauseAsked_) StopAt("pause");
    pauseAsked_ = false;
    return true;
  };
  if (resume_ == Resume::CONTINUE) {
    if (breaks.empty() && ranges.empty()) {
      // Nothing to look for: the fast loop runs the rest of the delivery.
      RunFast(m);
      return false;
    }
    if (ranges.empty()) {
      // Breakpoints alone: the fast loop runs until it reaches one of their trap words.
      for (;;) {
        const uint32_t pc = m.Word(vm::HDR_VPC);
        if (std::find(breaks.begin(), breaks.end(), pc) != breaks.end()) {
          // Leaving a breakpoint: its own instruction runs in the plain step.
          if (StepCounted(m, {{}, 1, {}}).reason == vm::StopReason::LEFT) return false;
          continue;
        }
        Patch(m, breaks);
        m.trapped = false;
        RunFast(m);
        Unpatch(m);
        if (!m.trapped) return false;
        m.trapped = false;
        std::vector<int> ids;
        if (BreakpointHit(m, m.Word(vm::HDR_VPC), ids)) {
          StopAt("breakpoint", ids);
          return true;
        }
        if (pausedHere()) return true;
        if (StepCounted(m, {{}, 1, {}}).reason == vm::StopReason::LEFT) return false;
      }
    }
    for (;;) {
      const vm::Stopped s = StepCounted(m, {breaks, kChunk, ranges});
      if (s.reason == vm::StopReason::LEFT) return false;
      if (stopHere(s)) return true;
      if (s.reason == vm::StopReason::STEPS && pausedHere()) return true;
    }
  }
  // The steps: one instruction at a time, until the place asked for, a breakpoint or a watch.
  const vm::DebugLine* startLine = LineAt(m.Word(vm::HDR_VPC));
  const uint32_t startFp = m.Word(vm::HDR_VFP), startSp = m.Word(vm::HDR_VSP);
  const bool byLine = startLine && resume_ != Resume::INSTRUCTION;
  // Before its sfvr a routine's return address is on top of the stack, not in a frame.
  const bool atStart = AtRoutineStart(m, m.Word(vm::HDR_VPC));
  const uint32_t outAbove = atStart ? startSp : startFp;
  const uint32_t returnTo = [&] {
    const uint8_t* f = m.Ptr(atStart ? startSp : startFp + 4, 4);
    return f ? vm::Load32(f) : 0u;
  }();
  uint64_t steps = 0;
  for (;;) {
    const uint32_t pc = m.Word(vm::HDR_VPC);
    // Over a call: run until it has returned here.
    uint32_t after = 0;
    if (resume_ == Resume::LINE_OVER || resume_ == Resume::INSTRUCTION) {
      const vm::Disassembly d = vm::Disassemble(m.mem, m.memSize, pc, &view_.symbols());
      if (resume_ == Resume::LINE_OVER && d.text.rfind("jsrfr", 0) == 0) after = pc + d.length;
    }
    if (after) {
      // Over a call: run until it has returned here, or something stops the game inside.
      const uint32_t callSp = m.Word(vm::HDR_VSP);
      std::vector<uint32_t> until = breaks;
      until.push_back(after);
      for (;;) {
        const vm::Stopped s = StepCounted(m, {until, kChunk, ranges});
        if (s.reason == vm::StopReason::LEFT) {
          stepCarried_ = true;
          return false;
        }
        if (s.reason == vm::StopReason::STEPS) {
          if (pausedHere()) return true;
          continue;
        }
        if (s.reason == vm::StopReason::BREAKPOINT && m.Word(vm::HDR_VPC) == after &&
            m.Word(vm::HDR_VSP) >= callSp)
          break;
        if (stopHere(s)) return true;
      }
    } else {
      const vm::Stopped s = StepCounted(m, {{}, 1, ranges});
      if (s.reason == vm::StopReason::LEFT) {
        stepCarried_ = true;
        return false;
      }
      if (stopHere(s)) return true;
    }
    ++steps;
    const uint32_t now = m.Word(vm::HDR_VPC);
    std::vector<int> ids;
    if (std::find(breaks.begin(), breaks.end(), now) != breaks.end() &&
        BreakpointHit(m, now, ids)) {
      StopAt("breakpoint", ids);
      return true;
    }
    bool arrived = false;
    if (resume_ == Resume::INSTRUCTION) {
      arrived = true;
    } else if (resume_ == Resume::OUT) {
      arrived = now == returnTo && m.Word(vm::HDR_VSP) > outAbove;
      if (!returnTo) arrived = false;
    } else if (!byLine) {
      arrived = true;
    } else {
      const vm::DebugLine* line = LineAt(now);
      // Calls were run whole above, so any other line is where a step over ends too.
      arrived = line && line->address == now &&
                (line->line != startLine->line || line->file != startLine->file);
    }
    if (arrived) {
      StopAt("step");
      return true;
    }
    if (steps % kChunk == 0 && pausedHere()) return true;
  }
}

Json Session::ResumeWith(Resume how, const Json& a, std::string& error) {
  if (!Loaded() || !inDelivery_) {
    if (terminating_ || !Loaded()) error = "the game is not running";
    return error.empty() ? Json{{"allThreadsContinued", true}} : Json{};
  }
  const std::string granularity = StringArgument(a, "granularity", error);
  if (!error.empty()) return {};
  if (granularity == "instruction" && how != Resume::CONTINUE && how != Resume::OUT)
    how = Resume::INSTRUCTION;
  resume_ = how;
  stopped_ = false;
  return {{"allThreadsContinued", true}};
}

Json Session::Continue(const Json& a, std::string& error) {
  return ResumeWith(Resume::CONTINUE, a, error);
}
Json Session::Next(const Json& a, std::string& error) {
  return ResumeWith(Resume::LINE_OVER, a, error);
}
Json Session::StepIn(const Json& a, std::string& error) {
  return ResumeWith(Resume::LINE_IN, a, error);
}
Json Session::StepOut(const Json& a, std::string& error) {
  return ResumeWith(Resume::OUT, a, error);
}
Json Session::Pause(const Json&, std::string& error) {
  if (!machine_)
    error = "the game is not running";
  else if (!stopped_)
    pauseAsked_ = true;
  return nullptr;
}

}  // namespace orvo::debugger

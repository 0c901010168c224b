// One debugging session: the client's requests, the game run in-process by the runtime,
// and where it stops. The game runs on the calling thread; between deliveries, and while
// it is stepped, the session takes the requests that have arrived, and while the game is
// stopped it waits for them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "debugger/channel.h"
#include "debugger/debugged_runtime.h"
#include "protocol/dap.h"
#include "vm/history.h"
#include "vm/source_view.h"
#include "vm/stepper.h"

namespace orvo::debugger {

using Json = nlohmann::json;

struct Breakpoint {
  int id = 0;
  uint32_t address = 0;
  std::string condition;     // an expression; empty: always
  std::string hitCondition;  // "N", ">= N", "== N", "% N"; empty: every hit
  uint64_t hits = 0;
};

struct Watch {
  vm::WatchRange range;
  std::string condition;
};

struct LaunchArguments {
  std::string game;     // the built game folder (main.ove) or a game archive
  std::string data;     // the data folder; empty: the game's own
  std::string events;   // an event script: headless; empty: the real window
  std::string sources;  // where the file names of the debug file are relative to
  bool stopOnEntry = false;
  bool stepBack = true;  // the past is kept, so that the game can be stepped backwards
  vm::HistoryLimits history;
};

// The machine's live state, kept while the client looks at the past.
struct LiveState {
  std::vector<uint8_t> memory;
  vm::HandleRecords records;
  vm::MachineWords words;
};

// What a search through the past looks for, at each place it reaches: wrote says the
// instruction just run changed a watched byte. It names why the game stops there.
using PlaceTest = std::function<bool(vm::Machine& m, bool wrote, std::string& reason)>;

// What the game is asked to do when it runs on.
enum class Resume { CONTINUE, INSTRUCTION, LINE_IN, LINE_OVER, OUT };

class Session : public RuntimeListener {
 public:
  explicit Session(Channel& channel) : channel_(channel) {}
  // Serves until the client disconnects or the input ends; returns the exit code.
  int Serve();

  // RuntimeListener
  void RuntimeMessage(std::string_view text) override;
  void DebugText(std::string_view text) override;
  void Fault(vm::Machine& m, const vm::Fault& f) override;

 private:
  using Handler = Json (Session::*)(const Json& arguments, std::string& error);
  static const std::map<std::string, Handler, std::less<>>& Handlers();

  // Takes one message; false once the session is over.
  bool Take(const Incoming& in);
  void Handle(const protocol::DapRequest& request);
  void Send(const std::string& body) { channel_.Send(body); }
  void Output(std::string_view category, std::string_view text);

  // The game's run.
  void RunGame();
  void RunDelivery(vm::Machine& m);
  // Runs the game on as resume_ asks until it stops or the delivery is over (false).
  bool RunOn(vm::Machine& m);
  void StopAt(std::string_view reason, std::vector<int> hitIds = {}, std::string text = {});
  // While stopped: serves requests until one lets the game run on.
  void WaitWhileStopped();
  // Between steps: serves the requests that have arrived, without waiting.
  void ServePending();
  bool BreakpointHit(vm::Machine& m, uint32_t pc, std::vector<int>& ids, bool count = true);
  std::vector<uint32_t> BreakAddresses() const;
  // Breakpoint words replaced by the trap word for a run of the fast loop, and put back.
  void Patch(vm::Machine& m, const std::vector<uint32_t>& addresses);
  void Unpatch(vm::Machine& m);
  bool Loaded() const { return machine_ && machine_->mem; }

  // Source positions.
  Json SourceOf(uint8_t file) const;
  std::string PathOf(uint8_t file) const;
  const vm::DebugLine* LineAt(uint32_t pc) const;
  // Whether pc is a routine's sfvr: its frame is not made yet.
  bool AtRoutineStart(const vm::Machine& m, uint32_t pc) const;

  // Requests.
  Json Initialize(const Json& a, std::string& error);
  Json Launch(const Json& a, std::string& error);
  Json ConfigurationDone(const Json& a, std::string& error);
  Json Disconnect(const Json& a, std::string& error);
  Json Terminate(const Json& a, std::string& error);
  Json SetBreakpoints(const Json& a, std::string& error);
  Json SetFunctionBreakpoints(const Json& a, std::string& error);
  Json SetInstructionBreakpoints(const Json& a, std::string& error);
  Json SetExceptionBreakpoints(const Json& a, std::string& error);
  Json DataBreakpointInfo(const Json& a, std::string& error);
  Json SetDataBreakpoints(const Json& a, std::string& error);
  Json Threads(const Json& a, std::string& error);
  Json Continue(const Json& a, std::string& error);
  Json Next(const Json& a, std::string& error);
  Json StepIn(const Json& a, std::string& error);
  Json StepOut(const Json& a, std::string& error);
  Json Pause(const Json& a, std::string& error);
  Json StackTrace(const Json& a, std::string& error);
  Json Scopes(const Json& a, std::string& error);
  Json Variables(const Json& a, std::string& error);
  Json EvaluateRequest(const Json& a, std::string& error);
  Json ReadMemory(const Json& a, std::string& error);
  Json WriteMemory(const Json& a, std::string& error);
  Json Disassemble(const Json& a, std::string& error);
  Json LoadedSources(const Json& a, std::string& error);
  Json ResumeWith(Resume how, const Json& a, std::string& error);
  Json StepBack(const Json& a, std::string& error);
  Json ReverseContinue(const Json& a, std::string& error);

  // Going back (going_back.cpp). The live run counts its instructions, so that the
  // present is a place in the history.
  vm::Stopped StepCounted(vm::Machine& m, const vm::StopConditions& conditions);
  void RunFast(vm::Machine& m);
  // While stopped: serves requests and moves through the past as asked, until the game
  // is to run on live from the present.
  void WaitAndTravel(vm::Machine& m);
  void LeavePresent(vm::Machine& m);
  void ReturnToPresent(vm::Machine& m);
  // The present after a fault stop: the stretch is run again until the fault comes back.
  void FindPresent(vm::Machine& m);
  // Runs the re-run on from its place, one instruction at a time, until test holds at a
  // place (true), `until` is reached or the stretch ends (false; ended says which).
  bool ReplayOn(vm::Machine& m, uint64_t until, const PlaceTest& test, bool& ended,
                std::string& reason);
  // The latest place before the shown one where test holds; the oldest kept place when
  // there is none (false).
  bool SearchBack(vm::Machine& m, const PlaceTest& test, std::string& reason);
  // The first place after the shown one where test holds (true), or the present.
  bool SearchForward(vm::Machine& m, const PlaceTest& test, std::string& reason);
  void ShowPlace(vm::Machine& m, vm::Place place);
  // What the resume asked for looks for, from the shown place (the same rules as the
  // live steps, run either way). Watches count where watched: a step back arrives at
  // the place before an instruction, which says nothing of the one before it.
  PlaceTest TestFor(Resume how, bool watched, vm::Machine& m);
  void TravelBack(vm::Machine& m);
  using AddressOfEntry = std::function<std::optional<uint32_t>(const Json&, std::string&)>;
  Json ReplaceBreakpoints(const Json& a, std::string& error, std::vector<Breakpoint>& list,
                          const AddressOfEntry& resolve);
  Json MakeBreakpoint(const Json& entry, std::optional<uint32_t> address, std::string message,
                      std::vector<Breakpoint>& into);

  Channel& channel_;
  protocol::DapWriter writer_;
  bool initialized_ = false, launched_ = false, configured_ = false, over_ = false;
  LaunchArguments launch_;
  vm::SourceView view_;
  vm::Machine* machine_ = nullptr;
  DebuggedRuntime* runtime_ = nullptr;

  std::map<std::string, std::vector<Breakpoint>> sourceBreaks_;  // by the client's path
  std::vector<Breakpoint> functionBreaks_, instructionBreaks_;
  std::vector<Watch> watches_;
  std::set<vm::FaultKind> exceptionStops_;
  int nextBreakpointId_ = 1;

  bool stopped_ = false;
  bool ran_ = false, disconnected_ = false;
  bool inDelivery_ = false;
  bool pauseAsked_ = false;
  bool terminating_ = false;
  bool firstDelivery_ = true;
  bool stepCarried_ = false;  // a step that reached the end of a delivery stops in the next
  Resume resume_ = Resume::CONTINUE;
  uint64_t deliveries_ = 0;
  uint32_t event_[4] = {0, 0, 0, 0};

  vm::History history_;
  vm::Place present_;          // the live run's place
  bool presentKnown_ = true;   // false after a fault stop, until it is looked for
  vm::Place shown_;            // the place the machine shows: the present unless going back
  std::optional<LiveState> live_;  // set while the past is shown
  std::optional<Resume> back_;     // a step back or reverse continue asked for
  uint64_t fastStart_ = 0;         // the budget a counted run of the fast loop began with
  std::vector<std::pair<uint32_t, uint32_t>>
      patched_;  // address, the word it held  // the current delivery's code and arguments
};

}  // namespace orvo::debugger

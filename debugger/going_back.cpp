// Stepping backwards. The live run keeps its history (vm/history.h) and counts its
// instructions, so each stop is a place: a stretch (one delivery) and the instructions
// run in it. Going back searches the past by putting a stretch's start back and running
// it again over the recorded request effects, one instruction at a time; the place found
// is then shown by the machine itself, so every other request (registers, memory, the
// stack) reads the past. Going forward from the past runs on the same way until the
// present, where the live state is put back and the game runs on for real.
#include <algorithm>
#include <cstring>

#include "debugger/session.h"
#include "vm/disassemble.h"
#include "vm/interpreter.h"
#include "vm/machine.h"

namespace orvo::debugger {

namespace {

constexpr uint64_t kFastBudget = uint64_t{1} << 62;

}  // namespace

vm::Stopped Session::StepCounted(vm::Machine& m, const vm::StopConditions& conditions) {
  const vm::Stopped s = vm::StepUntil(m, conditions);
  present_.step += s.steps;
  shown_ = present_;
  return s;
}

// Counted, the fast loop runs as a bounded run with a budget it never spends.
void Session::RunFast(vm::Machine& m) {
  if (!launch_.stepBack) {
    vm::Interpret(m);
    return;
  }
  const bool wasBounded = m.bounded;
  m.bounded = true;
  m.budget = fastStart_ = kFastBudget;
  vm::InterpretBounded(m);
  m.bounded = wasBounded;
  // The trap word that left the run was counted but did not run.
  present_.step += fastStart_ - m.budget - (m.trapped ? 1 : 0);
  shown_ = present_;
}

void Session::LeavePresent(vm::Machine& m) {
  if (live_) return;
  live_ = LiveState{{m.mem, m.mem + m.memSize}, m.heap.records, vm::WordsOf(m)};
  if (!presentKnown_) FindPresent(m);
  shown_ = present_;
}

void Session::ReturnToPresent(vm::Machine& m) {
  if (!live_) return;
  std::memcpy(m.mem, live_->memory.data(), live_->memory.size());
  m.heap.records = live_->records;
  vm::SetWords(m, live_->words);
  history_.Live(m);
  live_.reset();
  shown_ = present_;
}

void Session::FindPresent(vm::Machine& m) {
  history_.Rewind(m, present_.stretch);
  shown_ = {present_.stretch, 0};
  bool ended = false;
  std::string reason;
  ReplayOn(
      m, vm::UNKNOWN_STEPS,
      [](vm::Machine& machine, bool, std::string&) {
        return machine.stop.fault.kind != vm::FaultKind::NONE;
      },
      ended, reason);
  // The place found is after the faulting instruction: the fault stopped before it ended.
  present_.step = shown_.step > 0 ? shown_.step - 1 : 0;
  presentKnown_ = true;
}

bool Session::ReplayOn(vm::Machine& m, uint64_t until, const PlaceTest& test, bool& ended,
                       std::string& reason) {
  ended = false;
  std::vector<vm::WatchRange> ranges;
  for (const Watch& w : watches_) ranges.push_back(w.range);
  while (shown_.step < until) {
    const vm::Stopped s = vm::StepUntil(m, {{}, 1, ranges});
    ++shown_.step;
    if (s.reason == vm::StopReason::LEFT || history_.Diverged()) {
      // After a stretch's last instruction the game is back in the host: no place.
      ended = true;
      if (!history_.Diverged()) history_.SetSteps(shown_.stretch, shown_.step);
      return false;
    }
    if (test(m, s.reason == vm::StopReason::WATCH, reason)) return true;
  }
  return false;
}

void Session::ShowPlace(vm::Machine& m, vm::Place place) {
  history_.Rewind(m, place.stretch);
  shown_ = {place.stretch, 0};
  bool ended = false;
  std::string reason;
  ReplayOn(m, place.step, [](vm::Machine&, bool, std::string&) { return false; }, ended, reason);
}

bool Session::SearchBack(vm::Machine& m, const PlaceTest& test, std::string& reason) {
  const vm::Place from = shown_;
  for (uint64_t stretch = from.stretch;; --stretch) {
    const uint64_t until = stretch == from.stretch ? from.step : history_.Steps(stretch);
    history_.Rewind(m, stretch);
    shown_ = {stretch, 0};
    std::optional<uint64_t> best;
    std::string found;
    auto note = [&](vm::Machine& machine, bool wrote, std::string& why) {
      // The place after the last instruction of a stretch is no place: the game is back
      // in the host there.
      if (shown_.step < until && test(machine, wrote, why)) best = shown_.step, found = why;
      return false;
    };
    bool ended = false;
    if (until > 0) note(m, false, reason);
    ReplayOn(m, until, note, ended, reason);
    if (best) {
      ShowPlace(m, {stretch, *best});
      reason = found;
      return true;
    }
    if (stretch == history_.Oldest() || history_.Diverged()) break;
  }
  ShowPlace(m, {history_.Oldest(), 0});
  return false;
}

bool Session::SearchForward(vm::Machine& m, const PlaceTest& test, std::string& reason) {
  for (;;) {
    const bool live = shown_.stretch == present_.stretch;
    bool ended = false;
    const uint64_t until = live ? present_.step : history_.Steps(shown_.stretch);
    if (ReplayOn(m, until, test, ended, reason)) return true;
    if (live || shown_.stretch >= history_.Latest() || history_.Diverged()) break;
    // The next delivery from its start: what the host did in between is in its start.
    history_.Rewind(m, shown_.stretch + 1);
    shown_ = {shown_.stretch + 1, 0};
    if (shown_ == present_) break;
    if (test(m, false, reason)) return true;
  }
  ReturnToPresent(m);
  return false;
}

PlaceTest Session::TestFor(Resume how, bool watched, vm::Machine& m) {
  const std::vector<uint32_t> breaks = BreakAddresses();
  auto atBreakpoint = [this, breaks, watched](vm::Machine& machine, bool wrote,
                                               std::string& reason) {
    if (wrote && watched) {
      reason = "data breakpoint";
      return true;
    }
    const uint32_t pc = machine.Word(vm::HDR_VPC);
    std::vector<int> ids;
    if (std::find(breaks.begin(), breaks.end(), pc) == breaks.end() ||
        !BreakpointHit(machine, pc, ids, false))
      return false;
    reason = "breakpoint";
    return true;
  };
  if (how == Resume::CONTINUE) return atBreakpoint;
  const uint32_t fp = m.Word(vm::HDR_VFP), sp = m.Word(vm::HDR_VSP);
  const vm::DebugLine* startLine = LineAt(m.Word(vm::HDR_VPC));
  const bool atStart = AtRoutineStart(m, m.Word(vm::HDR_VPC));
  const uint32_t outAbove = atStart ? sp : fp;
  const uint32_t returnTo = [&] {
    const uint8_t* f = m.Ptr(atStart ? sp : fp + 4, 4);
    return f ? vm::Load32(f) : 0u;
  }();
  const uint64_t stretch = shown_.stretch;
  return [=, this](vm::Machine& machine, bool wrote, std::string& reason) {
    if (atBreakpoint(machine, wrote, reason)) return true;
    reason = "step";
    const uint32_t pc = machine.Word(vm::HDR_VPC);
    if (how == Resume::INSTRUCTION || !startLine) return true;
    // Another delivery: its first line is where a step from the last one arrives.
    const bool sameStretch = shown_.stretch == stretch;
    if (how == Resume::OUT)
      return !sameStretch || (pc == returnTo && machine.Word(vm::HDR_VSP) > outAbove);
    const vm::DebugLine* line = LineAt(pc);
    if (!line || line->address != pc) return false;
    if (sameStretch && line->line == startLine->line && line->file == startLine->file)
      return false;
    if (how == Resume::LINE_IN || !sameStretch) return true;
    // Over calls: not inside a routine this line called (not yet framed at its sfvr).
    const uint32_t nowFp = machine.Word(vm::HDR_VFP);
    return nowFp > fp || (nowFp == fp && !AtRoutineStart(machine, pc));
  };
}

void Session::TravelBack(vm::Machine& m) {
  const Resume how = *back_;
  back_.reset();
  LeavePresent(m);
  std::string reason = "step";
  const bool found = SearchBack(m, TestFor(how, how == Resume::CONTINUE, m), reason);
  if (!found)
    Output("console", "velda-dap: this is the oldest place kept; the history holds " +
                          std::to_string(history_.Latest() - history_.Oldest() + 1) +
                          " deliveries\n");
  if (shown_ == present_) ReturnToPresent(m);
  std::vector<int> ids;
  if (reason == "breakpoint") BreakpointHit(m, m.Word(vm::HDR_VPC), ids, false);
  StopAt(found ? reason : "step", ids);
}

void Session::WaitAndTravel(vm::Machine& m) {
  for (;;) {
    WaitWhileStopped();
    if (over_ || terminating_) {
      ReturnToPresent(m);
      return;
    }
    if (back_) {
      TravelBack(m);
      continue;
    }
    if (!live_) return;
    std::string reason = "step";
    if (SearchForward(m, TestFor(resume_, true, m), reason)) {
      std::vector<int> ids;
      if (reason == "breakpoint") BreakpointHit(m, m.Word(vm::HDR_VPC), ids, false);
      if (shown_ == present_) ReturnToPresent(m);
      StopAt(reason, ids);
      continue;
    }
    // At the present again: a continue goes on live, a step stops here.
    if (resume_ == Resume::CONTINUE) return;
    StopAt("step");
  }
}

Json Session::StepBack(const Json& a, std::string& error) {
  if (!launch_.stepBack) {
    error = "stepping back is off: launch with \"stepBack\": true";
    return {};
  }
  Json body = ResumeWith(Resume::LINE_OVER, a, error);
  if (error.empty()) back_ = resume_;
  return body;
}

Json Session::ReverseContinue(const Json& a, std::string& error) {
  if (!launch_.stepBack) {
    error = "stepping back is off: launch with \"stepBack\": true";
    return {};
  }
  Json body = ResumeWith(Resume::CONTINUE, a, error);
  if (error.empty()) back_ = Resume::CONTINUE;
  return body;
}

}  // namespace orvo::debugger

// Runs one game without a display: start-up, scripted input, ending, as the windowed
// runtime does it, with every runtime message written to standard output.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "host/event_queue.h"
#include "host/event_script.h"
#include "vm/machine.h"

namespace orvo::host {

struct HeadlessOptions {
  std::string programFolder;  // ends in '/'
  std::string dataFolder;     // ends in '/'
  std::string dumpFile;       // empty: no memory dump
  bool startedWithEh = false;
  std::vector<ScriptItem> script;
};

class HeadlessRunner : public vm::Hooks {
 public:
  HeadlessRunner(HeadlessOptions options, std::FILE* messages);
  // The whole run; returns the process exit code.
  int Run();

  void MessageBox(std::string_view text) override;
  void AppendDebugLog(std::string_view text) override;
  void SetTimer(uint32_t periodMs) override;
  uint32_t ElapsedMs() override;
  vm::LocalTime Now() override;
  void EndProgram(vm::Machine& m) override;

 private:
  void Deliver(const Event& e);
  void DeliverDirect(const Event& e);
  void DispatchOneEvent();
  void Drain();
  // Lets real time pass, delivering timer ticks and queued events; with untilCode set,
  // returns early once an event of that code has been delivered.
  void Wait(uint32_t ms, bool hasUntil, int32_t untilCode);
  void DestroyWindow();
  bool Over() const { return machine_.fatal || destroyed_; }
  int Finish();

  HeadlessOptions options_;
  std::FILE* messages_;
  vm::Machine machine_;
  EventQueue queue_;
  std::chrono::steady_clock::time_point start_;
  uint32_t timerPeriodMs_ = 0;
  std::chrono::steady_clock::time_point nextTick_;
  uint64_t delivered_[16] = {};
  bool destroyed_ = false;
};

// Message text as one output line: backslash, CR and LF escaped.
std::string EscapeMessage(std::string_view text);

}  // namespace orvo::host

#include "host/headless_runner.h"

#include <ctime>
#include <thread>

#include "vm/interpreter.h"
#include "vm/loader.h"

namespace orvo::host {

namespace {

constexpr uint8_t kStartOptionEh = 1;

std::FILE* OpenImage(const HeadlessOptions& o) {
  for (const std::string* folder : {&o.dataFolder, &o.programFolder}) {
    if (folder->empty()) continue;
    if (std::FILE* f = std::fopen((*folder + "main.ove").c_str(), "rb")) return f;
  }
  return nullptr;
}

}  // namespace

std::string EscapeMessage(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
        break;
    }
  }
  return out;
}

HeadlessRunner::HeadlessRunner(HeadlessOptions options, std::FILE* messages)
    : options_(std::move(options)),
      messages_(messages),
      machine_(*this),
      start_(std::chrono::steady_clock::now()) {}

void HeadlessRunner::MessageBox(std::string_view text) {
  std::string line = "!: " + EscapeMessage(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), messages_);
  std::fflush(messages_);
}

void HeadlessRunner::AppendDebugLog(std::string_view text) {
  std::FILE* f = std::fopen((options_.dataFolder + "debug.log").c_str(), "ab");
  if (!f) return;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

void HeadlessRunner::SetTimer(uint32_t periodMs) {
  if (periodMs == 0) {
    timerPeriodMs_ = 0;
    return;
  }
  if (timerPeriodMs_ != 0) return;  // a running timer keeps its period
  timerPeriodMs_ = periodMs;
  nextTick_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(periodMs);
}

uint32_t HeadlessRunner::ElapsedMs() {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                  start_);
  return static_cast<uint32_t>(ms.count());
}

vm::LocalTime HeadlessRunner::Now() {
  std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

void HeadlessRunner::Deliver(const Event& e) {
  if (Over()) return;
  vm::CallProgram(machine_, static_cast<uint32_t>(e.code), static_cast<uint32_t>(e.a1),
                  static_cast<uint32_t>(e.a2), static_cast<uint32_t>(e.a3));
  if (e.code >= 0 && e.code < 16) ++delivered_[e.code];
}

// Events 1 to 3 are skipped while ending; the end event always reaches the program.
void HeadlessRunner::DeliverDirect(const Event& e) {
  if (e.code != EVT_END && (machine_.hostFlags & vm::HOST_ENDING)) return;
  Deliver(e);
}

void HeadlessRunner::DispatchOneEvent() {
  Event e;
  if (!TakeEvent(queue_, e)) return;
  if ((machine_.hostFlags & vm::HOST_ENDING) && e.code != EVT_END) return;
  Deliver(e);
}

void HeadlessRunner::Drain() {
  while (!queue_.Empty() && !Over()) DispatchOneEvent();
}

void HeadlessRunner::Wait(uint32_t ms, bool hasUntil, int32_t untilCode) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  const uint64_t seen = hasUntil && untilCode >= 0 && untilCode < 16 ? delivered_[untilCode] : 0;
  auto reached = [&] {
    return hasUntil && untilCode >= 0 && untilCode < 16 && delivered_[untilCode] != seen;
  };
  while (!Over() && !reached()) {
    const auto now = Clock::now();
    if (timerPeriodMs_ != 0 && now >= nextTick_) {
      if (!HasPending(queue_, EVT_TIMER)) PostEvent(queue_, {EVT_TIMER, 0, 0, 0});
      nextTick_ = now + std::chrono::milliseconds(timerPeriodMs_);
    }
    if (!queue_.Empty()) {
      DispatchOneEvent();
      continue;
    }
    if (now >= end) break;
    auto until = end;
    if (timerPeriodMs_ != 0 && nextTick_ < until) until = nextTick_;
    std::this_thread::sleep_until(std::min(until, now + std::chrono::milliseconds(5)));
  }
}

// The window goes away: the program sees the end event, then its memory is released.
void HeadlessRunner::DestroyWindow() {
  if (destroyed_) return;
  Deliver({EVT_END, 0, 0, 0});
  destroyed_ = true;
}

void HeadlessRunner::EndProgram(vm::Machine& m) {
  (void)m;
  DestroyWindow();
}

int HeadlessRunner::Finish() {
  const int code = machine_.fatal ? machine_.exitCode : 0;
  if (!options_.dumpFile.empty() && machine_.mem) {
    if (std::FILE* f = std::fopen(options_.dumpFile.c_str(), "wb")) {
      std::fwrite(machine_.mem, 1, machine_.memSize, f);
      std::fclose(f);
    }
  }
  vm::ReleaseImage(machine_);
  return code;
}

int HeadlessRunner::Run() {
  if (!vm::LoadImage(machine_, OpenImage(options_))) return 1;
  if (options_.startedWithEh) machine_.mem[vm::HDR_START_OPTIONS] |= kStartOptionEh;
  DeliverDirect({EVT_START, 0, 0, 0});
  DeliverDirect({EVT_WINDOW, 0, 0, 0});

  const std::vector<ScriptItem>& items = options_.script;
  size_t i = 0;
  while (i < items.size() && !Over()) {
    if (items[i].kind != ScriptItem::EVENT) {
      Wait(items[i].waitMs, items[i].kind == ScriptItem::UNTIL, items[i].code);
      ++i;
      continue;
    }
    // A run of event lines arrives together, like a burst of input; then the queue is
    // worked off one event at a time.
    for (; i < items.size() && items[i].kind == ScriptItem::EVENT && !Over(); ++i) {
      const Event& e = items[i].event;
      if (e.code >= EVT_START && e.code <= EVT_END)
        DeliverDirect(e);
      else
        PostEvent(queue_, e);
    }
    Drain();
  }
  Drain();
  if (!Over()) DestroyWindow();
  return Finish();
}

}  // namespace orvo::host

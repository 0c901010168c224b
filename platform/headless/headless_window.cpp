#include "platform/headless/headless_window.h"

#include <algorithm>

namespace orvo::platform {

HeadlessWindow::HeadlessWindow(HeadlessConfig config)
    : config_(std::move(config)), start_(SteadyClock::now()) {
  if (config_.scriptClock) scriptClock_.emplace(*config_.scriptClock);
}

HeadlessWindow::SteadyClock::time_point HeadlessWindow::Time() const {
  if (!scriptClock_) return SteadyClock::now();
  return start_ + std::chrono::milliseconds(scriptClock_->Ms());
}

uint32_t HeadlessWindow::TickCount() {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Time() - start_);
  return static_cast<uint32_t>(ms.count());
}

bool HeadlessWindow::CreateWindow(std::string_view title, int32_t x, int32_t y, int32_t width,
                                  int32_t height) {
  title_ = title;
  placement_ = {{x, y, width, height}, SW_SHOWNORMAL};
  hasWindow_ = true;
  return true;
}

bool HeadlessWindow::StartTimer(uint32_t intervalMs) {
  timerMs_ = intervalMs;
  nextTick_ = Time() + std::chrono::milliseconds(intervalMs);
  return intervalMs != 0;
}

bool HeadlessWindow::TimerDue(SteadyClock::time_point now) const {
  return timerMs_ != 0 && now >= nextTick_;
}

void HeadlessWindow::PostFromAnyThread(uint32_t id) {
  {
    std::lock_guard<std::mutex> hold(postedLock_);
    posted_.push_back(id);
  }
  postedSignal_.notify_one();
}

void HeadlessWindow::Delivered(int32_t code) {
  if (code > 0 && code < 16) ++delivered_[code];
}

bool HeadlessWindow::Ready(SteadyClock::time_point now) {
  if (quit_) return true;
  {
    std::lock_guard<std::mutex> hold(postedLock_);
    if (!posted_.empty()) return true;
  }
  for (;;) {
    if (next_ >= config_.script.size()) return !scriptEndSent_;
    const ScriptItem& item = config_.script[next_];
    if (item.kind == ScriptItem::EVENT || item.kind == ScriptItem::SHOT) return true;
    if (!waiting_) {
      waiting_ = true;
      waitEnd_ = now + std::chrono::milliseconds(item.waitMs);
      untilSeen_ = item.code > 0 && item.code < 16 ? delivered_[item.code] : 0;
    }
    const bool reached = item.kind == ScriptItem::UNTIL && item.code > 0 && item.code < 16 &&
                         delivered_[item.code] != untilSeen_;
    if (!reached && now < waitEnd_) return TimerDue(now);
    waiting_ = false;
    ++next_;
  }
}

bool HeadlessWindow::PeekMessage() {
  return Ready(Time());
}

bool HeadlessWindow::GetMessage(Message& out) {
  out = Message{};
  for (;;) {
    const SteadyClock::time_point now = Time();
    if (quit_) return false;
    {
      std::lock_guard<std::mutex> hold(postedLock_);
      if (!posted_.empty()) {
        out.id = posted_.front();
        posted_.pop_front();
        return true;
      }
    }
    if (Ready(now)) {
      if (next_ >= config_.script.size()) {
        if (scriptEndSent_) return false;
        scriptEndSent_ = true;
        out.id = MSG_SCRIPT_END;
        return true;
      }
      const ScriptItem& item = config_.script[next_];
      if (item.kind == ScriptItem::EVENT) {
        out.id = MSG_SCRIPT_EVENT;
        for (int i = 0; i < 4; ++i) out.event[i] = item.event[i];
        ++next_;
        return true;
      }
      if (item.kind == ScriptItem::SHOT) {
        out.id = MSG_SCRIPT_SHOT;
        out.text = item.file;
        ++next_;
        return true;
      }
      if (TimerDue(now)) {
        // However late the tick is, it is one tick: the timer never piles up.
        nextTick_ = now + std::chrono::milliseconds(timerMs_);
        out.id = MSG_TIMER;
        return true;
      }
      continue;
    }
    if (scriptEndSent_ && next_ >= config_.script.size()) return false;
    // Sleep until the next tick, the end of the wait, or a message from another thread.
    SteadyClock::time_point until = waitEnd_;
    if (timerMs_ != 0 && nextTick_ < until) until = nextTick_;
    if (scriptClock_) {
      // On the script's time nothing is waited for: the clock moves to the next thing due.
      scriptClock_->AdvanceTo(static_cast<uint64_t>(
          std::chrono::duration_cast<std::chrono::milliseconds>(until - start_).count()));
      continue;
    }
    until = std::min(until, now + std::chrono::milliseconds(20));
    std::unique_lock<std::mutex> hold(postedLock_);
    postedSignal_.wait_until(hold, until, [&] { return !posted_.empty(); });
  }
}

}  // namespace orvo::platform

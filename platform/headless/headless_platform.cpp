#include "platform/headless/headless_platform.h"

#include <spawn.h>
#include <sys/wait.h>

#include <ctime>

#include "platform/wav/wav_reader.h"

namespace orvo::platform {

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

HeadlessPlatform::HeadlessPlatform(HeadlessConfig config)
    : config_(std::move(config)), start_(Clock::now()) {}

HeadlessPlatform::~HeadlessPlatform() {
  StopAudio();
}

void HeadlessPlatform::MessageBox(std::string_view text) {
  std::string line = "!: " + EscapeMessage(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), config_.messages);
  std::fflush(config_.messages);
}

uint32_t HeadlessPlatform::TickCount() {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_);
  return static_cast<uint32_t>(ms.count());
}

LocalTime HeadlessPlatform::Now() {
  std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

bool HeadlessPlatform::CreateWindow(std::string_view title, int32_t x, int32_t y, int32_t width,
                                    int32_t height) {
  title_ = title;
  placement_ = {{x, y, width, height}, SW_SHOWNORMAL};
  hasWindow_ = true;
  return true;
}

void HeadlessPlatform::SetClipboardText(std::string_view utf8) {
  clipboard_ = utf8;
  hasClipboard_ = true;
}

// Documents and addresses open in the desktop's handler, as they would with a display.
void HeadlessPlatform::OpenWithShell(std::string_view target) {
  std::string arg(target);
  char* argv[] = {const_cast<char*>("xdg-open"), arg.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) == 0) {
    // Reaped at once when it has already failed; otherwise it runs on by itself.
    waitpid(pid, nullptr, WNOHANG);
  }
}

bool HeadlessPlatform::StartTimer(uint32_t intervalMs) {
  timerMs_ = intervalMs;
  nextTick_ = Clock::now() + std::chrono::milliseconds(intervalMs);
  return intervalMs != 0;
}

bool HeadlessPlatform::TimerDue(Clock::time_point now) const {
  return timerMs_ != 0 && now >= nextTick_;
}

void HeadlessPlatform::PostFromAnyThread(uint32_t id) {
  {
    std::lock_guard<std::mutex> hold(postedLock_);
    posted_.push_back(id);
  }
  postedSignal_.notify_one();
}

void HeadlessPlatform::Delivered(int32_t code) {
  if (code > 0 && code < 16) ++delivered_[code];
}

bool HeadlessPlatform::Ready(Clock::time_point now) {
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

bool HeadlessPlatform::PeekMessage() {
  return Ready(Clock::now());
}

bool HeadlessPlatform::GetMessage(Message& out) {
  out = Message{};
  for (;;) {
    const Clock::time_point now = Clock::now();
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
    Clock::time_point until = waitEnd_;
    if (timerMs_ != 0 && nextTick_ < until) until = nextTick_;
    until = std::min(until, now + std::chrono::milliseconds(20));
    std::unique_lock<std::mutex> hold(postedLock_);
    postedSignal_.wait_until(hold, until, [&] { return !posted_.empty(); });
  }
}

// No sound card: the null device pulls the source in real time all the same, so songs
// take their length and their end reaches the program as it would with a display.
bool HeadlessPlatform::StartAudio(AudioSource* source, int sampleRate) {
  return audio_.Start(source, sampleRate);
}
void HeadlessPlatform::StopAudio() {
  audio_.Stop();
}
void HeadlessPlatform::LockAudio() {
  audio_.Lock();
}
void HeadlessPlatform::UnlockAudio() {
  audio_.Unlock();
}
bool HeadlessPlatform::LoadWav(const std::string& path, int sampleRate,
                               std::vector<int16_t>& stereo) {
  stereo.clear();
  // SDL is opened with the first effect; without it every effect is silent, as one whose
  // file is missing.
  const SdlWavFunctions* sdl = SdlWavLibrary();
  return sdl && ReadWavFile(*sdl, path, sampleRate, stereo);
}

}  // namespace orvo::platform

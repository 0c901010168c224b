// Replays a recording: the runtime asks it whether each delivery it is about to make is
// the recording's next, and as the machine's request hook it puts back the recorded
// effect of every request answered from outside the game; the rest run for real. Once
// the run goes another way than the recording, the replay has left it and says where.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/recording.h"
#include "vm/requests.h"

namespace orvo::host {

struct ReplayOptions {
  std::shared_ptr<const Recording> recording;  // none: no replay
  // Moves the run's clock to ms since the start (the script clock of a headless run).
  std::function<void(uint64_t ms)> advanceClock;
  // Not empty: each screenshot is compared with the PNG of the same name in it.
  std::string expectFolder;
};

class Replayer : public vm::RequestHook {
 public:
  explicit Replayer(ReplayOptions options) : options_(std::move(options)) {}

  const Recording& Recorded() const { return *options_.recording; }
  const ReplayOptions& Options() const { return options_; }
  // The next recorded item; null once all have been replayed.
  const RecordedItem* Next() const;
  void Skip() { ++next_; }
  // True when d (its time aside) is the next recorded delivery, which is then taken and
  // its time set on the clock; else the replay leaves the recording.
  bool Deliver(const RecordedDelivery& d);
  void Request(vm::Machine& m, uint32_t command, uint32_t args) override;
  // Leaves the recording at the next item, saying what the run did instead.
  void Leave(const std::string& instead);
  bool Left() const { return !left_.empty(); }
  const std::string& Why() const { return left_; }

 private:
  ReplayOptions options_;
  size_t next_ = 0;
  std::string left_;
};

// What an item of the recording is, for messages: "the delivery of event 12 (1, 0, 3)".
std::string Describe(const RecordedItem& item);

}  // namespace orvo::host

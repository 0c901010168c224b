// The adapter's connection to its client: a reader thread turns the bytes on the input
// into requests (or the reasons they are none) on a queue, so that the game's thread can
// look for a pause while it runs; sending frames and writes a message at once.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "protocol/dap.h"

namespace orvo::debugger {

struct Incoming {
  std::optional<protocol::DapRequest> request;
  protocol::DapReadError error;  // when there is no request
  bool closed = false;           // the input has ended
};

class Channel {
 public:
  Channel(int in, int out) : in_(in), out_(out) {}
  ~Channel();
  void Start();
  // The next message; with wait false nullopt when none is queued. After the input has
  // ended every call gives closed.
  std::optional<Incoming> Next(bool wait);
  void Send(const std::string& body);

 private:
  void Read();
  void Push(Incoming item);

  int in_, out_;
  std::thread reader_;
  std::mutex mutex_, sendMutex_;
  std::condition_variable ready_;
  std::deque<Incoming> queue_;
  bool closed_ = false;
};

}  // namespace orvo::debugger

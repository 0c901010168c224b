#include "debugger/channel.h"

#include <unistd.h>

#include <cerrno>

#include "protocol/framing.h"

namespace orvo::debugger {

Channel::~Channel() {
  // The reader may be blocked in read() on a client that stays connected: the process
  // is ending, so it is let go rather than waited for.
  if (reader_.joinable()) reader_.detach();
}

void Channel::Start() {
  reader_ = std::thread([this] { Read(); });
}

void Channel::Push(Incoming item) {
  std::lock_guard lock(mutex_);
  if (item.closed) closed_ = true;
  else queue_.push_back(std::move(item));
  ready_.notify_all();
}

void Channel::Read() {
  protocol::FrameReader frames;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(in_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    frames.Feed(std::string_view(buffer, static_cast<size_t>(n)));
    std::string body, problem;
    for (;;) {
      const auto r = frames.Next(body, problem);
      if (r == protocol::FrameReader::Result::kNeedMore) break;
      Incoming item;
      if (r == protocol::FrameReader::Result::kBadHeader) {
        item.error.message = "bad message header: " + problem;
      } else {
        item.request = protocol::ReadDapRequest(body, item.error);
      }
      Push(std::move(item));
    }
  }
  Push(Incoming{std::nullopt, {}, true});
}

std::optional<Incoming> Channel::Next(bool wait) {
  std::unique_lock lock(mutex_);
  if (wait) ready_.wait(lock, [this] { return closed_ || !queue_.empty(); });
  if (!queue_.empty()) {
    Incoming item = std::move(queue_.front());
    queue_.pop_front();
    return item;
  }
  if (closed_) return Incoming{std::nullopt, {}, true};
  return std::nullopt;
}

void Channel::Send(const std::string& body) {
  const std::string framed = protocol::Frame(body);
  std::lock_guard lock(sendMutex_);
  size_t done = 0;
  while (done < framed.size()) {
    const ssize_t n = ::write(out_, framed.data() + done, framed.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the client is gone; what it would have read is lost with it
    done += static_cast<size_t>(n);
  }
}

}  // namespace orvo::debugger

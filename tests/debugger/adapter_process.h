// velda-dap as a child process on two pipes, spoken to as a client would.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "protocol/framing.h"

namespace orvo::debugger::test {

using Json = nlohmann::json;

class Adapter {
 public:
  Adapter() {
    int in[2], out[2];
    EXPECT_EQ(pipe(in), 0);
    EXPECT_EQ(pipe(out), 0);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      for (const int fd : {in[0], in[1], out[0], out[1]}) close(fd);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 2);
      execl(VELDA_DAP, VELDA_DAP, nullptr);
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    to_ = in[1];
    from_ = out[0];
  }
  ~Adapter() {
    if (to_ >= 0) close(to_);
    if (pid_ > 0 && !waited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(from_);
  }
  pid_t pid() const { return pid_; }
  void Write(std::string_view bytes) { ASSERT_EQ(write(to_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
  void Request(int seq, const std::string& command, const Json& arguments = Json::object()) {
    Write(orvo::protocol::Frame(
        Json{{"seq", seq}, {"type", "request"}, {"command", command}, {"arguments", arguments}}.dump()));
  }
  // The next message, or null after 20 s without one (the adapter hangs).
  Json Next() {
    std::string body, error;
    for (;;) {
      if (frames_.Next(body, error) == orvo::protocol::FrameReader::Result::kMessage) return Json::parse(body);
      pollfd p{from_, POLLIN, 0};
      if (poll(&p, 1, 20000) <= 0) return nullptr;
      char buffer[4096];
      const ssize_t n = read(from_, buffer, sizeof buffer);
      if (n <= 0) return nullptr;
      frames_.Feed(std::string_view(buffer, static_cast<size_t>(n)));
    }
  }
  // The response to request seq, skipping events.
  Json ResponseTo(int seq) {
    for (Json m = Next(); !m.is_null(); m = Next())
      if (m["type"] == "response" && m["request_seq"] == seq) return m;
    return nullptr;
  }
  int EndInput() {
    close(to_);
    to_ = -1;
    int status = 0;
    waitpid(pid_, &status, 0);
    waited_ = true;
    return status;
  }

 private:
  pid_t pid_ = -1;
  int to_ = -1, from_ = -1;
  bool waited_ = false;
  orvo::protocol::FrameReader frames_;
};

// Messages up to the first that pred accepts, or null after a hang.
template <typename Pred>
Json Until(Adapter& a, Pred pred, std::string* output = nullptr) {
  for (Json m = a.Next(); !m.is_null(); m = a.Next()) {
    if (output && m["type"] == "event" && m["event"] == "output") *output += m["body"]["output"].get<std::string>();
    if (pred(m)) return m;
  }
  return nullptr;
}

}  // namespace orvo::debugger::test

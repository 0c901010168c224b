// velda-dap as a process, fed traffic no client should send: every message gets an
// error response or a message, the adapter never crashes or hangs, and it ends when its
// input does.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "protocol/framing.h"

namespace {

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

TEST(HostileInput, RequestsBeforeInitializeAndUnknownOnesAreRefused) {
  Adapter a;
  a.Request(1, "threads");
  Json r = a.ResponseTo(1);
  ASSERT_FALSE(r.is_null());
  EXPECT_FALSE(r["success"]);
  a.Request(2, "initialize", {{"adapterID", "velda"}});
  EXPECT_TRUE(a.ResponseTo(2)["success"]);
  a.Request(3, "noSuchCommand");
  r = a.ResponseTo(3);
  EXPECT_FALSE(r["success"]);
  EXPECT_NE(r["message"].get<std::string>().find("noSuchCommand"), std::string::npos);
  const int status = a.EndInput();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(HostileInput, MalformedMessagesGetErrorsAndTheSessionGoesOn) {
  Adapter a;
  a.Write(orvo::protocol::Frame("{not json"));
  a.Write(orvo::protocol::Frame("[1,2]"));
  a.Write("Content-Type: nothing\r\n\r\n");                 // no Content-Length
  a.Write("Content-Length: 99999999999999999999\r\n\r\n");  // more than any message
  a.Write(orvo::protocol::Frame(R"({"seq":5,"type":"request","command":"initialize","arguments":7})"));
  Json r = a.ResponseTo(5);
  ASSERT_FALSE(r.is_null()) << "the adapter goes on after malformed messages";
  EXPECT_FALSE(r["success"]);
  a.Request(6, "initialize");
  EXPECT_TRUE(a.ResponseTo(6)["success"]);
  // Arguments of the wrong types, places that do not exist, a game that is not there.
  const std::vector<std::pair<std::string, Json>> wrong = {
      {"launch", {{"game", 42}}},
      {"launch", {{"game", "/no/such/game"}}},
      {"setBreakpoints", {{"source", "x"}}},
      {"readMemory", {{"memoryReference", "0x10"}, {"count", "all"}}},
      {"readMemory", {{"memoryReference", "0x10"}, {"count", 4}}},
      {"writeMemory", {{"memoryReference", "0xFFFFFFFFFFFF"}, {"data", "AAAA"}}},
      {"disassemble", {{"memoryReference", "x"}, {"instructionCount", 1}}},
      {"evaluate", {{"expression", "[$9"}}},
      {"variables", {{"variablesReference", "x"}}},
      {"stackTrace", {{"threadId", 1}, {"startFrame", "x"}}},
      {"disassemble", {{"memoryReference", "0x200"}, {"instructionOffset", -1000000000000000}, {"instructionCount", 1}}},
      {"continue", {{"threadId", 1}}},
  };
  int seq = 10;
  for (const auto& [command, arguments] : wrong) {
    a.Request(seq, command, arguments);
    r = a.ResponseTo(seq);
    ASSERT_FALSE(r.is_null()) << command << " " << arguments.dump();
    EXPECT_FALSE(r["success"]) << command << " " << arguments.dump();
    EXPECT_FALSE(r["message"].get<std::string>().empty());
    ++seq;
  }
  // Breakpoints in files and labels that do not exist are answered, unverified.
  a.Request(seq, "setFunctionBreakpoints", {{"breakpoints", {{{"name", "Nowhere"}}, 3}}});
  r = a.ResponseTo(seq);
  ASSERT_EQ(r["body"]["breakpoints"].size(), 2u);
  EXPECT_FALSE(r["body"]["breakpoints"][0]["verified"]);
  const int status = a.EndInput();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(HostileInput, ABreakpointInAMissingFileIsUnverifiedWithTheReason) {
  Adapter a;
  a.Request(1, "initialize");
  ASSERT_TRUE(a.ResponseTo(1)["success"]);
  a.Request(2, "launch", {{"game", ORVO_EXAMPLE_GAMES "/mines"}, {"events", "/no/such/events"}});
  EXPECT_FALSE(a.ResponseTo(2)["success"]);
  a.Request(3, "launch", {{"game", ORVO_EXAMPLE_GAMES "/mines"}});
  ASSERT_TRUE(a.ResponseTo(3)["success"]);
  a.Request(4, "setBreakpoints", {{"source", {{"path", "/nowhere/missing.ova"}}}, {"breakpoints", {{{"line", 3}}}}});
  Json r = a.ResponseTo(4);
  ASSERT_EQ(r["body"]["breakpoints"].size(), 1u);
  EXPECT_FALSE(r["body"]["breakpoints"][0]["verified"]);
  EXPECT_NE(r["body"]["breakpoints"][0]["message"].get<std::string>().find("missing.ova"), std::string::npos);
  a.Request(5, "disconnect");
  EXPECT_TRUE(a.ResponseTo(5)["success"]);
  a.EndInput();
}

}  // namespace

namespace {

// Messages up to the first that pred accepts, or null after a hang.
template <typename Pred>
Json Until(Adapter& a, Pred pred, std::string* output = nullptr) {
  for (Json m = a.Next(); !m.is_null(); m = a.Next()) {
    if (output && m["type"] == "event" && m["event"] == "output") *output += m["body"]["output"].get<std::string>();
    if (pred(m)) return m;
  }
  return nullptr;
}

TEST(ExceptionStops, AFaultStopsTheGameWhereItHappenedThenEndsIt) {
  Adapter a;
  a.Request(1, "initialize");
  ASSERT_TRUE(a.ResponseTo(1)["success"]);
  a.Request(2, "launch", {{"game", FAULTING_GAME}, {"events", TEST_SOURCES "/close.txt"}});
  ASSERT_TRUE(a.ResponseTo(2)["success"]);
  a.Request(3, "setExceptionBreakpoints", {{"filters", {"divideByZero", "noSuchFilter"}}});
  const Json filters = a.ResponseTo(3);
  EXPECT_TRUE(filters["body"]["breakpoints"][0]["verified"]);
  EXPECT_FALSE(filters["body"]["breakpoints"][1]["verified"]);
  a.Request(4, "configurationDone");
  std::string output;
  const Json stop = Until(a, [](const Json& m) { return m["type"] == "event" && m["event"] == "stopped"; }, &output);
  ASSERT_FALSE(stop.is_null());
  EXPECT_EQ(stop["body"]["reason"], "exception");
  EXPECT_EQ(stop["body"]["text"], "Divide by zero");
  EXPECT_NE(output.find("hello, world"), std::string::npos) << "the game's dbg text is output";
  EXPECT_NE(output.find("at faulting.ova"), std::string::npos) << "where the fault lies is output";
  a.Request(5, "stackTrace", {{"threadId", 1}});
  const Json trace = a.ResponseTo(5);
  ASSERT_GE(trace["body"]["stackFrames"].size(), 2u);
  EXPECT_EQ(trace["body"]["stackFrames"][0]["name"].get<std::string>().rfind("Divide", 0), 0u);
  EXPECT_EQ(trace["body"]["stackFrames"][1]["name"].get<std::string>().rfind("HelloStart", 0), 0u);
  a.Request(6, "evaluate", {{"expression", "$1 == 7 && $2 == 0"}});
  EXPECT_EQ(a.ResponseTo(6)["body"]["result"].get<std::string>().rfind("0x1 ", 0), 0u);
  // Out-of-range requests on a stopped game are answered and leave it as it was.
  a.Request(20, "disassemble", {{"memoryReference", "0x200"}, {"instructionOffset", -1000000000}, {"instructionCount", 3}});
  EXPECT_EQ(a.ResponseTo(20)["body"]["instructions"].size(), 3u);
  a.Request(21, "readMemory", {{"memoryReference", "0xFFFFFFF0"}, {"count", 64}});
  EXPECT_EQ(a.ResponseTo(21)["body"]["unreadableBytes"], 64);
  a.Request(22, "writeMemory", {{"memoryReference", "0xFFFFFFF0"}, {"data", "AAAA"}});
  EXPECT_FALSE(a.ResponseTo(22)["success"]);
  a.Request(23, "setInstructionBreakpoints", {{"breakpoints", {{{"instructionReference", "0xFFFFFFFF0"}}}}});
  EXPECT_FALSE(a.ResponseTo(23)["body"]["breakpoints"][0]["verified"]);
  // Back from the fault: the instruction before it, then forward again to the fault.
  a.Request(24, "stepBack", {{"threadId", 1}, {"granularity", "instruction"}});
  EXPECT_TRUE(a.ResponseTo(24)["success"]);
  EXPECT_FALSE(Until(a, [](const Json& m) { return m["type"] == "event" && m["event"] == "stopped"; }).is_null());
  a.Request(25, "stackTrace", {{"threadId", 1}});
  EXPECT_NE(a.ResponseTo(25)["body"]["stackFrames"][0]["instructionPointerReference"],
            trace["body"]["stackFrames"][0]["instructionPointerReference"]);
  a.Request(7, "continue", {{"threadId", 1}});
  output.clear();
  const Json exited = Until(a, [](const Json& m) { return m["type"] == "event" && m["event"] == "exited"; }, &output);
  ASSERT_FALSE(exited.is_null());
  EXPECT_EQ(exited["body"]["exitCode"], 3) << "a fault ends the game as orvo-headless reports it";
  EXPECT_NE(output.find("Divide by zero"), std::string::npos) << "the runtime's message is output: " << output;
  a.Request(8, "disconnect");
  EXPECT_TRUE(a.ResponseTo(8)["success"]);
  a.EndInput();
}

TEST(RuntimeCrash, EndsTheSessionWithTheCrashReportAsOutput) {
  Adapter a;
  a.Request(1, "initialize");
  ASSERT_TRUE(a.ResponseTo(1)["success"]);
  a.Request(2, "launch", {{"game", ORVO_EXAMPLE_GAMES "/mines"}, {"events", TEST_SOURCES "/close.txt"},
                          {"stopOnEntry", true}});
  ASSERT_TRUE(a.ResponseTo(2)["success"]);
  a.Request(3, "configurationDone");
  ASSERT_FALSE(Until(a, [](const Json& m) { return m["type"] == "event" && m["event"] == "stopped"; }).is_null());
  // The runtime faults as a bug in it would.
  kill(a.pid(), SIGSEGV);
  std::string output;
  Until(a, [](const Json&) { return false; }, &output);
  EXPECT_NE(output.find("the runtime crashed"), std::string::npos) << output;
  EXPECT_NE(output.find("VPC"), std::string::npos) << "the report's registers: " << output;
}

}  // namespace

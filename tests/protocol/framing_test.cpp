// The framed message reader: whole messages however the bytes arrive, and recovery
// from broken headers.
#include "protocol/framing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/json_rpc.h"

namespace orvo::protocol {
namespace {

struct Read {
  std::vector<std::string> bodies;
  int bad = 0;
};

Read Drain(FrameReader& r) {
  Read out;
  std::string body, error;
  for (;;) {
    auto result = r.Next(body, error);
    if (result == FrameReader::Result::kNeedMore) return out;
    if (result == FrameReader::Result::kBadHeader)
      ++out.bad;
    else
      out.bodies.push_back(body);
  }
}

TEST(FrameReader, GivesTheSameMessagesWhereverTheStreamIsCut) {
  const std::vector<std::string> bodies = {"{}", R"({"a":"\r\n\r\n"})", std::string(3000, 'x'), ""};
  std::string stream;
  for (const std::string& b : bodies) stream += Frame(b);
  for (size_t step : {size_t{1}, size_t{2}, size_t{7}, size_t{1000}, stream.size()}) {
    FrameReader r;
    Read got;
    for (size_t at = 0; at < stream.size(); at += step) {
      r.Feed(std::string_view(stream).substr(at, step));
      Read part = Drain(r);
      got.bodies.insert(got.bodies.end(), part.bodies.begin(), part.bodies.end());
      got.bad += part.bad;
    }
    EXPECT_EQ(got.bodies, bodies) << "step " << step;
    EXPECT_EQ(got.bad, 0);
    EXPECT_EQ(r.buffered(), 0u);
  }
}

TEST(FrameReader, ReportsABrokenHeaderAndReadsTheNextMessage) {
  for (const char* broken : {"Content-Length: x\r\n\r\n", "no colon here\r\n\r\n",
                             "Content-Type: a\r\n\r\n", "Content-Length: -4\r\n\r\n"}) {
    FrameReader r;
    r.Feed(std::string(broken) + Frame("{\"ok\":1}"));
    Read got = Drain(r);
    EXPECT_EQ(got.bad, 1) << broken;
    EXPECT_EQ(got.bodies, std::vector<std::string>{"{\"ok\":1}"}) << broken;
  }
  // Header fields other than the length are read past, in any case.
  FrameReader r;
  r.Feed("content-length: 2\r\nContent-Type: application/vscode-jsonrpc\r\n\r\n{}");
  EXPECT_EQ(Drain(r).bodies, std::vector<std::string>{"{}"});
}

TEST(FrameReader, DropsAnOversizedMessageAsItArrivesAndAHeaderThatNeverEnds) {
  FrameReader r;
  r.Feed("Content-Length: " + std::to_string(kMaxBody + 10) + "\r\n\r\n");
  EXPECT_EQ(Drain(r).bad, 1);
  std::string chunk(1 << 20, 'z');
  for (size_t sent = 0; sent < kMaxBody + 10; sent += chunk.size()) {
    size_t n = std::min(chunk.size(), kMaxBody + 10 - sent);
    r.Feed(std::string_view(chunk).substr(0, n));
    EXPECT_EQ(r.buffered(), 0u);
  }
  r.Feed(Frame("{}"));
  EXPECT_EQ(Drain(r).bodies, std::vector<std::string>{"{}"});

  FrameReader endless;
  endless.Feed(std::string(kMaxHeader + 1, 'h'));
  EXPECT_EQ(Drain(endless).bad, 1);
  EXPECT_EQ(endless.buffered(), 0u);
}

TEST(JsonRpc, TellsRequestsNotificationsResponsesAndWhatIsNone) {
  ReadError e;
  auto request = ReadMessage(R"({"jsonrpc":"2.0","id":3,"method":"m","params":{"a":1}})", e);
  ASSERT_TRUE(request);
  EXPECT_TRUE(request->HasId());
  EXPECT_EQ(request->method, "m");
  auto note = ReadMessage(R"({"jsonrpc":"2.0","method":"n"})", e);
  ASSERT_TRUE(note);
  EXPECT_FALSE(note->HasId());
  auto response = ReadMessage(R"({"jsonrpc":"2.0","id":"x","result":[1]})", e);
  ASSERT_TRUE(response);
  EXPECT_TRUE(response->isResponse);

  struct Case {
    const char* body;
    int code;
  };
  for (Case c :
       {Case{"{", kParseError}, Case{"[1,2]", kInvalidRequest},
        Case{R"({"id":1})", kInvalidRequest}, Case{R"({"id":1,"method":5})", kInvalidRequest},
        Case{R"({"id":{},"method":"m"})", kInvalidRequest},
        Case{R"({"id":1,"method":"m","params":3})", kInvalidRequest},
        Case{"\xff\xfe", kParseError}}) {
    EXPECT_FALSE(ReadMessage(c.body, e)) << c.body;
    EXPECT_EQ(e.code, c.code) << c.body;
  }
  // The id of a request that can be read is kept for the error's answer.
  ReadMessage(R"({"id":9,"method":7})", e);
  EXPECT_EQ(e.id, 9);
}

}  // namespace
}  // namespace orvo::protocol

// The framed message reader and both readings of each body, as JSON-RPC and as a debug
// adapter request: any bytes, fed in pieces whose sizes the input itself chooses, give
// messages or errors, never a crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/dap.h"
#include "protocol/framing.h"
#include "protocol/json_rpc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orvo::protocol::FrameReader reader;
  size_t at = 0;
  while (at < size) {
    size_t piece = 1 + data[at] % 64;
    ++at;
    if (piece > size - at) piece = size - at;
    reader.Feed(std::string_view(reinterpret_cast<const char*>(data + at), piece));
    at += piece;
    std::string body, error;
    for (;;) {
      auto r = reader.Next(body, error);
      if (r == orvo::protocol::FrameReader::Result::kNeedMore) break;
      if (r != orvo::protocol::FrameReader::Result::kMessage) continue;
      orvo::protocol::ReadError e;
      if (auto m = orvo::protocol::ReadMessage(body, e)) orvo::protocol::Response(m->id, m->params);
      orvo::protocol::DapReadError dapError;
      orvo::protocol::DapWriter writer;
      if (auto r = orvo::protocol::ReadDapRequest(body, dapError)) writer.Response(*r, r->arguments);
      else writer.ErrorResponse(dapError.seq, dapError.command, dapError.message);
    }
  }
  return 0;
}

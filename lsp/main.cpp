// velda-lsp: the language server for velda sources, on standard input and output.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "protocol/framing.h"
#include "server.h"

int main() {
  orvo::lsp::Server server([](const std::string& body) {
    std::string framed = orvo::protocol::Frame(body);
    std::fwrite(framed.data(), 1, framed.size(), stdout);
    std::fflush(stdout);
  });
  orvo::protocol::FrameReader reader;
  char buf[65536];
  while (!server.exited()) {
    ssize_t n = read(0, buf, sizeof buf);
    if (n <= 0) break;
    reader.Feed(std::string_view(buf, static_cast<size_t>(n)));
    std::string body, error;
    for (;;) {
      auto r = reader.Next(body, error);
      if (r == orvo::protocol::FrameReader::Result::kNeedMore) break;
      if (r == orvo::protocol::FrameReader::Result::kBadHeader) {
        std::fprintf(stderr, "velda-lsp: %s\n", error.c_str());
        continue;
      }
      server.Handle(body);
      if (server.exited()) break;
    }
  }
  return server.exited() ? server.exitCode() : 1;
}

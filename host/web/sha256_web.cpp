// SHA-256 in the web build: nettle is not built for WebAssembly, so the digest comes from
// node's crypto module. Recordings are made and replayed only by orvo-headless under
// node; the page has no command line to ask for one.
#include <emscripten.h>

#include "host/recording.h"

namespace orvo::host {

namespace {

EM_JS(int, NodeSha256, (const uint8_t* bytes, size_t size, uint8_t* out), {
  if (typeof require !== 'function') return 0;
  const digest = require('crypto').createHash('sha256')
                     .update(HEAPU8.subarray(bytes, bytes + size)).digest();
  HEAPU8.set(digest, out);
  return 1;
});

}  // namespace

Digest Sha256(const uint8_t* bytes, size_t size) {
  Digest d{};
  if (!NodeSha256(bytes, size, d.data()))
    emscripten_log(EM_LOG_ERROR, "orvo: SHA-256 is not available in this page");
  return d;
}

}  // namespace orvo::host

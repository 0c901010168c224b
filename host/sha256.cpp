// SHA-256 through Debian's nettle.
#include <nettle/sha2.h>

#include "host/recording.h"

namespace orvo::host {

Digest Sha256(const uint8_t* bytes, size_t size) {
  sha256_ctx ctx;
  sha256_init(&ctx);
  sha256_update(&ctx, size, bytes);
  Digest d;
  sha256_digest(&ctx, d.size(), d.data());
  return d;
}

}  // namespace orvo::host

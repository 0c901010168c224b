// Formats 1,000,000 pseudo-random signed 32-bit numbers as "%ld," and appends them to a
// text chunk; every 64 numbers the chunk is hashed (h = h * 31 + byte, modulo 2^32) and
// emptied. Prints the hash.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#define N 1000000
#define PER_CHUNK 64

static void hash_chunk(const char* chunk, uint32_t* h) {
  const size_t len = strlen(chunk);
  for (size_t i = 0; i < len; ++i) *h = *h * 31u + (unsigned char)chunk[i];
}

int main(void) {
  static char chunk[PER_CHUNK * 16], piece[32];
  uint32_t x = 12345, h = 0;
  chunk[0] = 0;
  for (int i = 1; i <= N; ++i) {
    x = x * 1664525u + 1013904223u;
    piece[0] = 0;
    sprintf(piece + strlen(piece), "%ld,", (long)(int32_t)x);
    strcat(chunk, piece);
    if (i % PER_CHUNK == 0) {
      hash_chunk(chunk, &h);
      chunk[0] = 0;
    }
  }
  hash_chunk(chunk, &h);
  printf("%u\n", h);
  return 0;
}

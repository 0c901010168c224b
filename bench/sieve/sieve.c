// Sieve of Eratosthenes over 8,000,000 byte flags; prints the number of primes.
#include <stdio.h>
#include <stdlib.h>

#define N 8000000

int main(void) {
  unsigned char* flags = malloc(N);
  if (!flags) return 1;
  for (unsigned i = 0; i < N; ++i) flags[i] = 1;
  flags[0] = flags[1] = 0;
  for (unsigned i = 2; i * i < N; ++i)
    if (flags[i])
      for (unsigned j = i * i; j < N; j += i) flags[j] = 0;
  unsigned count = 0;
  for (unsigned i = 0; i < N; ++i) count += flags[i];
  printf("%u\n", count);
  free(flags);
  return 0;
}

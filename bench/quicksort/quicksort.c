// In-place quicksort of 1,000,000 pseudo-random 32-bit integers (unsigned order);
// prints a hash of the sorted array: h = h * 31 + a[i], modulo 2^32.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#define N 1000000

static void quicksort(uint32_t* a, int32_t lo, int32_t hi) {
  int32_t i = lo, j = hi;
  const uint32_t pivot = a[(lo + hi) >> 1];
  while (i <= j) {
    while (a[i] < pivot) ++i;
    while (a[j] > pivot) --j;
    if (i <= j) {
      const uint32_t t = a[i];
      a[i] = a[j];
      a[j] = t;
      ++i;
      --j;
    }
  }
  if (lo < j) quicksort(a, lo, j);
  if (i < hi) quicksort(a, i, hi);
}

int main(void) {
  uint32_t* a = malloc(N * sizeof *a);
  if (!a) return 1;
  uint32_t x = 12345;
  for (int32_t i = 0; i < N; ++i) {
    x = x * 1664525u + 1013904223u;
    a[i] = x;
  }
  quicksort(a, 0, N - 1);
  uint32_t h = 0;
  for (int32_t i = 0; i < N; ++i) h = h * 31u + a[i];
  printf("%u\n", h);
  free(a);
  return 0;
}

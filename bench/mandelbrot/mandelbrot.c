// Mandelbrot set over 600 x 400 points of [-2, 1] x [-1, 1], at most 256 iterations each,
// in doubles; prints the total number of iterations.
#include <stdio.h>

#define W 600
#define H 400
#define MAXIT 256

int main(void) {
  const double dx = 3.0 / W, dy = 2.0 / H;
  unsigned total = 0;
  for (int py = 0; py < H; ++py) {
    const double ci = py * dy - 1.0;
    for (int px = 0; px < W; ++px) {
      const double cr = px * dx - 2.0;
      double zr = 0.0, zi = 0.0;
      int n = 0;
      while (n < MAXIT) {
        const double zr2 = zr * zr, zi2 = zi * zi;
        if (zr2 + zi2 > 4.0) break;
        zi = zr * zi * 2.0 + ci;
        zr = zr2 - zi2 + cr;
        ++n;
      }
      total += n;
    }
  }
  printf("%u\n", total);
  return 0;
}

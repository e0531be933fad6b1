/* The streaming yardstick: what a run that passes bands of rows from its
 * input to its outputs costs in I/O alone. Reads bands of 32 rows with
 * pread, expands each to 4-byte pixels in a small buffer (no colour
 * conversion) and appends it with write; with --planes it also writes
 * three grey plane files (plane_0/1/2.bmp in the current directory, 4 bytes
 * a pixel) from the same bands in the same pass. Memory stays a few bands
 * whatever the picture's size, so its peak RSS is the mark for a streaming
 * run's, and its CPU time the mark for a streaming run's cost.
 *
 *   band_floor input.bmp output.bmp [--planes]
 *
 * 24- and 32-bit files, bottom-up or top-down (a top-down file's bands are
 * read from its end, so the output is bottom-up as the programs write it),
 * and 256-colour bottom-up files with a full palette. Minimal checking: a
 * yardstick, not a converter.
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { band_rows = 32 };

static uint32_t get32(const uint8_t *p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static void put32(uint8_t *p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
  p[2] = (uint8_t)(v >> 16);
  p[3] = (uint8_t)(v >> 24);
}

static void expand(const uint8_t *s, uint8_t *d, size_t w, unsigned bpp, const uint8_t *palette) {
  if (bpp == 32) {
    memcpy(d, s, w * 4);
  } else if (bpp == 24) {
    for (size_t x = 0; x < w; x++) {
      d[4 * x] = s[3 * x];
      d[4 * x + 1] = s[3 * x + 1];
      d[4 * x + 2] = s[3 * x + 2];
      d[4 * x + 3] = 0;
    }
  } else {
    for (size_t x = 0; x < w; x++) memcpy(d + 4 * x, palette + 4 * s[x], 4);
  }
}

static void grey(const uint8_t *s, uint8_t *d, size_t n, int c) {
  for (size_t x = 0; x < n; x++) {
    uint8_t v = s[4 * x + (size_t)c];
    d[4 * x] = v;
    d[4 * x + 1] = v;
    d[4 * x + 2] = v;
    d[4 * x + 3] = 0;
  }
}

/* A 32-bit bottom-up header; sizes too large for their fields are left 0. */
static void make_header(uint8_t *hd, uint32_t w, uint32_t rows) {
  uint64_t bytes = (uint64_t)w * rows * 4;
  int fits = bytes <= UINT32_MAX - 54;
  memset(hd, 0, 54);
  hd[0] = 'B';
  hd[1] = 'M';
  put32(hd + 2, fits ? (uint32_t)(bytes + 54) : 0);
  put32(hd + 10, 54);
  put32(hd + 14, 40);
  put32(hd + 18, w);
  put32(hd + 22, rows);
  hd[26] = 1;
  hd[28] = 32;
  put32(hd + 34, fits ? (uint32_t)bytes : 0);
}

static int write_all(int fd, const uint8_t *p, size_t n) {
  return write(fd, p, n) == (ssize_t)n ? 0 : -1;
}

int main(int argc, char **argv) {
  if (argc < 3) {
    fputs("usage: band_floor input.bmp output.bmp [--planes]\n", stderr);
    return 2;
  }
  int planes = argc > 3 && strcmp(argv[3], "--planes") == 0;
  int in = open(argv[1], O_RDONLY);
  uint8_t hdr[54], palette[1024];
  if (in < 0 || pread(in, hdr, 54, 0) != 54) return 1;
  uint32_t off = get32(hdr + 10);
  int32_t w = (int32_t)get32(hdr + 18), h = (int32_t)get32(hdr + 22);
  unsigned bpp = hdr[28];
  int known = bpp == 24 || bpp == 32 || (bpp == 8 && h > 0 && off == 54 + 1024);
  if (!known || w <= 0 || h == 0 || h == INT32_MIN) {
    fputs("band_floor: wants a 24-bit, 32-bit or bottom-up 256-colour bitmap\n", stderr);
    return 2;
  }
  if (bpp == 8 && pread(in, palette, sizeof palette, 54) != (ssize_t)sizeof palette) return 1;
  size_t rows = (size_t)(h < 0 ? -h : h), width = (size_t)w;
  size_t stride = (width * (bpp / 8) + 3) & ~(size_t)3, row4 = width * 4;

  int out[4];
  const char *names[4] = {"plane_0.bmp", "plane_1.bmp", "plane_2.bmp", argv[2]};
  int first = planes ? 0 : 3;
  make_header(hdr, (uint32_t)width, (uint32_t)rows);
  for (int k = first; k < 4; k++) {
    out[k] = open(names[k], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out[k] < 0 || write_all(out[k], hdr, 54) != 0) return 1;
  }
  uint8_t *ib = malloc(band_rows * stride), *ob = malloc(band_rows * row4),
          *pb = malloc(band_rows * row4);
  if (!ib || !ob || !pb) return 3;
  for (size_t y = 0; y < rows; y += band_rows) {
    size_t n = rows - y < band_rows ? rows - y : band_rows;
    /* The band's first file row: from the end of a top-down file. */
    size_t start = h > 0 ? y : rows - y - n;
    if (pread(in, ib, n * stride, (off_t)(off + start * stride)) != (ssize_t)(n * stride)) return 1;
    for (size_t r = 0; r < n; r++) {
      size_t from = h > 0 ? r : n - 1 - r;
      expand(ib + from * stride, ob + r * row4, width, bpp, palette);
    }
    for (int k = first; k < 3; k++) {
      grey(ob, pb, n * width, k);
      if (write_all(out[k], pb, n * row4) != 0) return 1;
    }
    if (write_all(out[3], ob, n * row4) != 0) return 1;
  }
  for (int k = first; k < 4; k++) close(out[k]);
  free(ib);
  free(ob);
  free(pb);
  return 0;
}

/* The streaming yardstick: what a run that passes bands of rows from its
 * input to its outputs costs in I/O alone. Reads bands of 32 rows with
 * pread, expands each to 4-byte pixels in a small buffer (no colour
 * conversion) and appends it with write; with --planes it also writes
 * three grey plane files (plane_0/1/2.bmp in the current directory, 4 bytes
 * a pixel) from the same bands in the same pass. Memory stays a few bands
 * whatever the picture's size, so its peak RSS is the mark for a streaming
 * run's, and its CPU time the mark for a streaming run's cost.
 *
 *   band_floor input.bmp output.bmp [--planes] [--threads N]
 *
 * With --threads, N threads take the bands in turn and each writes its
 * bands with pwrite at their offsets, into outputs sized first with
 * ftruncate, as a run on several threads does: the floor of a threaded run.
 *
 * 24- and 32-bit files, bottom-up or top-down (a top-down file's bands are
 * read from its end, so the output is bottom-up as the programs write it),
 * and 256-colour bottom-up files with a full palette. Minimal checking: a
 * yardstick, not a converter.
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <pthread.h>
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

/* What every band's work needs: the input's layout and the open outputs. */
struct job {
  int in, out[4], first_output;
  uint32_t offset;
  int32_t height;
  unsigned bpp;
  size_t rows, width, stride, row4;
  uint8_t palette[1024];
  int positional; /* pwrite at each band's offset rather than append */
  size_t first_band, band_step;
};

static int put_band(const struct job *j, int k, const uint8_t *p, size_t n, size_t y) {
  if (!j->positional) return write_all(j->out[k], p, n);
  return pwrite(j->out[k], p, n, (off_t)(54 + y * j->row4)) == (ssize_t)n ? 0 : -1;
}

/* Converts bands first_band, first_band + band_step, ...; 0 or -1. */
static int run_bands(const struct job *j) {
  size_t stride = j->stride, row4 = j->row4;
  uint8_t *ib = malloc(band_rows * stride), *ob = malloc(band_rows * row4),
          *pb = malloc(band_rows * row4);
  int status = ib && ob && pb ? 0 : -1;
  for (size_t y = j->first_band * band_rows; status == 0 && y < j->rows;
       y += j->band_step * band_rows) {
    size_t n = j->rows - y < band_rows ? j->rows - y : band_rows;
    /* The band's first file row: from the end of a top-down file. */
    size_t start = j->height > 0 ? y : j->rows - y - n;
    if (pread(j->in, ib, n * stride, (off_t)(j->offset + start * stride)) != (ssize_t)(n * stride))
      status = -1;
    for (size_t r = 0; status == 0 && r < n; r++) {
      size_t from = j->height > 0 ? r : n - 1 - r;
      expand(ib + from * stride, ob + r * row4, j->width, j->bpp, j->palette);
    }
    for (int k = j->first_output; status == 0 && k < 3; k++) {
      grey(ob, pb, n * j->width, k);
      status = put_band(j, k, pb, n * row4, y);
    }
    if (status == 0) status = put_band(j, 3, ob, n * row4, y);
  }
  free(ib);
  free(ob);
  free(pb);
  return status;
}

static void *run_thread(void *job) { return run_bands(job) == 0 ? NULL : job; }

/* Runs the bands on threads threads, each taking every threads-th band. */
static int run_threads(const struct job *j, int threads) {
  struct job parts[64];
  pthread_t ids[64];
  int status = 0;
  for (int t = 0; t < threads; t++) {
    parts[t] = *j;
    parts[t].first_band = (size_t)t;
    parts[t].band_step = (size_t)threads;
    if (pthread_create(&ids[t], NULL, run_thread, &parts[t]) != 0) return -1;
  }
  for (int t = 0; t < threads; t++) {
    void *result;
    if (pthread_join(ids[t], &result) != 0 || result) status = -1;
  }
  return status;
}

int main(int argc, char **argv) {
  if (argc < 3) {
    fputs("usage: band_floor input.bmp output.bmp [--planes] [--threads N]\n", stderr);
    return 2;
  }
  int planes = 0, threads = 0;
  for (int a = 3; a < argc; a++) {
    if (strcmp(argv[a], "--planes") == 0) {
      planes = 1;
    } else if (strcmp(argv[a], "--threads") == 0 && a + 1 < argc) {
      threads = atoi(argv[++a]);
      if (threads < 1 || threads > 64) return 2;
    } else {
      return 2;
    }
  }
  static struct job j;
  j.in = open(argv[1], O_RDONLY);
  uint8_t hdr[54];
  if (j.in < 0 || pread(j.in, hdr, 54, 0) != 54) return 1;
  j.offset = get32(hdr + 10);
  int32_t w = (int32_t)get32(hdr + 18), h = (int32_t)get32(hdr + 22);
  j.bpp = hdr[28];
  int known = j.bpp == 24 || j.bpp == 32 || (j.bpp == 8 && h > 0 && j.offset == 54 + 1024);
  if (!known || w <= 0 || h == 0 || h == INT32_MIN) {
    fputs("band_floor: wants a 24-bit, 32-bit or bottom-up 256-colour bitmap\n", stderr);
    return 2;
  }
  if (j.bpp == 8 && pread(j.in, j.palette, sizeof j.palette, 54) != (ssize_t)sizeof j.palette)
    return 1;
  j.height = h;
  j.rows = (size_t)(h < 0 ? -h : h);
  j.width = (size_t)w;
  j.stride = (j.width * (j.bpp / 8) + 3) & ~(size_t)3;
  j.row4 = j.width * 4;
  j.positional = threads > 0;
  j.band_step = 1;

  const char *names[4] = {"plane_0.bmp", "plane_1.bmp", "plane_2.bmp", argv[2]};
  j.first_output = planes ? 0 : 3;
  make_header(hdr, (uint32_t)j.width, (uint32_t)j.rows);
  for (int k = j.first_output; k < 4; k++) {
    j.out[k] = open(names[k], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (j.out[k] < 0 || write_all(j.out[k], hdr, 54) != 0) return 1;
    if (j.positional && ftruncate(j.out[k], (off_t)(54 + j.rows * j.row4)) != 0) return 1;
  }
  int status = threads > 0 ? run_threads(&j, threads) : run_bands(&j);
  for (int k = j.first_output; k < 4; k++) close(j.out[k]);
  return status == 0 ? 0 : 1;
}

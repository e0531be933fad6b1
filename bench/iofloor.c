/* The whole-image yardstick: the I/O a converter that holds the whole
 * image cannot avoid, and no colour conversion. One read of the file into
 * one block, its rows expanded to 4-byte pixels (bottom row first, as the
 * output wants them) into one block, then a 54-byte header and that block
 * written out. A run that costs about this much spends nothing beyond its
 * input and output.
 *
 *   iofloor input.bmp output.bmp
 *
 * Built a second time as iofloor_planes (-DTOUCH -DPLANES) for the programs
 * that also write three channel planes: the whole-image design's memory,
 * a load block and two working images (destination first, then source,
 * with one trivial pass between them), then a zeroed plane image filled
 * and written three times as grey planes (plane_0/1/2.bmp in the current
 * directory) before the result; about five images in memory.
 *
 * 24- and 32-bit files, bottom-up or top-down, and 256-colour bottom-up
 * files with a full palette. Minimal checking: a yardstick, not a converter.
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

static uint32_t rd32(const unsigned char *p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static uint16_t rd16(const unsigned char *p) { return (uint16_t)(p[0] | p[1] << 8); }

static void wr32(unsigned char *p, uint32_t v) {
  p[0] = (unsigned char)v;
  p[1] = (unsigned char)(v >> 8);
  p[2] = (unsigned char)(v >> 16);
  p[3] = (unsigned char)(v >> 24);
}

static int write_bmp32(const char *path, const unsigned char *px, int32_t w, int32_t h) {
  unsigned char hd[54];
  size_t n = (size_t)w * (size_t)h * 4;
  memset(hd, 0, sizeof hd);
  hd[0] = 'B';
  hd[1] = 'M';
  wr32(hd + 2, (uint32_t)(n + 54));
  wr32(hd + 10, 54);
  wr32(hd + 14, 40);
  wr32(hd + 18, (uint32_t)w);
  wr32(hd + 22, (uint32_t)h);
  hd[26] = 1;
  hd[28] = 32;
  wr32(hd + 34, (uint32_t)n);
  FILE *f = fopen(path, "wb");
  if (!f) {
    fprintf(stderr, "iofloor: cannot create %s\n", path);
    return -1;
  }
  int ok = fwrite(hd, 54, 1, f) == 1 && fwrite(px, n, 1, f) == 1;
  return fclose(f) == 0 && ok ? 0 : -1;
}

/* One simple pass per row: the plainest unpacking of each depth. */
static void expand_row(const unsigned char *s, unsigned char *d, int32_t w, unsigned bpp,
                       const unsigned char *palette) {
  if (bpp == 32) {
    memcpy(d, s, (size_t)w * 4);
  } else if (bpp == 24) {
    for (int32_t x = 0; x < w; x++, s += 3, d += 4) {
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
      d[3] = 0;
    }
  } else {
    for (int32_t x = 0; x < w; x++, d += 4) {
      memcpy(d, palette + 4 * s[x], 4);
    }
  }
}

int main(int argc, char **argv) {
  if (argc != 3) {
    fputs("usage: iofloor input.bmp output.bmp\n", stderr);
    return 1;
  }
  FILE *f = fopen(argv[1], "rb");
  if (!f) {
    fprintf(stderr, "iofloor: cannot open %s\n", argv[1]);
    return 11;
  }
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || st.st_size <= 54) {
    fclose(f);
    return 12;
  }
  size_t size = (size_t)st.st_size;
  unsigned char *blk = malloc(size);
  if (!blk || fread(blk, size, 1, f) != 1) {
    fclose(f);
    return 15;
  }
  fclose(f);

  uint32_t off = rd32(blk + 10);
  int32_t w = (int32_t)rd32(blk + 18), hh = (int32_t)rd32(blk + 22);
  unsigned bpp = rd16(blk + 28);
  int32_t rows = hh < 0 ? -hh : hh;
  int known = bpp == 24 || bpp == 32 || (bpp == 8 && hh > 0 && off == 54 + 1024);
  if (!known || w <= 0 || rows <= 0) {
    fputs("iofloor: wants a 24-bit, 32-bit or bottom-up 256-colour bitmap\n", stderr);
    free(blk);
    return 2;
  }
  size_t stride = ((size_t)w * (bpp / 8) + 3) & ~(size_t)3;
  if (off > size || (size - off) / stride < (size_t)rows) {
    free(blk);
    return 4;
  }
  size_t npx = (size_t)w * (size_t)rows, rowb = (size_t)w * 4;

#ifdef TOUCH
  unsigned char *dst = malloc(npx * 4); /* destination first, as the design */
  unsigned char *img = malloc(npx * 4); /* source working image */
  if (!dst || !img) return 3;
#else
  unsigned char *img = malloc(npx * 4); /* the one output block */
  if (!img) return 3;
#endif

  for (int32_t r = 0; r < rows; r++) {
    const unsigned char *s = blk + off + (size_t)(hh > 0 ? r : rows - 1 - r) * stride;
    expand_row(s, img + (size_t)r * rowb, w, bpp, blk + 54);
  }

#ifdef TOUCH
  /* Stands in for the conversion: one trivial pass source -> destination. */
  {
    const uint32_t *s = (const uint32_t *)(const void *)img;
    uint32_t *d = (uint32_t *)(void *)dst;
    for (size_t i = 0; i < npx; i++) d[i] = s[i] ^ 0x00808080u;
  }
#ifdef PLANES
  {
    static const char *names[3] = {"plane_0.bmp", "plane_1.bmp", "plane_2.bmp"};
    static const int slot[3] = {2, 0, 1};
    /* A row table ahead of the pixels, as the design's plane image has. */
    size_t tab = (size_t)rows * sizeof(void *);
    unsigned char *pl = calloc(1, tab + npx * 4);
    if (pl) {
      uint32_t *pp = (uint32_t *)(void *)(pl + tab);
      for (int k = 0; k < 3; k++) {
        const unsigned char *s = dst + slot[k];
        for (size_t i = 0; i < npx; i++) pp[i] = s[4 * i] * 0x010101u;
        write_bmp32(names[k], (unsigned char *)pp, w, rows);
      }
      free(pl);
    }
  }
#endif
  int rc = write_bmp32(argv[2], dst, w, rows) ? 9 : 0;
  free(img);
  free(dst);
#else
  int rc = write_bmp32(argv[2], img, w, rows) ? 9 : 0;
  free(img);
#endif
  free(blk);
  return rc;
}

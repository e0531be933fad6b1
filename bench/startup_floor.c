/* The start-up yardstick: what a C program with nothing but the C library
 * pays to read a small bitmap whole and write a 32-bit bitmap of the same
 * size the way a conversion run does: into a fresh file beside the output,
 * flushed to the device, then renamed over the output. Its pixels are not
 * converted; on a small image the work is all in starting the process,
 * reading and writing.
 *
 *   startup_floor [--planes] input.bmp output.bmp
 *
 * With --planes it first writes the same image three more times, as the
 * programs that write channel planes do.
 *
 * Understands only what it needs: the width and rows of a bottom-up file.
 */
#define _POSIX_C_SOURCE 200809L
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static uint32_t read_u32le(const unsigned char* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static void store_u32le(uint32_t v, unsigned char* p) {
  for (int i = 0; i < 4; ++i) {
    p[i] = (unsigned char)(v >> (8 * i));
  }
}

static unsigned char* load(const char* path, size_t* size) {
  FILE* file = fopen(path, "rb");
  if (file == NULL) {
    return NULL;
  }
  struct stat facts;
  unsigned char* block = NULL;
  if (fstat(fileno(file), &facts) == 0 && facts.st_size > 54 && facts.st_size < (1 << 24)) {
    *size = (size_t)facts.st_size;
    block = malloc(*size);
    if (block != NULL && fread(block, *size, 1, file) != 1) {
      free(block);
      block = NULL;
    }
  }
  fclose(file);
  return block;
}

/* Writes header and pixels into a fresh file beside path, flushes it to
 * the device and renames it over path. Returns 1 when all of that worked. */
static int write_safely(const char* path, const unsigned char* header, const unsigned char* pixels,
                        size_t bytes) {
  char temporary[4096];
  int written = snprintf(temporary, sizeof temporary, "%s.XXXXXX", path) < (int)sizeof temporary;
  const int descriptor = written ? mkstemp(temporary) : -1;
  FILE* file = descriptor >= 0 ? fdopen(descriptor, "wb") : NULL;
  written = file != NULL && fwrite(header, 54, 1, file) == 1 &&
            fwrite(pixels, bytes, 1, file) == 1 && fflush(file) == 0 && fsync(descriptor) == 0;
  if (file != NULL && fclose(file) != 0) {
    written = 0;
  }
  return written && rename(temporary, path) == 0;
}

int main(int argc, char** argv) {
  const int planes = argc == 4 && strcmp(argv[1], "--planes") == 0;
  if (argc != (planes ? 4 : 3)) {
    fputs("usage: startup_floor [--planes] input.bmp output.bmp\n", stderr);
    return 2;
  }
  const char* input = argv[planes ? 2 : 1];
  const char* output = argv[planes ? 3 : 2];
  size_t size = 0;
  unsigned char* block = load(input, &size);
  if (block == NULL) {
    fprintf(stderr, "startup_floor: cannot read %s\n", input);
    return 1;
  }
  const uint32_t width = read_u32le(block + 18), rows = read_u32le(block + 22);
  if (width == 0 || width > 4096 || rows == 0 || rows > 4096) {
    fputs("startup_floor: wants a small bottom-up bitmap\n", stderr);
    return 1;
  }
  const size_t bytes = (size_t)width * rows * 4;
  unsigned char* pixels = calloc(1, bytes);
  if (pixels == NULL) {
    return 1;
  }
  unsigned char header[54] = {'B', 'M'};
  store_u32le((uint32_t)(bytes + 54), header + 2);
  store_u32le(54, header + 10);
  store_u32le(40, header + 14);
  store_u32le(width, header + 18);
  store_u32le(rows, header + 22);
  header[26] = 1;
  header[28] = 32;
  store_u32le((uint32_t)bytes, header + 34);
  int written = 1;
  if (planes) {
    const char* names[3] = {"floor_plane_1.bmp", "floor_plane_2.bmp", "floor_plane_3.bmp"};
    for (int i = 0; i < 3; ++i) {
      written &= write_safely(names[i], header, pixels, bytes);
    }
  }
  written &= write_safely(output, header, pixels, bytes);
  free(pixels);
  free(block);
  return written ? 0 : 1;
}

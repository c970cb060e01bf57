/* What the drawing examples share: an RGB image in memory that a callback device of the renderer
   draws into (row 0 at the top, three bytes a pixel), and a small PNG writer (stored deflate
   blocks, no compression library needed). Included by one source file of each example. */
#ifndef TAVIRON_EXAMPLES_EXAMPLE_IMAGE_H
#define TAVIRON_EXAMPLES_EXAMPLE_IMAGE_H

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "eevg.h"

typedef struct {
  int width, height;
  unsigned char *rgb;
} ExampleImage;

/* A white image; 0 when out of memory. */
static int ExampleImageCreate(ExampleImage *image, int width, int height) {
  image->width = width;
  image->height = height;
  image->rgb = malloc((size_t)width * (size_t)height * 3);
  if (!image->rgb) return 0;
  memset(image->rgb, 255, (size_t)width * (size_t)height * 3);
  return 1;
}

static void ExampleImageFree(ExampleImage *image) {
  free(image->rgb);
  image->rgb = NULL;
}

static unsigned char *ExamplePixelAt(ExampleImage *image, const double *position) {
  int column = (int)position[0], row = (int)position[1];
  if (column < 0 || column >= image->width || row < 0 || row >= image->height) return NULL;
  return image->rgb + 3 * ((size_t)row * (size_t)image->width + (size_t)column);
}

/* The device's callbacks (userData: the image). */
static void ExampleGetPixel(void *user, Eevg_Color *color, const double *position, Eerr_ErrorReport **err) {
  unsigned char *p = ExamplePixelAt((ExampleImage *)user, position);
  (void)err;
  if (!p) return;
  color->red = p[0];
  color->green = p[1];
  color->blue = p[2];
  color->opacity = 255;
}

static void ExamplePutPixel(void *user, const Eevg_Color *color, const double *position, Eerr_ErrorReport **err) {
  unsigned char *p = ExamplePixelAt((ExampleImage *)user, position);
  (void)err;
  if (!p) return;
  p[0] = (unsigned char)color->red;
  p[1] = (unsigned char)color->green;
  p[2] = (unsigned char)color->blue;
}

/* ---- the PNG writer ---- */

static unsigned long ExampleCrc(unsigned long crc, const unsigned char *bytes, size_t count) {
  static unsigned long table[256];
  static int made = 0;
  size_t i;
  if (!made) {
    unsigned long c;
    int n, k;
    for (n = 0; n < 256; ++n) {
      c = (unsigned long)n;
      for (k = 0; k < 8; ++k) c = (c & 1) ? 0xedb88320UL ^ (c >> 1) : c >> 1;
      table[n] = c;
    }
    made = 1;
  }
  for (i = 0; i < count; ++i) crc = table[(crc ^ bytes[i]) & 0xff] ^ (crc >> 8);
  return crc;
}

static void ExamplePut32(unsigned char *out, unsigned long value) {
  out[0] = (unsigned char)(value >> 24);
  out[1] = (unsigned char)(value >> 16);
  out[2] = (unsigned char)(value >> 8);
  out[3] = (unsigned char)value;
}

static int ExampleWriteChunk(FILE *file, const char *type, const unsigned char *data, size_t count) {
  unsigned char head[8], tail[4];
  unsigned long crc;
  ExamplePut32(head, (unsigned long)count);
  memcpy(head + 4, type, 4);
  crc = ExampleCrc(0xffffffffUL, head + 4, 4);
  if (count > 0) crc = ExampleCrc(crc, data, count);
  crc ^= 0xffffffffUL;
  ExamplePut32(tail, crc);
  return fwrite(head, 1, 8, file) == 8 && (count == 0 || fwrite(data, 1, count, file) == count) &&
         fwrite(tail, 1, 4, file) == 4;
}

/* Writes the image as an 8-bit RGB PNG file; 0 when it cannot. */
static int ExampleWritePng(const char *name, const ExampleImage *image) {
  static const unsigned char signature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
  const size_t width = (size_t)image->width, height = (size_t)image->height;
  const size_t rowBytes = 1 + 3 * width, raw = rowBytes * height;
  const size_t blocks = (raw + 65534) / 65535;
  unsigned char header[13];
  unsigned char *scan = malloc(raw), *z = malloc(2 + raw + 5 * blocks + 4);
  unsigned long a = 1, b = 0;
  size_t i, at = 0, done = 0;
  int ok;
  FILE *file;
  if (!scan || !z) {
    free(scan);
    free(z);
    return 0;
  }
  for (i = 0; i < height; ++i) {
    scan[i * rowBytes] = 0; /* no filter */
    memcpy(scan + i * rowBytes + 1, image->rgb + i * 3 * width, 3 * width);
  }
  z[at++] = 0x78;
  z[at++] = 0x01;
  while (done < raw) {
    size_t n = raw - done > 65535 ? 65535 : raw - done;
    z[at++] = done + n == raw ? 1 : 0;
    z[at++] = (unsigned char)n;
    z[at++] = (unsigned char)(n >> 8);
    z[at++] = (unsigned char)~n;
    z[at++] = (unsigned char)(~n >> 8);
    memcpy(z + at, scan + done, n);
    at += n;
    done += n;
  }
  for (i = 0; i < raw; ++i) {
    a = (a + scan[i]) % 65521;
    b = (b + a) % 65521;
  }
  ExamplePut32(z + at, (b << 16) | a);
  at += 4;

  ExamplePut32(header, (unsigned long)width);
  ExamplePut32(header + 4, (unsigned long)height);
  header[8] = 8;  /* bits per sample */
  header[9] = 2;  /* RGB */
  header[10] = 0; /* deflate */
  header[11] = 0; /* adaptive filters */
  header[12] = 0; /* no interlace */
  file = fopen(name, "wb");
  ok = file && fwrite(signature, 1, 8, file) == 8 && ExampleWriteChunk(file, "IHDR", header, 13) &&
       ExampleWriteChunk(file, "IDAT", z, at) && ExampleWriteChunk(file, "IEND", NULL, 0);
  if (file && fclose(file) != 0) ok = 0;
  free(scan);
  free(z);
  return ok;
}

#endif

/* Typed matrices (Egda_BaseData): scalars, tables, matrices and rasters of one pixel type, their
   stacks, argument lists, windows and the stack-function machinery. */
#ifndef TAVIRON_EGDA_H
#define TAVIRON_EGDA_H

#include <stdint.h>

#include "eerr.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
  EGDA_TYPE_U1 = 0,
  EGDA_TYPE_U2 = 1,
  EGDA_TYPE_U4 = 2,
  EGDA_TYPE_U8 = 3,
  EGDA_TYPE_S8 = 4,
  EGDA_TYPE_U16 = 5,
  EGDA_TYPE_S16 = 6,
  EGDA_TYPE_U32 = 7,
  EGDA_TYPE_S32 = 8,
  EGDA_TYPE_F32 = 9,
  EGDA_TYPE_F64 = 10,
  EGDA_TYPE_C64 = 11,
  EGDA_TYPE_C128 = 12,
  EGDA_TYPE_STRING = 13
} Egda_PixelType;
#define EGDA_PIXEL_TYPE_COUNT 14

typedef enum {
  EGDA_SCALAR = 0, /* stored row by row */
  EGDA_TABLE = 1,  /* one column; stored column by column */
  EGDA_MATRIX = 2, /* stored column by column: a 2 x N coordinate matrix lies x0, y0, x1, y1, ... */
  EGDA_RASTER = 3  /* stored row by row */
} Egda_ObjectType;

typedef struct Edsc_BinFunction Edsc_BinFunction;

typedef struct {
  int32_t rows;
  int32_t columns;
  int32_t pixelType;   /* Egda_PixelType */
  int32_t objectType;  /* Egda_ObjectType */
  uint8_t *data;       /* first byte of the buffer */
  uint8_t *origin;     /* element (0, 0); inside the buffer when a border surrounds the region */
  int32_t pitch;       /* bytes from row to row (scalar, raster) or column to column (table, matrix) */
  int32_t ownsData;    /* non-zero when the buffer is freed with the matrix */
  int32_t count;       /* rows x columns */
  int32_t elementSize; /* bytes per element */
  Edsc_BinFunction *binFunction;
} Egda_BaseData;

/* Bytes of one element of a pixel type (u1, u2, u4 take a byte each); 0 for an unknown type. */
int32_t egda_PixelTypeSize(int32_t pixelType);

/* A new matrix of rows x columns elements; with data null it owns a zero-filled buffer, else it
   borrows the given buffer (laid out as the object type says) and never frees it. */
Egda_BaseData *egda_BaseDataCreate(int32_t rows, int32_t columns, int32_t pixelType,
                                   int32_t objectType, void *data, Eerr_ErrorReport **err);
/* Frees the matrix and its buffer unless the buffer is borrowed; null is accepted. */
void egda_BaseDataDelete(Egda_BaseData *matrix, Eerr_ErrorReport **err);
/* Copies shape, types and values into destination (new when null, reshaped when it differs) and
   returns it. Strings of a string matrix are duplicated. */
Egda_BaseData *egda_BaseDataCopy(const Egda_BaseData *source, Egda_BaseData *destination,
                                 Eerr_ErrorReport **err);

#ifdef __cplusplus
}
#endif

#endif

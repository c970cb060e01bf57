/* Typed matrices (Egda_BaseData): scalars, tables, matrices and rasters of one pixel type, their
   stacks, argument lists, windows and the stack-function machinery. */
#ifndef TAVIRON_EGDA_H
#define TAVIRON_EGDA_H

#include <stdint.h>

#include "eerr.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

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

/* Grows or shrinks the matrix to rows x columns in place. Element (r, c) of the old buffer
   (counted from data) keeps its value where it exists in both shapes; new elements are zero (null
   for strings); strings that fall out are freed. The matrix then owns a compact buffer without a
   border (origin = data); a borrowed buffer is left as it was. Returns the matrix, null on failure
   (the matrix is then unchanged). */
Egda_BaseData *egda_BaseDataReallocate(Egda_BaseData *matrix, int32_t rows, int32_t columns,
                                       Eerr_ErrorReport **err);
/* A view of rows x columns elements of the parent, its element (0, 0) at the parent's element
   (firstRow, firstColumn) counted from the parent's origin (negative values reach into a
   border). The view shares the parent's memory (ownsData 0, data = origin = that element, the
   parent's pitch and bin function): deleting the view leaves the parent alone, and the view must
   be deleted before the parent. The region must lie inside the parent's buffer. */
Egda_BaseData *egda_BaseDataDerived(const Egda_BaseData *parent, int32_t firstRow,
                                    int32_t firstColumn, int32_t rows, int32_t columns,
                                    Eerr_ErrorReport **err);
/* Sets every element (rows x columns from data) to value; imaginary is the imaginary part for the
   complex types and ignored otherwise; reserved must be 0. Integer types take the value rounded to
   the nearest integer (halves away from zero) and clamped to their range (u1, u2, u4: 0 to 1, 3,
   15), NaN giving 0; f32 clamps to +-infinity. String matrices are refused. Returns the matrix, null on failure. */
Egda_BaseData *egda_BaseDataSetScalar(Egda_BaseData *matrix, double value, double imaginary,
                                      int32_t reserved, Eerr_ErrorReport **err);

/* Operation codes of egda_BaseDataOperation. */
#define EGDA_OPERATION_ADD 0
#define EGDA_OPERATION_SUBTRACT 1
#define EGDA_OPERATION_MULTIPLY 2
#define EGDA_OPERATION_DIVIDE 3
/* Scalar positions of egda_BaseDataOperation. */
#define EGDA_SCALAR_FIRST 1  /* scalar op element */
#define EGDA_SCALAR_SECOND 2 /* element op scalar */
/* Combines every element (rows x columns from data) with the scalar in place: operation is one of
   the codes above, scalarPosition says whether the scalar is the first or the second operand
   (2: element / scalar). Results are computed in double (complex double for the complex types)
   and stored as egda_BaseDataSetScalar stores a value. A division by zero is refused before any
   element changes. String matrices are refused. Returns the matrix, null on failure. */
Egda_BaseData *egda_BaseDataOperation(int32_t operation, Egda_BaseData *matrix, double scalar,
                                      int32_t scalarPosition, Eerr_ErrorReport **err);
/* Prints the matrix through the layer's standard output: a header line
   "Egda_BaseData: <rows> x <columns> <pixel type name> <object type name>" and then one line per
   row, the elements separated by a blank (rows x columns from data; complex values as
   "(re,im)", strings in double quotes, a null string as (null)). */
void egda_BaseDataPrint(const Egda_BaseData *matrix, Eerr_ErrorReport **err);
/* The inverse of a square matrix of a real pixel type, as an f64 matrix. With destination null a
   new matrix (object type 2) is made; otherwise the destination must be an n x n f64 matrix (it may
   be the source itself) and is overwritten. A singular (or numerically singular) matrix or one
   holding NaN or infinity is reported and nothing is written. */
Egda_BaseData *egda_MatrixInvert(const Egda_BaseData *matrix, Egda_BaseData *destination,
                                 Eerr_ErrorReport **err);

/* A list of layers of one pixel type. ownsLayers (a word callers do not read) says whether
   egda_BaseDataStackDelete frees the layers: 1 for stacks made by egda_BaseDataStackCreate,
   egda_BaseDataStackCopy and egda_BaseDataStackArrayCreate, 0 for pointer stacks. A layer slot
   may be set to null (a borrowed layer detached before the delete). */
typedef struct {
  int32_t count;
  int32_t ownsLayers;
  Egda_BaseData **layers;
} Egda_BaseDataStack;

/* A stack of count new zero-filled matrices of one shape and type. */
Egda_BaseDataStack *egda_BaseDataStackCreate(int32_t count, int32_t rows, int32_t columns,
                                             int32_t pixelType, int32_t objectType,
                                             Eerr_ErrorReport **err);
/* Frees the stack, and its layers when it owns them; null is accepted. */
void egda_BaseDataStackDelete(Egda_BaseDataStack *stack, Eerr_ErrorReport **err);
/* Copies every layer. With destination null the copy is a new stack owning new layers; otherwise
   the destination must have as many layers, each layer is copied into the destination's layer
   (egda_BaseDataCopy), and a null destination layer receives a new copy only when the destination
   owns its layers. Returns the destination, null on failure. */
Egda_BaseDataStack *egda_BaseDataStackCopy(const Egda_BaseDataStack *source,
                                           Egda_BaseDataStack *destination,
                                           Eerr_ErrorReport **err);
/* A pointer stack: count null layer slots that the caller points at matrices it keeps owning.
   egda_BaseDataStackDelete frees only the stack record, never the matrices. */
Egda_BaseDataStack *egda_BaseDataStackPtrCreate(int32_t count, Eerr_ErrorReport **err);

/* An array of stacks. The layout matches Egda_ArgumentList, so an array serves as a list of input
   buffers; mask is null when made and is never freed by egda_BaseDataStackArrayDelete (whoever sets
   it deletes it). */
typedef struct {
  int32_t count;
  Egda_BaseDataStack **stacks;
  Egda_BaseData *mask;
} Egda_BaseDataStackArray;

/* stackCount stacks of layerCount new matrices each. */
Egda_BaseDataStackArray *egda_BaseDataStackArrayCreate(int32_t stackCount, int32_t layerCount,
                                                       int32_t rows, int32_t columns,
                                                       int32_t pixelType, int32_t objectType,
                                                       Eerr_ErrorReport **err);
/* Deletes every stack and the array (not the mask); null is accepted. */
void egda_BaseDataStackArrayDelete(Egda_BaseDataStackArray *array, Eerr_ErrorReport **err);

/* The arguments (or options) of an operator slot. The stacks and the mask are borrowed. In an
   option list a stack pointer of all ones (EGDA_OPTION_NOT_GIVEN) marks an option not given. */
typedef struct {
  int32_t count;
  Egda_BaseDataStack **stacks;
  Egda_BaseData *mask; /* one-byte elements, or null; not read in an option list */
} Egda_ArgumentList;
#define EGDA_OPTION_NOT_GIVEN ((Egda_BaseDataStack *)(intptr_t)-1)

/* A list over the stacks given after err, up to a terminating null (err comes first because the
   list is variadic); the mask is null. */
Egda_ArgumentList *egda_ArgumentListCreate(Eerr_ErrorReport **err, ...);
/* Frees the list record only (not its stacks or mask); null is accepted. */
void egda_ArgumentListDelete(Egda_ArgumentList *list, Eerr_ErrorReport **err);

/* A window: as a neighbourhood window, width x height cells with (x, y) the column and row of its
   first cell relative to the centre cell (3 x 3 centred: -1, -1); as an image window, the size
   and the left column and top row. */
typedef struct {
  int32_t width;
  int32_t height;
  int32_t x;
  int32_t y;
} Egda_Window;

/* Negative sizes are refused. */
Egda_Window *egda_WindowCreate(int32_t width, int32_t height, int32_t x, int32_t y,
                               Eerr_ErrorReport **err);
/* Copies into destination (new when null) and returns it. */
Egda_Window *egda_WindowCopy(const Egda_Window *source, Egda_Window *destination,
                             Eerr_ErrorReport **err);
/* Frees the window; null is accepted. */
void egda_WindowDelete(Egda_Window *window, Eerr_ErrorReport **err);

/* Operator objects (stack functions). A slot holds the function for one pixel type and two words
   that are 0. The function is stored as Egda_SlotFunction and called with the signature of the
   object's form:
   - string form: 14 slots (pixel types 0 to 13), applied by egda_BaseDataStackFunction, slot
     function (output stack, argument list, err);
   - neighbourhood form: 13 slots (pixel types 0 to 12), applied by
     egda_BaseDataStackNeighbourhoodFunction, slot function (output stack, argument list, window,
     option list, err).
   An object is reached through a reference word that holds the address of its slot table (a
   string-form object has four such words, all equal); Egda_StackFunction is that word, and the
   getters return its address. */
typedef void (*Egda_SlotFunction)(void);
typedef void (*Egda_StringSlotFunction)(Egda_BaseDataStack *output, Egda_ArgumentList *arguments,
                                        Eerr_ErrorReport **err);
typedef void (*Egda_NeighbourhoodSlotFunction)(Egda_BaseDataStack *output,
                                               Egda_ArgumentList *arguments,
                                               Egda_Window *window, Egda_ArgumentList *options,
                                               Eerr_ErrorReport **err);
typedef struct {
  Egda_SlotFunction function;
  intptr_t reserved[2];
} Egda_StackFunctionSlot;
typedef struct {
  const Egda_StackFunctionSlot *slots;
} Egda_StackFunction;
#define EGDA_STRING_SLOT_COUNT 14
#define EGDA_NEIGHBOURHOOD_SLOT_COUNT 13

/* Applies a string-form object. The slot is chosen by the pixel type of the data: 13 when the
   first layer of the first argument stack holds strings, else the pixel type of the output
   layers. The output stack needs at least one layer, all non-null and of one pixel type; every
   argument stack needs at least one layer, all non-null, and either exactly one layer or at least
   as many as the output. A null slot function is refused. A failing slot's report is chained. */
void egda_BaseDataStackFunction(const Egda_StackFunction *object, Egda_BaseDataStack *output,
                                Egda_ArgumentList *arguments, Eerr_ErrorReport **err);
/* Applies a neighbourhood-form object: slot = the pixel type (0 to 12) of the output layers. The
   input is the first argument stack, of the output's pixel type, with no more layers than the
   output; output and input layers are rasters (or scalars), the output layers all of one size
   R x C without a border. Each input layer (and the arguments' mask) is handed to the slot with a
   border of (height - 1) rows and (width - 1) columns placed as the window says (-y rows above,
   -x columns to the left) and origin at its element (0, 0):
   - a layer of R x C is copied into a new bordered buffer whose border repeats the nearest edge
     element (for the mask too, so an all-ones mask stays all ones);
   - a layer of (R + height - 1) x (C + width - 1) whose origin lies at that place already carries
     its border and is handed on as it stands.
   The window needs width, height >= 1 and the centre inside it (-(width - 1) <= x <= 0, likewise
   y). The option list is handed on unchanged (it may be null). A failing slot's report is
   chained. */
void egda_BaseDataStackNeighbourhoodFunction(const Egda_StackFunction *object,
                                             Egda_BaseDataStack *output,
                                             Egda_ArgumentList *arguments,
                                             const Egda_Window *window,
                                             Egda_ArgumentList *options, Eerr_ErrorReport **err);
/* Filler of the empty slots of string-form objects: leaves the output untouched and succeeds. */
void egda_NoOperation(Egda_BaseDataStack *output, Egda_ArgumentList *arguments,
                      Eerr_ErrorReport **err);

/* Ordering functions, indexed by pixel type 0 to 13: fill index[0 .. count-1] with the positions
   of the count values in ascending order of value; equal values keep their order (stable). NaN
   sorts after every number; complex values order by real part, then imaginary part; strings by
   their bytes, null first. */
typedef void (*Egda_OrderFunction)(int32_t *index, int32_t count, const void *values);
const Egda_OrderFunction *emsc_AddressOf_egda_GpfOrder(void);
/* The look-up-table operator (string form). Arguments: stack 0 the tables, stack 1 the input
   (of the output's pixel type, at least the output's size); output layer i (and its input layer)
   takes table layer i, or layer 0 when the table stack has one layer; likewise the input. Each
   output element becomes the table entry at the input value (truncated toward zero; below 0 uses
   entry 0, past the end the last entry; the table's elements count in storage order), converted
   as egda_BaseDataSetScalar converts. Tables are of a real pixel type. Where the arguments carry a
   mask, only elements at non-zero mask bytes are written. Slots 11 to 13 (complex, string) hold
   egda_NoOperation. The output may be the input stack itself. */
const Egda_StackFunction *emsc_AddressOf_egda_SaoLUTtransformation(void);

TAVIRON_END_DECLS

#endif

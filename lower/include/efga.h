/* Coordinate blocks, polynomials and the dense-matrix algebra on f64 matrices. */
#ifndef TAVIRON_EFGA_H
#define TAVIRON_EFGA_H

#include <stdint.h>

#include "eerr.h"
#include "egda.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* ---------------------------------------------------------------------------------------------
   Coordinate blocks

   A block holds the parts of a multi-part line or the rings of a region (the outer ring first);
   each part is a 2 x n f64 matrix (row 0 x, row 1 y, one column per point). The block owns its
   parts: efga_CoordBlockDelete deletes every non-null part.

   ownsHeaderArray: when 1, the parts are not separate matrices but point into one heap array of
   matrix headers (part i at position i) that an object reader made; deleting the block then
   frees each header's owned buffer and that array once (instead of deleting the parts one by
   one). */
typedef struct {
  int32_t kind;            /* 1 made with efga_BaseCoordBlockCreate, 2 built from part pointers */
  int32_t ownsHeaderArray; /* see above; 0 for blocks of separate matrices */
  int32_t count;           /* number of parts */
  Egda_BaseData **parts;   /* count part pointers (a slot may be null) */
} Efga_CoordinateBlock;

/* A block of `parts` zero-filled parts of rows x columns (rows is 2 for coordinates) of the pixel
   type (10 for coordinates). */
Efga_CoordinateBlock *efga_BaseCoordBlockCreate(int32_t rows, int32_t columns, int32_t parts,
                                                int32_t pixelType, Eerr_ErrorReport **err);
/* A block of count null part pointers for the caller to fill (kind 2). */
Efga_CoordinateBlock *efga_CoordBlockPtrCreate(int32_t count, Eerr_ErrorReport **err);
/* Copies source into destination (its parts reshaped to the source's, parts added or removed to
   match the count) or, with a null destination, into a new block; returns it. A destination
   built over a reader's header array (ownsHeaderArray 1) must already have the source's part
   count. */
Efga_CoordinateBlock *efga_CoordBlockCopy(const Efga_CoordinateBlock *source,
                                          Efga_CoordinateBlock *destination,
                                          Eerr_ErrorReport **err);
/* Frees the parts and the block (see ownsHeaderArray); null is accepted. */
void efga_CoordBlockDelete(Efga_CoordinateBlock *block, Eerr_ErrorReport **err);

/* Clips the segment (*x0, *y0)-(*x1, *y1) to the window, a 2 x 2 f64 matrix of two corners (in
   either order; the boundary belongs to the window). Returns 1 and moves the end points onto
   the visible piece when some of the segment lies in the window, 0 (points unchanged) when none
   does, -1 with a report for invalid arguments. */
int32_t efga_ClipLine(double *x0, double *y0, double *x1, double *y1, const Egda_BaseData *window,
                      Eerr_ErrorReport **err);
/* Clips a polyline (2 x n f64 matrix) to the rectangle (2 x 2 f64 matrix: lower-left and
   upper-right corner, either order). Returns a new block with one part per stretch that lies in
   the rectangle, or null when nothing is left (then *err stays null) or on failure (report). */
Efga_CoordinateBlock *efga_ClipPolylineToRectangle(const Egda_BaseData *polyline,
                                                   const Egda_BaseData *rectangle,
                                                   Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Polynomials

   A polynomial maps `inputs` variables to `outputs` values:
     out[i] = constants[i] + sum over terms t of coefficients[i][t] * term t (in).
   The terms are the monomials of degree 1 to order, graded: all of degree 1, then degree 2, ...;
   within one degree the exponent of the first input falls, then that of the second, and so on.
   In two dimensions (x, y): x, y, x^2, xy, y^2, x^3, x^2y, xy^2, y^3, ...
   For a first-order 2-D polynomial the coefficient matrix is the linear part L (L[i][j] the
   coefficient of input j in output i): x' = L00 x + L01 y + c0, y' = L10 x + L11 y + c1.
   The number of inputs follows from the order and the number of terms (columns of the
   coefficient matrix). */
typedef struct {
  int32_t order;
  Egda_BaseData *coefficients; /* outputs x terms, f64 matrix */
  Egda_BaseData *constants;    /* outputs x 1, f64 matrix */
} Efga_Polynomial;

/* A zero polynomial of the order, with `outputs` outputs, over `inputs` variables (for a
   first-order polynomial this is also its number of terms), of pixel type 10 (f64, the only
   type). (1, 2, 2, 10) is the first-order 2-D polynomial; (5, 1, 1, 10) one variable, order 5. */
Efga_Polynomial *efga_BasePolynomialCreate(int32_t order, int32_t outputs, int32_t inputs,
                                           int32_t pixelType, Eerr_ErrorReport **err);
/* Number of inputs of the polynomial (-1 when its shape is not valid). */
int32_t efga_PolynomialInputCount(const Efga_Polynomial *poly);
/* Number of terms of a polynomial of that order over that many inputs (-1 when too large). */
int32_t efga_PolynomialTermCount(int32_t order, int32_t inputs);

/* First-order 2-D polynomials, written into `existing` (reshaped when needed) or a new one. */
Efga_Polynomial *efga_PolyCreate2DIdentity(Efga_Polynomial *existing, Eerr_ErrorReport **err);
Efga_Polynomial *efga_PolyCreate2DTranslate(Efga_Polynomial *existing, double dx, double dy,
                                            Eerr_ErrorReport **err);
/* Rotation about the origin by angle radians, counter-clockwise. */
Efga_Polynomial *efga_PolyCreate2DRotate(Efga_Polynomial *existing, double angle,
                                         Eerr_ErrorReport **err);
Efga_Polynomial *efga_PolyCreate2DScale(Efga_Polynomial *existing, double sx, double sy,
                                        Eerr_ErrorReport **err);
/* (u, v) -> (cx, cy) + R(angle) (sx u, sy v): linear columns sx (cos, sin) and sy (-sin, cos). */
Efga_Polynomial *efga_PolyCreate2DAffine(double cx, double cy, double angle, double sx, double sy,
                                         Eerr_ErrorReport **err);

/* A new polynomial applying b first, then a (a's inputs = b's outputs; order = product). */
Efga_Polynomial *efga_PolynomialComposition(const Efga_Polynomial *a, const Efga_Polynomial *b,
                                            Eerr_ErrorReport **err);
/* The inverse of a first-order polynomial with as many outputs as inputs, written into
   destination (reused) or a new one. Higher orders and singular linear parts are reported. */
Efga_Polynomial *efga_PolynomialInvert(const Efga_Polynomial *poly, Efga_Polynomial *destination,
                                       Eerr_ErrorReport **err);
/* Copy into destination (reshaped as needed) or a new polynomial. */
Efga_Polynomial *efga_PolynomialCopy(const Efga_Polynomial *source, Efga_Polynomial *destination,
                                     Eerr_ErrorReport **err);
/* Frees the polynomial; null is accepted. */
void efga_PolynomialDelete(Efga_Polynomial *poly, Eerr_ErrorReport **err);

/* Applies the polynomial to every column of input (inputs x n f64) into output (outputs x n f64;
   it may be the input itself; null makes a new one); returns the output. `reserved` is 0. */
Egda_BaseData *efga_PolyTransCoords(const Egda_BaseData *input, Egda_BaseData *output,
                                    const Efga_Polynomial *poly, int32_t reserved,
                                    Eerr_ErrorReport **err);
/* Applies a 2-D polynomial in place to every part of the block; returns the block. */
Efga_CoordinateBlock *efga_PolyTransCoordinateBlock(Efga_CoordinateBlock *block,
                                                    const Efga_Polynomial *poly,
                                                    Eerr_ErrorReport **err);

/* Least-squares fit: sets the coefficients and constants of poly (its order and shape chosen by
   the caller, e.g. efga_BasePolynomialCreate(5, 1, 1, 10)) so that poly(input column k) comes
   as close as possible to output column k. input is inputs x n, output outputs x n (f64). Fewer
   independent points than unknowns are reported. Returns poly. */
Efga_Polynomial *efga_DerivePolyCoefs(const Egda_BaseData *input, const Egda_BaseData *output,
                                      Efga_Polynomial *poly, Eerr_ErrorReport **err);

/* The private (stored) form: one heap block, freed with emsc_HeapFree, whose `data` points at
   `size` bytes just after the header:
     int32 order, int32 outputs, int32 inputs, int32 terms      (little-endian)
     f64 coefficients, output by output, terms in the order above (little-endian IEEE)
     f64 constants, one per output
   FromPrivate accepts any {size, data} and reports a truncated, oversized or inconsistent form. */
typedef struct {
  int32_t size;
  uint8_t *data;
} Efga_PolynomialPrivate;
Efga_PolynomialPrivate *efga_PolynomialCopyToPrivate(const Efga_Polynomial *poly,
                                                     Eerr_ErrorReport **err);
Efga_Polynomial *efga_PolynomialCopyFromPrivate(const Efga_PolynomialPrivate *form,
                                                Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Dense matrices: f64 Egda_BaseData of any object type. A result argument may be null (a new
   matrix is returned), a matrix of the right shape (filled), or a matrix of another shape
   (reshaped as egda_BaseDataCopy does); it may be one of the operands. */
Egda_BaseData *efga_MatrixMultiply(const Egda_BaseData *a, const Egda_BaseData *b,
                                   Egda_BaseData *result, Eerr_ErrorReport **err);
Egda_BaseData *efga_MatrixAdd(const Egda_BaseData *a, const Egda_BaseData *b,
                              Egda_BaseData *result, Eerr_ErrorReport **err);
Egda_BaseData *efga_MatrixSubtract(const Egda_BaseData *a, const Egda_BaseData *b,
                                   Egda_BaseData *result, Eerr_ErrorReport **err);
Egda_BaseData *efga_MatrixMultiplyScalar(const Egda_BaseData *a, double s, Egda_BaseData *result,
                                         Eerr_ErrorReport **err);
Egda_BaseData *efga_MatrixTranspose(const Egda_BaseData *a, Egda_BaseData *result,
                                    Eerr_ErrorReport **err);
/* Sum of the diagonal of a square f64 matrix; NaN for null or a matrix that is not one. */
double efga_MatrixTrace(const Egda_BaseData *a);
/* Adds the column vector (rows x 1) to every column of matrix. */
Egda_BaseData *efga_MatrixShift(const Egda_BaseData *matrix, const Egda_BaseData *vector,
                                Egda_BaseData *result, Eerr_ErrorReport **err);
/* The inverse of a matrix is egda_MatrixInvert. */
/* Singular value decomposition a = U diag(w) V^T of an m x n matrix: a is overwritten with U
   (m x n; with m < n the columns past m are zero), w receives the n singular values (n x 1,
   largest first, zeros past min(m, n)), v the n x n matrix V. Returns 0, or -1 with a report. */
int32_t efga_MatrixSVDF64(Egda_BaseData *a, Egda_BaseData *w, Egda_BaseData *v,
                          Eerr_ErrorReport **err);
/* Eigenvalues (B x 1, largest first) and eigenvectors (B x B, column k for eigenvalue k, unit
   length, signed so that its component of largest magnitude, the first on a tie, is positive)
   of a symmetric B x B matrix. The optional out-values receive the number of
   eigenvalues above B * eps * largest |eigenvalue| (the numerical rank) and the sum of the
   eigenvalues. A matrix that is not symmetric is reported. Returns 0, or -1 with a report. */
int32_t efga_MatrixEigensystem(const Egda_BaseData *matrix, Egda_BaseData *eigenvalues,
                               Egda_BaseData *eigenvectors, int32_t *rank, double *sum,
                               Eerr_ErrorReport **err);
/* Upper triangular U with matrix = U^T U (zeros below the diagonal) of a symmetric positive
   definite matrix; other matrices are reported. Returns the result. */
Egda_BaseData *efga_MatrixCholeskyDecomposition(const Egda_BaseData *matrix,
                                                Egda_BaseData *result, Eerr_ErrorReport **err);
/* Solves a x = b for x (a n x n, b n x m); a singular a is reported. Returns x. */
Egda_BaseData *efga_SolveLinearEqs(const Egda_BaseData *a, const Egda_BaseData *b,
                                   Egda_BaseData *x, Eerr_ErrorReport **err);

TAVIRON_END_DECLS

/* ---------------------------------------------------------------------------------------------
   The stored design of polynomials */

#include "emif.h"

TAVIRON_BEGIN_DECLS

/* Defines the design "Efga_Polynomial" in the dictionary (null: a free-standing design) and
   returns it; a dictionary that holds it already returns its design. The design has one item,
   "data", a counted array of bytes (type 516) holding the private form: its stored form is
   Efga_PolynomialPrivate, so a record item that points to a polynomial (1026 "Efga_Polynomial")
   points at an Efga_PolynomialPrivate (write efga_PolynomialCopyToPrivate, read back with
   efga_PolynomialCopyFromPrivate). A private form made by efga_PolynomialCopyToPrivate is one
   block (free it with emsc_HeapFree); one that the record codec decoded holds its bytes in a
   block of their own (free it with emif_ObjectFree and this design). Null with a report on
   failure. */
Emif_Design *efga_PolynomialDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);

TAVIRON_END_DECLS

#endif

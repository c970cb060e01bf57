/* Image rectangles and the names of the resampling methods. */
#ifndef TAVIRON_EIRF_H
#define TAVIRON_EIRF_H

#include <stdint.h>

#include "eerr.h"
#include "estr.h"
#include "exfr.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* A rectangle of four doubles stored left, top, right, bottom (x1, y1, x2, y2). Pixel rectangles
   hold the upper-left and lower-right pixel. */
typedef struct {
  double left;   /* x1 */
  double top;    /* y1 */
  double right;  /* x2 */
  double bottom; /* y2 */
} Eirf_Rectangle;

/* A new rectangle; note the argument order left, right, top, bottom. */
Eirf_Rectangle *eirf_RectangleCreate(double left, double right, double top, double bottom,
                                     Eerr_ErrorReport **err);
/* Copies the rectangle into destination (or a new rectangle) and returns it. */
Eirf_Rectangle *eirf_RectangleCopy(const Eirf_Rectangle *rectangle, Eirf_Rectangle *destination,
                                   Eerr_ErrorReport **err);
/* Free the rectangle; null is accepted. The two names do the same. */
void eirf_RectangleDelete(Eirf_Rectangle *rectangle, Eerr_ErrorReport **err);
void eirf_RectangleDestroy(Eirf_Rectangle *rectangle, Eerr_ErrorReport **err);

/* Names of the resampling methods. */
#define EIRF_NEAREST_NEIGHBOR "Nearest Neighbor"
#define EIRF_BILINEAR_INTERPOLATION "Bilinear Interpolation"
#define EIRF_CUBIC_CONVOLUTION "Cubic Convolution"

/* The resampling methods usable to read data of the pixel type (-1: not known) through the
   transform (null: the identity), preferred first. Stores a new list of names in *names and, when
   descriptions is not null, a new list of one-line descriptions (same order) in *descriptions;
   the caller frees both with estr_StringListDelete. Returns the number of methods.
     - "Nearest Neighbor" is always offered first: it keeps the data values as they are.
     - "Bilinear Interpolation" and "Cubic Convolution" follow, except for the packed class types
       u1, u2 and u4 (interpolating class numbers makes classes that do not exist) and when the
       transform only shifts by whole pixels (every method reads the same values).
     - Strings (type 13) cannot be resampled: the lists are empty and 0 is returned.
   An invalid pixel type or a null names address is reported (-1). Arguments after err are
   accepted and ignored. */
int32_t eirf_ResampleMethodsGet(const _exfr_XForm *xform, int32_t pixelType, Estr_StringList **names,
                                Estr_StringList **descriptions, Eerr_ErrorReport **err, ...);

TAVIRON_END_DECLS

#endif

/* Unit conversion by name: lengths, angles and the "other" units, and decimal degrees split into
   degrees, minutes and seconds. */
#ifndef TAVIRON_ECVT_H
#define TAVIRON_ECVT_H

#include <stdint.h>

#include "eerr.h"
#include "efga.h"
#include "egda.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* Kinds of units. Every unit converts to and from the standard unit of its kind: "meters" for
   lengths (paper units such as "points" and "inches" are lengths too), "radians" for angles
   ("dd", decimal degrees, is an angle). The "other" units are of the kind that is never refused:
   a conversion between them and a unit of another kind leaves the values as they are.
   Units (with their singular and a few other spellings): lengths meters, kilometers,
   centimeters, millimeters, micrometers (microns), nanometers, feet (international),
   us_survey_feet, inches, yards, miles, nautical_miles (international_nautical_miles), points
   (1/72 inch), picas (1/6 inch); angles radians, degrees (dd, decimal_degrees), arc_minutes,
   arc_seconds, grads; and other. Every unit is a plain factor of its standard unit. */
#define ECVT_KIND_UNKNOWN (-1)
#define ECVT_KIND_LENGTH 1
#define ECVT_KIND_ANGLE 2
#define ECVT_KIND_OTHER 5

/* Converts count doubles from the units named `from` into the units named `to`, writing them to
   results (which may be values itself). Names are compared without regard to case; equal names
   copy the values unchanged (the names need not be known then).
   Returns 0 when results hold the converted values, -1 on failure (results untouched).
   A conversion between the "other" units and a unit of another kind copies the values unchanged
   and leaves a report of severity 1 (a warning, code 4): the result is usable. Unknown names,
   and units of two different kinds neither of which is "other", fail with severity 2. */
int32_t ecvt_UnitsConvertByName(const double *values, const char *from, double *results,
                                const char *to, int32_t count, Eerr_ErrorReport **err);

/* The same for every element of an f64 matrix, in place (rows x columns from its origin).
   Same return value and reports. */
int32_t ecvt_UnitsConvertMatrixByName(Egda_BaseData *matrix, const char *from, const char *to,
                                      Eerr_ErrorReport **err);

/* The same for a run of doubles in place. */
int32_t ecvt_UnitsConvert(const char *from, const char *to, double *values, int32_t count,
                          Eerr_ErrorReport **err);

/* Looks a unit up by name. *kind (when kind is given) receives its kind, ECVT_KIND_UNKNOWN for an
   unknown name. toStandard and fromStandard (each may be null when not wanted) receive
   first-order 2-D polynomials that take x and y alike from the unit to the standard unit of its
   kind and back: a slot holding a polynomial has it rewritten, an empty slot receives a new one
   (free it with efga_PolynomialDelete). Returns 0, or -1 with a report for an unknown name (the
   slots are then left as they were) or a failed allocation (a polynomial made here is deleted
   again and its slot emptied). */
int32_t ecvt_UnitSetByName(const char *name, int32_t *kind, Efga_Polynomial **toStandard,
                           Efga_Polynomial **fromStandard, Eerr_ErrorReport **err);

/* Splits decimal degrees into degrees, minutes and seconds (each pointer may be null).
   The degrees carry the sign of the value (-0.5 gives -0 degrees, 30 minutes, 0 seconds);
   minutes and seconds are never negative. Minutes lie in [0, 60) and seconds in [0, 60): a value
   within a millionth of a second of a whole second counts as that second, so 12.516666666666667
   gives 12, 31, 0 rather than 12, 30, 59.99999... A value that is not finite gives itself as
   degrees and 0 minutes and seconds. */
void ecvt_DD2DMS(double value, double *degrees, double *minutes, double *seconds);

TAVIRON_END_DECLS

#endif

/* Colour utilities: RGB to intensity, hue and saturation, and the rainbow colour ramp. */
#ifndef TAVIRON_ECLB_H
#define TAVIRON_ECLB_H

#include <stdint.h>

#include "eerr.h"
#include "egda.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* Converts red, green and blue (each 0.0 to 1.0) to intensity, hue and saturation:
     intensity  I = (R + G + B) / 3
     saturation S = 1 - min(R, G, B) / I   (0 when I is 0)
     hue        H = theta when B <= G, else 360 - theta, in degrees [0, 360), with
                theta = acos((2R - G - B) / (2 sqrt((R - G)^2 + (R - B)(G - B))));
                0 for greys (R = G = B).
   Red is hue 0, green 120, blue 240. Any of the out pointers may be null. */
void eclb_RgbToIhs(double red, double green, double blue, double *intensity, double *hue,
                   double *saturation);

/* A rainbow ramp: a stack of three f64 tables (object type 1) of count entries, red, green and
   blue in 0.0 to 1.0, freed with egda_BaseDataStackDelete. Entry k lies at k / (steps - 1) along
   the ramp through red, orange, yellow, green, blue, indigo and violet (equally spaced, linear
   between them); entries past the end of the ramp are violet, and with steps 1 every entry is
   red. count >= 0 and steps >= 1; the usual call is (n, n). */
Egda_BaseDataStack *eclb_ROYGBIV(int32_t count, int32_t steps, Eerr_ErrorReport **err);

TAVIRON_END_DECLS

#endif

// Colour utilities.
#include "eclb.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "internal.h"

namespace lower = taviron::lower;

extern "C" {

void eclb_RgbToIhs(double red, double green, double blue, double *intensity, double *hue,
                   double *saturation) try {
  const double i = (red + green + blue) / 3.0;
  const double smallest = std::min({red, green, blue});
  const double s = i > 0 ? 1.0 - smallest / i : 0.0;
  double h = 0.0;
  const double denominator = std::sqrt((red - green) * (red - green) + (red - blue) * (green - blue));
  if (denominator > 0) {
    const double cosine = std::clamp((2 * red - green - blue) / (2 * denominator), -1.0, 1.0);
    const double theta = std::acos(cosine) * 180.0 / std::numbers::pi;
    h = blue <= green ? theta : 360.0 - theta;
    if (h >= 360.0) h -= 360.0;
  }
  if (intensity) *intensity = i;
  if (hue) *hue = h;
  if (saturation) *saturation = s;
} TAVIRON_GUARD_QUIET_VOID

Egda_BaseDataStack *eclb_ROYGBIV(int32_t count, int32_t steps, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  constexpr const char *name = "eclb_ROYGBIV";
  if (count < 0 || steps < 1) {
    lower::Report(err, name, 1, "Invalid ramp of %d entries in %d steps", count, steps);
    return nullptr;
  }
  // Red, orange, yellow, green, blue, indigo, violet.
  static constexpr double anchors[7][3] = {{1.0, 0.0, 0.0},           {1.0, 0.5, 0.0},
                                           {1.0, 1.0, 0.0},           {0.0, 1.0, 0.0},
                                           {0.0, 0.0, 1.0},           {75 / 255.0, 0.0, 130 / 255.0},
                                           {143 / 255.0, 0.0, 1.0}};
  Egda_BaseDataStack *ramp = egda_BaseDataStackCreate(3, count, 1, EGDA_TYPE_F64, EGDA_TABLE, err);
  if (!ramp) {
    lower::Report(err, name, 2, "Error returned from egda_BaseDataStackCreate");
    return nullptr;
  }
  for (int32_t k = 0; k < count; ++k) {
    const double t = steps > 1 ? std::min(1.0, double(k) / double(steps - 1)) : 0.0;
    const double position = t * 6.0;
    const int segment = std::min(5, int(position));
    const double f = position - segment;
    for (int c = 0; c < 3; ++c) {
      const double v = anchors[segment][c] + f * (anchors[segment + 1][c] - anchors[segment][c]);
      reinterpret_cast<double *>(ramp->layers[c]->data)[k] = v;
    }
  }
  return ramp;
} TAVIRON_GUARD(err, nullptr)

} // extern "C"

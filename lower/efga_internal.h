// Coordinate blocks and polynomials: what other families of the layer share with efga (the
// stored form of a polynomial). Not part of the C interface.
#ifndef TAVIRON_LOWER_EFGA_INTERNAL_H
#define TAVIRON_LOWER_EFGA_INTERNAL_H

#include "efga.h"
#include "record.h"

namespace taviron::efga {

// The design "Efga_Polynomial": the private form as one counted array of bytes.
inline constexpr record::Item kPolynomialItems[] = {
    TAVIRON_COUNTED_ITEM(Efga_PolynomialPrivate, size, data, EMIF_COUNTED_ARRAY + EMIF_TYPE_BYTE)};
inline constexpr record::Design kPolynomialDesign =
    record::DesignOf<Efga_PolynomialPrivate>("Efga_Polynomial", kPolynomialItems);
static_assert(kPolynomialDesign.Matches(), "Efga_PolynomialPrivate must match its design");

} // namespace taviron::efga

#endif

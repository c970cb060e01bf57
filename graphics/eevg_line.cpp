// The line driver: compositions, dashes and arrow heads over the wide-polygon builder.
#include "eevg_private.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace taviron::graphics {

int32_t eevg_WideLine(Eevg_Drawing *, int32_t, int32_t *, Eerr_ErrorReport **err) {
  lower::Clear(err);
  lower::Report(err, "eevg_WideLine", 1, "Wide lines are not available");
  return -1;
}

} // namespace taviron::graphics

// Feeds arbitrary bytes to the reader of the private polynomial form: it must report or succeed,
// and what it accepts must write back to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "efga.h"
#include "emsc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1u << 20)) return 0;
  std::vector<uint8_t> bytes(data, data + size); // exactly `size` bytes, so overreads are caught
  Efga_PolynomialPrivate form{static_cast<int32_t>(size), bytes.empty() ? nullptr : bytes.data()};
  Eerr_ErrorReport *err = nullptr;
  Efga_Polynomial *poly = efga_PolynomialCopyFromPrivate(&form, &err);
  if (!poly) {
    if (!err) std::abort(); // a failure must be reported
    eerr_DeleteErrorReportEx(&err);
    return 0;
  }
  Efga_PolynomialPrivate *again = efga_PolynomialCopyToPrivate(poly, &err);
  if (!again || again->size != form.size || std::memcmp(again->data, bytes.data(), size) != 0)
    std::abort();
  emsc_HeapFree(again);
  efga_PolynomialDelete(poly, nullptr);
  return 0;
}

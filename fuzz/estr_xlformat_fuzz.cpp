// Compiles arbitrary column format texts and prints a handful of numbers with what compiles.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "eerr.h"
#include "estr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size); // stops at an inner NUL
  Eerr_ErrorReport *err = nullptr;
  int32_t kind = 0;
  Estr_XLFormat *format = estr_XLFormatCreate(text.c_str(), &kind, &err);
  if (!format) {
    if (!err) __builtin_trap(); // a refusal always comes with a report
    eerr_DeleteErrorReportEx(&err);
    return 0;
  }
  static const double values[] = {0.0, -0.0, 1.0, -1.5, 0.004, 12345.678, -98765.4321, 45000.75,
                                  1e-300, 1e300, -1e15, INFINITY, NAN, 2958465.99};
  for (double value : values) {
    for (int32_t room : {1, 8, 64, 4096}) {
      std::string buffer(static_cast<size_t>(room), '\x7f');
      if (!estr_XLFormatPrintNumber(value, format, buffer.data(), room, 0, &err)) {
        if (!err) __builtin_trap();
        eerr_DeleteErrorReportEx(&err);
        if (buffer[0] != '\0') __builtin_trap();
      } else if (buffer.find('\0') == std::string::npos) {
        __builtin_trap();
      }
    }
  }
  estr_XLFormatFree(format);
  return 0;
}

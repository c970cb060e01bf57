// Reads arbitrary bytes as a printer table: every printer listed opens and gives a device mode
// with a terminated name, whose device context has a size and a resolution.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "eprn.h"
#include "fuzz_support.h"

namespace {

const std::string &File() {
  static const std::string file = [] {
    std::string path = taviron::fuzz::ScratchFile("printers.tab");
    setenv("TAVIRON_PRINTER_TABLE", path.c_str(), 1);
    return path;
  }();
  return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FILE *stream = fopen(File().c_str(), "wb");
  if (!stream) return 0;
  fwrite(data, 1, size, stream);
  fclose(stream);
  int32_t count = 0;
  Eprn_PrinterInfo *printers = eprn_EnumPrinters(&count);
  for (int32_t i = 0; i < count; ++i) {
    Eprn_Printer *printer = eprn_OpenPrinter(printers[i].printerName);
    if (!printer) continue; // a name listed twice opens its first line
    Eprn_DevMode mode;
    if (eprn_DocumentProperties(printer, nullptr) != static_cast<int32_t>(sizeof mode) ||
        eprn_DocumentProperties(printer, &mode) != 1 ||
        memchr(mode.deviceName, 0, sizeof mode.deviceName) == nullptr)
      abort();
    Eprn_DeviceContext *context = eprn_CreateDC(printers[i].driverName, printers[i].printerName, &mode);
    if (!context) abort();
    for (int32_t index : {EPRN_HORZSIZE, EPRN_VERTSIZE, EPRN_LOGPIXELSX, EPRN_LOGPIXELSY})
      if (eprn_GetDeviceCaps(context, index) <= 0) abort();
    if (eprn_GetDeviceCaps(context, EPRN_HORZRES) < 0 || eprn_GetDeviceCaps(context, EPRN_VERTRES) < 0)
      abort();
    eprn_DeleteDC(context);
    eprn_ClosePrinter(printer);
  }
  eprn_FreePrinters(printers, count);
  return 0;
}

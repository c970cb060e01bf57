// Tag files: any content must give a value, nothing, or a report; never a crash.
#include <cstdint>
#include <cstdio>
#include <string>

#include "eerr.h"
#include "efio.h"
#include "emsc.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string path = taviron::fuzz::ScratchFile("input.tag");
  FILE *file = std::fopen(path.c_str(), "wb");
  if (!file) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  for (const char *key : {"name", "command", "input", "inputtypedef", "titlesupported"}) {
    Eerr_ErrorReport *err = nullptr;
    char *value = efio_GetTaggedData(path.c_str(), key, 0, &err);
    if (value && err) __builtin_trap(); // a value comes without a report
    emsc_HeapFree(value);
    eerr_DeleteErrorReportEx(&err);
  }
  file = std::fopen(path.c_str(), "rb");
  if (file) {
    efio_IsFileAscii(file);
    std::fclose(file);
  }
  return 0;
}

// Tag files: any content must give a value, nothing, or a report; never a crash.
#include <cstdint>
#include <cstdio>
#include <string>

#include <unistd.h>

#include "eerr.h"
#include "efio.h"
#include "emsc.h"

namespace {
// The scratch tag file, removed when the process ends.
struct ScratchFile {
  std::string path = "/tmp/efio_tagged_fuzz_" + std::to_string(getpid()) + ".tag";
  ~ScratchFile() { unlink(path.c_str()); }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const ScratchFile scratch;
  const std::string &path = scratch.path;
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

// Reads arbitrary bytes as a progress-reporting configuration file: the reader gives either a
// configuration or a report, never a crash.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "../session/esmg_metering_internal.h"
#include "fuzz_support.h"

namespace {

const std::string &File() {
  static const std::string file = taviron::fuzz::ScratchFile("ProgressReportingConfig.xml");
  return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FILE *stream = fopen(File().c_str(), "wb");
  if (!stream) return 0;
  fwrite(data, 1, size, stream);
  fclose(stream);
  const std::u16string path(File().begin(), File().end());
  Eerr_ErrorReport *report = nullptr;
  auto config = taviron::session::ReadMeteringConfig(path, &report);
  if (!config == !report) abort();
  eerr_DeleteErrorReportEx(&report);
  return 0;
}

// Reads arbitrary bytes as a progress-reporting configuration file: the reader gives a
// configuration or none, never a crash; a configuration has both of its texts.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "../session/esmg_metering_internal.h"

namespace {

const std::string &File() {
  static const std::string file = [] {
    char pattern[] = "/tmp/esmg_progress_config_fuzz_XXXXXX";
    return std::string(mkdtemp(pattern)) + "/ProgressReportingConfig.xml";
  }();
  return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FILE *stream = fopen(File().c_str(), "wb");
  if (!stream) return 0;
  fwrite(data, 1, size, stream);
  fclose(stream);
  const std::u16string path(File().begin(), File().end());
  auto config = taviron::session::ReadMeteringConfig(path);
  if (config && config->name.size() > size) abort(); // the name comes from the bytes
  return 0;
}

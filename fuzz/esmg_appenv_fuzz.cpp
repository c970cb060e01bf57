// Argument files, argument blocks, environment files ("taviron.env"), registry multi-strings and
// search lists of any content give what they hold, never a crash. The first byte picks the reader.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "emsc.h"
#include "esmg.h"
#include "fuzz_support.h"
#include "../session/esmg_frame_internal.h"

namespace {

// The scratch folder of this process.
const std::string &Folder() { return taviron::fuzz::ScratchDirectory(); }

bool WriteFile(const std::string &name, const uint8_t *data, size_t size) {
  FILE *file = fopen(name.c_str(), "wb");
  if (!file) return false;
  fwrite(data, 1, size, file);
  fclose(file);
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const uint8_t which = data[0] % 4;
  ++data;
  --size;
  using namespace taviron::session;
  switch (which) {
  case 0: { // an argument file, read as a program reads its own (and then deleted)
    const std::string name = Folder() + "/args";
    if (!WriteFile(name, data, size)) return 0;
    int32_t count = 0;
    char **vector = nullptr;
    esmg_ComLineArgsGet(("@" + name).c_str(), &count, &vector);
    if (!vector || vector[count]) abort();
    for (int32_t i = 0; i < count; ++i) emsc_HeapFree(vector[i]);
    emsc_HeapFree(vector);
    break;
  }
  case 1: { // the environment file
    FILE *file = fmemopen(const_cast<uint8_t *>(data), size, "rb");
    if (!file) return 0;
    for (const auto &[name, value] : ReadEnvironmentFile(file))
      if (name.empty() || name.find('=') != std::string::npos || name.size() + value.size() >= 256) abort();
    fclose(file);
    break;
  }
  case 2: // an argument block and a registry multi-string
    ArgumentBlockStrings(data, size);
    MultiStringBytes(MultiStrings(data, size));
    break;
  default: // a search list
    ExpandSearchListText(std::string(reinterpret_cast<const char *>(data), size));
    break;
  }
  return 0;
}

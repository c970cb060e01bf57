// Whole files of arbitrary bytes opened as an annotation layer and read as a default styles file:
// refused with a report (the reader of the styles file prints it), never a crash. A layer that
// opens is written back and closed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "eant.h"
#include "emsc.h"
#include "fuzz_support.h"

namespace {

void Drop(Eerr_ErrorReport **err) { eerr_DeleteErrorReportEx(err); }

struct Setup {
  Eint_InitToolkitData *toolkit = nullptr;
  Setup() {
    setenv("NORIX_PREFERENCES_PATH", taviron::fuzz::ScratchDirectory().c_str(), 1);
    toolkit = eint_InitToolkit(nullptr);
    eant_Init(toolkit, nullptr);
  }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static Setup setup;
  if (size > (1 << 16)) return 0;
  const std::string path = taviron::fuzz::ScratchFile("in.ovr");
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
  }
  Eerr_ErrorReport *err = nullptr;
  Eant_AnnotationInfo *info = eant_AnnotationInfoCreate(setup.toolkit, &err);
  Drop(&err);
  if (info) {
    eant_DefaultStylesRead(info, path.c_str(), &err);
    Drop(&err);
    eant_AnnotationInfoFree(&info);
  }
  Eant_Layer *layer = eant_LayerOpen(setup.toolkit, nullptr, path.c_str(), "r+b", &err);
  Drop(&err);
  if (layer) {
    layer->antInfo->modified = 1;
    eant_LayerClose(layer, &err);
    Drop(&err);
  }
  std::remove(path.c_str());
  std::remove((path + "-journal").c_str());
  return 0;
}

// Random strip files through the burn-in: every input either burns in or gives a report, and
// never writes outside the target. The image size, rows per strip and band count come from the
// input's own header when they are small, so that well-formed files reach the records.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "../graphics/eevg_htf.h"
#include "eevg.h"
#include "eerr.h"

namespace {

struct Target {
  int32_t width, height, planes;
  std::vector<uint8_t> pixels[3];
};

bool Inside(const Target &t, const double *ul, const double *lr) {
  return ul[0] >= 0 && ul[1] >= 0 && lr[0] >= ul[0] && lr[1] >= ul[1] && ul[0] < t.width &&
         lr[1] < t.height;
}

Eevg_RGBPixelRect *GetBlock(void *userData, Eevg_RGBPixelRect *rect, const double *ul,
                            const double *lr, Eerr_ErrorReport **err) {
  auto *t = static_cast<Target *>(userData);
  if (!Inside(*t, ul, lr)) abort();
  const int32_t w = static_cast<int32_t>(lr[0] - ul[0]) + 1, h = static_cast<int32_t>(lr[1] - ul[1]) + 1;
  return eevg_RGBPixelRectCreateWithData(rect, w, h, t->planes == 3 ? 0 : 1, err);
}

int32_t PutBlock(void *userData, Eevg_RGBPixelRect *rect, const double *ul, const double *lr,
                 Eerr_ErrorReport **) {
  auto *t = static_cast<Target *>(userData);
  if (!Inside(*t, ul, lr) || !rect || !rect->red) abort();
  return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  auto get16 = [&](size_t at) { return at + 1 < size ? data[at] | data[at + 1] << 8 : 0; };
  Target target{10, 6, 3, {}};
  int32_t stripRows = 3;
  if (get16(0) >= 1 && get16(0) <= 64 && get16(2) >= 1 && get16(2) <= 64 && get16(6) >= 1 &&
      get16(6) <= 64 && (get16(8) == 1 || get16(8) == 3)) {
    target.width = get16(0);
    target.height = get16(2);
    stripRows = get16(6);
    target.planes = get16(8);
  }

  const int fd = memfd_create("eevg_strip_fuzz", 0);
  if (fd < 0) return 0;
  if (size && write(fd, data, size) != static_cast<ssize_t>(size)) {
    close(fd);
    return 0;
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);

  static Eevg_Control control{};
  Eevg_Coord lowerLeft{0, 0}, upperRight{static_cast<double>(target.width), static_cast<double>(target.height)};
  Eevg_WorldInfo world{&lowerLeft, &upperRight};
  Eevg_DeviceInfo device{0, target.width, target.height, 2, 0, 4, stripRows, nullptr,
                         target.planes == 3 ? 0 : 1};
  Eevg_GrIOInfo grio{};
  grio.userData = &target;
  grio.getBlock = GetBlock;
  grio.putBlock = PutBlock;
  Eerr_ErrorReport *err = nullptr;
  Eevg_Drawing *drawing = eevg_DrawingInit(&control, &device, &world, &grio, &err);
  if (!drawing) abort();
  const int32_t done = taviron::graphics::eevg_Burnin("", path.c_str(), target.height, target.width,
                                                      target.planes, stripRows, 4, drawing, &err);
  if ((done == 1) == (err != nullptr)) abort();
  eerr_DeleteErrorReportEx(&err);
  eevg_DrawingFree(&drawing, nullptr);
  close(fd);
  return 0;
}

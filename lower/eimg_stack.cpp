// Layer stacks, windows and pixel rectangles.
#include "eimg.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <complex>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "efnp.h"
#include "ehfa.h"
#include "ehfa_internal.h"
#include "eimg_convert.h"
#include "eimg_internal.h"
#include "eirf.h"
#include "emet.h"
#include "emsc.h"
#include "internal.h"

namespace lower = taviron::lower;
namespace conv = taviron::lower::eimg;
using namespace taviron::eimg;

namespace {

// ---- Stacks ----

Eimg_LayerStack *NewStack(int32_t count, const char *reporter, Eerr_ErrorReport **err) {
  auto *stack = static_cast<Eimg_LayerStack *>(emsc_HeapMalloc(sizeof(Eimg_LayerStack)));
  auto **layers = static_cast<Eimg_Layer **>(emsc_HeapMalloc(sizeof(Eimg_Layer *) * std::size_t(std::max(count, 1))));
  if (!stack || !layers) {
    emsc_HeapFree(stack);
    emsc_HeapFree(layers);
    lower::Report(err, reporter, 2, "Error allocating the layer stack");
    return nullptr;
  }
  stack->count = 0;
  stack->layers = layers;
  return stack;
}

void DropStack(Eimg_LayerStack *stack) {
  for (int32_t i = 0; i < stack->count; ++i) CloseLayer(stack->layers[i], "", nullptr);
  emsc_HeapFree(stack->layers);
  emsc_HeapFree(stack);
}

bool ValidNames(const Estr_StringList *names, const char *reporter, Eerr_ErrorReport **err) {
  if (!names || names->count < 1 || !names->strings) {
    lower::Report(err, reporter, 1, "Invalid list of layer names");
    return false;
  }
  return true;
}

// A stack of the layers that make(name, slot) gives for the names; null with a report (the
// layers made so far are closed).
template <class Make>
Eimg_LayerStack *StackOf(const Estr_StringList *names, const char *callee, const char *reporter,
                         Eerr_ErrorReport **err, Make &&make) {
  if (!ValidNames(names, reporter, err)) return nullptr;
  Eimg_LayerStack *stack = NewStack(names->count, reporter, err);
  if (!stack) return nullptr;
  try {
    for (int32_t i = 0; i < names->count; ++i) {
      lower::CalleeReport inner;
      Eimg_Layer *layer = make(names->strings[i], &inner);
      if (!layer) {
        DropStack(stack);
        lower::ReportCallee(err, inner, reporter, 3, callee);
        return nullptr;
      }
      stack->layers[stack->count++] = layer;
    }
  } catch (...) {
    DropStack(stack); // a layer ran out of memory: those made so far are closed
    throw;
  }
  return stack;
}

int32_t StackMove(Eimg_LayerStack *stack, int32_t column, int32_t row, int32_t width, int32_t height,
                  const Egda_BaseDataStack *rects, int mode, const char *reporter, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!stack || !stack->layers) {
    lower::Report(err, reporter, 1, "Invalid layer stack");
    return -1;
  }
  if (!rects || !rects->layers || rects->count < stack->count) {
    lower::Report(err, reporter, 2, "The pixel rectangle stack has fewer rectangles than the %d layers",
                  stack->count);
    return -1;
  }
  for (int32_t i = 0; i < stack->count; ++i) {
    lower::CalleeReport inner;
    const int32_t result =
        mode == 1 ? WriteWindow(stack->layers[i], column, row, width, height, rects->layers[i], "eimg_LayerWrite", &inner)
                  : ReadWindow(stack->layers[i], column, row, width, height, rects->layers[i], mode == 2,
                               mode == 2 ? "eimg_LayerRasterPixelRectGet" : "eimg_LayerRead", &inner);
    if (result != 0) {
      lower::Report(&inner, reporter, 3, "Error with layer %d of the stack", i + 1);
      lower::PassOn(err, inner);
      return -1;
    }
  }
  return 0;
}

} // namespace

extern "C" {

// ---- Layer stacks ----

Eimg_LayerStack *eimg_LayerStackOpen(const Estr_StringList *names, Eint_InitToolkitData *init, Eerr_ErrorReport **err,
                                     ...) try {
  static const char *const kReporter = "eimg_LayerStackOpen";
  lower::Clear(err);
  std::vector<Option> options;
  va_list ap;
  va_start(ap, err);
  const bool parsed = ParseOptions(ap, options, kReporter, 1, err);
  va_end(ap);
  if (!parsed) return nullptr;
  return StackOf(names, "eimg_LayerOpen", kReporter, err, [&](const char *name, Eerr_ErrorReport **inner) {
    return OpenLayer(name, init, options, "eimg_LayerOpen", inner);
  });
} TAVIRON_GUARD(err, nullptr)

Eimg_LayerStack *eimg_LayerStackCreate(const Estr_StringList *names, int32_t layerType, int32_t pixelType,
                                       int32_t width, int32_t height, Eint_InitToolkitData *init,
                                       Eerr_ErrorReport **err, ...) try {
  static const char *const kReporter = "eimg_LayerStackCreate";
  lower::Clear(err);
  std::vector<Option> options;
  va_list ap;
  va_start(ap, err);
  const bool parsed = ParseOptions(ap, options, kReporter, 1, err);
  va_end(ap);
  if (!parsed) return nullptr;
  return StackOf(names, "eimg_LayerCreate", kReporter, err, [&](const char *name, Eerr_ErrorReport **inner) {
    return CreateLayer(name, layerType, pixelType, width, height, init, options, "eimg_LayerCreate", inner);
  });
} TAVIRON_GUARD(err, nullptr)

int32_t eimg_LayerStackChangeOptions(Eimg_LayerStack *stack, Eerr_ErrorReport **err, ...) try {
  static const char *const kReporter = "eimg_LayerStackChangeOptions";
  lower::Clear(err);
  std::vector<Option> options;
  va_list ap;
  va_start(ap, err);
  const bool parsed = ParseOptions(ap, options, kReporter, 2, err);
  va_end(ap);
  if (!stack || !stack->layers) {
    lower::Report(err, kReporter, 1, "Invalid layer stack");
    return -1;
  }
  if (!parsed) return -1;
  for (int32_t i = 0; i < stack->count; ++i)
    if (!ApplyOptions(stack->layers[i], options, kReporter, 3, err)) return -1;
  return 0;
} TAVIRON_GUARD(err, -1)

void eimg_LayerStackClose(Eimg_LayerStack *stack, Eerr_ErrorReport **err) try {
  static const char *const kReporter = "eimg_LayerStackClose";
  lower::Clear(err);
  if (!stack) return;
  lower::CalleeReport first;
  for (int32_t i = 0; i < stack->count; ++i) {
    lower::CalleeReport inner;
    if (!CloseLayer(stack->layers[i], "eimg_LayerClose", &inner) && !first)
      lower::ReportCallee(&first, inner, kReporter, 1, "eimg_LayerClose");
    else inner.Drop();
  }
  emsc_HeapFree(stack->layers);
  emsc_HeapFree(stack);
  lower::PassOn(err, first);
} TAVIRON_GUARD_VOID(err)

int32_t eimg_LayerStackRead(Eimg_LayerStack *stack, int32_t column, int32_t row, int32_t width, int32_t height,
                            Egda_BaseDataStack *rects, Eerr_ErrorReport **err) try {
  return StackMove(stack, column, row, width, height, rects, 0, "eimg_LayerStackRead", err);
} TAVIRON_GUARD(err, -1)

int32_t eimg_LayerStackWrite(Eimg_LayerStack *stack, int32_t column, int32_t row, int32_t width, int32_t height,
                             const Egda_BaseDataStack *rects, Eerr_ErrorReport **err) try {
  return StackMove(stack, column, row, width, height, rects, 1, "eimg_LayerStackWrite", err);
} TAVIRON_GUARD(err, -1)

int32_t eimg_LayerStackRasterPixelRectStackGet(Eimg_LayerStack *stack, int32_t column, int32_t row, int32_t width,
                                               int32_t height, Egda_BaseDataStack *rects, Eerr_ErrorReport **err) try {
  return StackMove(stack, column, row, width, height, rects, 2, "eimg_LayerStackRasterPixelRectStackGet", err);
} TAVIRON_GUARD(err, -1)

Estr_StringList *eimg_LayerNameStackCreate(const char *fileName, int32_t count, Eerr_ErrorReport **err) try {
  static const char *const kReporter = "eimg_LayerNameStackCreate";
  lower::Clear(err);
  if (!fileName || !*fileName || count < 0) {
    lower::Report(err, kReporter, 1, "Invalid file name or layer count");
    return nullptr;
  }
  lower::CalleeReport inner;
  Estr_StringList *list = estr_StringListCreate(count, &inner);
  if (!list) {
    lower::ReportCallee(err, inner, kReporter, 2, "estr_StringListCreate");
    return nullptr;
  }
  try {
    for (int32_t i = 0; i < count; ++i) {
      const std::string name = lower::Format("%s(:Layer_%d)", fileName, i + 1);
      if (!(list->strings[i] = lower::HeapCopy(name.data(), name.size()))) {
        estr_StringListDelete(list, nullptr);
        lower::Report(err, kReporter, 3, "Error allocating the layer names");
        return nullptr;
      }
    }
  } catch (...) {
    estr_StringListDelete(list, nullptr);
    throw;
  }
  return list;
} TAVIRON_GUARD(err, nullptr)

void eimg_LayerNameStackDelete(Estr_StringList *names, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  estr_StringListDelete(names, nullptr);
} TAVIRON_GUARD_VOID(err)

// ---- Windows and pixel rectangles ----

Egda_Window *eimg_WindowCreate(int32_t width, int32_t height, int32_t x, int32_t y, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  lower::CalleeReport inner;
  Egda_Window *window = egda_WindowCreate(width, height, x, y, &inner);
  if (!window) lower::ReportCallee(err, inner, "eimg_WindowCreate", 1, "egda_WindowCreate");
  return window;
} TAVIRON_GUARD(err, nullptr)

void eimg_WindowDelete(Egda_Window *window, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  egda_WindowDelete(window, nullptr);
} TAVIRON_GUARD_VOID(err)

Egda_BaseData *eimg_PixelRectCreate(int32_t width, int32_t height, int32_t pixelType, Eerr_ErrorReport **err) try {
  static const char *const kReporter = "eimg_PixelRectCreate";
  lower::Clear(err);
  if (!ValidPixelType(pixelType) || width < 0 || height < 0) {
    lower::Report(err, kReporter, 1, "Invalid pixel rectangle: %d x %d of pixel type %d", width, height, pixelType);
    return nullptr;
  }
  lower::CalleeReport inner;
  Egda_BaseData *rect = egda_BaseDataCreate(height, width, pixelType, EGDA_RASTER, nullptr, &inner);
  if (!rect) lower::ReportCallee(err, inner, kReporter, 2, "egda_BaseDataCreate");
  return rect;
} TAVIRON_GUARD(err, nullptr)

void eimg_PixelRectDelete(Egda_BaseData *rect, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  egda_BaseDataDelete(rect, nullptr);
} TAVIRON_GUARD_VOID(err)

Egda_BaseDataStack *eimg_PixelRectStackCreate(int32_t count, int32_t width, int32_t height, int32_t pixelType,
                                              Eerr_ErrorReport **err) try {
  static const char *const kReporter = "eimg_PixelRectStackCreate";
  lower::Clear(err);
  if (!ValidPixelType(pixelType) || width < 0 || height < 0 || count < 0) {
    lower::Report(err, kReporter, 1, "Invalid pixel rectangle stack: %d of %d x %d of pixel type %d", count, width,
                  height, pixelType);
    return nullptr;
  }
  lower::CalleeReport inner;
  Egda_BaseDataStack *stack = egda_BaseDataStackCreate(count, height, width, pixelType, EGDA_RASTER, &inner);
  if (!stack) lower::ReportCallee(err, inner, kReporter, 2, "egda_BaseDataStackCreate");
  return stack;
} TAVIRON_GUARD(err, nullptr)

void eimg_PixelRectStackDelete(Egda_BaseDataStack *stack, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  egda_BaseDataStackDelete(stack, nullptr);
} TAVIRON_GUARD_VOID(err)

Egda_BaseDataStack *eimg_PixelRectStackCopy(const Egda_BaseDataStack *stack, Egda_BaseDataStack *destination,
                                            Eerr_ErrorReport **err) try {
  lower::Clear(err);
  lower::CalleeReport inner;
  Egda_BaseDataStack *copy = egda_BaseDataStackCopy(stack, destination, &inner);
  if (!copy) lower::ReportCallee(err, inner, "eimg_PixelRectStackCopy", 1, "egda_BaseDataStackCopy");
  return copy;
} TAVIRON_GUARD(err, nullptr)

} // extern "C"

// The default style library: one colour, line style, fill style and text style, each number 0.
#include "eant_internal.h"

namespace lower = taviron::lower;
using namespace taviron::eant;

namespace {

using AddColor = void (*)(Eant_StyleLibrary *, const Eevg_Color *, Eerr_ErrorReport **);

Eant_StyleLibrary *CreateDefault(const char *reporter, AddColor addColor, const Eevg_Color *color,
                                 Eerr_ErrorReport **err) {
  lower::Clear(err);
  lower::CalleeReport inner;
  Eant_StyleLibrary *library = eant_StyleLibraryCreate(&inner);
  if (!library) {
    lower::ReportCallee(err, inner, reporter, 1, "eant_StyleLibraryCreate");
    return nullptr;
  }
  // The text style's character fill is the default fill style: added with the unique flag, it is
  // the one fill style of the library.
  const char *failed = nullptr;
  addColor(library, color, &inner);
  if (inner) failed = "eant_ColorCreateDefault";
  if (!failed && (eant_LineStyleCreateDefault(library, &inner), inner)) failed = "eant_LineStyleCreateDefault";
  if (!failed && (eant_FillStyleCreateDefault(library, &inner), inner)) failed = "eant_FillStyleCreateDefault";
  if (!failed && (eant_TextStyleCreateDefault(library, &inner), inner)) failed = "eant_TextStyleCreateDefault";
  if (failed) {
    lower::ReportCallee(err, inner, reporter, 2, failed);
    eant_StyleLibraryFree(&library);
  }
  return library;
}

} // namespace

extern "C" {

Eant_StyleLibrary *eant_StyleLibraryCreateDefault(const Eevg_Color *color, Eerr_ErrorReport **err) try {
  return CreateDefault(__func__, eant_ColorCreateDefault, color, err);
} TAVIRON_GUARD(err, nullptr)

Eant_StyleLibrary *eant_StyleLibraryCreateDefaultWithOpacity(const Eevg_Color *color, Eerr_ErrorReport **err) try {
  return CreateDefault(__func__, eant_ColorCreateDefaultWithOpacity, color, err);
} TAVIRON_GUARD(err, nullptr)

} // extern "C"

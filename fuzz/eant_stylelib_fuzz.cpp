// The conversion of a stored style library into its lists, on records decoded from damaged bytes.
// The first byte picks the version of the library design (0, 1, 2 or 4); the rest are the external
// bytes of the library object. What decodes is moved into a library, which is then copied and
// turned back into the arrays of the current form, and every style of it is evaluated (base chains
// in the same library followed, loops included) and the text styles made into renderer styles.
#include <cstddef>
#include <cstdint>

#include "eant.h"
#include "eevg.h"
#include "emsc.h"

namespace {

const char *const kDesigns[] = {"StyleLibrary_Eant", "StyleLibrary_1_Eant", "StyleLibrary_2_Eant", "StyleLibrary_4_Eant"};
void (*const kMoves[])(void *, Eant_StyleLibrary *, Eerr_ErrorReport **) = {
    eant_StyleLibraryCopyFromPrivate, eant_StyleLibraryCopyFromPrivate1, eant_StyleLibraryCopyFromPrivate2,
    eant_StyleLibraryCopyFromPrivate4};

Eant_InitData *Package() {
  static Eant_InitData *data = [] {
    Eint_InitToolkitData *toolkit = eint_InitToolkit(nullptr);
    eant_Init(toolkit, nullptr);
    return static_cast<Eant_InitData *>(toolkit->annotationData);
  }();
  return data;
}

int32_t Count(Edlm_List *list) { return list ? edlm_CountList(list, nullptr) : 0; }
template <class Record> const Record *At(Edlm_List *list, int32_t i) {
  return *static_cast<Record **>(edlm_GetAddr(list, i, nullptr));
}

// Evaluates every style of the library without a toolkit record (references into other files
// fail) and drops what comes back.
void Evaluate(Eant_StyleLibrary *library) {
  Eerr_ErrorReport *err = nullptr;
  for (int32_t i = 0; i < Count(library->colors); ++i) {
    Eant_Color *color = eant_ColorEvaluate(nullptr, library, At<Eant_Color>(library->colors, i), 1, nullptr, &err);
    eant_ColorFree(&color);
    eerr_DeleteErrorReportEx(&err);
  }
  for (int32_t i = 0; i < Count(library->lineStyles); ++i) {
    Eant_LineStyle *line =
        eant_LineStyleEvaluate(nullptr, library, At<Eant_LineStyle>(library->lineStyles, i), 1, nullptr, nullptr, &err);
    eant_LineStyleFree(&line);
    eerr_DeleteErrorReportEx(&err);
  }
  for (int32_t i = 0; i < Count(library->fillStyles); ++i) {
    Eant_FillStyle *fill =
        eant_FillStyleEvaluate(nullptr, library, At<Eant_FillStyle>(library->fillStyles, i), 1, nullptr, nullptr, &err);
    eant_FillStyleFree(&fill);
    eerr_DeleteErrorReportEx(&err);
  }
  for (int32_t i = 0; i < Count(library->textStyles); ++i) {
    Eevg_TextStyle *renderer = eevg_TextStyleCreate(nullptr);
    Eant_TextStyle *text = eant_TextStyleEvaluate(nullptr, library, At<Eant_TextStyle>(library->textStyles, i), 1,
                                                  renderer, nullptr, &err);
    eant_TextStyleFree(&text);
    eevg_TextStyleFree(&renderer);
    eerr_DeleteErrorReportEx(&err);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size) {
  if (size < 1 || size > (1 << 20)) return 0;
  Eant_InitData *data = Package();
  if (!data || !data->dictionary) return 0;
  const int version = bytes[0] % 4;
  const Emif_Design *design = emif_FindDesignByName(data->dictionary, kDesigns[version], nullptr);
  Eerr_ErrorReport *err = nullptr;
  void *stored = emif_ObjectDecode(nullptr, design, bytes + 1, static_cast<int32_t>(size - 1), nullptr, &err);
  eerr_DeleteErrorReportEx(&err);
  if (!stored) return 0;
  Eant_StyleLibrary *library = eant_StyleLibraryCreate(nullptr);
  kMoves[version](stored, library, &err); // frees what the stored object holds
  eerr_DeleteErrorReportEx(&err);
  emsc_HeapFree(stored);
  Eant_StyleLibrary *copy = eant_StyleLibraryCopy(library, nullptr, nullptr);
  int32_t count = 0;
  emsc_HeapFree(eant_ColorListToPrivateArray(library->colors, &count, nullptr));
  emsc_HeapFree(eant_LineStyleListToPrivateArray(library->lineStyles, &count, nullptr));
  emsc_HeapFree(eant_FillStyleListToPrivateArray(library->fillStyles, &count, nullptr));
  emsc_HeapFree(eant_TextStyleListToPrivateArray(library->textStyles, &count, nullptr));
  Evaluate(library);
  eant_StyleLibraryFree(&copy);
  eant_StyleLibraryFree(&library);
  return 0;
}

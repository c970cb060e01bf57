// Annotation layers read from a file whose records are damaged. A layer (header, version node,
// version-flags node, style library, one element, selected styles) is written once; for each
// input the record of one of its entries is replaced by the input's bytes and the layer is read.
// The first byte picks the entry (bits 0-2, modulo the entries) and whether sequential reading is
// allowed (bit 3). What is read is copied, renumbered, rendered into a measuring drawing and
// written back.
#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "eant.h"
#include "eant_fuzz_support.h"
#include "emsc.h"
#include "fuzz_support.h"

namespace {

// An element type of the common part alone that, drawn, makes the renderer's line styles.
struct FuzzType : taviron::fuzz::CommonElementType<FuzzType> {
  static const Eant_ElementFunctions table;
  static void Render(Eint_InitToolkitData *, Eant_StyleLibrary *styles, Eant_SymbolLibrary *, Eant_Criteria *,
                     Eevg_Drawing *, Eant_Element *, _exfr_XForm *, Eant_CoordSysConversion *conversion,
                     Eerr_ErrorReport **err) {
    // What a shape draws with: every line style of the library as the renderer's.
    const int32_t count = styles && styles->lineStyles ? edlm_CountList(styles->lineStyles, nullptr) : 0;
    for (int32_t i = 0; i < count; ++i) {
      Eevg_LineStyle *line = eant_GetLineStyle(eint_GetInit(), styles, i, conversion, err);
      eevg_LineStyleFree(&line);
      eerr_DeleteErrorReportEx(err);
    }
  }
};
const Eant_ElementFunctions FuzzType::table = FuzzType::MakeTable();

const char *const kEntries[] = {"Annotation", "AnnotationVersion", "StyleLibrary", "SelectedStyles",
                                "AntElement_0"};

void Drop(Eerr_ErrorReport **err) { eerr_DeleteErrorReportEx(err); }

struct Setup {
  Eint_InitToolkitData *toolkit = nullptr;
  std::string layer; // the bytes of the layer file
  Setup() {
    // A new layer looks for the default styles file on the preferences path.
    setenv("NORIX_PREFERENCES_PATH", taviron::fuzz::ScratchDirectory().c_str(), 1);
    toolkit = eint_InitToolkit(nullptr);
    eant_Init(toolkit, nullptr);
    taviron::eant::SetTestElementType(EANT_POLYLINE, &FuzzType::Read, nullptr);
    const std::string path = taviron::fuzz::ScratchFile("layer.ovr");
    Ehfa_File *file = ehfa_FileCreate(path.c_str(), toolkit, nullptr);
    if (!file) return;
    Eant_AnnotationInfo *info = eant_AnnotationInfoCreate(toolkit, nullptr);
    eant_AnnotationInfoInit(info, nullptr, nullptr, nullptr);
    Eant_Element *element = eant_ElementCreate(info, nullptr);
    element->elmType = EANT_POLYLINE;
    element->functions = &FuzzType::table;
    eant_ElementSetBBox(element, 0, 0, 0, 5, 5, 5, 5, 0, nullptr);
    info->elements = element;
    Eant_LineStyle *dashed = eant_LineStyleSetValues(
        toolkit, info->styleLib, nullptr, nullptr, EANT_KEY_STYLENAME, "dashed", EANT_KEY_BASESTYLE, nullptr,
        "", 0, EANT_KEY_LINEPATTERN, 0, 2.0, 1.0, EANT_KEY_ARROWEND, 0.5, 0.5, 3.0, 1, 0, EANT_KEY_END);
    eant_LineStyleAddToLibrary(dashed, info->styleLib, 0, nullptr);
    eant_AnnotationInfoWrite(file, ":", "Annotation", info, nullptr);
    eant_AnnotationInfoFree(&info);
    ehfa_FileClose(file, nullptr);
    std::ifstream in(path, std::ios::binary);
    layer.assign(std::istreambuf_iterator<char>(in), {});
    std::remove(path.c_str());
  }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static Setup setup;
  if (size < 1 || size > (1 << 16) || setup.layer.empty()) return 0;
  const char *entry = kEntries[(data[0] & 7) % 5];
  const int32_t permission = (data[0] >> 3) & 1;
  const std::string path = taviron::fuzz::ScratchFile("in.ovr"), out = taviron::fuzz::ScratchFile("out.ovr");
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(setup.layer.data(), static_cast<std::streamsize>(setup.layer.size()));
  }
  sqlite3 *db = nullptr;
  if (sqlite3_open(path.c_str(), &db) == SQLITE_OK) {
    sqlite3_stmt *update = nullptr;
    if (sqlite3_prepare_v2(db, "UPDATE entry SET data = ?1 WHERE name = ?2", -1, &update, nullptr) ==
        SQLITE_OK) {
      sqlite3_bind_blob(update, 1, data + 1, static_cast<int>(size - 1), SQLITE_TRANSIENT);
      sqlite3_bind_text(update, 2, entry, -1, SQLITE_TRANSIENT);
      sqlite3_step(update);
    }
    sqlite3_finalize(update);
  }
  sqlite3_close(db);

  Eerr_ErrorReport *err = nullptr;
  Ehfa_File *file = ehfa_FileOpen(path.c_str(), "r", setup.toolkit, &err);
  Drop(&err);
  if (file) {
    Eant_AnnotationInfo *info = eant_AnnotationInfoReadWithOptions(
        file, ":Annotation", nullptr, &err, EANT_OPTION_VERSION_FLAGS, permission, EANT_OPTION_END);
    Drop(&err);
    ehfa_FileClose(file, &err);
    Drop(&err);
    if (info) {
      Eant_AnnotationInfo *copy = eant_AnnotationInfoCopy(info, nullptr, &err);
      Drop(&err);
      eant_AnnotationInfoFree(&copy);
      eant_AnnotationInfoMakeUniqueElementIDs(info, &err);
      Drop(&err);
      eant_AnnotationInfoInit(info, nullptr, nullptr, &err);
      Drop(&err);
      Eant_CoordSysConversion *conversion = eant_CoordSysConversionCreate(&err);
      Drop(&err);
      if (conversion) eant_AnnotationRender(info, nullptr, conversion, info->fakeDrawing, &err);
      Drop(&err);
      eant_CoordSysConversionFree(&conversion);
      Ehfa_File *back = ehfa_FileCreate(out.c_str(), setup.toolkit, &err);
      Drop(&err);
      if (back) {
        eant_AnnotationInfoWrite(back, ":", "Annotation", info, &err);
        Drop(&err);
        ehfa_FileClose(back, &err);
        Drop(&err);
      }
      eant_AnnotationInfoFree(&info);
    }
  }
  for (const std::string &name : {path, out}) {
    std::remove(name.c_str());
    std::remove((name + "-journal").c_str());
  }
  return 0;
}

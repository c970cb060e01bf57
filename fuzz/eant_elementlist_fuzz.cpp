// Element lists read from a layer whose element records are damaged. A layer of a polyline, a
// polygon, a point, a text (16-bit, along a line) and a group holding a polyline is written once;
// for each input the record of one element, or of its type ("Polyline Info", "Polygon Info",
// "Point Info", "Text Info"; for the group, its child's element record), is replaced by the
// input's bytes and the list node is read. The first byte picks the element (bits 4-5, plus 4 with
// bit 7, taken modulo 5), its type's record instead of its common part (bit 6), the layer version
// (bits 0-2, taken modulo 6, so that 5 is an unknown one)
// and reading in file order (bit 3). What is read is counted, copied, boxed, renumbered and
// written back.
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "eant.h"
#include "emsc.h"
#include "fuzz_support.h"

namespace {

constexpr const char *kTypeRecords[] = {"Polyline Info", "Polygon Info", "Point Info", "Text Info", "AntElement_5"};
constexpr int kElements = 5;

// The stem of the files the target writes, in its scratch folder.
const std::string &Stem() {
  static const std::string stem = taviron::fuzz::ScratchFile("layer");
  return stem;
}

struct Setup {
  Eint_InitToolkitData *toolkit = nullptr;
  Eant_CoordSysConversion *conversion = nullptr;
  std::string layer; // the bytes of the layer file of the elements
  Setup() {
    toolkit = eint_InitToolkit(nullptr);
    eant_Init(toolkit, nullptr);
    conversion = eant_CoordSysConversionSetValues(nullptr, 1, 1, 1, 1, 0, 0, "meters", "meters", nullptr);
    const std::string path = Stem() + ".img";
    Ehfa_File *file = ehfa_FileCreate(path.c_str(), toolkit, nullptr);
    if (!file) return;
    Eant_FileIO io{file, EANT_ANNOTATION_VERSION, 0, 0, 0};
    Efga_CoordinateBlock *block = efga_CoordBlockPtrCreate(2, nullptr);
    const double xy[] = {0, 0, 4, 1, 2, 5, 0, 0};
    for (int32_t p = 0; p < 2; ++p) {
      block->parts[p] = egda_BaseDataCreate(2, 4 - p, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
      std::memcpy(block->parts[p]->origin, xy, sizeof(double) * 2 * (4 - p));
    }
    Eant_Element *elements[] = {
        eant_PolylineElementSetValues(nullptr, nullptr, conversion, nullptr, EANT_ELEMKEY_LINESTYLE, 0,
                                      EANT_ELEMKEY_POLYLINECOORDS, EANT_LOCAL, block, EANT_ELEMKEY_END),
        eant_PolygonElementSetValues(nullptr, nullptr, conversion, nullptr, EANT_ELEMKEY_FILLSTYLE, 0,
                                     EANT_ELEMKEY_POLYGONCOORDS, EANT_LOCAL, block, EANT_ELEMKEY_END),
        eant_PointElementSetValues(nullptr, nullptr, conversion, nullptr, EANT_ELEMKEY_LINESTYLE, 0,
                                   EANT_ELEMKEY_POINTCOORD, EANT_LOCAL, block, EANT_ELEMKEY_END),
        eant_TextElementCreate(nullptr, nullptr), nullptr};
    // The text is set field by field: its keyword list would measure it with fonts.
    if (Eant_Element *text = elements[3]) {
      eant_TextElementSetText(text, EANT_LOCAL, u"smile \u263A \xFFAB" u"OWNER\xFFBB", nullptr);
      eant_TextElementSetAlignment(text, 0, 2, nullptr);
      eant_TextElementSetLocationDataBoth(text, nullptr, 0.0, 3.0, EANT_LOCAL, block, nullptr);
    }
    Eant_Element *child = eant_PolylineElementSetValues(nullptr, nullptr, conversion, nullptr, EANT_ELEMKEY_LINESTYLE,
                                                        0, EANT_ELEMKEY_POLYLINECOORDS, EANT_LOCAL, block,
                                                        EANT_ELEMKEY_END);
    efga_CoordBlockDelete(block, nullptr);
    if (child) child->id = 5;
    Eant_Element *group = eant_GroupElementSetValues(nullptr, nullptr, conversion, nullptr, EANT_ELEMKEY_NAME, "group",
                                                     EANT_ELEMKEY_CHILDREN, child, EANT_ELEMKEY_END);
    if (group) {
      group->id = 4;
      elements[4] = group;
    } else {
      eant_ElementFreeElement(&child);
    }
    Eant_Element *list = nullptr, *last = nullptr;
    for (int32_t i = 0; i < kElements; ++i) {
      Eant_Element *element = elements[i];
      if (!element) continue;
      element->id = i;
      element->attributeRecordNumber = i;
      if (i < 3) eant_ElementSetName(element, "element", nullptr);
      eant_ElementSetUnits(element, 3, "meters", nullptr);
      element->previous = last;
      (last ? last->next : list) = element;
      last = element;
    }
    eant_ElementNodeAndListWrite(&io, nullptr, EANT_ELEMENTLIST, "layer", list, nullptr);
    eant_ElementListFree(&list);
    ehfa_FileClose(file, nullptr);
    std::ifstream in(path, std::ios::binary);
    layer.assign(std::istreambuf_iterator<char>(in), {});
    std::remove(path.c_str());
  }
};

void Drop(Eerr_ErrorReport **err) { eerr_DeleteErrorReportEx(err); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static Setup setup;
  if (size < 1 || size > (1 << 16) || setup.layer.empty()) return 0;
  const int32_t version = (data[0] & 7) % 6;
  const int32_t flags = (data[0] >> 3) & 1;
  const int element = (((data[0] >> 4) & 3) | ((data[0] >> 5) & 4)) % kElements;
  const bool typeRecord = (data[0] >> 6) & 1;
  const std::string path = Stem() + "_in.img", out = Stem() + "_out.img";
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(setup.layer.data(), static_cast<std::streamsize>(setup.layer.size()));
  }
  sqlite3 *db = nullptr;
  if (sqlite3_open(path.c_str(), &db) == SQLITE_OK) {
    sqlite3_stmt *update = nullptr;
    const std::string name = typeRecord ? kTypeRecords[element] : "AntElement_" + std::to_string(element);
    if (sqlite3_prepare_v2(db, "UPDATE entry SET data = ?1 WHERE name = ?2", -1, &update, nullptr) == SQLITE_OK) {
      sqlite3_bind_blob(update, 1, data + 1, static_cast<int>(size - 1), SQLITE_TRANSIENT);
      sqlite3_bind_text(update, 2, name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_step(update);
    }
    sqlite3_finalize(update);
  }
  sqlite3_close(db);

  Eerr_ErrorReport *err = nullptr;
  Ehfa_File *file = ehfa_FileOpen(path.c_str(), "r", setup.toolkit, &err);
  Drop(&err);
  if (file) {
    Eant_FileIO io{file, version, 0, flags, 0};
    Eant_Element *list = eant_ElementNodeAndListRead(nullptr, &io, nullptr, EANT_ELEMENTLIST, &err);
    Drop(&err);
    eant_ElementListCount(list, &err);
    Eant_Element *copy = eant_ElementListCopy(list, nullptr, &err);
    Drop(&err);
    eant_ElementListFree(&copy);
    evec_BboxDelete(eant_ElementListBoundingBoxGet(list, &err), nullptr);
    Drop(&err);
    evec_BboxDelete(eant_ElementListBoundingBoxCalculateNoSave(list, nullptr, setup.conversion, &err), nullptr);
    Drop(&err);
    for (Eant_Element *e = list; e; e = e->next) {
      egda_BaseDataDelete(eant_ElementRotatedBoundingBoxGet(e, nullptr, &err), nullptr);
      Drop(&err);
      Eevg_Coord *t = eant_ParametersGetFromPolynomial(e->xformMatrix, nullptr, nullptr, nullptr, &err);
      Drop(&err);
      eevg_CoordFree(&t);
      if (e->elmType == EANT_TEXT) {
        emsc_HeapFree(eant_TextGetEvaluatedUCTextString(e, &err));
        Drop(&err);
        eant_ElementCheckForSmartData(e, &err);
        Drop(&err);
      }
    }
    eant_ElementListMakeUniqueIDs(list, 0, &err);
    if (list) {
      Ehfa_File *back = ehfa_FileCreate(out.c_str(), setup.toolkit, &err);
      Drop(&err);
      if (back) {
        Eant_FileIO again{back, EANT_ANNOTATION_VERSION, 0, 0, 0};
        eant_ElementNodeAndListWrite(&again, nullptr, EANT_ELEMENTLIST, "layer", list, &err);
        Drop(&err);
        ehfa_FileClose(back, &err);
        Drop(&err);
      }
    }
    eant_ElementListFree(&list);
    ehfa_FileClose(file, &err);
    Drop(&err);
  }
  for (const std::string &name : {path, out}) {
    std::remove(name.c_str());
    std::remove((name + "-journal").c_str());
  }
  return 0;
}

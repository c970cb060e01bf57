// Element lists read from a layer whose element records are damaged. A layer of three elements is
// written once; for each input the record of one element is replaced by the input's bytes and the
// list node is read. The first byte picks the element (bits 4-5), the layer version (bits 0-2,
// taken modulo 6, so that 5 is an unknown one) and reading in file order (bit 3). What is read is
// counted, copied, boxed, renumbered and written back.
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "eant.h"
#include "eant_fuzz_support.h"
#include "emsc.h"
#include "fuzz_support.h"

namespace {

// An element type of the common part alone.
struct FuzzType : taviron::fuzz::CommonElementType<FuzzType> {
  static const Eant_ElementFunctions table;
};
const Eant_ElementFunctions FuzzType::table = FuzzType::MakeTable();

// The stem of the files the target writes, in its scratch folder.
const std::string &Stem() {
  static const std::string stem = taviron::fuzz::ScratchFile("layer");
  return stem;
}

struct Setup {
  Eint_InitToolkitData *toolkit = nullptr;
  std::string layer; // the bytes of the layer file of three elements
  Setup() {
    toolkit = eint_InitToolkit(nullptr);
    eant_Init(toolkit, nullptr);
    taviron::eant::SetTestElementType(EANT_POLYLINE, &FuzzType::Read, nullptr);
    const std::string path = Stem() + ".img";
    Ehfa_File *file = ehfa_FileCreate(path.c_str(), toolkit, nullptr);
    if (!file) return;
    Eant_FileIO io{file, EANT_ANNOTATION_VERSION, 0, 0, 0};
    Eant_Element *list = nullptr, *last = nullptr;
    for (int32_t i = 0; i < 3; ++i) {
      Eant_Element *element = eant_ElementCreate(nullptr, nullptr);
      element->id = i;
      element->elmType = EANT_POLYLINE;
      element->functions = &FuzzType::table;
      element->attributeRecordNumber = i;
      eant_ElementSetName(element, "element", nullptr);
      eant_ElementSetUnits(element, 3, "meters", nullptr);
      eant_ElementSetBBox(element, 0, 0, 0, i, i, i, i, 0, nullptr);
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
  const int element = ((data[0] >> 4) & 3) % 3;
  const std::string path = Stem() + "_in.img", out = Stem() + "_out.img";
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(setup.layer.data(), static_cast<std::streamsize>(setup.layer.size()));
  }
  sqlite3 *db = nullptr;
  if (sqlite3_open(path.c_str(), &db) == SQLITE_OK) {
    sqlite3_stmt *update = nullptr;
    const std::string name = "AntElement_" + std::to_string(element);
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
    for (Eant_Element *e = list; e; e = e->next) {
      egda_BaseDataDelete(eant_ElementRotatedBoundingBoxGet(e, nullptr, &err), nullptr);
      Drop(&err);
      Eevg_Coord *t = eant_ParametersGetFromPolynomial(e->xformMatrix, nullptr, nullptr, nullptr, &err);
      Drop(&err);
      eevg_CoordFree(&t);
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

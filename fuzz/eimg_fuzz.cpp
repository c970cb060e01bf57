// Raster layers over damaged image files. The first byte chooses the layer's pixel type and what
// the rest replaces behind the layer's back: the stored layer record, one stored block, or (with
// the whole file cut to that length) the file itself. The layer is then listed, opened, read
// whole, read through a transform, written and closed: every failure must be a report.
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "eimg.h"
#include "emsc.h"
#include "exfr.h"

namespace {

const std::string &FileName() {
  static const std::string name = "/tmp/eimg_fuzz_" + std::to_string(getpid()) + ".img";
  return name;
}

void Make(int32_t type) {
  std::remove(FileName().c_str());
  const std::string layerName = FileName() + "(:Layer_1)";
  Eimg_Layer *layer = eimg_LayerCreate(layerName.c_str(), 1, type, 13, 9, nullptr, nullptr, 2, 4, 4, 0);
  if (!layer) return;
  Egda_BaseData *rect = eimg_PixelRectCreate(13, 9, EGDA_TYPE_F64, nullptr);
  if (rect) {
    for (int32_t i = 0; i < 13 * 9; ++i) reinterpret_cast<double *>(rect->data)[i] = i;
    eimg_LayerWrite(layer, 0, 0, 13, 9, rect, nullptr);
  }
  eimg_PixelRectDelete(rect, nullptr);
  eimg_LayerClose(layer, nullptr);
}

void Replace(const char *sql, const uint8_t *data, size_t size) {
  sqlite3 *db = nullptr;
  if (sqlite3_open(FileName().c_str(), &db) == SQLITE_OK) {
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK) {
      sqlite3_bind_blob(stmt, 1, data, static_cast<int>(size), SQLITE_TRANSIENT);
      sqlite3_step(stmt);
    }
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
}

void Exercise() {
  Eerr_ErrorReport *err = nullptr;
  Estr_StringList *names = eimg_LayerGetNames(FileName().c_str(), nullptr, &err);
  eerr_DeleteErrorReportEx(&err);
  eimg_LayerNameStackDelete(names, nullptr);
  const std::string layerName = FileName() + "(:Layer_1)";
  Eimg_Layer *layer = eimg_LayerOpen(layerName.c_str(), nullptr, &err, 0);
  eerr_DeleteErrorReportEx(&err);
  if (!layer) return;
  Egda_BaseData *rect = eimg_PixelRectCreate(20, 12, EGDA_TYPE_C128, nullptr);
  eimg_LayerRead(layer, -3, -2, 20, 12, rect, &err);
  eerr_DeleteErrorReportEx(&err);
  _exfr_XForm *xform = exfr_XFormCreateUsingCoeffs(0.7, 0.2, 1.5, -0.1, 0.9, 0.5, nullptr);
  eimg_LayerChangeOptions(layer, &err, 41, xform, "Cubic Convolution", 0);
  eerr_DeleteErrorReportEx(&err);
  eimg_LayerRead(layer, 0, 0, 20, 12, rect, &err);
  eerr_DeleteErrorReportEx(&err);
  eimg_LayerWrite(layer, 5, 5, 20, 12, rect, &err);
  eerr_DeleteErrorReportEx(&err);
  exfr_XFormFree(&xform, nullptr);
  eimg_PixelRectDelete(rect, nullptr);
  eimg_LayerClose(layer, &err);
  eerr_DeleteErrorReportEx(&err);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const uint8_t choice = data[0];
  ++data;
  --size;
  Make(choice % 13);
  switch ((choice / 13) % 3) {
  case 0: Replace("UPDATE entry SET data = ?1 WHERE type = 'Eimg_Layer'", data, size); break;
  case 1: Replace("UPDATE block SET data = ?1 WHERE row = 1 AND col = 1", data, size); break;
  default:
    if (truncate(FileName().c_str(), static_cast<off_t>(size * 8)) != 0) return 0;
    break;
  }
  Exercise();
  std::remove(FileName().c_str());
  std::remove((FileName() + "-journal").c_str());
  return 0;
}

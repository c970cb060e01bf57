// Raster layers over damaged image files. The first byte chooses the layer's pixel type and what
// the rest replaces behind the layer's back: the stored layer record, one stored block, or (with
// the whole file cut to that length) the file itself. The layer is then listed, opened, read
// whole, read through a transform, written and closed: every failure must be a report.
//
// The undamaged file of each pixel type is made once; each input starts from a copy of it. A
// replacement block is one of the layer's twelve blocks (the second byte: row in bits 0-1, column
// in bits 2-3) and is fitted to the stored block's size (cut, or filled with zeros) unless bit 7
// of that byte asks for the bytes as they come.
#include <sqlite3.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "eimg.h"
#include "emsc.h"
#include "exfr.h"
#include "fuzz_support.h"

namespace {

const std::string &FileName() {
  static const std::string name = taviron::fuzz::ScratchFile("layer.img");
  return name;
}

// The bytes of the file of a layer of the pixel type: 13 x 9 pixels in blocks of 4 x 4.
std::string Make(int32_t type) {
  std::remove(FileName().c_str());
  const std::string layerName = FileName() + "(:Layer_1)";
  Eimg_Layer *layer = eimg_LayerCreate(layerName.c_str(), 1, type, 13, 9, nullptr, nullptr, 2, 4, 4, 0);
  if (!layer) return {};
  Egda_BaseData *rect = eimg_PixelRectCreate(13, 9, EGDA_TYPE_F64, nullptr);
  if (rect) {
    for (int32_t i = 0; i < 13 * 9; ++i) reinterpret_cast<double *>(rect->data)[i] = i;
    eimg_LayerWrite(layer, 0, 0, 13, 9, rect, nullptr);
  }
  eimg_PixelRectDelete(rect, nullptr);
  eimg_LayerClose(layer, nullptr);
  std::ifstream in(FileName(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

const std::string &Base(int32_t type) {
  static std::array<std::string, 13> files;
  static std::array<bool, 13> made{};
  if (!made[static_cast<size_t>(type)]) {
    files[static_cast<size_t>(type)] = Make(type);
    made[static_cast<size_t>(type)] = true;
  }
  return files[static_cast<size_t>(type)];
}

// Replaces the stored layer record, or the block at (row, col) (fitted to its stored size when
// asked), with the bytes.
void Replace(bool block, int32_t row, int32_t col, bool fit, const uint8_t *data, size_t size) {
  sqlite3 *db = nullptr;
  if (sqlite3_open(FileName().c_str(), &db) == SQLITE_OK) {
    // The copy needs no durability: no journal file, no waiting for the disk.
    sqlite3_exec(db, "PRAGMA journal_mode = MEMORY; PRAGMA synchronous = OFF", nullptr, nullptr, nullptr);
    std::string bytes(reinterpret_cast<const char *>(data), size);
    sqlite3_stmt *stmt = nullptr;
    if (block && fit &&
        sqlite3_prepare_v2(db, "SELECT length(data) FROM block WHERE row = ?1 AND col = ?2", -1, &stmt,
                           nullptr) == SQLITE_OK) {
      sqlite3_bind_int(stmt, 1, row);
      sqlite3_bind_int(stmt, 2, col);
      if (sqlite3_step(stmt) == SQLITE_ROW) bytes.resize(static_cast<size_t>(sqlite3_column_int(stmt, 0)));
    }
    sqlite3_finalize(stmt);
    stmt = nullptr;
    const char *sql = block ? "UPDATE block SET data = ?1 WHERE row = ?2 AND col = ?3"
                            : "UPDATE entry SET data = ?1 WHERE type = 'Eimg_Layer'";
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK) {
      sqlite3_bind_blob(stmt, 1, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
      if (block) {
        sqlite3_bind_int(stmt, 2, row);
        sqlite3_bind_int(stmt, 3, col);
      }
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
  const std::string &base = Base(choice % 13);
  if (base.empty()) return 0;
  {
    std::ofstream out(FileName(), std::ios::binary | std::ios::trunc);
    out << base;
  }
  switch ((choice / 13) % 3) {
  case 0: Replace(false, 0, 0, false, data, size); break;
  case 1: {
    const uint8_t where = size ? data[0] : 0;
    if (size) {
      ++data;
      --size;
    }
    Replace(true, (where & 3) % 3, where >> 2 & 3, !(where & 0x80), data, size);
    break;
  }
  default:
    if (truncate(FileName().c_str(), static_cast<off_t>(size * 8)) != 0) return 0;
    break;
  }
  Exercise();
  std::remove(FileName().c_str());
  std::remove((FileName() + "-journal").c_str());
  return 0;
}

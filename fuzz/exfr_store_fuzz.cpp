// The readers of stored transforms, map information and projection parameters on damaged nodes.
// A hierarchical file holding a frame with a transform of three steps, its map information and
// projection parameters is made once; each input then replaces the stored bytes of some of those
// nodes: runs of (node selector, length, bytes).
#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "ehfa.h"
#include "eprj.h"
#include "exfr.h"
#include "emsc.h"
#include "fuzz_support.h"

namespace {

const char *const kNodes[] = {"XForm", "Step_1", "Step_2", "Step_3", "Map_Info", "Projection"};

std::string ReadAll(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The bytes of the undamaged file.
std::string BaseFile(const std::string &path) {
  Ehfa_File *f = ehfa_FileCreate(path.c_str(), nullptr, nullptr, 0);
  if (!f) return {};
  ehfa_EntryWrite(f, ":", "Frame", "Frame_Type", EHFA_CHILD, nullptr);
  Efga_Polynomial *quadratic = efga_BasePolynomialCreate(2, 2, 2, EGDA_TYPE_F64, nullptr);
  Efga_Polynomial *affine = efga_PolyCreate2DAffine(1, 2, 0.5, 2, 3, nullptr);
  Efga_Polynomial *inverse = efga_PolynomialInvert(affine, nullptr, nullptr);
  _exfr_XForm *curve = exfr_XFormCreate(quadratic, 0, nullptr);
  _exfr_XForm *pair = exfr_XFormCreateFromPolyPair(affine, inverse, nullptr);
  _exfr_XForm *chain = exfr_XFormCompose(pair, curve, nullptr, nullptr);
  exfr_XFormTranslate(chain, 5, 6, nullptr);
  exfr_XFormWrite(f, ":Frame", chain, nullptr);
  Eprj_MapInfo *info = eprj_MapInfoCreate(nullptr);
  eprj_MapInfoUnitsSet(info, "meters", nullptr);
  eprj_MapInfoProjectionNameSet(info, "UTM", nullptr);
  eprj_MapInfoWrite(f, ":Frame", info, nullptr);
  Eprj_ProParameters *p = eprj_ProParametersCreate(nullptr);
  eprj_DblArrayCreate(15, &p->proParams, nullptr);
  eprj_SpheroidByName(nullptr, "WGS 84", &p->proSpheroid, nullptr);
  eprj_DatumByName(nullptr, "WGS 84", "WGS 84", &p->proSpheroid.datum, nullptr);
  eprj_ProParametersWrite(f, ":Frame", p, nullptr);
  ehfa_FileClose(f, nullptr);
  eprj_ProParametersFree(&p);
  eprj_MapInfoFree(&info);
  exfr_XFormFree(&chain, nullptr);
  exfr_XFormFree(&pair, nullptr);
  exfr_XFormFree(&curve, nullptr);
  efga_PolynomialDelete(inverse, nullptr);
  efga_PolynomialDelete(affine, nullptr);
  efga_PolynomialDelete(quadratic, nullptr);
  return ReadAll(path);
}

void ReadEverything(const std::string &path) {
  Eerr_ErrorReport *err = nullptr;
  Ehfa_File *f = ehfa_FileOpen(path.c_str(), "r", nullptr, &err);
  eerr_DeleteErrorReportEx(&err);
  if (!f) return;
  _exfr_XForm *x = exfr_XFormRead(f, ":Frame", &err);
  eerr_DeleteErrorReportEx(&err);
  exfr_XFormFree(&x, nullptr);
  Eprj_MapInfo *info = eprj_MapInfoRead(f, ":Frame", nullptr, 0, &err);
  eerr_DeleteErrorReportEx(&err);
  eprj_MapInfoFree(&info);
  Eprj_ProParameters *p = eprj_ProParametersRead(f, ":Frame", nullptr, 0, &err);
  eerr_DeleteErrorReportEx(&err);
  eprj_ProParametersFree(&p);
  if (ehfa_EntrySeek(f, EHFA_PATH, ":Frame", nullptr)) {
    p = eprj_ProParametersReadSimple(f, 0);
    eprj_ProParametersFree(&p);
  }
  ehfa_FileClose(f, &err);
  eerr_DeleteErrorReportEx(&err);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string path = taviron::fuzz::ScratchFile("frame.img");
  static const std::string base = BaseFile(path);
  if (base.empty()) return 0;
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << base;
  }
  sqlite3 *db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
    sqlite3_close(db);
    return 0;
  }
  // The copy needs no durability: no journal file, no waiting for the disk.
  sqlite3_exec(db, "PRAGMA journal_mode = MEMORY; PRAGMA synchronous = OFF; BEGIN", nullptr, nullptr, nullptr);
  while (size >= 2) {
    const char *node = kNodes[data[0] % std::size(kNodes)];
    const size_t length = std::min<size_t>(data[1], size - 2);
    sqlite3_stmt *update = nullptr;
    if (sqlite3_prepare_v2(db, "UPDATE entry SET data = ?1 WHERE name = ?2", -1, &update, nullptr) == SQLITE_OK) {
      sqlite3_bind_blob(update, 1, data + 2, static_cast<int>(length), SQLITE_TRANSIENT);
      sqlite3_bind_text(update, 2, node, -1, SQLITE_STATIC);
      sqlite3_step(update);
    }
    sqlite3_finalize(update);
    data += 2 + length;
    size -= 2 + length;
  }
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  ReadEverything(path);
  std::remove(path.c_str());
  return 0;
}

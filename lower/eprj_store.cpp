// The projection package's designs and data, and map information and projection parameters as
// nodes of hierarchical files.
#include "eprj.h"

#include <cstring>
#include <initializer_list>

#include "ehfa_internal.h"
#include "emsc.h"
#include "eprj_internal.h"
#include "internal.h"
#include "record.h"

namespace lower = taviron::lower;
namespace record = taviron::record;
using namespace taviron::eprj;

namespace {

// Defines the designs in order (nested ones first) and returns the last; the failure of design
// n is reported with code n + 1.
Emif_Design *DefineDesigns(std::initializer_list<const record::Design *> designs, Emif_Dictionary *dictionary,
                           const char *reporter, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!dictionary) {
    lower::Report(err, reporter, 1, "Invalid design dictionary");
    return nullptr;
  }
  Emif_Design *defined = nullptr;
  int32_t code = 1;
  for (const record::Design *design : designs) {
    ++code;
    lower::CalleeReport inner;
    defined = record::Define(*design, dictionary, &inner);
    if (!defined) {
      lower::ReportCallee(err, inner, reporter, code, "emif_DefineObject");
      return nullptr;
    }
  }
  return defined;
}

void FreePackageData(void *data) {
  auto *package = static_cast<Eprj_PackageData *>(data);
  if (!package) return;
  emif_DictionaryDelete(package->dictionary, nullptr);
  emsc_HeapFree(package);
}

// The designs one node operation needs, in a dictionary of its own.
class NodeDesigns {
public:
  NodeDesigns() = default;
  NodeDesigns(const NodeDesigns &) = delete;
  NodeDesigns &operator=(const NodeDesigns &) = delete;
  ~NodeDesigns() { emif_DictionaryDelete(dictionary_, nullptr); }

  // The map-information (or projection-parameters) design; null with a report.
  const Emif_Design *Get(bool mapInfo, const char *reporter, int32_t code, Eerr_ErrorReport **err) {
    lower::CalleeReport inner;
    dictionary_ = emif_DictionaryCreate(&inner);
    if (!dictionary_) {
      lower::ReportCallee(err, inner, reporter, code, "emif_NewDictionary");
      return nullptr;
    }
    const Emif_Design *design = mapInfo ? eprj_MapInfoDesignDefine(dictionary_, &inner)
                                        : eprj_ProParametersDesignDefine(dictionary_, &inner);
    if (!design)
      lower::ReportCallee(err, inner, reporter, code,
                          mapInfo ? "eprj_MapInfoDesignDefine" : "eprj_ProParametersDesignDefine");
    return design;
  }

private:
  Emif_Dictionary *dictionary_ = nullptr;
};

// Moves to the entry at path (null: stays). Codes: `code` for a failed move.
bool MoveToBase(Ehfa_File *file, const char *path, const char *reporter, int32_t code,
                Eerr_ErrorReport **err) {
  if (!path) return true;
  lower::CalleeReport inner;
  if (ehfa_EntrySeek(file, EHFA_PATH, path, &inner)) return true;
  if (inner) lower::ReportCallee(err, inner, reporter, code, "ehfa_EntrySeek");
  else lower::Report(err, reporter, code, "No entry %s in %s", path, file->fileName);
  return false;
}

// Writes the record as the child `node` of the entry at path (null: the current entry),
// rewriting the child when there is one. The written child stays current unless keepCurrent.
// Codes: 2 designs, 3 locating, 4 writing.
bool WriteNode(Ehfa_File *file, const char *path, const char *node, const void *record,
               bool mapInfo, bool keepCurrent, const char *reporter, Eerr_ErrorReport **err) {
  NodeDesigns designs;
  const Emif_Design *design = designs.Get(mapInfo, reporter, 2, err);
  if (!design) return false;
  EhfaSavedEntry saved(file);
  if (!saved.Saved()) {
    lower::ReportCallee(err, saved.problem, reporter, 3, "ehfa_EntryPositionGet");
    return false;
  }
  if (!MoveToBase(file, path, reporter, 3, err)) return false;
  lower::CalleeReport inner;
  const bool exists = ehfa_EntryPeek(file, EHFA_CHILD_NAMED, node, &inner) != nullptr;
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 3, "ehfa_EntryPeek");
    return false;
  }
  if (exists && !ehfa_EntrySeek(file, EHFA_CHILD_NAMED, node, &inner)) {
    lower::ReportCallee(err, inner, reporter, 3, "ehfa_EntrySeek");
    return false;
  }
  const bool written =
      exists ? ehfa_ObjectWrite(file, nullptr, nullptr, nullptr, EHFA_OVERWRITE, record, design, &inner)
             : ehfa_ObjectWrite(file, nullptr, node, emif_DesignName(design), EHFA_CHILD, record,
                                design, &inner);
  if (!written) {
    lower::ReportCallee(err, inner, reporter, 4, "ehfa_ObjectWrite");
    return false;
  }
  saved.restore = keepCurrent;
  return true;
}

// Reads the child `node` of the entry at path (null: the current entry) into a new record, which
// is returned; the child becomes current. Codes: 2 designs, 3 locating, 4 reading.
void *ReadNode(Ehfa_File *file, const char *path, const char *node, bool mapInfo,
               const char *reporter, Eerr_ErrorReport **err) {
  NodeDesigns designs;
  const Emif_Design *design = designs.Get(mapInfo, reporter, 2, err);
  if (!design) return nullptr;
  EhfaSavedEntry saved(file);
  if (!saved.Saved()) {
    lower::ReportCallee(err, saved.problem, reporter, 3, "ehfa_EntryPositionGet");
    return nullptr;
  }
  if (!MoveToBase(file, path, reporter, 3, err)) return nullptr;
  lower::CalleeReport inner;
  const Ehfa_Entry *entry = ehfa_EntryPeek(file, EHFA_CHILD_NAMED, node, &inner);
  if (!entry) {
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 3, "ehfa_EntryPeek");
    } else {
      char *at = ehfa_CurrentEntryPath(file, nullptr);
      lower::Report(err, reporter, 3, "No node %s below %s in %s", node, at ? at : "the entry",
                    file->fileName);
      emsc_HeapFree(at);
    }
    return nullptr;
  }
  if (std::strcmp(entry->type, emif_DesignName(design)) != 0) {
    lower::Report(err, reporter, 4, "Node %s of %s holds a record of design %s, not %s", node,
                  file->fileName, entry->type, emif_DesignName(design));
    return nullptr;
  }
  void *record = ehfa_ObjectRead(file, nullptr, node, EHFA_CHILD_NAMED, nullptr, design, &inner);
  if (!record) {
    lower::ReportCallee(err, inner, reporter, 4, "ehfa_ObjectRead");
    return nullptr;
  }
  saved.restore = false;
  return record;
}

} // namespace

extern "C" {

Emif_Design *eprj_MapInfoDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns({&kCoordinateDesign, &kSizeDesign, &kMapInfoDesign}, dictionary,
                       "eprj_MapInfoDesignDefine", err);
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eprj_ProParametersDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns({&kDatumDesign, &kSpheroidDesign, &kProParametersDesign}, dictionary,
                       "eprj_ProParametersDesignDefine", err);
} TAVIRON_GUARD(err, nullptr)

int32_t eprj_Init(Eint_InitToolkitData *init, Eerr_ErrorReport **err) try {
  static const char *const kReporter = "eprj_Init";
  lower::Clear(err);
  if (!init) {
    lower::Report(err, kReporter, 1, "Invalid toolkit record");
    return -1;
  }
  if (init->projectionData) return 0;
  auto *package = static_cast<Eprj_PackageData *>(emsc_HeapMalloc(sizeof(Eprj_PackageData)));
  if (!package) {
    lower::Report(err, kReporter, 2, "Error allocating the projection package data");
    return -1;
  }
  lower::CalleeReport inner;
  package->dictionary = emif_DictionaryCreate(&inner);
  if (!package->dictionary) {
    lower::ReportCallee(err, inner, kReporter, 3, "emif_NewDictionary");
    FreePackageData(package);
    return -1;
  }
  if (!eprj_MapInfoDesignDefine(package->dictionary, &inner)) {
    lower::ReportCallee(err, inner, kReporter, 4, "eprj_MapInfoDesignDefine");
    FreePackageData(package);
    return -1;
  }
  if (!eprj_ProParametersDesignDefine(package->dictionary, &inner)) {
    lower::ReportCallee(err, inner, kReporter, 5, "eprj_ProParametersDesignDefine");
    FreePackageData(package);
    return -1;
  }
  init->projectionData = package;
  init->projectionDataFree = FreePackageData;
  return 0;
} TAVIRON_GUARD(err, -1)

int32_t eprj_MapInfoWrite(Ehfa_File *file, const char *path, const Eprj_MapInfo *info,
                          Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!file || !info) {
    lower::Report(err, "eprj_MapInfoWrite", 1, "Invalid file or map information");
    return -1;
  }
  return WriteNode(file, path, EPRJ_MAPINFO_NODE, info, true, false, "eprj_MapInfoWrite", err)
             ? 0
             : -1;
} TAVIRON_GUARD(err, -1)

int32_t eprj_ProParametersWrite(Ehfa_File *file, const char *path,
                                const Eprj_ProParameters *parameters, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!file || !parameters) {
    lower::Report(err, "eprj_ProParametersWrite", 1, "Invalid file or projection parameters");
    return -1;
  }
  return WriteNode(file, path, EPRJ_PROPARAMETERS_NODE, parameters, false, false,
                   "eprj_ProParametersWrite", err)
             ? 0
             : -1;
} TAVIRON_GUARD(err, -1)

Eprj_MapInfo *eprj_MapInfoRead(Ehfa_File *file, const char *path, Eprj_MapInfo *info,
                               int32_t /*reserved*/, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!file) {
    lower::Report(err, "eprj_MapInfoRead", 1, "Invalid file");
    return nullptr;
  }
  auto *read = static_cast<Eprj_MapInfo *>(
      ReadNode(file, path, EPRJ_MAPINFO_NODE, true, "eprj_MapInfoRead", err));
  if (!read || !info) return read;
  FreeMapInfoContents(*info);
  *info = *read;
  emsc_HeapFree(read);
  return info;
} TAVIRON_GUARD(err, nullptr)

Eprj_ProParameters *eprj_ProParametersRead(Ehfa_File *file, const char *path,
                                           Eprj_ProParameters *parameters, int32_t /*reserved*/,
                                           Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!file) {
    lower::Report(err, "eprj_ProParametersRead", 1, "Invalid file");
    return nullptr;
  }
  auto *read = static_cast<Eprj_ProParameters *>(
      ReadNode(file, path, EPRJ_PROPARAMETERS_NODE, false, "eprj_ProParametersRead", err));
  if (!read || !parameters) return read;
  FreeProParametersContents(*parameters);
  *parameters = *read;
  emsc_HeapFree(read);
  return parameters;
} TAVIRON_GUARD(err, nullptr)

int32_t eprj_ProParametersWriteSimple(Ehfa_File *file, int32_t /*reserved*/,
                                      const Eprj_ProParameters *parameters) try {
  if (!file || !parameters) return -1;
  return WriteNode(file, nullptr, EPRJ_PROPARAMETERS_NODE, parameters, false, true,
                   "eprj_ProParametersWriteSimple", nullptr)
             ? 0
             : -1;
} TAVIRON_GUARD_QUIET(-1)

Eprj_ProParameters *eprj_ProParametersReadSimple(Ehfa_File *file, int32_t /*reserved*/) try {
  if (!file) return nullptr;
  return static_cast<Eprj_ProParameters *>(ReadNode(file, nullptr, EPRJ_PROPARAMETERS_NODE, false,
                                                    "eprj_ProParametersReadSimple", nullptr));
} TAVIRON_GUARD_QUIET(nullptr)

} // extern "C"

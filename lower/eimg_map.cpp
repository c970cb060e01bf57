// Map information and projection below a layer's entry, and records stored at nodes of image
// files.
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

// ---- Map information and projection of a layer (nodes below its entry) ----

// Whether the layer's entry has a child of that name (the file is locked by the caller): 1 yes,
// 0 no, -1 when the lookup failed (reported).
int32_t HasChild(const Eimg_Layer *layer, const char *child, const char *reporter, int32_t code,
                 Eerr_ErrorReport **err) {
  const LayerState &state = StateOf(layer);
  if (state.replacing) return 0; // the nodes in the file are the old layer's
  lower::CalleeReport inner;
  Ehfa_Entry *entry = ehfa_EntryPeek(state.shared->file, EHFA_PATH_PEEK, (state.node + ":" + child).c_str(), &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, code, "ehfa_EntryPeek");
    return -1;
  }
  return entry ? 1 : 0;
}

// The stored map information (into info, or new), or null (with a report only for a failure).
Eprj_MapInfo *StoredMapInfo(Eimg_Layer *layer, Eprj_MapInfo *info, const char *reporter, int32_t code,
                            Eerr_ErrorReport **err) {
  LayerState &state = StateOf(layer);
  std::lock_guard<std::mutex> lock(state.shared->mutex);
  if (HasChild(layer, EPRJ_MAPINFO_NODE, reporter, code, err) != 1) return nullptr;
  lower::CalleeReport inner;
  Eprj_MapInfo *read = eprj_MapInfoRead(state.shared->file, state.node.c_str(), info, 0, &inner);
  if (!read) lower::ReportCallee(err, inner, reporter, code, "eprj_MapInfoRead");
  return read;
}

Eprj_ProParameters *StoredParameters(Eimg_Layer *layer, Eprj_ProParameters *parameters, const char *reporter,
                                     int32_t code, Eerr_ErrorReport **err) {
  LayerState &state = StateOf(layer);
  std::lock_guard<std::mutex> lock(state.shared->mutex);
  if (HasChild(layer, EPRJ_PROPARAMETERS_NODE, reporter, code, err) != 1) return nullptr;
  lower::CalleeReport inner;
  Eprj_ProParameters *read =
      eprj_ProParametersRead(state.shared->file, state.node.c_str(), parameters, 0, &inner);
  if (!read) lower::ReportCallee(err, inner, reporter, code, "eprj_ProParametersRead");
  return read;
}

// The default map information of a layer without georeferencing.
Eprj_MapInfo *DefaultMapInfo(const Eimg_Layer *layer, const char *reporter, int32_t code, Eerr_ErrorReport **err) {
  lower::CalleeReport inner;
  Eprj_MapInfo *info = eprj_MapInfoCreate(&inner);
  if (!info || eprj_MapInfoProjectionNameSet(info, eprj_ProjectionNameUnknown(), &inner) != 0 ||
      eprj_MapInfoUnitsSet(info, eprj_UnitsNameOther(), &inner) != 0 ||
      eprj_MapInfoUpperLeftCenterSet(info, 0.0, 0.0, &inner) != 0 ||
      eprj_MapInfoLowerRightCenterSet(info, layer->width - 1.0, 1.0 - layer->height, &inner) != 0 ||
      eprj_MapInfoPixelSizeSet(info, 1.0, 1.0, &inner) != 0) {
    eprj_MapInfoFree(&info);
    lower::ReportCallee(err, inner, reporter, code, "eprj_MapInfoCreate");
    return nullptr;
  }
  return info;
}

// Writes a record below the layer's entry and commits it at once.
template <class Write> int32_t WriteBelow(Eimg_Layer *layer, Write write, const char *reporter, const char *callee,
                                          Eerr_ErrorReport **err) {
  LayerState &state = StateOf(layer);
  std::lock_guard<std::mutex> lock(state.shared->mutex);
  bool written = ReplaceStoredLayer(layer, reporter, 3, err); // a layer made over another: its first commit
  if (written) {
    lower::CalleeReport inner;
    written = write(state.shared->file, state.node.c_str(), &inner) == 0;
    if (!written) lower::ReportCallee(err, inner, reporter, 3, callee);
  }
  const bool committed = EndChange(state.shared, written, reporter, 3, err);
  EndReplacing(layer, committed);
  return committed ? 0 : -1;
}

// ---- Stored records at nodes ----

std::mutex dataDictionaryMutex;
Emif_Dictionary *dataDictionary = nullptr;

} // namespace

extern "C" {

Eprj_MapInfo *eimg_LayerMapInfoGet(Eimg_Layer *layer, Eerr_ErrorReport **err) try {
  static const char *const kReporter = "eimg_LayerMapInfoGet";
  lower::Clear(err);
  if (!Usable(layer, kReporter, err)) return nullptr;
  lower::CalleeReport inner;
  if (Eprj_MapInfo *stored = StoredMapInfo(layer, nullptr, kReporter, 2, &inner)) return stored;
  if (inner) {
    lower::PassOn(err, inner);
    return nullptr;
  }
  return DefaultMapInfo(layer, kReporter, 3, err);
} TAVIRON_GUARD(err, nullptr)

Eprj_MapInfo *eimg_MapInfoRead(Eimg_Layer *layer, Eprj_MapInfo *info, Eerr_ErrorReport **err) try {
  static const char *const kReporter = "eimg_MapInfoRead";
  lower::Clear(err);
  if (!Usable(layer, kReporter, err)) return nullptr;
  return StoredMapInfo(layer, info, kReporter, 2, err);
} TAVIRON_GUARD(err, nullptr)

int32_t eimg_MapInfoWrite(Eimg_Layer *layer, const Eprj_MapInfo *info, Eerr_ErrorReport **err) try {
  static const char *const kReporter = "eimg_MapInfoWrite";
  lower::Clear(err);
  if (!Usable(layer, kReporter, err)) return -1;
  if (!info) {
    lower::Report(err, kReporter, 2, "No map information given");
    return -1;
  }
  return WriteBelow(layer, [&](Ehfa_File *file, const char *path, Eerr_ErrorReport **e) {
    return eprj_MapInfoWrite(file, path, info, e);
  }, kReporter, "eprj_MapInfoWrite", err);
} TAVIRON_GUARD(err, -1)

Eprj_ProParameters *eimg_ProParametersRead(Eimg_Layer *layer, Eprj_ProParameters *parameters,
                                           Eerr_ErrorReport **err) try {
  static const char *const kReporter = "eimg_ProParametersRead";
  lower::Clear(err);
  if (!Usable(layer, kReporter, err)) return nullptr;
  return StoredParameters(layer, parameters, kReporter, 2, err);
} TAVIRON_GUARD(err, nullptr)

int32_t eimg_ProParametersWrite(Eimg_Layer *layer, const Eprj_ProParameters *parameters, Eerr_ErrorReport **err) try {
  static const char *const kReporter = "eimg_ProParametersWrite";
  lower::Clear(err);
  if (!Usable(layer, kReporter, err)) return -1;
  if (!parameters) {
    lower::Report(err, kReporter, 2, "No projection parameters given");
    return -1;
  }
  return WriteBelow(layer, [&](Ehfa_File *file, const char *path, Eerr_ErrorReport **e) {
    return eprj_ProParametersWrite(file, path, parameters, e);
  }, kReporter, "eprj_ProParametersWrite", err);
} TAVIRON_GUARD(err, -1)

int32_t eimg_LayerMapProjectionRead(Eimg_Layer *layer, Eprj_MapProjection **projection, Eerr_ErrorReport **err) try {
  static const char *const kReporter = "eimg_LayerMapProjectionRead";
  lower::Clear(err);
  if (projection) *projection = nullptr;
  if (!Usable(layer, kReporter, err)) return -1;
  if (!projection) {
    lower::Report(err, kReporter, 2, "No projection slot given");
    return -1;
  }
  lower::CalleeReport inner;
  Eprj_ProParameters *parameters = StoredParameters(layer, nullptr, kReporter, 3, &inner);
  if (!parameters) {
    const bool failed = static_cast<bool>(inner);
    lower::PassOn(err, inner);
    return failed ? -1 : 0;
  }
  *projection = eprj_ProjectionInit(StateOf(layer).init, parameters, &inner);
  eprj_ProParametersFree(&parameters);
  if (!*projection) {
    lower::ReportCallee(err, inner, kReporter, 4, "eprj_ProjectionInit");
    return -1;
  }
  return 0;
} TAVIRON_GUARD(err, -1)

int32_t eimg_LayerMapProjectionWrite(Eimg_Layer *layer, const Eprj_MapProjection *projection,
                                     Eerr_ErrorReport **err) try {
  static const char *const kReporter = "eimg_LayerMapProjectionWrite";
  lower::Clear(err);
  if (!Usable(layer, kReporter, err)) return -1;
  const Eprj_ProParameters *parameters = eprj_MapProjectionCSRGet(projection, "Eprj_ProParameters");
  if (!parameters) {
    lower::Report(err, kReporter, 2, "No projection given");
    return -1;
  }
  return WriteBelow(layer, [&](Ehfa_File *file, const char *path, Eerr_ErrorReport **e) {
    return eprj_ProParametersWrite(file, path, parameters, e);
  }, kReporter, "eprj_ProParametersWrite", err);
} TAVIRON_GUARD(err, -1)

int32_t eimg_LayerMapInformationRead(Eimg_Layer *layer, Eprj_MapInfo **info, Eprj_ProParameters **parameters,
                                     _exfr_XForm **xform, Eerr_ErrorReport **err) try {
  static const char *const kReporter = "eimg_LayerMapInformationRead";
  lower::Clear(err);
  if (info) *info = nullptr;
  if (parameters) *parameters = nullptr;
  if (xform) *xform = nullptr;
  if (!Usable(layer, kReporter, err)) return -1;
  lower::CalleeReport inner;
  Eprj_MapInfo *stored = StoredMapInfo(layer, nullptr, kReporter, 2, &inner);
  Eprj_ProParameters *pro = inner ? nullptr : StoredParameters(layer, nullptr, kReporter, 3, &inner);
  _exfr_XForm *transform = nullptr;
  if (!inner && xform) {
    LayerState &state = StateOf(layer);
    bool hasNode;
    {
      std::lock_guard<std::mutex> lock(state.shared->mutex);
      const int32_t found = HasChild(layer, EXFR_XFORM_NODE, kReporter, 4, &inner);
      hasNode = found != 0;
      if (found == 1 && !(transform = exfr_XFormRead(state.shared->file, state.node.c_str(), &inner)) && inner)
        lower::ReportCallee(&inner, inner, kReporter, 4, "exfr_XFormRead");
    }
    if (!hasNode) {
      // No stored transform: the map-to-pixel transform of the layer's map information.
      Eprj_MapInfo *grid = stored ? stored : DefaultMapInfo(layer, kReporter, 5, &inner);
      if (grid && !(transform = exfr_XFormCreateFromMapInfo(grid, 1, &inner)))
        lower::ReportCallee(&inner, inner, kReporter, 5, "exfr_XFormCreateFromMapInfo");
      if (grid != stored) eprj_MapInfoFree(&grid);
    }
  }
  if (inner) {
    eprj_MapInfoFree(&stored);
    eprj_ProParametersFree(&pro);
    exfr_XFormFree(&transform, nullptr);
    lower::PassOn(err, inner);
    return -1;
  }
  if (info) *info = stored;
  else eprj_MapInfoFree(&stored);
  if (parameters) *parameters = pro;
  else eprj_ProParametersFree(&pro);
  if (xform) *xform = transform;
  return 0;
} TAVIRON_GUARD(err, -1)

int32_t eimg_LayerMapInformationWrite(Eimg_Layer *layer, const Eprj_MapInfo *info,
                                      const Eprj_ProParameters *parameters, const _exfr_XForm *xform,
                                      Eerr_ErrorReport **err) try {
  static const char *const kReporter = "eimg_LayerMapInformationWrite";
  lower::Clear(err);
  if (!Usable(layer, kReporter, err)) return -1;
  if (info && WriteBelow(layer, [&](Ehfa_File *file, const char *path, Eerr_ErrorReport **e) {
        return eprj_MapInfoWrite(file, path, info, e);
      }, kReporter, "eprj_MapInfoWrite", err) != 0)
    return -1;
  if (parameters && WriteBelow(layer, [&](Ehfa_File *file, const char *path, Eerr_ErrorReport **e) {
        return eprj_ProParametersWrite(file, path, parameters, e);
      }, kReporter, "eprj_ProParametersWrite", err) != 0)
    return -1;
  if (xform && WriteBelow(layer, [&](Ehfa_File *file, const char *path, Eerr_ErrorReport **e) {
        return exfr_XFormWrite(file, path, xform, e);
      }, kReporter, "exfr_XFormWrite", err) != 0)
    return -1;
  return 0;
} TAVIRON_GUARD(err, -1)

const _exfr_XForm *eimg_LayerTransformationQuery(const Eimg_Layer *layer) try {
  return layer && layer->internal ? StateOf(layer).transform : nullptr;
} TAVIRON_GUARD_QUIET(nullptr)

int32_t eimg_FileDataWrite(const char *name, const Emif_Design *design, const void *data, Eerr_ErrorReport **err,
                           ...) try {
  static const char *const kReporter = "eimg_FileDataWrite";
  lower::Clear(err);
  LayerName parsed;
  if (!ParseName(name, parsed, kReporter, 1, err)) return -1;
  if (parsed.node.empty() || !design || !data) {
    lower::Report(err, kReporter, 1, "A node, a design and a record are needed");
    return -1;
  }
  FileHold hold;
  hold.shared = Acquire(parsed.file, true, nullptr, kReporter, err);
  if (!hold.shared) return -1;
  std::lock_guard<std::mutex> lock(hold.shared->mutex);
  Ehfa_File *file = hold.shared->file;
  lower::CalleeReport inner;
  Ehfa_Entry *old = ehfa_EntryPeek(file, EHFA_PATH_PEEK, parsed.node.c_str(), &inner);
  inner.Drop();
  Ehfa_Entry *written;
  if (old) {
    written = ehfa_ObjectWrite(file, parsed.node.c_str(), nullptr, emif_DesignName(design), EHFA_OVERWRITE, data,
                               design, &inner);
  } else {
    std::string parent, last;
    SplitNode(parsed.node, parent, last);
    written = ehfa_ObjectWrite(file, parent.c_str(), last.c_str(), emif_DesignName(design), EHFA_LAST_CHILD, data,
                               design, &inner);
  }
  if (!written) lower::ReportCallee(err, inner, kReporter, 2, "ehfa_ObjectWrite");
  return EndChange(hold.shared, written != nullptr, kReporter, 3, err) ? 0 : -1;
} TAVIRON_GUARD(err, -1)

void *eimg_FileDataRead(const char *name, const Emif_Design **design, void **data, Eerr_ErrorReport **err) try {
  static const char *const kReporter = "eimg_FileDataRead";
  lower::Clear(err);
  LayerName parsed;
  if (!ParseName(name, parsed, kReporter, 1, err)) return nullptr;
  if (parsed.node.empty() || !design) {
    lower::Report(err, kReporter, 1, "A node and a design slot are needed");
    return nullptr;
  }
  FileHold hold;
  hold.shared = Acquire(parsed.file, false, nullptr, kReporter, err);
  if (!hold.shared) return nullptr;
  std::lock_guard<std::mutex> lock(hold.shared->mutex);
  Ehfa_File *file = hold.shared->file;
  lower::CalleeReport inner;
  Ehfa_Entry *entry = ehfa_EntrySeek(file, EHFA_PATH, parsed.node.c_str(), &inner);
  if (!entry) {
    if (inner) lower::ReportCallee(err, inner, kReporter, 2, "ehfa_EntrySeek");
    else lower::Report(err, kReporter, 2, "No node %.200s in %.400s", parsed.node.c_str(), parsed.file.c_str());
    return nullptr;
  }
  const Emif_Design *used = *design;
  if (!used) {
    const Emif_Design *stored = emif_FindDesignByName(file->dictionary, entry->type, nullptr);
    if (!stored) {
      lower::Report(err, kReporter, 3, "Node %.200s of %.400s holds no record", parsed.node.c_str(),
                    parsed.file.c_str());
      return nullptr;
    }
    std::lock_guard<std::mutex> dictionaryLock(dataDictionaryMutex);
    if (!dataDictionary && !(dataDictionary = emif_DictionaryCreate(&inner))) {
      lower::ReportCallee(err, inner, kReporter, 4, "emif_DictionaryCreate");
      return nullptr;
    }
    if (!(used = emif_AddDesignToDictionary(dataDictionary, stored, &inner))) {
      lower::ReportCallee(err, inner, kReporter, 4, "emif_AddDesignToDictionary");
      return nullptr;
    }
  }
  void *record = ehfa_ObjectRead(file, nullptr, nullptr, EHFA_CURRENT, nullptr, used, &inner);
  if (!record) {
    lower::ReportCallee(err, inner, kReporter, 5, "ehfa_ObjectRead");
    return nullptr;
  }
  *design = used;
  if (data) *data = record;
  return record;
} TAVIRON_GUARD(err, nullptr)

} // extern "C"

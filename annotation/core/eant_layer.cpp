// Annotation layers as nodes of hierarchical files: creating, opening, reading and writing back,
// closing, renaming, deleting and moving a layer.
//
// A layer alone in its file is written into a fresh file that replaces the old one by a rename. A
// layer that shares its file is written as a new node beside the old one, which then goes; the
// whole swap is one write bracket of the file, so the file on disk holds either the old layer or
// the new one.
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>

#include "eant_internal.h"
#include "efio.h"
#include "efnp.h"
#include "emsc.h"
#include "estr.h"

namespace lower = taviron::lower;
using taviron::eant::HeapText;
using taviron::eant::NodeListPtr;
using taviron::eant::NodeNamePtr;
using taviron::eant::ParseSingleNode;

namespace {

constexpr const char *kDefaultNode = ":Annotation";

bool IsRoot(const char *path) { return !path || !*path || std::strcmp(path, ":") == 0; }

// Opens or closes a write bracket of the file: the writes inside are committed together.
bool WriteBracket(Ehfa_File *file, bool open, Eerr_ErrorReport **err) {
  return open ? ehfa_FileChange(file, err, EHFA_CHANGE_WRITE_MODE, 0, 1, 1, 1, 0) == 0
              : ehfa_FileChange(file, err, EHFA_CHANGE_WRITE_MODE, 1, 1, 0, 1, 0) == 0;
}

bool NodeExists(Ehfa_File *file, const std::string &path) {
  return ehfa_EntryPeek(file, EHFA_PATH_PEEK, path.c_str(), nullptr) != nullptr;
}

} // namespace

void taviron::eant::RemoveScratch(const char *name) {
  efio_FileUnlink(name, nullptr);
  efio_FileUnlink((std::string(name) + "-journal").c_str(), nullptr);
}

extern "C" {

Eant_Layer *eant_LayerCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Eant_Layer *layer = lower::HeapNew<Eant_Layer>();
  if (!layer) lower::Report(err, "eant_LayerCreate", 1, "Error allocating Layer");
  return layer;
}
TAVIRON_GUARD(err, nullptr)

void eant_LayerFree(Eant_Layer **layer) try {
  if (!layer || !*layer) return;
  emsc_HeapFree((*layer)->layerName);
  eant_AnnotationInfoFree(&(*layer)->antInfo);
  emsc_HeapFreeEx(layer);
}
TAVIRON_GUARD_QUIET_VOID

Eant_Layer *eant_LayerNew(Eint_InitToolkitData *toolkit, Eevg_Control *control, const char *layerName,
                          Eant_AnnotationInfo *info, const Eevg_Color *background, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_LayerNew";
  lower::Clear(err);
  if (!layerName) {
    lower::Report(err, reporter, 1, "Invalid input layer name");
    return nullptr;
  }
  NodeListPtr names{ParseSingleNode(layerName, reporter, 2, err)};
  if (!names) return nullptr;
  const char *nodePath = names->nodeCount == 1 ? names->nodes[0] : kDefaultNode;
  lower::CalleeReport inner;
  NodeNamePtr split{efnp_NodeNameParse(nodePath, &inner)};
  if (!split) {
    lower::ReportCallee(err, inner, reporter, 4, "efnp_NodeNameParse");
    return nullptr;
  }
  const char *fileName = names->files[0];
  Ehfa_File *file = nullptr;
  if (efio_FileExists(fileName, nullptr) == 1) {
    if (!(file = ehfa_FileOpen(fileName, "r+b", toolkit, &inner))) {
      lower::ReportCallee(err, inner, reporter, 5, "ehfa_FileOpen");
      return nullptr;
    }
    if (NodeExists(file, nodePath)) {
      ehfa_FileClose(file, nullptr);
      lower::Report(err, reporter, 6, "Layer already exists");
      return nullptr;
    }
    if (!IsRoot(split->parentPath) && !NodeExists(file, split->parentPath)) {
      ehfa_FileClose(file, nullptr);
      lower::Report(err, reporter, 7, "Error returned from ehfa_EntrySeek for parent");
      return nullptr;
    }
  } else {
    if (!IsRoot(split->parentPath)) {
      lower::Report(err, reporter, 8, "Nodepath is not valid for new file");
      return nullptr;
    }
    if (!(file = ehfa_FileCreate(fileName, toolkit, &inner))) {
      lower::ReportCallee(err, inner, reporter, 9, "ehfa_FileCreate");
      return nullptr;
    }
  }
  Eant_Layer *layer = eant_LayerCreate(&inner);
  auto fail = [&](int32_t code, const char *callee) -> Eant_Layer * {
    if (callee)
      lower::ReportCallee(err, inner, reporter, code, callee);
    else
      lower::Report(err, reporter, code, "Error allocating layerName");
    ehfa_FileClose(file, nullptr);
    if (layer && layer->antInfo == info) layer->antInfo = nullptr; // the caller's info stays theirs
    eant_LayerFree(&layer);
    return nullptr;
  };
  if (!layer) return fail(10, "eant_LayerCreate");
  layer->isNew = 1;
  layer->file = file;
  if (!(layer->layerName = estr_Duplicate(nodePath))) return fail(11, nullptr);
  if (!(layer->antInfo = info ? info : eant_AnnotationInfoCreate(toolkit, &inner)))
    return fail(12, "eant_AnnotationInfoCreate");
  eant_AnnotationInfoInit(layer->antInfo, control, background, &inner);
  if (inner) return fail(13, "eant_AnnotationInfoInit");
  return layer;
}
TAVIRON_GUARD(err, nullptr)

Eant_Layer *eant_LayerOpen(Eint_InitToolkitData *toolkit, Eevg_Control *control, const char *layerName,
                           const char *mode, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_LayerOpen";
  lower::Clear(err);
  if (!layerName) {
    lower::Report(err, reporter, 1, "Invalid input layer name");
    return nullptr;
  }
  if (!mode || std::strpbrk(mode, "aw")) {
    lower::Report(err, reporter, 4, "Invalid input mode");
    return nullptr;
  }
  NodeListPtr names{ParseSingleNode(layerName, reporter, 2, err)};
  if (!names) return nullptr;
  if (!toolkit) toolkit = eint_GetInit();
  lower::CalleeReport inner;
  Ehfa_File *file = ehfa_FileOpen(names->files[0], mode, toolkit, &inner);
  if (!file) {
    lower::ReportCallee(err, inner, reporter, 5, "ehfa_FileOpen");
    return nullptr;
  }
  Eant_Layer *layer = eant_LayerCreate(&inner);
  auto fail = [&](int32_t code, const char *callee) -> Eant_Layer * {
    if (callee)
      lower::ReportCallee(err, inner, reporter, code, callee);
    else
      lower::Report(err, reporter, code, "Error allocating layerName");
    ehfa_FileClose(file, nullptr);
    eant_LayerFree(&layer);
    return nullptr;
  };
  if (!layer) return fail(6, "eant_LayerCreate");
  layer->file = file;
  if (!(layer->layerName = estr_Duplicate(names->nodeCount == 1 ? names->nodes[0] : kDefaultNode)))
    return fail(7, nullptr);
  eant_AnnotationRead(layer, &inner);
  if (inner) return fail(8, "eant_AnnotationRead");
  layer->antInfo->initToolkitData = toolkit;
  if (!std::strchr(mode, '+')) {
    layer->file = nullptr;
    ehfa_FileClose(std::exchange(file, nullptr), &inner);
    if (inner) return fail(9, "ehfa_FileClose");
  }
  eant_GetFakeEevgDrawing(layer->antInfo, control, &inner);
  if (inner) return fail(10, "eant_GetFakeEevgDrawing");
  return layer;
}
TAVIRON_GUARD(err, nullptr)

void eant_AnnotationRead(Eant_Layer *layer, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_AnnotationRead";
  lower::Clear(err);
  if (!layer) return lower::Report(err, reporter, 1, "Invalid input annotation layer");
  lower::CalleeReport inner;
  Eant_AnnotationInfo *info = eant_AnnotationInfoReadWithOptions(layer->file, layer->layerName, layer->antInfo,
                                                                 &inner, EANT_OPTION_VERSION_FLAGS, 1,
                                                                 EANT_OPTION_END);
  if (info) layer->antInfo = info;
  if (inner || !info) lower::ReportCallee(err, inner, reporter, 2, "eant_AnnotationInfoRead");
}
TAVIRON_GUARD_VOID(err)

void eant_AnnotationWrite(Eant_Layer *layer, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  lower::CalleeReport inner;
  eant_AnnotationWriteNewFile(layer, &inner);
  if (layer) layer->isNew = 0;
  lower::PassOn(err, inner);
}
TAVIRON_GUARD_VOID(err)

void eant_AnnotationWriteNewFile(Eant_Layer *layer, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_AnnotationWriteNewFile";
  lower::Clear(err);
  if (!layer) return lower::Report(err, reporter, 1, "Invalid input annotation layer");
  if (!layer->file) return lower::Report(err, reporter, 2, "Input annotation layer is not open for writing");
  lower::CalleeReport inner;
  NodeNamePtr split{efnp_NodeNameParse(layer->layerName, &inner)};
  if (!split) return lower::ReportCallee(err, inner, reporter, 3, "efnp_NodeNameParse");
  Ehfa_File *file = layer->file;
  Eint_InitToolkitData *toolkit = file->init;

  // Is the layer alone in its file?
  bool alone = IsRoot(split->parentPath);
  if (alone) {
    if (ehfa_EntrySeek(file, EHFA_PATH, layer->layerName, &inner)) {
      alone = !ehfa_EntryCurrentHasPrev(file) && !ehfa_EntryCurrentHasNext(file);
    } else if (inner) {
      return lower::ReportCallee(err, inner, reporter, 4, "ehfa_EntrySeek");
    } else if (ehfa_EntrySeek(file, EHFA_PATH, ":", &inner)) {
      alone = !ehfa_EntryCurrentHasChild(file);
    } else {
      return lower::ReportCallee(err, inner, reporter, 5, "ehfa_EntrySeek for parent");
    }
  }
  if (!alone) {
    eant_AnnotationWriteExistingFile(layer, &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 6, "eant_AnnotationWriteExistingFile");
    return;
  }

  // Alone: the layer is written into a fresh file beside the old one, which it then replaces.
  const std::string oldName = file->fileName ? file->fileName : "";
  const std::filesystem::path path(oldName);
  std::string directory = path.parent_path().string(), base = path.filename().string();
  if (directory.size() > 254 || base.size() > 254 || base.empty())
    return lower::Report(err, reporter, 7, "Unable to allocate fileName");
  if (directory.empty()) directory = ".";
  HeapText temporary{efio_TempName(directory.c_str(), base.c_str(), &inner)};
  if (!temporary) return lower::ReportChained(err, inner, reporter, 8, "Unable to allocate tempFileName");
  Ehfa_File *fresh = ehfa_FileCreate(temporary.get(), toolkit, &inner);
  if (!fresh) return lower::ReportCallee(err, inner, reporter, 9, "ehfa_FileCreate");
  auto discard = [&] {
    ehfa_FileClose(fresh, nullptr);
    taviron::eant::RemoveScratch(temporary.get());
  };
  eant_AnnotationInfoWriteWithOptions(fresh, split->parentPath, split->nodeName, layer->antInfo, &inner,
                                      EANT_OPTION_VERSION_FLAGS, 1, EANT_OPTION_END);
  if (inner) {
    discard();
    return lower::ReportCallee(err, inner, reporter, 10, "eant_AnnotationInfoWriteWithOptions");
  }
  layer->file = nullptr;
  ehfa_FileClose(file, &inner);
  if (inner) {
    discard();
    layer->file = ehfa_FileOpen(oldName.c_str(), "r+b", toolkit, nullptr);
    return lower::ReportCallee(err, inner, reporter, 11, "ehfa_FileClose");
  }
  layer->file = fresh;
  if (ehfa_FileChange(fresh, &inner, EHFA_CHANGE_RENAME, oldName.c_str(), 0) != 0) {
    lower::ReportChained(err, inner, reporter, 12, "Error renaming temporary file");
    discard();
    layer->file = ehfa_FileOpen(oldName.c_str(), "r+b", toolkit, nullptr);
  }
}
TAVIRON_GUARD_VOID(err)

void eant_AnnotationWriteExistingFile(Eant_Layer *layer, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_AnnotationWriteExistingFile";
  lower::Clear(err);
  if (!layer) return lower::Report(err, reporter, 1, "Invalid input annotation layer");
  if (!layer->file) return lower::Report(err, reporter, 2, "Input annotation layer is not open for writing");
  lower::CalleeReport inner;
  NodeNamePtr split{efnp_NodeNameParse(layer->layerName, &inner)};
  if (!split) return lower::ReportCallee(err, inner, reporter, 3, "efnp_NodeNameParse");
  Ehfa_File *file = layer->file;
  const char *parent = split->parentPath, *name = split->nodeName;

  // The old node steps aside under a name no node of the parent has yet: "Old" + its name,
  // followed by a number when that is taken (it may be a layer of the user's).
  std::string old = std::string("Old") + name;
  const std::string parentPath = IsRoot(parent) ? std::string(":") : std::string(parent) + ":";
  for (int32_t n = 1; NodeExists(file, parentPath + old); ++n) old = std::string("Old") + name + "_" + std::to_string(n);

  if (!WriteBracket(file, true, &inner)) return lower::ReportCallee(err, inner, reporter, 4, "ehfa_FileChange");
  struct Close {
    Ehfa_File *file;
    ~Close() {
      lower::CalleeReport inner;
      WriteBracket(file, false, &inner);
      if (inner) eerr_PrintErrorReport(inner.Get(), 1, nullptr);
    }
  } close{file};
  const bool existed = NodeExists(file, parentPath + name);
  if (existed) {
    eant_LayerRename(file, parent, name, old.c_str(), &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 5, "eant_LayerRename");
  }
  eant_AnnotationInfoWriteWithOptions(file, parent, name, layer->antInfo, &inner, EANT_OPTION_VERSION_FLAGS, 0,
                                      EANT_OPTION_END);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 6, "eant_AnnotationInfoWriteWithOptions");
    eant_LayerDelete(file, parent, name, nullptr);
    if (existed) eant_LayerRename(file, parent, old.c_str(), name, nullptr);
    return;
  }
  if (existed) {
    eant_LayerDelete(file, parent, old.c_str(), &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 7, "eant_LayerDelete");
  }
}
TAVIRON_GUARD_VOID(err)

void eant_LayerClose(Eant_Layer *layer, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_LayerClose";
  lower::Clear(err);
  if (!layer) return lower::Report(err, reporter, 1, "Invalid input layer");
  lower::CalleeReport inner;
  if (layer->antInfo) {
    eant_DoLayerClosedCallbacks(layer->antInfo, layer, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 2, "eant_DoLayerClosedCallbacks");
  }
  if (layer->file) {
    if (layer->antInfo && layer->antInfo->modified) {
      eant_AnnotationWrite(layer, &inner);
      if (inner) {
        lower::ReportCallee(err, inner, reporter, 3, "eant_AnnotationWrite");
        ehfa_FileClose(std::exchange(layer->file, nullptr), nullptr);
        return eant_LayerFree(&layer);
      }
    }
    ehfa_FileClose(std::exchange(layer->file, nullptr), &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 4, "ehfa_FileClose");
  }
  eant_LayerFree(&layer);
}
TAVIRON_GUARD_VOID(err)

void eant_LayerRename(Ehfa_File *file, const char *nodePath, const char *oldName, const char *newName,
                      Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_LayerRename";
  lower::Clear(err);
  if (!nodePath) return lower::Report(err, reporter, 1, "Invalid input nodepath");
  if (!oldName) return lower::Report(err, reporter, 2, "Invalid input oldLayername");
  if (!newName) return lower::Report(err, reporter, 3, "Invalid input newLayername");
  lower::CalleeReport inner;
  HeapText path{efnp_PathJoin(nodePath, oldName, &inner)};
  if (!path) return lower::ReportCallee(err, inner, reporter, 4, "efnp_PathJoin");
  if (!ehfa_EntrySeek(file, EHFA_PATH, path.get(), nullptr)) return;
  if (!ehfa_EntryWrite(file, nullptr, newName, nullptr, EHFA_OVERWRITE, &inner) || inner)
    lower::ReportCallee(err, inner, reporter, 5, "ehfa_EntryWrite");
}
TAVIRON_GUARD_VOID(err)

void eant_LayerDelete(Ehfa_File *file, const char *nodePath, const char *nodeName, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_LayerDelete";
  lower::Clear(err);
  if (!nodePath) return lower::Report(err, reporter, 1, "Invalid input nodepath");
  if (!nodeName) return lower::Report(err, reporter, 2, "Invalid input nodename");
  lower::CalleeReport inner;
  HeapText path{efnp_PathJoin(nodePath, nodeName, &inner)};
  if (!path) return lower::ReportCallee(err, inner, reporter, 3, "efnp_PathJoin");
  if (!ehfa_EntrySeek(file, EHFA_PATH, path.get(), nullptr)) return;
  if (ehfa_EntryDelete(file, &inner) != 0) lower::ReportCallee(err, inner, reporter, 4, "ehfa_EntryDelete");
}
TAVIRON_GUARD_VOID(err)

void eant_LayerReplaceWithNew(Eint_InitToolkitData *toolkit, Eevg_Control *control, const char *layerName,
                              Eant_Layer *layer, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_LayerReplaceWithNew";
  lower::Clear(err);
  if (!layer) return lower::Report(err, reporter, 1, "Invalid input layer");
  if (layer->file) ehfa_FileClose(std::exchange(layer->file, nullptr), nullptr);
  lower::CalleeReport inner;
  Eant_Layer *made = eant_LayerNew(toolkit, control, layerName, layer->antInfo, nullptr, &inner);
  if (!made) return lower::ReportCallee(err, inner, reporter, 2, "eant_LayerNew");
  emsc_HeapFree(layer->layerName);
  layer->layerName = std::exchange(made->layerName, nullptr);
  layer->file = std::exchange(made->file, nullptr);
  layer->antInfo = std::exchange(made->antInfo, nullptr);
  layer->isNew = made->isNew;
  layer->antInfo->modified = 1;
  eant_LayerFree(&made);
}
TAVIRON_GUARD_VOID(err)

double eant_LayerGetModTime(Eant_Layer *layer, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_LayerGetModTime";
  lower::Clear(err);
  if (!layer) {
    lower::Report(err, reporter, 1, "Invalid input annotation layer");
    return 0;
  }
  if (!layer->antInfo) {
    lower::Report(err, reporter, 2, "Invalid antInfo in input annotation layer");
    return 0;
  }
  if (!layer->antInfo->antHead) {
    lower::Report(err, reporter, 3, "Invalid antHead in antInfo in input annotation layer");
    return 0;
  }
  return layer->antInfo->antHead->modTime;
}
TAVIRON_GUARD(err, 0)

} // extern "C"

namespace taviron::eant {

Efnp_NodeList *ParseSingleNode(const char *fileNodeName, const char *reporter, int32_t code, Eerr_ErrorReport **err) {
  lower::CalleeReport inner;
  NodeListPtr list{efnp_FileNodeListParse(fileNodeName, &inner)};
  if (!list) {
    lower::ReportCallee(err, inner, reporter, code, "efnp_FileNodeListParse");
    return nullptr;
  }
  if (list->fileCount != 1 || list->nodeCount > 1) {
    lower::Report(err, reporter, code + 1, "Input fileNodeName is not single node");
    return nullptr;
  }
  return list.release();
}

} // namespace taviron::eant

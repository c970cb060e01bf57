// Image files and their layers: the stored layer record, the files the layers share, layer
// names, options, and opening, creating and closing layers.
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
#include "keywords.h"
#include "record.h"

namespace lower = taviron::lower;
namespace record = taviron::record;
namespace conv = taviron::lower::eimg;
using namespace taviron::eimg;

namespace {

using V = lower::Value;

// The option keywords and their values; the flags take none.
constexpr lower::Keyword kOptionKeywords[] = {
    {EIMG_OPTION_INPUT, {}},
    {EIMG_OPTION_OUTPUT, {}},
    {EIMG_OPTION_STATISTICS, {}},
    {EIMG_OPTION_FLAG_11, {}},
    {EIMG_OPTION_FLAG_21, {}},
    {EIMG_OPTION_FLAG_25, {}},
    {EIMG_OPTION_FLAG_26, {}},
    {EIMG_OPTION_FLAG_29, {}},
    {EIMG_OPTION_FLAG_256, {}},
    {EIMG_OPTION_BLOCK_SIZE, {V::Int, V::Int}},
    {EIMG_OPTION_SKIP_FACTORS, {V::Int, V::Int}},
    {EIMG_OPTION_BOUNDARY_VALUE, {V::Pointer}},
    {EIMG_OPTION_METER, {V::Pointer}},
    {EIMG_OPTION_EXCLUDED_VALUES, {V::Pointer}},
    {EIMG_OPTION_AOI, {V::Pointer}},
    {EIMG_OPTION_OUTPUT_WORD, {V::Int}},
    {EIMG_OPTION_DESCRIPTOR_TABLE, {V::Pointer, V::Int, V::Pointer}},
    {EIMG_OPTION_RESAMPLE, {V::Pointer, V::Pointer}},
    {EIMG_OPTION_READ_TRANSFORM, {V::Pointer, V::Pointer}},
};
constexpr lower::KeywordList kOptionList{{kOptionKeywords}, "Unknown option keyword %d"};

// ---- The stored layer record ----

struct StoredLayer {
  int32_t width;
  int32_t height;
  int32_t layerType;
  int32_t pixelType;
  int32_t blockWidth;
  int32_t blockHeight;
};

constexpr const char *kLayerTypeNames[] = {"thematic", "athematic", "fft of real-valued data"};
constexpr const char *kPixelTypeNames[] = {"u1", "u2", "u4", "u8", "s8", "u16", "s16",
                                           "u32", "s32", "f32", "f64", "c64", "c128"};
constexpr record::Item kStoredLayerItems[] = {
    TAVIRON_ITEM(StoredLayer, width, EMIF_TYPE_S32),
    TAVIRON_ITEM(StoredLayer, height, EMIF_TYPE_S32),
    TAVIRON_ITEM(StoredLayer, layerType, EMIF_TYPE_ENUM).Enum(kLayerTypeNames),
    TAVIRON_ITEM(StoredLayer, pixelType, EMIF_TYPE_ENUM).Enum(kPixelTypeNames),
    TAVIRON_ITEM(StoredLayer, blockWidth, EMIF_TYPE_S32),
    TAVIRON_ITEM(StoredLayer, blockHeight, EMIF_TYPE_S32)};
constexpr record::Design kStoredLayerDesign = record::DesignOf<StoredLayer>(kLayerDesignName, kStoredLayerItems);
static_assert(kStoredLayerDesign.Matches());

std::mutex designMutex;
Emif_Dictionary *layerDictionary = nullptr; // holds the layer design until the process ends
const Emif_Design *layerDesign = nullptr;

// The design of the stored layer record (made once; null with a report when that fails).
const Emif_Design *LayerDesign(const char *reporter, Eerr_ErrorReport **err) {
  std::lock_guard<std::mutex> lock(designMutex);
  if (layerDesign) return layerDesign;
  lower::CalleeReport inner;
  if (!layerDictionary && !(layerDictionary = emif_DictionaryCreate(&inner))) {
    lower::ReportCallee(err, inner, reporter, 90, "emif_DictionaryCreate");
    return nullptr;
  }
  layerDesign = record::Define(kStoredLayerDesign, layerDictionary, &inner);
  if (!layerDesign) lower::ReportCallee(err, inner, reporter, 90, "emif_DesignCreate");
  return layerDesign;
}

std::mutex registryMutex;
std::map<std::string, SharedFile *> registry;

bool FileExists(const std::string &name) {
  struct stat st;
  return ::stat(name.c_str(), &st) == 0;
}

std::string KeyOf(const std::string &name) {
  const std::unique_ptr<char, void (*)(void *)> resolved(::realpath(name.c_str(), nullptr), std::free);
  if (!resolved) return name;
  return resolved.get();
}

bool ValidRecord(const StoredLayer &s) {
  if (s.width < 1 || s.height < 1 || !ValidLayerType(s.layerType) || !ValidPixelType(s.pixelType)) return false;
  if (s.blockWidth < 1 || s.blockHeight < 1 || s.blockWidth > kMaxBlockSide || s.blockHeight > kMaxBlockSide)
    return false;
  return int64_t{s.blockWidth} * s.blockHeight * egda_PixelTypeSize(s.pixelType) <= kMaxBlockBytes;
}

// A layer record for the stored record (holding the file); null with a report.
Eimg_Layer *NewLayer(const StoredLayer &s, const std::string &file, const std::string &node, SharedFile *shared,
                     int64_t entry, Eint_InitToolkitData *init, const char *reporter, Eerr_ErrorReport **err) {
  // The texts the state keeps are made first: they may throw, and nothing is held yet.
  const std::size_t slash = file.rfind('/');
  std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
  std::string nodeCopy = node;
  auto *layer = static_cast<Eimg_Layer *>(emsc_HeapMalloc(sizeof(Eimg_Layer)));
  auto *state = lower::HeapNew<LayerState>();
  char *name = efnp_FileNodeListSet(file.c_str(), node.c_str(), EFNP_NODE_PART, 0, nullptr);
  if (!layer || !state || !name) {
    emsc_HeapFree(layer);
    lower::HeapDelete(state);
    emsc_HeapFree(name);
    lower::Report(err, reporter, 95, "Error allocating the layer");
    return nullptr;
  }
  layer->width = s.width;
  layer->height = s.height;
  layer->layerType = s.layerType;
  layer->pixelType = s.pixelType;
  layer->blockWidth = s.blockWidth;
  layer->blockHeight = s.blockHeight;
  layer->blocksAcross = static_cast<int32_t>(CeilDiv(s.width, s.blockWidth));
  layer->blocksDown = static_cast<int32_t>(CeilDiv(s.height, s.blockHeight));
  layer->name = name;
  layer->internal = state;
  state->shared = shared;
  state->entry = entry;
  state->node = std::move(nodeCopy);
  state->directory = std::move(directory);
  state->init = init;
  state->elementSize = egda_PixelTypeSize(s.pixelType);
  state->blockBytes = static_cast<std::size_t>(s.blockWidth) * static_cast<std::size_t>(s.blockHeight) *
                      static_cast<std::size_t>(state->elementSize);
  return layer;
}

// Deletes the entries below the current entry.
bool DeleteChildren(Ehfa_File *file, const char *reporter, Eerr_ErrorReport **err) {
  for (;;) {
    lower::CalleeReport inner;
    if (!ehfa_EntrySeek(file, EHFA_FIRST_CHILD, nullptr, &inner)) {
      if (inner) {
        lower::ReportCallee(err, inner, reporter, 96, "ehfa_EntrySeek");
        return false;
      }
      return true;
    }
    if (ehfa_EntryDelete(file, &inner) != 0) {
      lower::ReportCallee(err, inner, reporter, 96, "ehfa_EntryDelete");
      return false;
    }
  }
}

// Seeks the node (the first layer when node is empty); its entry must be a layer.
Ehfa_Entry *SeekLayer(Ehfa_File *file, const std::string &node, const char *reporter, int32_t code,
                      Eerr_ErrorReport **err) {
  lower::CalleeReport inner;
  Ehfa_Entry *entry = nullptr;
  if (node.empty()) {
    if (ehfa_EntrySeek(file, EHFA_PATH, ":", &inner))
      entry = ehfa_EntrySeek(file, EHFA_CHILD_OF, kLayerDesignName, &inner);
  } else {
    entry = ehfa_EntrySeek(file, EHFA_PATH, node.c_str(), &inner);
  }
  if (!entry) {
    if (inner) lower::ReportCallee(err, inner, reporter, code, "ehfa_EntrySeek");
    else if (node.empty()) lower::Report(err, reporter, code, "%.400s holds no layer", file->fileName);
    else lower::Report(err, reporter, code, "No layer %.200s in %.400s", node.c_str(), file->fileName);
    return nullptr;
  }
  if (std::strcmp(entry->type, kLayerDesignName) != 0) {
    lower::Report(err, reporter, code, "Node %.200s of %.400s is not a raster layer", node.c_str(), file->fileName);
    return nullptr;
  }
  return entry;
}

// Writes the layer's record at its node into the file's open transaction: over an old layer
// there (its nodes and blocks deleted) or as a new last child of the node's parent. The entry's
// id, or 0 with a report.
int64_t WriteLayerRecord(Ehfa_File *file, const std::string &node, const StoredLayer &stored, const char *fileName,
                         const char *reporter, int32_t code, Eerr_ErrorReport **err) {
  const Emif_Design *design = LayerDesign(reporter, err);
  if (!design) return 0;
  lower::CalleeReport inner;
  Ehfa_Entry *old = ehfa_EntrySeek(file, EHFA_PATH, node.c_str(), &inner);
  inner.Drop();
  if (old && std::strcmp(old->type, kLayerDesignName) != 0) {
    lower::Report(err, reporter, code, "Node %.200s of %.400s is not a raster layer", node.c_str(), fileName);
    return 0;
  }
  if (!old) {
    std::string parent, last;
    SplitNode(node, parent, last);
    if (!ehfa_ObjectWrite(file, parent.c_str(), last.c_str(), kLayerDesignName, EHFA_LAST_CHILD, &stored, design,
                          &inner)) {
      lower::ReportCallee(err, inner, reporter, code, "ehfa_ObjectWrite");
      return 0;
    }
    return taviron::ehfa::CurrentEntryId(file);
  }
  if (!DeleteChildren(file, reporter, err)) return 0;
  if (!ehfa_ObjectWrite(file, node.c_str(), nullptr, kLayerDesignName, EHFA_OVERWRITE, &stored, design, &inner)) {
    lower::ReportCallee(err, inner, reporter, code, "ehfa_ObjectWrite");
    return 0;
  }
  const int64_t entry = taviron::ehfa::CurrentEntryId(file);
  if (taviron::ehfa::BlocksDelete(file, entry, &inner) != 0) {
    lower::ReportCallee(err, inner, reporter, code, "ehfa_BlocksDelete");
    return 0;
  }
  return entry;
}

} // namespace

namespace taviron::eimg {

bool ReplaceStoredLayer(Eimg_Layer *layer, const char *reporter, int32_t code, Eerr_ErrorReport **err) {
  LayerState &state = StateOf(layer);
  if (!state.replacing) return true;
  const StoredLayer stored{layer->width,     layer->height,     layer->layerType,
                           layer->pixelType, layer->blockWidth, layer->blockHeight};
  Ehfa_File *file = state.shared->file;
  state.entry = WriteLayerRecord(file, state.node, stored, file->fileName, reporter, code, err);
  return state.entry != 0;
}

void EndReplacing(Eimg_Layer *layer, bool committed) {
  LayerState &state = StateOf(layer);
  if (!state.replacing) return;
  if (committed) state.replacing = false;
  else state.entry = 0;
}

// The open file of that name, opened (or, with create, created) when no layer holds it yet.
SharedFile *Acquire(const std::string &name, bool create, Eint_InitToolkitData *init, const char *reporter,
                    Eerr_ErrorReport **err) {
  std::lock_guard<std::mutex> lock(registryMutex);
  const bool exists = FileExists(name);
  if (exists) {
    auto it = registry.find(KeyOf(name));
    if (it != registry.end()) {
      ++it->second->users;
      return it->second;
    }
  }
  lower::CalleeReport inner;
  Ehfa_File *file = nullptr;
  if (exists) {
    if (!ehfa_IsHFAFile(name.c_str(), &inner)) {
      if (inner) lower::ReportCallee(err, inner, reporter, 91, "ehfa_IsHFAFile");
      else lower::Report(err, reporter, 91, "%.400s is not an image file", name.c_str());
      return nullptr;
    }
    file = ehfa_FileOpen(name.c_str(), "r+", init, &inner, 0);
    if (!file) {
      lower::ReportCallee(err, inner, reporter, 91, "ehfa_FileOpen");
      return nullptr;
    }
  } else if (create) {
    file = ehfa_FileCreate(name.c_str(), init, &inner, 0);
    if (!file) {
      lower::ReportCallee(err, inner, reporter, 91, "ehfa_FileCreate");
      return nullptr;
    }
  } else {
    lower::Report(err, reporter, 91, "Image file %.400s does not exist", name.c_str());
    return nullptr;
  }
  try {
    auto shared = std::make_unique<SharedFile>();
    shared->key = KeyOf(name);
    shared->file = file;
    shared->users = 1;
    SharedFile *&slot = registry[shared->key];
    slot = shared.release();
    return slot;
  } catch (...) {
    ehfa_FileClose(file, nullptr); // the bookkeeping ran out of memory: the file is not kept open
    throw;
  }
}

// Gives the file back; the last user closes it (committing). False with a report when the
// commit failed.
bool Release(SharedFile *shared, const char *reporter, Eerr_ErrorReport **err) {
  if (!shared) return true;
  std::lock_guard<std::mutex> lock(registryMutex);
  if (--shared->users > 0) return true;
  registry.erase(shared->key);
  lower::CalleeReport inner;
  ehfa_FileClose(shared->file, &inner);
  delete shared;
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 92, "ehfa_FileClose");
    return false;
  }
  return true;
}

bool EndChange(SharedFile *shared, bool ok, const char *reporter, int32_t code, Eerr_ErrorReport **err) {
  if (!ok) {
    taviron::ehfa::Rollback(shared->file);
    return false;
  }
  lower::CalleeReport inner;
  ehfa_FileFlush(shared->file, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, code, "ehfa_FileFlush");
    return false;
  }
  return true;
}

bool ParseName(const char *name, LayerName &out, const char *reporter, int32_t code, Eerr_ErrorReport **err) {
  if (!name || !*name) {
    lower::Report(err, reporter, code, "Invalid layer name");
    return false;
  }
  lower::CalleeReport inner;
  const std::unique_ptr<Efnp_NodeList, void (*)(Efnp_NodeList *)> list(
      efnp_FileNodeListParse(name, &inner), [](Efnp_NodeList *l) { efnp_FreeNodeList(l, nullptr); });
  if (!list) {
    lower::ReportCallee(err, inner, reporter, code, "efnp_FileNodeListParse");
    return false;
  }
  out.file = list->files[0];
  out.node = list->nodeCount > 0 ? list->nodes[0] : "";
  if (out.node == ":") out.node.clear();
  return true;
}

// The parent path and the last node name of a node path.
void SplitNode(const std::string &node, std::string &parent, std::string &last) {
  const std::size_t colon = node.rfind(':');
  parent = colon == 0 ? ":" : node.substr(0, colon);
  last = node.substr(colon + 1);
}

bool ParseOptions(va_list ap, std::vector<Option> &options, const char *reporter, int32_t code,
                  Eerr_ErrorReport **err) {
  return lower::ReadKeywords(kOptionList, ap, reporter, code, err, [&](int32_t keyword, const lower::KeywordValues &v) {
    Option o;
    o.code = keyword;
    switch (keyword) {
    case EIMG_OPTION_BLOCK_SIZE:
    case EIMG_OPTION_SKIP_FACTORS:
      o.a = v.Int(0);
      o.b = v.Int(1);
      break;
    case EIMG_OPTION_BOUNDARY_VALUE:
    case EIMG_OPTION_METER:
    case EIMG_OPTION_EXCLUDED_VALUES:
    case EIMG_OPTION_AOI: o.p = v.Pointer(0); break;
    case EIMG_OPTION_OUTPUT_WORD: o.a = v.Int(0); break;
    case EIMG_OPTION_DESCRIPTOR_TABLE:
      o.s = v.Pointer<const char>(0);
      o.a = v.Int(1);
      o.p = v.Pointer(2);
      break;
    case EIMG_OPTION_RESAMPLE:
      o.p = v.Pointer(0);
      o.q = v.Pointer(1);
      break;
    case EIMG_OPTION_READ_TRANSFORM:
      o.p = v.Pointer(0);
      o.s = v.Pointer<const char>(1);
      break;
    }
    options.push_back(o);
    return true;
  });
}

void FreeRenderContext(Eimg_Layer *layer) {
  if (layer->aoiRenderContext && layer->aoiRenderContextFree) layer->aoiRenderContextFree(layer->aoiRenderContext);
  layer->aoiRenderContext = nullptr;
  layer->aoiRenderContextFree = nullptr;
}

bool ApplyOptions(Eimg_Layer *layer, const std::vector<Option> &options, const char *reporter, int32_t code,
                  Eerr_ErrorReport **err) {
  LayerState &state = StateOf(layer);
  for (const Option &o : options) {
    lower::CalleeReport inner;
    switch (o.code) {
    case EIMG_OPTION_BOUNDARY_VALUE: {
      const auto *rect = static_cast<const Egda_BaseData *>(o.p);
      if (!rect) {
        state.boundary = {0, 0};
        break;
      }
      if (!rect->origin || !ValidPixelType(rect->pixelType) || rect->rows < 1 || rect->columns < 1 ||
          rect->elementSize != egda_PixelTypeSize(rect->pixelType)) {
        lower::Report(err, reporter, code, "Invalid boundary value pixel rectangle");
        return false;
      }
      std::complex<double> value;
      conv::Converter(rect->pixelType, EGDA_TYPE_C128)(rect->origin, rect->elementSize,
                                                       reinterpret_cast<uint8_t *>(&value), sizeof value, 1);
      state.boundary = value;
      break;
    }
    case EIMG_OPTION_METER: state.meter = static_cast<Emet_MeterInfo *>(o.p); break;
    case EIMG_OPTION_AOI:
      if (layer->aoi != o.p) FreeRenderContext(layer);
      layer->aoi = o.p;
      break;
    case EIMG_OPTION_EXCLUDED_VALUES: {
      Egda_BaseData *copy = nullptr;
      if (o.p && !(copy = egda_BaseDataCopy(static_cast<const Egda_BaseData *>(o.p), nullptr, &inner))) {
        lower::ReportCallee(err, inner, reporter, code, "egda_BaseDataCopy");
        return false;
      }
      egda_BaseDataDelete(state.excluded, nullptr);
      state.excluded = copy;
      break;
    }
    case EIMG_OPTION_OUTPUT_WORD: state.outputOption = o.a; break;
    case EIMG_OPTION_READ_TRANSFORM: {
      const auto *xform = static_cast<const _exfr_XForm *>(o.p);
      if (!xform) {
        exfr_XFormFree(&state.transform, nullptr);
        state.method = Method::Nearest;
        break;
      }
      Method method = Method::Nearest;
      if (!o.s || !strcasecmp(o.s, EIRF_NEAREST_NEIGHBOR)) method = Method::Nearest;
      else if (!strcasecmp(o.s, EIRF_BILINEAR_INTERPOLATION)) method = Method::Bilinear;
      else if (!strcasecmp(o.s, EIRF_CUBIC_CONVOLUTION)) method = Method::Cubic;
      else {
        lower::Report(err, reporter, code, "Unknown resampling method %.200s", o.s);
        return false;
      }
      _exfr_XForm *copy = exfr_XFormCopy(xform, nullptr, &inner);
      if (!copy) {
        lower::ReportCallee(err, inner, reporter, code, "exfr_XFormCopy");
        return false;
      }
      exfr_XFormFree(&state.transform, nullptr);
      state.transform = copy;
      state.method = method;
      break;
    }
    default: break; // accepted
    }
  }
  return true;
}

void FreeLayer(Eimg_Layer *layer) {
  if (!layer) return;
  if (layer->internal) {
    LayerState &state = StateOf(layer);
    exfr_XFormFree(&state.transform, nullptr);
    egda_BaseDataDelete(state.excluded, nullptr);
    lower::HeapDelete(&state);
  }
  FreeRenderContext(layer);
  emsc_HeapFree(layer->name);
  emsc_HeapFree(layer);
}

// Shared by the variadic openers.
Eimg_Layer *OpenLayer(const char *name, Eint_InitToolkitData *init, const std::vector<Option> &options,
                      const char *reporter, Eerr_ErrorReport **err) {
  LayerName parsed;
  if (!ParseName(name, parsed, reporter, 2, err)) return nullptr;
  const Emif_Design *design = LayerDesign(reporter, err);
  if (!design) return nullptr;
  FileHold hold;
  hold.shared = Acquire(parsed.file, false, init, reporter, err);
  if (!hold.shared) return nullptr;
  StoredLayer stored{};
  int64_t entryId = 0;
  std::string node = parsed.node;
  {
    std::lock_guard<std::mutex> lock(hold.shared->mutex);
    Ehfa_File *file = hold.shared->file;
    Ehfa_Entry *entry = SeekLayer(file, parsed.node, reporter, 3, err);
    if (!entry) return nullptr;
    if (node.empty()) node = std::string(":") + entry->name;
    lower::CalleeReport inner;
    if (!ehfa_ObjectRead(file, nullptr, nullptr, EHFA_CURRENT, &stored, design, &inner)) {
      lower::ReportCallee(err, inner, reporter, 4, "ehfa_ObjectRead");
      return nullptr;
    }
    entryId = taviron::ehfa::CurrentEntryId(file);
  }
  if (!ValidRecord(stored)) {
    lower::Report(err, reporter, 5, "Corrupt layer record of %.400s", name);
    return nullptr;
  }
  Eimg_Layer *layer = NewLayer(stored, parsed.file, node, hold.shared, entryId, init, reporter, err);
  if (!layer) return nullptr;
  hold.Keep();
  if (!ApplyOptions(layer, options, reporter, 6, err)) {
    Release(StateOf(layer).shared, reporter, nullptr);
    FreeLayer(layer);
    return nullptr;
  }
  return layer;
}

Eimg_Layer *CreateLayer(const char *name, int32_t layerType, int32_t pixelType, int32_t width, int32_t height,
                        Eint_InitToolkitData *init, const std::vector<Option> &options, const char *reporter,
                        Eerr_ErrorReport **err) {
  LayerName parsed;
  if (!ParseName(name, parsed, reporter, 2, err)) return nullptr;
  if (parsed.node.empty()) {
    lower::Report(err, reporter, 2, "The layer name %.400s has no layer part", name);
    return nullptr;
  }
  StoredLayer stored{width, height, layerType, pixelType, EIMG_DEFAULT_BLOCK_SIZE, EIMG_DEFAULT_BLOCK_SIZE};
  for (const Option &o : options)
    if (o.code == EIMG_OPTION_BLOCK_SIZE) {
      stored.blockWidth = o.a;
      stored.blockHeight = o.b;
    }
  if (!ValidLayerType(layerType) || !ValidPixelType(pixelType) || width < 1 || height < 1) {
    lower::Report(err, reporter, 3, "Invalid layer: type %d, pixel type %d, %d x %d", layerType, pixelType, width,
                  height);
    return nullptr;
  }
  if (!ValidRecord(stored)) {
    lower::Report(err, reporter, 3, "Invalid block size %d x %d", stored.blockWidth, stored.blockHeight);
    return nullptr;
  }
  if (!LayerDesign(reporter, err)) return nullptr;
  FileHold hold;
  hold.shared = Acquire(parsed.file, true, init, reporter, err);
  if (!hold.shared) return nullptr;
  int64_t entryId = 0;
  bool replacing = false;
  {
    std::lock_guard<std::mutex> lock(hold.shared->mutex);
    Ehfa_File *file = hold.shared->file;
    // A new layer's record is committed at once. A layer made over an old one leaves the old
    // layer in the file, whole, until its first commit replaces it (ReplaceStoredLayer).
    lower::CalleeReport inner;
    Ehfa_Entry *old = ehfa_EntryPeek(file, EHFA_PATH_PEEK, parsed.node.c_str(), &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 4, "ehfa_EntryPeek");
      return nullptr;
    }
    if (old && std::strcmp(old->type, kLayerDesignName) != 0) {
      lower::Report(err, reporter, 4, "Node %.200s of %.400s is not a raster layer", parsed.node.c_str(),
                    parsed.file.c_str());
      return nullptr;
    }
    replacing = old != nullptr;
    if (!replacing) {
      entryId = WriteLayerRecord(file, parsed.node, stored, parsed.file.c_str(), reporter, 5, err);
      if (!EndChange(hold.shared, entryId != 0, reporter, 5, err)) return nullptr;
    }
  }
  Eimg_Layer *layer = NewLayer(stored, parsed.file, parsed.node, hold.shared, entryId, init, reporter, err);
  if (!layer) return nullptr;
  StateOf(layer).replacing = replacing;
  hold.Keep();
  if (!ApplyOptions(layer, options, reporter, 6, err)) {
    Release(StateOf(layer).shared, reporter, nullptr);
    FreeLayer(layer);
    return nullptr;
  }
  return layer;
}

// Closes the layer: writes its blocks, commits, frees it. False with a report.
bool CloseLayer(Eimg_Layer *layer, const char *reporter, Eerr_ErrorReport **err) {
  if (!layer) return true;
  if (!layer->internal) {
    FreeLayer(layer);
    return true;
  }
  LayerState &state = StateOf(layer);
  bool ok = FlushBlocks(layer, true, reporter, err);
  if (!Release(state.shared, reporter, ok ? err : nullptr)) ok = false;
  FreeLayer(layer);
  return ok;
}

} // namespace taviron::eimg

extern "C" {

Estr_StringList *eimg_LayerGetNames(const char *fileName, Eint_InitToolkitData *init, Eerr_ErrorReport **err) try {
  static const char *const kReporter = "eimg_LayerGetNames";
  lower::Clear(err);
  if (!fileName || !*fileName) {
    lower::Report(err, kReporter, 1, "Invalid file name");
    return nullptr;
  }
  LayerName parsed;
  if (!ParseName(fileName, parsed, kReporter, 1, err)) return nullptr;
  FileHold hold;
  hold.shared = Acquire(parsed.file, false, init, kReporter, err);
  if (!hold.shared) return nullptr;
  std::vector<std::string> names;
  {
    std::lock_guard<std::mutex> lock(hold.shared->mutex);
    Ehfa_File *file = hold.shared->file;
    lower::CalleeReport inner;
    Ehfa_Entry *entry = ehfa_EntrySeek(file, EHFA_PATH, ":", &inner);
    if (entry) entry = ehfa_EntrySeek(file, EHFA_CHILD_OF, kLayerDesignName, &inner);
    while (entry) {
      names.push_back(entry->name);
      entry = ehfa_EntrySeek(file, EHFA_NEXT_OF, kLayerDesignName, &inner);
    }
    if (inner) {
      lower::ReportCallee(err, inner, kReporter, 2, "ehfa_EntrySeek");
      return nullptr;
    }
  }
  lower::CalleeReport inner;
  Estr_StringList *list = estr_StringListCreate(static_cast<int32_t>(names.size()), &inner);
  if (!list) {
    lower::ReportCallee(err, inner, kReporter, 3, "estr_StringListCreate");
    return nullptr;
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    list->strings[i] = efnp_FileNodeListSet(parsed.file.c_str(), (":" + names[i]).c_str(), EFNP_NODE_PART, 0, &inner);
    if (!list->strings[i]) {
      estr_StringListDelete(list, nullptr);
      lower::ReportCallee(err, inner, kReporter, 3, "efnp_FileNodeListSet");
      return nullptr;
    }
  }
  return list;
} TAVIRON_GUARD(err, nullptr)

int32_t eimg_LayerNameParse(const char *name, char **fileName, char **layerName, Eerr_ErrorReport **err) try {
  static const char *const kReporter = "eimg_LayerNameParse";
  lower::Clear(err);
  LayerName parsed;
  if (!ParseName(name, parsed, kReporter, 1, err)) return -1;
  const std::string layer = parsed.node.empty() ? "" : parsed.node.substr(1);
  char *file = fileName ? lower::HeapCopy(parsed.file.data(), parsed.file.size()) : nullptr;
  char *part = layerName ? lower::HeapCopy(layer.data(), layer.size()) : nullptr;
  if ((fileName && !file) || (layerName && !part)) {
    emsc_HeapFree(file);
    emsc_HeapFree(part);
    lower::Report(err, kReporter, 2, "Error allocating the name parts");
    return -1;
  }
  if (fileName) *fileName = file;
  if (layerName) *layerName = part;
  return 0;
} TAVIRON_GUARD(err, -1)

Eimg_Layer *eimg_LayerOpen(const char *name, Eint_InitToolkitData *init, Eerr_ErrorReport **err, ...) try {
  static const char *const kReporter = "eimg_LayerOpen";
  lower::Clear(err);
  std::vector<Option> options;
  va_list ap;
  va_start(ap, err);
  const bool parsed = ParseOptions(ap, options, kReporter, 1, err);
  va_end(ap);
  if (!parsed) return nullptr;
  return OpenLayer(name, init, options, kReporter, err);
} TAVIRON_GUARD(err, nullptr)

Eimg_Layer *eimg_LayerCreate(const char *name, int32_t layerType, int32_t pixelType, int32_t width, int32_t height,
                             Eint_InitToolkitData *init, Eerr_ErrorReport **err, ...) try {
  static const char *const kReporter = "eimg_LayerCreate";
  lower::Clear(err);
  std::vector<Option> options;
  va_list ap;
  va_start(ap, err);
  const bool parsed = ParseOptions(ap, options, kReporter, 1, err);
  va_end(ap);
  if (!parsed) return nullptr;
  return CreateLayer(name, layerType, pixelType, width, height, init, options, kReporter, err);
} TAVIRON_GUARD(err, nullptr)

void eimg_LayerClose(Eimg_Layer *layer, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  CloseLayer(layer, "eimg_LayerClose", err);
} TAVIRON_GUARD_VOID(err)

int32_t eimg_FileDestroy(const char *fileName, Eerr_ErrorReport **err) try {
  static const char *const kReporter = "eimg_FileDestroy";
  lower::Clear(err);
  LayerName parsed;
  if (!ParseName(fileName, parsed, kReporter, 1, err)) return -1;
  std::lock_guard<std::mutex> lock(registryMutex);
  if (!FileExists(parsed.file)) {
    lower::Report(err, kReporter, 2, "Image file %.400s does not exist", parsed.file.c_str());
    return -1;
  }
  if (registry.count(KeyOf(parsed.file))) {
    lower::Report(err, kReporter, 3, "Image file %.400s has open layers", parsed.file.c_str());
    return -1;
  }
  lower::CalleeReport inner;
  if (!ehfa_IsHFAFile(parsed.file.c_str(), &inner)) {
    if (inner) lower::ReportCallee(err, inner, kReporter, 4, "ehfa_IsHFAFile");
    else lower::Report(err, kReporter, 4, "%.400s is not an image file", parsed.file.c_str());
    return -1;
  }
  if (::unlink(parsed.file.c_str()) != 0) {
    lower::Report(err, kReporter, 5, "Cannot delete %.400s: %s", parsed.file.c_str(), std::strerror(errno));
    return -1;
  }
  ::unlink((parsed.file + "-journal").c_str());
  return 0;
} TAVIRON_GUARD(err, -1)

int32_t eimg_LayerChangeOptions(Eimg_Layer *layer, Eerr_ErrorReport **err, ...) try {
  static const char *const kReporter = "eimg_LayerChangeOptions";
  lower::Clear(err);
  std::vector<Option> options;
  va_list ap;
  va_start(ap, err);
  const bool parsed = ParseOptions(ap, options, kReporter, 2, err);
  va_end(ap);
  if (!Usable(layer, kReporter, err) || !parsed) return -1;
  return ApplyOptions(layer, options, kReporter, 3, err) ? 0 : -1;
} TAVIRON_GUARD(err, -1)

} // extern "C"

// Raster layers in image files (hierarchical files): the layer record, block I/O through a small
// per-layer cache, pixel conversion, resampling through a read transform, layer stacks and
// pixel rectangles.
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
#include "eirf.h"
#include "emet.h"
#include "emsc.h"
#include "internal.h"

namespace lower = taviron::lower;
namespace conv = taviron::lower::eimg;

namespace {

constexpr const char *kLayerDesignName = "Eimg_Layer";
constexpr int32_t kMaxBlockSide = 4096;
constexpr int64_t kMaxBlockBytes = int64_t{16} << 20;
constexpr std::size_t kMinCachedBlocks = 64;
constexpr std::size_t kCacheBytes = std::size_t{64} << 20;
// Source coordinates beyond this are outside every layer (keeps the arithmetic in range).
constexpr double kFarAway = 1 << 30;
// Largest source window one resampled segment reads at once (pixels).
constexpr int64_t kMaxResampleWindow = int64_t{1} << 20;

bool ValidLayerType(int32_t type) { return type >= EIMG_THEMATIC && type <= EIMG_FFT_OF_REAL_DATA; }
bool ValidPixelType(int32_t type) { return type >= EGDA_TYPE_U1 && type <= EGDA_TYPE_C128; }
bool IsComplexType(int32_t type) { return type == EGDA_TYPE_C64 || type == EGDA_TYPE_C128; }

// ---- The stored layer record ----

struct StoredLayer {
  int32_t width;
  int32_t height;
  int32_t layerType;
  int32_t pixelType;
  int32_t blockWidth;
  int32_t blockHeight;
};

std::mutex designMutex;
const Emif_Design *layerDesign = nullptr;

// The design of the stored layer record (made once; null with a report when that fails).
const Emif_Design *LayerDesign(const char *reporter, Eerr_ErrorReport **err) {
  std::lock_guard<std::mutex> lock(designMutex);
  if (layerDesign) return layerDesign;
  Eerr_ErrorReport *inner = nullptr;
  layerDesign = emif_DesignCreate(nullptr, kLayerDesignName, &inner, EMIF_TYPE_S32, "width", EMIF_TYPE_S32,
                                  "height", EMIF_TYPE_ENUM, "layerType", "thematic", "athematic",
                                  "fft of real-valued data", nullptr, EMIF_TYPE_ENUM, "pixelType", "u1", "u2",
                                  "u4", "u8", "s8", "u16", "s16", "u32", "s32", "f32", "f64", "c64", "c128",
                                  nullptr, EMIF_TYPE_S32, "blockWidth", EMIF_TYPE_S32, "blockHeight", 0);
  if (!layerDesign) lower::ReportCallee(err, inner, reporter, 90, "emif_DesignCreate");
  return layerDesign;
}

// ---- Image files shared by the layers open on them ----

struct SharedFile {
  std::string key;
  Ehfa_File *file = nullptr;
  int32_t users = 0;
  std::mutex mutex; // one call into the file at a time
};

std::mutex registryMutex;
std::map<std::string, SharedFile *> registry;

bool FileExists(const std::string &name) {
  struct stat st;
  return ::stat(name.c_str(), &st) == 0;
}

std::string KeyOf(const std::string &name) {
  char *resolved = ::realpath(name.c_str(), nullptr);
  if (!resolved) return name;
  std::string key(resolved);
  std::free(resolved);
  return key;
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
  Eerr_ErrorReport *inner = nullptr;
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
  auto *shared = new SharedFile;
  shared->key = KeyOf(name);
  shared->file = file;
  shared->users = 1;
  registry[shared->key] = shared;
  return shared;
}

// Gives the file back; the last user closes it (committing). False with a report when the
// commit failed.
bool Release(SharedFile *shared, const char *reporter, Eerr_ErrorReport **err) {
  if (!shared) return true;
  std::lock_guard<std::mutex> lock(registryMutex);
  if (--shared->users > 0) return true;
  registry.erase(shared->key);
  Eerr_ErrorReport *inner = nullptr;
  ehfa_FileClose(shared->file, &inner);
  delete shared;
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 92, "ehfa_FileClose");
    return false;
  }
  return true;
}

// Releases on scope exit unless kept.
struct FileHold {
  SharedFile *shared = nullptr;
  ~FileHold() { Release(shared, "", nullptr); }
  SharedFile *Keep() { return std::exchange(shared, nullptr); }
};

// ---- Names ----

struct LayerName {
  std::string file;
  std::string node; // node path with its leading ":"; empty when the name has none
};

bool ParseName(const char *name, LayerName &out, const char *reporter, int32_t code, Eerr_ErrorReport **err) {
  if (!name || !*name) {
    lower::Report(err, reporter, code, "Invalid layer name");
    return false;
  }
  Eerr_ErrorReport *inner = nullptr;
  Efnp_NodeList *list = efnp_FileNodeListParse(name, &inner);
  if (!list) {
    lower::ReportCallee(err, inner, reporter, code, "efnp_FileNodeListParse");
    return false;
  }
  out.file = list->files[0];
  out.node = list->nodeCount > 0 ? list->nodes[0] : "";
  efnp_FreeNodeList(list, nullptr);
  if (out.node == ":") out.node.clear();
  return true;
}

// The parent path and the last node name of a node path.
void SplitNode(const std::string &node, std::string &parent, std::string &last) {
  const std::size_t colon = node.rfind(':');
  parent = colon == 0 ? ":" : node.substr(0, colon);
  last = node.substr(colon + 1);
}

// ---- The open layer's private part ----

struct CachedBlock {
  std::unique_ptr<uint8_t[]> data;
  bool dirty = false;
  std::list<int64_t>::iterator position;
};

enum class Method { Nearest, Bilinear, Cubic };

struct LayerState {
  SharedFile *shared = nullptr;
  int64_t entry = 0;
  std::string node;                     // the layer's node path in its file
  Eint_InitToolkitData *init = nullptr; // the toolkit record it was opened with
  int32_t elementSize = 0;
  std::size_t blockBytes = 0;
  std::complex<double> boundary{0, 0};
  _exfr_XForm *transform = nullptr;
  Method method = Method::Nearest;
  Emet_MeterInfo *meter = nullptr;
  Egda_BaseData *excluded = nullptr;
  int32_t outputOption = 0;
  std::unordered_map<int64_t, CachedBlock> cache;
  std::list<int64_t> recency; // most recent first
  std::size_t capacity = kMinCachedBlocks;
};

LayerState &StateOf(const Eimg_Layer *layer) { return *static_cast<LayerState *>(layer->internal); }

bool Usable(const Eimg_Layer *layer, const char *reporter, Eerr_ErrorReport **err) {
  if (!layer || !layer->internal) {
    lower::Report(err, reporter, 1, "Invalid layer");
    return false;
  }
  return true;
}

// Blocks are little-endian in the file; this build's memory order otherwise.
void SwapElements(uint8_t *data, std::size_t bytes, int32_t elementSize, int32_t pixelType) {
  if constexpr (std::endian::native == std::endian::little) {
    (void)data, (void)bytes, (void)elementSize, (void)pixelType;
  } else {
    const int32_t part = IsComplexType(pixelType) ? elementSize / 2 : elementSize;
    if (part <= 1) return;
    for (std::size_t i = 0; i + static_cast<std::size_t>(part) <= bytes; i += static_cast<std::size_t>(part))
      std::reverse(data + i, data + i + part);
  }
}

bool WriteBlock(Eimg_Layer *layer, int64_t key, const uint8_t *data, const char *reporter, Eerr_ErrorReport **err) {
  LayerState &state = StateOf(layer);
  const int32_t row = static_cast<int32_t>(key / layer->blocksAcross);
  const int32_t col = static_cast<int32_t>(key % layer->blocksAcross);
  std::vector<uint8_t> swapped;
  if constexpr (std::endian::native != std::endian::little) {
    swapped.assign(data, data + state.blockBytes);
    SwapElements(swapped.data(), swapped.size(), state.elementSize, layer->pixelType);
    data = swapped.data();
  }
  Eerr_ErrorReport *inner = nullptr;
  int32_t result;
  {
    std::lock_guard<std::mutex> lock(state.shared->mutex);
    result = taviron::ehfa::BlockWrite(state.shared->file, state.entry, row, col, data,
                                       static_cast<int32_t>(state.blockBytes), &inner);
  }
  if (result != 0) {
    lower::ReportCallee(err, inner, reporter, 93, "ehfa_BlockWrite");
    return false;
  }
  return true;
}

// Writes the dirty cached blocks (showing progress on the meter when asked). False with a report
// at the first failure.
bool FlushBlocks(Eimg_Layer *layer, bool meter, const char *reporter, Eerr_ErrorReport **err) {
  LayerState &state = StateOf(layer);
  std::vector<int64_t> dirty;
  for (auto &entry : state.cache)
    if (entry.second.dirty) dirty.push_back(entry.first);
  std::sort(dirty.begin(), dirty.end());
  const bool show = meter && state.meter && !dirty.empty();
  if (show) emet_MeterInfoPrint(state.meter, 0.0, nullptr);
  int32_t shown = 0;
  for (std::size_t i = 0; i < dirty.size(); ++i) {
    CachedBlock &block = state.cache[dirty[i]];
    if (!WriteBlock(layer, dirty[i], block.data.get(), reporter, err)) return false;
    block.dirty = false;
    const int32_t percent = static_cast<int32_t>((i + 1) * 100 / dirty.size());
    if (show && percent >= shown + 5) {
      emet_MeterInfoPrint(state.meter, percent, nullptr);
      shown = percent;
    }
  }
  if (show && shown < 100) emet_MeterInfoPrint(state.meter, 100.0, nullptr);
  return true;
}

// Keeps at most capacity blocks, writing the dirty ones that leave.
bool Trim(Eimg_Layer *layer, const char *reporter, Eerr_ErrorReport **err) {
  LayerState &state = StateOf(layer);
  while (state.cache.size() > state.capacity) {
    const int64_t key = state.recency.back();
    auto it = state.cache.find(key);
    if (it->second.dirty && !WriteBlock(layer, key, it->second.data.get(), reporter, err)) return false;
    state.recency.pop_back();
    state.cache.erase(it);
  }
  return true;
}

// Decodes a stored block in place: byte order, and the packed class types kept in range.
void Decode(const Eimg_Layer *layer, uint8_t *data) {
  const LayerState &state = StateOf(layer);
  SwapElements(data, state.blockBytes, state.elementSize, layer->pixelType);
  if (layer->pixelType <= EGDA_TYPE_U4) {
    const uint8_t top = layer->pixelType == EGDA_TYPE_U1 ? 1 : layer->pixelType == EGDA_TYPE_U2 ? 3 : 15;
    for (std::size_t i = 0; i < state.blockBytes; ++i) data[i] = std::min(data[i], top);
  }
}

uint8_t *Insert(Eimg_Layer *layer, int64_t key, std::unique_ptr<uint8_t[]> data) {
  LayerState &state = StateOf(layer);
  state.recency.push_front(key);
  CachedBlock block;
  block.data = std::move(data);
  block.position = state.recency.begin();
  uint8_t *bytes = block.data.get();
  state.cache.emplace(key, std::move(block));
  return bytes;
}

// The cached block (row, col), loaded when missing. fresh: the caller overwrites every pixel of
// it inside the layer, so the stored block need not be read.
uint8_t *Block(Eimg_Layer *layer, int32_t row, int32_t col, bool fresh, const char *reporter,
               Eerr_ErrorReport **err) {
  LayerState &state = StateOf(layer);
  const int64_t key = int64_t{row} * layer->blocksAcross + col;
  auto it = state.cache.find(key);
  if (it != state.cache.end()) {
    state.recency.splice(state.recency.begin(), state.recency, it->second.position);
    return it->second.data.get();
  }
  auto data = std::make_unique<uint8_t[]>(state.blockBytes);
  if (!fresh) {
    Eerr_ErrorReport *inner = nullptr;
    int32_t found;
    {
      std::lock_guard<std::mutex> lock(state.shared->mutex);
      found = taviron::ehfa::BlockRead(state.shared->file, state.entry, row, col, data.get(),
                                       static_cast<int32_t>(state.blockBytes), &inner);
    }
    if (found < 0) {
      lower::ReportCallee(err, inner, reporter, 94, "ehfa_BlockRead");
      return nullptr;
    }
    if (found > 0) Decode(layer, data.get());
  }
  return Insert(layer, key, std::move(data));
}

struct PrefetchContext {
  Eimg_Layer *layer;
  int32_t row;
  const char *reporter;
};

bool PrefetchVisit(void *context, int32_t col, const uint8_t *bytes, int32_t size, Eerr_ErrorReport **err) {
  const auto &c = *static_cast<const PrefetchContext *>(context);
  LayerState &state = StateOf(c.layer);
  if (static_cast<std::size_t>(size) != state.blockBytes || !bytes) {
    lower::Report(err, c.reporter, 94, "Block (%d, %d) of %.400s holds %d bytes instead of %zu", c.row, col,
                  c.layer->name, size, state.blockBytes);
    return false;
  }
  const int64_t key = int64_t{c.row} * c.layer->blocksAcross + col;
  if (state.cache.count(key)) return true; // the cached block is newer
  auto data = std::make_unique<uint8_t[]>(state.blockBytes);
  std::memcpy(data.get(), bytes, state.blockBytes);
  Decode(c.layer, data.get());
  Insert(c.layer, key, std::move(data));
  return true;
}

// Loads the blocks (row, first .. last) that are not cached with one query; blocks never written
// come in as zeros.
bool Prefetch(Eimg_Layer *layer, int32_t row, int32_t first, int32_t last, const char *reporter,
              Eerr_ErrorReport **err) {
  LayerState &state = StateOf(layer);
  PrefetchContext context{layer, row, reporter};
  Eerr_ErrorReport *inner = nullptr;
  int32_t result;
  {
    std::lock_guard<std::mutex> lock(state.shared->mutex);
    result = taviron::ehfa::BlockRowRead(state.shared->file, state.entry, row, first, last, &PrefetchVisit,
                                         &context, &inner);
  }
  if (result != 0) {
    lower::ReportCallee(err, inner, reporter, 94, "ehfa_BlockRead");
    return false;
  }
  for (int32_t col = first; col <= last; ++col) {
    const int64_t key = int64_t{row} * layer->blocksAcross + col;
    if (!state.cache.count(key)) Insert(layer, key, std::make_unique<uint8_t[]>(state.blockBytes));
  }
  return true;
}

// ---- Pixel rectangles as windows ----

struct RectView {
  uint8_t *origin = nullptr;
  std::ptrdiff_t rowStep = 0; // bytes from window row to row
  std::ptrdiff_t colStep = 0; // bytes from window column to column
  int32_t type = 0;
  int32_t elementSize = 0;
};

bool ViewOf(const Egda_BaseData *rect, int32_t width, int32_t height, RectView &view, const char *reporter,
            Eerr_ErrorReport **err) {
  if (!rect || !rect->origin) {
    lower::Report(err, reporter, 2, "Invalid pixel rectangle");
    return false;
  }
  if (!ValidPixelType(rect->pixelType) || rect->elementSize != egda_PixelTypeSize(rect->pixelType)) {
    lower::Report(err, reporter, 3, "Pixel rectangles of pixel type %d cannot be read or written", rect->pixelType);
    return false;
  }
  if (width < 0 || height < 0 || rect->rows < height || rect->columns < width) {
    lower::Report(err, reporter, 4, "A window of %d x %d does not fit a pixel rectangle of %d x %d", width, height,
                  rect->columns, rect->rows);
    return false;
  }
  const bool columnMajor = lower::IsColumnMajor(*rect);
  view.origin = rect->origin;
  view.elementSize = rect->elementSize;
  view.type = rect->pixelType;
  view.rowStep = columnMajor ? rect->elementSize : rect->pitch;
  view.colStep = columnMajor ? rect->pitch : rect->elementSize;
  return true;
}

// Sets every pixel of the window (width x height) to the boundary value.
void FillBoundary(const Eimg_Layer *layer, const RectView &view, int32_t width, int32_t height) {
  uint8_t value[16] = {};
  const std::complex<double> boundary = StateOf(layer).boundary;
  conv::Converter(EGDA_TYPE_C128, view.type)(reinterpret_cast<const uint8_t *>(&boundary),
                                             sizeof boundary, value, view.elementSize, 1);
  for (int32_t i = 0; i < height; ++i) {
    uint8_t *p = view.origin + std::ptrdiff_t{i} * view.rowStep;
    for (int32_t j = 0; j < width; ++j, p += view.colStep) std::memcpy(p, value, static_cast<std::size_t>(view.elementSize));
  }
}

int64_t CeilDiv(int64_t a, int64_t b) { return (a + b - 1) / b; }

void SetCapacity(Eimg_Layer *layer, int64_t windowBlocks) {
  LayerState &state = StateOf(layer);
  const std::size_t limit = std::max<std::size_t>(kMinCachedBlocks, kCacheBytes / state.blockBytes);
  const std::size_t wanted = static_cast<std::size_t>(std::min<int64_t>(windowBlocks, INT32_MAX)) * 2;
  state.capacity = std::min(std::max(kMinCachedBlocks, wanted), limit);
}

// Moves the window between the layer's own pixels and the rectangle.
bool Transfer(Eimg_Layer *layer, int32_t column, int32_t row, int32_t width, int32_t height, const RectView &view,
              bool write, const char *reporter, Eerr_ErrorReport **err) {
  const int64_t x0 = std::max<int64_t>(column, 0), y0 = std::max<int64_t>(row, 0);
  const int64_t x1 = std::min<int64_t>(int64_t{column} + width, layer->width);
  const int64_t y1 = std::min<int64_t>(int64_t{row} + height, layer->height);
  if (!write && (x0 != column || y0 != row || x1 != int64_t{column} + width || y1 != int64_t{row} + height))
    FillBoundary(layer, view, width, height);
  if (x0 >= x1 || y0 >= y1) return true;
  LayerState &state = StateOf(layer);
  const int32_t bw = layer->blockWidth, bh = layer->blockHeight, es = state.elementSize;
  const conv::ConvertRun run =
      write ? conv::Converter(view.type, layer->pixelType) : conv::Converter(layer->pixelType, view.type);
  const int32_t br0 = static_cast<int32_t>(y0 / bh), br1 = static_cast<int32_t>((y1 - 1) / bh);
  const int32_t bc0 = static_cast<int32_t>(x0 / bw), bc1 = static_cast<int32_t>((x1 - 1) / bw);
  SetCapacity(layer, int64_t{br1 - br0 + 1} * (bc1 - bc0 + 1));
  for (int32_t br = br0; br <= br1; ++br) {
    const int64_t top = int64_t{br} * bh;
    const int64_t ys = std::max(y0, top), ye = std::min(y1, top + bh);
    // The blocks of this row that must come from the file, fetched together.
    int32_t first = -1, last = -1, missing = 0;
    for (int32_t bc = bc0; bc <= bc1; ++bc) {
      if (state.cache.count(int64_t{br} * layer->blocksAcross + bc)) continue;
      const int64_t left = int64_t{bc} * bw;
      if (write && std::max(x0, left) == left && ys == top &&
          std::min(x1, left + bw) == std::min<int64_t>(left + bw, layer->width) &&
          ye == std::min<int64_t>(top + bh, layer->height))
        continue;
      if (first < 0) first = bc;
      last = bc;
      ++missing;
    }
    if (missing > 1 && !Prefetch(layer, br, first, last, reporter, err)) return false;
    for (int32_t bc = bc0; bc <= bc1; ++bc) {
      const int64_t left = int64_t{bc} * bw;
      const int64_t xs = std::max(x0, left), xe = std::min(x1, left + bw);
      // A write covering the block's whole part inside the layer needs not read it first.
      const bool whole = write && xs == left && ys == top && xe == std::min<int64_t>(left + bw, layer->width) &&
                         ye == std::min<int64_t>(top + bh, layer->height);
      uint8_t *block = Block(layer, br, bc, whole, reporter, err);
      if (!block) return false;
      const int32_t n = static_cast<int32_t>(xe - xs);
      for (int64_t y = ys; y < ye; ++y) {
        uint8_t *pixels = block + ((y - top) * bw + (xs - left)) * es;
        uint8_t *rect = view.origin + (y - row) * view.rowStep + (xs - column) * view.colStep;
        if (write) run(rect, view.colStep, pixels, es, n);
        else run(pixels, es, rect, view.colStep, n);
      }
      if (write) state.cache[int64_t{br} * layer->blocksAcross + bc].dirty = true;
    }
  }
  return Trim(layer, reporter, err);
}

// ---- Reading through the read transform ----

double Cubic(double t) {
  constexpr double a = -0.5;
  t = std::fabs(t);
  if (t <= 1) return ((a + 2) * t - (a + 3)) * t * t + 1;
  if (t < 2) return ((a * t - 5 * a) * t + 8 * a) * t - 4 * a;
  return 0;
}

// Reads one segment of a destination row: n points (xs, ys) of source coordinates into the
// destination pixels at dst (step dstStep). Returns false with a report.
template <class V>
bool SampleSegment(Eimg_Layer *layer, const double *xs, const double *ys, int32_t n, uint8_t *dst,
                   std::ptrdiff_t dstStep, int32_t dstType, int32_t elementSize, const char *reporter,
                   Eerr_ErrorReport **err) {
  const LayerState &state = StateOf(layer);
  const Method method = state.method;
  const int32_t reach = method == Method::Nearest ? 0 : method == Method::Bilinear ? 1 : 2;
  const int32_t before = method == Method::Cubic ? 1 : 0;
  // The source window the segment needs, cut to the layer (widened by the kernel).
  int64_t left = INT64_MAX, top = INT64_MAX, right = INT64_MIN, bottom = INT64_MIN;
  std::vector<int64_t> px(static_cast<std::size_t>(n)), py(static_cast<std::size_t>(n));
  std::vector<uint8_t> inside(static_cast<std::size_t>(n));
  for (int32_t k = 0; k < n; ++k) {
    const double x = xs[k], y = ys[k];
    if (!(std::fabs(x) < kFarAway && std::fabs(y) < kFarAway)) continue;
    const int64_t ix = static_cast<int64_t>(method == Method::Nearest ? std::floor(x + 0.5) : std::floor(x));
    const int64_t iy = static_cast<int64_t>(method == Method::Nearest ? std::floor(y + 0.5) : std::floor(y));
    px[k] = ix;
    py[k] = iy;
    if (ix + reach < -2 || iy + reach < -2 || ix - before > layer->width + 1 || iy - before > layer->height + 1)
      continue;
    inside[k] = 1;
    left = std::min(left, ix - before);
    top = std::min(top, iy - before);
    right = std::max(right, ix + reach);
    bottom = std::max(bottom, iy + reach);
  }
  // Boundary for every pixel first; the samples overwrite it.
  {
    RectView view{dst, 0, dstStep, dstType, elementSize};
    FillBoundary(layer, view, n, 1);
  }
  if (left > right) return true;
  left = std::max<int64_t>(left, -2);
  top = std::max<int64_t>(top, -2);
  right = std::min<int64_t>(right, int64_t{layer->width} + 1);
  bottom = std::min<int64_t>(bottom, int64_t{layer->height} + 1);
  const int64_t sw = right - left + 1, sh = bottom - top + 1;
  if (sw * sh > kMaxResampleWindow && n > 1) {
    const int32_t half = n / 2;
    return SampleSegment<V>(layer, xs, ys, half, dst, dstStep, dstType, elementSize, reporter, err) &&
           SampleSegment<V>(layer, xs + half, ys + half, n - half, dst + half * dstStep, dstStep, dstType,
                            elementSize, reporter, err);
  }
  // Nearest neighbour copies pixels of the destination's type; the others compute in V.
  const int32_t windowType =
      method == Method::Nearest ? dstType : (std::is_same_v<V, double> ? EGDA_TYPE_F64 : EGDA_TYPE_C128);
  const int32_t windowSize = egda_PixelTypeSize(windowType);
  std::vector<uint8_t> window(static_cast<std::size_t>(sw * sh * windowSize));
  RectView wv{window.data(), sw * windowSize, windowSize, windowType, windowSize};
  if (!Transfer(layer, static_cast<int32_t>(left), static_cast<int32_t>(top), static_cast<int32_t>(sw),
                static_cast<int32_t>(sh), wv, false, reporter, err))
    return false;
  auto at = [&](int64_t x, int64_t y) -> V {
    V v;
    std::memcpy(&v, window.data() + ((y - top) * sw + (x - left)) * windowSize, sizeof v);
    return v;
  };
  std::vector<V> values;
  if (method != Method::Nearest) values.assign(static_cast<std::size_t>(n), V{});
  for (int32_t k = 0; k < n; ++k) {
    if (!inside[k]) continue;
    const int64_t ix = px[k], iy = py[k];
    if (method == Method::Nearest) {
      if (ix < left || ix > right || iy < top || iy > bottom) continue;
      std::memcpy(dst + k * dstStep, window.data() + ((iy - top) * sw + (ix - left)) * windowSize,
                  static_cast<std::size_t>(windowSize));
      continue;
    }
    if (ix - before < left || iy - before < top || ix + reach > right || iy + reach > bottom) {
      // Kernel reaches beyond the margin kept around the layer: all boundary there.
      if constexpr (std::is_same_v<V, double>) values[k] = state.boundary.real();
      else values[k] = state.boundary;
      continue;
    }
    const double fx = xs[k] - static_cast<double>(ix), fy = ys[k] - static_cast<double>(iy);
    V sum{};
    if (method == Method::Bilinear) {
      sum = at(ix, iy) * ((1 - fx) * (1 - fy)) + at(ix + 1, iy) * (fx * (1 - fy)) + at(ix, iy + 1) * ((1 - fx) * fy) +
            at(ix + 1, iy + 1) * (fx * fy);
    } else {
      for (int32_t j = -1; j <= 2; ++j) {
        const double wy = Cubic(fy - j);
        V line{};
        for (int32_t i = -1; i <= 2; ++i) line += at(ix + i, iy + j) * Cubic(fx - i);
        sum += line * wy;
      }
    }
    values[k] = sum;
  }
  if (method != Method::Nearest) {
    const conv::ConvertRun run = conv::Converter(windowType, dstType);
    for (int32_t k = 0; k < n; ++k)
      if (inside[k]) run(reinterpret_cast<const uint8_t *>(&values[static_cast<std::size_t>(k)]), sizeof(V),
                         dst + k * dstStep, dstStep, 1);
  }
  return true;
}

bool ReadTransformed(Eimg_Layer *layer, int32_t column, int32_t row, int32_t width, int32_t height,
                     const RectView &view, const char *reporter, Eerr_ErrorReport **err) {
  if (width == 0 || height == 0) return true;
  LayerState &state = StateOf(layer);
  Eerr_ErrorReport *inner = nullptr;
  Egda_BaseData *points = egda_BaseDataCreate(2, width, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &inner);
  if (!points) {
    lower::ReportCallee(err, inner, reporter, 95, "egda_BaseDataCreate");
    return false;
  }
  std::vector<double> xs(static_cast<std::size_t>(width)), ys(static_cast<std::size_t>(width));
  const bool complex = IsComplexType(layer->pixelType) || IsComplexType(view.type);
  bool ok = true;
  for (int32_t i = 0; i < height && ok; ++i) {
    auto *p = reinterpret_cast<double *>(points->data);
    for (int32_t j = 0; j < width; ++j) {
      p[2 * j] = double(column) + j;
      p[2 * j + 1] = double(row) + i;
    }
    if (!exfr_Transform(state.transform, points, points, &inner)) {
      lower::ReportCallee(err, inner, reporter, 95, "exfr_Transform");
      ok = false;
      break;
    }
    for (int32_t j = 0; j < width; ++j) {
      xs[static_cast<std::size_t>(j)] = p[2 * j];
      ys[static_cast<std::size_t>(j)] = p[2 * j + 1];
    }
    uint8_t *dst = view.origin + std::ptrdiff_t{i} * view.rowStep;
    ok = complex ? SampleSegment<std::complex<double>>(layer, xs.data(), ys.data(), width, dst, view.colStep,
                                                       view.type, view.elementSize, reporter, err)
                 : SampleSegment<double>(layer, xs.data(), ys.data(), width, dst, view.colStep, view.type,
                                         view.elementSize, reporter, err);
  }
  egda_BaseDataDelete(points, nullptr);
  return ok;
}

// ---- Options ----

struct Option {
  int32_t code = 0;
  int32_t a = 0, b = 0;
  void *p = nullptr, *q = nullptr;
  const char *s = nullptr;
};

// Reads the keyword list; false with a report at an unknown keyword.
bool ParseOptions(va_list ap, std::vector<Option> &options, const char *reporter, int32_t code,
                  Eerr_ErrorReport **err) {
  for (;;) {
    Option o;
    o.code = va_arg(ap, int);
    switch (o.code) {
    case 0: return true;
    case 3: case 4: case 7: case 11: case 21: case 25: case 26: case 29: case 256: break;
    case EIMG_OPTION_BLOCK_SIZE:
    case 34:
      o.a = va_arg(ap, int);
      o.b = va_arg(ap, int);
      break;
    case EIMG_OPTION_BOUNDARY_VALUE:
    case EIMG_OPTION_METER:
    case 22:
    case EIMG_OPTION_AOI: o.p = va_arg(ap, void *); break;
    case 28: o.a = va_arg(ap, int); break;
    case 9:
      o.s = va_arg(ap, const char *);
      o.a = va_arg(ap, int);
      o.p = va_arg(ap, void *);
      break;
    case 10:
      o.p = va_arg(ap, void *);
      o.q = va_arg(ap, void *);
      break;
    case EIMG_OPTION_READ_TRANSFORM:
      o.p = va_arg(ap, void *);
      o.s = va_arg(ap, const char *);
      break;
    default: lower::Report(err, reporter, code, "Unknown option keyword %d", o.code); return false;
    }
    options.push_back(o);
  }
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
    Eerr_ErrorReport *inner = nullptr;
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
    case 22: {
      Egda_BaseData *copy = nullptr;
      if (o.p && !(copy = egda_BaseDataCopy(static_cast<const Egda_BaseData *>(o.p), nullptr, &inner))) {
        lower::ReportCallee(err, inner, reporter, code, "egda_BaseDataCopy");
        return false;
      }
      egda_BaseDataDelete(state.excluded, nullptr);
      state.excluded = copy;
      break;
    }
    case 28: state.outputOption = o.a; break;
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

// ---- Making layer records ----

void FreeLayer(Eimg_Layer *layer) {
  if (!layer) return;
  if (layer->internal) {
    LayerState &state = StateOf(layer);
    exfr_XFormFree(&state.transform, nullptr);
    egda_BaseDataDelete(state.excluded, nullptr);
    state.~LayerState();
    emsc_HeapFree(layer->internal);
  }
  FreeRenderContext(layer);
  emsc_HeapFree(layer->name);
  emsc_HeapFree(layer);
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
  auto *layer = static_cast<Eimg_Layer *>(emsc_HeapMalloc(sizeof(Eimg_Layer)));
  void *block = emsc_HeapMalloc(sizeof(LayerState));
  Eerr_ErrorReport *inner = nullptr;
  char *name = efnp_FileNodeListSet(file.c_str(), node.c_str(), EFNP_NODE_PART, 0, &inner);
  if (!layer || !block || !name) {
    eerr_DeleteErrorReportEx(&inner);
    emsc_HeapFree(layer);
    emsc_HeapFree(block);
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
  auto *state = new (block) LayerState;
  layer->internal = state;
  state->shared = shared;
  state->entry = entry;
  state->node = node;
  state->init = init;
  state->elementSize = egda_PixelTypeSize(s.pixelType);
  state->blockBytes = static_cast<std::size_t>(s.blockWidth) * static_cast<std::size_t>(s.blockHeight) *
                      static_cast<std::size_t>(state->elementSize);
  return layer;
}

// Deletes the entries below the current entry.
bool DeleteChildren(Ehfa_File *file, const char *reporter, Eerr_ErrorReport **err) {
  for (;;) {
    Eerr_ErrorReport *inner = nullptr;
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
  Eerr_ErrorReport *inner = nullptr;
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
    Eerr_ErrorReport *inner = nullptr;
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
  const Emif_Design *design = LayerDesign(reporter, err);
  if (!design) return nullptr;
  FileHold hold;
  hold.shared = Acquire(parsed.file, true, init, reporter, err);
  if (!hold.shared) return nullptr;
  int64_t entryId = 0;
  {
    std::lock_guard<std::mutex> lock(hold.shared->mutex);
    Ehfa_File *file = hold.shared->file;
    Eerr_ErrorReport *inner = nullptr;
    Ehfa_Entry *old = ehfa_EntrySeek(file, EHFA_PATH, parsed.node.c_str(), &inner);
    eerr_DeleteErrorReportEx(&inner);
    if (old && std::strcmp(old->type, kLayerDesignName) != 0) {
      lower::Report(err, reporter, 4, "Node %.200s of %.400s is not a raster layer", parsed.node.c_str(),
                    parsed.file.c_str());
      return nullptr;
    }
    if (old) {
      if (!DeleteChildren(file, reporter, err)) return nullptr;
      if (!ehfa_ObjectWrite(file, parsed.node.c_str(), nullptr, kLayerDesignName, EHFA_OVERWRITE, &stored, design,
                            &inner)) {
        lower::ReportCallee(err, inner, reporter, 5, "ehfa_ObjectWrite");
        return nullptr;
      }
      entryId = taviron::ehfa::CurrentEntryId(file);
      if (taviron::ehfa::BlocksDelete(file, entryId, &inner) != 0) {
        lower::ReportCallee(err, inner, reporter, 5, "ehfa_BlocksDelete");
        return nullptr;
      }
    } else {
      std::string parent, last;
      SplitNode(parsed.node, parent, last);
      if (!ehfa_ObjectWrite(file, parent.c_str(), last.c_str(), kLayerDesignName, EHFA_LAST_CHILD, &stored, design,
                            &inner)) {
        lower::ReportCallee(err, inner, reporter, 5, "ehfa_ObjectWrite");
        return nullptr;
      }
      entryId = taviron::ehfa::CurrentEntryId(file);
    }
  }
  Eimg_Layer *layer = NewLayer(stored, parsed.file, parsed.node, hold.shared, entryId, init, reporter, err);
  if (!layer) return nullptr;
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
  if (ok) {
    Eerr_ErrorReport *inner = nullptr;
    {
      std::lock_guard<std::mutex> lock(state.shared->mutex);
      ehfa_FileFlush(state.shared->file, &inner);
    }
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 3, "ehfa_FileFlush");
      ok = false;
    }
  }
  if (!Release(state.shared, reporter, ok ? err : nullptr)) ok = false;
  FreeLayer(layer);
  return ok;
}

bool CheckWindow(const Eimg_Layer *layer, int32_t width, int32_t height, const char *reporter,
                 Eerr_ErrorReport **err) {
  if (width < 0 || height < 0) {
    lower::Report(err, reporter, 4, "Invalid window of %d x %d", width, height);
    return false;
  }
  (void)layer;
  return true;
}

int32_t ReadWindow(Eimg_Layer *layer, int32_t column, int32_t row, int32_t width, int32_t height, Egda_BaseData *rect,
                   bool direct, const char *reporter, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!Usable(layer, reporter, err) || !CheckWindow(layer, width, height, reporter, err)) return -1;
  RectView view;
  if (!ViewOf(rect, width, height, view, reporter, err)) return -1;
  if (width == 0 || height == 0) return 0;
  const bool ok = !direct && StateOf(layer).transform
                      ? ReadTransformed(layer, column, row, width, height, view, reporter, err)
                      : Transfer(layer, column, row, width, height, view, false, reporter, err);
  return ok ? 0 : -1;
}

int32_t WriteWindow(Eimg_Layer *layer, int32_t column, int32_t row, int32_t width, int32_t height,
                    const Egda_BaseData *rect, const char *reporter, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!Usable(layer, reporter, err) || !CheckWindow(layer, width, height, reporter, err)) return -1;
  RectView view;
  if (!ViewOf(rect, width, height, view, reporter, err)) return -1;
  if (width == 0 || height == 0) return 0;
  return Transfer(layer, column, row, width, height, view, true, reporter, err) ? 0 : -1;
}

// ---- Map information and projection of a layer (nodes below its entry) ----

// Non-zero when the layer's entry has a child of that name (the file is locked by the caller).
bool HasChild(const Eimg_Layer *layer, const char *child) {
  const LayerState &state = StateOf(layer);
  Eerr_ErrorReport *inner = nullptr;
  Ehfa_Entry *entry = ehfa_EntryPeek(state.shared->file, EHFA_PATH_PEEK, (state.node + ":" + child).c_str(), &inner);
  eerr_DeleteErrorReportEx(&inner);
  return entry != nullptr;
}

// The stored map information (into info, or new), or null (with a report only for a failure).
Eprj_MapInfo *StoredMapInfo(Eimg_Layer *layer, Eprj_MapInfo *info, const char *reporter, int32_t code,
                            Eerr_ErrorReport **err) {
  LayerState &state = StateOf(layer);
  std::lock_guard<std::mutex> lock(state.shared->mutex);
  if (!HasChild(layer, EPRJ_MAPINFO_NODE)) return nullptr;
  Eerr_ErrorReport *inner = nullptr;
  Eprj_MapInfo *read = eprj_MapInfoRead(state.shared->file, state.node.c_str(), info, 0, &inner);
  if (!read) lower::ReportCallee(err, inner, reporter, code, "eprj_MapInfoRead");
  return read;
}

Eprj_ProParameters *StoredParameters(Eimg_Layer *layer, Eprj_ProParameters *parameters, const char *reporter,
                                     int32_t code, Eerr_ErrorReport **err) {
  LayerState &state = StateOf(layer);
  std::lock_guard<std::mutex> lock(state.shared->mutex);
  if (!HasChild(layer, EPRJ_PROPARAMETERS_NODE)) return nullptr;
  Eerr_ErrorReport *inner = nullptr;
  Eprj_ProParameters *read =
      eprj_ProParametersRead(state.shared->file, state.node.c_str(), parameters, 0, &inner);
  if (!read) lower::ReportCallee(err, inner, reporter, code, "eprj_ProParametersRead");
  return read;
}

// The default map information of a layer without georeferencing.
Eprj_MapInfo *DefaultMapInfo(const Eimg_Layer *layer, const char *reporter, int32_t code, Eerr_ErrorReport **err) {
  Eerr_ErrorReport *inner = nullptr;
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

template <class Write> int32_t WriteBelow(Eimg_Layer *layer, Write write, const char *reporter, const char *callee,
                                          Eerr_ErrorReport **err) {
  LayerState &state = StateOf(layer);
  std::lock_guard<std::mutex> lock(state.shared->mutex);
  Eerr_ErrorReport *inner = nullptr;
  if (write(state.shared->file, state.node.c_str(), &inner) != 0) {
    lower::ReportCallee(err, inner, reporter, 3, callee);
    return -1;
  }
  return 0;
}

// ---- Stacks ----

Eimg_LayerStack *NewStack(int32_t count, const char *reporter, Eerr_ErrorReport **err) {
  auto *stack = static_cast<Eimg_LayerStack *>(emsc_HeapMalloc(sizeof(Eimg_LayerStack)));
  auto **layers = static_cast<Eimg_Layer **>(emsc_HeapMalloc(sizeof(Eimg_Layer *) * std::size_t(std::max(count, 1))));
  if (!stack || !layers) {
    emsc_HeapFree(stack);
    emsc_HeapFree(layers);
    lower::Report(err, reporter, 2, "Error allocating the layer stack");
    return nullptr;
  }
  stack->count = 0;
  stack->layers = layers;
  return stack;
}

void DropStack(Eimg_LayerStack *stack) {
  for (int32_t i = 0; i < stack->count; ++i) CloseLayer(stack->layers[i], "", nullptr);
  emsc_HeapFree(stack->layers);
  emsc_HeapFree(stack);
}

bool ValidNames(const Estr_StringList *names, const char *reporter, Eerr_ErrorReport **err) {
  if (!names || names->count < 1 || !names->strings) {
    lower::Report(err, reporter, 1, "Invalid list of layer names");
    return false;
  }
  return true;
}

int32_t StackMove(Eimg_LayerStack *stack, int32_t column, int32_t row, int32_t width, int32_t height,
                  const Egda_BaseDataStack *rects, int mode, const char *reporter, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!stack || !stack->layers) {
    lower::Report(err, reporter, 1, "Invalid layer stack");
    return -1;
  }
  if (!rects || !rects->layers || rects->count < stack->count) {
    lower::Report(err, reporter, 2, "The pixel rectangle stack has fewer rectangles than the %d layers",
                  stack->count);
    return -1;
  }
  for (int32_t i = 0; i < stack->count; ++i) {
    Eerr_ErrorReport *inner = nullptr;
    const int32_t result =
        mode == 1 ? WriteWindow(stack->layers[i], column, row, width, height, rects->layers[i], "eimg_LayerWrite", &inner)
                  : ReadWindow(stack->layers[i], column, row, width, height, rects->layers[i], mode == 2,
                               mode == 2 ? "eimg_LayerRasterPixelRectGet" : "eimg_LayerRead", &inner);
    if (result != 0) {
      lower::Report(&inner, reporter, 3, "Error with layer %d of the stack", i + 1);
      if (err) *err = inner;
      else eerr_DeleteErrorReportEx(&inner);
      return -1;
    }
  }
  return 0;
}

// ---- Stored records at nodes ----

std::mutex dataDictionaryMutex;
Emif_Dictionary *dataDictionary = nullptr;

} // namespace

extern "C" {

// ---- Layers ----

Estr_StringList *eimg_LayerGetNames(const char *fileName, Eint_InitToolkitData *init, Eerr_ErrorReport **err) {
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
    Eerr_ErrorReport *inner = nullptr;
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
  Eerr_ErrorReport *inner = nullptr;
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
}

int32_t eimg_LayerNameParse(const char *name, char **fileName, char **layerName, Eerr_ErrorReport **err) {
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
}

Eimg_Layer *eimg_LayerOpen(const char *name, Eint_InitToolkitData *init, Eerr_ErrorReport **err, ...) {
  static const char *const kReporter = "eimg_LayerOpen";
  lower::Clear(err);
  std::vector<Option> options;
  va_list ap;
  va_start(ap, err);
  const bool parsed = ParseOptions(ap, options, kReporter, 1, err);
  va_end(ap);
  if (!parsed) return nullptr;
  return OpenLayer(name, init, options, kReporter, err);
}

Eimg_Layer *eimg_LayerCreate(const char *name, int32_t layerType, int32_t pixelType, int32_t width, int32_t height,
                             Eint_InitToolkitData *init, Eerr_ErrorReport **err, ...) {
  static const char *const kReporter = "eimg_LayerCreate";
  lower::Clear(err);
  std::vector<Option> options;
  va_list ap;
  va_start(ap, err);
  const bool parsed = ParseOptions(ap, options, kReporter, 1, err);
  va_end(ap);
  if (!parsed) return nullptr;
  return CreateLayer(name, layerType, pixelType, width, height, init, options, kReporter, err);
}

void eimg_LayerClose(Eimg_Layer *layer, Eerr_ErrorReport **err) {
  lower::Clear(err);
  CloseLayer(layer, "eimg_LayerClose", err);
}

int32_t eimg_FileDestroy(const char *fileName, Eerr_ErrorReport **err) {
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
  Eerr_ErrorReport *inner = nullptr;
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
}

int32_t eimg_LayerChangeOptions(Eimg_Layer *layer, Eerr_ErrorReport **err, ...) {
  static const char *const kReporter = "eimg_LayerChangeOptions";
  lower::Clear(err);
  std::vector<Option> options;
  va_list ap;
  va_start(ap, err);
  const bool parsed = ParseOptions(ap, options, kReporter, 2, err);
  va_end(ap);
  if (!Usable(layer, kReporter, err) || !parsed) return -1;
  return ApplyOptions(layer, options, kReporter, 3, err) ? 0 : -1;
}

int32_t eimg_LayerRead(Eimg_Layer *layer, int32_t column, int32_t row, int32_t width, int32_t height,
                       Egda_BaseData *rect, Eerr_ErrorReport **err) {
  return ReadWindow(layer, column, row, width, height, rect, false, "eimg_LayerRead", err);
}

int32_t eimg_LayerWrite(Eimg_Layer *layer, int32_t column, int32_t row, int32_t width, int32_t height,
                        const Egda_BaseData *rect, Eerr_ErrorReport **err) {
  return WriteWindow(layer, column, row, width, height, rect, "eimg_LayerWrite", err);
}

int32_t eimg_LayerRasterPixelRectGet(Eimg_Layer *layer, int32_t column, int32_t row, int32_t width, int32_t height,
                                     Egda_BaseData *rect, Eerr_ErrorReport **err) {
  return ReadWindow(layer, column, row, width, height, rect, true, "eimg_LayerRasterPixelRectGet", err);
}

int32_t eimg_LayerRasterPixelRectSet(Eimg_Layer *layer, int32_t column, int32_t row, int32_t width, int32_t height,
                                     const Egda_BaseData *rect, Eerr_ErrorReport **err) {
  return WriteWindow(layer, column, row, width, height, rect, "eimg_LayerRasterPixelRectSet", err);
}

int32_t eimg_LayerRasterFlush(Eimg_Layer *layer, int32_t mode, Eerr_ErrorReport **err) {
  static const char *const kReporter = "eimg_LayerRasterFlush";
  lower::Clear(err);
  (void)mode;
  if (!Usable(layer, kReporter, err)) return -1;
  if (!FlushBlocks(layer, false, kReporter, err)) return -1;
  LayerState &state = StateOf(layer);
  Eerr_ErrorReport *inner = nullptr;
  {
    std::lock_guard<std::mutex> lock(state.shared->mutex);
    ehfa_FileFlush(state.shared->file, &inner);
  }
  if (inner) {
    lower::ReportCallee(err, inner, kReporter, 2, "ehfa_FileFlush");
    return -1;
  }
  return 0;
}

Eprj_MapInfo *eimg_LayerMapInfoGet(Eimg_Layer *layer, Eerr_ErrorReport **err) {
  static const char *const kReporter = "eimg_LayerMapInfoGet";
  lower::Clear(err);
  if (!Usable(layer, kReporter, err)) return nullptr;
  Eerr_ErrorReport *inner = nullptr;
  if (Eprj_MapInfo *stored = StoredMapInfo(layer, nullptr, kReporter, 2, &inner)) return stored;
  if (inner) {
    if (err) *err = inner;
    else eerr_DeleteErrorReportEx(&inner);
    return nullptr;
  }
  return DefaultMapInfo(layer, kReporter, 3, err);
}

Eprj_MapInfo *eimg_MapInfoRead(Eimg_Layer *layer, Eprj_MapInfo *info, Eerr_ErrorReport **err) {
  static const char *const kReporter = "eimg_MapInfoRead";
  lower::Clear(err);
  if (!Usable(layer, kReporter, err)) return nullptr;
  return StoredMapInfo(layer, info, kReporter, 2, err);
}

int32_t eimg_MapInfoWrite(Eimg_Layer *layer, const Eprj_MapInfo *info, Eerr_ErrorReport **err) {
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
}

Eprj_ProParameters *eimg_ProParametersRead(Eimg_Layer *layer, Eprj_ProParameters *parameters,
                                           Eerr_ErrorReport **err) {
  static const char *const kReporter = "eimg_ProParametersRead";
  lower::Clear(err);
  if (!Usable(layer, kReporter, err)) return nullptr;
  return StoredParameters(layer, parameters, kReporter, 2, err);
}

int32_t eimg_ProParametersWrite(Eimg_Layer *layer, const Eprj_ProParameters *parameters, Eerr_ErrorReport **err) {
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
}

int32_t eimg_LayerMapProjectionRead(Eimg_Layer *layer, Eprj_MapProjection **projection, Eerr_ErrorReport **err) {
  static const char *const kReporter = "eimg_LayerMapProjectionRead";
  lower::Clear(err);
  if (projection) *projection = nullptr;
  if (!Usable(layer, kReporter, err)) return -1;
  if (!projection) {
    lower::Report(err, kReporter, 2, "No projection slot given");
    return -1;
  }
  Eerr_ErrorReport *inner = nullptr;
  Eprj_ProParameters *parameters = StoredParameters(layer, nullptr, kReporter, 3, &inner);
  if (!parameters) {
    if (err) *err = inner;
    else eerr_DeleteErrorReportEx(&inner);
    return inner ? -1 : 0;
  }
  *projection = eprj_ProjectionInit(StateOf(layer).init, parameters, &inner);
  eprj_ProParametersFree(&parameters);
  if (!*projection) {
    lower::ReportCallee(err, inner, kReporter, 4, "eprj_ProjectionInit");
    return -1;
  }
  return 0;
}

int32_t eimg_LayerMapProjectionWrite(Eimg_Layer *layer, const Eprj_MapProjection *projection,
                                     Eerr_ErrorReport **err) {
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
}

int32_t eimg_LayerMapInformationRead(Eimg_Layer *layer, Eprj_MapInfo **info, Eprj_ProParameters **parameters,
                                     _exfr_XForm **xform, Eerr_ErrorReport **err) {
  static const char *const kReporter = "eimg_LayerMapInformationRead";
  lower::Clear(err);
  if (info) *info = nullptr;
  if (parameters) *parameters = nullptr;
  if (xform) *xform = nullptr;
  if (!Usable(layer, kReporter, err)) return -1;
  Eerr_ErrorReport *inner = nullptr;
  Eprj_MapInfo *stored = StoredMapInfo(layer, nullptr, kReporter, 2, &inner);
  Eprj_ProParameters *pro = inner ? nullptr : StoredParameters(layer, nullptr, kReporter, 3, &inner);
  _exfr_XForm *transform = nullptr;
  if (!inner && xform) {
    LayerState &state = StateOf(layer);
    bool hasNode;
    {
      std::lock_guard<std::mutex> lock(state.shared->mutex);
      hasNode = HasChild(layer, EXFR_XFORM_NODE);
      if (hasNode && !(transform = exfr_XFormRead(state.shared->file, state.node.c_str(), &inner)) && inner)
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
    if (err) *err = inner;
    else eerr_DeleteErrorReportEx(&inner);
    return -1;
  }
  if (info) *info = stored;
  else eprj_MapInfoFree(&stored);
  if (parameters) *parameters = pro;
  else eprj_ProParametersFree(&pro);
  if (xform) *xform = transform;
  return 0;
}

int32_t eimg_LayerMapInformationWrite(Eimg_Layer *layer, const Eprj_MapInfo *info,
                                      const Eprj_ProParameters *parameters, const _exfr_XForm *xform,
                                      Eerr_ErrorReport **err) {
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
}

const _exfr_XForm *eimg_LayerTransformationQuery(const Eimg_Layer *layer) {
  return layer && layer->internal ? StateOf(layer).transform : nullptr;
}

int32_t eimg_FileDataWrite(const char *name, const Emif_Design *design, const void *data, Eerr_ErrorReport **err,
                           ...) {
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
  Eerr_ErrorReport *inner = nullptr;
  Ehfa_Entry *old = ehfa_EntryPeek(file, EHFA_PATH_PEEK, parsed.node.c_str(), &inner);
  eerr_DeleteErrorReportEx(&inner);
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
  if (!written) {
    lower::ReportCallee(err, inner, kReporter, 2, "ehfa_ObjectWrite");
    return -1;
  }
  ehfa_FileFlush(file, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, kReporter, 3, "ehfa_FileFlush");
    return -1;
  }
  return 0;
}

void *eimg_FileDataRead(const char *name, const Emif_Design **design, void **data, Eerr_ErrorReport **err) {
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
  Eerr_ErrorReport *inner = nullptr;
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
}

// ---- Layer stacks ----

Eimg_LayerStack *eimg_LayerStackOpen(const Estr_StringList *names, Eint_InitToolkitData *init, Eerr_ErrorReport **err,
                                     ...) {
  static const char *const kReporter = "eimg_LayerStackOpen";
  lower::Clear(err);
  std::vector<Option> options;
  va_list ap;
  va_start(ap, err);
  const bool parsed = ParseOptions(ap, options, kReporter, 1, err);
  va_end(ap);
  if (!parsed || !ValidNames(names, kReporter, err)) return nullptr;
  Eimg_LayerStack *stack = NewStack(names->count, kReporter, err);
  if (!stack) return nullptr;
  for (int32_t i = 0; i < names->count; ++i) {
    Eerr_ErrorReport *inner = nullptr;
    Eimg_Layer *layer = OpenLayer(names->strings[i], init, options, "eimg_LayerOpen", &inner);
    if (!layer) {
      DropStack(stack);
      lower::ReportCallee(err, inner, kReporter, 3, "eimg_LayerOpen");
      return nullptr;
    }
    stack->layers[stack->count++] = layer;
  }
  return stack;
}

Eimg_LayerStack *eimg_LayerStackCreate(const Estr_StringList *names, int32_t layerType, int32_t pixelType,
                                       int32_t width, int32_t height, Eint_InitToolkitData *init,
                                       Eerr_ErrorReport **err, ...) {
  static const char *const kReporter = "eimg_LayerStackCreate";
  lower::Clear(err);
  std::vector<Option> options;
  va_list ap;
  va_start(ap, err);
  const bool parsed = ParseOptions(ap, options, kReporter, 1, err);
  va_end(ap);
  if (!parsed || !ValidNames(names, kReporter, err)) return nullptr;
  Eimg_LayerStack *stack = NewStack(names->count, kReporter, err);
  if (!stack) return nullptr;
  for (int32_t i = 0; i < names->count; ++i) {
    Eerr_ErrorReport *inner = nullptr;
    Eimg_Layer *layer =
        CreateLayer(names->strings[i], layerType, pixelType, width, height, init, options, "eimg_LayerCreate", &inner);
    if (!layer) {
      DropStack(stack);
      lower::ReportCallee(err, inner, kReporter, 3, "eimg_LayerCreate");
      return nullptr;
    }
    stack->layers[stack->count++] = layer;
  }
  return stack;
}

int32_t eimg_LayerStackChangeOptions(Eimg_LayerStack *stack, Eerr_ErrorReport **err, ...) {
  static const char *const kReporter = "eimg_LayerStackChangeOptions";
  lower::Clear(err);
  std::vector<Option> options;
  va_list ap;
  va_start(ap, err);
  const bool parsed = ParseOptions(ap, options, kReporter, 2, err);
  va_end(ap);
  if (!stack || !stack->layers) {
    lower::Report(err, kReporter, 1, "Invalid layer stack");
    return -1;
  }
  if (!parsed) return -1;
  for (int32_t i = 0; i < stack->count; ++i)
    if (!ApplyOptions(stack->layers[i], options, kReporter, 3, err)) return -1;
  return 0;
}

void eimg_LayerStackClose(Eimg_LayerStack *stack, Eerr_ErrorReport **err) {
  static const char *const kReporter = "eimg_LayerStackClose";
  lower::Clear(err);
  if (!stack) return;
  Eerr_ErrorReport *first = nullptr;
  for (int32_t i = 0; i < stack->count; ++i) {
    Eerr_ErrorReport *inner = nullptr;
    if (!CloseLayer(stack->layers[i], "eimg_LayerClose", &inner) && !first)
      lower::ReportCallee(&first, inner, kReporter, 1, "eimg_LayerClose");
    else eerr_DeleteErrorReportEx(&inner);
  }
  emsc_HeapFree(stack->layers);
  emsc_HeapFree(stack);
  if (err) *err = first;
  else eerr_DeleteErrorReportEx(&first);
}

int32_t eimg_LayerStackRead(Eimg_LayerStack *stack, int32_t column, int32_t row, int32_t width, int32_t height,
                            Egda_BaseDataStack *rects, Eerr_ErrorReport **err) {
  return StackMove(stack, column, row, width, height, rects, 0, "eimg_LayerStackRead", err);
}

int32_t eimg_LayerStackWrite(Eimg_LayerStack *stack, int32_t column, int32_t row, int32_t width, int32_t height,
                             const Egda_BaseDataStack *rects, Eerr_ErrorReport **err) {
  return StackMove(stack, column, row, width, height, rects, 1, "eimg_LayerStackWrite", err);
}

int32_t eimg_LayerStackRasterPixelRectStackGet(Eimg_LayerStack *stack, int32_t column, int32_t row, int32_t width,
                                               int32_t height, Egda_BaseDataStack *rects, Eerr_ErrorReport **err) {
  return StackMove(stack, column, row, width, height, rects, 2, "eimg_LayerStackRasterPixelRectStackGet", err);
}

Estr_StringList *eimg_LayerNameStackCreate(const char *fileName, int32_t count, Eerr_ErrorReport **err) {
  static const char *const kReporter = "eimg_LayerNameStackCreate";
  lower::Clear(err);
  if (!fileName || !*fileName || count < 0) {
    lower::Report(err, kReporter, 1, "Invalid file name or layer count");
    return nullptr;
  }
  Eerr_ErrorReport *inner = nullptr;
  Estr_StringList *list = estr_StringListCreate(count, &inner);
  if (!list) {
    lower::ReportCallee(err, inner, kReporter, 2, "estr_StringListCreate");
    return nullptr;
  }
  for (int32_t i = 0; i < count; ++i) {
    const std::string name = lower::Format("%s(:Layer_%d)", fileName, i + 1);
    if (!(list->strings[i] = lower::HeapCopy(name.data(), name.size()))) {
      estr_StringListDelete(list, nullptr);
      lower::Report(err, kReporter, 3, "Error allocating the layer names");
      return nullptr;
    }
  }
  return list;
}

void eimg_LayerNameStackDelete(Estr_StringList *names, Eerr_ErrorReport **err) {
  lower::Clear(err);
  estr_StringListDelete(names, nullptr);
}

// ---- Windows and pixel rectangles ----

Egda_Window *eimg_WindowCreate(int32_t width, int32_t height, int32_t x, int32_t y, Eerr_ErrorReport **err) {
  lower::Clear(err);
  Eerr_ErrorReport *inner = nullptr;
  Egda_Window *window = egda_WindowCreate(width, height, x, y, &inner);
  if (!window) lower::ReportCallee(err, inner, "eimg_WindowCreate", 1, "egda_WindowCreate");
  return window;
}

void eimg_WindowDelete(Egda_Window *window, Eerr_ErrorReport **err) {
  lower::Clear(err);
  egda_WindowDelete(window, nullptr);
}

Egda_BaseData *eimg_PixelRectCreate(int32_t width, int32_t height, int32_t pixelType, Eerr_ErrorReport **err) {
  static const char *const kReporter = "eimg_PixelRectCreate";
  lower::Clear(err);
  if (!ValidPixelType(pixelType) || width < 0 || height < 0) {
    lower::Report(err, kReporter, 1, "Invalid pixel rectangle: %d x %d of pixel type %d", width, height, pixelType);
    return nullptr;
  }
  Eerr_ErrorReport *inner = nullptr;
  Egda_BaseData *rect = egda_BaseDataCreate(height, width, pixelType, EGDA_RASTER, nullptr, &inner);
  if (!rect) lower::ReportCallee(err, inner, kReporter, 2, "egda_BaseDataCreate");
  return rect;
}

void eimg_PixelRectDelete(Egda_BaseData *rect, Eerr_ErrorReport **err) {
  lower::Clear(err);
  egda_BaseDataDelete(rect, nullptr);
}

Egda_BaseDataStack *eimg_PixelRectStackCreate(int32_t count, int32_t width, int32_t height, int32_t pixelType,
                                              Eerr_ErrorReport **err) {
  static const char *const kReporter = "eimg_PixelRectStackCreate";
  lower::Clear(err);
  if (!ValidPixelType(pixelType) || width < 0 || height < 0 || count < 0) {
    lower::Report(err, kReporter, 1, "Invalid pixel rectangle stack: %d of %d x %d of pixel type %d", count, width,
                  height, pixelType);
    return nullptr;
  }
  Eerr_ErrorReport *inner = nullptr;
  Egda_BaseDataStack *stack = egda_BaseDataStackCreate(count, height, width, pixelType, EGDA_RASTER, &inner);
  if (!stack) lower::ReportCallee(err, inner, kReporter, 2, "egda_BaseDataStackCreate");
  return stack;
}

void eimg_PixelRectStackDelete(Egda_BaseDataStack *stack, Eerr_ErrorReport **err) {
  lower::Clear(err);
  egda_BaseDataStackDelete(stack, nullptr);
}

Egda_BaseDataStack *eimg_PixelRectStackCopy(const Egda_BaseDataStack *stack, Egda_BaseDataStack *destination,
                                            Eerr_ErrorReport **err) {
  lower::Clear(err);
  Eerr_ErrorReport *inner = nullptr;
  Egda_BaseDataStack *copy = egda_BaseDataStackCopy(stack, destination, &inner);
  if (!copy) lower::ReportCallee(err, inner, "eimg_PixelRectStackCopy", 1, "egda_BaseDataStackCopy");
  return copy;
}

} // extern "C"

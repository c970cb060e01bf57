// The pixels of a layer: blocks through the per-layer cache, windows of pixel rectangles,
// and reading through the read transform.
#include "eimg.h"

#include <fcntl.h>
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

#include "efio.h"
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

// Writes a block into the file's open transaction (the caller holds the file's mutex).
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
  lower::CalleeReport inner;
  if (taviron::ehfa::BlockWrite(state.shared->file, state.entry, row, col, data,
                                static_cast<int32_t>(state.blockBytes), &inner) != 0) {
    lower::ReportCallee(err, inner, reporter, 93, "ehfa_BlockWrite");
    return false;
  }
  return true;
}

// Keeps at most `keep` blocks; the changed ones that leave wait in the spill file.
bool Trim(Eimg_Layer *layer, std::size_t keep, const char *reporter, Eerr_ErrorReport **err) {
  LayerState &state = StateOf(layer);
  while (state.cache.size() > keep) {
    const int64_t key = state.recency.back();
    auto it = state.cache.find(key);
    if (it->second.dirty) {
      if (!state.spill) state.spill = std::make_unique<SpillFile>(state.directory, state.blockBytes);
      if (!state.spill->Put(key, it->second.data.get())) {
        lower::Report(err, reporter, 93, "Cannot keep a changed block of %.400s until its flush: %s", layer->name,
                      std::strerror(errno));
        return false;
      }
    }
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

uint8_t *Insert(Eimg_Layer *layer, int64_t key, std::unique_ptr<uint8_t[]> data, bool dirty = false) {
  LayerState &state = StateOf(layer);
  state.recency.push_front(key);
  CachedBlock block;
  block.data = std::move(data);
  block.dirty = dirty;
  block.position = state.recency.begin();
  uint8_t *bytes = block.data.get();
  state.cache.emplace(key, std::move(block));
  return bytes;
}

// Brings a block that waits in the spill file back into the cache (still changed); null with a
// report.
uint8_t *Unspill(Eimg_Layer *layer, int64_t key, const char *reporter, Eerr_ErrorReport **err) {
  LayerState &state = StateOf(layer);
  auto data = std::make_unique_for_overwrite<uint8_t[]>(state.blockBytes);
  if (!state.spill->Get(key, data.get())) {
    lower::Report(err, reporter, 94, "Cannot read back a changed block of %.400s: %s", layer->name,
                  std::strerror(errno));
    return nullptr;
  }
  state.spill->Drop(key);
  return Insert(layer, key, std::move(data), true);
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
  if (!Trim(layer, state.capacity - 1, reporter, err)) return nullptr; // room for it
  if (state.spill && state.spill->Holds(key)) {
    if (!fresh) return Unspill(layer, key, reporter, err);
    state.spill->Drop(key);
  }
  auto data = std::make_unique<uint8_t[]>(state.blockBytes);
  if (!fresh) {
    lower::CalleeReport inner;
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

// The blocks of a box of block rows and columns that a window must bring from the file: those
// neither cached nor waiting in the spill file (nor, for a write, overwritten whole).
struct Missing {
  int32_t firstRow = 0, lastRow = -1, firstCol = 0, lastCol = -1;
  std::vector<uint8_t> wanted; // per block of the box, row by row
  std::size_t count = 0;

  bool Wanted(int32_t row, int32_t col) const {
    return row >= firstRow && row <= lastRow && col >= firstCol && col <= lastCol && wanted[Index(row, col)] != 0;
  }
  // True once for a block the window wants (a damaged file may list a block twice).
  bool Take(int32_t row, int32_t col) {
    if (!Wanted(row, col)) return false;
    wanted[Index(row, col)] = 0;
    return true;
  }

private:
  std::size_t Index(int32_t row, int32_t col) const {
    return static_cast<std::size_t>(row - firstRow) * static_cast<std::size_t>(lastCol - firstCol + 1) +
           static_cast<std::size_t>(col - firstCol);
  }
};

struct PrefetchContext {
  Eimg_Layer *layer;
  Missing &missing;
  const char *reporter;
  std::vector<std::pair<int64_t, std::unique_ptr<uint8_t[]>>> read; // cached once all are read
};

// Where a stored block of the box goes: a fresh buffer when the window wants it.
bool PrefetchTarget(void *context, int32_t row, int32_t col, int32_t size, uint8_t **into, Eerr_ErrorReport **err) {
  auto &c = *static_cast<PrefetchContext *>(context);
  if (!c.missing.Take(row, col)) return true;
  LayerState &state = StateOf(c.layer);
  if (size < 0 || static_cast<std::size_t>(size) != state.blockBytes) {
    lower::Report(err, c.reporter, 94, "Block (%d, %d) of %.400s holds %d bytes instead of %zu", row, col,
                  c.layer->name, size, state.blockBytes);
    return false;
  }
  c.read.emplace_back(int64_t{row} * c.layer->blocksAcross + col,
                      std::make_unique_for_overwrite<uint8_t[]>(state.blockBytes));
  *into = c.read.back().second.get();
  return true;
}

// Loads the missing blocks of the box with one query, room made for them first; blocks never
// written come in as zeros. Nothing is fetched when the cache cannot keep them all (the blocks
// fetched must last until they are used): they come one by one.
bool Prefetch(Eimg_Layer *layer, Missing &missing, const char *reporter, Eerr_ErrorReport **err) {
  LayerState &state = StateOf(layer);
  if (missing.count == 0 || missing.count > state.capacity) return true;
  if (!Trim(layer, state.capacity - missing.count, reporter, err)) return false;
  PrefetchContext context{layer, missing, reporter, {}};
  context.read.reserve(missing.count);
  lower::CalleeReport inner;
  int32_t result;
  {
    std::lock_guard<std::mutex> lock(state.shared->mutex);
    result = taviron::ehfa::BlockRangeRead(state.shared->file, state.entry, missing.firstRow, missing.lastRow,
                                           missing.firstCol, missing.lastCol, &PrefetchTarget, &context, &inner);
  }
  if (result != 0) {
    lower::ReportCallee(err, inner, reporter, 94, "ehfa_BlockRead");
    return false;
  }
  for (auto &block : context.read) {
    Decode(layer, block.second.get());
    Insert(layer, block.first, std::move(block.second));
  }
  for (int32_t row = missing.firstRow; row <= missing.lastRow; ++row)
    for (int32_t col = missing.firstCol; col <= missing.lastCol; ++col) {
      const int64_t key = int64_t{row} * layer->blocksAcross + col;
      if (missing.Wanted(row, col) && !state.cache.count(key)) // never written
        Insert(layer, key, std::make_unique<uint8_t[]>(state.blockBytes));
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

void SetCapacity(Eimg_Layer *layer, int64_t windowBlocks) {
  LayerState &state = StateOf(layer);
  const std::size_t limit = std::max<std::size_t>(1, kCacheBytes / state.blockBytes);
  const std::size_t wanted = static_cast<std::size_t>(std::min<int64_t>(windowBlocks, INT32_MAX)) * 2;
  state.capacity = std::min(std::max(kMinCachedBlocks, wanted), limit);
}

// Moves the window between the layer's own pixels and the rectangle.
// (The corner may lie beyond the 32-bit range: the margin a resampling kernel reads around a
// layer as wide as that range.)
bool Transfer(Eimg_Layer *layer, int64_t column, int64_t row, int32_t width, int32_t height, const RectView &view,
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
  const int64_t windowBlocks = int64_t{br1 - br0 + 1} * (bc1 - bc0 + 1);
  SetCapacity(layer, windowBlocks);
  // A write covering a block's whole part inside the layer needs not read it first.
  const auto whole = [&](int32_t br, int32_t bc) {
    const int64_t left = int64_t{bc} * bw, top = int64_t{br} * bh;
    return write && std::max(x0, left) == left && std::max(y0, top) == top &&
           std::min(x1, left + bw) == std::min<int64_t>(left + bw, layer->width) &&
           std::min(y1, top + bh) == std::min<int64_t>(top + bh, layer->height);
  };
  // The blocks of the rows first..last that must come from the file, fetched together.
  const auto fetch = [&](int32_t first, int32_t last) {
    Missing missing{first, last, bc0, bc1, {}, 0};
    missing.wanted.resize(static_cast<std::size_t>(last - first + 1) * static_cast<std::size_t>(bc1 - bc0 + 1));
    std::size_t i = 0;
    for (int32_t br = first; br <= last; ++br)
      for (int32_t bc = bc0; bc <= bc1; ++bc, ++i) {
        const int64_t key = int64_t{br} * layer->blocksAcross + bc;
        if (state.cache.count(key) || (state.spill && state.spill->Holds(key)) || whole(br, bc)) continue;
        missing.wanted[i] = 1;
        ++missing.count;
      }
    return Prefetch(layer, missing, reporter, err);
  };
  // The whole window at once when the cache keeps it (one query, one read lock of the file),
  // else row by row.
  const bool together = windowBlocks <= static_cast<int64_t>(state.capacity);
  if (together && !fetch(br0, br1)) return false;
  for (int32_t br = br0; br <= br1; ++br) {
    const int64_t top = int64_t{br} * bh;
    const int64_t ys = std::max(y0, top), ye = std::min(y1, top + bh);
    if (!together && !fetch(br, br)) return false;
    for (int32_t bc = bc0; bc <= bc1; ++bc) {
      const int64_t left = int64_t{bc} * bw;
      const int64_t xs = std::max(x0, left), xe = std::min(x1, left + bw);
      uint8_t *block = Block(layer, br, bc, whole(br, bc), reporter, err);
      if (!block) return false;
      const int32_t n = static_cast<int32_t>(xe - xs);
      for (int64_t y = ys; y < ye; ++y) {
        uint8_t *pixels = block + ((y - top) * bw + (xs - left)) * es;
        uint8_t *rect = view.origin + (y - row) * view.rowStep + (xs - column) * view.colStep;
        if (write) run(rect, view.colStep, pixels, es, n);
        else run(pixels, es, rect, view.colStep, n);
      }
      if (write) state.cache[int64_t{br} * layer->blocksAcross + bc].dirty = true;
      if (!Trim(layer, state.capacity, reporter, err)) return false;
    }
  }
  return true;
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
  // The source window the segment needs, cut to the layer and a margin of two pixels around it
  // (widened by the kernel). A position is compared with that extent while it is still a double
  // (a NaN fails the test), so only positions near the layer become integers: none overflows,
  // whatever the transform gives and however large the layer.
  const double first = -2.0 - reach;
  const double lastX = static_cast<double>(layer->width) + 1 + before;
  const double lastY = static_cast<double>(layer->height) + 1 + before;
  int64_t left = INT64_MAX, top = INT64_MAX, right = INT64_MIN, bottom = INT64_MIN;
  std::vector<int64_t> px(static_cast<std::size_t>(n)), py(static_cast<std::size_t>(n));
  std::vector<uint8_t> inside(static_cast<std::size_t>(n));
  for (int32_t k = 0; k < n; ++k) {
    const double x = method == Method::Nearest ? std::floor(xs[k] + 0.5) : std::floor(xs[k]);
    const double y = method == Method::Nearest ? std::floor(ys[k] + 0.5) : std::floor(ys[k]);
    if (!(x >= first && x <= lastX && y >= first && y <= lastY)) continue;
    const int64_t ix = static_cast<int64_t>(x), iy = static_cast<int64_t>(y);
    px[k] = ix;
    py[k] = iy;
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
  if (!Transfer(layer, left, top, static_cast<int32_t>(sw), static_cast<int32_t>(sh), wv, false, reporter, err))
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
  lower::CalleeReport inner;
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

bool CheckWindow(const Eimg_Layer *layer, int32_t width, int32_t height, const char *reporter,
                 Eerr_ErrorReport **err) {
  if (width < 0 || height < 0) {
    lower::Report(err, reporter, 4, "Invalid window of %d x %d", width, height);
    return false;
  }
  (void)layer;
  return true;
}

} // namespace

namespace taviron::eimg {

SpillFile::~SpillFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool SpillFile::Open() {
  if (fd_ >= 0) return true;
  fd_ = ::open(directory_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd_ >= 0) return true;
  // Without unnamed files there (or without room for one): a named one, removed at once.
  char *name = efio_TempNameInTmpdir("eimg_spill");
  if (!name) {
    errno = ENOMEM;
    return false;
  }
  fd_ = ::open(name, O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
  const int saved = errno;
  if (fd_ >= 0) ::unlink(name);
  emsc_HeapFree(name);
  errno = saved;
  return fd_ >= 0;
}

std::vector<int64_t> SpillFile::Keys() const {
  std::vector<int64_t> keys;
  keys.reserve(places_.size());
  for (const auto &place : places_) keys.push_back(place.first);
  std::sort(keys.begin(), keys.end());
  return keys;
}

bool SpillFile::Put(int64_t key, const uint8_t *data) {
  if (!Open()) return false;
  auto it = places_.find(key);
  int64_t place;
  if (it != places_.end()) {
    place = it->second;
  } else if (!free_.empty()) {
    place = free_.back();
  } else {
    place = used_;
  }
  const auto offset = static_cast<off_t>(place) * static_cast<off_t>(blockBytes_);
  for (std::size_t done = 0; done < blockBytes_;) {
    const ssize_t n = ::pwrite(fd_, data + done, blockBytes_ - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  if (it == places_.end()) {
    places_.emplace(key, place);
    if (!free_.empty() && free_.back() == place) free_.pop_back();
    else ++used_;
  }
  return true;
}

bool SpillFile::Get(int64_t key, uint8_t *data) const {
  auto it = places_.find(key);
  if (it == places_.end() || fd_ < 0) {
    errno = ENOENT;
    return false;
  }
  const auto offset = static_cast<off_t>(it->second) * static_cast<off_t>(blockBytes_);
  for (std::size_t done = 0; done < blockBytes_;) {
    const ssize_t n = ::pread(fd_, data + done, blockBytes_ - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void SpillFile::Drop(int64_t key) {
  auto it = places_.find(key);
  if (it == places_.end()) return;
  free_.push_back(it->second);
  places_.erase(it);
}

void SpillFile::Clear() {
  places_.clear();
  free_.clear();
  used_ = 0;
  if (fd_ >= 0 && ::ftruncate(fd_, 0) != 0) {
    // The space comes back when the file is closed.
  }
}

bool Usable(const Eimg_Layer *layer, const char *reporter, Eerr_ErrorReport **err) {
  if (!layer || !layer->internal) {
    lower::Report(err, reporter, 1, "Invalid layer");
    return false;
  }
  return true;
}

// Writes the layer's changed blocks (cached, then those waiting in the spill file) into the file
// and commits them as one unit, showing progress on the meter when asked. On failure the
// transaction is dropped, and the blocks stay changed for a later flush.
bool FlushBlocks(Eimg_Layer *layer, bool meter, const char *reporter, Eerr_ErrorReport **err) {
  LayerState &state = StateOf(layer);
  std::vector<int64_t> dirty;
  for (auto &entry : state.cache)
    if (entry.second.dirty) dirty.push_back(entry.first);
  std::sort(dirty.begin(), dirty.end());
  const std::vector<int64_t> spilled = state.spill ? state.spill->Keys() : std::vector<int64_t>();
  const std::size_t total = dirty.size() + spilled.size();
  const bool show = meter && state.meter && total > 0;
  if (show) emet_MeterInfoPrint(state.meter, 0.0, nullptr);
  int32_t shown = 0;
  std::unique_ptr<uint8_t[]> buffer;
  std::lock_guard<std::mutex> lock(state.shared->mutex);
  bool ok = ReplaceStoredLayer(layer, reporter, 2, err); // a layer made over another: its first commit
  for (std::size_t i = 0; i < total && ok; ++i) {
    const uint8_t *data;
    if (i < dirty.size()) {
      data = state.cache[dirty[i]].data.get();
    } else {
      if (!buffer) buffer = std::make_unique_for_overwrite<uint8_t[]>(state.blockBytes);
      if (!state.spill->Get(spilled[i - dirty.size()], buffer.get())) {
        lower::Report(err, reporter, 94, "Cannot read back a changed block of %.400s: %s", layer->name,
                      std::strerror(errno));
        ok = false;
        break;
      }
      data = buffer.get();
    }
    ok = WriteBlock(layer, i < dirty.size() ? dirty[i] : spilled[i - dirty.size()], data, reporter, err);
    const int32_t percent = static_cast<int32_t>((i + 1) * 100 / total);
    if (ok && show && percent >= shown + 5) {
      emet_MeterInfoPrint(state.meter, percent, nullptr);
      shown = percent;
    }
  }
  const bool committed = EndChange(state.shared, ok, reporter, 2, ok ? err : nullptr);
  EndReplacing(layer, committed);
  if (!committed) return false;
  for (int64_t key : dirty) state.cache[key].dirty = false;
  if (state.spill) state.spill->Clear();
  if (show && shown < 100) emet_MeterInfoPrint(state.meter, 100.0, nullptr);
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

} // namespace taviron::eimg

extern "C" {

int32_t eimg_LayerRead(Eimg_Layer *layer, int32_t column, int32_t row, int32_t width, int32_t height,
                       Egda_BaseData *rect, Eerr_ErrorReport **err) try {
  return ReadWindow(layer, column, row, width, height, rect, false, "eimg_LayerRead", err);
} TAVIRON_GUARD(err, -1)

int32_t eimg_LayerWrite(Eimg_Layer *layer, int32_t column, int32_t row, int32_t width, int32_t height,
                        const Egda_BaseData *rect, Eerr_ErrorReport **err) try {
  return WriteWindow(layer, column, row, width, height, rect, "eimg_LayerWrite", err);
} TAVIRON_GUARD(err, -1)

int32_t eimg_LayerRasterPixelRectGet(Eimg_Layer *layer, int32_t column, int32_t row, int32_t width, int32_t height,
                                     Egda_BaseData *rect, Eerr_ErrorReport **err) try {
  return ReadWindow(layer, column, row, width, height, rect, true, "eimg_LayerRasterPixelRectGet", err);
} TAVIRON_GUARD(err, -1)

int32_t eimg_LayerRasterPixelRectSet(Eimg_Layer *layer, int32_t column, int32_t row, int32_t width, int32_t height,
                                     const Egda_BaseData *rect, Eerr_ErrorReport **err) try {
  return WriteWindow(layer, column, row, width, height, rect, "eimg_LayerRasterPixelRectSet", err);
} TAVIRON_GUARD(err, -1)

int32_t eimg_LayerRasterFlush(Eimg_Layer *layer, int32_t mode, Eerr_ErrorReport **err) try {
  static const char *const kReporter = "eimg_LayerRasterFlush";
  lower::Clear(err);
  (void)mode;
  if (!Usable(layer, kReporter, err)) return -1;
  return FlushBlocks(layer, false, kReporter, err) ? 0 : -1;
} TAVIRON_GUARD(err, -1)

} // extern "C"

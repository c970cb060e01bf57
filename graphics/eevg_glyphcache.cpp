// The glyph cache: the coverage of each glyph the text engines fill, made once by the outline and
// the scan filler for a font, a mapping onto the page and the phase of the glyph's origin on the
// filler's grid of samples, and drawn row by row wherever the glyph occurs again.
//
// The filler counts 4 x 4 samples per pixel from quarter-pixel coordinates (sub-pixels halved):
// an outline moved by an even number of sub-pixels covers the same samples, moved. A glyph's
// origin is therefore rounded to an even sub-pixel, and its coverage made once per origin modulo
// 8 sub-pixels (16 phases), with the outline mapped far from zero so that every point is
// truncated the way it is on the page.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>

#include "eevg.h"
#include "eevg_htf.h"
#include "eimg.h"
#include "eevg_text_internal.h"
#include "internal.h"

namespace lower = taviron::lower;
namespace gfx = taviron::graphics;
namespace text = taviron::graphics::text;

namespace {

// The origin of a glyph whose mask is made: far enough from zero that no glyph point of the
// supported sizes is negative, a whole number of pixels (plus the phase).
constexpr int32_t kMaskBase = 1 << 24;
// The largest mask kept: pixels of one glyph.
constexpr int64_t kLargestMask = 1 << 20;
// Pixels blended at a time.
constexpr int64_t kLanes = 16;
typedef uint8_t Bytes __attribute__((vector_size(kLanes)));
typedef uint16_t Lanes __attribute__((vector_size(2 * kLanes)));
// Bookkeeping per kept glyph beside its counts (entry, index node, shared block).
constexpr std::size_t kEntryBytes = 160;

// An even sub-pixel nearest the coordinate, within the rasteriser's safe range; false beyond.
bool Snap(double value, int32_t &snapped) {
  const double even = 2 * std::floor(value / 2 + 0.5);
  if (!(std::fabs(even) <= gfx::kShapeSafeLimit / 2)) return false;
  snapped = static_cast<int32_t>(even);
  return true;
}

// Where the device's pixels are written from the scan-line buffer, as the filler writes them.
Eevg_HtfControl *StripOf(const Eevg_Drawing *d) {
  return d->stripFileInUse && d->stripFile ? static_cast<Eevg_HtfControl *>(d->stripFile) : nullptr;
}

// Whether the filler would count this glyph's fill itself: a strip file, or a device without its
// own polygon callbacks.
bool FillerDraws(const Eevg_Drawing *d) {
  if (StripOf(d)) return true;
  const Eevg_GrIOInfo *io = d->grIOInfo;
  return io && !io->putPolygon && !io->putPolygonOpacity && !io->putPatternPolygon;
}

// Turns the mask's sample counts into coverage (16 a sample, 255 for 16 or more) and cuts it to
// the pixels it covers (none: no pixels at all), each row followed by kLanes uncovered pixels.
// False when memory runs out.
bool Finish(text::GlyphMask &mask) {
  uint8_t *all = mask.cover.get();
  for (std::size_t k = 0, n = static_cast<std::size_t>(mask.width) * mask.height; k < n; ++k)
    all[k] = static_cast<uint8_t>(all[k] >= 16 ? 255 : 16 * all[k]);
  int32_t c0 = mask.width, c1 = -1, r0 = mask.height, r1 = -1;
  for (int32_t r = 0; r < mask.height; ++r) {
    const uint8_t *row = mask.cover.get() + static_cast<std::ptrdiff_t>(r) * mask.width;
    for (int32_t c = 0; c < mask.width; ++c)
      if (row[c]) {
        c0 = std::min(c0, c);
        c1 = std::max(c1, c);
        r0 = std::min(r0, r);
        r1 = r;
      }
  }
  if (c1 < 0) {
    mask = text::GlyphMask{};
    return true;
  }
  const int32_t width = c1 - c0 + 1, height = r1 - r0 + 1;
  const std::size_t stride = static_cast<std::size_t>(width) + kLanes;
  std::unique_ptr<uint8_t[]> cover(new (std::nothrow) uint8_t[stride * height + kLanes]());
  if (!cover) {
    mask = text::GlyphMask{};
    return false;
  }
  for (int32_t r = 0; r < height; ++r)
    std::memcpy(cover.get() + r * stride,
                mask.cover.get() + static_cast<std::ptrdiff_t>(r + r0) * mask.width + c0, width);
  mask.left += c0;
  mask.bottom += r0;
  mask.width = width;
  mask.height = height;
  mask.stride = static_cast<int32_t>(stride);
  mask.cover = std::move(cover);
  return true;
}

// Makes the mask of the glyph for the key's phase: the outline at the mask origin, counted by
// the filler. Null without a report when the glyph cannot be cached (too wide, too large, no
// memory for it); null with a report when the outline or the filler fails (*failed set).
std::shared_ptr<const text::GlyphMask> MakeMask(Eevg_Drawing *d, const text::GlyphKey &key,
                                                const text::GlyphOutline &outline,
                                                const text::GlyphReports &r, bool &failed,
                                                Eerr_ErrorReport **err) {
  failed = false;
  const int32_t ox = kMaskBase + key.phaseX, oy = kMaskBase + key.phaseY;
  if (!outline.make(outline.context, d, ox, oy, err)) {
    failed = true;
    return nullptr;
  }
  auto mask = std::make_shared<text::GlyphMask>();
  const int32_t count = d->polygonCount > 0 ? d->polygonStarts[d->polygonCount] : 0;
  if (count < 1) return mask; // nothing to fill
  int32_t xMin = INT32_MAX, yMin = INT32_MAX, xMax = INT32_MIN, yMax = INT32_MIN;
  const int32_t *p = d->points;
  for (int32_t k = 0; k < count; ++k, p += 2) {
    xMin = std::min(xMin, p[0]);
    xMax = std::max(xMax, p[0]);
    yMin = std::min(yMin, p[1]);
    yMax = std::max(yMax, p[1]);
  }
  if (xMin < 0 || yMin < 0) return nullptr; // reaches past the mask origin's room
  // The filler reaches one column and one row past the box's pixels at most.
  const int32_t x0 = xMin >> 3, y0 = yMin >> 3;
  const int64_t width = (xMax >> 3) - x0 + 2, height = (yMax >> 3) - y0 + 2;
  if (width > std::max(d->deviceWidth, 1) || width * height > kLargestMask) return nullptr;
  mask->left = x0 - (ox >> 3);
  mask->bottom = y0 - (oy >> 3);
  mask->width = static_cast<int32_t>(width);
  mask->height = static_cast<int32_t>(height);
  mask->cover.reset(new (std::nothrow) uint8_t[static_cast<std::size_t>(width * height)]());
  if (!mask->cover) return nullptr;
  int32_t *q = d->points;
  for (int32_t k = 0; k < count; ++k, q += 2) {
    q[0] -= x0 << 3;
    q[1] -= y0 << 3;
  }
  mask->stride = mask->width;
  gfx::CoverageMask counts{mask->width, mask->height, mask->cover.get()};
  if (gfx::FillCoverage(d, d->polygonCount, d->polygonStarts, d->points, counts, err) != 0) {
    lower::Report(err, "eevg_LOFiller", 1, "Unable to complete fill");
    lower::Report(err, r.reporter, r.fillCode, r.fill, static_cast<unsigned>(key.shape.character));
    failed = true;
    return nullptr;
  }
  if (!Finish(*mask)) return nullptr;
  return mask;
}

// The columns c0..c1 and rows r0..r1 (device y) of a mask placed on the page, its lower-left
// pixel at (left, bottom).
struct Placed {
  int64_t left, bottom, c0, c1, r0, r1;
};

// Whether the device takes a glyph as one block of its pixels: an anti-aliased callback device
// of colour mode 0 with getBlock and putBlock, a plain opaque colour (each component 0 to 255).
// Its pixels then come out as the anti-aliased dot writer and the run writer make them.
bool BlockDevice(const Eevg_Drawing *d, const Eevg_DeviceColor &colour) {
  const Eevg_GrIOInfo *io = d->grIOInfo;
  auto byte = [](int32_t v) { return v >= 0 && v <= 255; };
  return d->antiAlias && !StripOf(d) && io->getBlock && io->putBlock && io->putPixel &&
         !d->pseudoColour && colour.opacity > 254 && byte(colour.red) && byte(colour.green) &&
         byte(colour.blue) && !(d->fillPattern && d->fillPattern->usePattern == 1);
}

// Blends n pixels of one plane's row toward the value by their coverage, as the
// anti-aliased dot writer does: (value * cover + old * (255 - cover)) / 255, the division exact
// for these sums (at most 255 * 255, in 16 bits); an uncovered pixel keeps its value.
inline Bytes Blend(Bytes a, Bytes old, uint16_t value) {
  const Lanes wide = __builtin_convertvector(a, Lanes);
  const Lanes sum = value * wide + __builtin_convertvector(old, Lanes) * (255 - wide);
  return __builtin_convertvector((sum + 1 + (sum >> 8)) >> 8, Bytes);
}
void BlendRow(const uint8_t *cover, uint8_t *pixels, int64_t n, uint32_t value) {
  const uint16_t v = static_cast<uint16_t>(value);
  int64_t c = 0;
  for (; c + kLanes <= n; c += kLanes) {
    Bytes a, old;
    std::memcpy(&a, cover + c, sizeof a);
    std::memcpy(&old, pixels + c, sizeof old);
    const Bytes out = Blend(a, old, v);
    std::memcpy(pixels + c, &out, sizeof out);
  }
  for (; c < n; ++c) {
    const uint32_t a = cover[c], sum = v * a + pixels[c] * (255 - a);
    pixels[c] = static_cast<uint8_t>((sum + 1 + (sum >> 8)) >> 8);
  }
}

// A plane of the block the device filled: unsigned bytes, at least width x height.
uint8_t *PlaneOf(const Egda_BaseData *plane, int64_t width, int64_t height) {
  if (!plane || plane->pixelType != EGDA_TYPE_U8 || !plane->origin || plane->columns < width ||
      plane->rows < height || plane->pitch < width)
    return nullptr;
  return plane->origin;
}

// The glyph blended into the device's pixels of its box: one getBlock, one putBlock. Every
// covered pixel takes the colour blended as the anti-aliased dot writer blends it (a pixel
// covered whole takes the colour). 0, or -1 with a report.
int32_t BlendBlock(Eevg_Drawing *d, const text::GlyphMask &mask, const Placed &at,
                   const Eevg_DeviceColor &colour, Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_AntLine";
  Eevg_GrIOInfo *io = d->grIOInfo;
  const int64_t width = at.c1 - at.c0 + 1, height = at.r1 - at.r0 + 1;
  // Image rows run down the page.
  const double upperLeft[2] = {static_cast<double>(at.c0), static_cast<double>(d->deviceYMax - at.r1)};
  const double lowerRight[2] = {static_cast<double>(at.c1), static_cast<double>(d->deviceYMax - at.r0)};
  Eerr_ErrorReport *inner = nullptr;
  Eevg_RGBPixelRect *&kept = d->text.glyphBlock;
  Eevg_RGBPixelRect *block = io->getBlock(io->userData, kept, upperLeft, lowerRight, &inner);
  if (block != kept) {
    gfx::FreeGlyphBlock(d);
    kept = block;
  }
  if (!block || inner) {
    lower::ReportChained(err, inner, reporter, 3, "Error returned from getBlock");
    return -1;
  }
  uint8_t *planes[3] = {PlaneOf(block->red, width, height), PlaneOf(block->green, width, height),
                        PlaneOf(block->blue, width, height)};
  if (!planes[0] || !planes[1] || !planes[2]) {
    lower::Report(err, reporter, 4, "Invalid block returned by getBlock");
    return -1;
  }
  const std::ptrdiff_t pitches[3] = {block->red->pitch, block->green->pitch, block->blue->pitch};
  const uint32_t values[3] = {static_cast<uint32_t>(colour.red), static_cast<uint32_t>(colour.green),
                              static_cast<uint32_t>(colour.blue)};
  for (int32_t p = 0; p < 3; ++p) {
    for (int64_t k = 0; k < height; ++k) {
      const int64_t row = at.r1 - k; // device y of the block's row k
      const uint8_t *cover = mask.cover.get() + (row - at.bottom) * mask.stride + (at.c0 - at.left);
      uint8_t *pixels = planes[p] + k * pitches[p];
      BlendRow(cover, pixels, width, values[p]);
    }
  }
  if (io->putBlock(io->userData, block, upperLeft, lowerRight, &inner) != 0 || inner) {
    lower::ReportChained(err, inner, reporter, 5, "Error returned from putBlock");
    return -1;
  }
  return 0;
}

// Writes the mask's rows with the glyph's origin at (x, y) (even sub-pixels) in the colour, as
// the filler writes its rows: each row's columns inside the clip window through the scan-line
// buffer, or the whole box as one block where the device takes blocks. 0, or -1 with a report.
int32_t WriteMask(Eevg_Drawing *d, const text::GlyphMask &mask, int32_t x, int32_t y,
                  const Eevg_DeviceColor &colour, Eerr_ErrorReport **err) {
  const int64_t left = static_cast<int64_t>(x >> 3) + mask.left;
  const int64_t bottom = static_cast<int64_t>(y >> 3) + mask.bottom;
  const int64_t c0 = std::max<int64_t>(left, d->clipXMin);
  const int64_t c1 = std::min<int64_t>(left + mask.width - 1, d->clipXMax);
  const int64_t r0 = std::max<int64_t>(bottom, d->clipYMin);
  const int64_t r1 = std::min<int64_t>(bottom + mask.height - 1, d->clipYMax);
  if (c0 > c1 || r0 > r1) return 0;
  if (BlockDevice(d, colour)) {
    // Whole lanes of columns where the window allows: the mask's rows are followed by uncovered
    // pixels, which keep their values.
    const int64_t lanes = std::min<int64_t>(c0 + (c1 - c0 + kLanes) / kLanes * kLanes - 1, d->clipXMax);
    if (BlendBlock(d, mask, Placed{left, bottom, c0, lanes, r0, r1}, colour, err) == 0) return 0;
    lower::Report(err, "eevg_AFiller", 3, "Unable to fill");
    return -1;
  }
  uint8_t *buffer = eevg_DrawingGetScanLineBuf(d, err);
  if (!buffer) return -1;
  if (Eevg_HtfControl *strip = StripOf(d)) gfx::eevg_HtfColor(strip, colour);
  const std::size_t span = static_cast<std::size_t>(c1 - c0) + 1;
  for (int64_t row = r0; row <= r1; ++row) {
    const uint8_t *cover = mask.cover.get() + (row - bottom) * mask.stride + (c0 - left);
    // The row's covered columns.
    std::size_t first = 0, last = span;
    while (first < span && cover[first] == 0) ++first;
    if (first == span) continue;
    while (cover[last - 1] == 0) --last;
    uint8_t *bytes = buffer + c0;
    for (std::size_t c = first; c < last; ++c) bytes[c] = cover[c] == 255 ? 16 : cover[c] / 16; // back to counts
    const int32_t status = gfx::eevg_AntLine(d, buffer, static_cast<int32_t>(c0 + first),
                                             static_cast<int32_t>(c0 + last - 1),
                                             static_cast<int32_t>(row), colour, err);
    std::memset(bytes + first, 0, last - first);
    if (status != 0) {
      lower::Report(err, "eevg_AFiller", 3, "Unable to fill");
      return -1;
    }
  }
  return 0;
}

// The glyph's fill from the cache at the rounded origin (x, y). 1 when drawn (or nothing to
// draw), 0 when the cache cannot serve it, -1 with a report.
int32_t FillFromCache(Eevg_Drawing *d, const text::GlyphShape &shape, int32_t x, int32_t y,
                      const text::GlyphOutline &outline, const text::GlyphReports &r,
                      Eerr_ErrorReport **err) {
  const text::GlyphKey key{shape, x & 7, y & 7};
  text::GlyphCache &cache = text::Glyphs();
  std::shared_ptr<const text::GlyphMask> mask = cache.Find(key);
  if (!mask) {
    bool failed = false;
    mask = MakeMask(d, key, outline, r, failed, err);
    if (failed) return -1;
    if (!mask) return 0;
    cache.Keep(key, mask);
  }
  if (!mask->cover) return 1;
  Eevg_TextControls &t = d->text;
  const Eevg_DeviceColor colour = d->overrideActive ? d->overrideDeviceColour : d->lineColours[0];
  d->fillPattern = t.fillPattern;
  const int32_t status = WriteMask(d, *mask, x, y, colour, err);
  d->fillPattern = nullptr;
  if (status != 0) {
    lower::Report(err, "eevg_LOFiller", 1, "Unable to complete fill");
    lower::Report(err, r.reporter, r.fillCode, r.fill, static_cast<unsigned>(shape.character));
    return -1;
  }
  return 1;
}

} // namespace

bool text::GlyphKey::operator==(const GlyphKey &other) const {
  return std::memcmp(&shape, &other.shape, sizeof shape) == 0 && phaseX == other.phaseX &&
         phaseY == other.phaseY;
}

std::size_t text::GlyphKeyHash::operator()(const GlyphKey &key) const {
  // The key's 64-bit words (the shape has no padding), each mixed in by a multiply and a shift.
  uint64_t words[sizeof key.shape / 8];
  std::memcpy(words, &key.shape, sizeof words);
  uint64_t h = static_cast<uint64_t>(static_cast<uint32_t>(key.phaseX)) << 32 |
               static_cast<uint32_t>(key.phaseY);
  for (const uint64_t w : words) {
    h = (h ^ w) * 0x9e3779b97f4a7c15ull;
    h ^= h >> 29;
  }
  return static_cast<std::size_t>(h);
}

std::size_t text::GlyphMask::Bytes() const {
  return kEntryBytes + static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
}

std::shared_ptr<const text::GlyphMask> text::GlyphCache::Find(const GlyphKey &key) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = index_.find(key);
  if (found == index_.end()) return nullptr;
  entries_.splice(entries_.begin(), entries_, found->second);
  return found->second->mask;
}

void text::GlyphCache::Keep(const GlyphKey &key, std::shared_ptr<const GlyphMask> mask) {
  if (!mask || mask->Bytes() > capacity_) return;
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = index_.find(key);
    if (found != index_.end()) Drop(found->second);
    entries_.push_front(Entry{key, std::move(mask)});
    try {
      index_.emplace(key, entries_.begin());
    } catch (...) {
      entries_.pop_front();
      throw;
    }
    bytes_ += entries_.front().mask->Bytes();
    while (bytes_ > capacity_) Drop(std::prev(entries_.end()));
  } catch (const std::bad_alloc &) {
    // Not kept: the glyph is made again when it is next drawn.
  }
}

void text::GlyphCache::Forget(int32_t server, int32_t handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto entry = entries_.begin(); entry != entries_.end();) {
    const auto next = std::next(entry);
    if (entry->key.shape.server == server && entry->key.shape.handle == handle) Drop(entry);
    entry = next;
  }
}

void text::GlyphCache::Drop(std::list<Entry>::iterator entry) {
  bytes_ -= entry->mask->Bytes();
  index_.erase(entry->key);
  entries_.erase(entry);
}

std::size_t text::GlyphCache::Bytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bytes_;
}

std::size_t text::GlyphCache::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_.size();
}

void gfx::FreeGlyphBlock(Eevg_Drawing *drawing) {
  Eevg_RGBPixelRect *&block = drawing->text.glyphBlock;
  if (!block) return;
  eimg_PixelRectDelete(block->red, nullptr);
  eimg_PixelRectDelete(block->green, nullptr);
  eimg_PixelRectDelete(block->blue, nullptr);
  eevg_RGBPixelRectFree(&block);
}

text::GlyphCache &text::Glyphs() {
  static GlyphCache cache(EEVG_GLYPH_CACHE_BYTES);
  return cache;
}

int32_t text::DrawGlyph(Eevg_Drawing *d, const GlyphShape &shape, double x, double y,
                        const GlyphOutline &outline, const GlyphReports &r,
                        Eerr_ErrorReport **err) {
  const bool fill = d->glyphFill && d->text.fillPattern;
  const bool trace = d->glyphOutline != 0;
  const int32_t mode = d->text.glyphDrawing;
  int32_t sx = 0, sy = 0;
  const bool snapped = Snap(x, sx) && Snap(y, sy);
  auto plain = [&](double ox, double oy, bool withFill) {
    if (!outline.make(outline.context, d, ox, oy, err)) return -1;
    return PaintGlyph(d, static_cast<char16_t>(shape.character), r, err, withFill);
  };
  if (mode == kPlainGlyphs || !snapped || !fill || !FillerDraws(d)) return plain(x, y, true);
  if (mode == kPlainSnappedGlyphs) return plain(sx, sy, true);
  auto fillPart = [&]() {
    const int32_t status = FillFromCache(d, shape, sx, sy, outline, r, err);
    if (status != 0) return status < 0 ? -1 : 0;
    // Not for the cache: the fill drawn from the outline at the rounded origin.
    const int32_t saved = d->glyphOutline;
    d->glyphOutline = 0;
    const int32_t painted = plain(sx, sy, true);
    d->glyphOutline = saved;
    return painted;
  };
  auto tracePart = [&]() { return trace ? plain(sx, sy, false) : 0; };
  if (d->textFillOrder == 1) return tracePart() != 0 ? -1 : fillPart();
  return fillPart() != 0 ? -1 : tracePart();
}

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
  mask->counts.reset(new (std::nothrow) uint8_t[static_cast<std::size_t>(width * height)]());
  if (!mask->counts) return nullptr;
  int32_t *q = d->points;
  for (int32_t k = 0; k < count; ++k, q += 2) {
    q[0] -= x0 << 3;
    q[1] -= y0 << 3;
  }
  gfx::CoverageMask counts{mask->width, mask->height, mask->counts.get()};
  if (gfx::FillCoverage(d, d->polygonCount, d->polygonStarts, d->points, counts, err) != 0) {
    lower::Report(err, "eevg_LOFiller", 1, "Unable to complete fill");
    lower::Report(err, r.reporter, r.fillCode, r.fill, static_cast<unsigned>(key.shape.character));
    failed = true;
    return nullptr;
  }
  return mask;
}

// Writes the mask's rows with the glyph's origin at (x, y) (even sub-pixels) in the colour, as
// the filler writes its rows: each row's columns inside the clip window through the scan-line
// buffer. 0, or -1 with a report.
int32_t WriteMask(Eevg_Drawing *d, const text::GlyphMask &mask, int32_t x, int32_t y,
                  const Eevg_DeviceColor &colour, Eerr_ErrorReport **err) {
  const int64_t left = static_cast<int64_t>(x >> 3) + mask.left;
  const int64_t bottom = static_cast<int64_t>(y >> 3) + mask.bottom;
  const int64_t c0 = std::max<int64_t>(left, d->clipXMin);
  const int64_t c1 = std::min<int64_t>(left + mask.width - 1, d->clipXMax);
  const int64_t r0 = std::max<int64_t>(bottom, d->clipYMin);
  const int64_t r1 = std::min<int64_t>(bottom + mask.height - 1, d->clipYMax);
  if (c0 > c1 || r0 > r1) return 0;
  uint8_t *buffer = eevg_DrawingGetScanLineBuf(d, err);
  if (!buffer) return -1;
  if (Eevg_HtfControl *strip = StripOf(d)) gfx::eevg_HtfColor(strip, colour);
  const std::size_t span = static_cast<std::size_t>(c1 - c0) + 1;
  for (int64_t row = r0; row <= r1; ++row) {
    const uint8_t *counts = mask.counts.get() + (row - bottom) * mask.width + (c0 - left);
    // The row's covered columns.
    std::size_t first = 0, last = span;
    while (first < span && counts[first] == 0) ++first;
    if (first == span) continue;
    while (counts[last - 1] == 0) --last;
    uint8_t *bytes = buffer + c0;
    std::memcpy(bytes + first, counts + first, last - first);
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
  if (!mask->counts) return 1;
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
  // FNV-1a over the key's bytes (the shape has no padding).
  uint64_t h = 0xcbf29ce484222325ull;
  auto mix = [&](const void *data, std::size_t n) {
    const auto *bytes = static_cast<const unsigned char *>(data);
    for (std::size_t i = 0; i < n; ++i) h = (h ^ bytes[i]) * 0x100000001b3ull;
  };
  mix(&key.shape, sizeof key.shape);
  mix(&key.phaseX, sizeof key.phaseX);
  mix(&key.phaseY, sizeof key.phaseY);
  return static_cast<std::size_t>(h);
}

std::size_t text::GlyphMask::Bytes() const {
  return kEntryBytes + static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
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

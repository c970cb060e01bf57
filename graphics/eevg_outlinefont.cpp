// Outline-font files: loading a file into a slot of the loaded-font table, the font record and
// its inquiries, the fixed-point glyph matrix, and the decoding of a glyph's outline code into
// the outline sink.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <shared_mutex>

#include "eevg.h"
#include "eevg_internal.h"
#include "eevg_outline_internal.h"
#include "eevg_text_internal.h"
#include "efio.h"
#include "emsc.h"
#include "internal.h"
#include "ownership.h"

namespace lower = taviron::lower;
namespace gfx = taviron::graphics;
namespace outline = taviron::graphics::outline;
namespace text = taviron::graphics::text;

namespace {

constexpr std::size_t kHeaderSize = 117;
constexpr uint32_t kNoGlyph = 0xffffffffu;
constexpr int32_t kBias = 1023;

// What the reader gives back: 0, or the code of its failure.
enum ReadFailure : int32_t {
  kRead = 0,
  kEmptyRange = 1,
  kBadResolution = 2,
  kBadFormat = 3,
  kNoMemory = 4,
  kShortRead = 5,
};

// The records loaded, by the handle their slot holds. Handles count up and are not reused, so a
// slot whose font was freed names no font rather than another one. Every outline-text call looks
// its record up, loads and frees change the registry, from any thread: lookups hold the lock
// shared, changes alone.
std::shared_mutex registryMutex;
struct Registered {
  int32_t handle;
  Eevg_OutlineFont *font;
};
Registered *registry = nullptr;
int32_t registryCount = 0, registryCapacity = 0;
int32_t nextHandle = 1;

bool HandleInUse(int32_t handle) {
  for (int32_t i = 0; i < registryCount; ++i)
    if (registry[i].handle == handle) return true;
  return false;
}

// The handle of a new record, 0 when memory runs out.
int32_t Register(Eevg_OutlineFont *font) {
  std::lock_guard<std::shared_mutex> lock(registryMutex);
  if (!lower::Grow(registry, registryCapacity, static_cast<int64_t>(registryCount) + 1)) return 0;
  while (HandleInUse(nextHandle)) nextHandle = nextHandle == INT32_MAX ? 1 : nextHandle + 1;
  const int32_t handle = nextHandle;
  nextHandle = nextHandle == INT32_MAX ? 1 : nextHandle + 1;
  registry[registryCount++] = {handle, font};
  return handle;
}

void Unregister(const Eevg_OutlineFont *font) {
  for (int32_t i = 0; i < registryCount; ++i)
    if (registry[i].font == font) {
      registry[i] = registry[--registryCount];
      return;
    }
}

Eevg_OutlineFont *Lookup(int32_t handle) {
  std::shared_lock<std::shared_mutex> lock(registryMutex);
  for (int32_t i = 0; i < registryCount; ++i)
    if (registry[i].handle == handle) return registry[i].font;
  return nullptr;
}

void FreeFont(Eevg_OutlineFont *font) {
  if (!font) return;
  for (Eevg_OutlineChar &c : font->chars) emsc_HeapFree(c.outline);
  lower::HeapDelete(font);
}

bool SameName(const char *name, const Eevg_LoadedFont &slot) {
  return name == slot.fileName || std::strncmp(name, slot.fileName, sizeof slot.fileName) == 0;
}

int32_t U16(const uint8_t *p) { return p[0] | p[1] << 8; }
int32_t S16(const uint8_t *p) { return static_cast<int16_t>(static_cast<uint16_t>(U16(p))); }
uint32_t U32(const uint8_t *p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Reads the open file into the record (cleared, its outline pointers null). kRead, or the code
// of the failure with a report saying what was wrong.
int32_t ReadFont(FILE *file, Eevg_OutlineFont &f, Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_FFReadFont";
  auto read = [&](void *buffer, std::size_t count) { return std::fread(buffer, 1, count, file) == count; };
  auto seek = [&](int64_t offset) { return offset <= LONG_MAX && std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0; };
  auto shortRead = [&](const char *what) {
    lower::Report(err, reporter, kShortRead, "The font file ends within %s", what);
    return kShortRead;
  };
  uint8_t h[kHeaderSize];
  if (!read(h, sizeof h)) return shortRead("its header");
  f.format = U16(h + 0);
  f.resolution = U16(h + 66);
  f.kept70 = U16(h + 70);
  f.kept72 = U16(h + 72);
  f.ascent = S16(h + 74);
  f.fourth = S16(h + 78);
  f.info80 = h[80];
  f.info81 = h[81];
  f.info82 = h[82];
  f.info83 = U16(h + 83);
  f.info85 = h[85];
  f.kept88 = U16(h + 88);
  f.bumperCount = h[90] & 15;
  f.bumperHigh = h[90] >> 4;
  f.topReference = U16(h + 91);
  f.bottomReference = U16(h + 93);
  f.first = h[95];
  f.last = h[96];
  f.info97 = h[97];
  f.info98 = h[98];
  const uint32_t sixteenOffset = U32(h + 101), blockOffset = U32(h + 105), base = U32(h + 113);
  f.sixteenOffset = static_cast<int32_t>(sixteenOffset);
  f.blockOffset = static_cast<int32_t>(blockOffset);
  f.baseOffset = static_cast<int32_t>(base);
  f.lineHeight = S16(h + 109);
  const int32_t range = f.last - f.first + 1;
  if (range < 1) {
    lower::Report(err, reporter, kEmptyRange, "The font's first character %d lies after its last %d", f.first, f.last);
    return kEmptyRange;
  }
  if (f.format != 4 && f.format != 5) {
    lower::Report(err, reporter, kBadFormat, "Unknown font format %d", f.format);
    return kBadFormat;
  }
  if (f.resolution != 512 && f.resolution != 768) {
    lower::Report(err, reporter, kBadResolution, "Unknown grid resolution %d", f.resolution);
    return kBadResolution;
  }
  // The reference characters index the font's characters: codes it does not hold are refused.
  for (const int32_t reference : {f.topReference, f.bottomReference})
    if (reference < f.first || reference > f.last) {
      lower::Report(err, reporter, kBadFormat, "Reference character %d lies outside the font's characters %d to %d",
                    reference, f.first, f.last);
      return kBadFormat;
    }

  uint8_t table[256 * 4];
  if (!read(table, static_cast<std::size_t>(range) * 4)) return shortRead("its character offsets");
  if (!seek(blockOffset) || !read(f.block, sizeof f.block)) return shortRead("its 60-byte block");
  uint8_t sixteen[32];
  if (!seek(sixteenOffset) || !read(sixteen, sizeof sixteen)) return shortRead("its block of sixteen values");
  for (int32_t i = 0; i < 16; ++i) f.sixteen[i] = static_cast<uint16_t>(U16(sixteen + 2 * i));

  const std::size_t n = static_cast<std::size_t>(f.bumperCount);
  for (int32_t i = 0; i < range; ++i) {
    const uint32_t offset = U32(table + 4 * i);
    if (offset == kNoGlyph) continue;
    const int32_t code = f.first + i;
    Eevg_OutlineChar &c = f.chars[code];
    uint8_t fixed[10], length[2];
    if (!seek(static_cast<int64_t>(base) + offset) || !read(fixed, sizeof fixed) || !read(c.left, n) ||
        !read(c.right, n) || !read(length, sizeof length)) {
      lower::Report(err, reporter, kShortRead, "The font file ends within the record of character %d", code);
      return kShortRead;
    }
    c.flags = fixed[0];
    for (int32_t k = 0; k < 4; ++k) c.box[k] = static_cast<int16_t>(S16(fixed + 2 + 2 * k));
    c.outlineLength = U16(length);
    if (c.outlineLength == 0) continue;
    c.outline = lower::HeapNewArray<uint8_t>(c.outlineLength);
    if (!c.outline) {
      lower::Report(err, reporter, kNoMemory, "Unable to allocate the outline of character %d", code);
      return kNoMemory;
    }
    if (!read(c.outline, static_cast<std::size_t>(c.outlineLength))) {
      lower::Report(err, reporter, kShortRead, "The font file ends within the outline of character %d", code);
      return kShortRead;
    }
  }

  const Eevg_OutlineChar &top = f.chars[f.topReference], &bottom = f.chars[f.bottomReference];
  f.descent = bottom.box[1];
  if (f.lineHeight <= 0) f.lineHeight = std::abs(static_cast<int32_t>(top.box[3])) + std::abs(static_cast<int32_t>(bottom.box[1]));
  // Glyphs are scaled by the line height: a font without one cannot be drawn.
  if (f.lineHeight <= 0) {
    lower::Report(err, reporter, kBadFormat, "The font has a line height of 0");
    return kBadFormat;
  }
  return kRead;
}

// The outline code of one character, read point by point and command by command within its
// stored length.
class OutlineCode {
 public:
  OutlineCode(const uint8_t *bytes, int32_t length) : at_(bytes), end_(bytes + length) {}
  bool More() const { return at_ < end_; }
  // The next byte is a point's first byte (below 64).
  bool PointNext() const { return at_ < end_ && *at_ < 64; }
  int32_t Byte() { return *at_++; }
  // A point (biased values removed); false when fewer than 3 bytes are left.
  bool Point(int32_t &x, int32_t &y) {
    if (end_ - at_ < 3) return false;
    x = ((at_[1] << 3) | ((at_[0] >> 3) & 7)) - kBias;
    y = ((at_[2] << 3) | (at_[0] & 7)) - kBias;
    at_ += 3;
    return true;
  }

 private:
  const uint8_t *at_, *end_;
};

// Maps a point of the outline through the drawing's fixed-point glyph matrix about the origin.
struct GlyphMapper {
  int64_t a, b, c, d, ox, oy;
  explicit GlyphMapper(const Eevg_Drawing *drawing)
      : a(drawing->text.outlineFixed[0]), b(drawing->text.outlineFixed[1]), c(drawing->text.outlineFixed[2]),
        d(drawing->text.outlineFixed[3]), ox(gfx::TruncateToInt32(drawing->text.glyphOriginX)),
        oy(gfx::TruncateToInt32(drawing->text.glyphOriginY)) {}
  static int32_t Held(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, -gfx::kShapeSafeLimit, gfx::kShapeSafeLimit));
  }
  int32_t X(int32_t X, int32_t Y) const { return Held(ox + ((a * X + b * Y) >> 16)); }
  int32_t Y(int32_t X, int32_t Y) const { return Held(oy + ((c * X + d * Y) >> 16)); }
};

// Fixed-point entries stay far enough inside 64 bits for a product with a grid value.
constexpr double kFixedLimit = 140737488355328.0; // 2^47

int64_t Fixed(double entry, int32_t lineHeight) {
  const double value = entry * 65536.0 / lineHeight + 0.5;
  if (!std::isfinite(value)) return 0;
  return static_cast<int64_t>(std::clamp(value, -kFixedLimit, kFixedLimit));
}

const uint8_t kNoProfile[15] = {};

} // namespace

Eevg_OutlineFont *outline::FontOf(const Eevg_LoadedFont *slot) {
  return slot && slot->server == kOutlineSlot ? Lookup(slot->handle) : nullptr;
}

extern "C" {

int32_t eevg_FFReference(const char *fontFileName, uint8_t *fontTable, int32_t *used, int32_t capacity,
                         Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_FFReference";
  lower::Clear(err);
  if (!fontFileName || !fontTable || !used || capacity < 0) {
    lower::Report(err, reporter, 7, "Invalid font table or font file name");
    return -1;
  }
  auto *slots = reinterpret_cast<Eevg_LoadedFont *>(fontTable);
  // A slot whose font was freed is read again; any other slot of the name holds the font.
  auto loaded = [](const Eevg_LoadedFont &slot) {
    return slot.server != outline::kOutlineSlot || outline::FontOf(&slot);
  };
  {
    std::shared_lock<std::shared_mutex> lookup(text::FontTableMutex());
    for (int32_t i = 0, inUse = std::min(*used, capacity); i < inUse; ++i)
      if (SameName(fontFileName, slots[i])) {
        if (loaded(slots[i])) return i;
        break;
      }
  }
  std::lock_guard<std::shared_mutex> table(text::FontTableMutex());
  if (*used < 0) {
    lower::Report(err, reporter, 7, "Invalid font table or font file name");
    return -1;
  }
  const int32_t inUse = std::min(*used, capacity);
  int32_t index = inUse;
  for (int32_t i = 0; i < inUse; ++i) {
    if (!SameName(fontFileName, slots[i])) continue;
    if (loaded(slots[i])) return i;
    index = i;
    break;
  }
  if (index >= capacity) {
    lower::Report(err, reporter, 1, "No room for more fonts in font table");
    return -1;
  }
  Eevg_LoadedFont &slot = slots[index];
  if (index == inUse) {
    const std::size_t length = strnlen(fontFileName, sizeof slot.fileName);
    std::memset(slot.fileName, 0, sizeof slot.fileName);
    std::memcpy(slot.fileName, fontFileName, length);
    slot.handle = 0;
    slot.server = 0;
  }
  lower::CalleeReport inner;
  Efio_SearchList *list = efio_CreateSLFromEnv(0, "NORIX_FONT_PATH", ".", &inner);
  if (!list) {
    lower::ReportChained(err, inner, reporter, 2, "Unable to find font file %s", fontFileName);
    return -2;
  }
  FILE *file = efio_SearchListOpen(list, fontFileName, "r", 0, &inner);
  efio_FreeSL(list);
  if (!file) {
    const int32_t code = inner && inner->code == 2 ? 3 : 4;
    lower::ReportChained(err, inner, reporter, code, "Unable to open font file %s", fontFileName);
    return -2;
  }
  std::fseek(file, 0, SEEK_SET);
  lower::HeapPtr<Eevg_OutlineFont> font(lower::HeapNew<Eevg_OutlineFont>());
  if (!font) {
    std::fclose(file);
    lower::Report(err, reporter, 5, "Unable to allocate font control structure");
    return -3;
  }
  const int32_t failure = ReadFont(file, *font, &inner);
  std::fclose(file);
  if (failure != kRead) {
    FreeFont(font.release());
    lower::ReportChained(err, inner, reporter, 6, "Unable to read font data");
    return -10 - failure;
  }
  const int32_t handle = Register(font.get());
  if (handle == 0) {
    FreeFont(font.release());
    lower::Report(err, reporter, 5, "Unable to allocate font control structure");
    return -3;
  }
  font.release();
  slot.handle = handle;
  slot.server = outline::kOutlineSlot;
  if (index == inUse) *used = inUse + 1;
  return index;
} TAVIRON_GUARD(err, -1)

Eevg_OutlineFont *eevg_FFFontGet(const uint8_t *fontTable, int32_t index) try {
  if (!fontTable || index < 0) return nullptr;
  return outline::FontOf(reinterpret_cast<const Eevg_LoadedFont *>(fontTable) + index);
} TAVIRON_GUARD_QUIET(nullptr)

void eevg_FFFree(Eevg_OutlineFont *font) try {
  if (!font) return;
  std::unique_lock<std::shared_mutex> lock(registryMutex);
  for (int32_t i = 0; i < registryCount; ++i)
    if (registry[i].font == font) text::Glyphs().Forget(outline::kOutlineSlot, registry[i].handle);
  Unregister(font);
  lock.unlock();
  FreeFont(font);
} TAVIRON_GUARD_QUIET_VOID

int32_t eevg_FFRetrieve(Eevg_Drawing *drawing, int32_t code, double originX, double originY,
                        Eevg_OutlinePointFunction move, Eevg_OutlinePointFunction draw,
                        Eevg_OutlineCurveFunction curve, Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_FFRetrieve";
  lower::Clear(err);
  if (!drawing || !move || !draw || !curve) {
    lower::Report(err, reporter, 7, "NULL Eevg Drawing Pointer or outline function");
    return -1;
  }
  const Eevg_OutlineFont *font = outline::FontOf(drawing->text.font);
  if (!font) {
    lower::Report(err, reporter, 8, "No outline font loaded for the text");
    return -1;
  }
  drawing->text.glyphOriginX = originX;
  drawing->text.glyphOriginY = originY;
  const Eevg_OutlineChar *c = outline::CharOf(font, code);
  if (!c || !c->outline) {
    lower::Report(err, reporter, 1, "Error in OTL pointer(NULL)");
    return -1;
  }
  const GlyphMapper map(drawing);
  OutlineCode bytes(c->outline, c->outlineLength);
  auto corrupt = [&]() {
    lower::Report(err, reporter, 6, "Error in font data");
    return -1;
  };
  int32_t X, Y;
  if (!bytes.Point(X, Y)) return corrupt();
  lower::CalleeReport inner;
  if (move(drawing, map.X(X, Y), map.Y(X, Y), &inner) != 0) {
    lower::ReportChained(err, inner, reporter, 2, "Error Moving to Initial Character Position (NULL)");
    return -1;
  }
  auto failed = [&](int32_t failure) {
    lower::ReportChained(err, inner, reporter, failure, "Error completing curve for character");
    return -1;
  };
  while (bytes.More()) {
    const int32_t command = bytes.Byte();
    // A command byte has bit 6 or 7 set; its low six bits say what follows.
    if (command < 64) return corrupt();
    switch (command & 63) {
    case 0:
      if (!bytes.Point(X, Y)) return corrupt();
      if (move(drawing, map.X(X, Y), map.Y(X, Y), &inner) != 0) return failed(3);
      break;
    case 1:
      while (bytes.PointNext()) {
        if (!bytes.Point(X, Y)) return corrupt();
        if (draw(drawing, map.X(X, Y), map.Y(X, Y), &inner) != 0) return failed(4);
      }
      break;
    case 2:
      while (bytes.PointNext()) {
        int32_t p[6];
        for (int32_t k = 0; k < 3; ++k) {
          if (!bytes.Point(X, Y)) return corrupt();
          p[2 * k] = map.X(X, Y);
          p[2 * k + 1] = map.Y(X, Y);
        }
        if (curve(drawing, p[0], p[1], p[2], p[3], p[4], p[5], &inner) != 0) return failed(5);
      }
      break;
    case 3: return 0;
    default: return corrupt();
    }
  }
  // The code ended without its end command.
  return corrupt();
} TAVIRON_GUARD(err, -1)

int32_t eevg_FFInqVertSpace(const Eevg_OutlineFont *font, int32_t *ascent, int32_t *descent,
                            int32_t *lineHeight, int32_t *fourth) try {
  const int32_t values[4] = {font ? font->ascent : 0, font ? font->descent : 0, font ? font->lineHeight : 0,
                             font ? font->fourth : 0};
  int32_t *outs[4] = {ascent, descent, lineHeight, fourth};
  for (int32_t i = 0; i < 4; ++i)
    if (outs[i]) *outs[i] = values[i];
  return values[3];
} TAVIRON_GUARD_QUIET(0)

int32_t eevg_FFInqCharBoundingRect(const Eevg_OutlineFont *font, int32_t code, int32_t *x0, int32_t *y0,
                                   int32_t *x1, int32_t *y1) try {
  const Eevg_OutlineChar *c = outline::CharOf(font, code);
  int32_t *outs[4] = {x0, y0, x1, y1};
  for (int32_t i = 0; i < 4; ++i)
    if (outs[i]) *outs[i] = c ? c->box[i] : 0;
  return 0;
} TAVIRON_GUARD_QUIET(0)

int32_t eevg_FFInqCharLeftKern(const Eevg_OutlineFont *font, int32_t code, const uint8_t **profile) try {
  const Eevg_OutlineChar *c = outline::CharOf(font, code);
  if (profile) *profile = c ? c->left : kNoProfile;
  return 0;
} TAVIRON_GUARD_QUIET(0)

int32_t eevg_FFInqCharRightKern(const Eevg_OutlineFont *font, int32_t code, const uint8_t **profile) try {
  const Eevg_OutlineChar *c = outline::CharOf(font, code);
  if (profile) *profile = c ? c->right : kNoProfile;
  return 0;
} TAVIRON_GUARD_QUIET(0)

int32_t eevg_FFInqFontNumberOfKerningBumpers(const Eevg_OutlineFont *font) try {
  return font ? font->bumperCount : 0;
} TAVIRON_GUARD_QUIET(0)

int32_t eevg_FFInqSpacing(const Eevg_OutlineFont *font, int32_t code) try {
  const Eevg_OutlineChar *c = outline::CharOf(font, code);
  return c && c->outline ? c->flags & 2 : 0;
} TAVIRON_GUARD_QUIET(0)

void eevg_SetFtoI(Eevg_Drawing *drawing) try {
  if (!drawing) return;
  const Eevg_OutlineFont *font = outline::FontOf(drawing->text.font);
  for (int32_t i = 0; i < 4; ++i)
    drawing->text.outlineFixed[i] = font ? Fixed(drawing->text.outlineMatrix[i], font->lineHeight) : 0;
} TAVIRON_GUARD_QUIET_VOID

int32_t eevg_GetShort(const void *bytes) try {
  return bytes ? U16(static_cast<const uint8_t *>(bytes)) : 0;
} TAVIRON_GUARD_QUIET(0)

} // extern "C"

// A font server over FreeType: answers to the server name "FreeType" and serves outline font
// files (TrueType, OpenType, Type 1). A font file name is a file path, or the name of a font file
// (with or without ".ttf") in the directories of NORIX_FONT_PATH or /usr/share/fonts/truetype/dejavu;
// a name that no file has is served by the face the font list names for it (its third field).
// Glyphs are read unscaled, in font units, and kept once read: their advances, side bearings,
// boxes and outlines (quadratic pieces raised to cubics).
//
// Every entry may be called from any thread. FreeType opens and closes the faces of one library
// one at a time, and a face serves one thread at a time: faces are opened and closed under the
// library's lock, and a glyph is read under its face's lock. A glyph once read and a face once
// open are found without a lock.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_BBOX_H
#include FT_FONT_FORMATS_H
#include FT_OUTLINE_H

#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

#include "eevg_fontserver.h"
#include "eevg_internal.h"
#include "efio.h"
#include "emsc.h"
#include "estr.h"
#include "guard.h"

#define FONT_SERVER_ENTRY extern "C" __attribute__((visibility("default")))

namespace {

constexpr const char *kSystemFonts = "/usr/share/fonts/truetype/dejavu";

// One step of an outline: a move (kind 0), a line (1) or a cubic (2) to (x3, y3).
struct Step {
  int32_t kind;
  int32_t x1, y1, x2, y2, x3, y3;
};

// A glyph: its members are written once, under the face's lock, before read is set.
struct Glyph {
  std::atomic<bool> read{false};
  bool valid = false;
  int32_t advance = 0, bearing = 0;
  int32_t box[4] = {0, 0, 0, 0};
  FT_UInt index = 0;
  std::vector<Step> outline;
};
using Page = std::array<Glyph, 256>;

// A face and its glyphs, read on first use, in pages of 256 characters. Pages are made under the
// face's lock and kept as long as the face.
struct Face {
  FT_Face face = nullptr;
  // Glyph reads hold it alone. Kerning that FreeType answers from the tables it read with the face
  // (TrueType and OpenType faces) is asked under it shared, any other format's alone.
  std::shared_mutex mutex;
  bool sharedKerning = false;
  std::array<std::atomic<Page *>, 256> pages{};
  ~Face() {
    for (std::atomic<Page *> &page : pages) delete page.load(std::memory_order_relaxed);
    if (face) FT_Done_Face(face);
  }
};

// The library, its faces opened and closed under its lock.
std::mutex libraryMutex;
FT_Library library = nullptr;

// The faces by handle, found without a lock: the slots lie in blocks of 16, 32, 64, ... slots,
// each made once and never moved. Handles count up from 1 and are not reused. Faces are added and
// freed under the library's lock.
class FaceTable {
 public:
  ~FaceTable() {
    for (std::atomic<Slot *> &block : blocks_) {
      Slot *slots = block.load(std::memory_order_relaxed);
      if (!slots) continue;
      for (std::size_t i = 0, n = std::size_t{kFirst} << (&block - blocks_.data()); i < n; ++i)
        delete slots[i].load(std::memory_order_relaxed);
      delete[] slots;
    }
  }
  Face *Find(int32_t handle) const {
    if (handle < 1) return nullptr;
    const auto [block, index] = Place(handle);
    const Slot *slots = blocks_[block].load(std::memory_order_acquire);
    return slots ? slots[index].load(std::memory_order_acquire) : nullptr;
  }
  // The face's handle, 0 when the handles or memory run out (the face is left to the caller).
  int32_t Add(Face *face) {
    if (count_ == INT32_MAX) return 0;
    const int32_t handle = count_ + 1;
    const auto [block, index] = Place(handle);
    Slot *slots = blocks_[block].load(std::memory_order_relaxed);
    if (!slots) {
      slots = new (std::nothrow) Slot[std::size_t{kFirst} << block]();
      if (!slots) return 0;
      blocks_[block].store(slots, std::memory_order_release);
    }
    slots[index].store(face, std::memory_order_release);
    count_ = handle;
    return handle;
  }
  void Free(int32_t handle) {
    if (handle < 1 || handle > count_) return;
    const auto [block, index] = Place(handle);
    delete blocks_[block].load(std::memory_order_relaxed)[index].exchange(nullptr, std::memory_order_acq_rel);
  }

 private:
  using Slot = std::atomic<Face *>;
  static constexpr uint32_t kFirst = 16;
  // Handle h lies in block b at i, where h - 1 + 16 = 2^(b + 4) + i.
  static std::pair<std::size_t, std::size_t> Place(int32_t handle) {
    const uint32_t n = static_cast<uint32_t>(handle) - 1 + kFirst;
    const int top = std::bit_width(n) - 1;
    return {static_cast<std::size_t>(top - std::countr_zero(kFirst)), n - (uint32_t{1} << top)};
  }
  std::array<std::atomic<Slot *>, 28> blocks_{};
  int32_t count_ = 0;
};
FaceTable faces;

// Collects the outline of the glyph slot as steps in font units.
struct Decomposer {
  std::vector<Step> *steps;
  FT_Vector pen{};

  static int32_t I(FT_Pos v) { return static_cast<int32_t>(v); }
  static int Move(const FT_Vector *to, void *user) {
    auto *self = static_cast<Decomposer *>(user);
    self->steps->push_back({0, 0, 0, 0, 0, I(to->x), I(to->y)});
    self->pen = *to;
    return 0;
  }
  static int Line(const FT_Vector *to, void *user) {
    auto *self = static_cast<Decomposer *>(user);
    self->steps->push_back({1, 0, 0, 0, 0, I(to->x), I(to->y)});
    self->pen = *to;
    return 0;
  }
  static int Conic(const FT_Vector *control, const FT_Vector *to, void *user) {
    auto *self = static_cast<Decomposer *>(user);
    // The quadratic from the pen through control, raised to a cubic.
    const FT_Vector &p = self->pen;
    const int32_t x1 = I(p.x + (2 * (control->x - p.x)) / 3), y1 = I(p.y + (2 * (control->y - p.y)) / 3);
    const int32_t x2 = I(to->x + (2 * (control->x - to->x)) / 3), y2 = I(to->y + (2 * (control->y - to->y)) / 3);
    self->steps->push_back({2, x1, y1, x2, y2, I(to->x), I(to->y)});
    self->pen = *to;
    return 0;
  }
  static int Cubic(const FT_Vector *c1, const FT_Vector *c2, const FT_Vector *to, void *user) {
    auto *self = static_cast<Decomposer *>(user);
    self->steps->push_back({2, I(c1->x), I(c1->y), I(c2->x), I(c2->y), I(to->x), I(to->y)});
    self->pen = *to;
    return 0;
  }
};

Face *FaceOf(const Eevg_Drawing *drawing) {
  if (!drawing || !drawing->text.font) return nullptr;
  return faces.Find(drawing->text.font->handle);
}

// Reads the glyph of the character from the face, under the face's lock. An exception leaves it
// unread.
void ReadGlyph(FT_Face face, char16_t character, Glyph &glyph) {
  glyph.index = FT_Get_Char_Index(face, character);
  if (FT_Load_Glyph(face, glyph.index, FT_LOAD_NO_SCALE | FT_LOAD_NO_BITMAP) != 0) return;
  const FT_GlyphSlot slot = face->glyph;
  glyph.advance = static_cast<int32_t>(slot->metrics.horiAdvance);
  glyph.bearing = static_cast<int32_t>(slot->metrics.horiBearingX);
  if (slot->format == FT_GLYPH_FORMAT_OUTLINE && slot->outline.n_points > 0) {
    FT_BBox box;
    FT_Outline_Get_BBox(&slot->outline, &box);
    glyph.box[0] = static_cast<int32_t>(box.xMin);
    glyph.box[1] = static_cast<int32_t>(box.yMin);
    glyph.box[2] = static_cast<int32_t>(box.xMax);
    glyph.box[3] = static_cast<int32_t>(box.yMax);
    static const FT_Outline_Funcs funcs = {Decomposer::Move, Decomposer::Line, Decomposer::Conic,
                                           Decomposer::Cubic, 0, 0};
    std::vector<Step> outline;
    Decomposer decomposer{&outline, {}};
    if (FT_Outline_Decompose(&slot->outline, &funcs, &decomposer) != 0) outline.clear();
    glyph.outline = std::move(outline);
  }
  glyph.valid = true;
}

// The glyph of a character, read on first use; null when the face is missing. A glyph already
// read takes no lock.
Glyph *GlyphOf(Face *face, char16_t character) {
  if (!face) return nullptr;
  std::atomic<Page *> &page = face->pages[character >> 8];
  if (Page *known = page.load(std::memory_order_acquire)) {
    Glyph &glyph = (*known)[character & 0xff];
    if (glyph.read.load(std::memory_order_acquire)) return &glyph;
  }
  std::lock_guard<std::shared_mutex> lock(face->mutex);
  Page *made = page.load(std::memory_order_relaxed);
  if (!made) {
    made = new Page();
    page.store(made, std::memory_order_release);
  }
  Glyph &glyph = (*made)[character & 0xff];
  if (!glyph.read.load(std::memory_order_relaxed)) {
    ReadGlyph(face->face, character, glyph);
    glyph.read.store(true, std::memory_order_release);
  }
  return &glyph;
}

// The kerning of the pair in font units, 0 where the face has none.
FT_Pos Kerning(Face *face, const Glyph &left, const Glyph &right) {
  if (!FT_HAS_KERNING(face->face)) return 0;
  FT_Vector kerning{0, 0};
  if (face->sharedKerning) {
    std::shared_lock<std::shared_mutex> lock(face->mutex);
    if (FT_Get_Kerning(face->face, left.index, right.index, FT_KERNING_UNSCALED, &kerning) != 0) return 0;
  } else {
    std::lock_guard<std::shared_mutex> lock(face->mutex);
    if (FT_Get_Kerning(face->face, left.index, right.index, FT_KERNING_UNSCALED, &kerning) != 0) return 0;
  }
  return kerning.x;
}

// The path of the named font file, empty when none is found.
std::string FindFontFile(const char *name) {
  Eerr_ErrorReport *ignored = nullptr;
  Efio_SearchList *list = efio_CreateSLFromEnv(0, "NORIX_FONT_PATH", ".", &ignored);
  eerr_DeleteErrorReportEx(&ignored);
  std::string found;
  const std::string names[] = {name, std::string(name) + ".ttf"};
  for (const std::string &candidate : names) {
    char *path = list ? efio_Which(list, candidate.c_str(), nullptr) : nullptr;
    if (!path) {
      const std::string system = std::string(kSystemFonts) + "/" + candidate;
      if (FILE *file = std::fopen(system.c_str(), "rb")) {
        std::fclose(file);
        found = system;
      }
    } else {
      found = path;
      emsc_HeapFree(path);
    }
    if (!found.empty()) break;
  }
  efio_FreeSL(list);
  return found;
}

void Fail(Eerr_ErrorReport **err, const char *entry, const char *message, const char *name) {
  if (err) *err = eerr_CreateErrorReport(entry, 1, EERR_FATAL, *err, message, name);
}

} // namespace

FONT_SERVER_ENTRY int32_t InstanceTitleListGet(int32_t *count, char ***titles) {
  if (!count || !titles) return -1;
  auto **list = static_cast<char **>(emsc_HeapMalloc(sizeof(char *)));
  if (list) list[0] = estr_Duplicate("FreeType");
  if (!list || !list[0]) {
    emsc_HeapFree(list);
    return -1;
  }
  *count = 1;
  *titles = list;
  return 0;
}

FONT_SERVER_ENTRY int32_t TextFontGet(const char *fontFileName, Eerr_ErrorReport **err) try {
  if (!fontFileName || !*fontFileName) {
    Fail(err, "TextFontGet", "Invalid font file name%s", "");
    return 0;
  }
  std::string path = FindFontFile(fontFileName);
  if (path.empty()) {
    // A font of the list whose file is another face ("galaxy.otl", the default font of text
    // styles, is a DejaVu face).
    Eerr_ErrorReport *ignored = nullptr;
    const Eevg_FontDataBaseRecord *record = eevg_FontDataBaseLookupByFontFileName(nullptr, fontFileName, &ignored);
    eerr_DeleteErrorReportEx(&ignored);
    const char *face = record ? eevg_FontDataBasePSFileNameGet(record) : nullptr;
    if (face && *face && std::strcmp(face, fontFileName) != 0) path = FindFontFile(face);
  }
  if (path.empty()) {
    Fail(err, "TextFontGet", "Font file %s not found", fontFileName);
    return 0;
  }
  std::lock_guard<std::mutex> lock(libraryMutex);
  if (!library && FT_Init_FreeType(&library) != 0) {
    library = nullptr;
    Fail(err, "TextFontGet", "Unable to start FreeType for %s", fontFileName);
    return 0;
  }
  auto face = std::make_unique<Face>();
  if (FT_New_Face(library, path.c_str(), 0, &face->face) != 0 || !FT_IS_SCALABLE(face->face)) {
    Fail(err, "TextFontGet", "%s is not an outline font file", path.c_str());
    return 0;
  }
  const char *format = FT_Get_Font_Format(face->face);
  face->sharedKerning = format && (std::strcmp(format, "TrueType") == 0 || std::strcmp(format, "CFF") == 0);
  const int32_t handle = faces.Add(face.get());
  if (handle == 0) {
    Fail(err, "TextFontGet", "Unable to load %s", fontFileName);
    return 0;
  }
  face.release();
  return handle;
} catch (...) { // the renderer must see the failure: the guard's quiet form would hide it
  Fail(err, "TextFontGet", "Unable to load %s", fontFileName ? fontFileName : "");
  return 0;
}

FONT_SERVER_ENTRY void TextFontFree(int32_t font) try {
  std::lock_guard<std::mutex> lock(libraryMutex);
  faces.Free(font);
} TAVIRON_GUARD_QUIET_VOID

FONT_SERVER_ENTRY void TextStringInit(Eevg_Drawing *, Eerr_ErrorReport **) {}

FONT_SERVER_ENTRY double TextCharWidthCalc(Eevg_Drawing *drawing, char16_t previous, char16_t next,
                                           Eerr_ErrorReport **) try {
  if (previous == 0) return 0;
  Face *face = FaceOf(drawing);
  const Glyph *glyph = GlyphOf(face, previous);
  if (!glyph) return 0;
  double width = glyph->advance;
  if (next != 0) {
    if (const Glyph *after = GlyphOf(face, next)) width += static_cast<double>(Kerning(face, *glyph, *after));
    width += drawing->text.extraSpacingUnits;
  }
  return width;
} TAVIRON_GUARD_QUIET(0)

FONT_SERVER_ENTRY void TextCharOutlineGet(Eevg_Drawing *drawing, char16_t character,
                                          Eerr_ErrorReport **) try {
  const Glyph *glyph = GlyphOf(FaceOf(drawing), character);
  if (!glyph) return;
  for (const Step &s : glyph->outline) {
    Eerr_ErrorReport *err = nullptr;
    const int32_t status = s.kind == 0   ? eevg_DispMove(drawing, s.x3, s.y3, &err)
                           : s.kind == 1 ? eevg_DispDraw(drawing, s.x3, s.y3, &err)
                                         : eevg_DispCurve(drawing, s.x1, s.y1, s.x2, s.y2, s.x3, s.y3, &err);
    eerr_DeleteErrorReportEx(&err);
    if (status != 0) return; // the renderer sees the failure in its buffers
  }
} TAVIRON_GUARD_QUIET_VOID

FONT_SERVER_ENTRY void TextCharBoundingBoxGet(Eevg_Drawing *drawing, char16_t character, int32_t *x0,
                                              int32_t *y0, int32_t *x1, int32_t *y1,
                                              Eerr_ErrorReport **) try {
  const Glyph *glyph = GlyphOf(FaceOf(drawing), character);
  const int32_t none[4] = {0, 0, 0, 0};
  const int32_t *box = glyph ? glyph->box : none;
  if (x0) *x0 = box[0];
  if (y0) *y0 = box[1];
  if (x1) *x1 = box[2];
  if (y1) *y1 = box[3];
} TAVIRON_GUARD_QUIET_VOID

FONT_SERVER_ENTRY double TextEmValueGet(Eevg_Drawing *drawing, Eerr_ErrorReport **) {
  const Face *face = FaceOf(drawing);
  return face ? face->face->units_per_EM : 0;
}

FONT_SERVER_ENTRY double TextAscentGet(Eevg_Drawing *drawing, Eerr_ErrorReport **) {
  const Face *face = FaceOf(drawing);
  return face ? face->face->ascender : 0;
}

FONT_SERVER_ENTRY double TextDescentGet(Eevg_Drawing *drawing, Eerr_ErrorReport **) {
  const Face *face = FaceOf(drawing);
  return face ? -static_cast<double>(face->face->descender) : 0;
}

FONT_SERVER_ENTRY double TextCharSideSpaceGet(Eevg_Drawing *drawing, char16_t character,
                                              Eerr_ErrorReport **) try {
  const Glyph *glyph = GlyphOf(FaceOf(drawing), character);
  return glyph ? glyph->bearing : 0;
} TAVIRON_GUARD_QUIET(0)

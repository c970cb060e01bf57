// A font server over FreeType: answers to the server name "FreeType" and serves outline font
// files (TrueType, OpenType, Type 1). A font file name is a file path, or the name of a font file
// (with or without ".ttf") in the directories of NORIX_FONT_PATH or /usr/share/fonts/truetype/dejavu;
// a name that no file has is served by the face the font list names for it (its third field).
// Glyphs are read unscaled, in font units, and kept once read: their advances, side bearings,
// boxes and outlines (quadratic pieces raised to cubics).
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_BBOX_H
#include FT_OUTLINE_H

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
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

struct Glyph {
  bool read = false;
  bool valid = false;
  int32_t advance = 0, bearing = 0;
  int32_t box[4] = {0, 0, 0, 0};
  FT_UInt index = 0;
  std::vector<Step> outline;
};

// A face and its glyphs, read on first use, in pages of 256 characters.
struct Face {
  FT_Face face = nullptr;
  std::array<std::unique_ptr<std::array<Glyph, 256>>, 256> pages;
  ~Face() {
    if (face) FT_Done_Face(face);
  }
};

FT_Library library = nullptr;
std::vector<std::unique_ptr<Face>> faces; // handle = index + 1

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
  const int32_t handle = drawing->text.font->handle;
  if (handle < 1 || handle > static_cast<int32_t>(faces.size())) return nullptr;
  return faces[static_cast<std::size_t>(handle - 1)].get();
}

// The glyph of a character, read on first use; null when the face is missing or memory runs out.
Glyph *GlyphOf(Face *face, char16_t character) {
  if (!face) return nullptr;
  auto &page = face->pages[character >> 8];
  if (!page) page = std::make_unique<std::array<Glyph, 256>>();
  Glyph &glyph = (*page)[character & 0xff];
  if (!glyph.read) {
    glyph.read = true;
    glyph.index = FT_Get_Char_Index(face->face, character);
    if (FT_Load_Glyph(face->face, glyph.index, FT_LOAD_NO_SCALE | FT_LOAD_NO_BITMAP) == 0) {
      const FT_GlyphSlot slot = face->face->glyph;
      glyph.valid = true;
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
        Decomposer decomposer{&glyph.outline, {}};
        if (FT_Outline_Decompose(&slot->outline, &funcs, &decomposer) != 0) glyph.outline.clear();
      }
    }
  }
  return &glyph;
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
  if (!library && FT_Init_FreeType(&library) != 0) {
    library = nullptr;
    Fail(err, "TextFontGet", "Unable to start FreeType for %s", fontFileName);
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
  auto face = std::make_unique<Face>();
  if (FT_New_Face(library, path.c_str(), 0, &face->face) != 0 || !FT_IS_SCALABLE(face->face)) {
    Fail(err, "TextFontGet", "%s is not an outline font file", path.c_str());
    return 0;
  }
  faces.push_back(std::move(face));
  return static_cast<int32_t>(faces.size());
} catch (...) { // the renderer must see the failure: the guard's quiet form would hide it
  Fail(err, "TextFontGet", "Unable to load %s", fontFileName ? fontFileName : "");
  return 0;
}

FONT_SERVER_ENTRY void TextFontFree(int32_t font) {
  if (font >= 1 && font <= static_cast<int32_t>(faces.size())) faces[static_cast<std::size_t>(font - 1)].reset();
}

FONT_SERVER_ENTRY void TextStringInit(Eevg_Drawing *, Eerr_ErrorReport **) {}

FONT_SERVER_ENTRY double TextCharWidthCalc(Eevg_Drawing *drawing, char16_t previous, char16_t next,
                                           Eerr_ErrorReport **) try {
  if (previous == 0) return 0;
  Face *face = FaceOf(drawing);
  const Glyph *glyph = GlyphOf(face, previous);
  if (!glyph) return 0;
  double width = glyph->advance;
  if (next != 0) {
    const Glyph *after = GlyphOf(face, next);
    FT_Vector kerning{0, 0};
    if (after && FT_HAS_KERNING(face->face) &&
        FT_Get_Kerning(face->face, glyph->index, after->index, FT_KERNING_UNSCALED, &kerning) == 0)
      width += static_cast<double>(kerning.x);
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

// otlfont: makes an outline-font file of the renderer from a face FreeType reads (TrueType,
// OpenType, Type 1).
//
//   otlfont [--first N] [--last N] [--bands N] [--format 4|5] [--resolution 512|768] face output
//
// The characters first..last (Latin-1 codes, default 32..255) are taken from the face's Unicode
// map; the em becomes the grid resolution in font units. Each glyph's origin is put in the middle
// of its ink, so that its left and right bumpers measure its reach either side, each grown by its
// side bearing; the space's right bumper is its advance.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_BBOX_H

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "outline_font_writer.h"

namespace {

using taviron::tools::OutlineContour;
using taviron::tools::OutlineFontSpec;
using taviron::tools::OutlineGlyph;
using taviron::tools::OutlinePoint;
using taviron::tools::OutlineSegment;

// Gathers a FreeType outline as contours of straight and cubic edges in scaled font units
// (quadratic edges raised to cubics).
struct Gatherer {
  double scale = 1;
  std::vector<OutlineContour> contours;
  double penX = 0, penY = 0;

  OutlinePoint At(double x, double y) const {
    return {static_cast<int32_t>(std::lround(x * scale)), static_cast<int32_t>(std::lround(y * scale))};
  }
  static Gatherer &Of(void *user) { return *static_cast<Gatherer *>(user); }
  static int Move(const FT_Vector *to, void *user) {
    Gatherer &g = Of(user);
    g.contours.push_back({g.At(to->x, to->y), {}});
    g.penX = to->x;
    g.penY = to->y;
    return 0;
  }
  static int Line(const FT_Vector *to, void *user) {
    Gatherer &g = Of(user);
    g.contours.back().segments.push_back({false, {}, {}, g.At(to->x, to->y)});
    g.penX = to->x;
    g.penY = to->y;
    return 0;
  }
  static int Conic(const FT_Vector *control, const FT_Vector *to, void *user) {
    Gatherer &g = Of(user);
    const double c1x = g.penX + 2.0 / 3 * (control->x - g.penX), c1y = g.penY + 2.0 / 3 * (control->y - g.penY);
    const double c2x = to->x + 2.0 / 3 * (control->x - to->x), c2y = to->y + 2.0 / 3 * (control->y - to->y);
    g.contours.back().segments.push_back({true, g.At(c1x, c1y), g.At(c2x, c2y), g.At(to->x, to->y)});
    g.penX = to->x;
    g.penY = to->y;
    return 0;
  }
  static int Cubic(const FT_Vector *c1, const FT_Vector *c2, const FT_Vector *to, void *user) {
    Gatherer &g = Of(user);
    g.contours.back().segments.push_back({true, g.At(c1->x, c1->y), g.At(c2->x, c2->y), g.At(to->x, to->y)});
    g.penX = to->x;
    g.penY = to->y;
    return 0;
  }
};

void Shift(OutlinePoint &p, int32_t dx) { p.x -= dx; }

int Usage() {
  std::fprintf(stderr, "usage: otlfont [--first N] [--last N] [--bands N] [--format 4|5] "
                       "[--resolution 512|768] face output\n");
  return 2;
}

} // namespace

int main(int argc, char **argv) {
  OutlineFontSpec font;
  font.first = 32;
  font.last = 255;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto number = [&](int32_t &value) {
      if (i + 1 >= argc) return false;
      char *end = nullptr;
      value = static_cast<int32_t>(std::strtol(argv[++i], &end, 10));
      return *end == '\0';
    };
    bool ok = true;
    if (arg == "--first") ok = number(font.first);
    else if (arg == "--last") ok = number(font.last);
    else if (arg == "--bands") ok = number(font.bumpers);
    else if (arg == "--format") ok = number(font.format);
    else if (arg == "--resolution") ok = number(font.resolution);
    else if (arg.rfind("--", 0) == 0) ok = false;
    else files.push_back(arg);
    if (!ok) return Usage();
  }
  if (files.size() != 2 || font.first < 0 || font.last > 255 || font.first > font.last) return Usage();

  FT_Library library;
  FT_Face face;
  if (FT_Init_FreeType(&library) != 0) return 1;
  if (FT_New_Face(library, files[0].c_str(), 0, &face) != 0) {
    std::fprintf(stderr, "otlfont: cannot read the face %s\n", files[0].c_str());
    return 1;
  }
  FT_Select_Charmap(face, FT_ENCODING_UNICODE);
  const double scale = static_cast<double>(font.resolution) / face->units_per_EM;
  font.name = face->family_name ? face->family_name : "";
  font.ascent = static_cast<int32_t>(std::lround(face->ascender * scale));
  const int32_t descender = static_cast<int32_t>(std::lround(face->descender * scale));
  font.lineHeight = font.ascent - descender;
  font.bandTop = font.ascent;
  font.bandBottom = descender;
  font.topReference = 'H' >= font.first && 'H' <= font.last ? 'H' : font.first;
  font.bottomReference = 'p' >= font.first && 'p' <= font.last ? 'p' : font.first;

  FT_Outline_Funcs funcs{};
  funcs.move_to = Gatherer::Move;
  funcs.line_to = Gatherer::Line;
  funcs.conic_to = Gatherer::Conic;
  funcs.cubic_to = Gatherer::Cubic;
  int skipped = 0;
  for (int32_t code = font.first; code <= font.last; ++code) {
    const FT_UInt index = FT_Get_Char_Index(face, static_cast<FT_ULong>(code));
    if (index == 0 || FT_Load_Glyph(face, index, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING) != 0 ||
        face->glyph->format != FT_GLYPH_FORMAT_OUTLINE)
      continue;
    Gatherer gathered;
    gathered.scale = scale;
    if (FT_Outline_Decompose(&face->glyph->outline, &funcs, &gathered) != 0) continue;
    OutlineGlyph glyph;
    glyph.code = code;
    const int32_t advance = static_cast<int32_t>(std::lround(face->glyph->metrics.horiAdvance * scale));
    if (gathered.contours.empty()) {
      glyph.emptyAdvance = advance;
    } else {
      FT_BBox ink;
      FT_Outline_Get_BBox(&face->glyph->outline, &ink);
      const int32_t xMin = static_cast<int32_t>(std::lround(ink.xMin * scale));
      const int32_t xMax = static_cast<int32_t>(std::lround(ink.xMax * scale));
      const int32_t middle = (xMin + xMax) / 2;
      for (OutlineContour &c : gathered.contours) {
        Shift(c.start, middle);
        for (OutlineSegment &s : c.segments) {
          Shift(s.c1, middle);
          Shift(s.c2, middle);
          Shift(s.to, middle);
        }
      }
      glyph.contours = std::move(gathered.contours);
      glyph.leftGap = std::max(0, xMin);
      glyph.rightGap = std::max(0, advance - xMax);
      // Marks that combine with the letter before them carry no advance.
      if (advance == 0) glyph.flags = 0;
    }
    font.glyphs.push_back(std::move(glyph));
  }
  FT_Done_Face(face);
  FT_Done_FreeType(library);

  std::string error;
  // Glyphs that do not fit the grid are left out rather than failing the font.
  std::vector<OutlineGlyph> kept;
  OutlineFontSpec one = font;
  one.glyphs.clear();
  for (OutlineGlyph &glyph : font.glyphs) {
    one.glyphs = {glyph};
    try {
      taviron::tools::EncodeOutlineFont(one);
      kept.push_back(std::move(glyph));
    } catch (const std::exception &e) {
      std::fprintf(stderr, "otlfont: character %d left out: %s\n", glyph.code, e.what());
      ++skipped;
    }
  }
  font.glyphs = std::move(kept);
  if (!taviron::tools::WriteOutlineFont(font, files[1], error)) {
    std::fprintf(stderr, "otlfont: %s\n", error.c_str());
    return 1;
  }
  std::printf("otlfont: wrote %s (%zu characters%s)\n", files[1].c_str(), font.glyphs.size(),
              skipped ? ", some left out" : "");
  return 0;
}

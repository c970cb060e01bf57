// Builds outline-font files (the renderer's eevg_FFReference reads them) from glyph outlines:
// straight and cubic contours on the 11-bit grid, a box and left and right kerning-bumper
// profiles per character, computed from the outline unless given.
#ifndef TAVIRON_TOOLS_OUTLINE_FONT_WRITER_H
#define TAVIRON_TOOLS_OUTLINE_FONT_WRITER_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace taviron::tools {

// Font units relative to the glyph's origin: -1023 to 1024 on either axis.
struct OutlinePoint {
  int32_t x = 0, y = 0;
};

// A straight edge to `to`, or (curve) a cubic Bezier edge through c1 and c2 to `to`.
struct OutlineSegment {
  bool curve = false;
  OutlinePoint c1, c2, to;
};

// A contour from its start through its segments; the writer closes it when its last segment
// does not end at the start.
struct OutlineContour {
  OutlinePoint start;
  std::vector<OutlineSegment> segments;
};

struct OutlineGlyph {
  int32_t code = 0;                     // 0 to 255
  uint8_t flags = 2;                    // 2: a spacing character
  std::vector<OutlineContour> contours; // none: a character without outline
  // Bumper profiles (bumper units, one value per band); empty: computed from the outline, each
  // band's reach grown by the gaps (font units), or for a glyph without outline a right reach of
  // emptyAdvance in every band.
  std::vector<uint8_t> left, right;
  int32_t leftGap = 0, rightGap = 0, emptyAdvance = 0;
  std::optional<std::array<int16_t, 4>> box; // x0, y0, x1, y1; empty: the outline's
  std::optional<std::vector<uint8_t>> rawOutline; // the outline code as it stands (faulty fonts)
};

struct OutlineFontSpec {
  std::string name;          // kept in the header's unread bytes
  int32_t format = 4;        // 4 or 5
  int32_t resolution = 768;  // 512 or 768
  int32_t ascent = 700;      // also the bumper unit: ascent / 64
  int32_t fourth = 0;        // the fourth vertical value
  int32_t lineHeight = 0;    // 0: the reader computes it from the reference characters
  int32_t bumpers = 8;       // bands per profile, 0 to 15
  int32_t bandBottom = -200, bandTop = 700; // the bands split this range evenly
  int32_t topReference = 'H', bottomReference = 'p';
  int32_t first = 32, last = 126;
  std::vector<OutlineGlyph> glyphs;
};

// The outline code of the contours (start point, moves, runs of lines and curves, end).
// Throws std::invalid_argument for a point off the grid or no contour.
std::vector<uint8_t> EncodeOutline(const std::vector<OutlineContour> &contours);

// The bytes of the file. Throws std::invalid_argument for values the format cannot hold.
std::vector<uint8_t> EncodeOutlineFont(const OutlineFontSpec &font);

// Writes the file (through a temporary file renamed over the name); false with the reason.
bool WriteOutlineFont(const OutlineFontSpec &font, const std::string &path, std::string &error);

} // namespace taviron::tools

#endif

// The font record of an outline-font file and how the outline-font text engine finds it from a
// slot of the loaded-font table.
#ifndef TAVIRON_GRAPHICS_EEVG_OUTLINE_INTERNAL_H
#define TAVIRON_GRAPHICS_EEVG_OUTLINE_INTERNAL_H

#include <cstdint>

#include "eevg.h"
#include "eevg_fontserver.h"

// One character of the font: all zero for a code without a record.
struct Eevg_OutlineChar {
  int32_t flags;      // 2: a spacing character
  int16_t box[4];     // x0, y0 (bottom), x1, y1 (top), font units
  uint8_t left[15];   // how far the glyph reaches left of its origin, per band (bumper units)
  uint8_t right[15];  // and right
  int32_t outlineLength;
  uint8_t *outline;   // the outline code (heap block of outlineLength bytes); null for none
};

// The font record: the header values the reader keeps, the two blocks it holds, the line height
// and descent, and the 256 characters by code.
struct Eevg_OutlineFont {
  int32_t format, resolution;
  int32_t kept70, kept72;
  int32_t ascent; // font units; bumper value b means b * ascent / 64
  int32_t fourth; // the fourth vertical value
  int32_t info80, info81, info82, info83, info85;
  int32_t kept88;
  int32_t bumperCount, bumperHigh; // the bumper byte's low and high four bits
  int32_t topReference, bottomReference;
  int32_t first, last;
  int32_t info97, info98;
  int32_t sixteenOffset, blockOffset, baseOffset;
  int32_t lineHeight; // positive
  int32_t descent;    // y0 of the bottom reference character's box
  uint16_t sixteen[16];
  uint8_t block[60];
  Eevg_OutlineChar chars[256];
};

namespace taviron::graphics::outline {

// The server number of a font-table slot whose handle names an outline-font record (servers
// count from 1).
inline constexpr int32_t kOutlineSlot = -1;

// The record of a slot that holds an outline font, null for any other slot or a freed font.
Eevg_OutlineFont *FontOf(const Eevg_LoadedFont *slot);

// The character's entry, null for a code outside 0..255 or a null font.
inline const Eevg_OutlineChar *CharOf(const Eevg_OutlineFont *font, int32_t code) {
  return font && code >= 0 && code < 256 ? &font->chars[code] : nullptr;
}

} // namespace taviron::graphics::outline

#endif

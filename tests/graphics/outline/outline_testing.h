// Shared by the outline-font tests: the block font (rectangular glyphs with chosen bumpers) and
// the folder its files are written to, the font path, a canvas and a drawing on it, text styles.
//
// The drawing is 400 x 250 pixels over the world (0, 0)-(399, 249), and a text height of
// kUnitHeight world units maps the block font's line height of 1000 font units onto 1000
// sub-pixels: one font unit is one sub-pixel (1/8 pixel). The block font's ascent of 640 makes
// the bumper unit 10 font units.
#ifndef TAVIRON_TESTS_GRAPHICS_OUTLINE_OUTLINE_TESTING_H
#define TAVIRON_TESTS_GRAPHICS_OUTLINE_OUTLINE_TESTING_H

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "eevg.h"
#include "estr.h"
#include "graphics_testing.h"
#include "outline_font_writer.h"
#include "glyph_testing.h"
#include "raster_testing.h"

namespace taviron::graphics::testing {

using tools::OutlineContour;
using tools::OutlineFontSpec;
using tools::OutlineGlyph;
using tools::OutlinePoint;
using tools::OutlineSegment;

// The folder of the fonts a test process writes, removed when the process ends.
class FontFolder {
 public:
  FontFolder() {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/otlfontsXXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data())) path_ = name.data();
  }
  ~FontFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string &Path() const { return path_; }

 private:
  std::string path_;
};

inline const FontFolder &Fonts() {
  static const FontFolder folder;
  return folder;
}

// The font data base of the fixture sizes the font table; the fonts are found in the test's
// folder and in the build's (the DejaVu Sans outline font).
inline const bool kOutlineFontPathSet = [] {
  const std::string path = std::string(TAVIRON_TEST_DATA_DIR) + ":" + Fonts().Path() + ":" + TAVIRON_OUTLINE_FONT_DIR;
  setenv("NORIX_FONT_PATH", path.c_str(), 1);
  return true;
}();

// A closed rectangle from (x0, y0) to (x1, y1).
inline OutlineContour Rectangle(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  return {{x0, y0}, {{false, {}, {}, {x0, y1}}, {false, {}, {}, {x1, y1}}, {false, {}, {}, {x1, y0}}}};
}

inline OutlineGlyph Glyph(int32_t code, std::vector<OutlineContour> contours, std::vector<uint8_t> left,
                          std::vector<uint8_t> right, uint8_t flags = 2) {
  OutlineGlyph g;
  g.code = code;
  g.flags = flags;
  g.contours = std::move(contours);
  g.left = std::move(left);
  g.right = std::move(right);
  return g;
}

// The block font: two bands (bottom, top), bumper unit 10 font units, line height 1000.
//   'I' a bar 100 wide and 600 high, reaching 50 either side in both bands;
//   'T' reaching 20 either side in the bottom band, 200 in the top one; 'o' 150 in the bottom
//       band only; 'H' the top reference (700 high), 'p' the bottom one (200 below);
//   '`' a mark without the spacing flag; 'x' a record without outline; ' ' no outline, a right
//       bumper of 250 in both bands.
inline OutlineFontSpec BlockFont() {
  OutlineFontSpec font;
  font.name = "Block";
  font.ascent = 640;
  font.fourth = 123;
  font.lineHeight = 1000;
  font.bumpers = 2;
  font.first = 32;
  font.last = 126;
  font.glyphs = {
      Glyph(' ', {}, {0, 0}, {25, 25}),
      Glyph('H', {Rectangle(-100, 0, 100, 700)}, {10, 10}, {10, 10}),
      Glyph('I', {Rectangle(-50, 0, 50, 600)}, {5, 5}, {5, 5}),
      Glyph('T', {Rectangle(-20, 0, 20, 500), Rectangle(-200, 500, 200, 600)}, {2, 20}, {2, 20}),
      Glyph('`', {Rectangle(-30, 650, 30, 700)}, {3, 3}, {3, 3}, 0),
      Glyph('o', {Rectangle(-150, 0, 150, 300)}, {15, 0}, {15, 0}),
      Glyph('p', {Rectangle(-150, -200, 150, 300)}, {15, 0}, {15, 0}),
      Glyph('x', {}, {4, 4}, {4, 4}),
  };
  return font;
}

inline std::vector<uint8_t> Encode(const OutlineFontSpec &font) { return tools::EncodeOutlineFont(font); }

// Writes the bytes into the test's font folder under the name; the name.
inline std::string WriteBytes(const std::string &name, const std::vector<uint8_t> &bytes) {
  const std::string path = Fonts().Path() + "/" + name;
  FILE *file = std::fopen(path.c_str(), "wb");
  EXPECT_TRUE(file) << path;
  if (file) {
    EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    std::fclose(file);
  }
  return name;
}

inline std::string WriteFont(const std::string &name, const OutlineFontSpec &font) {
  return WriteBytes(name, Encode(font));
}

inline void Put16(std::vector<uint8_t> &bytes, size_t at, int32_t value) {
  bytes[at] = static_cast<uint8_t>(value);
  bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

// A canvas painting every pixel it is given.
struct OutlineCanvas : Canvas {
  OutlineCanvas(int32_t w = 400, int32_t h = 250) : Canvas(w, h) {
    io.getPixel = GetPixel;
    io.putPixel = PutPixel;
  }
  // The runs "from-to" of the columns of device row y (upward) painted in the colour.
  std::vector<std::string> Runs(int32_t y, const Eevg_Color &colour) {
    std::vector<std::string> runs;
    auto painted = [&](int32_t x) {
      const Eevg_Color &p = Device(x, y);
      return p.opacity != 0 && p.red == colour.red && p.green == colour.green && p.blue == colour.blue;
    };
    for (int32_t x = 0; x < width; ++x) {
      if (!painted(x)) continue;
      int32_t end = x;
      while (end + 1 < width && painted(end + 1)) ++end;
      runs.push_back(std::to_string(x) + "-" + std::to_string(end));
      x = end;
    }
    return runs;
  }
  int32_t Count(const Eevg_Color &colour) const {
    int32_t n = 0;
    for (const Eevg_Color &p : pixels)
      n += p.red == colour.red && p.green == colour.green && p.blue == colour.blue && p.opacity != 0;
    return n;
  }
};

// A drawing of the canvas with line widths in pixels.
class OutlineDrawing : public RasterDrawing {
 public:
  explicit OutlineDrawing(OutlineCanvas &canvas, int32_t antiAlias = 0) : RasterDrawing(canvas, antiAlias) {
    get()->lineWidthUnit = 1;
  }
};


inline constexpr Eevg_Color kBlack{0, 0, 0, 0, 255};
inline constexpr Eevg_Color kGrey{0, 128, 128, 128, 255};



} // namespace taviron::graphics::testing

#endif

// The glyph cache: text drawn from it gives the pixels of text drawn the plain way at the origins
// the cache rounds to, and differs from text drawn at the glyphs' own origins only at edges, by
// at most one sample; a device taking blocks gets the same pixels; the cache keeps to its size,
// forgets a freed font, and serves drawings in several threads at once.
#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "eevg.h"
#include "eevg_text_internal.h"
#include "text_testing.h"

namespace {

using namespace taviron::graphics::testing;
namespace text = taviron::graphics::text;

// A text scene: a style made ready, then drawn on a drawing.
struct Scene {
  const char *name;
  int32_t antiAlias;
  std::function<void(Style &)> style;
  std::function<int32_t(Eevg_Drawing *, Eevg_TextStyle *, Eerr_ErrorReport **)> draw;
};

int32_t PointText(Eevg_Drawing *d, Eevg_TextStyle *s, Eerr_ErrorReport **err) {
  const Eevg_Coord at{12.3, 230.7};
  return eevg_DrawText(d, s, &at, "Hamburgefonstiv 0123\nQuick & lazy; @%$!", err);
}

void DejaVu(Style &style, double height) {
  style->textHeight = height;
  style->charFillStyle->pattern->color->red = 255; // red: the red component is the coverage
}

const std::vector<Scene> &Scenes() {
  static const std::vector<Scene> scenes = {
      {"anti-aliased", 1, [](Style &s) { DejaVu(s, 24); }, PointText},
      {"plain pixels", 0, [](Style &s) { DejaVu(s, 24); }, PointText},
      {"small", 1, [](Style &s) { DejaVu(s, 9); }, PointText},
      {"turned", 1,
       [](Style &s) {
         DejaVu(s, 20);
         s->textAngle = std::numbers::pi / 7;
       },
       [](Eevg_Drawing *d, Eevg_TextStyle *s, Eerr_ErrorReport **err) {
         const Eevg_Coord at{40.2, 60.9};
         return eevg_DrawText(d, s, &at, "Turned text, twice\nTurned text, twice", err);
       }},
      {"slanted and stretched", 1,
       [](Style &s) {
         DejaVu(s, 22);
         s->textSlant = 0.3;
         s->textChExt = 1.4;
       },
       PointText},
      {"outlined, fill last", 1,
       [](Style &s) {
         DejaVu(s, 30);
         s.Outline(1.5, NewColour(0, 0, 200));
       },
       PointText},
      {"shadow and underline", 1,
       [](Style &s) {
         DejaVu(s, 26);
         s->shadow = 1;
         s->shadowPattern = eevg_FillPatternCreate(nullptr);
         s->shadowPattern->color = NewColour(0, 120, 0);
         s->dropShadowX = 2.5;
         s->dropShadowY = -1.5;
         s->underline = 1;
         s->underlineStyle = NewLine(2, nullptr);
         s->underlineDist = 4;
       },
       PointText},
      {"along a curve", 1, [](Style &s) { DejaVu(s, 18); },
       [](Eevg_Drawing *d, Eevg_TextStyle *s, Eerr_ErrorReport **err) {
         std::vector<double> xy;
         for (int32_t k = 0; k <= 40; ++k) xy.insert(xy.end(), {10.0 + 9.5 * k, 120 + 60 * std::sin(k / 7.0)});
         Polyline line(xy);
         return eevg_DrawTextOnPolyLine(d, s, line.get(), "Text along a winding river, letter by letter", err);
       }},
      {"box font", 0, [](Style &s) { s->textHeight = kUnitHeight / 3; },
       [](Eevg_Drawing *d, Eevg_TextStyle *s, Eerr_ErrorReport **err) {
         const Eevg_Coord at{3.3, 240.6};
         return eevg_DrawText(d, s, &at, "abAV\nVAba", err);
       }},
  };
  return scenes;
}

// A text canvas that also offers its pixels as blocks of three planes.
struct BlockCanvas : TextCanvas {
  int32_t blocks = 0;
  BlockCanvas() {
    io.getBlock = [](void *user, Eevg_RGBPixelRect *rect, const double *ul, const double *lr,
                     Eerr_ErrorReport **err) -> Eevg_RGBPixelRect * {
      auto &c = static_cast<BlockCanvas &>(Of(user));
      const int32_t x0 = static_cast<int32_t>(ul[0]), y0 = static_cast<int32_t>(ul[1]);
      const int32_t w = static_cast<int32_t>(lr[0]) - x0 + 1, h = static_cast<int32_t>(lr[1]) - y0 + 1;
      rect = eevg_RGBPixelRectCreateWithData(rect, w, h, EEVG_TRUECOLOR, err);
      for (int32_t r = 0; rect && r < h; ++r)
        for (int32_t k = 0; k < w; ++k) {
          const Eevg_Color &p = c.At(x0 + k, y0 + r);
          rect->red->origin[r * rect->red->pitch + k] = static_cast<uint8_t>(p.red);
          rect->green->origin[r * rect->green->pitch + k] = static_cast<uint8_t>(p.green);
          rect->blue->origin[r * rect->blue->pitch + k] = static_cast<uint8_t>(p.blue);
        }
      ++c.blocks;
      return rect;
    };
    io.putBlock = [](void *user, Eevg_RGBPixelRect *rect, const double *ul, const double *lr,
                     Eerr_ErrorReport **) -> int32_t {
      auto &c = static_cast<BlockCanvas &>(Of(user));
      const int32_t x0 = static_cast<int32_t>(ul[0]), y0 = static_cast<int32_t>(ul[1]);
      const int32_t w = static_cast<int32_t>(lr[0]) - x0 + 1, h = static_cast<int32_t>(lr[1]) - y0 + 1;
      for (int32_t r = 0; r < h; ++r)
        for (int32_t k = 0; k < w; ++k) {
          Eevg_Color &p = c.At(x0 + k, y0 + r);
          const Eevg_Color now{p.index, rect->red->origin[r * rect->red->pitch + k],
                               rect->green->origin[r * rect->green->pitch + k],
                               rect->blue->origin[r * rect->blue->pitch + k], 255};
          // A pixel the block leaves as it was stays unwritten.
          if (now.red != p.red || now.green != p.green || now.blue != p.blue) p = now;
        }
      return 0;
    };
  }
};

// The scene drawn on a fresh canvas with glyphs drawn as asked, on a device taking blocks or not.
TextCanvas Draw(const Scene &scene, text::GlyphDrawing mode, bool blocks = false) {
  BlockCanvas canvas;
  if (!blocks) canvas.io.getBlock = nullptr, canvas.io.putBlock = nullptr;
  TextDrawing drawing(canvas, scene.antiAlias);
  drawing->text.glyphDrawing = mode;
  drawing->textFillOrder = std::string(scene.name).find("fill last") != std::string::npos;
  Style style("DejaVuSans");
  scene.style(style);
  ErrorSlot err;
  EXPECT_EQ(scene.draw(drawing.get(), style.get(), &err), 0) << scene.name << Chain(err.get());
  if (blocks && scene.antiAlias) {
    EXPECT_GT(canvas.blocks, 0) << scene.name;
  }
  return canvas;
}

// The pixels that differ between two pictures, "x,y" each.
std::vector<std::string> Differences(TextCanvas &a, TextCanvas &b) {
  std::vector<std::string> out;
  for (int32_t y = 0; y < a.height; ++y)
    for (int32_t x = 0; x < a.width; ++x) {
      const Eevg_Color &p = a.Device(x, y), &q = b.Device(x, y);
      if (p.red != q.red || p.green != q.green || p.blue != q.blue || p.opacity != q.opacity)
        out.push_back(std::to_string(x) + "," + std::to_string(y));
    }
  return out;
}

TEST(GlyphCache, TextFromTheCacheIsTextDrawnAtTheRoundedOrigins) {
  for (const Scene &scene : Scenes()) {
    Draw(scene, text::kCachedGlyphs); // every glyph in the cache
    TextCanvas cached = Draw(scene, text::kCachedGlyphs);
    TextCanvas plain = Draw(scene, text::kPlainSnappedGlyphs);
    EXPECT_NE(Picture(plain).find('#'), std::string::npos) << scene.name;
    EXPECT_EQ(Differences(cached, plain), std::vector<std::string>{}) << scene.name;
    // A device that takes blocks gets the same pixels.
    TextCanvas blocks = Draw(scene, text::kCachedGlyphs, true);
    EXPECT_EQ(Differences(blocks, plain), std::vector<std::string>{}) << scene.name;
  }
}

TEST(GlyphCache, RoundingMovesEdgesByAtMostOneSample) {
  // Against the glyphs drawn at their own origins (moved by at most one sub-pixel, half a step
  // of the filler's grid, on each axis), only edge pixels change: each by at most what one step
  // of every edge across it changes, a sample on each of the pixel's four lines for the step
  // along x and one line of four samples for the step along y. The counts of changed pixels and
  // the largest change are printed.
  for (const Scene &scene : Scenes()) {
    if (!scene.antiAlias || std::string(scene.name).find("outlined") != std::string::npos ||
        std::string(scene.name).find("shadow") != std::string::npos)
      continue; // one colour only: the red component is the coverage
    TextCanvas cached = Draw(scene, text::kCachedGlyphs);
    TextCanvas plain = Draw(scene, text::kPlainGlyphs);
    int32_t changed = 0, largest = 0, covered = 0;
    for (int32_t y = 0; y < plain.height; ++y)
      for (int32_t x = 0; x < plain.width; ++x) {
        const int32_t a = cached.Device(x, y).red, b = plain.Device(x, y).red;
        covered += b > 0;
        if (a == b) continue;
        ++changed;
        largest = std::max(largest, std::abs(a - b));
        // An edge: a partly covered pixel in one of the pictures, or beside one.
        bool edge = false;
        for (int32_t dy = -1; dy <= 1; ++dy)
          for (int32_t dx = -1; dx <= 1; ++dx) {
            const int32_t u = std::clamp(x + dx, 0, plain.width - 1), v = std::clamp(y + dy, 0, plain.height - 1);
            for (TextCanvas *c : {&cached, &plain})
              edge = edge || (c->Device(u, v).red > 0 && c->Device(u, v).red < 255);
          }
        EXPECT_TRUE(edge) << scene.name << " at " << x << "," << y;
      }
    EXPECT_LE(largest, 16 * (4 + 4)) << scene.name;
    std::printf("%s: %d of %d covered pixels changed, by at most %d/255\n", scene.name, changed, covered, largest);
  }
}

TEST(GlyphCache, KeepsToItsSizeLeastRecentlyUsedFirst) {
  auto key = [](uint32_t character) { return text::GlyphKey{{1, 1, character, 2, 0, 0, {1, 2, 3, 4, 5, 6}}, 0, 2}; };
  auto mask = [](int32_t bytes) {
    auto m = std::make_shared<text::GlyphMask>();
    m->width = m->stride = bytes;
    m->height = 1;
    m->cover.reset(new uint8_t[static_cast<std::size_t>(bytes)]());
    return m;
  };
  const std::size_t each = mask(1000)->Bytes();
  text::GlyphCache cache(3 * each);
  for (uint32_t c : {'a', 'b', 'c'}) cache.Keep(key(c), mask(1000));
  EXPECT_EQ(cache.Count(), 3u);
  EXPECT_NE(cache.Find(key('a')), nullptr); // 'b' is now the least recently used
  cache.Keep(key('d'), mask(1000));
  EXPECT_EQ(cache.Count(), 3u);
  EXPECT_LE(cache.Bytes(), 3 * each);
  EXPECT_EQ(cache.Find(key('b')), nullptr);
  for (uint32_t c : {'a', 'c', 'd'}) EXPECT_NE(cache.Find(key(c)), nullptr) << c;
  // A glyph held by a drawer stays valid after it leaves.
  std::shared_ptr<const text::GlyphMask> held = cache.Find(key('a'));
  cache.Keep(key('e'), mask(2000));
  EXPECT_LE(cache.Bytes(), 3 * each);
  EXPECT_EQ(held->width, 1000);
  // One larger than the whole cache is not kept; the same key replaces its glyph.
  cache.Keep(key('f'), mask(4000));
  EXPECT_EQ(cache.Find(key('f')), nullptr);
  cache.Keep(key('e'), mask(10));
  EXPECT_EQ(cache.Find(key('e'))->width, 10);
  // Another phase or mapping is another glyph.
  text::GlyphKey other = key('e');
  other.phaseY = 4;
  EXPECT_EQ(cache.Find(other), nullptr);
  other = key('e');
  other.shape.matrix[3] = -4;
  EXPECT_EQ(cache.Find(other), nullptr);
  // A font's glyphs go with it.
  text::GlyphKey otherFont = key('z');
  otherFont.shape.handle = 2;
  cache.Keep(otherFont, mask(10));
  cache.Forget(1, 1);
  EXPECT_EQ(cache.Count(), 1u);
  EXPECT_NE(cache.Find(otherFont), nullptr);
}

TEST(GlyphCache, FreedFontLeavesTheCache) {
  // The box font's server draws by the font's handle whatever becomes of it: freed, the font's
  // glyphs leave the cache, and drawn again they come back.
  TextCanvas canvas;
  TextDrawing drawing(canvas, 1);
  Style style;
  style->textHeight = kUnitHeight / 5;
  ErrorSlot err;
  const Eevg_Coord at{10, 200};
  ASSERT_EQ(eevg_DrawText(drawing.get(), style.get(), &at, "ab", &err), 0) << Chain(err.get());
  const std::size_t kept = text::Glyphs().Count();
  ASSERT_GE(kept, 2u);
  eevg_TextFontFree(drawing->text.font);
  const std::size_t left = text::Glyphs().Count();
  EXPECT_LE(left, kept - 2);
  ASSERT_EQ(eevg_DrawText(drawing.get(), style.get(), &at, "ab", &err), 0) << Chain(err.get());
  EXPECT_EQ(text::Glyphs().Count(), left + 2);
}

TEST(RendererThreads, TextFromTheSharedGlyphCacheInSeveralThreads) {
  // Drawings of their own in eight threads draw the same text from the one cache (the font
  // loaded first): every picture is the picture of one thread alone.
  const Scene &scene = Scenes()[0];
  TextCanvas alone = Draw(scene, text::kPlainSnappedGlyphs);
  constexpr int kThreads = 8;
  std::vector<TextCanvas> canvases(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int round = 0; round < 3; ++round) canvases[t] = Draw(scene, text::kCachedGlyphs);
    });
  for (std::thread &thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(Differences(canvases[t], alone), std::vector<std::string>{}) << t;
}

} // namespace

// A fixed scene drawn through the public shape calls: fills, wide lines with every cap and join,
// dashes, ellipses, pies and chords, each with and without anti-aliasing, on a device with a
// vector writer and on one with pixel writers only. The image of each is compared by its hash
// with the image the rasteriser drew when the hashes were recorded, so that a faster rasteriser
// is held to the very same pixels.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../../graphics/eevg_internal.h"
#include "efga.h"
#include "egda.h"
#include "raster_testing.h"

namespace {

using namespace taviron::graphics;
using taviron::graphics::testing::Canvas;
using taviron::graphics::testing::Chain;
using taviron::graphics::testing::RasterDrawing;
using taviron::graphics::testing::ErrorSlot;

constexpr int32_t kSize = 256;

// A coordinate block of parts given as x0, y0, x1, y1, ... (world units are pixels).
struct Block {
  Efga_CoordinateBlock *block = nullptr;
  explicit Block(const std::vector<std::vector<double>> &parts) {
    block = efga_CoordBlockPtrCreate(static_cast<int32_t>(parts.size()), nullptr);
    for (size_t p = 0; p < parts.size(); ++p) {
      const int32_t n = static_cast<int32_t>(parts[p].size() / 2);
      Egda_BaseData *m = egda_BaseDataCreate(2, n, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
      auto *values = reinterpret_cast<double *>(m->origin);
      for (int32_t j = 0; j < 2 * n; ++j) values[j] = parts[p][j];
      block->parts[p] = m;
    }
  }
  ~Block() { efga_CoordBlockDelete(block, nullptr); }
  operator Efga_CoordinateBlock *() const { return block; }
};

Eevg_Color *NewColour(int32_t red, int32_t green, int32_t blue, int32_t opacity = 255) {
  Eevg_Color *c = eevg_ColorCreate(nullptr);
  *c = {3, red, green, blue, opacity};
  return c;
}

struct LineStyle {
  Eevg_LineStyle *style = eevg_LineStyleCreate(nullptr);
  LineStyle(std::vector<double> widths, int32_t end, int32_t join) {
    eevg_LineCompositionCreate(static_cast<int32_t>(widths.size()), &style->composition, nullptr);
    for (size_t i = 0; i < widths.size(); ++i) {
      style->composition.data[i].width = widths[i];
      style->composition.data[i].color =
          NewColour(40 + 60 * static_cast<int32_t>(i), 90, 200 - 50 * static_cast<int32_t>(i));
    }
    style->startLineEnd = style->endLineEnd = style->markEnd = end;
    style->lineJoin = join;
    if (end == EEVG_ARROW_END) {
      style->arrowEnd = eevg_ArrowEndCreate(nullptr);
      eevg_ArrowEndSetValues(style->arrowEnd, 0.8, 0.4, 9, 1, 0, nullptr);
    }
  }
  ~LineStyle() { eevg_LineStyleFree(&style); }
  operator Eevg_LineStyle *() const { return style; }
};

struct FillStyle {
  Eevg_FillStyle *style = eevg_FillStyleCreate(nullptr);
  FillStyle(int32_t red, int32_t green, int32_t blue, int32_t opacity = 255) {
    style->fill = 1;
    style->pattern = eevg_FillPatternCreate(nullptr);
    style->pattern->color = NewColour(red, green, blue, opacity);
  }
  ~FillStyle() { eevg_FillStyleFree(&style); }
  operator Eevg_FillStyle *() const { return style; }
};

// Random walks of n points inside the box (x0, y0)-(x1, y1).
std::vector<double> Walk(std::mt19937 &random, int n, double x0, double y0, double x1, double y1,
                         double step) {
  std::uniform_real_distribution<double> startX(x0, x1), startY(y0, y1), move(-step, step);
  std::vector<double> xy;
  double x = startX(random), y = startY(random);
  for (int k = 0; k < n; ++k) {
    xy.push_back(x);
    xy.push_back(y);
    x = std::clamp(x + move(random), x0, x1);
    y = std::clamp(y + move(random), y0, y1);
  }
  return xy;
}

using Scene = std::function<void(Eevg_Drawing *)>;

void Fills(Eevg_Drawing *drawing) {
  ErrorSlot err;
  std::mt19937 random(11);
  // A square with a hole, a star (concave, self-crossing), and random polygons, one of them
  // translucent.
  FillStyle red(220, 30, 20), green(20, 180, 60), half(30, 40, 230, 128);
  ASSERT_EQ(eevg_DrawPolygon(drawing, red,
                             Block({{10, 10, 90, 10, 90, 90, 10, 90},
                                    {30.5, 30.25, 60.75, 33, 70, 70.5, 35, 60}}),
                             &err),
            0)
      << Chain(err.get());
  std::vector<double> star;
  for (int k = 0; k < 5; ++k) {
    const double a = M_PI / 2 + k * 4 * M_PI / 5;
    star.push_back(170 + 60 * std::cos(a));
    star.push_back(60 + 50 * std::sin(a));
  }
  ASSERT_EQ(eevg_DrawPolygon(drawing, green, Block({star}), &err), 0) << Chain(err.get());
  std::uniform_real_distribution<double> where(20, 236), size(-18, 18);
  for (int p = 0; p < 40; ++p) {
    const double cx = where(random), cy = where(random);
    std::vector<double> xy;
    for (int k = 0; k < 7; ++k) {
      xy.push_back(cx + size(random));
      xy.push_back(cy + size(random));
    }
    ASSERT_EQ(eevg_DrawPolygon(drawing, p % 5 == 4 ? half : green, Block({xy}), &err), 0)
        << Chain(err.get());
  }
}

void Lines(Eevg_Drawing *drawing) {
  ErrorSlot err;
  std::mt19937 random(12);
  const int32_t ends[] = {EEVG_ROUND_END, EEVG_BUTT_END, EEVG_SQUARE_END, EEVG_ARROW_END};
  const int32_t joins[] = {EEVG_ROUND_JOIN, EEVG_BUTT_JOIN, EEVG_BEVEL_JOIN, EEVG_MITRE_JOIN};
  const std::vector<double> widths[] = {{1}, {3}, {6.5}, {9, 3}};
  int cell = 0;
  for (int32_t end : ends) {
    for (int32_t join : joins) {
      const double x0 = 8 + 62 * (cell % 4), y0 = 8 + 62 * (cell / 4);
      LineStyle line(widths[cell % 4], end, join);
      // A zigzag with sharp and gentle turns, and a random walk.
      const std::vector<double> zigzag = {x0 + 4,  y0 + 6,  x0 + 20, y0 + 40, x0 + 28, y0 + 10,
                                          x0 + 44, y0 + 44, x0 + 50, y0 + 20, x0 + 40, y0 + 18};
      ASSERT_EQ(eevg_DrawPolyLine(drawing, line, 0, Block({zigzag}), &err), 0)
          << Chain(err.get());
      ASSERT_EQ(eevg_DrawPolyLine(drawing, line, cell % 3 == 0,
                                  Block({Walk(random, 8, x0, y0, x0 + 50, y0 + 50, 14)}), &err),
                0)
          << Chain(err.get());
      ++cell;
    }
  }
}

void Dashes(Eevg_Drawing *drawing) {
  ErrorSlot err;
  std::mt19937 random(13);
  const int32_t ends[] = {EEVG_ROUND_END, EEVG_BUTT_END, EEVG_SQUARE_END};
  for (int k = 0; k < 6; ++k) {
    LineStyle line({k % 2 ? 1.0 : 5.0}, ends[k % 3], k % 4);
    eevg_LinePatternSetValues(&line.style->pattern, 0, 9, 4, nullptr);
    eevg_LinePatternSetValues(&line.style->pattern, 1, 3, 4, nullptr);
    const double y = 20 + 36 * k;
    ASSERT_EQ(eevg_DrawPolyLine(drawing, line, 0,
                                Block({{12, y, 120, y + 10, 150, y - 6, 240, y + 20}}), &err),
              0)
        << Chain(err.get());
    ASSERT_EQ(eevg_DrawPolyLine(drawing, line, 0, Block({Walk(random, 6, 20, 20, 236, 236, 40)}),
                                &err),
              0)
        << Chain(err.get());
  }
}

void Ovals(Eevg_Drawing *drawing) {
  ErrorSlot err;
  std::mt19937 random(14);
  std::uniform_real_distribution<double> where(30, 226), radius(2, 28), angle(0, 2 * M_PI);
  FillStyle red(230, 60, 10), blue(10, 60, 230), half(200, 200, 0, 100);
  for (int k = 0; k < 60; ++k) {
    const Eevg_Coord centre{where(random), where(random)};
    const double rx = radius(random), ry = radius(random), rotation = angle(random);
    const double start = angle(random), end = angle(random);
    Eevg_FillStyle *style = k % 7 == 6 ? half : (k % 2 ? red : blue);
    const int32_t status =
        k % 3 == 0 ? eevg_DrawEllipse(drawing, style, &centre, rx, ry, rotation, &err)
                   : eevg_DrawEllipticalArc(drawing, style, &centre, rx, ry, rotation, start, end,
                                            k % 3 == 1 ? EEVG_ARC_PIE : EEVG_ARC_CHORD, &err);
    ASSERT_EQ(status, 0) << Chain(err.get());
  }
}

// Shapes across the edges of the canvas: wide lines with round caps and joins (their caps beyond
// the edges partly or wholly), dashed lines running far outside and back, and fills and ellipses
// cut by the edges.
void Edges(Eevg_Drawing *drawing) {
  ErrorSlot err;
  std::mt19937 random(15);
  std::uniform_real_distribution<double> outside(-120, kSize + 120), width(2, 24);
  for (int k = 0; k < 24; ++k) {
    LineStyle line({width(random)}, k % 3 ? EEVG_ROUND_END : EEVG_SQUARE_END,
                   k % 2 ? EEVG_ROUND_JOIN : EEVG_MITRE_JOIN);
    if (k % 4 == 1) {
      eevg_LinePatternSetValues(&line.style->pattern, 0, 11, 5, nullptr);
      eevg_LinePatternSetValues(&line.style->pattern, 1, 2, 6, nullptr);
    }
    std::vector<double> xy;
    for (int p = 0; p < 5; ++p) {
      xy.push_back(outside(random));
      xy.push_back(outside(random));
    }
    ASSERT_EQ(eevg_DrawPolyLine(drawing, line, 0, Block({xy}), &err), 0) << Chain(err.get());
  }
  FillStyle red(230, 60, 10), half(10, 60, 230, 120);
  ASSERT_EQ(eevg_DrawPolygon(drawing, half,
                             Block({{-50, 100, 140, -30, kSize + 40, 120, 130, kSize + 60}}), &err),
            0)
      << Chain(err.get());
  const Eevg_Coord corner{kSize - 10, 5}, side{-20, 140};
  ASSERT_EQ(eevg_DrawEllipse(drawing, red, &corner, 60, 35, 0.4, &err), 0) << Chain(err.get());
  ASSERT_EQ(eevg_DrawEllipticalArc(drawing, half, &side, 90, 50, 1.1, 0.3, 4.4, EEVG_ARC_PIE,
                                   &err),
            0)
      << Chain(err.get());
}

// A memory device: pixels (and, with vectors, every vector, rows or not) paint the canvas.
Canvas Device(bool vectors) {
  Canvas canvas(kSize, kSize);
  canvas.io.getPixel = Canvas::GetPixel;
  canvas.io.putPixel = [](void *user, const Eevg_Color *colour, const double *p,
                          Eerr_ErrorReport **) {
    Canvas::Of(user).At(static_cast<int32_t>(p[0]), static_cast<int32_t>(p[1])) = *colour;
  };
  if (vectors) {
    canvas.io.putVector = [](void *user, const Eevg_Color *colour, const double *a,
                             const double *b, Eerr_ErrorReport **) {
      struct Paint {
        Canvas *canvas;
        Eevg_Color colour;
      } paint{&Canvas::Of(user), *colour};
      WalkVector(static_cast<int32_t>(a[0]), static_cast<int32_t>(a[1]),
                 static_cast<int32_t>(b[0]), static_cast<int32_t>(b[1]),
                 [](void *context, int32_t x, int32_t y) {
                   auto *p = static_cast<Paint *>(context);
                   p->canvas->At(x, y) = p->colour;
                   return true;
                 },
                 &paint);
    };
  }
  return canvas;
}

// FNV-1a over every pixel's five words.
uint64_t Hash(const Canvas &canvas) {
  uint64_t h = 14695981039346656037ull;
  for (const Eevg_Color &c : canvas.pixels) {
    for (int32_t v : {c.index, c.red, c.green, c.blue, c.opacity}) {
      for (int byte = 0; byte < 4; ++byte) {
        h ^= static_cast<uint32_t>(v) >> (8 * byte) & 0xFF;
        h *= 1099511628211ull;
      }
    }
  }
  return h;
}

struct Case {
  const char *name;
  Scene scene;
  bool antiAlias, vectors;
  uint64_t hash;
};

TEST(EevgScene, ImagesKeepTheirHashes) {
  // The hashes of the images drawn before the rasteriser was made faster.
  const Case cases[] = {
      {"fills", Fills, false, true, 0x4ea9a8de6980625cull},
      {"fills", Fills, false, false, 0x4ea9a8de6980625cull},
      {"fills", Fills, true, true, 0x3d8b2f55cf4b2728ull},
      {"fills", Fills, true, false, 0x3d8b2f55cf4b2728ull},
      {"lines", Lines, false, true, 0x70447446e0a30a03ull},
      {"lines", Lines, false, false, 0xb5254c7513e1c183ull},
      {"lines", Lines, true, true, 0xbbf65647c288af3full},
      {"lines", Lines, true, false, 0xbbf65647c288af3full},
      {"dashes", Dashes, false, true, 0x05251898fdbd1fe5ull},
      {"dashes", Dashes, false, false, 0x798a42d391506405ull},
      {"dashes", Dashes, true, true, 0x9b201fd35df5ca18ull},
      {"dashes", Dashes, true, false, 0x9b201fd35df5ca18ull},
      {"ovals", Ovals, false, true, 0x1f5ac124162667a2ull},
      {"ovals", Ovals, false, false, 0x1f5ac124162667a2ull},
      {"ovals", Ovals, true, true, 0xe9d28e0bb56dc3eaull},
      {"ovals", Ovals, true, false, 0xe9d28e0bb56dc3eaull},
      {"edges", Edges, false, true, 0x69f8238d5fd06882ull},
      {"edges", Edges, false, false, 0x69f8238d5fd06882ull},
      {"edges", Edges, true, true, 0xa9a8bb0a488c5c3dull},
      {"edges", Edges, true, false, 0xa9a8bb0a488c5c3dull},
  };
  for (const Case &c : cases) {
    Canvas canvas = Device(c.vectors);
    canvas.io.userData = &canvas;
    RasterDrawing drawing(canvas, c.antiAlias);
    drawing->lineWidthUnit = 1;
    c.scene(drawing.get());
    const uint64_t hash = Hash(canvas);
    EXPECT_EQ(hash, c.hash) << std::hex << "0x" << hash << std::dec << " " << c.name
                            << (c.antiAlias ? " anti-aliased" : "")
                            << (c.vectors ? " with vectors" : " pixels only");
  }
}

} // namespace

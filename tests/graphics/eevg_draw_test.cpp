// Lines drawn through the public polyline call down to the pixels: the whole-pixel width rule of
// drawings without anti-aliasing, and dash patterns.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "raster_testing.h"

namespace taviron::graphics::testing {
namespace {

// A line style of one black line of the width (pixels: the drawing's unit is set to 1).
struct Line {
  Eevg_LineStyle *style = eevg_LineStyleCreate(nullptr);
  explicit Line(double width) {
    eevg_LineCompositionCreate(1, &style->composition, nullptr);
    style->composition.data[0].color = eevg_ColorCreate(nullptr);
    *style->composition.data[0].color = {0, 0, 0, 0, 255};
    style->composition.data[0].width = width;
    style->startLineEnd = style->endLineEnd = style->markEnd = EEVG_BUTT_END;
    style->lineJoin = EEVG_BUTT_JOIN;
  }
  ~Line() { eevg_LineStyleFree(&style); }
};

// One part of world points.
struct Points {
  Efga_CoordinateBlock *block;
  explicit Points(const std::vector<double> &xy)
      : block(efga_BaseCoordBlockCreate(2, static_cast<int32_t>(xy.size() / 2), 1, 10, nullptr)) {
    auto *values = reinterpret_cast<double *>(block->parts[0]->origin);
    for (std::size_t i = 0; i < xy.size(); ++i) values[i] = xy[i];
  }
  ~Points() { efga_CoordBlockDelete(block, nullptr); }
};

int32_t SetInColumn(Canvas &canvas, int32_t column) {
  int32_t count = 0;
  for (int32_t y = 0; y < canvas.height; ++y) count += canvas.Set(column, y) ? 1 : 0;
  return count;
}

TEST(EevgDraw, LineWidthsBecomeOddWholePixelsWithoutAntiAliasing) {
  struct Case {
    double width;
    int32_t rows;
  };
  const Case cases[] = {{0, 1},   {0.5, 1}, {1, 1}, {1.5, 1}, {1.99, 1},
                        {2, 3},   {2.5, 3}, {3, 3}, {4, 5},   {6, 7}};
  for (const Case &c : cases) {
    // On pixel centres: the outline of a wide line is half a pixel narrower than its width, so
    // off centre it may cover a row less.
    for (double y : {20.0, 13.0}) {
      Canvas canvas(64, 40);
      canvas.io.putPixel = Canvas::PutPixel;
      canvas.io.putVector = Canvas::PutVector;
      RasterDrawing drawing(canvas);
      drawing->lineWidthUnit = 1;
      Line line(c.width);
      Points points({5, y, 45, y});
      ErrorSlot err;
      ASSERT_EQ(eevg_DrawPolyLine(drawing.get(), line.style, 0, points.block, &err), 0)
          << Chain(err.get());
      EXPECT_EQ(SetInColumn(canvas, 25), c.rows) << "width " << c.width << " at y " << y;
    }
  }
}

TEST(EevgDraw, DashesLeaveTheirSpacesEmpty) {
  // Marks of 16 and spaces of 8 pixels along a run of 40 pixels, one pixel wide and five wide.
  for (double width : {1.0, 5.0}) {
    Canvas canvas(64, 20);
    canvas.io.putPixel = Canvas::PutPixel;
    canvas.io.putVector = Canvas::PutVector;
    RasterDrawing drawing(canvas);
    drawing->lineWidthUnit = 1;
    Line line(width);
    eevg_LinePatternSetValues(&line.style->pattern, 0, 16, 8, nullptr);
    Points points({10, 10, 50, 10});
    ErrorSlot err;
    ASSERT_EQ(eevg_DrawPolyLine(drawing.get(), line.style, 0, points.block, &err), 0)
        << Chain(err.get());
    std::string row;
    for (int32_t x = 0; x < 64; ++x) row += canvas.Set(x, 10) ? '#' : '.';
    // The marks cover 10..26 and 34..50; the space between them stays empty.
    for (int32_t x = 11; x <= 25; ++x) EXPECT_EQ(row[x], '#') << "width " << width << ": " << row;
    for (int32_t x = 28; x <= 32; ++x) EXPECT_EQ(row[x], '.') << "width " << width << ": " << row;
    for (int32_t x = 35; x <= 49; ++x) EXPECT_EQ(row[x], '#') << "width " << width << ": " << row;
    EXPECT_EQ(row.substr(0, 9), std::string(9, '.')) << row;
    EXPECT_EQ(row.substr(52), std::string(12, '.')) << row;
  }
}

} // namespace
} // namespace taviron::graphics::testing

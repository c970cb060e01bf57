// The line driver: caps chosen per piece, dashes, compositions, arrow heads, and random extreme
// lines that must never draw outside the clip window.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "emsc.h"
#include "raster_testing.h"

namespace {

using namespace taviron::graphics;
using taviron::graphics::testing::Canvas;
using taviron::graphics::testing::GuardedDevice;
using taviron::graphics::testing::PolygonDevice;
using taviron::testing::Chain;
using taviron::graphics::testing::kRed;
using taviron::graphics::testing::RasterDrawing;
using taviron::testing::Reported;
using taviron::testing::ErrorSlot;

using taviron::graphics::testing::Ring;
using Log = std::vector<std::string>;

constexpr Eevg_DeviceColor kBlue{0, 0, 255, 3, 255};


// Sets the drawing's line state: composition lines (width, colour), dash pairs, ends.
struct LineState {
  std::vector<int32_t> widths{16};
  std::vector<Eevg_DeviceColor> colours{kRed};
  std::vector<int32_t> dashes;
  int32_t startEnd = EEVG_BUTT_END, endEnd = EEVG_BUTT_END, markEnd = EEVG_BUTT_END;
  int32_t join = EEVG_BUTT_JOIN, applyLineEnds = 1;
  Eevg_ArrowEnd *arrow = nullptr;

  void Apply(Eevg_Drawing *d) const {
    const size_t n = widths.size();
    d->drawWidths = static_cast<int32_t *>(emsc_HeapRealloc(d->drawWidths, n * sizeof(int32_t)));
    d->widthCapacity = static_cast<int32_t>(n);
    d->lineColours = static_cast<Eevg_DeviceColor *>(
        emsc_HeapRealloc(d->lineColours, n * sizeof(Eevg_DeviceColor)));
    d->lineColourCapacity = d->lineColourCount = static_cast<int32_t>(n);
    for (size_t i = 0; i < n; ++i) d->drawWidths[i] = widths[i], d->lineColours[i] = colours[i];
    d->widthCount = static_cast<int32_t>(n);
    d->subDashes = static_cast<int32_t *>(
        emsc_HeapRealloc(d->subDashes, (dashes.size() + 2) * sizeof(int32_t)));
    d->dashCapacity = static_cast<int32_t>(dashes.size() / 2 + 1);
    for (size_t i = 0; i < dashes.size(); ++i) d->subDashes[i] = dashes[i];
    d->dashCount = static_cast<int32_t>(dashes.size() / 2);
    d->startLineEnd = startEnd;
    d->endLineEnd = endEnd;
    d->markEnd = markEnd;
    d->lineJoin = join;
    d->applyLineEnds = applyLineEnds;
    d->arrowEnd = arrow;
    d->lineWidthUnit = 1; // pixels
  }
};

int32_t Draw(Eevg_Drawing *d, std::vector<int32_t> points, Eerr_ErrorReport **err) {
  return eevg_WideLine(d, static_cast<int32_t>(points.size() / 2) - 1, points.data(), err);
}

TEST(EevgLine, CapsOfAPiece) {
  PolygonDevice device;
  RasterDrawing drawing(device.canvas);
  drawing->startLineEnd = 2;
  drawing->endLineEnd = 3;
  drawing->markEnd = 0;
  struct Case {
    int32_t lineJoin, closed, isFirst, isLast, from, to;
    int32_t startCap, joinKind, endCap;
  } cases[] = {
      {3, 0, 1, 1, 1, 1, 2, 1, 3}, // the only piece of an open line
      {3, 1, 1, 1, 1, 1, 0, 1, 0}, // of a closed line: mark ends
      {3, 0, 0, 0, 1, 1, 1, 3, 1}, // a middle piece: joins at both ends
      {0, 0, 0, 0, 1, 1, 0, 0, 0}, // round joins: round caps
      {2, 0, 0, 0, 0, 1, 0, 1, 1}, // a dash that starts fresh and runs on
      {2, 0, 0, 0, 0, 0, 0, 0, 0}, // a dash on its own
  };
  for (const Case &c : cases) {
    drawing->lineJoin = c.lineJoin;
    eevg_SetWidePolyCapStyles(drawing.get(), c.closed, c.isFirst, c.isLast, c.from, c.to);
    EXPECT_EQ(drawing->startCap, c.startCap);
    EXPECT_EQ(drawing->joinKind, c.joinKind);
    EXPECT_EQ(drawing->endCap, c.endCap);
  }
}

TEST(EevgLine, DashesAlongAStraightRun) {
  // Marks 16, spaces 8 along 40 sub-pixels: marks 0-16 and 24-40 (offset by 100).
  PolygonDevice device;
  RasterDrawing drawing(device.canvas);
  LineState state;
  state.dashes = {16, 8};
  state.Apply(drawing.get());
  ErrorSlot err;
  ASSERT_EQ(Draw(drawing.get(), {100, 100, 140, 100}, &err), 0) << Chain(err.get());
  EXPECT_EQ(device.Spans(), (std::vector<std::string>{"100-116", "124-140"}));

  // One pixel wide: thin vectors from pixel 12 to 14 and 15 to 17.
  device.rings.clear();
  state.widths = {8};
  state.Apply(drawing.get());
  ASSERT_EQ(Draw(drawing.get(), {100, 100, 140, 100}, &err), 0);
  EXPECT_EQ(device.canvas.log, (Log{"polygon", "polygon", "vector 12,87 14,87", "vector 15,87 17,87"}));
}

TEST(EevgLine, DashesAcrossVertices) {
  PolygonDevice device;
  RasterDrawing drawing(device.canvas);
  LineState state;
  state.dashes = {30, 10};
  state.join = EEVG_MITRE_JOIN;
  state.Apply(drawing.get());
  ErrorSlot err;
  // The first mark runs 20 along the first segment and 10 into the second, joined there.
  ASSERT_EQ(Draw(drawing.get(), {100, 100, 120, 100, 120, 200}, &err), 0) << Chain(err.get());
  ASSERT_EQ(device.rings.size(), 4u);
  EXPECT_EQ(device.Spans()[0], "100-120");
  // The second piece carries the mitre wedge back to the first piece's corner.
  bool wedge = false;
  for (size_t i = 0; i < device.rings[1].size(); i += 2)
    wedge = wedge || device.rings[1][i + 1] < 100;
  EXPECT_TRUE(wedge) << ::testing::PrintToString(device.rings[1]);
}

TEST(EevgLine, DashesFarOutsideKeepTheirPhase) {
  // A line across the whole 32-bit range with a period of 16 sub-pixels: only the pieces near
  // the window are made, in phase with the line's start (-2000000000 is a multiple of 16).
  PolygonDevice device;
  RasterDrawing drawing(device.canvas);
  LineState state;
  state.dashes = {8, 8};
  state.Apply(drawing.get());
  ErrorSlot err;
  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(Draw(drawing.get(), {-2000000000, 400, 2000000000, 400}, &err), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  ASSERT_GT(device.rings.size(), 40u);
  EXPECT_LT(device.rings.size(), 80u);
  int32_t whole = 0;
  for (const std::string &span : device.Spans()) {
    const int32_t lo = std::stoi(span), hi = std::stoi(span.substr(span.find('-', 1) + 1));
    if (lo < 0 || hi > 792) continue; // cut by the grown window: square ends
    // Positions are truncated fractions of a 4e9 long segment: within a sub-pixel.
    const int32_t phase = ((lo % 16) + 16) % 16;
    EXPECT_TRUE(phase == 0 || phase == 15) << span;
    EXPECT_NEAR(hi - lo, 8, 1) << span;
    ++whole;
  }
  EXPECT_GT(whole, 40);
}

TEST(EevgLine, DegenerateDashPairsAreDropped) {
  PolygonDevice device;
  RasterDrawing drawing(device.canvas);
  LineState state;
  state.dashes = {16, 0, -5, 8, 0, 0};
  state.Apply(drawing.get());
  ErrorSlot err;
  ASSERT_EQ(Draw(drawing.get(), {100, 100, 400, 100}, &err), 0);
  EXPECT_EQ(device.Spans(), (std::vector<std::string>{"100-400"}));
  // A valid pair among them is the pattern.
  device.rings.clear();
  state.dashes = {16, 0, 50, 50};
  state.Apply(drawing.get());
  ASSERT_EQ(Draw(drawing.get(), {100, 100, 400, 100}, &err), 0);
  EXPECT_EQ(device.Spans(), (std::vector<std::string>{"100-150", "200-250", "300-350"}));
}

TEST(EevgLine, Compositions) {
  struct Case {
    const char *name;
    std::vector<int32_t> widths;
    std::vector<Eevg_DeviceColor> colours;
    int32_t antiAlias;
    Log log;
  } cases[] = {
      {"same colour drawn once", {24, 8}, {kRed, kRed}, 0, {"polygon"}},
      {"inner line of its own", {24, 8}, {kRed, kBlue}, 0, {"polygon", "vector 12,87 50,87"}},
      {"one-pixel lines under another are skipped", {8, 8}, {kRed, kBlue}, 0,
       {"vector 12,87 50,87"}},
      {"anti-aliased lines are all wide", {24, 8}, {kRed, kBlue}, 1, {"polygon", "polygon"}},
  };
  for (const Case &c : cases) {
    PolygonDevice device;
    device.canvas.io.getPixel = Canvas::GetPixel;
    device.canvas.io.putPixel = Canvas::PutPixel;
    RasterDrawing drawing(device.canvas, c.antiAlias);
    LineState state;
    state.widths = c.widths;
    state.colours = c.colours;
    state.Apply(drawing.get());
    ErrorSlot err;
    ASSERT_EQ(Draw(drawing.get(), {100, 100, 400, 100}, &err), 0) << c.name;
    EXPECT_EQ(device.canvas.log, c.log) << c.name;
  }
}

TEST(EevgLine, RunsOrPieces) {
  // Three collinear points: one run of two points, or two pieces.
  for (int32_t apply : {0, 1}) {
    PolygonDevice device;
    RasterDrawing drawing(device.canvas);
    LineState state;
    state.applyLineEnds = apply;
    state.Apply(drawing.get());
    ErrorSlot err;
    ASSERT_EQ(Draw(drawing.get(), {100, 100, 200, 100, 300, 100}, &err), 0);
    EXPECT_EQ(device.rings.size(), apply ? 2u : 1u);
    EXPECT_EQ(device.Spans().back(), apply ? "200-300" : "100-300");
  }
}

TEST(EevgLine, ArrowHeads) {
  Eevg_ArrowEnd arrow{60 * M_PI / 180, 30 * M_PI / 180, 5, 1, 0};
  struct Case {
    const char *name;
    std::vector<int32_t> points;
    int32_t width;
    size_t rings;   // heads and pieces
    Log vectors;
  } cases[] = {
      // A head of 40 sub-pixels cut back to 24: the last segment of 10 is dropped.
      {"thin, end segment covered", {100, 100, 300, 100, 300, 110}, 8, 2,
       {"vector 15,87 37,87"}},
      {"thin, end segment kept", {100, 100, 300, 100, 300, 200}, 8, 2,
       {"vector 15,87 37,87", "vector 37,87 37,77"}},
      {"closed line: no heads", {100, 100, 300, 100, 300, 300, 100, 100}, 8, 0,
       {"vector 12,87 37,87", "vector 37,87 37,62", "vector 37,62 12,87"}},
      {"wide", {100, 100, 300, 100}, 24, 3, {}},
  };
  for (const Case &c : cases) {
    PolygonDevice device;
    RasterDrawing drawing(device.canvas);
    LineState state;
    state.widths = {c.width};
    state.startEnd = state.endEnd = EEVG_ARROW_END;
    state.arrow = &arrow;
    state.Apply(drawing.get());
    ErrorSlot err;
    std::vector<int32_t> points = c.points;
    ASSERT_EQ(eevg_WideLine(drawing.get(), static_cast<int32_t>(points.size() / 2) - 1,
                            points.data(), &err),
              0)
        << c.name << Chain(err.get());
    EXPECT_EQ(device.rings.size(), c.rings) << c.name;
    Log vectors;
    for (const std::string &line : device.canvas.log)
      if (line != "polygon") vectors.push_back(line);
    EXPECT_EQ(vectors, c.vectors) << c.name;
  }
}

TEST(EevgLine, ArrowShapes) {
  PolygonDevice device;
  RasterDrawing drawing(device.canvas);
  drawing->lineWidthUnit = 1;
  Eevg_ArrowEnd arrow{60 * M_PI / 180, 30 * M_PI / 180, 5, 1, 0};
  drawing->capArrowEnd = &arrow;
  ErrorSlot err;
  // One pixel, filled: tip, barbs at 30 degrees over 40 sub-pixels, back notch at 60 degrees.
  int32_t tip[2] = {100, 100}, toward[2] = {400, 100}, keep = 0;
  ASSERT_EQ(eevg_DrawArrow(drawing.get(), tip, toward, &keep, 0, 8, 8, kRed, &err), 0);
  ASSERT_EQ(device.rings.size(), 1u);
  EXPECT_EQ(device.rings[0], (Ring{100, 100, 134, 119, 124, 100, 134, 81, 100, 100}));
  EXPECT_EQ(keep, 1);
  EXPECT_EQ(tip[0], 124);
  // A stick head is two strokes and does not shorten the line.
  arrow.stick = 1;
  tip[0] = 100;
  device.canvas.log.clear();
  ASSERT_EQ(eevg_DrawArrow(drawing.get(), tip, toward, &keep, 0, 8, 8, kRed, &err), 0);
  EXPECT_EQ(device.canvas.log, (Log{"vector 16,89 12,87", "vector 12,87 16,85"}));
  EXPECT_EQ(tip[0], 100);
  // Without length nothing is drawn or cut.
  arrow.length = NAN;
  device.canvas.log.clear();
  ASSERT_EQ(eevg_DrawArrow(drawing.get(), tip, toward, &keep, 1, 40, 40, kRed, &err), 0);
  EXPECT_TRUE(device.canvas.log.empty());
  // A hollow wide head: two rings filled together.
  arrow = {60 * M_PI / 180, 30 * M_PI / 180, 20, 0, 0};
  device.rings.clear();
  ASSERT_EQ(eevg_DrawArrow(drawing.get(), tip, toward, &keep, 1, 16, 16, kRed, &err), 0);
  EXPECT_EQ(device.rings.size(), 2u);
}

TEST(EevgLine, FailuresStopTheLine) {
  Canvas canvas(100, 100); // no writer at all
  RasterDrawing drawing(canvas);
  LineState state;
  state.widths = {8};
  state.dashes = {16, 8};
  state.Apply(drawing.get());
  ErrorSlot err;
  ASSERT_EQ(Draw(drawing.get(), {100, 100, 400, 100}, &err), -1);
  EXPECT_TRUE(Reported(err.get(), "eevg_WideLine", 5, "Unable to continue wideline segment"))
      << Chain(err.get());
  state.widths = {40};
  state.Apply(drawing.get());
  ASSERT_EQ(Draw(drawing.get(), {100, 100, 400, 100}, &err), -1);
  EXPECT_TRUE(Reported(err.get(), "eevg_WideLine", 4, "Unable to draw wide polyline"))
      << Chain(err.get());
}


TEST(EevgLine, RandomExtremeLinesStayInTheClipWindow) {
  std::mt19937 random(20261210);
  auto pick = [&](int32_t lo, int32_t hi) {
    return std::uniform_int_distribution<int32_t>(lo, hi)(random);
  };
  const int32_t extremes[] = {INT32_MIN, INT32_MIN + 1, -2000000000, -100000, -1, 0, 1, 7, 8,
                              100,       383,           511,         100000, 2000000000,
                              INT32_MAX - 1, INT32_MAX};
  auto coordinate = [&]() {
    switch (pick(0, 3)) {
    case 0: return extremes[pick(0, 15)];
    case 1: return pick(-200, 700);
    default: return pick(-100000, 100000);
    }
  };
  const auto started = std::chrono::steady_clock::now();
  int32_t drawn = 0;
  for (int32_t antiAlias : {0, 1}) {
    // Clip window columns 10..50 and device rows 5..30 (image rows 17..42).
    GuardedDevice device(64, 48, 10, 50, 47 - 30, 47 - 5);
    RasterDrawing drawing(device.canvas, antiAlias);
    // Clip window columns 10..50 and device rows 5..30 (image rows 17..42).
    Eevg_Coord a{10, 5}, b{50, 30};
    ErrorSlot err;
    eevg_SetClipWindow(drawing.get(), &a, &b, &err);
    ASSERT_FALSE(err) << Chain(err.get());
    Eevg_ArrowEnd arrow{};
    for (int32_t round = 0; round < 2500; ++round) {
      LineState state;
      state.widths.clear();
      state.colours.clear();
      const int32_t lines = pick(1, 3);
      for (int32_t i = 0; i < lines; ++i) {
        state.widths.push_back(pick(0, 200));
        state.colours.push_back(Eevg_DeviceColor{pick(0, 255), 0, 0, 0, pick(0, 2) ? 255 : 128});
      }
      const int32_t pairs = pick(0, 3);
      const int32_t dashKinds[] = {0, -3, 1, 2, 16, 1000000, INT32_MAX, INT32_MIN};
      for (int32_t i = 0; i < 2 * pairs; ++i)
        state.dashes.push_back(pick(0, 2) ? pick(1, 40) : dashKinds[pick(0, 7)]);
      state.startEnd = pick(0, 3), state.endEnd = pick(0, 3), state.markEnd = pick(0, 3);
      state.join = pick(0, 3);
      state.applyLineEnds = pick(0, 1);
      const double angles[] = {0, 0.3, 1, 1.6, -1, NAN, 100};
      arrow = {angles[pick(0, 6)], angles[pick(0, 6)], pick(0, 3) ? pick(0, 30) * 1.0 : 1e12,
               pick(0, 1), pick(0, 1)};
      state.arrow = pick(0, 1) ? &arrow : nullptr;
      state.Apply(drawing.get());
      drawing->mitreLimit = pick(0, 1) ? 10 : 1e9;
      drawing->usingWorldTransform = pick(0, 4) == 0;
      drawing->pixelSizeX = pick(0, 1) ? 8 : pick(-3, 20);
      std::vector<int32_t> points;
      const int32_t count = pick(1, 12);
      for (int32_t i = 0; i < count; ++i) {
        if (i > 0 && pick(0, 5) == 0) {
          points.push_back(points[points.size() - 2]); // repeated point
          points.push_back(points[points.size() - 2]);
        } else {
          points.push_back(coordinate());
          points.push_back(coordinate());
        }
      }
      if (count > 2 && pick(0, 3) == 0) points.push_back(points[0]), points.push_back(points[1]);
      Eerr_ErrorReport *report = nullptr;
      eevg_WideLine(drawing.get(), static_cast<int32_t>(points.size() / 2) - 1, points.data(),
                    &report);
      EXPECT_EQ(report, nullptr) << Chain(report);
      eerr_DeleteErrorReportEx(&report);
      drawn += device.writes > 0;
    }
    EXPECT_EQ(device.outside, 0);
    EXPECT_GT(device.writes, 0);
  }
  EXPECT_GT(drawn, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}

} // namespace

namespace {

// The pixels of the canvas inside the clip window of the drawing.
std::vector<Eevg_Color> WindowPixels(Canvas &canvas, const Eevg_Drawing *d) {
  std::vector<Eevg_Color> pixels;
  for (int32_t y = d->clipYMin; y <= d->clipYMax; ++y)
    for (int32_t x = d->clipXMin; x <= d->clipXMax; ++x) pixels.push_back(canvas.Device(x, y));
  return pixels;
}

bool SamePixels(const std::vector<Eevg_Color> &a, const std::vector<Eevg_Color> &b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].red != b[i].red || a[i].green != b[i].green || a[i].blue != b[i].blue ||
        a[i].opacity != b[i].opacity)
      return false;
  return true;
}

} // namespace

TEST(EevgLine, PiecesLeftOutChangeNoPixel) {
  // Wide lines, solid and dashed, near and across a small window, drawn once with every piece
  // and once with the pieces that cannot show (or are painted over) left out: the window's
  // pixels agree.
  std::mt19937 random(getenv("SEED") ? atoi(getenv("SEED")) : 20270301);
  auto pick = [&](int32_t lo, int32_t hi) {
    return std::uniform_int_distribution<int32_t>(lo, hi)(random);
  };
  const auto started = std::chrono::steady_clock::now();
  int32_t differing = 0, drawn = 0;
  int64_t fills[2] = {0, 0};
  for (int32_t round = 0; round < 400; ++round) {
    const int32_t antiAlias = round % 2;
    LineState state;
    const int32_t scale = pick(0, 2) == 0 ? 8 : 1;
    state.widths = {pick(0, 3) ? pick(9, 1200) * scale : pick(1, 8)};
    if (pick(0, 3) == 0) state.widths.push_back(pick(1, 300));
    state.colours.clear();
    for (size_t i = 0; i < state.widths.size(); ++i)
      state.colours.push_back(Eevg_DeviceColor{pick(0, 255), pick(0, 255), 9, 1, pick(0, 2) ? 255 : 150});
    for (int32_t i = 0, pairs = pick(0, 2); i < 2 * pairs; ++i) state.dashes.push_back(pick(6, 90));
    state.startEnd = pick(0, 3), state.endEnd = pick(0, 3), state.markEnd = pick(0, 3);
    state.join = pick(0, 3);
    state.applyLineEnds = pick(0, 1);
    // A window of columns 20..43 and rows 12..27 (sub-pixels 160..351 and 96..223) on a device
    // of 64 x 40; the line passes near it, across it, or along its sides.
    std::vector<int32_t> points;
    if (pick(0, 4) == 0) {
      // A curve of many short steps, as ellipse outlines come.
      const double cx = pick(-1400, 1900) * scale, cy = pick(-1400, 1700) * scale;
      const double radius = pick(100, 2500) * scale, from = pick(0, 628) / 100.0;
      for (int32_t i = 0, count = pick(8, 40); i < count; ++i) {
        points.push_back(static_cast<int32_t>(cx + radius * std::cos(from + i * 0.08)));
        points.push_back(static_cast<int32_t>(cy + radius * std::sin(from + i * 0.08)));
      }
    } else {
      for (int32_t i = 0, count = pick(2, 4); i < count; ++i) {
        points.push_back(pick(-1400, 1900) * scale);
        points.push_back(pick(-1400, 1700) * scale);
      }
    }
    if (pick(0, 4) == 0) points.push_back(points[0]), points.push_back(points[1]);
    std::vector<Eevg_Color> pixels[2];
    for (int32_t every : {1, 0}) {
      Canvas canvas(64, 40);
      canvas.io.getPixel = Canvas::GetPixel;
      canvas.io.putPixel = Canvas::PutPixel;
      canvas.io.putVector = Canvas::PutVector;
      canvas.io.putPolygon = Canvas::PutPolygon; // declines: counts the fills
      // A device that blends translucent runs itself (here: declines them).
      if (round % 7 == 3) canvas.io.putVectorOpacity = Canvas::PutVectorOpacity;
      RasterDrawing drawing(canvas, antiAlias);
      Eevg_Coord a{20, 12}, b{43, 27};
      eevg_SetClipWindow(drawing.get(), &a, &b, nullptr);
      state.Apply(drawing.get());
      drawing->plainLines = every;
      drawing->mitreLimit = round % 3 ? 10 : 1.2;
      if (round % 5 == 1) {
        drawing->usingWorldTransform = 1;
        drawing->pixelSizeX = 4 + round % 9;
      }
      std::vector<int32_t> copy = points;
      ErrorSlot err;
      ASSERT_EQ(Draw(drawing.get(), copy, &err), 0) << Chain(err.get());
      pixels[every] = WindowPixels(canvas, drawing.get());
      fills[every] += std::count(canvas.log.begin(), canvas.log.end(), "polygon");
    }
    for (const Eevg_Color &c : pixels[1]) drawn += c.opacity != 0;
    if (!SamePixels(pixels[0], pixels[1])) {
      ++differing;
      ADD_FAILURE() << "round " << round << ": " << ::testing::PrintToString(points) << " width "
                    << state.widths[0] << " ends " << state.startEnd << state.endEnd
                    << state.markEnd << " join " << state.join << " apply "
                    << state.applyLineEnds << " aa " << antiAlias << " dashes "
                    << ::testing::PrintToString(state.dashes);
      if (differing > 3) break;
    }
  }
  EXPECT_GT(drawn, 10000);
  // Many of the pieces filled could not show.
  EXPECT_LT(fills[0], fills[1] * 3 / 4) << fills[0] << " of " << fills[1];
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}


TEST(EevgLine, TheLineStartDoesNotHoldTheWindowLikeAMarkEnd) {
  // Once a piece holding the whole window is drawn, the pieces after it that surely hold it too
  // are left out. The line's first piece starts in the window with a butt end, though its marks
  // have round or square ends: it does not hold the window, and the second piece (which does)
  // must be drawn; the third one no longer reaches the corners behind the line's start.
  // Translucent, on a device that would blend runs itself (and declines them), so that no piece
  // paints over another: drawn with every piece and with those left out, the window's pixels
  // agree.
  for (int32_t markEnd : {EEVG_ROUND_END, EEVG_SQUARE_END}) {
    for (int32_t antiAlias : {0, 1}) {
      LineState state;
      state.widths = {1600};
      state.colours = {Eevg_DeviceColor{200, 7, 9, 1, 140}};
      state.dashes = {100, 300};
      state.startEnd = state.endEnd = EEVG_BUTT_END;
      state.markEnd = markEnd;
      std::vector<Eevg_Color> pixels[2];
      for (int32_t every : {1, 0}) {
        Canvas canvas(64, 40);
        canvas.io.getPixel = Canvas::GetPixel;
        canvas.io.putPixel = Canvas::PutPixel;
        canvas.io.putVector = Canvas::PutVector;
        canvas.io.putVectorOpacity = Canvas::PutVectorOpacity;
        RasterDrawing drawing(canvas, antiAlias);
        Eevg_Coord a{30, 18}, b{33, 21};
        eevg_SetClipWindow(drawing.get(), &a, &b, nullptr);
        state.Apply(drawing.get());
        drawing->plainLines = every;
        ErrorSlot err;
        ASSERT_EQ(Draw(drawing.get(), {256, 160, 2256, 160}, &err), 0) << Chain(err.get());
        pixels[every] = WindowPixels(canvas, drawing.get());
      }
      EXPECT_TRUE(SamePixels(pixels[0], pixels[1])) << markEnd << " " << antiAlias;
    }
  }
}

TEST(EevgLine, VeryWideDashedPiecesLeftOutChangeNoPixel) {
  // Dashed lines up to the widest there is, passing the window at up to half their width (the
  // ends of their pieces coming and going over it), or starting in it: drawn with every piece,
  // and with the pieces left out that cannot show, that are painted over or that hold the window
  // again, the window's pixels agree.
  std::mt19937 random(getenv("SEED") ? atoi(getenv("SEED")) : 20271211);
  auto pick = [&](int32_t lo, int32_t hi) {
    return std::uniform_int_distribution<int32_t>(lo, hi)(random);
  };
  int32_t differing = 0, drawn = 0;
  for (int32_t round = 0; round < 64; ++round) {
    LineState state;
    const int32_t roll = pick(0, 3), kind = roll == 3 ? 1 : roll; // mostly ends near the window
    const double width = std::min(std::pow(10.0, pick(400, kind == 2 ? 500 : 934) / 100.0), 2147483647.0);
    state.widths = {static_cast<int32_t>(width)};
    state.colours = {Eevg_DeviceColor{pick(0, 255), 7, 9, 1, pick(0, 1) ? 255 : 140}};
    state.dashes = {pick(20, 400), pick(10, 200)};
    if (pick(0, 1)) state.dashes.push_back(pick(20, 400)), state.dashes.push_back(pick(10, 200));
    state.startEnd = pick(0, 3), state.endEnd = pick(0, 3), state.markEnd = pick(0, 2);
    if (kind == 1 && pick(0, 3)) state.endEnd = state.markEnd = EEVG_ROUND_END;
    state.join = pick(0, 3);
    state.applyLineEnds = pick(0, 1);
    // Passing the window's centre at some part of the half width, across any direction; or
    // ending about as far as the half width from it, the window ahead of it at any angle (the
    // round ends of its pieces bulging over it); or starting in the window.
    const double angle = pick(0, 6283) / 1000.0;
    // (Round ends bulge beyond their circle most at some 20 degrees from the line, by up to
    // some 3e-4 of the half width.)
    const double off = width / 2 *
                       (kind == 1 ? 1 + pick(20, 250) * 1e-6 : kind == 0 ? pick(0, 106) / 100.0 : 0);
    const double along = kind == 1 ? angle + 3.1415927 + (pick(0, 1) ? 1 : -1) * pick(250, 550) / 1000.0
                                   : angle + 1.5707963 + pick(-400, 400) / 1000.0;
    const double reach = kind == 1 ? pick(300, 3000) : kind == 0 ? pick(600, 8000) : width * pick(25, 100) / 100.0;
    const double cx = 256 + off * std::cos(angle), cy = 160 + off * std::sin(angle);
    std::vector<int32_t> points;
    for (int32_t i = 0, count = pick(2, 4); i < count; ++i) {
      const double t = (kind == 2 ? 0 : -2 * reach) + (kind == 0 ? 2 * reach : reach * (2 - kind)) * i / (count - 1);
      points.push_back(static_cast<int32_t>(cx + t * std::cos(along)) + pick(-40, 40));
      points.push_back(static_cast<int32_t>(cy + t * std::sin(along)) + pick(-40, 40));
    }
    const int32_t antiAlias = pick(0, 3) != 0;
    std::vector<Eevg_Color> pixels[2];
    for (int32_t every : {1, 0}) {
      Canvas canvas(64, 40);
      canvas.io.getPixel = Canvas::GetPixel;
      canvas.io.putPixel = Canvas::PutPixel;
      canvas.io.putVector = Canvas::PutVector;
      // A device that would blend translucent runs itself (here: declines them): no piece is
      // painted over by another.
      if (round % 2) canvas.io.putVectorOpacity = Canvas::PutVectorOpacity;
      RasterDrawing drawing(canvas, antiAlias);
      Eevg_Coord a{20, 12}, b{43, 27};
      eevg_SetClipWindow(drawing.get(), &a, &b, nullptr);
      state.Apply(drawing.get());
      drawing->plainLines = every;
      ErrorSlot err;
      ASSERT_EQ(Draw(drawing.get(), points, &err), 0) << Chain(err.get());
      pixels[every] = WindowPixels(canvas, drawing.get());
    }
    for (const Eevg_Color &c : pixels[1]) drawn += c.opacity != 0;
    if (!SamePixels(pixels[0], pixels[1])) {
      ++differing;
      ADD_FAILURE() << "round " << round << ": " << ::testing::PrintToString(points) << " width "
                    << state.widths[0] << " ends " << state.startEnd << state.endEnd
                    << state.markEnd << " join " << state.join << " apply "
                    << state.applyLineEnds << " aa " << antiAlias << " dashes "
                    << ::testing::PrintToString(state.dashes);
      if (differing > 3) break;
    }
  }
  EXPECT_GT(drawn, 4000);
}

TEST(EevgLine, RoundCapsFlattenedNearTheWindowChangeNoPixel) {
  // Short pieces with round ends up to a hundred million sub-pixels wide, anywhere their ends can
  // reach the window: their caps flattened in full, or only where they can meet the window, give
  // the window the same pixels.
  std::mt19937 random(getenv("SEED") ? atoi(getenv("SEED")) : 20270302);
  auto pick = [&](int32_t lo, int32_t hi) {
    return std::uniform_int_distribution<int32_t>(lo, hi)(random);
  };
  int32_t differing = 0, drawn = 0;
  for (int32_t round = 0; round < 120; ++round) {
    const int32_t antiAlias = round % 2;
    LineState state;
    const int32_t width = static_cast<int32_t>(std::pow(10.0, pick(300, 800) / 100.0));
    state.widths = {width};
    state.colours = {Eevg_DeviceColor{pick(0, 255), 7, 9, 1, pick(0, 3) ? 255 : 100}};
    state.startEnd = state.endEnd = EEVG_ROUND_END;
    state.applyLineEnds = pick(0, 1);
    // A piece whose end lies about half its width from the window, in any direction.
    const double angle = pick(0, 6283) / 1000.0, distance = width / 2.0 * pick(50, 105) / 100.0;
    const double turn = pick(0, 6283) / 1000.0, length = pick(5, 400);
    const double x = 256 + distance * std::cos(angle), y = 160 + distance * std::sin(angle);
    std::vector<int32_t> points = {static_cast<int32_t>(x), static_cast<int32_t>(y),
                                   static_cast<int32_t>(x + length * std::cos(turn)),
                                   static_cast<int32_t>(y + length * std::sin(turn))};
    std::vector<Eevg_Color> pixels[2];
    for (int32_t plain : {1, 0}) {
      Canvas canvas(64, 40);
      canvas.io.getPixel = Canvas::GetPixel;
      canvas.io.putPixel = Canvas::PutPixel;
      canvas.io.putVector = Canvas::PutVector;
      RasterDrawing drawing(canvas, antiAlias);
      Eevg_Coord a{20, 12}, b{43, 27};
      eevg_SetClipWindow(drawing.get(), &a, &b, nullptr);
      state.Apply(drawing.get());
      drawing->plainLines = plain;
      std::vector<int32_t> copy = points;
      ErrorSlot err;
      ASSERT_EQ(Draw(drawing.get(), copy, &err), 0) << Chain(err.get());
      pixels[plain] = WindowPixels(canvas, drawing.get());
    }
    for (const Eevg_Color &c : pixels[1]) drawn += c.opacity != 0;
    if (!SamePixels(pixels[0], pixels[1])) {
      ++differing;
      ADD_FAILURE() << "round " << round << ": " << ::testing::PrintToString(points) << " width "
                    << width << " aa " << antiAlias;
      if (differing > 3) break;
    }
  }
  EXPECT_GT(drawn, 5000);
}

namespace {

// A device that counts its work: the fills offered to it (declined, so that the filler draws
// them), and the writes of every pixel. Translucent pixels are blended by the device itself when
// it blends (putPixelOpacity); otherwise the renderer writes them through putPixel.
struct CountingDevice {
  Canvas canvas;
  bool blends;
  int64_t fills = 0;
  std::vector<int32_t> writes; // per pixel, by image row

  CountingDevice(int32_t width, int32_t height, bool blending)
      : canvas(width, height), blends(blending), writes(static_cast<size_t>(width) * height) {
    canvas.io.userData = this;
    canvas.io.getPixel = [](void *user, Eevg_Color *color, const double *p, Eerr_ErrorReport **) {
      *color = Of(user).canvas.At(static_cast<int32_t>(p[0]), static_cast<int32_t>(p[1]));
    };
    canvas.io.putPixel = [](void *user, const Eevg_Color *color, const double *p, Eerr_ErrorReport **) {
      Of(user).Write(static_cast<int32_t>(p[0]), static_cast<int32_t>(p[1]), *color);
    };
    canvas.io.putVector = [](void *user, const Eevg_Color *color, const double *a, const double *b,
                             Eerr_ErrorReport **) {
      for (int32_t x = static_cast<int32_t>(a[0]); x <= static_cast<int32_t>(b[0]); ++x)
        Of(user).Write(x, static_cast<int32_t>(a[1]), *color);
    };
    auto decline = [](void *user, Eevg_FillPattern *, int32_t, const int32_t *, const int32_t *,
                      Eerr_ErrorReport **) -> int32_t {
      ++Of(user).fills;
      return 0;
    };
    canvas.io.putPolygon = decline;
    if (blends) {
      canvas.io.putPolygonOpacity = decline;
      canvas.io.putPixelOpacity = [](void *user, const Eevg_Color *color, const double *p,
                                     Eerr_ErrorReport **) -> int32_t {
        Of(user).Write(static_cast<int32_t>(p[0]), static_cast<int32_t>(p[1]), *color);
        return 1;
      };
    }
  }
  static CountingDevice &Of(void *user) { return *static_cast<CountingDevice *>(user); }
  void Write(int32_t column, int32_t row, const Eevg_Color &color) {
    ++writes[static_cast<size_t>(row) * canvas.width + column];
    canvas.At(column, row) = color;
  }
  int32_t MostWrites() const { return *std::max_element(writes.begin(), writes.end()); }
  int64_t Writes() const { return std::accumulate(writes.begin(), writes.end(), int64_t{0}); }
};

} // namespace

TEST(EevgLine, DashedWideLinesWorkOnlyWhereTheyReachTheWindow) {
  // Dashed anti-aliased lines up to the widest there is, through a window of 48 x 40 pixels from
  // far beyond it on both sides: the fills (and the pixel writes) are those of the few pieces
  // whose outlines cross the window, and of one piece over all of it; on a device that blends,
  // the pieces that hold the whole window change it once. The work does not grow with the width.
  constexpr int32_t kFar = 16000000, kWidest = INT32_MAX;
  std::vector<int32_t> zigzag; // 64 segments, every one through the window
  for (int32_t i = 0; i <= 64; ++i) {
    zigzag.push_back(i % 2 ? kFar : -kFar);
    zigzag.push_back(200 + 4000 * (i % 5) - 8000);
  }
  const std::vector<int32_t> through = {-kFar, 100, kFar, 250};
  struct Case {
    const char *name;
    int32_t width, ends, opacity;
    bool blending;
    std::vector<int32_t> points;
    bool allHold; // every piece holds the window: each pixel is written once
  } cases[] = {
      {"round, 1e5 pixels", 800000, EEVG_ROUND_END, 255, false, through, false},
      {"round, 2e7 pixels", 160000000, EEVG_ROUND_END, 255, false, through, true},
      {"round, 2e7 pixels, blending", 160000000, EEVG_ROUND_END, 120, true, through, true},
      {"round, 1e6 pixels, blending", 8000000, EEVG_ROUND_END, 120, true, through, false},
      {"butt, widest, blending", kWidest, EEVG_BUTT_END, 120, true, through, false},
      {"butt, widest", kWidest, EEVG_BUTT_END, 255, false, through, false},
      {"square, 2e7 pixels, blending", 160000000, EEVG_SQUARE_END, 120, true, through, true},
      {"64 segments, round, 2e7 pixels, blending", 160000000, EEVG_ROUND_END, 120, true, zigzag, true},
      {"64 segments, butt, 1e5 pixels, blending", 800000, EEVG_BUTT_END, 120, true, zigzag, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    CountingDevice device(64, 48, c.blending);
    RasterDrawing drawing(device.canvas, 1);
    Eevg_Coord a{8, 4}, b{55, 43};
    eevg_SetClipWindow(drawing.get(), &a, &b, nullptr);
    LineState state;
    state.widths = {c.width};
    state.colours = {Eevg_DeviceColor{200, 30, 10, 1, c.opacity}};
    state.dashes = {40, 20};
    state.startEnd = state.endEnd = state.markEnd = c.ends;
    state.join = EEVG_ROUND_JOIN;
    state.Apply(drawing.get());
    ErrorSlot err;
    ASSERT_EQ(Draw(drawing.get(), c.points, &err), 0) << Chain(err.get());
    // Per segment through the window: the pieces whose outlines cross it (marks 40 and spaces 20
    // sub-pixels along a window of some 400), each filled once and writing part of the window.
    const int64_t segments = static_cast<int64_t>(c.points.size()) / 2 - 1;
    EXPECT_LE(device.fills, 24 * segments);
    EXPECT_LE(device.Writes(), 24 * segments * 48 * 40);
    if (c.allHold) {
      EXPECT_EQ(device.Writes(), 48 * 40);
      EXPECT_EQ(device.MostWrites(), 1);
    }
  }
}

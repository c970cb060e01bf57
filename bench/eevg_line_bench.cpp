// Lines, ellipses and arcs drawn through the public shape calls, beside cairo drawing the same in
// the same program: 10 000 random polylines of 50 vertices at widths 1, 3 and 10 pixels, with
// mitre joins (butt ends) or round joins (round ends), solid or dashed (marks 12, spaces 6
// pixels); and 100 000 filled ellipses and 100 000 pie slices. The target is 4096 x 4096 pixels
// without anti-aliasing: ours a device writing RGBA into memory (a plain callback device, and the
// direct one that does the least per call), cairo an ARGB32 image surface with antialias none,
// default, or fast (the 4 x 4 sample grid of ours). Then one dashed anti-aliased line (marks 12,
// spaces 6 pixels, butt or round ends) 1000, 100 000 and 10 000 000 pixels wide through a target of
// 640 x 480 pixels, from 25 000 pixels beyond it on one side to as far on the other (some 2800
// marks): what reaches the target is a few pieces, or pieces over all of it, at every width. The
// end of the output is the table of ratios ours / cairo of the medians over
// --benchmark_repetitions.
#include <benchmark/benchmark.h>

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "eevg.h"
#include "eevg_bench_device.h"
#include "eevg_bench_report.h"
#include "efga.h"

namespace {

constexpr int32_t kSize = 4096;
constexpr int32_t kWindowWidth = 640, kWindowHeight = 480;
constexpr int kPolylines = 10000;
constexpr int kVertices = 50;
constexpr int kEllipses = 100000;

// Random walks of kVertices points (pixels, y upward), kept inside the target.
const std::vector<std::vector<double>> &Polylines() {
  static const std::vector<std::vector<double>> lines = [] {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> where(100, kSize - 100), step(-30, 30);
    std::vector<std::vector<double>> all(kPolylines);
    for (auto &xy : all) {
      double x = where(random), y = where(random);
      for (int k = 0; k < kVertices; ++k) {
        xy.push_back(x);
        xy.push_back(y);
        x = std::clamp(x + step(random), 0.0, kSize - 1.0);
        y = std::clamp(y + step(random), 0.0, kSize - 1.0);
      }
    }
    return all;
  }();
  return lines;
}

struct Oval {
  double x, y, rx, ry, rotation, start, end;
};

const std::vector<Oval> &Ovals() {
  static const std::vector<Oval> ovals = [] {
    std::mt19937 random(8);
    std::uniform_real_distribution<double> where(40, kSize - 40), radius(3, 30), angle(0, 2 * M_PI);
    std::vector<Oval> all(kEllipses);
    for (Oval &o : all) o = {where(random), where(random), radius(random), radius(random),
                             angle(random), angle(random), angle(random)};
    return all;
  }();
  return ovals;
}

// ---- Ours -------------------------------------------------------------------------------------

using taviron::bench::FontPath;

// A drawing on a memory device of width x height pixels (at most the device's square); world units
// are pixels.
template <class Device> struct Target {
  Device memory;
  Eevg_GrIOInfo io{};
  Eevg_Control *control = nullptr;
  Eevg_DeviceInfo *device = nullptr;
  Eevg_WorldInfo *world = nullptr;
  Eevg_Drawing *drawing = nullptr;
  Eerr_ErrorReport *err = nullptr;

  explicit Target(int32_t width = kSize, int32_t height = kSize, int32_t antiAlias = 0) {
    FontPath();
    io = memory.Callbacks();
    control = eevg_Init(&err);
    device = eevg_DeviceInfoCreate(nullptr);
    world = eevg_WorldInfoCreate(nullptr);
    device->width = width;
    device->height = height;
    device->antiAlias = antiAlias;
    device->lineWidthUnit = 1;
    world->upperRight->x = width - 1;
    world->upperRight->y = height - 1;
    if (control) drawing = eevg_DrawingInit(control, device, world, &io, &err);
  }
  ~Target() {
    eerr_DeleteErrorReportEx(&err);
    eevg_DrawingFree(&drawing, nullptr);
    eevg_WorldInfoFree(&world);
    eevg_DeviceInfoFree(&device);
  }
};

Eevg_Color *NewColor(int red, int green, int blue) {
  Eevg_Color *c = eevg_ColorCreate(nullptr);
  *c = {0, red, green, blue, 255};
  return c;
}

Eevg_LineStyle *NewLine(double width, bool round, bool dashed) {
  Eevg_LineStyle *style = eevg_LineStyleCreate(nullptr);
  eevg_LineCompositionCreate(1, &style->composition, nullptr);
  style->composition.data[0].color = NewColor(20, 60, 200);
  style->composition.data[0].width = width;
  style->lineJoin = round ? EEVG_ROUND_JOIN : EEVG_MITRE_JOIN;
  style->startLineEnd = style->endLineEnd = style->markEnd = round ? EEVG_ROUND_END : EEVG_BUTT_END;
  if (dashed) eevg_LinePatternSetValues(&style->pattern, 0, 12, 6, nullptr);
  return style;
}

template <class Device>
void OursLines(benchmark::State &state, double width, bool round, bool dashed) {
  Target<Device> target;
  if (!target.drawing) {
    state.SkipWithError("no drawing");
    return;
  }
  std::vector<Efga_CoordinateBlock *> blocks;
  for (const auto &xy : Polylines()) {
    Efga_CoordinateBlock *block = efga_BaseCoordBlockCreate(2, kVertices, 1, 10, nullptr);
    Egda_BaseData *part = block->parts[0];
    for (int k = 0; k < kVertices; ++k) {
      auto *column = reinterpret_cast<double *>(part->origin + static_cast<std::size_t>(k) * part->pitch);
      column[0] = xy[2 * k];
      column[1] = xy[2 * k + 1];
    }
    blocks.push_back(block);
  }
  Eevg_LineStyle *style = NewLine(width, round, dashed);
  for (auto _ : state) {
    for (Efga_CoordinateBlock *block : blocks)
      if (eevg_DrawPolyLine(target.drawing, style, 0, block, &target.err) != 0) {
        state.SkipWithError("draw failed");
        break;
      }
    benchmark::DoNotOptimize(target.memory.rgba.data());
  }
  eevg_LineStyleFree(&style);
  for (Efga_CoordinateBlock *block : blocks) efga_CoordBlockDelete(block, nullptr);
}

Eevg_FillStyle *NewFill() {
  Eevg_FillStyle *style = eevg_FillStyleCreate(nullptr);
  style->fill = 1;
  style->pattern = eevg_FillPatternCreate(nullptr);
  style->pattern->color = NewColor(200, 40, 20);
  return style;
}

template <class Device> void OursOvals(benchmark::State &state, bool arcs) {
  Target<Device> target;
  if (!target.drawing) {
    state.SkipWithError("no drawing");
    return;
  }
  Eevg_FillStyle *style = NewFill();
  for (auto _ : state) {
    for (const Oval &o : Ovals()) {
      const Eevg_Coord centre{o.x, o.y};
      const int32_t status =
          arcs ? eevg_DrawEllipticalArc(target.drawing, style, &centre, o.rx, o.ry, o.rotation,
                                        o.start, o.end, EEVG_ARC_PIE, &target.err)
               : eevg_DrawEllipse(target.drawing, style, &centre, o.rx, o.ry, o.rotation,
                                  &target.err);
      if (status != 0) {
        state.SkipWithError("draw failed");
        break;
      }
    }
    benchmark::DoNotOptimize(target.memory.rgba.data());
  }
  eevg_FillStyleFree(&style);
}

// The wide dashed line: its two ends (pixels, y upward), far beyond the window on both sides.
constexpr double kWideLine[4] = {-2e4, -1.5e4, 2e4 + kWindowWidth, 1.5e4 + kWindowHeight};

template <class Device> void OursWideDashed(benchmark::State &state, double width, bool round) {
  Target<Device> target(kWindowWidth, kWindowHeight, 1);
  if (!target.drawing) {
    state.SkipWithError("no drawing");
    return;
  }
  Efga_CoordinateBlock *block = efga_BaseCoordBlockCreate(2, 2, 1, 10, nullptr);
  Egda_BaseData *part = block->parts[0];
  for (int k = 0; k < 2; ++k) {
    auto *column = reinterpret_cast<double *>(part->origin + static_cast<std::size_t>(k) * part->pitch);
    column[0] = kWideLine[2 * k];
    column[1] = kWideLine[2 * k + 1];
  }
  Eevg_LineStyle *style = NewLine(width, round, true);
  for (auto _ : state) {
    if (eevg_DrawPolyLine(target.drawing, style, 0, block, &target.err) != 0) {
      state.SkipWithError("draw failed");
      break;
    }
    benchmark::DoNotOptimize(target.memory.rgba.data());
  }
  eevg_LineStyleFree(&style);
  efga_CoordBlockDelete(block, nullptr);
}

// ---- cairo ------------------------------------------------------------------------------------

struct CairoTarget {
  cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kSize, kSize);
  cairo_t *cr = cairo_create(surface);
  explicit CairoTarget(cairo_antialias_t mode) { cairo_set_antialias(cr, mode); }
  ~CairoTarget() {
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
  }
};

void StrokeCairo(benchmark::State &state, cairo_antialias_t mode, double width, bool round,
                 bool dashed) {
  CairoTarget t(mode);
  cairo_set_source_rgb(t.cr, 20 / 255.0, 60 / 255.0, 200 / 255.0);
  cairo_set_line_width(t.cr, width);
  cairo_set_line_join(t.cr, round ? CAIRO_LINE_JOIN_ROUND : CAIRO_LINE_JOIN_MITER);
  cairo_set_line_cap(t.cr, round ? CAIRO_LINE_CAP_ROUND : CAIRO_LINE_CAP_BUTT);
  cairo_set_miter_limit(t.cr, 10);
  const double dashes[2] = {12, 6};
  if (dashed) cairo_set_dash(t.cr, dashes, 2, 0);
  for (auto _ : state) {
    for (const auto &xy : Polylines()) {
      cairo_move_to(t.cr, xy[0], kSize - 1 - xy[1]);
      for (int k = 1; k < kVertices; ++k) cairo_line_to(t.cr, xy[2 * k], kSize - 1 - xy[2 * k + 1]);
      cairo_stroke(t.cr);
    }
    cairo_surface_flush(t.surface);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(t.surface));
  }
}

void CairoWideDashed(benchmark::State &state, cairo_antialias_t mode, double width, bool round) {
  cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kWindowWidth, kWindowHeight);
  cairo_t *cr = cairo_create(surface);
  cairo_set_antialias(cr, mode);
  cairo_set_source_rgb(cr, 20 / 255.0, 60 / 255.0, 200 / 255.0);
  cairo_set_line_width(cr, width);
  cairo_set_line_join(cr, round ? CAIRO_LINE_JOIN_ROUND : CAIRO_LINE_JOIN_MITER);
  cairo_set_line_cap(cr, round ? CAIRO_LINE_CAP_ROUND : CAIRO_LINE_CAP_BUTT);
  const double dashes[2] = {12, 6};
  cairo_set_dash(cr, dashes, 2, 0);
  for (auto _ : state) {
    cairo_move_to(cr, kWideLine[0], kWindowHeight - 1 - kWideLine[1]);
    cairo_line_to(cr, kWideLine[2], kWindowHeight - 1 - kWideLine[3]);
    cairo_stroke(cr);
    cairo_surface_flush(surface);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(surface));
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
}

void CairoOvals(benchmark::State &state, cairo_antialias_t mode, bool arcs) {
  CairoTarget t(mode);
  cairo_set_source_rgb(t.cr, 200 / 255.0, 40 / 255.0, 20 / 255.0);
  for (auto _ : state) {
    for (const Oval &o : Ovals()) {
      cairo_save(t.cr);
      cairo_translate(t.cr, o.x, kSize - 1 - o.y);
      cairo_rotate(t.cr, -o.rotation);
      cairo_scale(t.cr, o.rx, o.ry);
      if (arcs) {
        cairo_move_to(t.cr, 0, 0);
        cairo_arc_negative(t.cr, 0, 0, 1, -o.start, -o.end);
        cairo_close_path(t.cr);
      } else {
        cairo_arc(t.cr, 0, 0, 1, 0, 2 * M_PI);
      }
      cairo_restore(t.cr);
      cairo_fill(t.cr);
    }
    cairo_surface_flush(t.surface);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(t.surface));
  }
}

} // namespace

int main(int argc, char **argv) {
  using taviron::bench::Direct;
  using taviron::bench::Memory;
  using taviron::bench::RatioRow;
  const struct {
    const char *name;
    cairo_antialias_t mode;
  } modes[] = {{"none", CAIRO_ANTIALIAS_NONE},
               {"default", CAIRO_ANTIALIAS_DEFAULT},
               {"fast", CAIRO_ANTIALIAS_FAST}};
  std::vector<RatioRow> rows;
  // One case: cairo in each mode, then ours on each device.
  auto add = [&](const std::string &label, auto cairo, auto ours) {
    std::vector<std::string> cairoNames;
    for (const auto &m : modes) {
      cairoNames.push_back(label + "/cairo:" + m.name);
      benchmark::RegisterBenchmark(cairoNames.back().c_str(),
                                   [cairo, mode = m.mode](benchmark::State &state) {
                                     cairo(state, mode);
                                   })
          ->Unit(benchmark::kMillisecond);
    }
    for (bool direct : {false, true}) {
      const std::string name = label + (direct ? "/ours:direct" : "/ours:callback");
      benchmark::RegisterBenchmark(name.c_str(),
                                   [ours, direct](benchmark::State &state) { ours(state, direct); })
          ->Unit(benchmark::kMillisecond);
      rows.push_back({label + (direct ? " direct" : " callback"), name, cairoNames});
    }
  };
  // Lines: width in pixels, round (1) or mitre (0) joins, dashed (1) or solid (0).
  for (int width : {1, 3, 10}) {
    for (int round : {0, 1}) {
      for (int dashed : {0, 1}) {
        const std::string label = "Lines/width:" + std::to_string(width) +
                                  "/round:" + std::to_string(round) +
                                  "/dashed:" + std::to_string(dashed);
        add(
            label,
            [=](benchmark::State &state, cairo_antialias_t mode) {
              StrokeCairo(state, mode, width, round, dashed);
            },
            [=](benchmark::State &state, bool direct) {
              if (direct)
                OursLines<Direct<kSize>>(state, width, round, dashed);
              else
                OursLines<Memory<kSize>>(state, width, round, dashed);
            });
      }
    }
  }
  for (bool arcs : {false, true}) {
    add(
        arcs ? "Pies" : "Ellipses",
        [=](benchmark::State &state, cairo_antialias_t mode) { CairoOvals(state, mode, arcs); },
        [=](benchmark::State &state, bool direct) {
          if (direct)
            OursOvals<Direct<kSize>>(state, arcs);
          else
            OursOvals<Memory<kSize>>(state, arcs);
        });
  }
  // One dashed anti-aliased line through a 640 x 480 target at three widths, with round ends
  // (1) or butt ends (0).
  for (int round : {0, 1}) {
    for (double width : {1e3, 1e5, 1e7}) {
      char label[64];
      std::snprintf(label, sizeof label, "WideDashed/width:%g/round:%d", width, round);
      add(
          label,
          [=](benchmark::State &state, cairo_antialias_t mode) {
            CairoWideDashed(state, mode, width, round);
          },
          [=](benchmark::State &state, bool direct) {
            if (direct)
              OursWideDashed<Direct<kSize>>(state, width, round);
            else
              OursWideDashed<Memory<kSize>>(state, width, round);
          });
    }
  }
  return taviron::bench::RunWithRatios(argc, argv, {"none", "default", "fast"}, rows);
}

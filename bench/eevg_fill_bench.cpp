// The scan filler against cairo on the same polygons, in one program: 1000 random 10-vertex
// polygons (one fill each), one noisy ring of 100 000 vertices, and 10 000 small rings in one
// fill, on a 4096 x 4096 target, with and without anti-aliasing. Ours draws onto a device writing
// RGBA into memory (a plain callback device, and the direct one that does the least per call);
// cairo into an ARGB32 image surface with the even-odd rule and antialias none, default, or fast
// (the 4 x 4 sample grid ours uses). The end of the output is the table of ratios ours / cairo
// of the medians over --benchmark_repetitions.
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

#include "../graphics/eevg_internal.h"
#include "eevg.h"
#include "eevg_bench_device.h"
#include "eevg_bench_report.h"

namespace {

constexpr int32_t kSize = 4096;

// Rings of sub-pixel points (device y upward), each closed.
struct Shape {
  std::vector<int32_t> starts{0};
  std::vector<int32_t> points;
  void Add(const std::vector<double> &xy) { // pixels
    for (std::size_t k = 0; k < xy.size(); ++k) points.push_back(static_cast<int32_t>(xy[k] * 8));
    points.push_back(points[2 * starts.back()]);
    points.push_back(points[2 * starts.back() + 1]);
    starts.push_back(static_cast<int32_t>(points.size() / 2));
  }
  int32_t Rings() const { return static_cast<int32_t>(starts.size()) - 1; }
};

struct Scene {
  std::vector<Shape> fills; // one fill call each
};

std::vector<double> Polygon(std::mt19937 &random, double cx, double cy, double radius, int n,
                            double noise) {
  std::uniform_real_distribution<double> jitter(1 - noise, 1 + noise);
  std::vector<double> xy;
  for (int k = 0; k < n; ++k) {
    const double a = 2 * M_PI * k / n, r = radius * jitter(random);
    xy.push_back(std::clamp(cx + r * std::cos(a), 0.0, kSize - 1.0));
    xy.push_back(std::clamp(cy + r * std::sin(a), 0.0, kSize - 1.0));
  }
  return xy;
}

const Scene &RandomPolygons() {
  static const Scene scene = [] {
    std::mt19937 random(1);
    std::uniform_real_distribution<double> where(0, kSize), size(-200, 200);
    Scene s;
    for (int p = 0; p < 1000; ++p) {
      const double cx = where(random), cy = where(random);
      std::vector<double> xy;
      for (int k = 0; k < 10; ++k) {
        xy.push_back(std::clamp(cx + size(random), 0.0, kSize - 1.0));
        xy.push_back(std::clamp(cy + size(random), 0.0, kSize - 1.0));
      }
      s.fills.emplace_back();
      s.fills.back().Add(xy);
    }
    return s;
  }();
  return scene;
}

const Scene &BigPolygon() {
  static const Scene scene = [] {
    std::mt19937 random(2);
    Scene s;
    s.fills.emplace_back();
    s.fills.back().Add(Polygon(random, kSize / 2.0, kSize / 2.0, 1900, 100000, 0.05));
    return s;
  }();
  return scene;
}

const Scene &SmallRings() {
  static const Scene scene = [] {
    std::mt19937 random(3);
    std::uniform_real_distribution<double> where(20, kSize - 20), radius(3, 12);
    Scene s;
    s.fills.emplace_back();
    for (int r = 0; r < 10000; ++r)
      s.fills.back().Add(Polygon(random, where(random), where(random), radius(random), 8, 0.2));
    return s;
  }();
  return scene;
}

// ---- Ours: a device writing RGBA into memory ---------------------------------------------------

using taviron::bench::FontPath;

template <class Device> void Ours(benchmark::State &state, const Scene &scene, int32_t antiAlias) {
  FontPath();
  Device memory;
  Eevg_GrIOInfo io = memory.Callbacks();
  Eerr_ErrorReport *err = nullptr;
  Eevg_Control *control = eevg_Init(&err);
  Eevg_DeviceInfo *device = eevg_DeviceInfoCreate(nullptr);
  Eevg_WorldInfo *world = eevg_WorldInfoCreate(nullptr);
  device->width = device->height = kSize;
  device->antiAlias = antiAlias;
  world->upperRight->x = world->upperRight->y = kSize - 1;
  Eevg_Drawing *drawing = control ? eevg_DrawingInit(control, device, world, &io, &err) : nullptr;
  if (!drawing) {
    state.SkipWithError(err && err->message ? err->message : "no drawing");
  } else {
    const Eevg_DeviceColor colour{200, 40, 20, 0, 255};
    for (auto _ : state) {
      for (const Shape &s : scene.fills)
        if (taviron::graphics::eevg_LOFiller(drawing, s.Rings(), s.starts.data(),
                                             s.points.data(), colour, &err) != 0) {
          state.SkipWithError("fill failed");
          break;
        }
      benchmark::DoNotOptimize(memory.rgba.data());
    }
  }
  eerr_DeleteErrorReportEx(&err);
  eevg_DrawingFree(&drawing, nullptr);
  eevg_WorldInfoFree(&world);
  eevg_DeviceInfoFree(&device);
}

// ---- cairo ------------------------------------------------------------------------------------

void Cairo(benchmark::State &state, const Scene &scene, cairo_antialias_t antialias) {
  cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kSize, kSize);
  cairo_t *cr = cairo_create(surface);
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
  cairo_set_antialias(cr, antialias);
  cairo_set_source_rgb(cr, 200 / 255.0, 40 / 255.0, 20 / 255.0);
  for (auto _ : state) {
    for (const Shape &s : scene.fills) {
      for (int32_t r = 0; r < s.Rings(); ++r) {
        for (int32_t i = s.starts[r]; i < s.starts[r + 1]; ++i) {
          const double x = s.points[2 * i] / 8.0, y = kSize - s.points[2 * i + 1] / 8.0;
          if (i == s.starts[r]) cairo_move_to(cr, x, y);
          else cairo_line_to(cr, x, y);
        }
        cairo_close_path(cr);
      }
      cairo_fill(cr);
    }
    cairo_surface_flush(surface);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(surface));
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
}

} // namespace

int main(int argc, char **argv) {
  using taviron::bench::RatioRow;
  struct Named {
    const char *name;
    const Scene &(*scene)();
  };
  const Named scenes[] = {{"Random", RandomPolygons}, {"Big", BigPolygon}, {"Rings", SmallRings}};
  const struct {
    const char *name;
    cairo_antialias_t mode;
  } modes[] = {{"none", CAIRO_ANTIALIAS_NONE},
               {"default", CAIRO_ANTIALIAS_DEFAULT},
               {"fast", CAIRO_ANTIALIAS_FAST}};
  std::vector<RatioRow> rows;
  for (const Named &s : scenes) {
    std::vector<std::string> cairo;
    for (const auto &m : modes) {
      cairo.push_back(std::string(s.name) + "/cairo:" + m.name);
      benchmark::RegisterBenchmark(cairo.back().c_str(),
                                   [s, mode = m.mode](benchmark::State &state) {
                                     Cairo(state, s.scene(), mode);
                                   })
          ->Unit(benchmark::kMillisecond);
    }
    for (int32_t aa : {0, 1}) {
      for (const char *device : {"callback", "direct"}) {
        const std::string name = std::string(s.name) + "/ours:" + device + "/aa:" + std::to_string(aa);
        const bool direct = device[0] == 'd';
        benchmark::RegisterBenchmark(name.c_str(),
                                     [s, aa, direct](benchmark::State &state) {
                                       if (direct)
                                         Ours<taviron::bench::Direct<kSize>>(state, s.scene(), aa);
                                       else
                                         Ours<taviron::bench::Memory<kSize>>(state, s.scene(), aa);
                                     })
            ->Unit(benchmark::kMillisecond);
        rows.push_back({std::string(s.name) + (aa ? " aa " : " ") + device, name, cairo});
      }
    }
  }
  return taviron::bench::RunWithRatios(argc, argv, {"none", "default", "fast"}, rows);
}

// Text labels against cairo, in one program: 10 000 labels of 20 characters in DejaVu Sans at
// 16 pixels on a 1024 x 1024 target, anti-aliased. Ours lays each label out and draws it through
// the FreeType font server onto a callback device writing RGBA into memory; cairo draws the same
// glyphs (indices and pen positions from FreeType, computed once beforehand) with
// cairo_show_glyphs into an ARGB32 image surface, from a font face made of the same FreeType
// face at the same size. The output ends with the ratio ours / cairo of the medians over
// --benchmark_repetitions.
#include <benchmark/benchmark.h>

#include <cairo-ft.h>
#include <cairo.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "eevg.h"
#include "eevg_bench_device.h"
#include "eevg_bench_report.h"

namespace {

constexpr int32_t kSize = 1024;
constexpr int32_t kLabels = 10000;
constexpr double kHeight = 16; // world units, one a pixel
const char *const kFontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

struct Label {
  std::string text;
  double x, y; // baseline start, pixels from the bottom left
};

const std::vector<Label> &Labels() {
  static const std::vector<Label> labels = [] {
    static const char *const words[] = {"North", "Road", "Lake", "Hill", "Mill", "Bridge",
                                        "Station", "Park", "River", "Farm", "Wood", "Cross"};
    std::vector<Label> out;
    for (int32_t i = 0; i < kLabels; ++i) {
      std::string text = std::string(words[i % 12]) + " " + words[(i / 12) % 12] + " " + std::to_string(i);
      text.resize(20, '.');
      out.push_back({text, static_cast<double>((i * 97) % 840), 10.0 + (i * 53) % 1000});
    }
    return out;
  }();
  return labels;
}

// The renderer's em for a text height: the world spans kSize - 1 pixels, the device kSize.
double EmPixels() { return kHeight * kSize / (kSize - 1); }

void Taviron(benchmark::State &state) {
  setenv("NORIX_FONT_PATH", TAVIRON_DEJAVU_FDB_DIR, 1);
  setenv("NORIX_FONT_SERVERS_PATH", TAVIRON_FONT_SERVERS_DIR, 1);
  taviron::bench::Memory<kSize> memory;
  Eevg_GrIOInfo io = memory.Callbacks();
  Eerr_ErrorReport *err = nullptr;
  Eevg_Control *control = eevg_Init(&err);
  Eevg_DeviceInfo *device = eevg_DeviceInfoCreate(nullptr);
  Eevg_WorldInfo *world = eevg_WorldInfoCreate(nullptr);
  device->width = device->height = kSize;
  device->antiAlias = 1;
  world->upperRight->x = world->upperRight->y = kSize - 1;
  Eevg_Drawing *drawing = control ? eevg_DrawingInit(control, device, world, &io, &err) : nullptr;
  Eevg_TextStyle *style = eevg_TextStyleCreate(nullptr);
  style->fontName = estr_Duplicate("DejaVuSans");
  style->textHeight = kHeight;
  style->textChExt = style->textChSpace = 1;
  style->xalign = EEVG_LEFT;
  style->yalign = EEVG_BOTTOM;
  style->charFillStyle = eevg_FillStyleCreate(nullptr);
  style->charFillStyle->fill = 1;
  style->charFillStyle->pattern = eevg_FillPatternCreate(nullptr);
  style->charFillStyle->pattern->color = eevg_ColorCreate(nullptr);
  style->charFillStyle->pattern->color->opacity = 255;
  if (!drawing) {
    state.SkipWithError("no drawing");
  } else {
    // Bottom alignment puts the last line's descent on the location: the baseline lies one
    // descent above it.
    double width = 0, height = 0, ascent = 0, descent = 0;
    eevg_GetTextSizes(drawing, style, "x", &width, &height, &ascent, &descent, &err);
    for (auto _ : state) {
      for (const Label &label : Labels()) {
        const Eevg_Coord at{label.x, label.y - descent};
        if (eevg_DrawText(drawing, style, &at, label.text.c_str(), &err) != 0) {
          state.SkipWithError("eevg_DrawText failed");
          break;
        }
      }
      benchmark::DoNotOptimize(memory.rgba.data());
    }
  }
  state.SetItemsProcessed(state.iterations() * kLabels);
  eerr_DeleteErrorReportEx(&err);
  eevg_TextStyleFree(&style);
  eevg_DrawingFree(&drawing, nullptr);
  eevg_WorldInfoFree(&world);
  eevg_DeviceInfoFree(&device);
}

void Cairo(benchmark::State &state) {
  FT_Library library;
  FT_Face face;
  if (FT_Init_FreeType(&library) != 0 || FT_New_Face(library, kFontFile, 0, &face) != 0) {
    state.SkipWithError("no FreeType face");
    return;
  }
  // The glyphs of every label, placed by the face's advances and kerning at the same size.
  const double em = EmPixels(), scale = em / face->units_per_EM;
  std::vector<std::vector<cairo_glyph_t>> glyphs;
  for (const Label &label : Labels()) {
    std::vector<cairo_glyph_t> run;
    double pen = label.x;
    FT_UInt previous = 0;
    for (unsigned char c : label.text) {
      const FT_UInt index = FT_Get_Char_Index(face, c);
      FT_Vector kerning{0, 0};
      if (previous) FT_Get_Kerning(face, previous, index, FT_KERNING_UNSCALED, &kerning);
      pen += kerning.x * scale;
      run.push_back({index, pen, kSize - label.y});
      FT_Load_Glyph(face, index, FT_LOAD_NO_SCALE);
      pen += face->glyph->metrics.horiAdvance * scale;
      previous = index;
    }
    glyphs.push_back(std::move(run));
  }
  cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kSize, kSize);
  cairo_t *cr = cairo_create(surface);
  cairo_font_face_t *font = cairo_ft_font_face_create_for_ft_face(face, 0);
  cairo_set_font_face(cr, font);
  cairo_set_font_size(cr, em);
  cairo_set_source_rgb(cr, 0, 0, 0);
  for (auto _ : state) {
    for (const auto &run : glyphs) cairo_show_glyphs(cr, run.data(), static_cast<int>(run.size()));
    cairo_surface_flush(surface);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(surface));
  }
  state.SetItemsProcessed(state.iterations() * kLabels);
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  cairo_font_face_destroy(font);
  FT_Done_Face(face);
  FT_Done_FreeType(library);
}

BENCHMARK(Taviron)->Name("Labels/Taviron")->Unit(benchmark::kMillisecond);
BENCHMARK(Cairo)->Name("Labels/Cairo")->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
  return taviron::bench::RunWithRatios(argc, argv, {"default"},
                                       {{"Labels", "Labels/Taviron", {"Labels/Cairo"}}});
}

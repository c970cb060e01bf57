// A paragraph of text into a pixel buffer, in one program: ours, FreeType's own rendering and
// cairo_show_text, the same string in the same DejaVu Sans face at an em of 12 and of 48 pixels,
// anti-aliased, unhinted. Ours lays the paragraph out and draws it through the FreeType font
// server onto a callback device writing RGBA into memory: with pixels, runs and blocks, and
// ("pixels") with pixels and runs alone; FreeType loads, renders (at the pen's
// fraction of a pixel) and blends every glyph of every line into an RGBA buffer on every draw;
// cairo shows each line with cairo_show_text on an ARGB32 image surface from a font face made of
// the same FreeType face. Lines are one em apart. The output ends with the ratios ours / cairo
// and ours / FreeType of the medians of the CPU times over --benchmark_repetitions (run with
// --benchmark_enable_random_interleaving so that the repetitions of the three interleave).
#include <benchmark/benchmark.h>

#include <cairo-ft.h>
#include <cairo.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "eevg.h"
#include "eevg_bench_device.h"
#include "eevg_bench_report.h"

namespace {

constexpr int32_t kWidth = 1600, kHeight = 800;
const char *const kFontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// Eight lines of about sixty characters.
const std::vector<std::string> &Lines() {
  static const std::vector<std::string> lines = {
      "The river leaves the lake below the mill and turns north under",
      "the old bridge, where the road from the station crosses it on",
      "three stone arches. Beyond the farm the valley narrows between",
      "wooded hills; a path follows the west bank past the weir and a",
      "row of cottages to the village green, the church and the inn.",
      "Maps of 1887 show a ford here, and a second mill downstream at",
      "Cross Wood, long since gone; its race still holds water after",
      "heavy rain. Grid 4172 3390, height 112 m, survey of June 2024.",
  };
  return lines;
}

std::string Paragraph() {
  std::string text;
  for (const std::string &line : Lines()) text += (text.empty() ? "" : "\n") + line;
  return text;
}

// The pixel buffer as a device: the plain callback device, and the block reads and writes a
// buffer of pixels offers (its planes at least the block's size, kept from block to block).
struct Buffer : taviron::bench::Memory<kWidth> {
  Buffer() { rgba.resize(static_cast<std::size_t>(kWidth) * kHeight); }
  static Eevg_RGBPixelRect *GetBlock(void *user, Eevg_RGBPixelRect *rect, const double *upperLeft,
                                     const double *lowerRight, Eerr_ErrorReport **err) {
    auto &self = *static_cast<Buffer *>(user);
    const int32_t x0 = static_cast<int32_t>(upperLeft[0]), y0 = static_cast<int32_t>(upperLeft[1]);
    const int32_t w = static_cast<int32_t>(lowerRight[0]) - x0 + 1, h = static_cast<int32_t>(lowerRight[1]) - y0 + 1;
    if (!rect || !rect->red || rect->red->columns < w || rect->red->rows < h) {
      const int32_t columns = std::max(w, rect && rect->red ? rect->red->columns : 64);
      const int32_t rows = std::max(h, rect && rect->red ? rect->red->rows : 64);
      rect = eevg_RGBPixelRectCreateWithData(rect, columns, rows, EEVG_TRUECOLOR, err);
      if (!rect) return nullptr;
    }
    for (int32_t r = 0; r < h; ++r) {
      const uint32_t *source = self.rgba.data() + static_cast<std::size_t>(y0 + r) * kWidth + x0;
      const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(r) * rect->red->pitch;
      uint8_t *red = rect->red->origin + at, *green = rect->green->origin + at, *blue = rect->blue->origin + at;
      for (int32_t c = 0; c < w; ++c) {
        const uint32_t q = source[c];
        red[c] = static_cast<uint8_t>(q), green[c] = static_cast<uint8_t>(q >> 8), blue[c] = static_cast<uint8_t>(q >> 16);
      }
    }
    return rect;
  }
  static int32_t PutBlock(void *user, Eevg_RGBPixelRect *rect, const double *upperLeft,
                          const double *lowerRight, Eerr_ErrorReport **) {
    auto &self = *static_cast<Buffer *>(user);
    const int32_t x0 = static_cast<int32_t>(upperLeft[0]), y0 = static_cast<int32_t>(upperLeft[1]);
    const int32_t w = static_cast<int32_t>(lowerRight[0]) - x0 + 1, h = static_cast<int32_t>(lowerRight[1]) - y0 + 1;
    for (int32_t r = 0; r < h; ++r) {
      uint32_t *target = self.rgba.data() + static_cast<std::size_t>(y0 + r) * kWidth + x0;
      const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(r) * rect->red->pitch;
      const uint8_t *red = rect->red->origin + at, *green = rect->green->origin + at, *blue = rect->blue->origin + at;
      for (int32_t c = 0; c < w; ++c)
        target[c] = red[c] | static_cast<uint32_t>(green[c]) << 8 | static_cast<uint32_t>(blue[c]) << 16 | 0xFF000000u;
    }
    return 0;
  }
  Eevg_GrIOInfo Callbacks() {
    Eevg_GrIOInfo io = Memory<kWidth>::Callbacks();
    io.getBlock = GetBlock;
    io.putBlock = PutBlock;
    return io;
  }
};

// The first baseline, pixels from the top.
double FirstBaseline(double em) { return 10 + em; }

void Taviron(benchmark::State &state, double em, bool blocks) {
  setenv("NORIX_FONT_PATH", TAVIRON_DEJAVU_FDB_DIR, 1);
  setenv("NORIX_FONT_SERVERS_PATH", TAVIRON_FONT_SERVERS_DIR, 1);
  Buffer memory;
  Eevg_GrIOInfo io = memory.Callbacks();
  if (!blocks) io.getBlock = nullptr, io.putBlock = nullptr;
  Eerr_ErrorReport *err = nullptr;
  Eevg_Control *control = eevg_Init(&err);
  Eevg_DeviceInfo *device = eevg_DeviceInfoCreate(nullptr);
  Eevg_WorldInfo *world = eevg_WorldInfoCreate(nullptr);
  device->width = kWidth;
  device->height = kHeight;
  device->antiAlias = 1;
  world->upperRight->x = kWidth - 1;
  world->upperRight->y = kHeight - 1;
  Eevg_Drawing *drawing = control ? eevg_DrawingInit(control, device, world, &io, &err) : nullptr;
  Eevg_TextStyle *style = eevg_TextStyleCreate(nullptr);
  style->fontName = estr_Duplicate("DejaVuSans");
  // The renderer's em for a text height: the world spans kHeight - 1 pixels, the device kHeight.
  style->textHeight = em * (kHeight - 1) / kHeight;
  style->textChExt = style->textChSpace = 1;
  style->xalign = EEVG_LEFT;
  style->yalign = EEVG_TOP;
  style->charFillStyle = eevg_FillStyleCreate(nullptr);
  style->charFillStyle->fill = 1;
  style->charFillStyle->pattern = eevg_FillPatternCreate(nullptr);
  style->charFillStyle->pattern->color = eevg_ColorCreate(nullptr);
  style->charFillStyle->pattern->color->opacity = 255;
  const std::string text = Paragraph();
  if (!drawing) {
    state.SkipWithError("no drawing");
  } else {
    // Top alignment puts the first line's top (its ascent above the baseline) at the location.
    double width = 0, height = 0, ascent = 0, descent = 0;
    eevg_GetTextSizes(drawing, style, "x", &width, &height, &ascent, &descent, &err);
    const Eevg_Coord at{10, kHeight - 1 - FirstBaseline(em) + ascent};
    for (auto _ : state) {
      if (eevg_DrawText(drawing, style, &at, text.c_str(), &err) != 0) {
        state.SkipWithError("eevg_DrawText failed");
        break;
      }
      benchmark::DoNotOptimize(memory.rgba.data());
    }
  }
  eerr_DeleteErrorReportEx(&err);
  eevg_TextStyleFree(&style);
  eevg_DrawingFree(&drawing, nullptr);
  eevg_WorldInfoFree(&world);
  eevg_DeviceInfoFree(&device);
}

// FreeType's own rendering: every glyph loaded unhinted, moved by the pen's fraction of a pixel,
// rendered to a grey bitmap and blended into the buffer, on every draw.
void FreeType(benchmark::State &state, double em) {
  FT_Library library;
  FT_Face face;
  if (FT_Init_FreeType(&library) != 0 || FT_New_Face(library, kFontFile, 0, &face) != 0) {
    state.SkipWithError("no FreeType face");
    return;
  }
  FT_Set_Char_Size(face, 0, static_cast<FT_F26Dot6>(std::lround(em * 64)), 72, 72);
  std::vector<uint32_t> rgba(static_cast<std::size_t>(kWidth) * kHeight);
  const bool kerning = FT_HAS_KERNING(face);
  for (auto _ : state) {
    double baseline = FirstBaseline(em);
    for (const std::string &line : Lines()) {
      FT_Pos pen = 10 * 64; // 26.6
      FT_UInt previous = 0;
      for (unsigned char c : line) {
        const FT_UInt index = FT_Get_Char_Index(face, c);
        if (kerning && previous) {
          FT_Vector k{0, 0};
          FT_Get_Kerning(face, previous, index, FT_KERNING_UNFITTED, &k);
          pen += k.x;
        }
        previous = index;
        if (FT_Load_Glyph(face, index, FT_LOAD_NO_HINTING) != 0) continue;
        FT_GlyphSlot slot = face->glyph;
        const FT_Pos whole = pen & ~63;
        FT_Outline_Translate(&slot->outline, pen - whole, 0);
        pen += slot->linearHoriAdvance >> 10; // 16.16 to 26.6
        if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) continue;
        const FT_Bitmap &bitmap = slot->bitmap;
        const int32_t left = static_cast<int32_t>(whole >> 6) + slot->bitmap_left;
        const int32_t top = static_cast<int32_t>(baseline) - slot->bitmap_top;
        for (int32_t r = 0; r < static_cast<int32_t>(bitmap.rows); ++r) {
          const int32_t y = top + r;
          if (y < 0 || y >= kHeight) continue;
          const uint8_t *cover = bitmap.buffer + static_cast<std::ptrdiff_t>(r) * bitmap.pitch;
          uint32_t *row = rgba.data() + static_cast<std::size_t>(y) * kWidth;
          for (int32_t k = 0; k < static_cast<int32_t>(bitmap.width); ++k) {
            const int32_t x = left + k;
            const uint32_t a = cover[k];
            if (a == 0 || x < 0 || x >= kWidth) continue;
            // Black over the old colour, as the renderer blends.
            const uint32_t old = row[x], keep = 255 - a;
            const uint32_t red = (old & 0xFF) * keep / 255, green = (old >> 8 & 0xFF) * keep / 255,
                           blue = (old >> 16 & 0xFF) * keep / 255;
            row[x] = red | green << 8 | blue << 16 | 0xFF000000u;
          }
        }
      }
      baseline += em;
    }
    benchmark::DoNotOptimize(rgba.data());
  }
  FT_Done_Face(face);
  FT_Done_FreeType(library);
}

void Cairo(benchmark::State &state, double em) {
  FT_Library library;
  FT_Face face;
  if (FT_Init_FreeType(&library) != 0 || FT_New_Face(library, kFontFile, 0, &face) != 0) {
    state.SkipWithError("no FreeType face");
    return;
  }
  cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kWidth, kHeight);
  cairo_t *cr = cairo_create(surface);
  cairo_font_face_t *font = cairo_ft_font_face_create_for_ft_face(face, 0);
  cairo_font_options_t *options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  cairo_set_font_options(cr, options);
  cairo_set_font_face(cr, font);
  cairo_set_font_size(cr, em);
  cairo_set_source_rgb(cr, 0, 0, 0);
  for (auto _ : state) {
    double baseline = FirstBaseline(em);
    for (const std::string &line : Lines()) {
      cairo_move_to(cr, 10, baseline);
      cairo_show_text(cr, line.c_str());
      baseline += em;
    }
    cairo_surface_flush(surface);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(surface));
  }
  cairo_font_options_destroy(options);
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  cairo_font_face_destroy(font);
  FT_Done_Face(face);
  FT_Done_FreeType(library);
}

BENCHMARK_CAPTURE(Taviron, 12, 12.0, true)->Name("Paragraph12/Taviron")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Taviron, 12, 12.0, false)->Name("Paragraph12/TavironPixels")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(FreeType, 12, 12.0)->Name("Paragraph12/FreeType")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Cairo, 12, 12.0)->Name("Paragraph12/Cairo")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Taviron, 48, 48.0, true)->Name("Paragraph48/Taviron")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Taviron, 48, 48.0, false)->Name("Paragraph48/TavironPixels")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(FreeType, 48, 48.0)->Name("Paragraph48/FreeType")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Cairo, 48, 48.0)->Name("Paragraph48/Cairo")->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv) {
  using taviron::bench::RatioRow;
  return taviron::bench::RunWithRatios(
      argc, argv, {"cairo", "FreeType"},
      {RatioRow{"12 px", "Paragraph12/Taviron", {"Paragraph12/Cairo", "Paragraph12/FreeType"}},
       RatioRow{"48 px", "Paragraph48/Taviron", {"Paragraph48/Cairo", "Paragraph48/FreeType"}},
       RatioRow{"12 px, pixels", "Paragraph12/TavironPixels", {"Paragraph12/Cairo", "Paragraph12/FreeType"}},
       RatioRow{"48 px, pixels", "Paragraph48/TavironPixels", {"Paragraph48/Cairo", "Paragraph48/FreeType"}}},
      {.peer = "cairo", .cpuTime = true});
}

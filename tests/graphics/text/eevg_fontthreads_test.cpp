// Fonts loaded and glyphs read by several threads at once: one font table filled from several
// threads keeps every font once, and drawings in several threads that meet the glyphs of a
// freshly opened face together draw what each draws alone (scripts/test --tsan runs these under
// ThreadSanitizer).
#include <atomic>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "eevg.h"
#include "eevg_internal.h"
#include "text_testing.h"

namespace {

using namespace taviron::graphics::testing;

constexpr int kThreads = 8;

TEST(RendererThreads, FontsLoadIntoOneTableFromSeveralThreadsAtOnce) {
  // Each thread loads every font of the data base, in an order of its own, into a table with room
  // for them all: each font takes one slot, and every thread is given that slot.
  const std::vector<std::string> names = {"box",           "special",          "DejaVuSans",
                                          "box_negative_em", "box_negative_descent", "box_nan_width",
                                          "box_extra_points"};
  const int32_t count = static_cast<int32_t>(names.size());
  for (int round = 0; round < 10; ++round) {
    FontTable fonts(count);
    std::vector<std::vector<int32_t>> given(kThreads, std::vector<int32_t>(names.size(), -100));
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t] {
        ErrorSlot err;
        start.arrive_and_wait();
        for (int32_t k = 0; k < count; ++k) {
          const int32_t i = (k + t) % count;
          given[t][i] = fonts.Load(names[i], &err);
          EXPECT_GE(given[t][i], 0) << names[i] << Chain(err.get());
        }
      });
    for (std::thread &thread : threads) thread.join();
    ASSERT_EQ(fonts.Used(), count);
    for (int32_t i = 0; i < count; ++i) {
      const int32_t slot = given[0][i];
      ASSERT_TRUE(slot >= 0 && slot < count) << names[i];
      EXPECT_EQ(fonts.Name(slot), names[i]);
      for (int t = 1; t < kThreads; ++t) EXPECT_EQ(given[t][i], slot) << names[i] << " in thread " << t;
    }
    if (HasFailure()) break;
  }
}

// The pixels in which two pictures differ.
int32_t Differences(const TextCanvas &a, const TextCanvas &b) {
  int32_t n = 0;
  for (std::size_t i = 0; i < a.pixels.size(); ++i) {
    const Eevg_Color &p = a.pixels[i], &q = b.pixels[i];
    n += p.red != q.red || p.green != q.green || p.blue != q.blue || p.opacity != q.opacity;
  }
  return n;
}

// The text of a thread drawn with DejaVu Sans loaded into the table: half the threads draw one
// text, half another, which shares some characters with it.
TextCanvas Draw(FontTable &fonts, int t, int32_t antiAlias) {
  static const char *const texts[] = {"Hamburgefonstiv 0123\nQuick & lazy; @%$!",
                                      "AVATAR Wax {jumps} 4567\nVogue, fjord: Tokyo?"};
  TextCanvas canvas;
  TextDrawing drawing(canvas, antiAlias);
  drawing->control = fonts.Control();
  Style style("DejaVuSans");
  style->textHeight = 22;
  ErrorSlot err;
  const Eevg_Coord at{12.3, 230.7};
  EXPECT_EQ(eevg_DrawText(drawing.get(), style.get(), &at, texts[t % 2], &err), 0) << Chain(err.get());
  return canvas;
}

TEST(RendererThreads, GlyphsOfAFreshFaceFirstReadBySeveralThreadsAtOnce) {
  // The drawings of eight threads load DejaVu Sans into one table of their own and draw with it,
  // meeting its glyphs (the same ones and other ones) unread at the same time, while another
  // thread opens and closes faces of the font: every picture is the picture drawn alone.
  for (int32_t antiAlias : {1, 0}) {
    std::vector<TextCanvas> alone;
    {
      FontTable fonts(1);
      for (int t = 0; t < 2; ++t) alone.push_back(Draw(fonts, t, antiAlias));
    }
    FontTable fonts(1);
    std::vector<TextCanvas> canvases(kThreads);
    std::latch start(kThreads + 1);
    std::atomic<int> drawing{kThreads};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t] {
        start.arrive_and_wait();
        canvases[t] = Draw(fonts, t, antiAlias);
        --drawing;
      });
    threads.emplace_back([&] {
      start.arrive_and_wait();
      for (int opened = 0; opened < 100 && drawing > 0; ++opened) {
        FontTable other(1);
        ErrorSlot err;
        EXPECT_EQ(other.Load("DejaVuSans", &err), 0) << Chain(err.get());
      }
    });
    for (std::thread &thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(Differences(canvases[t], alone[t % 2]), 0) << "thread " << t;
  }
}

} // namespace

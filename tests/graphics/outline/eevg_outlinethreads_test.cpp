// Outline fonts loaded and drawn by several threads at once (scripts/test --tsan runs this under
// ThreadSanitizer).
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "eevg.h"
#include "eevg_internal.h"
#include "outline_testing.h"

namespace {

using namespace taviron::graphics::testing;

constexpr int kThreads = 8;

// The text of a thread drawn in the named font, which the drawing loads into the table.
OutlineCanvas Draw(FontTable &fonts, const std::string &font) {
  OutlineCanvas canvas;
  OutlineDrawing drawing(canvas);
  drawing->control = fonts.Control();
  Style style(font);
  ErrorSlot err;
  const Eevg_Coord at{20, 200};
  EXPECT_EQ(eevg_DrawTextOTL(drawing.get(), style.get(), &at, "HIT op`", &err), 0) << font << Chain(err.get());
  return canvas;
}

int32_t Differences(const OutlineCanvas &a, const OutlineCanvas &b) {
  int32_t n = 0;
  for (std::size_t i = 0; i < a.pixels.size(); ++i)
    n += a.pixels[i].opacity != b.pixels[i].opacity || a.pixels[i].red != b.pixels[i].red;
  return n;
}

TEST(RendererThreads, OutlineFontsLoadAndDrawFromSeveralThreadsAtOnce) {
  // Each thread loads every font, in an order of its own, into one table with room for them all,
  // then draws with a font of its own while others still load: each font takes one slot, every
  // thread is given that slot, and every picture is the one drawn alone.
  std::vector<std::string> names;
  for (int t = 0; t < kThreads; ++t) names.push_back(WriteFont("threads" + std::to_string(t) + ".otl", BlockFont()));
  OutlineCanvas alone = [&] {
    FontTable fonts(1, eevg_FFReference);
    return Draw(fonts, names[0]);
  }();
  ASSERT_GT(alone.Count(kBlack), 100);
  for (int round = 0; round < 5; ++round) {
    FontTable fonts(kThreads, eevg_FFReference);
    std::vector<std::vector<int32_t>> given(kThreads, std::vector<int32_t>(kThreads, -100));
    std::vector<OutlineCanvas> canvases(kThreads);
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t] {
        ErrorSlot err;
        start.arrive_and_wait();
        for (int k = 0; k < kThreads; ++k) {
          const int i = (k + t) % kThreads;
          given[t][i] = fonts.Load(names[i], &err);
          EXPECT_GE(given[t][i], 0) << names[i] << Chain(err.get());
          if (k == t) canvases[t] = Draw(fonts, names[t]);
        }
      });
    for (std::thread &thread : threads) thread.join();
    ASSERT_EQ(fonts.Used(), kThreads);
    for (int i = 0; i < kThreads; ++i) {
      const int32_t slot = given[0][i];
      ASSERT_TRUE(slot >= 0 && slot < kThreads) << names[i];
      EXPECT_EQ(fonts.Name(slot), names[i]);
      for (int t = 1; t < kThreads; ++t) EXPECT_EQ(given[t][i], slot) << names[i] << " in thread " << t;
      EXPECT_EQ(Differences(canvases[i], alone), 0) << "thread " << i;
    }
    if (HasFailure()) break;
  }
}

} // namespace

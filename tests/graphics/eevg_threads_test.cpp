// The renderer's state made on first use (control record, preferences, font data base and its
// indexes, opacity tiles) is made once when several threads ask for it at the same time
// (scripts/test --tsan runs this under ThreadSanitizer).
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "eevg.h"
#include "graphics_testing.h"

namespace {

using taviron::graphics::testing::ErrorSlot;

TEST(RendererThreads, FirstUseStateIsMadeOnceUnderConcurrentCalls) {
  constexpr int kThreads = 8;
  std::vector<Eevg_Control *> controls(kThreads);
  std::vector<Egda_BaseData *> tiles(kThreads);
  std::vector<Eevg_FontDataBaseRecord *> fonts(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      ErrorSlot err;
      controls[t] = eevg_Init(&err);
      tiles[t] = eevg_OpacityTileCreate(128, &err);
      fonts[t] = eevg_FontDataBaseLookupByFontName(nullptr, "Times Bold Italic", &err);
    });
  for (std::thread &thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_NE(controls[t], nullptr);
    EXPECT_EQ(controls[t], controls[0]);
    ASSERT_NE(tiles[t], nullptr);
    EXPECT_EQ(tiles[t], tiles[0]);
    ASSERT_NE(fonts[t], nullptr);
    EXPECT_EQ(fonts[t], fonts[0]);
  }
}

} // namespace

// Shared by the renderer tests: the font search path of the fixture.
#ifndef TAVIRON_TESTS_GRAPHICS_TESTING_H
#define TAVIRON_TESTS_GRAPHICS_TESTING_H

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "taviron_testing.h"

namespace taviron::graphics::testing {

inline const std::string kFontDir = std::string(TAVIRON_TEST_DATA_DIR) + "/fonts";

// The renderer reads its font data base from NORIX_FONT_PATH; the tests point it at the fixture
// before anything runs.
inline const bool kFontPathSet = [] {
  setenv("NORIX_FONT_PATH", kFontDir.c_str(), 1);
  return true;
}();

// The shared kit's error slot and report checks (taviron_testing.h).
using taviron::testing::Chain;
using taviron::testing::ErrorSlot;
using taviron::testing::Reported;

} // namespace taviron::graphics::testing

#endif

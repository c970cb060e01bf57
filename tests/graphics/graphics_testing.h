// Shared by the renderer tests: the font search path of the fixture and report checks.
#ifndef TAVIRON_TESTS_GRAPHICS_TESTING_H
#define TAVIRON_TESTS_GRAPHICS_TESTING_H

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "eerr.h"

namespace taviron::graphics::testing {

inline const std::string kFontDir = std::string(TAVIRON_TEST_DATA_DIR) + "/fonts";

// The renderer reads its font data base from NORIX_FONT_PATH; the tests point it at the fixture
// before anything runs.
inline const bool kFontPathSet = [] {
  setenv("NORIX_FONT_PATH", kFontDir.c_str(), 1);
  return true;
}();

// Owns an error slot for one call.
struct Slot {
  Eerr_ErrorReport *report = nullptr;
  ~Slot() { eerr_DeleteErrorReportEx(&report); }
  Eerr_ErrorReport **operator&() {
    eerr_DeleteErrorReportEx(&report);
    return &report;
  }
  Eerr_ErrorReport *operator->() const { return report; }
  explicit operator bool() const { return report != nullptr; }
};

// The whole chain as "reporter #code: message" lines, newest first.
inline std::string Chain(const Eerr_ErrorReport *report) {
  std::string text;
  for (; report; report = report->next) {
    text += report->reporter ? report->reporter : "?";
    text += " #" + std::to_string(report->code) + ": ";
    text += report->message ? report->message : "";
    text += "\n";
  }
  return text;
}

inline ::testing::AssertionResult Reported(const Eerr_ErrorReport *report, const char *reporter,
                                           int code, const char *message) {
  if (!report) return ::testing::AssertionFailure() << "no report";
  if (std::string(report->reporter ? report->reporter : "") != reporter || report->code != code ||
      std::string(report->message ? report->message : "") != message || report->severity != 2)
    return ::testing::AssertionFailure() << "got " << Chain(report);
  return ::testing::AssertionSuccess();
}

} // namespace taviron::graphics::testing

#endif

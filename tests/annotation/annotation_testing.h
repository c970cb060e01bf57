// Shared by the annotation tests: report checks, a fixture that starts the package on the
// process's toolkit record and checks the heap, scratch files, and a test-only element type.
#ifndef TAVIRON_TESTS_ANNOTATION_TESTING_H
#define TAVIRON_TESTS_ANNOTATION_TESTING_H

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "eant.h"
#include "ecfg.h"
#include "eerr.h"
#include "emsc.h"
#include "eprf.h"
#include "taviron_testing.h"

namespace taviron::annotation::testing {

// Owns an error slot; taking its address again drops what it held.
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

// The newest report is (reporter, code, message) of severity 2.
inline ::testing::AssertionResult Reported(const Eerr_ErrorReport *report, const char *reporter, int code,
                                           const char *message) {
  if (!report) return ::testing::AssertionFailure() << "no report";
  if (std::string(report->reporter ? report->reporter : "") != reporter || report->code != code ||
      std::string(report->message ? report->message : "") != message || report->severity != 2)
    return ::testing::AssertionFailure() << "got " << Chain(report);
  return ::testing::AssertionSuccess();
}

// Checks that a test gives back every block of the heap it took.
class HeapTest : public ::testing::Test {
protected:
  void SetUp() override { live_ = emsc_TestLiveBlocks(); }
  void TearDown() override { EXPECT_EQ(live_, emsc_TestLiveBlocks()) << "blocks left on the heap"; }
  int64_t live_ = 0;
};

// The package started on the process's toolkit record for each test and freed after it. The
// preferences come from an empty directory, so the package takes their defaults.
class PackageTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("taviron_eant_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    setenv("NORIX_PREFERENCES_PATH", dir_.c_str(), 1);
    WritePreferences();
    eprf_DefaultDatabaseTerminate(); // the preferences are read afresh from dir_
    ecfg_Init(nullptr);
    Slot err;
    toolkit_ = eint_InitToolkit(&err);
    ASSERT_NE(nullptr, toolkit_);
    eant_Init(toolkit_, &err);
    ASSERT_FALSE(err) << Chain(err.report);
    data_ = static_cast<Eant_InitData *>(toolkit_->annotationData);
    ASSERT_NE(nullptr, data_);
    live_ = emsc_TestLiveBlocks();
  }
  // The blocks of the heap are those the test started with (the package's own included).
  ::testing::AssertionResult HeapAsAtStart() const {
    const int64_t live = emsc_TestLiveBlocks();
    if (live == live_) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << live - live_ << " blocks more than at the start";
  }
  void TearDown() override {
    auto *data = static_cast<Eant_InitData *>(toolkit_->annotationData);
    toolkit_->annotationData = nullptr;
    eant_InitDataFree(&data);
    eprf_DefaultDatabaseTerminate();
    std::filesystem::remove_all(dir_);
  }
  // The preference files a test starts with (none by default).
  virtual void WritePreferences() {}
  std::string Path(const std::string &name) const { return (dir_ / name).string(); }

  std::filesystem::path dir_;
  Eint_InitToolkitData *toolkit_ = nullptr;
  Eant_InitData *data_ = nullptr;
  int64_t live_ = 0;
};

// ---- A test-only element type ----
// Its record is one counter; freeing an element counts the frees of the type.

struct TestRecord {
  int32_t value;
};
inline int testElementFrees = 0;

inline void TestElementFree(Eant_Element **element) {
  if (!element || !*element) return;
  ++testElementFrees;
  emsc_HeapFree((*element)->info);
  eant_ElementFree(element);
}

inline const Eant_ElementFunctions kTestElementFunctions = [] {
  Eant_ElementFunctions table{};
  table.free = &TestElementFree;
  return table;
}();

// A new element of the test type (type code of a polyline) with its record; null on failure.
inline Eant_Element *NewTestElement(int32_t value) {
  auto *element = static_cast<Eant_Element *>(emsc_HeapMalloc(sizeof(Eant_Element)));
  auto *record = static_cast<TestRecord *>(emsc_HeapMalloc(sizeof(TestRecord)));
  if (!element || !record) {
    emsc_HeapFree(element);
    emsc_HeapFree(record);
    return nullptr;
  }
  record->value = value;
  element->elmType = EANT_POLYLINE;
  element->rowNumber = -1;
  element->functions = &kTestElementFunctions;
  element->info = record;
  eant_CharStrCreate("test element", &element->name, nullptr);
  return element;
}

} // namespace taviron::annotation::testing

#endif

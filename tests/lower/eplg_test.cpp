#include "eplg.h"

#include <gtest/gtest.h>

#include <string>

#include "ecfg.h"
#include "emsc.h"
#include "epmg.h"
#include "taviron_testing.h"

namespace {

std::string logged;
int32_t loggedLevel = 99;

int32_t LogFunction(int32_t level, Eerr_ErrorReport **err, const char *format, va_list ap) {
  char line[256];
  vsnprintf(line, sizeof line, format, ap);
  logged = line;
  loggedLevel = level;
  *err = nullptr;
  return 0;
}

TEST(EplgLog, MessageLogGoesThroughTheInstalledFunction) {
  taviron::testing::CapturedOutput output;
  eplg_SetLogFunction(&LogFunction);
  eerr_MessageLog(-1, "Empty Record %d", 7);
  EXPECT_EQ(logged, "Empty Record 7");
  EXPECT_EQ(loggedLevel, -1);
  eplg_SetLogFunction(nullptr);
  eerr_MessageLog(1, "Layer Info may be incorrect");
  EXPECT_EQ(logged, "Empty Record 7");
  EXPECT_EQ(output.Err(), "Layer Info may be incorrect\n");
}

int alternateCalls = 0;
void Alternate(void *, Eerr_ErrorReport *, void *, Eerr_ErrorReport **) { ++alternateCalls; }

TEST(EplgErrors, AltErrorFunctionIsTheLayersOwn) {
  taviron::testing::CapturedOutput output;
  EXPECT_EQ(eplg_SetAltErrorFunction(&Alternate), nullptr);
  EXPECT_EQ(eerr_GetAltErrorFunction(), &Alternate);
  Eerr_ErrorReport *report = eerr_CreateErrorReport("f", 1, 2, nullptr, "boom");
  eerr_PrintErrorReport(report, 1, nullptr);
  EXPECT_EQ(alternateCalls, 1);
  EXPECT_EQ(eplg_SetAltErrorFunction(nullptr), &Alternate);
  eerr_PrintErrorReport(report, 1, nullptr);
  EXPECT_EQ(alternateCalls, 1);
  EXPECT_NE(output.Err().find("boom"), std::string::npos);
  eerr_DeleteErrorReportEx(&report);
  eplg_SetVODEnvironment(); // nothing to refresh in one process
}

void GetHook(int32_t *, Epmg_Preference **record, Eerr_ErrorReport **) {
  (*record)->valueType = EPMG_TYPE_NUMBER;
  (*record)->value.number = 42;
}
char *GetClassHook(const char *) { return estr_Duplicate("plugged"); }

TEST(EplgHooks, InstallIntoTheLayersTables) {
  Eerr_ErrorReport *err = nullptr;
  int32_t kind = 1;
  eplg_PreferenceImplementationMethodsSet(1, &kind, 7, &GetHook, 0, &err);
  ASSERT_EQ(err, nullptr);
  EXPECT_DOUBLE_EQ(epmg_GetNumberPreference("vector", "memcache_limit", 1024, &err), 42);
  eplg_ConfigurationImplementationMethodsSet(ECFG_METHOD_GET_CLASS, &GetClassHook, 0, &err);
  ASSERT_EQ(err, nullptr);
  char *handle = ecfg_GetClass("x");
  EXPECT_STREQ(handle, "plugged");
  emsc_HeapFree(handle);

  for (int which = 0; which < 2; ++which) {
    if (which == 0)
      eplg_PreferenceImplementationMethodsSet(7, nullptr, 99, &GetHook, 0, &err);
    else
      eplg_ConfigurationImplementationMethodsSet(2, nullptr, 0x7fff, &GetClassHook, 0, &err);
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err->reporter, which == 0 ? "eplg_PreferenceImplementationMethodsSet"
                                           : "eplg_ConfigurationImplementationMethodsSet");
    eerr_DeleteErrorReportEx(&err);
  }
  // Nothing changed.
  EXPECT_DOUBLE_EQ(epmg_GetNumberPreference("vector", "memcache_limit", 1024, &err), 42);
  handle = ecfg_GetClass("x");
  EXPECT_STREQ(handle, "plugged");
  emsc_HeapFree(handle);

  eplg_PreferenceImplementationMethodsSet(1, nullptr, 7, nullptr, 0, &err);
  eplg_ConfigurationImplementationMethodsSet(2, nullptr, 0, &err);
  handle = ecfg_GetClass("x");
  EXPECT_STREQ(handle, "x");
  emsc_HeapFree(handle);
}

} // namespace

namespace {
int32_t Answer(const char *, int32_t style) { return style + 1; }
double shownPercent = -1;
void Show(Emet_MeterInfo *, void *, double percent, Eerr_ErrorReport **) { shownPercent = percent; }
} // namespace

TEST(EplgHooks, QueryAndMeterInstallersAreTheLayersOwn) {
  EXPECT_EQ(eplg_SetQueryFunction(&Answer), nullptr);
  EXPECT_EQ(efio_SetQueryFunction(nullptr), &Answer);

  Emet_MeterFuncs table{};
  table.print = &Show;
  Eerr_ErrorReport *err = nullptr;
  eplg_SetAltMeterFuncs(&table, nullptr, &err);
  Emet_MeterInfo meter{};
  emet_MeterInfoSet(&meter, 0.0, 100.0, &err);
  emet_MeterInfoPrint(&meter, 42.0, &err);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(shownPercent, 42.0);
  emet_SetAltMeterFuncs(nullptr, nullptr, &err);
}

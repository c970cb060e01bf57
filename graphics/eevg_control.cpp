// The renderer's control record, its preference record, device descriptions and world windows.
#include <atomic>
#include <mutex>
#include <cstdlib>
#include <cstring>

#include "eevg.h"
#include "eevg_internal.h"
#include "emsc.h"
#include "epmg.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace {

// The renderer's preferences, read on the first eevg_Init and kept up to date by the preference
// callbacks.
// Read once (std::call_once); the callbacks may change them from any thread later.
struct Preferences {
  std::atomic<int32_t> textFillOrder{0}; // 0 "Fill-First", 1 "Fill-Last"
  std::atomic<double> mitreLimit{10.0};
};

Preferences preferences;
std::once_flag preferencesRead;
std::mutex controlMutex; // the control record, made by the first eevg_Init that succeeds
Eevg_Control *control = nullptr;

void ApplyFillOrder(const char *text) {
  if (!text) return;
  if (std::strcmp(text, "Fill-First") == 0)
    preferences.textFillOrder = 0;
  else if (std::strcmp(text, "Fill-Last") == 0)
    preferences.textFillOrder = 1;
}

void FillOrderChanged(void *, Epmg_Preference *preference) {
  if (!preference) return;
  if (preference->valueType == EPMG_TYPE_ENUM || preference->valueType == EPMG_TYPE_STRING)
    ApplyFillOrder(preference->value.string);
}

void MitreLimitChanged(void *, Epmg_Preference *preference) {
  if (!preference) return;
  if (preference->valueType == EPMG_TYPE_NUMBER) {
    preferences.mitreLimit = preference->value.number;
  } else if ((preference->valueType == EPMG_TYPE_STRING || preference->valueType == EPMG_TYPE_ENUM) &&
             preference->value.string) {
    char *end = nullptr;
    const double value = std::strtod(preference->value.string, &end);
    if (end != preference->value.string && *end == '\0') preferences.mitreLimit = value;
  }
}

void ReadPreferences() {
  Eerr_ErrorReport *dropped = nullptr;
  char *order = epmg_GetEnumPreference("annotation", "text_fill_order", "Fill-First", &dropped);
  eerr_DeleteErrorReportEx(&dropped);
  ApplyFillOrder(order);
  emsc_HeapFree(order);
  preferences.mitreLimit = epmg_GetNumberPreference("annotation", "mitre_limit", 10.0, &dropped);
  eerr_DeleteErrorReportEx(&dropped);
  epmg_AddPreferenceCallback("annotation", "text_fill_order", FillOrderChanged, nullptr, &dropped);
  eerr_DeleteErrorReportEx(&dropped);
  epmg_AddPreferenceCallback("annotation", "mitre_limit", MitreLimitChanged, nullptr, &dropped);
  eerr_DeleteErrorReportEx(&dropped);
}

} // namespace

namespace taviron::graphics {

int32_t PreferredTextFillOrder() { return preferences.textFillOrder; }
double PreferredMitreLimit() { return preferences.mitreLimit; }

} // namespace taviron::graphics

extern "C" {

Eevg_Control *eevg_Init(Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_Init";
  lower::Clear(err);
  std::call_once(preferencesRead, ReadPreferences);
  std::lock_guard<std::mutex> lock(controlMutex);
  if (control) return control;
  Eerr_ErrorReport *inner = nullptr;
  const int32_t count = eevg_FontDataBaseFontCountGet(&inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 1, "eevg_FontDataBaseFontCountGet");
    return nullptr;
  }
  auto *record = static_cast<Eevg_Control *>(emsc_HeapMalloc(sizeof(Eevg_Control)));
  if (!record) {
    lower::Report(err, reporter, 2, "Error allocating Eevg Control Record");
    return nullptr;
  }
  record->loadedFonts = static_cast<uint8_t *>(
      emsc_HeapMalloc(static_cast<std::size_t>(count > 0 ? count : 1) * EEVG_LOADED_FONT_SIZE));
  if (!record->loadedFonts) {
    emsc_HeapFree(record);
    lower::Report(err, reporter, 3, "Error allocating Eevg Loaded Fonts");
    return nullptr;
  }
  record->loadedFontCount = count;
  record->loadedFontsUsed = 0;
  control = record;
  return control;
} TAVIRON_GUARD(err, nullptr)

void eevg_Free(Eevg_Control **record, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (record) *record = nullptr;
} TAVIRON_GUARD_VOID(err)

Eevg_DeviceInfo *eevg_DeviceInfoCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *device = static_cast<Eevg_DeviceInfo *>(emsc_HeapMalloc(sizeof(Eevg_DeviceInfo)));
  if (device) device->lineWidthUnit = 2;
  return device;
} TAVIRON_GUARD(err, nullptr)

void eevg_DeviceInfoFree(Eevg_DeviceInfo **device) try {
  if (!device || !*device) return;
  emsc_HeapFreeEx(device);
} TAVIRON_GUARD_QUIET_VOID

Eevg_WorldInfo *eevg_WorldInfoCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *world = static_cast<Eevg_WorldInfo *>(emsc_HeapMalloc(sizeof(Eevg_WorldInfo)));
  if (!world) {
    lower::Report(err, "eevg_WorldInfoCreate", 1, "Error allocating Eevg World Record");
    return nullptr;
  }
  world->lowerLeft = eevg_CoordCreate(err);
  if (world->lowerLeft) world->upperRight = eevg_CoordCreate(err);
  if (!world->lowerLeft || !world->upperRight) {
    eevg_WorldInfoFree(&world);
    return nullptr;
  }
  return world;
} TAVIRON_GUARD(err, nullptr)

void eevg_WorldInfoFree(Eevg_WorldInfo **world) try {
  if (!world || !*world) return;
  eevg_CoordFree(&(*world)->lowerLeft);
  eevg_CoordFree(&(*world)->upperRight);
  emsc_HeapFreeEx(world);
} TAVIRON_GUARD_QUIET_VOID

} // extern "C"

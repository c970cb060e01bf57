// The annotation package data: built once per toolkit record into its word 0, with the one
// dictionary of stored designs and the five "annotation" preferences (kept current by change
// callbacks); and the copy of a design from that dictionary into a file's own.
#include <cstdlib>

#include "eant_internal.h"
#include "emsc.h"
#include "epmg.h"

namespace lower = taviron::lower;
using taviron::eant::PackageData;

namespace {

constexpr const char *kCategory = "annotation";

// The define operations of the dictionary, in the order a nested design comes before the
// designs that nest it. The failure of row n is reported with code n + 1 under the row's name.
struct DictionaryRow {
  const char *name;
  Emif_Design *(*define)(Emif_Dictionary *, Eerr_ErrorReport **);
};
constexpr DictionaryRow kDictionaryRows[] = {
    {"efga_PolynomialDesignDefine", efga_PolynomialDesignDefine},
    {"eant_AntHeaderDesignDefine", eant_AntHeaderDesignDefine},
    {"eant_CoordDefinitionDesignDefine", eant_CoordDefinitionDesignDefine},
    {"eant_StyleDesignDefine", eant_StyleDesignDefine},
    {"eevg_CoordDesignDefine", eevg_CoordDesignDefine},
    {"eevg_AlignDesignDefine", eevg_AlignDesignDefine},
    {"eant_VectorDataDesignDefine", eant_VectorDataDesignDefine},
    {"eant_TextDataDesignDefine", eant_TextDataDesignDefine},
    {"eant_GridTicDesignDefine", eant_GridTicDesignDefine},
    {"eant_LegendDesignDefine", eant_LegendDesignDefine},
    {"eant_ScaleBarDesignDefine", eant_ScaleBarDesignDefine},
    {"eant_RectangleDesignDefine", eant_RectangleDesignDefine},
    {"eant_EllipseDesignDefine", eant_EllipseDesignDefine},
    {"eant_PolygonDesignDefine", eant_PolygonDesignDefine},
    {"eant_PolylineDesignDefine", eant_PolylineDesignDefine},
    {"eant_PointDesignDefine", eant_PointDesignDefine},
    {"eant_ArcDesignDefine", eant_ArcDesignDefine},
    {"eant_TextDesignDefine", eant_TextDesignDefine},
    {"eant_SymbolDesignDefine", eant_SymbolDesignDefine},
    {"eant_GroupDesignDefine", eant_GroupDesignDefine},
    {"eant_ElementDesignDefine", eant_ElementDesignDefine},
    {"eant_ColorDesignDefine", eant_ColorDesignDefine},
    {"eant_LineDescriptionDesignDefine", eant_LineDescriptionDesignDefine},
    {"eevg_LinePatternSegmentDesignDefine", eevg_LinePatternSegmentDesignDefine},
    {"eevg_ArrowendDesignDefine", eevg_ArrowEndDesignDefine},
    {"eant_LineSymbolDesignDefine", eant_LineSymbolDesignDefine},
    {"eant_PatternFillDesignDefine", eant_PatternFillDesignDefine},
    {"eant_FillPatternDesignDefine", eant_FillPatternDesignDefine},
    {"eant_LineStyleDesignDefine", eant_LineStyleDesignDefine},
    {"eant_FillStyleDesignDefine", eant_FillStyleDesignDefine},
    {"eant_TextShadowDesignDefine", eant_TextShadowDesignDefine},
    {"eant_TextStyleDesignDefine", eant_TextStyleDesignDefine},
    {"eant_StyleLibraryDesignDefine", eant_StyleLibraryDesignDefine},
    {"eant_SymbolDataDesignDefine", eant_SymbolDataDesignDefine},
    {"eant_SymbolLibraryDesignDefine", eant_SymbolLibraryDesignDefine},
    {"eant_ElementNodeDesignDefine", eant_ElementNodeDesignDefine},
    {"eant_AnnotationVersionDesignDefine", eant_AnnotationVersionDesignDefine},
    {"eant_SelectedStylesDesignDefine", eant_SelectedStylesDesignDefine},
};

// The preferences read into the package data: numbers into a double, unit names into a
// lower-case heap string.
struct NumberPreference {
  const char *key;
  double Eant_InitData::*field;
};
constexpr NumberPreference kNumbers[] = {{"mitre_limit", &Eant_InitData::mitreLimit},
                                         {"annotation_text_height", &Eant_InitData::textHeight},
                                         {"annotation_symbol_size", &Eant_InitData::symbolSize}};
struct UnitsPreference {
  const char *key;
  char *Eant_InitData::*field;
};
constexpr UnitsPreference kUnits[] = {{"annotation_text_units", &Eant_InitData::textUnits},
                                      {"annotation_symbol_units", &Eant_InitData::symbolUnits}};
constexpr double kDefaultNumber = 10;
constexpr const char *kDefaultUnits = "Points";

// The number a changed preference carries (a number, or a text that is one whole number).
bool NumberOf(const Epmg_Preference &preference, double &value) {
  if (preference.valueType == EPMG_TYPE_NUMBER) {
    value = preference.value.number;
    return true;
  }
  if ((preference.valueType == EPMG_TYPE_STRING || preference.valueType == EPMG_TYPE_ENUM) &&
      preference.value.string && *preference.value.string) {
    char *end = nullptr;
    value = std::strtod(preference.value.string, &end);
    return end && *end == '\0';
  }
  return false;
}

// The change callbacks copy the new value into the package data of the process's toolkit record.
template <std::size_t Index> void NumberChanged(void *, Epmg_Preference *preference) {
  Eant_InitData *data = PackageData(eint_GetInit());
  double value = 0;
  if (data && preference && NumberOf(*preference, value)) data->*kNumbers[Index].field = value;
}

template <std::size_t Index> void UnitsChanged(void *, Epmg_Preference *preference) {
  Eant_InitData *data = PackageData(eint_GetInit());
  if (!data || !preference) return;
  if (preference->valueType != EPMG_TYPE_STRING && preference->valueType != EPMG_TYPE_ENUM) return;
  char *units = estr_Duplicate(preference->value.string);
  if (!units) return;
  estr_LowerCase(units);
  char *&field = data->*kUnits[Index].field;
  emsc_HeapFree(field);
  field = units;
}

constexpr Epmg_PreferenceCallback kNumberCallbacks[] = {NumberChanged<0>, NumberChanged<1>, NumberChanged<2>};
constexpr Epmg_PreferenceCallback kUnitsCallbacks[] = {UnitsChanged<0>, UnitsChanged<1>};

void ReadPreferences(Eant_InitData &data) {
  for (const NumberPreference &number : kNumbers) {
    lower::CalleeReport ignored;
    data.*number.field = epmg_GetNumberPreference(kCategory, number.key, kDefaultNumber, &ignored);
  }
  for (const UnitsPreference &units : kUnits) {
    lower::CalleeReport ignored;
    char *value = epmg_GetEnumPreference(kCategory, units.key, kDefaultUnits, &ignored);
    if (value) estr_LowerCase(value);
    data.*units.field = value;
  }
}

void RegisterCallbacks() {
  for (std::size_t i = 0; i < std::size(kNumbers); ++i) {
    lower::CalleeReport ignored;
    epmg_AddPreferenceCallback(kCategory, kNumbers[i].key, kNumberCallbacks[i], nullptr, &ignored);
  }
  for (std::size_t i = 0; i < std::size(kUnits); ++i) {
    lower::CalleeReport ignored;
    epmg_AddPreferenceCallback(kCategory, kUnits[i].key, kUnitsCallbacks[i], nullptr, &ignored);
  }
}

} // namespace

extern "C" {

void eant_Init(Eint_InitToolkitData *toolkit, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_Init";
  lower::Clear(err);
  if (!toolkit) {
    lower::Report(err, reporter, 1, "Invalid input Eint_InitToolkitData");
    return;
  }
  auto *old = static_cast<Eant_InitData *>(toolkit->annotationData);
  toolkit->annotationData = nullptr;
  eant_InitDataFree(&old);
  lower::CalleeReport inner;
  Eant_InitData *data = eant_InitDataCreate(&inner);
  if (!data) {
    lower::ReportCallee(err, inner, reporter, 1, "eant_InitDataCreate");
    return;
  }
  // Without a dictionary the package still starts: the failure is reported.
  data->dictionary = eant_InitDictionaryCreate(&inner);
  if (!data->dictionary) lower::ReportCallee(err, inner, reporter, 2, "eant_InitDictionaryCreate");
  ReadPreferences(*data);
  RegisterCallbacks();
  toolkit->annotationData = data;
} TAVIRON_GUARD_VOID(err)

void eant_InitIfNeeded(Eint_InitToolkitData *toolkit, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_InitIfNeeded";
  lower::Clear(err);
  if (!toolkit) {
    lower::Report(err, reporter, 1, "Invalid input Eint_InitToolkitData");
    return;
  }
  if (toolkit->annotationData) return;
  lower::CalleeReport inner;
  eant_Init(toolkit, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 2, "eant_Init");
} TAVIRON_GUARD_VOID(err)

Eant_InitData *eant_InitDataCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *data = lower::HeapNew<Eant_InitData>();
  if (!data) lower::Report(err, "eant_InitDataCreate", 1, "Error allocating InitData");
  return data;
} TAVIRON_GUARD(err, nullptr)

void eant_InitDataFree(Eant_InitData **data) try {
  if (!data || !*data) return;
  Eant_InitData *package = *data;
  eant_StyleLibraryFree(&package->styleLibraryCache);
  eant_SymbolLibraryFree(&package->symbolLibraryCache);
  emif_DictionaryDelete(package->dictionary, nullptr);
  emsc_HeapFree(package->textUnits);
  emsc_HeapFree(package->symbolUnits);
  emsc_HeapFreeEx(data);
} TAVIRON_GUARD_QUIET_VOID

Emif_Dictionary *eant_InitDictionaryCreate(Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_InitDictionaryCreate";
  lower::Clear(err);
  lower::CalleeReport inner;
  Emif_Dictionary *dictionary = emif_DictionaryCreate(&inner);
  if (!dictionary) {
    lower::ReportCallee(err, inner, reporter, 1, "emif_NewDictionary");
    return nullptr;
  }
  int32_t code = 1;
  for (const DictionaryRow &row : kDictionaryRows) {
    ++code;
    if (!row.define(dictionary, &inner)) {
      lower::ReportCallee(err, inner, reporter, code, row.name);
      emif_DictionaryDelete(dictionary, nullptr);
      return nullptr;
    }
  }
  return dictionary;
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eant_PutDesignInDictionary(Eant_InitData *data, const char *designName,
                                        Emif_Dictionary *fileDictionary, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_PutDesignInDictionary";
  lower::Clear(err);
  if (!data) {
    lower::Report(err, reporter, 1, "Invalid input annotation initdata");
    return nullptr;
  }
  if (!designName) {
    lower::Report(err, reporter, 2, "Invalid input designName");
    return nullptr;
  }
  if (!fileDictionary) {
    lower::Report(err, reporter, 3, "Invalid input dictionary");
    return nullptr;
  }
  // The package's design lays the record out in memory, so it is the one a writer encodes by; the
  // file's own design of the name, when it has one, may differ (an older or damaged file), and the
  // file's writer compares the two before it writes.
  lower::CalleeReport inner;
  Emif_Design *design = data->dictionary ? emif_FindDesignByName(data->dictionary, designName, &inner) : nullptr;
  if (!design) {
    lower::ReportCallee(err, inner, reporter, 4, "emif_FindDesignByName"); // also without a callee report
    return nullptr;
  }
  if (emif_FindDesignByName(fileDictionary, designName, nullptr)) return design;
  if (!emif_AddDesignToDictionary(fileDictionary, design, &inner)) {
    lower::ReportCallee(err, inner, reporter, 5, "emif_AddDesignToDictionary");
    return nullptr;
  }
  return design;
} TAVIRON_GUARD(err, nullptr)

} // extern "C"

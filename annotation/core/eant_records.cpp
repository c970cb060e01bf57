// Small records of the annotation model: the database access of smart text with the process's
// current record, the sort records of the distribute operation, and the font list.
#include "eant_internal.h"
#include "egda_pixel.h"
#include "emsc.h"

namespace lower = taviron::lower;

namespace {

// The process's current database access (made current for the time of a render).
Eant_DBIData *currentDBIData = nullptr;

// The centre of a sort record's box along row 0 (x) or 1 (y); false when the record or box is
// missing.
bool Centre(const void *record, int32_t row, double &centre) {
  const auto *order = static_cast<const Eant_GeoOrder *>(record);
  if (!order || !order->bBox) return false;
  const Evec_Bbox &box = *order->bBox;
  if (!box.origin || box.pixelType != EGDA_TYPE_F64 || box.rows < 2 || box.columns < 2) return false;
  const double first = lower::At<double>(box, row, 0);
  const double second = lower::At<double>(box, row, 1);
  const double low = first < second ? first : second;
  const double high = first < second ? second : first;
  centre = (high - low) * 0.5 + low;
  return true;
}

int32_t Order(double a, double b) { return a < b ? -1 : (a > b ? 1 : 0); }

int32_t ByCentre(const void *a, const void *b, int32_t row) {
  double x = 0, y = 0;
  if (!Centre(a, row, x) || !Centre(b, row, y)) return 0;
  return Order(x, y);
}

} // namespace

extern "C" {

// ---- Database access -------------------------------------------------------------------------

Eant_DBIData *eant_DBIData(void) try { return currentDBIData; } TAVIRON_GUARD_QUIET(nullptr)

Eant_DBIData *eant_DBIDataSet(Eant_DBIData *record) try {
  currentDBIData = record;
  return record;
} TAVIRON_GUARD_QUIET(nullptr)

Eant_DBIData *eant_DBIDataCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *record = lower::HeapNew<Eant_DBIData>();
  if (!record) lower::Report(err, "eant_DBIDataCreate", 1, "Error allocating DBIData");
  return record;
} TAVIRON_GUARD(err, nullptr)

Eant_DBIData *eant_DBIDataFunctionsAndDataSet(Eant_DBIData *record, Eant_AttributeStringFunction attributeString,
                                              Eant_ColumnNumberFunction columnNumber, void *data,
                                              Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!record) {
    lower::CalleeReport inner;
    record = eant_DBIDataCreate(&inner);
    if (!record) {
      lower::ReportCallee(err, inner, "eant_DBIDataFunctionsAndDataSet", 1, "eant_DBIDataCreate");
      return nullptr;
    }
  }
  record->attributeStringCallback = attributeString;
  record->columnNumberCallback = columnNumber;
  record->data = data;
  return record;
} TAVIRON_GUARD(err, nullptr)

void eant_DBIDataCurrentRowSet(Eant_DBIData *record, int32_t row, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!record) {
    lower::Report(err, "eant_DBIDataCurrentRowSet", 1, "Invalid input dbiData");
    return;
  }
  record->currentRow = row;
} TAVIRON_GUARD_VOID(err)

void eant_DBIDataFree(Eant_DBIData **record) try {
  if (!record || !*record) return;
  if (*record == currentDBIData) currentDBIData = nullptr;
  emsc_HeapFreeEx(record);
} TAVIRON_GUARD_QUIET_VOID

// ---- Sort records of the distribute operation -----------------------------------------------

Eant_GeoOrder *eant_GeoOrderCreate(int32_t count, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  // Every record starts zeroed (no box, sequence and rank 0): the free walks all of them.
  auto *array = lower::HeapNewArray<Eant_GeoOrder>(count);
  if (!array) lower::Report(err, "eant_GeoOrderCreate", 1, "Error allocating GeoOrders");
  return array;
} TAVIRON_GUARD(err, nullptr)

void eant_GeoOrderFree(Eant_GeoOrder **array, int32_t count) try {
  if (!array || !*array) return;
  for (int32_t i = 0; i < count; ++i)
    if ((*array)[i].bBox) evec_BboxDelete((*array)[i].bBox, nullptr);
  emsc_HeapFreeEx(array);
} TAVIRON_GUARD_QUIET_VOID

int32_t eant_GeoOrderOrderHorizontal(const void *a, const void *b) try {
  return ByCentre(a, b, 0);
} TAVIRON_GUARD_QUIET(0)

int32_t eant_GeoOrderOrderVertical(const void *a, const void *b) try {
  return ByCentre(a, b, 1);
} TAVIRON_GUARD_QUIET(0)

int32_t eant_GeoOrderOrderSequential(const void *a, const void *b) try {
  if (!a || !b) return 0;
  return Order(static_cast<const Eant_GeoOrder *>(a)->sequence, static_cast<const Eant_GeoOrder *>(b)->sequence);
} TAVIRON_GUARD_QUIET(0)

// ---- Font list ------------------------------------------------------------------------------

Eevg_FontDataBaseRecord *eant_FontListCreate(Eerr_ErrorReport **err) try {
  return eevg_FontDataBaseCreate(err);
} TAVIRON_GUARD(err, nullptr)

char *eant_FontListLookupFontName(Eevg_FontDataBaseRecord *fontList, const char *fontFileName,
                                  Eerr_ErrorReport **err) try {
  return eevg_FontDataBaseLookupFontName(fontList, fontFileName, err);
} TAVIRON_GUARD(err, nullptr)

char *eant_FontListLookupFontFileName(Eevg_FontDataBaseRecord *fontList, const char *fontName,
                                      Eerr_ErrorReport **err) try {
  return eevg_FontDataBaseLookupFontFileName(fontList, fontName, err);
} TAVIRON_GUARD(err, nullptr)

Eevg_FontDataBaseRecord *eant_FontListLookupByFontName(Eevg_FontDataBaseRecord *fontList, const char *fontName,
                                                       Eerr_ErrorReport **err) try {
  return eevg_FontDataBaseLookupByFontName(fontList, fontName, err);
} TAVIRON_GUARD(err, nullptr)

Eevg_FontDataBaseRecord *eant_FontListLookupByFontFileName(Eevg_FontDataBaseRecord *fontList,
                                                           const char *fontFileName, Eerr_ErrorReport **err) try {
  return eevg_FontDataBaseLookupByFontFileName(fontList, fontFileName, err);
} TAVIRON_GUARD(err, nullptr)

void eant_FontListFree(Eevg_FontDataBaseRecord **fontList) try {
  if (fontList) *fontList = nullptr;
} TAVIRON_GUARD_QUIET_VOID

} // extern "C"

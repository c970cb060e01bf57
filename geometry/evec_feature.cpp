// Feature records and feature lists of the vector layers.
#include <cstddef>
#include <type_traits>

#include "emsc.h"
#include "evec.h"
#include "evec_internal.h"
#include "guard.h"

namespace geo = taviron::geometry;

namespace {

// A record owning a new coordinate.
template <class Record> Record *CreateWithCoord(Eerr_ErrorReport **err) {
  geo::Clear(err);
  auto *record = static_cast<Record *>(emsc_HeapMalloc(sizeof(Record)));
  if (!record) return nullptr;
  record->coord = static_cast<Evec_Coord *>(emsc_HeapMalloc(sizeof(Evec_Coord)));
  if (!record->coord) {
    emsc_HeapFree(record);
    return nullptr;
  }
  return record;
}

template <class Record> void DeleteWithCoord(Record *record, Eerr_ErrorReport **err) {
  geo::Clear(err);
  if (!record) return;
  emsc_HeapFree(record->coord);
  emsc_HeapFree(record);
}

// A list of count records (no array for 0; null for a negative count or out of memory).
template <class List> List *CreateList(int32_t count, Eerr_ErrorReport **err) {
  geo::Clear(err);
  if (count < 0) return nullptr;
  auto *list = static_cast<List *>(emsc_HeapMalloc(sizeof(List)));
  if (!list) return nullptr;
  list->count = count;
  if (count > 0) {
    using Record = std::remove_pointer_t<decltype(list->records)>;
    list->records = static_cast<Record *>(
        emsc_HeapMalloc(static_cast<std::size_t>(count) * sizeof(Record)));
    if (!list->records) {
      emsc_HeapFree(list);
      return nullptr;
    }
  }
  return list;
}

template <class List> void DeleteList(List *list, Eerr_ErrorReport **err) {
  geo::Clear(err);
  if (!list) return;
  emsc_HeapFree(list->records);
  emsc_HeapFree(list);
}

} // namespace

extern "C" {

Evec_NodeRecord *evec_NodeCreate(Eerr_ErrorReport **err) try {
  return CreateWithCoord<Evec_NodeRecord>(err);
} TAVIRON_GUARD(err, nullptr)
Evec_PointRecord *evec_PointCreate(Eerr_ErrorReport **err) try {
  return CreateWithCoord<Evec_PointRecord>(err);
} TAVIRON_GUARD(err, nullptr)
void evec_NodeDelete(Evec_NodeRecord *node, Eerr_ErrorReport **err) try { DeleteWithCoord(node, err); } TAVIRON_GUARD_VOID(err)
void evec_PointDelete(Evec_PointRecord *point, Eerr_ErrorReport **err) try {
  DeleteWithCoord(point, err);
} TAVIRON_GUARD_VOID(err)

#define EVEC_FEATURE_LIST(Kind, Type)                                                              \
  Type *evec_##Kind##ListCreate(int32_t count, Eerr_ErrorReport **err) try {                      \
    return CreateList<Type>(count, err);                                                           \
  } TAVIRON_GUARD(err, nullptr)                                                                    \
  void evec_##Kind##ListDelete(Type *list, Eerr_ErrorReport **err) try {                          \
    DeleteList(list, err);                                                                         \
  } TAVIRON_GUARD_VOID(err)

EVEC_FEATURE_LIST(Node, Evec_NodeList)
EVEC_FEATURE_LIST(Arc, Evec_ArcList)
EVEC_FEATURE_LIST(Poly, Evec_PolyList)
EVEC_FEATURE_LIST(Point, Evec_PointList)
EVEC_FEATURE_LIST(Region, Evec_RegionList)
EVEC_FEATURE_LIST(Section, Evec_SectionList)
EVEC_FEATURE_LIST(Line, Evec_LineList)
EVEC_FEATURE_LIST(Locus, Evec_LocusList)
EVEC_FEATURE_LIST(Complex, Evec_ComplexList)

#undef EVEC_FEATURE_LIST

} // extern "C"

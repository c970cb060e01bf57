// A record with an item of every design type code, shared by the tests of the record codec and
// of the hierarchical files.
#ifndef TAVIRON_TESTS_EMIF_RECORDS_H
#define TAVIRON_TESTS_EMIF_RECORDS_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "egda.h"
#include "emif.h"
#include "emif_internal.h"
#include "emsc.h"

namespace emif_records {

struct Inner {
  int32_t id;
  Emif_String label;
};

template <class T> struct Counted {
  int32_t count;
  T *items;
};

// A record with an item of every type code.
struct AllTypes {
  Inner object;
  Inner record;
  int32_t kind;
  uint8_t u8;
  char ch;
  uint16_t u16;
  int16_t s16;
  uint32_t u32;
  int32_t s32;
  float f32;
  double f64;
  Egda_BaseData histogram;
  char chars[8];
  float floats[3];
  Inner inners[2];
  Counted<Inner> list;
  Counted<uint8_t> bytes;
  Emif_String text;
  Counted<double> doubles;
  Counted<Egda_BaseData> matrices;
  Inner *pointer;
  Egda_BaseData *matrix;
};

namespace emif = taviron::emif;
constexpr auto kInnerLayout = emif::RecordLayoutOf({{EMIF_TYPE_S32}, {EMIF_TYPE_STRING}});
constexpr emif::Layout kInner = kInnerLayout.AsNested();
constexpr auto kAllLayout = emif::RecordLayoutOf(
    {{1, 0, kInner}, {2, 0, kInner}, {3}, {7}, {8}, {9}, {10}, {11}, {12}, {13}, {14}, {17},
     {264, 8}, {269, 3}, {258, 2, kInner}, {514, 0, kInner}, {516}, {520}, {526}, {529},
     {1026, 0, kInner}, {1041}});
static_assert(kInnerLayout.size == sizeof(Inner) && kInnerLayout.offsets[1] == offsetof(Inner, label));
static_assert(kAllLayout.size == sizeof(AllTypes));
static_assert(kAllLayout.offsets[11] == offsetof(AllTypes, histogram));
static_assert(kAllLayout.offsets[14] == offsetof(AllTypes, inners));
static_assert(kAllLayout.offsets[19] == offsetof(AllTypes, matrices));
static_assert(kAllLayout.offsets[21] == offsetof(AllTypes, matrix));

const std::vector<int32_t> kAllOffsets = {
    offsetof(AllTypes, object),    offsetof(AllTypes, record),   offsetof(AllTypes, kind),
    offsetof(AllTypes, u8),        offsetof(AllTypes, ch),       offsetof(AllTypes, u16),
    offsetof(AllTypes, s16),       offsetof(AllTypes, u32),      offsetof(AllTypes, s32),
    offsetof(AllTypes, f32),       offsetof(AllTypes, f64),      offsetof(AllTypes, histogram),
    offsetof(AllTypes, chars),     offsetof(AllTypes, floats),   offsetof(AllTypes, inners),
    offsetof(AllTypes, list),      offsetof(AllTypes, bytes),    offsetof(AllTypes, text),
    offsetof(AllTypes, doubles),   offsetof(AllTypes, matrices), offsetof(AllTypes, pointer),
    offsetof(AllTypes, matrix)};

inline Emif_Design *DefineInner(Emif_Dictionary *d, Eerr_ErrorReport **err) {
  return emif_DesignCreate(d, "Inner", err, 12, "id", 520, "label", 0);
}

inline Emif_Design *DefineAll(Emif_Dictionary *d, Eerr_ErrorReport **err) {
  return emif_DesignCreate(d, "AllTypes", err, 1, "object", "Inner", 2, "record", "Inner", 3, "kind",
                           "A", "B", "C", nullptr, 7, "u8", 8, "ch", 9, "u16", 10, "s16", 11, "u32",
                           12, "s32", 13, "f32", 14, "f64", 17, "histogram", 264, "chars", 8, 269,
                           "floats", 3, 258, "inners", "Inner", 2, 514, "list", "Inner", 516,
                           "bytes", 520, "text", 526, "doubles", 529, "matrices", 1026, "pointer",
                           "Inner", 1041, "matrix", 0);
}

inline void SetString(Emif_String &s, const char *text) { ASSERT_TRUE(emif_EmifStringFromString(&s, text)); }

template <class T> T *HeapArray(std::initializer_list<T> values) {
  auto *p = static_cast<T *>(emsc_HeapMalloc(sizeof(T) * values.size()));
  std::copy(values.begin(), values.end(), p);
  return p;
}

inline Egda_BaseData *Matrix(int32_t rows, int32_t columns, int32_t type, int32_t objectType, double seed) {
  Egda_BaseData *m = egda_BaseDataCreate(rows, columns, type, objectType, nullptr, nullptr);
  egda_BaseDataSetScalar(m, seed, 0, 0, nullptr);
  if (type == EGDA_TYPE_F64 && rows * columns > 1) reinterpret_cast<double *>(m->data)[1] = seed + 0.5;
  return m;
}

// Fills a record with a value in every item (the caller frees its contents by the design).
inline void Fill(AllTypes &r, const Emif_Design *all) {
  std::memset(&r, 0, sizeof r);
  r.object.id = 1;
  SetString(r.object.label, "object");
  r.record.id = 2;
  r.kind = 2;
  r.u8 = 200;
  r.ch = 'x';
  r.u16 = 60000;
  r.s16 = -300;
  r.u32 = 4000000000u;
  r.s32 = -123456;
  r.f32 = 1.5f;
  r.f64 = -2.25;
  Egda_BaseData *h = Matrix(1, 4, EGDA_TYPE_U32, EGDA_TABLE, 7);
  r.histogram = *h; // the record takes over the buffer
  emsc_HeapFree(h);
  std::memcpy(r.chars, "abcdefg", 8);
  r.floats[0] = 0.5f;
  r.floats[2] = -8;
  r.inners[0].id = 10;
  SetString(r.inners[1].label, "second");
  r.list.count = 2;
  r.list.items = static_cast<Inner *>(emsc_HeapMalloc(2 * sizeof(Inner)));
  r.list.items[0].id = 20;
  r.list.items[1].id = 21;
  SetString(r.list.items[1].label, "list");
  r.bytes.count = 3;
  r.bytes.items = HeapArray<uint8_t>({1, 0, 255});
  // A stored text may hold several zero-separated parts.
  r.text.count = 8;
  r.text.string = static_cast<char *>(emsc_HeapMalloc(8));
  std::memcpy(r.text.string, "one\0two", 8);
  r.doubles.count = 2;
  r.doubles.items = HeapArray<double>({3.25, -1e300});
  r.matrices.count = 2;
  r.matrices.items = static_cast<Egda_BaseData *>(emsc_HeapMalloc(2 * sizeof(Egda_BaseData)));
  for (int i = 0; i < 2; ++i) {
    Egda_BaseData *m = Matrix(2, 3, i ? EGDA_TYPE_S16 : EGDA_TYPE_F64, EGDA_MATRIX, 4 + i);
    r.matrices.items[i] = *m;
    emsc_HeapFree(m);
  }
  r.pointer = static_cast<Inner *>(emsc_HeapMalloc(sizeof(Inner)));
  r.pointer->id = 30;
  r.matrix = Matrix(3, 2, EGDA_TYPE_C64, EGDA_RASTER, 9);
  (void)all;
}

inline std::string MatrixBytes(const Egda_BaseData &m) {
  return std::string(reinterpret_cast<const char *>(m.data), static_cast<std::size_t>(m.count * m.elementSize));
}
inline bool SameMatrix(const Egda_BaseData &a, const Egda_BaseData &b) {
  return a.rows == b.rows && a.columns == b.columns && a.pixelType == b.pixelType &&
         a.objectType == b.objectType && MatrixBytes(a) == MatrixBytes(b);
}
inline std::string Text(const Emif_String &s) { return s.string ? std::string(s.string, static_cast<std::size_t>(s.count)) : "(null)"; }
inline bool SameInner(const Inner &a, const Inner &b) { return a.id == b.id && Text(a.label) == Text(b.label); }

inline void ExpectEqual(const AllTypes &a, const AllTypes &b) {
  EXPECT_TRUE(SameInner(a.object, b.object));
  EXPECT_TRUE(SameInner(a.record, b.record));
  EXPECT_EQ(a.kind, b.kind);
  EXPECT_EQ(a.u8, b.u8);
  EXPECT_EQ(a.ch, b.ch);
  EXPECT_EQ(a.u16, b.u16);
  EXPECT_EQ(a.s16, b.s16);
  EXPECT_EQ(a.u32, b.u32);
  EXPECT_EQ(a.s32, b.s32);
  EXPECT_EQ(a.f32, b.f32);
  EXPECT_EQ(a.f64, b.f64);
  EXPECT_TRUE(SameMatrix(a.histogram, b.histogram));
  EXPECT_EQ(0, std::memcmp(a.chars, b.chars, 8));
  EXPECT_EQ(0, std::memcmp(a.floats, b.floats, sizeof a.floats));
  EXPECT_TRUE(SameInner(a.inners[0], b.inners[0]) && SameInner(a.inners[1], b.inners[1]));
  ASSERT_EQ(a.list.count, b.list.count);
  for (int i = 0; i < a.list.count; ++i) EXPECT_TRUE(SameInner(a.list.items[i], b.list.items[i]));
  ASSERT_EQ(a.bytes.count, b.bytes.count);
  EXPECT_EQ(0, std::memcmp(a.bytes.items, b.bytes.items, static_cast<std::size_t>(a.bytes.count)));
  EXPECT_EQ(Text(a.text), Text(b.text));
  ASSERT_EQ(a.doubles.count, b.doubles.count);
  for (int i = 0; i < a.doubles.count; ++i) EXPECT_EQ(a.doubles.items[i], b.doubles.items[i]);
  ASSERT_EQ(a.matrices.count, b.matrices.count);
  for (int i = 0; i < a.matrices.count; ++i) EXPECT_TRUE(SameMatrix(a.matrices.items[i], b.matrices.items[i]));
  ASSERT_EQ(a.pointer == nullptr, b.pointer == nullptr);
  if (a.pointer) {
    EXPECT_TRUE(SameInner(*a.pointer, *b.pointer));
  }
  ASSERT_EQ(a.matrix == nullptr, b.matrix == nullptr);
  if (a.matrix) {
    EXPECT_TRUE(SameMatrix(*a.matrix, *b.matrix));
  }
}

} // namespace emif_records

#endif

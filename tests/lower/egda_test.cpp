#include "egda.h"

#include <gtest/gtest.h>

#include <cstring>

#include "emsc.h"
#include "estr.h"
#include "taviron_testing.h"

TEST(EgdaBaseData, PixelSizesAndCreateShapes) {
  const int32_t sizes[] = {1, 1, 1, 1, 1, 2, 2, 4, 4, 4, 8, 8, 16, sizeof(char *)};
  for (int32_t t = 0; t < EGDA_PIXEL_TYPE_COUNT; ++t) EXPECT_EQ(egda_PixelTypeSize(t), sizes[t]) << t;
  EXPECT_EQ(egda_PixelTypeSize(14), 0);
  EXPECT_EQ(egda_PixelTypeSize(-1), 0);

  Eerr_ErrorReport *err = nullptr;
  Egda_BaseData *m = egda_BaseDataCreate(2, 3, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &err);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->pitch, 16); // column to column
  EXPECT_EQ(m->count, 6);
  EXPECT_EQ(m->origin, m->data);
  egda_BaseDataDelete(m, &err);
  Egda_BaseData *r = egda_BaseDataCreate(4, 5, EGDA_TYPE_U16, EGDA_RASTER, nullptr, &err);
  EXPECT_EQ(r->pitch, 10); // row to row
  egda_BaseDataDelete(r, &err);
  EXPECT_EQ(err, nullptr);

  const struct {
    int32_t rows, columns, type, object;
  } bad[] = {{-1, 2, 10, 2}, {2, -1, 10, 2}, {2, 2, 14, 2}, {2, 2, 10, 4}, {65536, 65536, 10, 2},
                   {1657798662, 0, 10, 2}, {0, 1657798662, 10, 3}};
  for (const auto &b : bad) {
    EXPECT_EQ(egda_BaseDataCreate(b.rows, b.columns, b.type, b.object, nullptr, &err), nullptr);
    ASSERT_NE(err, nullptr);
    eerr_DeleteErrorReportEx(&err);
  }
}

TEST(EgdaBaseData, CoordinateMatrixLiesPointByPoint) {
  double xy[] = {1, 2, 3, 4, 5, 6};
  Egda_BaseData *m = egda_BaseDataCreate(2, 3, EGDA_TYPE_F64, EGDA_MATRIX, xy, nullptr);
  ASSERT_NE(m, nullptr);
  const double *col1 = reinterpret_cast<const double *>(m->origin + m->pitch);
  EXPECT_EQ(col1[0], 3); // x1
  EXPECT_EQ(col1[1], 4); // y1
  Egda_BaseData *copy = egda_BaseDataCopy(m, nullptr, nullptr);
  egda_BaseDataDelete(m, nullptr); // borrowed buffer is not freed
  EXPECT_EQ(std::memcmp(copy->data, xy, sizeof xy), 0);
  egda_BaseDataDelete(copy, nullptr);
}

TEST(EgdaBaseData, CopyKeepsTheBorderOriginAndDuplicatesStrings) {
  Egda_BaseData *r = egda_BaseDataCreate(5, 5, EGDA_TYPE_S32, EGDA_RASTER, nullptr, nullptr);
  for (int i = 0; i < 25; ++i) reinterpret_cast<int32_t *>(r->data)[i] = i;
  r->origin = r->data + r->pitch + r->elementSize; // a one-cell border
  Egda_BaseData *copy = egda_BaseDataCopy(r, nullptr, nullptr);
  EXPECT_EQ(*reinterpret_cast<int32_t *>(copy->origin), 6);
  // Copy into an existing matrix of another shape reshapes it.
  Egda_BaseData *small = egda_BaseDataCreate(1, 1, EGDA_TYPE_U8, EGDA_SCALAR, nullptr, nullptr);
  EXPECT_EQ(egda_BaseDataCopy(r, small, nullptr), small);
  EXPECT_EQ(small->rows, 5);
  EXPECT_EQ(*reinterpret_cast<int32_t *>(small->origin), 6);
  egda_BaseDataDelete(r, nullptr);
  egda_BaseDataDelete(copy, nullptr);
  egda_BaseDataDelete(small, nullptr);

  Egda_BaseData *s = egda_BaseDataCreate(1, 2, EGDA_TYPE_STRING, EGDA_TABLE, nullptr, nullptr);
  reinterpret_cast<char **>(s->data)[0] = estr_Duplicate("left");
  Egda_BaseData *sc = egda_BaseDataCopy(s, nullptr, nullptr);
  char **strings = reinterpret_cast<char **>(sc->data);
  EXPECT_STREQ(strings[0], "left");
  EXPECT_NE(strings[0], reinterpret_cast<char **>(s->data)[0]);
  EXPECT_EQ(strings[1], nullptr);
  egda_BaseDataDelete(s, nullptr);
  egda_BaseDataDelete(sc, nullptr);
}

TEST(EgdaBaseData, AllocationFailuresReportWithoutLeaks) {
  taviron::testing::SweepAllocationFailures(
      [](Eerr_ErrorReport **err) {
        Egda_BaseData *made = egda_BaseDataCreate(2, 2, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, err);
        egda_BaseDataDelete(made, nullptr);
        return made != nullptr;
      });
}

// ---------------------------------------------------------------------------------------------
// Reshaping, views, element-wise operations, printing and inversion.

#include <array>
#include <cmath>
#include <complex>
#include <string>
#include <utility>
#include <vector>

#include "egda_pixel.h"

namespace {

namespace lw = taviron::lower;

using taviron::testing::ErrorSlot;

// Reporter and code of the newest report, and the reporter it chains (if any).
std::string Top(const ErrorSlot &e) { return e ? std::string(e->reporter) + "#" + std::to_string(e->code) : ""; }
std::string Chained(const ErrorSlot &e) { return e && e->next ? std::string(e->next->reporter) : ""; }

double *F64(const Egda_BaseData *m) { return reinterpret_cast<double *>(m->data); }

// Sets element (r, c) of a matrix of any numeric pixel type.
void SetElement(Egda_BaseData *m, int32_t r, int32_t c, double value) {
  Egda_BaseData *one = egda_BaseDataDerived(m, r, c, 1, 1, nullptr);
  ASSERT_NE(one, nullptr);
  egda_BaseDataSetScalar(one, value, 0, 0, nullptr);
  egda_BaseDataDelete(one, nullptr);
}

// Element (r, c) of a matrix of a real pixel type, as a double.
double GetElement(const Egda_BaseData *m, int32_t r, int32_t c) {
  double v = NAN;
  lw::DispatchPixelType(m->pixelType, [&](auto t) {
    using T = lw::Pixel<decltype(t)::value>;
    if constexpr (std::is_arithmetic_v<T>) v = double(lw::At<T>(*m, r, c));
  });
  return v;
}

// Runs make through the kit's sweep of allocation failures; drop frees what a successful run
// made. Returns the result of a run without failures.
template <class Make, class Drop> auto SweepAllocations(Make make, Drop drop) {
  decltype(make(nullptr)) made{};
  taviron::testing::SweepAllocationFailures([&](Eerr_ErrorReport **err) { return (made = make(err)) != nullptr; },
                                            [&] { drop(made); });
  ErrorSlot err;
  made = make(&err);
  EXPECT_FALSE(err) << taviron::testing::Chain(err);
  return made;
}

} // namespace

TEST(EgdaBaseData, ReallocateKeepsOverlappingElements) {
  // 2 x 2 coordinate matrix grown to 2 x 3: the points stay, the new one is zero.
  Egda_BaseData *m = egda_BaseDataCreate(2, 2, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  for (int i = 0; i < 4; ++i) F64(m)[i] = i + 1;
  ErrorSlot err;
  ASSERT_EQ(egda_BaseDataReallocate(m, 2, 3, &err), m);
  EXPECT_EQ(m->count, 6);
  EXPECT_EQ(m->pitch, 16);
  EXPECT_EQ(std::vector<double>(F64(m), F64(m) + 6), (std::vector<double>{1, 2, 3, 4, 0, 0}));
  // Shrunk to 1 x 2: the x of each point stays.
  ASSERT_EQ(egda_BaseDataReallocate(m, 1, 2, &err), m);
  EXPECT_EQ(std::vector<double>(F64(m), F64(m) + 2), (std::vector<double>{1, 3}));
  egda_BaseDataDelete(m, nullptr);

  // A raster keeps its rows; a borrowed buffer is left as it was and the matrix owns the new one.
  uint8_t lent[6] = {1, 2, 3, 4, 5, 6};
  Egda_BaseData *r = egda_BaseDataCreate(2, 3, EGDA_TYPE_U8, EGDA_RASTER, lent, nullptr);
  ASSERT_EQ(egda_BaseDataReallocate(r, 3, 2, &err), r);
  EXPECT_EQ(r->ownsData, 1);
  EXPECT_NE(r->data, lent);
  EXPECT_EQ(std::vector<uint8_t>(r->data, r->data + 6), (std::vector<uint8_t>{1, 2, 4, 5, 0, 0}));
  EXPECT_EQ(lent[2], 3);
  egda_BaseDataDelete(r, nullptr);

  // Strings that fall out are freed; the ones that stay move over (the sanitizer sees the rest).
  Egda_BaseData *s = egda_BaseDataCreate(3, 1, EGDA_TYPE_STRING, EGDA_TABLE, nullptr, nullptr);
  auto **strings = reinterpret_cast<char **>(s->data);
  strings[0] = estr_Duplicate("keep");
  strings[2] = estr_Duplicate("drop");
  ASSERT_EQ(egda_BaseDataReallocate(s, 1, 1, &err), s);
  EXPECT_STREQ(reinterpret_cast<char **>(s->data)[0], "keep");
  egda_BaseDataDelete(s, nullptr);

  EXPECT_EQ(egda_BaseDataReallocate(nullptr, 1, 1, &err), nullptr);
  EXPECT_EQ(Top(err), "egda_BaseDataReallocate#1");
  Egda_BaseData *keep = egda_BaseDataCreate(1, 1, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  EXPECT_EQ(egda_BaseDataReallocate(keep, -1, 1, &err), nullptr);
  EXPECT_EQ(Top(err), "egda_BaseDataReallocate#2");
  EXPECT_EQ(keep->count, 1);
  egda_BaseDataDelete(keep, nullptr);
}

TEST(EgdaBaseData, DerivedViewSharesTheParentsMemory) {
  Egda_BaseData *parent = egda_BaseDataCreate(4, 5, EGDA_TYPE_S16, EGDA_RASTER, nullptr, nullptr);
  for (int i = 0; i < 20; ++i) reinterpret_cast<int16_t *>(parent->data)[i] = int16_t(i);
  ErrorSlot err;
  Egda_BaseData *view = egda_BaseDataDerived(parent, 1, 2, 2, 3, &err);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->ownsData, 0);
  EXPECT_EQ(view->origin, view->data);
  EXPECT_EQ(view->pitch, parent->pitch);
  EXPECT_EQ(lw::At<int16_t>(*view, 0, 0), 7);
  EXPECT_EQ(lw::At<int16_t>(*view, 1, 2), 14);
  lw::At<int16_t>(*view, 1, 0) = -1; // written through to the parent
  EXPECT_EQ(reinterpret_cast<int16_t *>(parent->data)[12], -1);
  // A copy of the view is compact and holds the view's elements only.
  Egda_BaseData *copy = egda_BaseDataCopy(view, nullptr, nullptr);
  EXPECT_EQ(copy->pitch, 6);
  EXPECT_EQ(reinterpret_cast<int16_t *>(copy->data)[5], 14);
  egda_BaseDataDelete(copy, nullptr);
  egda_BaseDataDelete(view, nullptr);

  // Counted from the origin: negative indexes reach into the border.
  parent->origin = lw::ElementAddress(*parent, 1, 1);
  view = egda_BaseDataDerived(parent, -1, -1, 1, 1, &err);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(lw::At<int16_t>(*view, 0, 0), 0);
  egda_BaseDataDelete(view, nullptr);

  const struct {
    int32_t r, c, rows, columns;
  } outside[] = {{-2, 0, 1, 1}, {0, -2, 1, 1}, {0, 0, 4, 1}, {0, 0, 1, 5}, {0, 0, -1, 1}};
  for (const auto &o : outside) {
    EXPECT_EQ(egda_BaseDataDerived(parent, o.r, o.c, o.rows, o.columns, &err), nullptr);
    EXPECT_EQ(Top(err), "egda_BaseDataDerived#2") << o.r << "," << o.c << " " << o.rows << "x" << o.columns;
  }
  EXPECT_EQ(egda_BaseDataDerived(nullptr, 0, 0, 1, 1, &err), nullptr);
  EXPECT_EQ(Top(err), "egda_BaseDataDerived#1");
  egda_BaseDataDelete(parent, nullptr);
}

TEST(EgdaBaseData, SetScalarConvertsToEveryPixelType) {
  // value, then the expected stored value read back as (real, imaginary).
  const struct {
    int32_t type;
    double value;
    double real, imag;
  } cases[] = {
      {EGDA_TYPE_U1, 1.0, 1, 0},      {EGDA_TYPE_U2, 2.4, 2, 0},        {EGDA_TYPE_U4, 9.5, 10, 0},
      {EGDA_TYPE_U1, 5, 1, 0},        {EGDA_TYPE_U2, 4, 3, 0},          {EGDA_TYPE_U4, 99, 15, 0},
      {EGDA_TYPE_U8, 300, 255, 0},    {EGDA_TYPE_U8, -3, 0, 0},         {EGDA_TYPE_S8, -300, -128, 0},
      {EGDA_TYPE_S8, -2.5, -3, 0},    {EGDA_TYPE_U16, 65535.4, 65535, 0}, {EGDA_TYPE_S16, NAN, 0, 0},
      {EGDA_TYPE_U32, 4e9, 4e9, 0},   {EGDA_TYPE_S32, -3e9, -2147483648.0, 0},
      {EGDA_TYPE_F32, 0.5, 0.5, 0},   {EGDA_TYPE_F32, 1e300, INFINITY, 0},
      {EGDA_TYPE_F64, 2.6, 2.6, 0},   {EGDA_TYPE_C64, 1.5, 1.5, -2},    {EGDA_TYPE_C128, -4, -4, -2},
  };
  for (const auto &k : cases) {
    Egda_BaseData *m = egda_BaseDataCreate(2, 3, k.type, EGDA_RASTER, nullptr, nullptr);
    ErrorSlot err;
    ASSERT_EQ(egda_BaseDataSetScalar(m, k.value, -2, 0, &err), m) << k.type;
    lw::DispatchPixelType(k.type, [&](auto t) {
      using T = lw::Pixel<decltype(t)::value>;
      if constexpr (!std::is_pointer_v<T>) {
        for (int r = 0; r < 2; ++r)
          for (int c = 0; c < 3; ++c) {
            const std::complex<double> v(lw::At<T>(*m, r, c));
            EXPECT_EQ(v.real(), k.real) << "type " << k.type << " value " << k.value;
            EXPECT_EQ(v.imag(), k.imag) << "type " << k.type;
          }
      }
    });
    egda_BaseDataDelete(m, nullptr);
  }
  ErrorSlot err;
  Egda_BaseData *s = egda_BaseDataCreate(1, 1, EGDA_TYPE_STRING, EGDA_TABLE, nullptr, nullptr);
  EXPECT_EQ(egda_BaseDataSetScalar(s, 1, 0, 0, &err), nullptr);
  EXPECT_EQ(Top(err), "egda_BaseDataSetScalar#2");
  EXPECT_EQ(egda_BaseDataSetScalar(s, 1, 0, 7, &err), nullptr);
  EXPECT_EQ(Top(err), "egda_BaseDataSetScalar#1");
  egda_BaseDataDelete(s, nullptr);
}

TEST(EgdaBaseData, OperationWithAScalar) {
  const struct {
    int32_t type, operation, position;
    double element, scalar, expected;
  } cases[] = {
      {EGDA_TYPE_F64, EGDA_OPERATION_DIVIDE, EGDA_SCALAR_SECOND, 3, 4, 0.75},
      {EGDA_TYPE_F64, EGDA_OPERATION_DIVIDE, EGDA_SCALAR_FIRST, 4, 3, 0.75},
      {EGDA_TYPE_F64, EGDA_OPERATION_SUBTRACT, EGDA_SCALAR_FIRST, 4, 3, -1},
      {EGDA_TYPE_S32, EGDA_OPERATION_SUBTRACT, EGDA_SCALAR_SECOND, 4, 3, 1},
      {EGDA_TYPE_S32, EGDA_OPERATION_DIVIDE, EGDA_SCALAR_SECOND, 7, 2, 4}, // 3.5 rounds away from zero
      {EGDA_TYPE_U8, EGDA_OPERATION_MULTIPLY, EGDA_SCALAR_SECOND, 100, 3, 255},
      {EGDA_TYPE_U8, EGDA_OPERATION_ADD, EGDA_SCALAR_FIRST, 10, -20, 0},
      {EGDA_TYPE_F32, EGDA_OPERATION_ADD, EGDA_SCALAR_SECOND, 1.5, 0.25, 1.75},
  };
  for (const auto &k : cases) {
    Egda_BaseData *m = egda_BaseDataCreate(3, 1, k.type, EGDA_TABLE, nullptr, nullptr);
    egda_BaseDataSetScalar(m, k.element, 0, 0, nullptr);
    ErrorSlot err;
    ASSERT_EQ(egda_BaseDataOperation(k.operation, m, k.scalar, k.position, &err), m);
    for (int r = 0; r < 3; ++r) EXPECT_EQ(GetElement(m, r, 0), k.expected) << k.type << " op " << k.operation;
    egda_BaseDataDelete(m, nullptr);
  }

  // Complex elements: (1 + 2i) * 2 and (1 + 2i) / 2.
  Egda_BaseData *c = egda_BaseDataCreate(1, 1, EGDA_TYPE_C128, EGDA_MATRIX, nullptr, nullptr);
  egda_BaseDataSetScalar(c, 1, 2, 0, nullptr);
  egda_BaseDataOperation(EGDA_OPERATION_MULTIPLY, c, 2, EGDA_SCALAR_SECOND, nullptr);
  EXPECT_EQ(lw::At<std::complex<double>>(*c, 0, 0), std::complex<double>(2, 4));
  egda_BaseDataOperation(EGDA_OPERATION_DIVIDE, c, 4, EGDA_SCALAR_SECOND, nullptr);
  EXPECT_EQ(lw::At<std::complex<double>>(*c, 0, 0), std::complex<double>(0.5, 1));
  egda_BaseDataDelete(c, nullptr);

  // Division by zero is refused before any element changes, for either operand position.
  Egda_BaseData *m = egda_BaseDataCreate(1, 3, EGDA_TYPE_S32, EGDA_RASTER, nullptr, nullptr);
  reinterpret_cast<int32_t *>(m->data)[0] = 5;
  reinterpret_cast<int32_t *>(m->data)[1] = 6;
  ErrorSlot err;
  EXPECT_EQ(egda_BaseDataOperation(EGDA_OPERATION_DIVIDE, m, 0, EGDA_SCALAR_SECOND, &err), nullptr);
  EXPECT_EQ(Top(err), "egda_BaseDataOperation#4");
  EXPECT_EQ(egda_BaseDataOperation(EGDA_OPERATION_DIVIDE, m, 30, EGDA_SCALAR_FIRST, &err), nullptr);
  EXPECT_EQ(Top(err), "egda_BaseDataOperation#4");
  EXPECT_EQ(reinterpret_cast<int32_t *>(m->data)[0], 5);
  EXPECT_EQ(egda_BaseDataOperation(4, m, 1, EGDA_SCALAR_SECOND, &err), nullptr);
  EXPECT_EQ(Top(err), "egda_BaseDataOperation#2");
  EXPECT_EQ(egda_BaseDataOperation(EGDA_OPERATION_ADD, m, 1, 0, &err), nullptr);
  EXPECT_EQ(Top(err), "egda_BaseDataOperation#2");
  egda_BaseDataDelete(m, nullptr);
  Egda_BaseData *s = egda_BaseDataCreate(1, 1, EGDA_TYPE_STRING, EGDA_TABLE, nullptr, nullptr);
  EXPECT_EQ(egda_BaseDataOperation(EGDA_OPERATION_ADD, s, 1, EGDA_SCALAR_SECOND, &err), nullptr);
  EXPECT_EQ(Top(err), "egda_BaseDataOperation#3");
  egda_BaseDataDelete(s, nullptr);
}

TEST(EgdaBaseData, PrintWritesRowsToStandardOutput) {
  taviron::testing::CapturedOutput out;
  double xy[] = {1, 2, 3.5, -4};
  Egda_BaseData *m = egda_BaseDataCreate(2, 2, EGDA_TYPE_F64, EGDA_MATRIX, xy, nullptr);
  egda_BaseDataPrint(m, nullptr);
  egda_BaseDataDelete(m, nullptr);
  EXPECT_EQ(out.Out(), "Egda_BaseData: 2 x 2 f64 matrix\n1 3.5\n2 -4\n");
  out.Clear();

  Egda_BaseData *s = egda_BaseDataCreate(1, 2, EGDA_TYPE_STRING, EGDA_RASTER, nullptr, nullptr);
  reinterpret_cast<char **>(s->data)[0] = estr_Duplicate("a b");
  Egda_BaseData *c = egda_BaseDataCreate(1, 1, EGDA_TYPE_C64, EGDA_SCALAR, nullptr, nullptr);
  egda_BaseDataSetScalar(c, 1, -0.5, 0, nullptr);
  Egda_BaseData *u = egda_BaseDataCreate(1, 3, EGDA_TYPE_S8, EGDA_RASTER, nullptr, nullptr);
  egda_BaseDataSetScalar(u, -7, 0, 0, nullptr);
  egda_BaseDataPrint(s, nullptr);
  egda_BaseDataPrint(c, nullptr);
  egda_BaseDataPrint(u, nullptr);
  EXPECT_EQ(out.Out(), "Egda_BaseData: 1 x 2 string raster\n\"a b\" (null)\n"
                       "Egda_BaseData: 1 x 1 c64 scalar\n(1,-0.5)\n"
                       "Egda_BaseData: 1 x 3 s8 raster\n-7 -7 -7\n");
  egda_BaseDataDelete(s, nullptr);
  egda_BaseDataDelete(c, nullptr);
  egda_BaseDataDelete(u, nullptr);

  ErrorSlot err;
  egda_BaseDataPrint(nullptr, &err);
  EXPECT_EQ(Top(err), "egda_BaseDataPrint#1");
}

TEST(EgdaMatrix, InverseTimesMatrixIsIdentity) {
  // Stored column by column.
  double a[] = {4, 2, 0, 7, 6, 1, 2, 5, 3};
  Egda_BaseData *m = egda_BaseDataCreate(3, 3, EGDA_TYPE_F64, EGDA_MATRIX, a, nullptr);
  ErrorSlot err;
  Egda_BaseData *inv = egda_MatrixInvert(m, nullptr, &err);
  ASSERT_NE(inv, nullptr);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      double sum = 0;
      for (int k = 0; k < 3; ++k) sum += lw::At<double>(*inv, i, k) * lw::At<double>(*m, k, j);
      EXPECT_NEAR(sum, i == j ? 1.0 : 0.0, 1e-12) << i << "," << j;
    }
  // In place, the inverse of the inverse gives back the matrix.
  ASSERT_EQ(egda_MatrixInvert(inv, inv, &err), inv);
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(F64(inv)[i], a[i], 1e-12);
  // An integer matrix is read as doubles.
  Egda_BaseData *s = egda_BaseDataCreate(2, 2, EGDA_TYPE_S32, EGDA_MATRIX, nullptr, nullptr);
  int32_t *sv = reinterpret_cast<int32_t *>(s->data);
  sv[0] = 2, sv[3] = 4;
  Egda_BaseData *sinv = egda_MatrixInvert(s, nullptr, &err);
  ASSERT_NE(sinv, nullptr);
  EXPECT_EQ(sinv->pixelType, EGDA_TYPE_F64);
  EXPECT_EQ(lw::At<double>(*sinv, 0, 0), 0.5);
  EXPECT_EQ(lw::At<double>(*sinv, 1, 1), 0.25);
  EXPECT_EQ(lw::At<double>(*sinv, 0, 1), 0.0);
  egda_BaseDataDelete(sinv, nullptr);
  egda_BaseDataDelete(s, nullptr);
  egda_BaseDataDelete(inv, nullptr);
  egda_BaseDataDelete(m, nullptr);

  // Singular, not finite, not square, and a destination of the wrong shape are reported.
  double singular[] = {1, 2, 2, 4};
  double nearly[] = {1, 1, 1, std::nextafter(1.0, 2.0)};
  double notFinite[] = {1, NAN, 0, 1};
  const struct {
    double *values;
    int32_t rows, columns;
    int32_t code;
  } bad[] = {{singular, 2, 2, 5}, {nearly, 2, 2, 5}, {notFinite, 2, 2, 4}, {singular, 1, 4, 2}};
  for (const auto &b : bad) {
    Egda_BaseData *x = egda_BaseDataCreate(b.rows, b.columns, EGDA_TYPE_F64, EGDA_MATRIX, b.values, nullptr);
    EXPECT_EQ(egda_MatrixInvert(x, nullptr, &err), nullptr);
    EXPECT_EQ(Top(err), "egda_MatrixInvert#" + std::to_string(b.code));
    egda_BaseDataDelete(x, nullptr);
  }
  Egda_BaseData *x = egda_BaseDataCreate(2, 2, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  Egda_BaseData *small = egda_BaseDataCreate(1, 1, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  egda_BaseDataSetScalar(x, 1, 0, 0, nullptr);
  EXPECT_EQ(egda_MatrixInvert(x, small, &err), nullptr);
  EXPECT_EQ(Top(err), "egda_MatrixInvert#3");
  egda_BaseDataDelete(x, nullptr);
  egda_BaseDataDelete(small, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Stacks, stack arrays, argument lists and windows.

TEST(EgdaStack, CreateCopyAndDelete) {
  ErrorSlot err;
  Egda_BaseDataStack *stack = egda_BaseDataStackCreate(3, 2, 4, EGDA_TYPE_U16, EGDA_RASTER, &err);
  ASSERT_NE(stack, nullptr);
  ASSERT_EQ(stack->count, 3);
  EXPECT_EQ(stack->ownsLayers, 1);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(stack->layers[i]->rows, 2);
    EXPECT_EQ(stack->layers[i]->pixelType, EGDA_TYPE_U16);
    egda_BaseDataSetScalar(stack->layers[i], i + 10, 0, 0, nullptr);
  }
  Egda_BaseDataStack *copy = egda_BaseDataStackCopy(stack, nullptr, &err);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy->layers[1], stack->layers[1]);
  EXPECT_EQ(lw::At<uint16_t>(*copy->layers[1], 1, 3), 11);
  // Into a destination: layer by layer, the layers keep their identity.
  egda_BaseDataSetScalar(stack->layers[1], 99, 0, 0, nullptr);
  Egda_BaseData *kept = copy->layers[1];
  ASSERT_EQ(egda_BaseDataStackCopy(stack, copy, &err), copy);
  EXPECT_EQ(copy->layers[1], kept);
  EXPECT_EQ(lw::At<uint16_t>(*kept, 0, 0), 99);
  // A destination of another layer count is refused.
  Egda_BaseDataStack *two = egda_BaseDataStackCreate(2, 1, 1, EGDA_TYPE_U8, EGDA_RASTER, nullptr);
  EXPECT_EQ(egda_BaseDataStackCopy(stack, two, &err), nullptr);
  EXPECT_EQ(Top(err), "egda_BaseDataStackCopy#2");
  // A layer detached (set to null) before the delete is skipped.
  Egda_BaseData *detached = two->layers[0];
  two->layers[0] = nullptr;
  egda_BaseDataStackDelete(two, &err);
  egda_BaseDataDelete(detached, nullptr);
  egda_BaseDataStackDelete(copy, &err);
  egda_BaseDataStackDelete(stack, &err);
  egda_BaseDataStackDelete(nullptr, &err);
  EXPECT_EQ(err.get(), nullptr);

  EXPECT_EQ(egda_BaseDataStackCreate(-1, 1, 1, EGDA_TYPE_U8, EGDA_RASTER, &err), nullptr);
  EXPECT_EQ(Top(err), "egda_BaseDataStackCreate#1");
  EXPECT_EQ(egda_BaseDataStackCreate(1, 1, 1, 14, EGDA_RASTER, &err), nullptr);
  EXPECT_EQ(Top(err), "egda_BaseDataStackCreate#1");
}

TEST(EgdaStack, PointerStackBorrowsItsMatrices) {
  Egda_BaseData *a = egda_BaseDataCreate(1, 1, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  Egda_BaseData *b = egda_BaseDataCreate(1, 1, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  ErrorSlot err;
  Egda_BaseDataStack *ptr = egda_BaseDataStackPtrCreate(2, &err);
  ASSERT_NE(ptr, nullptr);
  EXPECT_EQ(ptr->ownsLayers, 0);
  EXPECT_EQ(ptr->layers[0], nullptr);
  ptr->layers[0] = a;
  ptr->layers[1] = b;
  // Copying a pointer stack gives a stack that owns copies.
  Egda_BaseDataStack *copy = egda_BaseDataStackCopy(ptr, nullptr, &err);
  EXPECT_EQ(copy->ownsLayers, 1);
  EXPECT_NE(copy->layers[0], a);
  egda_BaseDataStackDelete(copy, nullptr);
  // A pointer stack cannot make a copy for an empty slot (nobody would free it).
  ptr->layers[1] = nullptr;
  Egda_BaseDataStack *source = egda_BaseDataStackCreate(2, 1, 1, EGDA_TYPE_F64, EGDA_MATRIX, nullptr);
  EXPECT_EQ(egda_BaseDataStackCopy(source, ptr, &err), nullptr);
  EXPECT_EQ(Top(err), "egda_BaseDataStackCopy#3");
  egda_BaseDataStackDelete(source, nullptr);
  egda_BaseDataStackDelete(ptr, &err);
  // Still alive: the sanitizer would see a use after free or a double free otherwise.
  egda_BaseDataSetScalar(a, 1, 0, 0, nullptr);
  egda_BaseDataDelete(a, nullptr);
  egda_BaseDataDelete(b, nullptr);
  EXPECT_EQ(egda_BaseDataStackPtrCreate(-1, &err), nullptr);
  EXPECT_EQ(Top(err), "egda_BaseDataStackPtrCreate#1");
}

TEST(EgdaStack, ArraysArgumentListsAndWindows) {
  ErrorSlot err;
  Egda_BaseDataStackArray *array = egda_BaseDataStackArrayCreate(2, 3, 4, 5, EGDA_TYPE_F64, EGDA_RASTER, &err);
  ASSERT_NE(array, nullptr);
  ASSERT_EQ(array->count, 2);
  EXPECT_EQ(array->mask, nullptr);
  EXPECT_EQ(array->stacks[1]->count, 3);
  EXPECT_EQ(array->stacks[1]->layers[2]->columns, 5);
  // The mask belongs to whoever set it: deleted after the array without a double free.
  array->mask = egda_BaseDataCreate(4, 5, EGDA_TYPE_U8, EGDA_RASTER, nullptr, nullptr);
  Egda_BaseData *mask = array->mask;

  Egda_ArgumentList *list = egda_ArgumentListCreate(&err, array->stacks[0], array->stacks[1], nullptr);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->count, 2);
  EXPECT_EQ(list->stacks[1], array->stacks[1]);
  EXPECT_EQ(list->mask, nullptr);
  egda_ArgumentListDelete(list, &err); // the stacks stay
  Egda_ArgumentList *empty = egda_ArgumentListCreate(&err, nullptr);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->count, 0);
  egda_ArgumentListDelete(empty, &err);
  EXPECT_EQ(array->stacks[0]->layers[0]->rows, 4);
  egda_BaseDataStackArrayDelete(array, &err);
  egda_BaseDataDelete(mask, nullptr);
  EXPECT_EQ(egda_BaseDataStackArrayCreate(-1, 1, 1, 1, EGDA_TYPE_U8, EGDA_RASTER, &err), nullptr);
  EXPECT_EQ(Top(err), "egda_BaseDataStackArrayCreate#1");
  EXPECT_EQ(egda_BaseDataStackArrayCreate(1, -1, 1, 1, EGDA_TYPE_U8, EGDA_RASTER, &err), nullptr);
  EXPECT_EQ(Top(err), "egda_BaseDataStackArrayCreate#3");
  EXPECT_EQ(Chained(err), "egda_BaseDataStackCreate");

  Egda_Window *w = egda_WindowCreate(3, 5, -1, -2, &err);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->width, 3);
  EXPECT_EQ(w->height, 5);
  EXPECT_EQ(w->x, -1);
  EXPECT_EQ(w->y, -2);
  Egda_Window other{};
  EXPECT_EQ(egda_WindowCopy(w, &other, &err), &other);
  EXPECT_EQ(other.y, -2);
  Egda_Window *fresh = egda_WindowCopy(w, nullptr, &err);
  EXPECT_EQ(fresh->height, 5);
  egda_WindowDelete(fresh, &err);
  egda_WindowDelete(w, &err);
  EXPECT_EQ(egda_WindowCreate(-1, 1, 0, 0, &err), nullptr);
  EXPECT_EQ(Top(err), "egda_WindowCreate#1");
  EXPECT_EQ(egda_WindowCopy(nullptr, nullptr, &err), nullptr);
  EXPECT_EQ(Top(err), "egda_WindowCopy#1");
}

TEST(EgdaStack, CreateFunctionsSurviveAllocationFailures) {
  const auto deleteStack = [](Egda_BaseDataStack *made) { egda_BaseDataStackDelete(made, nullptr); };
  const auto deleteData = [](Egda_BaseData *made) { egda_BaseDataDelete(made, nullptr); };
  auto stack = SweepAllocations(
      [](Eerr_ErrorReport **err) { return egda_BaseDataStackCreate(3, 2, 2, EGDA_TYPE_F64, EGDA_RASTER, err); },
      deleteStack);
  auto copy = SweepAllocations([&](Eerr_ErrorReport **err) { return egda_BaseDataStackCopy(stack, nullptr, err); },
                               deleteStack);
  auto array = SweepAllocations(
      [](Eerr_ErrorReport **err) { return egda_BaseDataStackArrayCreate(2, 2, 1, 1, EGDA_TYPE_U8, EGDA_RASTER, err); },
      [](Egda_BaseDataStackArray *made) { egda_BaseDataStackArrayDelete(made, nullptr); });
  auto list = SweepAllocations([&](Eerr_ErrorReport **err) { return egda_ArgumentListCreate(err, stack, copy, nullptr); },
                               [](Egda_ArgumentList *made) { egda_ArgumentListDelete(made, nullptr); });
  auto ptr = SweepAllocations([](Eerr_ErrorReport **err) { return egda_BaseDataStackPtrCreate(2, err); }, deleteStack);
  auto window = SweepAllocations([](Eerr_ErrorReport **err) { return egda_WindowCreate(3, 3, -1, -1, err); },
                                 [](Egda_Window *made) { egda_WindowDelete(made, nullptr); });
  auto view = SweepAllocations(
      [&](Eerr_ErrorReport **err) { return egda_BaseDataDerived(stack->layers[0], 0, 0, 1, 1, err); }, deleteData);
  auto inverse = SweepAllocations(
      [&](Eerr_ErrorReport **err) {
        egda_BaseDataSetScalar(stack->layers[1], 0, 0, 0, nullptr);
        lw::At<double>(*stack->layers[1], 0, 0) = lw::At<double>(*stack->layers[1], 1, 1) = 2;
        return egda_MatrixInvert(stack->layers[1], nullptr, err);
      },
      deleteData);
  // A failed reallocation leaves the matrix as it was; a successful one is undone for the next run.
  Egda_BaseData *grown = SweepAllocations(
      [&](Eerr_ErrorReport **err) {
        Egda_BaseData *m = egda_BaseDataReallocate(copy->layers[0], 4, 4, err);
        if (!m) {
          EXPECT_EQ(copy->layers[0]->rows, 2);
        }
        return m;
      },
      [&](Egda_BaseData *made) { EXPECT_NE(egda_BaseDataReallocate(made, 2, 2, nullptr), nullptr); });
  EXPECT_EQ(grown->count, 16);
  egda_BaseDataDelete(inverse, nullptr);
  egda_BaseDataDelete(view, nullptr);
  egda_WindowDelete(window, nullptr);
  egda_BaseDataStackDelete(ptr, nullptr);
  egda_ArgumentListDelete(list, nullptr);
  egda_BaseDataStackArrayDelete(array, nullptr);
  egda_BaseDataStackDelete(copy, nullptr);
  egda_BaseDataStackDelete(stack, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Ordering functions.

TEST(EgdaOrder, AscendingAndStableForEveryPixelType) {
  const Egda_OrderFunction *order = emsc_AddressOf_egda_GpfOrder();
  ASSERT_EQ(order, emsc_AddressOf_egda_GpfOrder());
  // Values 1, 0, 1, 0, 0 (u1 holds no more) in every numeric type: positions 1, 3, 4, 0, 2 (equal
  // values keep their order).
  for (int32_t type = 0; type < EGDA_TYPE_STRING; ++type) {
    std::vector<uint8_t> values(5 * std::size_t(egda_PixelTypeSize(type)));
    Egda_BaseData *m = egda_BaseDataCreate(5, 1, type, EGDA_TABLE, values.data(), nullptr);
    const double v[] = {1, 0, 1, 0, 0};
    for (int i = 0; i < 5; ++i) SetElement(m, i, 0, v[i]);
    egda_BaseDataDelete(m, nullptr);
    int32_t index[5] = {-1, -1, -1, -1, -1};
    order[type](index, 5, values.data());
    EXPECT_EQ(std::vector<int32_t>(index, index + 5), (std::vector<int32_t>{1, 3, 4, 0, 2})) << "type " << type;
  }
  // Negative integers, NaN last, complex by real then imaginary part, strings with null first.
  const int32_t s32[] = {5, -7, 0};
  const double f64[] = {2, NAN, -1, NAN, 0.5};
  const std::complex<double> c128[] = {{1, 2}, {1, -1}, {0, 5}};
  const char *strings[] = {"b", nullptr, "a", "B"};
  int32_t index[5];
  order[EGDA_TYPE_S32](index, 3, s32);
  EXPECT_EQ(std::vector<int32_t>(index, index + 3), (std::vector<int32_t>{1, 2, 0}));
  order[EGDA_TYPE_F64](index, 5, f64);
  EXPECT_EQ(std::vector<int32_t>(index, index + 5), (std::vector<int32_t>{2, 4, 0, 1, 3}));
  order[EGDA_TYPE_C128](index, 3, c128);
  EXPECT_EQ(std::vector<int32_t>(index, index + 3), (std::vector<int32_t>{2, 1, 0}));
  order[EGDA_TYPE_STRING](index, 4, strings);
  EXPECT_EQ(std::vector<int32_t>(index, index + 4), (std::vector<int32_t>{1, 3, 2, 0}));
  // Nothing to order: the index array is not touched.
  index[0] = 42;
  order[EGDA_TYPE_U8](index, 0, s32);
  EXPECT_EQ(index[0], 42);
}

// ---------------------------------------------------------------------------------------------
// The stack-function machinery, driven by small operators of the test's own.

namespace {

template <class F> Egda_StackFunctionSlot SlotOf(F *function) {
  return {reinterpret_cast<Egda_SlotFunction>(function), {0, 0}};
}

// Operator A (string form): output layer i = argument 0 layer i + argument 1 layer i, where an
// argument stack of one layer serves every output layer; the second argument is a scalar.
template <int32_t Type> void AddKernel(Egda_BaseDataStack *out, Egda_ArgumentList *args, Eerr_ErrorReport **err) {
  using T = lw::Pixel<Type>;
  *err = nullptr;
  for (int32_t i = 0; i < out->count; ++i) {
    const Egda_BaseDataStack *a = args->stacks[0], *b = args->stacks[1];
    const Egda_BaseData &x = *a->layers[a->count == 1 ? 0 : i];
    const T y = lw::At<T>(*b->layers[b->count == 1 ? 0 : i], 0, 0);
    Egda_BaseData &o = *out->layers[i];
    for (int32_t r = 0; r < o.rows; ++r)
      for (int32_t c = 0; c < o.columns; ++c) lw::At<T>(o, r, c) = T(lw::At<T>(x, r, c) + y);
  }
}

// String slot: output byte = length of the argument's string.
void LengthKernel(Egda_BaseDataStack *out, Egda_ArgumentList *args, Eerr_ErrorReport **err) {
  *err = nullptr;
  const Egda_BaseData &s = *args->stacks[0]->layers[0];
  Egda_BaseData &o = *out->layers[0];
  for (int32_t c = 0; c < o.columns; ++c) lw::At<uint8_t>(o, 0, c) = uint8_t(std::strlen(lw::At<char *>(s, 0, c)));
}

void FailingKernel(Egda_BaseDataStack *, Egda_ArgumentList *, Eerr_ErrorReport **err) {
  *err = eerr_CreateErrorReport("FailingKernel", 9, EERR_FATAL, nullptr, "kernel failed");
}

template <int32_t... Types> std::array<Egda_StackFunctionSlot, 14> AddTable(std::integer_sequence<int32_t, Types...>) {
  return {SlotOf(&AddKernel<Types>)..., SlotOf(&LengthKernel)};
}
const std::array<Egda_StackFunctionSlot, 14> kAddSlots = AddTable(std::make_integer_sequence<int32_t, 13>{});
const Egda_StackFunction kAdd[4] = {{kAddSlots.data()}, {kAddSlots.data()}, {kAddSlots.data()}, {kAddSlots.data()}};

// Operator B: records which slot ran.
int32_t g_slotCalled = -1;
template <int32_t N> void RecordKernel(Egda_BaseDataStack *, Egda_ArgumentList *, Eerr_ErrorReport **err) {
  *err = nullptr;
  g_slotCalled = N;
}
template <int32_t... N> std::array<Egda_StackFunctionSlot, 14> RecordTable(std::integer_sequence<int32_t, N...>) {
  return {SlotOf(&RecordKernel<N>)...};
}
const std::array<Egda_StackFunctionSlot, 14> kRecordSlots = RecordTable(std::make_integer_sequence<int32_t, 14>{});
const Egda_StackFunction kRecord{kRecordSlots.data()};

// Owns the stacks and lists a test builds.
struct Stacks {
  std::vector<Egda_BaseDataStack *> stacks;
  std::vector<Egda_ArgumentList *> lists;
  Egda_BaseDataStack *Make(int32_t count, int32_t rows, int32_t columns, int32_t type, int32_t object = EGDA_RASTER) {
    stacks.push_back(egda_BaseDataStackCreate(count, rows, columns, type, object, nullptr));
    return stacks.back();
  }
  Egda_ArgumentList *List(Egda_BaseDataStack *a, Egda_BaseDataStack *b = nullptr) {
    lists.push_back(egda_ArgumentListCreate(nullptr, a, b, nullptr));
    return lists.back();
  }
  ~Stacks() {
    for (auto *l : lists) egda_ArgumentListDelete(l, nullptr);
    for (auto *s : stacks) egda_BaseDataStackDelete(s, nullptr);
  }
};

} // namespace

TEST(EgdaStackFunction, AppliesTheSlotOfEveryPixelType) {
  for (int32_t type = 0; type < EGDA_TYPE_STRING; ++type) {
    Stacks s;
    Egda_BaseDataStack *out = s.Make(2, 2, 3, type);
    Egda_BaseDataStack *a = s.Make(2, 2, 3, type);
    Egda_BaseDataStack *b = s.Make(1, 1, 1, type, EGDA_SCALAR);
    egda_BaseDataSetScalar(a->layers[0], 1, 0, 0, nullptr);
    egda_BaseDataSetScalar(a->layers[1], 0, 0, 0, nullptr);
    egda_BaseDataSetScalar(b->layers[0], 1, 0, 0, nullptr);
    ErrorSlot err;
    egda_BaseDataStackFunction(kAdd, out, s.List(a, b), &err);
    ASSERT_EQ(err.get(), nullptr) << "type " << type;
    lw::DispatchPixelType(type, [&](auto t) {
      using T = lw::Pixel<decltype(t)::value>;
      for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c) {
          EXPECT_EQ(lw::At<T>(*out->layers[0], r, c), T(2)) << "type " << type;
          EXPECT_EQ(lw::At<T>(*out->layers[1], r, c), T(1)) << "type " << type;
        }
    });
    // The recording operator confirms the slot: the output's pixel type.
    g_slotCalled = -1;
    egda_BaseDataStackFunction(&kRecord, out, s.List(a, b), &err);
    EXPECT_EQ(g_slotCalled, type);
  }
  // String arguments choose slot 13 whatever the output holds.
  Stacks s;
  Egda_BaseDataStack *strings = s.Make(1, 1, 2, EGDA_TYPE_STRING);
  auto **text = reinterpret_cast<char **>(strings->layers[0]->data);
  text[0] = estr_Duplicate("four");
  text[1] = estr_Duplicate("");
  Egda_BaseDataStack *lengths = s.Make(1, 1, 2, EGDA_TYPE_U8);
  ErrorSlot err;
  egda_BaseDataStackFunction(kAdd, lengths, s.List(strings), &err);
  ASSERT_EQ(err.get(), nullptr);
  EXPECT_EQ(lengths->layers[0]->data[0], 4);
  EXPECT_EQ(lengths->layers[0]->data[1], 0);
  egda_BaseDataStackFunction(&kRecord, lengths, s.List(strings), &err);
  EXPECT_EQ(g_slotCalled, EGDA_TYPE_STRING);
  // No argument list at all: the output's type.
  egda_BaseDataStackFunction(&kRecord, lengths, nullptr, &err);
  EXPECT_EQ(g_slotCalled, EGDA_TYPE_U8);
}

TEST(EgdaStackFunction, RefusesBadObjectsStacksAndSlots) {
  Stacks s;
  Egda_BaseDataStack *out = s.Make(3, 1, 1, EGDA_TYPE_F64);
  Egda_BaseDataStack *three = s.Make(3, 1, 1, EGDA_TYPE_F64);
  Egda_BaseDataStack *two = s.Make(2, 1, 1, EGDA_TYPE_F64);
  Egda_BaseDataStack *mixed = s.Make(2, 1, 1, EGDA_TYPE_F64);
  std::swap(mixed->layers[1], s.Make(1, 1, 1, EGDA_TYPE_S32)->layers[0]);
  Egda_BaseDataStack *unknown = s.Make(1, 1, 1, EGDA_TYPE_F64);
  Egda_BaseDataStack *holed = egda_BaseDataStackPtrCreate(1, nullptr);
  s.stacks.push_back(holed);
  Egda_BaseDataStack *empty = s.Make(0, 1, 1, EGDA_TYPE_F64);

  std::array<Egda_StackFunctionSlot, 14> holes = kRecordSlots;
  holes[EGDA_TYPE_F64].function = nullptr;
  const Egda_StackFunction holey{holes.data()}, noTable{nullptr};
  std::array<Egda_StackFunctionSlot, 14> failing = kRecordSlots;
  failing[EGDA_TYPE_F64] = SlotOf(&FailingKernel);
  const Egda_StackFunction fails{failing.data()};

  const struct {
    const char *what;
    const Egda_StackFunction *object;
    Egda_BaseDataStack *output;
    Egda_ArgumentList *arguments;
    int32_t code;
  } cases[] = {
      {"null object", nullptr, out, s.List(three), 1},
      {"object without slots", &noTable, out, s.List(three), 1},
      {"null output", &kRecord, nullptr, s.List(three), 2},
      {"empty output", &kRecord, empty, s.List(three), 2},
      {"output with a null layer", &kRecord, holed, s.List(three), 2},
      {"output of two pixel types", &kRecord, mixed, s.List(three), 3},
      {"output of an unknown pixel type", &kRecord, unknown, s.List(three), 3},
      {"argument with a null layer", &kRecord, out, s.List(three, holed), 4},
      {"argument without layers", &kRecord, out, s.List(empty), 4},
      {"two argument layers for three outputs", &kRecord, out, s.List(three, two), 5},
      {"no function in the slot", &holey, out, s.List(three), 6},
      {"the slot fails", &fails, out, s.List(three), 7},
  };
  unknown->layers[0]->pixelType = 14;
  for (const auto &k : cases) {
    g_slotCalled = -1;
    ErrorSlot err;
    egda_BaseDataStackFunction(k.object, k.output, k.arguments, &err);
    EXPECT_EQ(Top(err), "egda_BaseDataStackFunction#" + std::to_string(k.code)) << k.what;
    EXPECT_EQ(g_slotCalled, -1) << k.what;
  }
  unknown->layers[0]->pixelType = EGDA_TYPE_F64;
  ErrorSlot err;
  egda_BaseDataStackFunction(&fails, out, s.List(three), &err);
  EXPECT_EQ(Chained(err), "FailingKernel");
  egda_BaseDataStackFunction(&fails, out, s.List(three), nullptr); // the slot's report is dropped
  // The filler does nothing and succeeds.
  egda_NoOperation(out, nullptr, &err);
  EXPECT_EQ(err.get(), nullptr);
}

TEST(EgdaLookUpTable, ReplacesEachValueByItsTableEntry) {
  const Egda_StackFunction *lut = emsc_AddressOf_egda_SaoLUTtransformation();
  ASSERT_EQ(lut, emsc_AddressOf_egda_SaoLUTtransformation());
  for (int i = 1; i < 4; ++i) EXPECT_EQ(lut[i].slots, lut[0].slots); // four equal reference words
  EXPECT_EQ(lut[0].slots[EGDA_TYPE_C64].function, reinterpret_cast<Egda_SlotFunction>(&egda_NoOperation));

  // Table 0 -> 0, 1 -> 10, 2 -> 20, 3 -> 30 (s32), applied to every real pixel type; values past
  // the table use its last entry. u1, u2 and u4 hold no more than 1, 3 and 15.
  for (int32_t type = 0; type <= EGDA_TYPE_F64; ++type) {
    const double top = type == EGDA_TYPE_U1 ? 1 : type == EGDA_TYPE_U2 ? 3 : type == EGDA_TYPE_U4 ? 15 : 1e9;
    Stacks s;
    Egda_BaseDataStack *table = s.Make(1, 4, 1, EGDA_TYPE_S32, EGDA_TABLE);
    for (int k = 0; k < 4; ++k) lw::At<int32_t>(*table->layers[0], k, 0) = 10 * k;
    Egda_BaseDataStack *image = s.Make(1, 1, 5, type);
    const double v[] = {0, 1, 2, 3, 7};
    for (int c = 0; c < 5; ++c) SetElement(image->layers[0], 0, c, v[c]);
    Egda_BaseDataStack *copy = egda_BaseDataStackCopy(image, nullptr, nullptr);
    s.stacks.push_back(copy);
    ErrorSlot err;
    egda_BaseDataStackFunction(lut, image, s.List(table, copy), &err);
    ASSERT_EQ(err.get(), nullptr) << "type " << type;
    for (int c = 0; c < 5; ++c) {
      const double want = std::min(10 * std::min({v[c], top, 3.0}), top);
      EXPECT_EQ(GetElement(image->layers[0], 0, c), want) << "type " << type << " value " << v[c];
    }
  }
}

TEST(EgdaLookUpTable, MaskClampingInPlaceAndErrors) {
  const Egda_StackFunction *lut = emsc_AddressOf_egda_SaoLUTtransformation();
  Stacks s;
  Egda_BaseDataStack *table = s.Make(1, 3, 1, EGDA_TYPE_F64, EGDA_TABLE);
  const double entries[] = {-1.5, 300, 7.25};
  for (int k = 0; k < 3; ++k) lw::At<double>(*table->layers[0], k, 0) = entries[k];
  // s16 image: -4 -> entry 0, 1 -> entry 1, 2 -> entry 2; entries are rounded into s16.
  Egda_BaseDataStack *image = s.Make(1, 2, 2, EGDA_TYPE_S16);
  const int16_t v[] = {-4, 1, 2, 1};
  std::memcpy(image->layers[0]->data, v, sizeof v);
  Egda_ArgumentList *args = s.List(table, image); // in place: the input is the output
  Egda_BaseData *mask = egda_BaseDataCreate(2, 2, EGDA_TYPE_U8, EGDA_RASTER, nullptr, nullptr);
  std::memcpy(mask->data, "\1\1\1\0", 4);
  args->mask = mask;
  ErrorSlot err;
  egda_BaseDataStackFunction(lut, image, args, &err);
  ASSERT_EQ(err.get(), nullptr);
  const auto *out = reinterpret_cast<const int16_t *>(image->layers[0]->data);
  EXPECT_EQ(std::vector<int16_t>(out, out + 4), (std::vector<int16_t>{-2, 300, 7, 1})); // masked cell kept
  args->mask = nullptr;
  egda_BaseDataDelete(mask, nullptr);

  // Complex output passes through unchanged; wrong input type, complex table, missing stacks.
  Egda_BaseDataStack *complexImage = s.Make(1, 1, 1, EGDA_TYPE_C64);
  egda_BaseDataSetScalar(complexImage->layers[0], 5, 1, 0, nullptr);
  egda_BaseDataStackFunction(lut, complexImage, s.List(table, complexImage), &err);
  EXPECT_EQ(err.get(), nullptr);
  EXPECT_EQ(lw::At<std::complex<float>>(*complexImage->layers[0], 0, 0), std::complex<float>(5, 1));

  Egda_BaseDataStack *u8 = s.Make(1, 2, 2, EGDA_TYPE_U8);
  Egda_BaseDataStack *tiny = s.Make(1, 1, 1, EGDA_TYPE_U8);
  const struct {
    Egda_ArgumentList *args;
    int32_t code;
  } bad[] = {{s.List(table), 1}, {s.List(table, image), 3}, {s.List(complexImage, u8), 4}, {s.List(table, tiny), 5}};
  for (const auto &b : bad) {
    egda_BaseDataStackFunction(lut, u8, b.args, &err);
    EXPECT_EQ(Top(err), "egda_BaseDataStackFunction#7");
    EXPECT_EQ(Chained(err), "egda_SaoLUTtransformation");
    ASSERT_NE(err.get()->next, nullptr);
    EXPECT_EQ(err.get()->next->code, b.code);
  }
}

// ---------------------------------------------------------------------------------------------
// The neighbourhood machinery, driven by a window-sum operator of the test's own.

namespace {

struct SlotView {
  const Egda_BaseData *input = nullptr, *mask = nullptr;
  const Egda_ArgumentList *options = nullptr;
  Egda_Window window{};
  int32_t inputRows = 0, inputColumns = 0, inputLayers = 0;
  int32_t maskRows = 0, maskColumns = 0; // the mask itself is freed when the call returns
};
SlotView g_seen;

// Output (r, c) = sum over the window cells where option 0's neighbourhood matrix is non-zero of
// input (r + y + i, c + x + j), each weighted by the mask byte there when a mask is given.
template <int32_t Type>
void WindowSum(Egda_BaseDataStack *out, Egda_ArgumentList *args, Egda_Window *w, Egda_ArgumentList *options,
               Eerr_ErrorReport **err) {
  using T = lw::Pixel<Type>;
  *err = nullptr;
  const Egda_BaseDataStack &in = *args->stacks[0];
  const Egda_BaseData &shape = *options->stacks[0]->layers[0];
  g_seen = {in.layers[0], args->mask, options, *w, in.layers[0]->rows, in.layers[0]->columns, in.count,
            args->mask ? args->mask->rows : 0, args->mask ? args->mask->columns : 0};
  for (int32_t k = 0; k < in.count; ++k) {
    Egda_BaseData &o = *out->layers[k];
    for (int32_t r = 0; r < o.rows; ++r)
      for (int32_t c = 0; c < o.columns; ++c) {
        T sum = 0;
        for (int32_t i = 0; i < w->height; ++i)
          for (int32_t j = 0; j < w->width; ++j) {
            if (!lw::At<uint8_t>(shape, i, j)) continue;
            const int32_t rr = r + w->y + i, cc = c + w->x + j;
            const T weight = args->mask ? T(lw::At<uint8_t>(*args->mask, rr, cc)) : T(1);
            sum = T(sum + weight * lw::At<T>(*in.layers[k], rr, cc));
          }
        lw::At<T>(o, r, c) = sum;
      }
  }
}

template <int32_t... Types> std::array<Egda_StackFunctionSlot, 13> SumTable(std::integer_sequence<int32_t, Types...>) {
  return {SlotOf(&WindowSum<Types>)...};
}
const std::array<Egda_StackFunctionSlot, 13> kSumSlots = SumTable(std::make_integer_sequence<int32_t, 13>{});
const Egda_StackFunction kSum{kSumSlots.data()};

// Neighbourhood option list: a height x width u8 matrix of ones.
struct Options {
  Egda_BaseDataStack *shape;
  Egda_ArgumentList *list;
  Options(int32_t height, int32_t width) {
    shape = egda_BaseDataStackCreate(1, height, width, EGDA_TYPE_U8, EGDA_MATRIX, nullptr);
    egda_BaseDataSetScalar(shape->layers[0], 1, 0, 0, nullptr);
    list = egda_ArgumentListCreate(nullptr, shape, EGDA_OPTION_NOT_GIVEN, nullptr);
  }
  ~Options() {
    egda_ArgumentListDelete(list, nullptr);
    egda_BaseDataStackDelete(shape, nullptr);
  }
};

} // namespace

TEST(EgdaNeighbourhood, BordersRepeatTheEdgeWhereverTheWindowSits) {
  // A 3 x 4 input 1..12; the expected sums clamp every index into the input.
  const struct {
    Egda_Window window;
  } windows[] = {{{3, 3, -1, -1}}, {{2, 2, 0, 0}}, {{3, 1, -2, 0}}, {{1, 3, 0, -2}}, {{1, 1, 0, 0}}, {{5, 3, -1, -2}}};
  for (int32_t type : {EGDA_TYPE_U8, EGDA_TYPE_S32, EGDA_TYPE_F64}) {
    for (const auto &wc : windows) {
      const Egda_Window &w = wc.window;
      Stacks s;
      Egda_BaseDataStack *out = s.Make(1, 3, 4, type);
      Egda_BaseDataStack *in = s.Make(1, 3, 4, type);
      for (int v = 0; v < 12; ++v) SetElement(in->layers[0], v / 4, v % 4, v + 1);
      Options options(w.height, w.width);
      ErrorSlot err;
      egda_BaseDataStackNeighbourhoodFunction(&kSum, out, s.List(in), &w, options.list, &err);
      ASSERT_EQ(err.get(), nullptr);
      EXPECT_EQ(g_seen.inputRows, 3 + w.height - 1);
      EXPECT_EQ(g_seen.inputColumns, 4 + w.width - 1);
      EXPECT_EQ(g_seen.options, options.list);
      EXPECT_EQ(g_seen.window.x, w.x);
      EXPECT_EQ(g_seen.input == in->layers[0], w.width == 1 && w.height == 1); // copied only when a border is needed
      for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c) {
          double want = 0;
          for (int i = 0; i < w.height; ++i)
            for (int j = 0; j < w.width; ++j)
              want += std::clamp(r + w.y + i, 0, 2) * 4 + std::clamp(c + w.x + j, 0, 3) + 1;
          EXPECT_EQ(GetElement(out->layers[0], r, c), want)
              << "type " << type << " window " << w.width << "x" << w.height << " at " << w.x << "," << w.y << " (" << r << "," << c << ")";
        }
    }
  }
}

TEST(EgdaNeighbourhood, BorderedInputsMasksAndExtraOutputLayers) {
  const Egda_Window w{3, 3, -1, -1};
  Options options(3, 3);
  Stacks s;
  // An input that already carries its border (filled with 100) is handed on as it stands.
  Egda_BaseDataStack *bordered = s.Make(1, 4, 5, EGDA_TYPE_S32);
  Egda_BaseData &b = *bordered->layers[0];
  egda_BaseDataSetScalar(&b, 100, 0, 0, nullptr);
  b.origin = b.data + b.pitch + b.elementSize;
  for (int c = 0; c < 3; ++c) lw::At<int32_t>(b, 0, c) = 1;
  Egda_BaseDataStack *out = s.Make(3, 2, 3, EGDA_TYPE_S32);
  ErrorSlot err;
  egda_BaseDataStackNeighbourhoodFunction(&kSum, out, s.List(bordered), &w, options.list, &err);
  ASSERT_EQ(err.get(), nullptr);
  EXPECT_EQ(g_seen.input, &b);
  EXPECT_EQ(g_seen.inputLayers, 1);
  EXPECT_EQ(lw::At<int32_t>(*out->layers[0], 0, 1), 6 * 100 + 3 * 1);
  EXPECT_EQ(lw::At<int32_t>(*out->layers[0], 1, 1), 3 * 100 + 3 * 1 + 3 * 100);

  // A mask of ones gives the result without a mask; a zero is repeated into the border.
  Egda_BaseDataStack *in = s.Make(1, 2, 3, EGDA_TYPE_S32);
  egda_BaseDataSetScalar(in->layers[0], 1, 0, 0, nullptr);
  Egda_ArgumentList *args = s.List(in);
  Egda_BaseData *mask = egda_BaseDataCreate(2, 3, EGDA_TYPE_U8, EGDA_RASTER, nullptr, nullptr);
  egda_BaseDataSetScalar(mask, 1, 0, 0, nullptr);
  args->mask = mask;
  egda_BaseDataStackNeighbourhoodFunction(&kSum, out, args, &w, options.list, &err);
  ASSERT_EQ(err.get(), nullptr);
  EXPECT_NE(g_seen.mask, mask);
  EXPECT_EQ(g_seen.maskRows, 4);
  EXPECT_EQ(g_seen.maskColumns, 5);
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(lw::At<int32_t>(*out->layers[0], r, c), 9);
  mask->data[0] = 0; // corner (0, 0): its own four window cells at (-1..0, -1..0) all read it
  egda_BaseDataStackNeighbourhoodFunction(&kSum, out, args, &w, options.list, &err);
  EXPECT_EQ(lw::At<int32_t>(*out->layers[0], 0, 0), 5);
  EXPECT_EQ(lw::At<int32_t>(*out->layers[0], 1, 2), 9);
  args->mask = nullptr;
  egda_BaseDataDelete(mask, nullptr);
}

TEST(EgdaNeighbourhood, RefusesBadArgumentsAndChainsSlotFailures) {
  Options options(3, 3);
  Stacks s;
  Egda_BaseDataStack *out = s.Make(2, 2, 3, EGDA_TYPE_F64);
  Egda_BaseDataStack *in = s.Make(1, 2, 3, EGDA_TYPE_F64);
  Egda_BaseDataStack *threeIn = s.Make(3, 2, 3, EGDA_TYPE_F64);
  Egda_BaseDataStack *u8In = s.Make(1, 2, 3, EGDA_TYPE_U8);
  Egda_BaseDataStack *wrongSize = s.Make(1, 3, 3, EGDA_TYPE_F64);
  Egda_BaseDataStack *matrixIn = s.Make(1, 2, 3, EGDA_TYPE_F64, EGDA_MATRIX);
  Egda_BaseDataStack *stringOut = s.Make(1, 2, 3, EGDA_TYPE_STRING);
  Egda_BaseDataStack *borderedOut = s.Make(1, 2, 3, EGDA_TYPE_F64);
  borderedOut->layers[0]->origin += 8;
  Egda_BaseDataStack *unequalOut = s.Make(2, 2, 3, EGDA_TYPE_F64);
  std::swap(unequalOut->layers[1], s.Make(1, 3, 3, EGDA_TYPE_F64)->layers[0]);
  Egda_ArgumentList *wideMask = s.List(in);
  Egda_BaseData *mask16 = egda_BaseDataCreate(2, 3, EGDA_TYPE_U16, EGDA_RASTER, nullptr, nullptr);
  wideMask->mask = mask16;

  std::array<Egda_StackFunctionSlot, 13> holes = kSumSlots, failing = kSumSlots;
  holes[EGDA_TYPE_F64].function = nullptr;
  failing[EGDA_TYPE_F64] = SlotOf(reinterpret_cast<Egda_NeighbourhoodSlotFunction>(
      +[](Egda_BaseDataStack *, Egda_ArgumentList *, Egda_Window *, Egda_ArgumentList *, Eerr_ErrorReport **err) {
        *err = eerr_CreateErrorReport("egda_NfNoOperation", 1, EERR_FATAL, nullptr, "no operation on this data");
      }));
  const Egda_StackFunction holey{holes.data()}, fails{failing.data()};
  const Egda_Window w3{3, 3, -1, -1};
  const Egda_Window badWindows[] = {{0, 3, 0, -1}, {3, 0, -1, 0}, {3, 3, 1, -1}, {3, 3, -1, 1}, {3, 3, -3, -1}, {3, 3, -1, -3}};

  const struct {
    const char *what;
    const Egda_StackFunction *object;
    Egda_BaseDataStack *output;
    Egda_ArgumentList *arguments;
    const Egda_Window *window;
    int32_t code;
  } cases[] = {
      {"null object", nullptr, out, s.List(in), &w3, 1},
      {"null output", &kSum, nullptr, s.List(in), &w3, 2},
      {"string output", &kSum, stringOut, s.List(in), &w3, 3},
      {"output with a border", &kSum, borderedOut, s.List(in), &w3, 4},
      {"output layers of two sizes", &kSum, unequalOut, s.List(in), &w3, 4},
      {"null window", &kSum, out, s.List(in), nullptr, 5},
      {"no arguments", &kSum, out, nullptr, &w3, 6},
      {"input of another pixel type", &kSum, out, s.List(u8In), &w3, 7},
      {"more input than output layers", &kSum, out, s.List(threeIn), &w3, 8},
      {"input of another size", &kSum, out, s.List(wrongSize), &w3, 9},
      {"input stored by columns", &kSum, out, s.List(matrixIn), &w3, 9},
      {"mask of two-byte elements", &kSum, out, wideMask, &w3, 10},
      {"no function in the slot", &holey, out, s.List(in), &w3, 11},
      {"the slot fails", &fails, out, s.List(in), &w3, 13},
  };
  for (const auto &k : cases) {
    ErrorSlot err;
    egda_BaseDataStackNeighbourhoodFunction(k.object, k.output, k.arguments, k.window, options.list, &err);
    EXPECT_EQ(Top(err), "egda_BaseDataStackNeighbourhoodFunction#" + std::to_string(k.code)) << k.what;
  }
  for (const auto &bw : badWindows) {
    ErrorSlot err;
    egda_BaseDataStackNeighbourhoodFunction(&kSum, out, s.List(in), &bw, options.list, &err);
    EXPECT_EQ(Top(err), "egda_BaseDataStackNeighbourhoodFunction#5") << bw.width << "x" << bw.height << " at " << bw.x << "," << bw.y;
  }
  ErrorSlot err;
  egda_BaseDataStackNeighbourhoodFunction(&fails, out, s.List(in), &w3, options.list, &err);
  EXPECT_EQ(Chained(err), "egda_NfNoOperation");
  wideMask->mask = nullptr;
  egda_BaseDataDelete(mask16, nullptr);

  // Allocation failures while bordering the input and the mask: a report, no leak.
  Egda_ArgumentList *masked = s.List(in);
  masked->mask = egda_BaseDataCreate(2, 3, EGDA_TYPE_U8, EGDA_RASTER, nullptr, nullptr);
  const auto counts = taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **e, taviron::testing::Failing kind) {
        egda_BaseDataStackNeighbourhoodFunction(&kSum, out, masked, &w3, options.list, e);
        if (*e && kind == taviron::testing::Failing::Heap) {
          EXPECT_TRUE(taviron::testing::Reported(*e, "egda_BaseDataStackNeighbourhoodFunction", 12));
        }
        return !*e;
      });
  EXPECT_LT(counts.heap, 20);
  egda_BaseDataDelete(masked->mask, nullptr);
  masked->mask = nullptr;
}

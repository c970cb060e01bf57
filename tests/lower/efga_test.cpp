#include "efga.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <vector>

#include "emsc.h"
#include "taviron_testing.h"

namespace {

using taviron::testing::SweepAllocationFailures;

// Element (r, c) of a compact f64 matrix (column by column).
double &E(Egda_BaseData *m, int r, int c) {
  return reinterpret_cast<double *>(m->origin + static_cast<std::ptrdiff_t>(c) * m->pitch)[r];
}

// A new rows x columns f64 matrix filled row by row from values.
Egda_BaseData *M(int rows, int columns, std::initializer_list<double> values) {
  Egda_BaseData *m = egda_BaseDataCreate(rows, columns, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  auto it = values.begin();
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < columns && it != values.end(); ++c) E(m, r, c) = *it++;
  return m;
}

void ExpectNear(Egda_BaseData *m, int rows, int columns, std::initializer_list<double> values,
                double tolerance = 1e-12) {
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(m->rows, rows);
  ASSERT_EQ(m->columns, columns);
  auto it = values.begin();
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < columns; ++c) EXPECT_NEAR(E(m, r, c), *it++, tolerance) << r << "," << c;
}

void Delete(std::initializer_list<Egda_BaseData *> ms) {
  for (Egda_BaseData *m : ms) egda_BaseDataDelete(m, nullptr);
}

Efga_Polynomial *Poly2D(double l00, double l01, double l10, double l11, double c0, double c1) {
  Efga_Polynomial *p = efga_BasePolynomialCreate(1, 2, 2, EGDA_TYPE_F64, nullptr);
  E(p->coefficients, 0, 0) = l00;
  E(p->coefficients, 0, 1) = l01;
  E(p->coefficients, 1, 0) = l10;
  E(p->coefficients, 1, 1) = l11;
  E(p->constants, 0, 0) = c0;
  E(p->constants, 1, 0) = c1;
  return p;
}

// Applies p to the point (x, y).
std::pair<double, double> Apply(const Efga_Polynomial *p, double x, double y) {
  Egda_BaseData *pt = M(2, 1, {x, y});
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(efga_PolyTransCoords(pt, pt, p, 0, &err), pt);
  EXPECT_EQ(err, nullptr);
  const std::pair<double, double> out{E(pt, 0, 0), E(pt, 1, 0)};
  egda_BaseDataDelete(pt, nullptr);
  return out;
}

// ---- coordinate blocks --------------------------------------------------------------------------

TEST(EfgaCoordBlock, CreateCopyAndDelete) {
  const int64_t live = emsc_TestLiveBlocks();
  Eerr_ErrorReport *err = nullptr;
  Efga_CoordinateBlock *block = efga_BaseCoordBlockCreate(2, 4, 3, EGDA_TYPE_F64, &err);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(block->count, 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(block->parts[i]->rows, 2);
    EXPECT_EQ(block->parts[i]->columns, 4);
    EXPECT_EQ(block->parts[i]->objectType, EGDA_MATRIX);
    for (int c = 0; c < 4; ++c) E(block->parts[i], 1, c) = 10 * i + c;
  }

  Efga_CoordinateBlock *copy = efga_CoordBlockCopy(block, nullptr, &err);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy->parts[2], block->parts[2]);
  EXPECT_EQ(E(copy->parts[2], 1, 3), 23);

  // Into a destination with fewer parts of another shape, then with more parts.
  Efga_CoordinateBlock *small = efga_BaseCoordBlockCreate(2, 1, 1, EGDA_TYPE_F64, &err);
  EXPECT_EQ(efga_CoordBlockCopy(block, small, &err), small);
  ASSERT_EQ(small->count, 3);
  EXPECT_EQ(small->parts[0]->columns, 4);
  EXPECT_EQ(E(small->parts[1], 1, 2), 12);
  Efga_CoordinateBlock *large = efga_BaseCoordBlockCreate(2, 2, 5, EGDA_TYPE_F64, &err);
  EXPECT_EQ(efga_CoordBlockCopy(block, large, &err), large);
  EXPECT_EQ(large->count, 3);
  EXPECT_EQ(E(large->parts[2], 1, 0), 20);

  // A block of part pointers left partly empty copies its empty slots.
  Efga_CoordinateBlock *sparse = efga_CoordBlockPtrCreate(2, &err);
  EXPECT_EQ(sparse->kind, 2);
  sparse->parts[1] = M(2, 1, {5, 6});
  Efga_CoordinateBlock *sparseCopy = efga_CoordBlockCopy(sparse, nullptr, &err);
  EXPECT_EQ(sparseCopy->parts[0], nullptr);
  EXPECT_EQ(E(sparseCopy->parts[1], 1, 0), 6);

  for (Efga_CoordinateBlock *b : {block, copy, small, large, sparse, sparseCopy}) efga_CoordBlockDelete(b, &err);
  efga_CoordBlockDelete(nullptr, &err);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(emsc_TestLiveBlocks(), live);
}

TEST(EfgaCoordBlock, BlockOverAReadersHeaderArrayReleasesItOnce) {
  const int64_t live = emsc_TestLiveBlocks();
  // What an object reader hands over: one array of matrix headers, each owning its buffer.
  auto *headers = static_cast<Egda_BaseData *>(emsc_HeapMalloc(2 * sizeof(Egda_BaseData)));
  for (int i = 0; i < 2; ++i) {
    Egda_BaseData *m = egda_BaseDataCreate(2, 3, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
    headers[i] = *m;
    emsc_HeapFree(m); // keep the buffer, drop the separate header
  }
  Efga_CoordinateBlock *block = efga_CoordBlockPtrCreate(2, nullptr);
  block->parts[0] = &headers[0];
  block->parts[1] = &headers[1];
  block->ownsHeaderArray = 1;

  // Copying into it keeps the header array; a different part count cannot be taken.
  Efga_CoordinateBlock *source = efga_BaseCoordBlockCreate(2, 5, 2, EGDA_TYPE_F64, nullptr);
  E(source->parts[1], 0, 4) = 7;
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(efga_CoordBlockCopy(source, block, &err), block);
  EXPECT_EQ(block->parts[1], &headers[1]);
  EXPECT_EQ(E(block->parts[1], 0, 4), 7);
  Efga_CoordinateBlock *three = efga_BaseCoordBlockCreate(2, 1, 3, EGDA_TYPE_F64, nullptr);
  EXPECT_EQ(efga_CoordBlockCopy(three, block, &err), nullptr);
  ASSERT_NE(err, nullptr);
  EXPECT_EQ(err->code, 4);
  eerr_DeleteErrorReportEx(&err);

  efga_CoordBlockDelete(block, nullptr);
  efga_CoordBlockDelete(source, nullptr);
  efga_CoordBlockDelete(three, nullptr);
  EXPECT_EQ(emsc_TestLiveBlocks(), live);
}

TEST(EfgaCoordBlock, InvalidCountsAndAllocationFailures) {
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(efga_BaseCoordBlockCreate(2, 2, -1, EGDA_TYPE_F64, &err), nullptr);
  ASSERT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(efga_CoordBlockPtrCreate(-3, &err), nullptr);
  ASSERT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(efga_BaseCoordBlockCreate(2, 2, 1, 99, &err), nullptr); // bad pixel type
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err->message, "Error returned from egda_BaseDataCreate");
  EXPECT_NE(err->next, nullptr);
  eerr_DeleteErrorReportEx(&err);

  Efga_CoordinateBlock *made = nullptr;
  SweepAllocationFailures(
      [&](Eerr_ErrorReport **e) { return (made = efga_BaseCoordBlockCreate(2, 4, 3, EGDA_TYPE_F64, e)); },
      [&] { efga_CoordBlockDelete(made, nullptr); });
  Efga_CoordinateBlock *source = efga_BaseCoordBlockCreate(2, 4, 3, EGDA_TYPE_F64, nullptr);
  SweepAllocationFailures([&](Eerr_ErrorReport **e) { return (made = efga_CoordBlockCopy(source, nullptr, e)); },
                          [&] { efga_CoordBlockDelete(made, nullptr); });
  efga_CoordBlockDelete(source, nullptr);
}

// ---- clipping -----------------------------------------------------------------------------------

TEST(EfgaClip, ClipLineAgainstAWindow) {
  Egda_BaseData *window = M(2, 2, {10, 0, 10, 0}); // corners (10, 10) and (0, 0): either order
  const struct {
    double in[4];
    int32_t result;
    double out[4];
  } cases[] = {
      {{1, 1, 9, 9}, 1, {1, 1, 9, 9}},           // inside
      {{-5, 5, 15, 5}, 1, {0, 5, 10, 5}},         // through
      {{5, 5, 20, 5}, 1, {5, 5, 10, 5}},          // leaves
      {{-10, 0, 0, 10}, 1, {0, 10, 0, 10}},       // touches the corner
      {{11, 0, 11, 10}, 0, {11, 0, 11, 10}},      // beside
      {{-5, -5, 20, -1}, 0, {-5, -5, 20, -1}},    // below
      {{12, 5, -2, 5}, 1, {10, 5, 0, 5}},         // right to left
      {{5, NAN, 5, 5}, 0, {5, NAN, 5, 5}},        // not a number
  };
  for (const auto &c : cases) {
    double v[4] = {c.in[0], c.in[1], c.in[2], c.in[3]};
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(efga_ClipLine(&v[0], &v[1], &v[2], &v[3], window, &err), c.result) << c.in[0];
    EXPECT_EQ(err, nullptr);
    for (int i = 0; i < 4; ++i)
      if (!std::isnan(c.out[i])) {
        EXPECT_NEAR(v[i], c.out[i], 1e-12) << c.in[0] << " " << i;
      }
  }
  double x = 0, y = 0;
  Eerr_ErrorReport *err = nullptr;
  Egda_BaseData *wrong = M(2, 1, {0, 0});
  EXPECT_EQ(efga_ClipLine(&x, &y, &x, &y, wrong, &err), -1);
  ASSERT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  Delete({window, wrong});
}

TEST(EfgaClip, PolylineSplitsWhereItLeavesTheRectangle) {
  Egda_BaseData *rect = M(2, 2, {0, 10, 0, 10});
  Eerr_ErrorReport *err = nullptr;

  // In, out over the right edge, back in, and out again.
  Egda_BaseData *line = M(2, 5, {2, 8, 15, 8, 2,
                                 2, 2, 5, 8, 12});
  Efga_CoordinateBlock *b = efga_ClipPolylineToRectangle(line, rect, &err);
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(b->count, 2);
  // (2,2) (8,2) then to the edge crossing of (8,2)-(15,5) at x = 10.
  ExpectNear(b->parts[0], 2, 3, {2, 8, 10, 2, 2, 2 + 3.0 * 2 / 7});
  // From the edge crossing of (15,5)-(8,8) to (8,8), then to the top edge on the way to (2,12).
  ExpectNear(b->parts[1], 2, 3, {10, 8, 5, 5 + 3.0 * 5 / 7, 8, 10});
  efga_CoordBlockDelete(b, nullptr);

  // Nothing inside: null without a report.
  Egda_BaseData *outside = M(2, 2, {20, 30, 20, 30});
  EXPECT_EQ(efga_ClipPolylineToRectangle(outside, rect, &err), nullptr);
  EXPECT_EQ(err, nullptr);
  // A lone point inside stays a one-point part.
  Egda_BaseData *point = M(2, 1, {3, 4});
  b = efga_ClipPolylineToRectangle(point, rect, &err);
  ASSERT_NE(b, nullptr);
  ExpectNear(b->parts[0], 2, 1, {3, 4});
  efga_CoordBlockDelete(b, nullptr);
  // Bad arguments are reported.
  EXPECT_EQ(efga_ClipPolylineToRectangle(nullptr, rect, &err), nullptr);
  ASSERT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  Delete({rect, line, outside, point});
}

// ---- polynomials --------------------------------------------------------------------------------

TEST(EfgaPolynomial, ShapesAndTermOrder) {
  const struct {
    int32_t order, outputs, inputs, terms;
  } shapes[] = {{1, 2, 2, 2}, {2, 2, 2, 5}, {3, 2, 2, 9}, {5, 1, 1, 5}, {1, 2, 7, 7}, {2, 1, 3, 9}};
  for (const auto &s : shapes) {
    Eerr_ErrorReport *err = nullptr;
    Efga_Polynomial *p = efga_BasePolynomialCreate(s.order, s.outputs, s.inputs, EGDA_TYPE_F64, &err);
    ASSERT_NE(p, nullptr) << s.order << " " << s.inputs;
    EXPECT_EQ(p->coefficients->rows, s.outputs);
    EXPECT_EQ(p->coefficients->columns, s.terms);
    EXPECT_EQ(p->constants->rows, s.outputs);
    EXPECT_EQ(efga_PolynomialInputCount(p), s.inputs);
    efga_PolynomialDelete(p, &err);
  }
  const struct {
    int32_t order, outputs, inputs, type;
  } bad[] = {{0, 2, 2, 10}, {1, 0, 2, 10}, {1, 2, 0, 10}, {1, 2, 2, 9}, {40, 2, 40, 10}};
  for (const auto &b : bad) {
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(efga_BasePolynomialCreate(b.order, b.outputs, b.inputs, b.type, &err), nullptr);
    ASSERT_NE(err, nullptr) << b.order;
    eerr_DeleteErrorReportEx(&err);
  }

  // Order 2 in x, y: terms x, y, x^2, xy, y^2.
  Efga_Polynomial *q = efga_BasePolynomialCreate(2, 2, 2, EGDA_TYPE_F64, nullptr);
  for (int t = 0; t < 5; ++t) E(q->coefficients, 0, t) = std::pow(10.0, t);
  E(q->coefficients, 1, 3) = 1; // y' = xy + 0.5
  E(q->constants, 1, 0) = 0.5;
  const auto [x, y] = Apply(q, 2, 3);
  EXPECT_DOUBLE_EQ(x, 2 + 10 * 3 + 100 * 4 + 1000 * 6 + 10000 * 9);
  EXPECT_DOUBLE_EQ(y, 6.5);
  efga_PolynomialDelete(q, nullptr);
}

TEST(EfgaPolynomial, TwoDimensionalBuilders) {
  const double pi = std::acos(-1.0);
  Efga_Polynomial *p = efga_PolyCreate2DIdentity(nullptr, nullptr);
  auto check = [&](Efga_Polynomial *poly, double x, double y, double ex, double ey) {
    ASSERT_NE(poly, nullptr);
    const auto [ox, oy] = Apply(poly, x, y);
    EXPECT_NEAR(ox, ex, 1e-12);
    EXPECT_NEAR(oy, ey, 1e-12);
  };
  check(p, 3, 4, 3, 4);
  // Each builder refills the same polynomial.
  EXPECT_EQ(efga_PolyCreate2DTranslate(p, 1, -2, nullptr), p);
  check(p, 3, 4, 4, 2);
  EXPECT_EQ(efga_PolyCreate2DRotate(p, pi / 2, nullptr), p);
  check(p, 1, 0, 0, 1); // counter-clockwise
  EXPECT_EQ(efga_PolyCreate2DScale(p, 2, 3, nullptr), p);
  check(p, 1, 1, 2, 3);
  efga_PolynomialDelete(p, nullptr);

  // Affine: centre + R(angle) (sx u, sy v).
  Efga_Polynomial *a = efga_PolyCreate2DAffine(10, 20, pi / 2, 2, 3, nullptr);
  check(a, 1, 0, 10, 22);
  check(a, 0, 1, 7, 20);
  efga_PolynomialDelete(a, nullptr);

  // A builder reshapes a polynomial of another order.
  Efga_Polynomial *q = efga_BasePolynomialCreate(3, 2, 2, EGDA_TYPE_F64, nullptr);
  EXPECT_EQ(efga_PolyCreate2DTranslate(q, 5, 5, nullptr), q);
  EXPECT_EQ(q->order, 1);
  EXPECT_EQ(q->coefficients->columns, 2);
  check(q, 0, 0, 5, 5);
  efga_PolynomialDelete(q, nullptr);
}

TEST(EfgaPolynomial, CompositionAppliesTheSecondArgumentFirst) {
  Efga_Polynomial *translate = efga_PolyCreate2DTranslate(nullptr, 1, 0, nullptr);
  Efga_Polynomial *scale = efga_PolyCreate2DScale(nullptr, 2, 3, nullptr);
  Efga_Polynomial *ts = efga_PolynomialComposition(translate, scale, nullptr);
  const auto [x, y] = Apply(ts, 1, 1);
  EXPECT_DOUBLE_EQ(x, 3); // scale, then translate
  EXPECT_DOUBLE_EQ(y, 3);

  // Higher orders: the composition agrees with applying one after the other.
  Efga_Polynomial *q = efga_BasePolynomialCreate(2, 2, 2, EGDA_TYPE_F64, nullptr);
  const double qc[2][5] = {{0.5, -1, 0.25, 0.125, -0.5}, {2, 0.75, -0.1, 0.3, 0.2}};
  for (int i = 0; i < 2; ++i)
    for (int t = 0; t < 5; ++t) E(q->coefficients, i, t) = qc[i][t];
  E(q->constants, 0, 0) = 1.5;
  E(q->constants, 1, 0) = -2;
  Efga_Polynomial *r = Poly2D(0.3, -0.7, 1.1, 0.4, 2, -1);
  for (auto [outer, inner] : {std::pair{q, r}, std::pair{r, q}, std::pair{q, q}}) {
    Eerr_ErrorReport *err = nullptr;
    Efga_Polynomial *c = efga_PolynomialComposition(outer, inner, &err);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->order, outer->order * inner->order);
    for (auto [px, py] : {std::pair{0.0, 0.0}, {1.5, -2.0}, {-0.75, 3.0}}) {
      const auto [ix, iy] = Apply(inner, px, py);
      const auto [ex, ey] = Apply(outer, ix, iy);
      const auto [cx, cy] = Apply(c, px, py);
      EXPECT_NEAR(cx, ex, 1e-9 * (1 + std::abs(ex)));
      EXPECT_NEAR(cy, ey, 1e-9 * (1 + std::abs(ey)));
    }
    efga_PolynomialDelete(c, nullptr);
  }

  // Polynomials that do not chain are reported.
  Efga_Polynomial *oneD = efga_BasePolynomialCreate(5, 1, 1, EGDA_TYPE_F64, nullptr);
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(efga_PolynomialComposition(translate, oneD, &err), nullptr);
  ASSERT_NE(err, nullptr);
  EXPECT_EQ(err->code, 2);
  eerr_DeleteErrorReportEx(&err);

  Efga_Polynomial *made = nullptr;
  SweepAllocationFailures([&](Eerr_ErrorReport **e) { return (made = efga_PolynomialComposition(q, r, e)); },
                          [&] { efga_PolynomialDelete(made, nullptr); });
  for (Efga_Polynomial *p : {translate, scale, ts, q, r, oneD}) efga_PolynomialDelete(p, nullptr);
}

TEST(EfgaPolynomial, InvertCopyAndErrors) {
  Efga_Polynomial *p = Poly2D(2, 1, -1, 3, 5, -4);
  Eerr_ErrorReport *err = nullptr;
  Efga_Polynomial *inverse = efga_PolynomialInvert(p, nullptr, &err);
  ASSERT_NE(inverse, nullptr);
  Efga_Polynomial *round = efga_PolynomialComposition(inverse, p, &err);
  ExpectNear(round->coefficients, 2, 2, {1, 0, 0, 1});
  ExpectNear(round->constants, 2, 1, {0, 0});
  // Into an existing destination (reused).
  Efga_Polynomial *dest = efga_PolyCreate2DIdentity(nullptr, nullptr);
  EXPECT_EQ(efga_PolynomialInvert(p, dest, &err), dest);
  ExpectNear(dest->coefficients, 2, 2, {E(inverse->coefficients, 0, 0), E(inverse->coefficients, 0, 1),
                                        E(inverse->coefficients, 1, 0), E(inverse->coefficients, 1, 1)});

  // Singular and higher-order polynomials are reported, not divided by zero.
  Efga_Polynomial *singular = Poly2D(1, 2, 2, 4, 0, 0);
  Efga_Polynomial *zero = Poly2D(0, 0, 0, 0, 1, 1);
  Efga_Polynomial *quadratic = efga_BasePolynomialCreate(2, 2, 2, EGDA_TYPE_F64, nullptr);
  const struct {
    Efga_Polynomial *poly;
    int32_t code;
  } bad[] = {{singular, 3}, {zero, 3}, {quadratic, 2}, {nullptr, 1}};
  for (const auto &b : bad) {
    EXPECT_EQ(efga_PolynomialInvert(b.poly, nullptr, &err), nullptr);
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(err->code, b.code);
    eerr_DeleteErrorReportEx(&err);
  }

  // Copy into a polynomial of another shape.
  Efga_Polynomial *copy = efga_PolynomialCopy(p, quadratic, &err);
  EXPECT_EQ(copy, quadratic);
  EXPECT_EQ(copy->order, 1);
  ExpectNear(copy->coefficients, 2, 2, {2, 1, -1, 3});
  ExpectNear(copy->constants, 2, 1, {5, -4});
  for (Efga_Polynomial *q : {p, inverse, round, dest, singular, zero, quadratic}) efga_PolynomialDelete(q, nullptr);
  efga_PolynomialDelete(nullptr, nullptr);
}

TEST(EfgaPolynomial, TransformingCoordinates) {
  Efga_Polynomial *p = Poly2D(0, -1, 1, 0, 10, 0); // quarter turn, then 10 to the right
  Egda_BaseData *pts = M(2, 3, {1, 0, 2, 0, 1, 2});
  Eerr_ErrorReport *err = nullptr;
  Egda_BaseData *out = efga_PolyTransCoords(pts, nullptr, p, 0, &err);
  ExpectNear(out, 2, 3, {10, 9, 8, 1, 0, 2});
  EXPECT_EQ(efga_PolyTransCoords(pts, pts, p, 0, &err), pts); // in place
  ExpectNear(pts, 2, 3, {10, 9, 8, 1, 0, 2});

  Egda_BaseData *wrongRows = M(3, 3, {});
  Egda_BaseData *wrongColumns = M(2, 2, {});
  for (auto [in, target] : {std::pair{wrongRows, out}, std::pair{pts, wrongColumns}}) {
    EXPECT_EQ(efga_PolyTransCoords(in, target, p, 0, &err), nullptr);
    ASSERT_NE(err, nullptr);
    eerr_DeleteErrorReportEx(&err);
  }

  Efga_CoordinateBlock *block = efga_BaseCoordBlockCreate(2, 2, 2, EGDA_TYPE_F64, nullptr);
  E(block->parts[1], 0, 1) = 1;
  EXPECT_EQ(efga_PolyTransCoordinateBlock(block, p, &err), block);
  ExpectNear(block->parts[0], 2, 2, {10, 10, 0, 0});
  ExpectNear(block->parts[1], 2, 2, {10, 10, 0, 1});
  efga_CoordBlockDelete(block, nullptr);
  efga_PolynomialDelete(p, nullptr);
  Delete({pts, out, wrongRows, wrongColumns});
}

TEST(EfgaPolynomial, DerivePolyCoefsFitsAContrastSegment) {
  // Eighteen points of an exact order-5 curve in one variable come back exactly.
  const double truth[6] = {0.1, 0.02, -0.003, 0.0004, -0.00002, 0.0000005};
  Egda_BaseData *x = M(1, 18, {});
  Egda_BaseData *y = M(1, 18, {});
  for (int k = 0; k < 18; ++k) {
    E(x, 0, k) = k;
    double v = 0;
    for (int d = 5; d >= 0; --d) v = v * k + truth[d];
    E(y, 0, k) = v;
  }
  Efga_Polynomial *p = efga_BasePolynomialCreate(5, 1, 1, EGDA_TYPE_F64, nullptr);
  Eerr_ErrorReport *err = nullptr;
  ASSERT_EQ(efga_DerivePolyCoefs(x, y, p, &err), p);
  EXPECT_NEAR(E(p->constants, 0, 0), truth[0], 1e-9);
  for (int t = 0; t < 5; ++t) EXPECT_NEAR(E(p->coefficients, 0, t), truth[t + 1], 1e-9) << t;
  Egda_BaseData *fitted = efga_PolyTransCoords(x, nullptr, p, 0, &err);
  for (int k = 0; k < 18; ++k) EXPECT_NEAR(E(fitted, 0, k), E(y, 0, k), 1e-9);

  // Five points cannot fix six unknowns.
  Egda_BaseData *few = M(1, 5, {0, 1, 2, 3, 4});
  Egda_BaseData *fewY = M(1, 5, {0, 1, 2, 3, 4});
  EXPECT_EQ(efga_DerivePolyCoefs(few, fewY, p, &err), nullptr);
  ASSERT_NE(err, nullptr);
  EXPECT_EQ(err->code, 4);
  eerr_DeleteErrorReportEx(&err);
  efga_PolynomialDelete(p, nullptr);
  Delete({x, y, fitted, few, fewY});
}

TEST(EfgaPolynomial, PrivateFormRoundTripAndCorruptForms) {
  Efga_Polynomial *q = efga_BasePolynomialCreate(2, 2, 2, EGDA_TYPE_F64, nullptr);
  for (int t = 0; t < 5; ++t) {
    E(q->coefficients, 0, t) = t + 0.25;
    E(q->coefficients, 1, t) = -t * 1e300;
  }
  E(q->constants, 0, 0) = 7;
  E(q->constants, 1, 0) = -0.0;
  Eerr_ErrorReport *err = nullptr;
  Efga_PolynomialPrivate *form = efga_PolynomialCopyToPrivate(q, &err);
  ASSERT_NE(form, nullptr);
  ASSERT_EQ(form->size, 16 + 8 * 12);
  const uint8_t header[16] = {2, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 5, 0, 0, 0};
  EXPECT_EQ(std::memcmp(form->data, header, 16), 0); // little-endian order, outputs, inputs, terms
  Efga_Polynomial *back = efga_PolynomialCopyFromPrivate(form, &err);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->order, 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(E(back->constants, i, 0), E(q->constants, i, 0));
    for (int t = 0; t < 5; ++t) EXPECT_EQ(E(back->coefficients, i, t), E(q->coefficients, i, t));
  }

  std::vector<uint8_t> bytes(form->data, form->data + form->size);
  auto withInt = [&](std::size_t at, int32_t v) {
    std::vector<uint8_t> b = bytes;
    for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
    return b;
  };
  const struct {
    const char *what;
    std::vector<uint8_t> data;
    int32_t code;
  } corrupt[] = {
      {"empty", {}, 2},
      {"header cut", std::vector<uint8_t>(bytes.begin(), bytes.begin() + 12), 2},
      {"last value cut", std::vector<uint8_t>(bytes.begin(), bytes.end() - 1), 4},
      {"trailing byte", [&] { auto b = bytes; b.push_back(0); return b; }(), 4},
      {"order 0", withInt(0, 0), 3},
      {"negative outputs", withInt(4, -2), 3},
      {"huge inputs", withInt(8, 0x7fffffff), 3},
      {"terms disagree", withInt(12, 6), 3},
      {"more outputs than data", withInt(4, 3), 4},
  };
  for (const auto &c : corrupt) {
    Efga_PolynomialPrivate f{static_cast<int32_t>(c.data.size()), const_cast<uint8_t *>(c.data.data())};
    EXPECT_EQ(efga_PolynomialCopyFromPrivate(&f, &err), nullptr) << c.what;
    ASSERT_NE(err, nullptr) << c.what;
    EXPECT_EQ(err->code, c.code) << c.what;
    eerr_DeleteErrorReportEx(&err);
  }
  Efga_PolynomialPrivate negative{-1, form->data};
  EXPECT_EQ(efga_PolynomialCopyFromPrivate(&negative, &err), nullptr);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(efga_PolynomialCopyFromPrivate(nullptr, &err), nullptr);
  eerr_DeleteErrorReportEx(&err);

  emsc_HeapFree(form);
  efga_PolynomialDelete(q, nullptr);
  efga_PolynomialDelete(back, nullptr);
}

// ---- dense matrices -----------------------------------------------------------------------------

TEST(EfgaMatrix, ElementWiseOperationsAndShapes) {
  Egda_BaseData *a = M(2, 3, {1, 2, 3, 4, 5, 6});
  Egda_BaseData *b = M(3, 2, {7, 8, 9, 10, 11, 12});
  Eerr_ErrorReport *err = nullptr;
  Egda_BaseData *ab = efga_MatrixMultiply(a, b, nullptr, &err);
  ExpectNear(ab, 2, 2, {58, 64, 139, 154});
  Egda_BaseData *sum = efga_MatrixAdd(ab, ab, nullptr, &err);
  ExpectNear(sum, 2, 2, {116, 128, 278, 308});
  EXPECT_EQ(efga_MatrixSubtract(sum, ab, sum, &err), sum); // result may be an operand
  ExpectNear(sum, 2, 2, {58, 64, 139, 154});
  EXPECT_EQ(efga_MatrixMultiplyScalar(sum, 0.5, sum, &err), sum);
  ExpectNear(sum, 2, 2, {29, 32, 69.5, 77});
  EXPECT_DOUBLE_EQ(efga_MatrixTrace(sum), 106);
  EXPECT_TRUE(std::isnan(efga_MatrixTrace(a)));
  EXPECT_TRUE(std::isnan(efga_MatrixTrace(nullptr)));
  // Transposing in place reshapes the matrix.
  EXPECT_EQ(efga_MatrixTranspose(a, a, &err), a);
  ExpectNear(a, 3, 2, {1, 4, 2, 5, 3, 6});
  Egda_BaseData *v = M(3, 1, {10, 20, 30});
  Egda_BaseData *shifted = efga_MatrixShift(a, v, nullptr, &err);
  ExpectNear(shifted, 3, 2, {11, 14, 22, 25, 33, 36});
  EXPECT_EQ(err, nullptr);

  Egda_BaseData *u8 = egda_BaseDataCreate(2, 2, EGDA_TYPE_U8, EGDA_MATRIX, nullptr, nullptr);
  const struct {
    const char *what;
    std::function<Egda_BaseData *()> call;
  } bad[] = {
      {"multiply shapes", [&] { return efga_MatrixMultiply(b, b, nullptr, &err); }},
      {"add shapes", [&] { return efga_MatrixAdd(a, ab, nullptr, &err); }},
      {"not f64", [&] { return efga_MatrixAdd(u8, u8, nullptr, &err); }},
      {"shift vector", [&] { return efga_MatrixShift(a, ab, nullptr, &err); }},
      {"null", [&] { return efga_MatrixTranspose(nullptr, nullptr, &err); }},
  };
  for (const auto &c : bad) {
    EXPECT_EQ(c.call(), nullptr) << c.what;
    EXPECT_NE(err, nullptr) << c.what;
    eerr_DeleteErrorReportEx(&err);
  }
  Delete({a, b, ab, sum, v, shifted, u8});
}

TEST(EfgaMatrix, InverseTimesMatrixIsTheIdentity) {
  Egda_BaseData *m = M(3, 3, {4, 7, 2, 3, 6, 1, 2, 5, 3});
  Eerr_ErrorReport *err = nullptr;
  Egda_BaseData *inverse = egda_MatrixInvert(m, nullptr, &err);
  ASSERT_NE(inverse, nullptr);
  Egda_BaseData *product = efga_MatrixMultiply(inverse, m, nullptr, &err);
  ExpectNear(product, 3, 3, {1, 0, 0, 0, 1, 0, 0, 0, 1});
  Delete({m, inverse, product});

  const struct {
    const char *what;
    Egda_BaseData *m;
  } singular[] = {
      {"zeros", M(2, 2, {0, 0, 0, 0})},
      {"rank one", M(3, 3, {1, 2, 3, 2, 4, 6, 3, 6, 9})},
      {"equal rows", M(3, 3, {1, 5, 2, 7, 1, 3, 1, 5, 2})},
      {"not square", M(2, 3, {1, 0, 0, 0, 1, 0})},
      {"not finite", M(2, 2, {1, NAN, 0, 1})},
  };
  for (const auto &s : singular) {
    EXPECT_EQ(egda_MatrixInvert(s.m, nullptr, &err), nullptr) << s.what;
    ASSERT_NE(err, nullptr) << s.what;
    eerr_DeleteErrorReportEx(&err);
    egda_BaseDataDelete(s.m, nullptr);
  }
}

TEST(EfgaMatrix, SvdReconstructsTheMatrix) {
  const struct {
    int rows, columns;
    std::initializer_list<double> values;
  } cases[] = {
      {3, 2, {1, 2, 3, 4, 5, 6}},
      {2, 3, {3, 2, 2, 2, 3, -2}}, // wider than tall: U padded with a zero column
      {3, 3, {2, 0, 0, 0, 0, 0, 0, 0, 5}},
  };
  for (const auto &c : cases) {
    Egda_BaseData *a = M(c.rows, c.columns, c.values);
    Egda_BaseData *original = egda_BaseDataCopy(a, nullptr, nullptr);
    Egda_BaseData *w = M(1, 1, {});
    Egda_BaseData *v = M(1, 1, {});
    Eerr_ErrorReport *err = nullptr;
    ASSERT_EQ(efga_MatrixSVDF64(a, w, v, &err), 0);
    ASSERT_EQ(w->rows, c.columns);
    ASSERT_EQ(v->rows, c.columns);
    ASSERT_EQ(v->columns, c.columns);
    for (int k = 1; k < c.columns; ++k) EXPECT_GE(E(w, k - 1, 0), E(w, k, 0)); // largest first
    for (int r = 0; r < c.rows; ++r)
      for (int col = 0; col < c.columns; ++col) {
        double s = 0;
        for (int k = 0; k < c.columns; ++k) s += E(a, r, k) * E(w, k, 0) * E(v, col, k);
        EXPECT_NEAR(s, E(original, r, col), 1e-12) << c.rows << "x" << c.columns;
      }
    Delete({a, original, w, v});
  }
  // The 2 x 3 case has singular values 5 and 3 (and a padding zero).
  Egda_BaseData *a = M(2, 3, {3, 2, 2, 2, 3, -2});
  Egda_BaseData *w = M(3, 1, {});
  Egda_BaseData *v = M(3, 3, {});
  ASSERT_EQ(efga_MatrixSVDF64(a, w, v, nullptr), 0);
  ExpectNear(w, 3, 1, {5, 3, 0});
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(efga_MatrixSVDF64(a, nullptr, v, &err), -1);
  ASSERT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  Delete({a, w, v});
}

TEST(EfgaMatrix, EigensystemOfASymmetricMatrix) {
  Egda_BaseData *m = M(2, 2, {2, 1, 1, 2});
  Egda_BaseData *values = M(2, 1, {});
  Egda_BaseData *vectors = M(2, 2, {});
  int32_t rank = 0;
  double sum = 0;
  Eerr_ErrorReport *err = nullptr;
  ASSERT_EQ(efga_MatrixEigensystem(m, values, vectors, &rank, &sum, &err), 0);
  const double h = std::sqrt(0.5);
  ExpectNear(values, 2, 1, {3, 1});
  // Columns (1, 1)/√2 and (1, -1)/√2: the largest component (the first, on a tie) is positive.
  ExpectNear(vectors, 2, 2, {h, h, h, -h});
  EXPECT_EQ(rank, 2);
  EXPECT_NEAR(sum, 4, 1e-12);

  // A covariance-like 3 x 3: V diag(λ) V^T gives it back; a singular one has rank 2.
  Egda_BaseData *c = M(3, 3, {4, 2, 0, 2, 5, 3, 0, 3, 6});
  Egda_BaseData *cv = M(3, 1, {});
  Egda_BaseData *cvec = M(3, 3, {});
  ASSERT_EQ(efga_MatrixEigensystem(c, cv, cvec, nullptr, nullptr, &err), 0);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      double s = 0;
      for (int k = 0; k < 3; ++k) s += E(cvec, i, k) * E(cv, k, 0) * E(cvec, j, k);
      EXPECT_NEAR(s, E(c, i, j), 1e-12);
    }
  Egda_BaseData *flat = M(3, 3, {1, 1, 0, 1, 1, 0, 0, 0, 2});
  ASSERT_EQ(efga_MatrixEigensystem(flat, cv, cvec, &rank, nullptr, &err), 0);
  EXPECT_EQ(rank, 2);

  Egda_BaseData *skew = M(2, 2, {1, 2, 0, 1});
  EXPECT_EQ(efga_MatrixEigensystem(skew, values, vectors, nullptr, nullptr, &err), -1);
  ASSERT_NE(err, nullptr);
  EXPECT_EQ(err->code, 2);
  eerr_DeleteErrorReportEx(&err);
  Delete({m, values, vectors, c, cv, cvec, flat, skew});
}

TEST(EfgaMatrix, CholeskyGivesTheUpperFactor) {
  Egda_BaseData *spd = M(3, 3, {4, 2, -2, 2, 10, 2, -2, 2, 6});
  Eerr_ErrorReport *err = nullptr;
  Egda_BaseData *u = efga_MatrixCholeskyDecomposition(spd, nullptr, &err);
  ExpectNear(u, 3, 3, {2, 1, -1, 0, 3, 1, 0, 0, 2});
  Delete({spd, u});

  for (Egda_BaseData *bad : {M(2, 2, {1, 2, 2, 1}), M(2, 2, {0, 0, 0, 0}), M(2, 2, {4, 1, 0, 4})}) {
    EXPECT_EQ(efga_MatrixCholeskyDecomposition(bad, nullptr, &err), nullptr);
    ASSERT_NE(err, nullptr);
    eerr_DeleteErrorReportEx(&err);
    egda_BaseDataDelete(bad, nullptr);
  }
}

TEST(EfgaMatrix, SolveLinearEquations) {
  // Two lines p1 + t1 d1 = p2 + t2 d2: [d1 -d2] (t1, t2) = p2 - p1.
  Egda_BaseData *a = M(2, 2, {1, 0, 0, -1});
  Egda_BaseData *b = M(2, 1, {3, -2});
  Eerr_ErrorReport *err = nullptr;
  Egda_BaseData *x = efga_SolveLinearEqs(a, b, nullptr, &err);
  ExpectNear(x, 2, 1, {3, 2});
  Egda_BaseData *parallel = M(2, 2, {1, -1, 1, -1});
  EXPECT_EQ(efga_SolveLinearEqs(parallel, b, x, &err), nullptr);
  ASSERT_NE(err, nullptr);
  EXPECT_EQ(err->code, 3);
  eerr_DeleteErrorReportEx(&err);
  Delete({a, b, x, parallel});
}

} // namespace

// ---- The stored design of polynomials ----

TEST(EfgaPolynomialDesign, DescribesThePrivateFormAndCarriesAPolynomialThroughTheCodec) {
  const int64_t live = emsc_TestLiveBlocks();
  Emif_Dictionary *dictionary = emif_DictionaryCreate(nullptr);
  Eerr_ErrorReport *err = nullptr;
  Emif_Design *design = efga_PolynomialDesignDefine(dictionary, &err);
  ASSERT_NE(design, nullptr);
  EXPECT_EQ(err, nullptr);
  EXPECT_STREQ(emif_DesignName(design), "Efga_Polynomial");
  const int32_t offsets[] = {static_cast<int32_t>(offsetof(Efga_PolynomialPrivate, size))};
  EXPECT_TRUE(emif_DesignMatchesLayout(design, sizeof(Efga_PolynomialPrivate), offsets, 1));
  EXPECT_EQ(emif_DesignItemOffset(design, "data"), 0);
  EXPECT_EQ(efga_PolynomialDesignDefine(dictionary, nullptr), design); // defined once

  // A record pointing at a polynomial (item 1026 "Efga_Polynomial"), as stored records hold them.
  struct Holder {
    int32_t id;
    Efga_PolynomialPrivate *poly;
  };
  Emif_Design *holder = emif_DesignCreate(dictionary, "Holder", nullptr, 12, "id", 1026, "poly",
                                          "Efga_Polynomial", 0);
  ASSERT_NE(holder, nullptr);
  Efga_Polynomial *poly = efga_BasePolynomialCreate(2, 2, 2, EGDA_TYPE_F64, nullptr);
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 5; ++c) E(poly->coefficients, r, c) = 0.5 * (r + 1) - c / 3.0;
    E(poly->constants, r, 0) = -7.25 + r;
  }
  Holder in{42, efga_PolynomialCopyToPrivate(poly, nullptr)};
  uint8_t *bytes = nullptr;
  int32_t size = 0;
  ASSERT_EQ(emif_ObjectEncode(holder, &in, &bytes, &size, nullptr), 0);
  auto *out = static_cast<Holder *>(emif_ObjectDecode(nullptr, holder, bytes, size, nullptr, &err));
  ASSERT_NE(out, nullptr) << (err ? err->message : "");
  EXPECT_EQ(out->id, 42);
  ASSERT_NE(out->poly, nullptr);
  Efga_Polynomial *back = efga_PolynomialCopyFromPrivate(out->poly, &err);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->order, 2);
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 5; ++c) EXPECT_EQ(E(back->coefficients, r, c), E(poly->coefficients, r, c));
    EXPECT_EQ(E(back->constants, r, 0), E(poly->constants, r, 0));
  }
  // A polynomial absent from the record reads back absent.
  Holder none{7, nullptr};
  emsc_HeapFree(bytes);
  ASSERT_EQ(emif_ObjectEncode(holder, &none, &bytes, &size, nullptr), 0);
  auto *empty = static_cast<Holder *>(emif_ObjectDecode(nullptr, holder, bytes, size, nullptr, nullptr));
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->poly, nullptr);

  emif_ObjectFree(holder, empty);
  emif_ObjectFree(holder, out); // the decoded private form holds its bytes apart
  emsc_HeapFree(in.poly);       // the one made by CopyToPrivate is one block
  emsc_HeapFree(bytes);
  efga_PolynomialDelete(back, nullptr);
  efga_PolynomialDelete(poly, nullptr);
  emif_DictionaryDelete(dictionary, nullptr);
  EXPECT_EQ(emsc_TestLiveBlocks(), live);
}

TEST(EfgaPolynomialDesign, AConflictingDesignOfThatNameIsReported) {
  Emif_Dictionary *dictionary = emif_DictionaryCreate(nullptr);
  ASSERT_NE(emif_DesignCreate(dictionary, "Efga_Polynomial", nullptr, 14, "value", 0), nullptr);
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(efga_PolynomialDesignDefine(dictionary, &err), nullptr);
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err->reporter, "efga_PolynomialDesignDefine");
  EXPECT_EQ(err->code, 1);
  EXPECT_STREQ(err->message, "Error returned from emif_DefineObject");
  EXPECT_NE(err->next, nullptr);
  eerr_DeleteErrorReportEx(&err);
  emif_DictionaryDelete(dictionary, nullptr);

  // Without a dictionary the design is free-standing and belongs to the caller.
  Emif_Design *free = efga_PolynomialDesignDefine(nullptr, &err);
  ASSERT_NE(free, nullptr);
  emif_DesignDestroy(free);
}

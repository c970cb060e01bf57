#include "exfr.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "emsc.h"
#include "taviron_testing.h"

namespace {

using taviron::testing::SweepAllocationFailures;

const double kPi = std::acos(-1.0);

double &E(Egda_BaseData *m, int r, int c) {
  return reinterpret_cast<double *>(m->origin + static_cast<std::ptrdiff_t>(c) * m->pitch)[r];
}

Egda_BaseData *Points(std::initializer_list<std::pair<double, double>> pts) {
  Egda_BaseData *m = egda_BaseDataCreate(2, static_cast<int32_t>(pts.size()), EGDA_TYPE_F64,
                                         EGDA_MATRIX, nullptr, nullptr);
  int c = 0;
  for (auto [x, y] : pts) {
    E(m, 0, c) = x;
    E(m, 1, c++) = y;
  }
  return m;
}

std::pair<double, double> Apply(const _exfr_XForm *x, double px, double py) {
  Egda_BaseData *pt = Points({{px, py}});
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(exfr_Transform(x, pt, pt, &err), pt);
  EXPECT_EQ(err, nullptr);
  const std::pair<double, double> out{E(pt, 0, 0), E(pt, 1, 0)};
  egda_BaseDataDelete(pt, nullptr);
  return out;
}

void ExpectMaps(const _exfr_XForm *x, double px, double py, double ex, double ey,
                double tolerance = 1e-12) {
  const auto [ox, oy] = Apply(x, px, py);
  EXPECT_NEAR(ox, ex, tolerance) << "(" << px << ", " << py << ")";
  EXPECT_NEAR(oy, ey, tolerance) << "(" << px << ", " << py << ")";
}

Efga_Polynomial *Poly(int32_t order, std::initializer_list<double> x, std::initializer_list<double> y) {
  Efga_Polynomial *p = efga_BasePolynomialCreate(order, 2, 2, EGDA_TYPE_F64, nullptr);
  int t = 0;
  for (double v : x) {
    if (t < p->coefficients->columns) E(p->coefficients, 0, t++) = v;
    else E(p->constants, 0, 0) = v;
  }
  t = 0;
  for (double v : y) {
    if (t < p->coefficients->columns) E(p->coefficients, 1, t++) = v;
    else E(p->constants, 1, 0) = v;
  }
  return p;
}

// A quadratic warp and its order-2 polynomial: x' = x + 0.01 x^2 + 1, y' = y - 0.02 xy.
Efga_Polynomial *Warp() { return Poly(2, {1, 0, 0.01, 0, 0, 1}, {0, 1, 0, -0.02, 0, 0}); }

void Free(std::initializer_list<_exfr_XForm *> xs) {
  for (_exfr_XForm *x : xs) exfr_XFormFree(&x, nullptr);
}

TEST(ExfrCreate, EachCreatorMapsPointsAsDescribed) {
  Efga_Polynomial *affine = Poly(1, {2, 1, 5}, {0, 3, -1});
  Efga_Polynomial *warp = Warp();
  Efga_Polynomial *inverseAffine = efga_PolynomialInvert(affine, nullptr, nullptr);
  Eerr_ErrorReport *err = nullptr;
  const struct {
    const char *what;
    _exfr_XForm *x;
    double px, py, ex, ey;
  } cases[] = {
      {"new", exfr_XFormNew(), 3, 4, 3, 4},
      {"unity", exfr_XFormCreateUnity(), 3, 4, 3, 4},
      {"coefficients", exfr_XFormCreateUsingCoeffs(1, 2, 3, 4, 5, 6, &err), 1, 1, 6, 15},
      {"affine polynomial", exfr_XFormCreateFromAffinePoly(affine, &err), 1, 2, 9, 5},
      {"first-order polynomial", exfr_XFormCreate(affine, 0, &err), 1, 2, 9, 5},
      {"quadratic polynomial", exfr_XFormCreate(warp, 0, &err), 10, 5, 12, 4},
      {"polynomial pair", exfr_XFormCreateFromPolyPair(affine, inverseAffine, &err), 1, 2, 9, 5},
      {"new translation", exfr_XFormTranslate(nullptr, -1, 2, &err), 3, 4, 2, 6},
  };
  for (const auto &c : cases) {
    ASSERT_NE(c.x, nullptr) << c.what;
    ExpectMaps(c.x, c.px, c.py, c.ex, c.ey);
  }
  EXPECT_EQ(err, nullptr);
  // Translating an existing transform appends the shift after it.
  EXPECT_EQ(exfr_XFormTranslate(cases[5].x, 100, 0, &err), cases[5].x);
  ExpectMaps(cases[5].x, 10, 5, 112, 4);

  // Shapes that are not 2-D mappings are reported.
  Efga_Polynomial *oneD = efga_BasePolynomialCreate(5, 1, 1, EGDA_TYPE_F64, nullptr);
  const struct {
    const char *what;
    std::function<_exfr_XForm *()> call;
  } bad[] = {
      {"affine from quadratic", [&] { return exfr_XFormCreateFromAffinePoly(warp, &err); }},
      {"one-dimensional", [&] { return exfr_XFormCreate(oneD, 0, &err); }},
      {"null polynomial", [&] { return exfr_XFormCreate(nullptr, 0, &err); }},
      {"one-dimensional reverse", [&] { return exfr_XFormCreateFromPolyPair(affine, oneD, &err); }},
  };
  for (const auto &b : bad) {
    EXPECT_EQ(b.call(), nullptr) << b.what;
    EXPECT_NE(err, nullptr) << b.what;
    eerr_DeleteErrorReportEx(&err);
  }
  for (const auto &c : cases) Free({c.x});
  for (Efga_Polynomial *p : {affine, warp, inverseAffine, oneD}) efga_PolynomialDelete(p, nullptr);
}

TEST(ExfrCompose, TheTwoCompositionCallsTakeOppositeOrders) {
  _exfr_XForm *shift = exfr_XFormTranslate(nullptr, 1, 0, nullptr);
  _exfr_XForm *scale = exfr_XFormCreateUsingCoeffs(2, 0, 0, 0, 3, 0, nullptr);
  Eerr_ErrorReport *err = nullptr;
  _exfr_XForm *composed = exfr_XFormCompose(shift, scale, nullptr, &err); // scale, then shift
  _exfr_XForm *composition = exfr_XFormComposition(shift, scale, &err);  // shift, then scale
  ExpectMaps(composed, 1, 1, 3, 3);
  ExpectMaps(composition, 1, 1, 4, 3);

  // Null operands are the identity.
  _exfr_XForm *onlyA = exfr_XFormCompose(shift, nullptr, nullptr, &err);
  _exfr_XForm *onlyB = exfr_XFormComposition(nullptr, scale, &err);
  _exfr_XForm *neither = exfr_XFormCompose(nullptr, nullptr, nullptr, &err);
  ExpectMaps(onlyA, 1, 1, 2, 1);
  ExpectMaps(onlyB, 1, 1, 2, 3);
  ExpectMaps(neither, 1, 1, 1, 1);

  // The result may be an operand; polynomial steps keep their place in the chain.
  _exfr_XForm *warp = nullptr;
  {
    Efga_Polynomial *w = Warp();
    warp = exfr_XFormCreate(w, 0, nullptr);
    efga_PolynomialDelete(w, nullptr);
  }
  EXPECT_EQ(exfr_XFormCompose(warp, shift, shift, &err), shift); // shift := warp after shift
  ExpectMaps(shift, 9, 5, 12, 4);
  EXPECT_EQ(err, nullptr);
  Free({shift, scale, composed, composition, onlyA, onlyB, neither, warp});
}

TEST(ExfrInvert, InversesUndoTheTransform) {
  Efga_Polynomial *warp = Warp();
  Efga_Polynomial *fakeReverse = Poly(2, {1, 0, 0, 0, 0, -1}, {0, 1, 0, 0, 0, 0});
  _exfr_XForm *affine = exfr_XFormCreateUsingCoeffs(2, 1, 5, -1, 3, -4, nullptr);
  _exfr_XForm *pair = exfr_XFormCreateFromPolyPair(warp, fakeReverse, nullptr);
  Eerr_ErrorReport *err = nullptr;

  _exfr_XForm *inverse = exfr_XFormInvert(affine, nullptr, &err);
  _exfr_XForm *round = exfr_XFormComposition(affine, inverse, &err);
  ExpectMaps(round, 7, -3, 7, -3);
  // The explicit inverse of a pair is used as it stands (here a plain shift by -1).
  _exfr_XForm *pairInverse = exfr_XFormInvert(pair, nullptr, &err);
  ExpectMaps(pairInverse, 10, 5, 9, 5);
  // Inverting into itself.
  EXPECT_EQ(exfr_XFormInvert(affine, affine, &err), affine);
  _exfr_XForm *again = exfr_XFormInvert(affine, nullptr, &err);
  ExpectMaps(again, 1, 1, 8, -2);
  // The null transform inverts to the identity.
  _exfr_XForm *identity = exfr_XFormInvert(nullptr, nullptr, &err);
  ExpectMaps(identity, 1, 2, 1, 2);
  EXPECT_EQ(err, nullptr);

  _exfr_XForm *warpOnly = exfr_XFormCreate(warp, 0, nullptr);
  _exfr_XForm *flat = exfr_XFormCreateUsingCoeffs(1, 2, 0, 2, 4, 0, nullptr);
  _exfr_XForm *zero = exfr_XFormCreateUsingCoeffs(0, 0, 1, 0, 0, 1, nullptr);
  const struct {
    const char *what;
    _exfr_XForm *x;
    int32_t code;
  } bad[] = {{"order 2 without inverse", warpOnly, 2}, {"singular", flat, 3}, {"collapses", zero, 3}};
  for (const auto &b : bad) {
    _exfr_XForm *keep = exfr_XFormCopy(affine, nullptr, nullptr);
    EXPECT_EQ(exfr_XFormInvert(b.x, keep, &err), nullptr) << b.what;
    ASSERT_NE(err, nullptr) << b.what;
    EXPECT_EQ(err->code, b.code) << b.what;
    eerr_DeleteErrorReportEx(&err);
    EXPECT_TRUE(exfr_XFormIsSame(keep, affine, nullptr)) << "destination left as it was";
    Free({keep});
  }
  Free({affine, pair, inverse, round, pairInverse, again, identity, warpOnly, flat, zero});
  efga_PolynomialDelete(warp, nullptr);
  efga_PolynomialDelete(fakeReverse, nullptr);
}

TEST(ExfrCompare, SameMappingBuiltDifferentlyAndAffineExtraction) {
  _exfr_XForm *direct = exfr_XFormCreateUsingCoeffs(2, 0, 1, 0, 3, 0, nullptr);
  _exfr_XForm *scale = exfr_XFormCreateUsingCoeffs(2, 0, 0, 0, 3, 0, nullptr);
  _exfr_XForm *built = exfr_XFormTranslate(exfr_XFormCopy(scale, nullptr, nullptr), 1, 0, nullptr);
  _exfr_XForm *back = exfr_XFormInvert(scale, nullptr, nullptr);
  _exfr_XForm *cancelled = exfr_XFormComposition(scale, back, nullptr);
  _exfr_XForm *fresh = exfr_XFormNew();
  Efga_Polynomial *w = Warp();
  _exfr_XForm *warp1 = exfr_XFormCreate(w, 0, nullptr);
  _exfr_XForm *warp2 = exfr_XFormCopy(warp1, nullptr, nullptr);
  _exfr_XForm *warpShifted = exfr_XFormTranslate(exfr_XFormCopy(warp1, nullptr, nullptr), 0, 1, nullptr);
  const struct {
    _exfr_XForm *a, *b;
    int32_t same;
  } pairs[] = {
      {direct, built, 1},      {direct, scale, 0},      {cancelled, fresh, 1}, {cancelled, nullptr, 1},
      {warp1, warp2, 1},       {warp1, warpShifted, 0}, {warp1, direct, 0},    {nullptr, nullptr, 1},
  };
  for (const auto &p : pairs) EXPECT_EQ(exfr_XFormIsSame(p.a, p.b, nullptr), p.same);

  double c[6] = {};
  EXPECT_TRUE(exfr_XFormAffineExtractIfPresent(built, c, nullptr));
  EXPECT_EQ(std::vector<double>(c, c + 6), (std::vector<double>{2, 0, 1, 0, 3, 0}));
  EXPECT_TRUE(exfr_XFormAffineExtractIfPresent(nullptr, c, nullptr));
  EXPECT_EQ(std::vector<double>(c, c + 6), (std::vector<double>{1, 0, 0, 0, 1, 0}));
  EXPECT_FALSE(exfr_XFormAffineExtractIfPresent(warp1, c, nullptr));
  // A first-order pair with its own inverse still counts as affine.
  Efga_Polynomial *a = Poly(1, {0, -1, 4}, {1, 0, 0});
  Efga_Polynomial *ai = efga_PolynomialInvert(a, nullptr, nullptr);
  _exfr_XForm *pair = exfr_XFormCreateFromPolyPair(a, ai, nullptr);
  EXPECT_TRUE(exfr_XFormAffineExtractIfPresent(pair, c, nullptr));
  EXPECT_EQ(std::vector<double>(c, c + 6), (std::vector<double>{0, -1, 4, 1, 0, 0}));

  // Rotation angles: of an affine rotation, and measured along the x axis otherwise.
  Efga_Polynomial *r = efga_PolyCreate2DAffine(5, 5, kPi / 6, 2, 2, nullptr);
  _exfr_XForm *rotation = exfr_XFormCreate(r, 0, nullptr);
  EXPECT_NEAR(exfr_XFormFindRotationAngle(rotation, nullptr), kPi / 6, 1e-12);
  EXPECT_NEAR(exfr_XFormFindRotationAngle(pair, nullptr), kPi / 2, 1e-12);
  EXPECT_EQ(exfr_XFormFindRotationAngle(nullptr, nullptr), 0);
  // The warp takes (0, 0) to (1, 0) and (1, 0) to (2.01, 0): no turn; after the rotation, 30°.
  _exfr_XForm *turned = exfr_XFormComposition(warp1, rotation, nullptr);
  EXPECT_NEAR(exfr_XFormFindRotationAngle(turned, nullptr), kPi / 6, 1e-12);

  Free({direct, scale, built, back, cancelled, fresh, warp1, warp2, warpShifted, pair, rotation, turned});
  for (Efga_Polynomial *p : {w, a, ai, r}) efga_PolynomialDelete(p, nullptr);
}

TEST(ExfrTransform, PointsMatricesAndBlocks) {
  _exfr_XForm *x = exfr_XFormCreateUsingCoeffs(0, -1, 10, 1, 0, 0, nullptr);
  Egda_BaseData *src = Points({{1, 0}, {2, 3}, {-1, 4}});
  Eerr_ErrorReport *err = nullptr;

  Egda_BaseData *fresh = exfr_Transform(x, src, nullptr, &err);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh->columns, 3);
  EXPECT_EQ(E(fresh, 0, 1), 7);
  EXPECT_EQ(E(fresh, 1, 2), -1);
  EXPECT_EQ(E(src, 0, 1), 2); // source untouched

  // TransformN takes the first n points and leaves the rest of the target alone.
  Egda_BaseData *target = Points({{0, 0}, {0, 0}, {99, 99}});
  EXPECT_EQ(exfr_TransformN(x, src, target, 2, &err), target);
  EXPECT_EQ(E(target, 0, 1), 7);
  EXPECT_EQ(E(target, 0, 2), 99);
  Egda_BaseData *two = exfr_TransformN(x, src, nullptr, 2, &err);
  EXPECT_EQ(two->columns, 2);

  // In place, also through a row-by-row raster holding the same points and a polynomial step.
  Efga_Polynomial *w = Warp();
  _exfr_XForm *chain = exfr_XFormCreate(w, 0, nullptr);
  chain = exfr_XFormCompose(x, chain, chain, nullptr);
  Egda_BaseData *raster = egda_BaseDataCreate(2, 3, EGDA_TYPE_F64, EGDA_RASTER, nullptr, nullptr);
  auto rasterAt = [&](int r, int c) -> double & { return reinterpret_cast<double *>(raster->origin + r * raster->pitch)[c]; };
  for (int c = 0; c < 3; ++c) {
    rasterAt(0, c) = E(src, 0, c);
    rasterAt(1, c) = E(src, 1, c);
  }
  EXPECT_EQ(exfr_Transform(chain, src, src, &err), src);
  EXPECT_EQ(exfr_Transform(chain, raster, raster, &err), raster);
  for (int c = 0; c < 3; ++c) {
    EXPECT_DOUBLE_EQ(rasterAt(0, c), E(src, 0, c));
    EXPECT_DOUBLE_EQ(rasterAt(1, c), E(src, 1, c));
  }
  // (2, 3) -> warp (3.04, 2.88) -> (10 - 2.88, 3.04)
  EXPECT_NEAR(E(src, 0, 1), 7.12, 1e-12);
  EXPECT_NEAR(E(src, 1, 1), 3.04, 1e-12);
  EXPECT_EQ(err, nullptr);

  Egda_BaseData *small = Points({{0, 0}});
  Egda_BaseData *threeRows = egda_BaseDataCreate(3, 3, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  Egda_BaseData *ints = egda_BaseDataCreate(2, 3, EGDA_TYPE_S32, EGDA_MATRIX, nullptr, nullptr);
  const struct {
    const char *what;
    std::function<Egda_BaseData *()> call;
  } bad[] = {
      {"target too small", [&] { return exfr_Transform(x, src, small, &err); }},
      {"three rows", [&] { return exfr_Transform(x, threeRows, nullptr, &err); }},
      {"not f64", [&] { return exfr_Transform(x, ints, nullptr, &err); }},
      {"null source", [&] { return exfr_Transform(x, nullptr, nullptr, &err); }},
      {"count past the end", [&] { return exfr_TransformN(x, src, nullptr, 4, &err); }},
  };
  for (const auto &b : bad) {
    EXPECT_EQ(b.call(), nullptr) << b.what;
    EXPECT_NE(err, nullptr) << b.what;
    eerr_DeleteErrorReportEx(&err);
  }

  // Blocks: a new target, in place, and into a block of another shape.
  Efga_CoordinateBlock *block = efga_BaseCoordBlockCreate(2, 2, 2, EGDA_TYPE_F64, nullptr);
  E(block->parts[1], 0, 1) = 1;
  Efga_CoordinateBlock *out = exfr_CoordBlockTransform(x, block, nullptr, &err);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(E(out->parts[1], 0, 1), 10);
  EXPECT_EQ(E(out->parts[1], 1, 1), 1);
  EXPECT_EQ(E(block->parts[1], 0, 1), 1);
  Efga_CoordinateBlock *other = efga_BaseCoordBlockCreate(2, 7, 1, EGDA_TYPE_F64, nullptr);
  EXPECT_EQ(exfr_CoordBlockTransform(nullptr, out, other, &err), other); // null: a copy
  EXPECT_EQ(other->count, 2);
  EXPECT_EQ(other->parts[1]->columns, 2);
  EXPECT_EQ(E(other->parts[1], 0, 1), 10);
  EXPECT_EQ(exfr_CoordBlockTransform(x, block, block, &err), block);
  EXPECT_EQ(E(block->parts[1], 0, 1), 10);
  EXPECT_EQ(err, nullptr);

  for (Egda_BaseData *m : {src, fresh, target, two, raster, small, threeRows, ints}) egda_BaseDataDelete(m, nullptr);
  for (Efga_CoordinateBlock *b : {block, out, other}) efga_CoordBlockDelete(b, nullptr);
  efga_PolynomialDelete(w, nullptr);
  Free({x, chain});
}

TEST(ExfrTransform, ObjectPolynomialCarriesLocalScale) {
  Efga_Polynomial *ellipse = efga_PolyCreate2DAffine(10, 20, 0, 3, 2, nullptr); // semi-axes 3, 2
  Eerr_ErrorReport *err = nullptr;

  // Affine transform: the exact composition.
  _exfr_XForm *zoom = exfr_XFormCreateUsingCoeffs(0, -2, 1, 2, 0, 0, nullptr); // turn and double
  Efga_Polynomial *p = exfr_TransformObjectPoly(zoom, ellipse, 1, 1, &err);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->order, 1);
  const double expected[2][3] = {{0, -4, -39}, {6, 0, 20}};
  for (int r = 0; r < 2; ++r) {
    EXPECT_NEAR(E(p->coefficients, r, 0), expected[r][0], 1e-12);
    EXPECT_NEAR(E(p->coefficients, r, 1), expected[r][1], 1e-12);
    EXPECT_NEAR(E(p->constants, r, 0), expected[r][2], 1e-12);
  }
  // No transform: the polynomial itself.
  Efga_Polynomial *same = exfr_TransformObjectPoly(nullptr, ellipse, 1, 1, &err);
  EXPECT_NEAR(E(same->coefficients, 0, 0), 3, 1e-15);
  EXPECT_NEAR(E(same->constants, 1, 0), 20, 1e-15);

  // A curved transform: differences over the given steps of the polynomial's frame.
  Efga_Polynomial *w = Warp();
  _exfr_XForm *warp = exfr_XFormCreate(w, 0, nullptr);
  Efga_Polynomial *local = exfr_TransformObjectPoly(warp, ellipse, 1, 1, &err);
  ASSERT_NE(local, nullptr);
  const auto [ox, oy] = Apply(warp, 10, 20);
  const auto [ux, uy] = Apply(warp, 13, 20);
  const auto [vx, vy] = Apply(warp, 10, 22);
  EXPECT_NEAR(E(local->constants, 0, 0), ox, 1e-12);
  EXPECT_NEAR(E(local->constants, 1, 0), oy, 1e-12);
  EXPECT_NEAR(E(local->coefficients, 0, 0), ux - ox, 1e-12);
  EXPECT_NEAR(E(local->coefficients, 1, 0), uy - oy, 1e-12);
  EXPECT_NEAR(E(local->coefficients, 0, 1), vx - ox, 1e-12);
  EXPECT_NEAR(E(local->coefficients, 1, 1), vy - oy, 1e-12);

  EXPECT_EQ(exfr_TransformObjectPoly(warp, ellipse, 0, 1, &err), nullptr);
  ASSERT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  Efga_Polynomial *oneD = efga_BasePolynomialCreate(5, 1, 1, EGDA_TYPE_F64, nullptr);
  EXPECT_EQ(exfr_TransformObjectPoly(zoom, oneD, 1, 1, &err), nullptr);
  ASSERT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  for (Efga_Polynomial *q : {ellipse, p, same, w, local, oneD}) efga_PolynomialDelete(q, nullptr);
  Free({zoom, warp});
}

// Reads the statements exfr_XFormPrint writes, the way a composition file reader does: each
// statement makes a transform, linked after the previous one.
class StatementReader {
public:
  explicit StatementReader(const std::string &text) {
    std::string word;
    auto end = [&] {
      if (!word.empty()) tokens_.push_back(word);
      word.clear();
    };
    for (char c : text) {
      if (std::isspace(static_cast<unsigned char>(c))) end();
      else if (c == ',' || c == ';' || c == '{' || c == '}') { end(); tokens_.push_back(std::string(1, c)); }
      else word += c;
    }
    end();
  }

  _exfr_XForm *Read() {
    _exfr_XForm *chain = nullptr;
    while (pos_ < tokens_.size()) {
      _exfr_XForm *next = Statement();
      if (!next) {
        exfr_XFormFree(&chain, nullptr);
        return nullptr;
      }
      _exfr_XForm *linked = exfr_XFormComposition(chain, next, nullptr);
      exfr_XFormFree(&chain, nullptr);
      exfr_XFormFree(&next, nullptr);
      chain = linked;
    }
    return chain;
  }

private:
  const std::string &Next() {
    static const std::string none;
    return pos_ < tokens_.size() ? tokens_[pos_++] : none;
  }
  bool Expect(const char *t) { return Next() == t; }
  double Number() {
    const std::string &t = Next();
    char *end = nullptr;
    const double v = std::strtod(t.c_str(), &end);
    if (t.empty() || *end) ok_ = false;
    return v;
  }
  std::vector<double> Numbers() {
    std::vector<double> v;
    while (pos_ < tokens_.size() && tokens_[pos_] != ";") v.push_back(Number());
    return v;
  }
  Efga_Polynomial *List(int n, const std::vector<double> &v) {
    if (v.empty()) return nullptr;
    if (static_cast<int>(v.size()) != 2 * (n + 1)) { ok_ = false; return nullptr; }
    Efga_Polynomial *p = efga_BasePolynomialCreate(1, 2, n, EGDA_TYPE_F64, nullptr);
    for (int t = 0; t < n; ++t) {
      E(p->coefficients, 0, t) = v[static_cast<std::size_t>(t)];
      E(p->coefficients, 1, t) = v[static_cast<std::size_t>(n + 1 + t)];
    }
    E(p->constants, 0, 0) = v[static_cast<std::size_t>(n)];
    E(p->constants, 1, 0) = v[static_cast<std::size_t>(2 * n + 1)];
    return p;
  }
  _exfr_XForm *Statement() {
    const std::string keyword = Next();
    if (keyword == "IDENTITY") return Expect(";") ? exfr_XFormCreateUnity() : nullptr;
    if (keyword == "AFFINE") {
      double c[6];
      for (int k = 0; k < 6; ++k) {
        c[k] = Number();
        if (k < 5 && pos_ < tokens_.size() && tokens_[pos_] == ",") ++pos_;
      }
      if (!Expect(";") || !ok_) return nullptr;
      return exfr_XFormCreateUsingCoeffs(c[0], c[1], c[2], c[3], c[4], c[5], nullptr);
    }
    if (keyword != "POLYPAIR" || !Expect("{") || !Expect("TERMCOUNT")) return nullptr;
    const int n = static_cast<int>(Number());
    if (!Expect(";") || !Expect("FORWARD")) return nullptr;
    Efga_Polynomial *forward = List(n, Numbers());
    Efga_Polynomial *reverse = nullptr;
    if (Expect(";") && Expect("REVERSE")) reverse = List(n, Numbers());
    _exfr_XForm *x = nullptr;
    if (Expect(";") && Expect("}") && ok_ && forward) x = exfr_XFormCreateFromPolyPair(forward, reverse, nullptr);
    efga_PolynomialDelete(forward, nullptr);
    efga_PolynomialDelete(reverse, nullptr);
    return x;
  }

  std::vector<std::string> tokens_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

std::string PrintToFile(const _exfr_XForm *x, int32_t indent) {
  FILE *f = std::tmpfile();
  EXPECT_EQ(exfr_XFormPrint(f, indent, x), 0);
  std::string text;
  std::rewind(f);
  for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
  std::fclose(f);
  return text;
}

TEST(ExfrPrint, TextFormAndItsRoundTrip) {
  _exfr_XForm *affine = exfr_XFormCreateUsingCoeffs(2, 0, -1.5, 0, 2, 3, nullptr);
  EXPECT_EQ(PrintToFile(affine, 16), "\t\tAFFINE 2, 0, -1.5, 0, 2, 3 ;\n");
  EXPECT_EQ(PrintToFile(nullptr, 10), "\t  IDENTITY ;\n");
  {
    taviron::testing::CapturedOutput out;
    EXPECT_EQ(exfr_XFormPrint(nullptr, 0, affine), 0); // no stream: standard output
    EXPECT_EQ(out.Out(), "AFFINE 2, 0, -1.5, 0, 2, 3 ;\n");
  }
  Efga_Polynomial *w = Warp();
  _exfr_XForm *warp = exfr_XFormCreate(w, 0, nullptr);
  EXPECT_EQ(PrintToFile(warp, 8), "\tPOLYPAIR {\n"
                                  "\t\tTERMCOUNT 5 ;\n"
                                  "\t\tFORWARD 1 0 0.01 0 0 1 0 1 0 -0.02 0 0 ;\n"
                                  "\t\tREVERSE ;\n"
                                  "\t}\n");

  // Chains of every kind read back into the same transform.
  Efga_Polynomial *cubic = efga_BasePolynomialCreate(3, 2, 2, EGDA_TYPE_F64, nullptr);
  Efga_Polynomial *cubicBack = efga_BasePolynomialCreate(3, 2, 2, EGDA_TYPE_F64, nullptr);
  for (int t = 0; t < 9; ++t) {
    E(cubic->coefficients, 0, t) = 1.0 / (t + 3);
    E(cubic->coefficients, 1, t) = -1e-7 * t;
    E(cubicBack->coefficients, 0, t) = std::sqrt(t + 0.5);
    E(cubicBack->coefficients, 1, t) = 1e12 / (t + 7);
  }
  _exfr_XForm *pair = exfr_XFormCreateFromPolyPair(cubic, cubicBack, nullptr);
  _exfr_XForm *odd = exfr_XFormCreateUsingCoeffs(1.0 / 3, -1e-300, 6.02214076e23, -0.0, 2.0 / 7, -kPi, nullptr);
  _exfr_XForm *chain = exfr_XFormComposition(odd, warp, nullptr);
  _exfr_XForm *longer = exfr_XFormComposition(chain, pair, nullptr);
  _exfr_XForm *last = exfr_XFormComposition(longer, affine, nullptr);
  for (_exfr_XForm *x : {static_cast<_exfr_XForm *>(nullptr), affine, warp, pair, odd, chain, longer, last}) {
    const std::string text = PrintToFile(x, 16);
    _exfr_XForm *read = StatementReader(text).Read();
    ASSERT_NE(read, nullptr) << text;
    EXPECT_TRUE(exfr_XFormIsSame(read, x, nullptr)) << text;
    exfr_XFormFree(&read, nullptr);
  }
  Free({affine, warp, pair, odd, chain, longer, last});
  for (Efga_Polynomial *p : {w, cubic, cubicBack}) efga_PolynomialDelete(p, nullptr);
}

TEST(ExfrMemory, AllocationFailuresReportWithoutLeaks) {
  Efga_Polynomial *w = Warp();
  Efga_Polynomial *a = Poly(1, {2, 1, 5}, {0, 3, -1});
  _exfr_XForm *warp = exfr_XFormCreate(w, 0, nullptr);
  _exfr_XForm *affine = exfr_XFormCreateFromAffinePoly(a, nullptr);
  _exfr_XForm *made = nullptr;
  auto freeMade = [&] { exfr_XFormFree(&made, nullptr); };
  SweepAllocationFailures([&](Eerr_ErrorReport **e) { return (made = exfr_XFormCreateFromPolyPair(w, a, e)); }, freeMade);
  SweepAllocationFailures([&](Eerr_ErrorReport **e) { return (made = exfr_XFormComposition(warp, affine, e)); }, freeMade);
  SweepAllocationFailures([&](Eerr_ErrorReport **e) { return (made = exfr_XFormInvert(affine, nullptr, e)); }, freeMade);
  Efga_CoordinateBlock *block = efga_BaseCoordBlockCreate(2, 3, 2, EGDA_TYPE_F64, nullptr);
  Efga_CoordinateBlock *out = nullptr;
  SweepAllocationFailures([&](Eerr_ErrorReport **e) { return (out = exfr_CoordBlockTransform(warp, block, nullptr, e)); },
                          [&] { efga_CoordBlockDelete(out, nullptr); });
  efga_CoordBlockDelete(block, nullptr);
  Free({warp, affine});
  efga_PolynomialDelete(w, nullptr);
  efga_PolynomialDelete(a, nullptr);
}

} // namespace

TEST(ExfrCreate, FromMapInformationBothDirections) {
  Eerr_ErrorReport *err = nullptr;
  Eprj_MapInfo *info = eprj_MapInfoCreate(&err);
  ASSERT_NE(info, nullptr);
  eprj_MapInfoUpperLeftCenterSet(info, 1000.5, 2000.5, &err);
  eprj_MapInfoLowerRightCenterSet(info, 1099.5, 1901.5, &err); // rows run down
  eprj_MapInfoPixelSizeSet(info, 1.0, 1.0, &err);
  ASSERT_EQ(err, nullptr);
  _exfr_XForm *toMap = exfr_XFormCreateFromMapInfo(info, 0, &err);
  _exfr_XForm *toPixel = exfr_XFormCreateFromMapInfo(info, 1, &err);
  ASSERT_NE(toMap, nullptr);
  ASSERT_NE(toPixel, nullptr);
  ExpectMaps(toMap, 0, 0, 1000.5, 2000.5);
  ExpectMaps(toMap, 2, 3, 1002.5, 1997.5);
  ExpectMaps(toPixel, 1099.5, 1901.5, 99, 99);
  Free({toMap, toPixel});

  EXPECT_EQ(exfr_XFormCreateFromMapInfo(info, 2, &err), nullptr);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(exfr_XFormCreateFromMapInfo(nullptr, 0, &err), nullptr);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  eprj_MapInfoFree(&info);
}

TEST(ExfrCreate, FromUnits) {
  const struct {
    const char *from, *to;
    double in, out;
  } cases[] = {
      {"feet", "meters", 10.0, 3.048},
      {"meters", "meters", 7.0, 7.0},
      {"inches", "points", 2.0, 144.0},
      {"other", "meters", 5.0, 5.0}, // "other" passes values unchanged
  };
  for (const auto &c : cases) {
    Eerr_ErrorReport *err = nullptr;
    _exfr_XForm *x = exfr_XFormCreateFromUnits(c.from, c.to, &err);
    ASSERT_NE(x, nullptr) << c.from << " -> " << c.to;
    EXPECT_EQ(err, nullptr);
    ExpectMaps(x, c.in, -c.in, c.out, -c.out, 1e-9);
    Free({x});
  }
  for (const auto &bad : {std::pair{"meters", "dd"}, std::pair{"furlongs", "meters"}}) {
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(exfr_XFormCreateFromUnits(bad.first, bad.second, &err), nullptr);
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err->reporter, "exfr_XFormCreateFromUnits");
    eerr_DeleteErrorReportEx(&err);
  }
}

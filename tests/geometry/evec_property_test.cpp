// Random input, seeded and bounded: degenerate matrices (empty, one point, repeated points, NaN,
// infinities) never crash any operation, and the invariants of the main operations hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "geometry_testing.h"
#include "taviron_testing.h"

namespace {

using namespace geotest;

class Random {
public:
  explicit Random(uint32_t seed) : engine_(seed) {}
  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(engine_); }
  double Real(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(engine_); }
  // A coordinate, now and then a degenerate one.
  double Coordinate() {
    switch (Int(0, 19)) {
    case 0: return std::numeric_limits<double>::quiet_NaN();
    case 1: return Int(0, 1) ? INFINITY : -INFINITY;
    case 2: return 0.0;
    case 3: return Real(-1e300, 1e300);
    default: return std::round(Real(-10, 10) * 4) / 4; // coincident points are likely
    }
  }
  // 0 .. maxPoints points; repeats of the previous point are likely.
  std::vector<double> Polyline(int maxPoints) {
    std::vector<double> xy;
    const int n = Int(0, maxPoints);
    for (int j = 0; j < n; ++j) {
      if (j > 0 && Int(0, 4) == 0) {
        xy.push_back(xy[xy.size() - 2]);
        xy.push_back(xy[xy.size() - 2]);
      } else {
        xy.push_back(Coordinate());
        xy.push_back(Coordinate());
      }
    }
    return xy;
  }
  // Finite points only.
  std::vector<double> FinitePolyline(int minPoints, int maxPoints) {
    std::vector<double> xy;
    const int n = Int(minPoints, maxPoints);
    for (int j = 0; j < 2 * n; ++j) xy.push_back(std::round(Real(-10, 10) * 8) / 8);
    return xy;
  }

private:
  std::mt19937 engine_;
};

bool Binary(int32_t v) { return v == 0 || v == 1; }

// A result is either given or explained.
template <class T> void GivenOrReported(T *result, const ErrorSlot &err, const char *what) {
  if (!result) {
    EXPECT_NE(err.get(), nullptr) << what << " failed without a report";
  }
}

TEST(EvecProperties, DegenerateInputNeverCrashes) {
  Random random(20240611);
  const int64_t live = emsc_TestLiveBlocks();
  for (int round = 0; round < 400; ++round) {
    Matrix a = Points(random.Polyline(6)), b = Points(random.Polyline(6));
    const double sx = random.Coordinate(), sy = random.Coordinate();
    Matrix seg = Points({sx, sy, random.Int(0, 3) ? random.Coordinate() : sx,
                         random.Int(0, 3) ? random.Coordinate() : sy});
    Evec_Coord p{random.Coordinate(), random.Coordinate()};
    Matrix point = Points({p.x, p.y});
    MVS layer{};
    layer.weed = random.Int(0, 3) == 0 ? NAN : random.Real(-1, 3);
    layer.grain = random.Int(0, 3) == 0 ? NAN : random.Real(-1, 3);
    const double tolerance = random.Real(-1, 2);
    ErrorSlot err;

    // Boxes.
    Matrix box(evec_GetBboxFromMatrix(nullptr, a.get(), &err));
    GivenOrReported(box.get(), err, "evec_GetBboxFromMatrix");
    Matrix boxN(evec_GetBboxFromMatrixN(nullptr, a.get(), random.Int(-1, 8), &err));
    GivenOrReported(boxN.get(), err, "evec_GetBboxFromMatrixN");
    if (box && boxN) {
      EXPECT_TRUE(Binary(evec_BboxIntersectBbox(box.get(), boxN.get(), nullptr, &err)));
      EXPECT_TRUE(Binary(evec_BboxOverlapBbox(box.get(), boxN.get(), &err)));
      Matrix u(evec_BboxUnionBbox(box.get(), boxN.get(), &err));
      EXPECT_TRUE(u);
    }
    Block block = Parts({random.Polyline(4), random.Polyline(4)});
    Matrix blockBox(evec_GetBboxFromCoordBlock(block.get(), nullptr, &err));
    GivenOrReported(blockBox.get(), err, "evec_GetBboxFromCoordBlock");

    // Segments and arcs.
    Evec_Coord crossing{};
    const int32_t cls = evec_IntersectSegments(seg.get(), seg.get(), &crossing, &err);
    EXPECT_EQ(cls, 0); // a segment against itself is collinear
    (void)evec_AngleBetweenSegments(seg.get(), seg.get(), &err);
    double distance;
    Evec_Coord nearest;
    const double t = evec_PointDistanceToSegment(&p, seg.get(), &distance, &nearest, &err);
    EXPECT_TRUE(t == -1.0 || (t >= 0.0 && t <= 1.0)) << t;
    (void)evec_LengthOfArc(a.get(), &err);
    const int32_t k = evec_FindClosestSegmentOfArc(a.get(), &p, &err);
    EXPECT_TRUE(k == 0 || (k >= 1 && k < a->columns));
    Matrix segCopy(egda_BaseDataCopy(seg.get(), nullptr, nullptr));
    (void)evec_ExtendSegmentToArc(a.get(), segCopy.get(), &err);
    EXPECT_TRUE(Binary(evec_SegmentIntersectsArc(seg.get(), a.get(), &err)));
    EXPECT_TRUE(Binary(evec_ArcIntersectsArc(a.get(), b.get(), &err)));

    // Weeding and generalising.
    Matrix weeded(evec_WeedArc(&layer, a.get(), &err));
    GivenOrReported(weeded.get(), err, "evec_WeedArc");
    Matrix general(evec_GeneralizeArc(&layer, a.get(), &err));
    GivenOrReported(general.get(), err, "evec_GeneralizeArc");
    Block rings = Parts({random.Polyline(6), random.Polyline(5)});
    Block weededRings(evec_WeedPolygon(&layer, rings.get(), &err));
    if (weededRings) {
      EXPECT_EQ(weededRings->kind, 2);
    }

    // Smoothing and densifying.
    Coord d(evec_DensifyPointOfArc(a.get(), random.Real(-1, 10), &err));
    GivenOrReported(d.get(), err, "evec_DensifyPointOfArc");
    Coord s(evec_SplinePointOfArc(a.get(), random.Real(-1, 10), &err));
    GivenOrReported(s.get(), err, "evec_SplinePointOfArc");
    Matrix spline(evec_SplineArc(&layer, a.get(), &err));
    GivenOrReported(spline.get(), err, "evec_SplineArc");
    Matrix dense(evec_DensifyArc(&layer, a.get(), &err));
    GivenOrReported(dense.get(), err, "evec_DensifyArc");
    const int32_t step = random.Int(-10, 400);
    Matrix ellipse(evec_DivideEllipseIntoAnArc(step, boxN.get(), &err));
    if (step > 0 && step != 360) {
      GivenOrReported(ellipse.get(), err, "evec_DivideEllipseIntoAnArc");
    }
    Matrix joined(evec_JoinArcs(nullptr, a.get(), b.get(), &err));
    GivenOrReported(joined.get(), err, "evec_JoinArcs");
    if (joined) {
      EXPECT_EQ(joined->columns, a->columns + b->columns - 1);
    }

    // Containment and proximity.
    EXPECT_TRUE(Binary(evec_CoordInsideConvexPolygon(&p, a.get(), &err)));
    EXPECT_TRUE(Binary(evec_CoordInsideConcavePolygon(&p, a.get(), &err)));
    EXPECT_TRUE(Binary(evec_CoordInsideEllipse(&p, boxN.get(), &err)));
    EXPECT_TRUE(Binary(evec_CoordNearPoint(point.get(), block.get(), tolerance, &err)));
    EXPECT_TRUE(Binary(evec_CoordNearPolyline(point.get(), block.get(), random.Int(0, 1), tolerance, &err)));
    for (auto test : {evec_ArcInsideConvexPolygon, evec_ArcInsideConcavePolygon,
                      evec_ArcEntirelyInsideConcavePolygon, evec_ArcPartiallyInsideConvexPolygon,
                      evec_ArcPartiallyInsideConcavePolygon})
      EXPECT_TRUE(Binary(test(a.get(), b.get(), &err)));
    EXPECT_TRUE(Binary(evec_ArcInsideEllipse(a.get(), boxN.get(), &err)));
    EXPECT_TRUE(Binary(evec_ArcPartiallyInsideEllipse(a.get(), boxN.get(), &err)));

    // Windows.
    ClipWind *window = evec_ClipWindCreate(random.Int(0, 3), &err);
    ASSERT_NE(window, nullptr);
    for (int32_t i = 0; i < window->count; ++i)
      if (random.Int(0, 2)) window->boxes[i] = evec_GetBboxFromMatrix(nullptr, b.get(), nullptr);
    EXPECT_TRUE(Binary(evec_CoordInClipWindWithBufferDistance(window, &p, tolerance, &err)));
    if (box) {
      EXPECT_TRUE(Binary(evec_BboxIntersectClipWind(window, box.get(), nullptr, &err)));
    }
    evec_ClipWindDelete(window, &err);
  }
  EXPECT_EQ(emsc_TestLiveBlocks(), live);
}

TEST(EvecProperties, IntersectionClassesTransposeWithTheArguments) {
  Random random(7);
  for (int round = 0; round < 2000; ++round) {
    Matrix one = Points(random.FinitePolyline(2, 2)), two = Points(random.FinitePolyline(2, 2));
    const int32_t a = evec_IntersectSegments(one.get(), two.get(), nullptr, nullptr);
    const int32_t b = evec_IntersectSegments(two.get(), one.get(), nullptr, nullptr);
    if (a == 0) {
      EXPECT_EQ(b, 0);
      continue;
    }
    const int32_t row = (a - 1) / 3, column = (a - 1) % 3;
    EXPECT_EQ(b, column * 3 + row + 1);
  }
}

TEST(EvecProperties, BoxesHoldTheirPoints) {
  Random random(11);
  for (int round = 0; round < 500; ++round) {
    Matrix m = Points(random.FinitePolyline(1, 12));
    Matrix box(evec_GetBboxFromMatrix(nullptr, m.get(), nullptr));
    ASSERT_TRUE(box);
    for (int32_t j = 0; j < m->columns; ++j) {
      EXPECT_LE(X(box.get(), 0), X(m.get(), j));
      EXPECT_GE(X(box.get(), 1), X(m.get(), j));
      EXPECT_LE(Y(box.get(), 0), Y(m.get(), j));
      EXPECT_GE(Y(box.get(), 1), Y(m.get(), j));
    }
    Matrix other(evec_GetBboxFromMatrix(nullptr, Points(random.FinitePolyline(1, 4)).get(), nullptr));
    Matrix ab = Box(0, 0, 0, 0), ba = Box(0, 0, 0, 0);
    const int32_t r1 = evec_BboxIntersectBbox(box.get(), other.get(), ab.get(), nullptr);
    const int32_t r2 = evec_BboxIntersectBbox(other.get(), box.get(), ba.get(), nullptr);
    EXPECT_EQ(r1, r2);
    EXPECT_EQ(r1, evec_BboxOverlapBbox(box.get(), other.get(), nullptr));
    if (r1) {
      EXPECT_EQ(Values(ab.get()), Values(ba.get()));
    }
  }
}

// Distance from p to segment a-b.
double SegmentDistance(double px, double py, double ax, double ay, double bx, double by) {
  const double dx = bx - ax, dy = by - ay, l2 = dx * dx + dy * dy;
  double t = l2 == 0 ? 0 : ((px - ax) * dx + (py - ay) * dy) / l2;
  t = std::clamp(t, 0.0, 1.0);
  return std::hypot(ax + t * dx - px, ay + t * dy - py);
}

TEST(EvecProperties, WeedingAndGeneralisingKeepTheEndsAndTheTolerance) {
  Random random(13);
  for (int round = 0; round < 500; ++round) {
    const std::vector<double> xy = random.FinitePolyline(0, 30);
    const double tolerance = random.Real(0, 4);
    const int32_t n = static_cast<int32_t>(xy.size() / 2);

    Matrix w = Points(xy);
    evec_WeedMatrix(tolerance, w.get(), nullptr);
    ASSERT_EQ(w->columns, n <= 2 ? n : w->columns);
    if (n > 2) {
      ASSERT_GE(w->columns, 2);
      EXPECT_EQ(X(w.get(), 0), xy[0]);
      EXPECT_EQ(X(w.get(), w->columns - 1), xy[2 * n - 2]);
      EXPECT_EQ(Y(w.get(), w->columns - 1), xy[2 * n - 1]);
      for (int32_t j = 1; j + 1 < w->columns; ++j)
        EXPECT_GT(std::hypot(X(w.get(), j) - X(w.get(), j - 1), Y(w.get(), j) - Y(w.get(), j - 1)),
                  tolerance);
    }

    Matrix g = Points(xy);
    evec_GeneralizeMatrix(tolerance, g.get(), nullptr);
    if (n < 2) {
      EXPECT_EQ(g->columns, n);
      continue;
    }
    // The kept vertices are input vertices in order; every dropped vertex lies within the
    // tolerance of the chord that replaces it.
    int32_t from = 0;
    for (int32_t i = 1; i < g->columns; ++i) {
      int32_t to = from + 1;
      while (to < n && !(xy[2 * to] == X(g.get(), i) && xy[2 * to + 1] == Y(g.get(), i) &&
                         (i + 1 < g->columns || to == n - 1)))
        ++to;
      ASSERT_LT(to, n);
      for (int32_t j = from + 1; j < to; ++j)
        EXPECT_LE(SegmentDistance(xy[2 * j], xy[2 * j + 1], xy[2 * from], xy[2 * from + 1],
                                  xy[2 * to], xy[2 * to + 1]),
                  tolerance);
      from = to;
    }
    EXPECT_EQ(from, n - 1);
  }
}

// Generalising as passes over the whole line: each pass walks the vertices in order against the
// chord of their span and keeps the farthest one beyond the tolerance (the first on a tie).
std::vector<double> GeneralizedByPasses(const std::vector<double> &xy, double tolerance) {
  const int32_t n = static_cast<int32_t>(xy.size() / 2);
  if (n <= 2) return xy;
  std::vector<int32_t> kept{0, n - 1};
  for (;;) {
    int32_t span = 0, farthest = -1;
    double farthestDistance = 0;
    for (int32_t j = 1; j < n - 1; ++j) {
      if (j == kept[span + 1]) {
        ++span;
        continue;
      }
      const int32_t a = kept[span], b = kept[span + 1];
      const double dx = xy[2 * b] - xy[2 * a], dy = xy[2 * b + 1] - xy[2 * a + 1];
      const double l2 = dx * dx + dy * dy;
      double nx = xy[2 * b], ny = xy[2 * b + 1];
      if (l2 != 0) {
        double t = ((xy[2 * j] - xy[2 * a]) * dx + (xy[2 * j + 1] - xy[2 * a + 1]) * dy) / l2;
        if (!(t > 0)) t = 0;
        if (!(t < 1)) t = 1;
        nx = xy[2 * a] + t * dx;
        ny = xy[2 * a + 1] + t * dy;
      }
      const double d = std::sqrt((nx - xy[2 * j]) * (nx - xy[2 * j]) + (ny - xy[2 * j + 1]) * (ny - xy[2 * j + 1]));
      if (d > tolerance && (farthest < 0 || d > farthestDistance)) {
        farthest = j;
        farthestDistance = d;
      }
    }
    if (farthest < 0) break;
    kept.insert(std::upper_bound(kept.begin(), kept.end(), farthest), farthest);
  }
  std::vector<double> out;
  for (int32_t j : kept) {
    out.push_back(xy[2 * j]);
    out.push_back(xy[2 * j + 1]);
  }
  return out;
}

TEST(EvecProperties, GeneralisingMatchesThePassByPassDefinition) {
  Random random(23);
  for (int round = 0; round < 300; ++round) {
    // Coarse coordinates make equal distances (ties) common.
    std::vector<double> xy;
    const int n = random.Int(0, 40);
    for (int j = 0; j < 2 * n; ++j) xy.push_back(random.Int(-4, 4));
    if (n > 3 && random.Int(0, 3) == 0) { // closed rings too
      xy[2 * n - 2] = xy[0];
      xy[2 * n - 1] = xy[1];
    }
    const double tolerance = random.Int(0, 6) * 0.5;
    Matrix m = Points(xy);
    evec_GeneralizeMatrix(tolerance, m.get(), nullptr);
    EXPECT_EQ(Values(m.get()), GeneralizedByPasses(xy, tolerance)) << "round " << round;
  }
}

TEST(EvecProperties, DensifiedArcsFollowTheArcInShortSteps) {
  Random random(17);
  for (int round = 0; round < 300; ++round) {
    Matrix arc = Points(random.FinitePolyline(2, 10));
    MVS layer{};
    layer.grain = random.Real(0.1, 5);
    Matrix dense(evec_DensifyArc(&layer, arc.get(), nullptr));
    ASSERT_TRUE(dense);
    const double length = evec_LengthOfArc(arc.get(), nullptr);
    EXPECT_NEAR(evec_LengthOfArc(dense.get(), nullptr), length, 1e-9 * (1 + length));
    EXPECT_EQ(X(dense.get(), 0), X(arc.get(), 0));
    EXPECT_EQ(Y(dense.get(), dense->columns - 1), Y(arc.get(), arc->columns - 1));
    for (int32_t j = 1; j < dense->columns; ++j) {
      const double step =
          std::hypot(X(dense.get(), j) - X(dense.get(), j - 1), Y(dense.get(), j) - Y(dense.get(), j - 1));
      EXPECT_LE(step, layer.grain * (1 + 1e-12));
      EXPECT_GT(step, 0.0);
    }

    Matrix spline(evec_SplineArc(&layer, arc.get(), nullptr));
    ASSERT_TRUE(spline);
    EXPECT_EQ(X(spline.get(), 0), X(arc.get(), 0));
    EXPECT_EQ(X(spline.get(), spline->columns - 1), X(arc.get(), arc->columns - 1));
    for (int32_t j = 0; j < spline->columns; ++j) EXPECT_TRUE(std::isfinite(X(spline.get(), j)));
  }
}

TEST(EvecProperties, ConvexAndEvenOddTestsAgreeOnConvexRings) {
  Random random(19);
  for (int round = 0; round < 200; ++round) {
    // A clockwise convex ring: points on a circle at falling angles.
    const int n = random.Int(3, 12);
    std::vector<double> xy;
    double angle = random.Real(0, 6.28);
    for (int i = 0; i < n; ++i) {
      xy.push_back(5 * std::cos(angle));
      xy.push_back(5 * std::sin(angle));
      angle -= 6.283185307179586 / n;
    }
    Matrix ring = Points(xy);
    for (int q = 0; q < 20; ++q) {
      Evec_Coord p{random.Real(-6, 6), random.Real(-6, 6)};
      // Skip points within a hair of the outline, where the two rules may differ.
      double nearest = INFINITY;
      for (int i = 0; i < n; ++i) {
        const int e = (i + 1) % n;
        nearest = std::min(nearest, SegmentDistance(p.x, p.y, xy[2 * i], xy[2 * i + 1], xy[2 * e],
                                                    xy[2 * e + 1]));
      }
      if (nearest < 1e-9) continue;
      EXPECT_EQ(evec_CoordInsideConvexPolygon(&p, ring.get(), nullptr),
                evec_CoordInsideConcavePolygon(&p, ring.get(), nullptr));
    }
  }
}

} // namespace

// The geometry value classes.
#include <gtest/gtest.h>

#include <climits>
#include <memory>

#include "BBox.h"
#include "exfr.h"

namespace {

void ExpectBox(const BBox &b, double x1, double y1, double x2, double y2) {
  EXPECT_EQ(b.min.x, x1);
  EXPECT_EQ(b.min.y, y1);
  EXPECT_EQ(b.max.x, x2);
  EXPECT_EQ(b.max.y, y2);
}

TEST(BBox, ConstructorsNormaliseButTheTwoPointOne) {
  ExpectBox(BBox(), 0, 0, 0, 0);
  ExpectBox(BBox(3, 4, 1, 2), 1, 2, 3, 4);
  ExpectBox(BBox(DPoint(3, 4), DPoint(1, 2)), 3, 4, 1, 2);
  ExpectBox(BBox(DPoint(5, -1)), 5, -1, 5, -1);
  DPoint points[] = {DPoint(2, 7), DPoint(-1, 3), DPoint(4, 5)};
  ExpectBox(BBox(1, points), 2, 7, 2, 7);
  ExpectBox(BBox(3, points), -1, 3, 4, 7);
  ExpectBox(BBox(0, points), 0, 0, 0, 0);
  ExpectBox(BBox(DBox(5, 6, 1, 2)), 5, 6, 1, 2);
  _BBox_Rec rec{1, 2, 3, 4};
  ExpectBox(BBox(rec), 1, 2, 3, 4);
  ExpectBox(BBox(&rec), 1, 2, 3, 4);
  ExpectBox(BBox(static_cast<_BBox_Rec *>(nullptr)), 0, 0, 0, 0);
  const _BBox_Rec back = BBox(3, 4, 1, 2).GetBBox_Rec();
  EXPECT_EQ(back.minX, 1);
  EXPECT_EQ(back.maxY, 4);
}

TEST(BBox, QuartersMeasuresAndScaling) {
  BBox b(0, 0, 10, 20);
  struct Case {
    BBox *(BBox::*quad)();
    double x1, y1, x2, y2;
  } cases[] = {{&BBox::Quad00, 0, 0, 5, 10},
               {&BBox::Quad01, 5, 0, 10, 10},
               {&BBox::Quad10, 0, 10, 5, 20},
               {&BBox::Quad11, 5, 10, 10, 20}};
  for (const Case &c : cases) {
    std::unique_ptr<BBox> q((b.*c.quad)());
    ExpectBox(*q, c.x1, c.y1, c.x2, c.y2);
  }
  BBox s(0, 0, 2, 5);
  EXPECT_EQ(s.Size(), 5);
  EXPECT_EQ(s.Width(), 2);
  EXPECT_EQ(s.Height(), 5);
  s *= -2;
  ExpectBox(s, 0, 0, -4, -10); // roles swapped, not reordered
}

TEST(BBox, ContainsIntersectsAndUnion) {
  BBox a(0, 0, 10, 10), touching(10, 0, 20, 10), inside(2, 2, 3, 3), apart(11, 0, 12, 1);
  EXPECT_TRUE(a.Contains(&a));
  EXPECT_TRUE(a.Contains(&inside));
  EXPECT_FALSE(a.Contains(&touching));
  EXPECT_FALSE(a.Contains(static_cast<BBox *>(nullptr)));
  EXPECT_TRUE(a.Intersects(&touching));
  EXPECT_FALSE(a.Intersects(&apart));
  EXPECT_TRUE(a.Contains(DPoint(10, 5)));
  EXPECT_FALSE(a.Contains(DPoint(10.5, 5)));

  BBox u(DPoint(1, 1));
  u.Union(DPoint(-1, 4));
  ExpectBox(u, -1, 1, 1, 4);
  u.Union(&apart);
  ExpectBox(u, -1, 0, 12, 4);
  DPoint more[] = {DPoint(0, -5), DPoint(20, 0)};
  u.Union(2, more);
  ExpectBox(u, -1, -5, 20, 4);
}

TEST(ValueClasses, PointsAndDBox) {
  IPoint p(3, -3);
  p *= 1.5;
  EXPECT_EQ(p, IPoint(4, -4));
  p += IPoint(1, 1);
  p -= IPoint(0, 2);
  EXPECT_EQ(p, IPoint(5, -5));
  EXPECT_NE(p, IPoint(5, 5));
  IPoint big(INT_MAX, INT_MIN);
  big *= 2;
  EXPECT_EQ(big, IPoint(INT_MAX, INT_MIN));

  DPoint d(1, 2);
  d *= 3;
  d += DPoint(1, 1);
  d -= DPoint(0.5, 0.5);
  EXPECT_EQ(d.x, 3.5);
  EXPECT_EQ(d.y, 6.5);

  DBox box(4, 3, 1, 2); // stored as given
  EXPECT_EQ(box.Width(), -3);
  box.Set(0, 0, 2, 1);
  box *= 2;
  box += DPoint(1, 1);
  box.Union(DBox(-1, 0, 3, 8));
  EXPECT_EQ(box.get_Min().x, -1);
  EXPECT_EQ(box.get_Min().y, 0);
  EXPECT_EQ(box.get_Max().x, 5);
  EXPECT_EQ(box.get_Max().y, 8);
}

TEST(ValueClasses, DBoxTransformTakesTheBoxOfTheFourCorners) {
  // A quarter turn about the origin and a shift by (10, 0).
  _exfr_XForm *turn = exfr_XFormCreateUsingCoeffs(0, -1, 10, 1, 0, 0, nullptr);
  ASSERT_NE(turn, nullptr);
  DBox box(1, 2, 3, 5);
  box.Transform(turn);
  EXPECT_NEAR(box.min.x, 5, 1e-12);
  EXPECT_NEAR(box.min.y, 1, 1e-12);
  EXPECT_NEAR(box.max.x, 8, 1e-12);
  EXPECT_NEAR(box.max.y, 3, 1e-12);
  exfr_XFormFree(&turn, nullptr);
  DBox same(3, 4, 1, 2);
  same.Transform(nullptr); // the identity: the corners are only put in order
  EXPECT_EQ(same.min.x, 1);
  EXPECT_EQ(same.max.y, 4);
}

} // namespace

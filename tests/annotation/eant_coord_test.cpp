// Coordinate definitions and the conversions of lengths, positions and position polynomials
// between a layer's NDU, paper and map units.
#include <cmath>
#include <string>

#include "annotation_testing.h"
#include "ecvt.h"

namespace {

using namespace taviron::annotation::testing;

// A definition of a system and units, freed with the test.
struct Definition {
  Eant_CoordDefinition *d;
  Definition(int32_t coordSys, const char *units) : d(eant_CoordDefinitionSetValues(nullptr, coordSys, units, nullptr)) {}
  ~Definition() { eant_CoordDefinitionFree(&d); }
};

// (x, y) through a polynomial.
Eevg_Coord Apply(const Efga_Polynomial *polynomial, double x, double y) {
  double values[2] = {x, y};
  Egda_BaseData *point = egda_BaseDataCreate(2, 1, EGDA_TYPE_F64, EGDA_MATRIX, values, nullptr);
  efga_PolyTransCoords(point, point, polynomial, 0, nullptr);
  egda_BaseDataDelete(point, nullptr);
  return {values[0], values[1]};
}

class CoordTest : public HeapTest {
protected:
  void SetUp() override {
    HeapTest::SetUp();
    // The typical conversion of a layer whose box runs from (100, 200) to (300, 600): the box
    // spans ten inches of paper each way.
    conversion_ = eant_CoordSysConversionSetValues(nullptr, 1, 1, 20, 40, 100, 200, "inches", "meters", nullptr);
    ASSERT_NE(nullptr, conversion_);
  }
  void TearDown() override {
    eant_CoordSysConversionFree(&conversion_);
    HeapTest::TearDown();
  }
  // A map transform that scales x by 2 and y by 3.
  static _exfr_XForm *Stretch() {
    Efga_Polynomial *scale = efga_PolyCreate2DScale(nullptr, 2, 3, nullptr);
    _exfr_XForm *xform = exfr_XFormCreate(scale, 0, nullptr);
    efga_PolynomialDelete(scale, nullptr);
    return xform;
  }
  Eant_CoordSysConversion *conversion_ = nullptr;
};

TEST_F(CoordTest, DefinitionsCreateSetCopyCompare) {
  ErrorSlot err;
  Eant_CoordDefinition *a = eant_CoordDefinitionCreate(&err);
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(EEVG_PIXEL, a->coordSys);
  EXPECT_EQ(0, a->units.count);
  ASSERT_EQ(a, eant_CoordDefinitionSetValues(a, EEVG_OUTPUT, "points", &err));
  Eant_CoordDefinition *b = eant_CoordDefinitionCopy(a, nullptr, &err);
  ASSERT_NE(nullptr, b);
  EXPECT_STREQ("points", b->units.data);
  EXPECT_EQ(1, eant_CoordDefinitionCompare(a, b, &err));
  eant_CoordDefinitionSetValues(b, EEVG_OUTPUT, "Points", &err);
  EXPECT_EQ(0, eant_CoordDefinitionCompare(a, b, &err));
  eant_CoordDefinitionSetValues(b, EEVG_MAP, "points", &err);
  EXPECT_EQ(0, eant_CoordDefinitionCompare(a, b, &err));
  EXPECT_EQ(1, eant_CoordDefinitionCompare(nullptr, nullptr, &err));
  EXPECT_EQ(0, eant_CoordDefinitionCompare(nullptr, a, &err));
  eant_CoordDefinitionSetValues(b, EEVG_MAP, nullptr, &err); // a null name empties the units
  EXPECT_EQ(0, b->units.count);
  EXPECT_EQ(b, eant_CoordDefinitionCopy(nullptr, b, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_CoordDefinitionCopy", 1, "Invalid input Eant_CoordDefinition"));
  {
    taviron::testing::FailAllocation fail(2);
    EXPECT_EQ(nullptr, eant_CoordDefinitionSetValues(nullptr, EEVG_MAP, "feet", &err));
  }
  EXPECT_TRUE(Reported(err.get(), "eant_CoordDefinitionSetValues", 2, "Error returned from eant_CharStrCreate"));
  {
    taviron::testing::FailAllocation fail(2);
    EXPECT_EQ(nullptr, eant_CoordDefinitionCopy(a, nullptr, &err));
  }
  EXPECT_TRUE(Reported(err.get(), "eant_CoordDefinitionCopy", 3, "Error returned from eant_CharStrCopy"));
  {
    taviron::testing::CapturedOutput out;
    eant_CoordDefinitionPrint(a, &err);
    eant_CoordDefinitionPrint(b, &err);
    EXPECT_EQ("Coord Definition:\n   coordSys - 4\n   units - points\n"
              "Coord Definition:\n   coordSys - 3\n   units - NULL\n",
              out.Out());
  }
  eant_CoordDefinitionFree(&a);
  eant_CoordDefinitionFree(&b);
  EXPECT_EQ(nullptr, a);
}

TEST_F(CoordTest, LengthsIntoMapUnitsAndBack) {
  const Definition ndu(EEVG_NDU, nullptr), mapSame(EEVG_MAP, "Meters"), mapFeet(EEVG_MAP, "feet"),
      mapNone(EEVG_MAP, nullptr), points(EEVG_OUTPUT, "points"), inches(EEVG_OUTPUT, "inches"), paper(EEVG_OUTPUT, nullptr);
  struct Case {
    const char *name;
    const Eant_CoordDefinition *definition;
    double value, x, y; // the value in map units along x and y
  } cases[] = {
      {"ndu", ndu.d, 2, 2, 2},
      {"map, the same units in another case", mapSame.d, 7, 7, 7},
      {"map feet", mapFeet.d, 10, 3.048, 3.048},
      {"map without units", mapNone.d, 5, 5, 5},
      {"paper points", points.d, 72, 20, 40},
      {"paper inches", inches.d, 0.5, 10, 20},
      {"paper without units", paper.d, 2, 40, 80},
      {"negative", inches.d, -1, -20, -40},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ErrorSlot err;
    EXPECT_NEAR(c.x, eant_CoordSysConversionScaleX(conversion_, c.definition, c.value, &err), 1e-9);
    EXPECT_NEAR(c.y, eant_CoordSysConversionScaleY(conversion_, c.definition, c.value, &err), 1e-9);
    EXPECT_NEAR(c.value, eant_CoordSysConversionInvScaleX(conversion_, c.definition, c.x, &err), 1e-9);
    EXPECT_NEAR(c.value, eant_CoordSysConversionInvScaleY(conversion_, c.definition, c.y, &err), 1e-9);
    // Without a map transform the transform variants give the same.
    EXPECT_NEAR(c.x, eant_CoordSysConversionScaleAndTransformX(conversion_, c.definition, c.value, &err), 1e-9);
    EXPECT_NEAR(c.value, eant_CoordSysConversionInvScaleAndTransformY(conversion_, c.definition, c.y, &err), 1e-9);
    EXPECT_FALSE(err) << Chain(err);
  }
  // Between two systems: 72 points of paper are one inch.
  ErrorSlot err;
  EXPECT_NEAR(1, eant_CoordSysConversionConvertXScale(conversion_, EEVG_OUTPUT, "points", EEVG_OUTPUT, "inches", 72, &err), 1e-9);
  EXPECT_NEAR(20, eant_CoordSysConversionConvertYScale(conversion_, EEVG_OUTPUT, "inches", EEVG_MAP, "meters", 0.5, &err), 1e-9);
  EXPECT_NEAR(1, eant_CoordSysConversionConvertAndTransformYScale(conversion_, EEVG_OUTPUT, "points", EEVG_OUTPUT, "inches", 72, &err), 1e-9);
  EXPECT_FALSE(err);
}

TEST_F(CoordTest, LengthsThroughTheMapTransformKeepTheirSign) {
  ErrorSlot err;
  conversion_->mapTransform = Stretch();
  conversion_->ownsMapTransform = 1;
  const Definition map(EEVG_MAP, "meters");
  EXPECT_NEAR(2, eant_CoordSysConversionScaleAndTransformX(conversion_, map.d, 1, &err), 1e-12);
  EXPECT_NEAR(3, eant_CoordSysConversionScaleAndTransformY(conversion_, map.d, 1, &err), 1e-12);
  EXPECT_NEAR(-2, eant_CoordSysConversionScaleAndTransformX(conversion_, map.d, -1, &err), 1e-12);
  EXPECT_NEAR(0, eant_CoordSysConversionScaleAndTransformY(conversion_, map.d, 0, &err), 1e-12);
  // At another reference point an affine transform measures the same.
  conversion_->referenceCoord = eevg_CoordCreate(&err);
  *conversion_->referenceCoord = {50, 70};
  EXPECT_NEAR(3, eant_CoordSysConversionScaleAndTransformY(conversion_, map.d, 1, &err), 1e-12);
  // Back through the inverse.
  EXPECT_NEAR(1, eant_CoordSysConversionInvScaleAndTransformX(conversion_, map.d, 2, &err), 1e-12);
  EXPECT_NEAR(-1, eant_CoordSysConversionInvScaleAndTransformY(conversion_, map.d, -3, &err), 1e-12);
  EXPECT_NEAR(1, eant_CoordSysConversionConvertAndTransformXScale(conversion_, EEVG_MAP, "meters", EEVG_MAP, "meters", 1, &err), 1e-12);
  EXPECT_FALSE(err);
}

TEST_F(CoordTest, LengthErrorsGiveTheBestValueWithAReport) {
  const Definition pixel(EEVG_PIXEL, nullptr), nowhere(EEVG_MAP, "parsecs-of-nothing"), degrees(EEVG_OUTPUT, "degrees");
  struct Case {
    double (*function)(Eant_CoordSysConversion *, const Eant_CoordDefinition *, double, Eerr_ErrorReport **);
    Eant_CoordSysConversion *conversion;
    const Eant_CoordDefinition *definition;
    const char *reporter;
    int code;
    const char *message;
  } cases[] = {
      {eant_CoordSysConversionScaleX, nullptr, pixel.d, "eant_CoordSysConversionScaleX", 1, "Invalid input coordConvert"},
      {eant_CoordSysConversionScaleY, conversion_, nullptr, "eant_CoordSysConversionScaleY", 2,
       "Invalid input coordinate definition"},
      {eant_CoordSysConversionScaleX, conversion_, pixel.d, "eant_CoordSysConversionScaleX", 4, "Invalid coordDef"},
      {eant_CoordSysConversionInvScaleY, conversion_, pixel.d, "eant_CoordSysConversionInvScaleY", 4, "Invalid coordDef"},
      {eant_CoordSysConversionScaleX, conversion_, nowhere.d, "eant_CoordSysConversionScaleX", 3,
       "Error returned from ecvt_UnitsConvertByName for MAP units"},
      {eant_CoordSysConversionScaleX, conversion_, degrees.d, "eant_CoordSysConversionScaleX", 3,
       "Error returned from ecvt_UnitsConvertByName"},
      {eant_CoordSysConversionInvScaleX, conversion_, degrees.d, "eant_CoordSysConversionInvScaleX", 3,
       "Error returned from ecvt_UnitsConvertByName for OUTPUT units"},
      {eant_CoordSysConversionScaleAndTransformX, conversion_, pixel.d, "eant_CoordSysConversionScaleAndTransformX", 1,
       "Error returned from eant_CoordSysConversionScaleX"},
  };
  for (const Case &c : cases) {
    ErrorSlot err;
    EXPECT_EQ(7, c.function(c.conversion, c.definition, 7, &err));
    EXPECT_TRUE(Reported(err.get(), c.reporter, c.code, c.message));
  }
  // An "other" unit against a length converts unchanged with a warning, which is no failure.
  ErrorSlot err;
  const Definition other(EEVG_MAP, "other");
  EXPECT_EQ(7, eant_CoordSysConversionScaleX(conversion_, other.d, 7, &err));
  EXPECT_FALSE(err);
}

TEST_F(CoordTest, PositionsOfThePaperLandOnTheLayerBox) {
  ErrorSlot err;
  const Definition inches(EEVG_OUTPUT, "inches"), points(EEVG_OUTPUT, "points"), map(EEVG_MAP, "meters");
  const Eevg_Coord origin{0, 0}, corner{10, 10}, inPoints{720, 360};
  struct Case {
    const Eant_CoordDefinition *definition;
    Eevg_Coord from, map;
  } cases[] = {{inches.d, origin, {100, 200}}, {inches.d, corner, {300, 600}}, {points.d, inPoints, {300, 400}},
               {map.d, {5, 6}, {5, 6}}};
  for (const Case &c : cases) {
    Eevg_Coord *to = eant_CoordSysConversionTranslateCoord(conversion_, c.definition, &c.from, &err);
    ASSERT_NE(nullptr, to) << Chain(err);
    EXPECT_NEAR(c.map.x, to->x, 1e-9);
    EXPECT_NEAR(c.map.y, to->y, 1e-9);
    Eevg_Coord *back = eant_CoordSysConversionInvTranslateCoord(conversion_, c.definition, to, &err);
    ASSERT_NE(nullptr, back);
    EXPECT_NEAR(c.from.x, back->x, 1e-9);
    EXPECT_NEAR(c.from.y, back->y, 1e-9);
    eevg_CoordFree(&to);
    eevg_CoordFree(&back);
  }
  // Between two systems, into a given coordinate.
  Eevg_Coord output{};
  EXPECT_EQ(&output, eant_CoordSysConversionConvertCoord(conversion_, EEVG_OUTPUT, "inches", EEVG_OUTPUT, "points",
                                                         &corner, &output, &err));
  EXPECT_NEAR(720, output.x, 1e-9);
  Eevg_Coord *made =
      eant_CoordSysConversionConvertCoord(conversion_, EEVG_OUTPUT, "inches", EEVG_MAP, "meters", &corner, nullptr, &err);
  ASSERT_NE(nullptr, made);
  EXPECT_NEAR(600, made->y, 1e-9);
  eevg_CoordFree(&made);
  EXPECT_FALSE(err);

  const Definition ndu(EEVG_NDU, nullptr), pixel(EEVG_PIXEL, nullptr);
  EXPECT_EQ(nullptr, eant_CoordSysConversionTranslateCoord(conversion_, ndu.d, &origin, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_CoordSysConversionTranslateCoord", 5, "NDU translation makes no sense"));
  EXPECT_EQ(nullptr, eant_CoordSysConversionTranslateCoord(conversion_, pixel.d, &origin, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_CoordSysConversionTranslateCoord", 10, "Invalid coordDef"));
  EXPECT_EQ(nullptr, eant_CoordSysConversionInvTranslateCoord(conversion_, ndu.d, &origin, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_CoordSysConversionInvTranslateCoord", 5, "NDU translation makes no sense"));
  EXPECT_EQ(nullptr, eant_CoordSysConversionTranslateCoord(conversion_, map.d, nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_CoordSysConversionTranslateCoord", 3, "Invalid input coord"));
  EXPECT_EQ(nullptr,
            eant_CoordSysConversionConvertCoord(conversion_, EEVG_NDU, nullptr, EEVG_MAP, nullptr, &origin, nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_CoordSysConversionConvertCoord", 1,
                       "Error returned from eant_CoordSysConversionTranslateCoord"));
  // A unit that cannot be converted leaves the copy as far as it got, with the report.
  const Definition angle(EEVG_MAP, "degrees");
  Eevg_Coord *partial = eant_CoordSysConversionTranslateCoord(conversion_, angle.d, &corner, &err);
  ASSERT_NE(nullptr, partial);
  EXPECT_TRUE(Reported(err.get(), "eant_CoordSysConversionTranslateCoord", 6,
                       "Error returned from ecvt_UnitsConvertByName for map x-translatation"));
  eevg_CoordFree(&partial);
}

TEST_F(CoordTest, TranslationPolynomials) {
  ErrorSlot err;
  const Definition same(EEVG_MAP, "Meters"), feet(EEVG_MAP, "feet"), angle(EEVG_MAP, "degrees"),
      inches(EEVG_OUTPUT, "inches"), points(EEVG_OUTPUT, "points"), ndu(EEVG_NDU, nullptr);
  // Nothing to do, or units of two kinds: no polynomial and no report; the identity otherwise.
  for (const Definition *d : {&same, &angle}) {
    EXPECT_EQ(nullptr, eant_CoordSysConversionGetTranslationPolyAllowNULL(conversion_, d->d, &err));
    EXPECT_FALSE(err);
    EXPECT_EQ(nullptr, eant_CoordSysConversionGetInvTranslationPolyAllowNULL(conversion_, d->d, &err));
    Efga_Polynomial *identity = eant_CoordSysConversionGetTranslationPoly(conversion_, d->d, &err);
    ASSERT_NE(nullptr, identity);
    const Eevg_Coord p = Apply(identity, 3, 4);
    EXPECT_EQ(3, p.x);
    EXPECT_EQ(4, p.y);
    efga_PolynomialDelete(identity, nullptr);
  }
  struct Case {
    const Definition *definition;
    Eevg_Coord from, to;
  } cases[] = {{&feet, {10, 20}, {3.048, 6.096}}, {&inches, {10, 10}, {300, 600}}, {&points, {720, 360}, {300, 400}}};
  for (const Case &c : cases) {
    Efga_Polynomial *forward = eant_CoordSysConversionGetTranslationPolyAllowNULL(conversion_, c.definition->d, &err);
    ASSERT_NE(nullptr, forward) << Chain(err);
    Eevg_Coord p = Apply(forward, c.from.x, c.from.y);
    EXPECT_NEAR(c.to.x, p.x, 1e-9);
    EXPECT_NEAR(c.to.y, p.y, 1e-9);
    Efga_Polynomial *inverse = eant_CoordSysConversionGetInvTranslationPoly(conversion_, c.definition->d, &err);
    ASSERT_NE(nullptr, inverse);
    p = Apply(inverse, c.to.x, c.to.y);
    EXPECT_NEAR(c.from.x, p.x, 1e-9);
    EXPECT_NEAR(c.from.y, p.y, 1e-9);
    efga_PolynomialDelete(forward, nullptr);
    efga_PolynomialDelete(inverse, nullptr);
  }
  EXPECT_EQ(nullptr, eant_CoordSysConversionGetTranslationPolyAllowNULL(conversion_, ndu.d, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_CoordSysConversionGetTranslationPolyAllowNULL", 3, "NDU translation makes no sense"));
  EXPECT_EQ(nullptr, eant_CoordSysConversionGetTranslationPoly(conversion_, ndu.d, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_CoordSysConversionGetTranslationPoly", 1,
                       "Error returned from eant_CoordSysConversionGetTranslationPolyAllowNULL"));
}

TEST_F(CoordTest, ACopyOwnsItsTransformAndTheSourceKeepsOneItDoesNotOwn) {
  ErrorSlot err;
  _exfr_XForm *shared = Stretch();
  conversion_->mapTransform = shared; // borrowed: the conversion does not own it
  conversion_->referenceCoord = eevg_CoordCreate(&err);
  *conversion_->referenceCoord = {1, 2};
  Eant_CoordSysConversion *copy = eant_CoordSysConversionCopy(conversion_, nullptr, &err);
  ASSERT_NE(nullptr, copy) << Chain(err);
  EXPECT_EQ(1, copy->ownsMapTransform);
  EXPECT_NE(shared, copy->mapTransform);
  EXPECT_STREQ("inches", copy->pageUnits);
  EXPECT_EQ(2, copy->referenceCoord->y);
  EXPECT_EQ(20, copy->pageScaleX);
  // A target that borrows a transform gets one of its own; the borrowed one is left alone.
  Eant_CoordSysConversion *target = eant_CoordSysConversionCreate(&err);
  _exfr_XForm *other = Stretch();
  target->mapTransform = other;
  ASSERT_EQ(target, eant_CoordSysConversionCopy(copy, target, &err));
  EXPECT_NE(other, target->mapTransform);
  // A source without transform or reference point takes the target's away.
  Eant_CoordSysConversion *bare = eant_CoordSysConversionCreate(&err);
  ASSERT_EQ(target, eant_CoordSysConversionCopy(bare, target, &err));
  EXPECT_EQ(nullptr, target->mapTransform);
  EXPECT_EQ(nullptr, target->referenceCoord);
  EXPECT_EQ(nullptr, target->pageUnits);
  EXPECT_EQ(target, eant_CoordSysConversionCopy(nullptr, target, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_CoordSysConversionCopy", 1, "Invalid input Eant_CoordSysConversion"));
  eant_CoordSysConversionFree(&copy);
  eant_CoordSysConversionFree(&target);
  eant_CoordSysConversionFree(&bare);
  eant_CoordSysConversionFree(&conversion_); // leaves the borrowed transform
  exfr_XFormFree(&shared, nullptr);
  exfr_XFormFree(&other, nullptr);
}

TEST_F(CoordTest, PolynomialBuilders) {
  ErrorSlot err;
  Efga_Polynomial *p = eant_TranslatePolynomialCreate(nullptr, 1, 2, &err);
  Eevg_Coord q = Apply(p, 1, 1);
  EXPECT_EQ(2, q.x);
  EXPECT_EQ(3, q.y);
  EXPECT_EQ(p, eant_ScalePolynomialCreate(p, 2, 3, &err));
  q = Apply(p, 1, 1);
  EXPECT_EQ(3, q.y);
  EXPECT_EQ(p, eant_RotatePolynomialCreate(p, M_PI / 2, &err));
  q = Apply(p, 1, 0);
  EXPECT_NEAR(0, q.x, 1e-12);
  EXPECT_NEAR(1, q.y, 1e-12);
  EXPECT_EQ(p, eant_IdentityPolynomialCreate(p, &err));
  efga_PolynomialDelete(p, nullptr);
  const Eevg_Coord origin{10, 20};
  p = eant_AffinePolynomialCreate(&origin, 0, 2, 4, &err);
  q = Apply(p, 1, 1);
  EXPECT_EQ(12, q.x);
  EXPECT_EQ(24, q.y);
  efga_PolynomialDelete(p, nullptr);
  {
    taviron::testing::FailAllocation fail(1);
    EXPECT_EQ(nullptr, eant_AffinePolynomialCreate(nullptr, 0, 1, 1, &err));
  }
  EXPECT_TRUE(Reported(err.get(), "eant_AffinePolynomialCreate", 1, "Error returned from efga_PolyCreate2DAffine"));
}

} // namespace

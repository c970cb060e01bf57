// Line styles beyond the family's operations: line compositions and descriptions, the measures the
// box code needs (width, arrow wing, mitre, symbol extent) and a box grown by a style.
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "annotation_testing.h"
#include "egda_pixel.h"

namespace {

using namespace taviron::annotation::testing;
using taviron::testing::CapturedOutput;
using taviron::testing::FailAllocation;

using Lines = std::vector<std::pair<int32_t, double>>;
Lines Of(const Eant_LineComposition &c) {
  Lines lines;
  for (int32_t i = 0; i < c.count; ++i) lines.emplace_back(c.data[i].color, c.data[i].width);
  return lines;
}

TEST(LineCompositionTest, SettingGrowsWithEmptyLinesAndCopyKeepsOrDropsTheTail) {
  ErrorSlot err;
  Eant_LineComposition a{};
  ASSERT_EQ(&a, eant_LineCompositionSetValues(&a, 2, 0.5, 7, &err)) << Chain(err);
  EXPECT_EQ((Lines{{-1, 0.0}, {-1, 0.0}, {7, 0.5}}), Of(a));
  eant_LineCompositionSetValues(&a, 0, 3.0, 1, &err);
  EXPECT_EQ((Lines{{1, 3.0}, {-1, 0.0}, {7, 0.5}}), Of(a));

  // The keyword does the same on a new style.
  Eant_LineStyle *style =
      eant_LineStyleSetValues(nullptr, nullptr, nullptr, &err, EANT_KEY_OVERLINE, 2, 0.5, 7, EANT_KEY_END);
  ASSERT_NE(nullptr, style) << Chain(err);
  EXPECT_EQ((Lines{{-1, 0.0}, {-1, 0.0}, {7, 0.5}}), Of(style->overLines));
  eant_LineStyleFree(&style);

  // Copy: a shorter destination is re-made; a longer one keeps its tail unless shrink is set.
  struct Case {
    int32_t targetCount, shrink;
    Lines expected;
  } cases[] = {
      {1, 0, {{1, 3.0}, {-1, 0.0}, {7, 0.5}}},
      {5, 0, {{1, 3.0}, {-1, 0.0}, {7, 0.5}, {-1, 0.0}, {9, 9.0}}},
      {5, 1, {{1, 3.0}, {-1, 0.0}, {7, 0.5}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.targetCount * 10 + c.shrink);
    Eant_LineComposition b{};
    eant_LineCompositionSetValues(&b, c.targetCount - 1, 9.0, 9, &err);
    ASSERT_EQ(&b, eant_LineCompositionCopy(&a, &b, c.shrink, &err)) << Chain(err);
    EXPECT_EQ(c.expected, Of(b));
    EXPECT_EQ(c.expected.size() == 3 ? 1 : 0, eant_LineCompositionCompare(&a, &b, &err));
    eant_LineCompositionFree(&b);
  }

  // Create resets every line, reusing an array of the same count; 0 empties it.
  ASSERT_EQ(&a, eant_LineCompositionCreate(3, &a, &err));
  EXPECT_EQ((Lines{{-1, 0.0}, {-1, 0.0}, {-1, 0.0}}), Of(a));
  ASSERT_EQ(&a, eant_LineCompositionCreate(0, &a, &err));
  EXPECT_EQ(0, a.count);
  EXPECT_EQ(nullptr, a.data);

  EXPECT_EQ(nullptr, eant_LineCompositionCreate(-1, &a, &err));
  EXPECT_TRUE(Reported(err, "eant_LineCompositionCreate", 2, "Count is less than 0"));
  EXPECT_EQ(nullptr, eant_LineCompositionSetValues(&a, -1, 1.0, 0, &err));
  EXPECT_TRUE(Reported(err, "eant_LineCompositionSetValues", 2, "Invalid input position"));
  EXPECT_EQ(nullptr, eant_LineCompositionSetValues(nullptr, 0, 1.0, 0, &err));
  EXPECT_TRUE(Reported(err, "eant_LineCompositionSetValues", 1, "Invalid input Eant_LineComposition"));
  EXPECT_EQ(nullptr, eant_LineCompositionCopy(&a, nullptr, 0, &err));
  EXPECT_TRUE(Reported(err, "eant_LineCompositionCopy", 2, "Invalid output Eant_LineComposition"));
  EXPECT_EQ(1, eant_LineCompositionCompare(nullptr, nullptr, &err));
  EXPECT_EQ(0, eant_LineCompositionCompare(&a, nullptr, &err));
  Eant_LineComposition broken{2, nullptr};
  EXPECT_EQ(0, eant_LineCompositionCompare(&a, &broken, &err));
  EXPECT_TRUE(Reported(err, "eant_LineCompositionCompare", 2, "Second input lineComposition is not valid"));

  // A failed growth leaves the composition as it was.
  eant_LineCompositionSetValues(&a, 0, 2.0, 4, &err);
  {
    FailAllocation fail(1);
    EXPECT_EQ(nullptr, eant_LineCompositionSetValues(&a, 3, 1.0, 0, &err));
  }
  EXPECT_TRUE(Reported(err, "eant_LineCompositionSetValues", 3, "Error reallocating lineComp->data"));
  EXPECT_EQ((Lines{{4, 2.0}}), Of(a));
  eant_LineCompositionFree(&a);
}

TEST(LineCompositionTest, CopyingAStyleOverOneWithMoreLinesKeepsItsExtraLines) {
  struct Case {
    Lines source, target, expected;
  } cases[] = {
      {{{4, 1.0}}, {{1, 3.0}, {2, 2.0}, {3, 0.5}}, {{4, 1.0}, {2, 2.0}, {3, 0.5}}},
      {{{4, 1.0}, {5, 2.0}, {6, 3.0}}, {{1, 3.0}}, {{4, 1.0}, {5, 2.0}, {6, 3.0}}},
      {{}, {{1, 3.0}, {2, 2.0}}, {{1, 3.0}, {2, 2.0}}},
  };
  const auto style = [](const Lines &lines, int32_t join) {
    Eant_LineStyle *made = eant_LineStyleSetValues(nullptr, nullptr, nullptr, nullptr, EANT_KEY_LINEJOIN, join, 0);
    for (std::size_t i = 0; i < lines.size(); ++i)
      eant_LineCompositionSetValues(&made->overLines, static_cast<int32_t>(i), lines[i].second, lines[i].first,
                                    nullptr);
    return made;
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.target.size() * 10 + c.source.size());
    Eant_LineStyle *source = style(c.source, EEVG_MITRE_JOIN), *target = style(c.target, EEVG_ROUND_JOIN);
    ErrorSlot err;
    EXPECT_EQ(target, eant_LineStyleCopy(source, target, &err)) << Chain(err);
    EXPECT_EQ(c.expected, Of(target->overLines));
    EXPECT_EQ(EEVG_MITRE_JOIN, target->lineJoin);
    // A copy into a new style is the source's.
    Eant_LineStyle *made = eant_LineStyleCopy(source, nullptr, &err);
    ASSERT_NE(nullptr, made) << Chain(err);
    EXPECT_EQ(c.source, Of(made->overLines));
    for (Eant_LineStyle *s : {source, target, made}) eant_LineStyleFree(&s);
  }

  // Memory running out: the destination stays as it was.
  Eant_LineStyle *source = style({{4, 1.0}}, EEVG_MITRE_JOIN), *target = nullptr;
  taviron::testing::SweepOptions options;
  options.prepare = [&] { target = style({{1, 3.0}, {2, 2.0}}, EEVG_ROUND_JOIN); };
  options.finish = [&] { eant_LineStyleFree(&target); };
  taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **e) {
        eant_LineStyleCopy(source, target, e);
        if (*e) {
          EXPECT_EQ((Lines{{1, 3.0}, {2, 2.0}}), Of(target->overLines));
          EXPECT_EQ(EEVG_ROUND_JOIN, target->lineJoin);
        } else {
          EXPECT_EQ((Lines{{4, 1.0}, {2, 2.0}}), Of(target->overLines));
        }
        return *e == nullptr;
      },
      options);
  eant_LineStyleFree(&source);
}

TEST(LineCompositionTest, DescriptionsStartEmptyCopyCompareAndPrint) {
  ErrorSlot err;
  Eant_LineDescription *d = eant_LineDescriptionCreate(&err);
  ASSERT_NE(nullptr, d);
  EXPECT_EQ(-1, d->color);
  EXPECT_EQ(0.0, d->width);
  const Eant_LineDescription source{3, 1.5};
  Eant_LineDescription *copy = eant_LineDescriptionCopy(&source, nullptr, &err);
  ASSERT_NE(nullptr, copy);
  EXPECT_EQ(1, eant_LineDescriptionCompare(&source, copy, &err));
  EXPECT_EQ(0, eant_LineDescriptionCompare(&source, d, &err));
  EXPECT_EQ(1, eant_LineDescriptionCompare(nullptr, nullptr, &err));
  EXPECT_EQ(nullptr, eant_LineDescriptionCopy(nullptr, d, &err));
  EXPECT_TRUE(Reported(err, "eant_LineDescriptionCopy", 1, "Invalid input Eant_LineDescription"));
  {
    CapturedOutput out;
    eant_LineDescriptionPrint(copy, &err);
    Eant_LineComposition c{1, copy};
    eant_LineCompositionPrint(&c, &err);
    EXPECT_EQ("LineDescription:\n   color - 3\n   width - 1.5\n"
              "LineComposition:\nLineDescription:\n   color - 3\n   width - 1.5\n",
              out.Out());
  }
  eant_LineDescriptionFree(&copy);
  eant_LineDescriptionFree(&d);
  EXPECT_EQ(nullptr, d);
}

TEST(LineSymbolTest, SettersTakeTheReferenceComparePrintAndTurnAboutTheCentre) {
  ErrorSlot err;
  Eant_LineSymbol *symbol =
      eant_LineSymbolSetValues(nullptr, 3, nullptr, 4, "points", 6.0, 10.0, -2.5, EANT_LINESYMBOL_ROTATE90,
                               eant_StyleSetValues(nullptr, "lib.plb", nullptr, 2, nullptr), 1, 5, &err);
  ASSERT_NE(nullptr, symbol) << Chain(err);
  Eant_LineSymbol *copy = eant_LineSymbolCopy(symbol, nullptr, &err);
  EXPECT_EQ(1, eant_LineSymbolCompare(symbol, copy, &err));
  // Updating in place keeps the record and replaces the reference it held.
  ASSERT_EQ(copy, eant_LineSymbolSetValues(copy, 3, nullptr, 4, "points", 6.0, 10.0, -2.5,
                                           EANT_LINESYMBOL_ROTATE90, nullptr, 1, 5, &err));
  EXPECT_EQ(nullptr, copy->symbol);
  EXPECT_EQ(0, eant_LineSymbolCompare(symbol, copy, &err));
  EXPECT_EQ(1, eant_LineSymbolCompare(nullptr, nullptr, &err));
  EXPECT_EQ(0, eant_LineSymbolCompare(symbol, nullptr, &err));
  {
    CapturedOutput out;
    eant_LineSymbolPrint(symbol, &err);
    EXPECT_FALSE(err) << Chain(err);
    EXPECT_NE(std::string::npos, out.Out().find("   colorOverrideFlag - true\n   overrideColor - 5\n"))
        << out.Out();
    EXPECT_EQ(0u, out.Out().find("LineSymbol:\n"));
  }
  eant_LineSymbolFree(&copy);
  eant_LineSymbolFree(&symbol);
  EXPECT_EQ(nullptr, symbol);

  // Each quarter turn carries a point about (2, 1); as-is gives no transform.
  EXPECT_EQ(nullptr, eant_LineSymbolEffectMakeTransform(EANT_LINESYMBOL_ASIS, 2, 1, &err));
  EXPECT_FALSE(err);
  struct Turn {
    int32_t effect;
    double x, y; // where (3, 1) lands
  } turns[] = {
      {EANT_LINESYMBOL_ROTATE90, 2, 2}, {EANT_LINESYMBOL_ROTATE180, 1, 1}, {EANT_LINESYMBOL_ROTATE270, 2, 0}};
  for (const Turn &t : turns) {
    SCOPED_TRACE(t.effect);
    _exfr_XForm *transform = eant_LineSymbolEffectMakeTransform(t.effect, 2, 1, &err);
    ASSERT_NE(nullptr, transform) << Chain(err);
    Egda_BaseData *point = egda_BaseDataCreate(2, 1, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &err);
    taviron::lower::At<double>(*point, 0, 0) = 3;
    taviron::lower::At<double>(*point, 1, 0) = 1;
    ASSERT_NE(nullptr, exfr_Transform(transform, point, point, &err)) << Chain(err);
    EXPECT_NEAR(t.x, (taviron::lower::At<double>(*point, 0, 0)), 1e-12);
    EXPECT_NEAR(t.y, (taviron::lower::At<double>(*point, 1, 0)), 1e-12);
    egda_BaseDataDelete(point, nullptr);
    exfr_XFormFree(&transform, nullptr);
  }
}

class LineMeasureTest : public PackageTest {
protected:
  // A library whose style 0 is made of the given keywords (none but the name when empty).
  template <class... Keys> int32_t Add(Keys... keys) {
    ErrorSlot err;
    Eant_LineStyle *style = eant_LineStyleSetValues(toolkit_, library_, nullptr, &err, EANT_KEY_STYLENAME,
                                                    "s", keys..., EANT_KEY_END);
    EXPECT_NE(nullptr, style) << Chain(err);
    return eant_LineStyleAddToLibrary(style, library_, 0, &err);
  }
  void SetUp() override {
    PackageTest::SetUp();
    library_ = eant_StyleLibraryCreate(nullptr);
    data_->mitreLimit = 10;
  }
  void TearDown() override {
    eant_StyleLibraryFree(&library_);
    PackageTest::TearDown();
  }
  Eant_StyleLibrary *library_ = nullptr;
};

TEST_F(LineMeasureTest, MeasuresFollowWidthsArrowsMitresAndSymbols) {
  const double tip = M_PI / 6;
  Eant_Style *symbol = eant_StyleSetValues(nullptr, "lib.plb", nullptr, 2, nullptr);
  struct Case {
    const char *what;
    int32_t number;
    double width, wing, mitre, symbolExtent;
  } cases[] = {
      {"plain", Add(EANT_KEY_OVERLINE, 0, 2.0, -1, EANT_KEY_OVERLINE, 1, 5.0, -1), 2.0, 0, 0, 0},
      {"arrow at the start",
       Add(EANT_KEY_OVERLINE, 0, 1.0, -1, EANT_KEY_STARTLINEEND, EEVG_ARROW_END, EANT_KEY_ARROWEND, 0.3, tip,
           10.0, 1, 0),
       1.0, 5.0, 0, 0},
      {"arrow head but butt ends",
       Add(EANT_KEY_OVERLINE, 0, 1.0, -1, EANT_KEY_ARROWEND, 0.3, tip, 10.0, 1, 0), 1.0, 0, 0, 0},
      {"mitre", Add(EANT_KEY_OVERLINE, 0, 2.0, -1, EANT_KEY_LINEJOIN, EEVG_MITRE_JOIN), 2.0, 0, 20.0, 0},
      {"symbol",
       Add(EANT_KEY_OVERLINE, 0, 1.0, -1, EANT_KEY_USESYMBOL, 1, EANT_KEY_LINESYMBOL, 4, nullptr, 4, nullptr,
           6.0, 10.0, -2.5, 0, symbol, 0, -1),
       1.0, 0, 0, 5.5},
      {"symbol not used",
       Add(EANT_KEY_OVERLINE, 0, 1.0, -1, EANT_KEY_LINESYMBOL, 4, nullptr, 4, nullptr, 6.0, 10.0, -2.5, 0,
           symbol, 0, -1),
       1.0, 0, 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ErrorSlot err;
    EXPECT_NEAR(c.width, eant_LineStyleGetWidth(toolkit_, library_, c.number, nullptr, &err), 1e-12);
    EXPECT_NEAR(c.wing, eant_LineStyleGetArrowWingLength(toolkit_, library_, c.number, nullptr, &err), 1e-12);
    EXPECT_NEAR(c.mitre, eant_LineStyleGetMitreLength(toolkit_, library_, c.number, nullptr, &err), 1e-12);
    EXPECT_NEAR(c.symbolExtent,
                eant_LineStyleGetSymbolScaleAndOffset(toolkit_, library_, c.number, nullptr, &err), 1e-12);
    EXPECT_FALSE(err) << Chain(err);
  }
  eant_StyleFree(&symbol); // the keyword keeps a copy

  ErrorSlot err;
  const int32_t bare = Add(EANT_KEY_LINEJOIN, EEVG_MITRE_JOIN, EANT_KEY_ENDLINEEND, EEVG_ARROW_END);
  EXPECT_EQ(0, eant_LineStyleGetWidth(toolkit_, library_, bare, nullptr, &err));
  EXPECT_TRUE(Reported(err, "eant_LineStyleGetWidth", 4, "Line style has no widths"));
  EXPECT_EQ(0, eant_LineStyleGetMitreLength(toolkit_, library_, bare, nullptr, &err));
  EXPECT_TRUE(Reported(err, "eant_LineStyleGetMitreLength", 4, "Line style has no widths"));
  EXPECT_EQ(0, eant_LineStyleGetArrowWingLength(toolkit_, library_, bare, nullptr, &err));
  EXPECT_TRUE(Reported(err, "eant_LineStyleGetArrowWingLength", 4, "Line style has no arrowEnd"));
  EXPECT_EQ(0, eant_LineStyleGetWidth(nullptr, library_, 0, nullptr, &err));
  EXPECT_TRUE(Reported(err, "eant_LineStyleGetWidth", 1, "Toolkit has not been initialized"));
  EXPECT_EQ(0, eant_LineStyleGetWidth(toolkit_, library_, 99, nullptr, &err));
  EXPECT_TRUE(Reported(err, "eant_LineStyleGetWidth", 2));
}

TEST_F(LineMeasureTest, TheDefaultStyleMeasuresAndRendersInMapUnits) {
  ErrorSlot err;
  eant_ColorCreateDefault(library_, nullptr, &err); // the style's colour 0
  eant_LineStyleCreateDefault(library_, &err);
  ASSERT_FALSE(err) << Chain(err);
  // Half a map unit per point of paper.
  Eant_CoordSysConversion *conversion =
      eant_CoordSysConversionSetValues(nullptr, 1, 1, 0.5, 0.5, 0, 0, "points", "meters", &err);
  ASSERT_NE(nullptr, conversion) << Chain(err);
  EXPECT_DOUBLE_EQ(1.0, eant_LineStyleGetWidth(toolkit_, library_, 0, conversion, &err));
  Eevg_LineStyle *renderer = eant_GetLineStyle(toolkit_, library_, 0, conversion, &err);
  ASSERT_NE(nullptr, renderer) << Chain(err);
  ASSERT_EQ(1, renderer->composition.count);
  EXPECT_DOUBLE_EQ(1.0, renderer->composition.data[0].width);
  ASSERT_EQ(1, renderer->pattern.count);
  EXPECT_DOUBLE_EQ(0.5, renderer->pattern.data[0].lineMark);
  EXPECT_DOUBLE_EQ(0.0, renderer->pattern.data[0].lineSpace);
  eevg_LineStyleFree(&renderer);
  eant_CoordSysConversionFree(&conversion);
}

TEST_F(LineMeasureTest, ThePartsOfAStyleBecomeTheRenderersInMapUnits) {
  ErrorSlot err;
  const int32_t red = eant_ColorAddToLibrary(
      eant_ColorSetValues(nullptr, nullptr, nullptr, &err, EANT_KEY_RGB, 255, 0, 0, 0), library_, 0, &err);
  // Half a map unit per point of paper.
  Eant_CoordSysConversion *conversion =
      eant_CoordSysConversionSetValues(nullptr, 1, 1, 0.5, 0.5, 0, 0, "points", "meters", &err);
  Eant_CoordDefinition *points = eant_CoordDefinitionSetValues(nullptr, EEVG_OUTPUT, "points", &err);
  ASSERT_FALSE(err) << Chain(err);

  // The lines: widths converted, colours of the library (none for -1); a longer renderer
  // composition is re-sized.
  Eant_LineDescription lines[] = {{red, 2.0}, {-1, 1.0}};
  const Eant_LineComposition composition{2, lines};
  Eevg_LineComposition renderer{};
  eevg_LineCompositionCreate(3, &renderer, &err);
  ASSERT_EQ(&renderer, eant_GetLineComposition(toolkit_, library_, &composition, &renderer, points, conversion, &err))
      << Chain(err);
  ASSERT_EQ(2, renderer.count);
  EXPECT_DOUBLE_EQ(1.0, renderer.data[0].width);
  EXPECT_DOUBLE_EQ(0.5, renderer.data[1].width);
  ASSERT_NE(nullptr, renderer.data[0].color);
  EXPECT_EQ(255, renderer.data[0].color->red);
  EXPECT_EQ(nullptr, renderer.data[1].color);
  eevg_LineCompositionFree(&renderer);

  // The dashes.
  Eevg_LinePatternSegment segments[] = {{4.0, 2.0}, {1.0, 3.0}};
  const Eevg_LinePattern pattern{2, segments};
  Eevg_LinePattern dashes{};
  ASSERT_EQ(&dashes, eant_GetLinePattern(&pattern, &dashes, points, conversion, &err)) << Chain(err);
  ASSERT_EQ(2, dashes.count);
  EXPECT_DOUBLE_EQ(2.0, dashes.data[0].lineMark);
  EXPECT_DOUBLE_EQ(1.0, dashes.data[0].lineSpace);
  EXPECT_DOUBLE_EQ(0.5, dashes.data[1].lineMark);
  EXPECT_DOUBLE_EQ(1.5, dashes.data[1].lineSpace);
  eevg_LinePatternFree(&dashes);

  // The arrow head: a new one, its length converted; none for none.
  const Eevg_ArrowEnd head{0.3, 0.5, 10.0, 1, 0};
  Eevg_ArrowEnd *arrow = eant_GetArrowEnd(&head, points, conversion, &err);
  ASSERT_NE(nullptr, arrow) << Chain(err);
  EXPECT_DOUBLE_EQ(5.0, arrow->length);
  EXPECT_EQ(0.3, arrow->baseAngle);
  EXPECT_EQ(0.5, arrow->tipAngle);
  EXPECT_EQ(1, arrow->filled);
  eevg_ArrowEndFree(&arrow);
  EXPECT_EQ(nullptr, eant_GetArrowEnd(nullptr, points, conversion, &err));
  EXPECT_FALSE(err);

  // Missing records.
  Eevg_LineComposition empty{2, nullptr};
  Eevg_LinePattern emptyPattern{2, nullptr};
  struct Refused {
    const char *reporter;
    int32_t code;
    const char *message;
    std::function<bool(Eerr_ErrorReport **)> call;
  } refused[] = {
      {"eant_GetLineComposition", 1, "Invalid input antLineComp",
       [&](Eerr_ErrorReport **e) { return eant_GetLineComposition(toolkit_, library_, nullptr, &renderer, points, conversion, e); }},
      {"eant_GetLineComposition", 2, "Invalid input eevgLineComp",
       [&](Eerr_ErrorReport **e) { return eant_GetLineComposition(toolkit_, library_, &composition, nullptr, points, conversion, e); }},
      {"eant_GetLineComposition", 4, "No data allocated for eevgLineComp",
       [&](Eerr_ErrorReport **e) { return eant_GetLineComposition(toolkit_, library_, &composition, &empty, points, conversion, e); }},
      {"eant_GetLinePattern", 1, "Invalid input inLinePattern",
       [&](Eerr_ErrorReport **e) { return eant_GetLinePattern(nullptr, &dashes, points, conversion, e); }},
      {"eant_GetLinePattern", 2, "Invalid input outLinePattern",
       [&](Eerr_ErrorReport **e) { return eant_GetLinePattern(&pattern, nullptr, points, conversion, e); }},
      {"eant_GetLinePattern", 4, "No data allocated for outLinePattern",
       [&](Eerr_ErrorReport **e) { return eant_GetLinePattern(&pattern, &emptyPattern, points, conversion, e); }},
  };
  for (const Refused &r : refused) {
    SCOPED_TRACE(r.message);
    EXPECT_FALSE(r.call(&err));
    EXPECT_TRUE(Reported(err, r.reporter, r.code, r.message)) << Chain(err);
  }
  eant_CoordDefinitionFree(&points);
  eant_CoordSysConversionFree(&conversion);
}

// Corners (x0, y0), (x0, y1), (x1, y1), (x1, y0) of a w x h box centred on (cx, cy) and turned by
// angle about its centre.
std::vector<double> Turned(double cx, double cy, double w, double h, double angle) {
  const double xs[4] = {-w / 2, -w / 2, w / 2, w / 2}, ys[4] = {-h / 2, h / 2, h / 2, -h / 2};
  std::vector<double> out(8);
  for (int c = 0; c < 4; ++c) {
    out[c] = cx + xs[c] * std::cos(angle) - ys[c] * std::sin(angle);
    out[4 + c] = cy + xs[c] * std::sin(angle) + ys[c] * std::cos(angle);
  }
  return out;
}

TEST_F(LineMeasureTest, ABoxGrowsOnEachSideInItsOwnFrameByTheLargestMeasure) {
  const int32_t mitre =
      Add(EANT_KEY_OVERLINE, 0, 2.0, -1, EANT_KEY_LINEJOIN, EEVG_MITRE_JOIN, EANT_KEY_STARTLINEEND,
          EEVG_ARROW_END, EANT_KEY_ARROWEND, 0.3, M_PI / 2, 4.0, 1, 0);
  struct Case {
    int32_t withArrows, withMitre;
    double angle, grow;
  } cases[] = {{0, 0, 0, 1.0}, {1, 0, 0, 4.0}, {0, 1, 0, 10.0}, {1, 1, 0.7, 10.0}, {1, 0, -2.0, 4.0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.withArrows * 10 + c.withMitre);
    ErrorSlot err;
    Egda_BaseData *box = egda_BaseDataCreate(2, 4, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &err);
    const std::vector<double> before = Turned(3, -1, 4, 2, c.angle);
    for (int i = 0; i < 8; ++i) taviron::lower::At<double>(*box, i / 4, i % 4) = before[i];
    eant_ModifyBboxByLineStyle(toolkit_, library_, mitre, nullptr, box, c.withArrows, c.withMitre, &err);
    EXPECT_FALSE(err) << Chain(err);
    const std::vector<double> expected = Turned(3, -1, 4 + 2 * c.grow, 2 + 2 * c.grow, c.angle);
    for (int i = 0; i < 8; ++i)
      EXPECT_NEAR(expected[i], (taviron::lower::At<double>(*box, i / 4, i % 4)), 1e-9) << i;
    egda_BaseDataDelete(box, nullptr);
  }

  // A fill style grows the box by its outline's style, without arrows, and not at all untraced.
  struct Fill {
    int32_t trace, withMitre;
    double grow;
  } fills[] = {{1, 1, 10.0}, {1, 0, 1.0}, {0, 1, 0.0}};
  for (const Fill &f : fills) {
    SCOPED_TRACE(f.trace * 10 + f.withMitre);
    ErrorSlot err;
    Eant_FillStyle *fill = eant_FillStyleSetValues(toolkit_, library_, nullptr, &err, EANT_KEY_FILL, 1, 0,
                                                   EANT_KEY_TRACE, f.trace, mitre, EANT_KEY_END);
    const int32_t number = eant_FillStyleAddToLibrary(fill, library_, 0, &err);
    Egda_BaseData *box = egda_BaseDataCreate(2, 4, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &err);
    const std::vector<double> before = Turned(0, 0, 4, 2, 0.3);
    for (int i = 0; i < 8; ++i) taviron::lower::At<double>(*box, i / 4, i % 4) = before[i];
    eant_ModifyBboxByFillStyle(toolkit_, library_, number, nullptr, box, f.withMitre, &err);
    EXPECT_FALSE(err) << Chain(err);
    const std::vector<double> expected = Turned(0, 0, 4 + 2 * f.grow, 2 + 2 * f.grow, 0.3);
    for (int i = 0; i < 8; ++i)
      EXPECT_NEAR(expected[i], (taviron::lower::At<double>(*box, i / 4, i % 4)), 1e-9) << i;
    egda_BaseDataDelete(box, nullptr);
  }

  ErrorSlot err;
  const int32_t bare = Add(EANT_KEY_LINEJOIN, EEVG_MITRE_JOIN);
  Egda_BaseData *box = egda_BaseDataCreate(2, 4, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &err);
  eant_ModifyBboxByLineStyle(toolkit_, library_, bare, nullptr, box, 1, 1, &err);
  EXPECT_TRUE(Reported(err, "eant_ModifyBboxByLineStyle", 2));
  EXPECT_NE(std::string::npos, Chain(err).find("Line style has no widths"));
  eant_ModifyBboxByLineStyle(toolkit_, library_, mitre, nullptr, nullptr, 1, 1, &err);
  EXPECT_TRUE(Reported(err, "eant_ModifyBboxByLineStyle", 1, "Invalid input bounding box"));
  egda_BaseDataDelete(box, nullptr);
}

} // namespace

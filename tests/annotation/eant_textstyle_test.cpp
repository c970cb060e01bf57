// Text styles as numbered styles of a library: keywords and mask bits, defaults, use counts,
// replacement; evaluation of base chains into the renderer's text style, its cache, copies between
// libraries and the growth of a text's box by its style.
#include <cmath>
#include <string>
#include <vector>

#include "annotation_testing.h"

namespace {

using namespace taviron::annotation::testing;

template <class T> T *At(Edlm_List *list, int32_t i) { return *static_cast<T **>(edlm_GetAddr(list, i, nullptr)); }
std::string Text(const Eant_CharStr &s) { return s.count > 0 && s.data ? s.data : ""; }

class TextStyleTest : public PackageTest {
protected:
  void SetUp() override {
    PackageTest::SetUp();
    library_ = eant_StyleLibraryCreate(nullptr);
  }
  void TearDown() override {
    eant_StyleLibraryFree(&library_);
    eant_CoordSysConversionFree(&conversion_);
    EXPECT_TRUE(HeapAsAtStart());
    PackageTest::TearDown();
  }
  // A colour, a solid fill of it, and returns the fill style's number.
  static int32_t SolidFill(Eant_StyleLibrary *library, int red, int green, int blue) {
    ErrorSlot err;
    Eant_Color *color = eant_ColorSetValues(nullptr, nullptr, nullptr, &err, EANT_KEY_RGB, red, green, blue, 0);
    const int32_t number = eant_ColorAddToLibrary(color, library, 0, &err);
    Eant_FillStyle *fill = eant_FillStyleSetValues(nullptr, nullptr, nullptr, &err, EANT_KEY_FILL, 1, number, 0);
    const int32_t filled = eant_FillStyleAddToLibrary(fill, library, 0, &err);
    EXPECT_FALSE(err) << Chain(err);
    return filled;
  }
  // A text style made from a keyword list and added to the library (unique 0); its number.
  template <class... Keywords> int32_t Add(Eant_StyleLibrary *library, Keywords... keywords) {
    ErrorSlot err;
    Eant_TextStyle *style = eant_TextStyleSetValues(toolkit_, library, nullptr, &err, keywords..., EANT_KEY_END);
    EXPECT_NE(nullptr, style) << Chain(err);
    const int32_t number = eant_TextStyleAddToLibrary(style, library, 0, &err);
    EXPECT_FALSE(err) << Chain(err);
    return number;
  }
  // Half a map unit per point of paper.
  Eant_CoordSysConversion *Conversion() {
    if (!conversion_)
      conversion_ = eant_CoordSysConversionSetValues(nullptr, 1, 1, 0.5, 0.5, 0, 0, "points", "meters", nullptr);
    return conversion_;
  }
  Eant_StyleLibrary *library_ = nullptr;
  Eant_CoordSysConversion *conversion_ = nullptr;
};

TEST_F(TextStyleTest, KeywordsSetTheirPartsAndMaskBits) {
  ErrorSlot err;
  Eant_TextStyle *style = eant_TextStyleSetValues(
      nullptr, nullptr, nullptr, &err, EANT_KEY_STYLENAME, "label", EANT_KEY_DESCRIPTION, "for labels",
      EANT_KEY_TEXTUNITS, EEVG_OUTPUT, "points", EANT_KEY_FONTNAME, "serif.otl", EANT_KEY_TEXTSLANT, 0.25,
      EANT_KEY_TEXTCHSPACE, 1.5, EANT_KEY_TEXTLNSPACE, 2.0, EANT_KEY_TEXTCHEXT, 0.75, EANT_KEY_TEXTFILL, 3,
      EANT_KEY_UNDERLINE, EMSC_TRUE, 1.25, EANT_KEY_UNDERLINESTYLE, 4, EANT_KEY_SHADOW, EMSC_TRUE, 2.0, -3.0,
      EANT_KEY_SHADOWSTYLE, 5, EANT_KEY_END);
  ASSERT_NE(nullptr, style) << Chain(err);
  EXPECT_EQ(0x7ffeu, style->mask);
  EXPECT_EQ("label", Text(style->styleName));
  EXPECT_EQ("for labels", Text(style->description));
  ASSERT_NE(nullptr, style->styleUnits);
  EXPECT_EQ(EEVG_OUTPUT, style->styleUnits->coordSys);
  EXPECT_EQ("points", Text(style->styleUnits->units));
  EXPECT_EQ("serif.otl", Text(style->fontName));
  EXPECT_EQ(0.25, style->textSlant);
  EXPECT_EQ(1.5, style->textChSpace);
  EXPECT_EQ(2.0, style->textLnSpace);
  EXPECT_EQ(0.75, style->textChExt);
  EXPECT_EQ(3, style->fillStyle);
  EXPECT_EQ(EMSC_TRUE, style->underline);
  EXPECT_EQ(1.25, style->underlineDist);
  EXPECT_EQ(4, style->underlineStyle);
  EXPECT_EQ(EMSC_TRUE, style->shadow);
  EXPECT_EQ(2.0, style->textShadow.dx);
  EXPECT_EQ(-3.0, style->textShadow.dy);
  EXPECT_EQ(5, style->textShadow.style);

  // Another kind's keyword: a given style keeps what came before it, a made one is freed.
  EXPECT_EQ(style, eant_TextStyleSetValues(nullptr, nullptr, style, &err, EANT_KEY_TEXTSLANT, 0.5, EANT_KEY_RGB,
                                           1, 2, 3, EANT_KEY_END));
  EXPECT_TRUE(Reported(err, "eant_TextStyleSetValues", 4, "Invalid keyword option for textStyle"));
  EXPECT_EQ(0.5, style->textSlant);
  EXPECT_EQ(nullptr, eant_TextStyleSetValues(nullptr, nullptr, nullptr, &err, EANT_KEY_LINEJOIN, 1, EANT_KEY_END));
  EXPECT_TRUE(Reported(err, "eant_TextStyleSetValues", 4, "Invalid keyword option for textStyle"));
  // A base in the same library cannot be counted without the library.
  EXPECT_EQ(nullptr, eant_TextStyleSetValues(toolkit_, nullptr, nullptr, &err, EANT_KEY_BASESTYLE, nullptr, "x", 0,
                                             EANT_KEY_END));
  EXPECT_TRUE(err);
  eant_TextStyleFree(&style);
}

TEST_F(TextStyleTest, DefaultsUseTheDefaultFillStyle) {
  ErrorSlot err;
  eant_TextStyleCreateDefault(library_, &err);
  ASSERT_FALSE(err) << Chain(err);
  ASSERT_EQ(1, edlm_CountList(library_->fillStyles, nullptr));
  EXPECT_EQ("Filled default color", Text(At<Eant_FillStyle>(library_->fillStyles, 0)->styleName));
  ASSERT_EQ(1, edlm_CountList(library_->textStyles, nullptr));
  const Eant_TextStyle *text = At<Eant_TextStyle>(library_->textStyles, 0);
  EXPECT_EQ("Solid default color Zorude", Text(text->styleName));
  EXPECT_EQ(0x86u, text->mask);
  EXPECT_EQ(0, text->fillStyle);
  EXPECT_EQ("galaxy.otl", Text(text->fontName));
  EXPECT_EQ(EEVG_OUTPUT, text->styleUnits->coordSys);
  EXPECT_EQ("points", Text(text->styleUnits->units));
  // Made again, nothing is added (unique 1).
  eant_TextStyleCreateDefault(library_, &err);
  EXPECT_EQ(1, edlm_CountList(library_->textStyles, nullptr));
  EXPECT_EQ(1, edlm_CountList(library_->fillStyles, nullptr));

  // The default library holds one style of each kind, each number 0.
  Eant_StyleLibrary *library = eant_StyleLibraryCreateDefault(nullptr, &err);
  ASSERT_NE(nullptr, library) << Chain(err);
  for (Edlm_List *list : {library->colors, library->lineStyles, library->fillStyles, library->textStyles})
    EXPECT_EQ(1, edlm_CountList(list, nullptr));
  EXPECT_EQ(0, At<Eant_TextStyle>(library->textStyles, 0)->fillStyle);
  EXPECT_EQ(1.0, At<Eant_Color>(library->colors, 0)->opacity);
  eant_StyleLibraryFree(&library);
  Eevg_Color half{7, 10, 20, 30, 51};
  library = eant_StyleLibraryCreateDefaultWithOpacity(&half, &err);
  ASSERT_NE(nullptr, library) << Chain(err);
  const Eant_Color *color = At<Eant_Color>(library->colors, 0);
  EXPECT_EQ(20, color->green);
  EXPECT_DOUBLE_EQ(0.2, color->opacity);
  eant_StyleLibraryFree(&library);
}

TEST_F(TextStyleTest, DeletingReleasesOneUseAndReplacingChecksTheNumber) {
  ErrorSlot err;
  struct Case {
    int32_t useCount;
    bool stays;
  } cases[] = {{3, true}, {1, false}, {0, false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.useCount);
    const int32_t number = Add(library_, EANT_KEY_STYLENAME, "counted");
    At<Eant_TextStyle>(library_->textStyles, number)->useCount = c.useCount;
    eant_TextStyleDeleteFromLibrary(number, library_, &err);
    EXPECT_FALSE(err) << Chain(err);
    Eant_TextStyle *left = At<Eant_TextStyle>(library_->textStyles, number);
    if (c.stays) {
      ASSERT_NE(nullptr, left);
      EXPECT_EQ(c.useCount - 1, left->useCount);
      eant_TextStyleDeleteFromLibrary(number, library_, &err);
      eant_TextStyleDeleteFromLibrary(number, library_, &err);
    }
    EXPECT_EQ(nullptr, At<Eant_TextStyle>(library_->textStyles, number));
  }
  ASSERT_EQ(1, edlm_CountList(library_->textStyles, nullptr)); // every add filled the emptied slot 0
  EXPECT_EQ(nullptr, eant_TextStyleLookupInLibrary(library_, 0, &err));
  EXPECT_TRUE(Reported(err, "eant_TextStyleLookupInLibrary", 4, "TextStyle has been deleted"));
  EXPECT_EQ(nullptr, eant_TextStyleLookupInLibrary(library_, 1, &err));
  EXPECT_TRUE(Reported(err, "eant_TextStyleLookupInLibrary", 3, "Requested text style number is out of range"));
  EXPECT_EQ(-1, eant_TextStyleLookupInLibraryByName(library_, "counted", &err));
  EXPECT_TRUE(Reported(err, "eant_TextStyleLookupInLibraryByName", 4, "Requested text style \"counted\" not found"));

  Add(library_, EANT_KEY_STYLENAME, "first");
  Add(library_, EANT_KEY_STYLENAME, "second");
  Eant_TextStyle *spare = eant_TextStyleCreate(&err);
  eant_TextStyleReplaceInLibrary(spare, 2, library_, &err);
  EXPECT_TRUE(Reported(err, "eant_TextStyleReplaceInLibrary", 4, "Invalid input textStyleNum.  Must be between 0 and 1"));
  // A slot replaced by its own style keeps it.
  Eant_TextStyle *second = At<Eant_TextStyle>(library_->textStyles, 1);
  eant_TextStyleReplaceInLibrary(second, 1, library_, &err);
  EXPECT_FALSE(err);
  ASSERT_EQ(second, At<Eant_TextStyle>(library_->textStyles, 1));
  EXPECT_EQ("second", Text(second->styleName));
  eant_TextStyleReplaceInLibrary(spare, 1, library_, &err);
  EXPECT_EQ(spare, At<Eant_TextStyle>(library_->textStyles, 1));
  EXPECT_EQ(0, eant_TextStyleLookupInLibraryByName(library_, "first", &err));
}

TEST_F(TextStyleTest, EvaluationFillsDefaultsAtTheRootAndTakesOverriddenParts) {
  ErrorSlot err;
  const int32_t fill = SolidFill(library_, 0, 0, 255);
  const int32_t root = Add(library_, EANT_KEY_STYLENAME, "root", EANT_KEY_TEXTFILL, fill);
  At<Eant_TextStyle>(library_->textStyles, root)->mask = 0; // the stored fill stays, not built
  Eant_TextStyle *evaluated =
      eant_TextStyleEvaluate(toolkit_, library_, eant_TextStyleLookupInLibrary(library_, root, &err), 1, nullptr,
                             nullptr, &err);
  ASSERT_NE(nullptr, evaluated) << Chain(err);
  EXPECT_EQ(0x97eu, evaluated->mask);
  ASSERT_NE(nullptr, evaluated->styleUnits);
  EXPECT_EQ(EEVG_OUTPUT, evaluated->styleUnits->coordSys);
  EXPECT_EQ(0, evaluated->styleUnits->units.count);
  EXPECT_EQ("galaxy.otl", Text(evaluated->fontName));
  EXPECT_EQ(0.0, evaluated->textSlant);
  EXPECT_EQ(1.0, evaluated->textChSpace);
  EXPECT_EQ(0.0, evaluated->textLnSpace);
  EXPECT_EQ(1.0, evaluated->textChExt);
  EXPECT_EQ(fill, evaluated->fillStyle);
  eant_TextStyleFree(&evaluated);
  Eevg_TextStyle *renderer = eant_GetTextStyle(toolkit_, library_, nullptr, root, nullptr, &err);
  ASSERT_NE(nullptr, renderer) << Chain(err);
  EXPECT_EQ(nullptr, renderer->charFillStyle);
  EXPECT_STREQ("galaxy.otl", renderer->fontName);
  eevg_TextStyleFree(&renderer);

  // A base in another file (loaded under its name) fills the characters from its own library; the
  // derived style overrides the font only.
  Eant_StyleLibrary *external = eant_StyleLibraryCreate(&err);
  eant_CharStrCreate("ext.sty", &external->fileNodeName, &err);
  data_->styleLibraryCache = external;
  SolidFill(external, 9, 9, 9); // number 0 there is grey, here blue
  const int32_t redFill = SolidFill(external, 255, 0, 0);
  const int32_t base =
      Add(external, EANT_KEY_STYLENAME, "base", EANT_KEY_TEXTFILL, redFill, EANT_KEY_TEXTCHSPACE, 2.0);
  const int32_t derived =
      Add(library_, EANT_KEY_BASESTYLE, "ext.sty", "base", base, EANT_KEY_FONTNAME, "serif.otl");
  EXPECT_EQ(1, At<Eant_TextStyle>(external->textStyles, base)->useCount);
  Eevg_Align align{EEVG_TOP, EEVG_LEFT};
  renderer = eant_GetTextStyle(toolkit_, library_, &align, derived, nullptr, &err);
  ASSERT_NE(nullptr, renderer) << Chain(err);
  EXPECT_STREQ("serif.otl", renderer->fontName);
  EXPECT_EQ(2.0, renderer->textChSpace);
  EXPECT_EQ(EEVG_TOP, renderer->yalign);
  EXPECT_EQ(EEVG_LEFT, renderer->xalign);
  ASSERT_NE(nullptr, renderer->charFillStyle);
  ASSERT_NE(nullptr, renderer->charFillStyle->pattern);
  EXPECT_EQ(255, renderer->charFillStyle->pattern->color->red);
  eevg_TextStyleFree(&renderer);
  // Not following the other file: a plain copy with its own bits.
  evaluated = eant_TextStyleEvaluate(toolkit_, library_, eant_TextStyleLookupInLibrary(library_, derived, &err), 0,
                                     nullptr, nullptr, &err);
  ASSERT_NE(nullptr, evaluated) << Chain(err);
  EXPECT_EQ(EANT_TEXTSTYLE_FONTNAME, evaluated->mask);
  EXPECT_EQ(nullptr, evaluated->styleUnits);
  EXPECT_EQ(-1, evaluated->fillStyle);
  eant_TextStyleFree(&evaluated);

  // A style's lengths come in the layer's map units.
  const int32_t shadowFill = SolidFill(library_, 1, 2, 3);
  const int32_t lengths = Add(library_, EANT_KEY_TEXTUNITS, EEVG_OUTPUT, "points", EANT_KEY_UNDERLINE, EMSC_TRUE, 4.0,
                              EANT_KEY_SHADOW, EMSC_TRUE, 6.0, -10.0, EANT_KEY_SHADOWSTYLE, shadowFill);
  renderer = eant_GetTextStyle(toolkit_, library_, nullptr, lengths, Conversion(), &err);
  ASSERT_NE(nullptr, renderer) << Chain(err);
  EXPECT_DOUBLE_EQ(2.0, renderer->underlineDist);
  EXPECT_DOUBLE_EQ(3.0, renderer->dropShadowX);
  EXPECT_DOUBLE_EQ(-5.0, renderer->dropShadowY);
  EXPECT_EQ(1, renderer->underline);
  EXPECT_EQ(nullptr, renderer->underlineStyle);
  ASSERT_NE(nullptr, renderer->shadowPattern);
  EXPECT_EQ(3, renderer->shadowPattern->color->blue);
  eevg_TextStyleFree(&renderer);
  // A shadow whose fill style paints nothing cannot be drawn.
  const int32_t bare = eant_FillStyleAddToLibrary(eant_FillStyleCreate(nullptr), library_, 0, &err);
  const int32_t noPattern = Add(library_, EANT_KEY_SHADOW, EMSC_TRUE, 1.0, 1.0, EANT_KEY_SHADOWSTYLE, bare);
  EXPECT_EQ(nullptr, eant_GetTextStyle(toolkit_, library_, nullptr, noPattern, nullptr, &err));
  EXPECT_TRUE(Reported(err, "eant_GetTextStyle", 5, "Error returned from eant_TextStyleEvaluate"));
  EXPECT_NE(std::string::npos, Chain(err).find("Text shadow style has no fill pattern"));

  struct Case {
    Eint_InitToolkitData *toolkit;
    Eant_StyleLibrary *library;
    int32_t number;
    int code;
    const char *message;
  } failures[] = {{nullptr, library_, 0, 1, "Toolkit has not been initialized"},
                  {toolkit_, nullptr, 0, 2, "Invalid input style library"},
                  {toolkit_, library_, 99, 3, "Error returned from eant_TextStyleLookupInLibrary"}};
  for (const Case &c : failures) {
    EXPECT_EQ(nullptr, eant_GetTextStyle(c.toolkit, c.library, nullptr, c.number, nullptr, &err));
    EXPECT_TRUE(Reported(err, "eant_GetTextStyle", c.code, c.message));
  }
  EXPECT_EQ(nullptr, eant_GetTextStyle(nullptr, nullptr, nullptr, -1, nullptr, &err));
  EXPECT_FALSE(err);
  EXPECT_EQ(nullptr, eant_GetTextStyleForRenderingPtr(toolkit_, nullptr, library_, nullptr, nullptr, -1, nullptr, &err));
  EXPECT_FALSE(err);
  EXPECT_EQ(nullptr, eant_TextStyleEvaluate(toolkit_, library_, nullptr, 1, nullptr, nullptr, &err));
  EXPECT_TRUE(Reported(err, "eant_TextStyleEvaluate", 1, "Invalid input textStyle"));
  data_->styleLibraryCache = nullptr;
  eant_StyleLibraryFree(&external);
}

TEST_F(TextStyleTest, TheRenderingCacheKeepsOneStyleAndTakesEachAlignment) {
  ErrorSlot err;
  eant_ColorCreateDefault(library_, nullptr, &err);
  eant_TextStyleCreateDefault(library_, &err);
  Eevg_Align topLeft{EEVG_TOP, EEVG_LEFT}, bottomRight{EEVG_BOTTOM, EEVG_RIGHT};
  Eevg_TextStyle *cached =
      eant_GetTextStyleForRenderingPtr(toolkit_, nullptr, library_, nullptr, &topLeft, 0, Conversion(), &err);
  ASSERT_NE(nullptr, cached) << Chain(err);
  EXPECT_EQ(cached, At<Eant_TextStyle>(library_->textStyles, 0)->renderStyle);
  EXPECT_EQ(1, library_->evaluated);
  ASSERT_NE(nullptr, cached->charFillStyle);
  EXPECT_EQ(cached, eant_GetTextStyleForRenderingPtr(toolkit_, nullptr, library_, nullptr, &bottomRight, 0,
                                                     Conversion(), &err));
  EXPECT_EQ(EEVG_BOTTOM, cached->yalign);
  EXPECT_EQ(EEVG_RIGHT, cached->xalign);
  eant_StyleLibraryClearEvaluatedStyles(library_, &err);
  EXPECT_FALSE(err);
  EXPECT_EQ(0, library_->evaluated);
  EXPECT_EQ(nullptr, At<Eant_TextStyle>(library_->textStyles, 0)->renderStyle);
  eant_StyleLibraryClearEvaluatedStyles(nullptr, &err);
  EXPECT_FALSE(err);

  // A failure caches nothing.
  At<Eant_TextStyle>(library_->textStyles, 0)->fillStyle = 7;
  EXPECT_EQ(nullptr,
            eant_GetTextStyleForRenderingPtr(toolkit_, nullptr, library_, nullptr, &topLeft, 0, Conversion(), &err));
  EXPECT_TRUE(err);
  EXPECT_EQ(nullptr, At<Eant_TextStyle>(library_->textStyles, 0)->renderStyle);
}

TEST_F(TextStyleTest, CopyingBetweenLibrariesTakesTheStylesItUses) {
  ErrorSlot err;
  Eant_StyleLibrary *target = eant_StyleLibraryCreate(&err);
  const int32_t fill = SolidFill(library_, 10, 20, 30);
  eant_LineStyleCreateDefault(library_, &err);
  const int32_t plain = Add(library_, EANT_KEY_STYLENAME, "plain");
  const int32_t full = Add(library_, EANT_KEY_STYLENAME, "full", EANT_KEY_TEXTFILL, fill, EANT_KEY_UNDERLINE,
                           EMSC_TRUE, 1.0, EANT_KEY_UNDERLINESTYLE, 0);
  EXPECT_EQ(0, eant_TextStyleCopyBetweenLibraries(plain, library_, target, 1, &err));
  EXPECT_FALSE(err) << Chain(err);
  EXPECT_EQ(-1, At<Eant_TextStyle>(target->textStyles, 0)->fillStyle);
  EXPECT_EQ(0, edlm_CountList(target->fillStyles, nullptr));
  EXPECT_EQ(1, eant_TextStyleCopyBetweenLibs(full, library_, target, &err));
  EXPECT_FALSE(err) << Chain(err);
  const Eant_TextStyle *copy = At<Eant_TextStyle>(target->textStyles, 1);
  EXPECT_EQ("full", Text(copy->styleName));
  ASSERT_EQ(1, edlm_CountList(target->fillStyles, nullptr));
  EXPECT_EQ(0, copy->fillStyle);
  EXPECT_EQ(0, copy->underlineStyle);
  EXPECT_EQ(1, edlm_CountList(target->lineStyles, nullptr));
  EXPECT_EQ(30, At<Eant_Color>(target->colors, At<Eant_FillStyle>(target->fillStyles, 0)->pattern->color)->blue);
  // Copied again with the unique flag: the equal style is reused.
  EXPECT_EQ(1, eant_TextStyleCopyBetweenLibraries(full, library_, target, 1, &err));
  EXPECT_EQ(2, edlm_CountList(target->textStyles, nullptr));
  // Replaced in the target: the slot takes the evaluated copy.
  eant_TextStyleReplaceBetweenLibraries(full, library_, 0, target, &err);
  EXPECT_FALSE(err) << Chain(err);
  EXPECT_EQ("full", Text(At<Eant_TextStyle>(target->textStyles, 0)->styleName));
  EXPECT_EQ(-1, eant_TextStyleCopyBetweenLibraries(5, library_, target, 1, &err));
  EXPECT_TRUE(Reported(err, "eant_TextStyleCopyBetweenLibraries", 1, "Error returned from eant_TextStyleLookupInLibrary"));
  eant_StyleLibraryFree(&target);
}

// The box of a text from (x0, y0) to (x1, y1), corners lower-left, upper-left, upper-right, lower-right.
Egda_BaseData *Box(double x0, double y0, double x1, double y1) {
  Egda_BaseData *box = egda_BaseDataCreate(2, 4, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  const double xs[4] = {x0, x0, x1, x1}, ys[4] = {y0, y1, y1, y0};
  auto *values = reinterpret_cast<double *>(box->origin);
  for (int c = 0; c < 4; ++c) {
    values[2 * c] = xs[c];
    values[2 * c + 1] = ys[c];
  }
  return box;
}
std::vector<double> Corners(const Egda_BaseData *box) {
  const auto *values = reinterpret_cast<const double *>(box->origin);
  return {values[0], values[2], values[4], values[6], values[1], values[3], values[5], values[7]};
}

TEST_F(TextStyleTest, ATextBoxGrowsBySlantUnderlineAndShadow) {
  ErrorSlot err;
  eant_LineStyleCreateDefault(library_, &err); // 2 points wide: 1 map unit
  const int32_t plain = Add(library_, EANT_KEY_STYLENAME, "plain");
  const int32_t shadowed = Add(library_, EANT_KEY_TEXTUNITS, EEVG_OUTPUT, "points", EANT_KEY_SHADOW, EMSC_TRUE, 6.0,
                               -10.0, EANT_KEY_SHADOWSTYLE, -1);
  const int32_t slanted = Add(library_, EANT_KEY_TEXTSLANT, -std::atan(0.5));
  const int32_t underlined = Add(library_, EANT_KEY_TEXTUNITS, EEVG_OUTPUT, "points", EANT_KEY_UNDERLINE, EMSC_TRUE,
                                 4.0, EANT_KEY_UNDERLINESTYLE, 0);
  struct Case {
    int32_t number;
    std::vector<double> corners; // x of corners 0 to 3, then y
  } cases[] = {
      {plain, {0, 0, 10, 10, 0, 4, 4, 0}},
      {shadowed, {-5, -5, 15, 15, -5, 9, 9, -5}},
      {slanted, {-2, -2, 10, 10, 0, 4, 4, 0}},
      {underlined, {-0.5, -0.5, 10.5, 10.5, -2.5, 4, 4, -2.5}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.number);
    Egda_BaseData *box = Box(0, 0, 10, 4);
    eant_ModifyBboxByTextStyle(toolkit_, library_, c.number, Conversion(), box, &err);
    EXPECT_FALSE(err) << Chain(err);
    const std::vector<double> got = Corners(box);
    for (int i = 0; i < 8; ++i) EXPECT_NEAR(c.corners[i], got[i], 1e-9) << i;
    egda_BaseDataDelete(box, nullptr);
  }
  // A turned box grows in its own frame: the box turned a quarter (x, y) -> (-y, x) grows as the
  // turned grown box.
  Egda_BaseData *box = Box(0, 0, 10, 4);
  auto *values = reinterpret_cast<double *>(box->origin);
  auto quarter = [](double *xy) {
    const double x = xy[0];
    xy[0] = -xy[1];
    xy[1] = x;
  };
  for (int c = 0; c < 4; ++c) quarter(values + 2 * c);
  eant_ModifyBboxByTextStyle(toolkit_, library_, shadowed, Conversion(), box, &err);
  EXPECT_FALSE(err) << Chain(err);
  Egda_BaseData *expected = Box(-5, -5, 15, 9);
  auto *wanted = reinterpret_cast<double *>(expected->origin);
  for (int c = 0; c < 4; ++c) quarter(wanted + 2 * c);
  for (int i = 0; i < 8; ++i) EXPECT_NEAR(wanted[i], values[i], 1e-9) << i;
  egda_BaseDataDelete(expected, nullptr);
  egda_BaseDataDelete(box, nullptr);

  Egda_BaseData *wrong = egda_BaseDataCreate(2, 2, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  eant_ModifyBboxByTextStyle(toolkit_, library_, plain, nullptr, wrong, &err);
  EXPECT_TRUE(Reported(err, "eant_ModifyBboxByTextStyle", 1, "Invalid input bounding box"));
  egda_BaseDataDelete(wrong, nullptr);
  box = Box(0, 0, 1, 1);
  eant_ModifyBboxByTextStyle(toolkit_, library_, 42, nullptr, box, &err);
  EXPECT_TRUE(Reported(err, "eant_ModifyBboxByTextStyle", 3, "Error returned from eant_TextStyleLookupInLibrary"));
  EXPECT_EQ((std::vector<double>{0, 0, 1, 1, 0, 1, 1, 0}), Corners(box));
  egda_BaseDataDelete(box, nullptr);
}

TEST_F(TextStyleTest, AFailedAllocationIsReportedAndLeavesNothingBehind) {
  eant_ColorCreateDefault(library_, nullptr, nullptr);
  eant_TextStyleCreateDefault(library_, nullptr);
  Conversion();
  Eevg_TextStyle *renderer = nullptr;
  taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **e) { return (renderer = eant_GetTextStyle(toolkit_, library_, nullptr, 0, Conversion(), e)); },
      [&] { eevg_TextStyleFree(&renderer); });
  Eant_StyleLibrary *library = nullptr;
  taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **e) { return (library = eant_StyleLibraryCreateDefault(nullptr, e)); },
      [&] { eant_StyleLibraryFree(&library); });
}

} // namespace

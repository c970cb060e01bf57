// Numbered styles of a library: adding with and without the unique flag, use counts and deletion,
// lookups and their reports, keyword lists, evaluation of base chains (loops and libraries that
// cannot be had included), renderer objects and their cache, and moves between libraries.
#include <string>
#include <vector>

#include "annotation_testing.h"

namespace {

using namespace taviron::annotation::testing;

template <class T> T *At(Edlm_List *list, int32_t i) {
  return *static_cast<T **>(edlm_GetAddr(list, i, nullptr));
}
std::string Text(const Eant_CharStr &s) { return s.count > 0 && s.data ? s.data : ""; }

Eant_LineStyle *Line(const char *name, double width) {
  ErrorSlot err;
  Eant_LineStyle *style = eant_LineStyleSetValues(nullptr, nullptr, nullptr, &err, EANT_KEY_STYLENAME, name,
                                                  EANT_KEY_OVERLINE, 0, width, -1, EANT_KEY_END);
  EXPECT_NE(nullptr, style) << Chain(err.get());
  return style;
}

Eant_Color *Color(const char *name, int r, int g, int b, double opacity) {
  ErrorSlot err;
  Eant_Color *color = eant_ColorSetValues(nullptr, nullptr, nullptr, &err, EANT_KEY_STYLENAME, name,
                                          EANT_KEY_RGB, r, g, b, EANT_KEY_OPACITY, opacity, EANT_KEY_END);
  EXPECT_NE(nullptr, color) << Chain(err.get());
  return color;
}

// A library whose line-style list is given slot by slot: 'e' an empty slot, 'q' a style equal to
// Line("same", 1), any other letter a style of its own.
Eant_StyleLibrary *LineLibrary(const std::string &slots) {
  Eant_StyleLibrary *library = eant_StyleLibraryCreate(nullptr);
  for (std::size_t i = 0; i < slots.size(); ++i) {
    Eant_LineStyle *style = slots[i] == 'e'   ? nullptr
                            : slots[i] == 'q' ? Line("same", 1)
                                              : Line(("line " + std::to_string(i)).c_str(), 2.0 + double(i));
    if (style) style->useCount = 7;
    edlm_Add(library->lineStyles, &style, nullptr);
  }
  return library;
}

class StyleFamilyTest : public PackageTest {};

TEST_F(StyleFamilyTest, AddingFillsTheFirstEmptySlotOrReusesTheFirstEqualStyle) {
  struct Case {
    const char *slots;
    int32_t unique;
    int32_t number; // where the style lands, or the equal style reused
    bool reused;
  } cases[] = {
      {"xxxexq", 1, 3, false}, // the walk stops at the empty slot before the equal style
      {"xxxxqx", 1, 4, true},  // an equal style before any empty slot is reused
      {"xxxxqx", 0, 6, false}, // without the flag equal styles do not count
      {"xxxxqx", 7, 6, false}, // flags other than 1 act as 0
      {"", 1, 0, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.slots);
    ErrorSlot err;
    Eant_StyleLibrary *library = LineLibrary(c.slots);
    Eant_LineStyle *style = Line("same", 1);
    EXPECT_EQ(c.number, eant_LineStyleAddToLibrary(style, library, c.unique, &err));
    EXPECT_FALSE(err) << Chain(err.get());
    Eant_LineStyle *there = At<Eant_LineStyle>(library->lineStyles, c.number);
    if (c.reused) {
      EXPECT_EQ(7, there->useCount); // the given style is freed (ASan checks) and nothing is counted
    } else {
      EXPECT_EQ(style, there);
      EXPECT_EQ(0, there->useCount);
    }
    eant_StyleLibraryFree(&library);
  }

  // A style the list holds already keeps its number: it is neither stored twice nor freed.
  ErrorSlot err;
  Eant_StyleLibrary *library = LineLibrary("xex");
  Eant_LineStyle *held = eant_LineStyleLookupInLibrary(library, 2, &err);
  for (int32_t unique : {0, 1}) EXPECT_EQ(2, eant_LineStyleAddToLibrary(held, library, unique, &err));
  EXPECT_EQ(nullptr, eant_LineStyleLookupInLibrary(library, 1, nullptr));
  eant_StyleLibraryFree(&library);

  Eant_LineStyle *style = Line("same", 1);
  EXPECT_EQ(0, eant_LineStyleAddToList(nullptr, nullptr, 1, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_LineStyleAddToList", 1, "Invalid input line style"));
  EXPECT_EQ(0, eant_LineStyleAddToList(style, nullptr, 1, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_LineStyleAddToList", 2, "Invalid input line style list"));
  EXPECT_EQ(0, eant_LineStyleAddToLibrary(style, nullptr, 1, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_LineStyleAddToLibrary", 1, "Invalid input style library"));
  eant_LineStyleFree(&style);
}

TEST_F(StyleFamilyTest, DeletingReleasesOneUseAndEmptiesTheSlotAtZero) {
  ErrorSlot err;
  Eant_StyleLibrary *library = LineLibrary("xxx");
  const int32_t counts[] = {3, 1, 0};
  for (int32_t i = 0; i < 3; ++i) {
    At<Eant_LineStyle>(library->lineStyles, i)->useCount = counts[i];
    eant_LineStyleDeleteFromLibrary(i, library, &err);
    EXPECT_FALSE(err) << Chain(err.get());
  }
  ASSERT_NE(nullptr, At<Eant_LineStyle>(library->lineStyles, 0));
  EXPECT_EQ(2, At<Eant_LineStyle>(library->lineStyles, 0)->useCount);
  EXPECT_EQ(nullptr, At<Eant_LineStyle>(library->lineStyles, 1));
  EXPECT_EQ(nullptr, At<Eant_LineStyle>(library->lineStyles, 2));
  eant_LineStyleDeleteFromList(2, library->lineStyles, &err); // already empty: nothing to do
  EXPECT_FALSE(err);
  EXPECT_EQ(3, edlm_CountList(library->lineStyles, nullptr)); // the list never shrinks

  eant_LineStyleDeleteFromList(-1, library->lineStyles, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_LineStyleDeleteFromList", 1, "Invalid input line style"));
  eant_LineStyleDeleteFromList(3, library->lineStyles, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_LineStyleDeleteFromList", 3, "Invalid line style list"));
  eant_ColorDeleteFromList(0, nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_ColorDeleteFromList", 2, "Invalid input color list"));

  // An emptied slot takes the next style added, with either flag.
  Eant_LineStyle *style = Line("new", 9);
  EXPECT_EQ(1, eant_LineStyleAddToLibrary(style, library, 0, &err));
  eant_StyleLibraryFree(&library);
}

TEST_F(StyleFamilyTest, LookupsReportWhatTheyCannotFind) {
  ErrorSlot err;
  Eant_StyleLibrary *library = LineLibrary("xxe");
  struct Case {
    int32_t number;
    int code;
    const char *message;
  } cases[] = {{-1, 3, "Requested line style number is out of range"},
               {3, 3, "Requested line style number is out of range"},
               {2, 4, "LineStyle has been deleted"}};
  for (const Case &c : cases) {
    EXPECT_EQ(nullptr, eant_LineStyleLookupInLibrary(library, c.number, &err));
    EXPECT_TRUE(Reported(err.get(), "eant_LineStyleLookupInLibrary", c.code, c.message));
  }
  EXPECT_EQ(nullptr, eant_ColorLookupInLibrary(nullptr, 0, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_ColorLookupInLibrary", 1, "Invalid input style library"));
  Eant_StyleLibrary bare{};
  EXPECT_EQ(nullptr, eant_FillStyleLookupInLibrary(&bare, 0, &err));
  EXPECT_TRUE(
      Reported(err.get(), "eant_FillStyleLookupInLibrary", 2, "Invalid fillStyle in input style library"));

  Eant_LineStyle *style = Line("new", 9);
  eant_LineStyleReplaceInLibrary(style, 3, library, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_LineStyleReplaceInLibrary", 4,
                       "Invalid input lineStyleNum.  Must be between 0 and 2"));
  eant_LineStyleReplaceInLibrary(style, 0, library, &err); // the old style is freed
  EXPECT_FALSE(err);
  EXPECT_EQ(style, eant_LineStyleLookupInLibrary(library, 0, &err));

  // By name: the first of two equal names, exactly as written.
  eant_CharStrCreate("twin", &At<Eant_LineStyle>(library->lineStyles, 0)->styleName, nullptr);
  eant_CharStrCreate("twin", &At<Eant_LineStyle>(library->lineStyles, 1)->styleName, nullptr);
  EXPECT_EQ(0, eant_LineStyleLookupInLibraryByName(library, "twin", &err));
  EXPECT_EQ(-1, eant_LineStyleLookupInLibraryByName(library, "Twin", &err));
  EXPECT_TRUE(Reported(err.get(), "eant_LineStyleLookupInLibraryByName", 4,
                       "Requested line style \"Twin\" not found"));
  EXPECT_EQ(-1, eant_LineStyleLookupInLibraryByName(library, nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_LineStyleLookupInLibraryByName", 3, "Invalid input styleName"));

  // Named styles: one entry per named style, with its number.
  eant_CharStrFree(&At<Eant_LineStyle>(library->lineStyles, 1)->styleName);
  Edlm_List *named = eant_LineStyleGetNamedFromList(library->lineStyles, "file.sty", &err);
  ASSERT_NE(nullptr, named) << Chain(err.get());
  ASSERT_EQ(1, edlm_CountList(named, nullptr));
  auto *entry = static_cast<Eant_Style *>(edlm_GetAddr(named, 0, nullptr));
  EXPECT_EQ("twin", Text(entry->name));
  EXPECT_EQ("file.sty", Text(entry->fileNodeName));
  EXPECT_EQ(0, entry->number);
  eant_StyleFreeContents(entry);
  edlm_FreeList(named);
  eant_StyleLibraryFree(&library);
}

TEST_F(StyleFamilyTest, KeywordListsSetPartsAndMaskBitsAndRefuseOtherKindsKeywords) {
  ErrorSlot err;
  Eant_LineStyle *line = eant_LineStyleSetValues(nullptr, nullptr, nullptr, &err, EANT_KEY_OVERLINE, 2, 0.5,
                                                 7, EANT_KEY_LINEJOIN, 3, EANT_KEY_END);
  ASSERT_NE(nullptr, line) << Chain(err.get());
  ASSERT_EQ(3, line->overLines.count);
  EXPECT_EQ(-1, line->overLines.data[0].color);
  EXPECT_EQ(0.0, line->overLines.data[1].width);
  EXPECT_EQ(7, line->overLines.data[2].color);
  EXPECT_EQ(0.5, line->overLines.data[2].width);
  EXPECT_EQ(EANT_LINE_OVERLINES | EANT_LINE_LINEJOIN, line->mask);

  // A colour keyword stops a line style's list; a given record keeps what came before.
  EXPECT_EQ(line, eant_LineStyleSetValues(nullptr, nullptr, line, &err, EANT_KEY_MARKEND, 2, EANT_KEY_RGB, 1,
                                          2, 3, EANT_KEY_END));
  EXPECT_TRUE(Reported(err.get(), "eant_LineStyleSetValues", 4, "Invalid keyword option for lineStyle"));
  EXPECT_EQ(2, line->markEnd);
  EXPECT_EQ(line, eant_LineStyleSetValues(nullptr, nullptr, line, &err, EANT_KEY_OVERLINE, -1, 1.0, 0,
                                          EANT_KEY_END));
  EXPECT_TRUE(Reported(err.get(), "eant_LineStyleSetValues", 3, "Invalid overLine position -1"));
  EXPECT_EQ(3, line->overLines.count);
  eant_LineStyleFree(&line);
  // A record made by the call is freed.
  EXPECT_EQ(nullptr, eant_LineStyleSetValues(nullptr, nullptr, nullptr, &err, EANT_KEY_STYLENAME, "x",
                                             EANT_KEY_RGB, 1, 2, 3, EANT_KEY_END));
  EXPECT_TRUE(Reported(err.get(), "eant_LineStyleSetValues", 4, "Invalid keyword option for lineStyle"));

  Eant_FillStyle *fill =
      eant_FillStyleSetValues(nullptr, nullptr, nullptr, &err, EANT_KEY_FILL, 1, 4, EANT_KEY_END);
  ASSERT_NE(nullptr, fill) << Chain(err.get());
  EXPECT_EQ(EANT_FILL_FILL | EANT_FILL_PATTERN, fill->mask);
  ASSERT_NE(nullptr, fill->pattern);
  EXPECT_EQ(1, fill->pattern->solidFill);
  EXPECT_EQ(4, fill->pattern->color);
  eant_FillStyleSetValues(nullptr, nullptr, fill, &err, EANT_KEY_FILL, 0, 4, EANT_KEY_END);
  EXPECT_EQ(nullptr, fill->pattern);
  eant_FillStyleFree(&fill);

  // A base reference counts a use of the style it names.
  Eant_StyleLibrary *library = eant_StyleLibraryCreate(&err);
  eant_ColorAddToLibrary(Color("base", 1, 2, 3, 1), library, 0, &err);
  Eant_Color *derived = eant_ColorSetValues(toolkit_, library, nullptr, &err, EANT_KEY_BASESTYLE, nullptr,
                                            "base", 0, EANT_KEY_END);
  ASSERT_NE(nullptr, derived) << Chain(err.get());
  EXPECT_EQ(1, eant_ColorLookupInLibrary(library, 0, &err)->useCount);
  EXPECT_EQ(nullptr, eant_ColorSetValues(toolkit_, library, nullptr, &err, EANT_KEY_BASESTYLE, nullptr,
                                         "gone", 5, EANT_KEY_END));
  EXPECT_TRUE(Reported(err.get(), "eant_ColorSetValues", 2,
                       "Error returned from eant_ColorIncrementUseCountByStyle"));
  eant_ColorFree(&derived);
  eant_StyleLibraryFree(&library);
}

TEST_F(StyleFamilyTest, EvaluationResolvesTheBaseChainAndFillsTheRendererColour) {
  ErrorSlot err;
  Eant_StyleLibrary *library = eant_StyleLibraryCreate(&err);
  Eant_Color *fresh = eant_ColorCreate(&err);
  Eevg_Color renderer{};
  Eant_Color *black = eant_ColorEvaluate(toolkit_, library, fresh, 0, &renderer, &err);
  ASSERT_NE(nullptr, black) << Chain(err.get());
  EXPECT_EQ(EANT_COLOR_RED | EANT_COLOR_GREEN | EANT_COLOR_BLUE | EANT_COLOR_OPACITY, black->mask);
  EXPECT_EQ(1.0, black->opacity);
  EXPECT_EQ(255, renderer.opacity);
  EXPECT_EQ(0, renderer.red);
  eant_ColorFree(&black);
  eant_ColorFree(&fresh);

  eant_ColorAddToLibrary(Color("root", 10, 20, 30, 0.25), library, 0, &err);
  Eant_Color *derived =
      eant_ColorSetValues(toolkit_, library, nullptr, &err, EANT_KEY_STYLENAME, "derived", EANT_KEY_BASESTYLE,
                          nullptr, "root", 0, EANT_KEY_OPACITY, 1.0, EANT_KEY_END);
  Eant_Color *evaluated = eant_ColorEvaluate(toolkit_, library, derived, 0, nullptr, &err);
  ASSERT_NE(nullptr, evaluated) << Chain(err.get());
  EXPECT_EQ(10, evaluated->red);
  EXPECT_EQ(30, evaluated->blue);
  EXPECT_EQ(1.0, evaluated->opacity);
  EXPECT_EQ(EANT_COLOR_RED | EANT_COLOR_GREEN | EANT_COLOR_BLUE | EANT_COLOR_OPACITY, evaluated->mask);
  EXPECT_EQ("root", Text(evaluated->styleName)); // the names of the last style of the chain
  EXPECT_EQ(nullptr, evaluated->baseStyle);
  eant_ColorFree(&evaluated);
  eant_ColorFree(&derived);

  // The renderer colour: opacity scaled and truncated, or opaque while the switch is on.
  const int32_t half = eant_ColorAddToLibrary(Color("half", 200, 100, 50, 0.5), library, 0, &err);
  Eevg_Color *made = eant_GetColor(toolkit_, library, half, &err);
  ASSERT_NE(nullptr, made) << Chain(err.get());
  EXPECT_EQ((std::vector<int32_t>{200, 200, 100, 50, 127}),
            (std::vector<int32_t>{made->index, made->red, made->green, made->blue, made->opacity}));
  eevg_ColorFree(&made);
  EXPECT_EQ(1, eant_ColorSetIgnoreOpacityForEevg(1));
  made = eant_GetColor(toolkit_, library, half, &err);
  EXPECT_EQ(255, made->opacity);
  eant_ColorSetIgnoreOpacityForEevg(0);
  eevg_ColorFree(&made);

  // An opacity no renderer colour can hold gives the nearest it can, never an undefined value.
  struct Opacity {
    double opacity;
    int32_t renderer;
  } opacities[] = {{0.0, 0}, {1.0, 255}, {2.0, 510}, {1e12, INT32_MAX}, {-1e12, INT32_MIN}};
  for (const Opacity &o : opacities) {
    const int32_t n = eant_ColorAddToLibrary(Color("o", 1, 1, 1, o.opacity), library, 0, &err);
    made = eant_GetColor(toolkit_, library, n, &err);
    ASSERT_NE(nullptr, made) << Chain(err.get());
    EXPECT_EQ(o.renderer, made->opacity) << o.opacity;
    eevg_ColorFree(&made);
  }

  EXPECT_EQ(nullptr, eant_GetColor(toolkit_, library, -1, &err));
  EXPECT_FALSE(err);
  EXPECT_EQ(nullptr, eant_GetColor(nullptr, library, 0, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_GetColor", 1, "Toolkit has not been initialized"));

  // The cached form is made once and again after the list's evaluated styles are cleared.
  Eevg_Color *cached = eant_GetColorPtr(toolkit_, library, half, &err);
  ASSERT_NE(nullptr, cached) << Chain(err.get());
  EXPECT_EQ(cached, eant_GetColorPtr(toolkit_, library, half, &err));
  EXPECT_EQ(1, library->evaluated);
  eant_ColorListClearEvaluatedStyles(library->colors, &err);
  EXPECT_EQ(nullptr, eant_ColorLookupInLibrary(library, half, &err)->evaluatedStyle);
  EXPECT_NE(nullptr, eant_GetColorPtr(toolkit_, library, half, &err));
  eant_ColorListClearEvaluatedStyles(nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_ColorListClearEvaluatedStyles", 1, "Invalid input colors"));
  eant_StyleLibraryFree(&library);
}

TEST_F(StyleFamilyTest, AFillPatternBecomesTheRenderersPatternWithItsLibrarysColour) {
  ErrorSlot err;
  Eant_StyleLibrary *library = eant_StyleLibraryCreate(&err);
  eant_ColorAddToLibrary(Color("red", 255, 0, 0, 1.0), library, 0, &err);
  struct Case {
    Eant_FillPattern pattern;
    bool colored;
    int32_t usePattern;
  } cases[] = {{{1, 0, 0, nullptr}, true, 0}, {{1, 0, 1, nullptr}, true, 1}, {{0, -1, 1, nullptr}, false, 1}};
  for (const Case &c : cases) {
    Eevg_FillPattern *made = eant_GetFillPattern(toolkit_, library, &c.pattern, &err);
    ASSERT_NE(nullptr, made) << Chain(err);
    EXPECT_EQ(c.colored, made->color != nullptr);
    if (made->color) {
      EXPECT_EQ(255, made->color->red);
    }
    EXPECT_EQ(c.usePattern, made->usePattern);
    EXPECT_EQ(nullptr, made->patternStack); // no pixels are made here
    eevg_FillPatternFree(&made);
  }
  EXPECT_EQ(nullptr, eant_GetFillPattern(toolkit_, library, nullptr, &err));
  EXPECT_FALSE(err);
  const Eant_FillPattern missing{1, 5, 0, nullptr};
  EXPECT_EQ(nullptr, eant_GetFillPattern(toolkit_, library, &missing, &err));
  EXPECT_TRUE(Reported(err, "eant_GetFillPattern", 2, "Error returned from eant_GetColor"));
  eant_StyleLibraryFree(&library);
}

TEST_F(StyleFamilyTest, ABaseChainThatLoopsIsRefused) {
  ErrorSlot err;
  Eant_StyleLibrary *library = eant_StyleLibraryCreate(&err);
  // A based on B based on A, and C based on itself.
  Eant_LineStyle *a = Line("A", 1), *b = Line("B", 2), *c = Line("C", 3);
  a->baseStyle = eant_StyleSetValues(nullptr, nullptr, "B", 1, &err);
  b->baseStyle = eant_StyleSetValues(nullptr, nullptr, "A", 0, &err);
  c->baseStyle = eant_StyleSetValues(nullptr, nullptr, "C", 2, &err);
  for (Eant_LineStyle *style : {a, b, c}) eant_LineStyleAddToLibrary(style, library, 0, &err);
  for (int32_t number : {0, 2}) {
    EXPECT_EQ(nullptr,
              eant_LineStyleEvaluate(toolkit_, library, eant_LineStyleLookupInLibrary(library, number, &err),
                                     1, nullptr, nullptr, &err));
    EXPECT_TRUE(Reported(err, "eant_LineStyleEvaluate", 2, "Base style chain loops"));
    EXPECT_EQ(2, err->severity);
    EXPECT_EQ(nullptr, eant_GetLineStyle(toolkit_, library, number, nullptr, &err));
    EXPECT_TRUE(err);
  }
  // The same guard serves every kind: a colour based on itself, and a chain of fill styles far
  // deeper than any library holds, each based on the next, which is refused before the stack runs
  // out.
  Eant_Color *color = Color("self", 1, 2, 3, 1.0);
  color->baseStyle = eant_StyleSetValues(nullptr, nullptr, "self", 0, &err);
  eant_ColorAddToLibrary(color, library, 0, &err);
  EXPECT_EQ(nullptr, eant_GetColor(toolkit_, library, 0, &err));
  EXPECT_NE(std::string::npos, Chain(err).find("Base style chain loops"));
  constexpr int32_t kDeep = 5000;
  for (int32_t i = 0; i < kDeep; ++i) {
    Eant_FillStyle *fill = eant_FillStyleCreate(&err);
    if (i + 1 < kDeep) fill->baseStyle = eant_StyleSetValues(nullptr, nullptr, nullptr, i + 1, &err);
    eant_FillStyleAddToLibrary(fill, library, 0, &err);
  }
  EXPECT_EQ(nullptr, eant_FillStyleEvaluate(toolkit_, library, eant_FillStyleLookupInLibrary(library, 0, &err), 1,
                                            nullptr, nullptr, &err));
  EXPECT_TRUE(Reported(err, "eant_FillStyleEvaluate", 2, "Base style chain loops"));
  // A chain of ordinary length evaluates.
  Eant_FillStyle *near = eant_FillStyleEvaluate(toolkit_, library,
                                                eant_FillStyleLookupInLibrary(library, kDeep - 100, &err), 1,
                                                nullptr, nullptr, &err);
  EXPECT_NE(nullptr, near) << Chain(err);
  eant_FillStyleFree(&near);
  eant_StyleLibraryFree(&library);
}

TEST_F(StyleFamilyTest, ExternalBasesAreFollowedOnRequestAndAMissingLibraryIsReported) {
  ErrorSlot err;
  // A library loaded under the name "ext.sty" holds the base.
  Eant_StyleLibrary *external = eant_StyleLibraryCreate(&err);
  eant_CharStrCreate("ext.sty", &external->fileNodeName, &err);
  eant_ColorAddToLibrary(Color("ext red", 255, 0, 0, 1), external, 0, &err);
  data_->styleLibraryCache = eant_StyleLibraryAddToList(data_->styleLibraryCache, external, &err);
  ASSERT_FALSE(err) << Chain(err.get());

  Eant_StyleLibrary *library = eant_StyleLibraryCreate(&err);
  Eant_LineStyle *line = eant_LineStyleSetValues(toolkit_, library, nullptr, &err, EANT_KEY_STYLENAME, "own",
                                                 EANT_KEY_OVERLINE, 0, 2.0, 0, EANT_KEY_END);
  eant_LineStyleAddToLibrary(line, library, 0, &err);
  Eant_Color *derived = eant_ColorSetValues(toolkit_, library, nullptr, &err, EANT_KEY_BASESTYLE, "ext.sty",
                                            "ext red", 0, EANT_KEY_END);
  ASSERT_NE(nullptr, derived) << Chain(err.get());
  EXPECT_EQ(1, eant_ColorLookupInLibrary(external, 0, &err)->useCount);
  const int32_t number = eant_ColorAddToLibrary(derived, library, 0, &err);

  Eant_Color *alone = eant_ColorEvaluate(toolkit_, library, derived, 0, nullptr, &err);
  ASSERT_NE(nullptr, alone) << Chain(err.get());
  EXPECT_EQ(0, alone->red); // a copy of the style alone
  EXPECT_NE(nullptr, alone->baseStyle);
  eant_ColorFree(&alone);
  Eevg_Color *red = eant_GetColor(toolkit_, library, number, &err);
  ASSERT_NE(nullptr, red) << Chain(err.get());
  EXPECT_EQ(255, red->red);
  eevg_ColorFree(&red);

  // The line's colour comes from the library: the renderer line holds it.
  Eevg_LineStyle *renderer = eant_GetLineStyle(toolkit_, library, 0, nullptr, &err);
  ASSERT_NE(nullptr, renderer) << Chain(err.get());
  ASSERT_EQ(1, renderer->composition.count);
  EXPECT_EQ(2.0, renderer->composition.data[0].width);
  eevg_LineStyleFree(&renderer);

  // A base in a file that cannot be opened leaves the style unevaluated.
  eant_StyleSetValues(derived->baseStyle, "missing.sty", "gone", 0, &err);
  EXPECT_EQ(nullptr, eant_GetColor(toolkit_, library, number, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_GetColor", 5, "Error returned from eant_ColorEvaluate"));
  EXPECT_EQ(nullptr, eant_GetColorPtr(toolkit_, library, number, &err));
  EXPECT_EQ(nullptr, derived->evaluatedStyle);

  // A local stand-in for an external reference: made once, its use counted in the other library.
  Eant_AnnotationInfo info{};
  info.styleLib = library;
  info.initToolkitData = toolkit_;
  Eant_Style *reference = eant_StyleSetValues(nullptr, "ext.sty", "ext red", 0, &err);
  const int32_t local = eant_ColorAddToLocalLibrary(&info, reference, &err);
  ASSERT_FALSE(err) << Chain(err.get());
  EXPECT_EQ(local, eant_ColorAddToLocalLibrary(&info, reference, &err));
  EXPECT_EQ(3, eant_ColorLookupInLibrary(external, 0, &err)->useCount);
  EXPECT_EQ(number + 2, edlm_CountList(library->colors, nullptr)); // one stand-in
  eant_StyleSetValues(reference, nullptr, "own", 9, &err);
  EXPECT_EQ(9, eant_ColorAddToLocalLibrary(&info, reference, &err)); // already local
  EXPECT_EQ(0, eant_ColorAddToLocalLibrary(nullptr, reference, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_ColorAddToLocalLibrary", 1, "Invalid input annotation info"));
  eant_StyleFree(&reference);
  eant_StyleLibraryFree(&library);
}

TEST_F(StyleFamilyTest, CopyingBetweenLibrariesTakesTheColoursAlong) {
  ErrorSlot err;
  Eant_StyleLibrary *source = eant_StyleLibraryCreate(&err), *target = eant_StyleLibraryCreate(&err);
  eant_ColorAddToLibrary(Color("grey", 9, 9, 9, 1), source, 0, &err);
  eant_ColorAddToLibrary(Color("teal", 0, 128, 128, 1), source, 0, &err);
  eant_ColorAddToLibrary(Color("teal", 0, 128, 128, 1), target, 0, &err);
  Eant_LineStyle *line =
      eant_LineStyleSetValues(nullptr, nullptr, nullptr, &err, EANT_KEY_STYLENAME, "two", EANT_KEY_OVERLINE,
                              0, 3.0, 1, EANT_KEY_OVERLINE, 1, 1.0, -1, EANT_KEY_END);
  eant_LineStyleAddToLibrary(line, source, 0, &err);

  EXPECT_EQ(0, eant_LineStyleCopyBetweenLibs(0, source, target, &err));
  ASSERT_FALSE(err) << Chain(err.get());
  const Eant_LineStyle *copied = eant_LineStyleLookupInLibrary(target, 0, &err);
  EXPECT_EQ(0, copied->overLines.data[0].color); // the equal colour already there
  EXPECT_EQ(-1, copied->overLines.data[1].color);
  EXPECT_EQ(0, eant_LineStyleCopyBetweenLibs(0, source, target, &err)); // an equal style is reused
  EXPECT_EQ(1, edlm_CountList(target->lineStyles, nullptr));

  EXPECT_EQ(-1, eant_LineStyleCopyBetweenLibraries(4, source, target, 1, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_LineStyleCopyBetweenLibraries", 1,
                       "Error returned from eant_LineStyleLookupInLibrary"));
  eant_ColorReplaceBetweenLibraries(0, source, 0, target, &err);
  EXPECT_EQ(9, eant_ColorLookupInLibrary(target, 0, &err)->red); // grey in place of teal

  // A fill style takes its colour and, when it is outlined, its outline along.
  Eant_FillStyle *fill = eant_FillStyleSetValues(nullptr, nullptr, nullptr, &err, EANT_KEY_FILL, 1, 1,
                                                 EANT_KEY_TRACE, 1, 0, EANT_KEY_END);
  const int32_t filled = eant_FillStyleAddToLibrary(fill, source, 0, &err);
  Eant_StyleLibrary *third = eant_StyleLibraryCreate(&err);
  EXPECT_EQ(0, eant_FillStyleCopyBetweenLibs(filled, source, third, &err));
  ASSERT_FALSE(err) << Chain(err.get());
  const Eant_FillStyle *moved = eant_FillStyleLookupInLibrary(third, 0, &err);
  EXPECT_EQ(0, moved->pattern->color);
  EXPECT_EQ(128, eant_ColorLookupInLibrary(third, 0, &err)->green);
  EXPECT_EQ(0, moved->traceStyle);
  EXPECT_EQ("two", Text(eant_LineStyleLookupInLibrary(third, 0, &err)->styleName));
  eant_StyleLibraryFree(&third);

  // The defaults: an equal colour is not added twice.
  Eevg_Color orange{0, 255, 128, 0, 51};
  eant_ColorCreateDefaultWithOpacity(target, &orange, &err);
  eant_ColorCreateDefaultWithOpacity(target, &orange, &err);
  ASSERT_FALSE(err) << Chain(err.get());
  ASSERT_EQ(2, edlm_CountList(target->colors, nullptr));
  EXPECT_DOUBLE_EQ(0.2, eant_ColorLookupInLibrary(target, 1, &err)->opacity);
  eant_LineStyleCreateDefault(target, &err);
  EXPECT_EQ(1, eant_LineStyleLookupInLibraryByName(target, "Medium solid default color line", &err));
  EXPECT_EQ(0, eant_FillStyleCreateOutlineDefault(target, &err));
  eant_StyleLibraryFree(&source);
  eant_StyleLibraryFree(&target);
}

} // namespace

namespace {

using namespace taviron::annotation::testing;

TEST_F(StyleFamilyTest, AFailedAllocationIsReportedAndLeavesNothingBehind) {
  ErrorSlot err;
  Eant_StyleLibrary *source = eant_StyleLibraryCreate(&err);
  eant_ColorAddToLibrary(Color("teal", 0, 128, 128, 0.5), source, 0, &err);
  eant_LineStyleAddToLibrary(Line("base", 1), source, 0, &err);
  Eant_LineStyle *derived = eant_LineStyleSetValues(
      toolkit_, source, nullptr, &err, EANT_KEY_STYLENAME, "derived", EANT_KEY_BASESTYLE, nullptr, "base", 0,
      EANT_KEY_OVERLINE, 1, 2.0, 0, EANT_KEY_LINEPATTERN, 0, 3.0, 1.0, EANT_KEY_ARROWEND, 0.5, 0.5, 2.0, 1, 0,
      EANT_KEY_END);
  ASSERT_NE(nullptr, derived) << Chain(err.get());
  const int32_t number = eant_LineStyleAddToLibrary(derived, source, 0, &err);

  const std::function<bool(Eerr_ErrorReport **)> steps[] = {
      [&](Eerr_ErrorReport **e) {
        Eant_StyleLibrary *target = eant_StyleLibraryCreate(e);
        if (!target) return false;
        eant_LineStyleCopyBetweenLibs(number, source, target, e);
        eant_StyleLibraryFree(&target);
        return !*e;
      },
      [&](Eerr_ErrorReport **e) {
        Eevg_LineStyle *line = eant_GetLineStyle(toolkit_, source, number, nullptr, e);
        eevg_LineStyleFree(&line);
        return !*e;
      },
      [&](Eerr_ErrorReport **e) {
        Eant_LineStyle *made = eant_LineStyleSetValues(
            nullptr, nullptr, nullptr, e, EANT_KEY_STYLENAME, "made", EANT_KEY_LINESYMBOL, EEVG_OUTPUT,
            "points", EEVG_MAP, "meters", 1.0, 2.0, 0.0, 0, nullptr, 0, -1, EANT_KEY_END);
        eant_LineStyleFree(&made);
        return !*e;
      },
      [&](Eerr_ErrorReport **e) {
        Edlm_List *named = eant_LineStyleGetNamedFromList(source->lineStyles, "file.sty", e);
        const int32_t count = named ? edlm_CountList(named, nullptr) : 0;
        for (int32_t i = 0; i < count; ++i)
          eant_StyleFreeContents(static_cast<Eant_Style *>(edlm_GetAddr(named, i, nullptr)));
        if (named) edlm_FreeList(named);
        return !*e;
      },
  };
  for (const auto &step : steps) {
    const auto counts = taviron::testing::SweepAllocationFailures(step);
    EXPECT_GT(counts.heap, 0);
  }
  eant_StyleLibraryFree(&source);
}

} // namespace

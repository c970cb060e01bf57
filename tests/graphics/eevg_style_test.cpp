// The renderer's style objects, their designs in hierarchical files, and the opacity dither.
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "eevg.h"
#include "ehfa.h"
#include "emif.h"
#include "emsc.h"
#include "graphics_testing.h"
#include "taviron_testing.h"

namespace {

using taviron::testing::Chain;
using taviron::testing::Reported;
using taviron::testing::ErrorSlot;

TEST(StyleObjects, CreateGivesTheDefaults) {
  ErrorSlot err;
  Eevg_Color *color = eevg_ColorCreate(&err);
  ASSERT_NE(color, nullptr);
  EXPECT_EQ(color->index + color->red + color->green + color->blue, 0);
  EXPECT_EQ(color->opacity, 255);
  Eevg_Align *align = eevg_AlignCreate(&err);
  ASSERT_NE(align, nullptr);
  EXPECT_EQ(align->yalign, EEVG_YCENTER);
  EXPECT_EQ(align->xalign, EEVG_XCENTER);
  Eevg_LineStyle *line = eevg_LineStyleCreate(&err);
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->displayLine, 1);
  EXPECT_EQ(line->composition.count, 0);
  Eevg_TextStyle *text = eevg_TextStyleCreate(&err);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->yalign, EEVG_YCENTER);
  EXPECT_EQ(text->xalign, EEVG_XCENTER);
  EXPECT_EQ(text->fontName, nullptr);
  eevg_ColorFree(&color);
  eevg_AlignFree(&align);
  eevg_LineStyleFree(&line);
  eevg_TextStyleFree(&text);
  EXPECT_EQ(color, nullptr);
  EXPECT_EQ(text, nullptr);
  eevg_TextStyleFree(&text); // a null record does nothing
  eevg_LineStyleFree(nullptr);

  taviron::testing::FailAllocation fail(1);
  EXPECT_EQ(eevg_ColorCreate(&err), nullptr);
  EXPECT_TRUE(Reported(err.get(), "eevg_ColorCreate", 1, "Error allocating Color"));
}

TEST(StyleObjects, CopiesOfTheSmallRecords) {
  ErrorSlot err;
  const Eevg_Color red{3, 255, 0, 0, 200};
  Eevg_Color *copy = eevg_ColorCopy(&red, nullptr, &err);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->index, 3);
  EXPECT_EQ(copy->opacity, 200);
  Eevg_Color *same = eevg_ColorCopy(nullptr, copy, &err);
  EXPECT_EQ(same, copy);
  EXPECT_TRUE(Reported(err.get(), "eevg_ColorCopy", 1, "Invalid input Eevg_Color"));
  {
    taviron::testing::FailAllocation fail(1);
    EXPECT_EQ(eevg_ColorCopy(&red, nullptr, &err), nullptr);
  }
  ASSERT_TRUE(Reported(err.get(), "eevg_ColorCopy", 2, "Error returned from eevg_ColorCreate"));
  EXPECT_TRUE(Reported(err->next, "eevg_ColorCreate", 1, "Error allocating Color"));
  eevg_ColorFree(&copy);

  const Eevg_Coord at{1.5, -2};
  Eevg_Coord *coord = eevg_CoordCopy(&at, nullptr, &err);
  ASSERT_NE(coord, nullptr);
  EXPECT_EQ(coord->y, -2);
  eevg_CoordFree(&coord);
  EXPECT_EQ(eevg_AlignCopy(nullptr, nullptr, &err), nullptr);
  EXPECT_TRUE(Reported(err.get(), "eevg_AlignCopy", 1, "Invalid input Eevg_Align"));
}

TEST(StyleObjects, ArrowEnds) {
  ErrorSlot err;
  Eevg_ArrowEnd *a = eevg_ArrowEndSetValues(nullptr, 0.5, 30, 2, EMSC_TRUE, EMSC_FALSE, &err);
  ASSERT_NE(a, nullptr);
  Eevg_ArrowEnd *b = eevg_ArrowEndCopy(a, nullptr, &err);
  EXPECT_EQ(eevg_ArrowEndCompare(a, b, &err), 1);
  b->stick = EMSC_TRUE;
  EXPECT_EQ(eevg_ArrowEndCompare(a, b, &err), 0);
  EXPECT_EQ(eevg_ArrowEndCompare(nullptr, nullptr, &err), 1);
  EXPECT_EQ(eevg_ArrowEndCompare(a, nullptr, &err), 0);
  {
    taviron::testing::CapturedOutput out;
    eevg_ArrowEndPrint(a, &err);
    eevg_ArrowEndPrint(nullptr, &err);
    EXPECT_EQ(out.Out(), "ArrowEnd:\n   baseAngle - 0.5\n   tipAngle - 30\n   length - 2\n"
                         "   filled - true\n   stick - false\nArrowEnd:\n");
  }
  eevg_ArrowEndFree(&a);
  eevg_ArrowEndFree(&b);
  EXPECT_EQ(a, nullptr);
}

TEST(StyleObjects, LinePatterns) {
  ErrorSlot err;
  Eevg_LinePattern pattern{};
  ASSERT_EQ(eevg_LinePatternSetValues(&pattern, 3, 5, 1, &err), &pattern);
  ASSERT_EQ(pattern.count, 4);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(pattern.data[i].lineMark + pattern.data[i].lineSpace, 0);
  EXPECT_EQ(pattern.data[3].lineMark, 5);
  eevg_LinePatternSetValues(&pattern, 5, 7, 2, &err);
  ASSERT_EQ(pattern.count, 6);
  EXPECT_EQ(pattern.data[3].lineMark, 5);
  EXPECT_EQ(pattern.data[4].lineMark, 0);
  eevg_LinePatternSetValues(&pattern, 0, 9, 9, &err);
  EXPECT_EQ(pattern.count, 6);
  EXPECT_EQ(eevg_LinePatternSetValues(&pattern, -1, 0, 0, &err), &pattern);
  EXPECT_TRUE(Reported(err.get(), "eevg_LinePatternSetValues", 2, "Invalid input position"));
  EXPECT_EQ(eevg_LinePatternSetValues(nullptr, 0, 0, 0, &err), nullptr);
  EXPECT_TRUE(Reported(err.get(), "eevg_LinePatternSetValues", 1, "Invalid input Eevg_LinePattern"));

  // Two segments into five without shrink: five stay, the first two copied.
  Eevg_LinePattern two{}, five{};
  eevg_LinePatternSetValues(&two, 0, 1, 2, &err);
  eevg_LinePatternSetValues(&two, 1, 3, 4, &err);
  eevg_LinePatternCreate(5, &five, &err);
  five.data[4].lineMark = 8;
  ASSERT_EQ(eevg_LinePatternCopy(&two, &five, 0, &err), &five);
  ASSERT_EQ(five.count, 5);
  EXPECT_EQ(five.data[1].lineSpace, 4);
  EXPECT_EQ(five.data[4].lineMark, 8);
  EXPECT_EQ(eevg_LinePatternCompare(&two, &five, &err), 0);
  eevg_LinePatternCopy(&two, &five, 1, &err);
  EXPECT_EQ(five.count, 2);
  EXPECT_EQ(eevg_LinePatternCompare(&two, &five, &err), 1);
  five.data[1].lineSpace = 4.5;
  EXPECT_EQ(eevg_LinePatternCompare(&two, &five, &err), 0);
  // A shorter destination grows.
  Eevg_LinePattern none{};
  eevg_LinePatternCopy(&pattern, &none, 0, &err);
  EXPECT_EQ(eevg_LinePatternCompare(&pattern, &none, &err), 1);

  Eevg_LinePattern broken{3, nullptr};
  EXPECT_EQ(eevg_LinePatternCompare(&broken, &two, &err), 0);
  EXPECT_TRUE(Reported(err.get(), "eevg_LinePatternCompare", 1, "First input linePattern is not valid"));
  EXPECT_EQ(eevg_LinePatternCompare(&two, &broken, &err), 0);
  EXPECT_TRUE(Reported(err.get(), "eevg_LinePatternCompare", 2, "Second input linePattern is not valid"));
  EXPECT_EQ(eevg_LinePatternCompare(nullptr, nullptr, &err), 1);
  EXPECT_EQ(eevg_LinePatternCopy(nullptr, &two, 0, &err), &two);
  EXPECT_TRUE(Reported(err.get(), "eevg_LinePatternCopy", 1, "Invalid input Eevg_LinePattern"));
  EXPECT_EQ(eevg_LinePatternCopy(&two, nullptr, 0, &err), nullptr);
  EXPECT_TRUE(Reported(err.get(), "eevg_LinePatternCopy", 2, "Invalid output Eevg_LinePattern"));

  {
    taviron::testing::CapturedOutput out;
    eevg_LinePatternPrint(&two, &err);
    EXPECT_EQ(out.Out(), "LinePattern:\nLinePatternSegment:\n   lineMark - 1\n   lineSpace - 2\n"
                         "LinePatternSegment:\n   lineMark - 3\n   lineSpace - 4\n");
  }

  EXPECT_EQ(eevg_LinePatternCreate(-1, &two, &err), nullptr);
  EXPECT_TRUE(Reported(err.get(), "eevg_LinePatternCreate", 2, "Count is less than 0"));
  EXPECT_EQ(eevg_LinePatternCreate(0, &two, &err), &two);
  EXPECT_EQ(two.count, 0);
  EXPECT_EQ(two.data, nullptr);
  for (Eevg_LinePattern *p : {&pattern, &two, &five, &none}) eevg_LinePatternFree(p);
}

TEST(StyleObjects, LineDescriptionsAndCompositionsOwnTheirColours) {
  const int64_t live = emsc_TestLiveBlocks();
  ErrorSlot err;
  Eevg_LineComposition source{}, target{};
  ASSERT_NE(eevg_LineCompositionCreate(2, &source, &err), nullptr);
  source.data[0].color = eevg_ColorCreate(&err);
  source.data[0].color->red = 200;
  source.data[0].width = 2;
  source.data[1].width = 1;
  // The target's colours are replaced, or freed where the source has none.
  ASSERT_NE(eevg_LineCompositionCreate(2, &target, &err), nullptr);
  target.data[1].color = eevg_ColorCreate(&err);
  ASSERT_EQ(eevg_LineCompositionCopy(&source, &target, 0, &err), &target);
  ASSERT_NE(target.data[0].color, nullptr);
  EXPECT_NE(target.data[0].color, source.data[0].color);
  EXPECT_EQ(target.data[0].color->red, 200);
  EXPECT_EQ(target.data[1].color, nullptr);
  EXPECT_EQ(target.data[0].width, 2);
  // Re-creating a composition of the same or another size releases the colours it held.
  ASSERT_NE(eevg_LineCompositionCreate(2, &target, &err), nullptr);
  EXPECT_EQ(target.data[0].color, nullptr);
  eevg_LineCompositionCopy(&source, &target, 0, &err);
  ASSERT_NE(eevg_LineCompositionCreate(3, &target, &err), nullptr);
  EXPECT_EQ(target.count, 3);

  Eevg_LineDescription *description = eevg_LineDescriptionCopy(&source.data[0], nullptr, &err);
  ASSERT_NE(description, nullptr);
  EXPECT_EQ(description->color->red, 200);
  {
    taviron::testing::FailAllocation fail(2); // the colour of a new description
    EXPECT_EQ(eevg_LineDescriptionCopy(&source.data[0], nullptr, &err), nullptr);
  }
  EXPECT_TRUE(Reported(err.get(), "eevg_LineDescriptionCopy", 3, "Error returned from eevg_ColorCopy"));
  eevg_LineDescriptionFree(&description);
  eevg_LineCompositionFree(&source);
  eevg_LineCompositionFree(&target);
  EXPECT_EQ(emsc_TestLiveBlocks(), live);
}

int freedSymbols;

TEST(StyleObjects, CompositeStylesFreeWhatTheyOwn) {
  const int64_t live = emsc_TestLiveBlocks();
  ErrorSlot err;
  Eevg_TextStyle *text = eevg_TextStyleCreate(&err);
  text->fontName = estr_Duplicate("timesbi");
  text->charFillStyle = eevg_FillStyleCreate(&err);
  text->charFillStyle->pattern = eevg_FillPatternCreate(&err);
  Eevg_FillPattern *pattern = text->charFillStyle->pattern;
  pattern->color = eevg_ColorCreate(&err);
  pattern->patternOrigin = eevg_CoordCreate(&err);
  pattern->patternStack = egda_BaseDataStackCreate(4, 2, 2, EGDA_TYPE_U8, EGDA_RASTER, &err);
  pattern->userData = emsc_HeapMalloc(16); // freed as heap memory without a free function
  text->charFillStyle->traceStyle = eevg_LineStyleCreate(&err);
  Eevg_LineStyle *line = text->charFillStyle->traceStyle;
  eevg_LineCompositionCreate(1, &line->composition, &err);
  line->composition.data[0].color = eevg_ColorCreate(&err);
  eevg_LinePatternSetValues(&line->pattern, 1, 2, 3, &err);
  line->arrowEnd = eevg_ArrowEndCreate(&err);
  line->lineSymbol = eevg_LineSymbolCreate(&err);
  freedSymbols = 0;
  line->lineSymbol->userData = &freedSymbols;
  line->lineSymbol->freeFunction = [](void *user) { ++*static_cast<int *>(user); };
  text->underlineStyle = eevg_LineStyleCreate(&err);
  text->shadowPattern = eevg_FillPatternCreate(&err);
  eevg_TextStyleFree(&text);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(freedSymbols, 1);
  EXPECT_EQ(emsc_TestLiveBlocks(), live);
}

// Each style object written with its design into a hierarchical file and read back.
TEST(StyleDesigns, RecordsSurviveAWriteAndReadInAHierarchicalFile) {
  const std::string name =
      (std::filesystem::temp_directory_path() / ("eevg_styles_" + std::to_string(getpid()) + ".hfa")).string();
  ErrorSlot err;
  Emif_Dictionary *dictionary = emif_DictionaryCreate(&err);
  ASSERT_NE(dictionary, nullptr);
  Emif_Design *coordDesign = eevg_CoordDesignDefine(dictionary, &err);
  Emif_Design *alignDesign = eevg_AlignDesignDefine(dictionary, &err);
  Emif_Design *colorDesign = eevg_ColorDesignDefine(dictionary, &err);
  Emif_Design *segmentDesign = eevg_LinePatternSegmentDesignDefine(dictionary, &err);
  Emif_Design *arrowDesign = eevg_ArrowEndDesignDefine(dictionary, &err);
  Emif_Design *lineDesign = eevg_LineDescriptionDesignDefine(dictionary, &err);
  ASSERT_TRUE(coordDesign && alignDesign && colorDesign && segmentDesign && arrowDesign && lineDesign)
      << Chain(err.get());
  // Defining again gives the same designs.
  EXPECT_EQ(eevg_ColorDesignDefine(dictionary, &err), colorDesign);
  EXPECT_EQ(emif_DesignSize(colorDesign), static_cast<int32_t>(sizeof(Eevg_Color)));
  EXPECT_EQ(emif_DesignSize(arrowDesign), static_cast<int32_t>(sizeof(Eevg_ArrowEnd)));
  EXPECT_EQ(emif_DesignItemOffset(arrowDesign, "stick"), static_cast<int32_t>(offsetof(Eevg_ArrowEnd, stick)));
  EXPECT_EQ(emif_DesignSize(lineDesign), static_cast<int32_t>(sizeof(Eevg_LineDescription)));
  EXPECT_EQ(emif_DesignSize(alignDesign), static_cast<int32_t>(sizeof(Eevg_Align)));

  const Eevg_Coord coord{12.5, -7.25};
  const Eevg_Align align{EEVG_BOTTOM, EEVG_RIGHT};
  Eevg_Color color{17, 1, 2, 3, 128};
  const Eevg_LinePatternSegment segment{4.5, 1.5};
  const Eevg_ArrowEnd arrow{0.25, 0.5, 3, EMSC_TRUE, EMSC_FALSE};
  const Eevg_LineDescription line{&color, 2.75};

  Ehfa_File *file = ehfa_FileCreate(name.c_str(), nullptr, &err);
  ASSERT_NE(file, nullptr) << Chain(err.get());
  struct Entry {
    const char *node;
    const void *record;
    Emif_Design *design;
  } entries[] = {{"coord", &coord, coordDesign},     {"align", &align, alignDesign},
                 {"color", &color, colorDesign},     {"segment", &segment, segmentDesign},
                 {"arrow", &arrow, arrowDesign},     {"line", &line, lineDesign}};
  for (const Entry &e : entries)
    ASSERT_NE(ehfa_ObjectWrite(file, ":", e.node, nullptr, 3, e.record, e.design, &err), nullptr)
        << e.node << " " << Chain(err.get());
  ehfa_FileClose(file, &err);
  ASSERT_FALSE(err) << Chain(err.get());

  file = ehfa_FileOpen(name.c_str(), "r", nullptr, &err);
  ASSERT_NE(file, nullptr) << Chain(err.get());
  auto read = [&](const char *node, Emif_Design *design) {
    void *record = ehfa_ObjectRead(file, nullptr, (std::string(":") + node).c_str(), 8, nullptr, design, &err);
    EXPECT_NE(record, nullptr) << node << " " << Chain(err.get());
    return record;
  };
  auto *coordRead = static_cast<Eevg_Coord *>(read("coord", coordDesign));
  auto *alignRead = static_cast<Eevg_Align *>(read("align", alignDesign));
  auto *colorRead = static_cast<Eevg_Color *>(read("color", colorDesign));
  auto *segmentRead = static_cast<Eevg_LinePatternSegment *>(read("segment", segmentDesign));
  auto *arrowRead = static_cast<Eevg_ArrowEnd *>(read("arrow", arrowDesign));
  auto *lineRead = static_cast<Eevg_LineDescription *>(read("line", lineDesign));
  ASSERT_TRUE(coordRead && alignRead && colorRead && segmentRead && arrowRead && lineRead);
  EXPECT_EQ(coordRead->x, 12.5);
  EXPECT_EQ(coordRead->y, -7.25);
  EXPECT_EQ(alignRead->yalign, EEVG_BOTTOM);
  EXPECT_EQ(alignRead->xalign, EEVG_RIGHT);
  EXPECT_EQ(std::memcmp(colorRead, &color, sizeof color), 0);
  EXPECT_EQ(eevg_LinePatternSegmentCompare(segmentRead, &segment, nullptr), 1);
  EXPECT_EQ(eevg_ArrowEndCompare(arrowRead, &arrow, nullptr), 1);
  ASSERT_NE(lineRead->color, nullptr);
  EXPECT_EQ(std::memcmp(lineRead->color, &color, sizeof color), 0);
  EXPECT_EQ(lineRead->width, 2.75);
  ehfa_FileClose(file, &err);

  eevg_CoordFree(&coordRead);
  eevg_AlignFree(&alignRead);
  eevg_ColorFree(&colorRead);
  eevg_LinePatternSegmentFree(&segmentRead);
  eevg_ArrowEndFree(&arrowRead);
  eevg_LineDescriptionFree(&lineRead);
  emif_DictionaryDelete(dictionary, nullptr);
  std::filesystem::remove(name);
}

TEST(StyleDesigns, DefineFailureIsReported) {
  ErrorSlot err;
  Emif_Dictionary *dictionary = emif_DictionaryCreate(&err);
  // A design of the same name with another layout is refused.
  ASSERT_NE(emif_DesignCreate(dictionary, "Eevg_Coord", &err, EMIF_TYPE_S32, "x", 0), nullptr);
  EXPECT_EQ(eevg_CoordDesignDefine(dictionary, &err), nullptr);
  ASSERT_TRUE(Reported(err.get(), "eevg_CoordDesignDefine", 1, "Error returned from emif_DefineObject"));
  EXPECT_NE(err->next, nullptr);
  emif_DictionaryDelete(dictionary, nullptr);
}

TEST(OpacityDither, LevelsAndTiles) {
  ErrorSlot err;
  struct Case {
    int32_t opacity;
    int drawn;
  } cases[] = {{0, 0}, {10, 0}, {11, 1}, {128, 12}, {254, 24}, {255, 25}, {300, 25}, {-5, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.opacity);
    int drawn = 0;
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 5; ++x) drawn += eevg_OpacityCheckPixel(x, y, c.opacity, &err);
    EXPECT_EQ(drawn, c.drawn);
    Egda_BaseData *tile = eevg_OpacityTileCreate(c.opacity, &err);
    ASSERT_NE(tile, nullptr) << Chain(err.get());
    EXPECT_EQ(tile->rows, 5);
    EXPECT_EQ(tile->pixelType, EGDA_TYPE_U8);
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 5; ++x)
        EXPECT_EQ(tile->origin[y * tile->pitch + x], eevg_OpacityCheckPixel(x + 5, y + 10, c.opacity, nullptr));
    EXPECT_EQ(eevg_OpacityTileCreate(c.opacity, &err), tile); // kept
  }
  // Level 1 draws only where x and y are both multiples of 5.
  EXPECT_EQ(eevg_OpacityCheckPixel(10, 15, 11, &err), 1);
  EXPECT_EQ(eevg_OpacityCheckPixel(10, 16, 11, &err), 0);
  EXPECT_EQ(eevg_OpacityCheckPixel(3, 2, 128, &err), 0);  // threshold 23
  EXPECT_EQ(eevg_OpacityCheckPixel(4, 4, 26, &err), 1);   // threshold 2
}

} // namespace

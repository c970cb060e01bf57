// The annotation header: copy, print, writing and reading it as a layer node (older records and
// rewrites included), the version-flags node, and the map information and projection a layer
// hands out.
#include <string>
#include <utility>

#include "annotation_testing.h"

namespace {

using namespace taviron::annotation::testing;

std::string Text(const Eant_CharStr &s) { return s.count > 0 && s.data ? s.data : ""; }

Egda_BaseData *Corners(double x0, double y0, double x1, double y1) {
  Egda_BaseData *box = egda_BaseDataCreate(2, 4, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  auto *v = reinterpret_cast<double *>(box->origin); // the corners' x and y in turn
  const double xs[4] = {x0, x0, x1, x1}, ys[4] = {y0, y1, y1, y0};
  for (int c = 0; c < 4; ++c) {
    v[2 * c] = xs[c];
    v[2 * c + 1] = ys[c];
  }
  return box;
}

class HeaderTest : public PackageTest {
protected:
  Ehfa_File *Create(const std::string &name) {
    ErrorSlot err;
    file_ = ehfa_FileCreate(Path(name).c_str(), toolkit_, &err);
    EXPECT_NE(nullptr, file_) << Chain(err.get());
    io_ = {file_, 0, 0, 0, 0};
    return file_;
  }
  void TearDown() override {
    if (file_) ehfa_FileClose(file_, nullptr);
    PackageTest::TearDown();
  }
  // The children of the root named name.
  int Children(const char *name) {
    int n = 0;
    ehfa_EntrySeek(file_, EHFA_PATH, ":", nullptr);
    for (Ehfa_Entry *e = ehfa_EntrySeek(file_, EHFA_FIRST_CHILD, nullptr, nullptr); e;
         e = ehfa_EntrySeek(file_, EHFA_NEXT, nullptr, nullptr))
      n += std::string(e->name) == name;
    return n;
  }
  Ehfa_File *file_ = nullptr;
  Eant_FileIO io_{};
};

TEST_F(HeaderTest, WrittenAndReadBackAsTheLayerNode) {
  ErrorSlot err;
  Create("layer.ovr");
  Eant_AntHeader *header = eant_AntHeaderCreate(&err);
  eant_CharStrCreate("roads", &header->name, &err);
  header->outputUnits = EEVG_OUTPUT;
  header->nextElement = 17;
  header->versionNumber = 9;
  header->bBox = Corners(1, 2, 30, 40);
  efga_PolynomialDelete(header->xformMatrix, nullptr);
  header->xformMatrix = eant_TranslatePolynomialCreate(nullptr, 5, -3, &err);
  eant_AntHeaderWrite(&io_, ":", "Annotation", header, &err);
  ASSERT_FALSE(err) << Chain(err.get());
  EXPECT_GT(header->modTime, 0);
  eant_AntHeaderWrite(&io_, ":", "Annotation", header, &err); // rewritten, not added again
  EXPECT_EQ(1, Children("Annotation"));

  Eant_AntHeader *read = eant_AntHeaderRead(&io_, ":Annotation", nullptr, &err);
  ASSERT_NE(nullptr, read) << Chain(err.get());
  EXPECT_EQ("roads", Text(read->name));
  EXPECT_EQ(EEVG_OUTPUT, read->outputUnits);
  EXPECT_EQ(17u, read->nextElement);
  EXPECT_EQ(4, read->versionNumber);
  EXPECT_EQ(header->modTime, read->modTime);
  ASSERT_NE(nullptr, read->bBox);
  EXPECT_EQ(40.0, reinterpret_cast<double *>(read->bBox->origin)[3]);
  ASSERT_NE(nullptr, read->xformMatrix);
  EXPECT_EQ(nullptr, read->description.data);

  // A copy has no next element and keeps the time.
  Eant_AntHeader *copy = eant_AntHeaderCopy(read, nullptr, &err);
  ASSERT_NE(nullptr, copy) << Chain(err.get());
  EXPECT_EQ(0u, copy->nextElement);
  EXPECT_EQ(read->modTime, copy->modTime);
  EXPECT_EQ("roads", Text(copy->name));
  read->modTime = 1234.9;
  {
    taviron::testing::CapturedOutput out;
    eant_AntHeaderPrint(read, &err);
    EXPECT_NE(std::string::npos, out.Out().find("   modTime - 1234\n")) << out.Out();
    EXPECT_NE(std::string::npos, out.Out().find("   name - roads\n   description - NULL\n"));
  }
  eant_AntHeaderFree(&copy);
  eant_AntHeaderFree(&read);
  eant_AntHeaderFree(&header);
}

TEST_F(HeaderTest, AnOlderRecordReadsWithItsDefaultsAndOtherNodesAreRefused) {
  ErrorSlot err;
  Create("old.ovr");
  // A record of the design's name that stores only the name and a version.
  struct Old {
    Eant_CharStr name;
    int32_t versionNumber;
  } old{{4, const_cast<char *>("old")}, 1};
  Emif_Design *design = emif_DesignCreate(nullptr, "AntHeader_Eant", &err, EMIF_TYPE_STRING, "name",
                                          EMIF_TYPE_S32, "versionNumber", 0);
  ASSERT_NE(nullptr, design) << Chain(err.get());
  ASSERT_NE(nullptr, ehfa_ObjectWrite(file_, ":", "Old", "AntHeader_Eant", EHFA_CHILD, &old, design, &err))
      << Chain(err.get());
  emif_DesignDestroy(design);
  ehfa_EntryWrite(file_, ":", "Other", "Eprj_MapInfo", EHFA_CHILD, &err);

  Eant_AntHeader *header = eant_AntHeaderStructureCreate(&err);
  ASSERT_EQ(header, eant_AntHeaderRead(&io_, ":Old", header, &err)) << Chain(err.get());
  EXPECT_FALSE(err) << Chain(err.get());
  EXPECT_EQ("old", Text(header->name));
  EXPECT_EQ(EEVG_NDU, header->outputUnits);
  EXPECT_EQ(4, header->versionNumber);

  struct Case {
    const char *path;
    int code;
    const char *message;
  } cases[] = {{":Missing", 4, "Layer :Missing not found in file"},
               {":Other", 6, "Layer :Other is not an annotation layer"}};
  for (const Case &c : cases) {
    EXPECT_EQ(header, eant_AntHeaderRead(&io_, c.path, header, &err));
    EXPECT_TRUE(Reported(err.get(), "eant_AntHeaderRead", c.code, c.message));
  }
  EXPECT_EQ("old", Text(header->name)); // a failed read leaves the header alone
  eant_AntHeaderRead(nullptr, ":Old", header, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_AntHeaderRead", 1, "Invalid input fileIO"));
  eant_AntHeaderFree(&header);
}

TEST_F(HeaderTest, TheVersionFlagsNodeIsWrittenOnlyWhenAllowed) {
  ErrorSlot err;
  Create("flags.ovr");
  ehfa_EntryWrite(file_, ":", "Layer", "AntHeader_Eant", EHFA_CHILD, &err);
  io_.versionFlags = 0;
  eant_AnnotationVersionFlagsWrite(&io_, ":Layer", &err);
  EXPECT_FALSE(err);
  io_.versionFlags = 1;
  eant_AnnotationVersionFlagsRead(&io_, ":Layer", &err);
  EXPECT_EQ(0, io_.versionFlags);
  io_.versionFlags = 1;
  eant_AnnotationVersionFlagsWrite(&io_, ":Layer", &err);
  eant_AnnotationVersionFlagsWrite(&io_, ":Layer", &err);
  ASSERT_FALSE(err) << Chain(err.get());
  io_.versionFlags = 0;
  eant_AnnotationVersionFlagsRead(&io_, ":Layer", &err);
  EXPECT_FALSE(err) << Chain(err.get());
  EXPECT_EQ(1, io_.versionFlags);
  EXPECT_EQ("Layer", std::string(file_->currentEntry->name));
}

TEST_F(HeaderTest, MapInformationFollowsTheLayerBox) {
  ErrorSlot err;
  Eant_AnnotationInfo info{};
  info.antHead = eant_AntHeaderCreate(&err);
  info.antHead->bBox = Corners(100, 200, 300, 500);
  Eant_Layer layer{nullptr, nullptr, &info, 0};

  EXPECT_EQ(nullptr, eant_MapInfoGet(&info, nullptr, &err));
  EXPECT_FALSE(err);
  EXPECT_EQ(nullptr, eant_MapInfoRead(&layer, nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_MapInfoRead", 2, "Error returned from eant_MapInfoGet"));
  EXPECT_EQ(nullptr, eant_ProParametersRead(&layer, nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_ProParametersRead", 2, "Error returned from eant_ProParametersGet"));

  info.mapInfo = eprj_MapInfoCreate(&err);
  eprj_MapInfoUnitsSet(info.mapInfo, "meters", &err);
  Eprj_MapInfo *map = eant_MapInfoRead(&layer, nullptr, &err);
  ASSERT_NE(nullptr, map) << Chain(err.get());
  EXPECT_EQ(100.0, map->upperLeftCenter->x);
  EXPECT_EQ(500.0, map->upperLeftCenter->y);
  EXPECT_EQ(300.0, map->lowerRightCenter->x);
  EXPECT_EQ(200.0, map->lowerRightCenter->y);
  EXPECT_EQ(1.0, map->pixelSize->width);
  EXPECT_EQ(std::string("meters"), map->units.data);
  eprj_MapInfoFree(&map);

  Eant_AntHeader *header = std::exchange(info.antHead, nullptr);
  EXPECT_EQ(nullptr, eant_MapInfoGet(&info, nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_MapInfoGet", 2, "Invalid ant header in annotation info"));
  info.antHead = header;
  eprj_MapInfoFree(&info.mapInfo);
  eant_AntHeaderFree(&info.antHead);
}

} // namespace

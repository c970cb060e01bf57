// Projection designs, the projection package, and map-information and projection nodes of
// hierarchical files.
#include "eprj.h"

#include <filesystem>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <string>
#include <vector>

#include "ehfa.h"
#include "emif.h"
#include "emsc.h"
#include "hfa_testing.h"
#include "taviron_testing.h"

namespace {

using taviron::lower::testing::Sql;
using taviron::lower::testing::Current;

Eprj_MapInfo *MapInfo(const char *projection, double ulx, double uly, double lrx, double lry,
                      double width, double height, const char *units) {
  Eprj_MapInfo *info = eprj_MapInfoCreate(nullptr);
  eprj_MapInfoProjectionNameSet(info, projection, nullptr);
  eprj_MapInfoUpperLeftCenterSet(info, ulx, uly, nullptr);
  eprj_MapInfoLowerRightCenterSet(info, lrx, lry, nullptr);
  eprj_MapInfoPixelSizeSet(info, width, height, nullptr);
  eprj_MapInfoUnitsSet(info, units, nullptr);
  return info;
}

// UTM zone 32 on WGS 84 with its datum.
Eprj_ProParameters *Utm() {
  Eprj_ProParameters *p = eprj_ProParametersCreate(nullptr);
  p->proNumber = 1;
  p->proZone = 32;
  eprj_CharStrCreate("UTM", &p->proName, nullptr);
  eprj_DblArrayCreate(15, &p->proParams, nullptr);
  for (int i = 0; i < 15; ++i) p->proParams.data[i] = i * 0.125 - 1;
  eprj_SpheroidByName(nullptr, "WGS 84", &p->proSpheroid, nullptr);
  eprj_DatumByName(nullptr, "WGS 84", "WGS 84", &p->proSpheroid.datum, nullptr);
  return p;
}

void ExpectSameMapInfo(const Eprj_MapInfo *a, const Eprj_MapInfo *b) {
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(eprj_MapInfosEqual(a, b, nullptr), 1);
  EXPECT_EQ(a->proName.count, b->proName.count);
  EXPECT_EQ(a->units.count, b->units.count);
  for (auto part : {&Eprj_MapInfo::upperLeftCenter, &Eprj_MapInfo::lowerRightCenter}) {
    ASSERT_EQ(a->*part == nullptr, b->*part == nullptr);
    if (a->*part) {
      EXPECT_EQ((a->*part)->x, (b->*part)->x);
      EXPECT_EQ((a->*part)->y, (b->*part)->y);
    }
  }
  ASSERT_EQ(a->pixelSize == nullptr, b->pixelSize == nullptr);
  if (a->pixelSize) {
    EXPECT_EQ(a->pixelSize->width, b->pixelSize->width);
    EXPECT_EQ(a->pixelSize->height, b->pixelSize->height);
  }
}

void ExpectSameParameters(const Eprj_ProParameters *a, const Eprj_ProParameters *b) {
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(eprj_ProParametersEqual(a, b, nullptr), 1);
  EXPECT_EQ(a->proType, b->proType);
  ASSERT_EQ(a->proParams.count, b->proParams.count);
  for (int i = 0; i < a->proParams.count; ++i) EXPECT_EQ(a->proParams.data[i], b->proParams.data[i]);
  EXPECT_EQ(a->proSpheroid.eSquared, b->proSpheroid.eSquared);
  EXPECT_EQ(a->proSpheroid.datum.type, b->proSpheroid.datum.type);
  ASSERT_EQ(a->proSpheroid.datum.params.count, b->proSpheroid.datum.params.count);
  for (int i = 0; i < a->proSpheroid.datum.params.count; ++i)
    EXPECT_EQ(a->proSpheroid.datum.params.data[i], b->proSpheroid.datum.params.data[i]);
  EXPECT_EQ(a->proSpheroid.datum.gridname.count, b->proSpheroid.datum.gridname.count);
}

class EprjStoreTest : public taviron::testing::FolderTest {
protected:
  // A new file holding the data-less entries ":Layer" and ":Layer:Band".
  Ehfa_File *NewFile(const std::string &name) {
    Ehfa_File *f = ehfa_FileCreate(Path(name).c_str(), nullptr, nullptr, 0);
    EXPECT_NE(f, nullptr);
    EXPECT_NE(ehfa_EntryWrite(f, ":", "Layer", "Layer_Type", EHFA_CHILD, nullptr), nullptr);
    EXPECT_NE(ehfa_EntryWrite(f, nullptr, "Band", "Band_Type", EHFA_CHILD, nullptr), nullptr);
    return f;
  }
  Ehfa_File *Reopen(Ehfa_File *f, const char *mode = "r") {
    const std::string name = f->fileName;
    ehfa_FileClose(f, nullptr);
    Ehfa_File *g = ehfa_FileOpen(name.c_str(), mode, nullptr, nullptr, 0);
    EXPECT_NE(g, nullptr);
    return g;
  }
  static void Seek(Ehfa_File *f, const char *path) {
    ASSERT_NE(ehfa_EntrySeek(f, EHFA_PATH, path, nullptr), nullptr) << path;
  }

};

// ---- designs and the package ----

TEST(EprjDesigns, EachDesignMatchesItsRecord) {
  Eint_InitToolkitData init{};
  Eerr_ErrorReport *err = nullptr;
  ASSERT_EQ(eprj_Init(&init, &err), 0);
  ASSERT_NE(init.projectionData, nullptr);
  ASSERT_NE(init.projectionDataFree, nullptr);
  const Emif_Dictionary *dictionary = static_cast<Eprj_PackageData *>(init.projectionData)->dictionary;
  struct Case {
    const char *name;
    std::size_t size;
    std::vector<int32_t> offsets;
  };
  const Case cases[] = {
      {"Eprj_Coordinate", sizeof(Eprj_Coordinate), {offsetof(Eprj_Coordinate, x), offsetof(Eprj_Coordinate, y)}},
      {"Eprj_Size", sizeof(Eprj_Size), {offsetof(Eprj_Size, width), offsetof(Eprj_Size, height)}},
      {"Eprj_MapInfo",
       sizeof(Eprj_MapInfo),
       {offsetof(Eprj_MapInfo, proName), offsetof(Eprj_MapInfo, upperLeftCenter),
        offsetof(Eprj_MapInfo, lowerRightCenter), offsetof(Eprj_MapInfo, pixelSize),
        offsetof(Eprj_MapInfo, units)}},
      {"Eprj_Datum",
       sizeof(Eprj_Datum),
       {offsetof(Eprj_Datum, datumname), offsetof(Eprj_Datum, type), offsetof(Eprj_Datum, params),
        offsetof(Eprj_Datum, gridname)}},
      {"Eprj_Spheroid",
       sizeof(Eprj_Spheroid),
       {offsetof(Eprj_Spheroid, sphereName), offsetof(Eprj_Spheroid, a), offsetof(Eprj_Spheroid, b),
        offsetof(Eprj_Spheroid, eSquared), offsetof(Eprj_Spheroid, radius),
        offsetof(Eprj_Spheroid, datum)}},
      {"Eprj_ProParameters",
       sizeof(Eprj_ProParameters),
       {offsetof(Eprj_ProParameters, proType), offsetof(Eprj_ProParameters, proNumber),
        offsetof(Eprj_ProParameters, proName), offsetof(Eprj_ProParameters, proZone),
        offsetof(Eprj_ProParameters, proParams), offsetof(Eprj_ProParameters, proSpheroid)}},
  };
  for (const Case &c : cases) {
    const Emif_Design *design = emif_FindDesignByName(dictionary, c.name, nullptr);
    ASSERT_NE(design, nullptr) << c.name;
    EXPECT_TRUE(emif_DesignMatchesLayout(design, static_cast<int32_t>(c.size), c.offsets.data(),
                                         static_cast<int32_t>(c.offsets.size())))
        << c.name;
  }
  // A second initialisation keeps the package as it is.
  void *data = init.projectionData;
  EXPECT_EQ(eprj_Init(&init, &err), 0);
  EXPECT_EQ(init.projectionData, data);
  init.projectionDataFree(init.projectionData);
}

TEST(EprjDesigns, InitReportsANullRecordAndSurvivesEveryAllocationFailure) {
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(eprj_Init(nullptr, &err), -1);
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err->reporter, "eprj_Init");
  EXPECT_EQ(err->code, 1);
  eerr_DeleteErrorReportEx(&err);

  Eint_InitToolkitData init{};
  taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **e) {
        init = {};
        if (eprj_Init(&init, e) == 0) return true;
        EXPECT_EQ(init.projectionData, nullptr);
        return false;
      },
      [&] { init.projectionDataFree(init.projectionData); }, {.limit = 500});
}

TEST(EprjDesigns, DefineNeedsADictionaryAndRefusesAConflictingDesign) {
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(eprj_MapInfoDesignDefine(nullptr, &err), nullptr);
  ASSERT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  Emif_Dictionary *dictionary = emif_DictionaryCreate(nullptr);
  ASSERT_NE(emif_DesignCreate(dictionary, "Eprj_Spheroid", nullptr, 14, "a", 0), nullptr);
  EXPECT_EQ(eprj_ProParametersDesignDefine(dictionary, &err), nullptr);
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err->reporter, "eprj_ProParametersDesignDefine");
  EXPECT_EQ(err->code, 3);
  eerr_DeleteErrorReportEx(&err);
  // The map-information designs are independent of it and define twice to the same design.
  Emif_Design *first = eprj_MapInfoDesignDefine(dictionary, nullptr);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(eprj_MapInfoDesignDefine(dictionary, nullptr), first);
  emif_DictionaryDelete(dictionary, nullptr);
}

// ---- nodes ----

TEST_F(EprjStoreTest, MapInfoAndParametersReadBackAfterReopening) {
  struct Case {
    const char *label;
    Eprj_MapInfo *info;
  };
  Eprj_MapInfo *partial = MapInfo("", 10.5, 20.5, 0, 0, 1, 1, "other");
  emsc_HeapFree(partial->lowerRightCenter); // a missing part stays missing
  partial->lowerRightCenter = nullptr;
  eprj_CharStrCreate(nullptr, &partial->proName, nullptr); // and an empty name empty
  const Case cases[] = {
      {"utm", MapInfo("UTM", 500000.5, 4649775.5, 509999.5, 4640000.5, 30, 30, "meters")},
      {"geographic", MapInfo("Geographic (Lat/Lon)", -120.25, 45.75, -119.5, 45.0, 0.00025, 0.00025, "dd")},
      {"partial", partial},
  };
  Eprj_ProParameters *utm = Utm();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label);
    Ehfa_File *f = NewFile(std::string(c.label) + ".img");
    Eerr_ErrorReport *err = nullptr;
    // The call sequence of layers and AOI members: each node below the entry, climbing back after.
    Seek(f, ":Layer:Band");
    ASSERT_EQ(eprj_ProParametersWrite(f, nullptr, utm, &err), 0) << (err ? err->message : "");
    EXPECT_EQ(Current(f), ":Layer:Band:Projection");
    ASSERT_NE(ehfa_EntrySeek(f, EHFA_PARENT, nullptr, nullptr), nullptr);
    ASSERT_EQ(eprj_MapInfoWrite(f, nullptr, c.info, &err), 0) << (err ? err->message : "");
    EXPECT_EQ(Current(f), ":Layer:Band:Map_Info");
    // With a path the node goes below that entry.
    ASSERT_EQ(eprj_MapInfoWrite(f, ":Layer", c.info, &err), 0);
    EXPECT_EQ(Current(f), ":Layer:Map_Info");

    f = Reopen(f);
    ASSERT_NE(f, nullptr);
    Seek(f, ":Layer:Band");
    Eprj_ProParameters *p = eprj_ProParametersRead(f, nullptr, nullptr, 0, &err);
    ExpectSameParameters(p, utm);
    EXPECT_EQ(Current(f), ":Layer:Band:Projection");
    ASSERT_NE(ehfa_EntrySeek(f, EHFA_PARENT, nullptr, nullptr), nullptr);
    Eprj_MapInfo *info = eprj_MapInfoRead(f, nullptr, nullptr, 0, &err);
    ExpectSameMapInfo(info, c.info);
    EXPECT_EQ(Current(f), ":Layer:Band:Map_Info");
    // Into given records: their old contents are replaced (and freed).
    Eprj_MapInfo *given = MapInfo("Old", 1, 2, 3, 4, 5, 6, "feet");
    ASSERT_EQ(eprj_MapInfoRead(f, ":Layer", given, 0, &err), given);
    ExpectSameMapInfo(given, c.info);
    EXPECT_EQ(Current(f), ":Layer:Map_Info");
    Eprj_ProParameters *old = eprj_ProParametersCreate(nullptr);
    eprj_CharStrCreate("Mercator", &old->proName, nullptr);
    eprj_DblArrayCreate(3, &old->proParams, nullptr);
    ASSERT_EQ(eprj_ProParametersRead(f, ":Layer:Band", old, 0, &err), old);
    ExpectSameParameters(old, utm);

    eprj_ProParametersFree(&old);
    eprj_MapInfoFree(&given);
    eprj_MapInfoFree(&info);
    eprj_ProParametersFree(&p);
    ehfa_FileClose(f, nullptr);
  }
  for (const Case &c : cases) {
    Eprj_MapInfo *info = c.info;
    eprj_MapInfoFree(&info);
  }
  eprj_ProParametersFree(&utm);
}

TEST_F(EprjStoreTest, WritingAgainRewritesTheNode) {
  Ehfa_File *f = NewFile("again.img");
  Eprj_MapInfo *first = MapInfo("UTM", 1, 2, 3, 4, 5, 6, "meters");
  Eprj_MapInfo *second = MapInfo("State Plane", 7, 8, 9, 10, 11, 12, "feet");
  ASSERT_EQ(eprj_MapInfoWrite(f, ":Layer", first, nullptr), 0);
  ASSERT_EQ(eprj_MapInfoWrite(f, ":Layer", second, nullptr), 0);
  EXPECT_EQ(Current(f), ":Layer:Map_Info");
  // One node, the new content.
  Seek(f, ":Layer:Map_Info");
  EXPECT_EQ(ehfa_EntrySeek(f, EHFA_NEXT_NAMED, "Map_Info", nullptr), nullptr);
  f = Reopen(f);
  Eprj_MapInfo *read = eprj_MapInfoRead(f, ":Layer", nullptr, 0, nullptr);
  ExpectSameMapInfo(read, second);
  eprj_MapInfoFree(&read);
  eprj_MapInfoFree(&first);
  eprj_MapInfoFree(&second);
  ehfa_FileClose(f, nullptr);
}

TEST_F(EprjStoreTest, SimpleFormsKeepTheCallerOnItsEntryAndReadSequentially) {
  Ehfa_File *f = NewFile("simple.img");
  Eprj_ProParameters *utm = Utm();
  // A parameter node written after it, then a return to the parent: the same with or without.
  Seek(f, ":Layer");
  ASSERT_NE(ehfa_EntryWrite(f, nullptr, "GridTic Info", "Info_Type", EHFA_CHILD, nullptr), nullptr);
  ASSERT_EQ(eprj_ProParametersWriteSimple(f, 0, utm), 0);
  EXPECT_EQ(Current(f), ":Layer:GridTic Info");
  ASSERT_NE(ehfa_EntrySeek(f, EHFA_PARENT, nullptr, nullptr), nullptr);
  ASSERT_NE(ehfa_EntryWrite(f, nullptr, "Plain Info", "Info_Type", EHFA_CHILD, nullptr), nullptr);
  EXPECT_EQ(eprj_ProParametersWriteSimple(nullptr, 0, utm), -1);
  EXPECT_EQ(eprj_ProParametersWriteSimple(f, 0, nullptr), -1);
  EXPECT_EQ(Current(f), ":Layer:Plain Info");
  f = Reopen(f);

  // Sequential reading: the node follows its entry in file order and reading it moves there.
  Seek(f, ":Layer:GridTic Info");
  Ehfa_Entry *next = ehfa_EntryPeek(f, EHFA_FOLLOWING, nullptr, nullptr);
  ASSERT_NE(next, nullptr);
  EXPECT_STREQ(next->name, "Projection");
  Eprj_ProParameters *p = eprj_ProParametersReadSimple(f, 0);
  ExpectSameParameters(p, utm);
  EXPECT_EQ(Current(f), ":Layer:GridTic Info:Projection");
  eprj_ProParametersFree(&p);
  // The other reader finds the same node.
  Seek(f, ":Layer:GridTic Info");
  p = eprj_ProParametersRead(f, nullptr, nullptr, 0, nullptr);
  ExpectSameParameters(p, utm);
  eprj_ProParametersFree(&p);
  // Without a node nothing is read and nothing moves.
  Seek(f, ":Layer:Plain Info");
  EXPECT_EQ(eprj_ProParametersReadSimple(f, 0), nullptr);
  EXPECT_EQ(Current(f), ":Layer:Plain Info");
  EXPECT_EQ(eprj_ProParametersReadSimple(nullptr, 0), nullptr);
  eprj_ProParametersFree(&utm);
  ehfa_FileClose(f, nullptr);
}

TEST_F(EprjStoreTest, FailuresReportAndLeaveEntryAndRecordAlone) {
  Ehfa_File *f = NewFile("bad.img");
  Eprj_MapInfo *info = MapInfo("UTM", 1, 2, 3, 4, 5, 6, "meters");
  ASSERT_EQ(eprj_MapInfoWrite(f, ":Layer:Band", info, nullptr), 0);
  ASSERT_NE(ehfa_EntryWrite(f, ":Layer", "Map_Info", "Something_Else", EHFA_CHILD, nullptr), nullptr);
  ehfa_FileClose(f, nullptr);
  Sql(Path("bad.img"), "UPDATE entry SET data = X'0500000041' WHERE name = 'Map_Info' AND type = 'Eprj_MapInfo'");
  f = ehfa_FileOpen(Path("bad.img").c_str(), "r", nullptr, nullptr, 0);
  ASSERT_NE(f, nullptr);

  struct Case {
    const char *label;
    const char *path;
    int32_t code;
  };
  const Case cases[] = {
      {"corrupt record", ":Layer:Band", 4},
      {"node of another design", ":Layer", 4},
      {"no node", ":", 3},
      {"no entry", ":Missing", 3},
  };
  Eprj_MapInfo *given = MapInfo("Kept", 9, 9, 9, 9, 9, 9, "feet");
  Eprj_MapInfo *copy = eprj_MapInfoCopy(given, nullptr, nullptr);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label);
    Seek(f, ":Layer:Band");
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(eprj_MapInfoRead(f, c.path, given, 0, &err), nullptr);
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err->reporter, "eprj_MapInfoRead");
    EXPECT_EQ(err->code, c.code);
    eerr_DeleteErrorReportEx(&err);
    EXPECT_EQ(Current(f), ":Layer:Band");
    ExpectSameMapInfo(given, copy);
    EXPECT_EQ(eprj_ProParametersRead(f, c.path, nullptr, 0, &err), nullptr);
    EXPECT_NE(err, nullptr);
    eerr_DeleteErrorReportEx(&err);
  }
  // A file open for reading takes no writes; the current entry stays.
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(eprj_MapInfoWrite(f, ":Layer", info, &err), -1);
  ASSERT_NE(err, nullptr);
  EXPECT_EQ(err->code, 4);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(Current(f), ":Layer:Band");
  EXPECT_EQ(eprj_ProParametersWriteSimple(f, 0, nullptr), -1);
  EXPECT_EQ(eprj_MapInfoWrite(nullptr, nullptr, info, &err), -1);
  EXPECT_EQ(err->code, 1);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(eprj_MapInfoRead(nullptr, nullptr, nullptr, 0, &err), nullptr);
  EXPECT_EQ(err->code, 1);
  eerr_DeleteErrorReportEx(&err);

  eprj_MapInfoFree(&copy);
  eprj_MapInfoFree(&given);
  eprj_MapInfoFree(&info);
  ehfa_FileClose(f, nullptr);
}

// Every allocation of a read may fail: each failure is reported, leaves the given record and the
// current entry as they were, and leaks nothing.
TEST_F(EprjStoreTest, AReadSurvivesEveryAllocationFailure) {
  const std::string name = Path("sweep.img");
  Eprj_ProParameters *utm = Utm();
  {
    Ehfa_File *f = NewFile("sweep.img");
    ASSERT_EQ(eprj_ProParametersWrite(f, ":Layer", utm, nullptr), 0);
    ehfa_FileClose(f, nullptr);
  }
  Eprj_ProParameters *given = eprj_ProParametersCreate(nullptr);
  eprj_CharStrCreate("Mercator", &given->proName, nullptr);
  Eprj_ProParameters *copy = eprj_ProParametersCopy(given, nullptr, nullptr);
  // The file is opened afresh for every run. A failed read leaves the given record and the
  // file's position as they were; after a successful run the given record is put back.
  Ehfa_File *f = nullptr;
  bool succeeded = false;
  taviron::testing::SweepOptions options{.limit = 2000};
  options.prepare = [&] {
    ASSERT_NE(f = ehfa_FileOpen(name.c_str(), "r", nullptr, nullptr, 0), nullptr);
    Seek(f, ":Layer");
  };
  options.finish = [&] {
    if (succeeded) {
      ExpectSameParameters(given, utm);
      EXPECT_EQ(Current(f), ":Layer:Projection");
    } else {
      ExpectSameParameters(given, copy);
      EXPECT_EQ(Current(f), ":Layer");
    }
    ehfa_FileClose(f, nullptr);
  };
  taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **err) {
        Eprj_ProParameters *read = eprj_ProParametersRead(f, nullptr, given, 0, err);
        succeeded = read != nullptr;
        if (succeeded) {
          EXPECT_EQ(read, given);
        }
        return succeeded;
      },
      [&] { ASSERT_NE(eprj_ProParametersCopy(copy, given, nullptr), nullptr); }, options);
  eprj_ProParametersFree(&copy);
  eprj_ProParametersFree(&given);
  eprj_ProParametersFree(&utm);
}

} // namespace

#include "emif.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "egda.h"
#include "emsc.h"
#include "emif_records.h"
#include "taviron_testing.h"

namespace {

using namespace emif_records;

class EmifTest : public ::testing::Test {
protected:
  void SetUp() override {
    liveAtStart_ = emsc_TestLiveBlocks();
    dictionary_ = emif_DictionaryCreate(nullptr);
    inner_ = DefineInner(dictionary_, nullptr);
    all_ = DefineAll(dictionary_, nullptr);
    ASSERT_TRUE(inner_ && all_);
  }
  void TearDown() override {
    emif_DictionaryDelete(dictionary_, nullptr);
    EXPECT_EQ(liveAtStart_, emsc_TestLiveBlocks());
  }
  std::string Encode(const AllTypes &r) {
    uint8_t *bytes = nullptr;
    int32_t size = 0;
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(0, emif_ObjectEncode(all_, &r, &bytes, &size, &err));
    EXPECT_EQ(nullptr, err);
    std::string out(reinterpret_cast<char *>(bytes), static_cast<std::size_t>(size));
    emsc_HeapFree(bytes);
    return out;
  }
  int64_t liveAtStart_ = 0;
  Emif_Dictionary *dictionary_ = nullptr;
  Emif_Design *inner_ = nullptr;
  Emif_Design *all_ = nullptr;
};

TEST_F(EmifTest, StoredFormFollowsNaturalAlignment) {
  EXPECT_EQ(static_cast<int32_t>(sizeof(AllTypes)), emif_DesignSize(all_));
  EXPECT_TRUE(emif_DesignMatchesLayout(all_, sizeof(AllTypes), kAllOffsets.data(), static_cast<int32_t>(kAllOffsets.size())));
  EXPECT_TRUE(emif_DesignMatchesLayout(inner_, sizeof(Inner), std::vector<int32_t>{0, 8}.data(), 2));
  EXPECT_EQ(static_cast<int32_t>(offsetof(AllTypes, matrix)), emif_DesignItemOffset(all_, "matrix"));
  EXPECT_EQ(-1, emif_DesignItemOffset(all_, "missing"));
  // A shifted offset is caught.
  std::vector<int32_t> wrong = kAllOffsets;
  wrong[3] += 1;
  EXPECT_FALSE(emif_DesignMatchesLayout(all_, sizeof(AllTypes), wrong.data(), static_cast<int32_t>(wrong.size())));
}

TEST_F(EmifTest, RecordOfEveryItemTypeRoundTrips) {
  AllTypes original;
  Fill(original, all_);
  const std::string bytes = Encode(original);
  Eerr_ErrorReport *err = nullptr;
  auto *copy = static_cast<AllTypes *>(emif_ObjectDecode(nullptr, all_, reinterpret_cast<const uint8_t *>(bytes.data()),
                                                         static_cast<int32_t>(bytes.size()), nullptr, &err));
  ASSERT_NE(nullptr, copy) << (err ? err->message : "");
  ExpectEqual(original, *copy);
  EXPECT_EQ('\0', copy->text.string[copy->text.count - 1]);
  // The same bytes again from the copy.
  EXPECT_EQ(bytes, Encode(*copy));
  emif_ObjectFree(all_, copy);
  emif_ObjectFreeContents(all_, &original);
  EXPECT_EQ(nullptr, original.matrix);
  EXPECT_EQ(0, original.list.count);
}

TEST_F(EmifTest, ExternalFormIsLittleEndianAndPacked) {
  Emif_Design *d = emif_DesignCreate(dictionary_, "Small", nullptr, 7, "a", 12, "b", 520, "s", 1041, "m", 0);
  struct {
    uint8_t a;
    int32_t b;
    Emif_String s;
    Egda_BaseData *m;
  } r{5, 0x01020304, {0, nullptr}, nullptr};
  SetString(r.s, "hi");
  uint8_t *bytes = nullptr;
  int32_t size = 0;
  ASSERT_EQ(0, emif_ObjectEncode(d, &r, &bytes, &size, nullptr));
  const std::string expected("\x05\x04\x03\x02\x01\x03\x00\x00\x00hi\x00\x00\x00\x00\x00", 16);
  EXPECT_EQ(expected, std::string(reinterpret_cast<char *>(bytes), static_cast<std::size_t>(size)));
  emsc_HeapFree(bytes);
  emsc_HeapFree(r.s.string);
}

TEST_F(EmifTest, EveryTruncationIsReportedAndLeavesTheRecordAsItWas) {
  AllTypes original;
  Fill(original, all_);
  const std::string bytes = Encode(original);
  AllTypes target{};
  target.s32 = 77;
  target.pointer = static_cast<Inner *>(emsc_HeapMalloc(sizeof(Inner)));
  target.pointer->id = 5;
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(nullptr, emif_ObjectDecode(nullptr, all_, reinterpret_cast<const uint8_t *>(bytes.data()),
                                         static_cast<int32_t>(n), &target, &err)) << n;
    ASSERT_NE(nullptr, err) << n;
    EXPECT_EQ(77, target.s32);
    EXPECT_EQ(5, target.pointer->id);
    EXPECT_EQ(nullptr, target.matrix);
    eerr_DeleteErrorReportEx(&err);
  }
  emsc_HeapFree(target.pointer);
  emif_ObjectFreeContents(all_, &original);
}

// A record read into one that already holds values owns what it read, and what it held is freed
// (the fixture counts the heap's blocks); a read that fails frees nothing the record holds.
TEST_F(EmifTest, DecodingIntoAFilledRecordFreesWhatItReplaces) {
  AllTypes original;
  Fill(original, all_);
  original.text.count = 4;
  std::memcpy(original.text.string, "new", 4);
  original.matrix->rows = 1; // a smaller matrix of the same type
  original.matrix->count = 2;
  const std::string bytes = Encode(original);
  AllTypes target;
  Fill(target, all_);
  SetString(target.pointer->label, "held by the reused object");
  Inner *reused = target.pointer;
  for (const int32_t size : {static_cast<int32_t>(bytes.size()) - 1, static_cast<int32_t>(bytes.size())}) {
    Eerr_ErrorReport *err = nullptr;
    void *read = emif_ObjectDecode(nullptr, all_, reinterpret_cast<const uint8_t *>(bytes.data()), size, &target, &err);
    EXPECT_EQ(read == nullptr, err != nullptr);
    eerr_DeleteErrorReportEx(&err);
  }
  ExpectEqual(original, target);
  EXPECT_EQ(reused, target.pointer); // filled in place
  emif_ObjectFreeContents(all_, &target);
  emif_ObjectFreeContents(all_, &original);
}

// Builds external bytes by hand.
struct Bytes {
  std::string data;
  Bytes &I32(int32_t v) {
    for (int i = 0; i < 4; ++i) data.push_back(static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xff));
    return *this;
  }
  Bytes &Raw(const std::string &s) {
    data += s;
    return *this;
  }
};

TEST_F(EmifTest, CorruptRecordsAreReported) {
  Emif_Design *d = emif_DesignCreate(dictionary_, "Probe", nullptr, 3, "e", "X", "Y", nullptr, 526, "values",
                                     1041, "m", 1026, "p", "Inner", 0);
  struct Case {
    const char *what;
    Bytes bytes;
  };
  const Case cases[] = {
      {"enumeration value", Bytes().I32(2).I32(0).I32(0).I32(0)},
      {"negative count", Bytes().I32(0).I32(-1).I32(0).I32(0)},
      {"count beyond the bytes", Bytes().I32(0).I32(0x7fffffff).I32(0).I32(0)},
      {"presence flag", Bytes().I32(0).I32(0).I32(2).I32(0)},
      {"pixel type", Bytes().I32(0).I32(0).I32(1).I32(1).I32(1).I32(99).I32(0).I32(0)},
      {"object type", Bytes().I32(0).I32(0).I32(1).I32(1).I32(1).I32(9).I32(7).I32(0)},
      {"matrix side too long", Bytes().I32(0).I32(0).I32(1).I32(1657798662).I32(0).I32(EGDA_TYPE_U32).I32(0).I32(0)},
      {"matrix beyond the bytes", Bytes().I32(0).I32(0).I32(1).I32(100000).I32(100000).I32(10).I32(2).I32(0)},
      {"string count beyond the bytes", Bytes().I32(0).I32(0).I32(0).I32(1).I32(1).I32(0x7ffffff0)},
      {"unterminated string", Bytes().I32(0).I32(0).I32(0).I32(1).I32(1).I32(2).Raw("ab")},
      {"bytes after the record", Bytes().I32(0).I32(0).I32(0).I32(0).I32(9)},
  };
  for (const Case &c : cases) {
    Eerr_ErrorReport *err = nullptr;
    void *r = emif_ObjectDecode(nullptr, d, reinterpret_cast<const uint8_t *>(c.bytes.data.data()),
                                static_cast<int32_t>(c.bytes.data.size()), nullptr, &err);
    EXPECT_EQ(nullptr, r) << c.what;
    ASSERT_NE(nullptr, err) << c.what;
    EXPECT_STREQ("emif_ObjectDecode", err->reporter) << c.what;
    eerr_DeleteErrorReportEx(&err);
  }
  // The well-formed record next to them decodes.
  Bytes good = Bytes().I32(1).I32(0).I32(1).I32(1).I32(1).I32(EGDA_TYPE_U8).I32(0).Raw(std::string(1, '\x2a')).I32(0);
  void *r = emif_ObjectDecode(nullptr, d, reinterpret_cast<const uint8_t *>(good.data.data()),
                              static_cast<int32_t>(good.data.size()), nullptr, nullptr);
  ASSERT_NE(nullptr, r);
  Egda_BaseData *m = *reinterpret_cast<Egda_BaseData **>(static_cast<char *>(r) + emif_DesignItemOffset(d, "m"));
  EXPECT_EQ(42, m->data[0]);
  emif_ObjectFree(d, r);
}

TEST_F(EmifTest, EncodingRefusesRecordsThatCouldNotBeReadBack) {
  AllTypes r;
  Fill(r, all_);
  struct Case {
    const char *what;
    void (*spoil)(AllTypes &);
  };
  const Case cases[] = {
      {"enumeration value", [](AllTypes &x) { x.kind = 3; }},
      {"negative count", [](AllTypes &x) { x.doubles.count = -1; }},
      {"count without elements", [](AllTypes &x) { x.bytes.items = nullptr; }},
      {"bad matrix", [](AllTypes &x) { x.matrix->pixelType = 40; }},
  };
  for (const Case &c : cases) {
    AllTypes spoiled = r;
    Egda_BaseData matrix = *r.matrix;
    spoiled.matrix = &matrix;
    c.spoil(spoiled);
    uint8_t *bytes = nullptr;
    int32_t size = 0;
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(-1, emif_ObjectEncode(all_, &spoiled, &bytes, &size, &err)) << c.what;
    EXPECT_NE(nullptr, err) << c.what;
    EXPECT_EQ(nullptr, bytes);
    eerr_DeleteErrorReportEx(&err);
  }
  emif_ObjectFreeContents(all_, &r);
}

TEST_F(EmifTest, ItemsAreMatchedByNameBetweenStoredAndRecordDesigns) {
  // The stored layout: an older design with fewer items, in another order, one of another type.
  Emif_Dictionary *old = emif_DictionaryCreate(nullptr);
  Emif_Design *stored = emif_DesignCreate(old, "Rec", nullptr, 14, "scale", 12, "flags", 520, "name", 0);
  Emif_Design *current = emif_DesignCreate(dictionary_, "Rec", nullptr, 12, "flags", 12, "style", 520, "name",
                                           12, "scale", 0);
  struct Old {
    double scale;
    int32_t flags;
    Emif_String name;
  } o{2.5, 7, {0, nullptr}};
  SetString(o.name, "kept");
  uint8_t *bytes = nullptr;
  int32_t size = 0;
  ASSERT_EQ(0, emif_ObjectEncode(stored, &o, &bytes, &size, nullptr));
  struct New {
    int32_t flags;
    int32_t style;
    Emif_String name;
    int32_t scale;
  } n{0, -1, {0, nullptr}, 99};
  ASSERT_EQ(&n, emif_ObjectDecode(stored, current, bytes, size, &n, nullptr));
  EXPECT_EQ(7, n.flags);
  EXPECT_EQ(-1, n.style); // not stored: keeps its preset value
  EXPECT_STREQ("kept", n.name.string);
  EXPECT_EQ(99, n.scale); // stored with another type: dropped
  emsc_HeapFree(bytes);
  emsc_HeapFree(n.name.string);
  emsc_HeapFree(o.name.string);
  emif_DictionaryDelete(old, nullptr);
}

TEST_F(EmifTest, PointerItemsFillAnObjectTheFieldAlreadyHolds) {
  Emif_Design *d = emif_DesignCreate(dictionary_, "Holder", nullptr, 1026, "inner", "Inner", 0);
  Inner source{4, {0, nullptr}};
  SetString(source.label, "in place");
  Inner *sourcePointer = &source;
  uint8_t *bytes = nullptr;
  int32_t size = 0;
  ASSERT_EQ(0, emif_ObjectEncode(d, &sourcePointer, &bytes, &size, nullptr));
  Inner preset{-1, {0, nullptr}};
  Inner *slot = &preset;
  ASSERT_NE(nullptr, emif_ObjectDecode(nullptr, d, bytes, size, &slot, nullptr));
  EXPECT_EQ(&preset, slot);
  EXPECT_EQ(4, preset.id);
  EXPECT_STREQ("in place", preset.label.string);
  emsc_HeapFree(preset.label.string);
  emsc_HeapFree(source.label.string);
  emsc_HeapFree(bytes);
}

TEST_F(EmifTest, ConvertMovesExactlyTheBytesOfTheDesign) {
  // A fixed record of a legacy binary file: 6 characters, a 16-bit value, a float.
  Emif_Design *d = emif_DesignCreate(nullptr, "Legacy", nullptr, 264, "magic", 6, 10, "value", 13, "scale", 0);
  ASSERT_NE(nullptr, d);
  struct Legacy {
    char magic[6];
    int16_t value;
    float scale;
  };
  EXPECT_EQ(static_cast<int32_t>(sizeof(Legacy)), emif_DesignSize(d));
  FILE *f = std::tmpfile();
  Legacy a{{'H', 'E', 'A', 'D', '7', '4'}, -2, 0.25f}, b{{'T', 'R', 'A', 'I', 'L', '7'}, 513, 8};
  ASSERT_EQ(0, emif_ConvertToMIF(f, 0, d, &a, nullptr));
  ASSERT_EQ(0, emif_ConvertToMIF(f, 0, d, &b, nullptr));
  EXPECT_EQ(24, std::ftell(f));
  std::rewind(f);
  unsigned char raw[12];
  ASSERT_EQ(12u, std::fread(raw, 1, 12, f));
  EXPECT_EQ(0xfe, raw[6]);
  EXPECT_EQ(0xff, raw[7]);
  std::fseek(f, 12, SEEK_SET);
  auto *read = static_cast<Legacy *>(emif_NewObject(d, nullptr));
  ASSERT_EQ(read, emif_ConvertToHost(f, 0, d, read, nullptr));
  EXPECT_EQ(24, std::ftell(f));
  EXPECT_EQ(0, std::memcmp(read->magic, "TRAIL7", 6));
  EXPECT_EQ(513, read->value);
  EXPECT_EQ(8.0f, read->scale);
  // At the end of the file there is no record left.
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(nullptr, emif_ConvertToHost(f, 0, d, read, &err));
  EXPECT_NE(nullptr, err);
  eerr_DeleteErrorReportEx(&err);
  // Half a record.
  std::fseek(f, 18, SEEK_SET);
  EXPECT_EQ(nullptr, emif_ConvertToHost(f, 0, d, read, &err));
  EXPECT_NE(nullptr, err);
  eerr_DeleteErrorReportEx(&err);
  emsc_HeapFree(read);
  std::fclose(f);
  emif_DesignDelete(nullptr, d, nullptr);
}

TEST_F(EmifTest, DesignCreateRefusesBadDefinitions) {
  // B nests Inner; a new "Inner" nesting B would make a loop by name.
  ASSERT_NE(nullptr, emif_DesignCreate(dictionary_, "B", nullptr, 2, "inner", "Inner", 0));
  struct Case {
    const char *what;
    Emif_Design *(*create)(Emif_Dictionary *, Eerr_ErrorReport **);
    int32_t code;
  };
  const Case cases[] = {
      {"no name", [](Emif_Dictionary *d, Eerr_ErrorReport **e) { return emif_DesignCreate(d, nullptr, e, 12, "a", 0); }, 1},
      {"no items", [](Emif_Dictionary *d, Eerr_ErrorReport **e) { return emif_DesignCreate(d, "E", e, 0); }, 7},
      {"item without name", [](Emif_Dictionary *d, Eerr_ErrorReport **e) { return emif_DesignCreate(d, "E", e, 12, "", 0); }, 3},
      {"unknown type", [](Emif_Dictionary *d, Eerr_ErrorReport **e) { return emif_DesignCreate(d, "E", e, 5, "a", 0); }, 4},
      {"two modifiers", [](Emif_Dictionary *d, Eerr_ErrorReport **e) { return emif_DesignCreate(d, "E", e, 0x30c, "a", 0); }, 4},
      {"unknown nested design", [](Emif_Dictionary *d, Eerr_ErrorReport **e) { return emif_DesignCreate(d, "E", e, 2, "a", "Nowhere", 0); }, 5},
      {"nests itself", [](Emif_Dictionary *d, Eerr_ErrorReport **e) { return emif_DesignCreate(d, "E", e, 1026, "a", "E", 0); }, 6},
      {"duplicate item", [](Emif_Dictionary *d, Eerr_ErrorReport **e) { return emif_DesignCreate(d, "E", e, 12, "a", 14, "a", 0); }, 7},
      {"fixed count 0", [](Emif_Dictionary *d, Eerr_ErrorReport **e) { return emif_DesignCreate(d, "E", e, 268, "a", 0, 0); }, 7},
      {"taken name, other layout", [](Emif_Dictionary *d, Eerr_ErrorReport **e) { return emif_DesignCreate(d, "Inner", e, 14, "x", 0); }, 8},
  };
  for (const Case &c : cases) {
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(nullptr, c.create(dictionary_, &err)) << c.what;
    ASSERT_NE(nullptr, err) << c.what;
    EXPECT_EQ(c.code, err->code) << c.what;
    EXPECT_STREQ("emif_DesignCreate", err->reporter);
    eerr_DeleteErrorReportEx(&err);
  }
  // The same layout again gives the existing design.
  EXPECT_EQ(all_, DefineAll(dictionary_, nullptr));
  // Through another design: with Inner deleted, a new Inner nesting B (which nests the old
  // Inner) is a loop by name.
  emif_DesignDelete(dictionary_, "Inner", nullptr);
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(nullptr, emif_DesignCreate(dictionary_, "Inner", &err, 2, "b", "B", 0));
  ASSERT_NE(nullptr, err);
  EXPECT_NE(nullptr, std::strstr(err->message, "nests itself"));
  eerr_DeleteErrorReportEx(&err);
}

TEST_F(EmifTest, DictionariesCopyNestedDesignsAndDeleteByNameOrHandle) {
  Emif_Dictionary *file = emif_DictionaryCreate(nullptr);
  Emif_Design *added = emif_AddDesignToDictionary(file, all_, nullptr);
  ASSERT_NE(nullptr, added);
  EXPECT_STREQ("AllTypes", emif_DesignName(added));
  Emif_Design *nested = emif_FindDesignByName(file, "Inner", nullptr);
  ASSERT_NE(nullptr, nested);
  EXPECT_EQ(static_cast<int32_t>(sizeof(Inner)), emif_DesignSize(nested));
  EXPECT_EQ(added, emif_AddDesignToDictionary(file, all_, nullptr)); // already there
  // Another layout under a nested name is refused and adds nothing.
  Emif_Dictionary *other = emif_DictionaryCreate(nullptr);
  emif_DesignCreate(other, "Inner", nullptr, 14, "x", 0);
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(nullptr, emif_AddDesignToDictionary(other, all_, &err));
  EXPECT_NE(nullptr, err);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(nullptr, emif_FindDesignByName(other, "AllTypes", nullptr));
  // Deleting a design that others nest leaves them usable.
  emif_DesignDelete(file, "Inner", nullptr);
  EXPECT_EQ(nullptr, emif_FindDesignByName(file, "Inner", nullptr));
  EXPECT_EQ(static_cast<int32_t>(sizeof(AllTypes)), emif_DesignSize(added));
  emif_DesignDelete(file, added, nullptr);
  EXPECT_EQ(nullptr, emif_FindDesignByName(file, "AllTypes", nullptr));
  emif_DesignDelete(file, "AllTypes", &err);
  EXPECT_NE(nullptr, err);
  eerr_DeleteErrorReportEx(&err);
  emif_DictionaryDelete(other, nullptr);
  emif_DictionaryDelete(file, nullptr);
}

TEST_F(EmifTest, FreeStandingDesignsNestByNameAndOutliveWhatTheyNest) {
  Emif_Design *screen = emif_DesignCreate(nullptr, "ScreenInfo", nullptr, 14, "width", 0);
  Emif_Design *header = emif_DesignCreate(nullptr, "PlotHeader", nullptr, 2, "screen", "ScreenInfo", 3, "model", nullptr, 0);
  ASSERT_TRUE(screen && header);
  EXPECT_EQ(header, emif_FindDesignByName(nullptr, "PlotHeader", nullptr));
  emif_DesignDestroy(screen);
  struct {
    double width;
    int32_t model;
  } r{3.5, 12345}; // an empty item list accepts any value
  uint8_t *bytes = nullptr;
  int32_t size = 0;
  ASSERT_EQ(0, emif_ObjectEncode(header, &r, &bytes, &size, nullptr));
  EXPECT_EQ(12, size);
  emsc_HeapFree(bytes);
  emif_DesignDestroy(header);
  EXPECT_EQ(nullptr, emif_FindDesignByName(nullptr, "PlotHeader", nullptr));
}

// Each design nests the one before twice: checks of nesting and layout comparisons visit each
// design once, and a layout beyond the size limit is refused.
TEST_F(EmifTest, DesignsNestingSharedLayoutsStayCheap) {
  Emif_Dictionary *chain = emif_DictionaryCreate(nullptr);
  ASSERT_NE(nullptr, emif_DesignCreate(chain, "L0", nullptr, 7, "leaf", 0));
  Emif_Design *last = nullptr;
  Eerr_ErrorReport *err = nullptr;
  int level = 1;
  for (; level < 40; ++level) {
    const std::string name = "L" + std::to_string(level), below = "L" + std::to_string(level - 1);
    last = emif_DesignCreate(chain, name.c_str(), &err, 2, "a", below.c_str(), 2, "b", below.c_str(), 0);
    if (!last) break;
  }
  EXPECT_EQ(29, level); // 2^29 bytes is beyond the size of a record
  ASSERT_NE(nullptr, err);
  EXPECT_NE(nullptr, std::strstr(err->message, "too large"));
  eerr_DeleteErrorReportEx(&err);
  Emif_Design *top = emif_FindDesignByName(chain, "L28", nullptr);
  ASSERT_NE(nullptr, top);
  EXPECT_EQ(1 << 28, emif_DesignSize(top));
  Emif_Dictionary *copy = emif_DictionaryCreate(nullptr);
  ASSERT_NE(nullptr, emif_AddDesignToDictionary(copy, top, nullptr));
  EXPECT_EQ(top, emif_AddDesignToDictionary(chain, emif_FindDesignByName(copy, "L28", nullptr), nullptr));
  emif_DictionaryDelete(copy, nullptr);
  emif_DictionaryDelete(chain, nullptr);
}

TEST_F(EmifTest, CountedStringHelpers) {
  Emif_String s{0, nullptr};
  ASSERT_EQ(&s, emif_EmifStringFromString(&s, "units"));
  EXPECT_EQ(6, s.count);
  Emif_String t{0, nullptr};
  ASSERT_EQ(&t, emif_EmifStringFromEmifString(&t, &s));
  EXPECT_NE(s.string, t.string);
  EXPECT_STREQ("units", t.string);
  char *plain = emif_EmifStringToString(&t);
  EXPECT_STREQ("units", plain);
  emsc_HeapFree(plain);
  ASSERT_EQ(&s, emif_EmifStringFromString(&s, nullptr));
  EXPECT_EQ(0, s.count);
  EXPECT_EQ(nullptr, s.string);
  EXPECT_EQ(nullptr, emif_EmifStringToString(&s));
  emif_EmifStringFromEmifString(&t, &s);
  EXPECT_EQ(nullptr, t.string);
}

TEST_F(EmifTest, PixelTypeTable) {
  const int32_t *table = emsc_AddressOf_emif_Type();
  EXPECT_EQ(EMIF_TYPE_U8, table[EGDA_TYPE_U8]);
  EXPECT_EQ(EMIF_TYPE_U16, table[EGDA_TYPE_U16]);
  EXPECT_EQ(EMIF_TYPE_F64, table[EGDA_TYPE_F64]);
  EXPECT_EQ(0, table[EGDA_TYPE_C64]);
}

TEST_F(EmifTest, AllocationFailuresAreReportedWithoutLeaks) {
  AllTypes original;
  Fill(original, all_);
  const std::string bytes = Encode(original);
  emif_ObjectFreeContents(all_, &original);
  const int64_t live = emsc_TestLiveBlocks();
  struct Step {
    const char *what;
    bool (*run)(const std::string &, Eerr_ErrorReport **);
  };
  const Step steps[] = {
      {"dictionary", [](const std::string &, Eerr_ErrorReport **e) {
         Emif_Dictionary *d = emif_DictionaryCreate(e);
         emif_DictionaryDelete(d, nullptr);
         return d != nullptr;
       }},
      {"design", [](const std::string &, Eerr_ErrorReport **e) {
         Emif_Design *d = emif_DesignCreate(nullptr, "Sweep", e, 12, "a", 520, "b", 0);
         emif_DesignDestroy(d);
         return d != nullptr;
       }},
      {"decode", [](const std::string &b, Eerr_ErrorReport **e) {
         Emif_Dictionary *d = emif_DictionaryCreate(e);
         if (!d) return false;
         DefineInner(d, nullptr);
         Emif_Design *all = DefineAll(d, nullptr);
         void *r = nullptr;
         r = emif_ObjectDecode(nullptr, all, reinterpret_cast<const uint8_t *>(b.data()), static_cast<int32_t>(b.size()), nullptr, e);
         emif_ObjectFree(all, r);
         emif_DictionaryDelete(d, nullptr);
         return r != nullptr;
       }},
  };
  for (const Step &step : steps) {
    SCOPED_TRACE(step.what);
    taviron::testing::SweepAllocationFailures([&](Eerr_ErrorReport **err) { return step.run(bytes, err); },
                                              {.limit = 200});
  }
  EXPECT_EQ(live, emsc_TestLiveBlocks());
}

} // namespace

// The record kit: one item table gives the design, the layout check and the record operations;
// versions are picked by their design names.
#include "record.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "ehfa.h"
#include "emif.h"
#include "emsc.h"
#include "internal.h"
#include "taviron_testing.h"

namespace {

namespace lower = taviron::lower;
namespace record = taviron::record;

struct Text {
  int32_t count;
  char *data;
};

struct Point {
  double x;
  double y;
};

struct Doubles {
  int32_t count;
  double *data;
};

// The current version of a small record, and the older one it replaced.
struct Mark2 {
  int32_t id;
  Text label;
  int32_t shape;
  Point *where;
  Doubles weights;
  float size[2];
  int32_t visible;
};

struct Mark1 {
  int32_t id;
  Text label;
};

constexpr record::Item kPointItems[] = {TAVIRON_ITEM(Point, x, EMIF_TYPE_F64), TAVIRON_ITEM(Point, y, EMIF_TYPE_F64)};
constexpr record::Design kPoint = record::DesignOf<Point>("KitPoint", kPointItems);

constexpr const char *kShapes[] = {"SQUARE", "CIRCLE"};
constexpr const char *kBooleans[] = {"EMSC_FALSE", "EMSC_TRUE"};
constexpr record::Item kMark2Items[] = {
    TAVIRON_ITEM(Mark2, id, EMIF_TYPE_S32),
    TAVIRON_ITEM(Mark2, label, EMIF_TYPE_STRING).Named("name"),
    TAVIRON_ITEM(Mark2, shape, EMIF_TYPE_ENUM).Enum(kShapes),
    TAVIRON_ITEM(Mark2, where, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kPoint),
    TAVIRON_ITEM(Mark2, weights, EMIF_COUNTED_ARRAY + EMIF_TYPE_F64),
    TAVIRON_ITEM(Mark2, size, EMIF_FIXED_ARRAY + EMIF_TYPE_F32),
    TAVIRON_ITEM(Mark2, visible, EMIF_TYPE_ENUM).Enum(kBooleans).Print(record::PrintAs::TrueFalse),
};
constexpr record::Design kMark2 = record::DesignOf<Mark2>("KitMark2", kMark2Items);
static_assert(kPoint.Matches() && kMark2.Matches());

constexpr record::Item kMark1Items[] = {TAVIRON_ITEM(Mark1, id, EMIF_TYPE_S32),
                                        TAVIRON_ITEM(Mark1, label, EMIF_TYPE_STRING).Named("name")};
constexpr record::Design kMark1 = record::DesignOf<Mark1>("KitMark1", kMark1Items);
static_assert(kMark1.Matches());
constexpr const record::Design *kMarkVersions[] = {&kMark2, &kMark1};

// Structs the check refuses: a double where the design says a 32-bit integer, a member out of
// its place, a pointer where the design holds the record inline.
struct WrongType {
  int32_t id;
  float value;
};
constexpr record::Item kWrongTypeItems[] = {TAVIRON_ITEM(WrongType, id, EMIF_TYPE_S32),
                                            TAVIRON_ITEM(WrongType, value, EMIF_TYPE_S32)};
static_assert(!record::DesignOf<WrongType>("W", kWrongTypeItems).Matches());
struct WrongOrder {
  int32_t a;
  double b;
};
constexpr record::Item kWrongOrderItems[] = {TAVIRON_ITEM(WrongOrder, b, EMIF_TYPE_F64),
                                             TAVIRON_ITEM(WrongOrder, a, EMIF_TYPE_S32)};
static_assert(!record::DesignOf<WrongOrder>("W", kWrongOrderItems).Matches());
struct WrongNesting {
  Point *where;
};
constexpr record::Item kWrongNestingItems[] = {TAVIRON_ITEM(WrongNesting, where, EMIF_TYPE_OBJECT).Nested(kPoint)};
static_assert(!record::DesignOf<WrongNesting>("W", kWrongNestingItems).Matches());

// A record whose last member is never stored: its design covers the members before it. The
// leading members are checked as a whole struct's are; a design that ends elsewhere is refused.
struct Cached {
  int32_t id;
  double value;
  void *cache;
};
constexpr record::Item kCachedItems[] = {TAVIRON_ITEM(Cached, id, EMIF_TYPE_S32),
                                         TAVIRON_ITEM(Cached, value, EMIF_TYPE_F64)};
static_assert(record::LeadingDesignOf<Cached>("Cached", kCachedItems, offsetof(Cached, cache)).Matches());
static_assert(!record::DesignOf<Cached>("Cached", kCachedItems).Matches());
static_assert(!record::LeadingDesignOf<Cached>("Cached", kCachedItems, offsetof(Cached, value)).Matches());

class RecordTest : public ::testing::Test {
protected:
  void SetUp() override {
    live_ = emsc_TestLiveBlocks();
    dictionary_ = emif_DictionaryCreate(nullptr);
    ASSERT_NE(nullptr, dictionary_);
  }
  void TearDown() override {
    emif_DictionaryDelete(dictionary_, nullptr);
    EXPECT_EQ(live_, emsc_TestLiveBlocks());
  }
  // A filled current record (its parts from the heap).
  static Mark2 Filled() {
    Mark2 m{};
    m.id = 12;
    emif_EmifStringFromString(reinterpret_cast<Emif_String *>(&m.label), "north mark");
    m.shape = 1;
    m.where = static_cast<Point *>(emsc_HeapMalloc(sizeof(Point)));
    *m.where = {3.5, -7.25};
    m.weights.count = 3;
    m.weights.data = static_cast<double *>(emsc_HeapMalloc(3 * sizeof(double)));
    m.weights.data[0] = 0.5, m.weights.data[1] = 1.5, m.weights.data[2] = 2.5;
    m.size[0] = 4, m.size[1] = 8;
    m.visible = 1;
    return m;
  }
  int64_t live_ = 0;
  Emif_Dictionary *dictionary_ = nullptr;
};

TEST_F(RecordTest, DesignFromTheTableRoundTrips) {
  Eerr_ErrorReport *err = nullptr;
  const Emif_Design *design = record::Define(kMark2, dictionary_, &err);
  ASSERT_NE(nullptr, design) << (err ? err->message : "");
  EXPECT_EQ(static_cast<int32_t>(sizeof(Mark2)), emif_DesignSize(design));
  EXPECT_EQ(static_cast<int32_t>(offsetof(Mark2, visible)), emif_DesignItemOffset(design, "visible"));
  EXPECT_EQ(static_cast<int32_t>(offsetof(Mark2, label)), emif_DesignItemOffset(design, "name"));
  EXPECT_NE(nullptr, emif_FindDesignByName(dictionary_, "KitPoint", nullptr)); // nested first
  EXPECT_EQ(design, record::Define(kMark2, dictionary_, &err));                // the same again

  Mark2 source = Filled();
  uint8_t *bytes = nullptr;
  int32_t size = 0;
  ASSERT_EQ(0, emif_ObjectEncode(design, &source, &bytes, &size, &err));
  auto *decoded = static_cast<Mark2 *>(emif_ObjectDecode(nullptr, design, bytes, size, nullptr, &err));
  emsc_HeapFree(bytes);
  ASSERT_NE(nullptr, decoded);
  EXPECT_TRUE(record::Equal(kMark2, &source, decoded));

  // A copy is deep and equal; a change of any part makes it unequal.
  Mark2 copy{};
  ASSERT_TRUE(record::Copy(kMark2, decoded, &copy));
  EXPECT_NE(decoded->where, copy.where);
  EXPECT_NE(decoded->label.data, copy.label.data);
  EXPECT_TRUE(record::Equal(kMark2, decoded, &copy));
  copy.weights.data[2] = 2.75;
  EXPECT_FALSE(record::Equal(kMark2, decoded, &copy));
  copy.weights.data[2] = 2.5;
  copy.where->y = 0;
  EXPECT_FALSE(record::Equal(kMark2, decoded, &copy));

  record::FreeContents(kMark2, &copy);
  EXPECT_EQ(nullptr, copy.where);
  EXPECT_EQ(0, copy.weights.count);
  record::FreeContents(kMark2, &source);
  emif_ObjectFree(design, decoded);
}

TEST_F(RecordTest, FailedCopyLeavesNothing) {
  Mark2 source = Filled();
  Mark2 copy{};
  const auto counts = taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **) {
        copy = {};
        if (record::Copy(kMark2, &source, &copy)) return true;
        const Mark2 zero{};
        EXPECT_EQ(0, std::memcmp(&zero, &copy, sizeof copy));
        return false;
      },
      [&] { record::FreeContents(kMark2, &copy); }, {.reports = false});
  EXPECT_GT(counts.heap, 0);
  record::FreeContents(kMark2, &source);
}

TEST_F(RecordTest, PrintsItemByItem) {
  Mark2 mark = Filled();
  std::string printed;
  {
    taviron::testing::CapturedOutput out;
    record::Print(kMark2, &mark, 0, "Mark");
    printed = out.Out();
  }
  EXPECT_EQ("Mark:\n"
            "   id - 12\n"
            "   name - north mark\n"
            "   shape - CIRCLE\n"
            "   where:\n"
            "      x - 3.5\n"
            "      y - -7.25\n"
            "   weights - 0.5, 1.5, 2.5\n"
            "   size - 4, 8\n"
            "   visible - true\n",
            printed);
  record::FreeContents(kMark2, &mark);
}

TEST_F(RecordTest, ReaderPicksTheStoredVersion) {
  EXPECT_EQ(&kMark1, record::Pick(kMarkVersions, "KitMark1"));
  EXPECT_EQ(nullptr, record::Pick(kMarkVersions, "KitMark3"));

  const taviron::testing::TempDir dir("record_test");
  const std::string path = dir / "marks.hfa";
  Eerr_ErrorReport *err = nullptr;
  Ehfa_File *file = ehfa_FileCreate(path.c_str(), nullptr, &err, 0);
  ASSERT_NE(nullptr, file);
  // An old file's record, and one of a design no version has.
  Mark1 old{5, {}};
  emif_EmifStringFromString(reinterpret_cast<Emif_String *>(&old.label), "old mark");
  ASSERT_NE(nullptr, ehfa_ObjectWrite(file, ":", "mark", nullptr, EHFA_CHILD, &old,
                                      record::Define(kMark1, file->dictionary, &err), &err));
  Point point{1, 2};
  ASSERT_NE(nullptr, ehfa_ObjectWrite(file, ":", "point", nullptr, EHFA_CHILD, &point,
                                      record::Define(kPoint, file->dictionary, &err), &err));
  record::FreeContents(kMark1, &old);
  ehfa_FileClose(file, &err);
  ASSERT_EQ(nullptr, err);

  file = ehfa_FileOpen(path.c_str(), "r", nullptr, &err);
  ASSERT_NE(nullptr, file);
  int32_t version = -1;
  auto *read = static_cast<Mark1 *>(record::ReadVersion(file, ":", "mark", EHFA_CHILD_NAMED, kMarkVersions,
                                                        dictionary_, &version, "ReadMark", 3, &err));
  ASSERT_NE(nullptr, read) << (err ? err->message : "");
  EXPECT_EQ(1, version);
  EXPECT_EQ(5, read->id);
  EXPECT_STREQ("old mark", read->label.data);
  record::FreeContents(kMark1, read);
  emsc_HeapFree(read);

  EXPECT_EQ(nullptr, record::ReadVersion(file, ":", "point", EHFA_CHILD_NAMED, kMarkVersions, dictionary_,
                                         &version, "ReadMark", 3, &err));
  ASSERT_NE(nullptr, err);
  EXPECT_STREQ("ReadMark", err->reporter);
  EXPECT_EQ(3, err->code);
  EXPECT_EQ(-1, version);
  eerr_DeleteErrorReportEx(&err);
  ehfa_FileClose(file, nullptr);
}

} // namespace

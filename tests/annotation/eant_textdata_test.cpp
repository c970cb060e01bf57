// Text data: meta strings with database fields, their evaluation through the current DBI data,
// and the 8-bit and 16-bit byte forms a text is stored in.
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "annotation_testing.h"
#include "eant_internal.h"

namespace {

using namespace taviron::annotation::testing;
using taviron::testing::SweepAllocationFailures;
using Nodes = std::vector<std::pair<int32_t, std::u16string>>;

Nodes NodesOf(const Eant_MetaStringData *list) {
  Nodes nodes;
  for (; list; list = list->next) nodes.emplace_back(list->type, list->string);
  return nodes;
}
void FreeList(Eant_MetaStringData *list) { eant_MetaStringDataFree(reinterpret_cast<Eant_MetaStringData *>(&list)); }
std::u16string Take(char16_t *text) {
  std::u16string result = text ? text : u"";
  emsc_HeapFree(text);
  return result;
}

const std::u16string kSmart = u"Name: \xFFAB" u"OWNER\xFFBB";

// A database of one row: the column of OWNER is 7, its value "Smith".
struct Database {
  int columnCalls = 0;
  bool failColumn = false, failRead = false, unterminated = false;
  static int32_t Column(void *data, const char *name, Eerr_ErrorReport **err) {
    auto *db = static_cast<Database *>(data);
    ++db->columnCalls;
    if (db->failColumn) *err = eerr_CreateErrorReport("Column", 1, 2, *err, "no such field");
    return std::strcmp(name, "OWNER") == 0 ? 7 : -1;
  }
  static int32_t Read(void *data, int32_t row, int32_t column, char *buffer, int32_t size) {
    auto *db = static_cast<Database *>(data);
    if (db->failRead || row != 3 || column != 7) return 0;
    if (db->unterminated)
      std::memset(buffer, 'x', static_cast<std::size_t>(size)); // every byte written, none of them 0
    else
      std::strcpy(buffer, "Smith");
    return 1;
  }
};

class TextDataTest : public PackageTest {
protected:
  void TearDown() override {
    eant_DBIDataSet(nullptr);
    eant_DBIDataFree(&dbi_);
    EXPECT_TRUE(HeapAsAtStart());
    PackageTest::TearDown();
  }
  void Bind(Database &db) {
    ErrorSlot err;
    dbi_ = eant_DBIDataFunctionsAndDataSet(eant_DBIDataCreate(&err), &Database::Read, &Database::Column, &db, &err);
    eant_DBIDataCurrentRowSet(dbi_, 3, &err);
    ASSERT_FALSE(err) << Chain(err);
    eant_DBIDataSet(dbi_);
  }
  Eant_DBIData *dbi_ = nullptr;
};

TEST_F(TextDataTest, ParsingFollowsTheDelimitersAndEscapes) {
  constexpr int32_t L = EANT_METASTRING_LITERAL, F = EANT_METASTRING_FIELD;
  struct Case {
    std::u16string text;
    Nodes nodes;
    int32_t code;        // 0: parses
    const char *message; // of a failure
  } cases[] = {
      {kSmart, {{L, u"Name: "}, {F, u"OWNER"}}, 0, nullptr},
      {u"a\\\xFFAB" u"b", {{L, u"a\xFFAB" u"b"}}, 0, nullptr},
      {u"\xFFAB" u"a\\\xFFBB" u"b\xFFBB" u"c", {{F, u"a\xFFBB" u"b"}, {L, u"c"}}, 0, nullptr},
      {u"x\\", {{L, u"x"}}, 0, nullptr},
      {u"", {}, 0, nullptr},
      {u"\xFFAB\xFFBB", {}, 0, nullptr},
      {u"\xFFBB" u"x", {}, 3, "Unmatched field delimiter in string \"?x\""},
      {u"ab\xFFAB" u"cd", {}, 3, "Unmatched field delimiter in string \"ab?cd\""},
      {u"\xFFAB" u"a\\", {}, 3, "Unmatched field delimiter in string \"?a\\\""},
      {u"\xFFAB" u"a\xFFAB" u"b\xFFBB", {}, 4, "Invalid nesting of field delimiters in string \"?a?b?\""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.text));
    ErrorSlot err;
    Eant_MetaStringData *list = eant_MetaStringParse(c.text.c_str(), &err);
    if (c.code) {
      EXPECT_EQ(nullptr, list);
      EXPECT_TRUE(Reported(err, "eant_MetaStringParse", c.code, c.message)) << Chain(err);
    } else {
      EXPECT_FALSE(err) << Chain(err);
      EXPECT_EQ(c.nodes, NodesOf(list));
    }
    FreeList(list);
  }
  ErrorSlot err;
  EXPECT_EQ(nullptr, eant_MetaStringParse(nullptr, &err));
  EXPECT_TRUE(Reported(err, "eant_MetaStringParse", 1, "Invalid input string"));
}

TEST_F(TextDataTest, FieldsTakeTheValuesOfTheCurrentRowOnlyWhileADatabaseIsBound) {
  ErrorSlot err;
  Eant_TextData *data = eant_TextDataCreate(&err);
  eant_TextDataSet(data, EANT_LOCAL, kSmart.c_str(), &err);
  ASSERT_FALSE(err) << Chain(err);
  EXPECT_EQ(2u, NodesOf(data->metaStringList).size());
  EXPECT_EQ(1, eant_TextDataCheckForSmartData(data, &err));

  // Without a database: the stored text, and built directly the field's name between the 8-bit
  // delimiters.
  EXPECT_EQ(kSmart, Take(eant_TextDataEvaluatedGet(data, &err)));
  EXPECT_EQ(u"Name: \u00AB" u"OWNER\u00BB", Take(eant_MetaStringDataBuildString(data->metaStringList, &err)));
  EXPECT_FALSE(err) << Chain(err);

  Database db;
  Bind(db);
  EXPECT_EQ(u"Name: Smith", Take(eant_TextDataEvaluatedGet(data, &err)));
  EXPECT_FALSE(err) << Chain(err);
  EXPECT_EQ(7, data->metaStringList->next->column);
  EXPECT_EQ(kSmart, Take(eant_TextDataGet(data, &err))) << "the stored text keeps its delimiters";

  // A value that fills the whole buffer without a terminator is cut at the buffer's last byte.
  db.unterminated = true;
  EXPECT_EQ(u"Name: " + std::u16string(255, u'x'), Take(eant_TextDataEvaluatedGet(data, &err)));
  db.unterminated = false;

  db.failRead = true;
  EXPECT_EQ(nullptr, eant_TextDataEvaluatedGet(data, &err));
  EXPECT_TRUE(Reported(err.get()->next, "eant_MetaStringDataBuildString", 5,
                       "Unable to read data from row 3, field \"OWNER\""))
      << Chain(err);
  db.failRead = false;
  db.failColumn = true;
  EXPECT_EQ(nullptr, eant_MetaStringDataBuildString(data->metaStringList, &err));
  EXPECT_TRUE(Reported(err, "eant_MetaStringDataBuildString", 4, "Error getting column number for field \"OWNER\""));
  eant_TextDataFree(&data);
  EXPECT_EQ(nullptr, data);
}

TEST_F(TextDataTest, SourcesOtherThanLocalAndMissingStringsAreRefused) {
  ErrorSlot err;
  Eant_TextData data{EANT_DESCRIPTORDATA, {0, nullptr}, nullptr};
  EXPECT_EQ(nullptr, eant_TextDataGet(&data, &err));
  EXPECT_TRUE(Reported(err, "eant_TextDataGet", 2, "Non-local text data not yet supported"));
  EXPECT_EQ(0, eant_TextDataCheckForSmartData(&data, &err));
  EXPECT_FALSE(err);
  data.source = EANT_VECTORDATA;
  EXPECT_EQ(nullptr, eant_TextDataGet(&data, &err));
  EXPECT_TRUE(Reported(err, "eant_TextDataGet", 3, "Invalid data source"));
  eant_TextDataSetWithParseFlag(&data, EANT_VECTORDATA, u"x", 1, &err);
  EXPECT_TRUE(Reported(err, "eant_TextDataSetWithParseFlag", 3, "Invalid data source"));
  EXPECT_EQ(nullptr, data.string.data);
  data.source = EANT_LOCAL;
  EXPECT_EQ(nullptr, eant_TextDataGet(&data, &err));
  EXPECT_TRUE(Reported(err, "eant_TextDataGet", 4, "Local text string does not exist"));

  // An empty text parses to no list: the smart-data check then has no list to search.
  Eant_TextData *empty = eant_TextDataCreate(&err);
  eant_TextDataSet(empty, EANT_LOCAL, u"", &err);
  ASSERT_FALSE(err) << Chain(err);
  EXPECT_EQ(nullptr, empty->metaStringList);
  EXPECT_EQ(0, eant_TextDataCheckForSmartData(empty, &err));
  EXPECT_TRUE(Reported(err, "eant_MetaStringDataCheckForSmartData", 1, "Invalid input Eant_MetaStringData"));
  eant_TextDataFree(&empty);
}

TEST_F(TextDataTest, CopiesParseAgainOnlyWhenTheSourceWasParsed) {
  ErrorSlot err;
  Eant_TextData *parsed = eant_TextDataCreate(&err), *unparsed = eant_TextDataCreate(&err);
  eant_TextDataSet(parsed, EANT_LOCAL, kSmart.c_str(), &err);
  eant_TextDataSetWithParseFlag(unparsed, EANT_LOCAL, kSmart.c_str(), 0, &err);
  Eant_TextData *a = eant_TextDataCopy(parsed, nullptr, &err);
  Eant_TextData *b = eant_TextDataCopy(unparsed, nullptr, &err);
  ASSERT_FALSE(err) << Chain(err);
  EXPECT_EQ(NodesOf(parsed->metaStringList), NodesOf(a->metaStringList));
  EXPECT_NE(parsed->metaStringList, a->metaStringList);
  EXPECT_EQ(nullptr, b->metaStringList);
  EXPECT_EQ(kSmart, Take(eant_TextDataGet(b, &err)));
  for (Eant_TextData *d : {parsed, unparsed, a, b}) eant_TextDataFree(&d);
}

// The stored byte form as the writer makes it and the reader's widening of it.
TEST_F(TextDataTest, TextsAreStoredInEightBitsWhenTheyCanAndReadBackUnchanged) {
  struct Case {
    std::u16string text;
    bool wide;
  } cases[] = {{u"Plain caf\u00E9", false}, {u"", false}, {u"smile \u263A", true}, {kSmart, true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.text));
    ErrorSlot err;
    Eant_TextData *data = eant_TextDataCreate(&err);
    eant_TextDataSetWithParseFlag(data, EANT_LOCAL, c.text.c_str(), 0, &err);
    Eant_TextData *stored = eant_TextDataPrepareOutput(data, &err);
    ASSERT_NE(nullptr, stored) << Chain(err);
    const auto *bytes = reinterpret_cast<const unsigned char *>(stored->string.data);
    const int32_t n = static_cast<int32_t>(c.text.size());
    if (c.wide) {
      EXPECT_EQ(2 * (n + 2), stored->string.count);
      EXPECT_EQ(0, bytes[0] | bytes[1]);
      EXPECT_EQ(c.text[0] & 0xFF, bytes[2]);
    } else {
      EXPECT_EQ(n + 1, stored->string.count);
      EXPECT_EQ(0, bytes[n]);
    }
    ASSERT_TRUE(taviron::eant::TextDataWidenOnRead(stored, "read", 1, &err)) << Chain(err);
    EXPECT_EQ(c.text, Take(eant_TextDataGet(stored, &err)));
    EXPECT_EQ(n + 1, stored->string.count);
    eant_TextDataFree(&stored);
    eant_TextDataFree(&data);
  }
}

TEST_F(TextDataTest, ADamagedSixteenBitFormIsReportedInsteadOfReadPastItsEnd) {
  struct Case {
    std::vector<unsigned char> bytes;
    bool valid;
  } cases[] = {
      {{0, 0, 'a', 0, 'b'}, false},          // odd count
      {{0, 0, 'a', 0, 'b', 0}, false},       // the last unit is not 0
      {{0, 0, 0}, false},                    // no room for the closing unit
      {{0, 0, 'a', 0, 0, 0}, true},
      {{'a', 'b', 0}, true},                 // 8-bit
      {{'a', 0, 'b', 0}, true},              // 8-bit, cut at its first 0
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    ErrorSlot err;
    Eant_TextData data{EANT_LOCAL, {0, nullptr}, nullptr};
    auto *block = static_cast<unsigned char *>(emsc_HeapMalloc(c.bytes.size()));
    std::memcpy(block, c.bytes.data(), c.bytes.size());
    data.string = {static_cast<int32_t>(c.bytes.size()), reinterpret_cast<char16_t *>(block)};
    EXPECT_EQ(c.valid, taviron::eant::TextDataWidenOnRead(&data, "reader", 9, &err));
    if (!c.valid)
      EXPECT_TRUE(Reported(err, "reader", 9, nullptr)) << Chain(err);
    else
      EXPECT_EQ(1, data.string.data[0] == u'a' ? 1 : 0);
    emsc_HeapFree(data.string.data);
  }
}

TEST_F(TextDataTest, ParsingAndEvaluationLeaveNothingBehindWhenMemoryRunsOut) {
  Eant_MetaStringData *list = nullptr;
  SweepAllocationFailures([&](Eerr_ErrorReport **e) { return (list = eant_MetaStringParse(kSmart.c_str(), e)); },
                          [&] { FreeList(list); });
  Eant_MetaStringData *parsed = eant_MetaStringParse(kSmart.c_str(), nullptr);
  char16_t *built = nullptr;
  SweepAllocationFailures([&](Eerr_ErrorReport **e) { return (built = eant_MetaStringDataBuildString(parsed, e)); },
                          [&] { emsc_HeapFree(built); });
  FreeList(parsed);
}

} // namespace

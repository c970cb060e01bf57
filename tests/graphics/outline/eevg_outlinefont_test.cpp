// Outline-font files: loading into a font table with every failure, the inquiries, the
// fixed-point glyph matrix, and the decoding of outline code into the outline sink.
#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "eevg.h"
#include "eevg_fontserver.h"
#include "outline_testing.h"

namespace {

using namespace taviron::graphics::testing;
using Strings = std::vector<std::string>;

// A font table of its own for each test.
struct Table {
  static constexpr int32_t kCapacity = 3;
  Eevg_LoadedFont slots[kCapacity] = {};
  int32_t used = 0;
  uint8_t *get() { return reinterpret_cast<uint8_t *>(slots); }
  int32_t Load(const std::string &name, Eerr_ErrorReport **err) {
    return eevg_FFReference(name.c_str(), get(), &used, kCapacity, err);
  }
  Eevg_OutlineFont *Font(int32_t index) { return eevg_FFFontGet(get(), index); }
};

TEST(OutlineFontFile, LoadsAndAnswersInquiries) {
  const std::string name = WriteFont("block.otl", BlockFont());
  Table table;
  ErrorSlot err;
  ASSERT_EQ(table.Load(name, &err), 0) << Chain(err.get());
  EXPECT_EQ(table.used, 1);
  // The same name again is the same slot: the file is not read again.
  WriteBytes(name, {1, 2, 3});
  EXPECT_EQ(table.Load(name, &err), 0) << Chain(err.get());
  EXPECT_EQ(table.used, 1);
  Eevg_OutlineFont *font = table.Font(0);
  ASSERT_TRUE(font);
  EXPECT_FALSE(table.Font(1));

  int32_t ascent = 0, descent = 0, height = 0, fourth = 0;
  EXPECT_EQ(eevg_FFInqVertSpace(font, &ascent, &descent, &height, &fourth), 123);
  EXPECT_EQ((std::vector<int32_t>{ascent, descent, height, fourth}), (std::vector<int32_t>{640, -200, 1000, 123}));
  EXPECT_EQ(eevg_FFInqFontNumberOfKerningBumpers(font), 2);

  struct Case {
    int32_t code;
    std::vector<int32_t> box;
    std::vector<int32_t> left, right;
    int32_t spacing;
  } cases[] = {
      {'I', {-50, 0, 50, 600}, {5, 5}, {5, 5}, 2},
      {'T', {-200, 0, 200, 600}, {2, 20}, {2, 20}, 2},
      {'`', {-30, 650, 30, 700}, {3, 3}, {3, 3}, 0}, // no spacing flag
      {'x', {0, 0, 0, 0}, {4, 4}, {4, 4}, 0},        // a record without outline
      {'Q', {0, 0, 0, 0}, {0, 0}, {0, 0}, 0},        // no record
      {300, {0, 0, 0, 0}, {0, 0}, {0, 0}, 0},        // no such code
      {-1, {0, 0, 0, 0}, {0, 0}, {0, 0}, 0},
  };
  for (const Case &c : cases) {
    int32_t box[4] = {9, 9, 9, 9};
    EXPECT_EQ(eevg_FFInqCharBoundingRect(font, c.code, &box[0], &box[1], &box[2], &box[3]), 0);
    EXPECT_EQ(std::vector<int32_t>(box, box + 4), c.box) << c.code;
    const uint8_t *left = nullptr, *right = nullptr;
    EXPECT_EQ(eevg_FFInqCharLeftKern(font, c.code, &left), 0);
    EXPECT_EQ(eevg_FFInqCharRightKern(font, c.code, &right), 0);
    ASSERT_TRUE(left && right);
    EXPECT_EQ(std::vector<int32_t>(left, left + 2), c.left) << c.code;
    EXPECT_EQ(std::vector<int32_t>(right, right + 2), c.right) << c.code;
    EXPECT_EQ(eevg_FFInqSpacing(font, c.code), c.spacing) << c.code;
  }

  const uint8_t bytes[] = {0x34, 0x12, 0xff, 0xff};
  EXPECT_EQ(eevg_GetShort(bytes), 0x1234);
  EXPECT_EQ(eevg_GetShort(bytes + 2), 0xffff);
}

TEST(OutlineFontFile, LineHeightFromTheReferenceCharacters) {
  // A header line height of 0: the top of the top reference character ('H', 700) and the depth
  // of the bottom one ('p', 200 below).
  OutlineFontSpec spec = BlockFont();
  spec.lineHeight = 0;
  spec.format = 5;
  spec.resolution = 512;
  Table table;
  ErrorSlot err;
  ASSERT_EQ(table.Load(WriteFont("computed.otl", spec), &err), 0) << Chain(err.get());
  int32_t height = 0;
  eevg_FFInqVertSpace(table.Font(0), nullptr, nullptr, &height, nullptr);
  EXPECT_EQ(height, 900);
}

// Replaces four bytes of the file.
void Put32(std::vector<uint8_t> &bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

TEST(OutlineFontFile, UnreadableFilesFailTheLoad) {
  const std::vector<uint8_t> good = Encode(BlockFont());
  OutlineFontSpec flat = BlockFont();
  flat.lineHeight = 0;
  flat.topReference = flat.bottomReference = 'x'; // boxes of 0: no line height at all
  struct Case {
    const char *what;
    std::vector<uint8_t> bytes;
    int32_t result;
  } cases[] = {
      {"format 3", good, -13},
      {"first after last", good, -11},
      {"resolution 600", good, -12},
      {"short header", std::vector<uint8_t>(good.begin(), good.begin() + 100), -15},
      {"short record", std::vector<uint8_t>(good.begin(), good.end() - 3), -15},
      {"record past the end", good, -15},
      {"block past the end", good, -15},
      {"reference code beyond 255", good, -13},
      {"reference code outside first..last", good, -13},
      {"no line height", Encode(flat), -13},
  };
  cases[0].bytes[0] = 3;
  cases[1].bytes[95] = 100, cases[1].bytes[96] = 50;
  Put16(cases[2].bytes, 66, 600);
  Put32(cases[5].bytes, 117 + 4 * ('I' - 32), 0x7fffff00u);
  Put32(cases[6].bytes, 105, 0x10000000u);
  Put16(cases[7].bytes, 91, 0x148); // 16-bit codes cannot index the 256 characters
  Put16(cases[8].bytes, 93, 20);
  Table table;
  for (const Case &c : cases) {
    ErrorSlot err;
    EXPECT_EQ(table.Load(WriteBytes("faulty.otl", c.bytes), &err), c.result) << c.what;
    EXPECT_TRUE(Reported(err.get(), "eevg_FFReference", 6, "Unable to read font data")) << c.what;
    ASSERT_TRUE(err.get() && err.get()->next) << c.what;
    EXPECT_STREQ(err->next->reporter, "eevg_FFReadFont") << c.what;
    EXPECT_EQ(table.used, 0) << c.what;
  }
  // The slot of the failed loads takes the next font.
  ErrorSlot err;
  EXPECT_EQ(table.Load(WriteFont("block.otl", BlockFont()), &err), 0) << Chain(err.get());
  EXPECT_EQ(table.used, 1);
}

TEST(OutlineFontFile, MissingFilesAndFullTables) {
  Table table;
  ErrorSlot err;
  EXPECT_EQ(table.Load("nothing.otl", &err), -2);
  EXPECT_TRUE(Reported(err.get(), "eevg_FFReference", 3, "Unable to open font file nothing.otl"));
  // Found by an absolute name as well as on the font path.
  const std::string block = WriteFont("block.otl", BlockFont());
  EXPECT_EQ(table.Load(Fonts().Path() + "/" + block, &err), 0) << Chain(err.get());
  EXPECT_EQ(table.Load(block, &err), 1) << Chain(err.get());
  EXPECT_EQ(table.Load(WriteFont("spare1.otl", BlockFont()), &err), 2) << Chain(err.get());
  EXPECT_EQ(table.Load(WriteFont("spare2.otl", BlockFont()), &err), -1);
  EXPECT_TRUE(Reported(err.get(), "eevg_FFReference", 1, "No room for more fonts in font table"));
  // Fonts already loaded still are.
  EXPECT_EQ(table.Load(block, &err), 1) << Chain(err.get());
  EXPECT_EQ(table.used, 3);
}

TEST(OutlineFontFile, AFreedFontIsReadAgain) {
  Table table;
  ErrorSlot err;
  const std::string name = WriteFont("block.otl", BlockFont());
  ASSERT_EQ(table.Load(name, &err), 0) << Chain(err.get());
  eevg_FFFree(table.Font(0));
  // The slot stays but names no font: not the freed record, nor a later one.
  EXPECT_FALSE(table.Font(0));
  ASSERT_EQ(table.Load(WriteFont("spare1.otl", BlockFont()), &err), 1) << Chain(err.get());
  EXPECT_FALSE(table.Font(0));
  EXPECT_EQ(table.Load(name, &err), 0) << Chain(err.get());
  EXPECT_TRUE(table.Font(0));
  EXPECT_EQ(table.used, 2);
  eevg_FFFree(table.Font(0));
  eevg_FFFree(table.Font(1));
  eevg_FFFree(nullptr);
}

// ---------------------------------------------------------------------------------------------
// Retrieval

// The outline sink of the tests: logs each call; the call numbered failAt (from 0) fails.
struct Sink {
  Strings log;
  int32_t failAt = -1;
  bool Next(Eerr_ErrorReport **err) {
    if (static_cast<int32_t>(log.size()) - 1 != failAt) return true;
    *err = eerr_CreateErrorReport("sink", 9, 2, nullptr, "sink full");
    return false;
  }
};
Sink sink;

int32_t Move(Eevg_Drawing *, int32_t x, int32_t y, Eerr_ErrorReport **err) {
  sink.log.push_back("move " + std::to_string(x) + "," + std::to_string(y));
  return sink.Next(err) ? 0 : -1;
}
int32_t Draw(Eevg_Drawing *, int32_t x, int32_t y, Eerr_ErrorReport **err) {
  sink.log.push_back("draw " + std::to_string(x) + "," + std::to_string(y));
  return sink.Next(err) ? 0 : -1;
}
int32_t Curve(Eevg_Drawing *, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t x3, int32_t y3,
              Eerr_ErrorReport **err, ...) {
  sink.log.push_back("curve " + std::to_string(x1) + "," + std::to_string(y1) + " " + std::to_string(x2) + "," +
                     std::to_string(y2) + " " + std::to_string(x3) + "," + std::to_string(y3));
  return sink.Next(err) ? 0 : -1;
}

// A drawing whose text controls hold a font of glyphs given as outline code, and its
// fixed-point glyph matrix.
class Retrieval {
 public:
  explicit Retrieval(const std::vector<std::pair<int32_t, std::vector<uint8_t>>> &codes)
      : canvas_(40, 40), drawing_(canvas_) {
    OutlineFontSpec spec = BlockFont();
    for (const auto &[code, bytes] : codes) {
      OutlineGlyph g = Glyph(code, {}, {0, 0}, {0, 0});
      g.rawOutline = bytes;
      spec.glyphs.push_back(g);
    }
    ErrorSlot err;
    const int32_t index = table_.Load(WriteFont("spare3.otl", spec), &err);
    EXPECT_EQ(index, 0) << Chain(err.get());
    drawing_->text.font = &table_.slots[0];
    SetMatrix(65536, 0, 0, 65536);
    sink = Sink{};
  }
  ~Retrieval() {
    drawing_->text.font = nullptr;
    eevg_FFFree(table_.Font(0));
  }
  void SetMatrix(int64_t a, int64_t b, int64_t c, int64_t d) {
    drawing_->text.outlineFixed[0] = a;
    drawing_->text.outlineFixed[1] = b;
    drawing_->text.outlineFixed[2] = c;
    drawing_->text.outlineFixed[3] = d;
  }
  int32_t Run(int32_t code, double x, double y, Eerr_ErrorReport **err) {
    return eevg_FFRetrieve(drawing_.get(), code, x, y, Move, Draw, Curve, err);
  }
  Eevg_Drawing *get() { return drawing_.get(); }

 private:
  OutlineCanvas canvas_;
  OutlineDrawing drawing_;
  Table table_;
};

TEST(OutlineFontRetrieval, DecodesPointsAndCommands) {
  OutlineContour box = Rectangle(0, 0, 10, 20);
  OutlineContour bump{{30, 0}, {{true, {30, 10}, {40, 10}, {40, 0}}}};
  Retrieval r({{'A', {0x38, 0x80, 0x80, 0x43}}, {'B', taviron::tools::EncodeOutline({box, bump})}});
  ErrorSlot err;
  // The point bytes 0x38, 0x80, 0x80 hold x 1031 and y 1024: the coordinates (8, 1). With the end
  // command after them the outline is one move.
  EXPECT_EQ(r.Run('A', 0, 0, &err), 0) << Chain(err.get());
  EXPECT_EQ(sink.log, Strings{"move 8,1"});

  sink.log.clear();
  EXPECT_EQ(r.Run('B', 0, 0, &err), 0) << Chain(err.get());
  EXPECT_EQ(sink.log, (Strings{"move 0,0", "draw 0,20", "draw 10,20", "draw 10,0", "draw 0,0", "move 30,0",
                               "curve 30,10 40,10 40,0", "draw 30,0"}));

  // Points go through the fixed-point matrix about the origin truncated: x = 2X + Y / 2, y = Y,
  // the fraction dropped downward.
  sink.log.clear();
  r.SetMatrix(2 * 65536, 65536 / 2, 0, 65536);
  EXPECT_EQ(r.Run('A', 100.9, -20.2, &err), 0) << Chain(err.get());
  EXPECT_EQ(sink.log, Strings{"move 116,-19"});
  EXPECT_DOUBLE_EQ(r.get()->text.glyphOriginX, 100.9);

  // Large text: a grid coordinate times the matrix runs past 32 bits and is computed in 64.
  sink.log.clear();
  r.SetMatrix(1000 * 65536, 0, 0, 1000 * 65536);
  EXPECT_EQ(r.Run('A', 0, 0, &err), 0) << Chain(err.get());
  EXPECT_EQ(sink.log, Strings{"move 8000,1000"});
  r.SetMatrix(int64_t{4000} * 65536 * 65536, 0, 0, 65536);
  sink.log.clear();
  EXPECT_EQ(r.Run('A', 0, 0, &err), 0) << Chain(err.get());
  EXPECT_EQ(sink.log, Strings{"move " + std::to_string(taviron::graphics::kShapeSafeLimit) + ",1"});
}

TEST(OutlineFontRetrieval, FaultyCodeStopsAtItsLength) {
  // Each outline is stored in a block of its own length: decoding never reads past it.
  struct Case {
    const char *what;
    std::vector<uint8_t> code;
    int32_t reportCode;
    Strings log;
  } cases[] = {
      {"start point cut", {0x38, 0x80}, 6, {}},
      {"no end command", {0x38, 0x80, 0x80, 0x41, 0x00, 0x80, 0x80}, 6, {"move 8,1", "draw 1,1"}},
      {"line point cut", {0x38, 0x80, 0x80, 0x41, 0x00, 0x80}, 6, {"move 8,1"}},
      {"curve points cut", {0x38, 0x80, 0x80, 0x42, 0x00, 0x80, 0x80, 0x00, 0x80, 0x80, 0x43}, 6, {"move 8,1"}},
      {"move point cut", {0x38, 0x80, 0x80, 0x40, 0x00}, 6, {"move 8,1"}},
      {"unknown command", {0x38, 0x80, 0x80, 0x45}, 6, {"move 8,1"}},
      {"command byte below 64", {0x38, 0x80, 0x80, 0x03}, 6, {"move 8,1"}},
  };
  std::vector<std::pair<int32_t, std::vector<uint8_t>>> codes;
  for (size_t i = 0; i < std::size(cases); ++i) codes.push_back({'A' + static_cast<int32_t>(i), cases[i].code});
  codes.push_back({'Z', {}});
  Retrieval r(codes);
  for (size_t i = 0; i < std::size(cases); ++i) {
    sink.log.clear();
    ErrorSlot err;
    EXPECT_EQ(r.Run('A' + static_cast<int32_t>(i), 0, 0, &err), -1) << cases[i].what;
    EXPECT_TRUE(Reported(err.get(), "eevg_FFRetrieve", cases[i].reportCode, "Error in font data")) << cases[i].what;
    EXPECT_EQ(sink.log, cases[i].log) << cases[i].what;
  }
  // No outline: a record of length 0, a code without record, a code beyond the table.
  for (const int32_t code : {int32_t{'Z'}, int32_t{'Y'}, 300, -5}) {
    ErrorSlot err;
    EXPECT_EQ(r.Run(code, 0, 0, &err), -1) << code;
    EXPECT_TRUE(Reported(err.get(), "eevg_FFRetrieve", 1, "Error in OTL pointer(NULL)")) << code;
  }
}

TEST(OutlineFontRetrieval, SinkFailuresAreReported) {
  OutlineContour box = Rectangle(0, 0, 10, 20);
  OutlineContour bump{{30, 0}, {{true, {30, 10}, {40, 10}, {40, 0}}}};
  Retrieval r({{'B', taviron::tools::EncodeOutline({box, bump})}});
  struct Case {
    int32_t failAt, code;
    const char *message;
  } cases[] = {{0, 2, "Error Moving to Initial Character Position (NULL)"},
               {2, 4, "Error completing curve for character"},
               {5, 3, "Error completing curve for character"},
               {6, 5, "Error completing curve for character"}};
  for (const Case &c : cases) {
    sink = Sink{};
    sink.failAt = c.failAt;
    ErrorSlot err;
    EXPECT_EQ(r.Run('B', 0, 0, &err), -1);
    EXPECT_TRUE(Reported(err.get(), "eevg_FFRetrieve", c.code, c.message)) << c.failAt;
    ASSERT_TRUE(err.get() && err->next);
    EXPECT_STREQ(err->next->message, "sink full");
    EXPECT_EQ(static_cast<int32_t>(sink.log.size()), c.failAt + 1);
  }
}

TEST(OutlineFontRetrieval, FixedPointMatrix) {
  Retrieval r({});
  Eevg_TextControls &t = r.get()->text;
  const double entries[4] = {1000, -500, 0, 1e30};
  std::copy(entries, entries + 4, t.outlineMatrix);
  eevg_SetFtoI(r.get());
  // int(entry * 65536 / 1000 + 0.5); an entry beyond all use is held, not overflowed.
  EXPECT_EQ(t.outlineFixed[0], 65536);
  EXPECT_EQ(t.outlineFixed[1], -32767);
  EXPECT_EQ(t.outlineFixed[2], 0);
  EXPECT_EQ(t.outlineFixed[3], int64_t{1} << 47);
  // Without an outline font the matrix is zero.
  t.font = nullptr;
  eevg_SetFtoI(r.get());
  EXPECT_EQ(t.outlineFixed[0], 0);
  ErrorSlot err;
  EXPECT_EQ(r.Run('A', 0, 0, &err), -1);
  EXPECT_TRUE(Reported(err.get(), "eevg_FFRetrieve", 8, "No outline font loaded for the text"));
}

} // namespace

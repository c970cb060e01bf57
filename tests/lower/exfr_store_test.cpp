// Transforms stored in hierarchical files.
#include "exfr.h"
#include "projection_reference.h"

#include <filesystem>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "ehfa.h"
#include "emsc.h"
#include "hfa_testing.h"
#include "taviron_testing.h"

namespace {

using taviron::lower::testing::Sql;
using taviron::lower::testing::Current;

// A 2-D polynomial with 2 outputs: x' from x (terms then constant), y' likewise.
Efga_Polynomial *Poly(int32_t order, std::initializer_list<double> x, std::initializer_list<double> y) {
  Efga_Polynomial *p = efga_BasePolynomialCreate(order, 2, 2, EGDA_TYPE_F64, nullptr);
  const int32_t terms = p->coefficients->columns;
  for (int32_t row = 0; row < 2; ++row) {
    const auto &values = row == 0 ? x : y;
    int32_t t = 0;
    for (double v : values) {
      double *column = reinterpret_cast<double *>(
          (t < terms ? p->coefficients->origin + static_cast<std::ptrdiff_t>(t) * p->coefficients->pitch
                     : p->constants->origin));
      column[row] = v;
      ++t;
    }
  }
  return p;
}

// Where the transform takes a few points (null: the identity).
std::vector<double> Images(const _exfr_XForm *x) {
  Egda_BaseData *pts = egda_BaseDataCreate(2, 3, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  const double in[] = {0, 0, 12.5, -3.25, -100, 250};
  std::memcpy(pts->origin, in, sizeof in);
  exfr_Transform(x, pts, pts, nullptr);
  std::vector<double> out(reinterpret_cast<double *>(pts->origin), reinterpret_cast<double *>(pts->origin) + 6);
  egda_BaseDataDelete(pts, nullptr);
  return out;
}

// UTM zone 11 (WGS 84) to geographic coordinates, scaled from kilometres, as one transform.
_exfr_XForm *Reprojection() {
  Eprj_ProParameters *utm = projection_test::Parameters(1, 11, {});
  Eprj_ProParameters *geographic = projection_test::Parameters(0, 0, {});
  Eprj_ProjectionPair *pair = eprj_ProjectionPairInit(nullptr, utm, geographic, nullptr);
  _exfr_XForm *x = exfr_XFormCreateFromProjPairAndMapInfo(pair, nullptr, "kilometers", "dd", nullptr);
  eprj_ProjectionPairFree(&pair);
  eprj_ProParametersFree(&utm);
  eprj_ProParametersFree(&geographic);
  EXPECT_NE(x, nullptr);
  // Points near the zone's false origin, so that the images are ordinary geographic coordinates.
  _exfr_XForm *near = exfr_XFormCreateUsingCoeffs(1, 0, 500, 0, 1, 4000, nullptr);
  _exfr_XForm *result = exfr_XFormCompose(x, near, nullptr, nullptr);
  exfr_XFormFree(&near, nullptr);
  exfr_XFormFree(&x, nullptr);
  return result;
}

class ExfrStoreTest : public taviron::testing::FolderTest {
protected:
  // A new file holding the data-less entries ":Frame" and ":Frame:Layer".
  Ehfa_File *NewFile(const std::string &name) {
    Ehfa_File *f = ehfa_FileCreate(Path(name).c_str(), nullptr, nullptr, 0);
    EXPECT_NE(f, nullptr);
    EXPECT_NE(ehfa_EntryWrite(f, ":", "Frame", "Frame_Type", EHFA_CHILD, nullptr), nullptr);
    EXPECT_NE(ehfa_EntryWrite(f, nullptr, "Layer", "Layer_Type", EHFA_CHILD, nullptr), nullptr);
    return f;
  }
  static void Seek(Ehfa_File *f, const char *path) {
    ASSERT_NE(ehfa_EntrySeek(f, EHFA_PATH, path, nullptr), nullptr) << path;
  }

};

TEST_F(ExfrStoreTest, EveryKindOfTransformReadsBackAfterReopening) {
  Efga_Polynomial *quadratic = Poly(2, {1, 0.5, 1e-3, -2e-4, 3e-5, 10}, {-0.25, 2, 0, 4e-4, -1e-5, -20});
  Efga_Polynomial *affine = Poly(1, {2, 0.5, 100}, {-0.5, 3, -7});
  Efga_Polynomial *inverse = efga_PolynomialInvert(affine, nullptr, nullptr);
  _exfr_XForm *shift = exfr_XFormCreateUsingCoeffs(1, 0, 5, 0, 1, -5, nullptr);
  _exfr_XForm *curve = exfr_XFormCreate(quadratic, 0, nullptr);
  _exfr_XForm *chain = exfr_XFormCompose(shift, curve, nullptr, nullptr); // curve, then shift
  exfr_XFormCompose(chain, shift, chain, nullptr);                        // shift first as well
  struct Case {
    const char *label;
    _exfr_XForm *xform;
  };
  const Case cases[] = {
      {"none", nullptr},
      {"identity", exfr_XFormNew()},
      {"affine", exfr_XFormCreateUsingCoeffs(0.5, -0.25, 1e6, 0.25, 0.5, -4.5e6, nullptr)},
      {"polynomial", exfr_XFormCopy(curve, nullptr, nullptr)},
      {"pair", exfr_XFormCreateFromPolyPair(affine, inverse, nullptr)},
      {"chain", exfr_XFormCopy(chain, nullptr, nullptr)},
      {"reprojection", Reprojection()},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label);
    const std::string name = Path(std::string(c.label) + ".img");
    Ehfa_File *f = NewFile(std::string(c.label) + ".img");
    Eerr_ErrorReport *err = nullptr;
    Seek(f, ":Frame");
    ASSERT_EQ(exfr_XFormWrite(f, nullptr, c.xform, &err), 0) << (err ? err->message : "");
    EXPECT_EQ(Current(f), ":Frame:XForm");
    ASSERT_EQ(exfr_XFormWrite(f, ":Frame:Layer", c.xform, &err), 0); // below a given path
    EXPECT_EQ(Current(f), ":Frame:Layer:XForm");
    ehfa_FileClose(f, nullptr);

    f = ehfa_FileOpen(name.c_str(), "r", nullptr, nullptr, 0);
    ASSERT_NE(f, nullptr);
    Seek(f, ":Frame");
    _exfr_XForm *read = exfr_XFormRead(f, nullptr, &err);
    EXPECT_EQ(err, nullptr) << (err ? err->message : "");
    EXPECT_EQ(Current(f), ":Frame:XForm");
    EXPECT_EQ(read == nullptr, c.xform == nullptr);
    EXPECT_EQ(exfr_XFormIsSame(read, c.xform, nullptr), 1);
    EXPECT_EQ(Images(read), Images(c.xform));
    _exfr_XForm *below = exfr_XFormRead(f, ":Frame:Layer", &err);
    EXPECT_EQ(exfr_XFormIsSame(below, c.xform, nullptr), 1);
    if (c.xform) {
      // The inverse survives too: a pair inverts through its stored reverse polynomial.
      _exfr_XForm *a = exfr_XFormInvert(c.xform, nullptr, nullptr);
      _exfr_XForm *b = exfr_XFormInvert(read, nullptr, nullptr);
      EXPECT_EQ(exfr_XFormIsSame(a, b, nullptr), 1);
      exfr_XFormFree(&a, nullptr);
      exfr_XFormFree(&b, nullptr);
    }
    exfr_XFormFree(&below, nullptr);
    exfr_XFormFree(&read, nullptr);
    ehfa_FileClose(f, nullptr);
  }
  for (const Case &c : cases) {
    _exfr_XForm *x = c.xform;
    exfr_XFormFree(&x, nullptr);
  }
  exfr_XFormFree(&chain, nullptr);
  exfr_XFormFree(&curve, nullptr);
  exfr_XFormFree(&shift, nullptr);
  efga_PolynomialDelete(inverse, nullptr);
  efga_PolynomialDelete(affine, nullptr);
  efga_PolynomialDelete(quadratic, nullptr);
}

TEST_F(ExfrStoreTest, WritingAgainReplacesTheNodeAndItsSteps) {
  Ehfa_File *f = NewFile("again.img");
  Efga_Polynomial *quadratic = Poly(2, {1, 0, 1e-3, 0, 0, 0}, {0, 1, 0, 0, 1e-3, 0});
  _exfr_XForm *curve = exfr_XFormCreate(quadratic, 0, nullptr);
  _exfr_XForm *two = exfr_XFormTranslate(exfr_XFormCopy(curve, nullptr, nullptr), 3, 4, nullptr);
  _exfr_XForm *one = exfr_XFormCreateUsingCoeffs(2, 0, 0, 0, 2, 0, nullptr);
  ASSERT_EQ(exfr_XFormWrite(f, ":Frame", two, nullptr), 0);
  ASSERT_EQ(exfr_XFormWrite(f, ":Frame", one, nullptr), 0);
  EXPECT_EQ(Current(f), ":Frame:XForm");
  // One node, with one step.
  EXPECT_EQ(ehfa_EntrySeek(f, EHFA_NEXT_NAMED, "XForm", nullptr), nullptr);
  EXPECT_NE(ehfa_EntryPeek(f, EHFA_CHILD_NAMED, "Step_1", nullptr), nullptr);
  EXPECT_EQ(ehfa_EntryPeek(f, EHFA_CHILD_NAMED, "Step_2", nullptr), nullptr);
  Seek(f, ":Frame");
  _exfr_XForm *read = exfr_XFormRead(f, nullptr, nullptr);
  EXPECT_EQ(exfr_XFormIsSame(read, one, nullptr), 1);
  // And back to none: a node still, read as no transform.
  Seek(f, ":Frame");
  ASSERT_EQ(exfr_XFormWrite(f, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(ehfa_EntryPeek(f, EHFA_FIRST_CHILD, nullptr, nullptr), nullptr);
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(exfr_XFormRead(f, ":Frame", &err), nullptr);
  EXPECT_EQ(err, nullptr);
  exfr_XFormFree(&read, nullptr);
  exfr_XFormFree(&one, nullptr);
  exfr_XFormFree(&two, nullptr);
  exfr_XFormFree(&curve, nullptr);
  efga_PolynomialDelete(quadratic, nullptr);
  ehfa_FileClose(f, nullptr);
}

// The frame sequence of compositions: a node with its transform, projection and map information
// below it, the entry restored before each.
TEST_F(ExfrStoreTest, AFrameHoldsItsTransformProjectionAndMapInformation) {
  Ehfa_File *f = NewFile("frame.img");
  _exfr_XForm *x = exfr_XFormCreateUsingCoeffs(1, 0, 10, 0, -1, 20, nullptr);
  Eprj_ProParameters *p = eprj_ProParametersCreate(nullptr);
  p->proNumber = 1;
  p->proZone = 17;
  Eprj_MapInfo *m = eprj_MapInfoCreate(nullptr);
  eprj_MapInfoUnitsSet(m, "meters", nullptr);
  Seek(f, ":Frame");
  Ehfa_EntryPosition *frame = ehfa_EntryPositionGet(f, nullptr);
  ASSERT_EQ(exfr_XFormWrite(f, nullptr, x, nullptr), 0);
  ehfa_EntryPositionSet(f, frame, nullptr);
  ASSERT_EQ(eprj_ProParametersWrite(f, nullptr, p, nullptr), 0);
  ehfa_EntryPositionSet(f, frame, nullptr);
  ASSERT_EQ(eprj_MapInfoWrite(f, nullptr, m, nullptr), 0);
  ehfa_EntryPositionFree(frame);
  const std::string name = f->fileName;
  ehfa_FileClose(f, nullptr);

  f = ehfa_FileOpen(name.c_str(), "r", nullptr, nullptr, 0);
  Seek(f, ":Frame");
  frame = ehfa_EntryPositionGet(f, nullptr);
  _exfr_XForm *xr = exfr_XFormRead(f, nullptr, nullptr);
  ehfa_EntryPositionSet(f, frame, nullptr);
  Eprj_ProParameters *pr = eprj_ProParametersRead(f, nullptr, nullptr, 0, nullptr);
  ehfa_EntryPositionSet(f, frame, nullptr);
  Eprj_MapInfo *mr = eprj_MapInfoRead(f, nullptr, nullptr, 0, nullptr);
  EXPECT_EQ(exfr_XFormIsSame(xr, x, nullptr), 1);
  EXPECT_EQ(eprj_ProParametersEqual(pr, p, nullptr), 1);
  EXPECT_EQ(eprj_MapInfosEqual(mr, m, nullptr), 1);
  ehfa_EntryPositionFree(frame);
  eprj_MapInfoFree(&mr);
  eprj_ProParametersFree(&pr);
  exfr_XFormFree(&xr, nullptr);
  eprj_MapInfoFree(&m);
  eprj_ProParametersFree(&p);
  exfr_XFormFree(&x, nullptr);
  ehfa_FileClose(f, nullptr);
}

TEST_F(ExfrStoreTest, DamagedNodesAreReported) {
  Efga_Polynomial *quadratic = Poly(2, {1, 0, 1e-3, 0, 0, 0}, {0, 1, 0, 0, 1e-3, 0});
  _exfr_XForm *curve = exfr_XFormCreate(quadratic, 0, nullptr);
  _exfr_XForm *two = exfr_XFormTranslate(exfr_XFormCopy(curve, nullptr, nullptr), 3, 4, nullptr);
  struct Case {
    const char *label;
    const char *sql; // the damage, done to a file holding `two` below ":Frame"
    int32_t code;
  };
  const Case cases[] = {
      {"no node", "DELETE FROM entry WHERE name = 'XForm'", 3},
      {"node of another design", "UPDATE entry SET type = 'Frame_Type' WHERE name = 'XForm'", 4},
      {"header cut short", "UPDATE entry SET data = X'01000000' WHERE name = 'XForm'", 4},
      {"bad presence", "UPDATE entry SET data = X'0700000002000000' WHERE name = 'XForm'", 4},
      {"none with steps", "UPDATE entry SET data = X'0000000002000000' WHERE name = 'XForm'", 5},
      {"negative count", "UPDATE entry SET data = X'01000000FFFFFFFF' WHERE name = 'XForm'", 5},
      {"missing step", "DELETE FROM entry WHERE name = 'Step_2'", 5},
      {"step of an unknown kind", "UPDATE entry SET type = 'Exfr_WarpStep' WHERE name = 'Step_1'", 5},
      {"polynomial bytes cut", "UPDATE entry SET data = substr(data, 1, 40) WHERE name = 'Step_1'", 4},
      {"private form damaged",
       "UPDATE entry SET data = X'01000000' || X'10000000' || zeroblob(16) || X'00000000' WHERE name = 'Step_1'", 5},
      {"polynomial missing", "UPDATE entry SET data = X'0000000000000000' WHERE name = 'Step_1'", 5},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label);
    const std::string name = Path("damaged.img");
    Ehfa_File *f = ehfa_FileCreate(name.c_str(), nullptr, nullptr, 0);
    ASSERT_NE(ehfa_EntryWrite(f, ":", "Frame", "Frame_Type", EHFA_CHILD, nullptr), nullptr);
    ASSERT_EQ(exfr_XFormWrite(f, nullptr, two, nullptr), 0);
    ehfa_FileClose(f, nullptr);
    Sql(name, c.sql);
    f = ehfa_FileOpen(name.c_str(), "r", nullptr, nullptr, 0);
    ASSERT_NE(f, nullptr);
    Seek(f, ":Frame");
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(exfr_XFormRead(f, nullptr, &err), nullptr);
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err->reporter, "exfr_XFormRead");
    EXPECT_EQ(err->code, c.code) << err->message;
    eerr_DeleteErrorReportEx(&err);
    EXPECT_EQ(Current(f), ":Frame");
    ehfa_FileClose(f, nullptr);
  }
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(exfr_XFormRead(nullptr, nullptr, &err), nullptr);
  EXPECT_EQ(err->code, 1);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(exfr_XFormWrite(nullptr, nullptr, two, &err), -1);
  EXPECT_EQ(err->code, 1);
  eerr_DeleteErrorReportEx(&err);
  exfr_XFormFree(&two, nullptr);
  exfr_XFormFree(&curve, nullptr);
  efga_PolynomialDelete(quadratic, nullptr);
}

// A write that fails part way leaves the file's old transform and the current entry as they were.
TEST_F(ExfrStoreTest, AFailedWriteKeepsTheOldNode) {
  Efga_Polynomial *quadratic = Poly(2, {1, 0, 1e-3, 0, 0, 0}, {0, 1, 0, 0, 1e-3, 0});
  _exfr_XForm *curve = exfr_XFormCreate(quadratic, 0, nullptr);
  _exfr_XForm *three = exfr_XFormTranslate(exfr_XFormCopy(curve, nullptr, nullptr), 3, 4, nullptr);
  exfr_XFormCompose(three, curve, three, nullptr);
  _exfr_XForm *old = exfr_XFormCreateUsingCoeffs(2, 0, 0, 0, 2, 0, nullptr);
  const std::string name = Path("sweep.img");
  {
    Ehfa_File *f = ehfa_FileCreate(name.c_str(), nullptr, nullptr, 0);
    ehfa_EntryWrite(f, ":", "Frame", "Frame_Type", EHFA_CHILD, nullptr);
    ASSERT_EQ(exfr_XFormWrite(f, nullptr, old, nullptr), 0);
    ehfa_FileClose(f, nullptr);
  }
  // The file is opened afresh for every run; after a failed write it still holds the old
  // transform and stands at the same entry. The old transform is put back after a success.
  Ehfa_File *f = nullptr;
  bool succeeded = false;
  taviron::testing::SweepOptions options{.limit = 2000, .newStride = 3}; // a long sequence
  options.prepare = [&] {
    ASSERT_NE(f = ehfa_FileOpen(name.c_str(), "r+", nullptr, nullptr, 0), nullptr);
    Seek(f, ":Frame");
  };
  options.finish = [&] {
    if (!succeeded) {
      EXPECT_EQ(Current(f), ":Frame");
    }
    _exfr_XForm *read = exfr_XFormRead(f, ":Frame", nullptr);
    EXPECT_EQ(exfr_XFormIsSame(read, succeeded ? three : old, nullptr), 1);
    exfr_XFormFree(&read, nullptr);
    if (succeeded) {
      Seek(f, ":Frame");
      EXPECT_EQ(exfr_XFormWrite(f, nullptr, old, nullptr), 0);
    }
    ehfa_FileClose(f, nullptr);
  };
  taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **err) { return succeeded = exfr_XFormWrite(f, nullptr, three, err) == 0; }, options);

  exfr_XFormFree(&old, nullptr);
  exfr_XFormFree(&three, nullptr);
  exfr_XFormFree(&curve, nullptr);
  efga_PolynomialDelete(quadratic, nullptr);
}

} // namespace

// Small helpers of the geometry tests: owned matrices and an error slot that frees its chain.
#ifndef TAVIRON_TESTS_GEOMETRY_TESTING_H
#define TAVIRON_TESTS_GEOMETRY_TESTING_H

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "eerr.h"
#include "efga.h"
#include "egda.h"
#include "emsc.h"
#include "evec.h"

namespace geotest {

struct MatrixDeleter {
  void operator()(Egda_BaseData *m) const { egda_BaseDataDelete(m, nullptr); }
};
using Matrix = std::unique_ptr<Egda_BaseData, MatrixDeleter>;

struct BlockDeleter {
  void operator()(Efga_CoordinateBlock *b) const { efga_CoordBlockDelete(b, nullptr); }
};
using Block = std::unique_ptr<Efga_CoordinateBlock, BlockDeleter>;

struct CoordDeleter {
  void operator()(Evec_Coord *c) const { evec_CoordDelete(c, nullptr); }
};
using Coord = std::unique_ptr<Evec_Coord, CoordDeleter>;

// A 2 x N coordinate matrix from x0, y0, x1, y1, ...
inline Matrix Points(const std::vector<double> &xy) {
  const int32_t n = static_cast<int32_t>(xy.size() / 2);
  Egda_BaseData *m = egda_BaseDataCreate(2, n, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  for (int32_t j = 0; j < 2 * n; ++j) reinterpret_cast<double *>(m->origin)[j] = xy[j];
  return Matrix(m);
}

// A box x1, y1, x2, y2.
inline Matrix Box(double x1, double y1, double x2, double y2) { return Points({x1, y1, x2, y2}); }

inline double X(const Egda_BaseData *m, int32_t j) { return reinterpret_cast<double *>(m->origin)[2 * j]; }
inline double Y(const Egda_BaseData *m, int32_t j) { return reinterpret_cast<double *>(m->origin)[2 * j + 1]; }

inline std::vector<double> Values(const Egda_BaseData *m) {
  std::vector<double> v;
  for (int32_t j = 0; j < m->columns; ++j) {
    v.push_back(X(m, j));
    v.push_back(Y(m, j));
  }
  return v;
}

// A block owning copies of the given parts.
inline Block Parts(std::initializer_list<std::vector<double>> parts) {
  Efga_CoordinateBlock *b = efga_CoordBlockPtrCreate(static_cast<int32_t>(parts.size()), nullptr);
  int32_t i = 0;
  for (const auto &p : parts) b->parts[i++] = Points(p).release();
  return Block(b);
}

// An error slot that frees what it holds, also each time it is handed to a call again (the
// calls clear the slot without freeing it).
class Err {
public:
  Err() = default;
  Err(const Err &) = delete;
  Err &operator=(const Err &) = delete;
  ~Err() { eerr_DeleteErrorReportEx(&report_); }
  operator Eerr_ErrorReport **() {
    eerr_DeleteErrorReportEx(&report_);
    return &report_;
  }
  Eerr_ErrorReport *get() const { return report_; }
  void reset() { eerr_DeleteErrorReportEx(&report_); }

private:
  Eerr_ErrorReport *report_ = nullptr;
};

// The newest report is (reporter, code, message); severity 2.
inline void ExpectReport(const Err &err, const char *reporter, int32_t code, const char *message) {
  const Eerr_ErrorReport *r = err.get();
  ASSERT_NE(r, nullptr) << "no report";
  EXPECT_STREQ(r->reporter, reporter);
  EXPECT_EQ(r->code, code);
  EXPECT_EQ(r->severity, 2);
  ASSERT_NE(r->message, nullptr);
  EXPECT_STREQ(r->message, message);
}

inline void ExpectNoReport(const Err &err) {
  const Eerr_ErrorReport *r = err.get();
  EXPECT_EQ(r, nullptr) << (r && r->message ? r->message : "") << " from "
                        << (r && r->reporter ? r->reporter : "");
}

} // namespace geotest

#endif

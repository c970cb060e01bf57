// Small helpers of the geometry tests: owned matrices, blocks and coordinates, report checks.
#ifndef TAVIRON_TESTS_GEOMETRY_TESTING_H
#define TAVIRON_TESTS_GEOMETRY_TESTING_H

#include <functional>

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
#include "taviron_testing.h"

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

using taviron::testing::ErrorSlot;

// The newest report is (reporter, code, message); severity 2.
inline void ExpectReport(const ErrorSlot &err, const char *reporter, int32_t code, const char *message) {
  EXPECT_TRUE(taviron::testing::Reported(err, reporter, code, message));
}

inline void ExpectNoReport(const ErrorSlot &err) { EXPECT_FALSE(err) << taviron::testing::Chain(err); }

inline void DeleteMatrix(Egda_BaseData *m) { egda_BaseDataDelete(m, nullptr); }

// The kit's sweep of allocation failures over make (err), which returns what it made or null;
// what it made is freed. A failure's newest report is the reporter's; with the heap failing,
// check (when given) looks at it further.
template <class Make, class Free>
taviron::testing::SweepCounts SweepMade(Make make, Free free, const char *reporter,
                                        std::function<void(const Eerr_ErrorReport *)> check = nullptr) {
  return taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **err, taviron::testing::Failing kind) {
        auto *made = make(err);
        if (made) {
          free(made);
          return true;
        }
        if (*err) {
          EXPECT_STREQ((*err)->reporter, reporter);
          if (check && kind == taviron::testing::Failing::Heap) check(*err);
        }
        return false;
      });
}

} // namespace geotest

#endif

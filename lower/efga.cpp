// Coordinate blocks, polynomials and dense matrices.
#include "efga.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <vector>

#include "egda_pixel.h"
#include "efga_internal.h"
#include "emsc.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace {

constexpr int64_t kMaxTerms = int64_t{1} << 22;

bool IsF64(const Egda_BaseData *m) {
  return m && m->pixelType == EGDA_TYPE_F64 && m->origin && m->rows >= 0 && m->columns >= 0;
}

double Get(const Egda_BaseData &m, int32_t r, int32_t c) { return lower::At<double>(m, r, c); }
void Set(Egda_BaseData &m, int32_t r, int32_t c, double v) { lower::At<double>(m, r, c) = v; }

Eigen::MatrixXd Read(const Egda_BaseData &m) {
  Eigen::MatrixXd out(m.rows, m.columns);
  for (int32_t c = 0; c < m.columns; ++c)
    for (int32_t r = 0; r < m.rows; ++r) out(r, c) = Get(m, r, c);
  return out;
}

void Fill(Egda_BaseData &m, const Eigen::MatrixXd &v) {
  for (int32_t c = 0; c < m.columns; ++c)
    for (int32_t r = 0; r < m.rows; ++r) Set(m, r, c, v(r, c));
}

// Writes v into result: a new matrix when result is null, in place when it has v's shape,
// otherwise by reshaping it (egda_BaseDataCopy of a temporary). Null with a report on failure.
Egda_BaseData *Store(const Eigen::MatrixXd &v, Egda_BaseData *result, const char *reporter,
                     int32_t code, Eerr_ErrorReport **err) {
  const auto rows = static_cast<int32_t>(v.rows());
  const auto columns = static_cast<int32_t>(v.cols());
  if (result && IsF64(result) && result->rows == rows && result->columns == columns) {
    Fill(*result, v);
    return result;
  }
  const int32_t objectType = result ? result->objectType : EGDA_MATRIX;
  Egda_BaseData *fresh = egda_BaseDataCreate(rows, columns, EGDA_TYPE_F64, objectType, nullptr, err);
  if (!fresh) {
    lower::Report(err, reporter, code, "Error returned from egda_BaseDataCreate");
    return nullptr;
  }
  Fill(*fresh, v);
  if (!result) return fresh;
  Egda_BaseData *copied = egda_BaseDataCopy(fresh, result, err);
  egda_BaseDataDelete(fresh, nullptr);
  if (!copied) {
    lower::Report(err, reporter, code, "Error returned from egda_BaseDataCopy");
    return nullptr;
  }
  return result;
}

// ---- polynomials -------------------------------------------------------------------------------

int64_t TermCount64(int32_t order, int32_t inputs) {
  if (order < 1 || inputs < 1) return -1;
  if (order == 1) return inputs <= kMaxTerms ? inputs : -1;
  // C(order + inputs, inputs) - 1, stopping once past the limit.
  int64_t c = 1;
  for (int64_t k = 1; k <= inputs; ++k) {
    c = c * (order + k) / k; // exact: c is C(order + k, k) after the step
    if (c - 1 > kMaxTerms) return -1;
  }
  return c - 1;
}

int32_t InputCount(int32_t order, int32_t terms) {
  if (order < 1 || terms < 1) return -1;
  if (order == 1) return terms;
  for (int32_t d = 1;; ++d) {
    const int64_t t = TermCount64(order, d);
    if (t < 0 || t > terms) return -1;
    if (t == terms) return d;
  }
}

// Exponents of every term, term by term (inputs values each), in the graded order.
std::vector<int> TermExponents(int32_t order, int32_t inputs) {
  std::vector<int> out;
  std::vector<int> e(static_cast<std::size_t>(inputs));
  // Fill e[j..] with exponents summing to `left`, first variable highest first.
  auto fill = [&](auto &&self, int32_t j, int left) -> void {
    if (j == inputs - 1) {
      e[static_cast<std::size_t>(j)] = left;
      out.insert(out.end(), e.begin(), e.end());
      return;
    }
    for (int k = left; k >= 0; --k) {
      e[static_cast<std::size_t>(j)] = k;
      self(self, j + 1, left - k);
    }
  };
  for (int degree = 1; degree <= order; ++degree) fill(fill, 0, degree);
  return out;
}

struct Shape {
  int32_t order = 0, outputs = 0, inputs = 0, terms = 0;
};

bool PolyShape(const Efga_Polynomial *p, Shape &s) {
  if (!p || !IsF64(p->coefficients) || !IsF64(p->constants)) return false;
  s.order = p->order;
  s.outputs = p->coefficients->rows;
  s.terms = p->coefficients->columns;
  s.inputs = InputCount(s.order, s.terms);
  return s.outputs >= 1 && s.inputs >= 1 && p->constants->rows == s.outputs &&
         p->constants->columns >= 1;
}

// Evaluates the polynomial at one point.
class Evaluator {
public:
  explicit Evaluator(const Efga_Polynomial &p, const Shape &s)
      : p_(p), s_(s), exponents_(s.order > 1 ? TermExponents(s.order, s.inputs) : std::vector<int>{}),
        powers_(static_cast<std::size_t>(s.inputs) * static_cast<std::size_t>(s.order + 1)),
        terms_(static_cast<std::size_t>(s.terms)) {}

  void operator()(const double *in, double *out) {
    if (s_.order == 1) {
      for (int32_t t = 0; t < s_.terms; ++t) terms_[static_cast<std::size_t>(t)] = in[t];
    } else {
      const auto stride = static_cast<std::size_t>(s_.order + 1);
      for (int32_t j = 0; j < s_.inputs; ++j) {
        double *pw = &powers_[static_cast<std::size_t>(j) * stride];
        pw[0] = 1.0;
        for (int32_t k = 1; k <= s_.order; ++k) pw[k] = pw[k - 1] * in[j];
      }
      const int *e = exponents_.data();
      for (int32_t t = 0; t < s_.terms; ++t) {
        double v = 1.0;
        for (int32_t j = 0; j < s_.inputs; ++j, ++e) v *= powers_[static_cast<std::size_t>(j) * stride + static_cast<std::size_t>(*e)];
        terms_[static_cast<std::size_t>(t)] = v;
      }
    }
    for (int32_t i = 0; i < s_.outputs; ++i) {
      double v = Get(*p_.constants, i, 0);
      for (int32_t t = 0; t < s_.terms; ++t) v += Get(*p_.coefficients, i, t) * terms_[static_cast<std::size_t>(t)];
      out[i] = v;
    }
  }

private:
  const Efga_Polynomial &p_;
  Shape s_;
  std::vector<int> exponents_;
  std::vector<double> powers_;
  std::vector<double> terms_;
};

void PolyFree(Efga_Polynomial *p) {
  if (!p) return;
  egda_BaseDataDelete(p->coefficients, nullptr);
  egda_BaseDataDelete(p->constants, nullptr);
  emsc_HeapFree(p);
}

// Gives p (or a new polynomial when p is null) the order and shape, keeping its matrices when
// they already have it. Values are not touched when kept; new matrices are zero.
Efga_Polynomial *PolyShapeTo(Efga_Polynomial *p, int32_t order, int32_t outputs, int32_t inputs,
                             const char *reporter, int32_t code, Eerr_ErrorReport **err) {
  const int64_t terms = TermCount64(order, inputs);
  if (terms < 0 || outputs < 1) {
    lower::Report(err, reporter, code, "Invalid polynomial: order %d, %d outputs, %d inputs",
                  order, outputs, inputs);
    return nullptr;
  }
  const auto t = static_cast<int32_t>(terms);
  Egda_BaseData *coefficients = nullptr, *constants = nullptr;
  const bool keepCoefficients = p && IsF64(p->coefficients) && p->coefficients->rows == outputs &&
                                p->coefficients->columns == t;
  const bool keepConstants = p && IsF64(p->constants) && p->constants->rows == outputs &&
                             p->constants->columns == 1;
  if (!keepCoefficients) {
    coefficients = egda_BaseDataCreate(outputs, t, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, err);
    if (!coefficients) {
      lower::Report(err, reporter, code, "Error returned from egda_BaseDataCreate");
      return nullptr;
    }
  }
  if (!keepConstants) {
    constants = egda_BaseDataCreate(outputs, 1, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, err);
    if (!constants) {
      egda_BaseDataDelete(coefficients, nullptr);
      lower::Report(err, reporter, code, "Error returned from egda_BaseDataCreate");
      return nullptr;
    }
  }
  Efga_Polynomial *target = p;
  if (!target) {
    target = static_cast<Efga_Polynomial *>(emsc_HeapMalloc(sizeof(Efga_Polynomial)));
    if (!target) {
      egda_BaseDataDelete(coefficients, nullptr);
      egda_BaseDataDelete(constants, nullptr);
      lower::Report(err, reporter, code, "Error allocating polynomial");
      return nullptr;
    }
  }
  if (coefficients) {
    egda_BaseDataDelete(target->coefficients, nullptr);
    target->coefficients = coefficients;
  }
  if (constants) {
    egda_BaseDataDelete(target->constants, nullptr);
    target->constants = constants;
  }
  target->order = order;
  return target;
}

// Writes a first-order 2-D polynomial (L, c) into existing or a new one.
Efga_Polynomial *Make2D(Efga_Polynomial *existing, double l00, double l01, double l10, double l11,
                        double c0, double c1, const char *reporter, Eerr_ErrorReport **err) {
  lower::Clear(err);
  Efga_Polynomial *p = PolyShapeTo(existing, 1, 2, 2, reporter, 1, err);
  if (!p) return nullptr;
  Set(*p->coefficients, 0, 0, l00);
  Set(*p->coefficients, 0, 1, l01);
  Set(*p->coefficients, 1, 0, l10);
  Set(*p->coefficients, 1, 1, l11);
  Set(*p->constants, 0, 0, c0);
  Set(*p->constants, 1, 0, c1);
  return p;
}

// Sparse multivariate polynomial (exponents -> coefficient) used by the composition.
using Monomial = std::vector<int>;
using Sparse = std::map<Monomial, double>;

Sparse Multiply(const Sparse &a, const Sparse &b) {
  Sparse out;
  for (const auto &[ea, ca] : a)
    for (const auto &[eb, cb] : b) {
      Monomial e(ea.size());
      for (std::size_t j = 0; j < e.size(); ++j) e[j] = ea[j] + eb[j];
      out[e] += ca * cb;
    }
  return out;
}

// ---- little-endian serialisation ---------------------------------------------------------------

void PutI32(uint8_t *p, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(u >> (8 * i));
}
int32_t GetI32(const uint8_t *p) {
  uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= uint32_t{p[i]} << (8 * i);
  return static_cast<int32_t>(u);
}
void PutF64(uint8_t *p, double v) {
  uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(u >> (8 * i));
}
double GetF64(const uint8_t *p) {
  uint64_t u = 0;
  for (int i = 0; i < 8; ++i) u |= uint64_t{p[i]} << (8 * i);
  double v;
  std::memcpy(&v, &u, sizeof v);
  return v;
}

// ---- clipping ----------------------------------------------------------------------------------

struct Window {
  double xmin, ymin, xmax, ymax;
};

bool ReadWindow(const Egda_BaseData *m, Window &w) {
  if (!IsF64(m) || m->rows < 2 || m->columns < 2) return false;
  const double x0 = Get(*m, 0, 0), y0 = Get(*m, 1, 0), x1 = Get(*m, 0, 1), y1 = Get(*m, 1, 1);
  if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1))
    return false;
  w = {std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1)};
  return true;
}

// Liang-Barsky: true when part of the segment lies in the window; the ends are moved onto it.
bool ClipSegment(const Window &w, double &x0, double &y0, double &x1, double &y1) {
  if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1))
    return false;
  const double dx = x1 - x0, dy = y1 - y0;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {x0 - w.xmin, w.xmax - x0, y0 - w.ymin, w.ymax - y0};
  double t0 = 0.0, t1 = 1.0;
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0.0) {
      if (q[i] < 0.0) return false;
      continue;
    }
    const double r = q[i] / p[i];
    if (p[i] < 0.0) {
      if (r > t1) return false;
      t0 = std::max(t0, r);
    } else {
      if (r < t0) return false;
      t1 = std::min(t1, r);
    }
  }
  const double sx = x0, sy = y0;
  if (t1 < 1.0) {
    x1 = std::clamp(sx + t1 * dx, w.xmin, w.xmax);
    y1 = std::clamp(sy + t1 * dy, w.ymin, w.ymax);
  }
  if (t0 > 0.0) {
    x0 = std::clamp(sx + t0 * dx, w.xmin, w.xmax);
    y0 = std::clamp(sy + t0 * dy, w.ymin, w.ymax);
  }
  return true;
}

bool ValidBlock(const Efga_CoordinateBlock *b) {
  return b && b->count >= 0 && (b->count == 0 || b->parts);
}

// Arguments of the matrix operations.
bool CheckSquare(const Egda_BaseData *a) { return IsF64(a) && a->rows == a->columns; }

Egda_BaseData *AddOrSubtract(const Egda_BaseData *a, const Egda_BaseData *b,
                                    Egda_BaseData *result, double sign, const char *reporter,
                                    Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!IsF64(a) || !IsF64(b)) {
    lower::Report(err, reporter, 1, "Invalid matrix: f64 matrices are needed");
    return nullptr;
  }
  if (a->rows != b->rows || a->columns != b->columns) {
    lower::Report(err, reporter, 2, "Matrices differ in shape: %d x %d and %d x %d", a->rows,
                  a->columns, b->rows, b->columns);
    return nullptr;
  }
  return Store(Read(*a) + sign * Read(*b), result, reporter, 3, err);
}

} // namespace

extern "C" {

// ================================ coordinate blocks =============================================

Efga_CoordinateBlock *efga_BaseCoordBlockCreate(int32_t rows, int32_t columns, int32_t parts,
                                                int32_t pixelType, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (parts < 0) {
    lower::Report(err, "efga_BaseCoordBlockCreate", 1, "Invalid part count %d", parts);
    return nullptr;
  }
  Efga_CoordinateBlock *block = efga_CoordBlockPtrCreate(parts, err);
  if (!block) {
    lower::Report(err, "efga_BaseCoordBlockCreate", 2, "Error returned from efga_CoordBlockPtrCreate");
    return nullptr;
  }
  block->kind = 1;
  for (int32_t i = 0; i < parts; ++i) {
    block->parts[i] = egda_BaseDataCreate(rows, columns, pixelType, EGDA_MATRIX, nullptr, err);
    if (!block->parts[i]) {
      efga_CoordBlockDelete(block, nullptr);
      lower::Report(err, "efga_BaseCoordBlockCreate", 3, "Error returned from egda_BaseDataCreate");
      return nullptr;
    }
  }
  return block;
} TAVIRON_GUARD(err, nullptr)

Efga_CoordinateBlock *efga_CoordBlockPtrCreate(int32_t count, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (count < 0) {
    lower::Report(err, "efga_CoordBlockPtrCreate", 1, "Invalid part count %d", count);
    return nullptr;
  }
  auto *block = static_cast<Efga_CoordinateBlock *>(emsc_HeapMalloc(sizeof(Efga_CoordinateBlock)));
  if (!block) {
    lower::Report(err, "efga_CoordBlockPtrCreate", 2, "Error allocating coordinate block");
    return nullptr;
  }
  const std::size_t n = count ? static_cast<std::size_t>(count) : 1;
  block->parts = static_cast<Egda_BaseData **>(emsc_HeapMalloc(n * sizeof(Egda_BaseData *)));
  if (!block->parts) {
    emsc_HeapFree(block);
    lower::Report(err, "efga_CoordBlockPtrCreate", 3, "Error allocating coordinate block parts");
    return nullptr;
  }
  block->kind = 2;
  block->count = count;
  return block;
} TAVIRON_GUARD(err, nullptr)

void efga_CoordBlockDelete(Efga_CoordinateBlock *block, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!block) return;
  if (block->parts) {
    if (block->ownsHeaderArray == 1) {
      // Part i lies at position i of one array of headers: free the buffers, then the array.
      Egda_BaseData *array = nullptr;
      for (int32_t i = 0; i < block->count; ++i) {
        Egda_BaseData *part = block->parts[i];
        if (!part) continue;
        if (!array) array = part - i;
        if (part->ownsData) emsc_HeapFree(part->data);
      }
      emsc_HeapFree(array);
    } else {
      for (int32_t i = 0; i < block->count; ++i) egda_BaseDataDelete(block->parts[i], nullptr);
    }
    emsc_HeapFree(block->parts);
  }
  emsc_HeapFree(block);
} TAVIRON_GUARD_VOID(err)

Efga_CoordinateBlock *efga_CoordBlockCopy(const Efga_CoordinateBlock *source,
                                          Efga_CoordinateBlock *destination,
                                          Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!ValidBlock(source) || (destination && !ValidBlock(destination))) {
    lower::Report(err, "efga_CoordBlockCopy", 1, "Invalid coordinate block");
    return nullptr;
  }
  if (source == destination) return destination;
  if (!destination) {
    Efga_CoordinateBlock *block = efga_CoordBlockPtrCreate(source->count, err);
    if (!block) {
      lower::Report(err, "efga_CoordBlockCopy", 2, "Error returned from efga_CoordBlockPtrCreate");
      return nullptr;
    }
    block->kind = source->kind;
    for (int32_t i = 0; i < source->count; ++i) {
      if (!source->parts[i]) continue;
      block->parts[i] = egda_BaseDataCopy(source->parts[i], nullptr, err);
      if (!block->parts[i]) {
        efga_CoordBlockDelete(block, nullptr);
        lower::Report(err, "efga_CoordBlockCopy", 3, "Error returned from egda_BaseDataCopy");
        return nullptr;
      }
    }
    return block;
  }

  if (destination->count != source->count) {
    if (destination->ownsHeaderArray == 1) {
      lower::Report(err, "efga_CoordBlockCopy", 4,
                    "Destination block over a header array has %d parts, source has %d",
                    destination->count, source->count);
      return nullptr;
    }
    const std::size_t n = source->count ? static_cast<std::size_t>(source->count) : 1;
    if (source->count > destination->count) {
      auto *parts = static_cast<Egda_BaseData **>(emsc_HeapRealloc(destination->parts, n * sizeof(Egda_BaseData *)));
      if (!parts) {
        lower::Report(err, "efga_CoordBlockCopy", 5, "Error allocating coordinate block parts");
        return nullptr;
      }
      destination->parts = parts;
    } else {
      for (int32_t i = source->count; i < destination->count; ++i) {
        egda_BaseDataDelete(destination->parts[i], nullptr);
        destination->parts[i] = nullptr;
      }
      // Shrinking cannot lose data; a failed shrink keeps the larger array.
      if (auto *parts = static_cast<Egda_BaseData **>(emsc_HeapRealloc(destination->parts, n * sizeof(Egda_BaseData *))))
        destination->parts = parts;
    }
    destination->count = source->count;
  }
  for (int32_t i = 0; i < source->count; ++i) {
    Egda_BaseData *from = source->parts[i];
    Egda_BaseData *&to = destination->parts[i];
    if (!from) {
      if (destination->ownsHeaderArray != 1) {
        egda_BaseDataDelete(to, nullptr);
        to = nullptr;
      }
      continue;
    }
    Egda_BaseData *copied = egda_BaseDataCopy(from, to, err);
    if (!copied) {
      lower::Report(err, "efga_CoordBlockCopy", 6, "Error returned from egda_BaseDataCopy");
      return nullptr;
    }
    to = copied;
  }
  return destination;
} TAVIRON_GUARD(err, nullptr)

int32_t efga_ClipLine(double *x0, double *y0, double *x1, double *y1, const Egda_BaseData *window,
                      Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Window w;
  if (!x0 || !y0 || !x1 || !y1) {
    lower::Report(err, "efga_ClipLine", 1, "Invalid segment");
    return -1;
  }
  if (!ReadWindow(window, w)) {
    lower::Report(err, "efga_ClipLine", 2, "Invalid window: a 2 x 2 f64 matrix of finite corners is needed");
    return -1;
  }
  double a = *x0, b = *y0, c = *x1, d = *y1;
  if (!ClipSegment(w, a, b, c, d)) return 0;
  *x0 = a;
  *y0 = b;
  *x1 = c;
  *y1 = d;
  return 1;
} TAVIRON_GUARD(err, -1)

Efga_CoordinateBlock *efga_ClipPolylineToRectangle(const Egda_BaseData *polyline,
                                                   const Egda_BaseData *rectangle,
                                                   Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!IsF64(polyline) || polyline->rows < 2) {
    lower::Report(err, "efga_ClipPolylineToRectangle", 1, "Invalid polyline: a 2 x n f64 matrix is needed");
    return nullptr;
  }
  Window w;
  if (!ReadWindow(rectangle, w)) {
    lower::Report(err, "efga_ClipPolylineToRectangle", 2,
                  "Invalid rectangle: a 2 x 2 f64 matrix of finite corners is needed");
    return nullptr;
  }
  using Points = std::vector<std::pair<double, double>>;
  std::vector<Points> stretches;
  Points current;
  auto flush = [&](std::size_t least) {
    if (current.size() >= least) stretches.push_back(current);
    current.clear();
  };
  const int32_t n = polyline->columns;
  if (n == 1) {
    const double x = Get(*polyline, 0, 0), y = Get(*polyline, 1, 0);
    if (x >= w.xmin && x <= w.xmax && y >= w.ymin && y <= w.ymax) stretches.push_back({{x, y}});
  }
  for (int32_t i = 0; i + 1 < n; ++i) {
    double ax = Get(*polyline, 0, i), ay = Get(*polyline, 1, i);
    double bx = Get(*polyline, 0, i + 1), by = Get(*polyline, 1, i + 1);
    if (!ClipSegment(w, ax, ay, bx, by)) {
      flush(2);
      continue;
    }
    if (!current.empty() && current.back() != std::make_pair(ax, ay)) flush(2); // left and came back
    if (current.empty()) current.emplace_back(ax, ay);
    if (current.back() != std::make_pair(bx, by)) current.emplace_back(bx, by);
  }
  flush(2);
  if (stretches.empty()) return nullptr;

  Efga_CoordinateBlock *block = efga_CoordBlockPtrCreate(static_cast<int32_t>(stretches.size()), err);
  if (!block) {
    lower::Report(err, "efga_ClipPolylineToRectangle", 3, "Error returned from efga_CoordBlockPtrCreate");
    return nullptr;
  }
  for (std::size_t k = 0; k < stretches.size(); ++k) {
    const Points &s = stretches[k];
    Egda_BaseData *part = egda_BaseDataCreate(2, static_cast<int32_t>(s.size()), EGDA_TYPE_F64, EGDA_MATRIX, nullptr, err);
    if (!part) {
      efga_CoordBlockDelete(block, nullptr);
      lower::Report(err, "efga_ClipPolylineToRectangle", 4, "Error returned from egda_BaseDataCreate");
      return nullptr;
    }
    for (std::size_t j = 0; j < s.size(); ++j) {
      Set(*part, 0, static_cast<int32_t>(j), s[j].first);
      Set(*part, 1, static_cast<int32_t>(j), s[j].second);
    }
    block->parts[k] = part;
  }
  return block;
} TAVIRON_GUARD(err, nullptr)

// ================================ polynomials ===================================================

int32_t efga_PolynomialTermCount(int32_t order, int32_t inputs) try {
  return static_cast<int32_t>(TermCount64(order, inputs));
} TAVIRON_GUARD_QUIET(-1)

int32_t efga_PolynomialInputCount(const Efga_Polynomial *poly) try {
  Shape s;
  return PolyShape(poly, s) ? s.inputs : -1;
} TAVIRON_GUARD_QUIET(-1)

Efga_Polynomial *efga_BasePolynomialCreate(int32_t order, int32_t outputs, int32_t inputs,
                                           int32_t pixelType, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (pixelType != EGDA_TYPE_F64) {
    lower::Report(err, "efga_BasePolynomialCreate", 1,
                  "Invalid polynomial pixel type %d: only f64 (10) is supported", pixelType);
    return nullptr;
  }
  return PolyShapeTo(nullptr, order, outputs, inputs, "efga_BasePolynomialCreate", 2, err);
} TAVIRON_GUARD(err, nullptr)

Efga_Polynomial *efga_PolyCreate2DIdentity(Efga_Polynomial *existing, Eerr_ErrorReport **err) try {
  return Make2D(existing, 1, 0, 0, 1, 0, 0, "efga_PolyCreate2DIdentity", err);
} TAVIRON_GUARD(err, nullptr)

Efga_Polynomial *efga_PolyCreate2DTranslate(Efga_Polynomial *existing, double dx, double dy,
                                            Eerr_ErrorReport **err) try {
  return Make2D(existing, 1, 0, 0, 1, dx, dy, "efga_PolyCreate2DTranslate", err);
} TAVIRON_GUARD(err, nullptr)

Efga_Polynomial *efga_PolyCreate2DRotate(Efga_Polynomial *existing, double angle,
                                         Eerr_ErrorReport **err) try {
  const double c = std::cos(angle), s = std::sin(angle);
  return Make2D(existing, c, -s, s, c, 0, 0, "efga_PolyCreate2DRotate", err);
} TAVIRON_GUARD(err, nullptr)

Efga_Polynomial *efga_PolyCreate2DScale(Efga_Polynomial *existing, double sx, double sy,
                                        Eerr_ErrorReport **err) try {
  return Make2D(existing, sx, 0, 0, sy, 0, 0, "efga_PolyCreate2DScale", err);
} TAVIRON_GUARD(err, nullptr)

Efga_Polynomial *efga_PolyCreate2DAffine(double cx, double cy, double angle, double sx, double sy,
                                         Eerr_ErrorReport **err) try {
  const double c = std::cos(angle), s = std::sin(angle);
  return Make2D(nullptr, sx * c, -sy * s, sx * s, sy * c, cx, cy, "efga_PolyCreate2DAffine", err);
} TAVIRON_GUARD(err, nullptr)

Efga_Polynomial *efga_PolynomialComposition(const Efga_Polynomial *a, const Efga_Polynomial *b,
                                            Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Shape sa, sb;
  if (!PolyShape(a, sa) || !PolyShape(b, sb)) {
    lower::Report(err, "efga_PolynomialComposition", 1, "Invalid polynomial");
    return nullptr;
  }
  if (sa.inputs != sb.outputs) {
    lower::Report(err, "efga_PolynomialComposition", 2,
                  "Polynomials do not chain: the outer takes %d inputs, the inner gives %d outputs",
                  sa.inputs, sb.outputs);
    return nullptr;
  }
  const int64_t order = int64_t{sa.order} * sb.order;
  if (order > std::numeric_limits<int32_t>::max() || TermCount64(static_cast<int32_t>(order), sb.inputs) < 0) {
    lower::Report(err, "efga_PolynomialComposition", 3, "Composed polynomial of order %lld is too large",
                  static_cast<long long>(order));
    return nullptr;
  }
  // Held until it is complete: the sparse products below allocate and may throw.
  lower::Owned<Efga_Polynomial, efga_PolynomialDelete> result(
      PolyShapeTo(nullptr, static_cast<int32_t>(order), sa.outputs, sb.inputs, "efga_PolynomialComposition", 4, err));
  if (!result) return nullptr;

  const Monomial zero(static_cast<std::size_t>(sb.inputs), 0);
  const std::vector<int> eb = sb.order > 1 ? TermExponents(sb.order, sb.inputs) : std::vector<int>{};
  // Each output of b as a sparse polynomial over b's inputs.
  std::vector<Sparse> bOut(static_cast<std::size_t>(sb.outputs));
  for (int32_t j = 0; j < sb.outputs; ++j) {
    Sparse &s = bOut[static_cast<std::size_t>(j)];
    s[zero] += Get(*b->constants, j, 0);
    for (int32_t t = 0; t < sb.terms; ++t) {
      Monomial e(zero);
      if (sb.order == 1) e[static_cast<std::size_t>(t)] = 1;
      else std::copy_n(eb.begin() + static_cast<std::ptrdiff_t>(t) * sb.inputs, sb.inputs, e.begin());
      s[e] += Get(*b->coefficients, j, t);
    }
  }
  // Powers of b's outputs, made as a's terms need them.
  std::vector<std::vector<Sparse>> powers(static_cast<std::size_t>(sb.outputs));
  auto power = [&](int32_t j, int k) -> const Sparse & {
    auto &list = powers[static_cast<std::size_t>(j)];
    if (list.empty()) list.push_back(Sparse{{zero, 1.0}});
    while (static_cast<int>(list.size()) <= k) list.push_back(Multiply(list.back(), bOut[static_cast<std::size_t>(j)]));
    return list[static_cast<std::size_t>(k)];
  };
  const std::vector<int> ea = sa.order > 1 ? TermExponents(sa.order, sa.inputs) : std::vector<int>{};
  const std::vector<int> er = TermExponents(result->order, sb.inputs);
  std::map<Monomial, int32_t> index;
  for (int32_t t = 0; t * sb.inputs < static_cast<int32_t>(er.size()); ++t)
    index[Monomial(er.begin() + static_cast<std::ptrdiff_t>(t) * sb.inputs, er.begin() + static_cast<std::ptrdiff_t>(t + 1) * sb.inputs)] = t;

  for (int32_t i = 0; i < sa.outputs; ++i) {
    Sparse sum{{zero, Get(*a->constants, i, 0)}};
    for (int32_t t = 0; t < sa.terms; ++t) {
      const double c = Get(*a->coefficients, i, t);
      if (c == 0.0) continue;
      Sparse product{{zero, c}};
      for (int32_t j = 0; j < sa.inputs; ++j) {
        const int k = sa.order == 1 ? (j == t ? 1 : 0) : ea[static_cast<std::size_t>(t) * static_cast<std::size_t>(sa.inputs) + static_cast<std::size_t>(j)];
        if (k) product = Multiply(product, power(j, k));
      }
      for (const auto &[e, v] : product) sum[e] += v;
    }
    for (const auto &[e, v] : sum) {
      if (e == zero) Set(*result->constants, i, 0, v);
      else Set(*result->coefficients, i, index.at(e), v);
    }
  }
  return result.release();
} TAVIRON_GUARD(err, nullptr)

Efga_Polynomial *efga_PolynomialInvert(const Efga_Polynomial *poly, Efga_Polynomial *destination,
                                       Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Shape s;
  if (!PolyShape(poly, s)) {
    lower::Report(err, "efga_PolynomialInvert", 1, "Invalid polynomial");
    return nullptr;
  }
  if (s.order != 1 || s.inputs != s.outputs) {
    lower::Report(err, "efga_PolynomialInvert", 2,
                  "Only first-order polynomials with as many outputs as inputs can be inverted "
                  "(order %d, %d inputs, %d outputs)", s.order, s.inputs, s.outputs);
    return nullptr;
  }
  const Eigen::MatrixXd l = Read(*poly->coefficients);
  const Eigen::VectorXd c = Read(*poly->constants).col(0);
  Eigen::FullPivLU<Eigen::MatrixXd> lu(l);
  if (!l.allFinite() || !c.allFinite() || !lu.isInvertible()) {
    lower::Report(err, "efga_PolynomialInvert", 3, "Polynomial is singular and cannot be inverted");
    return nullptr;
  }
  const Eigen::MatrixXd inverse = lu.inverse();
  const Eigen::VectorXd offset = -(inverse * c);
  Efga_Polynomial *target = PolyShapeTo(destination, 1, s.outputs, s.inputs, "efga_PolynomialInvert", 4, err);
  if (!target) return nullptr;
  Fill(*target->coefficients, inverse);
  Fill(*target->constants, offset);
  return target;
} TAVIRON_GUARD(err, nullptr)

Efga_Polynomial *efga_PolynomialCopy(const Efga_Polynomial *source, Efga_Polynomial *destination,
                                     Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Shape s;
  if (!PolyShape(source, s)) {
    lower::Report(err, "efga_PolynomialCopy", 1, "Invalid polynomial");
    return nullptr;
  }
  if (source == destination) return destination;
  Efga_Polynomial *target = PolyShapeTo(destination, s.order, s.outputs, s.inputs, "efga_PolynomialCopy", 2, err);
  if (!target) return nullptr;
  Fill(*target->coefficients, Read(*source->coefficients));
  for (int32_t i = 0; i < s.outputs; ++i) Set(*target->constants, i, 0, Get(*source->constants, i, 0));
  return target;
} TAVIRON_GUARD(err, nullptr)

void efga_PolynomialDelete(Efga_Polynomial *poly, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  PolyFree(poly);
} TAVIRON_GUARD_VOID(err)

Egda_BaseData *efga_PolyTransCoords(const Egda_BaseData *input, Egda_BaseData *output,
                                    const Efga_Polynomial *poly, int32_t, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Shape s;
  if (!PolyShape(poly, s)) {
    lower::Report(err, "efga_PolyTransCoords", 1, "Invalid polynomial");
    return nullptr;
  }
  if (!IsF64(input) || input->rows != s.inputs) {
    lower::Report(err, "efga_PolyTransCoords", 2,
                  "Invalid input matrix: %d rows of f64 are needed for this polynomial", s.inputs);
    return nullptr;
  }
  Egda_BaseData *target = output;
  if (!target) {
    target = egda_BaseDataCreate(s.outputs, input->columns, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, err);
    if (!target) {
      lower::Report(err, "efga_PolyTransCoords", 3, "Error returned from egda_BaseDataCreate");
      return nullptr;
    }
  } else if (!IsF64(target) || target->rows != s.outputs || target->columns != input->columns) {
    lower::Report(err, "efga_PolyTransCoords", 4,
                  "Invalid output matrix: %d x %d f64 is needed", s.outputs, input->columns);
    return nullptr;
  }
  Evaluator evaluate(*poly, s);
  std::vector<double> in(static_cast<std::size_t>(s.inputs)), out(static_cast<std::size_t>(s.outputs));
  for (int32_t c = 0; c < input->columns; ++c) {
    for (int32_t r = 0; r < s.inputs; ++r) in[static_cast<std::size_t>(r)] = Get(*input, r, c);
    evaluate(in.data(), out.data());
    for (int32_t r = 0; r < s.outputs; ++r) Set(*target, r, c, out[static_cast<std::size_t>(r)]);
  }
  return target;
} TAVIRON_GUARD(err, nullptr)

Efga_CoordinateBlock *efga_PolyTransCoordinateBlock(Efga_CoordinateBlock *block,
                                                    const Efga_Polynomial *poly,
                                                    Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!ValidBlock(block)) {
    lower::Report(err, "efga_PolyTransCoordinateBlock", 1, "Invalid coordinate block");
    return nullptr;
  }
  for (int32_t i = 0; i < block->count; ++i) {
    if (!block->parts[i]) continue;
    if (!efga_PolyTransCoords(block->parts[i], block->parts[i], poly, 0, err)) {
      lower::Report(err, "efga_PolyTransCoordinateBlock", 2, "Error returned from efga_PolyTransCoords");
      return nullptr;
    }
  }
  return block;
} TAVIRON_GUARD(err, nullptr)

Efga_Polynomial *efga_DerivePolyCoefs(const Egda_BaseData *input, const Egda_BaseData *output,
                                      Efga_Polynomial *poly, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Shape s;
  if (!PolyShape(poly, s)) {
    lower::Report(err, "efga_DerivePolyCoefs", 1, "Invalid polynomial");
    return nullptr;
  }
  if (!IsF64(input) || !IsF64(output) || input->rows != s.inputs || output->rows != s.outputs ||
      input->columns != output->columns) {
    lower::Report(err, "efga_DerivePolyCoefs", 2,
                  "Invalid points: %d x n inputs and %d x n outputs (f64) are needed", s.inputs, s.outputs);
    return nullptr;
  }
  const int32_t n = input->columns;
  const std::vector<int> e = s.order > 1 ? TermExponents(s.order, s.inputs) : std::vector<int>{};
  Eigen::MatrixXd design(n, s.terms + 1);
  for (int32_t k = 0; k < n; ++k) {
    design(k, 0) = 1.0;
    for (int32_t t = 0; t < s.terms; ++t) {
      double v = 1.0;
      for (int32_t j = 0; j < s.inputs; ++j) {
        const int p = s.order == 1 ? (j == t ? 1 : 0) : e[static_cast<std::size_t>(t) * static_cast<std::size_t>(s.inputs) + static_cast<std::size_t>(j)];
        if (p) v *= std::pow(Get(*input, j, k), p);
      }
      design(k, t + 1) = v;
    }
  }
  const Eigen::MatrixXd values = Read(*output).transpose();
  if (!design.allFinite() || !values.allFinite()) {
    lower::Report(err, "efga_DerivePolyCoefs", 3, "Points are not finite");
    return nullptr;
  }
  Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(design);
  if (qr.rank() < s.terms + 1) {
    lower::Report(err, "efga_DerivePolyCoefs", 4,
                  "Too few independent points (%d) for %d unknowns", static_cast<int>(qr.rank()), s.terms + 1);
    return nullptr;
  }
  const Eigen::MatrixXd beta = qr.solve(values); // (terms + 1) x outputs
  for (int32_t i = 0; i < s.outputs; ++i) {
    Set(*poly->constants, i, 0, beta(0, i));
    for (int32_t t = 0; t < s.terms; ++t) Set(*poly->coefficients, i, t, beta(t + 1, i));
  }
  return poly;
} TAVIRON_GUARD(err, nullptr)

Efga_PolynomialPrivate *efga_PolynomialCopyToPrivate(const Efga_Polynomial *poly,
                                                     Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Shape s;
  if (!PolyShape(poly, s)) {
    lower::Report(err, "efga_PolynomialCopyToPrivate", 1, "Invalid polynomial");
    return nullptr;
  }
  const int64_t size = 16 + 8 * int64_t{s.outputs} * (int64_t{s.terms} + 1);
  if (size > std::numeric_limits<int32_t>::max() - static_cast<int64_t>(sizeof(Efga_PolynomialPrivate))) {
    lower::Report(err, "efga_PolynomialCopyToPrivate", 2, "Polynomial too large for the private form");
    return nullptr;
  }
  auto *form = static_cast<Efga_PolynomialPrivate *>(
      emsc_HeapMalloc(sizeof(Efga_PolynomialPrivate) + static_cast<std::size_t>(size)));
  if (!form) {
    lower::Report(err, "efga_PolynomialCopyToPrivate", 3, "Error allocating private polynomial");
    return nullptr;
  }
  form->size = static_cast<int32_t>(size);
  form->data = reinterpret_cast<uint8_t *>(form + 1);
  uint8_t *p = form->data;
  PutI32(p, s.order);
  PutI32(p + 4, s.outputs);
  PutI32(p + 8, s.inputs);
  PutI32(p + 12, s.terms);
  p += 16;
  for (int32_t i = 0; i < s.outputs; ++i)
    for (int32_t t = 0; t < s.terms; ++t, p += 8) PutF64(p, Get(*poly->coefficients, i, t));
  for (int32_t i = 0; i < s.outputs; ++i, p += 8) PutF64(p, Get(*poly->constants, i, 0));
  return form;
} TAVIRON_GUARD(err, nullptr)

Efga_Polynomial *efga_PolynomialCopyFromPrivate(const Efga_PolynomialPrivate *form,
                                                Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!form || form->size < 0 || (form->size > 0 && !form->data)) {
    lower::Report(err, "efga_PolynomialCopyFromPrivate", 1, "Invalid private polynomial");
    return nullptr;
  }
  if (form->size < 16) {
    lower::Report(err, "efga_PolynomialCopyFromPrivate", 2,
                  "Private polynomial truncated: %d bytes, the header alone needs 16", form->size);
    return nullptr;
  }
  const uint8_t *p = form->data;
  const int32_t order = GetI32(p), outputs = GetI32(p + 4), inputs = GetI32(p + 8), terms = GetI32(p + 12);
  const int64_t expectedTerms = TermCount64(order, inputs);
  if (outputs < 1 || expectedTerms < 0 || expectedTerms != terms) {
    lower::Report(err, "efga_PolynomialCopyFromPrivate", 3,
                  "Corrupt private polynomial: order %d, %d outputs, %d inputs, %d terms", order,
                  outputs, inputs, terms);
    return nullptr;
  }
  const int64_t size = 16 + 8 * int64_t{outputs} * (int64_t{terms} + 1);
  if (size != form->size) {
    lower::Report(err, "efga_PolynomialCopyFromPrivate", 4,
                  "Private polynomial %s: %d bytes where its header announces %lld",
                  size > form->size ? "truncated" : "has trailing bytes", form->size,
                  static_cast<long long>(size));
    return nullptr;
  }
  Efga_Polynomial *poly = PolyShapeTo(nullptr, order, outputs, inputs, "efga_PolynomialCopyFromPrivate", 5, err);
  if (!poly) return nullptr;
  p += 16;
  for (int32_t i = 0; i < outputs; ++i)
    for (int32_t t = 0; t < terms; ++t, p += 8) Set(*poly->coefficients, i, t, GetF64(p));
  for (int32_t i = 0; i < outputs; ++i, p += 8) Set(*poly->constants, i, 0, GetF64(p));
  return poly;
} TAVIRON_GUARD(err, nullptr)

// ================================ dense matrices ================================================

Egda_BaseData *efga_MatrixMultiply(const Egda_BaseData *a, const Egda_BaseData *b,
                                   Egda_BaseData *result, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!IsF64(a) || !IsF64(b)) {
    lower::Report(err, "efga_MatrixMultiply", 1, "Invalid matrix: f64 matrices are needed");
    return nullptr;
  }
  if (a->columns != b->rows) {
    lower::Report(err, "efga_MatrixMultiply", 2, "Cannot multiply %d x %d by %d x %d", a->rows,
                  a->columns, b->rows, b->columns);
    return nullptr;
  }
  return Store(Read(*a) * Read(*b), result, "efga_MatrixMultiply", 3, err);
} TAVIRON_GUARD(err, nullptr)

Egda_BaseData *efga_MatrixAdd(const Egda_BaseData *a, const Egda_BaseData *b,
                              Egda_BaseData *result, Eerr_ErrorReport **err) try {
  return AddOrSubtract(a, b, result, 1.0, "efga_MatrixAdd", err);
} TAVIRON_GUARD(err, nullptr)

Egda_BaseData *efga_MatrixSubtract(const Egda_BaseData *a, const Egda_BaseData *b,
                                   Egda_BaseData *result, Eerr_ErrorReport **err) try {
  return AddOrSubtract(a, b, result, -1.0, "efga_MatrixSubtract", err);
} TAVIRON_GUARD(err, nullptr)

Egda_BaseData *efga_MatrixMultiplyScalar(const Egda_BaseData *a, double s, Egda_BaseData *result,
                                         Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!IsF64(a)) {
    lower::Report(err, "efga_MatrixMultiplyScalar", 1, "Invalid matrix: an f64 matrix is needed");
    return nullptr;
  }
  return Store(Read(*a) * s, result, "efga_MatrixMultiplyScalar", 2, err);
} TAVIRON_GUARD(err, nullptr)

Egda_BaseData *efga_MatrixTranspose(const Egda_BaseData *a, Egda_BaseData *result,
                                    Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!IsF64(a)) {
    lower::Report(err, "efga_MatrixTranspose", 1, "Invalid matrix: an f64 matrix is needed");
    return nullptr;
  }
  const Eigen::MatrixXd t = Read(*a).transpose();
  return Store(t, result, "efga_MatrixTranspose", 2, err);
} TAVIRON_GUARD(err, nullptr)

double efga_MatrixTrace(const Egda_BaseData *a) try {
  if (!CheckSquare(a)) return std::numeric_limits<double>::quiet_NaN();
  double sum = 0.0;
  for (int32_t i = 0; i < a->rows; ++i) sum += Get(*a, i, i);
  return sum;
} TAVIRON_GUARD_QUIET(std::numeric_limits<double>::quiet_NaN())

Egda_BaseData *efga_MatrixShift(const Egda_BaseData *matrix, const Egda_BaseData *vector,
                                Egda_BaseData *result, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!IsF64(matrix) || !IsF64(vector)) {
    lower::Report(err, "efga_MatrixShift", 1, "Invalid matrix: f64 matrices are needed");
    return nullptr;
  }
  if (vector->rows != matrix->rows || vector->columns != 1) {
    lower::Report(err, "efga_MatrixShift", 2, "Shift vector must be %d x 1, not %d x %d",
                  matrix->rows, vector->rows, vector->columns);
    return nullptr;
  }
  Eigen::MatrixXd m = Read(*matrix);
  m.colwise() += Read(*vector).col(0);
  return Store(m, result, "efga_MatrixShift", 3, err);
} TAVIRON_GUARD(err, nullptr)

int32_t efga_MatrixSVDF64(Egda_BaseData *a, Egda_BaseData *w, Egda_BaseData *v,
                          Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!IsF64(a) || !w || !v) {
    lower::Report(err, "efga_MatrixSVDF64", 1, "Invalid arguments: an f64 matrix and the w and v matrices are needed");
    return -1;
  }
  const Eigen::MatrixXd m = Read(*a);
  if (!m.allFinite()) {
    lower::Report(err, "efga_MatrixSVDF64", 2, "Matrix holds values that are not finite");
    return -1;
  }
  const Eigen::Index rows = m.rows(), columns = m.cols(), k = std::min(rows, columns);
  Eigen::JacobiSVD<Eigen::MatrixXd> svd(m, Eigen::ComputeThinU | Eigen::ComputeFullV);
  Eigen::MatrixXd u = Eigen::MatrixXd::Zero(rows, columns);
  u.leftCols(k) = svd.matrixU().leftCols(k);
  Eigen::MatrixXd values = Eigen::MatrixXd::Zero(columns, 1);
  values.topRows(k) = svd.singularValues().head(k);
  if (!Store(values, w, "efga_MatrixSVDF64", 3, err) ||
      !Store(svd.matrixV(), v, "efga_MatrixSVDF64", 4, err))
    return -1;
  Fill(*a, u);
  return 0;
} TAVIRON_GUARD(err, -1)

int32_t efga_MatrixEigensystem(const Egda_BaseData *matrix, Egda_BaseData *eigenvalues,
                               Egda_BaseData *eigenvectors, int32_t *rank, double *sum,
                               Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!CheckSquare(matrix) || !eigenvalues || !eigenvectors) {
    lower::Report(err, "efga_MatrixEigensystem", 1,
                  "Invalid arguments: a square f64 matrix and the eigenvalue and eigenvector matrices are needed");
    return -1;
  }
  const Eigen::MatrixXd m = Read(*matrix);
  const double scale = m.size() ? m.cwiseAbs().maxCoeff() : 0.0;
  if (!m.allFinite() || (m - m.transpose()).cwiseAbs().maxCoeff() > 1e-10 * std::max(1.0, scale)) {
    lower::Report(err, "efga_MatrixEigensystem", 2, "Matrix is not symmetric (or not finite)");
    return -1;
  }
  Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver(m);
  if (solver.info() != Eigen::Success) {
    lower::Report(err, "efga_MatrixEigensystem", 3, "Eigensystem did not converge");
    return -1;
  }
  const Eigen::Index n = m.rows();
  Eigen::MatrixXd values(n, 1), vectors(n, n);
  for (Eigen::Index k = 0; k < n; ++k) { // the solver sorts ascending: reverse
    values(k, 0) = solver.eigenvalues()(n - 1 - k);
    Eigen::VectorXd x = solver.eigenvectors().col(n - 1 - k);
    Eigen::Index largest = 0;
    x.cwiseAbs().maxCoeff(&largest);
    if (x(largest) < 0) x = -x; // the largest component positive, so results are repeatable
    vectors.col(k) = x;
  }
  if (!Store(values, eigenvalues, "efga_MatrixEigensystem", 4, err) ||
      !Store(vectors, eigenvectors, "efga_MatrixEigensystem", 5, err))
    return -1;
  const double top = n ? std::abs(values(0, 0)) : 0.0;
  const double threshold = static_cast<double>(n) * std::numeric_limits<double>::epsilon() * top;
  int32_t count = 0;
  for (Eigen::Index k = 0; k < n; ++k)
    if (values(k, 0) > threshold) ++count;
  if (rank) *rank = count;
  if (sum) *sum = values.sum();
  return 0;
} TAVIRON_GUARD(err, -1)

Egda_BaseData *efga_MatrixCholeskyDecomposition(const Egda_BaseData *matrix,
                                                Egda_BaseData *result, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!CheckSquare(matrix)) {
    lower::Report(err, "efga_MatrixCholeskyDecomposition", 1, "Invalid matrix: a square f64 matrix is needed");
    return nullptr;
  }
  const Eigen::MatrixXd m = Read(*matrix);
  const double scale = m.size() ? m.cwiseAbs().maxCoeff() : 0.0;
  if (!m.allFinite() || (m - m.transpose()).cwiseAbs().maxCoeff() > 1e-10 * std::max(1.0, scale)) {
    lower::Report(err, "efga_MatrixCholeskyDecomposition", 2, "Matrix is not symmetric (or not finite)");
    return nullptr;
  }
  Eigen::LLT<Eigen::MatrixXd> llt(m);
  if (llt.info() != Eigen::Success) {
    lower::Report(err, "efga_MatrixCholeskyDecomposition", 3, "Matrix is not positive definite");
    return nullptr;
  }
  const Eigen::MatrixXd u = llt.matrixU();
  return Store(u, result, "efga_MatrixCholeskyDecomposition", 4, err);
} TAVIRON_GUARD(err, nullptr)

Egda_BaseData *efga_SolveLinearEqs(const Egda_BaseData *a, const Egda_BaseData *b,
                                   Egda_BaseData *x, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!CheckSquare(a) || !IsF64(b)) {
    lower::Report(err, "efga_SolveLinearEqs", 1, "Invalid system: a square f64 matrix and an f64 right-hand side are needed");
    return nullptr;
  }
  if (b->rows != a->rows) {
    lower::Report(err, "efga_SolveLinearEqs", 2, "Right-hand side has %d rows, the system %d",
                  b->rows, a->rows);
    return nullptr;
  }
  const Eigen::MatrixXd m = Read(*a);
  Eigen::FullPivLU<Eigen::MatrixXd> lu(m);
  if (!m.allFinite() || !lu.isInvertible()) {
    lower::Report(err, "efga_SolveLinearEqs", 3, "System is singular");
    return nullptr;
  }
  return Store(lu.solve(Read(*b)), x, "efga_SolveLinearEqs", 4, err);
} TAVIRON_GUARD(err, nullptr)

} // extern "C"

// ---- The stored design of polynomials ----------------------------------------------------------

extern "C" Emif_Design *efga_PolynomialDesignDefine(Emif_Dictionary *dictionary,
                                                    Eerr_ErrorReport **err) try {
  lower::Clear(err);
  lower::CalleeReport inner;
  Emif_Design *design = taviron::record::Define(taviron::efga::kPolynomialDesign, dictionary, &inner);
  if (!design) lower::ReportCallee(err, inner, "efga_PolynomialDesignDefine", 1, "emif_DefineObject");
  return design;
} TAVIRON_GUARD(err, nullptr)

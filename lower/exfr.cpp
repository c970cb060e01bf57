// Coordinate transforms as chains of affine and polynomial steps.
#include "exfr.h"


#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "ecvt.h"
#include "efga_internal.h"
#include "egda_pixel.h"
#include "ehfa_internal.h"
#include "emsc.h"
#include "eprj_internal.h"
#include "internal.h"
#include "record.h"

namespace lower = taviron::lower;
namespace record = taviron::record;

namespace {

enum StepKind : int32_t { kAffine = 1, kPolynomial = 2, kProjection = 3 };

// One step of a chain. Affine: m = a, b, c, d, e, f. Polynomial: forward (2-D, 2 outputs) and
// the explicit inverse or null. Projection: a pair reprojecting from its source to its
// destination (native units), or back when `inverse` is set. A step owns its polynomials and
// its pair.
struct Step {
  int32_t kind;
  double m[6];
  Efga_Polynomial *forward;
  Efga_Polynomial *reverse;
  Eprj_ProjectionPair *pair;
  int32_t inverse;
};

} // namespace

struct _exfr_XForm {
  int32_t count;
  Step *steps; // emsc heap array of count steps (null when count is 0)
};

namespace {

using Affine = std::array<double, 6>;

constexpr Affine kIdentity = {1, 0, 0, 0, 1, 0};

// b first, then a.
Affine Then(const Affine &a, const Affine &b) {
  return {a[0] * b[0] + a[1] * b[3], a[0] * b[1] + a[1] * b[4], a[0] * b[2] + a[1] * b[5] + a[2],
          a[3] * b[0] + a[4] * b[3], a[3] * b[1] + a[4] * b[4], a[3] * b[2] + a[4] * b[5] + a[5]};
}

bool InvertAffine(const Affine &m, Affine &out) {
  const double det = m[0] * m[4] - m[1] * m[3];
  const double scale = std::abs(m[0] * m[4]) + std::abs(m[1] * m[3]);
  if (!std::isfinite(det) || !(std::abs(det) > 1e-14 * scale)) return false;
  out = {m[4] / det, -m[1] / det, 0, -m[3] / det, m[0] / det, 0};
  out[2] = -(out[0] * m[2] + out[1] * m[5]);
  out[5] = -(out[3] * m[2] + out[4] * m[5]);
  return true;
}

Affine AffineOf(const Step &s) {
  Affine a;
  std::copy(std::begin(s.m), std::end(s.m), a.begin());
  return a;
}

Step AffineStep(const Affine &a) {
  Step s{};
  s.kind = kAffine;
  std::copy(a.begin(), a.end(), s.m);
  return s;
}

double Coef(const Efga_Polynomial *p, int32_t r, int32_t c) {
  return lower::At<double>(*p->coefficients, r, c);
}
double Const(const Efga_Polynomial *p, int32_t r) { return lower::At<double>(*p->constants, r, 0); }

// Coefficients of a first-order 2-D polynomial.
Affine AffineOfPoly(const Efga_Polynomial *p) {
  return {Coef(p, 0, 0), Coef(p, 0, 1), Const(p, 0), Coef(p, 1, 0), Coef(p, 1, 1), Const(p, 1)};
}

bool IsFirstOrder(const Step &s) {
  return s.kind == kAffine || (s.kind == kPolynomial && s.forward->order == 1);
}

Affine LinearOf(const Step &s) { return s.kind == kAffine ? AffineOf(s) : AffineOfPoly(s.forward); }

void FreeStep(Step &s) {
  efga_PolynomialDelete(s.forward, nullptr);
  efga_PolynomialDelete(s.reverse, nullptr);
  s.forward = s.reverse = nullptr;
  eprj_ProjectionPairFree(&s.pair);
}

bool CopyStep(const Step &from, Step &to, const char *reporter, int32_t code,
              Eerr_ErrorReport **err) {
  to = from;
  to.forward = to.reverse = nullptr;
  to.pair = nullptr;
  if (from.kind == kProjection) {
    lower::CalleeReport inner;
    to.pair = eprj_ProjectionPairCopy(from.pair, &inner);
    if (!to.pair) {
      lower::ReportCallee(err, inner, reporter, code, "eprj_ProjectionPairCopy");
      return false;
    }
    return true;
  }
  if (from.kind != kPolynomial) return true;
  to.forward = efga_PolynomialCopy(from.forward, nullptr, err);
  if (to.forward && from.reverse) to.reverse = efga_PolynomialCopy(from.reverse, nullptr, err);
  if (!to.forward || (from.reverse && !to.reverse)) {
    FreeStep(to);
    lower::Report(err, reporter, code, "Error returned from efga_PolynomialCopy");
    return false;
  }
  return true;
}

// Steps under construction; owns the polynomials of its steps until installed.
class Chain {
public:
  Chain() = default;
  Chain(const Chain &) = delete;
  Chain &operator=(const Chain &) = delete;
  ~Chain() {
    for (Step &s : steps_) FreeStep(s);
  }

  // Takes over the step, merging adjacent affine steps and dropping identities. The room is made
  // first: a step that cannot be kept is freed before the exception goes on.
  void Add(Step s) {
    try {
      if (steps_.size() == steps_.capacity()) steps_.reserve(std::max<std::size_t>(4, 2 * steps_.size()));
    } catch (...) {
      FreeStep(s);
      throw;
    }
    if (s.kind == kAffine) {
      Affine a = AffineOf(s);
      if (!steps_.empty() && steps_.back().kind == kAffine) {
        a = Then(a, AffineOf(steps_.back()));
        steps_.pop_back();
      }
      if (a != kIdentity) steps_.push_back(AffineStep(a));
      return;
    }
    steps_.push_back(s);
  }

  bool AddCopies(const _exfr_XForm *x, const char *reporter, int32_t code, Eerr_ErrorReport **err) {
    if (!x) return true;
    for (int32_t i = 0; i < x->count; ++i) {
      Step s;
      if (!CopyStep(x->steps[i], s, reporter, code, err)) return false;
      Add(s);
    }
    return true;
  }

  // Moves the steps into target (its old steps freed) or a new transform.
  _exfr_XForm *Install(_exfr_XForm *target, const char *reporter, int32_t code,
                       Eerr_ErrorReport **err) {
    Step *array = nullptr;
    if (!steps_.empty()) {
      array = static_cast<Step *>(emsc_HeapMalloc(steps_.size() * sizeof(Step)));
      if (!array) {
        lower::Report(err, reporter, code, "Error allocating transform steps");
        return nullptr;
      }
    }
    _exfr_XForm *x = target;
    if (!x) {
      x = static_cast<_exfr_XForm *>(emsc_HeapMalloc(sizeof(_exfr_XForm)));
      if (!x) {
        emsc_HeapFree(array);
        lower::Report(err, reporter, code, "Error allocating transform");
        return nullptr;
      }
    }
    for (int32_t i = 0; i < x->count; ++i) FreeStep(x->steps[i]);
    emsc_HeapFree(x->steps);
    if (!steps_.empty()) std::memcpy(static_cast<void *>(array), steps_.data(), steps_.size() * sizeof(Step));
    x->steps = array;
    x->count = static_cast<int32_t>(steps_.size());
    steps_.clear();
    return x;
  }

private:
  std::vector<Step> steps_;
};

// A copy of a polynomial as a 2-D polynomial of 2 outputs. A first-order polynomial whose term
// count is that of a 2-D polynomial of order k is read as that polynomial.
Efga_Polynomial *Copy2D(const Efga_Polynomial *p, const char *reporter, int32_t code,
                        Eerr_ErrorReport **err) {
  const int32_t inputs = efga_PolynomialInputCount(p);
  if (inputs < 1 || p->coefficients->rows != 2) {
    lower::Report(err, reporter, code, "Invalid polynomial: a 2-D polynomial with 2 outputs is needed");
    return nullptr;
  }
  int32_t order = p->order;
  if (inputs != 2) {
    order = 0;
    if (p->order == 1)
      for (int32_t k = 1; order == 0; ++k) {
        const int32_t terms = efga_PolynomialTermCount(k, 2);
        if (terms < 0 || terms > p->coefficients->columns) break;
        if (terms == p->coefficients->columns) order = k;
      }
    if (order == 0) {
      lower::Report(err, reporter, code,
                    "Invalid polynomial: %d inputs where a 2-D polynomial is needed", inputs);
      return nullptr;
    }
  }
  Efga_Polynomial *copy = efga_PolynomialCopy(p, nullptr, err);
  if (!copy) {
    lower::Report(err, reporter, code, "Error returned from efga_PolynomialCopy");
    return nullptr;
  }
  copy->order = order;
  return copy;
}

bool Compact(const Egda_BaseData &m) {
  return lower::IsColumnMajor(m) && m.elementSize == 8 && m.pitch == 16;
}

bool ValidPoints(const Egda_BaseData *m) {
  return m && m->pixelType == EGDA_TYPE_F64 && m->origin && m->rows == 2 && m->columns >= 0;
}

void ApplyAffine(const Affine &a, Egda_BaseData &m, int32_t n) {
  if (Compact(m)) {
    double *p = reinterpret_cast<double *>(m.origin);
    for (int32_t k = 0; k < n; ++k, p += 2) {
      const double x = p[0], y = p[1];
      p[0] = a[0] * x + a[1] * y + a[2];
      p[1] = a[3] * x + a[4] * y + a[5];
    }
    return;
  }
  for (int32_t k = 0; k < n; ++k) {
    double &x = lower::At<double>(m, 0, k);
    double &y = lower::At<double>(m, 1, k);
    const double x0 = x, y0 = y;
    x = a[0] * x0 + a[1] * y0 + a[2];
    y = a[3] * x0 + a[4] * y0 + a[5];
  }
}

// Reprojects the first n points of m in place (all or nothing).
bool ApplyProjection(const Step &s, Egda_BaseData &m, int32_t n, const char *reporter, int32_t code,
                     Eerr_ErrorReport **err) {
  lower::CalleeReport inner;
  int32_t status;
  if (Compact(m)) {
    status = eprj_ProjectionPairTransform(s.pair, s.inverse, n, reinterpret_cast<double *>(m.origin),
                                          &inner);
  } else {
    std::vector<double> xy(2 * static_cast<std::size_t>(n));
    for (int32_t k = 0; k < n; ++k) {
      xy[2 * k] = lower::At<double>(m, 0, k);
      xy[2 * k + 1] = lower::At<double>(m, 1, k);
    }
    status = eprj_ProjectionPairTransform(s.pair, s.inverse, n, xy.data(), &inner);
    if (status == 0)
      for (int32_t k = 0; k < n; ++k) {
        lower::At<double>(m, 0, k) = xy[2 * k];
        lower::At<double>(m, 1, k) = xy[2 * k + 1];
      }
  }
  if (status != 0) lower::ReportCallee(err, inner, reporter, code, "eprj_ProjectionPairTransform");
  return status == 0;
}

// Applies the chain, from step `first` on, in place to the first n points of m.
bool ApplyInPlace(const _exfr_XForm *x, Egda_BaseData &m, int32_t n, const char *reporter,
                  int32_t code, Eerr_ErrorReport **err, int32_t first = 0) {
  if (!x) return true;
  for (int32_t i = first; i < x->count; ++i) {
    const Step &s = x->steps[i];
    if (s.kind == kAffine) {
      ApplyAffine(AffineOf(s), m, n);
      continue;
    }
    if (s.kind == kProjection) {
      if (!ApplyProjection(s, m, n, reporter, code, err)) return false;
      continue;
    }
    Egda_BaseData view = m; // the first n columns
    view.columns = n;
    view.count = 2 * n;
    if (!efga_PolyTransCoords(&view, &view, s.forward, 0, err)) {
      lower::Report(err, reporter, code, "Error returned from efga_PolyTransCoords");
      return false;
    }
  }
  return true;
}

// Whether the chain holds a step that can fail for some points (a reprojection).
bool CanFail(const _exfr_XForm *x) {
  for (int32_t i = 0; x && i < x->count; ++i)
    if (x->steps[i].kind == kProjection) return true;
  return false;
}

// The first n points of m, transformed by the whole chain, into xy (x0, y0, x1, ...); m itself
// is not touched, so a failure changes nothing.
bool TransformedCopy(const _exfr_XForm *x, const Egda_BaseData &m, int32_t n, std::vector<double> &xy,
                     const char *reporter, int32_t code, Eerr_ErrorReport **err) {
  xy.resize(2 * static_cast<std::size_t>(n));
  for (int32_t k = 0; k < n; ++k) {
    xy[2 * k] = lower::At<double>(m, 0, k);
    xy[2 * k + 1] = lower::At<double>(m, 1, k);
  }
  Egda_BaseData view = {};
  view.rows = 2;
  view.columns = n;
  view.pixelType = EGDA_TYPE_F64;
  view.objectType = EGDA_MATRIX;
  view.data = view.origin = reinterpret_cast<uint8_t *>(xy.data());
  view.pitch = 16;
  view.count = 2 * n;
  view.elementSize = 8;
  return ApplyInPlace(x, view, n, reporter, code, err);
}

void Store(const std::vector<double> &xy, Egda_BaseData &m, int32_t n) {
  for (int32_t k = 0; k < n; ++k) {
    lower::At<double>(m, 0, k) = xy[2 * k];
    lower::At<double>(m, 1, k) = xy[2 * k + 1];
  }
}

Egda_BaseData *TransformPoints(const _exfr_XForm *xform, const Egda_BaseData *source,
                               Egda_BaseData *target, int32_t n, const char *reporter,
                               Eerr_ErrorReport **err) {
  if (!ValidPoints(source)) {
    lower::Report(err, reporter, 1, "Invalid source: a 2 x N f64 matrix is needed");
    return nullptr;
  }
  if (n < 0 || n > source->columns) {
    lower::Report(err, reporter, 2, "Invalid point count %d for %d points", n, source->columns);
    return nullptr;
  }
  Egda_BaseData *out = target;
  if (!out) {
    out = egda_BaseDataCreate(2, n, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, err);
    if (!out) {
      lower::Report(err, reporter, 3, "Error returned from egda_BaseDataCreate");
      return nullptr;
    }
  } else if (!ValidPoints(out) || out->columns < n) {
    lower::Report(err, reporter, 4, "Invalid target: a 2 x %d f64 matrix is needed", n);
    return nullptr;
  }
  if (CanFail(xform)) { // all or nothing: the target is written only when every point made it
    std::vector<double> xy;
    if (!TransformedCopy(xform, *source, n, xy, reporter, 5, err)) {
      if (!target) egda_BaseDataDelete(out, nullptr);
      return nullptr;
    }
    Store(xy, *out, n);
    return out;
  }
  int32_t done = 0; // steps already applied
  if (out != source) {
    if (Compact(*out) && Compact(*source) && xform && xform->count > 0 &&
        xform->steps[0].kind == kAffine) {
      // One pass: the first step reads the source and writes the target.
      const Affine a = AffineOf(xform->steps[0]);
      const double *p = reinterpret_cast<const double *>(source->origin);
      double *q = reinterpret_cast<double *>(out->origin);
      for (int32_t k = 0; k < n; ++k, p += 2, q += 2) {
        const double x = p[0], y = p[1];
        q[0] = a[0] * x + a[1] * y + a[2];
        q[1] = a[3] * x + a[4] * y + a[5];
      }
      done = 1;
    } else if (Compact(*out) && Compact(*source)) {
      std::memmove(out->origin, source->origin, static_cast<std::size_t>(n) * 16);
    } else {
      for (int32_t k = 0; k < n; ++k) {
        lower::At<double>(*out, 0, k) = lower::At<double>(*source, 0, k);
        lower::At<double>(*out, 1, k) = lower::At<double>(*source, 1, k);
      }
    }
  }
  if (!ApplyInPlace(xform, *out, n, reporter, 5, err, done)) {
    if (!target) egda_BaseDataDelete(out, nullptr);
    return nullptr;
  }
  return out;
}

bool SamePoly(const Efga_Polynomial *a, const Efga_Polynomial *b) {
  if (!a || !b) return a == b;
  if (a->order != b->order || a->coefficients->rows != b->coefficients->rows ||
      a->coefficients->columns != b->coefficients->columns)
    return false;
  for (int32_t r = 0; r < a->coefficients->rows; ++r) {
    if (Const(a, r) != Const(b, r)) return false;
    for (int32_t c = 0; c < a->coefficients->columns; ++c)
      if (Coef(a, r, c) != Coef(b, r, c)) return false;
  }
  return true;
}

bool AffineOfChain(const _exfr_XForm *x, Affine &out) {
  out = kIdentity;
  if (!x) return true;
  for (int32_t i = 0; i < x->count; ++i) {
    if (!IsFirstOrder(x->steps[i])) return false;
    out = Then(LinearOf(x->steps[i]), out);
  }
  return true;
}

std::string Number(double v) { return lower::Format("%.17g", v); }

std::string Indent(int32_t columns) {
  if (columns < 0) columns = 0;
  return std::string(static_cast<std::size_t>(columns / 8), '\t') +
         std::string(static_cast<std::size_t>(columns % 8), ' ');
}

void PrintTerms(std::string &out, const Efga_Polynomial *p) {
  if (!p) return;
  for (int32_t r = 0; r < 2; ++r) {
    for (int32_t c = 0; c < p->coefficients->columns; ++c) out += " " + Number(Coef(p, r, c));
    out += " " + Number(Const(p, r));
  }
}

// A string statement argument: double-quoted, with backslash escapes.
std::string Quoted(const Eprj_CharStr &s) {
  std::string out = "\"";
  if (s.count > 0 && s.data)
    for (const char *c = s.data; *c && c < s.data + s.count - 1; ++c) {
      if (*c == '"' || *c == '\\') out += '\\';
      out += *c;
    }
  return out + "\"";
}

// The projection statements of a PROJPAIR block's INPUT or OUTPUT part.
void PrintProjection(std::string &out, const std::string &lead, const Eprj_ProParameters *p) {
  if (!p) return;
  if (p->proType == EPRJ_INTERNAL)
    out += lead + lower::Format("PROTYPE I %d ;\n", p->proNumber);
  else if (p->proType == EPRJ_EXTERNAL)
    out += lead + "PROTYPE X ;\n";
  else
    out += lead + "PROTYPE \"UNKNOWN\" ;\n";
  if (p->proName.count > 0 && p->proName.data) out += lead + "PRONAME " + Quoted(p->proName) + " ;\n";
  out += lead + lower::Format("ZONE %d ;\n", p->proZone);
  const Eprj_Spheroid &sphere = p->proSpheroid;
  if (sphere.sphereName.count > 0 && sphere.sphereName.data) {
    out += lead + "SPHEROID " + Quoted(sphere.sphereName) + " ;\n";
    if (sphere.datum.datumname.count > 0 && sphere.datum.datumname.data)
      out += lead + "DATUM " + Quoted(sphere.datum.datumname) + " ;\n";
  }
  const int32_t n = p->proParams.data ? std::max(p->proParams.count, 0) : 0;
  out += lead + lower::Format("PARAMETERS %d", n);
  for (int32_t i = 0; i < n; ++i) out += " " + Number(p->proParams.data[i]);
  out += " ;\n";
}

// A transform of one projection step (empty pair: reported), between optional unit scalings:
// the source's units `fromUnits` are taken to the pair's source units first, and the
// destination's native units to `toUnits` last (null names: native units).
_exfr_XForm *FromPair(const Eprj_ProjectionPair *pair, const char *fromUnits, const char *toUnits,
                      const char *reporter, Eerr_ErrorReport **err) {
  if (!pair || !eprj_ProjectionPairParameters(pair, 0)) {
    lower::Report(err, reporter, 1, "Invalid input: an initialised projection pair is needed");
    return nullptr;
  }
  Chain chain;
  lower::CalleeReport inner;
  const char *native[2] = {eprj_ProjectionPairUnits(pair, 0), eprj_ProjectionPairUnits(pair, 1)};
  const char *ends[2][2] = {{fromUnits, native[0]}, {native[1], toUnits}};
  _exfr_XForm *scale[2] = {nullptr, nullptr};
  for (int k = 0; k < 2; ++k) {
    if (!ends[k][0] || !ends[k][1]) continue;
    scale[k] = exfr_XFormCreateFromUnits(ends[k][0], ends[k][1], &inner);
    if (!scale[k]) {
      exfr_XFormFree(&scale[0], nullptr);
      lower::ReportCallee(err, inner, reporter, 2, "exfr_XFormCreateFromUnits");
      return nullptr;
    }
  }
  bool ok = chain.AddCopies(scale[0], reporter, 3, err);
  Step s{};
  s.kind = kProjection;
  if (ok) {
    s.pair = eprj_ProjectionPairCopy(pair, &inner);
    if (!s.pair) {
      lower::ReportCallee(err, inner, reporter, 3, "eprj_ProjectionPairCopy");
      ok = false;
    } else {
      chain.Add(s);
    }
  }
  ok = ok && chain.AddCopies(scale[1], reporter, 3, err);
  exfr_XFormFree(&scale[0], nullptr);
  exfr_XFormFree(&scale[1], nullptr);
  return ok ? chain.Install(nullptr, reporter, 4, err) : nullptr;
}

// A transform of one step applying forward (inverse: reverse when given).
_exfr_XForm *FromPolys(const Efga_Polynomial *forward, const Efga_Polynomial *reverse,
                       const char *reporter, Eerr_ErrorReport **err) {
  if (!forward) {
    lower::Report(err, reporter, 1, "Invalid polynomial");
    return nullptr;
  }
  Step s{};
  s.kind = kPolynomial;
  s.forward = Copy2D(forward, reporter, 2, err);
  if (!s.forward) return nullptr;
  if (reverse) {
    s.reverse = Copy2D(reverse, reporter, 3, err);
    if (!s.reverse) {
      FreeStep(s);
      return nullptr;
    }
  }
  Chain chain;
  if (s.forward->order == 1 && !s.reverse) {
    const Affine a = AffineOfPoly(s.forward);
    FreeStep(s);
    chain.Add(AffineStep(a));
  } else {
    chain.Add(s);
  }
  return chain.Install(nullptr, reporter, 4, err);
}

} // namespace

extern "C" {

_exfr_XForm *exfr_XFormNew(void) try {
  return static_cast<_exfr_XForm *>(emsc_HeapMalloc(sizeof(_exfr_XForm)));
} TAVIRON_GUARD_QUIET(nullptr)

_exfr_XForm *exfr_XFormCreateUnity(void) try { return exfr_XFormNew(); } TAVIRON_GUARD_QUIET(nullptr)

_exfr_XForm *exfr_XFormCreate(const Efga_Polynomial *poly, int32_t, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return FromPolys(poly, nullptr, "exfr_XFormCreate", err);
} TAVIRON_GUARD(err, nullptr)

_exfr_XForm *exfr_XFormCreateFromAffinePoly(const Efga_Polynomial *poly, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!poly || poly->order != 1 || efga_PolynomialInputCount(poly) != 2 ||
      poly->coefficients->rows != 2) {
    lower::Report(err, "exfr_XFormCreateFromAffinePoly", 1,
                  "Invalid polynomial: a first-order 2-D polynomial is needed");
    return nullptr;
  }
  Chain chain;
  chain.Add(AffineStep(AffineOfPoly(poly)));
  return chain.Install(nullptr, "exfr_XFormCreateFromAffinePoly", 2, err);
} TAVIRON_GUARD(err, nullptr)

_exfr_XForm *exfr_XFormCreateUsingCoeffs(double a, double b, double c, double d, double e,
                                         double f, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Chain chain;
  chain.Add(AffineStep({a, b, c, d, e, f}));
  return chain.Install(nullptr, "exfr_XFormCreateUsingCoeffs", 1, err);
} TAVIRON_GUARD(err, nullptr)

_exfr_XForm *exfr_XFormCreateFromMapInfo(const Eprj_MapInfo *info, int32_t direction,
                                         Eerr_ErrorReport **err) try {
  static const char *reporter = "exfr_XFormCreateFromMapInfo";
  lower::Clear(err);
  if (!info || (direction != 0 && direction != 1)) {
    lower::Report(err, reporter, 1, "Invalid map information or direction");
    return nullptr;
  }
  lower::CalleeReport inner;
  Efga_Polynomial *poly = eprj_MapInfoToPolynomial(info, 0, &inner);
  if (!poly) {
    lower::ReportCallee(err, inner, reporter, 2, "eprj_MapInfoToPolynomial");
    return nullptr;
  }
  _exfr_XForm *pixelToMap = exfr_XFormCreateFromAffinePoly(poly, &inner);
  efga_PolynomialDelete(poly, nullptr);
  if (!pixelToMap) {
    lower::ReportCallee(err, inner, reporter, 3, "exfr_XFormCreateFromAffinePoly");
    return nullptr;
  }
  if (direction == 0) return pixelToMap;
  _exfr_XForm *mapToPixel = exfr_XFormInvert(pixelToMap, nullptr, &inner);
  exfr_XFormFree(&pixelToMap, nullptr);
  if (!mapToPixel) lower::ReportCallee(err, inner, reporter, 4, "exfr_XFormInvert");
  return mapToPixel;
} TAVIRON_GUARD(err, nullptr)

_exfr_XForm *exfr_XFormCreateFromUnits(const char *fromUnits, const char *toUnits,
                                       Eerr_ErrorReport **err) try {
  static const char *reporter = "exfr_XFormCreateFromUnits";
  lower::Clear(err);
  // Unit conversions are affine in one variable: the images of 0 and 1 give offset and scale.
  const double values[2] = {0.0, 1.0};
  double results[2] = {0.0, 1.0};
  lower::CalleeReport inner;
  ecvt_UnitsConvertByName(values, fromUnits, results, toUnits, 2, &inner);
  if (inner && inner->severity != EERR_WARNING) {
    lower::ReportCallee(err, inner, reporter, 1, "ecvt_UnitsConvertByName");
    return nullptr;
  }
  inner.Drop(); // "other" units: the values pass unchanged
  const double offset = results[0], scale = results[1] - results[0];
  Chain chain;
  chain.Add(AffineStep({scale, 0.0, offset, 0.0, scale, offset}));
  return chain.Install(nullptr, reporter, 2, err);
} TAVIRON_GUARD(err, nullptr)

_exfr_XForm *exfr_XFormCreateFromPolyPair(const Efga_Polynomial *forward,
                                          const Efga_Polynomial *reverse, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return FromPolys(forward, reverse, "exfr_XFormCreateFromPolyPair", err);
} TAVIRON_GUARD(err, nullptr)

_exfr_XForm *exfr_XFormCreateFromProjPair(const Eprj_ProjectionPair *pair, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return FromPair(pair, nullptr, nullptr, "exfr_XFormCreateFromProjPair", err);
} TAVIRON_GUARD(err, nullptr)

_exfr_XForm *exfr_XFormCreateFromProjPairAndMapInfo(const Eprj_ProjectionPair *pair,
                                                    const Eprj_MapInfo *info,
                                                    const char *fromUnits, const char *toUnits,
                                                    Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!fromUnits && info && info->units.count > 0 && info->units.data) fromUnits = info->units.data;
  return FromPair(pair, fromUnits, toUnits, "exfr_XFormCreateFromProjPairAndMapInfo", err);
} TAVIRON_GUARD(err, nullptr)

_exfr_XForm *exfr_XFormCreateReprojFromProjPair(const Eprj_ProjectionPair *pair,
                                                const Eprj_MapInfo *info, int32_t /*option*/,
                                                int32_t /*reserved*/, Eerr_ErrorReport **err) try {
  static const char *reporter = "exfr_XFormCreateReprojFromProjPair";
  lower::Clear(err);
  if (!info) {
    lower::Report(err, reporter, 1, "Invalid input map information");
    return nullptr;
  }
  lower::CalleeReport inner;
  _exfr_XForm *toPixel = exfr_XFormCreateFromMapInfo(info, 1, &inner);
  if (!toPixel) {
    lower::ReportCallee(err, inner, reporter, 2, "exfr_XFormCreateFromMapInfo");
    return nullptr;
  }
  if (!pair) return toPixel;
  const char *units = info->units.count > 0 && info->units.data ? info->units.data : nullptr;
  _exfr_XForm *reproject = exfr_XFormCreateFromProjPairAndMapInfo(pair, nullptr, nullptr, units, &inner);
  _exfr_XForm *result = nullptr;
  if (!reproject)
    lower::ReportCallee(err, inner, reporter, 3, "exfr_XFormCreateFromProjPairAndMapInfo");
  else if (!(result = exfr_XFormComposition(reproject, toPixel, &inner)))
    lower::ReportCallee(err, inner, reporter, 4, "exfr_XFormComposition");
  exfr_XFormFree(&reproject, nullptr);
  exfr_XFormFree(&toPixel, nullptr);
  return result;
} TAVIRON_GUARD(err, nullptr)

_exfr_XForm *exfr_XFormTranslate(_exfr_XForm *xform, double dx, double dy, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Chain chain;
  if (!chain.AddCopies(xform, "exfr_XFormTranslate", 1, err)) return nullptr;
  chain.Add(AffineStep({1, 0, dx, 0, 1, dy}));
  return chain.Install(xform, "exfr_XFormTranslate", 2, err);
} TAVIRON_GUARD(err, nullptr)

_exfr_XForm *exfr_XFormCompose(const _exfr_XForm *a, const _exfr_XForm *b, _exfr_XForm *result,
                               Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Chain chain;
  if (!chain.AddCopies(b, "exfr_XFormCompose", 1, err) ||
      !chain.AddCopies(a, "exfr_XFormCompose", 1, err))
    return nullptr;
  return chain.Install(result, "exfr_XFormCompose", 2, err);
} TAVIRON_GUARD(err, nullptr)

_exfr_XForm *exfr_XFormComposition(const _exfr_XForm *first, const _exfr_XForm *second,
                                   Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Chain chain;
  if (!chain.AddCopies(first, "exfr_XFormComposition", 1, err) ||
      !chain.AddCopies(second, "exfr_XFormComposition", 1, err))
    return nullptr;
  return chain.Install(nullptr, "exfr_XFormComposition", 2, err);
} TAVIRON_GUARD(err, nullptr)

_exfr_XForm *exfr_XFormInvert(const _exfr_XForm *xform, _exfr_XForm *destination,
                              Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Chain chain;
  for (int32_t i = xform ? xform->count - 1 : -1; i >= 0; --i) {
    const Step &s = xform->steps[i];
    if (s.kind == kProjection) { // the same pair, the other way
      Step copy;
      if (!CopyStep(s, copy, "exfr_XFormInvert", 1, err)) return nullptr;
      copy.inverse = !copy.inverse;
      chain.Add(copy);
      continue;
    }
    if (s.kind == kPolynomial && s.reverse) { // the explicit inverse: swap the pair
      Step copy;
      if (!CopyStep(s, copy, "exfr_XFormInvert", 1, err)) return nullptr;
      std::swap(copy.forward, copy.reverse);
      chain.Add(copy);
      continue;
    }
    if (!IsFirstOrder(s)) {
      lower::Report(err, "exfr_XFormInvert", 2,
                    "Transform holds a polynomial of order %d without an inverse", s.forward->order);
      return nullptr;
    }
    Affine inverse;
    if (!InvertAffine(LinearOf(s), inverse)) {
      lower::Report(err, "exfr_XFormInvert", 3, "Transform is singular and cannot be inverted");
      return nullptr;
    }
    chain.Add(AffineStep(inverse));
  }
  return chain.Install(destination, "exfr_XFormInvert", 4, err);
} TAVIRON_GUARD(err, nullptr)

_exfr_XForm *exfr_XFormCopy(const _exfr_XForm *xform, _exfr_XForm *destination,
                            Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (xform && xform == destination) return destination;
  Chain chain;
  if (!chain.AddCopies(xform, "exfr_XFormCopy", 1, err)) return nullptr;
  return chain.Install(destination, "exfr_XFormCopy", 2, err);
} TAVIRON_GUARD(err, nullptr)

void exfr_XFormFree(_exfr_XForm **xform, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!xform || !*xform) return;
  for (int32_t i = 0; i < (*xform)->count; ++i) FreeStep((*xform)->steps[i]);
  emsc_HeapFree((*xform)->steps);
  emsc_HeapFreeEx(xform);
} TAVIRON_GUARD_VOID(err)

int32_t exfr_XFormIsSame(const _exfr_XForm *a, const _exfr_XForm *b, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  const int32_t na = a ? a->count : 0, nb = b ? b->count : 0;
  if (na != nb) return 0;
  for (int32_t i = 0; i < na; ++i) {
    const Step &s = a->steps[i], &t = b->steps[i];
    if (s.kind != t.kind) return 0;
    if (s.kind == kAffine) {
      if (AffineOf(s) != AffineOf(t)) return 0;
    } else if (s.kind == kProjection) {
      if (s.inverse != t.inverse ||
          !eprj_ProParametersEqual(eprj_ProjectionPairParameters(s.pair, 0),
                                   eprj_ProjectionPairParameters(t.pair, 0), nullptr) ||
          !eprj_ProParametersEqual(eprj_ProjectionPairParameters(s.pair, 1),
                                   eprj_ProjectionPairParameters(t.pair, 1), nullptr))
        return 0;
    } else if (!SamePoly(s.forward, t.forward) || !SamePoly(s.reverse, t.reverse)) {
      return 0;
    }
  }
  return 1;
} TAVIRON_GUARD(err, 0)

int32_t exfr_XFormAffineExtractIfPresent(const _exfr_XForm *xform, double coefficients[6],
                                         Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Affine a;
  if (!AffineOfChain(xform, a)) return 0;
  if (coefficients) std::copy(a.begin(), a.end(), coefficients);
  return 1;
} TAVIRON_GUARD(err, 0)

double exfr_XFormFindRotationAngle(const _exfr_XForm *xform, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Affine a;
  if (AffineOfChain(xform, a)) return std::atan2(a[3], a[0]);
  double xy[4] = {0, 0, 1, 0};
  Egda_BaseData points = {};
  points.rows = 2;
  points.columns = 2;
  points.pixelType = EGDA_TYPE_F64;
  points.objectType = EGDA_MATRIX;
  points.data = points.origin = reinterpret_cast<uint8_t *>(xy);
  points.pitch = 16;
  points.count = 4;
  points.elementSize = 8;
  if (!ApplyInPlace(xform, points, 2, "exfr_XFormFindRotationAngle", 1, err)) return 0.0;
  return std::atan2(xy[3] - xy[1], xy[2] - xy[0]);
} TAVIRON_GUARD(err, 0.0)

Egda_BaseData *exfr_Transform(const _exfr_XForm *xform, const Egda_BaseData *source,
                              Egda_BaseData *target, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return TransformPoints(xform, source, target, source ? source->columns : 0, "exfr_Transform", err);
} TAVIRON_GUARD(err, nullptr)

Egda_BaseData *exfr_TransformN(const _exfr_XForm *xform, const Egda_BaseData *source,
                               Egda_BaseData *target, int32_t n, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return TransformPoints(xform, source, target, n, "exfr_TransformN", err);
} TAVIRON_GUARD(err, nullptr)

Efga_CoordinateBlock *exfr_CoordBlockTransform(const _exfr_XForm *xform,
                                               const Efga_CoordinateBlock *source,
                                               Efga_CoordinateBlock *target,
                                               Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!source || source->count < 0 || (source->count > 0 && !source->parts)) {
    lower::Report(err, "exfr_CoordBlockTransform", 1, "Invalid coordinate block");
    return nullptr;
  }
  for (int32_t i = 0; i < source->count; ++i)
    if (source->parts[i] && !ValidPoints(source->parts[i])) {
      lower::Report(err, "exfr_CoordBlockTransform", 2, "Part %d is not a 2 x N f64 matrix", i);
      return nullptr;
    }
  // A chain that can fail is run on every part first, so that a failure changes nothing.
  std::vector<std::vector<double>> results;
  if (CanFail(xform)) {
    results.resize(static_cast<std::size_t>(source->count));
    for (int32_t i = 0; i < source->count; ++i)
      if (source->parts[i] && !TransformedCopy(xform, *source->parts[i], source->parts[i]->columns,
                                               results[i], "exfr_CoordBlockTransform", 4, err))
        return nullptr;
  }
  Efga_CoordinateBlock *out = target;
  if (out != source) {
    out = efga_CoordBlockCopy(source, target, err);
    if (!out) {
      lower::Report(err, "exfr_CoordBlockTransform", 3, "Error returned from efga_CoordBlockCopy");
      return nullptr;
    }
  }
  for (int32_t i = 0; i < out->count; ++i) {
    Egda_BaseData *part = out->parts[i];
    if (!part) continue;
    if (!results.empty()) {
      Store(results[i], *part, part->columns);
      continue;
    }
    if (!ApplyInPlace(xform, *part, part->columns, "exfr_CoordBlockTransform", 4, err)) {
      if (!target) efga_CoordBlockDelete(out, nullptr);
      return nullptr;
    }
  }
  return out;
} TAVIRON_GUARD(err, nullptr)

Efga_Polynomial *exfr_TransformObjectPoly(const _exfr_XForm *xform, const Efga_Polynomial *poly,
                                          double du, double dv, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!poly || efga_PolynomialInputCount(poly) != 2 || poly->coefficients->rows != 2) {
    lower::Report(err, "exfr_TransformObjectPoly", 1, "Invalid polynomial: a 2-D polynomial is needed");
    return nullptr;
  }
  if (!std::isfinite(du) || !std::isfinite(dv) || du == 0.0 || dv == 0.0) {
    lower::Report(err, "exfr_TransformObjectPoly", 2, "Invalid steps %g, %g", du, dv);
    return nullptr;
  }
  Affine a;
  if (AffineOfChain(xform, a)) {
    Efga_Polynomial *outer = efga_BasePolynomialCreate(1, 2, 2, EGDA_TYPE_F64, err);
    if (!outer) {
      lower::Report(err, "exfr_TransformObjectPoly", 3, "Error returned from efga_BasePolynomialCreate");
      return nullptr;
    }
    lower::At<double>(*outer->coefficients, 0, 0) = a[0];
    lower::At<double>(*outer->coefficients, 0, 1) = a[1];
    lower::At<double>(*outer->coefficients, 1, 0) = a[3];
    lower::At<double>(*outer->coefficients, 1, 1) = a[4];
    lower::At<double>(*outer->constants, 0, 0) = a[2];
    lower::At<double>(*outer->constants, 1, 0) = a[5];
    Efga_Polynomial *result = efga_PolynomialComposition(outer, poly, err);
    efga_PolynomialDelete(outer, nullptr);
    if (!result) lower::Report(err, "exfr_TransformObjectPoly", 4, "Error returned from efga_PolynomialComposition");
    return result;
  }
  // The polynomial's origin and its two unit steps, carried through the polynomial and the
  // transform.
  double xy[6] = {0, 0, du, 0, 0, dv};
  Egda_BaseData points = {};
  points.rows = 2;
  points.columns = 3;
  points.pixelType = EGDA_TYPE_F64;
  points.objectType = EGDA_MATRIX;
  points.data = points.origin = reinterpret_cast<uint8_t *>(xy);
  points.pitch = 16;
  points.count = 6;
  points.elementSize = 8;
  if (!efga_PolyTransCoords(&points, &points, poly, 0, err)) {
    lower::Report(err, "exfr_TransformObjectPoly", 5, "Error returned from efga_PolyTransCoords");
    return nullptr;
  }
  if (!ApplyInPlace(xform, points, 3, "exfr_TransformObjectPoly", 6, err)) return nullptr;
  Efga_Polynomial *result = efga_BasePolynomialCreate(1, 2, 2, EGDA_TYPE_F64, err);
  if (!result) {
    lower::Report(err, "exfr_TransformObjectPoly", 7, "Error returned from efga_BasePolynomialCreate");
    return nullptr;
  }
  for (int32_t r = 0; r < 2; ++r) {
    lower::At<double>(*result->coefficients, r, 0) = (xy[2 + r] - xy[r]) / du;
    lower::At<double>(*result->coefficients, r, 1) = (xy[4 + r] - xy[r]) / dv;
    lower::At<double>(*result->constants, r, 0) = xy[r];
  }
  return result;
} TAVIRON_GUARD(err, nullptr)

int32_t exfr_XFormPrint(FILE *stream, int32_t indent, const _exfr_XForm *xform) try {
  const std::string lead = Indent(indent), inner = Indent(indent + 8);
  std::string out;
  if (!xform || xform->count == 0) out = lead + "IDENTITY ;\n";
  for (int32_t i = 0; xform && i < xform->count; ++i) {
    const Step &s = xform->steps[i];
    if (s.kind == kAffine) {
      out += lead + "AFFINE";
      for (int k = 0; k < 6; ++k) out += " " + Number(s.m[k]) + (k < 5 ? "," : " ;\n");
      continue;
    }
    if (s.kind == kProjection) {
      const std::string deeper = Indent(indent + 16);
      out += lead + "PROJPAIR {\n";
      out += inner + "INPUT {\n";
      PrintProjection(out, deeper, eprj_ProjectionPairParameters(s.pair, s.inverse ? 1 : 0));
      out += inner + "}\n" + inner + "OUTPUT {\n";
      PrintProjection(out, deeper, eprj_ProjectionPairParameters(s.pair, s.inverse ? 0 : 1));
      out += inner + "}\n" + lead + "}\n";
      continue;
    }
    out += lead + "POLYPAIR {\n";
    out += inner + lower::Format("TERMCOUNT %d ;\n", s.forward->coefficients->columns);
    out += inner + "FORWARD";
    PrintTerms(out, s.forward);
    out += " ;\n" + inner + "REVERSE";
    PrintTerms(out, s.reverse);
    out += " ;\n" + lead + "}\n";
  }
  if (!stream) {
    lower::Write(lower::Stream::Out, out);
    return 0;
  }
  if (std::fwrite(out.data(), 1, out.size(), stream) != out.size()) return -1;
  return 0;
} TAVIRON_GUARD_QUIET(-1)

} // extern "C"

// ---- Transforms in hierarchical files ----------------------------------------------------------

namespace {

// The stored forms: the "XForm" node and one child per step.
struct XFormRecord {
  int32_t present; // EMSC_FALSE for a null transform
  int32_t stepCount;
};
struct AffineRecord {
  double coefficients[6];
};
struct PolynomialRecord {
  Efga_PolynomialPrivate *forward;
  Efga_PolynomialPrivate *reverse; // null when no inverse is known
};

// A reprojection step: the pair's two parameter records and the direction.
struct ProjectionRecord {
  int32_t inverse;
  Eprj_ProParameters *source;
  Eprj_ProParameters *destination;
};

constexpr const char *kXFormDesign = "Exfr_XForm";
constexpr const char *kAffineDesign = "Exfr_AffineStep";
constexpr const char *kPolynomialDesign = "Exfr_PolynomialStep";
constexpr const char *kProjectionDesign = "Exfr_ProjectionStep";

constexpr const char *kBooleans[] = {"EMSC_FALSE", "EMSC_TRUE"};
constexpr record::Item kXFormItems[] = {TAVIRON_ITEM(XFormRecord, present, EMIF_TYPE_ENUM).Enum(kBooleans),
                                        TAVIRON_ITEM(XFormRecord, stepCount, EMIF_TYPE_S32)};
constexpr record::Design kXFormRecord = record::DesignOf<XFormRecord>(kXFormDesign, kXFormItems);
constexpr record::Item kAffineItems[] = {TAVIRON_ITEM(AffineRecord, coefficients, EMIF_FIXED_ARRAY + EMIF_TYPE_F64)};
constexpr record::Design kAffineRecord = record::DesignOf<AffineRecord>(kAffineDesign, kAffineItems);
constexpr record::Item kPolynomialItems[] = {
    TAVIRON_ITEM(PolynomialRecord, forward, EMIF_POINTER + EMIF_TYPE_RECORD).Nested(taviron::efga::kPolynomialDesign),
    TAVIRON_ITEM(PolynomialRecord, reverse, EMIF_POINTER + EMIF_TYPE_RECORD).Nested(taviron::efga::kPolynomialDesign)};
constexpr record::Design kPolynomialRecord = record::DesignOf<PolynomialRecord>(kPolynomialDesign, kPolynomialItems);
constexpr record::Item kProjectionItems[] = {
    TAVIRON_ITEM(ProjectionRecord, inverse, EMIF_TYPE_S32),
    TAVIRON_ITEM(ProjectionRecord, source, EMIF_POINTER + EMIF_TYPE_RECORD).Nested(taviron::eprj::kProParametersDesign),
    TAVIRON_ITEM(ProjectionRecord, destination, EMIF_POINTER + EMIF_TYPE_RECORD)
        .Nested(taviron::eprj::kProParametersDesign)};
constexpr record::Design kProjectionRecord = record::DesignOf<ProjectionRecord>(kProjectionDesign, kProjectionItems);
static_assert(kXFormRecord.Matches() && kAffineRecord.Matches() && kPolynomialRecord.Matches() &&
              kProjectionRecord.Matches());

// The designs of the stored forms, in a dictionary made for one call.
class XFormDesigns {
public:
  XFormDesigns() = default;
  XFormDesigns(const XFormDesigns &) = delete;
  XFormDesigns &operator=(const XFormDesigns &) = delete;
  ~XFormDesigns() { emif_DictionaryDelete(dictionary_, nullptr); }

  bool Make(const char *reporter, int32_t code, Eerr_ErrorReport **err) {
    lower::CalleeReport inner;
    dictionary_ = emif_DictionaryCreate(&inner);
    if (!dictionary_) {
      lower::ReportCallee(err, inner, reporter, code, "emif_NewDictionary");
      return false;
    }
    if (!efga_PolynomialDesignDefine(dictionary_, &inner)) {
      lower::ReportCallee(err, inner, reporter, code, "efga_PolynomialDesignDefine");
      return false;
    }
    xform = record::Define(kXFormRecord, dictionary_, &inner);
    if (xform) affine = record::Define(kAffineRecord, dictionary_, &inner);
    if (affine) polynomial = record::Define(kPolynomialRecord, dictionary_, &inner);
    if (polynomial && !eprj_ProParametersDesignDefine(dictionary_, &inner)) {
      lower::ReportCallee(err, inner, reporter, code, "eprj_ProParametersDesignDefine");
      return false;
    }
    if (polynomial) projection = record::Define(kProjectionRecord, dictionary_, &inner);
    if (!projection) lower::ReportCallee(err, inner, reporter, code, "emif_DefineObject");
    return projection != nullptr;
  }

  const Emif_Design *xform = nullptr;
  const Emif_Design *affine = nullptr;
  const Emif_Design *polynomial = nullptr;
  const Emif_Design *projection = nullptr;

private:
  Emif_Dictionary *dictionary_ = nullptr;
};

// Makes the entry at path (null: the current entry) the base of a node operation, and tells
// whether it has an "XForm" child. False with a report (code) when it cannot.
bool FindBase(Ehfa_File *file, const char *path, EhfaSavedEntry &start, bool &hasNode,
              const char *reporter, int32_t code, Eerr_ErrorReport **err) {
  if (!start.Position()) {
    lower::ReportCallee(err, start.problem, reporter, code, "ehfa_EntryPositionGet");
    return false;
  }
  lower::CalleeReport inner;
  if (path && !ehfa_EntrySeek(file, EHFA_PATH, path, &inner)) {
    if (inner) lower::ReportCallee(err, inner, reporter, code, "ehfa_EntrySeek");
    else lower::Report(err, reporter, code, "No entry %s in %s", path, file->fileName);
    return false;
  }
  hasNode = ehfa_EntryPeek(file, EHFA_CHILD_NAMED, EXFR_XFORM_NODE, &inner) != nullptr;
  if (inner) {
    lower::ReportCallee(err, inner, reporter, code, "ehfa_EntryPeek");
    return false;
  }
  return true;
}

// Which "XForm" children of an entry a write leaves.
enum class Keep { First, Last, None };

// Deletes the "XForm" children of the entry at base but the one to keep. A write appends its new
// node after the old one, and readers take the first, so the old node stays in force until the
// new one is complete; this prunes the rest afterwards. True when the entry is left as asked.
bool PruneNodes(Ehfa_File *file, const Ehfa_EntryPosition *base, Keep keep, Eerr_ErrorReport **err) {
  auto count = [&]() {
    int32_t n = 0;
    if (ehfa_EntryPositionSet(file, base, nullptr) == 0 &&
        ehfa_EntrySeek(file, EHFA_CHILD_NAMED, EXFR_XFORM_NODE, nullptr))
      for (n = 1; ehfa_EntrySeek(file, EHFA_NEXT_NAMED, EXFR_XFORM_NODE, nullptr); ++n) {
      }
    return n;
  };
  int32_t n = count();
  const int32_t wanted = keep == Keep::None || n == 0 ? 0 : 1;
  lower::CalleeReport inner;
  for (int32_t tries = n; n > wanted && tries > 0; --tries) {
    // The node to delete: the first unless it is the one kept, then the second. A call may fail
    // after its change was made, so the children are counted again either way.
    inner.Drop();
    const bool done = ehfa_EntryPositionSet(file, base, &inner) == 0 &&
                      ehfa_EntrySeek(file, EHFA_CHILD_NAMED, EXFR_XFORM_NODE, &inner) &&
                      (keep != Keep::First || ehfa_EntrySeek(file, EHFA_NEXT_NAMED, EXFR_XFORM_NODE, &inner)) &&
                      ehfa_EntryDelete(file, &inner) == 0;
    n = count();
    if (!done) break;
  }
  if (n == wanted) {
    inner.Drop();
    return true;
  }
  lower::PassOn(err, inner);
  return false;
}

// Writes the steps of the chain as the children of the current entry.
bool WriteSteps(Ehfa_File *file, const _exfr_XForm *xform, const XFormDesigns &designs,
                const char *reporter, Eerr_ErrorReport **err) {
  for (int32_t i = 0; xform && i < xform->count; ++i) {
    const Step &s = xform->steps[i];
    const std::string name = lower::Format("Step_%d", i + 1);
    const int32_t code = i == 0 ? EHFA_CHILD : EHFA_NEXT;
    lower::CalleeReport inner;
    Ehfa_Entry *written = nullptr;
    if (s.kind == kAffine) {
      AffineRecord record;
      std::copy(std::begin(s.m), std::end(s.m), record.coefficients);
      written = ehfa_ObjectWrite(file, nullptr, name.c_str(), kAffineDesign, code, &record,
                                 designs.affine, &inner);
    } else if (s.kind == kProjection) {
      ProjectionRecord record{};
      record.inverse = s.inverse;
      record.source = const_cast<Eprj_ProParameters *>(eprj_ProjectionPairParameters(s.pair, 0));
      record.destination = const_cast<Eprj_ProParameters *>(eprj_ProjectionPairParameters(s.pair, 1));
      written = ehfa_ObjectWrite(file, nullptr, name.c_str(), kProjectionDesign, code, &record,
                                 designs.projection, &inner);
    } else {
      PolynomialRecord record{};
      record.forward = efga_PolynomialCopyToPrivate(s.forward, &inner);
      if (record.forward && s.reverse) record.reverse = efga_PolynomialCopyToPrivate(s.reverse, &inner);
      if (!record.forward || (s.reverse && !record.reverse)) {
        emsc_HeapFree(record.forward);
        lower::ReportCallee(err, inner, reporter, 5, "efga_PolynomialCopyToPrivate");
        return false;
      }
      written = ehfa_ObjectWrite(file, nullptr, name.c_str(), kPolynomialDesign, code, &record,
                                 designs.polynomial, &inner);
      emsc_HeapFree(record.forward); // private forms are single blocks
      emsc_HeapFree(record.reverse);
    }
    if (!written) {
      lower::ReportCallee(err, inner, reporter, 5, "ehfa_ObjectWrite");
      return false;
    }
  }
  return true;
}

// A polynomial step read back: a 2-D polynomial with 2 outputs, or null with a report.
Efga_Polynomial *StepPolynomial(const Efga_PolynomialPrivate *form, int32_t step, const char *part,
                                const char *reporter, Eerr_ErrorReport **err) {
  lower::CalleeReport inner;
  Efga_Polynomial *poly = efga_PolynomialCopyFromPrivate(form, &inner);
  if (!poly) {
    lower::ReportCallee(err, inner, reporter, 5, "efga_PolynomialCopyFromPrivate");
    return nullptr;
  }
  if (efga_PolynomialInputCount(poly) != 2 || poly->coefficients->rows != 2) {
    lower::Report(err, reporter, 5, "The %s polynomial of step %d is not a 2-D polynomial of 2 outputs",
                  part, step);
    efga_PolynomialDelete(poly, nullptr);
    return nullptr;
  }
  return poly;
}

// Reads a reprojection step: the pair is made again from its two parameter records.
bool ReadProjectionStep(Ehfa_File *file, int32_t step, const std::string &name,
                        const XFormDesigns &designs, Chain &chain, const char *reporter,
                        Eerr_ErrorReport **err) {
  ProjectionRecord record{};
  lower::CalleeReport inner;
  if (!ehfa_ObjectRead(file, nullptr, name.c_str(), EHFA_CHILD_NAMED, &record, designs.projection,
                       &inner)) {
    lower::ReportCallee(err, inner, reporter, 4, "ehfa_ObjectRead");
    return false;
  }
  Step s{};
  s.kind = kProjection;
  s.inverse = record.inverse != 0;
  bool ok = record.source && record.destination;
  if (!ok)
    lower::Report(err, reporter, 5, "Step %d of the transform in %s lacks a projection", step,
                  file->fileName);
  if (ok) {
    s.pair = eprj_ProjectionPairInit(file->init, record.source, record.destination, &inner);
    if (!s.pair) {
      lower::ReportCallee(err, inner, reporter, 5, "eprj_ProjectionPairInit");
      ok = false;
    }
  }
  emif_ObjectFreeContents(designs.projection, &record);
  if (ok) chain.Add(s);
  return ok;
}

// Reads step `step` (from 1), a child of the current entry, into the chain.
bool ReadStep(Ehfa_File *file, int32_t step, const XFormDesigns &designs, Chain &chain,
              const char *reporter, Eerr_ErrorReport **err) {
  const std::string name = lower::Format("Step_%d", step);
  lower::CalleeReport inner;
  const Ehfa_Entry *entry = ehfa_EntryPeek(file, EHFA_CHILD_NAMED, name.c_str(), &inner);
  if (!entry) {
    if (inner) lower::ReportCallee(err, inner, reporter, 4, "ehfa_EntryPeek");
    else lower::Report(err, reporter, 5, "Step %d of the transform in %s is missing", step, file->fileName);
    return false;
  }
  const bool affine = std::strcmp(entry->type, kAffineDesign) == 0;
  if (std::strcmp(entry->type, kProjectionDesign) == 0)
    return ReadProjectionStep(file, step, name, designs, chain, reporter, err);
  if (!affine && std::strcmp(entry->type, kPolynomialDesign) != 0) {
    lower::Report(err, reporter, 5, "Step %d of the transform in %s is of design %s, which is not known",
                  step, file->fileName, entry->type);
    return false;
  }
  if (affine) {
    AffineRecord record{};
    if (!ehfa_ObjectRead(file, nullptr, name.c_str(), EHFA_CHILD_NAMED, &record, designs.affine, &inner)) {
      lower::ReportCallee(err, inner, reporter, 4, "ehfa_ObjectRead");
      return false;
    }
    Affine a;
    std::copy(std::begin(record.coefficients), std::end(record.coefficients), a.begin());
    chain.Add(AffineStep(a));
    return true;
  }
  PolynomialRecord record{};
  if (!ehfa_ObjectRead(file, nullptr, name.c_str(), EHFA_CHILD_NAMED, &record, designs.polynomial, &inner)) {
    lower::ReportCallee(err, inner, reporter, 4, "ehfa_ObjectRead");
    return false;
  }
  Step s{};
  s.kind = kPolynomial;
  bool ok = true;
  if (!record.forward) {
    lower::Report(err, reporter, 5, "Step %d of the transform in %s has no polynomial", step, file->fileName);
    ok = false;
  }
  if (ok) ok = (s.forward = StepPolynomial(record.forward, step, "forward", reporter, err)) != nullptr;
  if (ok && record.reverse)
    ok = (s.reverse = StepPolynomial(record.reverse, step, "reverse", reporter, err)) != nullptr;
  emif_ObjectFreeContents(designs.polynomial, &record);
  if (!ok) {
    FreeStep(s);
    return false;
  }
  chain.Add(s);
  return true;
}

} // namespace

extern "C" {

int32_t exfr_XFormWrite(Ehfa_File *file, const char *path, const _exfr_XForm *xform,
                        Eerr_ErrorReport **err) try {
  static const char *const kReporter = "exfr_XFormWrite";
  lower::Clear(err);
  if (!file) {
    lower::Report(err, kReporter, 1, "Invalid file");
    return -1;
  }
  for (int32_t i = 0; xform && i < xform->count; ++i)
    if (xform->steps[i].kind != kAffine && xform->steps[i].kind != kPolynomial &&
        xform->steps[i].kind != kProjection) {
      lower::Report(err, kReporter, 2, "Step %d of the transform is of kind %d, which has no stored form",
                    i + 1, xform->steps[i].kind);
      return -1;
    }
  XFormDesigns designs;
  if (!designs.Make(kReporter, 3, err)) return -1;
  EhfaSavedEntry start(file);
  bool hasOld = false;
  if (!FindBase(file, path, start, hasOld, kReporter, 4, err)) return -1;
  EhfaSavedEntry base(file);
  lower::CalleeReport inner;
  // Nodes left after the first by an earlier write that failed go first.
  if (!base.Position()) {
    lower::ReportCallee(err, base.problem, kReporter, 4, "ehfa_EntryPositionGet");
    return -1;
  }
  if (!PruneNodes(file, base.Position(), Keep::First, &inner)) {
    lower::ReportCallee(err, inner, kReporter, 4, "ehfa_EntryDelete");
    return -1;
  }
  ehfa_EntryPositionSet(file, base.Position(), nullptr);
  const XFormRecord header{xform ? EMSC_TRUE : EMSC_FALSE, xform ? xform->count : 0};
  bool ok = ehfa_ObjectWrite(file, nullptr, EXFR_XFORM_NODE, kXFormDesign, EHFA_CHILD, &header,
                             designs.xform, &inner) != nullptr;
  if (!ok) lower::ReportCallee(err, inner, kReporter, 5, "ehfa_ObjectWrite");
  ok = ok && WriteSteps(file, xform, designs, kReporter, err);
  if (!ok) {
    PruneNodes(file, base.Position(), hasOld ? Keep::First : Keep::None, nullptr);
    return -1; // the keepers put the current entry back
  }
  // The new node is complete: the old one goes, and the new one becomes current.
  if (!PruneNodes(file, base.Position(), Keep::Last, &inner) ||
      ehfa_EntryPositionSet(file, base.Position(), &inner) != 0 ||
      !ehfa_EntrySeek(file, EHFA_CHILD_NAMED, EXFR_XFORM_NODE, &inner)) {
    lower::ReportCallee(err, inner, kReporter, 6, "ehfa_EntryDelete");
    return -1;
  }
  base.restore = false;
  start.restore = false;
  return 0;
} TAVIRON_GUARD(err, -1)

_exfr_XForm *exfr_XFormRead(Ehfa_File *file, const char *path, Eerr_ErrorReport **err) try {
  static const char *const kReporter = "exfr_XFormRead";
  lower::Clear(err);
  if (!file) {
    lower::Report(err, kReporter, 1, "Invalid file");
    return nullptr;
  }
  XFormDesigns designs;
  if (!designs.Make(kReporter, 2, err)) return nullptr;
  EhfaSavedEntry start(file);
  bool hasNode = false;
  if (!FindBase(file, path, start, hasNode, kReporter, 3, err)) return nullptr;
  if (!hasNode) {
    char *at = ehfa_CurrentEntryPath(file, nullptr);
    lower::Report(err, kReporter, 3, "No node %s below %s in %s", EXFR_XFORM_NODE,
                  at ? at : "the entry", file->fileName);
    emsc_HeapFree(at);
    return nullptr;
  }
  lower::CalleeReport inner;
  const Ehfa_Entry *entry = ehfa_EntryPeek(file, EHFA_CHILD_NAMED, EXFR_XFORM_NODE, &inner);
  if (!entry || std::strcmp(entry->type, kXFormDesign) != 0) {
    if (inner) lower::ReportCallee(err, inner, kReporter, 4, "ehfa_EntryPeek");
    else lower::Report(err, kReporter, 4, "Node %s of %s is not of design %s", EXFR_XFORM_NODE,
                       file->fileName, kXFormDesign);
    return nullptr;
  }
  XFormRecord header{-1, -1}; // items the stored design lacks stay invalid
  if (!ehfa_ObjectRead(file, nullptr, EXFR_XFORM_NODE, EHFA_CHILD_NAMED, &header, designs.xform, &inner)) {
    lower::ReportCallee(err, inner, kReporter, 4, "ehfa_ObjectRead");
    return nullptr;
  }
  if ((header.present != EMSC_FALSE && header.present != EMSC_TRUE) || header.stepCount < 0 ||
      (header.present == EMSC_FALSE && header.stepCount != 0)) {
    lower::Report(err, kReporter, 5, "Transform node of %s is corrupt (present %d, %d steps)",
                  file->fileName, header.present, header.stepCount);
    return nullptr;
  }
  EhfaSavedEntry node(file);
  if (!node.Position()) {
    lower::ReportCallee(err, node.problem, kReporter, 4, "ehfa_EntryPositionGet");
    return nullptr;
  }
  Chain chain;
  for (int32_t i = 1; i <= header.stepCount; ++i) {
    const bool ok = ReadStep(file, i, designs, chain, kReporter, err);
    if (ehfa_EntryPositionSet(file, node.Position(), ok ? &inner : nullptr) != 0 && ok) {
      lower::ReportCallee(err, inner, kReporter, 4, "ehfa_EntryPositionSet");
      return nullptr;
    }
    if (!ok) return nullptr;
  }
  node.restore = false;
  if (header.present == EMSC_FALSE) {
    start.restore = false;
    return nullptr;
  }
  _exfr_XForm *xform = chain.Install(nullptr, kReporter, 6, err);
  start.restore = xform == nullptr;
  return xform;
} TAVIRON_GUARD(err, nullptr)

} // extern "C"

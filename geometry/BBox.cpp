// The geometry value classes.
#include "BBox.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "egda.h"
#include "exfr.h"

// ---- DPoint -------------------------------------------------------------------------------------

DPoint::DPoint() {}
DPoint::DPoint(double px, double py) : x(px), y(py) {}
DPoint::DPoint(const DPoint &other) = default;
DPoint::~DPoint() {}
DPoint &DPoint::operator=(const DPoint &other) = default;

DPoint &DPoint::operator*=(double s) {
  x *= s;
  y *= s;
  return *this;
}

DPoint &DPoint::operator+=(DPoint d) {
  x += d.x;
  y += d.y;
  return *this;
}

DPoint &DPoint::operator-=(DPoint d) {
  x -= d.x;
  y -= d.y;
  return *this;
}

// ---- IPoint -------------------------------------------------------------------------------------

namespace {

// trunc(value), held within the 32-bit range (NaN gives 0).
int32_t Truncate(double value) {
  if (!(value == value)) return 0;
  if (value >= 2147483647.0) return INT32_MAX;
  if (value <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(value);
}

} // namespace

IPoint::IPoint() {}
IPoint::IPoint(int px, int py) : x(px), y(py) {}
IPoint::IPoint(const IPoint &other) = default;
IPoint::~IPoint() {}
IPoint &IPoint::operator=(const IPoint &other) = default;
bool IPoint::operator==(const IPoint &other) const { return x == other.x && y == other.y; }
bool IPoint::operator!=(const IPoint &other) const { return !(*this == other); }

IPoint &IPoint::operator*=(double s) {
  x = Truncate(x * s);
  y = Truncate(y * s);
  return *this;
}

IPoint &IPoint::operator+=(IPoint d) {
  x += d.x;
  y += d.y;
  return *this;
}

IPoint &IPoint::operator-=(IPoint d) {
  x -= d.x;
  y -= d.y;
  return *this;
}

// ---- BBox ---------------------------------------------------------------------------------------

BBox::BBox() : min(0, 0), max(0, 0) {}

BBox::BBox(double x1, double y1, double x2, double y2)
    : min(std::min(x1, x2), std::min(y1, y2)), max(std::max(x1, x2), std::max(y1, y2)) {}

BBox::BBox(DPoint minCorner, DPoint maxCorner) : min(minCorner), max(maxCorner) {}

BBox::BBox(DPoint p) : min(p), max(p) {}

BBox::BBox(int n, DPoint *points) : min(0, 0), max(0, 0) {
  if (n < 1 || !points) return;
  min = max = points[0];
  Union(n - 1, points + 1);
}

BBox::BBox(DBox b) : min(b.min), max(b.max) {}

BBox::BBox(_BBox_Rec r) : min(r.minX, r.minY), max(r.maxX, r.maxY) {}

BBox::BBox(_BBox_Rec *r) : min(0, 0), max(0, 0) {
  if (r) *this = BBox(*r);
}

BBox::BBox(const BBox &other) = default;
BBox::~BBox() {}
BBox &BBox::operator=(const BBox &other) = default;

_BBox_Rec BBox::GetBBox_Rec() { return {min.x, min.y, max.x, max.y}; }

BBox &BBox::operator*=(double s) {
  min *= s;
  max *= s;
  return *this;
}

void BBox::Union(DPoint p) {
  min.x = std::min(min.x, p.x);
  min.y = std::min(min.y, p.y);
  max.x = std::max(max.x, p.x);
  max.y = std::max(max.y, p.y);
}

void BBox::Union(int n, DPoint *points) {
  if (!points) return;
  for (int i = 0; i < n; ++i) Union(points[i]);
}

void BBox::Union(BBox *b) {
  if (!b) return;
  Union(b->min);
  Union(b->max);
}

double BBox::Size() { return std::max(Width(), Height()); }
double BBox::Width() { return max.x - min.x; }
double BBox::Height() { return max.y - min.y; }
DPoint BBox::get_Min() { return min; }
DPoint BBox::get_Max() { return max; }

BBox *BBox::Quad00() {
  const double mx = min.x + (max.x - min.x) * 0.5, my = min.y + (max.y - min.y) * 0.5;
  return new BBox(min.x, min.y, mx, my);
}

BBox *BBox::Quad01() {
  const double mx = min.x + (max.x - min.x) * 0.5, my = min.y + (max.y - min.y) * 0.5;
  return new BBox(mx, min.y, max.x, my);
}

BBox *BBox::Quad10() {
  const double mx = min.x + (max.x - min.x) * 0.5, my = min.y + (max.y - min.y) * 0.5;
  return new BBox(min.x, my, mx, max.y);
}

BBox *BBox::Quad11() {
  const double mx = min.x + (max.x - min.x) * 0.5, my = min.y + (max.y - min.y) * 0.5;
  return new BBox(mx, my, max.x, max.y);
}

bool BBox::Contains(BBox *b) {
  return b && b->min.x >= min.x && b->min.y >= min.y && b->max.x <= max.x && b->max.y <= max.y;
}

bool BBox::Contains(DPoint p) {
  return min.x <= p.x && p.x <= max.x && min.y <= p.y && p.y <= max.y;
}

bool BBox::Intersects(BBox *b) {
  return b && !(b->min.x > max.x || b->min.y > max.y || min.x > b->max.x || min.y > b->max.y);
}

// ---- DBox ---------------------------------------------------------------------------------------

DBox::DBox() {}
DBox::DBox(double x1, double y1, double x2, double y2) : min(x1, y1), max(x2, y2) {}
DBox::DBox(const DBox &other) = default;
DBox::~DBox() {}
DBox &DBox::operator=(const DBox &other) = default;

void DBox::Set(double x1, double y1, double x2, double y2) {
  min = DPoint(x1, y1);
  max = DPoint(x2, y2);
}

DBox &DBox::operator*=(double s) {
  min *= s;
  max *= s;
  return *this;
}

DBox &DBox::operator+=(DPoint d) {
  min += d;
  max += d;
  return *this;
}

DBox &DBox::operator-=(DPoint d) {
  min -= d;
  max -= d;
  return *this;
}

DPoint DBox::get_Min() { return min; }
DPoint DBox::get_Max() { return max; }
double DBox::Width() { return max.x - min.x; }
double DBox::Height() { return max.y - min.y; }

void DBox::Union(DBox b) {
  min.x = std::min(min.x, b.min.x);
  min.y = std::min(min.y, b.min.y);
  max.x = std::max(max.x, b.max.x);
  max.y = std::max(max.y, b.max.y);
}

void DBox::Transform(_exfr_XForm *xform) {
  double corners[8] = {min.x, min.y, min.x, max.y, max.x, max.y, max.x, min.y};
  Egda_BaseData *matrix = egda_BaseDataCreate(2, 4, EGDA_TYPE_F64, EGDA_MATRIX, corners, nullptr);
  if (!matrix) return;
  Eerr_ErrorReport *dropped = nullptr;
  exfr_Transform(xform, matrix, matrix, &dropped);
  eerr_DeleteErrorReportEx(&dropped);
  egda_BaseDataDelete(matrix, nullptr);
  min = DPoint(corners[0], corners[1]);
  max = min;
  for (int i = 1; i < 4; ++i) {
    min.x = std::min(min.x, corners[2 * i]);
    min.y = std::min(min.y, corners[2 * i + 1]);
    max.x = std::max(max.x, corners[2 * i]);
    max.y = std::max(max.y, corners[2 * i + 1]);
  }
}

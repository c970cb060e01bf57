// The geometry value classes: points with double and 32-bit integer coordinates, the normalised
// box of the spatial cache's quadtree (BBox) and a plain pair of corners (DBox). Every member is
// part of the library's interface; none reports errors. The default constructors of DPoint,
// IPoint and DBox leave their values unset.
#ifndef TAVIRON_BBOX_H
#define TAVIRON_BBOX_H

#include "taviron_export.h"

#include <stdint.h>

#include "exfr.h"

#ifdef __cplusplus

// A BBox's four values as a plain record: minimum x, minimum y, maximum x, maximum y.
struct _BBox_Rec {
  double minX;
  double minY;
  double maxX;
  double maxY;
};

class TAVIRON_API DPoint {
public:
  double x;
  double y;

  DPoint();
  DPoint(double x, double y);
  DPoint(const DPoint &other);
  ~DPoint();
  DPoint &operator=(const DPoint &other);
  DPoint &operator*=(double s);
  DPoint &operator+=(DPoint d);
  DPoint &operator-=(DPoint d);
};

class TAVIRON_API IPoint {
public:
  int32_t x;
  int32_t y;

  IPoint();
  IPoint(int x, int y);
  IPoint(const IPoint &other);
  ~IPoint();
  IPoint &operator=(const IPoint &other);
  bool operator==(const IPoint &other) const;
  bool operator!=(const IPoint &other) const;
  // Each coordinate becomes trunc(coordinate * s), toward zero (held within the 32-bit range).
  IPoint &operator*=(double s);
  IPoint &operator+=(IPoint d);
  IPoint &operator-=(IPoint d);
};

class DBox;

// An axis-aligned box whose operations keep min at or below max on both axes (only the
// constructor from two points stores its corners unchanged).
class TAVIRON_API BBox {
public:
  DPoint min;
  DPoint max;

  BBox(); // (0, 0, 0, 0)
  BBox(double x1, double y1, double x2, double y2);
  BBox(DPoint min, DPoint max); // corners unchanged
  explicit BBox(DPoint p);
  // The box of the n points (n of 1: the first point's box; none for n below 1 or no points).
  BBox(int n, DPoint *points);
  explicit BBox(DBox b);
  explicit BBox(_BBox_Rec r);
  explicit BBox(_BBox_Rec *r); // null gives (0, 0, 0, 0)
  BBox(const BBox &other);
  ~BBox();

  _BBox_Rec GetBBox_Rec();
  BBox &operator=(const BBox &other);
  // All four values times s (a negative s swaps the roles of min and max without reordering).
  BBox &operator*=(double s);

  void Union(DPoint p);
  void Union(int n, DPoint *points);
  void Union(BBox *b); // null changes nothing

  double Size(); // the larger of width and height
  double Width();
  double Height();
  DPoint get_Min();
  DPoint get_Max();

  // New boxes (the caller deletes them) of one quarter each; the first digit selects the lower
  // (0) or upper (1) half in y, the second the lower or upper half in x.
  BBox *Quad00();
  BBox *Quad01();
  BBox *Quad10();
  BBox *Quad11();

  // b lies inside, edges included (false for null).
  bool Contains(BBox *b);
  bool Contains(DPoint p);
  // The boxes overlap or touch (false for null).
  bool Intersects(BBox *b);
};

// A pair of corners stored as given.
class TAVIRON_API DBox {
public:
  DPoint min;
  DPoint max;

  DBox();
  DBox(double x1, double y1, double x2, double y2);
  DBox(const DBox &other);
  ~DBox();
  void Set(double x1, double y1, double x2, double y2);

  DBox &operator=(const DBox &other);
  DBox &operator*=(double s);
  DBox &operator+=(DPoint d);
  DBox &operator-=(DPoint d);

  DPoint get_Min();
  DPoint get_Max();
  double Width();
  double Height();
  void Union(DBox b);
  // The smallest box holding the four transformed corners. A failing transform is dropped and
  // leaves what the corner matrix then holds (the corners themselves when nothing was written).
  void Transform(_exfr_XForm *xform);
};

#endif

#endif

/* The evec package: planar geometry on coordinate matrices (coordinates, bounding boxes, clip
   windows, segments, intersections, weeding, smoothing, densifying, containment and proximity
   tests) and the records of the vector layers that this geometry reads.

   A coordinate matrix is a 2 x N f64 Egda_BaseData (row 0 x, row 1 y, column j point j), stored
   point by point: x0, y0, x1, y1, ... . Operations read element (r, c) through the matrix's row
   and column steps, except where a comment below says that the stored values are read in order
   (box intersection and union, the polygon containment tests): matrices handed to those must be
   laid out point by point. A segment is a coordinate matrix of exactly 2 columns, an arc (a
   polyline) one of at least 2, a polygon ring one of at least 3.

   Every operation takes an error slot last and sets it to null first; a null slot is accepted
   (the report is then dropped). Heap results come from the lower layer's heap. */
#ifndef TAVIRON_EVEC_H
#define TAVIRON_EVEC_H

#include <stdint.h>

#include "eerr.h"
#include "efga.h"
#include "egda.h"
#include "eirf.h"
#include "exfr.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* ---------------------------------------------------------------------------------------------
   Records */

/* A coordinate: x then y, on the lower layer's heap, handed around as a pointer to the two
   values. */
typedef struct {
  double x;
  double y;
} Evec_Coord;

/* A bounding box: a 2 x 2 f64 coordinate matrix whose column 0 is the first corner (x1, y1) and
   column 1 the second (x2, y2), stored x1, y1, x2, y2. Boxes made from data have x1 <= x2 and
   y1 <= y2; a caller's box may have its corners in either order. */
typedef Egda_BaseData Evec_Bbox;

/* A clip window: count boxes (an entry may be null; the point tests skip null entries). The
   window owns its boxes. boxes is null when count is 0 or less. */
typedef struct {
  int32_t count;
  Evec_Bbox **boxes;
} ClipWind;

/* The state of one open vector layer, as far as the geometry reads it: the layer's bounding box
   (the record's second word) and the Weed and Grain tolerances. The vector layers complete the
   record with their own fields. */
typedef struct MVS {
  int32_t layerType;
  Evec_Bbox *bBox;
  double weed;  /* tolerance "Weed" (code 8): weeding and generalising */
  double grain; /* tolerance "Grain" (code 9): smoothing and densifying */
} MVS;

/* Feature records of the vector layers. The geometry reads none of their members; node and point
   records own one coordinate each. The other members are the vector layers'. */
typedef struct {
  Evec_Coord *coord;
} Evec_NodeRecord;
typedef struct {
  Evec_Coord *coord;
} Evec_PointRecord;
typedef struct {
  void *reserved;
} Evec_ArcRecord;
typedef struct {
  void *reserved;
} Evec_PolygonRecord;
typedef struct {
  void *reserved;
} Evec_RegionRecord;
typedef struct {
  void *reserved;
} Evec_SectionRecord;
typedef struct {
  void *reserved;
} Evec_LineRecord;
typedef struct {
  void *reserved;
} Evec_LocusRecord;
typedef struct {
  void *reserved;
} Evec_ComplexRecord;

/* Feature lists: count records of one kind (the records themselves are not initialised; the
   array is null when count is 0). */
typedef struct {
  int32_t count;
  Evec_NodeRecord *records;
} Evec_NodeList;
typedef struct {
  int32_t count;
  Evec_ArcRecord *records;
} Evec_ArcList;
typedef struct {
  int32_t count;
  Evec_PolygonRecord *records;
} Evec_PolyList;
typedef struct {
  int32_t count;
  Evec_PointRecord *records;
} Evec_PointList;
typedef struct {
  int32_t count;
  Evec_RegionRecord *records;
} Evec_RegionList;
typedef struct {
  int32_t count;
  Evec_SectionRecord *records;
} Evec_SectionList;
typedef struct {
  int32_t count;
  Evec_LineRecord *records;
} Evec_LineList;
typedef struct {
  int32_t count;
  Evec_LocusRecord *records;
} Evec_LocusList;
typedef struct {
  int32_t count;
  Evec_ComplexRecord *records;
} Evec_ComplexList;

/* ---------------------------------------------------------------------------------------------
   Coordinates, boxes and clip windows */

/* A new coordinate (null when out of memory; no report). */
Evec_Coord *evec_CoordCreate(Eerr_ErrorReport **err);
/* Frees the coordinate; null is accepted. */
void evec_CoordDelete(Evec_Coord *coord, Eerr_ErrorReport **err);

/* A new box (null without report when the lower layer fails). */
Evec_Bbox *evec_BboxCreate(Eerr_ErrorReport **err);
/* Deletes the box; null is accepted. */
void evec_BboxDelete(Evec_Bbox *box, Eerr_ErrorReport **err);
/* Copies the four values of source into destination. */
void evec_BboxCopy(Evec_Bbox *destination, const Evec_Bbox *source, Eerr_ErrorReport **err);
/* Prints every value of an f64 matrix in storage order, one "%f\n" line each (efio_Printf). */
void evec_BboxPrint(const Egda_BaseData *matrix, Eerr_ErrorReport **err);
/* The image rectangle of the box: (x1, x2, y1, y2), each through single precision. */
Eirf_Rectangle *evec_FormBboxRectangle(const Evec_Bbox *box, Eerr_ErrorReport **err);
/* A new box holding the rectangle's x1, y1, x2, y2. */
Evec_Bbox *evec_FormRectangleBbox(const Eirf_Rectangle *rectangle, Eerr_ErrorReport **err);

/* 1 when the boxes intersect (touching boxes do), else 0. Both boxes are normalised; the
   intersection goes into output when given (row by row: x, then y when x intersects). Reads the
   stored values in order. */
int32_t evec_BboxIntersectBbox(const Evec_Bbox *a, const Evec_Bbox *b, Evec_Bbox *output,
                               Eerr_ErrorReport **err);
/* 1 when the boxes overlap or touch (corners taken as they stand), else 0. */
int32_t evec_BboxOverlapBbox(const Evec_Bbox *a, const Evec_Bbox *b, Eerr_ErrorReport **err);
/* 1 when the box intersects every box of the window (1 for a window of no boxes). */
int32_t evec_BboxIntersectClipWind(const ClipWind *window, const Evec_Bbox *box,
                                   Evec_Bbox *output, Eerr_ErrorReport **err);
/* A new box covering both (one null argument: a copy of the other, corners as they stand). */
Evec_Bbox *evec_BboxUnionBbox(const Evec_Bbox *a, const Evec_Bbox *b, Eerr_ErrorReport **err);
/* The box of the first n points of the matrix, in box (overwritten) or a new box. */
Evec_Bbox *evec_GetBboxFromMatrixN(Evec_Bbox *box, const Egda_BaseData *matrix, int32_t n,
                                   Eerr_ErrorReport **err);
/* The box of all points of the matrix. */
Evec_Bbox *evec_GetBboxFromMatrix(Evec_Bbox *box, const Egda_BaseData *matrix,
                                  Eerr_ErrorReport **err);
/* The box of every point of every part, in box or a new box; an invalid block gives the box
   argument back unchanged, with a report. */
Evec_Bbox *evec_GetBboxFromCoordBlock(const Efga_CoordinateBlock *block, Evec_Bbox *box,
                                      Eerr_ErrorReport **err);

/* A new window of count null box slots (no array when count is 0 or less). */
ClipWind *evec_ClipWindCreate(int32_t count, Eerr_ErrorReport **err);
/* Deletes every non-null box, the array and the window; null is accepted. */
void evec_ClipWindDelete(ClipWind *window, Eerr_ErrorReport **err);
/* 1 when the coordinate lies in some box of the window (boundaries inside). A window without a
   box array contains no point; one with an array and count 0 contains every point. */
int32_t evec_CoordInClipWind(const ClipWind *window, const Evec_Coord *coord,
                             Eerr_ErrorReport **err);
/* The same with every box widened by |distance|. */
int32_t evec_CoordInClipWindWithBufferDistance(const ClipWind *window, const Evec_Coord *coord,
                                               double distance, Eerr_ErrorReport **err);
/* efga_ClipLine. */
int32_t evec_ClipLine(double *x0, double *y0, double *x1, double *y1, const Egda_BaseData *window,
                      Eerr_ErrorReport **err);

/* Feature records and lists (no reports; null when out of memory or for a negative count). */
Evec_NodeRecord *evec_NodeCreate(Eerr_ErrorReport **err);
Evec_PointRecord *evec_PointCreate(Eerr_ErrorReport **err);
void evec_NodeDelete(Evec_NodeRecord *node, Eerr_ErrorReport **err);
void evec_PointDelete(Evec_PointRecord *point, Eerr_ErrorReport **err);
Evec_NodeList *evec_NodeListCreate(int32_t count, Eerr_ErrorReport **err);
Evec_ArcList *evec_ArcListCreate(int32_t count, Eerr_ErrorReport **err);
Evec_PolyList *evec_PolyListCreate(int32_t count, Eerr_ErrorReport **err);
Evec_PointList *evec_PointListCreate(int32_t count, Eerr_ErrorReport **err);
Evec_RegionList *evec_RegionListCreate(int32_t count, Eerr_ErrorReport **err);
Evec_SectionList *evec_SectionListCreate(int32_t count, Eerr_ErrorReport **err);
Evec_LineList *evec_LineListCreate(int32_t count, Eerr_ErrorReport **err);
Evec_LocusList *evec_LocusListCreate(int32_t count, Eerr_ErrorReport **err);
Evec_ComplexList *evec_ComplexListCreate(int32_t count, Eerr_ErrorReport **err);
/* Free the array and the list (not the members of the records); null is accepted. */
void evec_NodeListDelete(Evec_NodeList *list, Eerr_ErrorReport **err);
void evec_ArcListDelete(Evec_ArcList *list, Eerr_ErrorReport **err);
void evec_PolyListDelete(Evec_PolyList *list, Eerr_ErrorReport **err);
void evec_PointListDelete(Evec_PointList *list, Eerr_ErrorReport **err);
void evec_RegionListDelete(Evec_RegionList *list, Eerr_ErrorReport **err);
void evec_SectionListDelete(Evec_SectionList *list, Eerr_ErrorReport **err);
void evec_LineListDelete(Evec_LineList *list, Eerr_ErrorReport **err);
void evec_LocusListDelete(Evec_LocusList *list, Eerr_ErrorReport **err);
void evec_ComplexListDelete(Evec_ComplexList *list, Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Segments, arcs and intersections. Segment k of an arc (k = 1 .. N-1) joins vertex k-1 to k. */

/* Intersection classes of evec_IntersectSegments: where the crossing of the two lines lies, with
   t its position along segment one and s along segment two (0 at the first point, 1 at the
   second; values within 1e-8 of 0 or 1 snap to them):
              s < 0   0 <= s <= 1   s > 1
     t < 0      1          2          3
     0..1       4          5          6
     t > 1      7          8          9
   0: parallel (|determinant| < 1e-8), collinear or not computable. */
int32_t evec_IntersectSegments(const Egda_BaseData *segmentOne, const Egda_BaseData *segmentTwo,
                               Evec_Coord *crossing, Eerr_ErrorReport **err);
/* Direction angle of segment one minus that of segment two (radians, -2 pi .. 2 pi). */
double evec_AngleBetweenSegments(const Egda_BaseData *segmentOne,
                                 const Egda_BaseData *segmentTwo, Eerr_ErrorReport **err);
/* Position 0..1 of the point of the segment nearest to point; -1 for a segment of zero length
   (distance and nearest point are then those of the first point) or for bad input (outputs
   untouched). distance and nearest may be null. */
double evec_PointDistanceToSegment(const Evec_Coord *point, const Egda_BaseData *segment,
                                   double *distance, Evec_Coord *nearest, Eerr_ErrorReport **err);
/* The Euclidean distance (-1 when a point is null). */
double evec_DistanceBetweenTwoPoints(const Evec_Coord *a, const Evec_Coord *b,
                                     Eerr_ErrorReport **err);
/* The sum of the lengths of the arc's segments. */
double evec_LengthOfArc(const Egda_BaseData *arc, Eerr_ErrorReport **err);
/* The number k of the arc segment closest to the point (the first on a tie), 0 on bad input. */
int32_t evec_FindClosestSegmentOfArc(const Egda_BaseData *arc, const Evec_Coord *point,
                                     Eerr_ErrorReport **err);
/* Moves the segment's first point onto the arc segment closest to it, when the crossing of the
   two lines lies within that arc segment and not beyond the segment's second point; returns the
   arc segment's number, or 0 when the segment is left unchanged. */
int32_t evec_ExtendSegmentToArc(const Egda_BaseData *arc, Egda_BaseData *segment,
                                Eerr_ErrorReport **err);
/* 1 when the segment crosses (class 5) some segment of the arc. */
int32_t evec_SegmentIntersectsArc(const Egda_BaseData *segment, const Egda_BaseData *arc,
                                  Eerr_ErrorReport **err);
/* 1 when some segment of arc A crosses arc B. */
int32_t evec_ArcIntersectsArc(const Egda_BaseData *arcA, const Egda_BaseData *arcB,
                              Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Weeding and generalising */

/* Drops every vertex within tolerance of the last vertex kept (first and last always stay);
   shortens the matrix in place. */
void evec_WeedMatrix(double tolerance, Egda_BaseData *matrix, Eerr_ErrorReport **err);
/* A copy of the arc weeded with the layer's weed tolerance. */
Egda_BaseData *evec_WeedArc(MVS *layer, const Egda_BaseData *arc, Eerr_ErrorReport **err);
/* A new block (kind 2) of the rings weeded with the layer's weed tolerance, rings left with 2
   vertices or fewer dropped; null without report when the outer ring collapses. */
Efga_CoordinateBlock *evec_WeedPolygon(MVS *layer, const Efga_CoordinateBlock *rings,
                                       Eerr_ErrorReport **err);
/* Keeps only the vertices needed to stay within tolerance of the line, adding the farthest
   vertex one pass at a time; shortens the matrix in place. */
void evec_GeneralizeMatrix(double tolerance, Egda_BaseData *matrix, Eerr_ErrorReport **err);
/* A copy of the arc generalised with the layer's weed tolerance. */
Egda_BaseData *evec_GeneralizeArc(MVS *layer, const Egda_BaseData *arc, Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Smoothing, densifying and joining */

/* A new coordinate at that distance (0 < distance < length) along the straight arc. */
Evec_Coord *evec_DensifyPointOfArc(const Egda_BaseData *arc, double distance,
                                   Eerr_ErrorReport **err);
/* A new coordinate at that distance on a local cubic spline through the arc (3 vertices or
   more). */
Evec_Coord *evec_SplinePointOfArc(const Egda_BaseData *arc, double distance,
                                  Eerr_ErrorReport **err);
/* A new smoothed arc whose vertices lie the layer's grain tolerance apart along the arc. */
Egda_BaseData *evec_SplineArc(MVS *layer, const Egda_BaseData *arc, Eerr_ErrorReport **err);
/* A new arc with extra vertices so that no segment is longer than the layer's grain tolerance. */
Egda_BaseData *evec_DensifyArc(MVS *layer, const Egda_BaseData *arc, Eerr_ErrorReport **err);
/* A new closed arc of 360 / step + 1 vertices around the ellipse of the box (step in whole
   degrees); null without report for a step of 360 or of 0 or less. */
Egda_BaseData *evec_DivideEllipseIntoAnArc(int32_t step, const Egda_BaseData *ellipseBox,
                                           Eerr_ErrorReport **err);
/* A new arc joining A and B at their shared end point, in A's direction. The first argument is
   not read. */
Egda_BaseData *evec_JoinArcs(void *unused, const Egda_BaseData *arcA, const Egda_BaseData *arcB,
                             Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Containment and proximity. Polygons are closed implicitly (last vertex back to the first) and
   read in storage order; library polygons run clockwise with y upward. Ellipses are given by a
   box of two opposite corners (at least 2 rows, exactly 2 columns). */

/* 1 inside or on the outline of a clockwise convex polygon, else 0 (never reports). */
int32_t evec_CoordInsideConvexPolygon(const Evec_Coord *coord, const Egda_BaseData *polygon,
                                      Eerr_ErrorReport **err);
/* 1 inside by the even-odd rule, else 0 (never reports). */
int32_t evec_CoordInsideConcavePolygon(const Evec_Coord *coord, const Egda_BaseData *polygon,
                                       Eerr_ErrorReport **err);
/* 1 inside or on the ellipse, else 0. */
int32_t evec_CoordInsideEllipse(const Evec_Coord *coord, const Egda_BaseData *ellipseBox,
                                Eerr_ErrorReport **err);
/* 1 when some vertex of the block lies within the tolerance square around the point (a 2 x 1
   matrix). */
int32_t evec_CoordNearPoint(const Egda_BaseData *point, const Efga_CoordinateBlock *points,
                            double tolerance, Eerr_ErrorReport **err);
/* 1 when the point (a 2 x 1 matrix) lies within the tolerance of a segment of a part of the
   block; closed 1 adds each part's closing segment. */
int32_t evec_CoordNearPolyline(const Egda_BaseData *point, const Efga_CoordinateBlock *lines,
                               int32_t closed, double tolerance, Eerr_ErrorReport **err);
/* 1 when the boxes overlap and every vertex of the arc is inside. */
int32_t evec_ArcInsideConvexPolygon(const Egda_BaseData *arc, const Egda_BaseData *polygon,
                                    Eerr_ErrorReport **err);
int32_t evec_ArcInsideConcavePolygon(const Egda_BaseData *arc, const Egda_BaseData *polygon,
                                     Eerr_ErrorReport **err);
int32_t evec_ArcInsideEllipse(const Egda_BaseData *arc, const Egda_BaseData *ellipseBox,
                              Eerr_ErrorReport **err);
/* As evec_ArcInsideConcavePolygon, and no arc segment crosses the polygon's vertex list. */
int32_t evec_ArcEntirelyInsideConcavePolygon(const Egda_BaseData *arc,
                                             const Egda_BaseData *polygon,
                                             Eerr_ErrorReport **err);
/* 1 when the boxes overlap and some vertex of the arc is inside or some arc segment crosses the
   outline. A polygon's outline is its vertex list as an open polyline (its closing edge takes
   part only when the ring repeats its first vertex); an ellipse's is its polygon of 45-degree
   steps. */
int32_t evec_ArcPartiallyInsideConvexPolygon(const Egda_BaseData *arc,
                                             const Egda_BaseData *polygon,
                                             Eerr_ErrorReport **err);
int32_t evec_ArcPartiallyInsideConcavePolygon(const Egda_BaseData *arc,
                                              const Egda_BaseData *polygon,
                                              Eerr_ErrorReport **err);
int32_t evec_ArcPartiallyInsideEllipse(const Egda_BaseData *arc, const Egda_BaseData *ellipseBox,
                                       Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Planar areas, perimeters and vertex order, in the units of the coordinates. A ring need not
   repeat its first vertex: the area formulas close it themselves. A ring that runs clockwise
   with y upward has a positive signed area and is solid. A closed flag of 1 adds the edge from
   the last vertex back to the first. Angles are radians. */

/* The area of the ring, never negative ("Invalid input polygon" for fewer than 2 rows or 3
   columns; result 0). */
double evec_PolygonAreaCalculate(const Egda_BaseData *ring, Eerr_ErrorReport **err);
/* The signed area, positive for clockwise rings. */
double evec_PolygonAreaCalculateWithSign(const Egda_BaseData *ring, Eerr_ErrorReport **err);
/* 1 when the signed area is positive, else 0 (an invalid ring is not solid). */
int32_t evec_PolygonIsSolid(const Egda_BaseData *ring);
/* The length of the line through x and y. */
double evec_PolyPerimeterCalculate(const Egda_BaseData *poly, int32_t closed,
                                   Eerr_ErrorReport **err);
/* The length with every row of the matrix as a dimension. */
double evec_PolyPerimeterCalculateMultiD(const Egda_BaseData *poly, int32_t closed,
                                         Eerr_ErrorReport **err);
/* The unsigned areas of the rings added with alternating signs (ring 0 plus, ring 1 minus, ...). */
double evec_RegionAreaCalculate(const Efga_CoordinateBlock *region, Eerr_ErrorReport **err);
/* The sum of the rings' 2-D perimeters, each closed or not by the flag. */
double evec_RegionPerimeterCalculate(const Efga_CoordinateBlock *region, int32_t closed,
                                     Eerr_ErrorReport **err);
/* The sum of the rings' signed areas. */
double evec_ShapeAreaCalculate(const Efga_CoordinateBlock *shape, Eerr_ErrorReport **err);
/* A new coordinate at the ring's centre of gravity (not finite for a ring of zero area); null
   for an invalid ring. */
Evec_Coord *evec_CenterOfGravityOfPolygon(const Egda_BaseData *ring, Eerr_ErrorReport **err);
/* The area (kind 1 sector, 2 segment, 0 gives 0) and the length (with the two radii for kind 1,
   the chord for kind 2) of the arc of the ellipse of semi-axes a (along x) and b (along y)
   before rotation, between the polar angles start and end (equal angles: a full turn), measured
   on a polygon of `steps` steps per full turn. Steps that leave the arc's polygon without a step
   are reported as "Invalid input steps". */
double evec_ArcAreaCalculate(const Evec_Coord *center, double a, double b, double rotation,
                             double startAngle, double endAngle, int32_t kind, int32_t steps,
                             Eerr_ErrorReport **err);
double evec_ArcLengthCalculate(const Evec_Coord *center, double a, double b, double rotation,
                               double startAngle, double endAngle, int32_t kind, int32_t steps,
                               Eerr_ErrorReport **err);
/* Reverses the order of the ring's vertices in place (every row). */
void evec_PolygonChangeVerticesDirection(Egda_BaseData *ring, Eerr_ErrorReport **err);
/* Makes vertex `start` (counted from 1) the first of a closed ring whose last vertex repeats the
   first: A B C D A with 3 gives C D A B C. A start outside 1 .. N is reported ("Invalid input
   start point") and the ring left as it was. */
void evec_PolygonChangeStartPoint(Egda_BaseData *ring, int32_t start, Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Geodesic areas and lengths of rings and lines whose row 0 holds longitudes and row 1
   latitudes, in radians (flag non-zero) or degrees (flag 0), on the ellipsoid of semi-minor
   axis b and semi-major axis a (in this order). Edges are straight in longitude and latitude.
   Results are in the (squared) units of the axes. */

/* The ring's area, never negative: rings spanning less than 45 degrees each way (longitude
   scaled by the cosine of the middle latitude) in a Lambert azimuthal equal-area projection
   centred on them, larger ones by the integral on the sphere fitted at their middle latitude. */
double evec_LLPolygonAreaCalculateTri(const Egda_BaseData *ring, int32_t radians,
                                      double semiMinor, double semiMajor,
                                      Eerr_ErrorReport **err);
/* The rings' areas with alternating signs: ring 0 plus, ring 1 minus, ring 2 plus, ... */
double evec_LLRegionAreaCalculate(const Efga_CoordinateBlock *region, int32_t radians,
                                  double semiMinor, double semiMajor, Eerr_ErrorReport **err);
/* The length by the inverse Vincenty formula; where a distance does not converge, the whole
   line by a closed-form approximation instead. */
double evec_LLPolyPerimeterCalculate(const Egda_BaseData *poly, int32_t closed, int32_t radians,
                                     double semiMinor, double semiMajor, Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   The spatial cache of a vector layer's features (SpatialCache.h): point caches hold matrices,
   arc and polygon caches coordinate blocks. Features are numbered from 1. The Point functions
   take point caches, the Arc and Poly functions arc or polygon caches; a cache of the other kind
   is answered as a null cache. No function reports. */

typedef struct Evec_SpatialCache Evec_SpatialCache;
typedef struct Evec_SpatialCacheQuery Evec_SpatialCacheQuery;

/* A new cache whose root box is the layer's box through the transform (null: the box as it
   is); null when the layer state, its box or the transform fail. */
Evec_SpatialCache *evec_SpatialCacheCreatePoint(MVS *mvs, _exfr_XForm *xform);
Evec_SpatialCache *evec_SpatialCacheCreateArc(MVS *mvs, _exfr_XForm *xform);
Evec_SpatialCache *evec_SpatialCacheCreatePoly(MVS *mvs, _exfr_XForm *xform);
/* Destroy the cache and its overflow files; null is accepted. */
void evec_SpatialCacheDeletePoint(Evec_SpatialCache *cache);
void evec_SpatialCacheDeleteArc(Evec_SpatialCache *cache);
void evec_SpatialCacheDeletePoly(Evec_SpatialCache *cache);
/* Add a feature: a point whose box is the first point of the matrix, or an arc or polygon with
   the box given (corners in either order). Return the coordinates now held by the cache (owned
   by it, valid until it spills or is deleted), or the caller's own when the feature was already
   held, the cache has spilled to its store, or the feature could not be added (a number below
   1, a box that is not finite); null for a null cache. */
Egda_BaseData *evec_SpatialCacheIndexPoint(Evec_SpatialCache *cache, int32_t number,
                                           int32_t partCount, Egda_BaseData *coordinates);
Efga_CoordinateBlock *evec_SpatialCacheIndexArc(Evec_SpatialCache *cache, int32_t number,
                                                int32_t partCount, Evec_Bbox *bbox,
                                                Efga_CoordinateBlock *block);
Efga_CoordinateBlock *evec_SpatialCacheIndexPoly(Evec_SpatialCache *cache, int32_t number,
                                                 int32_t partCount, Evec_Bbox *bbox,
                                                 Efga_CoordinateBlock *block);
/* 1 when the feature is held with coordinates, else 0. */
int32_t evec_SpatialCacheHasPoint(Evec_SpatialCache *cache, int32_t number);
int32_t evec_SpatialCacheHasArc(Evec_SpatialCache *cache, int32_t number);
int32_t evec_SpatialCacheHasPoly(Evec_SpatialCache *cache, int32_t number);
/* A copy of the held coordinates into the given matrix or block (reshaped) or a new one; null
   when the feature is not held with coordinates. */
Egda_BaseData *evec_SpatialCacheGetPoint(Evec_SpatialCache *cache, int32_t number,
                                         Egda_BaseData *matrix);
Efga_CoordinateBlock *evec_SpatialCacheGetArc(Evec_SpatialCache *cache, int32_t number,
                                              Efga_CoordinateBlock *block);
Efga_CoordinateBlock *evec_SpatialCacheGetPoly(Evec_SpatialCache *cache, int32_t number,
                                               Efga_CoordinateBlock *block);
/* The feature's box into bbox or a new box; null when the feature is not held. */
Evec_Bbox *evec_SpatialCacheGetPointBbox(Evec_Bbox *bbox, Evec_SpatialCache *cache, int32_t number);
Evec_Bbox *evec_SpatialCacheGetArcBbox(Evec_Bbox *bbox, Evec_SpatialCache *cache, int32_t number);
Evec_Bbox *evec_SpatialCacheGetPolyBbox(Evec_Bbox *bbox, Evec_SpatialCache *cache, int32_t number);
/* The part count given when the feature was added (0 when it is not held). */
int32_t evec_SpatialCacheGetPointCount(Evec_SpatialCache *cache, int32_t number);
int32_t evec_SpatialCacheGetArcCount(Evec_SpatialCache *cache, int32_t number);
int32_t evec_SpatialCacheGetPolyCount(Evec_SpatialCache *cache, int32_t number);
/* A new query for the box (corners in either order); arc and polygon queries skip the parts of
   the tree whose boxes are smaller than minSize. Null for a null cache. */
Evec_SpatialCacheQuery *evec_SpatialCacheBeginPoint(Evec_SpatialCache *cache, Evec_Bbox *bbox);
Evec_SpatialCacheQuery *evec_SpatialCacheBeginArc(Evec_SpatialCache *cache, Evec_Bbox *bbox,
                                                  double minSize);
Evec_SpatialCacheQuery *evec_SpatialCacheBeginPoly(Evec_SpatialCache *cache, Evec_Bbox *bbox,
                                                   double minSize);
/* The next feature number: first the numbers of the features in the tree whose nodes meet the
   box, then every further number in order (the caller stops when the numbers pass its feature
   count, and fetches those the Has functions do not report as held). 0 for a null cache or a
   query of another cache. */
int32_t evec_SpatialCacheGetNextPointIndex(Evec_SpatialCache *cache, Evec_SpatialCacheQuery *query);
int32_t evec_SpatialCacheGetNextArcIndex(Evec_SpatialCache *cache, Evec_SpatialCacheQuery *query);
int32_t evec_SpatialCacheGetNextPolyIndex(Evec_SpatialCache *cache, Evec_SpatialCacheQuery *query);
/* Delete a query (before its cache); null is accepted. */
void evec_SpatialCacheQueryDeletePoint(Evec_SpatialCacheQuery *query);
void evec_SpatialCacheQueryDeletePoly(Evec_SpatialCacheQuery *query);

TAVIRON_END_DECLS

#endif

/* Map information and projection parameters: their records, the spheroid and datum tables, the
   numbered projections and the conversions of their parameters; projections, projection pairs
   and the reprojection of points. */
#ifndef TAVIRON_EPRJ_H
#define TAVIRON_EPRJ_H

#include <stdint.h>
#include <uchar.h>

#include "eerr.h"
#include "efga.h"
#include "egda.h"
#include "eint.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* ---------------------------------------------------------------------------------------------
   Records. Every record is laid out so that a stored design can describe it field by field:
   counted strings and counted arrays are {int32 count, pointer}, numbers are int32 or double,
   nested records are inline unless they are pointers to records of their own. */

/* A counted string: count = length + 1 (the terminator counted), 0 and null when there is none.
   The text is a heap block owned by the record that holds the string. */
typedef struct {
  int32_t count;
  char *data;
} Eprj_CharStr;

/* A counted array of doubles; data is a heap block of count doubles (null when count is 0). */
typedef struct {
  int32_t count;
  double *data;
} Eprj_DblArray;
typedef Eprj_DblArray eprj_DblArray; /* the name the stored designs and callers use */

typedef struct {
  double x;
  double y;
} Eprj_Coordinate;

typedef struct {
  double width;
  double height;
} Eprj_Size;

/* Map information of a raster grid. Pixel (column, row) integers are pixel centres; the pixel
   size is positive, and the direction of the columns and rows is that from the upper-left centre
   towards the lower-right centre. The three parts are heap records owned by the map
   information; eprj_MapInfoCreate makes all three, and a part found missing is made by its
   setter. */
typedef struct {
  Eprj_CharStr proName;               /* projection name */
  Eprj_Coordinate *upperLeftCenter;   /* map coordinates of the centre of pixel (0, 0) */
  Eprj_Coordinate *lowerRightCenter;  /* map coordinates of the centre of the last pixel */
  Eprj_Size *pixelSize;               /* map units per pixel, x and y */
  Eprj_CharStr units;                 /* map units name, as ecvt knows it */
} Eprj_MapInfo;

/* Datum types. A parametric datum holds seven values: the shifts dx, dy, dz (meters), the
   rotations rx, ry, rz (arc seconds) and the scale difference (parts per million) that take
   it to WGS 84. */
#define EPRJ_DATUM_PARAMETRIC 0
#define EPRJ_DATUM_GRID 1
#define EPRJ_DATUM_NONE 2

typedef struct {
  Eprj_CharStr datumname;
  int32_t type;          /* EPRJ_DATUM_... */
  Eprj_DblArray params;  /* the seven values of a parametric datum */
  Eprj_CharStr gridname; /* the shift grid of a grid datum */
} Eprj_Datum;

/* A spheroid: semi-major axis a, semi-minor axis b (meters), squared eccentricity
   1 - (b / a)^2 and the radius of the sphere that stands in for it ((2a + b) / 3; a for a
   sphere); its datum, empty (count 0 name) when none is set. */
typedef struct {
  Eprj_CharStr sphereName;
  double a;
  double b;
  double eSquared;
  double radius;
  Eprj_Datum datum;
} Eprj_Spheroid;

/* Projection types. */
#define EPRJ_INTERNAL 0            /* the numbered projections */
#define EPRJ_EXTERNAL 1
#define EPRJ_PROTYPE_UNKNOWN 99999

/* Projection parameters. The spheroid is held inline; its name is empty when it has none
   (geographic coordinates and the State Plane projection name their spheroid otherwise). The
   parameters of the numbered projections are fifteen doubles, angles in radians. */
typedef struct {
  int32_t proType;         /* EPRJ_INTERNAL, EPRJ_EXTERNAL or EPRJ_PROTYPE_UNKNOWN */
  int32_t proNumber;       /* number of a numbered projection, 0 to 20 */
  Eprj_CharStr proName;
  int32_t proZone;
  Eprj_DblArray proParams;
  Eprj_Spheroid proSpheroid;
} Eprj_ProParameters;

/* One entry of the list of numbered projections (see eprj_QueryByName). */
typedef struct {
  const char *name;
  int32_t number;
  int32_t type; /* EPRJ_INTERNAL */
} Eprj_ProjectionEntry;

/* Numbers of the legacy map systems that are not numbered projections. */
#define EPRJ_7X_FILE_COORDINATES 0
#define EPRJ_7X_UNKNOWN 99
#define EPRJ_7X_GEOGRAPHIC 100

/* ---------------------------------------------------------------------------------------------
   Names */

/* "Unknown": the projection name of map information that names no projection. */
const char *eprj_ProjectionNameUnknown(void);
/* "other": the units of map information in no known units (file coordinates). */
const char *eprj_UnitsNameOther(void);

/* ---------------------------------------------------------------------------------------------
   Parts */

/* Sets the counted string to a copy of text (count = length + 1), reusing its block when the
   count is unchanged; a null text empties it (block freed, count 0). Returns target, or null
   with a report (null target, failed allocation: the string is then left as it was). */
Eprj_CharStr *eprj_CharStrCreate(const char *text, Eprj_CharStr *target, Eerr_ErrorReport **err);
/* Sets target to a copy of source's text (an empty or invalid-count source empties it); returns
   target, or null with a report. source may be target. */
Eprj_CharStr *eprj_CharStrCopy(const Eprj_CharStr *source, Eprj_CharStr *target,
                               Eerr_ErrorReport **err);

/* New zero records (free with emsc_HeapFree). */
Eprj_Coordinate *eprj_CoordinateCreate(Eerr_ErrorReport **err);
Eprj_Size *eprj_SizeCreate(Eerr_ErrorReport **err);

/* Sets the array to count zeros (its old block freed; count 0 empties it). Returns array, or null
   with a report (null array, negative count, failed allocation: the array left as it was). */
Eprj_DblArray *eprj_DblArrayCreate(int32_t count, Eprj_DblArray *array, Eerr_ErrorReport **err);
/* Sets destination to a copy of source; returns destination, or null with a report. */
Eprj_DblArray *eprj_DblArrayCopy(const Eprj_DblArray *source, Eprj_DblArray *destination,
                                 Eerr_ErrorReport **err);
/* Frees the array's block and empties it; the record itself (usually inline) is not freed.
   Null is accepted. */
void eprj_DblArrayFree(Eprj_DblArray *array);

/* ---------------------------------------------------------------------------------------------
   Map information */

/* A new record with empty names and zero upper-left, lower-right and pixel-size parts. */
Eprj_MapInfo *eprj_MapInfoCreate(Eerr_ErrorReport **err);
/* Copies source into destination (its old contents replaced) or, with a null destination, into
   a new record; returns it, or null with a report (a given destination is then left as it
   was). A missing part of the source is missing in the
   copy. */
Eprj_MapInfo *eprj_MapInfoCopy(const Eprj_MapInfo *source, Eprj_MapInfo *destination,
                               Eerr_ErrorReport **err);
/* Frees *info with its parts and nulls the pointer; null and *null are accepted. */
void eprj_MapInfoFree(Eprj_MapInfo **info);

/* Setters: 0, or -1 with a report (null info, failed allocation). */
int32_t eprj_MapInfoUpperLeftCenterSet(Eprj_MapInfo *info, double x, double y,
                                       Eerr_ErrorReport **err);
int32_t eprj_MapInfoLowerRightCenterSet(Eprj_MapInfo *info, double x, double y,
                                        Eerr_ErrorReport **err);
int32_t eprj_MapInfoPixelSizeSet(Eprj_MapInfo *info, double width, double height,
                                 Eerr_ErrorReport **err);
int32_t eprj_MapInfoProjectionNameSet(Eprj_MapInfo *info, const char *name,
                                      Eerr_ErrorReport **err);
int32_t eprj_MapInfoUnitsSet(Eprj_MapInfo *info, const char *units, Eerr_ErrorReport **err);

/* 1 when both describe the same grid: projection names and units equal without regard to case,
   corners and pixel size equal to a relative 1e-9 (a missing part equals only a missing part).
   Two null records are equal, a null and a non-null one are not. */
int32_t eprj_MapInfosEqual(const Eprj_MapInfo *a, const Eprj_MapInfo *b, Eerr_ErrorReport **err);

/* The first-order polynomial from pixel (column, row) to map (x, y):
   x = ulx + sx * column, y = uly + sy * row, where sx and sy are the pixel width and height with
   the sign of the direction from the upper-left towards the lower-right centre (x increasing and
   y decreasing when the lower-right centre is missing or level with the upper-left one).
   `reserved` is 0. Null with a report when the upper-left centre or the pixel size is missing. */
Efga_Polynomial *eprj_MapInfoToPolynomial(const Eprj_MapInfo *info, int32_t reserved,
                                          Eerr_ErrorReport **err);
/* The affine polynomial from the pixels (column, row) of `from` to the pixels of `to`. Map
   coordinates in different units are converted (ecvt; the "other" units are taken as they are).
   Null with a report when either record lacks its upper-left centre or pixel size, `to` has a
   zero pixel size, or the units cannot be converted. */
Efga_Polynomial *eprj_ComputeTransformBetweenMapInfos(const Eprj_MapInfo *from,
                                                      const Eprj_MapInfo *to,
                                                      Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Projection parameters */

/* A new record: type EPRJ_INTERNAL, number 0, zone 0, no name, no parameters, empty spheroid. */
Eprj_ProParameters *eprj_ProParametersCreate(Eerr_ErrorReport **err);
/* Deep copy into destination (old contents replaced) or a new record; returns it, or null with a
   report (a record made here is freed). */
Eprj_ProParameters *eprj_ProParametersCopy(const Eprj_ProParameters *source,
                                           Eprj_ProParameters *destination,
                                           Eerr_ErrorReport **err);
/* Frees *parameters with everything it holds and nulls the pointer; null and *null accepted. */
void eprj_ProParametersFree(Eprj_ProParameters **parameters);
/* Prints the record on standard output: "Projection parameters:", then one "field - value" line
   per field (two blanks of indent per level; each array value on its own line "n: value", from 1;
   the spheroid under "proSpheroid:", its datum under "datum:" when it has one; an empty string
   shows as "(none)"; doubles as "%.15g"). */
void eprj_ProParametersPrint(const Eprj_ProParameters *parameters, Eerr_ErrorReport **err);
/* 1 when both describe the same projection: type, number and zone equal; names, spheroid names
   and datum names equal without regard to case; parameter counts equal and values, spheroid axes
   and datum values equal to a relative 1e-9. Two null records are equal. */
int32_t eprj_ProParametersEqual(const Eprj_ProParameters *a, const Eprj_ProParameters *b,
                                Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Spheroids and datums. The spheroids are numbered from 1: 1 Clarke 1866, 2 Clarke 1880,
   3 Bessel, 4 International 1967, 5 International 1909, 6 WGS 72, 7 Everest, 8 WGS 66,
   9 GRS 1980, 10 Airy, 11 Modified Everest, 12 Modified Airy, 13 WGS 84, 14 Southeast Asia,
   15 Australian National, 16 Krasovsky, 17 Hough, 18 Mercury 1960, 19 Modified Mercury 1968,
   20 Sphere (radius 6370997 m); 0 is no spheroid. Datums (parametric, mean shifts to WGS 84):
   NAD27 (Clarke 1866), NAD83 (GRS 1980), WGS 84 (WGS 84), European 1950 (International 1909),
   OSGB 1936 (Airy), Tokyo (Bessel), Indian 1975 (Everest), Australian Geodetic 1984
   (Australian National), Pulkovo 1942 (Krasovsky).
   The lookups set the spheroid's name, a, b, eSquared and radius and leave its datum as it is.
   `init` is the toolkit record (may be null). Each returns the record it filled, or null with a
   report (the record then left as it was). */
Eprj_Spheroid *eprj_SpheroidByName(Eint_InitToolkitData *init, const char *name,
                                   Eprj_Spheroid *spheroid, Eerr_ErrorReport **err);
Eprj_Spheroid *eprj_SpheroidByNum(Eint_InitToolkitData *init, int32_t number,
                                  Eprj_Spheroid *spheroid, Eerr_ErrorReport **err);
/* The spheroid named by a parameter array in the file convention of the numbered projections:
   parameter 1 < 0: a = parameter 14, eSquared = parameter 15 (the array must hold 15);
   parameter 1 a whole number from 1 to the table size: that spheroid;
   parameters 1 and 2 both 0: spheroid 1 (Clarke 1866);
   parameter 1 >= 1000: a = parameter 1, and parameter 2 is 0 for a sphere, the squared
   eccentricity when below 1, else b.
   Axes that match a table entry to 0.05 mm take its name, others are named "User Defined". */
Eprj_Spheroid *eprj_SpheroidByParms(Eint_InitToolkitData *init, const Eprj_DblArray *parameters,
                                    Eprj_Spheroid *spheroid, Eerr_ErrorReport **err);
/* The number of the named spheroid (without regard to case), 0 when the table has none (no
   report; a null name reports). */
int32_t eprj_SpheroidNumberByName(Eint_InitToolkitData *init, const char *name,
                                  Eerr_ErrorReport **err);
/* Fills the datum record with the named datum of the datum table; the datum must be defined on
   the named spheroid. Returns datum, or null with a report. */
Eprj_Datum *eprj_DatumByName(Eint_InitToolkitData *init, const char *spheroidName,
                             const char *datumName, Eprj_Datum *datum, Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Numbered projections: 0 "Geographic (Lat/Lon)", 1 "UTM", 2 "State Plane",
   3 "Albers Conical Equal Area", 4 "Lambert Conformal Conic", 5 "Mercator",
   6 "Polar Stereographic", 7 "Polyconic", 8 "Equidistant Conic", 9 "Transverse Mercator",
   10 "Stereographic", 11 "Lambert Azimuthal Equal-area", 12 "Azimuthal Equidistant",
   13 "Gnomonic", 14 "Orthographic", 15 "General Vertical Near-side Perspective",
   16 "Sinusoidal", 17 "Equirectangular", 18 "Miller Cylindrical", 19 "Van der Grinten",
   20 "Oblique Mercator (Hotine)". */

/* The entry of the projection named (without regard to case), or null with a report. */
const Eprj_ProjectionEntry *eprj_QueryByName(Eint_InitToolkitData *init, const char *name,
                                             Eerr_ErrorReport **err);
/* Sets name to the name of numbered projection `number`; returns name, or null with a report
   (null name, number outside 0 to 20, failed allocation). */
Eprj_CharStr *eprj_ProjName(Eint_InitToolkitData *init, int32_t number, Eprj_CharStr *name,
                            Eerr_ErrorReport **err);
/* The legacy map-system number of map information: EPRJ_7X_UNKNOWN (99) for the projection name
   "Unknown", EPRJ_7X_GEOGRAPHIC (100) for projection 0, the projection number for 1 to 20;
   -1 with a report for a null record or a name that is none of these. */
int32_t eprj_Proj7xNumber(Eint_InitToolkitData *init, const Eprj_MapInfo *info,
                          Eerr_ErrorReport **err);

/* Converts the fifteen parameters of numbered projection `number` between the file convention
   and radians. Only the angles of that projection are converted; other parameters are copied.
   The angles, by parameter (from 1): 3, 4, 5, 6 for 3, 4 and 8; 5 and 6 for 5, 6, 7, 9 to 15,
   17 and 19; 5 for 16 and 18; none for 0, 1 and 2 (parameters 1 and 2 hold the spheroid);
   for 20: 6, and 9 to 12 when parameter 13 is 0, else 4 and 5.
   In the file convention an angle is packed degrees, minutes and seconds:
   sign x (degrees x 1000000 + minutes x 1000 + seconds), e.g. -120 30' 15.5" is -120030015.5;
   with a non-zero `flag` it is plain decimal degrees instead. out may be in; it receives in's
   count.
   0, or -1 with a report (number outside 0 to 20, too few parameters, a packed value whose
   minutes or seconds are 60 or more or that is not finite, failed allocation). */
int32_t eprj_GCTPProParams2Radians(int32_t number, const Eprj_DblArray *in, Eprj_DblArray *out,
                                   int32_t flag, Eerr_ErrorReport **err);
int32_t eprj_Radians2GCTPProParams(int32_t number, const Eprj_DblArray *in, Eprj_DblArray *out,
                                   int32_t flag, Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Projections on PROJ.

   A numbered projection's record (number, zone, fifteen parameters in radians, spheroid with its
   datum) becomes a PROJ coordinate reference system:
     0 geographic (longlat), 1 UTM (zone 1 to 60; a negative zone is the southern hemisphere),
     2 State Plane (zone = the State Plane zone code, e.g. 401 for California zone 1; NAD27 when
       the datum is NAD27 or, without a datum, the spheroid is Clarke 1866 or missing; NAD83 when
       the datum is NAD83 or the spheroid GRS 1980; the zone's definition comes from PROJ's
       database; coordinates are in meters like every other projection),
     3 aea, 4 lcc, 5 merc, 6 polar stere, 7 poly, 8 eqdc, 9 tmerc, 10 stere, 11 laea, 12 aeqd,
     13 gnom, 14 ortho, 15 nsper, 16 sinu, 17 eqc, 18 mill, 19 vandg, 20 omerc,
   with the parameters (from 1) as the numbered projections define them: 3 and 4 the standard
   parallels (for 9 and 20 the scale factor, for 15 the height of the perspective point),
   5 the central meridian, 6 the latitude of origin (of true scale for 5, 6 and 17), 7 and 8 the
   false easting and northing; 8 uses one standard parallel when parameter 9 is 0; 20 takes its
   line by two points (parameters 9 to 12) when parameter 13 is 0, else by the azimuth
   (parameter 4) and the longitude of the centre (parameter 5). Projections 10 to 19 are taken on
   the sphere of the spheroid's radius. The spheroid is the record's when it has axes; otherwise
   parameters 1 and 2 name it as eprj_SpheroidByParms reads them (geographic coordinates without
   either are on WGS 84). A parametric datum adds its seven values as the shift to WGS 84, a grid
   datum its shift grid.
   Coordinates of every projection are in its native units: meters for the projected ones,
   decimal degrees ("dd", x = longitude, y = latitude) for geographic coordinates. Calls that
   take unit names convert from and to them with ecvt.
   A record PROJ cannot express (a number outside 0 to 20, a type other than EPRJ_INTERNAL, a
   UTM zone outside 1 to 60, a State Plane zone PROJ does not know, parameters PROJ refuses) is
   reported when the projection or pair is made, naming the projection; a point that cannot be
   transformed is reported naming both projections, and the points are then left as they were.
   Threads: every projection and pair owns its PROJ context and objects (made when first used)
   behind a lock of its own, so one object may be used from several threads (calls on it run one
   at a time) and different objects run in parallel. */

typedef struct _eprj_MapProjection Eprj_MapProjection;
typedef struct _eprj_ProjectionPair Eprj_ProjectionPair;

/* A set of points: count coordinates (x, y). */
typedef struct {
  int32_t count;
  Eprj_Coordinate *points; /* heap block of count points (null when count is 0) */
} Eprj_Points;

/* Where a grid line meets a frame: the point (data coordinates) and the angle (radians,
   counter-clockwise from the data x axis) of the grid's y direction there. */
typedef struct {
  double x;
  double y;
  double angle;
} Eprj_Intersect;

/* A set of intersections: count pointers, each to an intersection owned by the set. */
typedef struct {
  int32_t count;
  Eprj_Intersect **intersects;
} Eprj_IntersectPtr;

/* A projection made from a copy of the parameters; null with a report naming the projection when
   PROJ cannot express it. `init` may be null. */
Eprj_MapProjection *eprj_ProjectionInit(Eint_InitToolkitData *init,
                                        const Eprj_ProParameters *parameters,
                                        Eerr_ErrorReport **err);
/* Ends the use of the projection's PROJ state (its context and objects are released; they are
   made again when the projection is used later). Null is accepted. */
void eprj_ProjectionQuit(Eprj_MapProjection *projection);
/* Frees *projection (quitting it first) and nulls the pointer; null and *null are accepted. */
void eprj_ProjectionFree(Eprj_MapProjection **projection);
/* The record of the class named: "Eprj_ProParameters" gives the projection's parameters (owned by
   the projection: copy them to keep them past eprj_ProjectionFree). Null for any other class or a
   null projection. */
Eprj_ProParameters *eprj_MapProjectionCSRGet(const Eprj_MapProjection *projection,
                                             const char *className);
/* The projection's PROJ definition as a new UTF-16 string (emsc heap, terminated), e.g.
   u"+proj=utm +zone=11 +ellps=WGS84 +units=m +no_defs +type=crs"; null with a report. */
char16_t *eprj_MapProjectionToUNICODE(const Eprj_MapProjection *projection,
                                      Eerr_ErrorReport **err);

/* Non-zero when the two describe the same projection. With both parameter records: their PROJ
   definitions are equal (when PROJ can express both; otherwise eprj_ProParametersEqual decides).
   With exactly one: not equal. With neither: the projection names of the two map informations
   are equal without regard to case (a missing map information or name counts as "Unknown").
   The map informations' grids and units do not take part. */
int32_t eprj_ProjectionsEqual(const Eprj_MapInfo *infoA, const Eprj_ProParameters *parametersA,
                              const Eprj_MapInfo *infoB, const Eprj_ProParameters *parametersB,
                              Eerr_ErrorReport **err);

/* Projection pairs: reprojection from a source to a destination projection, in native units.
   eprj_ProjectionPairCreate makes an empty pair and remembers it for the calling thread; the next
   eprj_ProjectionPairInit on that thread fills that very pair and returns it (so Create followed
   by Init yields one pair, to be freed once). Init without a pending pair makes a new one. A
   pending pair stops being pending when it is initialised or freed, or by another Create.
   An empty pair is reported wherever a pair is used. */
Eprj_ProjectionPair *eprj_ProjectionPairCreate(Eerr_ErrorReport **err);
Eprj_ProjectionPair *eprj_ProjectionPairInit(Eint_InitToolkitData *init,
                                             const Eprj_ProParameters *source,
                                             const Eprj_ProParameters *destination,
                                             Eerr_ErrorReport **err);
/* Frees *pair and nulls the pointer; null and *null are accepted. */
void eprj_ProjectionPairFree(Eprj_ProjectionPair **pair);
/* A new pair of the same two projections (its PROJ state is made when first used). */
Eprj_ProjectionPair *eprj_ProjectionPairCopy(const Eprj_ProjectionPair *pair,
                                             Eerr_ErrorReport **err);
/* The source (which 0) or destination (which 1) parameters of an initialised pair (owned by the
   pair), or null. */
const Eprj_ProParameters *eprj_ProjectionPairParameters(const Eprj_ProjectionPair *pair,
                                                        int32_t which);
/* The native units of the source (0) or destination (1): "dd" or "meters"; null for an empty
   pair. */
const char *eprj_ProjectionPairUnits(const Eprj_ProjectionPair *pair, int32_t which);
/* Reprojects count points stored x0, y0, x1, y1, ... in place, from source to destination, or
   the other way with a non-zero `inverse`. All or nothing: 0, or -1 with a report (and the
   points unchanged) when the pair is empty or a point cannot be transformed. */
int32_t eprj_ProjectionPairTransform(Eprj_ProjectionPair *pair, int32_t inverse, int32_t count,
                                     double *xy, Eerr_ErrorReport **err);

/* Point sets: count zero points; null with a report (negative count, no memory). */
Eprj_Points *eprj_PointsCreate(int32_t count, Eerr_ErrorReport **err);
/* Frees *points and nulls the pointer; null and *null are accepted. */
void eprj_PointsFree(Eprj_Points **points);
/* Reprojects the points `in`, given in fromUnits in projection `from`, into toUnits in projection
   `to` (a null units name means the projection's native units). The result goes into `out`,
   which is resized to in's count and returned (it may be `in`), or into a new set when out is
   null. The pair between the two projections is kept by `from` for the next call. Null with a
   report (and out unchanged) when a unit cannot be converted or a point cannot be
   transformed. */
Eprj_Points *eprj_ProjectWithUnits(const char *fromUnits, Eprj_MapProjection *from,
                                   const char *toUnits, Eprj_MapProjection *to,
                                   const Eprj_Points *in, Eprj_Points *out,
                                   Eerr_ErrorReport **err);

/* Frame intersections of a grid line. The frame is the quadrilateral of the four corners
   (a 2 x 4 f64 matrix, corners in columns, in order around the frame) in data coordinates:
   projection `mapProjection`, units frameUnits. The grid is projection `gridProjection` in units
   gridUnits. eprj_IntersectXcoordWithFrame finds where the line x = value of the grid meets the
   frame's sides, eprj_IntersectYcoordWithFrame the line y = value; the points come in order along
   the line (increasing grid y for an x line, increasing grid x for a y line), a point on a corner
   once. Each carries the angle, in data coordinates, of the grid's y direction at the point: for
   an x line the direction of the line itself; for a y line the direction that crosses it (the
   line's own direction plus pi/2 in a conformal grid). Parts of the frame where the grid
   projection is not defined are passed over. Returns a new set (count 0 when the line misses the
   frame), or null with a report. */
Eprj_IntersectPtr *eprj_IntersectXcoordWithFrame(const char *frameUnits,
                                                 Eprj_MapProjection *mapProjection,
                                                 const Egda_BaseData *corners,
                                                 const char *gridUnits,
                                                 Eprj_MapProjection *gridProjection, double value,
                                                 Eerr_ErrorReport **err);
Eprj_IntersectPtr *eprj_IntersectYcoordWithFrame(const char *frameUnits,
                                                 Eprj_MapProjection *mapProjection,
                                                 const Egda_BaseData *corners,
                                                 const char *gridUnits,
                                                 Eprj_MapProjection *gridProjection, double value,
                                                 Eerr_ErrorReport **err);
/* A new intersection; null with a report when out of memory. */
Eprj_Intersect *eprj_IntersectCreate(double x, double y, double angle, Eerr_ErrorReport **err);
/* A new set of count intersections, each a new zero record; null with a report. */
Eprj_IntersectPtr *eprj_IntersectPtrCreate(int32_t count, Eerr_ErrorReport **err);
/* Frees *set with its intersections and nulls the pointer; null and *null are accepted. */
void eprj_IntersectPtrFree(Eprj_IntersectPtr **set);

/* The angle (radians, counter-clockwise from the x axis) of north at a point, in the map
   coordinates of projection a: the point (the first column of a 2 x N f64 matrix) is given in
   a's native units; north is the direction in which the y coordinate of projection b grows (true
   north when b is geographic, grid north of b otherwise). 0 with the angle in *angle, or -1 with
   a report. */
int32_t eprj_ComputeNorthAngleFromXAxis(const Egda_BaseData *point, const Eprj_ProParameters *a,
                                        const Eprj_ProParameters *b, double *angle,
                                        Eerr_ErrorReport **err);

/* A longitude difference brought into [-pi, pi] (radians); values already inside are returned
   as they are. A value that is not finite is returned with a report. */
double eprj_Adjl(double x, Eerr_ErrorReport **err);

TAVIRON_END_DECLS

/* ---------------------------------------------------------------------------------------------
   Stored designs, the projection package, and map-information and projection nodes of
   hierarchical files */

#include "ehfa.h"
#include "emif.h"

TAVIRON_BEGIN_DECLS

/* Designs of the records above (items by field name, type codes of emif):
     "Eprj_Coordinate"    x 14, y 14
     "Eprj_Size"          width 14, height 14
     "Eprj_MapInfo"       proName 520, upperLeftCenter 1026 "Eprj_Coordinate",
                          lowerRightCenter 1026 "Eprj_Coordinate", pixelSize 1026 "Eprj_Size",
                          units 520
     "Eprj_Datum"         datumname 520, type 3 (EPRJ_DATUM_PARAMETRIC, EPRJ_DATUM_GRID,
                          EPRJ_DATUM_NONE), params 526, gridname 520
     "Eprj_Spheroid"      sphereName 520, a 14, b 14, eSquared 14, radius 14,
                          datum 2 "Eprj_Datum"
     "Eprj_ProParameters" proType 12, proNumber 12, proName 520, proZone 12, proParams 526,
                          proSpheroid 2 "Eprj_Spheroid"
   Each define operation defines its design, and the designs it nests first, in the dictionary
   and returns it; designs the dictionary holds already are reused. Null with a report on failure
   (a null dictionary, a design of one of these names with another layout). */
Emif_Design *eprj_MapInfoDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eprj_ProParametersDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);

/* The projection package's data, kept in word 1 of the toolkit record; its first word is the
   package's design dictionary. */
typedef struct {
  Emif_Dictionary *dictionary; /* every design above */
} Eprj_PackageData;

/* Initialises the projection package in the toolkit record: its data (Eprj_PackageData) goes
   to init->projectionData with the function that frees it (eint_DeInit calls it). A record
   whose package is initialised already is left as it is. 0, or -1 with a report (null record,
   failed allocation; the record is then left without projection data). */
int32_t eprj_Init(Eint_InitToolkitData *init, Eerr_ErrorReport **err);

/* Nodes of hierarchical files. Map information is stored as the node "Map_Info" (design
   "Eprj_MapInfo"), projection parameters as the node "Projection" (design
   "Eprj_ProParameters"), each a child of the entry it belongs to. The designs go into the
   file's dictionary as the records are written. */
#define EPRJ_MAPINFO_NODE "Map_Info"
#define EPRJ_PROPARAMETERS_NODE "Projection"

/* Writes the record as the node below the entry at path (null: the current entry), rewriting
   the node when that entry has one already. The written node becomes the current entry (the
   caller returns to the parent); after a failure the current entry is where it was. 0, or -1
   with a report. */
int32_t eprj_MapInfoWrite(Ehfa_File *file, const char *path, const Eprj_MapInfo *info,
                          Eerr_ErrorReport **err);
int32_t eprj_ProParametersWrite(Ehfa_File *file, const char *path,
                                const Eprj_ProParameters *parameters, Eerr_ErrorReport **err);
/* Reads the node below the entry at path (null: the current entry) into record (its old
   contents freed and replaced) or, when record is null, into a new record, and returns it. The
   node becomes the current entry. A missing node or a corrupt record gives a report and null:
   the current entry and a given record are then left as they were. reserved: pass 0. */
Eprj_MapInfo *eprj_MapInfoRead(Ehfa_File *file, const char *path, Eprj_MapInfo *info,
                               int32_t reserved, Eerr_ErrorReport **err);
Eprj_ProParameters *eprj_ProParametersRead(Ehfa_File *file, const char *path,
                                           Eprj_ProParameters *parameters, int32_t reserved,
                                           Eerr_ErrorReport **err);
/* The forms for a record kept right after the current entry in file order: WriteSimple writes
   the projection node below the current entry as eprj_ProParametersWrite does (its first child
   when the entry has no children yet, so that it follows the entry in file order) but leaves the
   current entry where it was, so that a caller's return to the parent is the same with or
   without the node. ReadSimple reads the current entry's projection node, which then becomes the
   current entry (a sequential reader goes on from there); without one it returns null and
   nothing moves. No report: WriteSimple returns 0, or -1 on failure; ReadSimple returns a new
   record (free with eprj_ProParametersFree) or null. reserved: pass 0. */
int32_t eprj_ProParametersWriteSimple(Ehfa_File *file, int32_t reserved,
                                      const Eprj_ProParameters *parameters);
Eprj_ProParameters *eprj_ProParametersReadSimple(Ehfa_File *file, int32_t reserved);

TAVIRON_END_DECLS

#endif

/* Coordinate transforms: composable, invertible mappings of 2-D points.

   A transform is a chain of steps applied in order; a chain without steps is the identity.
   Steps are affine (x' = a x + b y + c, y' = d x + e y + f), polynomial (a 2-D polynomial of any
   order, with an explicit inverse polynomial when one is known) or a reprojection (a projection
   pair of eprj, applied from its source to its destination projection or, once inverted, back,
   in the native units of the two: meters, or decimal degrees for geographic coordinates; see
   eprj.h). Adjacent affine steps are merged,
   and an affine step that is exactly the identity is dropped, so equal mappings built in different
   ways compare equal. A null transform is accepted wherever a transform is read and means the
   identity. */
#ifndef TAVIRON_EXFR_H
#define TAVIRON_EXFR_H

#include <stdint.h>
#include <stdio.h>

#include "eerr.h"
#include "efga.h"
#include "eprj.h"
#include "egda.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

typedef struct _exfr_XForm _exfr_XForm;

/* The identity; null when out of memory. */
_exfr_XForm *exfr_XFormNew(void);
_exfr_XForm *exfr_XFormCreateUnity(void);
/* A transform applying the 2-D polynomial (any order; a first-order one becomes an affine step).
   `reserved` is 0. A first-order polynomial with 2 outputs whose term count is that of a 2-D
   polynomial of order k (5, 9, 14, ...) is read as that polynomial (the term lists of the text
   form, see exfr_XFormPrint). */
_exfr_XForm *exfr_XFormCreate(const Efga_Polynomial *poly, int32_t reserved, Eerr_ErrorReport **err);
/* A transform applying a first-order 2-D polynomial; other polynomials are reported. */
_exfr_XForm *exfr_XFormCreateFromAffinePoly(const Efga_Polynomial *poly, Eerr_ErrorReport **err);
/* x' = a x + b y + c, y' = d x + e y + f. */
_exfr_XForm *exfr_XFormCreateUsingCoeffs(double a, double b, double c, double d, double e,
                                         double f, Eerr_ErrorReport **err);
/* A transform applying forward, whose inverse applies reverse (null: none known; a first-order
   forward is then inverted exactly). */
/* From map information: direction 1 maps map coordinates to pixel coordinates (column, row of
   pixel centres), 0 pixel to map. */
_exfr_XForm *exfr_XFormCreateFromMapInfo(const Eprj_MapInfo *info, int32_t direction,
                                         Eerr_ErrorReport **err);
/* Reprojection from the pair's source to its destination projection, in their native units. The
   transform keeps a copy of the pair; null with a report for a null or empty pair. */
_exfr_XForm *exfr_XFormCreateFromProjPair(const Eprj_ProjectionPair *pair, Eerr_ErrorReport **err);
/* The same between units: points in fromUnits (null: the units of `info` when given, else the
   source's native units) are converted to the source's native units, reprojected, and converted
   from the destination's native units to toUnits (null: left native). `info` (may be null) only
   supplies the default source units. */
_exfr_XForm *exfr_XFormCreateFromProjPairAndMapInfo(const Eprj_ProjectionPair *pair,
                                                    const Eprj_MapInfo *info,
                                                    const char *fromUnits, const char *toUnits,
                                                    Eerr_ErrorReport **err);
/* From the source projection's map coordinates (native units) to the pixel coordinates (column,
   row of pixel centres) of the grid `info` describes: reprojection to the destination projection,
   conversion from its native units to the units of `info`, then map to pixel. Without a pair:
   from map coordinates in the grid's own projection and units (exfr_XFormCreateFromMapInfo with
   direction 1). `option` and `reserved` are accepted and not used. */
_exfr_XForm *exfr_XFormCreateReprojFromProjPair(const Eprj_ProjectionPair *pair,
                                                const Eprj_MapInfo *info, int32_t option,
                                                int32_t reserved, Eerr_ErrorReport **err);
/* Scaling from one named unit to another (ecvt); units of another kind than "other" that cannot
   be converted are reported. */
_exfr_XForm *exfr_XFormCreateFromUnits(const char *fromUnits, const char *toUnits,
                                       Eerr_ErrorReport **err);
_exfr_XForm *exfr_XFormCreateFromPolyPair(const Efga_Polynomial *forward,
                                          const Efga_Polynomial *reverse, Eerr_ErrorReport **err);
/* Appends a translation by (dx, dy) to the transform (changed in place and returned) or, when it
   is null, returns a new translation. */
_exfr_XForm *exfr_XFormTranslate(_exfr_XForm *xform, double dx, double dy, Eerr_ErrorReport **err);

/* The transform applying b first, then a; written into result (its old steps replaced; it may be
   a or b) or a new transform. */
_exfr_XForm *exfr_XFormCompose(const _exfr_XForm *a, const _exfr_XForm *b, _exfr_XForm *result,
                               Eerr_ErrorReport **err);
/* A new transform applying first, then second. */
_exfr_XForm *exfr_XFormComposition(const _exfr_XForm *first, const _exfr_XForm *second,
                                   Eerr_ErrorReport **err);
/* The inverse, written into destination (may be xform itself) or a new transform. A singular
   affine step or a polynomial step of order above 1 without an explicit inverse is reported; a
   reprojection step is inverted by running its pair the other way. */
_exfr_XForm *exfr_XFormInvert(const _exfr_XForm *xform, _exfr_XForm *destination,
                              Eerr_ErrorReport **err);
/* A copy, written into destination or a new transform. */
_exfr_XForm *exfr_XFormCopy(const _exfr_XForm *xform, _exfr_XForm *destination,
                            Eerr_ErrorReport **err);
/* Frees *xform and nulls it; a null address or null transform is accepted. */
void exfr_XFormFree(_exfr_XForm **xform, Eerr_ErrorReport **err);
/* Non-zero when a and b consist of the same steps with the same coefficients (reprojection
   steps: the same direction between equal parameter records, eprj_ProParametersEqual). */
int32_t exfr_XFormIsSame(const _exfr_XForm *a, const _exfr_XForm *b, Eerr_ErrorReport **err);
/* Non-zero when the transform is affine (every step affine or a first-order polynomial); then the
   six coefficients a, b, c, d, e, f of the whole mapping are stored in coefficients. */
int32_t exfr_XFormAffineExtractIfPresent(const _exfr_XForm *xform, double coefficients[6],
                                         Eerr_ErrorReport **err);
/* Angle (radians, counter-clockwise) by which the transform turns the x axis: for an affine
   transform atan2(d, a); otherwise measured from the images of (0, 0) and (1, 0). */
double exfr_XFormFindRotationAngle(const _exfr_XForm *xform, Eerr_ErrorReport **err);

/* Transforms the 2 x N f64 points of source into target: null makes a new 2 x N matrix; target
   may be source (in place); otherwise it must be f64 with 2 rows and at least N columns (the
   first N are written). Returns the target. */
Egda_BaseData *exfr_Transform(const _exfr_XForm *xform, const Egda_BaseData *source,
                              Egda_BaseData *target, Eerr_ErrorReport **err);
/* The same for the first n points of source (target null: a new 2 x n matrix). */
Egda_BaseData *exfr_TransformN(const _exfr_XForm *xform, const Egda_BaseData *source,
                               Egda_BaseData *target, int32_t n, Eerr_ErrorReport **err);
/* Transforms every part of the block into target (null: a new block; may be source; otherwise
   its parts are reshaped to the source's as efga_CoordBlockCopy does). Returns the target. */
Efga_CoordinateBlock *exfr_CoordBlockTransform(const _exfr_XForm *xform,
                                               const Efga_CoordinateBlock *source,
                                               Efga_CoordinateBlock *target,
                                               Eerr_ErrorReport **err);
/* The polynomial of "poly, then the transform": a new polynomial. When the transform is affine it
   is the exact composition (of poly's order). Otherwise it is the first-order polynomial with
   constant T(poly(0, 0)) whose linear columns are the differences
   (T(poly(du, 0)) - T(poly(0, 0))) / du and (T(poly(0, dv)) - T(poly(0, 0))) / dv: the local scale
   and turn of the transform at the polynomial's origin, measured over steps du, dv of the
   polynomial's own frame (callers pass 1, 1). poly must be a 2-D polynomial; du, dv non-zero. */
Efga_Polynomial *exfr_TransformObjectPoly(const _exfr_XForm *xform, const Efga_Polynomial *poly,
                                          double du, double dv, Eerr_ErrorReport **err);

/* Writes the transform as the statements of a composition file's TRANSFORM block, each line
   indented by `indent` columns (tabs of 8, then blanks), to stream (null: standard output through
   the layer's print sink). The caller writes "TRANSFORM {" and "};" around them. Grammar:

     statements := statement { statement }
     statement  := "IDENTITY" ";"
                 | "AFFINE" number [","] number [","] number [","] number [","] number [","] number ";"
                 | "POLYPAIR" "{" "TERMCOUNT" INTEGER ";" "FORWARD" { number } ";"
                                  "REVERSE" { number } ";" "}"
                 | "PROJPAIR" "{" "INPUT" "{" projection "}" "OUTPUT" "{" projection "}" "}"
     projection := ( "PROTYPE" "I" INTEGER | "PROTYPE" "X" | "PROTYPE" "\"UNKNOWN\"" ) ";"
                   [ "PRONAME" STRING ";" ] "ZONE" INTEGER ";"
                   [ "SPHEROID" STRING ";" [ "DATUM" STRING ";" ] ]
                   "PARAMETERS" INTEGER { number } ";"
     STRING     := a double-quoted text, '"' and '\' escaped by a backslash
     number     := [ "-" ] ( INTEGER | FLOAT )       (written with "%.17g": exact round trip;
                                                      a FLOAT may carry an exponent "e-05")

   The statements apply in the order written. A chain without steps is written "IDENTITY ;";
   an affine step "AFFINE a, b, c, d, e, f ;". A polynomial step of order k is written as
   POLYPAIR with TERMCOUNT n = (k + 1)(k + 2) / 2 - 1 and, for FORWARD and REVERSE, 2 (n + 1)
   numbers: the n coefficients of x' (terms x, y, x^2, xy, y^2, ...), its constant, the n
   coefficients of y', its constant. A step without an explicit inverse has an empty REVERSE
   list. A reprojection step is written as PROJPAIR with the projection it starts from as INPUT
   and the one it ends in as OUTPUT (type, name, zone, spheroid and datum names, parameters in
   radians as the record holds them; the spheroid and datum are read back by name). Coefficients
   that are not finite have no text form (they print as "nan"/"inf" and do
   not read back). Returns 0, or -1 when the stream could not be written. */
int32_t exfr_XFormPrint(FILE *stream, int32_t indent, const _exfr_XForm *xform);

TAVIRON_END_DECLS

/* ---------------------------------------------------------------------------------------------
   Transforms in hierarchical files */

#include "ehfa.h"

TAVIRON_BEGIN_DECLS

/* A transform is stored as the node "XForm" of design "Exfr_XForm" {present 3 (EMSC_FALSE,
   EMSC_TRUE), stepCount 12} below the entry it belongs to, with one child per step, "Step_1",
   "Step_2", ... in the order the steps apply, each of the design of its kind:
     "Exfr_AffineStep"     coefficients 270 (6 doubles: a, b, c, d, e, f)
     "Exfr_PolynomialStep" forward 1026 "Efga_Polynomial", reverse 1026 "Efga_Polynomial"
                           (the inverse, absent when none is known)
   A null transform is stored as present = EMSC_FALSE without steps. */
#define EXFR_XFORM_NODE "XForm"

/* Writes the transform (null: none) as the "XForm" node below the entry at path (null: the
   current entry), replacing the node that entry holds already. The node written becomes the
   current entry; after a failure the current entry and the old node are as they were. 0, or -1
   with a report (a step of a kind that has no stored form among them). */
int32_t exfr_XFormWrite(Ehfa_File *file, const char *path, const _exfr_XForm *xform,
                        Eerr_ErrorReport **err);
/* Reads the "XForm" node below the entry at path (null: the current entry) and returns the
   transform, or null without a report when the node holds none; the node becomes the current
   entry. A missing node, a missing or unknown step, or a corrupt record gives a report and null
   (the current entry is then where it was). */
_exfr_XForm *exfr_XFormRead(Ehfa_File *file, const char *path, Eerr_ErrorReport **err);

TAVIRON_END_DECLS

#endif

/* An annotation layer drawn end to end: a small map made of annotation elements (a lake, a park
   with a pond cut out of it, a river, a road and a dashed trail, wells, a village that is one
   group of three houses and a lane, and text labels) styled from the layer's own style library, written to an
   annotation layer file, closed, opened again and drawn into a PNG file. The picture drawn before
   writing and the one drawn from the reopened layer must be the same, pixel for pixel: the
   program fails when they differ.

   Usage: annotation_layer [output.png]   (default: annotation_layer.png; the layer is written
   beside it, as output.ovr) */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "eant.h"
#include "eerr.h"
#include "eevg.h"
#include "efga.h"
#include "egda.h"
#include "eint.h"
#include "ellm.h"
#include "example_image.h"

/* The map is WIDTH x HEIGHT meters, drawn one pixel a meter. */
#define WIDTH 640
#define HEIGHT 480

static int Check(Eerr_ErrorReport **err, const char *what) {
  if (!*err) return 1;
  fprintf(stderr, "annotation_layer: %s failed\n", what);
  eerr_PrintErrorReport(*err, 1, NULL);
  eerr_DeleteErrorReportEx(err);
  return 0;
}

/* ---- the style library ---- */

/* The numbers of the layer's styles. */
typedef struct {
  int32_t water, shore, river, grass, roof, wall, road, trail, well, lane, label, title;
} Styles;

static int32_t Color(Eant_StyleLibrary *library, int red, int green, int blue, Eerr_ErrorReport **err) {
  Eant_Color *color = eant_ColorSetValues(NULL, NULL, NULL, err, EANT_KEY_RGB, red, green, blue, 0);
  return color ? eant_ColorAddToLibrary(color, library, 0, err) : 0;
}

/* A line style of one line of the width (meters) and colour, dashed when dash is above 0. */
static int32_t Line(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, const char *name, double width,
                    int32_t color, double dash, Eerr_ErrorReport **err) {
  Eant_LineStyle *style =
      dash > 0 ? eant_LineStyleSetValues(toolkit, library, NULL, err, EANT_KEY_STYLENAME, name, EANT_KEY_STYLEUNITS,
                                         EEVG_MAP, "meters", EANT_KEY_OVERLINE, 0, width, color, EANT_KEY_LINEPATTERN,
                                         0, dash, dash, 0)
               : eant_LineStyleSetValues(toolkit, library, NULL, err, EANT_KEY_STYLENAME, name, EANT_KEY_STYLEUNITS,
                                         EEVG_MAP, "meters", EANT_KEY_OVERLINE, 0, width, color, 0);
  return style ? eant_LineStyleAddToLibrary(style, library, 0, err) : 0;
}

/* A solid fill of the colour, outlined with the line style (none when outline is below 0). */
static int32_t Fill(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, const char *name, int32_t color,
                    int32_t outline, Eerr_ErrorReport **err) {
  Eant_FillStyle *style =
      outline >= 0 ? eant_FillStyleSetValues(toolkit, library, NULL, err, EANT_KEY_STYLENAME, name, EANT_KEY_FILL, 1,
                                             color, EANT_KEY_TRACE, 1, outline, 0)
                   : eant_FillStyleSetValues(toolkit, library, NULL, err, EANT_KEY_STYLENAME, name, EANT_KEY_FILL, 1,
                                             color, 0);
  return style ? eant_FillStyleAddToLibrary(style, library, 0, err) : 0;
}

/* A text style of the font (a face of the font list) filled with the fill style. */
static int32_t TextStyle(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, const char *name, const char *font,
                         int32_t fill, Eerr_ErrorReport **err) {
  Eant_TextStyle *style = *err ? NULL
                               : eant_TextStyleSetValues(toolkit, library, NULL, err, EANT_KEY_STYLENAME, name,
                                                         EANT_KEY_FONTNAME, font, EANT_KEY_TEXTFILL, fill, 0);
  return style ? eant_TextStyleAddToLibrary(style, library, 0, err) : 0;
}

static int MakeStyles(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, Styles *styles,
                      Eerr_ErrorReport **err) {
  const int32_t blue = Color(library, 70, 130, 210, err), navy = Color(library, 20, 50, 120, err);
  const int32_t green = Color(library, 130, 195, 110, err), brick = Color(library, 190, 70, 50, err);
  const int32_t grey = Color(library, 90, 90, 90, err), black = Color(library, 0, 0, 0, err);
  const int32_t red = Color(library, 220, 30, 30, err), sand = Color(library, 200, 170, 110, err);
  if (!Check(err, "the colours")) return 0;
  styles->shore = Line(toolkit, library, "Shore", 2, navy, 0, err);
  styles->river = Line(toolkit, library, "River", 6, blue, 0, err);
  styles->road = Line(toolkit, library, "Road", 10, grey, 0, err);
  styles->trail = Line(toolkit, library, "Trail", 2, black, 8, err);
  styles->well = Line(toolkit, library, "Well", 9, red, 0, err);
  styles->lane = Line(toolkit, library, "Lane", 4, sand, 0, err);
  styles->wall = Line(toolkit, library, "Wall", 1, black, 0, err);
  if (!Check(err, "the line styles")) return 0;
  styles->water = Fill(toolkit, library, "Water", blue, styles->shore, err);
  styles->grass = Fill(toolkit, library, "Grass", green, -1, err);
  styles->roof = Fill(toolkit, library, "Roof", brick, styles->wall, err);
  if (!Check(err, "the fill styles")) return 0;
  styles->label = TextStyle(toolkit, library, "Label", "DejaVuSans", Fill(toolkit, library, "Ink", navy, -1, err), err);
  styles->title = TextStyle(toolkit, library, "Title", "DejaVuSerif-Bold", Fill(toolkit, library, "Dark", black, -1, err), err);
  return Check(err, "the text styles");
}

/* ---- the elements ---- */

/* A block of parts; counts[i] points of part i from xy (x0, y0, x1, y1, ...). */
static Efga_CoordinateBlock *Coordinates(const double *xy, const int *counts, int parts, Eerr_ErrorReport **err) {
  Efga_CoordinateBlock *block = efga_CoordBlockPtrCreate(parts, err);
  int p, i;
  if (!block) return NULL;
  for (p = 0; p < parts; ++p) {
    Egda_BaseData *part = egda_BaseDataCreate(2, counts[p], EGDA_TYPE_F64, EGDA_MATRIX, NULL, err);
    if (!part) {
      efga_CoordBlockDelete(block, NULL);
      return NULL;
    }
    for (i = 0; i < counts[p]; ++i) {
      double *column = (double *)(part->origin + (size_t)i * (size_t)part->pitch);
      column[0] = *xy++;
      column[1] = *xy++;
    }
    block->parts[p] = part;
  }
  return block;
}

/* One element of the type whose factory and keywords are given: the coordinates and the style. */
typedef Eant_Element *(*Factory)(Eant_AnnotationInfo *, Eant_Element *, Eant_CoordSysConversion *,
                                 Eerr_ErrorReport **, ...);
static Eant_Element *Shape(Eant_AnnotationInfo *info, Eant_CoordSysConversion *conversion, Factory factory,
                           int32_t coordsKeyword, int32_t styleKeyword, int32_t style, const char *name,
                           const double *xy, const int *counts, int parts, Eerr_ErrorReport **err) {
  Eant_Element *element = NULL;
  Efga_CoordinateBlock *block = Coordinates(xy, counts, parts, err);
  if (block)
    element = factory(info, NULL, conversion, err, EANT_ELEMKEY_NAME, name, coordsKeyword, EANT_LOCAL, block,
                      styleKeyword, style, EANT_ELEMKEY_END);
  efga_CoordBlockDelete(block, NULL);
  return element;
}

/* A text centred on (x, y), turned by angle (radians) and height meters high. */
static Eant_Element *Label(Eant_AnnotationInfo *info, Eant_CoordSysConversion *conversion, int32_t style,
                           const char *text, double x, double y, double angle, double height,
                           Eerr_ErrorReport **err) {
  if (*err) return NULL;
  return eant_TextElementSetValues(info, NULL, conversion, err, EANT_ELEMKEY_NAME, text, EANT_ELEMKEY_SCALEUNITS,
                                   EEVG_MAP, "meters", EANT_ELEMKEY_POSITIONUNITS, EEVG_MAP, "meters",
                                   EANT_ELEMKEY_TEXT, EANT_LOCAL, text, EANT_ELEMKEY_TEXTSTYLE, style,
                                   EANT_ELEMKEY_TEXTALIGNMENT, EEVG_XCENTER, EEVG_YCENTER, EANT_ELEMKEY_TEXTORIGIN, x,
                                   y, EANT_ELEMKEY_TEXTORIENTATION, angle, EANT_ELEMKEY_TEXTSCALE, height,
                                   EANT_ELEMKEY_END);
}

static void Append(Eant_Element **list, Eant_Element *element) {
  if (element) *list = (Eant_Element *)ellm_Add(*list, ELLM_APPEND, element);
}

static int MakeElements(Eant_AnnotationInfo *info, Eant_CoordSysConversion *conversion, const Styles *styles,
                        Eerr_ErrorReport **err) {
  static const double lake[] = {90, 300, 150, 270, 230, 285, 265, 340, 240, 410, 160, 430, 95, 395, 75, 345};
  static const int lakeCounts[] = {8};
  /* The park and, as a second ring, the pond: the pond is left out of the fill. */
  static const double park[] = {380, 40, 610, 40, 610, 210, 380, 210, 450, 90, 530, 90, 530, 150, 450, 150};
  static const int parkCounts[] = {4, 4};
  static const double river[] = {250, 300, 300, 240, 360, 235, 430, 265, 520, 330, 639, 350};
  static const int riverCounts[] = {6};
  static const double road[] = {0, 120, 200, 150, 360, 190, 639, 250};
  static const int roadCounts[] = {4};
  static const double trail[] = {40, 20, 120, 60, 200, 40, 300, 90, 380, 125};
  static const int trailCounts[] = {5};
  static const double wells[] = {110, 200, 170, 215, 300, 60, 560, 420};
  static const int wellCounts[] = {4};
  static const double lane[] = {330, 350, 360, 390, 420, 400, 470, 440};
  static const int laneCounts[] = {4};
  static const double houses[3][8] = {{300, 360, 330, 360, 330, 390, 300, 390},
                                      {380, 410, 410, 410, 410, 440, 380, 440},
                                      {430, 350, 470, 350, 470, 380, 430, 380}};
  static const int houseCounts[] = {4};
  Eant_Element *village = NULL, *children = NULL;
  Eant_Style laneStyle;
  int i;

  /* Drawn in list order: the park and the lake first, the road over the river. */
  Append(&info->elements, Shape(info, conversion, eant_PolygonElementSetValues, EANT_ELEMKEY_POLYGONCOORDS,
                                EANT_ELEMKEY_FILLSTYLE, styles->grass, "Park", park, parkCounts, 2, err));
  Append(&info->elements, Shape(info, conversion, eant_PolygonElementSetValues, EANT_ELEMKEY_POLYGONCOORDS,
                                EANT_ELEMKEY_FILLSTYLE, styles->water, "Lake", lake, lakeCounts, 1, err));
  Append(&info->elements, Shape(info, conversion, eant_PolylineElementSetValues, EANT_ELEMKEY_POLYLINECOORDS,
                                EANT_ELEMKEY_LINESTYLE, styles->river, "River", river, riverCounts, 1, err));
  Append(&info->elements, Shape(info, conversion, eant_PolylineElementSetValues, EANT_ELEMKEY_POLYLINECOORDS,
                                EANT_ELEMKEY_LINESTYLE, styles->road, "Road", road, roadCounts, 1, err));
  Append(&info->elements, Shape(info, conversion, eant_PolylineElementSetValues, EANT_ELEMKEY_POLYLINECOORDS,
                                EANT_ELEMKEY_LINESTYLE, styles->trail, "Trail", trail, trailCounts, 1, err));
  Append(&info->elements, Shape(info, conversion, eant_PointElementSetValues, EANT_ELEMKEY_POINTCOORD,
                                EANT_ELEMKEY_LINESTYLE, styles->well, "Wells", wells, wellCounts, 1, err));
  if (!Check(err, "the elements")) return 0;

  /* The village: a lane drawn as a shore and three houses filled as water, one group. */
  Append(&children, Shape(info, conversion, eant_PolylineElementSetValues, EANT_ELEMKEY_POLYLINECOORDS,
                          EANT_ELEMKEY_LINESTYLE, styles->shore, "Lane", lane, laneCounts, 1, err));
  for (i = 0; i < 3 && !*err; ++i)
    Append(&children, Shape(info, conversion, eant_PolygonElementSetValues, EANT_ELEMKEY_POLYGONCOORDS,
                            EANT_ELEMKEY_FILLSTYLE, styles->water, "House", houses[i], houseCounts, 1, err));
  if (!Check(err, "the village")) {
    eant_ElementListFree(&children);
    return 0;
  }
  village = eant_GroupElementSetValues(info, NULL, conversion, err, EANT_ELEMKEY_NAME, "Village",
                                       EANT_ELEMKEY_CHILDREN, children, EANT_ELEMKEY_END);
  if (!Check(err, "the village group")) return 0;
  Append(&info->elements, village);
  /* A fill style set on the group reaches every house (the lane takes no fill), and a line style
     given by reference reaches the lane (the houses take no line style). */
  eant_ElementSetFillStyleAndRecalcBbox(info, village, styles->roof, conversion, err);
  if (!Check(err, "the roofs")) return 0;
  memset(&laneStyle, 0, sizeof laneStyle);
  eant_StyleSetValues(&laneStyle, NULL, "Lane", styles->lane, err);
  eant_ElementSetLineStyle(info, village, &laneStyle, err);
  eant_StyleFreeContents(&laneStyle);
  if (!Check(err, "the lane")) return 0;

  /* Texts: labels placed, sized and turned in meters (the river's follows its last stretch). */
  Append(&info->elements, Label(info, conversion, styles->label, "Lake", 160, 350, 0, 20, err));
  Append(&info->elements, Label(info, conversion, styles->label, "Park", 495, 170, 0, 22, err));
  Append(&info->elements, Label(info, conversion, styles->label, "River", 560, 350, 0.166, 16, err));
  Append(&info->elements, Label(info, conversion, styles->title, "Village", 400, 462, 0, 20, err));
  if (!Check(err, "the labels")) return 0;

  eant_ComputeAntBoundingBox(info, conversion, err);
  return Check(err, "the layer box");
}

/* ---- drawing ---- */

/* Draws the layer into the image (white first). */
static int Draw(Eevg_Control *control, Eant_AnnotationInfo *info, Eant_CoordSysConversion *conversion,
                ExampleImage *image, Eerr_ErrorReport **err) {
  Eevg_DeviceInfo *device = eevg_DeviceInfoCreate(err);
  Eevg_WorldInfo *world = device ? eevg_WorldInfoCreate(err) : NULL;
  Eevg_GrIOInfo *io = world ? eevg_GrIOInfoCreate(err) : NULL;
  Eevg_Drawing *drawing = NULL;
  int ok = 0;
  memset(image->rgb, 255, (size_t)image->width * (size_t)image->height * 3);
  if (io) {
    /* An anti-aliased callback device; the world is the map, y upward; widths in map units. */
    device->deviceType = 0;
    device->width = image->width;
    device->height = image->height;
    device->lineWidthUnit = 3;
    device->antiAlias = 1;
    device->colorMode = EEVG_TRUECOLOR;
    world->lowerLeft->x = 0;
    world->lowerLeft->y = 0;
    world->upperRight->x = image->width - 1;
    world->upperRight->y = image->height - 1;
    io->userData = image;
    io->getPixel = ExampleGetPixel;
    io->putPixel = ExamplePutPixel;
    drawing = eevg_DrawingInit(control, device, world, io, err);
  }
  if (drawing) {
    eant_AnnotationRender(info, NULL, conversion, drawing, err);
    ok = !*err;
    eevg_DrawingEnd(drawing, ok ? err : NULL);
    ok = ok && !*err;
  }
  eevg_DrawingFree(&drawing, NULL);
  eevg_WorldInfoFree(&world);
  eevg_DeviceInfoFree(&device);
  eevg_GrIOInfoFree(&io);
  return Check(err, "drawing the layer") && ok;
}

int main(int argc, char **argv) {
  const char *output = argc > 1 ? argv[1] : "annotation_layer.png";
  Eerr_ErrorReport *err = NULL;
  Eint_InitToolkitData *toolkit = NULL;
  Eevg_Control *control = NULL;
  Eant_CoordSysConversion *conversion = NULL;
  Eant_Layer *layer = NULL;
  ExampleImage before, after;
  char *layerName = NULL;
  size_t length = strlen(output);
  int ok = 0, same = 0;

  if (!ExampleImageCreate(&before, WIDTH, HEIGHT)) return 1;
  if (!ExampleImageCreate(&after, WIDTH, HEIGHT)) {
    ExampleImageFree(&before);
    return 1;
  }
  /* The layer file: the output's name with ".ovr" for ".png". */
  layerName = malloc(length + 5);
  if (layerName) {
    memcpy(layerName, output, length + 1);
    if (length > 4 && strcmp(output + length - 4, ".png") == 0) layerName[length - 4] = '\0';
    strcat(layerName, ".ovr");
  }

  /* A new layer takes its default styles from the user's preference directory (the last one of
     NORIX_PREFERENCES_PATH); without one, the output's directory serves. */
  if (!getenv("NORIX_PREFERENCES_PATH") && layerName) {
    char *slash = strrchr(layerName, '/');
    if (slash) {
      *slash = '\0';
      setenv("NORIX_PREFERENCES_PATH", slash == layerName ? "/" : layerName, 1);
      *slash = '/';
    } else {
      setenv("NORIX_PREFERENCES_PATH", ".", 1);
    }
  }
  toolkit = eint_InitToolkit(&err);
  if (toolkit) eant_Init(toolkit, &err);
  if (!err) control = eevg_Init(&err);
  /* Map units are meters; the page is the map. */
  if (!err) conversion = eant_CoordSysConversionSetValues(NULL, 1, 1, 1, 1, 0, 0, "meters", "meters", &err);
  if (layerName) remove(layerName); /* a layer left by an earlier run */
  if (!err && layerName) layer = eant_LayerNew(toolkit, control, layerName, NULL, NULL, &err);
  if (layer && Check(&err, "making the layer")) {
    Styles styles;
    ok = MakeStyles(toolkit, layer->antInfo->styleLib, &styles, &err) &&
         MakeElements(layer->antInfo, conversion, &styles, &err) &&
         Draw(control, layer->antInfo, conversion, &before, &err);
    if (ok) {
      eant_AnnotationWrite(layer, &err);
      ok = Check(&err, "writing the layer");
    }
    eant_LayerClose(layer, &err);
    ok = Check(&err, "closing the layer") && ok;
    layer = NULL;
  } else {
    Check(&err, "starting");
  }
  if (ok) {
    layer = eant_LayerOpen(toolkit, control, layerName, "r", &err);
    ok = layer && Check(&err, "opening the layer again") && Draw(control, layer->antInfo, conversion, &after, &err);
    if (layer) eant_LayerClose(layer, &err);
    ok = Check(&err, "closing the layer read back") && ok;
  }
  if (ok) {
    same = memcmp(before.rgb, after.rgb, (size_t)WIDTH * HEIGHT * 3) == 0;
    if (!same) fprintf(stderr, "annotation_layer: the layer read back draws another picture\n");
    if (!ExampleWritePng(output, &after)) {
      fprintf(stderr, "annotation_layer: cannot write %s\n", output);
      ok = 0;
    }
  }
  if (ok && same) printf("annotation_layer: wrote %s and %s (%d x %d)\n", layerName, output, WIDTH, HEIGHT);

  eant_CoordSysConversionFree(&conversion);
  eevg_Free(&control, NULL);
  if (toolkit) {
    Eant_InitData *data = (Eant_InitData *)toolkit->annotationData;
    toolkit->annotationData = NULL;
    eant_InitDataFree(&data);
    eint_DeInit();
  }
  free(layerName);
  ExampleImageFree(&before);
  ExampleImageFree(&after);
  return ok && same ? 0 : 1;
}

/* Draws filled, outlined, wide, dashed and arrowed shapes and ellipses, and text labels (plain,
   outlined, shadowed, underlined, along a curve) with the renderer onto a callback device that
   keeps an RGB image in memory, then writes the image as a PNG file. The labels use the DejaVu
   faces through the FreeType font server the build puts on the default font-server path; one
   label uses the outline-font file of DejaVu Sans that the build makes
   (DRAW_SHAPES_OUTLINE_FONT) through the outline-font engine.

   Usage: draw_shapes [output.png]   (default: draw_shapes.png) */
#define _POSIX_C_SOURCE 200809L
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "eant.h"
#include "eerr.h"
#include "eevg.h"
#include "efga.h"
#include "emsc.h"
#include "estr.h"
#include "example_image.h"

#define WIDTH 640
#define HEIGHT 560
#define PI 3.14159265358979323846

/* ---- styles and coordinates ---- */

static Eevg_Color *NewColor(int red, int green, int blue, int opacity, Eerr_ErrorReport **err) {
  Eevg_Color *color = eevg_ColorCreate(err);
  if (color) {
    color->red = red;
    color->green = green;
    color->blue = blue;
    color->opacity = opacity;
  }
  return color;
}

/* A line style of one line of the colour and width (pixels), with the line ends and the join. */
static Eevg_LineStyle *NewLine(int red, int green, int blue, double width, int ends, int join,
                               Eerr_ErrorReport **err) {
  Eevg_LineStyle *style = eevg_LineStyleCreate(err);
  if (!style) return NULL;
  if (!eevg_LineCompositionCreate(1, &style->composition, err)) {
    eevg_LineStyleFree(&style);
    return NULL;
  }
  style->composition.data[0].color = NewColor(red, green, blue, 255, err);
  style->composition.data[0].width = width;
  style->startLineEnd = style->endLineEnd = style->markEnd = ends;
  style->lineJoin = join;
  return style;
}

static Eevg_FillStyle *NewFill(int red, int green, int blue, Eevg_LineStyle *outline,
                               Eerr_ErrorReport **err) {
  Eevg_FillStyle *style = eevg_FillStyleCreate(err);
  if (!style) return NULL;
  style->pattern = eevg_FillPatternCreate(err);
  if (style->pattern) style->pattern->color = NewColor(red, green, blue, 255, err);
  style->fill = 1;
  style->traceStyle = outline;
  style->trace = outline != NULL;
  return style;
}

/* One part of count points from xy (x0, y0, x1, y1, ...). */
static Efga_CoordinateBlock *NewPart(const double *xy, int count, Eerr_ErrorReport **err) {
  Efga_CoordinateBlock *block = efga_BaseCoordBlockCreate(2, count, 1, 10, err);
  Egda_BaseData *part;
  int i;
  if (!block) return NULL;
  part = block->parts[0];
  for (i = 0; i < count; ++i) {
    double *column = (double *)(part->origin + (size_t)i * (size_t)part->pitch);
    column[0] = xy[2 * i];
    column[1] = xy[2 * i + 1];
  }
  return block;
}

static int Check(Eerr_ErrorReport **err, const char *what) {
  if (!*err) return 1;
  fprintf(stderr, "draw_shapes: %s failed\n", what);
  eerr_PrintErrorReport(*err, 1, NULL);
  eerr_DeleteErrorReportEx(err);
  return 0;
}

static int DrawLine(Eevg_Drawing *drawing, Eevg_LineStyle *style, const double *xy, int count,
                    Eerr_ErrorReport **err) {
  Efga_CoordinateBlock *block = NewPart(xy, count, err);
  if (block) eevg_DrawPolyLine(drawing, style, 0, block, err);
  efga_CoordBlockDelete(block, NULL);
  eevg_LineStyleFree(&style);
  return Check(err, "a line");
}

static int DrawShapes(Eevg_Drawing *drawing, Eerr_ErrorReport **err) {
  Eevg_LineStyle *line;
  Eevg_FillStyle *fill;
  Eevg_Coord centre;
  Efga_CoordinateBlock *block;
  double star[2 * 11];
  int i;

  /* A five-pointed star, filled orange with a dark mitred outline 3 pixels wide. */
  for (i = 0; i < 10; ++i) {
    double r = i % 2 ? 34.0 : 85.0, a = PI / 2 + i * PI / 5;
    star[2 * i] = 110 + r * cos(a);
    star[2 * i + 1] = 290 + r * sin(a);
  }
  star[20] = star[0];
  star[21] = star[1];
  fill = NewFill(250, 160, 40, NewLine(90, 40, 0, 3, EEVG_BUTT_END, EEVG_MITRE_JOIN, err), err);
  block = NewPart(star, 11, err);
  if (fill && block) eevg_DrawPolygon(drawing, fill, block, err);
  efga_CoordBlockDelete(block, NULL);
  eevg_FillStyleFree(&fill);
  if (!Check(err, "the star")) return 0;

  /* A zigzag 12 pixels wide with round joins and ends, and the same one with mitred joins and
     butt ends over a thin guide line. */
  {
    const double zig[] = {215, 220, 255, 330, 295, 230, 335, 330, 375, 220};
    const double zag[] = {405, 220, 445, 330, 485, 230, 525, 330, 565, 220};
    if (!DrawLine(drawing, NewLine(40, 90, 200, 12, EEVG_ROUND_END, EEVG_ROUND_JOIN, err), zig, 5,
                  err) ||
        !DrawLine(drawing, NewLine(30, 150, 60, 12, EEVG_BUTT_END, EEVG_MITRE_JOIN, err), zag, 5,
                  err) ||
        !DrawLine(drawing, NewLine(255, 255, 255, 0, EEVG_BUTT_END, EEVG_BUTT_JOIN, err), zag, 5,
                  err))
      return 0;
  }

  /* A dashed red line 5 pixels wide: marks of 18 and spaces of 8 pixels, square ends. */
  {
    const double run[] = {30, 170, 300, 170, 330, 120};
    line = NewLine(210, 30, 30, 5, EEVG_SQUARE_END, EEVG_BEVEL_JOIN, err);
    if (line) eevg_LinePatternSetValues(&line->pattern, 0, 18, 8, err);
    if (!DrawLine(drawing, line, run, 3, err)) return 0;
  }

  /* Arrows: a wide line with a filled head at its end, a thin one with open heads at both. */
  {
    const double wide[] = {30, 120, 150, 60, 280, 90};
    const double thin[] = {30, 30, 280, 30};
    line = NewLine(120, 40, 160, 4, EEVG_BUTT_END, EEVG_MITRE_JOIN, err);
    if (line) {
      line->endLineEnd = EEVG_ARROW_END;
      line->arrowEnd = eevg_ArrowEndCreate(err);
      eevg_ArrowEndSetValues(line->arrowEnd, 50 * PI / 180, 20 * PI / 180, 24, 1, 0, err);
    }
    if (!DrawLine(drawing, line, wide, 3, err)) return 0;
    line = NewLine(0, 0, 0, 1, EEVG_ARROW_END, EEVG_BUTT_JOIN, err);
    if (line) {
      line->arrowEnd = eevg_ArrowEndCreate(err);
      eevg_ArrowEndSetValues(line->arrowEnd, 90 * PI / 180, 25 * PI / 180, 14, 0, 1, err);
    }
    if (!DrawLine(drawing, line, thin, 2, err)) return 0;
  }

  /* A road: a wide dark casing with a narrower light line in it (one composite line; making
     the composition anew clears its lines). */
  {
    const double road[] = {360, 40, 420, 110, 520, 90, 610, 160};
    line = NewLine(60, 60, 60, 11, EEVG_ROUND_END, EEVG_ROUND_JOIN, err);
    if (line && eevg_LineCompositionCreate(2, &line->composition, err)) {
      line->composition.data[0].color = NewColor(60, 60, 60, 255, err);
      line->composition.data[0].width = 11;
      line->composition.data[1].color = NewColor(250, 230, 120, 255, err);
      line->composition.data[1].width = 6;
    }
    if (!DrawLine(drawing, line, road, 4, err)) return 0;
  }

  /* A rotated ellipse, filled light blue with a dark blue outline 3 pixels wide. */
  centre.x = 480;
  centre.y = 170;
  fill = NewFill(150, 200, 240, NewLine(20, 50, 120, 3, EEVG_BUTT_END, EEVG_BUTT_JOIN, err), err);
  if (fill) eevg_DrawEllipse(drawing, fill, &centre, 70, 30, PI / 6, err);
  eevg_FillStyleFree(&fill);
  if (!Check(err, "the ellipse")) return 0;

  /* A pie slice from 30 to 300 degrees and an open arc around it. */
  centre.x = 606;
  centre.y = 300;
  fill = NewFill(250, 220, 60, NewLine(120, 90, 0, 2, EEVG_BUTT_END, EEVG_BUTT_JOIN, err), err);
  if (fill)
    eevg_DrawEllipticalArc(drawing, fill, &centre, 24, 24, 0, PI / 6, 5 * PI / 3, EEVG_ARC_PIE,
                           err);
  eevg_FillStyleFree(&fill);
  if (!Check(err, "the pie")) return 0;
  fill = NewFill(0, 0, 0, NewLine(200, 60, 0, 3, EEVG_ROUND_END, EEVG_ROUND_JOIN, err), err);
  if (fill) {
    fill->fill = 0;
    eevg_DrawEllipticalArc(drawing, fill, &centre, 30, 30, 0, PI / 6, 5 * PI / 3, EEVG_ARC_ONLY,
                           err);
  }
  eevg_FillStyleFree(&fill);
  return Check(err, "the arc");
}

/* ---- text labels ---- */

/* A text style of the font (a font file name of the font list) and height (pixels), filled with
   the colour, left aligned on its baseline's bottom line. */
static Eevg_TextStyle *NewText(const char *font, double height, int red, int green, int blue,
                               Eerr_ErrorReport **err) {
  Eevg_TextStyle *style = eevg_TextStyleCreate(err);
  if (!style) return NULL;
  style->fontName = estr_Duplicate(font);
  style->textHeight = height;
  style->textChExt = 1;
  style->textChSpace = 1;
  style->xalign = EEVG_LEFT;
  style->yalign = EEVG_BOTTOM;
  style->charFillStyle = NewFill(red, green, blue, NULL, err);
  return style;
}

static int DrawLabel(Eevg_Drawing *drawing, Eevg_TextStyle *style, double x, double y,
                     const char *text, Eerr_ErrorReport **err) {
  Eevg_Coord at;
  at.x = x;
  at.y = y;
  if (style) eevg_DrawText(drawing, style, &at, text, err);
  eevg_TextStyleFree(&style);
  return Check(err, text);
}

static int DrawLabels(Eevg_Drawing *drawing, Eerr_ErrorReport **err) {
  Eevg_TextStyle *style;
  double curve[2 * 25];
  int i;

  /* Plain. */
  if (!DrawLabel(drawing, NewText("DejaVuSans", 30, 20, 20, 20, err), 20, 505, "Plain label", err))
    return 0;

  /* Outlined: yellow letters with a dark red outline 2 pixels wide. */
  style = NewText("DejaVuSans-Bold", 44, 250, 210, 40, err);
  if (style) {
    style->charFillStyle->trace = 1;
    style->charFillStyle->traceStyle = NewLine(150, 20, 20, 2, EEVG_BUTT_END, EEVG_MITRE_JOIN, err);
  }
  if (!DrawLabel(drawing, style, 250, 495, "Outlined", err)) return 0;

  /* Shadowed: blue serif letters over a grey shadow 3 pixels right and down. */
  style = NewText("DejaVuSerif-Bold", 36, 40, 80, 200, err);
  if (style) {
    style->shadow = 1;
    style->shadowPattern = eevg_FillPatternCreate(err);
    if (style->shadowPattern) style->shadowPattern->color = NewColor(160, 160, 160, 255, err);
    style->dropShadowX = 3;
    style->dropShadowY = -3;
  }
  if (!DrawLabel(drawing, style, 20, 440, "Shadowed", err)) return 0;

  /* Underlined, in the monospaced face, a line 2 pixels wide 4 pixels below the baseline. */
  style = NewText("DejaVuSansMono", 24, 30, 120, 60, err);
  if (style) {
    style->underline = 1;
    style->underlineStyle = NewLine(30, 120, 60, 2, EEVG_BUTT_END, EEVG_BUTT_JOIN, err);
    style->underlineDist = 4;
  }
  if (!DrawLabel(drawing, style, 250, 440, "Underlined", err)) return 0;

  /* One line of text twice, side by side: through the FreeType font server, and laid out by the
     outline-font engine from the outline-font file of the same face that the build makes with
     its otlfont tool (glyphs from the file's outline code, spaced by its kerning bumpers). The
     outline font's text height is its line height, the server's its em: 1.164 em for DejaVu. */
  if (!DrawLabel(drawing, NewText("DejaVuSans", 22, 20, 20, 20, err), 20, 388, "Server: Wavy Tokens", err))
    return 0;
  style = NewText(DRAW_SHAPES_OUTLINE_FONT, 22 * 1.164, 150, 30, 40, err);
  if (style) {
    Eevg_Coord at;
    at.x = 330;
    at.y = 388;
    eevg_DrawTextOTL(drawing, style, &at, "Outline: Wavy Tokens", err);
  }
  eevg_TextStyleFree(&style);
  if (!Check(err, "the outline-font label")) return 0;

  /* Along a curve: an arc rising and falling over the right of the band. */
  for (i = 0; i < 25; ++i) {
    double a = PI * (0.85 - 0.7 * i / 24.0);
    curve[2 * i] = 530 + 95 * cos(a);
    curve[2 * i + 1] = 420 + 95 * sin(a);
  }
  style = NewText("DejaVuSans", 18, 120, 40, 160, err);
  if (style) {
    Efga_CoordinateBlock *block = NewPart(curve, 25, err);
    style->xalign = EEVG_XCENTER;
    if (block) eevg_DrawTextOnPolyLine(drawing, style, block, "along a curved line", err);
    efga_CoordBlockDelete(block, NULL);
  }
  eevg_TextStyleFree(&style);
  return Check(err, "the curved label");
}

/* A text element of an annotation layer, drawn the way a layer draws its texts: a text style of the
   layer's style library (DejaVu Serif filled dark green) and the text placed, turned and sized in
   map units (one per pixel here), measured with the layer's measuring drawing. */
static int DrawTextElement(Eevg_Control *control, Eevg_Drawing *drawing, Eerr_ErrorReport **err) {
  Eint_InitToolkitData *toolkit = eint_InitToolkit(err);
  Eant_AnnotationInfo *info = NULL;
  Eant_CoordSysConversion *conversion = NULL;
  Eant_Element *element = NULL;
  int32_t color, fill, style;
  int ok = 0;

  if (!Check(err, "the toolkit")) return 0;
  eant_Init(toolkit, err);
  if (Check(err, "the annotation package")) info = eant_AnnotationInfoCreate(toolkit, err);
  /* The layer's own style library (a layer read from a file brings its own). */
  if (info && !info->styleLib) info->styleLib = eant_StyleLibraryCreate(err);
  if (info && Check(err, "the annotation layer"))
    conversion = eant_CoordSysConversionSetValues(NULL, 1, 1, 1, 1, 0, 0, "pixels", "pixels", err);
  if (conversion) eant_GetFakeEevgDrawing(info, control, err);
  if (conversion && Check(err, "the measuring drawing")) {
    color = eant_ColorAddToLibrary(eant_ColorSetValues(NULL, NULL, NULL, err, EANT_KEY_RGB, 20, 110, 40, 0),
                                   info->styleLib, 0, err);
    fill = eant_FillStyleAddToLibrary(
        eant_FillStyleSetValues(toolkit, info->styleLib, NULL, err, EANT_KEY_FILL, 1, color, 0), info->styleLib, 0,
        err);
    style = eant_TextStyleAddToLibrary(eant_TextStyleSetValues(toolkit, info->styleLib, NULL, err, EANT_KEY_FONTNAME,
                                                               "DejaVuSerif", EANT_KEY_TEXTFILL, fill, 0),
                                       info->styleLib, 0, err);
    if (Check(err, "the text style"))
      element = eant_TextElementSetValues(
          info, NULL, conversion, err, EANT_ELEMKEY_SCALEUNITS, EEVG_MAP, "pixels", EANT_ELEMKEY_POSITIONUNITS,
          EEVG_MAP, "pixels", EANT_ELEMKEY_UCTEXT, EANT_LOCAL, u"Text element \u2192",
          EANT_ELEMKEY_TEXTSTYLE, style, EANT_ELEMKEY_TEXTALIGNMENT, EEVG_LEFT, EEVG_BOTTOM,
          EANT_ELEMKEY_TEXTORIGIN, 425.0, 428.0, EANT_ELEMKEY_TEXTORIENTATION, 0.1, EANT_ELEMKEY_TEXTSCALE, 18.0,
          EANT_ELEMKEY_END);
  }
  if (element && Check(err, "the text element")) {
    eant_TextElementRender(toolkit, info->styleLib, NULL, NULL, drawing, element, NULL, conversion, err);
    ok = Check(err, "drawing the text element");
  } else {
    Check(err, "the text element");
  }
  eant_ElementFreeElement(&element);
  eant_CoordSysConversionFree(&conversion);
  eant_AnnotationInfoFree(&info);
  return ok;
}

int main(int argc, char **argv) {
  const char *output = argc > 1 ? argv[1] : "draw_shapes.png";
  Eerr_ErrorReport *err = NULL;
  ExampleImage image;
  Eevg_Control *control = NULL;
  Eevg_DeviceInfo *device = NULL;
  Eevg_WorldInfo *world = NULL;
  Eevg_GrIOInfo *io = NULL;
  Eevg_Drawing *drawing = NULL;
  int ok = 0;

  if (!ExampleImageCreate(&image, WIDTH, HEIGHT)) return 1;
  /* The renderer reads its font lists when it starts: those of NORIX_FONT_PATH, else the default
     list of DejaVu faces that comes with the FreeType font server (installed beside the library,
     or found in the build tree). */
  control = eevg_Init(&err);
  if (control) device = eevg_DeviceInfoCreate(&err);
  if (device) world = eevg_WorldInfoCreate(&err);
  if (world) io = eevg_GrIOInfoCreate(&err);
  if (io) {
    /* An anti-aliased callback device; world units are pixels, y upward. */
    device->deviceType = 0;
    device->width = WIDTH;
    device->height = HEIGHT;
    device->lineWidthUnit = 1;
    device->antiAlias = 1;
    device->colorMode = EEVG_TRUECOLOR;
    world->lowerLeft->x = 0;
    world->lowerLeft->y = 0;
    world->upperRight->x = WIDTH - 1;
    world->upperRight->y = HEIGHT - 1;
    io->userData = &image;
    io->getPixel = ExampleGetPixel;
    io->putPixel = ExamplePutPixel;
    drawing = eevg_DrawingInit(control, device, world, io, &err);
  }
  if (drawing && Check(&err, "setting up the drawing")) {
    ok = DrawShapes(drawing, &err) && DrawLabels(drawing, &err) && DrawTextElement(control, drawing, &err);
    eevg_DrawingEnd(drawing, &err);
    ok = Check(&err, "ending the drawing") && ok;
  } else {
    Check(&err, "setting up the drawing");
  }
  eevg_DrawingFree(&drawing, NULL);
  eevg_WorldInfoFree(&world);
  eevg_DeviceInfoFree(&device);
  eevg_GrIOInfoFree(&io);
  eevg_Free(&control, NULL);
  if (ok && !ExampleWritePng(output, &image)) {
    fprintf(stderr, "draw_shapes: cannot write %s\n", output);
    ok = 0;
  }
  if (ok) printf("draw_shapes: wrote %s (%d x %d)\n", output, WIDTH, HEIGHT);
  ExampleImageFree(&image);
  return ok ? 0 : 1;
}

/* A program built against an installed Taviron (scripts/install_test builds it with
   find_package and with pkg-config): it checks the version, starts the renderer with the
   installed default font list (no environment variable needed) and draws a text label in DejaVu
   Sans through the installed FreeType font server onto a callback device. */
#include <stdio.h>
#include <string.h>

#include "eevg.h"
#include "estr.h"
#include "taviron_version.h"

#define WIDTH 200
#define HEIGHT 60

static unsigned char pixels[HEIGHT][WIDTH];

static void PutPixel(void *user, const Eevg_Color *color, const double *position, Eerr_ErrorReport **err) {
  int x = (int)position[0], y = (int)position[1];
  (void)user;
  (void)color;
  (void)err;
  if (x >= 0 && x < WIDTH && y >= 0 && y < HEIGHT) pixels[y][x] = 1;
}

static void GetPixel(void *user, Eevg_Color *color, const double *position, Eerr_ErrorReport **err) {
  (void)user;
  (void)position;
  (void)err;
  color->red = color->green = color->blue = 255;
  color->opacity = 255;
}

static int Failed(Eerr_ErrorReport **err, const char *what) {
  if (!*err) return 0;
  fprintf(stderr, "consumer: %s failed\n", what);
  eerr_PrintErrorReportNoZAV(*err);
  eerr_DeleteErrorReportEx(err);
  return 1;
}

int main(void) {
  Eerr_ErrorReport *err = NULL;
  Eevg_Control *control;
  Eevg_DeviceInfo *device = NULL;
  Eevg_WorldInfo *world = NULL;
  Eevg_GrIOInfo *io = NULL;
  Eevg_Drawing *drawing = NULL;
  Eevg_TextStyle *style = NULL;
  Eevg_Coord at = {10, 15};
  int set = 0, x, y, ok = 0;

  if (strcmp(taviron_Version(), TAVIRON_VERSION_STRING) != 0) {
    fprintf(stderr, "consumer: library %s, headers %s\n", taviron_Version(), TAVIRON_VERSION_STRING);
    return 1;
  }
  control = eevg_Init(&err);
  if (Failed(&err, "eevg_Init")) return 1;
  device = eevg_DeviceInfoCreate(&err);
  world = eevg_WorldInfoCreate(&err);
  io = eevg_GrIOInfoCreate(&err);
  style = eevg_TextStyleCreate(&err);
  if (device && world && io && style) {
    device->width = WIDTH;
    device->height = HEIGHT;
    device->lineWidthUnit = 1;
    world->upperRight->x = WIDTH - 1;
    world->upperRight->y = HEIGHT - 1;
    io->getPixel = GetPixel;
    io->putPixel = PutPixel;
    style->fontName = estr_Duplicate("DejaVuSans");
    style->textHeight = 30;
    style->textChExt = 1;
    style->textChSpace = 1;
    style->xalign = EEVG_LEFT;
    style->yalign = EEVG_BOTTOM;
    style->charFillStyle = eevg_FillStyleCreate(&err);
    if (style->charFillStyle) {
      style->charFillStyle->fill = 1;
      style->charFillStyle->pattern = eevg_FillPatternCreate(&err);
    }
    if (style->charFillStyle && style->charFillStyle->pattern) {
      style->charFillStyle->pattern->color = eevg_ColorCreate(&err);
      drawing = eevg_DrawingInit(control, device, world, io, &err);
    }
  }
  if (drawing) {
    eevg_DrawText(drawing, style, &at, "Taviron", &err);
    if (!Failed(&err, "eevg_DrawText")) {
      eevg_DrawingEnd(drawing, &err);
      ok = !Failed(&err, "eevg_DrawingEnd");
    }
  } else {
    Failed(&err, "setting up the drawing");
  }
  for (y = 0; y < HEIGHT; ++y)
    for (x = 0; x < WIDTH; ++x) set += pixels[y][x];
  eevg_TextStyleFree(&style);
  eevg_DrawingFree(&drawing, NULL);
  eevg_WorldInfoFree(&world);
  eevg_DeviceInfoFree(&device);
  eevg_GrIOInfoFree(&io);
  eevg_Free(&control, NULL);
  if (!ok || set < 100) {
    fprintf(stderr, "consumer: the label painted %d pixels\n", set);
    return 1;
  }
  printf("consumer: Taviron %s drew a label of %d pixels\n", taviron_Version(), set);
  return 0;
}
